// NTLM logon against the scripted fake server: the server switches to
// authentication_windows_client, reads the NEGOTIATE, sends a CHALLENGE and
// checks the AUTHENTICATE it gets back by recomputing the responses from
// the password, then answers OK. Hostile challenges are fed to the decoder
// in packets sized exactly to their bytes, so that any read past the end is
// caught by the sanitizer build.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_auth.h"
#include "protocol/my_auth_crypto.h"
#include "protocol/my_logon.h"
#include "support/unit_support.h"

namespace {

using fake::bytes;
using fake::operator+;

using unit_support::text_of;
using unit_support::has_diag;
using unit_support::all_diags;
using fake::utf16;

uint32_t le(const bytes &b, size_t at, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; i++)
        v |= (uint32_t)b.at(at + i) << (8 * i);
    return v;
}

const bytes SERVER_CHALLENGE = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
const bytes SERVER_TIME = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x08};

// ---- building a CHALLENGE -------------------------------------------

struct av {
    uint16_t id;
    bytes value;
};

struct challenge_spec {
    uint32_t flags = NTLM_NEGOTIATE_UNICODE | NTLM_REQUEST_TARGET | NTLM_NEGOTIATE_NTLM |
                     NTLM_TARGET_TYPE_DOMAIN | NTLM_NEGOTIATE_NTLM2 | NTLM_NEGOTIATE_TARGET_INFO |
                     NTLM_NEGOTIATE_VERSION | NTLM_NEGOTIATE_128 | NTLM_NEGOTIATE_56;
    std::string target_name = "Domain";
    std::vector<av> pairs = {{2, utf16("Domain")}, {1, utf16("Server")}};
    bool terminated = true;
};

bytes challenge(const challenge_spec &s)
{
    size_t fixed = (s.flags & NTLM_NEGOTIATE_VERSION) ? 56 : 48;
    bytes name = utf16(s.target_name), info;
    for (const av &a : s.pairs) {
        fake::put_u16(info, a.id);
        fake::put_u16(info, (uint16_t)a.value.size());
        info = info + a.value;
    }
    if (s.terminated)
        fake::put_u32(info, 0);
    bytes m = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
    fake::put_u32(m, 2);
    fake::put_u16(m, (uint16_t)name.size());
    fake::put_u16(m, (uint16_t)name.size());
    fake::put_u32(m, (uint32_t)fixed);
    fake::put_u32(m, s.flags);
    m = m + SERVER_CHALLENGE + bytes(8, 0);
    fake::put_u16(m, (uint16_t)info.size());
    fake::put_u16(m, (uint16_t)info.size());
    fake::put_u32(m, (uint32_t)(fixed + name.size()));
    if (s.flags & NTLM_NEGOTIATE_VERSION)
        m = m + bytes{6, 1, 0xb1, 0x1d, 0, 0, 0, 0x0f};
    return m + name + info;
}

// ---- reading an AUTHENTICATE ----------------------------------------

struct authenticate_msg {
    bool ok = false;
    uint32_t type = 0, flags = 0;
    bytes lm, nt, domain, user, workstation, session_key;
};

bytes field(const bytes &m, size_t at, bool *ok)
{
    uint32_t len = le(m, at, 2), off = le(m, at + 4, 4);
    if (le(m, at + 2, 2) != len || off > m.size() || len > m.size() - off) {
        *ok = false;
        return bytes();
    }
    return bytes(m.begin() + off, m.begin() + off + len);
}

authenticate_msg parse_authenticate(const bytes &m)
{
    authenticate_msg a;
    if (m.size() < 64 || memcmp(m.data(), "NTLMSSP", 8) != 0)
        return a;
    a.ok = true;
    a.type = le(m, 8, 4);
    a.lm = field(m, 12, &a.ok);
    a.nt = field(m, 20, &a.ok);
    a.domain = field(m, 28, &a.ok);
    a.user = field(m, 36, &a.ok);
    a.workstation = field(m, 44, &a.ok);
    a.session_key = field(m, 52, &a.ok);
    a.flags = le(m, 60, 4);
    return a;
}

