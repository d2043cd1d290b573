// Data at execution: the sequence of SQLParamData and SQLPutData, the pieces
// kept for a query built as text (and the literal they make), and the long
// data sent at once to a statement prepared on the server (seen by the
// scripted fake server).
#include <gtest/gtest.h>

#include <string.h>

#include <mutex>
#include <string>
#include <vector>

#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "stmt/my_param.h"
#include "stmt/my_sql.h"
#include "support/unit_support.h"

namespace {

std::string text_of(const my_string *s) { return unit_support::ascii_of(s); }

using unit_support::hex;
using unit_support::wide;

struct dae_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = stmt_create(conn);
    // the application's buffers: tokens are their addresses
    char buf[4][16] = {{0}};
    SQLLEN ind[4] = {0, 0, 0, 0};

    void SetUp() override
    {
        env->odbc_version = SQL_OV_ODBC3;
        conn->charset = 33;
    }
    void TearDown() override { env_release(env); }

    void bind(int n, int c_type, int sql_type, SQLLEN indicator)
    {
        ind[n - 1] = indicator;
        ASSERT_EQ(SQLBindParameter(stmt, (SQLUSMALLINT)n, SQL_PARAM_INPUT, (SQLSMALLINT)c_type,
                                   (SQLSMALLINT)sql_type, 10, 0, buf[n - 1], sizeof buf[n - 1],
                                   &ind[n - 1]), SQL_SUCCESS);
    }
    void process(const char *sql)
    {
        my_string *t = ms_from_latin1(sql);
        ms_free(stmt->sql_text);
        stmt->sql_text = my_process_sql(stmt, t);
        ms_free(t);
    }
    // The text the waiting statement becomes once its data is in.
    std::string literal()
    {
        my_packet *p = create_exec_string(stmt, stmt->sql_text);
        if (!p)
            return "";
        std::string r(reinterpret_cast<char *>(p->data) + 5, (size_t)(p->length - 5));
        packet_free(p);
        return r;
    }
    SQLRETURN put(const std::string &piece, SQLLEN len = -999)
    {
        return SQLPutData(stmt, (SQLPOINTER)piece.data(), len == -999 ? (SQLLEN)piece.size() : len);
    }
    void expect_token(int n)
    {
        SQLPOINTER token = nullptr;
        ASSERT_EQ(SQLParamData(stmt, &token), SQL_NEED_DATA);
        EXPECT_EQ(token, (SQLPOINTER)buf[n - 1]);
    }
    std::string state(int n = 1)
    {
        diag_record *r = diag_get(stmt, n);
        return r ? text_of(r->sqlstate) : "";
    }
};

} // namespace

TEST_F(dae_fixture, TextPiecesMakeOneEscapedLiteral)
{
    process("insert into t values (?, ?, ?)");
    memcpy(buf[0], "\x05\x00\x00\x00", 4);
    bind(1, SQL_C_SLONG, SQL_INTEGER, 0);
    bind(2, SQL_C_CHAR, SQL_LONGVARCHAR, SQL_DATA_AT_EXEC);
    bind(3, SQL_C_BINARY, SQL_LONGVARBINARY, SQL_LEN_DATA_AT_EXEC(100));
    ASSERT_EQ(my_check_params(stmt, DAE_OP_DIRECT), SQL_NEED_DATA);
    EXPECT_EQ(stmt->current_dae_param, 1);
    expect_token(2);
    EXPECT_EQ(put("it's "), SQL_SUCCESS);
    EXPECT_EQ(put("a \\test", SQL_NTS), SQL_SUCCESS);   // a terminated piece keeps its bytes
    EXPECT_EQ(put(""), SQL_SUCCESS);
    expect_token(3);
    EXPECT_EQ(put(std::string("\x00\xFF", 2)), SQL_SUCCESS);
    EXPECT_EQ(put("\x10"), SQL_SUCCESS);
    ASSERT_EQ(dae_next_param(stmt, stmt->current_dae_param), -1);
    ASSERT_EQ(dae_end(stmt), 0);
    // binary pieces are a binary literal, not the text of their hex digits
    EXPECT_EQ(literal(), "insert into t values (5, 'it\\'s a \\\\test', X'00FF10')");

    conn->server_status = 0x200;   // NO_BACKSLASH_ESCAPES
    EXPECT_EQ(literal(), "insert into t values (5, 'it''s a \\test', X'00FF10')");
}

TEST_F(dae_fixture, WidePiecesMaySplitUnitsAndPairs)
{
    process("select ?");
    bind(1, SQL_C_WCHAR, SQL_WLONGVARCHAR, SQL_DATA_AT_EXEC);
    ASSERT_EQ(my_check_params(stmt, DAE_OP_DIRECT), SQL_NEED_DATA);
    expect_token(1);
    std::string w = wide(u"x\U0001D11E'y");   // x, a surrogate pair, a quote, y
    // cut inside the first unit, between the pair's halves, inside the quote
    for (auto cut : {std::make_pair(0, 1), {1, 3}, {3, 5}, {5, 7}, {7, 8}, {8, 10}})
        ASSERT_EQ(put(w.substr((size_t)cut.first, (size_t)(cut.second - cut.first))), SQL_SUCCESS);
    ASSERT_EQ(dae_end(stmt), 0);
    EXPECT_EQ(hex(literal()), hex("select 'x\xF0\x9D\x84\x9E\\'y'"));
}

