// Who the server is, through the driver manager: TLS verifies the server's
// name against its certificate (certificates made here for each case, signed
// by a CA of the test's own, served by the scripted server over TLS), and the
// password goes out in clear text only over TLS or with the DSN's opt-in.
// The test MariaDB, whose certificate names 127.0.0.1 and localhost, is
// reached by both.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "integration/fake_peer.h"
#include "support/qv_support.h"

namespace {

using fake::bytes;

const int64_t DAY = 24 * 3600;

struct key_free { void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); } };
struct cert_free { void operator()(X509 *x) const { X509_free(x); } };
using key_ptr = std::unique_ptr<EVP_PKEY, key_free>;
using cert_ptr = std::unique_ptr<X509, cert_free>;

void add_ext(X509 *x, X509 *issuer, int nid, const std::string &value)
{
    X509V3_CTX v;
    X509V3_set_ctx_nodb(&v);
    X509V3_set_ctx(&v, issuer, x, nullptr, nullptr, 0);
    X509_EXTENSION *e = X509V3_EXT_conf_nid(nullptr, &v, nid, value.c_str());
    ASSERT_NE(e, nullptr) << value;
    X509_add_ext(x, e, -1);
    X509_EXTENSION_free(e);
}

// A certificate for cn with the given subject alternative names ("" for
// none), valid from..to seconds from now, signed by issuer (self when null).
cert_ptr make_cert(EVP_PKEY *key, const std::string &cn, const std::string &sans, int64_t from,
                   int64_t to, X509 *issuer, EVP_PKEY *issuer_key, long serial)
{
    cert_ptr x(X509_new());
    X509_set_version(x.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(x.get()), (long)from);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), (long)to);
    X509_set_pubkey(x.get(), key);
    X509_NAME *name = X509_get_subject_name(x.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, (const unsigned char *)cn.c_str(), -1,
                               -1, 0);
    X509 *signer = issuer ? issuer : x.get();
    X509_set_issuer_name(x.get(), X509_get_subject_name(signer));
    if (!issuer) {
        add_ext(x.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        add_ext(x.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        add_ext(x.get(), signer, NID_basic_constraints, "CA:FALSE");
        add_ext(x.get(), signer, NID_ext_key_usage, "serverAuth");
        if (!sans.empty())
            add_ext(x.get(), signer, NID_subject_alt_name, sans);
    }
    EXPECT_GT(X509_sign(x.get(), issuer_key ? issuer_key : key, EVP_sha256()), 0);
    return x;
}

bool write_pem(const std::string &path, X509 *cert, EVP_PKEY *key)
{
    FILE *f = fopen(path.c_str(), "w");
    if (!f)
        return false;
    bool ok = cert ? PEM_write_X509(f, cert) == 1
                   : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    return fclose(f) == 0 && ok;
}

// A CA of the test's own and server identities it signs, in a scratch
// directory under the server's.
struct test_pki {
    std::string dir, ca_file;
    key_ptr ca_key, server_key;
    cert_ptr ca;
    std::string key_file;
    long serial = 10;

    test_pki()
    {
        dir = qv::server().server_dir + "/identity_pki";
        EXPECT_EQ(system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
        ca_key.reset(EVP_EC_gen("P-256"));
        server_key.reset(EVP_EC_gen("P-256"));
        ca = make_cert(ca_key.get(), "qvmysql identity CA", "", -DAY, 30 * DAY, nullptr, nullptr,
                       1);
        ca_file = dir + "/ca.pem";
        key_file = dir + "/server-key.pem";
        EXPECT_TRUE(write_pem(ca_file, ca.get(), nullptr));
        EXPECT_TRUE(write_pem(key_file, nullptr, server_key.get()));
    }

    // A server certificate file signed by the CA.
    peer::tls_identity server(const std::string &cn, const std::string &sans, int64_t from = -DAY,
                              int64_t to = 30 * DAY)
    {
        cert_ptr c =
            make_cert(server_key.get(), cn, sans, from, to, ca.get(), ca_key.get(), serial);
        std::string path = dir + "/server-" + std::to_string(serial++) + ".pem";
        EXPECT_TRUE(write_pem(path, c.get(), nullptr));
        return {path, key_file};
    }
};

test_pki &pki()
{
    static test_pki p;
    return p;
}

struct logon_result {
    SQLRETURN rc;
    std::vector<qv::diag_record> diags;
    peer::logon_seen seen;
    bool logged_on = false;   // the server's logon script ran to its OK
};

// One logon against the scripted server, with TLS offered when tls is given.
logon_result try_logon(const peer::logon_script &how, const std::string &server,
                       const std::string &extra)
{
    logon_result r;
    fake::server srv([&](fake::session &s) {
        r.logged_on = peer::logon(s, how, &r.seen);
        if (r.logged_on)
            peer::serve(s);
    });
    {
        qv::connection c;
        r.rc = c.connect(peer::conn_str(srv.port(), extra, server));
        r.diags = qv::diagnostics(c.dbc);
    }
    srv.wait_done();
    return r;
}

std::string ends(const std::vector<qv::diag_record> &d)
{
    return d.empty() ? "" : d[0].sqlstate + " " + d[0].text.substr(d[0].text.rfind(']') + 1);
}

TEST(ServerIdentity, CertificateMustNameTheServer)
{
    test_pki &p = pki();
    const std::string ca = "Encrypt=yes;CertificateFile=" + p.ca_file + ";";
    const std::string MISMATCH = "08001 Client unable to establish connection: SSL Provider: ";
    struct {
        const char *name;
        peer::tls_identity cert;
        std::string server, extra;
        std::string sni;     // what the client asked for; "" none
        std::string refusal; // "" logs on
    } cases[] = {
        {"DNS name", p.server("localhost", "DNS:localhost"), "localhost", ca, "localhost", ""},
        {"IP address", p.server("qv", "IP:127.0.0.1"), "127.0.0.1", ca, "", ""},
        {"wildcard", p.server("qv", "DNS:*.qv.test"), "127.0.0.1",
         ca + "HostNameInCertificate=db.qv.test;", "db.qv.test", ""},
        {"common name when no alternative names", p.server("localhost", ""), "localhost", ca,
         "localhost", ""},
        {"another name, same CA", p.server("db.other.test", "DNS:db.other.test"), "localhost", ca,
         "",
         MISMATCH + "the server certificate is not for 'localhost' (it names DNS:db.other.test)"},
        {"an address the certificate lacks", p.server("localhost", "DNS:localhost,IP:10.1.2.3"),
         "127.0.0.1", ca, "",
         MISMATCH +
             "the server certificate is not for '127.0.0.1' (it names DNS:localhost, IP:10.1.2.3)"},
        {"common name ignored beside alternative names", p.server("localhost", "DNS:db.other.test"),
         "localhost", ca, "",
         MISMATCH + "the server certificate is not for 'localhost' (it names DNS:db.other.test)"},
        {"the name given by HostNameInCertificate", p.server("db.other.test", "DNS:db.other.test"),
         "127.0.0.1", ca + "HostNameInCertificate=db.other.test;", "db.other.test", ""},
        {"HostNameInCertificate is checked too", p.server("db.other.test", "DNS:db.other.test"),
         "localhost", ca + "HostNameInCertificate=wrong.test;", "",
         MISMATCH + "the server certificate is not for 'wrong.test' (it names DNS:db.other.test)"},
        {"expired", p.server("localhost", "DNS:localhost", -30 * DAY, -DAY), "localhost", ca, "",
         MISMATCH + "certificate has expired"},
        {"another name, trusted anyway", p.server("db.other.test", "DNS:db.other.test"),
         "localhost", ca + "TrustServerCertificate=yes;", "localhost", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        peer::logon_script how;
        how.tls = &c.cert;
        logon_result r = try_logon(how, c.server, c.extra);
        if (c.refusal.empty()) {
            EXPECT_EQ(r.rc, SQL_SUCCESS) << qv::describe(r.diags);
            EXPECT_TRUE(r.logged_on);
            EXPECT_EQ(r.seen.sni, c.sni);
        } else {
            EXPECT_EQ(r.rc, SQL_ERROR);
            EXPECT_FALSE(r.logged_on) << "the response went to a server that is not the one";
            EXPECT_EQ(ends(r.diags), c.refusal) << qv::describe(r.diags);
        }
    }
}

// The test MariaDB's own certificate names 127.0.0.1 (an address) and
// localhost (a name): both ways in verify.
TEST(ServerIdentity, FixtureServerByNameAndByAddress)
{
    const qv::server_info &s = qv::server();
    for (const char *host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        qv::connection c;
        std::string cs = "DRIVER={" + s.driver_name + "};SERVER=" + host + ";PORT=" +
                         std::to_string(s.port) + ";UID=" + s.user + ";PWD=" + s.password +
                         ";DATABASE=" + s.database + ";Encrypt=yes;CertificateFile=" + s.ssl_ca +
                         ";";
        QV_EXPECT_SUCCEEDED(c.connect(cs), c.dbc);
    }
}

// A switch to mysql_clear_password is answered over TLS, or on plain TCP
// only with EnableCleartextPlugin=yes; refused, the server hears nothing.
TEST(ServerIdentity, ClearTextPasswordOnlyOverTlsOrByOptIn)
{
    test_pki &p = pki();
    const peer::tls_identity cert = p.server("localhost", "DNS:localhost");
    bytes sw{0xFE};
    fake::put_str(sw, "mysql_clear_password");
    sw.push_back(0);
    struct {
        const char *name;
        bool tls;
        std::string extra;
        bool sent;
    } cases[] = {
        {"plain TCP", false, "", false},
        {"plain TCP with the opt-in", false, "EnableCleartextPlugin=yes;", true},
        {"TLS", true, "Encrypt=yes;CertificateFile=" + p.ca_file + ";", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        peer::logon_script how;
        how.tls = c.tls ? &cert : nullptr;
        how.auth_switch = sw;
        logon_result r = try_logon(how, "localhost", c.extra);
        EXPECT_EQ(r.seen.answered, c.sent);
        if (c.sent) {
            EXPECT_EQ(r.rc, SQL_SUCCESS) << qv::describe(r.diags);
            EXPECT_EQ(r.seen.answer, (bytes{'s', 'e', 'c', 'r', 'e', 't', 0}));
        } else {
            EXPECT_EQ(r.rc, SQL_ERROR);
            EXPECT_EQ(ends(r.diags),
                      "08001 Client unable to establish connection: The server asks for the "
                      "password in clear text (mysql_clear_password) on a connection that is not "
                      "encrypted; use Encrypt=yes, or set EnableCleartextPlugin=yes to send it "
                      "anyway");
        }
    }
}

} // namespace