bytes md4(const bytes &b)
{
    bytes d(16);
    md4_digest(b.data(), b.size(), d.data());
    return d;
}

bytes hmac(const bytes &key, const bytes &a, const bytes &b = bytes())
{
    bytes d(16);
    hmac_md5(key.data(), key.size(), a.data(), a.size(), b.data(), b.size(), d.data());
    return d;
}

bytes upper(const std::string &s)
{
    std::string u;
    for (char ch : s)
        u += (char)toupper((unsigned char)ch);
    return utf16(u);
}

// What a server holding the password checks of an NTLMv2 AUTHENTICATE.
void expect_v2_valid(const authenticate_msg &a, const std::string &password,
                     const std::string &user, const std::string &domain)
{
    bytes key = hmac(md4(utf16(password)), upper(user) + utf16(domain));
    ASSERT_EQ(a.lm.size(), 24u);
    ASSERT_GT(a.nt.size(), 16u + 28u);
    bytes client_ch(a.lm.begin() + 16, a.lm.end());
    EXPECT_EQ(bytes(a.lm.begin(), a.lm.begin() + 16), hmac(key, SERVER_CHALLENGE, client_ch))
        << "LMv2 response";
    bytes proof(a.nt.begin(), a.nt.begin() + 16), blob(a.nt.begin() + 16, a.nt.end());
    EXPECT_EQ(proof, hmac(key, SERVER_CHALLENGE, blob)) << "NTProofStr";
    EXPECT_EQ(bytes(blob.begin(), blob.begin() + 8), (bytes{1, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bytes(blob.begin() + 16, blob.begin() + 24), client_ch);
    EXPECT_EQ(a.session_key, hmac(key, proof));
    EXPECT_EQ(bytes(blob.end() - 8, blob.end()), bytes(8, 0)) << "end pair and padding";
}

void expect_v1_valid(const authenticate_msg &a, const std::string &password)
{
    my_string *pw = ms_from_latin1(password.c_str());
    unsigned char lm[16], nt[16], r[24];
    ntlm_lm_hash(pw, lm);
    ntlm_nt_hash(pw, nt);
    ms_free(pw);
    ntlm_v1_response(lm, SERVER_CHALLENGE.data(), r);
    EXPECT_EQ(a.lm, bytes(r, r + 24));
    ntlm_v1_response(nt, SERVER_CHALLENGE.data(), r);
    EXPECT_EQ(a.nt, bytes(r, r + 24));
    EXPECT_TRUE(a.session_key.empty());
}

// ---- the server's side of the exchange ------------------------------

bytes auth_switch_windows()
{
    bytes b{0xFE};
    fake::put_str(b, "authentication_windows_client");
    b.push_back(0);
    return b;
}

struct exchange {
    std::vector<bytes> negotiate;   // physical packets of the NEGOTIATE
    bytes authenticate;
    bool complete = false;
};

// Greeting, response, switch, NEGOTIATE (two packets when the first one
// carries the block count), CHALLENGE, AUTHENTICATE, OK.
fake::server::script ntlm_script(const bytes &challenge_msg, exchange *x)
{
    return [challenge_msg, x](fake::session &s) {
        uint8_t seq;
        bytes in;
        if (!s.send_packet(0, fake::greeting()) || !s.read_packet(&seq, &in) ||
            !s.send_packet((uint8_t)(seq + 1), auth_switch_windows()) || !s.read_packet(&seq, &in))
            return;
        x->negotiate.push_back(in);
        if (in.size() == 255 && !s.read_packet(&seq, &in))
            return;
        if (x->negotiate[0].size() == 255)
            x->negotiate.push_back(in);
        if (!s.send_packet((uint8_t)(seq + 1), bytes{0x01} + challenge_msg) ||
            !s.read_packet(&seq, &x->authenticate))
            return;
        x->complete = true;
        s.send_packet((uint8_t)(seq + 1), fake::ok_packet());
        while (s.read_packet(&seq, &in, 10000))
            s.send_packet((uint8_t)(seq + 1), fake::ok_packet());
    };
}

struct ntlm_logon : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);

    void SetUp() override { conn->ConnectionTimeout = 5000; }
    void TearDown() override { env_release(env); }

    void set(my_string **f, const char *v)
    {
        ms_free(*f);
        *f = v ? ms_from_latin1(v) : nullptr;
    }
    void target(const fake::server &srv)
    {
        ASSERT_TRUE(srv.ok());
        set(&conn->SERVER, "127.0.0.1");
        conn->PORT = srv.port();
    }
};

