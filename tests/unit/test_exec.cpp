// The command layer and the execution entry points against the scripted fake
// server: whole responses queued or left on the wire, LOCAL INFILE, the busy
// rule, hostile rows, a server that dies, query time-outs, parameter arrays
// and the server-side prepare.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "desc/my_desc.h"
#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_proto.h"
#include "results/my_data.h"
#include "results/my_fetch.h"
#include "support/unit_support.h"

namespace {

using fake::bytes;
using fake::operator+;

const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";

using unit_support::now_ms;
using unit_support::text_of;
using unit_support::all_diags;

bool has_diag(const void *h, const std::string &state, const std::string &text)
{
    return all_diags(h).find(state + " " + PREFIX + text) != std::string::npos;
}

// Packets of one response, numbered from first on, in one write.
bytes response(const std::vector<bytes> &packets, uint8_t first = 1)
{
    bytes all;
    for (const bytes &p : packets)
        all = all + fake::packet_bytes(first++, p);
    return all;
}

bytes column_count(uint8_t n) { return bytes{n}; }

fake::column_info column(const std::string &name, uint8_t type = 253)
{
    fake::column_info c;
    c.name = name;
    c.type = type;
    return c;
}

// A result set: count, definitions, EOF, rows, EOF with the given status.
std::vector<bytes> result_set(const std::vector<std::string> &names,
                              const std::vector<std::vector<std::optional<std::string>>> &rows,
                              uint16_t end_status = 2)
{
    std::vector<bytes> r{column_count((uint8_t)names.size())};
    for (const std::string &n : names)
        r.push_back(fake::column_def(column(n)));
    r.push_back(fake::eof_packet(0, 2));
    for (const auto &row : rows)
        r.push_back(fake::text_row(row));
    r.push_back(fake::eof_packet(0, end_status));
    return r;
}

std::vector<bytes> operator+(std::vector<bytes> a, const std::vector<bytes> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The command a client sent: its payload, or empty when none came.
bytes command(fake::session &s, int timeout_ms = 5000)
{
    uint8_t seq;
    bytes p;
    if (!s.read_packet(&seq, &p, timeout_ms))
        return bytes();
    return p;
}

using fake::query_text;

const uint16_t MORE = SERVER_MORE_RESULTS_EXISTS | SERVER_STATUS_AUTOCOMMIT;

struct exec_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = nullptr;

    void TearDown() override { env_release(env); }

    // A connection in session with the fake server, as after a logon.
    void connect(const fake::server &srv)
    {
        ASSERT_TRUE(srv.ok());
        my_string *host = ms_from_latin1("127.0.0.1");
        ASSERT_EQ(net_open(conn, host, srv.port()), 0) << all_diags(conn);
        ms_free(host);
        conn->server_caps = conn->client_caps = CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS |
                                                CLIENT_LOCAL_FILES | CLIENT_MULTI_STATEMENTS |
                                                CLIENT_MULTI_RESULTS;
        conn->charset = 33;
        conn->connected = 1;
        stmt = stmt_create(conn);
        ASSERT_NE(stmt, nullptr);
    }

    int query(my_statement *s, const char *sql)
    {
        my_string *t = ms_from_latin1(sql);
        int rc = execute_query(s, t);
        ms_free(t);
        return rc;
    }

    SQLRETURN exec(my_statement *s, const char *sql)
    {
        return SQLExecDirect(s, (SQLCHAR *)sql, SQL_NTS);
    }

    // Column 1 of the current row as text ("NULL" for NULL).
    std::string cell(my_statement *s, int column = 1)
    {
        char buf[256];
        SQLLEN ind = 0;
        if (!SQL_SUCCEEDED(my_get_data(s, column, SQL_C_CHAR, buf, sizeof buf, &ind, nullptr)))
            return "<error>";
        return ind == SQL_NULL_DATA ? "NULL" : std::string(buf, (size_t)ind);
    }
};

} // namespace

// ------------------------------------------------- queued or on the wire

