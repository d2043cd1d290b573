// Packet sending and reading (sequence checks, 16 MB continuation, compressed
// framing) and the transport (server lists, time-outs, peer failures), driven
// directly against the scripted fake server.
#include <gtest/gtest.h>

#include <limits.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <zlib.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "support/unit_support.h"

namespace {

using fake::bytes;
using fake::operator+;

using unit_support::now_ms;
using unit_support::text_of;
using unit_support::diag_state;
using unit_support::diag_text;
using unit_support::all_diags;

// All diagnostic texts of a handle, one per line, for substring checks.
const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";

bytes pattern(size_t n, unsigned salt = 0)
{
    bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = (uint8_t)((i * 31 + salt + (i >> 12)) & 0xFF);
    return b;
}

bytes random_bytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    bytes b(n);
    for (auto &x : b)
        x = (uint8_t)gen();
    return b;
}

bytes payload_of(const my_packet *p)
{
    return bytes(p->data + 4, p->data + p->limit);
}

struct wire : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);

    void TearDown() override { env_release(env); }

    int open_list(const std::string &list, int port = 0)
    {
        my_string *s = ms_from_latin1(list.c_str());
        int rc = net_open(conn, s, port);
        ms_free(s);
        return rc;
    }
    // Connects to the fake server on loopback.
    void connect(const fake::server &srv, bool compressed = false)
    {
        ASSERT_TRUE(srv.ok());
        ASSERT_EQ(open_list("127.0.0.1", srv.port()), 0) << all_diags(conn);
        conn->compress_active = compressed;
    }
    int send_payload(void *h, const bytes &payload)
    {
        my_packet *p = packet_new(h);
        EXPECT_NE(p, nullptr);
        int rc = packet_put_bytes(p, payload.data(), payload.size());
        if (rc == 0)
            rc = packet_send(h, p);
        packet_free(p);
        return rc;
    }
};

} // namespace

// ------------------------------------------------------------- sending

TEST_F(wire, CommandFramingPlainAndCompressed)
{
    const bytes cmd = pattern(20, 3);
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        bytes seen;
        fake::server srv([&](fake::session &s) { s.read_raw(&seen, compressed ? 31 : 24); });
        connect(srv, compressed);
        packet_reset_seq(conn);
        ASSERT_EQ(send_payload(conn, cmd), 0);
        ASSERT_TRUE(srv.wait_done());
        EXPECT_EQ(conn->seq, 1);

        bytes expect = bytes{0x14, 0x00, 0x00, 0x00} + cmd;
        if (compressed)   // comp_len 24, frame 0, uncomp_len 0: sent as it is
            expect = bytes{0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00} + expect;
        EXPECT_EQ(seen, expect);
        net_close(conn);
    }
}

TEST_F(wire, FullPayloadIsFollowedByEmptyPacket)
{
    std::vector<std::pair<uint8_t, size_t>> got;
    bytes first;
    fake::server srv([&](fake::session &s) {
        uint8_t seq;
        bytes payload;
        while (got.size() < 2 && s.read_packet(&seq, &payload, 10000)) {
            got.push_back({seq, payload.size()});
            if (got.size() == 1)
                first = payload;
        }
    });
    connect(srv);
    conn->seq = 5;
    const bytes big = pattern(MAX_PACKET_PAYLOAD, 1);
    ASSERT_EQ(send_payload(conn, big), 0);
    ASSERT_TRUE(srv.wait_done(20000));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], (std::pair<uint8_t, size_t>{5, MAX_PACKET_PAYLOAD}));
    EXPECT_EQ(got[1], (std::pair<uint8_t, size_t>{6, 0}));
    EXPECT_TRUE(first == big);
    EXPECT_EQ(conn->seq, 7);
}

