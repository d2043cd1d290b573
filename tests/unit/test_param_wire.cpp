// A statement prepared on the scripted fake server, end to end: the
// parameter block the server receives, binary rows read back, and hostile
// binary rows (a null bitmap shorter than the column count, a length past
// the packet's end) that end the fetch with 08S01 and read nothing past
// the packet.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_proto.h"
#include "support/unit_support.h"

namespace {

using fake::bytes;
using fake::operator+;

std::string text_of(const my_string *s) { return unit_support::ascii_of(s); }

bytes response(const std::vector<bytes> &packets, uint8_t first = 1)
{
    bytes all;
    for (const bytes &p : packets)
        all = all + fake::packet_bytes(first++, p);
    return all;
}

bytes command(fake::session &s)
{
    uint8_t seq;
    bytes p;
    if (!s.read_packet(&seq, &p, 5000))
        return bytes();
    return p;
}

fake::column_info column(const std::string &name, uint8_t type)
{
    fake::column_info c;
    c.name = name;
    c.type = type;
    return c;
}

// Prepared statement 7 with one parameter and the columns (a INT, b VARCHAR).
std::vector<bytes> prepare_ok()
{
    bytes ok{0x00, 7, 0, 0, 0, 2, 0, 1, 0, 0x00, 0, 0};
    return {ok, fake::column_def(column("?", MYSQL_TYPE_NULL)), fake::eof_packet(),
            fake::column_def(column("a", MYSQL_TYPE_LONG)),
            fake::column_def(column("b", MYSQL_TYPE_VAR_STRING)), fake::eof_packet()};
}

// The execute's result: definitions, then the given binary rows, then EOF.
std::vector<bytes> result(const std::vector<bytes> &rows)
{
    std::vector<bytes> r{bytes{2}, fake::column_def(column("a", MYSQL_TYPE_LONG)),
                         fake::column_def(column("b", MYSQL_TYPE_VAR_STRING)), fake::eof_packet()};
    r.insert(r.end(), rows.begin(), rows.end());
    r.push_back(fake::eof_packet());
    return r;
}

const bytes GOOD_ROW{0x00, 0x00, 0x2A, 0, 0, 0, 3, 'a', 'b', 'c'};

struct wire_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = nullptr;
    bytes executed;   // the COM_STMT_EXECUTE the server saw

    void TearDown() override { env_release(env); }

    void connect(const fake::server &srv)
    {
        ASSERT_TRUE(srv.ok());
        my_string *host = ms_from_latin1("127.0.0.1");
        ASSERT_EQ(net_open(conn, host, srv.port()), 0);
        ms_free(host);
        conn->server_caps = conn->client_caps = CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS;
        conn->charset = 33;
        conn->connected = 1;
        stmt = stmt_create(conn);
        ASSERT_NE(stmt, nullptr);
    }
    // Prepares, binds one integer and executes against a server answering
    // with rows.
    SQLRETURN run(const std::vector<bytes> &rows, fake::server **out)
    {
        *out = new fake::server([this, rows](fake::session &s) {
            command(s);
            s.send_raw(response(prepare_ok()));
            executed = command(s);
            s.send_raw(response(result(rows)));
            command(s);   // the close, when the statement goes
        });
        connect(**out);
        static int32_t v = -5;
        static SQLLEN ind = 0;
        EXPECT_EQ(SQLPrepare(stmt, (SQLCHAR *)"SELECT a, b FROM t WHERE a > ?", SQL_NTS),
                  SQL_SUCCESS);
        EXPECT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &v,
                                   0, &ind), SQL_SUCCESS);
        return SQLExecute(stmt);
    }
    std::string state()
    {
        diag_record *r = diag_get(stmt, 1);
        return r ? text_of(r->sqlstate) : "";
    }
};

} // namespace

TEST_F(wire_fixture, ExecuteSendsTheBlockAndReadsBinaryRows)
{
    fake::server *srv;
    ASSERT_EQ(run({GOOD_ROW, bytes{0x00, 0x04, 3, 'x', 'y', 'z'}}, &srv), SQL_SUCCESS);
    // statement 7, no cursor, one iteration; bitmap, types bound, LONG -5
    EXPECT_TRUE(executed == (bytes{0x17, 7, 0, 0, 0, 0, 1, 0, 0, 0, 0x00, 0x01, 0x03, 0x00, 0xFB,
                                   0xFF, 0xFF, 0xFF}));
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    int32_t a = 0;
    char b[8] = "";
    SQLLEN ind = 0;
    EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_SLONG, &a, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(a, 42);
    EXPECT_EQ(SQLGetData(stmt, 2, SQL_C_CHAR, b, sizeof b, &ind), SQL_SUCCESS);
    EXPECT_STREQ(b, "abc");
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);   // column a is NULL: bit 2 of the bitmap
    EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_SLONG, &a, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, SQL_NULL_DATA);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    SQLFreeStmt(stmt, SQL_DROP);
    stmt = nullptr;
    EXPECT_TRUE(srv->wait_done());
    delete srv;
}

TEST_F(wire_fixture, HostileBinaryRowsEndTheFetchWith08S01)
{
    struct hostile {
        const char *name;
        bytes row;
    } cases[] = {
        {"no null bitmap", bytes{0x00}},
        {"length past the packet's end", bytes{0x00, 0x00, 1, 0, 0, 0, 0xFC, 0xFF, 0x7F, 'a'}},
        {"integer cut short", bytes{0x00, 0x00, 1, 0}},
        {"bytes after the last column", GOOD_ROW + bytes{0}},
    };
    for (const hostile &c : cases) {
        SCOPED_TRACE(c.name);
        fake::server *srv;
        ASSERT_EQ(run({GOOD_ROW, c.row}, &srv), SQL_SUCCESS);
        EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
        EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
        EXPECT_EQ(state(), "08S01");
        SQLFreeStmt(stmt, SQL_DROP);
        stmt = nullptr;
        srv->wait_done();
        delete srv;
        env_release(env);
        env = env_create();
        conn = conn_create(env, 3);
    }
}
