// Logon against the scripted fake server: the greeting decoder on cut and
// hostile input, the handshake response, every authentication method the
// driver answers itself (native, old, clear, sha256 with the server's key or
// a key file), auth switches, time-outs and compression after logon.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "connect/my_connect.h"
#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_logon.h"
#include "protocol/my_proto.h"
#include "support/unit_support.h"

namespace {

using fake::bytes;
using fake::operator+;

const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";
const std::string SALT = "abcdefghijklmnopqrst";   // the greeting's 20 scramble bytes
const std::string SWITCH_SALT = "ABCDEFGHIJKLMNOPQRST";

using unit_support::now_ms;
using unit_support::text_of;
using unit_support::all_diags;
using unit_support::has_diag;

bool only_state(const void *h, const std::string &state)
{
    for (int i = 1; i <= diag_count(h); i++)
        if (text_of(diag_get(h, i)->sqlstate) != state)
            return false;
    return diag_count(h) > 0;
}

bytes b_of(const std::string &s) { return bytes(s.begin(), s.end()); }

// ---- server side of the protocol -------------------------------------

const uint32_t DEFAULT_CAPS = fake::greeting_info().capabilities;

struct hello {
    int protocol = 10;
    std::string version = "5.7.30-fake";
    uint32_t id = 0x01020304;
    std::string scramble = SALT;
    uint32_t caps = DEFAULT_CAPS;
    uint8_t charset = 33;
    uint16_t status = 2;
    int data_len = -1;   // -1: 21 with CLIENT_PLUGIN_AUTH, else 0
    std::string plugin = "mysql_native_password";
};

bytes greet(const hello &h)
{
    bytes b{(uint8_t)h.protocol};
    fake::put_str(b, h.version);
    b.push_back(0);
    fake::put_u32(b, h.id);
    if (h.protocol != 10) {
        fake::put_str(b, h.scramble);
        b.push_back(0);
        return b;
    }
    fake::put_str(b, h.scramble.substr(0, 8));
    b.push_back(0);
    fake::put_u16(b, (uint16_t)h.caps);
    b.push_back(h.charset);
    fake::put_u16(b, h.status);
    fake::put_u16(b, (uint16_t)(h.caps >> 16));
    int len = h.data_len >= 0 ? h.data_len : (h.caps & CLIENT_PLUGIN_AUTH) ? 21 : 0;
    b.push_back((uint8_t)len);
    b.insert(b.end(), 10, 0);
    if (h.caps & CLIENT_SECURE_CONNECTION) {
        size_t part2 = len < 21 ? 13 : (size_t)len - 8;
        bytes p2 = b_of(h.scramble.substr(8));
        p2.resize(part2, 0);
        b = b + p2;
    }
    if (h.caps & CLIENT_PLUGIN_AUTH) {
        fake::put_str(b, h.plugin);
        b.push_back(0);
    }
    return b;
}

bytes auth_switch(const std::string &method, const bytes &data)
{
    bytes b{0xFE};
    fake::put_str(b, method);
    b.push_back(0);
    return b + data;
}

bytes salt_data(const std::string &salt) { return b_of(salt) + bytes{0}; }

// The 4.1 handshake response as a server reads it.
struct response41 {
    bool ok = false;
    uint32_t flags = 0, max_packet = 0;
    uint8_t charset = 0;
    std::string user, database, plugin;
    bytes auth;
    bool has_plugin = false;
    size_t size = 0;
};

uint32_t le(const bytes &b, size_t at, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; i++)
        v |= (uint32_t)b[at + i] << (8 * i);
    return v;
}

bool cstring_at(const bytes &b, size_t *i, std::string *out)
{
    out->clear();
    while (*i < b.size() && b[*i] != 0)
        *out += (char)b[(*i)++];
    if (*i >= b.size())
        return false;
    (*i)++;
    return true;
}

response41 parse41(const bytes &b)
{
    response41 r;
    r.size = b.size();
    if (b.size() < 32)
        return r;
    r.flags = le(b, 0, 4);
    r.max_packet = le(b, 4, 4);
    r.charset = b[8];
    size_t i = 32;
    if (!cstring_at(b, &i, &r.user) || i >= b.size())
        return r;
    size_t n = b[i++];
    if (i + n > b.size())
        return r;
    r.auth.assign(b.begin() + (long)i, b.begin() + (long)(i + n));
    i += n;
    if ((r.flags & CLIENT_CONNECT_WITH_DB) && !cstring_at(b, &i, &r.database))
        return r;
    if (i < b.size()) {
        r.has_plugin = true;
        if (!cstring_at(b, &i, &r.plugin))
            return r;
    }
    r.ok = i == b.size();
    return r;
}

bytes sha1(const bytes &a, const bytes &b = bytes())
{
    bytes d = a + b, out(20);
    unsigned len = 0;
    EVP_Digest(d.data(), d.size(), out.data(), &len, EVP_sha1(), nullptr);
    return out;
}

// The server's check of a mysql_native_password answer, from the stored
// hash SHA1(SHA1(pw)) only: stage1 = answer XOR SHA1(salt + stored) must
// hash to the stored value.
bool native_answer_ok(const bytes &answer, const std::string &password, const std::string &salt)
{
    if (answer.size() != 20)
        return false;
    bytes stored = sha1(sha1(b_of(password)));
    bytes mask = sha1(b_of(salt.substr(0, 20)), stored);
    bytes stage1(20);
    for (int i = 0; i < 20; i++)
        stage1[i] = answer[i] ^ mask[i];
    return sha1(stage1) == stored;
}

// An RSA key pair made once for the sha256_password tests.
struct rsa_pair {
    EVP_PKEY *key = nullptr;
    std::string public_pem;
    rsa_pair()
    {
        key = EVP_RSA_gen(2048);
        BIO *bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PUBKEY(bio, key);
        char *data = nullptr;
        long n = BIO_get_mem_data(bio, &data);
        public_pem.assign(data, (size_t)n);
        BIO_free(bio);
    }
    ~rsa_pair() { EVP_PKEY_free(key); }
    bytes decrypt(const bytes &cipher) const
    {
        EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
        size_t len = 0;
        bytes out;
        if (EVP_PKEY_decrypt_init(ctx) > 0 &&
            EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) > 0 &&
            EVP_PKEY_decrypt(ctx, nullptr, &len, cipher.data(), cipher.size()) > 0) {
            out.resize(len);
            if (EVP_PKEY_decrypt(ctx, out.data(), &len, cipher.data(), cipher.size()) > 0)
                out.resize(len);
            else
                out.clear();
        }
        EVP_PKEY_CTX_free(ctx);
        return out;
    }
};