// What a client sees of "UPDATE ...; SELECT ..." (an update count, a result
// of two rows, a final OK), walked with next_result_set.
struct walk_result {
    int first_rc = -9, row_count = -9, more_after_first = -9;
    int64_t queued_after_first = -1;
    bool left_on_wire = false, other_statement_blocked = false;
    std::vector<std::string> cells;
    int end_more = -9, last_rc = -9, last_more = -9;
    std::string diags;
};

TEST_F(exec_fixture, MultiResultResponseSameWithAndWithoutCache)
{
    const std::vector<bytes> packets =
        std::vector<bytes>{fake::ok_packet(3, 0, MORE)} +
        result_set({"a"}, {{std::string("x")}, {std::nullopt}}, MORE) +
        std::vector<bytes>{fake::ok_packet(0, 0, 2)};
    walk_result seen[2];
    for (int nocache = 0; nocache <= 1; nocache++) {
        SCOPED_TRACE(nocache ? "NoCache" : "cached");
        std::string got, second;
        fake::server srv([&](fake::session &s) {
            got = query_text(command(s));
            s.send_raw(response(packets));
            // the other statement's command, when the wire let it through
            second = query_text(command(s, 500));
            if (!second.empty())
                s.send_raw(response({fake::ok_packet(0, 0, 2)}));
        });
        env_release(env);
        env = env_create();
        conn = conn_create(env, 3);
        connect(srv);
        conn->NoCache = nocache;
        my_statement *other = stmt_create(conn);

        walk_result &w = seen[nocache];
        w.first_rc = query(stmt, "UPDATE t SET a=1; SELECT a FROM t");
        w.row_count = stmt->row_count_valid ? (int)stmt->row_count : -1;
        w.more_after_first = stmt->more_results;
        w.queued_after_first = stmt->queue.count;
        w.left_on_wire = response_on_wire(stmt) && conn->busy && conn->busy_owner == stmt;
        w.other_statement_blocked = query(other, "DO 1") != 0 &&
                                    has_diag(other, "HY000", "General error: connection is busy "
                                                             "with results of another hstmt");
        EXPECT_EQ(next_result_set(stmt), 0) << all_diags(stmt);
        EXPECT_EQ(desc_column_count(stmt->ird), 1);
        while (my_fetch_row(stmt) == SQL_SUCCESS)
            w.cells.push_back(cell(stmt));
        w.end_more = stmt->more_results;
        w.last_rc = next_result_set(stmt);
        w.last_more = stmt->more_results;
        w.diags = all_diags(stmt);
        ASSERT_TRUE(srv.wait_done());
        EXPECT_EQ(got, "UPDATE t SET a=1; SELECT a FROM t");
        EXPECT_EQ(second, nocache ? "" : "DO 1");
        EXPECT_EQ(conn->connected, 1);   // no read failed
        EXPECT_EQ(conn->busy, 0);
    }
    for (const walk_result &w : seen) {
        EXPECT_EQ(w.first_rc, 0);
        EXPECT_EQ(w.row_count, 3);
        EXPECT_EQ(w.more_after_first, 1);
        EXPECT_EQ(w.cells, (std::vector<std::string>{"x", "NULL"}));
        EXPECT_EQ(w.end_more, 1);
        EXPECT_EQ(w.last_rc, 0);
        EXPECT_EQ(w.last_more, 0);
        EXPECT_EQ(w.diags, "");
    }
    // Cached: everything after the first packet waits in the queue and the
    // wire is free. NoCache: nothing is queued and the rest keeps the wire.
    EXPECT_EQ(seen[0].queued_after_first, 7);
    EXPECT_FALSE(seen[0].left_on_wire);
    EXPECT_FALSE(seen[0].other_statement_blocked);
    EXPECT_EQ(seen[1].queued_after_first, 0);
    EXPECT_TRUE(seen[1].left_on_wire);
    EXPECT_TRUE(seen[1].other_statement_blocked);
}

// ------------------------------------------------------------ LOCAL INFILE

struct upload_seen {
    std::vector<std::pair<uint8_t, size_t>> packets;   // sequence number, size
    bytes data;
};

// Reads upload packets up to and including the empty one.
void read_upload(fake::session &s, upload_seen *u)
{
    uint8_t seq;
    bytes p;
    while (s.read_packet(&seq, &p, 5000)) {
        u->packets.push_back({seq, p.size()});
        u->data = u->data + p;
        if (p.empty())
            return;
    }
}

