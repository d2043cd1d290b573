// Direct queries against the test server, in binary rows (the default) and
// as text (NoBinaryDirect=1): which way each statement goes, as the server's
// own counters tell; the same answers either way, session functions that
// read the previous statement included; and a query the server refuses to
// prepare runs once, as text, without touching a statement another handle
// prepared before.
#include <gtest/gtest.h>

#include <sqlext.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "integration/fake_peer.h"
#include "support/qv_support.h"

namespace {

using rows_t = std::vector<std::vector<std::string>>;

const char *const WAYS[] = {"", "NoBinaryDirect=1;"};

struct session {
    qv::connection c;
    qv::handle stmt;

    explicit session(const std::string &extra)
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

    // Every row of every result of the statement as text ("NULL" for NULL),
    // results one after the other; the cursor is closed afterwards. A fetch
    // that fails ends it: its SQLSTATEs and error numbers go to *failed
    // when given (else it fails the test).
    rows_t rows(const qv::handle &s, std::string *failed = nullptr)
    {
        rows_t out;
        do {
            SQLSMALLINT cols = 0;
            SQLNumResultCols(s, &cols);
            if (cols == 0)
                continue;
            SQLRETURN rc;
            while ((rc = SQLFetch(s)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
                std::vector<std::string> row;
                for (SQLUSMALLINT i = 1; i <= cols; i++) {
                    char buf[256];
                    SQLLEN ind = 0;
                    SQLGetData(s, i, SQL_C_CHAR, buf, sizeof buf, &ind);
                    row.push_back(ind == SQL_NULL_DATA ? "NULL" : std::string(buf));
                }
                out.push_back(row);
            }
            if (failed && rc != SQL_NO_DATA) {
                for (const auto &d : qv::diagnostics(s))
                    *failed += d.sqlstate + " " + std::to_string(d.native) + ";";
                break;
            }
            EXPECT_EQ(rc, SQL_NO_DATA) << qv::describe(qv::diagnostics(s));
        } while (SQL_SUCCEEDED(SQLMoreResults(s)));
        SQLFreeStmt(s, SQL_CLOSE);
        return out;
    }
    rows_t rows() { return rows(stmt); }

    // A counter of the session's status, read on a statement of its own.
    long status(const char *name)
    {
        qv::handle s = qv::alloc_stmt(c.dbc);
        EXPECT_TRUE(SQL_SUCCEEDED(exec(std::string("SHOW SESSION STATUS LIKE '") + name + "'", s)))
            << qv::describe(qv::diagnostics(s));
        rows_t r = rows(s);
        return r.size() == 1 ? atol(r[0][1].c_str()) : -1;
    }
};

#define EXEC_OK(sess, sql) QV_ASSERT_SUCCEEDED((sess).exec(sql), (sess).stmt)

std::string way_name(const char *way) { return *way ? way : "binary (default)"; }

} // namespace

// One query without markers goes as prepare and execute (the server counts
// one of each), with the keyword as a query; several statements, markers,
// statements that return no rows and SHOW go as a query either way. The
// rows are the same.
TEST(DirectBinary, ServerCountersShowWhichWayQueriesGo)
{
    const struct {
        const char *sql;
        rows_t rows;
        bool binary;
        bool bind;
    } cases[] = {
        {"SELECT 1, 'a', NULL, 2.5e0, CAST('2021-02-03 04:05:06.5' AS DATETIME(1))",
         {{"1", "a", "NULL", "2.5", "2021-02-03 04:05:06.5"}}, true, false},
        {"WITH q AS (SELECT seq FROM seq_1_to_3) SELECT SUM(seq) FROM q", {{"6"}}, true, false},
        {"(SELECT 1) UNION ALL (SELECT 2)", {{"1"}, {"2"}}, true, false},
        {"SELECT ';' /* ; */", {{";"}}, true, false},
        {"SELECT 1; SELECT 2", {{"1"}, {"2"}}, false, false},
        {"SELECT ? + 1", {{"42"}}, false, true},
        {"SHOW VARIABLES LIKE 'autocommit'", {{"autocommit", "ON"}}, false, false},
        {"DO 1", {}, false, false},
    };
    for (const char *way : WAYS) {
        SCOPED_TRACE(way_name(way));
        session s(way);
        for (const auto &t : cases) {
            SCOPED_TRACE(t.sql);
            SQLINTEGER v = 41;
            SQLLEN ind = 0;
            if (t.bind) {
                ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0,
                                           &v, 0, &ind),
                          SQL_SUCCESS);
            }
            long prepares = s.status("Com_stmt_prepare");
            long executes = s.status("Com_stmt_execute");
            long closes = s.status("Com_stmt_close");
            EXEC_OK(s, t.sql);
            EXPECT_EQ(s.rows(), t.rows);
            SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
            int binary = t.binary && !*way;
            EXPECT_EQ(s.status("Com_stmt_prepare") - prepares, binary);
            EXPECT_EQ(s.status("Com_stmt_execute") - executes, binary);
            EXPECT_EQ(s.status("Com_stmt_close") - closes, binary);
        }
    }
}

