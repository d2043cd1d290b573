// Kerberos logon against the scripted fake server, with a scripted token
// source in place of GSS-API: the auth_gssapi_client method data, the token
// loop framing in both methods, the split first token of
// authentication_windows_client, failures of the security layer; and the
// real GSS-API without credentials, which must fail at once.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_logon.h"
#include "protocol/my_winkrb.h"
#include "support/unit_support.h"

namespace {

using fake::bytes;
using fake::operator+;

using unit_support::text_of;
using unit_support::all_diags;
using unit_support::has_diag;

bytes b_of(const std::string &s) { return bytes(s.begin(), s.end()); }

// ---- a scripted token source ----------------------------------------

struct round {
    bytes output;
    uint32_t status;
};

struct mock {
    uint32_t acquire_status = SEC_E_OK;
    std::vector<round> rounds;
    std::string package, principal;
    std::vector<bytes> inputs;
    int calls = 0, released = 0;
};

mock *the_mock;

uint32_t m_acquire(void *, const char *package, void **cred, char *, size_t)
{
    the_mock->package = package;
    if (the_mock->acquire_status == SEC_E_OK)
        *cred = the_mock;
    return the_mock->acquire_status;
}

uint32_t m_init(void *, void *, void **ctx, const char *principal, const unsigned char *in,
                size_t n, krb_token *out, char *detail, size_t detail_size)
{
    if (!*ctx) {
        *ctx = the_mock;
        the_mock->principal = principal ? principal : "";
    }
    the_mock->inputs.push_back(bytes(in, in + n));
    if ((size_t)the_mock->calls >= the_mock->rounds.size()) {
        snprintf(detail, detail_size, "no more rounds");
        return SEC_E_INTERNAL_ERROR;
    }
    const round &r = the_mock->rounds[(size_t)the_mock->calls++];
    out->length = r.output.size();
    out->data = r.output.empty() ? nullptr : (unsigned char *)malloc(r.output.size());
    if (out->data)
        memcpy(out->data, r.output.data(), r.output.size());
    return r.status;
}

void m_release_token(void *, krb_token *t)
{
    free(t->data);
    t->data = nullptr;
    t->length = 0;
}

void m_release(void *, void *, void *) { the_mock->released++; }

const krb_layer mock_layer = {m_acquire, m_init, m_release_token, m_release, nullptr};

// ---- the server's side ----------------------------------------------

struct step {
    bool send;
    bytes payload;
};
step send(const bytes &b) { return {true, b}; }
step read() { return {false, {}}; }

bytes switch_to(const std::string &method, const bytes &data)
{
    bytes b{0xFE};
    fake::put_str(b, method);
    b.push_back(0);
    return b + data;
}

struct transcript {
    std::vector<bytes> read;
    bool complete = false;
};

fake::server::script scripted(std::vector<step> steps, transcript *t)
{
    return [steps, t](fake::session &s) {
        uint8_t seq;
        bytes in;
        if (!s.send_packet(0, fake::greeting()) || !s.read_packet(&seq, &in))
            return;
        for (const step &st : steps) {
            if (st.send) {
                if (!s.send_packet((uint8_t)(seq + 1), st.payload))
                    return;
                seq++;
            } else {
                if (!s.read_packet(&seq, &in))
                    return;
                t->read.push_back(in);
            }
        }
        t->complete = true;
        while (s.read_packet(&seq, &in, 10000))
            s.send_packet((uint8_t)(seq + 1), fake::ok_packet());
    };
}

struct krb_logon : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    mock m;

    void SetUp() override
    {
        conn->ConnectionTimeout = 5000;
        the_mock = &m;
        krb_set_layer(&mock_layer);
    }
    void TearDown() override
    {
        env_release(env);
        krb_set_layer(nullptr);
    }
    void target(const fake::server &srv)
    {
        ASSERT_TRUE(srv.ok());
        ms_free(conn->SERVER);
        conn->SERVER = ms_from_latin1("127.0.0.1");
        conn->PORT = srv.port();
        ms_free(conn->UID);
        conn->UID = ms_from_latin1("alice");
    }
};