bytes infile_request(const std::string &path)
{
    bytes b{0xFB};
    fake::put_str(b, path);
    return b;
}

TEST_F(exec_fixture, LocalInfileGoesOutInPiecesOf1024)
{
    char path[] = "/tmp/qv-infile-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    bytes content(2500);
    for (size_t i = 0; i < content.size(); i++)
        content[i] = (uint8_t)(i * 7 + 3);
    ASSERT_EQ(write(fd, content.data(), content.size()), 2500);
    close(fd);

    upload_seen u;
    fake::server srv([&](fake::session &s) {
        command(s);
        s.send_raw(response({infile_request(path)}));
        read_upload(s, &u);
        s.send_raw(response({fake::ok_packet(2500, 0, 2)}, (uint8_t)(u.packets.back().first + 1)));
    });
    connect(srv);
    const std::string sql = std::string("LOAD DATA LOCAL INFILE '") + path + "' INTO TABLE t";
    EXPECT_EQ(exec(stmt, sql.c_str()), SQL_SUCCESS) << all_diags(stmt);
    ASSERT_TRUE(srv.wait_done());
    unlink(path);
    EXPECT_EQ(u.packets, (std::vector<std::pair<uint8_t, size_t>>{
                             {2, 1024}, {3, 1024}, {4, 452}, {5, 0}}));
    EXPECT_TRUE(u.data == content);
    EXPECT_EQ(stmt->row_count_valid, 1);
    EXPECT_EQ(stmt->row_count, 2500);
}

TEST_F(exec_fixture, LocalInfileOfMissingFileEndsTheUploadAndKeepsTheConnection)
{
    const std::string missing = "/nonexistent/qv-missing.csv";
    upload_seen u;
    std::string second;
    fake::server srv([&](fake::session &s) {
        command(s);
        s.send_raw(response({infile_request(missing)}));
        read_upload(s, &u);
        s.send_raw(response({fake::ok_packet(0, 0, 2)}, 3));
        second = query_text(command(s));
        s.send_raw(response({fake::ok_packet(0, 0, 2)}));
    });
    connect(srv);
    const std::string sql = "LOAD DATA LOCAL INFILE '" + missing + "' INTO TABLE t";
    EXPECT_EQ(exec(stmt, sql.c_str()), SQL_ERROR);
    EXPECT_TRUE(has_diag(stmt, "08S01", "Communication link failure: Failed to open '" + missing +
                                            "', eerrno=2"))
        << all_diags(stmt);
    clear_diagnostics(stmt);
    EXPECT_EQ(query(stmt, "DO 1"), 0) << all_diags(stmt);
    ASSERT_TRUE(srv.wait_done());
    EXPECT_EQ(u.packets, (std::vector<std::pair<uint8_t, size_t>>{{2, 0}}));
    EXPECT_EQ(second, "DO 1");
}

// ---------------------------------------------------------------- busy rule

TEST_F(exec_fixture, BusyRuleHoldsOnlyAStreamedResult)
{
    for (int nocache = 0; nocache <= 1; nocache++) {
        SCOPED_TRACE(nocache ? "NoCache" : "cached");
        std::vector<std::string> seen;
        fake::server srv([&](fake::session &s) {
            seen.push_back(query_text(command(s)));
            s.send_raw(response(result_set({"a"}, {{std::string("1")}, {std::string("2")}})));
            seen.push_back(query_text(command(s)));
            s.send_raw(response({fake::ok_packet(0, 0, 2)}));
        });
        env_release(env);
        env = env_create();
        conn = conn_create(env, 3);
        connect(srv);
        conn->NoCache = nocache;
        my_statement *other = stmt_create(conn);

        ASSERT_EQ(exec(stmt, "SELECT a FROM t"), SQL_SUCCESS) << all_diags(stmt);
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);   // one row read, one left
        if (!nocache) {
            // the rows are held in memory: the other statement runs at once
            // and the first one still reads the row it has left
            EXPECT_EQ(exec(other, "DO 1"), SQL_SUCCESS) << all_diags(other);
            EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
            EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
        } else {
            EXPECT_EQ(exec(other, "DO 1"), SQL_ERROR);
            EXPECT_TRUE(has_diag(other, "HY000",
                                 "General error: connection is busy with results of another "
                                 "hstmt"))
                << all_diags(other);
            EXPECT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
            EXPECT_EQ(exec(other, "DO 1"), SQL_SUCCESS) << all_diags(other);
        }
        ASSERT_TRUE(srv.wait_done());
        EXPECT_EQ(seen, (std::vector<std::string>{"SELECT a FROM t", "DO 1"}));
        EXPECT_EQ(conn->connected, 1);
    }
}