TEST_F(wire, SendToClosedPeerFailsWithoutSignal)
{
    fake::server srv([](fake::session &s) { s.close(); });
    connect(srv);
    ASSERT_TRUE(srv.wait_done());
    // The first sends may still be accepted by the kernel; a later one sees
    // the reset. A SIGPIPE would end this test process.
    int rc = 0;
    for (int i = 0; i < 50 && rc == 0; i++) {
        rc = send_payload(conn, pattern(4000));
        if (rc == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(rc, -4);
    std::string d = all_diags(conn);
    EXPECT_NE(d.find("08S01 " + PREFIX + "Communication link failure: send failed"), std::string::npos) << d;
    EXPECT_NE(d.find("short write"), std::string::npos) << d;
    EXPECT_EQ(conn->link_broken, 1);
}

// ------------------------------------------------------------- reading

TEST_F(wire, ReadReassemblesContinuationPackets)
{
    const bytes a = pattern(MAX_PACKET_PAYLOAD, 7), b = pattern(10, 9);
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        fake::server srv([&](fake::session &s) {
            s.set_compressed(compressed);
            s.send_packet(0, a);
            s.send_packet(1, b);
        });
        connect(srv, compressed);
        conn->seq = 0;
        my_packet *p = packet_read(conn);
        ASSERT_NE(p, nullptr) << all_diags(conn);
        EXPECT_EQ(p->limit, 4 + MAX_PACKET_PAYLOAD + 10);
        EXPECT_EQ(p->pos, 4);
        EXPECT_TRUE(payload_of(p) == a + b);
        EXPECT_EQ(conn->seq, 2);
        packet_free(p);
        net_close(conn);
    }
}

TEST_F(wire, SequenceMismatchOnConnectionAndStatement)
{
    fake::server srv([](fake::session &s) {
        s.send_packet(3, fake::ok_packet());
        s.send_packet(3, fake::ok_packet());
        s.sleep_ms(500);
    });
    connect(srv);
    const std::string expect = PREFIX + "Communication link failure: Unexpected packet sequence 3 != 2";

    conn->seq = 2;
    EXPECT_EQ(packet_read(conn), nullptr);
    EXPECT_EQ(diag_state(conn), "08S01");
    EXPECT_EQ(diag_text(conn), expect);

    // a statement checks its own counter, and the record lands on it
    my_statement *stmt = stmt_create(conn);
    ASSERT_NE(stmt, nullptr);
    stmt->seq = 2;
    clear_diagnostics(conn);
    // the first mismatch left the payload unread: skip it to stay in step
    unsigned char skip[7];
    ASSERT_EQ(net_read_exact(conn, skip, sizeof skip, monotonic_ms() + 1000), 7);
    EXPECT_EQ(packet_read(stmt), nullptr);
    EXPECT_EQ(diag_text(stmt), expect);
    EXPECT_EQ(diag_count(conn), 0);
}

TEST_F(wire, ManySmallPacketsAreServedFromOneReceive)
{
    const int N = 500;
    bytes burst;
    for (int i = 0; i < N; i++)
        burst = burst + fake::packet_bytes((uint8_t)i, fake::text_row({std::to_string(i), std::nullopt}));
    fake::server srv([&](fake::session &s) {
        s.send_raw(burst);
        s.sleep_ms(500);
    });
    connect(srv);
    conn->seq = 0;
    my_packet reuse{};
    ASSERT_EQ(packet_read_into(conn, &reuse), 0) << all_diags(conn);
    // the rest of the burst is already buffered: no receive per packet
    EXPECT_GT(conn->rbuf_len - conn->rbuf_off, 0u);
    unsigned char *buffer = nullptr;
    for (int i = 1; i < N; i++) {
        ASSERT_EQ(packet_read_into(conn, &reuse), 0) << i << all_diags(conn);
        bytes want = fake::text_row({std::to_string(i), std::nullopt});
        ASSERT_EQ(payload_of(&reuse), want) << i;
        EXPECT_EQ(reuse.owner, conn);
        if (i == 100)   // the longest rows start here
            buffer = reuse.data;
    }
    // once it is large enough, one buffer serves every row
    EXPECT_EQ(reuse.data, buffer);
    free(reuse.data);
}

// ---------------------------------------------------- compressed framing

struct compressed_case {
    const char *name;
    bytes payload;
    std::vector<uint32_t> uncomp_lens;   // of the driver's frames; 0 = sent as it is
};

TEST_F(wire, CompressedRoundTrip)
{
    // a packet is framed with its 4-byte header: payload 46 -> 50 bytes raw
    const std::vector<compressed_case> cases = {
        {"small", pattern(10), {0}},
        {"fifty", pattern(46), {0}},
        {"fifty-one, compressible", bytes(47, 'a'), {51}},
        {"incompressible", random_bytes(1000, 1), {0}},
        {"compressible", pattern(100000), {100004}},
        {"above 8 MB", pattern(0x900000), {0x800000, 0x100004}},
        {"above 8 MB incompressible", random_bytes(0x900000, 2), {0, 0}},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        std::vector<fake::frame_info> frames;
        bytes echoed;
        fake::server srv([&](fake::session &s) {
            s.set_compressed(true);
            uint8_t seq;
            if (!s.read_packet(&seq, &echoed, 10000))
                return;
            frames = s.frames_seen();
            s.send_packet((uint8_t)(seq + 1), echoed);
        });
        connect(srv, true);
        packet_reset_seq(conn);
        ASSERT_EQ(send_payload(conn, tc.payload), 0) << all_diags(conn);
        my_packet *p = packet_read(conn);
        ASSERT_NE(p, nullptr) << all_diags(conn);
        ASSERT_TRUE(srv.wait_done(10000));
        EXPECT_TRUE(echoed == tc.payload);
        EXPECT_TRUE(payload_of(p) == tc.payload);
        ASSERT_EQ(frames.size(), tc.uncomp_lens.size());
        for (size_t i = 0; i < frames.size(); i++) {
            EXPECT_EQ(frames[i].uncomp_len, tc.uncomp_lens[i]) << i;
            EXPECT_EQ(frames[i].seq, i) << i;
        }
        packet_free(p);
        net_close(conn);
    }
}

TEST_F(wire, CompressedPacketsShareAndSpanFrames)
{
    const bytes a = pattern(30, 1), b = pattern(5000, 2), c = pattern(70000, 3);
    fake::server srv([&](fake::session &s) {
        // two packets in one frame, then one packet cut across two frames
        s.send_compressed(fake::packet_bytes(0, a) + fake::packet_bytes(1, b));
        bytes third = fake::packet_bytes(2, c);
        s.send_compressed(bytes(third.begin(), third.begin() + 1000));
        s.send_compressed(bytes(third.begin() + 1000, third.end()));
        s.sleep_ms(500);
    });
    connect(srv, true);
    conn->seq = 0;
    for (const bytes *want : {&a, &b, &c}) {
        my_packet *p = packet_read(conn);
        ASSERT_NE(p, nullptr) << all_diags(conn);
        EXPECT_TRUE(payload_of(p) == *want);
        packet_free(p);
    }
}

// ------------------------------------------------------- hostile input

// Commands sent together go out in one write, each numbered from 0 (and,
// compressed, in frames numbered from 0), before any answer is read; the
// answers are read in order, a refusal in the middle posted and the answers
// after it still read. The server answers nothing before it has all three,
// so a client that waited in between would fail here.
TEST_F(wire, PipelinedCommandsAreWrittenTogetherAndAnsweredInOrder)
{
    const std::string long_text = "SELECT '" + std::string(200, 'x') + "'";   // compressible
    const std::vector<std::string> texts = {"SET a=1", long_text, "SET c=3"};
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        std::vector<std::pair<uint8_t, std::string>> seen;
        std::vector<fake::frame_info> frames;
        fake::server srv([&](fake::session &s) {
            s.set_compressed(compressed);
            uint8_t seq;
            bytes p;
            for (int i = 0; i < 3 && s.read_packet(&seq, &p, 3000); i++)
                seen.push_back({seq, std::string(p.begin() + 1, p.end())});
            frames = s.frames_seen();
            if (seen.size() != 3)
                return;
            s.send_packet(1, fake::ok_packet());
            s.send_packet(1, fake::err_packet(1064, "42000", "refused in the middle"));
            s.send_packet(1, fake::ok_packet());
        });
        connect(srv, compressed);
        conn->client_caps = conn->server_caps = fake::CAP_PROTOCOL_41;   // errors carry their SQLSTATE
        pipelined_command cmds[3];
        for (size_t i = 0; i < 3; i++) {
            my_string *t = ms_from_latin1(texts[i].c_str());
            cmds[i] = {conn, query_command(conn, t), nullptr, nullptr, 99};
            ms_free(t);
        }
        EXPECT_EQ(run_pipelined(conn, cmds, 3), -1);
        ASSERT_TRUE(srv.wait_done());
        EXPECT_EQ(cmds[0].rc, 0);
        EXPECT_EQ(cmds[1].rc, -1);
        EXPECT_EQ(cmds[2].rc, 0);
        ASSERT_EQ(seen.size(), 3u);
        for (size_t i = 0; i < 3; i++) {
            EXPECT_EQ(seen[i].first, 0) << i;
            EXPECT_EQ(seen[i].second, texts[i]) << i;
            EXPECT_EQ(cmds[i].packet, nullptr) << i;   // freed
        }
        if (compressed) {
            ASSERT_EQ(frames.size(), 3u);
            for (const fake::frame_info &f : frames)
                EXPECT_EQ(f.seq, 0);
            EXPECT_GT(frames[1].uncomp_len, 0u);   // the long one went out compressed
        }
        ASSERT_EQ(diag_count(conn), 1);
        EXPECT_EQ(diag_state(conn, 1), "42000");
        EXPECT_EQ(diag_text(conn, 1), PREFIX + "refused in the middle");
        EXPECT_GE(conn->sock, 0);   // a refusal leaves the link as it was
        net_close(conn);
        clear_diagnostics(conn);
    }
}