std::string host_name()
{
    char h[256] = {0};
    gethostname(h, sizeof h - 1);
    return h;
}

TEST_F(ntlm_logon, FullLogonWithEachAccountForm)
{
    challenge_spec domain_server;   // the MS-NLMP example: domain "Domain", computer "Server"
    challenge_spec stand_alone;     // a server account: no computer pair, the target name serves
    stand_alone.flags = (stand_alone.flags & ~(uint32_t)NTLM_TARGET_TYPE_DOMAIN) | NTLM_TARGET_TYPE_SERVER;
    stand_alone.target_name = "Server";
    stand_alone.pairs = {{3, utf16("server.example.com")}};
    challenge_spec with_time = domain_server;
    with_time.pairs.push_back({7, SERVER_TIME});

    struct {
        const char *name;
        int v2;
        const char *uid, *windows_user;
        challenge_spec ch;
        std::string user, domain;   // expected in the AUTHENTICATE and the key
    } cases[] = {
        {"v2, DOMAIN\\user in UID", 1, "Domain\\User", nullptr, domain_server, "User", "Domain"},
        {"v2, DOMAIN\\user in WindowsUser", 1, "qvuser", "Domain\\User", domain_server, "User",
         "Domain"},
        {"v2, no domain: the server's computer name", 1, "User", nullptr, stand_alone, "User",
         "Server"},
        {"v2, plain WindowsUser over UID", 1, "qvuser", "User", domain_server, "User", "Domain"},
        {"v2, the server's time stamp", 1, "Domain\\User", nullptr, with_time, "User", "Domain"},
        {"v1, DOMAIN\\user in UID", 0, "Domain\\User", nullptr, domain_server, "User", "Domain"},
        {"v1, domain from the server", 0, "User", nullptr, domain_server, "User", "Domain"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        exchange x;
        fake::server srv(ntlm_script(challenge(c.ch), &x));
        target(srv);
        set(&conn->UID, c.uid);
        set(&conn->WindowsUser, c.windows_user);
        set(&conn->PWD, "Password");
        conn->NTLMv2 = c.v2;
        int rc = my_logon(conn);
        EXPECT_EQ(rc, 0) << all_diags(conn);
        EXPECT_EQ(conn->connected, 1);
        ASSERT_TRUE(x.complete);

        ASSERT_EQ(x.negotiate.size(), 1u);
        const bytes &n = x.negotiate[0];
        ASSERT_GE(n.size(), 40u);
        EXPECT_EQ(le(n, 8, 4), 1u);
        if (!c.v2) {
            EXPECT_EQ(n.size(), 40u) << "no workstation, no domain";
            EXPECT_EQ(le(n, 12, 4), 0xA2000295u);
            EXPECT_EQ(bytes(n.begin() + 16, n.begin() + 32), bytes(16, 0));
        } else {
            uint32_t flags = le(n, 12, 4);
            EXPECT_EQ(flags & 0xE2088297u, 0xE2088297u);
            EXPECT_EQ(le(n, 24, 2), host_name().size());
            EXPECT_EQ(le(n, 28, 4), 40u);
        }
        EXPECT_EQ(bytes(n.begin() + 32, n.begin() + 40), (bytes{6, 2, 0xF0, 0x23, 0, 0, 0, 0x0F}));

        authenticate_msg a = parse_authenticate(x.authenticate);
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(a.type, 3u);
        EXPECT_EQ(a.user, utf16(c.user));
        EXPECT_EQ(a.domain, utf16(c.domain));
        EXPECT_EQ(a.workstation, utf16(host_name()));
        if (c.v2) {
            EXPECT_EQ(a.flags & 0x60888215u, 0x60888215u);
            EXPECT_EQ(a.flags & NTLM_NEGOTIATE_VERSION, c.ch.flags & NTLM_NEGOTIATE_VERSION);
            EXPECT_EQ(le(x.authenticate, 32, 4), 72u) << "payload after the version";
            expect_v2_valid(a, "Password", c.user, c.domain);
            bytes blob(a.nt.begin() + 16, a.nt.end());
            bytes stamp(blob.begin() + 8, blob.begin() + 16);
            bool server_time = c.ch.pairs.size() == 3;
            uint64_t now = ((uint64_t)time(nullptr) + 11644473600ULL) * 10000000ULL;
            if (server_time) {
                EXPECT_EQ(stamp, SERVER_TIME);
            } else {   // the local clock, in 100 ns units since 1601 (high word)
                EXPECT_NEAR((double)le(stamp, 4, 4), (double)(now >> 32), 2.0);
            }
        } else {
            EXPECT_EQ(a.flags, 0x8201u);
            EXPECT_EQ(le(x.authenticate, 32, 4), 64u);
            expect_v1_valid(a, "Password");
        }
        EXPECT_EQ(text_of(conn->ntlm_user), c.user);
        conn_close_session(conn);
    }
}

TEST_F(ntlm_logon, LongNegotiateIsSplitAfter254Bytes)
{
    std::string domain(300, 'D');
    exchange x;
    fake::server srv(ntlm_script(challenge(challenge_spec()), &x));
    target(srv);
    set(&conn->UID, (domain + "\\User").c_str());
    set(&conn->PWD, "Password");
    conn->NTLMv2 = 1;
    EXPECT_EQ(my_logon(conn), 0) << all_diags(conn);
    ASSERT_EQ(x.negotiate.size(), 2u);
    size_t total = 40 + host_name().size() + domain.size();
    EXPECT_EQ(x.negotiate[0].size(), 255u);
    EXPECT_EQ(x.negotiate[0][254], (total + 511) / 512);
    EXPECT_EQ(x.negotiate[1].size(), total - 254);
    bytes whole(x.negotiate[0].begin(), x.negotiate[0].begin() + 254);
    whole = whole + x.negotiate[1];
    EXPECT_EQ(le(whole, 16, 2), domain.size());
    EXPECT_EQ(bytes(whole.end() - 300, whole.end()), bytes(300, 'D'));
    expect_v2_valid(parse_authenticate(x.authenticate), "Password", "User", domain);
}

TEST_F(ntlm_logon, HostileChallengeEndsTheLogon)
{
    challenge_spec bad;
    bad.terminated = false;
    exchange x;
    fake::server srv(ntlm_script(challenge(bad), &x));
    target(srv);
    set(&conn->UID, "Domain\\User");
    set(&conn->PWD, "Password");
    conn->NTLMv2 = 1;
    EXPECT_EQ(my_logon(conn), -1);
    EXPECT_EQ(conn->connected, 0);
    EXPECT_TRUE(has_diag(conn, "08S01", "unexpected end of packet")) << all_diags(conn);
    EXPECT_FALSE(x.complete) << "nothing answers a broken challenge";
}

// ---- the decoder on its own, on hostile bytes -----------------------

using unit_support::incoming;

struct ntlm_decode : ntlm_logon {
    // decode_auth_token on 0x01 + message; the result code.
    int decode(const bytes &message)
    {
        clear_diagnostics(conn);
        my_packet *p = incoming(conn, bytes{0x01} + message), *out = nullptr;
        int rc = decode_auth_token(conn, p, &out, 0);
        packet_free(p);
        if (rc == 0) {
            EXPECT_NE(out, nullptr);
        }
        packet_free(out);
        return rc;
    }
    void SetUp() override
    {
        ntlm_logon::SetUp();
        set(&conn->PWD, "Password");
        conn->ntlm_user = ms_from_latin1("User");
        conn->ntlm_domain = ms_from_latin1("Domain");
        conn->NTLMv2 = 1;
    }
};

TEST_F(ntlm_decode, EveryTruncationFailsCleanly)
{
    const bytes good = challenge(challenge_spec());
    ASSERT_EQ(decode(good), 0) << all_diags(conn);
    for (size_t n = 0; n < good.size(); n++) {
        SCOPED_TRACE(n);
        bytes cut(good.begin(), good.begin() + (long)n);
        EXPECT_EQ(decode(cut), -6);
        EXPECT_TRUE(has_diag(conn, "08S01", "unexpected end of packet")) << all_diags(conn);
    }
}

TEST_F(ntlm_decode, HostileFields)
{
    bytes good = challenge(challenge_spec());
    auto with = [&](size_t at, const bytes &b) {
        bytes m = good;
        std::copy(b.begin(), b.end(), m.begin() + (long)at);
        return m;
    };
    challenge_spec bad_time;
    bad_time.pairs.push_back({7, bytes(4, 1)});
    challenge_spec long_pair;
    long_pair.pairs = {{2, utf16("Domain")}};
    bytes overlong = challenge(long_pair);
    overlong[56 + 12 + 2] = 0xFF;   // AvLen of the first pair runs past the list
    challenge_spec no_terminator;
    no_terminator.terminated = false;
    challenge_spec v1_fixed;   // without NEGOTIATE_VERSION the fixed part is 48 bytes
    v1_fixed.flags &= ~(uint32_t)NTLM_NEGOTIATE_VERSION;

    struct {
        const char *name;
        bytes message;
        int rc;
        const char *state, *text;
    } cases[] = {
        {"48-byte fixed part", challenge(v1_fixed), 0, "", ""},
        {"wrong signature", with(0, {'N', 'T', 'L', 'M', 'S', 'S', 'X', 0}), -6, "08S01",
         "unexpected auth prefix"},
        {"wrong type", with(8, {3, 0, 0, 0}), -6, "08S01", "unexpected auth type 3"},
        {"target name beyond the end", with(16, {0x10, 0, 0x10, 0, 0xF0, 0xFF, 0xFF, 0xFF}), -6,
         "08S01", "unexpected end of packet"},
        {"target name offset wraps", with(16, {0x10, 0, 0x10, 0, 0xFF, 0xFF, 0xFF, 0xFF}), -6,
         "08S01", "unexpected end of packet"},
        {"target info longer than the message", with(40, {0xFF, 0x7F, 0xFF, 0x7F}), -6, "08S01",
         "unexpected end of packet"},
        {"target info without its terminator", challenge(no_terminator), -6, "08S01",
         "unexpected end of packet"},
        {"a pair longer than the list", overlong, -6, "08S01", "unexpected end of packet"},
        {"a time stamp of 4 bytes", challenge(bad_time), -6, "08S01", "unexpected end of packet"},
        {"too long to be a challenge", good + bytes(70000, 0), -6, "08S01", "too long"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(c.message), c.rc) << all_diags(conn);
        if (c.rc) {
            EXPECT_TRUE(has_diag(conn, c.state, c.text)) << all_diags(conn);
        }
    }
}

TEST_F(ntlm_decode, NoDomainAnywhere)
{
    ms_free(conn->ntlm_domain);
    conn->ntlm_domain = nullptr;
    challenge_spec none;
    none.target_name = "";
    none.pairs = {{3, utf16("dns.example.com")}};
    EXPECT_EQ(decode(challenge(none)), -6);
    EXPECT_TRUE(has_diag(conn, "HY000", "No domain information supplied or returned"))
        << all_diags(conn);
    // with a domain from the settings the same challenge is answered
    conn->ntlm_domain = ms_from_latin1("Domain");
    EXPECT_EQ(decode(challenge(none)), 0) << all_diags(conn);
}

TEST_F(ntlm_decode, NegotiateShortFormIs40Bytes)
{
    set(&conn->UID, "Domain\\User");
    conn->NTLMv2 = 0;
    my_packet *out = nullptr;
    ASSERT_EQ(create_logon_packet(conn, &out), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->length - 4, 40);
    EXPECT_EQ(text_of(conn->ntlm_domain), "Domain");
    EXPECT_EQ(text_of(conn->ntlm_user), "User");
    packet_free(out);
}

} // namespace
