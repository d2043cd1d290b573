// Two statements on one connection: while one reads a result held in memory
// (the cached default, a catalog answer, later results of a multi-result
// query) the other runs whatever it likes; only a result streamed from the
// wire (NoCache=1) holds the connection, and SQL_MAX_CONCURRENT_ACTIVITIES
// says so.
#include <gtest/gtest.h>

#include <sqlext.h>

#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

using rows_t = std::vector<std::vector<std::string>>;

struct session {
    qv::connection c;
    qv::handle a, b;

    explicit session(const std::string &extra = "")
    {
        SQLRETURN rc = c.connect(qv::conn_str(extra));
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(c.dbc));
        a = qv::alloc_stmt(c.dbc);
        b = qv::alloc_stmt(c.dbc);
    }
    ~session()
    {
        a.reset();
        b.reset();
    }
    static SQLRETURN exec(const qv::handle &s, const std::string &sql)
    {
        return SQLExecDirect(s, (SQLCHAR *)sql.c_str(), SQL_NTS);
    }
    // Column 1 of the next row, or "" at the end.
    static std::string next(const qv::handle &s)
    {
        if (SQLFetch(s) != SQL_SUCCESS)
            return "";
        char buf[256] = {};
        SQLLEN ind = 0;
        SQLGetData(s, 1, SQL_C_CHAR, buf, sizeof buf, &ind);
        return ind == SQL_NULL_DATA ? "NULL" : buf;
    }
    // Every remaining row's column 1, then the cursor closed.
    static std::vector<std::string> rest(const qv::handle &s)
    {
        std::vector<std::string> out;
        for (std::string v; !(v = next(s)).empty();)
            out.push_back(v);
        SQLCloseCursor(s);
        return out;
    }
    SQLUSMALLINT max_activities()
    {
        SQLUSMALLINT n = 99;
        SQLGetInfo(c.dbc, SQL_MAX_CONCURRENT_ACTIVITIES, &n, sizeof n, nullptr);
        return n;
    }
};

void expect_busy(const qv::handle &s, SQLRETURN rc)
{
    EXPECT_EQ(rc, SQL_ERROR);
    std::vector<qv::diag_record> d = qv::diagnostics(s);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].sqlstate, "HY000");
    EXPECT_NE(d[0].text.find("connection is busy with results of another hstmt"),
              std::string::npos)
        << qv::describe(d);
}

void seed(session &s)
{
    for (const char *sql :
         {"DROP TABLE IF EXISTS two_outer", "DROP TABLE IF EXISTS two_inner",
          "CREATE TABLE two_outer (id INT PRIMARY KEY)",
          "INSERT INTO two_outer VALUES (1), (2), (3), (4), (5)",
          "CREATE TABLE two_inner (id INT PRIMARY KEY, n INT)",
          "INSERT INTO two_inner VALUES (1, 0), (2, 0), (3, 0), (4, 0), (5, 0)"})
        ASSERT_TRUE(SQL_SUCCEEDED(session::exec(s.a, sql))) << sql;
    SQLFreeStmt(s.a, SQL_CLOSE);
}

} // namespace