struct hostile_case {
    const char *name;
    bool compressed;
    bytes raw;            // sent, then the peer closes
    const char *text;     // expected in the handle's records
};

bytes zlib_frame(const bytes &data, uint32_t announced)
{
    bytes z(compressBound(data.size()));
    uLongf n = z.size();
    compress(z.data(), &n, data.data(), data.size());
    z.resize(n);
    bytes f;
    fake::put_u24(f, (uint32_t)z.size());
    f.push_back(0);
    fake::put_u24(f, announced);
    return f + z;
}

TEST_F(wire, HostileInputGives08S01)
{
    const std::vector<hostile_case> cases = {
        {"length beyond what arrives", false, bytes{100, 0, 0, 0} + pattern(10),
         "socket read failed (2), -1 0"},
        {"header cut short", false, bytes{100, 0}, "socket read failed (1), -1 0"},
        {"largest length, nothing follows", false, bytes{0xFF, 0xFF, 0xFF, 0},
         "socket read failed (2), -1 0"},
        {"continuation header missing", false,
         fake::packet_bytes(0, pattern(MAX_PACKET_PAYLOAD)), "socket read failed (3), -1 0"},
        {"absurd compressed length", true, bytes{0xFF, 0xFF, 0xFF, 0, 0, 0, 0} + pattern(5),
         "socket read failed (1), -1 0"},
        {"absurd uncompressed length", true, bytes{10, 0, 0, 0, 0xFF, 0xFF, 0xFF} + pattern(10),
         "malformed compressed frame: comp_len=10, uncomp_len=16777215"},
        {"shorter than announced", true, zlib_frame(pattern(200), 300),
         "malformed compressed frame"},
        {"longer than announced", true, zlib_frame(pattern(200), 100), "uncompress failed -5"},
        {"not zlib data", true, bytes{60, 0, 0, 0, 100, 0, 0} + random_bytes(60, 5),
         "uncompress failed -3"},
        {"frame header cut short", true, bytes{10, 0, 0}, "socket read failed (1), -1 0"},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        fake::server srv([&](fake::session &s) {
            s.send_raw(tc.raw);
            s.close();
        });
        connect(srv, tc.compressed);
        conn->seq = 0;
        int64_t t0 = now_ms();
        my_packet *p = packet_read(conn);
        EXPECT_EQ(p, nullptr);
        packet_free(p);
        EXPECT_LT(now_ms() - t0, 3000);
        EXPECT_EQ(diag_state(conn), "08S01");
        std::string d = all_diags(conn);
        EXPECT_NE(d.find(tc.text), std::string::npos) << d;
        EXPECT_EQ(conn->hdr.timed_out, 0u);
        clear_diagnostics(conn);
        net_close(conn);
    }
}

