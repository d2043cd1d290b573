// Threads sharing the driver, through the driver manager against the test
// server: statements of one connection each on a thread of its own, and many
// connections at once. Every value a thread reads must be the one its own
// query asked for, every diagnostic must land on the handle that caused it,
// and nothing may hang. The sanitizer tree for threads (build-tsan) runs
// these tests under ThreadSanitizer.
#include <gtest/gtest.h>

#include <sqlext.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <ostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/qv_support.h"

namespace {

// What the threads of one test found wrong; the first few reports are kept.
class failures {
public:
    void add(const std::string &what)
    {
        std::lock_guard<std::mutex> g(lock_);
        if (++count_ <= 10)
            text_ += what + "\n";
    }
    int count() const { return count_; }
    const std::string &text() const { return text_; }

private:
    std::mutex lock_;
    int count_ = 0;
    std::string text_;
};

template <typename F> void on_threads(int n, F fn)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < n; t++)
        threads.emplace_back(fn, t);
    for (std::thread &th : threads)
        th.join();
}

std::string first_diag(SQLSMALLINT type, SQLHANDLE h)
{
    std::vector<qv::diag_record> d = qv::diagnostics(type, h);
    return d.empty() ? "(no diagnostic)" : qv::describe({d[0]});
}

// Another statement of the connection has an open result: the busy rule of
// direct execution (and, with NoCache, of any command while rows stream).
bool busy(SQLHSTMT s)
{
    std::vector<qv::diag_record> d = qv::diagnostics(SQL_HANDLE_STMT, s);
    return !d.empty() && d[0].sqlstate == "HY000" &&
           d[0].text.find("connection is busy with results of another hstmt") != std::string::npos;
}

// Runs call until the busy rule lets it through; counts the refusals.
template <typename F> SQLRETURN retrying(SQLHSTMT s, std::atomic<long> &refused, F call)
{
    for (;;) {
        SQLRETURN rc = call();
        if (rc != SQL_ERROR || !busy(s))
            return rc;
        refused++;
        std::this_thread::yield();
    }
}

// The connection the threads of a test share. With in-memory logging its
// lines go to a file of the server's directory, removed afterwards.
struct shared_connection {
    qv::connection c;
    std::string log;
    shared_connection(const std::string &extra, bool logged)
    {
        std::string cs = qv::conn_str(extra);
        if (logged) {
            log = qv::server().server_dir + "/concurrency-trace.log";
            cs += "Logging=onerror;LogFile=" + log + ";";
        }
        SQLRETURN rc = c.connect(cs);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(c.dbc));
    }
    ~shared_connection()
    {
        c.disconnect();
        if (!log.empty())
            unlink(log.c_str());
    }
};

// The text column of row `row` of thread t's query number i: different for
// every thread, query and row, and of varying length.
std::string expected_text(int t, int i, int row)
{
    return "t" + std::to_string(t) + "-" + std::to_string(i) + "-" + std::to_string(row) + "-" +
           std::string((size_t)((i + row) % 37), 'x');
}

// Rows the query of iteration i asks for, and what a statement whose
// SQL_ATTR_MAX_ROWS is max_rows gets of them.
int rows_asked(int i) { return 1 + i % 5; }
int rows_seen(int i, int max_rows)
{
    return max_rows > 0 && max_rows < rows_asked(i) ? max_rows : rows_asked(i);
}

// Thread t's query number i: rows_asked(i) rows of the values
// expected_text describes.
std::string query_of(int t, int i)
{
    char sql[200];
    snprintf(sql, sizeof sql,
             "SELECT %d, %d, seq, CONCAT('t%d-', %d, '-', seq, '-', REPEAT('x', (%d + seq) %% 37)) "
             "FROM seq_1_to_%d",
             t, i, t, i, i, rows_asked(i));
    return sql;
}

// Thread t's statements cap their rows differently, so the connection's
// select limit changes all the time; each query must run under its own.
int max_rows_of(int t) { return t % 2 ? t + 1 : 0; }

