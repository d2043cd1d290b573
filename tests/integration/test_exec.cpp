// Running queries through the driver manager against the test server:
// multiple results, row counts, rowsets and their bindings, LOCAL INFILE,
// NoCache, the busy rule, a connection killed in the middle of a result,
// query time-outs and the metadata of every column type.
#include <gtest/gtest.h>

#include <sqlext.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/qv_support.h"

namespace {

int64_t now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// The ways a statement's response can be read: queued whole, row by row
// from the wire, and through compressed framing. Every result must be the
// same either way.
const char *const MODES[] = {"", "NoCache=1;", "Compress=1;", "NoCache=1;Compress=1;"};

struct session {
    qv::connection c;
    qv::handle stmt;

    explicit session(const std::string &extra = "")
    {
        SQLRETURN rc = c.connect(qv::conn_str(extra));
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(c.dbc));
        stmt = qv::alloc_stmt(c.dbc);
    }
    ~session() { stmt.reset(); }

    SQLRETURN exec(const std::string &sql, const qv::handle &s)
    {
        return SQLExecDirect(s, (SQLCHAR *)sql.c_str(), SQL_NTS);
    }
    SQLRETURN exec(const std::string &sql) { return exec(sql, stmt); }

    // Every row of the open result as text ("NULL" for NULL).
    std::vector<std::vector<std::string>> rows(const qv::handle &s)
    {
        std::vector<std::vector<std::string>> out;
        SQLSMALLINT cols = 0;
        SQLNumResultCols(s, &cols);
        SQLRETURN rc;
        while ((rc = SQLFetch(s)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
            std::vector<std::string> row;
            for (SQLUSMALLINT i = 1; i <= cols; i++) {
                char buf[512];
                SQLLEN ind = 0;
                SQLGetData(s, i, SQL_C_CHAR, buf, sizeof buf, &ind);
                row.push_back(ind == SQL_NULL_DATA ? "NULL" : std::string(buf));
            }
            out.push_back(row);
        }
        EXPECT_EQ(rc, SQL_NO_DATA) << qv::describe(qv::diagnostics(s));
        return out;
    }
    std::vector<std::vector<std::string>> rows() { return rows(stmt); }

    SQLLEN row_count()
    {
        SQLLEN n = -99;
        EXPECT_EQ(SQLRowCount(stmt, &n), SQL_SUCCESS);
        return n;
    }

    // SQL_ATTR_CONNECTION_DEAD: 1 dead, 0 alive, -1 when it cannot be read.
    int dead()
    {
        SQLULEN d = 0;
        SQLRETURN rc = SQLGetConnectAttr(c.dbc, SQL_ATTR_CONNECTION_DEAD, &d, 0, nullptr);
        return SQL_SUCCEEDED(rc) ? (int)d : -1;
    }
};

using rows_t = std::vector<std::vector<std::string>>;

#define EXEC_OK(sess, sql) QV_ASSERT_SUCCEEDED((sess).exec(sql), (sess).stmt)

// The numbers 1..n with a name each, as table `name` (made fresh).
void numbers_table(session &s, const std::string &name, int n)
{
    EXEC_OK(s, "DROP TABLE IF EXISTS " + name);
    EXEC_OK(s, "CREATE TABLE " + name + " (id INT PRIMARY KEY, name VARCHAR(20))");
    EXEC_OK(s, "INSERT INTO " + name + " SELECT seq, CONCAT('n', seq) FROM seq_1_to_" +
                   std::to_string(n));
}

} // namespace

// ------------------------------------------------------ multiple results

TEST(Exec, ProcedureResultsWalkedWithMoreResults)
{
    for (const char *mode : MODES) {
        SCOPED_TRACE(*mode ? mode : "cached");
        session s(mode);
        EXEC_OK(s, "DROP PROCEDURE IF EXISTS qv_two_results");
        EXEC_OK(s, "CREATE PROCEDURE qv_two_results() BEGIN "
                   "SELECT 1 AS a, 'x' AS b; SELECT seq FROM seq_2_to_3; END");
        EXEC_OK(s, "CALL qv_two_results()");
        EXPECT_EQ(s.rows(), (rows_t{{"1", "x"}}));
        QV_EXPECT_SUCCEEDED(SQLMoreResults(s.stmt), s.stmt);
        EXPECT_EQ(s.rows(), (rows_t{{"2"}, {"3"}}));
        // the CALL's own status comes last, without columns
        QV_EXPECT_SUCCEEDED(SQLMoreResults(s.stmt), s.stmt);
        SQLSMALLINT cols = 9;
        SQLNumResultCols(s.stmt, &cols);
        EXPECT_EQ(cols, 0);
        EXPECT_EQ(SQLMoreResults(s.stmt), SQL_NO_DATA);
        // the connection is free again
        EXEC_OK(s, "SELECT 7");
        EXPECT_EQ(s.rows(), (rows_t{{"7"}}));
    }
}

