// Handles and the entry frame: allocation, wrong parents, null and wrongly
// tagged handles, implicit descriptors, cascading release, environment
// attributes, statement numbering.
#include <gtest/gtest.h>

#include <string>

#include "frame/my_handle.h"

namespace {

std::string state_of(SQLSMALLINT type, SQLHANDLE h, int rec = 1)
{
    SQLCHAR st[6] = "";
    SQLINTEGER native = 0;
    SQLCHAR msg[512];
    SQLSMALLINT len = 0;
    if (SQLGetDiagRec(type, h, (SQLSMALLINT)rec, st, &native, msg, sizeof msg, &len) != SQL_SUCCESS)
        return "";
    return (const char *)st;
}

std::string message_of(SQLSMALLINT type, SQLHANDLE h, int rec = 1)
{
    SQLCHAR st[6];
    SQLINTEGER native;
    SQLCHAR msg[512] = "";
    SQLSMALLINT len;
    SQLGetDiagRec(type, h, (SQLSMALLINT)rec, st, &native, msg, sizeof msg, &len);
    return (const char *)msg;
}

struct frame : ::testing::Test {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    void SetUp() override
    {
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &env), SQL_SUCCESS);
        ASSERT_EQ(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0), SQL_SUCCESS);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
    }
    void TearDown() override
    {
        if (env)
            SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
};

} // namespace

TEST_F(frame, WrongParentTypes)
{
    struct {
        SQLSMALLINT type;
        SQLHANDLE *parent;
        SQLSMALLINT parent_type;
    } cases[] = {
        {SQL_HANDLE_STMT, &env, SQL_HANDLE_ENV},
        {SQL_HANDLE_DESC, &env, SQL_HANDLE_ENV},
        {SQL_HANDLE_DBC, &dbc, SQL_HANDLE_DBC},
    };
    for (auto &c : cases) {
        SQLHANDLE out = nullptr;
        EXPECT_EQ(SQLAllocHandle(c.type, *c.parent, &out), SQL_ERROR);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(state_of(c.parent_type, *c.parent), "HY000");
        EXPECT_EQ(message_of(c.parent_type, *c.parent),
                  "[Quorvane][MySQL Driver][MySQL]General error: "
                  "Invalid input handle passed to SQLAllocHandle");
        clear_diagnostics(*c.parent);
    }
}

TEST_F(frame, NullOutputAndUnknownType)
{
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, nullptr), SQL_ERROR);
    EXPECT_EQ(state_of(SQL_HANDLE_DBC, dbc), "HY009");
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, nullptr), SQL_ERROR);
    SQLHANDLE out = nullptr;
    clear_diagnostics(dbc);
    EXPECT_EQ(SQLAllocHandle(99, dbc, &out), SQL_ERROR);
    EXPECT_EQ(diag_count(dbc), 0);   // no record for an unknown type
}

TEST_F(frame, NullAndWronglyTaggedHandles)
{
    SQLHSTMT stmt;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    uint32_t junk[16] = {0xDEADBEEF};
    struct {
        SQLRETURN rc;
    } cases[] = {
        {SQLFreeHandle(SQL_HANDLE_STMT, nullptr)},
        {SQLFreeHandle(SQL_HANDLE_STMT, junk)},
        {SQLFreeHandle(SQL_HANDLE_ENV, dbc)},   // a connection is not an environment
        {SQLFreeHandle(SQL_HANDLE_DBC, stmt)},
        {SQLSetEnvAttr(nullptr, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)3, 0)},
        {SQLSetEnvAttr(dbc, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)3, 0)},
        {SQLGetEnvAttr(junk, SQL_ATTR_ODBC_VERSION, nullptr, 0, nullptr)},
        {SQLGetDiagRec(SQL_HANDLE_STMT, junk, 1, nullptr, nullptr, nullptr, 0, nullptr)},
    };
    for (auto &c : cases)
        EXPECT_EQ(c.rc, SQL_INVALID_HANDLE);
    EXPECT_EQ(diag_count(dbc), 0);
    EXPECT_EQ(diag_count(stmt), 0);
}

TEST_F(frame, ImplicitDescriptorCannotBeFreed)
{
    SQLHSTMT stmt;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    my_statement *s = as_stmt(stmt);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, s->implicit_ard), SQL_ERROR);
    EXPECT_EQ(state_of(SQL_HANDLE_DESC, s->implicit_ard), "HY017");
    EXPECT_EQ(message_of(SQL_HANDLE_DESC, s->implicit_ard),
              "[Quorvane][MySQL Driver][MySQL]Invalid use of an automatically allocated "
              "descriptor handle");
    EXPECT_EQ(as_desc(s->implicit_ard), s->implicit_ard);   // still usable
    EXPECT_EQ(s->ard, s->implicit_ard);
}

