// TLS start against the scripted fake server: the TLS request packet, and
// peers that accept it and then answer garbage, nothing, or close; bytes sent
// ahead of the handshake; the environment's TLS information.
#include <gtest/gtest.h>

#include <string.h>
#include <time.h>

#include <string>

#include "connect/my_connect.h"
#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_logon.h"
#include "protocol/my_proto.h"
#include "protocol/my_ssl.h"
#include "support/unit_support.h"

namespace {

using fake::bytes;
using fake::operator+;

using unit_support::now_ms;
using unit_support::text_of;
using unit_support::all_diags;
using unit_support::first_state;

bool has_text(const void *h, const std::string &text)
{
    for (int i = 1; i <= diag_count(h); i++)
        if (text_of(diag_get(h, i)->message).find(text) != std::string::npos)
            return true;
    return false;
}

struct tls_start_test : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);

    void TearDown() override { env_release(env); }

    void set(my_string **field, const char *v)
    {
        ms_free(*field);
        *field = v ? ms_from_latin1(v) : nullptr;
    }
    void target(const fake::server &srv)
    {
        ASSERT_TRUE(srv.ok());
        set(&conn->SERVER, "127.0.0.1");
        conn->PORT = srv.port();
        set(&conn->UID, "qvuser");
        set(&conn->PWD, "secret");
        set(&conn->DATABASE, "db1");
        conn->Encrypt = 1;
        conn->Compress = 1;
        conn->effective_logon_timeout = 700;   // what connect_hand_over sets
    }
    void expect_failed(int rc)
    {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(conn->connected, 0);
        EXPECT_EQ(conn->sock, -1) << "a failed logon keeps no socket";
        EXPECT_EQ(conn->ssl, nullptr) << "a failed start leaves no TLS state";
        EXPECT_EQ(conn->ssl_active, 0);
    }
};

fake::greeting_info tls_greeting()
{
    fake::greeting_info g;
    g.capabilities |= fake::CAP_SSL;
    return g;
}

// The request: sequence 1, 32 bytes, the response's own flags plus
// CLIENT_SSL, maximum packet size, character set, 23 zero bytes. Then the
// peer answers what a TLS client cannot use.
TEST_F(tls_start_test, RequestPacketAndHostilePeers)
{
    struct {
        const char *name;
        bytes answer;       // sent after the request; empty: see wait_ms
        int wait_ms;        // silence before closing
        const char *state;
        const char *text;
    } cases[] = {
        {"garbage", bytes(64, 0x5A), 0, "08001", "SSL Shutdown, reason"},
        {"a MySQL error packet", fake::packet_bytes(2, fake::err_packet(1045, "28000", "no")), 0,
         "08001", "SSL Shutdown, reason"},
        {"half a TLS record header", bytes{0x16, 0x03, 0x03}, 1200, "HYT00", "Timeout expired"},
        {"silence", bytes(), 1200, "HYT00", "Timeout expired"},
        {"close", bytes(), 0, "08001", "SSL Shutdown, reason"},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        clear_diagnostics(conn);
        uint8_t req_seq = 0;
        bytes req;
        fake::server srv([&](fake::session &s) {
            s.send_packet(0, fake::greeting(tls_greeting()));
            if (!s.read_packet(&req_seq, &req, 2000))
                return;
            if (!t.answer.empty())
                s.send_raw(t.answer);
            if (t.wait_ms)
                s.sleep_ms(t.wait_ms);
            s.close();
        });
        target(srv);
        int64_t start = now_ms();
        expect_failed(my_connect(conn));
        int64_t took = now_ms() - start;
        EXPECT_LT(took, 2000) << "the logon time-out bounds the handshake";
        EXPECT_EQ(first_state(conn), t.state) << all_diags(conn);
        EXPECT_TRUE(has_text(conn, t.text)) << all_diags(conn);
        ASSERT_TRUE(srv.wait_done(5000));   // the script is done with req

        ASSERT_EQ(req.size(), 32u);
        EXPECT_EQ(req_seq, 1);
        uint32_t flags = req[0] | req[1] << 8 | req[2] << 16 | (uint32_t)req[3] << 24;
        for (uint32_t f : {CLIENT_SSL, CLIENT_PROTOCOL_41, CLIENT_COMPRESS, CLIENT_LOCAL_FILES,
                           CLIENT_PLUGIN_AUTH, CLIENT_SECURE_CONNECTION, CLIENT_CONNECT_WITH_DB})
            EXPECT_TRUE(flags & f) << std::hex << f;
        EXPECT_EQ(flags, conn->client_caps);
        EXPECT_EQ(bytes(req.begin() + 4, req.begin() + 8), (bytes{0xFF, 0xFF, 0xFF, 0x00}));
        EXPECT_EQ(req[8], 33);
        EXPECT_EQ(bytes(req.begin() + 9, req.end()), bytes(23, 0));
    }
}