TEST(Exec, MultiStatementTextWalkedWithMoreResults)
{
    for (const char *mode : MODES) {
        SCOPED_TRACE(*mode ? mode : "cached");
        session s(mode);
        numbers_table(s, "qv_multi", 5);
        EXEC_OK(s, "SELECT 'first'; UPDATE qv_multi SET name = 'x' WHERE id <= 2; "
                   "SELECT id FROM qv_multi WHERE name = 'x' ORDER BY id");
        EXPECT_EQ(s.rows(), (rows_t{{"first"}}));
        QV_EXPECT_SUCCEEDED(SQLMoreResults(s.stmt), s.stmt);
        EXPECT_EQ(s.row_count(), 2);
        QV_EXPECT_SUCCEEDED(SQLMoreResults(s.stmt), s.stmt);
        EXPECT_EQ(s.rows(), (rows_t{{"1"}, {"2"}}));
        EXPECT_EQ(SQLMoreResults(s.stmt), SQL_NO_DATA);
    }
}

TEST(Exec, MoreResultsSkipsRowsNotFetched)
{
    session s;
    EXEC_OK(s, "SELECT seq FROM seq_1_to_100; SELECT 'second'");
    ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS);
    QV_ASSERT_SUCCEEDED(SQLMoreResults(s.stmt), s.stmt);
    EXPECT_EQ(s.rows(), (rows_t{{"second"}}));
}

// ---------------------------------------------------- prepared statements

TEST(Exec, PreparedUpdateRunsOnTheServer)
{
    session s;
    numbers_table(s, "qv_prepared", 5);
    const char *sql = "UPDATE qv_prepared SET name = CONCAT(name, '+') WHERE id <= 3";
    ASSERT_EQ(SQLPrepare(s.stmt, (SQLCHAR *)sql, SQL_NTS), SQL_SUCCESS)
        << qv::describe(qv::diagnostics(s.stmt));
    SQLSMALLINT cols = 9;
    ASSERT_EQ(SQLNumResultCols(s.stmt, &cols), SQL_SUCCESS);
    EXPECT_EQ(cols, 0);
    for (int run = 1; run <= 2; run++) {
        ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << qv::describe(qv::diagnostics(s.stmt));
        EXPECT_EQ(s.row_count(), 3);
    }
    qv::handle check = qv::alloc_stmt(s.c.dbc);
    QV_ASSERT_SUCCEEDED(s.exec("SELECT name FROM qv_prepared WHERE id = 1", check), check);
    EXPECT_EQ(s.rows(check), (rows_t{{"n1++"}}));
}

TEST(Exec, TextPreparedSelectDescribesAndFetches)
{
    session s("Text_Prepare=1;");
    numbers_table(s, "qv_text_prepared", 4);
    const char *sql = "SELECT id, name FROM qv_text_prepared ORDER BY id";
    ASSERT_EQ(SQLPrepare(s.stmt, (SQLCHAR *)sql, SQL_NTS), SQL_SUCCESS);
    SQLSMALLINT cols = 0;
    ASSERT_EQ(SQLNumResultCols(s.stmt, &cols), SQL_SUCCESS)
        << qv::describe(qv::diagnostics(s.stmt));
    EXPECT_EQ(cols, 2);
    for (int run = 1; run <= 2; run++) {
        QV_ASSERT_SUCCEEDED(SQLExecute(s.stmt), s.stmt);
        EXPECT_EQ(s.rows(), (rows_t{{"1", "n1"}, {"2", "n2"}, {"3", "n3"}, {"4", "n4"}}));
    }
}