TEST_F(dae_fixture, NumbersNullsAndFixedSizeValues)
{
    process("select ?, ?, ?");
    bind(1, SQL_C_CHAR, SQL_INTEGER, SQL_DATA_AT_EXEC);
    bind(2, SQL_C_CHAR, SQL_VARCHAR, SQL_DATA_AT_EXEC);
    bind(3, SQL_C_DOUBLE, SQL_DOUBLE, SQL_DATA_AT_EXEC);
    ASSERT_EQ(my_check_params(stmt, DAE_OP_DIRECT), SQL_NEED_DATA);
    expect_token(1);
    EXPECT_EQ(put(" 42 "), SQL_SUCCESS);
    expect_token(2);
    EXPECT_EQ(put("", SQL_NULL_DATA), SQL_SUCCESS);
    EXPECT_EQ(put("x"), SQL_ERROR);   // nothing joins a NULL
    EXPECT_EQ(state(), "HY020");
    expect_token(3);
    double d = 0.1;
    EXPECT_EQ(SQLPutData(stmt, &d, 8), SQL_SUCCESS);
    EXPECT_EQ(SQLPutData(stmt, &d, 8), SQL_ERROR);   // a fixed-size value comes in one piece
    EXPECT_EQ(state(), "HY019");
    ASSERT_EQ(dae_end(stmt), 0);
    EXPECT_EQ(literal(), "select 42, NULL, 0.1");

    // a piece that is no number is refused, never pasted into the text
    ASSERT_EQ(my_check_params(stmt, DAE_OP_DIRECT), SQL_NEED_DATA);
    expect_token(1);
    EXPECT_EQ(put("1; DROP TABLE t"), SQL_SUCCESS);
    expect_token(2);
    EXPECT_EQ(put("abc"), SQL_SUCCESS);
    EXPECT_EQ(put("", SQL_NULL_DATA), SQL_ERROR);   // nor a NULL after data
    EXPECT_EQ(state(), "HY020");
    expect_token(3);
    EXPECT_EQ(SQLPutData(stmt, &d, 8), SQL_SUCCESS);
    ASSERT_EQ(dae_end(stmt), 0);
    EXPECT_EQ(literal(), "");
    EXPECT_EQ(state(), "22018");
}

TEST_F(dae_fixture, SequenceErrors)
{
    process("select ?");
    bind(1, SQL_C_CHAR, SQL_VARCHAR, SQL_DATA_AT_EXEC);
    SQLPOINTER token;
    EXPECT_EQ(SQLParamData(stmt, &token), SQL_ERROR);   // no execution waits
    EXPECT_EQ(state(), "HY010");
    EXPECT_EQ(put("x"), SQL_ERROR);
    EXPECT_EQ(state(), "HY010");
    ASSERT_EQ(my_check_params(stmt, DAE_OP_DIRECT), SQL_NEED_DATA);
    EXPECT_EQ(put("x"), SQL_ERROR);   // before SQLParamData named the parameter
    EXPECT_EQ(state(), "HY010");
    expect_token(1);
    EXPECT_EQ(put("x", -7), SQL_ERROR);
    EXPECT_EQ(state(), "HY090");
    EXPECT_EQ(SQLPutData(stmt, nullptr, 3), SQL_ERROR);
    EXPECT_EQ(state(), "HY009");
}

TEST_F(dae_fixture, CancelEndsTheSequence)
{
    process("select ?");
    bind(1, SQL_C_CHAR, SQL_VARCHAR, SQL_DATA_AT_EXEC);
    ASSERT_EQ(my_check_params(stmt, DAE_OP_DIRECT), SQL_NEED_DATA);
    expect_token(1);
    ASSERT_EQ(put("x"), SQL_SUCCESS);
    EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
    EXPECT_EQ(put("y"), SQL_ERROR);
    EXPECT_EQ(state(), "HY010");
    EXPECT_EQ(literal(), "");   // nothing collected is used
}

TEST_F(dae_fixture, PiecesBelongToOneExecutionAndOneRow)
{
    process("select ?");
    bind(1, SQL_C_CHAR, SQL_VARCHAR, SQL_DATA_AT_EXEC);
    for (const char *v : {"first", "second"}) {
        ASSERT_EQ(my_check_params(stmt, DAE_OP_DIRECT), SQL_NEED_DATA);
        expect_token(1);
        ASSERT_EQ(put(v), SQL_SUCCESS);
        ASSERT_EQ(dae_end(stmt), 0);
        EXPECT_EQ(literal(), std::string("select '") + v + "'");
    }
    // data collected for row 0 is not another row's
    ind[1] = SQL_DATA_AT_EXEC;   // row 1 of parameter 1's indicator array
    stmt->param_row = 1;
    EXPECT_EQ(literal(), "");
    EXPECT_EQ(state(), "HY000");
    // nor is a sequence that has not finished
    stmt->param_row = 0;
    ASSERT_EQ(my_check_params(stmt, DAE_OP_DIRECT), SQL_NEED_DATA);
    EXPECT_EQ(literal(), "");
}