// Plain bytes that arrive with the greeting, before the TLS handshake, must
// not be read as the server's first encrypted answer.
TEST_F(tls_start_test, BytesAheadOfTheHandshakeAreRefused)
{
    fake::server srv([&](fake::session &s) {
        bytes both = fake::packet_bytes(0, fake::greeting(tls_greeting())) +
                     fake::packet_bytes(2, fake::ok_packet());
        s.send_raw(both);
        s.sleep_ms(300);
        s.close();
    });
    target(srv);
    expect_failed(my_connect(conn));
    EXPECT_EQ(first_state(conn), "08S01") << all_diags(conn);
    EXPECT_TRUE(has_text(conn, "the server sent data ahead of the SSL handshake")) << all_diags(conn);
}

// Settings that fail before anything reaches the peer name the file.
TEST_F(tls_start_test, UnreadableFilesFailWithTheirNames)
{
    struct {
        my_string *my_connection::*field;
        const char *path;
        const char *text;
    } cases[] = {
        {&my_connection::CertificateFile, "/nonexistent/ca.pem",
         "Loading Certificate file '/nonexistent/ca.pem' failed"},
        {&my_connection::PrivateKeyFile, "/nonexistent/key.pem",
         "Loading Private Key file '/nonexistent/key.pem' failed"},
        {&my_connection::PublicKeyFile, "/nonexistent/cert.pem",
         "Loading Public Key file '/nonexistent/cert.pem' failed"},
        {&my_connection::Entropy, "/nonexistent/entropy", "Loading entropy from '/nonexistent/entropy' failed"},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.path);
        clear_diagnostics(conn);
        fake::server srv([&](fake::session &s) {
            s.send_packet(0, fake::greeting(tls_greeting()));
            uint8_t seq;
            bytes req;
            s.read_packet(&seq, &req, 2000);
            s.sleep_ms(200);
            s.close();
        });
        target(srv);
        set(&(conn->*t.field), t.path);
        expect_failed(my_connect(conn));
        EXPECT_EQ(first_state(conn), "08001") << all_diags(conn);
        EXPECT_TRUE(has_text(conn, t.text)) << all_diags(conn);
        if (t.field != &my_connection::Entropy) {
            EXPECT_TRUE(has_text(conn, "SSL error '")) << "OpenSSL's reasons follow\n" << all_diags(conn);
        }
        set(&(conn->*t.field), nullptr);
        srv.wait_done(5000);
    }
}

TEST(tls_environment, PrepareAndRelease)
{
    my_environment *env = env_create();
    ASSERT_NE(env, nullptr);
    EXPECT_NE(env->tls_method, nullptr);
    EXPECT_NE(env->tls_bio, nullptr);
    EXPECT_EQ(env->tls_entropy_loaded, 0);

    // an environment without TLS information refuses TLS, it does not crash
    my_connection *c = conn_create(env, 3);
    tls_release(env);
    EXPECT_EQ(tls_start(c), -6);
    EXPECT_NE(all_diags(c).find("Required SSL (no ssl_info)"), std::string::npos) << all_diags(c);
    tls_stop(c);   // nothing started: harmless
    env_release(env);
}

// Entropy is loaded once per environment, whichever connection asks.
TEST(tls_environment, EntropyLoadsOncePerEnvironment)
{
    my_environment *env = env_create();
    my_connection *a = conn_create(env, 3);
    my_connection *b = conn_create(env, 3);
    a->Entropy = ms_from_latin1("/dev/urandom");
    b->Entropy = ms_from_latin1("/nonexistent/entropy");
    // no socket: the start fails after the entropy step, at the handshake
    EXPECT_NE(tls_start(a), 0);
    EXPECT_EQ(env->tls_entropy_loaded, 1) << all_diags(a);
    EXPECT_NE(tls_start(b), 0);
    EXPECT_EQ(all_diags(b).find("Loading entropy"), std::string::npos)
        << "the second connection does not load it again\n" << all_diags(b);
    env_release(env);
}

} // namespace