TEST_F(wire, PeerShutdownIsReportedByTheTransport)
{
    fake::server srv([](fake::session &s) { s.close(); });
    connect(srv);
    conn->seq = 0;
    EXPECT_EQ(packet_read(conn), nullptr);
    std::string d = all_diags(conn);
    EXPECT_NE(d.find(PREFIX + "Communication link failure: read failed (peer shutdown)"),
              std::string::npos) << d;
    EXPECT_NE(d.find("socket read failed (1), -1 0"), std::string::npos) << d;
}

TEST_F(wire, ClosedSocketFailsAtOnce)
{
    fake::server srv([](fake::session &s) { s.sleep_ms(3000); });
    connect(srv);
    net_close(conn);
    EXPECT_EQ(conn->sock, -1);
    EXPECT_EQ(conn->closed, 1);
    unsigned char buf[4];
    size_t got = 99;
    int64_t t0 = now_ms();
    EXPECT_EQ(net_read(conn, buf, sizeof buf, &got, monotonic_ms() + 5000), -1);
    EXPECT_LT(now_ms() - t0, 1000);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(diag_state(conn), "08S01");
}

// ------------------------------------------------------------ time-outs

TEST_F(wire, ReadTimeOutFromSilentPeer)
{
    fake::server srv([](fake::session &s) {
        s.send_raw(bytes{20, 0, 0, 0, 1, 2});   // a header, then part of the payload
        s.sleep_ms(3000);
    });
    connect(srv);
    unsigned char buf[64];
    size_t got = 0;
    // the first bytes are there: one receive returns what arrived
    ASSERT_EQ(net_read(conn, buf, 2, &got, monotonic_ms() + 300), 2);
    ASSERT_EQ(net_read(conn, buf, sizeof buf, &got, monotonic_ms() + 300), 4);
    int64_t t0 = now_ms();
    EXPECT_EQ(net_read(conn, buf, sizeof buf, &got, monotonic_ms() + 300), -2);
    int64_t waited = now_ms() - t0;
    EXPECT_GE(waited, 250);
    EXPECT_LT(waited, 1500);
    EXPECT_EQ(diag_count(conn), 0);
}

