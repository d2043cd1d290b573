// What unit tests against the fake server share: a connection in session
// with it (as after a logon), the queries it receives, the packets of a
// response, and the diagnostics of a handle as text.
#ifndef QV_TEST_FAKE_SESSION_H
#define QV_TEST_FAKE_SESSION_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_proto.h"
#include "support/unit_support.h"

namespace fake_session {

using fake::bytes;

using unit_support::all_diags;
using unit_support::first_state;
using unit_support::text_of;

// Packets of one response, numbered from first on, in one write.
inline bytes response(const std::vector<bytes> &packets, uint8_t first = 1)
{
    bytes all;
    for (const bytes &p : packets) {
        bytes one = fake::packet_bytes(first++, p);
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}

// A one-column result: count, definition, EOF, the rows, then end (when
// given: an EOF, or an error in place of the next row).
inline std::vector<bytes> one_column(const std::string &name, const std::vector<std::string> &rows,
                                     const bytes &end = bytes())
{
    fake::column_info c;
    c.name = name;
    std::vector<bytes> r{bytes{1}, fake::column_def(c), fake::eof_packet(0, 2)};
    for (const std::string &v : rows)
        r.push_back(fake::text_row({v}));
    if (!end.empty())
        r.push_back(end);
    return r;
}

// The text of a COM_QUERY; "" for any other command.
using fake::query_text;

// The text of the next query the client sends; "" on any other command or
// when none comes within timeout_ms.
inline std::string next_query(fake::session &s, int timeout_ms = 3000)
{
    uint8_t seq;
    bytes cmd;
    return s.read_packet(&seq, &cmd, timeout_ms) ? query_text(cmd) : "";
}

// A script answering every query with answer(query) until the client goes
// away; commands without an answer (COM_STMT_CLOSE) are passed over.
inline fake::server::script serve(std::function<bytes(const std::string &)> answer)
{
    return [answer](fake::session &s) {
        for (;;) {
            uint8_t seq;
            bytes cmd;
            if (!s.read_packet(&seq, &cmd, 3000))
                return;
            if (!cmd.empty() && cmd[0] == 0x03)
                s.send_raw(answer(query_text(cmd)));
        }
    };
}

// A fresh environment and connection in session with srv, and a statement.
struct fixture : ::testing::Test {
    my_environment *env = nullptr;
    my_connection *conn = nullptr;
    my_statement *stmt = nullptr;

    void TearDown() override { env_release(env); }

    void connect(const fake::server &srv, int nocache = 0)
    {
        env_release(env);
        env = env_create();
        conn = conn_create(env, 3);
        ASSERT_TRUE(srv.ok());
        my_string *host = ms_from_latin1("127.0.0.1");
        ASSERT_EQ(net_open(conn, host, srv.port()), 0);
        ms_free(host);
        conn->server_caps = conn->client_caps = CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS |
                                                CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS;
        conn->charset = 33;
        conn->connected = 1;
        conn->NoCache = nocache;
        stmt = stmt_create(conn);
        ASSERT_NE(stmt, nullptr);
    }

    SQLRETURN exec(my_statement *s, const char *sql)
    {
        return SQLExecDirect(s, (SQLCHAR *)sql, SQL_NTS);
    }
};

} // namespace fake_session

#endif