// Reads the rows of the open result of thread t's query i and checks every
// value; closes the cursor. Returns the number of rows read.
int check_rows(SQLHSTMT s, int t, int i, int max_rows, failures &bad)
{
    SQLINTEGER got_t = -1, got_i = -1, got_row = -1;
    char text[128];
    SQLLEN ind[4];
    SQLBindCol(s, 1, SQL_C_SLONG, &got_t, 0, &ind[0]);
    SQLBindCol(s, 2, SQL_C_SLONG, &got_i, 0, &ind[1]);
    SQLBindCol(s, 3, SQL_C_SLONG, &got_row, 0, &ind[2]);
    SQLBindCol(s, 4, SQL_C_CHAR, text, sizeof text, &ind[3]);
    int row = 0;
    SQLRETURN rc;
    while ((rc = SQLFetch(s)) == SQL_SUCCESS) {
        row++;
        std::string want = expected_text(t, i, row);
        if (got_t != t || got_i != i || got_row != row || want != text)
            bad.add("thread " + std::to_string(t) + " query " + std::to_string(i) + " row " +
                    std::to_string(row) + ": got " + std::to_string(got_t) + " " +
                    std::to_string(got_i) + " " + std::to_string(got_row) + " '" + text + "'");
    }
    if (rc != SQL_NO_DATA)
        bad.add("thread " + std::to_string(t) + " query " + std::to_string(i) + ": fetch " +
                qv::return_name(rc) + " " + first_diag(SQL_HANDLE_STMT, s));
    else if (row != rows_seen(i, max_rows))
        bad.add("thread " + std::to_string(t) + " query " + std::to_string(i) + ": " +
                std::to_string(row) + " rows, not " + std::to_string(rows_seen(i, max_rows)));
    SQLFreeStmt(s, SQL_UNBIND);
    SQLFreeStmt(s, SQL_CLOSE);
    return row;
}

// Rows the queries 0..n-1 of a thread give with max_rows.
long rows_of_queries(int n, int max_rows)
{
    long sum = 0;
    for (int i = 0; i < n; i++)
        sum += rows_seen(i, max_rows);
    return sum;
}

// ------------------------------------------------ one connection, 4 threads

struct mode {
    const char *name;
    const char *extra;   // connection-string keywords
    int queries;         // per thread
    bool logged;         // trace lines kept in memory ("onerror")
};

const mode MODES[] = {
    {"cached", "", 2000, false},
    {"NoCache", "NoCache=1;", 2000, false},
    {"compressed", "Compress=1;", 500, false},
    {"logged", "", 200, true},
};

void PrintTo(const mode &m, std::ostream *os) { *os << m.name; }

class shared : public ::testing::TestWithParam<mode> {};

INSTANTIATE_TEST_SUITE_P(Modes, shared, ::testing::ValuesIn(MODES),
                         [](const ::testing::TestParamInfo<mode> &i) { return std::string(i.param.name); });

// Four threads, four statements, one connection; direct execution.
TEST_P(shared, DirectQueriesReadTheirOwnValues)
{
    const int THREADS = 4;
    const int QUERIES = GetParam().queries;
    shared_connection sc(GetParam().extra, GetParam().logged);
    failures bad;
    std::atomic<long> refused{0}, rows{0};
    on_threads(THREADS, [&](int t) {
        qv::handle s = qv::alloc_stmt(sc.c.dbc);
        SQLULEN limit = (SQLULEN)max_rows_of(t);
        SQLSetStmtAttr(s, SQL_ATTR_MAX_ROWS, (SQLPOINTER)limit, 0);
        for (int i = 0; i < QUERIES && bad.count() == 0; i++) {
            std::string sql = query_of(t, i);
            SQLRETURN rc = retrying(s, refused, [&] {
                return SQLExecDirect(s, (SQLCHAR *)sql.c_str(), SQL_NTS);
            });
            if (rc != SQL_SUCCESS) {
                bad.add("thread " + std::to_string(t) + " query " + std::to_string(i) + ": " +
                        qv::return_name(rc) + " " + first_diag(SQL_HANDLE_STMT, s));
                break;
            }
            rows += check_rows(s, t, i, (int)limit, bad);
        }
    });
    EXPECT_EQ(bad.count(), 0) << bad.text();
    long want = 0;
    for (int t = 0; t < THREADS; t++)
        want += rows_of_queries(QUERIES, max_rows_of(t));
    EXPECT_EQ(rows.load(), want);
    // the connection is in step afterwards
    qv::handle s = qv::alloc_stmt(sc.c.dbc);
    EXPECT_EQ(SQLExecDirect(s, (SQLCHAR *)"SELECT 1", SQL_NTS), SQL_SUCCESS)
        << first_diag(SQL_HANDLE_STMT, s);
    RecordProperty("busy_refusals", (int)refused.load());
}

