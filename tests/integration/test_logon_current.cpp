// The logons of current servers through the driver manager.
//
// caching_sha2_password (MySQL 8 and 9) against a scripted server that plays
// the server side of the method as the protocol describes it: the fast path
// (scramble checked against SHA256(SHA256(pw)) when the server's cache holds
// it), the full path over TLS (password in clear inside TLS) and without TLS
// (RSA OAEP, with the server's key asked for or with PublicKeyFile), the
// method announced in the greeting or requested by a switch, and hostile
// status and key packets. On plain TCP the password must never appear in
// anything the driver sends.
//
// client_ed25519 against the fixture's MariaDB with the auth_ed25519 plugin.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "integration/fake_peer.h"
#include "support/qv_support.h"

namespace {

using fake::bytes;
using fake::operator+;

const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";
const std::string PASSWORD = "secret";   // the password peer::conn_str logs on with
const std::string NONCE = "N0nce-of-twenty-byte";
const std::string SWITCH_NONCE = "Sw1tch-nonce-20bytes";

bytes b_of(const std::string &s) { return bytes(s.begin(), s.end()); }

bytes sha256(const bytes &a, const bytes &b = bytes())
{
    bytes d = a + b, out(32);
    unsigned len = 0;
    EVP_Digest(d.data(), d.size(), out.data(), &len, EVP_sha256(), nullptr);
    return out;
}

// The server's RSA key pair, made once.
struct rsa_keys {
    EVP_PKEY *key = EVP_RSA_gen(2048);
    std::string public_pem;
    rsa_keys()
    {
        BIO *bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PUBKEY(bio, key);
        char *data = nullptr;
        long n = BIO_get_mem_data(bio, &data);
        public_pem.assign(data, (size_t)n);
        BIO_free(bio);
    }
    ~rsa_keys() { EVP_PKEY_free(key); }
    // The password the server recovers: OAEP-decrypted, unmasked with the
    // nonce, terminator dropped; "" when anything does not fit.
    std::string recover(const bytes &cipher, const std::string &nonce) const
    {
        EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
        size_t len = 0;
        bytes out;
        if (EVP_PKEY_decrypt_init(ctx) > 0 &&
            EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) > 0 &&
            EVP_PKEY_decrypt(ctx, nullptr, &len, cipher.data(), cipher.size()) > 0) {
            out.resize(len);
            out.resize(EVP_PKEY_decrypt(ctx, out.data(), &len, cipher.data(), cipher.size()) > 0
                           ? len : 0);
        }
        EVP_PKEY_CTX_free(ctx);
        for (size_t i = 0; i < out.size(); i++)
            out[i] ^= (uint8_t)nonce[i % 20];
        if (out.empty() || out.back() != 0)
            return "";
        return std::string(out.begin(), out.end() - 1);
    }
};

const rsa_keys &keys()
{
    static rsa_keys k;
    return k;
}

// ------------------------------------------------- the scripted MySQL 8

struct mysql8 {
    std::string account_password = PASSWORD;
    bool announce_sha2 = true;   // else the greeting names mysql_native_password
    bool cached = false;         // the server's cache holds the account's hash
    bool tls = false;
    std::vector<bytes> hostile;  // sent instead of the protocol after the scramble
};

struct mysql8_seen {
    std::vector<bytes> packets;   // everything the client sent, response included
    std::string response_plugin;
    bytes scramble;
    std::string path;             // "fast", "clear", "rsa-asked", "rsa-file", "refused"
    std::string recovered;        // the password learned on the full path
};

// The method name that ends a 4.1 response, "" when none.
std::string response_plugin(const bytes &r)
{
    size_t i = 32;
    while (i < r.size() && r[i] != 0)   // user
        i++;
    if (++i >= r.size())
        return "";
    size_t n = r[i++];
    i += n;
    if (peer::get_u32(r) & 0x8)   // CLIENT_CONNECT_WITH_DB
        while (i < r.size() && r[i++] != 0) {
        }
    std::string name;
    while (i < r.size() && r[i] != 0)
        name += (char)r[i++];
    return name;
}

