// A statement's queue: records land in chunks that never move, a record
// never straddles two chunks, a cleared queue keeps only a small chunk, and
// the static cursor's index reaches rows in any chunk in one step.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_proto.h"
#include "protocol/my_response.h"
#include "support/unit_support.h"

namespace {

using fake::bytes;
using unit_support::all_diags;

// A payload of n bytes that tells which record it is.
bytes payload(size_t n, unsigned id)
{
    bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = (uint8_t)(id * 7 + i);
    return b;
}

bytes payload_of(const my_packet *p) { return bytes(p->data + 4, p->data + p->limit); }

// A record takes 4 bytes of size, the 4-byte header and the payload.
size_t payload_filling(size_t record) { return record - 8; }

struct queue_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = nullptr;
    my_statement *stmt = nullptr;

    void SetUp() override
    {
        conn = conn_create(env, 3);
        conn->server_caps = conn->client_caps = CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS;
        conn->charset = 33;
        stmt = stmt_create(conn);
    }
    void TearDown() override { env_release(env); }

    const packet_queue &q() const { return stmt->queue; }
    std::vector<const queue_chunk *> chunks() const
    {
        std::vector<const queue_chunk *> all;
        for (const queue_chunk *k = q().first; k; k = k->next)
            all.push_back(k);
        return all;
    }
    void append(const bytes &p) { ASSERT_EQ(queue_append(stmt, p.data(), p.size(), 1), 0); }
    // Takes every queued record and compares it with what was appended.
    void expect_records(const std::vector<bytes> &want)
    {
        ASSERT_EQ(q().count, (int64_t)want.size());
        for (size_t i = 0; i < want.size(); i++) {
            my_packet *p = stmt_next_row(stmt, "test");
            ASSERT_NE(p, nullptr) << i;
            ASSERT_EQ(payload_of(p), want[i]) << "record " << i;
        }
        EXPECT_EQ(q().count, 0);
    }
};

} // namespace

TEST_F(queue_fixture, RecordsNeverStraddleChunks)
{
    const size_t first = QUEUE_FIRST_SIZE;
    struct layout_case {
        const char *name;
        std::vector<size_t> sizes;          // payload sizes, in order
        std::vector<size_t> chunk_records;  // records per chunk
    };
    const layout_case cases[] = {
        // two records fill the first chunk to its last byte; the third starts the next
        {"exact fill", {payload_filling(first / 2), payload_filling(first / 2), 10}, {2, 1}},
        // one byte more than the rest of the chunk moves the record on whole
        {"one byte over", {payload_filling(first / 2), payload_filling(first / 2) + 1}, {1, 1}},
        // a record larger than any chunk gets one of its own; small ones follow in a new one
        {"larger than a chunk", {10, QUEUE_CHUNK_MOST * 2, 10, 10}, {1, 1, 2}},
        {"empty payloads", {0, 0, 0}, {3}},
    };
    for (const layout_case &c : cases) {
        SCOPED_TRACE(c.name);
        queue_clear(stmt);
        std::vector<bytes> appended;
        for (size_t i = 0; i < c.sizes.size(); i++) {
            appended.push_back(payload(c.sizes[i], (unsigned)i));
            append(appended.back());
        }
        std::vector<size_t> per_chunk;
        for (const queue_chunk *k : chunks()) {
            size_t n = 0;
            for (size_t at = 0; at < k->fill;) {
                int32_t size;
                memcpy(&size, (const unsigned char *)(k + 1) + at, 4);
                at += 4 + (size_t)size;
                ASSERT_LE(at, k->fill) << "a record runs past its chunk";
                n++;
            }
            ASSERT_LE(k->fill, k->cap);
            per_chunk.push_back(n);
        }
        EXPECT_EQ(per_chunk, c.chunk_records);
        if (std::string(c.name) == "exact fill") {
            EXPECT_EQ(chunks()[0]->fill, chunks()[0]->cap);
        }
        expect_records(appended);
    }
}

TEST_F(queue_fixture, HeldRowsStayInPlaceAsMoreArrive)
{
    // A row taken as a view keeps its address and bytes while many chunks' worth follow.
    append(payload(100, 1));
    my_packet *view = stmt_next_row(stmt, "test");
    ASSERT_NE(view, nullptr);
    const unsigned char *held = view->data;
    const bytes first = payload_of(view);

    const int N = 60000;   // about 7 MiB: every chunk size up to the cap
    for (int i = 0; i < N; i++)
        append(payload(100 + i % 50, (unsigned)i));
    EXPECT_GT(chunks().size(), 5u);
    EXPECT_EQ(view->data, held);
    EXPECT_EQ(bytes(held + 4, held + 4 + 100), first);
    for (const queue_chunk *k : chunks())
        EXPECT_LE(k->cap, QUEUE_CHUNK_MOST);
}