// A query the server refuses to prepare runs as text, once: when the text
// fails as well, its error is the only one posted; when the server only
// could not prepare it (no prepared statements left), the text runs. The
// execute of "the statement just prepared" sent behind the failed prepare
// must not run a statement another handle of the connection prepared
// before: the insert runs when, and only when, the application executes it.
TEST(DirectBinary, RefusedPrepareRunsOnceAndTouchesNoOtherStatement)
{
    const struct {
        const char *name;
        const char *sql;
        bool no_prepares_left;
        SQLRETURN rc;
        const char *state;
    } cases[] = {
        {"unknown table", "SELECT * FROM dbx_no_such_table", false, SQL_ERROR, "42S02"},
        {"syntax the server rejects", "SELECT 1 FROM", false, SQL_ERROR, "42000"},
        {"no prepared statements left", "SELECT COUNT(*) FROM dbx_once", true, SQL_SUCCESS, ""},
    };
    for (const char *way : WAYS) {
        SCOPED_TRACE(way_name(way));
        session s(way);
        EXEC_OK(s, "CREATE OR REPLACE TABLE dbx_once (a INT)");
        qv::handle insert = qv::alloc_stmt(s.c.dbc);
        ASSERT_EQ(SQLPrepare(insert, (SQLCHAR *)"INSERT INTO dbx_once VALUES (1)", SQL_NTS),
                  SQL_SUCCESS)
            << qv::describe(qv::diagnostics(insert));
        int inserted = 0;
        for (const auto &t : cases) {
            SCOPED_TRACE(t.name);
            long prepares = s.status("Com_stmt_prepare");
            std::string most;
            if (t.no_prepares_left) {
                most = qv::server_rows("SELECT @@GLOBAL.max_prepared_stmt_count")[0][0];
                ASSERT_EQ(qv::server_sql("SET GLOBAL max_prepared_stmt_count = 0").status, 0);
            }
            SQLRETURN rc = s.exec(t.sql);
            auto d = qv::diagnostics(s.stmt);
            rows_t got = SQL_SUCCEEDED(rc) ? s.rows() : rows_t();
            if (t.no_prepares_left) {
                ASSERT_EQ(qv::server_sql("SET GLOBAL max_prepared_stmt_count = " + most).status, 0);
            }
            EXPECT_EQ(rc, t.rc) << qv::describe(d);
            if (*t.state) {
                ASSERT_EQ(d.size(), 1u) << qv::describe(d);
                EXPECT_EQ(d[0].sqlstate, t.state) << qv::describe(d);
            } else {
                EXPECT_TRUE(d.empty()) << qv::describe(d);
                EXPECT_EQ(got, (rows_t{{std::to_string(inserted)}}));
            }
            // (a prepare refused for want of room is not counted)
            if (!t.no_prepares_left) {
                EXPECT_EQ(s.status("Com_stmt_prepare") - prepares, *way ? 0 : 1);
            }
            EXPECT_EQ(qv::server_rows("SELECT COUNT(*) FROM dbx_once"),
                      (rows_t{{std::to_string(inserted)}}));
            ASSERT_EQ(SQLExecute(insert), SQL_SUCCESS) << qv::describe(qv::diagnostics(insert));
            inserted++;
            EXPECT_EQ(qv::server_rows("SELECT COUNT(*) FROM dbx_once"),
                      (rows_t{{std::to_string(inserted)}}));
        }
        insert.reset();
        EXEC_OK(s, "DROP TABLE dbx_once");
    }
}

// What a query tells of the statement before it (affected rows, the last
// insert id, the rows a LIMIT left out, warnings) and an error in the
// middle of the rows are the same in binary rows and as text.
TEST(DirectBinary, SameAnswersBothWays)
{
    const char *const steps[] = {
        "CREATE OR REPLACE TABLE dbx_same (id INT AUTO_INCREMENT PRIMARY KEY, v INT)",
        "INSERT INTO dbx_same (v) VALUES (1), (2), (3)",
        "SELECT ROW_COUNT(), LAST_INSERT_ID()",
        "SELECT SQL_CALC_FOUND_ROWS v FROM dbx_same ORDER BY v LIMIT 1",
        "SELECT FOUND_ROWS()",
        "SELECT CAST('12abc' AS SIGNED)",
        "SELECT @@warning_count",
        "SELECT (SELECT v FROM dbx_same)",
        "SELECT v, v * 2 FROM dbx_same WHERE v > 1 ORDER BY v",
        "DROP TABLE dbx_same",
    };
    struct outcome {
        SQLRETURN rc;
        std::string diags;
        rows_t rows;
        std::string fetch_failed;
    };
    std::vector<std::vector<outcome>> seen;
    for (const char *way : WAYS) {
        SCOPED_TRACE(way_name(way));
        session s(way);
        std::vector<outcome> got;
        for (const char *sql : steps) {
            outcome o;
            o.rc = s.exec(sql);
            for (const auto &d : qv::diagnostics(s.stmt))
                o.diags += d.sqlstate + " " + std::to_string(d.native) + ";";
            if (SQL_SUCCEEDED(o.rc))
                o.rows = s.rows(s.stmt, &o.fetch_failed);
            got.push_back(o);
        }
        seen.push_back(got);
    }
    ASSERT_EQ(seen.size(), 2u);
    for (size_t i = 0; i < std::size(steps); i++) {
        SCOPED_TRACE(steps[i]);
        EXPECT_EQ(seen[0][i].rc, seen[1][i].rc);
        EXPECT_EQ(seen[0][i].diags, seen[1][i].diags);
        EXPECT_EQ(seen[0][i].rows, seen[1][i].rows);
        EXPECT_EQ(seen[0][i].fetch_failed, seen[1][i].fetch_failed);
    }
    EXPECT_EQ(seen[0][2].rows, (rows_t{{"3", "1"}}));
    EXPECT_EQ(seen[0][4].rows, (rows_t{{"3"}}));
    EXPECT_EQ(seen[0][7].fetch_failed, "21000 1242;");
}