bytes response_auth(const bytes &r)
{
    size_t i = 32;
    while (i < r.size() && r[i] != 0)
        i++;
    if (++i >= r.size() || i + 1 + r[i] > r.size())
        return bytes();
    return bytes(r.begin() + (long)i + 1, r.begin() + (long)i + 1 + r[i]);
}

bool scramble_ok(const bytes &answer, const std::string &password, const std::string &nonce)
{
    if (answer.size() != 32)
        return false;
    bytes stored = sha256(sha256(b_of(password)));
    bytes mask = sha256(stored, b_of(nonce));
    bytes candidate(32);
    for (int i = 0; i < 32; i++)
        candidate[i] = answer[i] ^ mask[i];
    return sha256(candidate) == stored;
}

bytes access_denied()
{
    return fake::err_packet(1045, "28000",
                            "Access denied for user 'qvpeer'@'localhost' (using password: YES)");
}

void play(fake::session &s, const mysql8 &how, mysql8_seen *seen)
{
    fake::greeting_info g;
    g.server_version = "8.4.0-fake";
    g.scramble = NONCE;
    g.auth_plugin = how.announce_sha2 ? "caching_sha2_password" : "mysql_native_password";
    if (how.tls)
        g.capabilities |= fake::CAP_SSL;
    uint8_t seq = 0;
    bytes p;
    auto send = [&](const bytes &b) { return s.send_packet(++seq, b); };
    auto read = [&](bytes *b) {
        if (!s.read_packet(&seq, b, 3000))
            return false;
        seen->packets.push_back(*b);
        return true;
    };
    if (!s.send_packet(0, fake::greeting(g)) || !read(&p))
        return;
    if (how.tls) {
        const qv::server_info &srv = qv::server();
        if (!s.start_tls(srv.ssl_server_cert, srv.ssl_server_key) || !read(&p))
            return;
    }
    seen->response_plugin = response_plugin(p);
    std::string nonce = NONCE;
    bytes answer = response_auth(p);
    if (seen->response_plugin != "caching_sha2_password") {
        nonce = SWITCH_NONCE;
        bytes sw{0xFE};
        fake::put_str(sw, "caching_sha2_password");
        sw.push_back(0);
        if (!send(sw + b_of(nonce) + bytes{0}) || !read(&answer))
            return;
    }
    seen->scramble = answer;
    if (!how.hostile.empty()) {
        // the client answers some of these and not others: a short wait
        // tells; the end of the script hangs up
        for (const bytes &h : how.hostile) {
            if (!send(h))
                break;
            if (s.read_packet(&seq, &p, 500))
                seen->packets.push_back(p);
        }
        s.close();
        return;
    }
    bool ok;
    if (answer.empty()) {
        ok = how.account_password.empty();
    } else if (!scramble_ok(answer, how.account_password, nonce)) {
        ok = false;
    } else if (how.cached) {
        seen->path = "fast";
        ok = send(bytes{0x01, 0x03});
    } else {
        if (!send(bytes{0x01, 0x04}) || !read(&p))
            return;
        if (p == bytes{0x02}) {
            seen->path = "rsa-asked";
            if (!send(bytes{0x01} + b_of(keys().public_pem)) || !read(&p))
                return;
            seen->recovered = keys().recover(p, nonce);
        } else if (how.tls) {
            seen->path = "clear";
            if (!p.empty() && p.back() == 0)
                seen->recovered.assign(p.begin(), p.end() - 1);
        } else {
            seen->path = "rsa-file";
            seen->recovered = keys().recover(p, nonce);
        }
        ok = seen->recovered == how.account_password;
    }
    if (!ok) {
        seen->path = "refused";
        send(access_denied());
        return;
    }
    if (send(fake::ok_packet()))
        peer::serve(s);
}

struct attempt {
    SQLRETURN rc;
    std::vector<qv::diag_record> diags;
};