const rsa_pair &keys()
{
    static rsa_pair pair;
    return pair;
}

// What the server learns from a sha256_password answer: the password, once
// decrypted and unmasked, or "" when the answer does not decrypt.
std::string sha256_password_of(const bytes &cipher, const std::string &salt)
{
    bytes plain = keys().decrypt(cipher);
    if (plain.empty() || plain.size() > 1000)
        return "";
    for (size_t i = 0; i < plain.size(); i++)
        plain[i] ^= (uint8_t)salt[i % 20];
    if (plain.back() != 0)
        return "<no terminator>";
    return std::string(plain.begin(), plain.end() - 1);
}

// After the logon the server answers whatever the client sends with OK, so
// that whatever follows the logon finds a server, until the client leaves.
void serve_ok(fake::session &s)
{
    uint8_t seq;
    bytes cmd;
    while (s.read_packet(&seq, &cmd, 10000))
        s.send_packet((uint8_t)(seq + 1), fake::ok_packet());
}

// A scripted logon: greeting, the client's response, then steps.
struct step {
    enum kind { SEND, READ } k;
    bytes payload;
    int seq_skip = 0;   // added to the sequence number of a SEND
};

step send(const bytes &b, int skip = 0) { return step{step::SEND, b, skip}; }
step read() { return step{step::READ, {}, 0}; }

struct transcript {
    bytes response;
    uint8_t response_seq = 0xFF;
    std::vector<bytes> answers;   // packets read by READ steps
    bool complete = false;
};

fake::server::script scripted(const hello &h, std::vector<step> steps, transcript *t,
                              bool then_ok = false)
{
    return [h, steps, t, then_ok](fake::session &s) {
        if (!s.send_packet(0, greet(h)))
            return;
        uint8_t seq;
        if (!s.read_packet(&seq, &t->response))
            return;
        t->response_seq = seq;
        for (const step &st : steps) {
            if (st.k == step::SEND) {
                seq = (uint8_t)(seq + 1 + st.seq_skip);
                if (!s.send_packet(seq, st.payload))
                    return;
            } else {
                bytes a;
                if (!s.read_packet(&seq, &a))
                    return;
                t->answers.push_back(a);
            }
        }
        t->complete = true;
        if (then_ok) {
            s.send_packet((uint8_t)(seq + 1), fake::ok_packet());
            serve_ok(s);
        }
    };
}

// ---- the fixture -----------------------------------------------------

struct logon : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);

    void SetUp() override { conn->ConnectionTimeout = 5000; }   // nothing may hang
    void TearDown() override { env_release(env); }

    void set(my_string **field, const char *v)
    {
        ms_free(*field);
        *field = v ? ms_from_latin1(v) : nullptr;
    }
    void target(const fake::server &srv, const char *user = "qvuser", const char *pw = "secret",
                const char *db = nullptr)
    {
        ASSERT_TRUE(srv.ok());
        set(&conn->SERVER, "127.0.0.1");
        conn->PORT = srv.port();
        set(&conn->UID, user);
        set(&conn->PWD, pw);
        set(&conn->DATABASE, db);
    }
    // my_connect's result when it logged on: 0, or 1 once the session set-up
    // behind it finds the fake server wanting.
    void expect_logged_on(int rc)
    {
        EXPECT_TRUE(rc == 0 || rc == 1) << rc << "\n" << all_diags(conn);
        EXPECT_EQ(conn->connected, 1);
    }
    void expect_failed(int rc)
    {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(conn->connected, 0);
        EXPECT_EQ(conn->sock, -1) << "a failed logon keeps no socket";
        EXPECT_GT(diag_count(conn), 0);
    }
};

// An incoming packet holding exactly payload (no slack, so an over-read is
// caught by the sanitizer).
using unit_support::incoming;

// ================================================================ greeting

TEST_F(logon, GreetingDecodesEveryField)
{
    hello h;
    h.status = SERVER_STATUS_AUTOCOMMIT | SERVER_STATUS_IN_TRANS;
    my_packet *p = incoming(conn, greet(h));
    ASSERT_EQ(decode_handshake_packet(conn, p), 0) << all_diags(conn);
    packet_free(p);
    EXPECT_EQ(conn->protocol_version, 10);
    EXPECT_EQ(text_of(conn->server_version), "5.7.30-fake");
    EXPECT_EQ(bytes(conn->connection_id, conn->connection_id + 4), (bytes{4, 3, 2, 1}));
    EXPECT_EQ(std::string((char *)conn->scramble, 20), SALT);
    EXPECT_EQ(conn->scramble_length, 21);
    EXPECT_EQ(conn->server_caps, DEFAULT_CAPS);
    EXPECT_EQ(conn->charset, 33);
    EXPECT_EQ(conn->ConvToUtf, 1);
    EXPECT_EQ(conn->server_status, 3u);
    EXPECT_EQ(conn->auth_plugin_data_length, 21);
    EXPECT_EQ(text_of(conn->auth_plugin_name), "mysql_native_password");
}

TEST_F(logon, GreetingScrambleLengths)
{
    struct {
        int data_len;
        int expect_len;
    } cases[] = {{0, 21}, {8, 21}, {20, 21}, {21, 21}, {33, 33}};
    for (const auto &t : cases) {
        SCOPED_TRACE(t.data_len);
        hello h;
        h.data_len = t.data_len;
        h.scramble = SALT + std::string(40, 'z');
        my_packet *p = incoming(conn, greet(h));
        EXPECT_EQ(decode_handshake_packet(conn, p), 0) << all_diags(conn);
        packet_free(p);
        EXPECT_EQ(conn->scramble_length, t.expect_len);
        EXPECT_EQ(std::string((char *)conn->scramble, 20), SALT);
    }
}