TEST(Exec, MaxRowsFollowsEachStatement)
{
    session s;
    numbers_table(s, "qv_max_rows", 5);
    qv::handle limited = qv::alloc_stmt(s.c.dbc);
    SQLSetStmtAttr(limited, SQL_ATTR_MAX_ROWS, (SQLPOINTER)2, 0);
    for (int round = 0; round < 2; round++) {
        QV_ASSERT_SUCCEEDED(s.exec("SELECT id FROM qv_max_rows ORDER BY id", limited), limited);
        EXPECT_EQ(s.rows(limited).size(), 2u);
        EXEC_OK(s, "SELECT id FROM qv_max_rows ORDER BY id");
        EXPECT_EQ(s.rows().size(), 5u);
    }
}

// ------------------------------------------------------------ row counts

TEST(Exec, RowCountsOfUpdateDeleteAndSelect)
{
    session s;
    numbers_table(s, "qv_counts", 5);
    EXEC_OK(s, "UPDATE qv_counts SET name = 'n1' WHERE id <= 3");   // one row already holds it
    EXPECT_EQ(s.row_count(), 3);                                      // matched, not changed
    EXEC_OK(s, "DELETE FROM qv_counts WHERE id > 3");
    EXPECT_EQ(s.row_count(), 2);
    EXEC_OK(s, "SELECT * FROM qv_counts");
    EXPECT_EQ(s.row_count(), -1);
}

// --------------------------------------------------------------- rowsets

TEST(Exec, ColumnWiseRowsetsWithStatusAndCount)
{
    for (const char *mode : MODES) {
        SCOPED_TRACE(*mode ? mode : "cached");
        session s(mode);
        numbers_table(s, "qv_rowset", 10);
        SQLINTEGER ids[4];
        SQLLEN id_ind[4];
        char names[4][8];
        SQLLEN name_ind[4];
        SQLUSMALLINT status[4];
        SQLULEN fetched = 0;
        SQLSetStmtAttr(s.stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)4, 0);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_ROW_STATUS_PTR, status, 0);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        EXEC_OK(s, "SELECT id, name FROM qv_rowset ORDER BY id");
        ASSERT_EQ(SQLBindCol(s.stmt, 1, SQL_C_SLONG, ids, 0, id_ind), SQL_SUCCESS);
        ASSERT_EQ(SQLBindCol(s.stmt, 2, SQL_C_CHAR, names, sizeof names[0], name_ind), SQL_SUCCESS);
        int next = 1;
        for (SQLULEN want : {4, 4, 2}) {
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS);
            EXPECT_EQ(fetched, want);
            for (SQLULEN r = 0; r < 4; r++) {
                EXPECT_EQ(status[r], r < want ? SQL_ROW_SUCCESS : SQL_ROW_NOROW);
                if (r < want) {
                    EXPECT_EQ(ids[r], next);
                    EXPECT_EQ(std::string(names[r]), "n" + std::to_string(next));
                    next++;
                }
            }
        }
        EXPECT_EQ(SQLFetch(s.stmt), SQL_NO_DATA);
        EXPECT_EQ(fetched, 0u);
    }
}

TEST(Exec, RowWiseRowsetWithBindOffset)
{
    session s;
    numbers_table(s, "qv_rowwise", 5);
    struct row {
        SQLINTEGER id;
        SQLLEN id_ind;
        char name[12];
        SQLLEN name_ind;
    };
    // two leading slots the offset skips, then the rowset
    row rows[2 + 3] = {};
    SQLLEN offset = 2 * sizeof(row);
    SQLUSMALLINT status[3];
    SQLULEN fetched = 0;
    SQLSetStmtAttr(s.stmt, SQL_ATTR_ROW_BIND_TYPE, (SQLPOINTER)sizeof(row), 0);
    SQLSetStmtAttr(s.stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)3, 0);
    SQLSetStmtAttr(s.stmt, SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset, 0);
    SQLSetStmtAttr(s.stmt, SQL_ATTR_ROW_STATUS_PTR, status, 0);
    SQLSetStmtAttr(s.stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    EXEC_OK(s, "SELECT id, name FROM qv_rowwise ORDER BY id");
    SQLBindCol(s.stmt, 1, SQL_C_SLONG, &rows[0].id, 0, &rows[0].id_ind);
    SQLBindCol(s.stmt, 2, SQL_C_CHAR, rows[0].name, sizeof rows[0].name, &rows[0].name_ind);
    ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS) << qv::describe(qv::diagnostics(s.stmt));
    EXPECT_EQ(fetched, 3u);
    for (int r = 0; r < 3; r++) {
        EXPECT_EQ(rows[2 + r].id, r + 1);
        EXPECT_EQ(rows[2 + r].name_ind, 2);
        EXPECT_EQ(std::string(rows[2 + r].name), "n" + std::to_string(r + 1));
    }
    EXPECT_EQ(rows[0].id, 0);   // the offset moved every row
    ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(status[2], SQL_ROW_NOROW);
    EXPECT_EQ(rows[2 + 1].id, 5);
}