// ------------------------------------------------------------ hostile rows

TEST_F(exec_fixture, MalformedRowsGive08S01AndTheResultGoesOn)
{
    bytes truncated{0x05, 'a', 'b'};                 // 5 bytes announced, 2 there
    bytes oversized{0xFC, 0xFF, 0xFF, 'x', 'y'};     // 65535 announced
    bytes cut_length{0xFD, 0x01};                     // a 3-byte length cut short
    fake::server srv([&](fake::session &s) {
        command(s);
        std::vector<bytes> r{column_count(1), fake::column_def(column("a")),
                             fake::eof_packet(0, 2), fake::text_row({std::string("first")}),
                             truncated, oversized, cut_length,
                             fake::text_row({std::string("last")}), fake::eof_packet(0, 2)};
        s.send_raw(response(r));
    });
    connect(srv);
    ASSERT_EQ(exec(stmt, "SELECT a FROM t"), SQL_SUCCESS) << all_diags(stmt);
    char buf[32];
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_STREQ(buf, "first");
    for (int bad = 0; bad < 3; bad++) {
        EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
        EXPECT_EQ(diag_count(stmt), 1);
        EXPECT_EQ(text_of(diag_get(stmt, 1)->sqlstate), "08S01") << all_diags(stmt);
    }
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS) << all_diags(stmt);
    EXPECT_STREQ(buf, "last");
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    EXPECT_EQ(conn->busy, 0);
}