TEST_F(queue_fixture, IndexReachesRowsInEveryChunk)
{
    const int N = 40000;
    for (int i = 0; i < N; i++) {
        std::string v = std::to_string(i) + std::string((size_t)(i % 90), 'x');
        append(fake::text_row({v}));
    }
    append(fake::eof_packet(0, 2));
    ASSERT_GT(chunks().size(), 3u);
    ASSERT_EQ(index_rows(stmt), 0) << all_diags(stmt);
    ASSERT_EQ(stmt->rows.at.size(), (size_t)N);
    // the index does not consume the queue
    EXPECT_EQ(q().count, N + 1);
    for (int i : {N - 1, 0, N / 2, 1, N - 2, 12345, 3}) {
        my_packet *p = index_row(stmt, i);
        ASSERT_NE(p, nullptr);
        std::string v = std::to_string(i) + std::string((size_t)(i % 90), 'x');
        EXPECT_EQ(payload_of(p), fake::text_row({v})) << "row " << i;
    }
}

TEST_F(queue_fixture, ClearedQueueKeepsOneSmallChunk)
{
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        std::vector<bytes> rows;
        for (int i = 0; i < 3000; i++) {
            rows.push_back(payload(200, (unsigned)(i + round)));
            append(rows.back());
        }
        ASSERT_GT(chunks().size(), 1u);
        queue_clear(stmt);
        ASSERT_EQ(chunks().size(), 1u);
        EXPECT_EQ(chunks()[0]->cap, (size_t)QUEUE_FIRST_SIZE);
        EXPECT_EQ(chunks()[0]->fill, 0u);
        EXPECT_EQ(q().count, 0);
        // the kept chunk takes the next response
        rows.assign({payload(30, 1), payload(40, 2)});
        for (const bytes &r : rows)
            append(r);
        EXPECT_EQ(chunks().size(), 1u);
        expect_records(rows);
    }
    // a first chunk grown past the keep size goes too
    queue_clear(stmt);
    append(payload(QUEUE_KEEP * 2, 9));
    queue_clear(stmt);
    EXPECT_TRUE(chunks().empty());
    release_data_list(stmt);
    EXPECT_TRUE(chunks().empty());
}

// A response pulled off the wire: a row in continuation packets grows in a
// chunk of its own while the rows around it stay where they landed.
TEST_F(queue_fixture, PulledResponseWithContinuationRow)
{
    const std::string big((size_t)MAX_PACKET_PAYLOAD + 1000, 'b');
    const bytes big_row = fake::text_row({big});
    const bytes piece1(big_row.begin(), big_row.begin() + MAX_PACKET_PAYLOAD);
    const bytes piece2(big_row.begin() + MAX_PACKET_PAYLOAD, big_row.end());
    const bytes small1 = fake::text_row({"first"}), small2 = fake::text_row({"last"});
    fake::server srv([&](fake::session &s) {
        uint8_t seq = 1;
        s.send_packet(seq++, bytes{1});
        s.send_packet(seq++, fake::column_def(fake::column("v", MYSQL_TYPE_LONG_BLOB, 33, 0, 0, 0)));
        s.send_packet(seq++, fake::eof_packet(0, 2));
        s.send_packet(seq++, small1);
        s.send_packet(seq++, piece1);
        s.send_packet(seq++, piece2);
        s.send_packet(seq++, small2);
        s.send_packet(seq++, fake::eof_packet(0, 2));
        s.sleep_ms(500);
    });
    ASSERT_TRUE(srv.ok());
    my_string *host = ms_from_latin1("127.0.0.1");
    ASSERT_EQ(net_open(conn, host, srv.port()), 0) << all_diags(conn);
    ms_free(host);
    stmt->seq = 1;
    ASSERT_EQ(pull_data_locally(stmt), 0) << all_diags(stmt);
    ASSERT_EQ(q().count, 7);
    for (int i = 0; i < 3; i++)
        ASSERT_NE(stmt_next_row(stmt, "test"), nullptr);
    std::vector<bytes> want = {small1, big_row, small2};
    for (const bytes &w : want) {
        my_packet *p = stmt_next_row(stmt, "test");
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(payload_of(p) == w);
    }
    net_close(conn);
}