attempt logon(const mysql8 &how, mysql8_seen *seen, const std::string &extra = "",
              const std::string &password = PASSWORD)
{
    fake::server srv([&](fake::session &s) { play(s, how, seen); });
    std::string cs = peer::conn_str(srv.port(), extra);
    if (password != PASSWORD)
        cs.replace(cs.find(";PWD=" + PASSWORD + ";"), 6 + PASSWORD.size(), ";PWD=" + password);
    qv::connection c;
    attempt a;
    a.rc = c.connect(cs);
    a.diags = qv::diagnostics(c.dbc);
    return a;
}

bool contains(const bytes &hay, const std::string &needle)
{
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

// The password may cross a plain wire only scrambled or encrypted.
void expect_never_in_clear(const mysql8_seen &seen, const std::string &password = PASSWORD)
{
    for (const bytes &p : seen.packets)
        EXPECT_FALSE(contains(p, password)) << "the password went out readable";
}

struct key_file {
    std::string path;
    key_file()
    {
        char name[] = "/tmp/qvsha2keyXXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0) {
            path = name;
            const std::string &pem = keys().public_pem;
            if (write(fd, pem.data(), pem.size()) != (ssize_t)pem.size())
                path.clear();
            close(fd);
        }
    }
    ~key_file()
    {
        if (!path.empty())
            unlink(path.c_str());
    }
};

// ================================================== caching_sha2_password

TEST(CachingSha2, LogsOnByEveryPath)
{
    key_file kf;
    ASSERT_FALSE(kf.path.empty());
    const std::string tls = "Encrypt=1;TrustServerCertificate=yes;";
    struct {
        const char *name;
        mysql8 how;
        std::string extra;
        const char *path;
        bool plain_wire;
    } cases[] = {
        {"fast path, method in the greeting", {PASSWORD, true, true, false, {}}, "", "fast", true},
        {"fast path after a switch", {PASSWORD, false, true, false, {}}, "", "fast", true},
        {"full path over TLS", {PASSWORD, true, false, true, {}}, tls, "clear", false},
        {"full path over TLS after a switch", {PASSWORD, false, false, true, {}}, tls, "clear", false},
        {"full path, the server's key asked for", {PASSWORD, true, false, false, {}}, "",
         "rsa-asked", true},
        {"full path, key asked for after a switch", {PASSWORD, false, false, false, {}}, "",
         "rsa-asked", true},
        {"full path with PublicKeyFile", {PASSWORD, true, false, false, {}},
         "PublicKeyFile=" + kf.path + ";", "rsa-file", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        mysql8_seen seen;
        attempt a = logon(c.how, &seen, c.extra);
        EXPECT_TRUE(SQL_SUCCEEDED(a.rc)) << qv::describe(a.diags);
        EXPECT_EQ(seen.path, c.path);
        EXPECT_EQ(seen.scramble.size(), 32u);
        if (c.how.announce_sha2) {
            EXPECT_EQ(seen.response_plugin, "caching_sha2_password");
        }
        if (seen.path != "fast") {
            EXPECT_EQ(seen.recovered, PASSWORD);
        }
        if (c.plain_wire)
            expect_never_in_clear(seen);
    }
}

TEST(CachingSha2, EmptyPasswordAndRefusals)
{
    {
        SCOPED_TRACE("account without a password: empty answer");
        mysql8 how;
        how.account_password = "";
        mysql8_seen seen;
        fake::server srv([&](fake::session &s) { play(s, how, &seen); });
        qv::connection c;
        SQLRETURN rc = c.connect("DRIVER={" + qv::server().driver_name +
                                 "};SERVER=127.0.0.1;PORT=" + std::to_string(srv.port()) +
                                 ";UID=qvpeer;PWD=;DATABASE=test;");
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(c.dbc));
        EXPECT_TRUE(seen.scramble.empty());
    }
    for (bool cached : {true, false}) {
        SCOPED_TRACE(cached ? "wrong password, cached" : "wrong password, not cached");
        mysql8 how;
        how.cached = cached;
        mysql8_seen seen;
        attempt a = logon(how, &seen, "", "not-the-password");
        EXPECT_EQ(a.rc, SQL_ERROR);
        ASSERT_FALSE(a.diags.empty());
        EXPECT_EQ(a.diags[0].sqlstate, "28000");
        EXPECT_EQ(a.diags[0].native, 1045);
        EXPECT_EQ(a.diags[0].text,
                  PREFIX + "Access denied for user 'qvpeer'@'localhost' (using password: YES)");
        expect_never_in_clear(seen, "not-the-password");
    }
}

