// Direct queries in binary rows, against the fake server: on a server that
// executes "the statement just prepared", a query goes as prepare, execute
// and close written together, and its rows are read in the binary format;
// everything else (other servers, several statements, markers, a refused
// prepare) goes as text, and nothing the server ran or refused to run is
// sent a second time.
#include <gtest/gtest.h>

#include <string.h>

#include <mutex>
#include <string>
#include <vector>

#include "protocol/my_logon.h"
#include "unit/fake_session.h"

namespace {

using fake::bytes;
using fake::operator+;
using namespace fake_session;

const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";

enum : uint8_t { COM_QUERY = 0x03, COM_STMT_PREPARE = 0x16, COM_STMT_EXECUTE = 0x17,
                 COM_STMT_CLOSE = 0x19 };

const bytes EXECUTE_LAST = {COM_STMT_EXECUTE, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x00};
const bytes CLOSE_LAST = {COM_STMT_CLOSE, 0xFF, 0xFF, 0xFF, 0xFF};

// A prepare OK for statement 1 with the columns of fake::binary_columns()
// and no parameters, with its definitions.
std::vector<bytes> prepared_without_parameters()
{
    std::vector<bytes> r{bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
                               0x00}};
    for (const auto &c : fake::binary_columns())
        r.push_back(fake::column_def(c));
    r.push_back(fake::eof_packet());
    return r;
}

// What the client sent, command by command (sequence number and payload),
// collected by the script until the client goes away.
struct wire_log {
    std::mutex lock;
    std::vector<std::pair<uint8_t, bytes>> commands;
    void add(uint8_t seq, const bytes &b)
    {
        std::lock_guard<std::mutex> g(lock);
        commands.emplace_back(seq, b);
    }
    std::vector<uint8_t> kinds()
    {
        std::lock_guard<std::mutex> g(lock);
        std::vector<uint8_t> k;
        for (auto &c : commands)
            k.push_back(c.second.empty() ? 0 : c.second[0]);
        return k;
    }
};

struct direct_fixture : fixture {
    // In session with srv as a server announcing version (the handshake's
    // text), MySQL's CLIENT_LONG_PASSWORD when mysql_caps is set.
    void connect_as(const fake::server &srv, const char *version, bool mysql_caps, int nocache = 0)
    {
        connect(srv, nocache);
        conn->server_version = ms_from_latin1(version);
        decode_server_version(conn);
        if (mysql_caps)
            conn->server_caps |= CLIENT_LONG_PASSWORD;
    }

    // Closes the link so that the script sees the client go.
    void hang_up(fake::server &srv)
    {
        net_close(conn);
        ASSERT_TRUE(srv.wait_done());
    }

    std::string text_cell(int col)
    {
        char buf[64] = {};
        SQLLEN ind = 0;
        EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, col, SQL_C_CHAR, buf, sizeof buf, &ind)))
            << all_diags(stmt);
        return ind == SQL_NULL_DATA ? "NULL" : buf;
    }
};

// A script that logs every command and answers with answer(command, log).
fake::server::script logging(wire_log *log, std::function<bytes(const bytes &)> answer)
{
    return [log, answer](fake::session &s) {
        for (;;) {
            uint8_t seq;
            bytes cmd;
            if (!s.read_packet(&seq, &cmd, 3000))
                return;
            log->add(seq, cmd);
            bytes reply = answer(cmd);
            if (!reply.empty())
                s.send_raw(reply);
        }
    };
}

} // namespace

