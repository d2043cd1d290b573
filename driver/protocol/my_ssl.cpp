/*
 * TLS during logon: the TLS request packet, the OpenSSL handshake on the
 * connection's socket, the judgement of the server's certificate, and the
 * shutdown on close.
 *
 * OpenSSL does the cryptography; the driver keeps three decisions to itself:
 * - The certificate is judged after the handshake from the verification
 *   result, so that TrustServerCertificate can let a known class of problem
 *   through with a log line while anything unknown still fails. OpenSSL's
 *   verification includes the server's name (the host connected to, or
 *   HostNameInCertificate), checked by OpenSSL's own rules; without a CA of
 *   the user's, the system's trusted certificates are the CA.
 * - The socket I/O goes through the driver's own BIO: reads wait with the
 *   connection's time-out (a peer that stops in the middle of a TLS record
 *   must not hang the application), and writes use MSG_NOSIGNAL (OpenSSL's
 *   socket BIO uses write(), which raises SIGPIPE on a dead peer).
 * - Plaintext bytes that arrived ahead of the TLS handshake are refused: they
 *   would otherwise be taken as the server's first encrypted answer.
 */
#include "protocol/my_ssl.h"

#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_logon.h"
#include "protocol/my_proto.h"

enum {
    SSL_REQUEST_FILLER = 23,        /* zero bytes after the character set */
    MAX_PACKET_SIZE_SENT = 0xFFFFFF,
    CIPHER_TEXT_SIZE = 512,
    ERROR_TEXT_SIZE = 256,
    ENTROPY_BYTES = 255,            /* one EGD answer at most; plenty as a seed */
    EGD_WAIT_MS = 5000,
    NAMES_SHOWN = 8,                /* names of a certificate a message lists */
    NAME_TEXT_MAX = 255,            /* characters shown of one name */
};

struct ctx_free { void operator()(SSL_CTX *x) const { SSL_CTX_free(x); } };
struct ssl_free { void operator()(SSL *x) const { SSL_free(x); } };
using ctx_ptr = std::unique_ptr<SSL_CTX, ctx_free>;
using ssl_ptr = std::unique_ptr<SSL, ssl_free>;

/* ============================================================ socket BIO */

/* How long a TLS read may wait for the socket: the rest of the handshake
 * while it runs, the connection's read time-out afterwards. -1 no limit. */
static int bio_wait_ms(my_connection *c)
{
    if (c->tls_deadline_ms > 0) {
        int64_t rest = c->tls_deadline_ms - monotonic_ms();
        return rest > 0 ? (int)(rest > INT32_MAX ? INT32_MAX : rest) : 0;
    }
    int ms = read_timeout_ms(c);
    return ms > 0 ? ms : -1;
}

static int bio_read(BIO *b, char *buf, int len)
{
    my_connection *c = (my_connection *)BIO_get_data(b);
    BIO_clear_retry_flags(b);
    if (!c || c->sock < 0) {
        errno = EBADF;
        return -1;
    }
    for (;;) {
        int w = net_wait(c->sock, POLLIN, bio_wait_ms(c));
        if (w == 0) {
            c->tls_timed_out = 1;
            errno = ETIMEDOUT;
            return -1;
        }
        if (w < 0)
            return -1;
        ssize_t n = recv(c->sock, buf, (size_t)(len > 0 ? len : 0), 0);
        if (n >= 0)
            return (int)n;
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
    }
}

static int bio_write(BIO *b, const char *buf, int len)
{
    my_connection *c = (my_connection *)BIO_get_data(b);
    BIO_clear_retry_flags(b);
    if (!c || c->sock < 0) {
        errno = EBADF;
        return -1;
    }
    for (;;) {
        ssize_t n = send(c->sock, buf, (size_t)(len > 0 ? len : 0), MSG_NOSIGNAL);
        if (n >= 0 || errno != EINTR)
            return (int)n;
    }
}

