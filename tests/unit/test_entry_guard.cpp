// No C++ exception crosses the C boundary: whatever escapes an entry point's
// body becomes a diagnostic on its handle (std::bad_alloc HY001, anything
// else HY000), the handle's locks are released and the handle stays usable.
// Allocations are made to fail one after another inside a catalog function
// and inside a fetch, through the exported entry points, against the fake
// server.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "unit/fake_session.h"

// ------------------------------------------------ failing allocations

namespace {

// Armed by a test on its own thread: the countdown-th operator new of that
// thread throws std::bad_alloc (the fake server's thread is never touched).
thread_local long fail_countdown = 0;
thread_local long failures_thrown = 0;

using new_fn = void *(*)(size_t);

// The operator new this one stands in front of (the sanitizer runtime's or
// the C++ library's), so that allocation itself is left to it.
void *next_new(size_t n, const char *symbol)
{
    new_fn next = (new_fn)dlsym(RTLD_NEXT, symbol);
    void *p = next ? next(n) : malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void *counted_new(size_t n, const char *symbol)
{
    if (fail_countdown > 0 && --fail_countdown == 0) {
        failures_thrown++;
        throw std::bad_alloc();
    }
    return next_new(n, symbol);
}

} // namespace

void *operator new(size_t n) { return counted_new(n, "_Znwm"); }
void *operator new[](size_t n) { return counted_new(n, "_Znam"); }

namespace {

using fake::bytes;
using namespace fake_session;

std::string first_text(const void *h)
{
    diag_record *d = diag_get(h, 1);
    return d ? text_of(d->message) : "";
}

struct guard_fixture : fixture {
    void SetUp() override
    {
        env = env_create();
        conn = conn_create(env, 3);
    }
    void TearDown() override
    {
        fail_countdown = 0;
        fixture::TearDown();
    }
};

// A body that throws, in the shape every entry point has.
SQLRETURN throwing_entry(SQLHSTMT h, int kind)
try {
    QV_STMT_ENTRY(h, s, "throwing_entry", "throwing_entry: statement_handle=%p", h);
    if (kind == 0)
        throw std::bad_alloc();
    if (kind == 1)
        throw std::runtime_error("broken invariant");
    throw 42;
}
QV_CATCH(h)

SQLRETURN throwing_without_handle()
try {
    throw std::bad_alloc();
}
QV_CATCH(nullptr)

} // namespace

TEST_F(guard_fixture, WhatEscapesABodyBecomesADiagnosticAndTheLockIsReleased)
{
    stmt = stmt_create(conn);
    ASSERT_NE(stmt, nullptr);
    const struct {
        int kind;
        const char *state, *text;
    } cases[] = {
        {0, "HY001", "[Quorvane][MySQL Driver][MySQL]Memory allocation error"},
        {1, "HY000", "[Quorvane][MySQL Driver][MySQL]General error: internal error in throwing_entry"},
        {2, "HY000", "[Quorvane][MySQL Driver][MySQL]General error: internal error in throwing_entry"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        SQLRETURN rc = SQL_SUCCESS;
        EXPECT_NO_THROW(rc = throwing_entry(stmt, c.kind));
        EXPECT_EQ(rc, SQL_ERROR);
        EXPECT_EQ(diag_count(stmt), 1);
        EXPECT_EQ(first_state(stmt), c.state);
        EXPECT_EQ(first_text(stmt), c.text);
        // the entry lock went with the frame: another thread gets it at once
        bool free_again = false;
        std::thread([&] {
            free_again = stmt->entry_lock.try_lock();
            if (free_again)
                stmt->entry_lock.unlock();
        }).join();
        EXPECT_TRUE(free_again);
    }
    // a null handle has nowhere to post
    SQLRETURN rc = SQL_SUCCESS;
    EXPECT_NO_THROW(rc = throwing_without_handle());
    EXPECT_EQ(rc, SQL_ERROR);
}

// Every allocation SQLTables makes while it lists the catalogs fails in turn:
// each failure is HY001 on the statement, never an exception in the caller,
// and the next call on the same statement runs normally. (The sanitizer tree
// also shows that no failure leaks.)
TEST_F(guard_fixture, AllocationFailuresInsideACatalogFunction)
{
    const std::vector<std::string> names = {"a_database_with_a_long_name", "another_long_database_name",
                                            "the_third_database_of_the_list"};
    fake::server srv(serve([&](const std::string &q) {
        if (q == "SHOW DATABASES LIKE '%'")
            return response(one_column("Database", names, fake::eof_packet(0, 2)));
        return response({fake::ok_packet()});
    }));
    connect(srv);
    long n = 1, failed = 0;
    for (;; n++) {
        ASSERT_LT(n, 10000) << "the calls never stopped failing";
        SQLRETURN rc = SQL_SUCCESS;
        fail_countdown = n;
        EXPECT_NO_THROW(rc = SQLTables(stmt, (SQLCHAR *)"%", 1, (SQLCHAR *)"", 0, (SQLCHAR *)"", 0,
                                       nullptr, 0));
        bool reached = fail_countdown == 0;
        fail_countdown = 0;
        if (!reached) {
            EXPECT_EQ(rc, SQL_SUCCESS) << first_text(stmt);
            break;
        }
        failed++;
        if (rc == SQL_ERROR) {
            EXPECT_EQ(first_state(stmt), "HY001") << "allocation " << n << ": " << first_text(stmt);
        } else {
            // the allocation that failed had a way around it
            EXPECT_TRUE(SQL_SUCCEEDED(rc)) << "allocation " << n;
        }
    }
    EXPECT_GT(failed, 3);
    EXPECT_GT(failures_thrown, 0);
    // after all that, the statement lists the catalogs
    std::vector<std::string> got;
    char buf[64];
    SQLLEN ind;
    while (SQLFetch(stmt) == SQL_SUCCESS) {
        ASSERT_EQ(SQLGetData(stmt, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
        got.push_back(buf);
    }
    EXPECT_EQ(got, names);
    EXPECT_EQ(conn->connected, 1);
}

// An allocation fails while a fetch decodes the error the server sent in
// place of a row (its text is copied through a std::string): the fetch is
// HY001, the result has ended, and the statement and its connection go on.
TEST_F(guard_fixture, AllocationFailureInsideAFetch)
{
    for (int nocache = 0; nocache <= 1; nocache++) {
        SCOPED_TRACE(nocache ? "NoCache" : "cached");
        fake::server srv(serve([&](const std::string &q) {
            if (q == "SELECT a FROM t")
                return response(one_column(
                    "a", {"first"}, fake::err_packet(1317, "70100", "Query execution was interrupted")));
            return response(one_column("a", {"after"}, fake::eof_packet(0, 2)));
        }));
        connect(srv, nocache);
        ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR *)"SELECT a FROM t", SQL_NTS), SQL_SUCCESS);
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);

        SQLRETURN rc = SQL_SUCCESS;
        long thrown_before = failures_thrown;
        fail_countdown = 1;
        EXPECT_NO_THROW(rc = SQLFetch(stmt));
        fail_countdown = 0;
        EXPECT_EQ(failures_thrown, thrown_before + 1);
        EXPECT_EQ(rc, SQL_ERROR);
        EXPECT_EQ(first_state(stmt), "HY001") << first_text(stmt);
        // the error ended the result
        EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);

        // the statement runs its next query, and another statement may too
        ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR *)"SELECT a FROM u", SQL_NTS), SQL_SUCCESS)
            << first_text(stmt);
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
        char buf[16];
        SQLLEN ind;
        ASSERT_EQ(SQLGetData(stmt, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
        EXPECT_STREQ(buf, "after");
        EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
        EXPECT_EQ(conn->connected, 1);
    }
}