TEST_F(frame, FreeingExplicitArdRestoresImplicit)
{
    SQLHSTMT stmt;
    SQLHDESC desc;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    my_statement *s = as_stmt(stmt);
    my_descriptor *d = as_desc(desc);
    EXPECT_EQ(d->alloc_implicit, 0);
    EXPECT_EQ(d->app_desc, 1);
    s->ard = d;
    d->owner_statement = s;
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, desc), SQL_SUCCESS);
    EXPECT_EQ(s->ard, s->implicit_ard);
}

// Freeing the environment releases everything below it; the sanitizer run
// turns any leak here into a failure.
TEST(frame_release, EnvironmentReleasesChildren)
{
    SQLHENV env;
    ASSERT_EQ(SQLAllocEnv(&env), SQL_SUCCESS);
    for (int i = 0; i < 3; i++) {
        SQLHDBC dbc;
        ASSERT_EQ(SQLAllocConnect(env, &dbc), SQL_SUCCESS);
        for (int k = 0; k < 3; k++) {
            SQLHSTMT stmt;
            SQLHDESC desc;
            ASSERT_EQ(SQLAllocStmt(dbc, &stmt), SQL_SUCCESS);
            ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
            post_error(stmt, ST_01004, 0, nullptr);
        }
        post_error(dbc, ST_HY000, 0, "x");
    }
    EXPECT_EQ(list_count(as_env(env)->connections), 3);
    EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}

TEST_F(frame, EnvironmentAttributes)
{
    SQLINTEGER v = 0;
    EXPECT_EQ(SQLGetEnvAttr(env, SQL_ATTR_OUTPUT_NTS, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(v, SQL_TRUE);
    EXPECT_EQ(SQLSetEnvAttr(env, SQL_ATTR_OUTPUT_NTS, (SQLPOINTER)SQL_TRUE, 0), SQL_ERROR);
    EXPECT_EQ(state_of(SQL_HANDLE_ENV, env), "HYC00");
    EXPECT_EQ(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)380, 0), SQL_SUCCESS);
    EXPECT_EQ(SQLGetEnvAttr(env, SQL_ATTR_ODBC_VERSION, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(v, 380);
    EXPECT_EQ(SQLGetEnvAttr(env, SQL_ATTR_ODBC_VERSION, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(SQLGetEnvAttr(env, 1065, &v, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(SQLGetEnvAttr(env, 12345, &v, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(SQLSetEnvAttr(env, 12345, nullptr, 0), SQL_ERROR);
}

TEST_F(frame, BehaviourFollowsVersionAndAllocator)
{
    EXPECT_EQ(as_conn(dbc)->odbc_behaviour, 3);
    SQLHDBC two;
    ASSERT_EQ(SQLAllocConnect(env, &two), SQL_SUCCESS);
    EXPECT_EQ(as_conn(two)->odbc_behaviour, 2);
    SQLHENV env2;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &env2), SQL_SUCCESS);   // stays ODBC 2
    SQLHDBC c2;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env2, &c2), SQL_SUCCESS);
    EXPECT_EQ(as_conn(c2)->odbc_behaviour, 2);
    SQLFreeHandle(SQL_HANDLE_ENV, env2);
}

TEST_F(frame, StatementNumbersCountUp)
{
    for (int i = 0; i < 3; i++) {
        SQLHSTMT stmt;
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
        EXPECT_EQ(as_stmt(stmt)->statement_number, i);
    }
}

TEST_F(frame, StatementCopiesConnectionDefaults)
{
    my_connection *c = as_conn(dbc);
    c->stmt_defaults.max_rows = 7;
    c->stmt_defaults.bind_type = 64;
    c->hdr.log_flags = 0;
    SQLHSTMT stmt;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    my_statement *s = as_stmt(stmt);
    EXPECT_EQ(s->max_rows, 7);
    EXPECT_EQ(s->ard->bind_type, 64);
    EXPECT_EQ(s->ard->array_size, 1u);
    EXPECT_EQ(s->ard->bookmark_record.concise_type, SQL_VARBINARY);
    EXPECT_EQ(s->concurrency, SQL_CONCUR_READ_ONLY);
}