static long bio_ctrl(BIO *, int cmd, long, void *)
{
    /* libssl flushes after every flight; nothing is buffered here */
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

static int bio_create(BIO *b)
{
    BIO_set_init(b, 1);
    return 1;
}

static int bio_destroy(BIO *b)
{
    BIO_set_data(b, nullptr);   /* the connection is not the BIO's to free */
    return 1;
}

/* ============================================== environment: preparation */

int tls_prepare(my_environment *env)
{
    /* OPENSSL_init_ssl replaces SSL_library_init, SSL_load_error_strings
     * and OpenSSL_add_all_algorithms, all deprecated; TLS_client_method is
     * the current name of the version-flexible SSLv23_client_method. */
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    env->tls_entropy_loaded = 0;
    env->tls_method = TLS_client_method();
    BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "qvmysql socket");
    if (!env->tls_method || !m || !BIO_meth_set_read(m, bio_read) ||
        !BIO_meth_set_write(m, bio_write) || !BIO_meth_set_ctrl(m, bio_ctrl) ||
        !BIO_meth_set_create(m, bio_create) || !BIO_meth_set_destroy(m, bio_destroy)) {
        BIO_meth_free(m);
        env->tls_method = nullptr;
        env->tls_bio = nullptr;
        return 0;
    }
    env->tls_bio = m;
    return 1;
}

void tls_release(my_environment *env)
{
    /* No EVP_cleanup or ERR_free_strings: since OpenSSL 1.1 they do nothing,
     * and the library cleans itself up at process exit. Ending OpenSSL from
     * here (OPENSSL_cleanup) would break everything else in the process
     * that uses it, since it cannot be started again. */
    BIO_meth_free(env->tls_bio);
    env->tls_bio = nullptr;
    env->tls_method = nullptr;
}

/* ================================================================= errors */

/* One 08001 record per entry of OpenSSL's error queue, which is emptied. */
static void post_ssl_errors(my_connection *c)
{
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        char text[ERROR_TEXT_SIZE];
        ERR_error_string_n(e, text, sizeof text);
        QV_TRACE(c, LOG_ERROR, "SSL error '%s'", text);
        post_error(c, ST_08001, (int)(e & 0x7FFFFFFF), "SSL error '%s'", text);
    }
}

/* ================================================================ entropy */

/* The entropy-gathering daemon's protocol: 0x01 n asks for up to n bytes
 * without blocking; the answer is a count byte and that many bytes. */
static int egd_read(const char *path, unsigned char *out, size_t cap)
{
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (strlen(path) >= sizeof addr.sun_path)
        return -1;
    strcpy(addr.sun_path, path);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int got = -1;
    unsigned char ask[2] = {0x01, (unsigned char)(cap > 255 ? 255 : cap)};
    unsigned char count = 0;
    if (connect(fd, (struct sockaddr *)&addr, sizeof addr) == 0 &&
        send(fd, ask, sizeof ask, MSG_NOSIGNAL) == (ssize_t)sizeof ask &&
        net_wait(fd, POLLIN, EGD_WAIT_MS) == 1 && recv(fd, &count, 1, 0) == 1 && count <= cap) {
        size_t done = 0;
        while (done < count && net_wait(fd, POLLIN, EGD_WAIT_MS) == 1) {
            ssize_t n = recv(fd, out + done, count - done, 0);
            if (n <= 0)
                break;
            done += (size_t)n;
        }
        if (done == count)
            got = (int)count;
    }
    close(fd);
    return got;
}

/* Seeds OpenSSL's generator from Entropy. OpenSSL 3 has no RAND_egd: a
 * socket is asked with the daemon's protocol, anything else (a file, a
 * device) is read with RAND_load_file. Bytes added, or -1. */