// The greeting decides, through a real logon: a MySQL 8 server (its
// version, CLIENT_LONG_PASSWORD announced) gets the query as text; a
// MariaDB 10.11 one ("5.5.5-" in front of its version, without that
// capability) gets prepare, execute and close, and its binary rows are read.
TEST(DirectBinary, GreetingDecidesTheWay)
{
    const struct {
        const char *name;
        const char *version;
        bool mariadb;
    } cases[] = {
        {"MySQL 8", "8.0.36", false},
        {"MariaDB 10.11", "5.5.5-10.11.6-MariaDB-log", true},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        fake::greeting_info g;
        g.server_version = t.version;
        if (t.mariadb)
            g.capabilities &= ~fake::CAP_LONG_PASSWORD;
        std::vector<uint8_t> kinds;   // the commands that carried the query
        fake::server srv([&](fake::session &s) {
            peer::logon_script how;
            how.greeting = &g;
            peer::logon_seen seen;
            if (!peer::logon(s, how, &seen))
                return;
            bool ours = false;   // the last prepare was of the test's query
            peer::serve(s, [&](fake::session &s, const fake::bytes &cmd) {
                std::string text(cmd.begin() + 1, cmd.end());
                switch (cmd[0]) {
                case peer::COM_QUERY:
                    if (peer::query_text(cmd) != "SELECT n FROM t")
                        return false;
                    kinds.push_back(cmd[0]);
                    {
                        uint8_t seq = 1;
                        for (const auto &p : {fake::bytes{1}, fake::column_def(fake::column("n", 253)),
                                              fake::eof_packet(), fake::text_row({std::string("7")}),
                                              fake::eof_packet()})
                            s.send_packet(seq++, p);
                    }
                    return true;
                case 0x16:   // COM_STMT_PREPARE: the driver's own queries are refused
                    ours = text == "SELECT n FROM t";
                    if (ours) {
                        kinds.push_back(cmd[0]);
                        fake::bytes ok{0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00,
                                 0x00, 0x00};
                        uint8_t seq = 1;
                        s.send_packet(seq++, ok);
                        for (const auto &c : fake::binary_columns())
                            s.send_packet(seq++, fake::column_def(c));
                        s.send_packet(seq++, fake::eof_packet());
                    } else {
                        s.send_packet(1, fake::err_packet(1295, "HY000", "not supported"));
                    }
                    return true;
                case 0x17: {   // COM_STMT_EXECUTE
                    if (!ours) {
                        s.send_packet(1, fake::err_packet(1243, "HY000", "Unknown handler"));
                        return true;
                    }
                    kinds.push_back(cmd[0]);
                    uint8_t seq = 1;
                    for (const auto &p : fake::binary_result())
                        s.send_packet(seq++, p);
                    return true;
                }
                case 0x19:   // COM_STMT_CLOSE: no answer
                    if (ours)
                        kinds.push_back(cmd[0]);
                    ours = false;
                    return true;
                }
                return false;
            });
        });
        {
            qv::connection c;
            ASSERT_TRUE(SQL_SUCCEEDED(c.connect(peer::conn_str(srv.port()))))
                << qv::describe(qv::diagnostics(c.dbc));
            qv::handle stmt = qv::alloc_stmt(c.dbc);
            ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR *)"SELECT n FROM t", SQL_NTS)))
                << qv::describe(qv::diagnostics(stmt));
            ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << qv::describe(qv::diagnostics(stmt));
            char buf[32] = {};
            SQLLEN ind = 0;
            ASSERT_EQ(SQLGetData(stmt, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
            EXPECT_STREQ(buf, t.mariadb ? "1234" : "7");
        }
        ASSERT_TRUE(srv.wait_done());
        if (t.mariadb)
            EXPECT_EQ(kinds, (std::vector<uint8_t>{0x16, 0x17, 0x19}));
        else
            EXPECT_EQ(kinds, (std::vector<uint8_t>{peer::COM_QUERY}));
    }
}