TEST_F(krb_logon, GssapiMethodDataAndTokenLoop)
{
    const bytes T1 = b_of("first token"), T2 = b_of("second"), S1 = b_of("server says");
    struct {
        const char *name;
        bytes data;
        std::string package, principal;
    } cases[] = {
        {"principal only", b_of("mariadb/db.example.com@EXAMPLE.COM") + bytes{0}, "Kerberos",
         "mariadb/db.example.com@EXAMPLE.COM"},
        {"Negotiate mechanism", b_of("svc@EXAMPLE.COM") + bytes{0} + b_of("Negotiate") + bytes{0},
         "Negotiate", "svc@EXAMPLE.COM"},
        {"another mechanism", b_of("svc@EXAMPLE.COM") + bytes{0} + b_of("Kerberos"), "Kerberos",
         "svc@EXAMPLE.COM"},
        {"no terminator", b_of("svc@EXAMPLE.COM"), "Kerberos", "svc@EXAMPLE.COM"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        m = mock();
        m.rounds = {{T1, SEC_I_CONTINUE_NEEDED}, {T2, SEC_E_OK}};
        transcript t;
        fake::server srv(scripted({send(switch_to("auth_gssapi_client", c.data)), read(),
                                   send(bytes{0x01} + S1), read(), send(fake::ok_packet())},
                                  &t));
        target(srv);
        EXPECT_EQ(my_logon(conn), 0) << all_diags(conn);
        EXPECT_EQ(conn->connected, 1);
        ASSERT_EQ(t.read.size(), 2u);
        EXPECT_EQ(t.read[0], T1);
        EXPECT_EQ(t.read[1], T2);
        EXPECT_EQ(m.package, c.package);
        EXPECT_EQ(m.principal, c.principal);
        ASSERT_EQ(m.inputs.size(), 2u);
        EXPECT_EQ(m.inputs[1], S1) << "the 0x01 marker is not part of the token";
        EXPECT_EQ(text_of(conn->Principal), c.principal);
        EXPECT_EQ(m.released, 1) << "the context goes once the logon is done";
        EXPECT_EQ(conn->krb_context, nullptr);
        conn_close_session(conn);
    }
}

TEST_F(krb_logon, GssapiCompleteOnTheFirstTokenReadsTheVerdict)
{
    m.rounds = {{b_of("only token"), SEC_E_OK}};
    transcript t;
    fake::server srv(scripted({send(switch_to("auth_gssapi_client", b_of("svc@R") + bytes{0})),
                               read(), send(fake::ok_packet())},
                              &t));
    target(srv);
    EXPECT_EQ(my_logon(conn), 0) << all_diags(conn);
    ASSERT_EQ(t.read.size(), 1u);
    EXPECT_EQ(m.calls, 1);
}

TEST_F(krb_logon, WindowsKerberosSplitsTheFirstTokenAndLoops)
{
    bytes big(600);
    for (size_t i = 0; i < big.size(); i++)
        big[i] = (uint8_t)i;
    const bytes S1 = b_of("s1"), S2 = b_of("s2"), T2 = b_of("t2");
    m.rounds = {{big, SEC_I_CONTINUE_NEEDED}, {T2, SEC_I_CONTINUE_NEEDED}, {bytes(), SEC_E_OK}};
    transcript t;
    fake::server srv(scripted({send(switch_to("authentication_windows_client", bytes())), read(),
                               read(), send(bytes{0x01} + S1), read(), send(bytes{0x01} + S2),
                               send(fake::ok_packet())},
                              &t));
    target(srv);
    conn->Kerberos = 1;
    EXPECT_EQ(my_logon(conn), 0) << all_diags(conn);
    EXPECT_EQ(conn->connected, 1);
    EXPECT_EQ(m.package, "Kerberos");
    EXPECT_EQ(m.principal, "MYSQL@127.0.0.1") << "the server in use";
    ASSERT_EQ(t.read.size(), 3u);
    ASSERT_EQ(t.read[0].size(), 255u);
    EXPECT_EQ(t.read[0][254], 2) << "600 bytes are two blocks of 512";
    EXPECT_EQ(bytes(t.read[0].begin(), t.read[0].begin() + 254) + t.read[1], big);
    EXPECT_EQ(t.read[2], T2);
    ASSERT_EQ(m.inputs.size(), 3u);
    EXPECT_EQ(m.inputs[1], S1);
    EXPECT_EQ(m.inputs[2], S2);
}

TEST_F(krb_logon, Failures)
{
    const bytes gss = switch_to("auth_gssapi_client", b_of("svc@R") + bytes{0});
    const bytes win = switch_to("authentication_windows_client", bytes());
    struct {
        const char *name;
        uint32_t acquire;
        std::vector<round> rounds;
        std::vector<step> steps;
        int kerberos;
        const char *state, *text;
    } cases[] = {
        {"no credentials", SEC_E_NO_CREDENTIALS, {}, {send(gss)}, 0, "08001",
         "krb5: AcquireCredentialsHandle failed with -2146893042, SEC_E_NO_CREDENTIALS"},
        {"no credentials: the principal is named", SEC_E_NO_CREDENTIALS, {}, {send(gss)}, 0,
         "08001", "Unable to obtain Kerberos token for principal 'svc@R'"},
        {"no principal at all", SEC_E_OK, {}, {send(switch_to("auth_gssapi_client", bytes{0}))}, 0,
         "08001", "Unable to obtain Kerberos token for principal ''"},
        {"first token refused", SEC_E_OK, {{bytes(), SEC_E_TARGET_UNKNOWN}}, {send(gss)}, 0,
         "08001", "Krb5: InitializeSecurityContext failed with -2146893053, SEC_E_TARGET_UNKNOWN"},
        {"a status outside the table", SEC_E_OK,
         {{b_of("t"), SEC_I_CONTINUE_NEEDED}, {bytes(), 0x12345}},
         {send(gss), read(), send(bytes{0x01, 'x'})}, 0, "08001",
         "Krb5: InitializeSecurityContextA failed with 74565, unknown code"},
        {"server refuses mid-exchange", SEC_E_OK, {{b_of("t"), SEC_I_CONTINUE_NEEDED}},
         {send(gss), read(), send(fake::err_packet(1045, "28000", "Access denied for alice"))}, 0,
         "28000", "Access denied for alice"},
        {"oversize server token", SEC_E_OK, {{b_of("t"), SEC_I_CONTINUE_NEEDED}},
         {send(gss), read(), send(bytes{0x01} + bytes(70000, 'k'))}, 0, "08S01", "too long"},
        {"windows, no credentials", SEC_E_NO_CREDENTIALS, {}, {send(win)}, 1, "08001",
         "Unable to obtain Kerberos token for principal 'MYSQL@127.0.0.1'"},
        {"windows, refused second round", SEC_E_OK,
         {{b_of("t"), SEC_I_CONTINUE_NEEDED}, {bytes(), SEC_E_LOGON_DENIED}},
         {send(win), read(), send(bytes{0x01, 'x'})}, 1, "08001",
         "Krb5: InitializeSecurityContextA failed with -2146893044, SEC_E_LOGON_DENIED"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        m = mock();
        m.acquire_status = c.acquire;
        m.rounds = c.rounds;
        clear_diagnostics(conn);
        transcript t;
        fake::server srv(scripted(c.steps, &t));
        target(srv);
        conn->Kerberos = c.kerberos;
        ms_free(conn->Principal);   // an earlier auth_gssapi_client switch replaced it
        conn->Principal = nullptr;
        EXPECT_EQ(my_logon(conn), -1);
        EXPECT_EQ(conn->connected, 0);
        EXPECT_TRUE(has_diag(conn, c.state, c.text)) << all_diags(conn);
        EXPECT_EQ(conn->krb_context, nullptr) << "a failed exchange keeps no context";
    }
}

TEST(krb_status, Names)
{
    EXPECT_STREQ(krb_status_name(SEC_E_OK), "SEC_E_OK");
    EXPECT_STREQ(krb_status_name(SEC_I_CONTINUE_NEEDED), "SEC_I_CONTINUE_NEEDED");
    EXPECT_STREQ(krb_status_name(SEC_E_WRONG_PRINCIPAL), "SEC_E_WRONG_PRINCIPAL");
    EXPECT_STREQ(krb_status_name(0x80090399), "unknown code");
}

// The real GSS-API with an empty private configuration and no ticket cache:
// the logon must fail at once with the diagnostics, not hang on a KDC.
TEST(krb_gss, WithoutCredentialsTheLogonFailsPromptly)
{
    char conf[] = "/tmp/qv_krb5_conf_XXXXXX";
    int fd = mkstemp(conf);
    ASSERT_GE(fd, 0);
    close(fd);
    std::string old_conf = getenv("KRB5_CONFIG") ? getenv("KRB5_CONFIG") : "";
    std::string old_cc = getenv("KRB5CCNAME") ? getenv("KRB5CCNAME") : "";
    setenv("KRB5_CONFIG", conf, 1);
    setenv("KRB5CCNAME", "FILE:/nonexistent/qv_no_cache", 1);

    transcript t;
    fake::server srv(scripted(
        {send(switch_to("auth_gssapi_client", b_of("mariadb/db.example.com@EXAMPLE.COM") + bytes{0}))},
        &t));
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    conn->ConnectionTimeout = 5000;
    conn->SERVER = ms_from_latin1("127.0.0.1");
    conn->PORT = srv.port();
    conn->UID = ms_from_latin1("alice");
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    EXPECT_EQ(my_logon(conn), -1);
    clock_gettime(CLOCK_MONOTONIC, &b);
    EXPECT_LT(b.tv_sec - a.tv_sec, 3);
    EXPECT_TRUE(has_diag(conn, "08001", "krb5: AcquireCredentialsHandle failed with")) << all_diags(conn);
    EXPECT_TRUE(has_diag(conn, "08001",
                         "Unable to obtain Kerberos token for principal "
                         "'mariadb/db.example.com@EXAMPLE.COM'"))
        << all_diags(conn);
    env_release(env);

    old_conf.empty() ? unsetenv("KRB5_CONFIG") : setenv("KRB5_CONFIG", old_conf.c_str(), 1);
    old_cc.empty() ? unsetenv("KRB5CCNAME") : setenv("KRB5CCNAME", old_cc.c_str(), 1);
    unlink(conf);
}

} // namespace