static int seed_from(const char *path)
{
    struct stat st;
    if (stat(path, &st) == 0 && S_ISSOCK(st.st_mode)) {
        unsigned char buf[ENTROPY_BYTES];
        int n = egd_read(path, buf, sizeof buf);
        if (n > 0)
            RAND_add(buf, n, (double)n);
        OPENSSL_cleanse(buf, sizeof buf);
        return n;
    }
    return RAND_load_file(path, ENTROPY_BYTES);
}

static int load_entropy(my_connection *c, my_environment *env)
{
    if (!c->Entropy || c->Entropy->length == 0)
        return 0;
    std::lock_guard<qv_mutex> g(env->attr_lock);
    if (env->tls_entropy_loaded)
        return 0;
    QV_TRACE(c, LOG_DETAIL, "Loading entropy from '%S'", c->Entropy);
    char *path = ms_to_narrow(c->Entropy, c);
    int n = path ? seed_from(path) : -1;
    free(path);
    if (n < 0) {
        QV_TRACE(c, LOG_ERROR, "Loading entropy from '%S' failed", c->Entropy);
        post_error(c, ST_08001, 0, "Loading entropy from '%S' failed", c->Entropy);
        return -6;
    }
    QV_TRACE(c, LOG_DETAIL, "Entropy seeded with %d bytes", n);
    env->tls_entropy_loaded = 1;
    return 0;
}

/* ======================================================= certificates */

/* CertificateFile: a directory of hashed CA certificates, or a CA file. A
 * path that does not exist is tried as a file so that the failure carries
 * OpenSSL's own reason. */
static int load_ca(my_connection *c, SSL_CTX *ctx)
{
    if (!c->CertificateFile || c->CertificateFile->length == 0) {
        /* A server with a publicly issued certificate needs no CA setting;
         * without verification there is nothing to load. */
        if (!c->TrustServerCertificate) {
            QV_TRACE(c, LOG_DETAIL, "Loading the system's trusted certificates");
            if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
                QV_TRACE(c, LOG_ERROR, "no system trust store could be loaded");
                ERR_clear_error();   /* verification then fails with its own reason */
            }
        }
        return 0;
    }
    QV_TRACE(c, LOG_DETAIL, "Loading Certificate file '%S'", c->CertificateFile);
    char *path = ms_to_narrow(c->CertificateFile, c);
    if (!path) {
        post_error(c, ST_HY001, 0, nullptr);
        return -6;
    }
    struct stat st;
    int ok;
    if (stat(path, &st) != 0) {
        QV_TRACE(c, LOG_DETAIL, "file not found, treating as file");
        ok = SSL_CTX_load_verify_locations(ctx, path, nullptr);
    } else if (S_ISDIR(st.st_mode)) {
        QV_TRACE(c, LOG_DETAIL, "file found, treating as directory");
        ok = SSL_CTX_load_verify_locations(ctx, nullptr, path);
    } else {
        QV_TRACE(c, LOG_DETAIL, "file found, treating as file");
        ok = SSL_CTX_load_verify_locations(ctx, path, nullptr);
    }
    free(path);
    if (ok != 1) {
        post_error(c, ST_08001, 0, "Loading Certificate file '%S' failed", c->CertificateFile);
        if (ERR_peek_error() == 0)   /* the record list must say why */
            post_error(c, ST_08001, 0, "SSL error '%s'", "no CA certificate could be loaded");
        post_ssl_errors(c);
        return -6;
    }
    return 0;
}

/* The client's key (PrivateKeyFile) and certificate (PublicKeyFile), PEM. */
static int load_client_identity(my_connection *c, SSL *ssl)
{
    struct item {
        my_string *path;
        const char *what;
        int (*load)(SSL *, const char *, int);
    } items[] = {
        {c->PrivateKeyFile, "Private Key", SSL_use_PrivateKey_file},
        {c->PublicKeyFile, "Public Key", SSL_use_certificate_file},
    };
    for (const item &it : items) {
        if (!it.path || it.path->length == 0)
            continue;
        QV_TRACE(c, LOG_DETAIL, "Loading %s file '%S'", it.what, it.path);
        char *path = ms_to_narrow(it.path, c);
        if (!path) {
            post_error(c, ST_HY001, 0, nullptr);
            return -6;
        }
        int ok = it.load(ssl, path, SSL_FILETYPE_PEM);
        free(path);
        if (ok != 1) {
            post_error(c, ST_08001, 0, "Loading %s file '%S' failed", it.what, it.path);
            post_ssl_errors(c);
            return -6;
        }
    }
    return 0;
}