// The three commands arrive before anything is answered (the client does
// not wait for the prepare's answer), each numbered 0, the execute and the
// close naming the statement just prepared; the rows are decoded from the
// binary format, cached or streamed, and the statement is not left prepared.
TEST_F(direct_fixture, QueryGoesAsPrepareExecuteCloseInOneRoundTrip)
{
    for (int nocache = 0; nocache <= 1; nocache++) {
        SCOPED_TRACE(nocache ? "NoCache" : "cached");
        std::vector<std::pair<uint8_t, bytes>> seen;
        fake::server srv([&](fake::session &s) {
            for (int i = 0; i < 3; i++) {
                uint8_t seq;
                bytes cmd;
                // short waits: all three must be there before any answer
                if (!s.read_packet(&seq, &cmd, i == 0 ? 3000 : 500))
                    return;
                seen.emplace_back(seq, cmd);
            }
            s.send_raw(response(prepared_without_parameters()) + response(fake::binary_result()));
            uint8_t seq;
            bytes cmd;
            if (s.read_packet(&seq, &cmd, 3000))   // the next statement, if any
                seen.emplace_back(seq, cmd);
        });
        connect_as(srv, "5.5.5-10.11.6-MariaDB-0+deb12u1", false, nocache);
        ASSERT_EQ(exec(stmt, "SELECT n, s, `when`, x FROM t"), SQL_SUCCESS) << all_diags(stmt);
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << all_diags(stmt);
        EXPECT_EQ(text_cell(1), "1234");
        EXPECT_EQ(text_cell(2), "bin\xE4r");   // narrow text is Latin-1 here
        EXPECT_EQ(text_cell(3), "2021-12-31 23:59:58");
        EXPECT_EQ(text_cell(4), "6.25");
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << all_diags(stmt);
        EXPECT_EQ(text_cell(2), "NULL");
        EXPECT_EQ(text_cell(4), "-0.5");
        EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
        EXPECT_EQ(stmt->prepared, 0) << "the server closed it: nothing to close again";
        EXPECT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
        hang_up(srv);
        ASSERT_EQ(seen.size(), 3u) << "no command may follow: the statement was closed already";
        EXPECT_EQ(seen[0].first, 0);
        bytes prepare{COM_STMT_PREPARE};
        fake::put_str(prepare, "SELECT n, s, `when`, x FROM t");
        EXPECT_EQ(seen[0].second, prepare);
        EXPECT_EQ(seen[1], std::make_pair(uint8_t{0}, EXECUTE_LAST));
        EXPECT_EQ(seen[2], std::make_pair(uint8_t{0}, CLOSE_LAST));
    }
}

// Where the server cannot execute the statement just prepared, or the text
// is not one query without markers, or the keyword says so, the query goes
// as text: one COM_QUERY and nothing else.
TEST_F(direct_fixture, OtherServersAndStatementsGoAsText)
{
    const struct {
        const char *name;
        const char *version;
        bool mysql_caps;
        const char *sql;
        int no_binary;
        bool binary;
    } cases[] = {
        {"MariaDB 10.11", "5.5.5-10.11.6-MariaDB", false, "SELECT a FROM t", 0, true},
        {"MariaDB 10.2.0", "10.2.0-MariaDB", false, "SELECT a FROM t", 0, true},
        {"WITH", "10.6.1-MariaDB", false, "WITH q AS (SELECT 1 AS a) SELECT a FROM q", 0, true},
        {"parenthesised", "10.6.1-MariaDB", false, "(SELECT a FROM t) UNION (SELECT 2)", 0, true},
        {"trailing semicolons", "10.6.1-MariaDB", false, "SELECT a FROM t ;;", 0, true},
        {"semicolon in a literal", "10.6.1-MariaDB", false, "SELECT ';' FROM t -- ;", 0, true},
        {"MariaDB capabilities, custom version text", "10.6.1-custom", false, "SELECT a FROM t",
         0, true},
        {"MySQL 8", "8.0.36", true, "SELECT a FROM t", 0, false},
        {"MySQL with a huge version", "99999999999.2.0", true, "SELECT a FROM t", 0, false},
        {"MariaDB 10.1", "5.5.5-10.1.48-MariaDB", false, "SELECT a FROM t", 0, false},
        {"MariaDB 5.5", "5.5.68-MariaDB", false, "SELECT a FROM t", 0, false},
        {"keyword", "10.11.6-MariaDB", false, "SELECT a FROM t", 1, false},
        {"two statements", "10.11.6-MariaDB", false, "SELECT a FROM t; SELECT 2", 0, false},
        {"an update", "10.11.6-MariaDB", false, "UPDATE t SET a = 1", 0, false},
        {"SHOW", "10.11.6-MariaDB", false, "SHOW TABLES", 0, false},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        wire_log log;
        fake::server srv(logging(&log, [](const bytes &cmd) {
            if (cmd[0] == COM_QUERY)
                return response(one_column("a", {"7"}, fake::eof_packet()));
            if (cmd[0] == COM_STMT_PREPARE)
                return response(prepared_without_parameters());
            if (cmd[0] == COM_STMT_EXECUTE)
                return response(fake::binary_result());
            return bytes();
        }));
        connect_as(srv, t.version, t.mysql_caps);
        conn->NoBinaryDirect = t.no_binary;
        EXPECT_EQ(exec(stmt, t.sql), SQL_SUCCESS) << all_diags(stmt);
        EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS) << all_diags(stmt);
        EXPECT_EQ(text_cell(1), t.binary ? "1234" : "7");
        SQLFreeStmt(stmt, SQL_CLOSE);
        hang_up(srv);
        if (t.binary)
            EXPECT_EQ(log.kinds(), (std::vector<uint8_t>{COM_STMT_PREPARE, COM_STMT_EXECUTE,
                                                         COM_STMT_CLOSE}));
        else
            EXPECT_EQ(log.kinds(), (std::vector<uint8_t>{COM_QUERY}));
    }
}

