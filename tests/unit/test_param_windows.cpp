// Parameter arrays of a statement prepared on the server go out in windows
// of rows, one write per window, their answers read afterwards in row order.
// The fake server plays what the real one cannot be made to do: a link that
// fails while answers are still owed, and a look at the commands as sent.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "fake/fake_server.h"
#include "unit/fake_session.h"

namespace {

using fake::bytes;
using fake::operator+;
using fake_session::response;

const uint32_t STMT_ID = 0x2A;

// The answer to a prepare: statement 0x2A, no columns, one parameter.
bytes prepare_reply()
{
    bytes ok{0x00, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    return response({ok, fake::column_def(fake::column("?", 253)), fake::eof_packet()});
}

bytes command(fake::session &s, int timeout_ms = 5000)
{
    uint8_t seq = 0xFF;
    bytes p;
    if (!s.read_packet(&seq, &p, timeout_ms))
        return bytes();
    EXPECT_EQ(seq, 0) << "every command starts its own exchange";
    return p;
}

// The one parameter of a COM_STMT_EXECUTE: the 10-byte head, the null bitmap
// and the new-parameters byte, then its type and its value bytes.
struct sent_row {
    uint32_t id;
    uint8_t type;
    bytes value;
};

sent_row parse_execute(const bytes &p)
{
    sent_row r{};
    EXPECT_GE(p.size(), 14u);
    if (p.size() < 14 || p[0] != 0x17)
        return r;
    r.id = p[1] | p[2] << 8 | p[3] << 16 | (uint32_t)p[4] << 24;
    EXPECT_EQ(p[11], 1) << "new parameters bound";
    r.type = p[12];
    r.value.assign(p.begin() + 14, p.end());
    return r;
}

struct windows : fake_session::fixture {
    std::vector<SQLUSMALLINT> status;
    SQLULEN processed = 99;

    void array_of(size_t n)
    {
        status.assign(n, 99);
        ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)n, 0), SQL_SUCCESS);
        ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0), SQL_SUCCESS);
        ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0),
                  SQL_SUCCESS);
    }

    // (state, row number) of every record, in order.
    std::vector<std::pair<std::string, SQLLEN>> records()
    {
        std::vector<std::pair<std::string, SQLLEN>> out;
        for (SQLSMALLINT i = 1;; i++) {
            SQLCHAR st[6] = {};
            if (SQLGetDiagRec(SQL_HANDLE_STMT, stmt, i, st, nullptr, nullptr, 0, nullptr) !=
                SQL_SUCCESS)
                break;
            SQLLEN row = -99;
            SQLGetDiagField(SQL_HANDLE_STMT, stmt, i, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr);
            out.push_back({(const char *)st, row});
        }
        return out;
    }
};

} // namespace

// Rows of 30,000 bytes: two fit in a window. The server answers the first
// window, then only the first row of the second, and closes the link. The
// row whose answer could not be read and the row whose answer never came
// are errors (the server may have run them), the row never sent is unused,
// and the call fails.
TEST_F(windows, LinkFailsWithAnswersPending)
{
    const size_t n = 5, width = 30000;
    std::vector<bytes> seen;
    fake::server srv([&](fake::session &s) {
        command(s);
        s.send_raw(prepare_reply());
        for (int k = 0; k < 2; k++)
            seen.push_back(command(s));
        s.send_raw(response({fake::ok_packet(1, 0, 2)}) + response({fake::ok_packet(1, 0, 2)}));
        for (int k = 0; k < 2; k++)
            seen.push_back(command(s));
        s.send_raw(response({fake::ok_packet(1, 0, 2)}));
        s.close();
    });
    connect(srv);
    std::vector<char> text(n * (width + 1), 'a');
    for (size_t i = 0; i < n; i++) {
        text[i * (width + 1)] = (char)('0' + i);
        text[i * (width + 1) + width] = 0;
    }
    std::vector<SQLLEN> ind(n, SQL_NTS);
    array_of(n);
    ASSERT_EQ(SQLPrepare(stmt, (SQLCHAR *)"INSERT INTO t VALUES (?)", SQL_NTS), SQL_SUCCESS)
        << fake_session::all_diags(stmt);
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, width, 0,
                               text.data(), width + 1, ind.data()),
              SQL_SUCCESS);

    EXPECT_EQ(SQLExecute(stmt), SQL_ERROR);
    ASSERT_TRUE(srv.wait_done());
    EXPECT_EQ(status, (std::vector<SQLUSMALLINT>{SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS,
                                                 SQL_PARAM_SUCCESS, SQL_PARAM_ERROR,
                                                 SQL_PARAM_UNUSED}));
    EXPECT_EQ(processed, 4u);
    auto got = records();
    ASSERT_FALSE(got.empty());
    for (const auto &r : got) {
        EXPECT_EQ(r.first, "08S01");
        EXPECT_EQ(r.second, 4) << "only the row without an answer has records";
    }
    EXPECT_EQ(conn->link_broken, 1);
    ASSERT_EQ(seen.size(), 4u);
    for (size_t i = 0; i < seen.size(); i++) {
        sent_row r = parse_execute(seen[i]);
        EXPECT_EQ(r.id, STMT_ID);
        ASSERT_EQ(r.value.size(), 3 + width) << "row " << i;
        EXPECT_EQ(r.value[3], '0' + i) << "rows go in order";
    }
}