/* ============================================================== identity */

static int is_ip_address(const char *s)
{
    unsigned char addr[sizeof(struct in6_addr)];
    return inet_pton(AF_INET, s, addr) == 1 || inet_pton(AF_INET6, s, addr) == 1;
}

/* The name the server's certificate must carry: HostNameInCertificate, else
 * the host of the server-list entry connected to. 0, or -6 with diagnostics
 * posted. */
static int expected_name(my_connection *c, std::string *out)
{
    int own = c->HostNameInCertificate && c->HostNameInCertificate->length;
    char *name = own ? ms_to_narrow(c->HostNameInCertificate, c)
                     : net_entry_host(c, c->server_in_use ? c->server_in_use : c->SERVER);
    if (!name) {
        if (own)   /* net_entry_host posts its own */
            post_error(c, ST_HY001, 0, nullptr);
        return -6;
    }
    out->assign(name);
    free(name);
    if (out->empty()) {
        post_error(c, ST_08001, 0, "SSL Provider: no server name to check the certificate for");
        return -6;
    }
    return 0;
}

/* Who the server must be: the name goes out as SNI (a host name; never an
 * address) and, unless TrustServerCertificate skips verification, becomes
 * part of OpenSSL's verification: DNS names and addresses of the subject
 * alternative names, the common name only when there are none. 0, or -6
 * with diagnostics posted. */
static int set_server_identity(my_connection *c, SSL *ssl, const std::string &name)
{
    int ip = is_ip_address(name.c_str());
    if (!ip && SSL_set_tlsext_host_name(ssl, name.c_str()) != 1) {
        QV_TRACE(c, LOG_ERROR, "SNI: '%s' not sent", name.c_str());
        ERR_clear_error();   /* a courtesy to the server, not a check */
    }
    if (c->TrustServerCertificate)
        return 0;
    QV_TRACE(c, LOG_DETAIL, "Expecting the server certificate for '%s'", name.c_str());
    X509_VERIFY_PARAM *param = SSL_get0_param(ssl);
    int ok;
    if (ip) {
        ok = X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        ok = SSL_set1_host(ssl, name.c_str());
    }
    if (ok != 1) {
        post_error(c, ST_08001, 0, "SSL Provider: cannot check the certificate for '%s'",
                   name.c_str());
        post_ssl_errors(c);
        return -6;
    }
    return 0;
}

/* A name from a certificate as plain text: what a hostile certificate
 * carries must not reach a message as control characters. */
static std::string shown(const unsigned char *p, int n)
{
    std::string out;
    for (int i = 0; i < n && i < NAME_TEXT_MAX; i++)
        out += p[i] >= 0x20 && p[i] < 0x7F ? (char)p[i] : '?';
    return out;
}

static std::string address_text(const ASN1_OCTET_STRING *a)
{
    char text[INET6_ADDRSTRLEN] = "";
    int n = ASN1_STRING_length(a);
    const unsigned char *p = ASN1_STRING_get0_data(a);
    if ((n == 4 && inet_ntop(AF_INET, p, text, sizeof text)) ||
        (n == 16 && inet_ntop(AF_INET6, p, text, sizeof text)))
        return text;
    return "?";
}

/* The names a certificate is for, as the host check reads them: "DNS:x",
 * "IP:a" from its subject alternative names, else "CN=x". */