// Whatever the server answers after the scramble, the logon ends with a
// diagnostic, and on plain TCP the password never goes out readable.
TEST(CachingSha2, HostileAnswers)
{
    bytes not_a_key = bytes{0x01} + b_of("-----BEGIN PUBLIC KEY-----\nnot base64 at all\n");
    bytes ec_key = bytes{0x01} + b_of("-----BEGIN PUBLIC KEY-----\n"
                                      "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEbYxvD3PPu5HeJ8r9ZB3lOIx6"
                                      "Wn4xbDN2Xt/Npm3K1Xb4JVEXlgxSGRHR/4a5lcQzdEUfcDhdq7aLZVhObTG3"
                                      "nA==\n-----END PUBLIC KEY-----\n");
    bytes clear_switch{0xFE};
    fake::put_str(clear_switch, "mysql_clear_password");
    clear_switch.push_back(0);
    struct {
        const char *name;
        std::vector<bytes> hostile;
        const char *state;
        std::string text;
    } cases[] = {
        {"status cut short", {bytes{0x01}}, "08S01", "malformed status packet of length (1)"},
        {"status too long", {bytes{0x01, 0x03, 0x00}}, "08S01", "malformed status packet"},
        {"unknown status", {bytes{0x01, 0x07}}, "08S01", "unknown status (7)"},
        {"key that is no key", {bytes{0x01, 0x04}, not_a_key}, "08S01", "no usable RSA public key"},
        {"empty key", {bytes{0x01, 0x04}, bytes{0x01}}, "08S01", "no usable RSA public key"},
        {"key of another type", {bytes{0x01, 0x04}, ec_key}, "08S01", "no usable RSA public key"},
        {"full authentication asked twice", {bytes{0x01, 0x04}, bytes{0x01, 0x04}}, "08S01",
         "no usable RSA public key"},
        {"more after fast authentication", {bytes{0x01, 0x03}, bytes{0x01, 0x04}}, "08S01",
         "unexpected packet after fast authentication"},
        {"switch to clear text on a plain wire", {clear_switch}, "08001",
         "mysql_clear_password"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        mysql8 how;
        how.hostile = c.hostile;
        mysql8_seen seen;
        attempt a = logon(how, &seen);
        EXPECT_EQ(a.rc, SQL_ERROR);
        ASSERT_FALSE(a.diags.empty());
        EXPECT_EQ(a.diags[0].sqlstate, c.state) << qv::describe(a.diags);
        EXPECT_NE(a.diags[0].text.find(c.text), std::string::npos) << a.diags[0].text;
        expect_never_in_clear(seen);
    }
}

// ============================================================ ed25519

const char ED_USER[] = "qvcurrent_ed", ED_PASSWORD[] = "ed-Pass_25519";
// U+00E4 and U+20AC: the signature is over the password's UTF-8 bytes
const char ED_WIDE_USER[] = "qvcurrent_edw", ED_WIDE_PASSWORD[] = "ed-P\xC3\xA4ss-\xE2\x82\xAC";
const std::u16string ED_WIDE_PASSWORD16 = u"ed-P\u00E4ss-\u20AC";

class Ed25519 : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        qv::sql_result r = qv::server_sql(
            std::string("CREATE OR REPLACE USER '") + ED_USER +
            "'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('" + ED_PASSWORD + "');" +
            "CREATE OR REPLACE USER '" + ED_WIDE_USER +
            "'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('" + ED_WIDE_PASSWORD + "');" +
            "GRANT SELECT ON `" + qv::server().database + "`.* TO '" + ED_USER + "'@'%', '" +
            ED_WIDE_USER + "'@'%';");
        ASSERT_EQ(r.status, 0) << r.output;
    }
    static std::string conn(const std::string &password, const char *user = ED_USER)
    {
        const qv::server_info &s = qv::server();
        return "DRIVER={" + s.driver_name + "};SERVER=127.0.0.1;PORT=" + std::to_string(s.port) +
               ";UID=" + user + ";PWD=" + password + ";DATABASE=" + s.database + ";";
    }
};