// Every cut of a greeting decodes or fails with 08S01, and never reads past
// the bytes it was given (the packet buffer is exactly the cut's size).
TEST_F(logon, GreetingCutAtEveryLengthNeverOverReads)
{
    for (uint32_t caps : {DEFAULT_CAPS, (uint32_t)(CLIENT_PROTOCOL_41 | CLIENT_SECURE_CONNECTION)}) {
        hello h;
        h.caps = caps;
        const bytes full = greet(h);
        for (size_t n = 0; n <= full.size(); n++) {
            SCOPED_TRACE(n);
            clear_diagnostics(conn);
            my_packet *p = incoming(conn, bytes(full.begin(), full.begin() + (long)n));
            int rc = decode_handshake_packet(conn, p);
            packet_free(p);
            if (n == full.size()) {
                EXPECT_EQ(rc, 0);
            }
            if (rc != 0) {
                EXPECT_EQ(rc, -6);
                EXPECT_TRUE(only_state(conn, "08S01")) << all_diags(conn);
            }
            // without scramble part 2 nothing may claim a 20-byte scramble
            if (rc == 0 && (conn->server_caps & CLIENT_SECURE_CONNECTION)) {
                EXPECT_EQ(conn->scramble_length, 21);
            }
        }
    }
}

TEST_F(logon, Protocol9IsDecodedButRefused)
{
    hello h;
    h.protocol = 9;
    h.version = "3.20.32";
    h.scramble = "12345678";
    my_packet *p = incoming(conn, greet(h));
    ASSERT_EQ(decode_handshake_packet(conn, p), 0);
    packet_free(p);
    EXPECT_EQ(conn->protocol_version, 9);
    EXPECT_EQ(text_of(conn->server_version), "3.20.32");
    EXPECT_EQ(conn->scramble_length, 8);
    EXPECT_EQ(std::string((char *)conn->scramble, 8), "12345678");
    EXPECT_EQ(conn->server_caps, 0u);

    transcript t;
    fake::server srv(scripted(h, {}, &t));
    target(srv);
    expect_failed(my_connect(conn));
    EXPECT_EQ(diag_count(conn), 1) << all_diags(conn);
    EXPECT_TRUE(has_diag(conn, "08S01", PREFIX + "Communication link failure")) << all_diags(conn);
    EXPECT_TRUE(t.response.empty()) << "nothing is answered to protocol 9";
}

TEST_F(logon, OtherProtocolVersionsAreRefused)
{
    for (uint8_t version : {0, 8, 11, 0xFE}) {
        SCOPED_TRACE((int)version);
        clear_diagnostics(conn);
        bytes g = greet(hello());
        g[0] = version;
        my_packet *p = incoming(conn, g);
        EXPECT_EQ(decode_handshake_packet(conn, p), -6);
        packet_free(p);
        EXPECT_TRUE(only_state(conn, "08S01")) << all_diags(conn);
    }
}

TEST_F(logon, ServerVersionNumbers)
{
    struct {
        const char *text, *kept;
        int major, minor, patch;
    } cases[] = {
        {"5.7.22-log", "5.7.22-log", 5, 7, 22},
        {"5.5.5-10.11.6-MariaDB-0+deb12u1", "10.11.6-MariaDB-0+deb12u1", 10, 11, 6},
        {"5.5.5-ordinary", "5.5.5-ordinary", 5, 5, 5},
        {"8.0", "8.0", 8, 0, 0},
        {"4", "4", 4, 0, 0},
        {"", "", 0, 0, 0},
        {"abc", "abc", 0, 0, 0},
        {"99999999999999.1.2", "99999999999999.1.2", INT32_MAX, 1, 2},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.text);
        set(&conn->server_version, t.text);
        decode_server_version(conn);
        EXPECT_EQ(text_of(conn->server_version), t.kept);
        EXPECT_EQ(conn->version_major, t.major);
        EXPECT_EQ(conn->version_minor, t.minor);
        EXPECT_EQ(conn->version_patch, t.patch);
    }
}

// ================================================== logon over the socket

TEST_F(logon, NativePasswordWithAnnouncedPluginNeedsNoSwitch)
{
    transcript t;
    fake::server srv(scripted(hello(), {}, &t, true));
    target(srv, "qvuser", "secret", "qvtest");
    expect_logged_on(my_connect(conn));
    ASSERT_TRUE(t.complete);
    EXPECT_EQ(t.response_seq, 1);
    response41 r = parse41(t.response);
    ASSERT_TRUE(r.ok) << r.size;
    const uint32_t always = CLIENT_PROTOCOL_41 | CLIENT_ODBC | CLIENT_LOCAL_FILES |
                            CLIENT_FOUND_ROWS | CLIENT_SECURE_CONNECTION;
    const uint32_t mirrored = CLIENT_TRANSACTIONS | CLIENT_PLUGIN_AUTH | CLIENT_LONG_PASSWORD |
                              CLIENT_MULTI_RESULTS | CLIENT_MULTI_STATEMENTS;
    EXPECT_EQ(r.flags, always | mirrored | CLIENT_CONNECT_WITH_DB);
    EXPECT_EQ(conn->client_caps, r.flags);
    EXPECT_EQ(r.max_packet, 0xFFFFFFu);
    EXPECT_EQ(r.charset, 33);
    EXPECT_EQ(r.user, "qvuser");
    EXPECT_TRUE(native_answer_ok(r.auth, "secret", SALT));
    EXPECT_EQ(r.database, "qvtest");
    EXPECT_TRUE(r.has_plugin);
    EXPECT_EQ(r.plugin, "mysql_native_password");
    EXPECT_EQ(text_of(conn->current_database), "qvtest");
    EXPECT_EQ(conn->compress_active, 0);
    EXPECT_EQ(conn->version_major, 5);
    EXPECT_EQ(conn->version_minor, 7);
}