static std::string certificate_names(X509 *cert)
{
    std::string out;
    int listed = 0;
    GENERAL_NAMES *names =
        (GENERAL_NAMES *)X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr);
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names); i++) {
        const GENERAL_NAME *g = sk_GENERAL_NAME_value(names, i);
        std::string one;
        if (g->type == GEN_DNS)
            one = "DNS:" + shown(ASN1_STRING_get0_data(g->d.dNSName),
                                 ASN1_STRING_length(g->d.dNSName));
        else if (g->type == GEN_IPADD)
            one = "IP:" + address_text(g->d.iPAddress);
        else
            continue;
        if (listed++ == NAMES_SHOWN) {
            out += ", ...";
            break;
        }
        out += (out.empty() ? "" : ", ") + one;
    }
    GENERAL_NAMES_free(names);
    if (!out.empty())
        return out;
    X509_NAME *subject = X509_get_subject_name(cert);
    int at = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
    if (at < 0)
        return "no name";
    const ASN1_STRING *cn = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at));
    return "CN=" + shown(ASN1_STRING_get0_data(cn), ASN1_STRING_length(cn));
}

/* ============================================================= judgement */

struct verify_text {
    long code;
    const char *what;   /* logged "Connection was encrypted but ..." / posted "SSL Provider: ..." */
};

/* The verification results TrustServerCertificate may let through. A chain
 * ending in an unknown self-signed root (19) reads as an unknown issuer. */
static const verify_text VERIFY_TEXTS[] = {
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, "unable to get issuer certificate"},
    {X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE, "unable to decrypt certificate's signature"},
    {X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY, "unable to decode issuer public key"},
    {X509_V_ERR_CERT_SIGNATURE_FAILURE, "certificate signature failure"},
    {X509_V_ERR_CERT_NOT_YET_VALID, "certificate is not yet valid"},
    {X509_V_ERR_CERT_HAS_EXPIRED, "certificate has expired"},
    {X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD, "format error in certificate's notBefore field"},
    {X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD, "format error in certificate's notAfter field"},
    {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, "self signed certificate"},
    {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, "unable to get local issuer certificate"},
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, "unable to get local issuer certificate"},
    {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, "unable to verify the first certificate"},
    {X509_V_ERR_INVALID_CA, "invalid CA certificate"},
    {X509_V_ERR_PATH_LENGTH_EXCEEDED, "path length constraint exceeded"},
    {X509_V_ERR_INVALID_PURPOSE, "unsupported certificate purpose"},
    {X509_V_ERR_CERT_UNTRUSTED, "certificate not trusted"},
    {X509_V_ERR_CERT_REJECTED, "certificate rejected"},
    {X509_V_ERR_KEYUSAGE_NO_CERTSIGN, "key usage does not include certificate signing"},
};

/* 0 when the server's certificate is accepted, else -6 with 08001 posted.
 * expected is the name it had to carry. */
static int judge_certificate(my_connection *c, SSL *ssl, const std::string &expected)
{
    /* A handshake without a server certificate (an anonymous cipher) leaves
     * the verification result at "ok": nothing was checked, so it is not. */
    if (!SSL_get0_peer_certificate(ssl)) {
        if (c->TrustServerCertificate) {
            QV_TRACE(c, LOG_ERROR, "Connection was encrypted but the server sent no certificate");
            return 0;
        }
        post_error(c, ST_08001, 0, "SSL Provider: the server sent no certificate");
        return -6;
    }
    long code = SSL_get_verify_result(ssl);
    if (code == X509_V_OK)
        return 0;
    if (code == X509_V_ERR_HOSTNAME_MISMATCH || code == X509_V_ERR_IP_ADDRESS_MISMATCH) {
        /* never with TrustServerCertificate: no name was set to check */
        static const char MISMATCH[] =
            "SSL Provider: the server certificate is not for '%s' (it names %s)";
        std::string names = certificate_names(SSL_get0_peer_certificate(ssl));
        QV_TRACE(c, LOG_ERROR, MISMATCH, expected.c_str(), names.c_str());
        post_error(c, ST_08001, 0, MISMATCH, expected.c_str(), names.c_str());
        return -6;
    }
    for (const verify_text &v : VERIFY_TEXTS) {
        if (v.code != code)
            continue;
        if (c->TrustServerCertificate) {
            QV_TRACE(c, LOG_ERROR, "Connection was encrypted but %s", v.what);
            return 0;
        }
        QV_TRACE(c, LOG_ERROR, "SSL Provider: %s", v.what);
        post_error(c, ST_08001, 0, "SSL Provider: %s", v.what);
        return -6;
    }
    QV_TRACE(c, LOG_ERROR, "SSL connection failed, verify cert returned %d", (int)code);
    post_error(c, ST_08001, 0, "SSL connection failed, verify cert returned %d", (int)code);
    return -6;
}