TEST_F(exec_fixture, ImpossibleColumnCountClosesTheConnection)
{
    bytes huge{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    for (int nocache = 0; nocache <= 1; nocache++) {
        SCOPED_TRACE(nocache ? "NoCache" : "cached");
        fake::server srv([&](fake::session &s) {
            command(s);
            s.send_raw(response({huge}));
            s.sleep_ms(300);
        });
        env_release(env);
        env = env_create();
        conn = conn_create(env, 3);
        connect(srv);
        conn->NoCache = nocache;
        EXPECT_EQ(exec(stmt, "SELECT a FROM t"), SQL_ERROR);
        EXPECT_EQ(text_of(diag_get(stmt, 1)->sqlstate), "08S01") << all_diags(stmt);
        // nothing after it can be placed: the conversation is over, and says so
        EXPECT_EQ(conn->connected, 0);
        clear_diagnostics(stmt);
        EXPECT_EQ(exec(stmt, "DO 1"), SQL_ERROR);
        EXPECT_EQ(text_of(diag_get(stmt, 1)->sqlstate), "08S01") << all_diags(stmt);
    }
}

// ------------------------------------------------------ the server goes away

TEST_F(exec_fixture, ServerDyingMidResultGives08S01Promptly)
{
    for (int nocache = 0; nocache <= 1; nocache++) {
        SCOPED_TRACE(nocache ? "NoCache" : "cached");
        fake::server srv([&](fake::session &s) {
            command(s);
            std::vector<bytes> r{column_count(1), fake::column_def(column("a")),
                                 fake::eof_packet(0, 2)};
            for (int i = 0; i < 100; i++)
                r.push_back(fake::text_row({std::to_string(i)}));
            s.send_raw(response(r));
            s.close();   // no end-of-rows: the server died
        });
        env_release(env);
        env = env_create();
        conn = conn_create(env, 3);
        connect(srv);
        conn->NoCache = nocache;
        int64_t start = now_ms();
        SQLRETURN rc = exec(stmt, "SELECT a FROM big");
        int rows = 0;
        while (rc == SQL_SUCCESS && (rc = SQLFetch(stmt)) == SQL_SUCCESS)
            rows++;
        EXPECT_EQ(rc, SQL_ERROR);
        EXPECT_LT(now_ms() - start, 2000);
        EXPECT_EQ(rows, nocache ? 100 : 0);
        EXPECT_EQ(text_of(diag_get(stmt, 1)->sqlstate), "08S01") << all_diags(stmt);
        EXPECT_EQ(conn->connected, 0);
        // every later call fails at once
        clear_diagnostics(stmt);
        start = now_ms();
        EXPECT_EQ(exec(stmt, "SELECT 1"), SQL_ERROR);
        EXPECT_LT(now_ms() - start, 500);
        EXPECT_EQ(text_of(diag_get(stmt, 1)->sqlstate), "08S01") << all_diags(stmt);
    }
}

// ---------------------------------------------------------------- time-out

namespace {

// The fake server's side of KILL QUERY: a logon on a second connection, then
// the statement. Sets *killed when the right session was named.
void answer_kill(fake::session &s, std::atomic<bool> *killed, std::string *text)
{
    s.send_packet(0, fake::greeting());
    uint8_t seq;
    bytes p;
    if (!s.read_packet(&seq, &p))
        return;
    s.send_packet((uint8_t)(seq + 1), fake::ok_packet());
    *text = query_text(command(s));
    *killed = *text == "KILL QUERY 7";
    s.send_raw(response({fake::ok_packet()}));
    command(s, 1000);   // COM_QUIT
}

// The statement's session of a KILL test: the statement runs until the
// server is told to stop it, then ends with the interruption error, and the
// next statement is answered.
void run_until_killed(fake::session &s, std::atomic<bool> *killed)
{
    command(s);
    for (int i = 0; i < 300 && !*killed; i++)
        s.sleep_ms(10);
    if (!*killed)
        return;
    s.send_raw(response({fake::err_packet(1317, "70100", "Query execution was interrupted")}));
    if (query_text(command(s)) == "SELECT 1")
        s.send_raw(response(result_set({"1"}, {{std::string("1")}})));
}

} // namespace

TEST_F(exec_fixture, QueryTimeoutInterruptsTheStatement)
{
    std::atomic<int> sessions{0};
    std::atomic<bool> killed{false};
    std::string kill_text;
    fake::server srv([&](fake::session &s) {
        if (sessions++ == 0)
            run_until_killed(s, &killed);
        else
            answer_kill(s, &killed, &kill_text);
    });
    connect(srv);
    const unsigned char id[4] = {7, 0, 0, 0};
    memcpy(conn->connection_id, id, sizeof id);
    stmt->query_timeout = 1;
    int64_t start = now_ms();
    EXPECT_EQ(exec(stmt, "SELECT SLEEP(5)"), SQL_ERROR);
    int64_t took = now_ms() - start;
    EXPECT_GE(took, 900);
    EXPECT_LT(took, 2500);
    EXPECT_TRUE(has_diag(stmt, "HYT00", "Timeout expired")) << all_diags(stmt);
    EXPECT_EQ(stmt->data_waiting, 0);
    EXPECT_EQ(kill_text, "KILL QUERY 7");
    EXPECT_EQ(conn->connected, 1);
    // the interrupted response was read: the next answer is the next one's
    ASSERT_EQ(exec(stmt, "SELECT 1"), SQL_SUCCESS) << all_diags(stmt);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(cell(stmt), "1");
}

TEST_F(exec_fixture, QueryTimeoutClosesTheLinkWhenTheServerCannotBeReached)
{
    std::atomic<int> sessions{0};
    fake::server srv([&](fake::session &s) {
        if (sessions++ == 0) {
            command(s);
            s.sleep_ms(3000);   // the late answer must never be read
            s.send_raw(response(result_set({"a"}, {{std::string("late")}})));
        } else {
            s.close();   // the second connection is refused
        }
    });
    connect(srv);
    stmt->query_timeout = 1;
    int64_t start = now_ms();
    EXPECT_EQ(exec(stmt, "SELECT SLEEP(5)"), SQL_ERROR);
    EXPECT_LT(now_ms() - start, 2500);
    EXPECT_TRUE(has_diag(stmt, "HYT00", "Timeout expired")) << all_diags(stmt);
    EXPECT_EQ(conn->connected, 0);
    clear_diagnostics(stmt);
    start = now_ms();
    EXPECT_EQ(exec(stmt, "SELECT 1"), SQL_ERROR);
    EXPECT_LT(now_ms() - start, 500);
    EXPECT_EQ(text_of(diag_get(stmt, 1)->sqlstate), "08S01") << all_diags(stmt);
}

// SQLCancel from another thread while a statement waits for the server: the
// server is asked over a second connection to stop it, and the waiting call
// ends with the server's error, its connection in step.
TEST_F(exec_fixture, CancelFromAnotherThreadInterruptsTheStatement)
{
    std::atomic<int> sessions{0};
    std::atomic<bool> killed{false};
    std::string kill_text;
    fake::server srv([&](fake::session &s) {
        if (sessions++ == 0)
            run_until_killed(s, &killed);
        else
            answer_kill(s, &killed, &kill_text);
    });
    connect(srv);
    const unsigned char id[4] = {7, 0, 0, 0};
    memcpy(conn->connection_id, id, sizeof id);
    SQLRETURN rc = SQL_SUCCESS;
    std::thread runner([&] { rc = exec(stmt, "SELECT SLEEP(100)"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
    runner.join();
    EXPECT_EQ(kill_text, "KILL QUERY 7");
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(diag_get(stmt, 1)->native, 1317) << all_diags(stmt);
    ASSERT_EQ(exec(stmt, "SELECT 1"), SQL_SUCCESS) << all_diags(stmt);
}

// ---------------------------------------------------------- parameter rows

TEST_F(exec_fixture, DirectExecutionSendsEveryParameterRow)
{
    std::vector<std::string> seen;
    fake::server srv([&](fake::session &s) {
        seen.push_back(query_text(command(s)));
        s.send_raw(response({fake::ok_packet(1, 0, 2)}));
        seen.push_back(query_text(command(s)));
        s.send_raw(response({fake::err_packet(1062, "23000", "Duplicate entry")}));
        seen.push_back(query_text(command(s)));
        s.send_raw(response({fake::ok_packet(2, 0, 2)}));
    });
    connect(srv);
    SQLUSMALLINT status[3] = {99, 99, 99};
    SQLULEN processed = 0;
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)3, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, status, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0), SQL_SUCCESS);
    EXPECT_EQ(exec(stmt, "INSERT INTO t VALUES (1)"), SQL_SUCCESS_WITH_INFO);
    EXPECT_TRUE(has_diag(stmt, "23000", "Duplicate entry")) << all_diags(stmt);
    ASSERT_TRUE(srv.wait_done());
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(status[0], SQL_PARAM_SUCCESS);
    EXPECT_EQ(status[1], SQL_PARAM_ERROR);
    EXPECT_EQ(status[2], SQL_PARAM_SUCCESS);
    EXPECT_EQ(processed, 3u);
    SQLLEN count = 0;
    EXPECT_EQ(SQLRowCount(stmt, &count), SQL_SUCCESS);
    EXPECT_EQ(count, 3);
}

// ------------------------------------------------------ server-side prepare

TEST_F(exec_fixture, PreparedStatementExecutesResetsAndCloses)
{
    std::vector<bytes> seen;
    fake::server srv([&](fake::session &s) {
        seen.push_back(command(s));   // prepare
        bytes ok{0x00, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
        s.send_raw(response({ok}));
        seen.push_back(command(s));   // execute
        s.send_raw(response({fake::ok_packet(2, 0, 2)}));
        seen.push_back(command(s));   // reset
        s.send_raw(response({fake::ok_packet(0, 0, 2)}));
        seen.push_back(command(s));   // close: no answer
    });
    connect(srv);
    const char *sql = "UPDATE t SET a=2";
    ASSERT_EQ(SQLPrepare(stmt, (SQLCHAR *)sql, SQL_NTS), SQL_SUCCESS) << all_diags(stmt);
    EXPECT_EQ(stmt->statement_id, 42u);
    ASSERT_EQ(SQLExecute(stmt), SQL_SUCCESS) << all_diags(stmt);
    SQLLEN count = 0;
    SQLRowCount(stmt, &count);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS) << all_diags(stmt);
    SQLRowCount(stmt, &count);
    EXPECT_EQ(count, 2);   // the reset's OK counts nothing
    EXPECT_EQ(SQLFreeStmt(stmt, SQL_DROP), SQL_SUCCESS);
    stmt = nullptr;
    ASSERT_TRUE(srv.wait_done());
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_TRUE(seen[0] == bytes{0x16} + bytes(sql, sql + strlen(sql)));
    EXPECT_TRUE(seen[1] == (bytes{0x17, 0x2A, 0, 0, 0, 0x00, 0x01, 0, 0, 0}));
    EXPECT_TRUE(seen[2] == (bytes{0x1A, 0x2A, 0, 0, 0}));
    EXPECT_TRUE(seen[3] == (bytes{0x19, 0x2A, 0, 0, 0}));
}

TEST_F(exec_fixture, TextDescribeRunsUnderLimitOneAndRestoresMaxRows)
{
    std::vector<std::string> seen;
    fake::server srv([&](fake::session &s) {
        for (int i = 0; i < 3; i++) {
            std::string q = query_text(command(s));
            seen.push_back(q);
            if (q.rfind("SET", 0) == 0)
                s.send_raw(response({fake::ok_packet(0, 0, 2)}));
            else
                s.send_raw(response(result_set({"a", "b"}, {{std::string("1"), std::string("2")}})));
        }
    });
    connect(srv);
    conn->Text_Prepare = 1;
    stmt->max_rows = 5;
    const char *sql = "SELECT a, b FROM t";
    ASSERT_EQ(SQLPrepare(stmt, (SQLCHAR *)sql, SQL_NTS), SQL_SUCCESS) << all_diags(stmt);
    SQLSMALLINT n = 0;
    ASSERT_EQ(SQLNumResultCols(stmt, &n), SQL_SUCCESS) << all_diags(stmt);
    EXPECT_EQ(n, 2);
    ASSERT_TRUE(srv.wait_done());
    EXPECT_EQ(seen, (std::vector<std::string>{"SET @@sql_select_limit=1", "SELECT a, b FROM t",
                                              "SET @@sql_select_limit=5"}));
    EXPECT_EQ(conn->select_limit, 5);
    EXPECT_EQ(stmt->data_waiting, 0);
    EXPECT_EQ(conn->busy, 0);
}

// ------------------------------------------------------ results and cursors

TEST_F(exec_fixture, CursorTypeFallsBackToStatic)
{
    fake::server srv([&](fake::session &s) {
        command(s);
        s.send_raw(response(result_set({"a"}, {{std::string("1")}})));
    });
    connect(srv);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, (SQLPOINTER)SQL_CURSOR_KEYSET_DRIVEN, 0),
              SQL_SUCCESS);
    EXPECT_EQ(exec(stmt, "SELECT a FROM t"), SQL_SUCCESS_WITH_INFO);
    EXPECT_TRUE(has_diag(stmt, "01S02", "Cursor type changed"))
        << all_diags(stmt);
    SQLULEN type = 99;
    SQLGetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr);
    EXPECT_EQ(type, (SQLULEN)SQL_CURSOR_STATIC);
}