TEST_F(logon, ResponseVariants)
{
    struct {
        const char *name;
        const char *user, *pw, *db;
        int req_charset;
        uint32_t caps;
        std::string plugin;
        // expectations
        const char *user_sent;
        size_t auth_len;
        uint8_t charset;
        bool named_plugin;
    } cases[] = {
        {"empty password sends one 0 byte", "u", "", nullptr, 0, DEFAULT_CAPS,
         "mysql_native_password", "u", 0, 33, true},
        {"no password at all", "u", nullptr, nullptr, 0, DEFAULT_CAPS, "mysql_native_password",
         "u", 0, 33, true},
        {"no user sends ODBC", nullptr, "pw", nullptr, 0, DEFAULT_CAPS, "mysql_native_password",
         "ODBC", 20, 33, true},
        {"ReqCharSet 8 carries 8", "u", "pw", nullptr, 8, DEFAULT_CAPS, "mysql_native_password",
         "u", 20, 8, true},
        {"another default method is not named", "u", "pw", nullptr, 0, DEFAULT_CAPS,
         "sha256_password", "u", 20, 33, false},
        {"without plugin auth the name goes along", "u", "pw", nullptr, 0,
         DEFAULT_CAPS & ~(uint32_t)CLIENT_PLUGIN_AUTH, "", "u", 20, 33, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        hello h;
        h.caps = c.caps;
        h.plugin = c.plugin;
        transcript t;
        fake::server srv(scripted(h, {}, &t, true));
        target(srv, c.user, c.pw, c.db);
        conn->ReqCharSet = c.req_charset;
        expect_logged_on(my_connect(conn));
        response41 r = parse41(t.response);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.user, c.user_sent);
        EXPECT_EQ(r.auth.size(), c.auth_len);
        if (c.auth_len == 20) {
            EXPECT_TRUE(native_answer_ok(r.auth, c.pw, SALT));
        }
        EXPECT_EQ(r.charset, c.charset);
        EXPECT_EQ(conn->charset, c.charset);
        EXPECT_EQ(r.has_plugin, c.named_plugin);
        if (c.named_plugin) {
            EXPECT_EQ(r.plugin, "mysql_native_password");
        }
        EXPECT_EQ(!!(r.flags & CLIENT_PLUGIN_AUTH), !!(c.caps & CLIENT_PLUGIN_AUTH));
        EXPECT_EQ(r.flags & CLIENT_CONNECT_WITH_DB, 0u);
        conn_close_session(conn);
    }
}

// The character set the response asks for: UTF-8 when the application
// names none (utf8mb4 where the server has it, utf8 before 5.5.3, a UTF-8
// server default kept); whatever the application names otherwise. Narrow
// text follows a UTF-8 session.
TEST_F(logon, CharacterSetOfTheSession)
{
    struct {
        const char *name;
        const char *version;
        uint8_t server_charset;
        int req_charset;
        const char *client_setting;   // character_set_client
        uint8_t charset;              // in the response and on the connection
        int conv_to_utf;
    } cases[] = {
        {"latin1 server gets utf8mb4", "10.11.6-MariaDB", 8, 0, nullptr, 45, 1},
        {"MariaDB behind its prefix", "5.5.5-10.3.39-MariaDB", 8, 0, nullptr, 45, 1},
        {"utf8mb4 from 5.5.3", "5.5.3", 8, 0, nullptr, 45, 1},
        {"utf8 before 5.5.3", "5.5.2", 8, 0, nullptr, 33, 1},
        {"utf8 from 4.1", "4.1.22", 8, 0, nullptr, 33, 1},
        {"UTF-8 server default kept", "8.0.36", 255, 0, nullptr, 255, 1},
        {"utf8mb4_unicode_ci kept", "10.6.16-MariaDB", 224, 0, nullptr, 224, 1},
        {"utf8 server default kept", "5.7.30", 33, 0, nullptr, 33, 1},
        {"ReqCharSet wins", "10.11.6-MariaDB", 45, 8, nullptr, 8, 1},
        {"ReqCharSet latin1 on latin1", "10.11.6-MariaDB", 8, 8, nullptr, 8, 0},
        {"ReqCharSet utf8 on latin1", "10.11.6-MariaDB", 8, 33, nullptr, 33, 1},
        {"a session setting keeps the server's", "10.11.6-MariaDB", 8, 0, "latin1", 8, 0},
        {"out of range keeps the server's", "10.11.6-MariaDB", 8, 300, nullptr, 8, 0},
        {"huge version numbers", "2147483647.2147483647.2147483647", 8, 0, nullptr, 45, 1},
        {"huge minor of 5.5", "5.2147483647.0", 8, 0, nullptr, 45, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        hello h;
        h.version = c.version;
        h.charset = c.server_charset;
        transcript t;
        fake::server srv(scripted(h, {}, &t, true));
        target(srv);
        conn->ReqCharSet = c.req_charset;
        conn->ConvToUtf = 0;
        set(&conn->character_set_client, c.client_setting);
        expect_logged_on(my_connect(conn));
        response41 r = parse41(t.response);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.charset, c.charset);
        EXPECT_EQ(conn->charset, c.charset);
        EXPECT_EQ(conn->ConvToUtf, c.conv_to_utf);
        conn_close_session(conn);
    }
    set(&conn->character_set_client, nullptr);
}

TEST_F(logon, AuthPluginDataLengthZeroStillAnswersFromTwentyBytes)
{
    hello h;
    h.data_len = 0;
    transcript t;
    fake::server srv(scripted(h, {}, &t, true));
    target(srv);
    expect_logged_on(my_connect(conn));
    EXPECT_EQ(conn->scramble_length, 21);
    EXPECT_TRUE(native_answer_ok(parse41(t.response).auth, "secret", SALT));
}

// A 4.1 server without CLIENT_SECURE_CONNECTION gives only 8 scramble bytes:
// a 20-byte answer from them would read what the server never sent.
TEST_F(logon, ScrambleTooShortForNativePassword)
{
    hello h;
    h.caps = CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS;
    transcript t;
    fake::server srv(scripted(h, {}, &t));
    target(srv);
    expect_failed(my_connect(conn));
    EXPECT_TRUE(has_diag(conn, "08S01", "too short for mysql_native_password")) << all_diags(conn);
    EXPECT_TRUE(t.response.empty());
}

