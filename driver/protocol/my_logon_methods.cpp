/*
 * The authentication methods' answers. Everything here answers a server
 * that has proved nothing yet: its method data and keys are read through
 * the packet layer's bounded readers and bounded in size, and a password
 * goes out only in the form its method asks for, over a channel the
 * settings allow.
 */
#include "protocol/my_logon_methods.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <openssl/crypto.h>

#include "frame/my_handle.h"
#include "protocol/my_auth.h"
#include "protocol/my_ed25519.h"
#include "protocol/my_logon.h"
#include "protocol/my_proto.h"
#include "protocol/my_sha2.h"
#include "protocol/my_winkrb.h"

enum {
    /* An RSA public key in PEM form is a few kilobytes even for 16384-bit
     * keys; more is not a key. Method data is a scramble or a principal
     * name: the same bound serves. */
    MAX_PUBKEY_LENGTH = 64 * 1024,
    MAX_METHOD_DATA = 64 * 1024,
    PUBKEY_FILE_LIMIT = 8192,
};

/* ------------------------------------------------------------- helpers */

/* A text setting in the connection's wire encoding (UTF-8 or one byte per
 * code unit), without terminator. */
void wire_text(const my_connection *c, const my_string *s, secret_bytes *out)
{
    out->b.clear();
    if (!s || s->length == 0)
        return;
    if (conn_wire_utf8(c)) {
        out->b.resize(utf16_utf8_length(s->data, s->length));
        utf16_encode_utf8(s->data, s->length, out->b.data());
        return;
    }
    out->b.resize(s->length);
    for (uint32_t i = 0; i < s->length; i++)
        out->b[i] = (unsigned char)(s->data[i] & 0xFF);
}

/* The server's scramble cannot carry the method: answering with bytes that
 * were never sent would read beyond what the server gave. */
int short_scramble(my_connection *c, const char *method, int have, int need)
{
    QV_TRACE(c, LOG_ERROR, "scramble of %d bytes too short for %s (%d needed)", have, method, need);
    post_error(c, ST_08S01, 0, "server scramble of %d bytes is too short for %s", have, method);
    return -6;
}

/* ------------------------------------------------------------ answers */

/* The salt a method answers with: the switch's data when it carries enough,
 * else the greeting's scramble. */
static const unsigned char *salt_for(my_connection *c, const auth_state *st, size_t need)
{
    if (st->method_data.size() >= need)
        return st->method_data.data();
    if ((size_t)c->scramble_length >= need)
        return c->scramble;
    return nullptr;
}

static int answer_native(my_connection *c, auth_state *st)
{
    secret_bytes pw;
    wire_text(c, c->PWD, &pw);
    /* no password is an empty answer, as in the handshake response: a
     * scramble of the empty text would not match an account without one */
    if (pw.empty())
        return auth_send_bytes(c, "", 0);
    if (st->method_data.size() < NATIVE_SCRAMBLE_LENGTH) {
        short_scramble(c, "mysql_native_password", (int)st->method_data.size(),
                       NATIVE_SCRAMBLE_LENGTH);
        return -1;
    }
    unsigned char token[NATIVE_SCRAMBLE_LENGTH];
    if (native_scramble(pw.data(), pw.size(), st->method_data.data(), token) != 0) {
        post_error(c, ST_HY000, 0, "SHA-1 not available");
        return -1;
    }
    int rc = auth_send_bytes(c, token, sizeof token);
    OPENSSL_cleanse(token, sizeof token);
    return rc;
}

/* The pre-4.1 answer: 8 bytes, with a terminator for servers that expect
 * the old NUL-terminated form (they all announce CLIENT_CONNECT_WITH_DB). */
int send_old_answer(my_connection *c, const unsigned char *salt)
{
    secret_bytes pw;
    wire_text(c, c->PWD, &pw);
    unsigned char token[OLD_SCRAMBLE_LENGTH + 1];
    old_scramble(pw.data(), pw.size(), salt, token);
    token[OLD_SCRAMBLE_LENGTH] = 0;
    size_t n = (c->server_caps & CLIENT_CONNECT_WITH_DB) ? sizeof token : (size_t)OLD_SCRAMBLE_LENGTH;
    int rc = auth_send_bytes(c, token, n);
    OPENSSL_cleanse(token, sizeof token);
    return rc;
}