// A parameter marker with a bound value goes as text with the value written
// in; a parameter array does too.
TEST_F(direct_fixture, ParametersGoAsText)
{
    wire_log log;
    fake::server srv(logging(&log, [](const bytes &cmd) {
        return cmd[0] == COM_QUERY ? response(one_column("a", {"7"}, fake::eof_packet()))
                                   : bytes();
    }));
    connect_as(srv, "10.11.6-MariaDB", false);
    SQLINTEGER v = 5;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &v, 0, &ind),
              SQL_SUCCESS);
    EXPECT_EQ(exec(stmt, "SELECT a FROM t WHERE a = ?"), SQL_SUCCESS) << all_diags(stmt);
    SQLFreeStmt(stmt, SQL_CLOSE);
    hang_up(srv);
    ASSERT_EQ(log.kinds(), (std::vector<uint8_t>{COM_QUERY}));
    EXPECT_EQ(query_text(log.commands[0].second), "SELECT a FROM t WHERE a = 5");
}

// The server refuses to prepare: its two errors (the prepare's, and the
// execute's of a statement that does not exist) reach nobody, the text goes
// once, and what the text gets is what the application sees.
TEST_F(direct_fixture, RefusedPrepareFallsBackToTextOnce)
{
    const struct {
        const char *name;
        bytes text_answer;
        SQLRETURN rc;
        const char *diag;
    } cases[] = {
        {"text runs", response(one_column("a", {"7"}, fake::eof_packet())), SQL_SUCCESS, ""},
        {"text fails", response({fake::err_packet(1146, "42S02", "Table 'test.t' doesn't exist")}),
         SQL_ERROR, "42S02"},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        wire_log log;
        bytes text_answer = t.text_answer;
        fake::server srv(logging(&log, [text_answer](const bytes &cmd) {
            if (cmd[0] == COM_STMT_PREPARE)
                return response({fake::err_packet(1295, "HY000",
                                                  "This command is not supported in the prepared "
                                                  "statement protocol yet")});
            if (cmd[0] == COM_STMT_EXECUTE)
                return response({fake::err_packet(1243, "HY000",
                                                  "Unknown prepared statement handler (4294967295) "
                                                  "given to mysqld_stmt_execute")});
            if (cmd[0] == COM_QUERY)
                return text_answer;
            return bytes();
        }));
        connect_as(srv, "10.11.6-MariaDB", false);
        EXPECT_EQ(exec(stmt, "SELECT a FROM t"), t.rc);
        std::string d = all_diags(stmt);
        if (t.rc == SQL_SUCCESS) {
            EXPECT_EQ(d, "");
            EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS) << all_diags(stmt);
            EXPECT_EQ(text_cell(1), "7");
        } else {
            EXPECT_EQ(diag_count(stmt), 1) << d;
            EXPECT_EQ(first_state(stmt), t.diag) << d;
        }
        SQLFreeStmt(stmt, SQL_CLOSE);
        hang_up(srv);
        EXPECT_EQ(log.kinds(), (std::vector<uint8_t>{COM_STMT_PREPARE, COM_STMT_EXECUTE,
                                                     COM_STMT_CLOSE, COM_QUERY}));
    }
}

// Once the prepare succeeded, whatever the execute answers is the
// statement's result: an error is posted as the server gave it, and the text
// is never sent after it. That holds for a server that counts parameters the
// driver did not (the execute went without values) and for one whose
// execute ran something after its prepare failed (the session cannot be
// trusted: it is closed).
TEST_F(direct_fixture, NothingIsSentAgainAfterTheExecuteAnswered)
{
    const struct {
        const char *name;
        std::vector<bytes> prepare_answer;
        bytes execute_answer;
        const char *state;
        const char *text;
        bool link_closed;
    } cases[] = {
        {"execution error", prepared_without_parameters(),
         response({fake::err_packet(1242, "21000", "Subquery returns more than 1 row")}), "21000",
         "Subquery returns more than 1 row", false},
        {"parameters counted by the server", fake::prepare_answer(),
         response({fake::err_packet(1210, "HY000",
                                    "Incorrect arguments to mysqld_stmt_execute")}),
         "HY000", "Incorrect arguments to mysqld_stmt_execute", false},
        {"execute of a failed prepare ran",
         {fake::err_packet(1064, "42000", "You have an error in your SQL syntax")},
         response({fake::ok_packet(1)}), "08S01",
         "the server executed a statement after its prepare had failed", true},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        wire_log log;
        bytes prep = response(t.prepare_answer), exec_answer = t.execute_answer;
        fake::server srv(logging(&log, [prep, exec_answer](const bytes &cmd) {
            if (cmd[0] == COM_STMT_PREPARE)
                return prep;
            if (cmd[0] == COM_STMT_EXECUTE)
                return exec_answer;
            if (cmd[0] == COM_QUERY)
                return response(one_column("a", {"7"}, fake::eof_packet()));
            return bytes();
        }));
        connect_as(srv, "10.11.6-MariaDB", false);
        EXPECT_EQ(exec(stmt, "SELECT a FROM t"), SQL_ERROR);
        std::string d = all_diags(stmt);
        EXPECT_EQ(first_state(stmt), t.state) << d;
        EXPECT_NE(d.find(t.text), std::string::npos) << d;
        EXPECT_EQ(conn->link_broken != 0 || conn->sock < 0, t.link_closed);
        hang_up(srv);
        EXPECT_EQ(log.kinds(), (std::vector<uint8_t>{COM_STMT_PREPARE, COM_STMT_EXECUTE,
                                                     COM_STMT_CLOSE}));
    }
}