/* ============================================================ handshake */

/* SSL_connect within the logon time-out. 0, -2 (HYT00 posted) or -6. */
static int run_handshake(my_connection *c, SSL *ssl)
{
    int budget = read_timeout_ms(c);
    c->tls_deadline_ms = budget > 0 ? monotonic_ms() + budget : 0;
    c->tls_timed_out = 0;
    int r = SSL_connect(ssl);
    int err = errno;
    c->tls_deadline_ms = 0;
    if (r == 1) {
        QV_TRACE(c, LOG_DETAIL, "Connected!!!");
        return 0;
    }
    if (c->tls_timed_out) {
        QV_TRACE(c, LOG_ERROR, "SSL handshake: Timeout");
        ERR_clear_error();
        post_error(c, ST_HYT00, 0, nullptr);
        return -2;
    }
    int reason = SSL_get_error(ssl, r);
    QV_TRACE(c, LOG_ERROR, "SSL Shutdown, reason %d", reason);
    post_error(c, ST_08001, 0, "SSL Shutdown, reason %d", reason);
    if (ERR_peek_error() == 0 && reason == SSL_ERROR_SYSCALL)
        post_error(c, ST_08001, 0, "SSL error '%s'",
                   err ? system_error_text(err) : "the server closed the connection");
    post_ssl_errors(c);
    return -6;
}

/* The cipher OpenSSL describes, one line, printable characters only. */
static void log_cipher(my_connection *c, SSL *ssl)
{
    if (!handle_log_flags(c))
        return;
    char text[CIPHER_TEXT_SIZE] = "";
    const SSL_CIPHER *cipher = SSL_get_current_cipher(ssl);
    if (cipher)
        SSL_CIPHER_description(cipher, text, sizeof text);
    size_t w = 0;
    for (size_t i = 0; text[i]; i++)
        if ((unsigned char)text[i] >= 0x20 && (unsigned char)text[i] < 0x7F)
            text[w++] = text[i];
    text[w] = 0;
    QV_TRACE(c, LOG_DETAIL, "SSL using cypher '%s'", text);
}

/* The SSL object on c's socket through the driver's BIO. */
static SSL *new_ssl(my_connection *c, my_environment *env, SSL_CTX *ctx)
{
    SSL *ssl = SSL_new(ctx);
    BIO *bio = ssl ? BIO_new(env->tls_bio) : nullptr;
    if (!bio) {
        SSL_free(ssl);
        return nullptr;
    }
    BIO_set_data(bio, c);
    SSL_set_bio(ssl, bio, bio);   /* the SSL object owns the BIO from here */
    return ssl;
}