// The same with statements prepared on the server: their executions are
// not bound by the busy rule of direct execution, so with cached results
// the threads' exchanges interleave freely.
TEST_P(shared, PreparedStatementsReadTheirOwnValues)
{
    const int THREADS = 4;
    const int EXECUTIONS = GetParam().queries / 2;
    shared_connection sc(GetParam().extra, GetParam().logged);
    failures bad;
    std::atomic<long> refused{0}, rows{0};
    on_threads(THREADS, [&](int t) {
        qv::handle s = qv::alloc_stmt(sc.c.dbc);
        const char *sql = "SELECT ? + 0, ? + 0, seq, CONCAT(?, '-', seq, '-', REPEAT('x', (? + seq) "
                          "% 37)) FROM seq_1_to_5 WHERE seq <= ?";
        SQLRETURN rc = retrying(s, refused, [&] { return SQLPrepare(s, (SQLCHAR *)sql, SQL_NTS); });
        if (rc != SQL_SUCCESS) {
            bad.add("thread " + std::to_string(t) + ": prepare " + first_diag(SQL_HANDLE_STMT, s));
            return;
        }
        SQLINTEGER pt = t, pi = 0, prows = 0;
        char prefix[32];
        SQLLEN nts = SQL_NTS;
        SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &pt, 0, nullptr);
        SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &pi, 0, nullptr);
        SQLBindParameter(s, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, sizeof prefix, 0, prefix,
                         sizeof prefix, &nts);
        SQLBindParameter(s, 4, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &pi, 0, nullptr);
        SQLBindParameter(s, 5, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &prows, 0, nullptr);
        for (int i = 0; i < EXECUTIONS && bad.count() == 0; i++) {
            pi = i;
            prows = rows_asked(i);
            snprintf(prefix, sizeof prefix, "t%d-%d", t, i);
            rc = retrying(s, refused, [&] { return SQLExecute(s); });
            if (rc != SQL_SUCCESS) {
                bad.add("thread " + std::to_string(t) + " execution " + std::to_string(i) +
                        ": " + qv::return_name(rc) + " " + first_diag(SQL_HANDLE_STMT, s));
                break;
            }
            rows += check_rows(s, t, i, 0, bad);
        }
    });
    EXPECT_EQ(bad.count(), 0) << bad.text();
    EXPECT_EQ(rows.load(), THREADS * rows_of_queries(EXECUTIONS, 0));
}

// A server error on one thread's statement is that statement's alone: the
// connection, whose records another thread reads meanwhile, stays clean,
// and each message names the table its own thread asked for.
TEST_P(shared, ErrorsLandOnTheStatementThatCausedThem)
{
    const int THREADS = 4, QUERIES = GetParam().queries / 4;
    shared_connection sc(GetParam().extra, GetParam().logged);
    failures bad;
    std::atomic<long> refused{0}, seen{0};
    std::atomic<int> running{THREADS};
    std::thread reader([&] {
        // the driver manager may read a connection's records while its
        // statements work on other threads
        while (running > 0) {
            char name[128];
            SQLSMALLINT len = 0;
            SQLRETURN rc = SQLGetInfo(sc.c.dbc, SQL_DATABASE_NAME, name, sizeof name, &len);
            std::vector<qv::diag_record> d = qv::diagnostics(sc.c.dbc);
            if (rc != SQL_SUCCESS || !d.empty() || qv::server().database != name)
                bad.add(std::string("connection: ") + qv::return_name(rc) + " '" + name + "' " +
                        qv::describe(d));
        }
    });
    on_threads(THREADS, [&](int t) {
        qv::handle s = qv::alloc_stmt(sc.c.dbc);
        for (int i = 0; i < QUERIES && bad.count() == 0; i++) {
            std::string table = "no_such_table_" + std::to_string(t) + "_" + std::to_string(i);
            std::string sql = "SELECT * FROM " + table;
            SQLRETURN rc = retrying(s, refused, [&] {
                return SQLExecDirect(s, (SQLCHAR *)sql.c_str(), SQL_NTS);
            });
            std::vector<qv::diag_record> d = qv::diagnostics(s);
            if (rc != SQL_ERROR || d.size() != 1 || d[0].sqlstate != "42S02" ||
                d[0].native != 1146 || d[0].text.find("." + table + "'") == std::string::npos)
                bad.add("thread " + std::to_string(t) + " query " + std::to_string(i) + ": " +
                        qv::return_name(rc) + " " + qv::describe(d));
            else
                seen++;
        }
        running--;
    });
    reader.join();
    EXPECT_EQ(bad.count(), 0) << bad.text();
    EXPECT_EQ(seen.load(), THREADS * QUERIES);
}

