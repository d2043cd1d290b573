// Static cursors over results the server cut short or spoiled: a result
// that ends in an error packet stays forward-only (the error must come where
// the rows end), and a malformed row in a scrolled rowset is that row's
// error, not the end of the cursor. Results are queued on the statement as
// the command layer leaves them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_decode.h"
#include "protocol/my_proto.h"
#include "results/my_fetch.h"
#include "stmt/my_stmt.h"
#include "support/unit_support.h"

namespace {

using fake::bytes;
using unit_support::text_of;

std::string state(const void *h, int n = 1)
{
    diag_record *d = diag_get(h, n);
    return d ? text_of(d->sqlstate) : "";
}

struct scroll_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = nullptr;
    my_statement *stmt = nullptr;

    void SetUp() override
    {
        conn = conn_create(env, 3);
        conn->server_caps = conn->client_caps = CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS;
        conn->charset = 33;
        stmt = stmt_create(conn);
        ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, (SQLPOINTER)SQL_CURSOR_STATIC, 0), SQL_SUCCESS);
    }
    void TearDown() override { env_release(env); }

    void queue(const bytes &p) { ASSERT_EQ(queue_append(stmt, p.data(), p.size(), 1), 0); }

    // One INT column; the given row packets, then `end`.
    void result(const std::vector<bytes> &rows, const bytes &end)
    {
        queue(fake::column_def(fake::column("id", MYSQL_TYPE_LONG, 33, 0, 0, 11)));
        queue(fake::eof_packet(0, 2));
        for (const bytes &r : rows)
            queue(r);
        queue(end);
        ASSERT_EQ(decode_field_defs(stmt, 1, DEF_COLUMNS, 0), 0);
    }
};

bytes row_of(int v) { return fake::text_row({std::to_string(v)}); }

} // namespace

TEST_F(scroll_fixture, ResultEndingInAnErrorStaysForwardOnly)
{
    result({row_of(1), row_of(2)}, fake::err_packet(1317, "70100", "Query execution was interrupted"));
    EXPECT_EQ(apply_cursor_downgrade(stmt, SQL_SUCCESS), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(state(stmt), "01S02");
    EXPECT_EQ(stmt->cursor_type, SQL_CURSOR_FORWARD_ONLY);
    clear_diagnostics(stmt);

    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &v, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_LAST, 0), SQL_ERROR);
    EXPECT_EQ(state(stmt), "HY106");
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    EXPECT_EQ(state(stmt), "70100");
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
}

TEST_F(scroll_fixture, MalformedRowIsThatRowsErrorOnly)
{
    // the middle row claims a 200-byte value in a 3-byte packet
    result({row_of(10), bytes{0xFC, 0xC8, 0x00}, row_of(30)}, fake::eof_packet(0, 2));
    EXPECT_EQ(apply_cursor_downgrade(stmt, SQL_SUCCESS), SQL_SUCCESS);
    EXPECT_EQ(stmt->cursor_type, SQL_CURSOR_STATIC);
    SQLLEN count = 0;
    EXPECT_EQ(SQLRowCount(stmt, &count), SQL_SUCCESS);
    EXPECT_EQ(count, 3);

    SQLINTEGER v[3] = {-1, -1, -1};
    SQLLEN ind[3] = {};
    SQLUSMALLINT status[3] = {};
    SQLULEN fetched = 0;
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)3, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, status, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, v, 0, ind), SQL_SUCCESS);
    EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(fetched, 3u);
    EXPECT_EQ(status[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(status[1], SQL_ROW_ERROR);
    EXPECT_EQ(status[2], SQL_ROW_SUCCESS);
    EXPECT_EQ(v[0], 10);
    EXPECT_EQ(v[2], 30);

    // the cursor is whole: it scrolls on, over the bad row too
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)1, 0), SQL_SUCCESS);
    EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS);
    EXPECT_EQ(v[0], 30);
    EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_PRIOR, 0), SQL_ERROR);
    EXPECT_EQ(status[0], SQL_ROW_ERROR);
    EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_PRIOR, 0), SQL_SUCCESS);
    EXPECT_EQ(v[0], 10);
    EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_PRIOR, 0), SQL_NO_DATA);
    EXPECT_EQ(fetched, 0u);

    // closing ends it
    EXPECT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    EXPECT_EQ(stmt->rows.active, 0);
    EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_FIRST, 0), SQL_NO_DATA);
}