TEST_F(exec_fixture, MoreResultsSkipsUnreadRows)
{
    fake::server srv([&](fake::session &s) {
        command(s);
        s.send_raw(response(result_set({"a"}, {{std::string("1")}, {std::string("2")}}, MORE) +
                            result_set({"b"}, {{std::string("3")}}, MORE) +
                            std::vector<bytes>{fake::ok_packet(0, 0, 2)}));
    });
    connect(srv);
    ASSERT_EQ(exec(stmt, "CALL two_results()"), SQL_SUCCESS) << all_diags(stmt);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);   // row "2" is never fetched
    ASSERT_EQ(SQLMoreResults(stmt), SQL_SUCCESS) << all_diags(stmt);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(cell(stmt), "3");
    EXPECT_EQ(SQLMoreResults(stmt), SQL_SUCCESS);   // the final OK
    SQLLEN count = 99;
    SQLRowCount(stmt, &count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(SQLMoreResults(stmt), SQL_NO_DATA);
    EXPECT_EQ(diag_count(stmt), 0) << all_diags(stmt);
}

// A read that times out before taking any byte of a packet leaves the
// stream in step; one that stops inside a packet, or inside a compressed
// frame, does not.
TEST_F(exec_fixture, TimeOutInsideAPacketLosesThePlace)
{
    struct {
        const char *name;
        bool compressed;
        bytes sent;
        int broken;
    } cases[] = {
        {"nothing arrives", false, bytes(), 0},
        {"half a header", false, bytes{10, 0}, 0},
        {"a header without its payload", false, bytes{10, 0, 0, 1}, 1},
        {"no frame arrives", true, bytes(), 0},
        {"a frame cut short", true, bytes{20, 0, 0, 0, 0, 0, 0, 1, 2, 3}, 1},
    };
    for (auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        fake::server srv([&](fake::session &s) {
            s.send_raw(tc.sent);
            s.sleep_ms(1000);
        });
        env_release(env);
        env = env_create();
        conn = conn_create(env, 3);
        connect(srv);
        conn->compress_active = tc.compressed;
        conn->ConnectionTimeout = 200;
        conn->seq = 1;
        my_packet p = {};
        EXPECT_EQ(packet_read_into(conn, &p), -2);
        free(p.data);
        EXPECT_EQ(conn->hdr.timed_out, 1u);
        EXPECT_EQ(conn->link_broken, tc.broken);
    }
}