TEST_F(wire, PacketReadTimeOutSetsFlagOnly)
{
    fake::server srv([](fake::session &s) {
        s.send_raw(bytes{20, 0, 0, 0, 1, 2});   // payload never completes
        s.sleep_ms(3000);
    });
    connect(srv);
    conn->ConnectionTimeout = 300;
    my_statement *stmt = stmt_create(conn);
    ASSERT_NE(stmt, nullptr);
    int64_t t0 = now_ms();
    EXPECT_EQ(packet_read(stmt), nullptr);
    EXPECT_LT(now_ms() - t0, 1500);
    EXPECT_EQ(stmt->hdr.timed_out, 1u);
    EXPECT_EQ(diag_count(stmt), 0);
    EXPECT_EQ(diag_count(conn), 0);
}

TEST_F(wire, ReadTimeOutRule)
{
    struct rule_case {
        int64_t query_timeout;     // statement, seconds
        int32_t connection_timeout;   // attribute, seconds
        int32_t setting_ms;        // ConnectionTimeout setting
        int expect_stmt, expect_conn;
    };
    const rule_case cases[] = {
        {0, 0, 0, 0, 0},           // waits without limit
        {0, 0, 700, 700, 700},
        {5, 0, 700, 5000, 700},
        {5, 3, 700, 3000, 3000},
        {2, 3, 700, 2000, 3000},
        {0, 4, 700, 4000, 4000},
        {(int64_t)1 << 40, 0, 0, INT_MAX, 0},
    };
    my_statement *stmt = stmt_create(conn);
    ASSERT_NE(stmt, nullptr);
    for (const auto &tc : cases) {
        stmt->query_timeout = tc.query_timeout;
        conn->connection_timeout = tc.connection_timeout;
        conn->ConnectionTimeout = tc.setting_ms;
        EXPECT_EQ(read_timeout_ms(stmt), tc.expect_stmt) << tc.query_timeout << "/" << tc.connection_timeout;
        EXPECT_EQ(read_timeout_ms(conn), tc.expect_conn);
    }
}

// ---------------------------------------------------------- server list

TEST_F(wire, ServerListSkipsRefusingEntry)
{
    fake::server srv([](fake::session &s) { s.sleep_ms(200); });
    ASSERT_TRUE(srv.ok());
    const int refusing = fake::server::refusing_port();
    const std::string good = std::to_string(srv.port());
    for (const char *sep : {":", "*"}) {
        SCOPED_TRACE(sep);
        std::string list = "127.0.0.1" + std::string(sep) + std::to_string(refusing) +
                           ",127.0.0.1" + sep + good;
        ASSERT_EQ(open_list(list), 0) << all_diags(conn);
        EXPECT_EQ(diag_count(conn), 0) << all_diags(conn);
        EXPECT_EQ(text_of(conn->server_in_use), "127.0.0.1" + std::string(sep) + good);
        EXPECT_EQ(conn->port_in_use, srv.port());
        EXPECT_GE(conn->sock, 0);
        net_close(conn);
    }
    EXPECT_TRUE(srv.wait_done(5000, 2));
    EXPECT_EQ(srv.accepted(), 2);
}

