// Exchanges on a shared connection, against the fake server: what goes wrong
// on the wire while a statement's command runs is posted on that statement
// (never on the connection, whose records another thread may be reading),
// and a streamed result holds the wire exactly as long as its rows are
// unread.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/fake_session.h"

namespace {

using fake::bytes;
using namespace fake_session;

const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";

struct exchange_fixture : fixture {};

} // namespace

// The server goes away in the middle of a result: the transport's own
// account of it reaches the statement (read while executing when the
// result is queued, while fetching when it streams), and the connection's
// records stay empty.
TEST_F(exchange_fixture, TransportFailureIsPostedOnTheStatement)
{
    for (int nocache = 0; nocache <= 1; nocache++) {
        SCOPED_TRACE(nocache ? "NoCache" : "cached");
        fake::server srv([](fake::session &s) {
            next_query(s);
            s.send_raw(response(one_column("a", {"one"})));
            s.close();
        });
        connect(srv, nocache);
        SQLRETURN rc = exec(stmt, "SELECT a FROM t");
        if (nocache) {
            ASSERT_EQ(rc, SQL_SUCCESS) << all_diags(stmt);
            EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
            rc = SQLFetch(stmt);
        }
        EXPECT_EQ(rc, SQL_ERROR);
        std::string d = all_diags(stmt);
        EXPECT_NE(d.find("08S01 " + PREFIX + "Communication link failure: read failed (peer shutdown)"),
                  std::string::npos)
            << d;
        EXPECT_EQ(diag_count(conn), 0) << all_diags(conn);
    }
}

// The select limit a statement's execution needs goes out on the
// connection, on the statement's behalf: a refusal is the statement's.
TEST_F(exchange_fixture, SelectLimitRefusalIsPostedOnTheStatement)
{
    std::vector<std::string> seen;
    fake::server srv([&](fake::session &s) {
        seen.push_back(next_query(s));
        s.send_raw(response({fake::err_packet(1231, "42000", "Variable can't be set")}));
    });
    connect(srv, 0);
    stmt->max_rows = 5;
    EXPECT_EQ(exec(stmt, "SELECT a FROM t"), SQL_ERROR);
    ASSERT_TRUE(srv.wait_done());
    EXPECT_EQ(seen, (std::vector<std::string>{"SET @@sql_select_limit=5"}));
    EXPECT_NE(all_diags(stmt).find("42000 " + PREFIX + "Variable can't be set"), std::string::npos)
        << all_diags(stmt);
    EXPECT_EQ(diag_count(conn), 0) << all_diags(conn);
}

// A streamed result holds the wire while its rows are unread and lets go
// when they end, by their end packet or by an error in their place; the
// other statement's command then goes out.
TEST_F(exchange_fixture, StreamedResultHoldsTheWireUntilItsRowsEnd)
{
    const struct {
        const char *name;
        bytes end;
        SQLRETURN last;
    } ends[] = {
        {"end of rows", fake::eof_packet(0, 2), SQL_NO_DATA},
        {"error", fake::err_packet(1317, "70100", "Query execution was interrupted"), SQL_ERROR},
    };
    for (const auto &e : ends) {
        SCOPED_TRACE(e.name);
        std::vector<std::string> seen;
        fake::server srv([&](fake::session &s) {
            seen.push_back(next_query(s));
            s.send_raw(response(one_column("a", {"one"}, e.end)));
            seen.push_back(next_query(s));
            s.send_raw(response({fake::ok_packet()}));
        });
        connect(srv, 1);
        my_statement *other = stmt_create(conn);
        ASSERT_EQ(exec(stmt, "SELECT a FROM t"), SQL_SUCCESS) << all_diags(stmt);
        EXPECT_EQ(conn->wire_owner, stmt);
        my_string *sql = ms_from_latin1("DO 1");
        EXPECT_EQ(execute_query(other, sql), -1);
        EXPECT_NE(all_diags(other).find("HY000 " + PREFIX +
                                        "General error: connection is busy with results of "
                                        "another hstmt"),
                  std::string::npos)
            << all_diags(other);
        EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
        EXPECT_EQ(SQLFetch(stmt), e.last);
        EXPECT_EQ(conn->wire_owner, nullptr);
        clear_diagnostics(other);
        EXPECT_EQ(execute_query(other, sql), 0) << all_diags(other);
        ms_free(sql);
        ASSERT_TRUE(srv.wait_done());
        EXPECT_EQ(seen, (std::vector<std::string>{"SELECT a FROM t", "DO 1"}));
    }
}