static int answer_old(my_connection *c, auth_state *st)
{
    if (st->method_data.size() < OLD_SCRAMBLE_LENGTH) {
        short_scramble(c, "mysql_old_password", (int)st->method_data.size(), OLD_SCRAMBLE_LENGTH);
        return -1;
    }
    return send_old_answer(c, st->method_data.data());
}

/* A channel nobody else can read: TLS, or a socket on this machine. */
static int private_channel(const my_connection *c)
{
    if (c->ssl_active)
        return 1;
    struct sockaddr_storage a;
    socklen_t n = sizeof a;
    return c->sock >= 0 && getsockname(c->sock, (struct sockaddr *)&a, &n) == 0 &&
           a.ss_family == AF_UNIX;
}

/* The password itself, as the method asks: never onto an open network
 * unless the DSN says so, since anyone on the path (or a server that only
 * pretends to want this method) would read it. */
static int answer_clear(my_connection *c, auth_state *)
{
    if (!private_channel(c) && !c->EnableCleartextPlugin) {
        QV_TRACE(c, LOG_ERROR, "my_connect: mysql_clear_password refused without TLS");
        post_error(c, ST_08001, 0,
                   "The server asks for the password in clear text (mysql_clear_password) on "
                   "a connection that is not encrypted; use Encrypt=yes, or set "
                   "EnableCleartextPlugin=yes to send it anyway");
        return -1;
    }
    secret_bytes pw;
    wire_text(c, c->PWD, &pw);
    pw.b.push_back(0);
    return auth_send_bytes(c, pw.data(), pw.size());
}

/* Encrypts the password with a PEM key and sends the cipher text. */
static int send_encrypted(my_connection *c, const auth_state *st, const char *key, size_t key_len)
{
    const unsigned char *salt = salt_for(c, st, NATIVE_SCRAMBLE_LENGTH);
    if (!salt) {
        short_scramble(c, "sha256_password", c->scramble_length, NATIVE_SCRAMBLE_LENGTH);
        return -1;
    }
    secret_bytes pw;
    wire_text(c, c->PWD, &pw);
    std::vector<unsigned char> cipher;
    if (generate_sha256(c, salt, pw.data(), pw.size(), key, key_len, &cipher) != 0)
        return -1;
    return auth_send_bytes(c, cipher.data(), cipher.size());
}

/* Reads the PublicKeyFile setting's file (at most PUBKEY_FILE_LIMIT bytes).
 * 0, or -1 with HY000 posted. */
static int read_key_file(my_connection *c, std::vector<char> *key)
{
    QV_TRACE(c, LOG_DETAIL, "Loading Public Key file '%S'", c->PublicKeyFile);
    char *path = ms_to_narrow(c->PublicKeyFile, c);
    int fd = path ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    int err = path ? errno : ENOMEM;
    free(path);
    if (fd < 0) {
        post_error(c, ST_HY000, 0, "Opening Public Key file '%S' failed, errno=%d",
                   c->PublicKeyFile, err);
        return -1;
    }
    key->assign(PUBKEY_FILE_LIMIT, 0);
    size_t got = 0;
    while (got < key->size()) {
        ssize_t n = read(fd, key->data() + got, key->size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            err = errno;
            close(fd);
            post_error(c, ST_HY000, 0, "Reading Public Key file '%S' failed, errno=%d",
                       c->PublicKeyFile, err);
            return -1;
        }
        if (n == 0)
            break;
        got += (size_t)n;
    }
    close(fd);
    key->resize(got);
    return 0;
}

static int answer_sha256(my_connection *c, auth_state *st)
{
    secret_bytes pw;
    wire_text(c, c->PWD, &pw);
    /* Over TLS the channel protects the password; without it the password
     * goes out only encrypted with the server's key. */
    if (c->ssl_active || pw.empty()) {
        pw.b.push_back(0);
        return auth_send_bytes(c, pw.data(), pw.size());
    }
    if (given(c->PublicKeyFile)) {
        /* A key that cannot be read ends the logon here: answering the
         * server with nothing would only count a failed logon against the
         * account. */
        std::vector<char> key;
        if (read_key_file(c, &key) != 0)
            return -1;
        return send_encrypted(c, st, key.data(), key.size());
    }
    static const unsigned char REQUEST_KEY = 0x01;
    st->awaiting_key = 1;
    return auth_send_bytes(c, &REQUEST_KEY, 1);
}