TEST(Exec, ExtendedFetchWithRowsetSize)
{
    session s;
    numbers_table(s, "qv_extended", 5);
    SQLSetStmtAttr(s.stmt, SQL_ROWSET_SIZE, (SQLPOINTER)3, 0);
    EXEC_OK(s, "SELECT id FROM qv_extended ORDER BY id");
    SQLINTEGER ids[3];
    SQLLEN ind[3];
    SQLBindCol(s.stmt, 1, SQL_C_SLONG, ids, 0, ind);
    SQLULEN rows = 0;
    SQLUSMALLINT status[3];
    ASSERT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_NEXT, 0, &rows, status), SQL_SUCCESS);
    EXPECT_EQ(rows, 3u);
    EXPECT_EQ(ids[2], 3);
    EXPECT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_ABSOLUTE, 1, &rows, status), SQL_ERROR);
    EXPECT_EQ(qv::first_state(s.stmt), "HY106");
    ASSERT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_NEXT, 0, &rows, status), SQL_SUCCESS);
    EXPECT_EQ(rows, 2u);
    EXPECT_EQ(ids[1], 5);
    EXPECT_EQ(status[2], SQL_ROW_NOROW);
    EXPECT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_NEXT, 0, &rows, status), SQL_NO_DATA);
}

// ----------------------------------------------------------- LOCAL INFILE

TEST(Exec, LoadDataLocalInfileOfTenMegabytes)
{
    char path[] = "/tmp/qv-load-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const int lines = 100000;
    std::string payload(96, 'p');
    std::string data;
    for (int i = 1; i <= lines; i++)
        data += std::to_string(i) + "\t" + payload + "\n";
    ASSERT_GE(data.size(), 10000000u);
    ASSERT_EQ(write(fd, data.data(), data.size()), (ssize_t)data.size());
    close(fd);
    for (const char *mode : {"", "Compress=1;"}) {
        SCOPED_TRACE(*mode ? mode : "plain");
        session s(mode);
        EXEC_OK(s, "DROP TABLE IF EXISTS qv_load");
        EXEC_OK(s, "CREATE TABLE qv_load (id INT, payload VARCHAR(200))");
        int64_t start = now_ms();
        EXEC_OK(s, std::string("LOAD DATA LOCAL INFILE '") + path + "' INTO TABLE qv_load");
        EXPECT_EQ(s.row_count(), lines);
        EXPECT_LT(now_ms() - start, 60000);
        EXEC_OK(s, "SELECT COUNT(*), SUM(LENGTH(payload)), MAX(id) FROM qv_load");
        EXPECT_EQ(s.rows(), (rows_t{{std::to_string(lines), std::to_string(lines * 96),
                                      std::to_string(lines)}}));
    }
    unlink(path);
}

TEST(Exec, LoadDataLocalInfileOfMissingFile)
{
    session s;
    EXEC_OK(s, "DROP TABLE IF EXISTS qv_load_missing");
    EXEC_OK(s, "CREATE TABLE qv_load_missing (id INT)");
    const std::string missing = "/nonexistent/qv-missing.tsv";
    EXPECT_EQ(s.exec("LOAD DATA LOCAL INFILE '" + missing + "' INTO TABLE qv_load_missing"),
              SQL_ERROR);
    std::vector<qv::diag_record> d = qv::diagnostics(s.stmt);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].sqlstate, "08S01") << qv::describe(d);
    EXPECT_NE(d[0].text.find("Failed to open '" + missing + "', eerrno=2"), std::string::npos)
        << qv::describe(d);
    // the empty upload ended the statement: the connection goes on
    EXPECT_NE(s.dead(), 1);
    EXEC_OK(s, "SELECT COUNT(*) FROM qv_load_missing");
    EXPECT_EQ(s.rows(), (rows_t{{"0"}}));
}

// -------------------------------------------------------------- busy rule

