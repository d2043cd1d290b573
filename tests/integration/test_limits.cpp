// Limits that hold against a stalled link: a loopback proxy between the
// driver and the test server stops forwarding, before the answer to a query
// or after its first bytes, and holds (or lets through) the side connection
// that interrupts the statement. Every call must end with HYT00 close to the
// bound the application set, whichever wait it was in.
#include <gtest/gtest.h>

#include <sqlext.h>
#include <time.h>

#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "support/qv_proxy.h"
#include "support/qv_support.h"

namespace {

int64_t now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

struct stall_case {
    const char *name;
    const char *extra;       // connection-string keywords
    SQLULEN query_timeout;   // seconds; 0: none
    int64_t bound_ms;        // the bound that applies
    int64_t answer_bytes;    // bytes of the answer let through before the stall
    bool side_passes;        // the interrupting connection reaches the server
    bool at_fetch;           // the stall hits SQLFetch (the execution got its columns)
    int drip_ms;             // after the stall one byte passes every drip_ms
};

// A query whose answer is far longer than what is let through.
const char *const BIG_ANSWER = "SELECT REPEAT('x', 300000) AS big";

struct outcome {
    std::string setup_error;
    SQLRETURN rc = 0;
    std::string state;
    std::string diags;
    int64_t took_ms = -1;
};

outcome run_case(const stall_case &t)
{
    outcome o;
    const qv::server_info &srv = qv::server();
    qv::stall_proxy proxy(srv.host, srv.port);
    qv::connection c;
    std::string cs = "DRIVER={" + srv.driver_name + "};SERVER=127.0.0.1;PORT=" +
                     std::to_string(proxy.port()) + ";UID=" + srv.user + ";PWD=" + srv.password +
                     ";DATABASE=" + srv.database + ";" + t.extra;
    // The cases log on one at a time: the driver manager's loading of the
    // driver by ten environments at once has been seen to fail with
    // "Can't open lib", which is not what this test is about.
    static std::mutex logon_lock;
    SQLRETURN rc;
    {
        std::lock_guard<std::mutex> g(logon_lock);
        rc = c.connect(cs);
    }
    if (!SQL_SUCCEEDED(rc)) {
        o.setup_error = "connect: " + qv::describe(qv::diagnostics(c.dbc));
        return o;
    }
    qv::handle stmt = qv::alloc_stmt(c.dbc);
    if (t.query_timeout)
        SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, (SQLPOINTER)t.query_timeout, 0);
    proxy.stall(t.answer_bytes, t.side_passes, t.drip_ms);
    int64_t start = now_ms();
    rc = SQLExecDirect(stmt, (SQLCHAR *)BIG_ANSWER, SQL_NTS);
    if (t.at_fetch) {
        if (!SQL_SUCCEEDED(rc)) {
            o.setup_error = std::string("execute: ") + qv::return_name(rc) + " " +
                            qv::describe(qv::diagnostics(stmt));
            return o;
        }
        start = now_ms();
        rc = SQLFetch(stmt);
    }
    o.took_ms = now_ms() - start;
    o.rc = rc;
    o.state = qv::first_state(stmt);
    o.diags = qv::describe(qv::diagnostics(stmt));
    return o;
}

} // namespace

// ConnectionTimeout=3000 and a query time-out of 2 s, a stall before the
// first byte of the answer and after its first bytes (in the execution, and
// in SQLFetch when the rows are read from the wire), with the side
// connection let through or held too, and an answer that comes a byte at a
// time (each wait short, the whole far too long). The cases wait in
// parallel.
TEST(Limits, EveryCallEndsCloseToItsBoundWhenTheLinkStalls)
{
    const char *CT = "ConnectionTimeout=3000;";
    const char *CT_NOCACHE = "ConnectionTimeout=3000;NoCache=1;";
    const stall_case cases[] = {
        {"ConnectionTimeout, before the answer, side passes", CT, 0, 3000, 0, true, false, 0},
        {"ConnectionTimeout, before the answer, side held", CT, 0, 3000, 0, false, false, 0},
        {"ConnectionTimeout, inside the answer, side held", CT, 0, 3000, 200, false, false, 0},
        {"ConnectionTimeout, inside the rows, side passes", CT_NOCACHE, 0, 3000, 400, true, true,
         0},
        {"ConnectionTimeout, a byte at a time", CT, 0, 3000, 200, true, false, 300},
        {"query time-out, before the answer, side passes", "", 2, 2000, 0, true, false, 0},
        {"query time-out, before the answer, side held", "", 2, 2000, 0, false, false, 0},
        {"query time-out, inside the answer, side passes", "", 2, 2000, 200, true, false, 0},
        {"query time-out, inside the rows, side held", "NoCache=1;", 2, 2000, 400, false, true,
         0},
        {"query time-out, rows a byte at a time", "NoCache=1;", 2, 2000, 400, false, true, 300},
    };
    const size_t n = sizeof cases / sizeof cases[0];
    std::vector<outcome> results(n);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < n; i++)
        threads.emplace_back([&, i] { results[i] = run_case(cases[i]); });
    for (std::thread &th : threads)
        th.join();

    for (size_t i = 0; i < n; i++) {
        const stall_case &t = cases[i];
        const outcome &o = results[i];
        SCOPED_TRACE(t.name);
        ASSERT_EQ(o.setup_error, "");
        EXPECT_EQ(o.rc, SQL_ERROR);
        EXPECT_EQ(o.state, "HYT00") << o.diags;
        // never early; within 1.2 times the bound, with a little room for a
        // loaded machine to schedule the thread
        EXPECT_GE(o.took_ms, t.bound_ms - 20);
        EXPECT_LE(o.took_ms, t.bound_ms * 12 / 10 + 300);
    }
}