TEST_F(logon, Pre41ServerGetsTheOldResponse)
{
    hello h;
    h.caps = CLIENT_LONG_PASSWORD | CLIENT_CONNECT_WITH_DB | CLIENT_TRANSACTIONS |
             CLIENT_MULTI_RESULTS | CLIENT_DEPRECATE_EOF;
    h.version = "4.0.30";
    h.charset = 8;
    transcript t;
    fake::server srv(scripted(h, {}, &t, true));
    target(srv, "olduser", "secret", "db1");
    expect_logged_on(my_connect(conn));
    const bytes &b = t.response;
    ASSERT_EQ(b.size(), 2 + 3 + 8 + 8 + 1 + 3u);
    uint32_t flags = le(b, 0, 2);
    // the upper flags cannot travel in two bytes and so are not the client's
    EXPECT_EQ(flags, 0xC7u | CLIENT_TRANSACTIONS | CLIENT_CONNECT_WITH_DB);
    EXPECT_EQ(conn->client_caps, flags);
    EXPECT_EQ(le(b, 2, 3), 0xFFFFFFu);
    EXPECT_EQ(std::string(b.begin() + 5, b.begin() + 13), std::string("olduser") + '\0');
    unsigned char expect[8];
    old_scramble((const unsigned char *)"secret", 6, (const unsigned char *)SALT.data(), expect);
    EXPECT_EQ(bytes(b.begin() + 13, b.begin() + 21), bytes(expect, expect + 8));
    EXPECT_EQ(b[21], 0);
    EXPECT_EQ(std::string(b.begin() + 22, b.end()), "db1");
    EXPECT_EQ(conn->Text_Prepare, 1);
    EXPECT_EQ(text_of(conn->current_database), "db1");
}

TEST_F(logon, SequenceMismatch)
{
    {
        fake::server srv([](fake::session &s) { s.send_packet(1, greet(hello())); });
        target(srv);
        expect_failed(my_connect(conn));
        EXPECT_TRUE(has_diag(conn, "08S01", "Unexpected packet sequence 1 != 0")) << all_diags(conn);
    }
    clear_diagnostics(conn);
    {
        transcript t;
        fake::server srv(scripted(hello(), {send(fake::ok_packet(), 2)}, &t));
        target(srv);
        expect_failed(my_connect(conn));
        EXPECT_TRUE(has_diag(conn, "08S01", "Unexpected packet sequence 4 != 2")) << all_diags(conn);
    }
}

// A greeting cut at every length, followed by the server leaving, and one
// whose length field promises more than arrives: 08S01 every time.
TEST_F(logon, CutGreetingOverTheSocketIsCommunicationFailure)
{
    const bytes full = greet(hello());
    const bytes wire = fake::packet_bytes(0, full);
    std::vector<bytes> sends;
    for (size_t n = 0; n < full.size(); n++)   // consistent header, short payload
        sends.push_back(fake::packet_bytes(0, bytes(full.begin(), full.begin() + (long)n)));
    for (size_t n = 0; n < wire.size(); n++)   // header promises the whole greeting
        sends.push_back(bytes(wire.begin(), wire.begin() + (long)n));
    std::atomic<size_t> next{0};
    fake::server srv([&](fake::session &s) {
        size_t i = next++;
        if (i < sends.size())
            s.send_raw(sends[i]);
        s.close();
    });
    target(srv);
    for (size_t i = 0; i < sends.size(); i++) {
        SCOPED_TRACE(i);
        clear_diagnostics(conn);
        expect_failed(my_connect(conn));
        EXPECT_TRUE(only_state(conn, "08S01")) << all_diags(conn);
    }
}

TEST_F(logon, ServerErrorsArePassedOn)
{
    struct {
        const char *name;
        bool in_greeting;
        bytes err;
        const char *state;
        int native;
        std::string text;
    } cases[] = {
        {"refused before greeting", true,
         fake::err_packet(1130, "", "Host '10.0.0.1' is not allowed to connect"), "HY000", 1130,
         PREFIX + "Host '10.0.0.1' is not allowed to connect"},
        {"greeting error without a message", true, fake::err_packet(1040, "", ""), "HY000", 1040,
         PREFIX},
        {"a bare 0xFF greeting", true, bytes{0xFF}, "HY000", 0, PREFIX},
        {"access denied", false,
         fake::err_packet(1045, "28000", "Access denied for user 'qvuser'@'localhost'"), "28000",
         1045, PREFIX + "Access denied for user 'qvuser'@'localhost'"},
        {"auth error without a message", false, fake::err_packet(1045, "28000", ""), "28000",
         1045, PREFIX},
        {"auth error cut in its number", false, bytes{0xFF, 0x15}, "HY000", 0, PREFIX},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        clear_diagnostics(conn);
        transcript t;
        bytes err = c.err;
        std::unique_ptr<fake::server> srv(
            c.in_greeting ? new fake::server([err](fake::session &s) { s.send_packet(0, err); })
                          : new fake::server(scripted(hello(), {send(err)}, &t)));
        target(*srv);
        expect_failed(my_connect(conn));
        ASSERT_EQ(diag_count(conn), 1) << all_diags(conn);
        diag_record *d = diag_get(conn, 1);
        EXPECT_EQ(text_of(d->sqlstate), c.state);
        EXPECT_EQ(d->native, c.native);
        EXPECT_EQ(text_of(d->message), c.text);
    }
}

// ================================================== authentication rounds

TEST_F(logon, SwitchToNativeFromAnotherDefault)
{
    hello h;
    h.plugin = "caching_sha2_password";
    transcript t;
    fake::server srv(
        scripted(h, {send(auth_switch("mysql_native_password", salt_data(SWITCH_SALT))), read()},
                 &t, true));
    target(srv);
    expect_logged_on(my_connect(conn));
    ASSERT_EQ(t.answers.size(), 1u);
    EXPECT_EQ(parse41(t.response).plugin, "caching_sha2_password");
    EXPECT_TRUE(native_answer_ok(t.answers[0], "secret", SWITCH_SALT));
}