// A row whose value cannot be converted is an error of its own and is never
// sent; the rows around it go in the same window and keep their answers.
TEST_F(windows, RowThatCannotBeConvertedIsNotSent)
{
    std::vector<bytes> seen;
    fake::server srv([&](fake::session &s) {
        command(s);
        s.send_raw(prepare_reply());
        for (int k = 0; k < 3; k++)
            seen.push_back(command(s));
        s.send_raw(response({fake::ok_packet(1, 0, 2)}) +
                   response({fake::err_packet(1062, "23000", "Duplicate entry")}) +
                   response({fake::ok_packet(1, 0, 2)}));
        command(s, 1000);   // the statement's close, if any
    });
    connect(srv);
    char values[4][8] = {"1", "2", "x", "4"};
    SQLLEN ind[4] = {SQL_NTS, SQL_NTS, SQL_NTS, SQL_NTS};
    array_of(4);
    ASSERT_EQ(SQLPrepare(stmt, (SQLCHAR *)"insert into t values (?)", SQL_NTS), SQL_SUCCESS)
        << fake_session::all_diags(stmt);
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTEGER, 10, 0, values,
                               8, ind),
              SQL_SUCCESS);

    EXPECT_EQ(SQLExecute(stmt), SQL_SUCCESS_WITH_INFO) << fake_session::all_diags(stmt);
    EXPECT_EQ(status, (std::vector<SQLUSMALLINT>{SQL_PARAM_SUCCESS, SQL_PARAM_ERROR,
                                                 SQL_PARAM_ERROR, SQL_PARAM_SUCCESS}));
    EXPECT_EQ(processed, 4u);
    EXPECT_EQ(records(), (std::vector<std::pair<std::string, SQLLEN>>{{"23000", 2}, {"22018", 3}}));
    SQLLEN count = 0;
    EXPECT_EQ(SQLRowCount(stmt, &count), SQL_SUCCESS);
    EXPECT_EQ(count, 2);
    SQLFreeStmt(stmt, SQL_DROP);
    stmt = nullptr;
    ASSERT_TRUE(srv.wait_done());
    ASSERT_EQ(seen.size(), 3u);
    const int32_t want[] = {1, 2, 4};
    for (size_t i = 0; i < 3; i++) {
        sent_row r = parse_execute(seen[i]);
        EXPECT_EQ(r.type, 3) << "MYSQL_TYPE_LONG";
        ASSERT_EQ(r.value.size(), 4u);
        int32_t v;
        memcpy(&v, r.value.data(), 4);
        EXPECT_EQ(v, want[i]);
    }
}

// The server answers the first set of a window and then stalls: the read
// for the second times out (HYT00 on its set). The statement cannot be
// interrupted here (no server to send KILL QUERY to), so the link is
// closed, and the set whose answer never came is an error of its own.
TEST_F(windows, TimeOutWithAnswersOwed)
{
    fake::server srv([&](fake::session &s) {
        command(s);
        s.send_raw(prepare_reply());
        for (int k = 0; k < 3; k++)
            command(s);
        s.send_raw(response({fake::ok_packet(1, 0, 2)}));
        s.sleep_ms(4000);
    });
    connect(srv);
    int32_t values[3] = {1, 2, 3};
    array_of(3);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, (SQLPOINTER)1, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLPrepare(stmt, (SQLCHAR *)"UPDATE t SET a = ?", SQL_NTS), SQL_SUCCESS)
        << fake_session::all_diags(stmt);
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, values,
                               0, nullptr),
              SQL_SUCCESS);
    int64_t started = unit_support::now_ms();
    EXPECT_EQ(SQLExecute(stmt), SQL_ERROR);
    EXPECT_LT(unit_support::now_ms() - started, 3000) << "the owed answers are not waited for";
    EXPECT_EQ(status, (std::vector<SQLUSMALLINT>{SQL_PARAM_SUCCESS, SQL_PARAM_ERROR,
                                                 SQL_PARAM_ERROR}));
    EXPECT_EQ(processed, 3u);
    auto got = records();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), (std::pair<std::string, SQLLEN>{"HYT00", 2}));
    EXPECT_EQ(got.back(), (std::pair<std::string, SQLLEN>{"08S01", 3}));
    EXPECT_EQ(conn->link_broken, 1);
}