TEST_F(wire, PortRules)
{
    fake::server srv([](fake::session &s) { s.sleep_ms(200); });
    ASSERT_TRUE(srv.ok());
    // a non-zero port argument wins over the entry's own port
    ASSERT_EQ(open_list("127.0.0.1:1", srv.port()), 0) << all_diags(conn);
    EXPECT_EQ(conn->port_in_use, srv.port());
    net_close(conn);
    // blanks around list entries are ignored
    ASSERT_EQ(open_list(" 127.0.0.1 : " + std::to_string(srv.port())), 0) << all_diags(conn);
    net_close(conn);

    const char *bad[] = {"abc", "", "12ab", "0", "70000"};
    for (const char *port : bad) {
        SCOPED_TRACE(port);
        clear_diagnostics(conn);
        EXPECT_EQ(open_list(std::string("127.0.0.1:") + port), -3);
        EXPECT_EQ(diag_state(conn), "08001");
        EXPECT_EQ(diag_text(conn), PREFIX + "Client unable to establish connection: "
                                            "Failed to extract numeric port from '" + port + "'");
        EXPECT_EQ(conn->sock, -1);
    }
}

TEST_F(wire, ConnectFailures)
{
    const int refusing = fake::server::refusing_port();
    EXPECT_EQ(open_list("127.0.0.1", refusing), -3);
    EXPECT_EQ(diag_state(conn), "08001");
    EXPECT_EQ(diag_text(conn), PREFIX + "Client unable to establish connection: "
                                        "OS Error: 'Connection refused'");
    EXPECT_EQ(conn->sock, -1);

    clear_diagnostics(conn);
    EXPECT_EQ(open_list("no-such-host.invalid", 3306), -3);
    EXPECT_EQ(diag_text(conn), PREFIX + "Client unable to establish connection: "
                                        "Failed to find host address 'no-such-host.invalid'");

    // IPv6 takes only '*' as its port separator; colons are the address
    clear_diagnostics(conn);
    conn->IPV6 = 1;
    EXPECT_EQ(open_list("::1*" + std::to_string(refusing)), -3);
    EXPECT_EQ(conn->port_in_use, refusing);
    EXPECT_EQ(diag_state(conn), "08001") << all_diags(conn);
}

TEST_F(wire, LogonTimeOutAgainstFullBacklog)
{
    fake::stalled_listener stalled;
    if (!stalled.ok())
        GTEST_SKIP() << "could not fill a listen queue here";
    conn->effective_logon_timeout = 500;
    int64_t t0 = now_ms();
    EXPECT_EQ(open_list("127.0.0.1", stalled.port()), -3);
    int64_t waited = now_ms() - t0;
    EXPECT_GE(waited, 450);
    EXPECT_LT(waited, 2500);
    EXPECT_EQ(diag_state(conn), "HYT01");
    EXPECT_EQ(diag_text(conn), PREFIX + "Connection timeout expired");
    EXPECT_EQ(conn->sock, -1);

    // the login-timeout attribute (seconds) applies when LogonTimeout does not
    clear_diagnostics(conn);
    conn->effective_logon_timeout = 0;
    conn->login_timeout = 1;
    t0 = now_ms();
    EXPECT_EQ(open_list("127.0.0.1", stalled.port()), -3);
    waited = now_ms() - t0;
    EXPECT_GE(waited, 950);
    EXPECT_LT(waited, 3000);
    EXPECT_EQ(diag_state(conn), "HYT01");
}

TEST_F(wire, Ipv6EntryWithStarPort)
{
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in6 a;
    memset(&a, 0, sizeof a);
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, (struct sockaddr *)&a, sizeof a) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, (struct sockaddr *)&a, &len) != 0) {
        if (fd >= 0)
            close(fd);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    const int port = ntohs(a.sin6_port);
    conn->IPV6 = 1;
    ASSERT_EQ(open_list("::1*" + std::to_string(port)), 0) << all_diags(conn);
    EXPECT_EQ(conn->port_in_use, port);
    EXPECT_EQ(text_of(conn->server_in_use), "::1*" + std::to_string(port));
    net_close(conn);
    ASSERT_EQ(open_list("::1", port), 0) << all_diags(conn);
    net_close(conn);
    close(fd);
}