TEST_F(logon, SwitchAnswersByMethod)
{
    unsigned char old_from_switch[8], old_from_greeting[8];
    old_scramble((const unsigned char *)"secret", 6, (const unsigned char *)SWITCH_SALT.data(),
                 old_from_switch);
    old_scramble((const unsigned char *)"secret", 6, (const unsigned char *)SALT.data(),
                 old_from_greeting);
    struct {
        const char *name;
        const char *pw;
        uint32_t caps;
        bytes request;
        bytes answer;
    } cases[] = {
        {"clear password", "secret", DEFAULT_CAPS,
         auth_switch("mysql_clear_password", bytes()), b_of("secret") + bytes{0}},
        {"clear, empty password", "", DEFAULT_CAPS, auth_switch("mysql_clear_password", bytes()),
         bytes{0}},
        {"native, empty password answers nothing", "", DEFAULT_CAPS,
         auth_switch("mysql_native_password", salt_data(SWITCH_SALT)), bytes()},
        {"old password by switch", "secret", DEFAULT_CAPS,
         auth_switch("mysql_old_password", salt_data(SWITCH_SALT)),
         bytes(old_from_switch, old_from_switch + 8) + bytes{0}},
        {"lone 0xFE after naming native", "secret", DEFAULT_CAPS, bytes{0xFE},
         bytes(old_from_greeting, old_from_greeting + 8) + bytes{0}},
        {"0xFE without plugin auth", "secret", DEFAULT_CAPS & ~(uint32_t)CLIENT_PLUGIN_AUTH,
         bytes{0xFE, 'x', 'y'}, bytes(old_from_greeting, old_from_greeting + 8) + bytes{0}},
        {"0xFE, no terminator without CONNECT_WITH_DB", "secret",
         DEFAULT_CAPS & ~(uint32_t)(CLIENT_PLUGIN_AUTH | CLIENT_CONNECT_WITH_DB), bytes{0xFE},
         bytes(old_from_greeting, old_from_greeting + 8)},
        {"sha256, empty password", "", DEFAULT_CAPS,
         auth_switch("sha256_password", salt_data(SWITCH_SALT)), bytes{0}},
    };
    // the fake speaks plain TCP: clear text goes out only with the opt-in
    conn->EnableCleartextPlugin = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        hello h;
        h.caps = c.caps;
        transcript t;
        fake::server srv(scripted(h, {send(c.request), read()}, &t, true));
        target(srv, "qvuser", c.pw);
        expect_logged_on(my_connect(conn));
        ASSERT_EQ(t.answers.size(), 1u);
        EXPECT_EQ(t.answers[0], c.answer);
        conn_close_session(conn);
    }
}

TEST_F(logon, OldScrambleShape)
{
    unsigned char a[8], b[8], z[8];
    old_scramble((const unsigned char *)"secret", 6, (const unsigned char *)SALT.data(), a);
    old_scramble((const unsigned char *)"se cr\tet", 8, (const unsigned char *)SALT.data(), b);
    old_scramble((const unsigned char *)"", 0, (const unsigned char *)SALT.data(), z);
    EXPECT_EQ(bytes(a, a + 8), bytes(b, b + 8)) << "blanks and tabs do not count";
    EXPECT_EQ(bytes(z, z + 8), bytes(8, 0));
    // every byte is 64..94 XOR one extra value below 31: printable ASCII
    for (unsigned char x : a)
        EXPECT_TRUE(x >= 0x20 && x < 0x80) << (int)x;
}

TEST_F(logon, Sha256WithTheServersKey)
{
    hello h;
    h.plugin = "sha256_password";
    transcript t;
    fake::server srv(scripted(h,
                              {send(auth_switch("sha256_password", salt_data(SWITCH_SALT))), read(),
                               send(bytes{0x01} + b_of(keys().public_pem)), read()},
                              &t, true));
    target(srv);
    ms_free(conn->PWD);
    conn->PWD = ms_from_utf8("s3cret-\xC3\xA9", MS_NTS);   // goes out as UTF-8 on a UTF-8 connection
    expect_logged_on(my_connect(conn));
    ASSERT_EQ(t.answers.size(), 2u);
    EXPECT_FALSE(parse41(t.response).has_plugin);
    EXPECT_EQ(t.answers[0], bytes{0x01}) << "the key is asked for";
    EXPECT_EQ(t.answers[1].size(), 256u);
    EXPECT_EQ(sha256_password_of(t.answers[1], SWITCH_SALT), "s3cret-\xC3\xA9");
}

TEST_F(logon, Sha256WithAPublicKeyFile)
{
    char path[] = "/tmp/qvpubkeyXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, keys().public_pem.data(), keys().public_pem.size()),
              (ssize_t)keys().public_pem.size());
    close(fd);

    transcript t;
    fake::server srv(scripted(
        hello(), {send(auth_switch("sha256_password", salt_data(SWITCH_SALT))), read()}, &t, true));
    target(srv);
    set(&conn->PublicKeyFile, path);
    expect_logged_on(my_connect(conn));
    ASSERT_EQ(t.answers.size(), 1u);
    EXPECT_EQ(sha256_password_of(t.answers[0], SWITCH_SALT), "secret");
    unlink(path);

    // a key file that cannot be opened ends the logon without an answer
    clear_diagnostics(conn);
    transcript t2;
    fake::server srv2(scripted(
        hello(), {send(auth_switch("sha256_password", salt_data(SWITCH_SALT))), read()}, &t2));
    target(srv2);
    set(&conn->PublicKeyFile, path);
    expect_failed(my_connect(conn));
    EXPECT_TRUE(has_diag(conn, "HY000", std::string("Opening Public Key file '") + path +
                                            "' failed, errno=2"))
        << all_diags(conn);
    srv2.wait_done();
    EXPECT_TRUE(t2.answers.empty());
}

