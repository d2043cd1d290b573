// Packet writers and bounded readers, without a socket.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <vector>

#include "frame/my_handle.h"
#include "protocol/my_pkt.h"

namespace {

using bytes = std::vector<unsigned char>;

struct pkt_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    void TearDown() override { env_release(env); }

    bytes written(const my_packet *p) { return bytes(p->data + 4, p->data + p->length); }

    // An incoming packet over the given payload bytes.
    my_packet *incoming(const bytes &payload)
    {
        my_packet *p = (my_packet *)calloc(1, sizeof *p);
        p->data = (unsigned char *)malloc(payload.size() + 4);
        memcpy(p->data + 4, payload.data(), payload.size());
        p->pos = 4;
        p->limit = (int32_t)payload.size() + 4;
        p->owner = conn;
        return p;
    }
};

} // namespace

TEST_F(pkt_fixture, LengthEncodedIntegers)
{
    const struct {
        uint64_t v;
        bytes out;
    } cases[] = {
        {0, {0x00}},
        {250, {0xFA}},
        {251, {0xFC, 0xFB, 0x00}},
        {0xFFFE, {0xFC, 0xFE, 0xFF}},
        {0xFFFF, {0xFD, 0xFF, 0xFF, 0x00}},      // one below the usual bound
        {0xFFFFFE, {0xFD, 0xFE, 0xFF, 0xFF}},
        {0xFFFFFF, {0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0}},
        {0x0102030405060708ULL, {0xFE, 8, 7, 6, 5, 4, 3, 2, 1}},
    };
    for (const auto &tc : cases) {
        my_packet *p = packet_new(conn);
        ASSERT_EQ(packet_put_lenenc(p, tc.v), 0);
        EXPECT_EQ(written(p), tc.out) << tc.v;
        packet_free(p);
    }
    // servers before 3.23 take 4 bytes after 0xFE
    conn->version_major = 3;
    conn->version_minor = 22;
    my_packet *p = packet_new(conn);
    ASSERT_EQ(packet_put_lenenc(p, 0x01000000), 0);
    EXPECT_EQ(written(p), (bytes{0xFE, 0, 0, 0, 1}));
    packet_free(p);
}

TEST_F(pkt_fixture, ReadersStopAtTheEnd)
{
    uint64_t v = 0;
    my_packet *p = incoming({0xFB});
    EXPECT_EQ(packet_get_lenenc(p, &v), 0);
    EXPECT_EQ(v, (uint64_t)LENENC_NULL);
    packet_free(p);

    p = incoming({0xFF, 1, 2});
    EXPECT_EQ(packet_get_lenenc(p, &v), -6);
    packet_free(p);

    p = incoming({0xFD, 1});   // a 3-byte value with one byte there
    EXPECT_EQ(packet_get_lenenc(p, &v), -6);
    EXPECT_EQ(p->pos, 4);
    packet_free(p);

    p = incoming({0x34});
    packet_get_u16(p);
    EXPECT_EQ(p->pos, p->limit);
    unsigned b = 7;
    EXPECT_EQ(packet_get_u8(p, &b), 0);
    EXPECT_EQ(packet_remaining(p), 0);
    packet_free(p);

    p = incoming({0x03, 'a', 'b'});   // a string longer than the packet
    my_string *s = nullptr;
    EXPECT_EQ(packet_get_lenenc_string(p, &s), -6);
    EXPECT_EQ(s, nullptr);
    packet_free(p);
}

TEST_F(pkt_fixture, SendWithoutConnectionFails)
{
    my_packet *p = packet_new(conn);
    EXPECT_EQ(packet_send(conn, p), -4);   // an empty packet, but no socket
    EXPECT_EQ(diag_count(conn), 2);           // "send failed" and "short write"
    p->length = 3;
    clear_diagnostics(conn);
    EXPECT_EQ(packet_send(conn, p), -4);
    EXPECT_EQ(diag_count(conn), 0);
    packet_free(p);
}