// The loop of every client library: read a SELECT row by row and, for each
// row, run an UPDATE (direct and prepared) and a second SELECT on another
// statement of the same connection.
TEST(TwoStatements, NestedLoopOverACachedResult)
{
    for (const char *mode : {"", "Compress=1;", "Text_Prepare=1;"}) {
        SCOPED_TRACE(*mode ? mode : "cached");
        session s(mode);
        ASSERT_TRUE(s.c.connected);
        seed(s);
        EXPECT_EQ(s.max_activities(), 0);
        qv::handle upd = qv::alloc_stmt(s.c.dbc);
        ASSERT_TRUE(SQL_SUCCEEDED(
            SQLPrepare(upd, (SQLCHAR *)"UPDATE two_inner SET n = n + 10 WHERE id = ?", SQL_NTS)));
        int32_t key = 0;
        SQLLEN key_ind = 0;
        ASSERT_EQ(SQLBindParameter(upd, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &key,
                                   0, &key_ind),
                  SQL_SUCCESS);

        QV_ASSERT_SUCCEEDED(session::exec(s.a, "SELECT id FROM two_outer ORDER BY id"), s.a);
        std::vector<std::string> seen;
        for (std::string id; !(id = session::next(s.a)).empty();) {
            seen.push_back(id);
            QV_ASSERT_SUCCEEDED(
                session::exec(s.b, "UPDATE two_inner SET n = n + 1 WHERE id = " + id), s.b);
            key = std::stoi(id);
            QV_ASSERT_SUCCEEDED(SQLExecute(upd), upd);
            QV_ASSERT_SUCCEEDED(
                session::exec(s.b, "SELECT n, id FROM two_inner WHERE id = " + id), s.b);
            EXPECT_EQ(session::rest(s.b), std::vector<std::string>{"11"});
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3", "4", "5"}));
        EXPECT_EQ(qv::server_rows("SELECT SUM(n) FROM two_inner"), (rows_t{{"55"}}));
        upd.reset();
    }
}

// A catalog answer is held in memory: reading it leaves the connection free.
TEST(TwoStatements, CatalogResultLeavesTheConnectionFree)
{
    session s;
    ASSERT_TRUE(s.c.connected);
    seed(s);
    QV_ASSERT_SUCCEEDED(SQLColumns(s.a, nullptr, 0, nullptr, 0, (SQLCHAR *)"two_inner", SQL_NTS,
                                   nullptr, 0),
                        s.a);
    ASSERT_EQ(SQLFetch(s.a), SQL_SUCCESS);
    QV_ASSERT_SUCCEEDED(session::exec(s.b, "SELECT 42"), s.b);
    EXPECT_EQ(session::rest(s.b), std::vector<std::string>{"42"});
    QV_ASSERT_SUCCEEDED(SQLTables(s.b, nullptr, 0, nullptr, 0, (SQLCHAR *)"two_%", SQL_NTS,
                                  nullptr, 0),
                        s.b);
    int tables = 0;
    while (SQLFetch(s.b) == SQL_SUCCESS)
        tables++;
    EXPECT_EQ(tables, 2);
    SQLCloseCursor(s.b);
    int columns = 1;
    while (SQLFetch(s.a) == SQL_SUCCESS)
        columns++;
    EXPECT_EQ(columns, 2);
}

// A cached multi-result query has every result in memory: the other
// statement may run before, between and after the results are taken, and
// the first statement still finds its later results in order.
TEST(TwoStatements, CachedResultsOfAMultiResultQuery)
{
    session s;
    ASSERT_TRUE(s.c.connected);
    QV_ASSERT_SUCCEEDED(session::exec(s.a, "SELECT 'first' UNION ALL SELECT 'again'; "
                                           "DO 1; SELECT 'second'"),
                        s.a);
    EXPECT_EQ(session::next(s.a), "first");
    QV_ASSERT_SUCCEEDED(session::exec(s.b, "SELECT 1"), s.b);
    EXPECT_EQ(session::rest(s.b), std::vector<std::string>{"1"});
    EXPECT_EQ(session::next(s.a), "again");
    EXPECT_EQ(session::next(s.a), "");   // end of the first result
    QV_ASSERT_SUCCEEDED(session::exec(s.b, "SELECT 2"), s.b);
    EXPECT_EQ(session::rest(s.b), std::vector<std::string>{"2"});
    QV_ASSERT_SUCCEEDED(SQLMoreResults(s.a), s.a);   // DO 1
    QV_ASSERT_SUCCEEDED(session::exec(s.b, "SELECT 3"), s.b);
    EXPECT_EQ(session::rest(s.b), std::vector<std::string>{"3"});
    QV_ASSERT_SUCCEEDED(SQLMoreResults(s.a), s.a);
    QV_ASSERT_SUCCEEDED(session::exec(s.b, "SELECT 4"), s.b);
    EXPECT_EQ(session::rest(s.b), std::vector<std::string>{"4"});
    EXPECT_EQ(session::next(s.a), "second");
    EXPECT_EQ(session::next(s.a), "");
    EXPECT_EQ(SQLMoreResults(s.a), SQL_NO_DATA);
}

// A streamed result holds the connection until its last packet is read,
// including results still to come after the one being read; then the other
// statement runs again. Direct and prepared execution are refused alike.
TEST(TwoStatements, StreamedResultHoldsTheConnection)
{
    session s("NoCache=1;");
    ASSERT_TRUE(s.c.connected);
    EXPECT_EQ(s.max_activities(), 1);

    qv::handle prepared = qv::alloc_stmt(s.c.dbc);
    QV_ASSERT_SUCCEEDED(SQLPrepare(prepared, (SQLCHAR *)"SELECT 5", SQL_NTS), prepared);
    QV_ASSERT_SUCCEEDED(session::exec(s.a, "SELECT seq FROM seq_1_to_1000"), s.a);
    EXPECT_EQ(session::next(s.a), "1");
    expect_busy(s.b, session::exec(s.b, "SELECT 1"));
    expect_busy(prepared, SQLExecute(prepared));
    EXPECT_EQ(session::rest(s.a).size(), 999u);
    QV_ASSERT_SUCCEEDED(SQLExecute(prepared), prepared);
    EXPECT_EQ(session::rest(prepared), std::vector<std::string>{"5"});
    prepared.reset();
    QV_ASSERT_SUCCEEDED(session::exec(s.b, "SELECT 1"), s.b);
    EXPECT_EQ(session::rest(s.b), std::vector<std::string>{"1"});

    // the end of a result with more to come still holds it
    QV_ASSERT_SUCCEEDED(session::exec(s.a, "SELECT 'first'; SELECT 'second'"), s.a);
    EXPECT_EQ(session::next(s.a), "first");
    EXPECT_EQ(session::next(s.a), "");
    expect_busy(s.b, session::exec(s.b, "SELECT 1"));
    QV_ASSERT_SUCCEEDED(SQLMoreResults(s.a), s.a);
    EXPECT_EQ(session::next(s.a), "second");
    EXPECT_EQ(session::next(s.a), "");
    EXPECT_EQ(SQLMoreResults(s.a), SQL_NO_DATA);
    QV_ASSERT_SUCCEEDED(session::exec(s.b, "SELECT 2"), s.b);
    EXPECT_EQ(session::rest(s.b), std::vector<std::string>{"2"});

    // closing the cursor lets go at once
    QV_ASSERT_SUCCEEDED(session::exec(s.a, "SELECT seq FROM seq_1_to_1000"), s.a);
    EXPECT_EQ(session::next(s.a), "1");
    ASSERT_EQ(SQLCloseCursor(s.a), SQL_SUCCESS);
    QV_ASSERT_SUCCEEDED(session::exec(s.b, "SELECT 3"), s.b);
    EXPECT_EQ(session::rest(s.b), std::vector<std::string>{"3"});
}