// Whatever a server sends in the authentication rounds, the logon ends with
// the right diagnostic and never reads past a packet.
TEST_F(logon, HostileAuthenticationPackets)
{
    bytes long_key(70000, 'k');
    std::vector<step> endless;
    for (int i = 0; i < 20; i++) {
        endless.push_back(send(auth_switch("mysql_clear_password", bytes())));
        endless.push_back(read());
    }
    const bytes sha_switch = auth_switch("sha256_password", salt_data(SWITCH_SALT));
    struct {
        const char *name;
        std::vector<step> steps;
        const char *state;
        std::string text;
    } cases[] = {
        {"unknown method", {send(auth_switch("dialog_x", salt_data(SWITCH_SALT)))}, "HY000",
         "Authentication method 'dialog_x' not yet supported"},
        {"ed25519 nonce too short", {send(auth_switch("client_ed25519", salt_data(SWITCH_SALT)))},
         "08S01", "too short for client_ed25519"},
        {"NTLM challenge cut short",
         {send(auth_switch("authentication_windows_client", bytes())), read(),
          send(b_of("\x01NTLMSSP"))},
         "08S01", "unexpected end of packet"},
        {"method names are exact", {send(auth_switch("MYSQL_NATIVE_PASSWORD", salt_data(SALT)))},
         "HY000", "Authentication method 'MYSQL_NATIVE_PASSWORD' not yet supported"},
        {"native switch data too short", {send(auth_switch("mysql_native_password", b_of("abc")))},
         "08S01", "too short for mysql_native_password"},
        {"switch name without terminator", {send(bytes{0xFE} + b_of("mysql_native_password"))},
         "08S01", "too short for mysql_native_password"},
        {"old switch data too short", {send(auth_switch("mysql_old_password", b_of("abc")))},
         "08S01", "too short for mysql_old_password"},
        {"extra data nobody asked for", {send(bytes{0x01, 'x'})}, "HY000", "Unexpected packet"},
        {"public key that is no key", {send(sha_switch), read(), send(b_of("\x01not a key"))},
         "HY000", "failed to create public key"},
        {"empty public key", {send(sha_switch), read(), send(bytes{0x01})}, "HY000",
         "failed to create public key"},
        {"oversized public key", {send(sha_switch), read(), send(bytes{0x01} + long_key)}, "08S01",
         "public key packet of 70000 bytes is too long"},
        {"oversized switch data", {send(auth_switch("mysql_clear_password", long_key))}, "08S01",
         "auth switch data of 70000 bytes is too long"},
        {"second key packet", {send(sha_switch), read(), send(bytes{0x01} + b_of(keys().public_pem)),
                               read(), send(bytes{0x01} + b_of(keys().public_pem))},
         "HY000", "Unexpected packet"},
        {"unknown response type", {send(bytes{0x05, 1, 2})}, "08S01", "Communication link failure"},
        {"empty packet", {send(bytes())}, "08S01", "Communication link failure"},
        {"OK cut short", {send(bytes{0x00})}, "08S01", "malformed OK packet"},
        {"endless switches", endless, "08S01", "too many authentication rounds"},
    };
    conn->EnableCleartextPlugin = 1;   // lets the endless clear-text switches go on
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        clear_diagnostics(conn);
        transcript t;
        fake::server srv(scripted(hello(), c.steps, &t));
        target(srv);
        expect_failed(my_connect(conn));
        EXPECT_TRUE(has_diag(conn, c.state, c.text)) << all_diags(conn);
    }
}

// ========================================================== TLS request

TEST_F(logon, EncryptAgainstServersWithAndWithoutTls)
{
    struct {
        const char *name;
        int encrypt;
        bool server_tls;
        bool logs_on;
        const char *state;
        std::string text;
    } cases[] = {
        {"yes without server TLS", 1, false, false, "08S01",
         "Client requesting SSL, not offered by server"},
        {"optional without server TLS goes on unencrypted", 2, false, true, "", ""},
        {"no never asks", 0, true, true, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        clear_diagnostics(conn);
        hello h;
        if (c.server_tls)
            h.caps |= CLIENT_SSL;
        bool got_anything = false;
        fake::server srv([&](fake::session &s) {
            s.send_packet(0, greet(h));
            uint8_t seq;
            bytes resp;
            got_anything = s.read_packet(&seq, &resp, 2000);
            if (got_anything) {
                s.send_packet((uint8_t)(seq + 1), fake::ok_packet());
                serve_ok(s);
            }
        });
        target(srv);
        conn->Encrypt = c.encrypt;
        int rc = my_connect(conn);
        if (c.logs_on) {
            expect_logged_on(rc);
        } else {
            expect_failed(rc);
            EXPECT_TRUE(has_diag(conn, c.state, c.text)) << all_diags(conn);
            ASSERT_TRUE(srv.wait_done(5000));
            EXPECT_FALSE(got_anything) << "nothing may be sent";
        }
        conn_close_session(conn);
    }
}

// ===================================================== after the logon

TEST_F(logon, CompressionStartsAfterTheFinalOk)
{
    std::vector<fake::frame_info> frames;
    bytes ping_seen;
    response41 r;
    fake::server srv([&](fake::session &s) {
        s.send_packet(0, greet(hello()));
        uint8_t seq;
        bytes resp;
        if (!s.read_packet(&seq, &resp))
            return;
        r = parse41(resp);
        s.send_packet((uint8_t)(seq + 1), fake::ok_packet());
        s.set_compressed(true);
        while (s.read_packet(&seq, &resp, 10000)) {
            if (resp == bytes{0x0E})
                ping_seen = resp;
            frames = s.frames_seen();
            s.send_packet((uint8_t)(seq + 1), fake::ok_packet());
        }
    });
    target(srv);
    conn->Compress = 1;
    expect_logged_on(my_connect(conn));
    EXPECT_TRUE(r.flags & CLIENT_COMPRESS);
    EXPECT_EQ(conn->compress_active, 1);

    // one command round trip in compressed framing
    clear_diagnostics(conn);
    packet_reset_seq(conn);
    my_packet *p = packet_new(conn);
    ASSERT_EQ(packet_put_u8(p, 0x0E), 0);
    ASSERT_EQ(packet_send(conn, p), 0) << all_diags(conn);
    packet_free(p);
    my_packet *ok = packet_read(conn);
    ASSERT_NE(ok, nullptr) << all_diags(conn);
    EXPECT_EQ(ok->data[4], 0x00);
    packet_free(ok);
    net_close(conn);
    srv.wait_done();
    EXPECT_EQ(ping_seen, bytes{0x0E});
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().uncomp_len, 0u) << "5 bytes go out uncompressed in a frame";
}