// A catalog function that visits another database for its field lists does
// so inside one exchange: statements of other threads never run there.
TEST_P(shared, CatalogVisitsToAnotherDatabaseAreInvisible)
{
    qv::sql_result r = qv::server_sql(
        "CREATE DATABASE IF NOT EXISTS qvtest_threads;"
        "CREATE TABLE IF NOT EXISTS qvtest_threads.visited (a INT, b VARCHAR(10));"
        "CREATE OR REPLACE TABLE thread_home (v INT);"
        "INSERT INTO thread_home VALUES (1), (2), (3);");
    ASSERT_EQ(r.status, 0) << r.output;
    const int ROUNDS = GetParam().queries / 10;
    shared_connection sc(GetParam().extra, GetParam().logged);
    failures bad;
    std::atomic<long> refused{0}, done{0};
    on_threads(3, [&](int t) {
        qv::handle s = qv::alloc_stmt(sc.c.dbc);
        for (int i = 0; i < ROUNDS && bad.count() == 0; i++) {
            SQLRETURN rc = retrying(s, refused, [&] {
                if (t == 0)
                    return SQLColumns(s, (SQLCHAR *)"qvtest_threads", SQL_NTS, nullptr, 0,
                                      (SQLCHAR *)"visited", SQL_NTS, nullptr, 0);
                return SQLExecDirect(s, (SQLCHAR *)"SELECT COUNT(*) FROM thread_home", SQL_NTS);
            });
            if (rc != SQL_SUCCESS) {
                bad.add("thread " + std::to_string(t) + " round " + std::to_string(i) + ": " +
                        qv::return_name(rc) + " " + first_diag(SQL_HANDLE_STMT, s));
                continue;
            }
            int rows = 0;
            SQLINTEGER n = 0;
            SQLLEN ind;
            while (SQLFetch(s) == SQL_SUCCESS) {
                rows++;
                if (t != 0)
                    SQLGetData(s, 1, SQL_C_SLONG, &n, 0, &ind);
            }
            if (rows != (t == 0 ? 2 : 1) || (t != 0 && n != 3))
                bad.add("thread " + std::to_string(t) + " round " + std::to_string(i) + ": " +
                        std::to_string(rows) + " rows, count " + std::to_string(n));
            else
                done++;
            SQLFreeStmt(s, SQL_CLOSE);
        }
    });
    EXPECT_EQ(bad.count(), 0) << bad.text();
    EXPECT_EQ(done.load(), 3 * ROUNDS);
}

// ------------------------------------------- many connections at once

// Sixteen threads, each with a connection of its own under one environment:
// logons, queries and logoffs all at the same time.
TEST(Connections, SixteenThreadsEachWithItsOwnConnection)
{
    const int THREADS = 16, QUERIES = 150;
    qv::handle env = qv::alloc_env();
    ASSERT_TRUE(env);
    failures bad;
    std::atomic<long> rows{0};
    on_threads(THREADS, [&](int t) {
        qv::handle dbc = qv::alloc_dbc(env);
        std::string cs = qv::conn_str(t % 2 ? "NoCache=1;" : "");
        SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR *)cs.c_str(), SQL_NTS, nullptr, 0,
                                        nullptr, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc)) {
            bad.add("thread " + std::to_string(t) + ": connect " + first_diag(SQL_HANDLE_DBC, dbc));
            return;
        }
        {
            qv::handle s = qv::alloc_stmt(dbc);
            for (int i = 0; i < QUERIES && bad.count() == 0; i++) {
                rc = SQLExecDirect(s, (SQLCHAR *)query_of(t, i).c_str(), SQL_NTS);
                if (rc != SQL_SUCCESS) {
                    bad.add("thread " + std::to_string(t) + " query " + std::to_string(i) + ": " +
                            qv::return_name(rc) + " " + first_diag(SQL_HANDLE_STMT, s));
                    break;
                }
                rows += check_rows(s, t, i, 0, bad);
            }
        }
        SQLDisconnect(dbc);
    });
    EXPECT_EQ(bad.count(), 0) << bad.text();
    EXPECT_EQ(rows.load(), THREADS * rows_of_queries(QUERIES, 0));
}

} // namespace