// Text lengths that no command could carry, or negative ones other than
// SQL_NTS, are refused with HY090 before a byte of the 64-byte buffer is read.
TEST(TextLengths, ImpossibleLengthsAreRefused)
{
    my_environment *env = env_create();
    env->odbc_version = SQL_OV_ODBC3;
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = stmt_create(conn);
    std::vector<char> buf(64, 'x');   // exactly 64 bytes: a read past it shows under ASan
    SQLCHAR *narrow = (SQLCHAR *)buf.data();
    SQLWCHAR *wide = (SQLWCHAR *)buf.data();
    const SQLINTEGER huge = INT32_MAX, past = (1 << 30) + 1;
    SQLCHAR out[16];
    SQLINTEGER out_len;
    const struct {
        const char *name;
        std::function<SQLRETURN()> call;
        void *handle;
    } calls[] = {
        {"SQLExecDirect", [&] { return SQLExecDirect(stmt, narrow, huge); }, stmt},
        {"SQLExecDirect, past 1 GiB", [&] { return SQLExecDirect(stmt, narrow, past); }, stmt},
        {"SQLExecDirect, negative", [&] { return SQLExecDirect(stmt, narrow, -7); }, stmt},
        {"SQLExecDirectW", [&] { return SQLExecDirectW(stmt, wide, huge); }, stmt},
        {"SQLPrepare", [&] { return SQLPrepare(stmt, narrow, huge); }, stmt},
        {"SQLPrepareW", [&] { return SQLPrepareW(stmt, wide, huge / 2); }, stmt},
        {"SQLNativeSql",
         [&] { return SQLNativeSql(conn, narrow, huge, out, sizeof out, &out_len); }, conn},
        {"SQLNativeSqlW",
         [&] { return SQLNativeSqlW(conn, wide, huge, (SQLWCHAR *)out, 8, &out_len); }, conn},
        {"SQLSetCursorName, negative", [&] { return SQLSetCursorName(stmt, narrow, -7); }, stmt},
        {"SQLTables, negative",
         [&] { return SQLTables(stmt, narrow, -7, nullptr, 0, nullptr, 0, nullptr, 0); }, stmt},
        {"SQLSetConnectAttr catalog",
         [&] { return SQLSetConnectAttr(conn, SQL_ATTR_CURRENT_CATALOG, narrow, huge); }, conn},
    };
    for (const auto &c : calls) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), SQL_ERROR);
        diag_record *r = diag_get(c.handle, 1);
        ASSERT_NE(r, nullptr);
        std::string state;
        for (uint32_t i = 0; i < r->sqlstate->length; i++)
            state += (char)r->sqlstate->data[i];
        EXPECT_EQ(state, "HY090");
    }
    env_release(env);
}