TEST(Exec, SecondStatementWaitsForTheFirstsResult)
{
    for (const char *mode : MODES) {
        SCOPED_TRACE(*mode ? mode : "cached");
        session s(mode);
        qv::handle other = qv::alloc_stmt(s.c.dbc);
        EXEC_OK(s, "SELECT seq FROM seq_1_to_1000");
        ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS);
        SQLRETURN rc = s.exec("SELECT 1", other);
        if (!strstr(mode, "NoCache")) {
            // the first result is held in memory: nobody waits for it
            QV_EXPECT_SUCCEEDED(rc, other);
            EXPECT_EQ(s.rows(other), (rows_t{{"1"}}));
            continue;
        }
        EXPECT_EQ(rc, SQL_ERROR);
        std::vector<qv::diag_record> d = qv::diagnostics(other);
        ASSERT_FALSE(d.empty());
        EXPECT_EQ(d[0].sqlstate, "HY000");
        EXPECT_NE(d[0].text.find("connection is busy with results of another hstmt"),
                  std::string::npos)
            << qv::describe(d);
        ASSERT_EQ(SQLCloseCursor(s.stmt), SQL_SUCCESS);
        QV_ASSERT_SUCCEEDED(s.exec("SELECT 1", other), other);
        EXPECT_EQ(s.rows(other), (rows_t{{"1"}}));
    }
}

// ------------------------------------------------------ the link goes down

// The server kills the connection while a large result is read: the fetch
// fails with 08S01 promptly, and the connection says it is dead.
TEST(Exec, ConnectionKilledInTheMiddleOfALargeResult)
{
    for (const char *mode : MODES) {
        SCOPED_TRACE(*mode ? mode : "cached");
        session s(mode);
        EXEC_OK(s, "SELECT CONNECTION_ID()");
        std::string id = s.rows()[0][0];
        // a result the server produces slowly, so the kill lands inside it
        std::thread killer([id] {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            qv::server_sql("KILL CONNECTION " + id);
        });
        int64_t start = now_ms();
        SQLRETURN rc = s.exec("SELECT seq, SLEEP(0.001) FROM seq_1_to_100000");
        int64_t killed_at = start + 700;
        while (rc == SQL_SUCCESS)
            rc = SQLFetch(s.stmt);
        int64_t failed_at = now_ms();
        killer.join();
        EXPECT_EQ(rc, SQL_ERROR);
        EXPECT_EQ(qv::first_state(s.stmt), "08S01") << qv::describe(qv::diagnostics(s.stmt));
        EXPECT_LT(failed_at - killed_at, 5000);
        EXPECT_NE(s.dead(), 0);
        start = now_ms();
        EXPECT_EQ(s.exec("SELECT 1"), SQL_ERROR);
        EXPECT_LT(now_ms() - start, 1000);
        EXPECT_EQ(qv::first_state(s.stmt), "08S01");
    }
}

// ----------------------------------------------------------- query time-out

TEST(Exec, QueryTimeoutStopsTheStatement)
{
    for (const char *mode : MODES) {
        SCOPED_TRACE(*mode ? mode : "cached");
        session s(mode);
        // 2 s: interrupting the statement may take a share of the bound,
        // which must leave room for a side logon on a loaded machine
        SQLSetStmtAttr(s.stmt, SQL_ATTR_QUERY_TIMEOUT, (SQLPOINTER)2, 0);
        int64_t start = now_ms();
        EXPECT_EQ(s.exec("SELECT SLEEP(5)"), SQL_ERROR);
        int64_t took = now_ms() - start;
        EXPECT_EQ(qv::first_state(s.stmt), "HYT00") << qv::describe(qv::diagnostics(s.stmt));
        EXPECT_GE(took, 1900);
        EXPECT_LT(took, 4500);   // well short of the five seconds asked for
        // the server was told to stop: the connection is in step and usable
        EXPECT_NE(s.dead(), 1);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_QUERY_TIMEOUT, (SQLPOINTER)0, 0);
        EXEC_OK(s, "SELECT 'after'");
        EXPECT_EQ(s.rows(), (rows_t{{"after"}}));
    }
}

// ------------------------------------------------------- column metadata