TEST_F(Ed25519, LogsOnAndRunsAQuery)
{
    qv::connection c;
    QV_ASSERT_SUCCEEDED(c.connect(conn(ED_PASSWORD)), c.dbc);
    qv::handle st = qv::alloc_stmt(c.dbc);
    ASSERT_TRUE(st);
    QV_ASSERT_SUCCEEDED(SQLExecDirect(st, (SQLCHAR *)"SELECT CURRENT_USER()", SQL_NTS), st);
    ASSERT_EQ(SQLFetch(st), SQL_SUCCESS);
    char user[128] = {0};
    SQLLEN ind = 0;
    SQLGetData(st, 1, SQL_C_CHAR, user, sizeof user, &ind);
    EXPECT_EQ(std::string(user), std::string(ED_USER) + "@%");
}

TEST_F(Ed25519, PasswordBeyondAsciiThroughTheWideEntryPoint)
{
    const qv::server_info &s = qv::server();
    std::string head = "DRIVER={" + s.driver_name + "};SERVER=127.0.0.1;PORT=" +
                       std::to_string(s.port) + ";UID=" + ED_WIDE_USER + ";PWD=";
    std::string tail = ";DATABASE=" + s.database + ";";
    std::vector<SQLWCHAR> cs(head.begin(), head.end());
    cs.insert(cs.end(), ED_WIDE_PASSWORD16.begin(), ED_WIDE_PASSWORD16.end());
    cs.insert(cs.end(), tail.begin(), tail.end());
    cs.push_back(0);
    qv::connection c;
    SQLRETURN rc = SQLDriverConnectW(c.dbc, nullptr, cs.data(), SQL_NTS, nullptr, 0, nullptr,
                                     SQL_DRIVER_NOPROMPT);
    QV_ASSERT_SUCCEEDED(rc, c.dbc);
    c.connected = true;
}

// Narrow applications on Linux write UTF-8: the same password reaches the
// server as the same characters through a connection string and SQLConnect.
TEST_F(Ed25519, Utf8PasswordThroughTheNarrowEntryPoints)
{
    {
        qv::connection c;
        QV_ASSERT_SUCCEEDED(c.connect(conn(ED_WIDE_PASSWORD, ED_WIDE_USER)), c.dbc);
    }
    qv::connection c;
    SQLRETURN rc = SQLConnect(c.dbc, (SQLCHAR *)qv::server().dsn.c_str(), SQL_NTS,
                              (SQLCHAR *)ED_WIDE_USER, SQL_NTS, (SQLCHAR *)ED_WIDE_PASSWORD, SQL_NTS);
    QV_ASSERT_SUCCEEDED(rc, c.dbc);
    c.connected = true;
}

TEST_F(Ed25519, WrongPasswordIsRefusedWithTheServersText)
{
    for (const char *pw : {"ed-wrong", ""}) {
        SCOPED_TRACE(pw);
        qv::connection c;
        EXPECT_EQ(c.connect(conn(pw)), SQL_ERROR);
        auto d = qv::diagnostics(c.dbc);
        ASSERT_FALSE(d.empty());
        EXPECT_EQ(d[0].sqlstate, "28000") << qv::describe(d);
        EXPECT_EQ(d[0].native, 1045);
        EXPECT_EQ(d[0].text.rfind(PREFIX + "Access denied for user '" + ED_USER + "'", 0), 0u)
            << d[0].text;
    }
}

} // namespace