/* caching_sha2_password: the fast-path scramble; the server's status
 * packet decides what follows (sha2_packet). */
static int answer_caching_sha2(my_connection *c, auth_state *st)
{
    secret_bytes pw;
    wire_text(c, c->PWD, &pw);
    st->sha2 = SHA2_SCRAMBLED;
    if (pw.empty())
        return auth_send_bytes(c, "", 0);
    const unsigned char *nonce = salt_for(c, st, SHA2_NONCE_LENGTH);
    if (!nonce) {
        short_scramble(c, "caching_sha2_password", (int)st->method_data.size(), SHA2_NONCE_LENGTH);
        return -1;
    }
    unsigned char token[SHA2_SCRAMBLE_LENGTH];
    if (caching_sha2_scramble(pw.data(), pw.size(), nonce, token) != 0) {
        post_error(c, ST_HY000, 0, "SHA-256 not available");
        return -1;
    }
    int rc = auth_send_bytes(c, token, sizeof token);
    OPENSSL_cleanse(token, sizeof token);
    return rc;
}

/* A 0x01 packet of the caching_sha2_password exchange. */
static int sha2_packet(my_connection *c, auth_state *st, my_packet *p)
{
    static const unsigned char ASK_KEY = 0x02;
    std::vector<char> key;
    secret_bytes pw;
    wire_text(c, c->PWD, &pw);
    switch (caching_sha2_step(c, p, &st->sha2, private_channel(c), !pw.empty(),
                              given(c->PublicKeyFile), &key)) {
    case SHA2_NOTHING:
        return 0;
    case SHA2_SEND_CLEAR:
    case SHA2_SEND_EMPTY:
        pw.b.push_back(0);
        return auth_send_bytes(c, pw.data(), pw.size());
    case SHA2_ENCRYPT_FILE:
        if (read_key_file(c, &key) != 0)
            return -1;
        return send_encrypted(c, st, key.data(), key.size());
    case SHA2_ASK_KEY:
        return auth_send_bytes(c, &ASK_KEY, 1);
    case SHA2_ENCRYPT_SERVER:
        return send_encrypted(c, st, key.data(), key.size());
    default:
        return -1;
    }
}

/* MariaDB's client_ed25519: the 64-byte signature of the 32-byte nonce. */
static int answer_ed25519(my_connection *c, auth_state *st)
{
    if (st->method_data.size() < ED25519_NONCE_LENGTH) {
        short_scramble(c, "client_ed25519", (int)st->method_data.size(), ED25519_NONCE_LENGTH);
        return -1;
    }
    secret_bytes pw;
    wire_text(c, c->PWD, &pw);
    unsigned char sig[ED25519_SIGNATURE_LENGTH];
    if (ed25519_password_sign(pw.data(), pw.size(), st->method_data.data(), ED25519_NONCE_LENGTH,
                              sig, nullptr) != 0) {
        post_error(c, ST_HY000, 0, "Ed25519 signing failed");
        return -1;
    }
    return auth_send_bytes(c, sig, sizeof sig);
}

/* NTLM computed here, or Kerberos through the security interface. */
static int answer_windows(my_connection *c, auth_state *st)
{
    my_packet *out = nullptr;
    if (c->Kerberos) {
        if (krb_start(c, &out) != 0)
            return -1;
        st->krb = 1;
    } else {
        if (create_logon_packet(c, &out) != 0)
            return -1;
        st->ntlm = 1;
    }
    return auth_send_packet(c, out);
}

/* The exchange runs to the server's last packet, which the loop examines. */
static int answer_gssapi(my_connection *c, auth_state *st)
{
    my_packet *final_packet = nullptr;
    if (krb_gssapi_exchange(c, st->method_data.data(), st->method_data.size(), &final_packet) != 0)
        return -1;
    st->next = final_packet;
    return 0;
}

static int answer_not_supported(my_connection *c, const std::string &method)
{
    QV_TRACE(c, LOG_ERROR, "Authentication method '%s' not yet supported", method.c_str());
    post_error(c, ST_HY000, 0, "Authentication method '%s' not yet supported", method.c_str());
    return -1;
}

typedef int (*auth_answer)(my_connection *c, auth_state *st);

/* The methods the driver answers; any other name gets the not-supported
 * answer. */