// Hostile answers to the prepare: a cut-short prepare OK, a packet of no
// known kind, an error among the definitions, the link closed. Each is
// 08S01 on the statement, the link is closed, and the text is not sent.
TEST_F(direct_fixture, HostilePrepareAnswerClosesTheLink)
{
    std::vector<bytes> error_inside = prepared_without_parameters();
    error_inside[2] = fake::err_packet(1105, "HY000", "odd");
    const struct {
        const char *name;
        bytes answer;
        bool close;
    } cases[] = {
        {"short prepare OK", response({bytes{0x00, 0x01, 0x00}}), false},
        {"unknown packet", response({bytes{0x42, 0x00}}), false},
        {"error among the definitions", response(error_inside), false},
        {"definitions cut off", response({prepared_without_parameters()[0]}), true},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        wire_log log;
        bytes answer = t.answer;
        bool close = t.close;
        fake::server srv([&log, answer, close](fake::session &s) {
            for (int i = 0; i < 3; i++) {
                uint8_t seq;
                bytes cmd;
                if (!s.read_packet(&seq, &cmd, 3000))
                    return;
                log.add(seq, cmd);
            }
            s.send_raw(answer);
            if (close) {
                s.close();
                return;
            }
            uint8_t seq;
            bytes cmd;
            if (s.read_packet(&seq, &cmd, 3000))
                log.add(seq, cmd);
        });
        connect_as(srv, "10.11.6-MariaDB", false);
        conn->ConnectionTimeout = 2000;
        EXPECT_EQ(exec(stmt, "SELECT a FROM t"), SQL_ERROR);
        EXPECT_EQ(first_state(stmt), "08S01") << all_diags(stmt);
        EXPECT_TRUE(conn->link_broken != 0 || conn->sock < 0);
        hang_up(srv);
        EXPECT_EQ(log.kinds(), (std::vector<uint8_t>{COM_STMT_PREPARE, COM_STMT_EXECUTE,
                                                     COM_STMT_CLOSE}));
    }
}

// Versions are compared part by part, never as one combined number (which
// huge parts overflow); what the logon decoded from the handshake's text is
// what is compared.
TEST(server_version, ComparedPartByPart)
{
    const struct {
        const char *announced;
        int major, minor, patch;
        int at_least;
    } cases[] = {
        {"10.2.0-MariaDB", 10, 2, 0, 1},
        {"5.5.5-10.1.48-MariaDB", 10, 2, 0, 0},
        {"5.5.5-10.11.6-MariaDB", 10, 2, 0, 1},
        {"9.99.99", 10, 2, 0, 0},
        {"11.0.0", 10, 2, 0, 1},
        {"10.2", 10, 2, 1, 0},
        {"3.22.99", 3, 23, 0, 0},
        {"5.5.3", 5, 5, 3, 1},
        {"4.1.0", 5, 5, 3, 0},
        {"2147483647.2147483647.2147483647", 10, 2, 0, 1},
        {"99999999999999999999.0.0", 10, 2, 0, 1},
        {"10.99999999999999999999.0", 11, 0, 0, 0},
        {"", 3, 23, 0, 0},
    };
    my_environment *env = env_create();
    my_connection *c = conn_create(env, 3);
    for (const auto &t : cases) {
        SCOPED_TRACE(t.announced);
        ms_free(c->server_version);
        c->server_version = ms_from_latin1(t.announced);
        decode_server_version(c);
        EXPECT_EQ(server_version_at_least(c, t.major, t.minor, t.patch), t.at_least);
    }
    env_release(env);
}