// Long data goes to the server with each SQLPutData: COM_STMT_SEND_LONG_DATA,
// statement id, parameter index, the bytes (wide text converted, a unit or
// a pair cut by a piece's end sent with the next piece). No reply is read.
TEST_F(dae_fixture, LongDataForServerPreparedStatements)
{
    std::mutex m;
    std::vector<std::string> seen;
    fake::server srv([&](fake::session &ss) {
        uint8_t seq;
        fake::bytes b;
        while (ss.read_packet(&seq, &b, 3000)) {
            std::lock_guard<std::mutex> g(m);
            seen.push_back(hex(std::string(b.begin(), b.end())) + "/" + std::to_string(seq));
        }
    });
    ASSERT_TRUE(srv.ok());
    my_string *host = ms_from_latin1("127.0.0.1");
    ASSERT_EQ(net_open(conn, host, srv.port()), 0);
    ms_free(host);

    process("insert into t values (?, ?, ?)");
    stmt->statement_id = 0x01020304;
    bind(1, SQL_C_WCHAR, SQL_WVARCHAR, SQL_DATA_AT_EXEC);
    bind(2, SQL_C_BINARY, SQL_VARBINARY, SQL_DATA_AT_EXEC);
    bind(3, SQL_C_CHAR, SQL_VARCHAR, SQL_DATA_AT_EXEC);
    ASSERT_EQ(my_check_params(stmt, DAE_OP_EXECUTE), SQL_NEED_DATA);
    expect_token(1);
    std::string w = wide(u"\u00e9\U0001D11E");
    ASSERT_EQ(put(w.substr(0, 3)), SQL_SUCCESS);   // é and half a unit
    ASSERT_EQ(put(w.substr(3, 2)), SQL_SUCCESS);   // the pair's first half
    ASSERT_EQ(put(w.substr(5)), SQL_SUCCESS);
    expect_token(2);
    ASSERT_EQ(put(std::string("\x00\x01", 2)), SQL_SUCCESS);
    ASSERT_EQ(put(""), SQL_SUCCESS);   // empty, but the parameter is not NULL
    expect_token(3);
    ASSERT_EQ(put("", SQL_NULL_DATA), SQL_SUCCESS);   // nothing sent: NULL by the null bit
    ASSERT_EQ(dae_end(stmt), 0);

    // the execute block marks all three, with string and blob types, no values
    my_packet *p = packet_new(stmt);
    ASSERT_EQ(my_append_params(stmt, p), 0);
    EXPECT_EQ(hex(std::string((char *)p->data + 4, (size_t)(p->length - 4))),
              "07" "01" "FE00" "FC00" "FE00");
    packet_free(p);

    net_close(conn);
    ASSERT_TRUE(srv.wait_done());
    std::lock_guard<std::mutex> g(m);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "18040302010000" "C3A9/0",
                        "18040302010000/0",
                        "18040302010000" "F09D849E/0",
                        "18040302010100" "0001/0",
                        "18040302010100/0",
                    }));
}

// A piece's length that no command could carry is refused before a byte of
// the 64-byte buffer is read, for pieces kept for a text query and pieces
// sent as long data alike, narrow, wide and binary.
TEST_F(dae_fixture, ImpossiblePieceLengthsAreRefused)
{
    std::vector<char> piece(64, 'p');   // exactly 64 bytes: a read past it shows under ASan
    const int ops[] = {DAE_OP_DIRECT, DAE_OP_EXECUTE};
    const int types[][2] = {{SQL_C_CHAR, SQL_LONGVARCHAR},
                            {SQL_C_WCHAR, SQL_WLONGVARCHAR},
                            {SQL_C_BINARY, SQL_LONGVARBINARY}};
    const SQLLEN lengths[] = {(SQLLEN)1 << 40, INT64_MAX, ((SQLLEN)1 << 30) + 1, -7};
    process("select ?");
    for (int op : ops)
        for (const auto &t : types)
            for (SQLLEN len : lengths) {
                SCOPED_TRACE(testing::Message() << "op " << op << ", C type " << t[0]
                                                << ", length " << len);
                bind(1, t[0], t[1], SQL_DATA_AT_EXEC);
                ASSERT_EQ(my_check_params(stmt, op), SQL_NEED_DATA);
                expect_token(1);
                EXPECT_EQ(SQLPutData(stmt, piece.data(), len), SQL_ERROR);
                EXPECT_EQ(state(), "HY090");
                if (op == DAE_OP_DIRECT) {   // the sequence goes on: a sound piece is taken
                    EXPECT_EQ(SQLPutData(stmt, piece.data(), 4), SQL_SUCCESS);
                    ASSERT_EQ(dae_end(stmt), 0);
                    EXPECT_NE(literal(), "");
                }
                SQLCancel(stmt);
            }
}