static const struct {
    const char *name;
    auth_answer answer;
} auth_methods[] = {
    {"mysql_native_password", answer_native},
    {"mysql_old_password", answer_old},
    {"mysql_clear_password", answer_clear},
    {"sha256_password", answer_sha256},
    {"caching_sha2_password", answer_caching_sha2},
    {"client_ed25519", answer_ed25519},
    {"authentication_windows_client", answer_windows},
    {"auth_gssapi_client", answer_gssapi},
};

/* 0xFE from a server with plugin authentication: the method's name up to its
 * terminator, then the method's data up to the end of the packet. */
int auth_switch(my_connection *c, auth_state *st, my_packet *p)
{
    packet_get_u8(p, nullptr);   /* 0xFE */
    std::string method;
    unsigned byte = 0;
    while (packet_get_u8(p, &byte) && byte != 0)
        method += (char)byte;
    int32_t len = packet_remaining(p);
    if (len > MAX_METHOD_DATA) {
        QV_TRACE(c, LOG_ERROR, "my_connect: auth_switch '%s' data_len=%d", method.c_str(), (int)len);
        post_error(c, ST_08S01, 0, "auth switch data of %d bytes is too long", (int)len);
        return -1;
    }
    st->method_data.resize((size_t)len);
    if (!st->method_data.empty())
        packet_get_bytes(p, st->method_data.data(), st->method_data.size());
    /* a switch starts a new exchange: nothing of an earlier one applies */
    st->awaiting_key = st->ntlm = st->krb = 0;
    st->sha2 = SHA2_IDLE;
    krb_free_context(c);
    QV_TRACE(c, LOG_DETAIL, "my_connect: auth_switch '%s' data_len=%d", method.c_str(),
             (int)st->method_data.size());
    for (const auto &m : auth_methods)
        if (method == m.name)
            return m.answer(c, st);
    return answer_not_supported(c, method);
}

/* The CHALLENGE: answered with the AUTHENTICATE message; the server's next
 * packet is its verdict. */
static int ntlm_packet(my_connection *c, auth_state *st, my_packet *p)
{
    st->ntlm = 0;
    my_packet *out = nullptr;
    if (decode_auth_token(c, p, &out, 0) != 0)
        return -1;
    return auth_send_packet(c, out);
}

/* A server token: answered while the context needs rounds; once complete
 * the continuation hands back the server's next packet for the loop. */
static int krb_packet(my_connection *c, auth_state *st, my_packet *p)
{
    packet_get_u8(p, nullptr);   /* 0x01 */
    my_packet *out = nullptr;
    if (krb_continue(c, p, &out) != 0) {
        st->krb = 0;
        return -1;
    }
    if (krb_in_progress(c))
        return auth_send_packet(c, out);
    st->krb = 0;
    st->next = out;
    return 0;
}

/* 0x01 carries extra data of the running method: the NTLM challenge, a
 * Kerberos token, or for sha256_password the server's public key (PEM)
 * after the marker byte. */
int extra_data_packet(my_connection *c, auth_state *st, my_packet *p)
{
    if (st->ntlm)
        return ntlm_packet(c, st, p);
    if (st->krb)
        return krb_packet(c, st, p);
    if (st->sha2 != SHA2_IDLE)
        return sha2_packet(c, st, p);
    if (!st->awaiting_key) {
        QV_TRACE(c, LOG_ERROR, "my_connect: unexpected extra-data packet");
        post_error(c, ST_HY000, 0, "Unexpected packet");
        return -1;
    }
    st->awaiting_key = 0;
    packet_get_u8(p, nullptr);   /* 0x01 */
    int32_t len = packet_remaining(p);
    if (len > MAX_PUBKEY_LENGTH) {
        post_error(c, ST_08S01, 0, "public key packet of %d bytes is too long", (int)len);
        return -1;
    }
    std::vector<char> key;
    try {
        key.resize((size_t)len);
    } catch (...) {
        post_error(c, ST_HY001, 0, "Failed to allocate %d bytes for pubkey", (int)len);
        return -1;
    }
    if (!key.empty())
        packet_get_bytes(p, key.data(), key.size());
    QV_DUMP(c, LOG_DETAIL, key.data(), (int64_t)key.size(), "my_connect: public key");
    return send_encrypted(c, st, key.data(), key.size());
}