// Every column type as SQLDescribeCol and SQLColAttribute see it. Sizes of
// character columns depend on the session's bytes per character, so for
// them only the agreement of column size and display size is checked.
TEST(Exec, MetadataOfEveryColumnType)
{
    session s;
    EXEC_OK(s, "DROP TABLE IF EXISTS qv_types");
    EXEC_OK(s, "CREATE TABLE qv_types (c_tiny TINYINT NOT NULL, c_short SMALLINT, c_int INT, "
               "c_medium MEDIUMINT, c_big BIGINT UNSIGNED, c_float FLOAT, c_double DOUBLE, "
               "c_dec DECIMAL(10,2), c_date DATE, c_datetime DATETIME(3), c_ts TIMESTAMP NULL, "
               "c_time TIME, c_year YEAR, c_char CHAR(10), c_varchar VARCHAR(40), c_text TEXT, "
               "c_blob BLOB, c_binary BINARY(8), c_varbinary VARBINARY(16), c_bit BIT(1), "
               "c_bit8 BIT(8), c_enum ENUM('a','b'), c_auto INT AUTO_INCREMENT PRIMARY KEY)");
    const SQLULEN CHARS = 0;   // size in characters of the session's character set
    struct expect {
        const char *name;
        SQLSMALLINT type;
        SQLULEN size;
        SQLSMALLINT digits, nullable;
        const char *type_name;
        SQLLEN display, octet;
        SQLLEN searchable;
    } cols[] = {
        {"c_tiny", SQL_TINYINT, 3, 0, SQL_NO_NULLS, "tiny", 4, 1, SQL_PRED_BASIC},
        {"c_short", SQL_SMALLINT, 5, 0, SQL_NULLABLE, "short", 6, 2, SQL_PRED_BASIC},
        {"c_int", SQL_INTEGER, 10, 0, SQL_NULLABLE, "int", 11, 4, SQL_PRED_BASIC},
        {"c_medium", SQL_INTEGER, 10, 0, SQL_NULLABLE, "int24", 8, 4, SQL_PRED_BASIC},
        {"c_big", SQL_BIGINT, 19, 0, SQL_NULLABLE, "longlong", 20, 8, SQL_PRED_BASIC},
        {"c_float", SQL_REAL, 7, 0, SQL_NULLABLE, "float", 14, 4, SQL_PRED_BASIC},
        {"c_double", SQL_DOUBLE, 15, 0, SQL_NULLABLE, "double", 24, 8, SQL_PRED_BASIC},
        {"c_dec", SQL_DECIMAL, 10, 2, SQL_NULLABLE, "newdecimal", 12, 12, SQL_PRED_BASIC},
        {"c_date", SQL_TYPE_DATE, 10, 0, SQL_NULLABLE, "date", 10, 6, SQL_SEARCHABLE},
        {"c_datetime", SQL_TYPE_TIMESTAMP, 23, 3, SQL_NULLABLE, "datetime", 23, 16, SQL_SEARCHABLE},
        {"c_ts", SQL_TYPE_TIMESTAMP, 19, 0, SQL_NULLABLE, "timestamp", 19, 16, SQL_SEARCHABLE},
        {"c_time", SQL_VARCHAR, 11, 0, SQL_NULLABLE, "varchar", 11, 11, SQL_SEARCHABLE},
        {"c_year", SQL_SMALLINT, 5, 0, SQL_NULLABLE, "year", 6, 2, SQL_PRED_BASIC},
        {"c_char", SQL_CHAR, CHARS, 0, SQL_NULLABLE, "char", 0, 0, SQL_SEARCHABLE},
        {"c_varchar", SQL_VARCHAR, CHARS, 0, SQL_NULLABLE, "varchar", 0, 0, SQL_SEARCHABLE},
        {"c_text", SQL_LONGVARCHAR, CHARS, 0, SQL_NULLABLE, "text", 0, 0, SQL_PRED_CHAR},
        {"c_blob", SQL_LONGVARBINARY, 65535, 0, SQL_NULLABLE, "blob", 131070, 65535, SQL_PRED_BASIC},
        {"c_binary", SQL_BINARY, 8, 0, SQL_NULLABLE, "char_bin", 8, 8, SQL_PRED_BASIC},
        {"c_varbinary", SQL_VARBINARY, 16, 0, SQL_NULLABLE, "varchar_bin", 16, 16, SQL_PRED_BASIC},
        {"c_bit", SQL_BIT, 1, 0, SQL_NULLABLE, "bit", 1, 1, SQL_PRED_BASIC},
        {"c_bit8", SQL_BINARY, 1, 0, SQL_NULLABLE, "binary", 2, 2, SQL_PRED_BASIC},
        {"c_enum", SQL_CHAR, CHARS, 0, SQL_NULLABLE, "char", 0, 0, SQL_SEARCHABLE},
        {"c_auto", SQL_INTEGER, 10, 0, SQL_NO_NULLS, "int", 11, 4, SQL_PRED_BASIC},
    };
    const SQLSMALLINT count = (SQLSMALLINT)(sizeof cols / sizeof cols[0]);
    EXEC_OK(s, "SELECT * FROM qv_types");
    SQLSMALLINT n = 0;
    ASSERT_EQ(SQLNumResultCols(s.stmt, &n), SQL_SUCCESS);
    ASSERT_EQ(n, count);
    SQLLEN v = 0;
    SQLSMALLINT len = 0;
    ASSERT_EQ(SQLColAttribute(s.stmt, 1, SQL_DESC_COUNT, nullptr, 0, &len, &v), SQL_SUCCESS);
    EXPECT_EQ(v, count);
    for (SQLUSMALLINT i = 1; i <= count; i++) {
        const expect &e = cols[i - 1];
        SCOPED_TRACE(e.name);
        SQLCHAR name[64];
        SQLSMALLINT type = 0, digits = -1, nullable = -1;
        SQLULEN size = 0;
        ASSERT_EQ(SQLDescribeCol(s.stmt, i, name, sizeof name, &len, &type, &size, &digits,
                                 &nullable),
                  SQL_SUCCESS);
        EXPECT_EQ(std::string((char *)name), e.name);
        EXPECT_EQ(type, e.type);
        EXPECT_EQ(digits, e.digits);
        EXPECT_EQ(nullable, e.nullable);
        auto number = [&](SQLUSMALLINT id) {
            SQLLEN x = -12345;
            EXPECT_EQ(SQLColAttribute(s.stmt, i, id, nullptr, 0, nullptr, &x), SQL_SUCCESS) << id;
            return x;
        };
        auto text = [&](SQLUSMALLINT id) {
            char buf[64] = "";
            EXPECT_EQ(SQLColAttribute(s.stmt, i, id, buf, sizeof buf, &len, nullptr), SQL_SUCCESS)
                << id;
            return std::string(buf);
        };
        EXPECT_EQ(number(SQL_DESC_CONCISE_TYPE), e.type);
        EXPECT_EQ(number(SQL_DESC_NULLABLE), e.nullable);
        EXPECT_EQ(number(SQL_DESC_SEARCHABLE), e.searchable);
        EXPECT_EQ(text(SQL_DESC_TYPE_NAME), e.type_name);
        EXPECT_EQ(text(SQL_DESC_NAME), e.name);
        EXPECT_EQ(text(SQL_DESC_BASE_COLUMN_NAME), e.name);
        EXPECT_EQ(text(SQL_DESC_TABLE_NAME), "qv_types");
        EXPECT_EQ(text(SQL_DESC_SCHEMA_NAME), "");
        SQLLEN display = number(SQL_DESC_DISPLAY_SIZE);
        if (e.size == CHARS) {
            EXPECT_EQ((SQLLEN)size, display);
            EXPECT_GT(size, 0u);
        } else {
            EXPECT_EQ(size, e.size);
            EXPECT_EQ(display, e.display);
            EXPECT_EQ(number(SQL_DESC_OCTET_LENGTH), e.octet);
        }
    }
    auto flag = [&](SQLUSMALLINT col, SQLUSMALLINT id) {
        SQLLEN x = -1;
        SQLColAttribute(s.stmt, col, id, nullptr, 0, nullptr, &x);
        return x;
    };
    EXPECT_EQ(flag(5, SQL_DESC_UNSIGNED), SQL_TRUE);            // c_big
    EXPECT_EQ(flag(3, SQL_DESC_UNSIGNED), SQL_FALSE);           // c_int
    EXPECT_EQ(flag(count, SQL_DESC_AUTO_UNIQUE_VALUE), SQL_TRUE);
    EXPECT_EQ(flag(3, SQL_DESC_AUTO_UNIQUE_VALUE), SQL_FALSE);
    EXPECT_EQ(SQLDescribeCol(s.stmt, count + 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                             nullptr),
              SQL_ERROR);
    EXPECT_EQ(qv::first_state(s.stmt), "07009");
}