int tls_start(my_connection *c)
{
    QV_TRACE(c, LOG_DETAIL, "Starting SSL handshake");
    my_environment *env = handle_env(c);
    if (!env || !env->tls_method || !env->tls_bio) {
        post_error(c, ST_08001, 0, "Required SSL (no ssl_info)");
        return -6;
    }
    if (c->rbuf_len > c->rbuf_off) {
        QV_TRACE(c, LOG_ERROR, "tls_start: %d bytes arrived ahead of the SSL handshake",
                 (int)(c->rbuf_len - c->rbuf_off));
        post_error(c, ST_08S01, 0, "the server sent data ahead of the SSL handshake");
        return -6;
    }
    if (load_entropy(c, env) != 0)
        return -6;
    ERR_clear_error();   /* what the queue holds afterwards is this handshake's */

    ctx_ptr ctx(SSL_CTX_new((const SSL_METHOD *)env->tls_method));
    if (!ctx) {
        QV_TRACE(c, LOG_ERROR, "failed to allocate ssl_ctx");
        post_error(c, ST_HY001, 0, nullptr);
        return -6;
    }
    /* No close-notify alert at shutdown: the server is gone or going after
     * COM_QUIT, and waiting on it would only delay the disconnect. Peer
     * verification stays off in OpenSSL: judge_certificate decides. */
    SSL_CTX_set_quiet_shutdown(ctx.get(), 1);
    if (load_ca(c, ctx.get()) != 0)
        return -6;
    ssl_ptr ssl(new_ssl(c, env, ctx.get()));
    if (!ssl) {
        post_error(c, ST_08001, 0, "Required SSL (failed to allocate SSL)");
        return -6;
    }
    if (load_client_identity(c, ssl.get()) != 0)
        return -6;
    std::string expected;
    if (expected_name(c, &expected) != 0 || set_server_identity(c, ssl.get(), expected) != 0)
        return -6;
    int rc = run_handshake(c, ssl.get());
    if (rc != 0)
        return rc;
    if (judge_certificate(c, ssl.get(), expected) != 0)
        return -6;
    c->ssl = ssl.release();
    c->ssl_ctx = ctx.release();
    c->ssl_active = 1;
    log_cipher(c, c->ssl);
    return 0;
}

void tls_stop(my_connection *c)
{
    if (c->ssl) {
        /* quiet shutdown: this only marks the session closed, nothing is
         * sent on a socket that may already be dead */
        SSL_shutdown(c->ssl);
        SSL_free(c->ssl);
        c->ssl = nullptr;
    }
    SSL_CTX_free(c->ssl_ctx);
    c->ssl_ctx = nullptr;
    c->ssl_active = 0;
    c->tls_deadline_ms = 0;
    ERR_clear_error();   /* nothing of this session may show up in the next */
}

/* ============================================================ TLS request */

/* The request's flags are those of the response that follows over TLS, not
 * a smaller set: a server may settle compression, LOCAL INFILE and the
 * authentication plugin from the request alone (MariaDB does), so a flag
 * missing here is missing for the whole session. */
int create_ssl_req(my_connection *c, const my_string *, const my_string *,
                   const my_string *database)
{
    QV_TRACE(c, LOG_DETAIL, "create_ssl_req_packet");
    uint32_t flags = client_flags_41(c, database) | CLIENT_SSL;
    c->client_caps = flags;   /* until the full response replaces them */
    int charset = request_charset(c, "ssl_req_packet");
    my_packet *p = packet_new(c);
    static const unsigned char filler[SSL_REQUEST_FILLER] = {0};
    if (!p || packet_put_u32(p, flags) != 0 || packet_put_u32(p, MAX_PACKET_SIZE_SENT) != 0 ||
        packet_put_u8(p, (unsigned)charset) != 0 ||
        packet_put_bytes(p, filler, sizeof filler) != 0) {
        packet_free(p);
        post_error(c, ST_HY001, 0, nullptr);
        return -1;
    }
    int rc = packet_send(c, p);
    packet_free(p);
    if (rc != 0) {
        QV_TRACE(c, LOG_ERROR, "create_ssl_req: failed sending packet");
        post_error(c, ST_08S01, 0, nullptr);
        return -1;
    }
    return tls_start(c) == 0 ? 0 : -1;
}