TEST_F(logon, CompressOnlyWhenTheServerOffersIt)
{
    hello h;
    h.caps &= ~(uint32_t)CLIENT_COMPRESS;
    transcript t;
    fake::server srv(scripted(h, {}, &t, true));
    target(srv);
    conn->Compress = 1;
    expect_logged_on(my_connect(conn));
    EXPECT_FALSE(parse41(t.response).flags & CLIENT_COMPRESS);
    EXPECT_EQ(conn->compress_active, 0);
}

// ============================================================ time-outs

TEST_F(logon, SilentPeerTimesOut)
{
    struct {
        const char *name;
        int connection_timeout, logon_timeout;
    } cases[] = {{"ConnectionTimeout", 300, 0}, {"login time-out bounds the logon", 0, 300}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        clear_diagnostics(conn);
        fake::server srv([](fake::session &s) { s.sleep_ms(4000); });
        target(srv);
        conn->ConnectionTimeout = c.connection_timeout;
        conn->effective_logon_timeout = c.logon_timeout;
        int64_t start = now_ms();
        expect_failed(my_connect(conn));
        int64_t took = now_ms() - start;
        EXPECT_GE(took, 250);
        EXPECT_LT(took, 2500);
        EXPECT_TRUE(has_diag(conn, "HYT00", "Timeout expired")) << all_diags(conn);
    }
}

TEST_F(logon, SilentAfterTheResponseTimesOut)
{
    transcript t;
    fake::server srv([&](fake::session &s) {
        s.send_packet(0, greet(hello()));
        uint8_t seq;
        s.read_packet(&seq, &t.response);
        s.sleep_ms(4000);
    });
    target(srv);
    conn->ConnectionTimeout = 300;
    expect_failed(my_connect(conn));
    EXPECT_TRUE(has_diag(conn, "HYT00", "Timeout expired")) << all_diags(conn);
}

// ============================================================== targets

TEST_F(logon, ServerAndSocketSettings)
{
    transcript t;
    fake::server srv(scripted(hello(), {}, &t, true));
    struct {
        const char *name;
        const char *server, *socket;
        int rc;
        const char *state;
        std::string text;
    } cases[] = {
        {"neither", nullptr, nullptr, -1, "HY000", "server/socket name not specified"},
        {"empty texts count as absent", "", "", -1, "HY000", "server/socket name not specified"},
        {"socket alone", nullptr, "/run/mysqld/mysqld.sock", -1, "08001",
         "Local socket connections are not supported (SOCKET=/run/mysqld/mysqld.sock)"},
        {"socket and server connect over TCP", "127.0.0.1", "/run/mysqld/mysqld.sock", 0, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        clear_diagnostics(conn);
        target(srv);
        set(&conn->SERVER, c.server);
        set(&conn->SOCKET, c.socket);
        int accepted = srv.accepted();
        int rc = my_connect(conn);
        if (c.rc == 0) {
            expect_logged_on(rc);
        } else {
            expect_failed(rc);
            EXPECT_EQ(diag_count(conn), 1);
            EXPECT_TRUE(has_diag(conn, c.state, c.text)) << all_diags(conn);
            EXPECT_EQ(srv.accepted(), accepted) << "nothing is opened";
        }
        conn_close_session(conn);
    }
}

// A handle logs on again after a failed and after a successful logon, and
// nothing of the first greeting survives into the second.
TEST_F(logon, ReconnectStartsClean)
{
    std::atomic<int> n{0};
    fake::server srv([&](fake::session &s) {
        hello h;
        if (n++ == 0) {
            h.version = "5.5.5-10.11.6-MariaDB";
            h.caps |= CLIENT_DEPRECATE_EOF;
        } else {
            h.caps &= ~(uint32_t)CLIENT_PLUGIN_AUTH;
            h.version = "8.0.1";
        }
        s.send_packet(0, greet(h));
        uint8_t seq;
        bytes resp;
        if (s.read_packet(&seq, &resp)) {
            s.send_packet((uint8_t)(seq + 1), fake::ok_packet());
            serve_ok(s);
        }
    });
    target(srv, "u", "pw", "db");
    expect_logged_on(my_connect(conn));
    EXPECT_EQ(text_of(conn->server_version), "10.11.6-MariaDB");
    EXPECT_TRUE(conn->client_caps & CLIENT_DEPRECATE_EOF);
    conn_close_session(conn);
    set(&conn->DATABASE, nullptr);
    expect_logged_on(my_connect(conn));
    EXPECT_EQ(text_of(conn->server_version), "8.0.1");
    EXPECT_EQ(conn->version_major, 8);
    EXPECT_EQ(conn->auth_plugin_name, nullptr);
    EXPECT_FALSE(conn->client_caps & CLIENT_DEPRECATE_EOF);
    EXPECT_EQ(conn->current_database, nullptr);
}

// The greeting's trace lines name each capability and status flag.
TEST_F(logon, TraceNamesTheFlags)
{
    char path[] = "/tmp/qvlogontraceXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    snprintf(conn->LogFile, sizeof conn->LogFile, "%s", path);
    conn->hdr.log_flags = LOG_DETAIL | LOG_ERROR;
    transcript t;
    fake::server srv(scripted(hello(), {}, &t, true));
    target(srv);
    expect_logged_on(my_connect(conn));
    conn->hdr.log_flags = 0;
    FILE *f = fopen(path, "r");
    ASSERT_NE(f, nullptr);
    std::string log;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        log.append(buf, n);
    fclose(f);
    unlink(path);
    char caps[64];
    snprintf(caps, sizeof caps, "Capability flags=%x", DEFAULT_CAPS);
    for (const char *line : {"Protocol version 10", "Server version '5.7.30-fake'",
                             "Connection Id '04030201'", "Character Set '33'",
                             (const char *)caps, "+CLIENT_PROTOCOL_41", "+CLIENT_PLUGIN_AUTH",
                             "Status flags=2", "+SERVER_STATUS_AUTOCOMMIT",
                             "Auth Plugin Data Len 21", "Auth Plugin Name 'mysql_native_password'",
                             "Setting ConvToUtf", "decode_server_version: '5.7.30-fake' : 5 7 30"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_EQ(log.find("+CLIENT_SSL"), std::string::npos);
    EXPECT_EQ(log.find("secret"), std::string::npos);
}

} // namespace
