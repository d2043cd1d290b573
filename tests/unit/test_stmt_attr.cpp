// Statement attributes: plain and descriptor-held values, the tied cursor
// attributes, descriptor association, ODBC 2 options and the refusals.
#include <gtest/gtest.h>

#include <string>

#include "frame/my_handle.h"

namespace {

struct attrs : ::testing::Test {
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT stmt;
    void SetUp() override
    {
        SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    }
    void TearDown() override { SQLFreeHandle(SQL_HANDLE_ENV, env); }

    SQLULEN get(SQLINTEGER attr)
    {
        SQLULEN v = 0xAAAAAAAAAAAAAAAAull;
        SQLINTEGER len = 0;
        EXPECT_EQ(SQLGetStmtAttr(stmt, attr, &v, 0, &len), SQL_SUCCESS) << attr;
        if (len == 4)
            v &= 0xFFFFFFFFu;
        return v;
    }
    std::string states()
    {
        std::string out;
        SQLCHAR st[6];
        for (SQLSMALLINT i = 1;
             SQLGetDiagRec(SQL_HANDLE_STMT, stmt, i, st, nullptr, nullptr, 0, nullptr) == SQL_SUCCESS;
             i++)
            out += std::string(out.empty() ? "" : ",") + (const char *)st;
        return out;
    }
};

} // namespace

TEST_F(attrs, PlainAndDescriptorHeldValuesReadBack)
{
    SQLULEN offset = 0;
    SQLUSMALLINT status[4];
    struct {
        SQLINTEGER attr;
        SQLULEN value;
        SQLULEN want;
    } cases[] = {
        {SQL_ATTR_QUERY_TIMEOUT, 5, 5},
        {SQL_ATTR_MAX_LENGTH, 1000, 1000},
        {SQL_ATTR_NOSCAN, 1, 1},
        {SQL_ATTR_ROW_ARRAY_SIZE, 0, 1},   // below 1 becomes 1
        {SQL_ATTR_ROW_ARRAY_SIZE, 50, 50},
        {SQL_ROWSET_SIZE, 0, 1},
        {SQL_ATTR_ROW_BIND_TYPE, 64, 64},
        {SQL_ATTR_ROW_BIND_OFFSET_PTR, (SQLULEN)&offset, (SQLULEN)&offset},
        {SQL_ATTR_ROW_STATUS_PTR, (SQLULEN)status, (SQLULEN)status},
        {SQL_ATTR_PARAMSET_SIZE, 3, 3},
        {SQL_ATTR_PARAM_BIND_TYPE, 16, 16},
        {SQL_ATTR_METADATA_ID, 1, 1},
        {SQL_ATTR_MAX_ROWS, 10, 10},
    };
    for (auto &c : cases) {
        EXPECT_EQ(SQLSetStmtAttr(stmt, c.attr, (SQLPOINTER)c.value, 0), SQL_SUCCESS) << c.attr;
        EXPECT_EQ(get(c.attr), c.want) << c.attr;
    }
    my_statement *s = as_stmt(stmt);
    EXPECT_EQ(s->ard->bind_type, 64);
    EXPECT_EQ(s->apd->array_size, 3u);
    EXPECT_EQ(s->ird->array_status_ptr, (void *)status);
    // The limit is sent at once; unconnected, the SET cannot go out, so no
    // limit counts as in force and the next execution sends it again.
    EXPECT_EQ(as_conn(dbc)->select_limit, -1);
}

TEST_F(attrs, ThirtyTwoBitAttributesDoNotOverrun)
{
    struct {
        SQLUINTEGER v;
        SQLUINTEGER guard;
    } buf = {0, 0xCAFEBABE};
    SQLINTEGER len = 0;
    EXPECT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_CURSOR_SENSITIVITY, &buf.v, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(buf.v, (SQLUINTEGER)SQL_INSENSITIVE);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(buf.guard, 0xCAFEBABE);
}

TEST_F(attrs, CursorRules)
{
    SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY, (SQLPOINTER)SQL_CONCUR_LOCK, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, (SQLPOINTER)SQL_CURSOR_STATIC, 0);
    EXPECT_EQ(get(SQL_ATTR_CURSOR_SENSITIVITY), (SQLULEN)SQL_SENSITIVE);
    EXPECT_EQ(get(SQL_ATTR_CURSOR_SCROLLABLE), (SQLULEN)SQL_SCROLLABLE);

    SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_SENSITIVITY, (SQLPOINTER)SQL_INSENSITIVE, 0);
    EXPECT_EQ(get(SQL_ATTR_CURSOR_TYPE), (SQLULEN)SQL_CURSOR_STATIC);
    EXPECT_EQ(get(SQL_ATTR_CONCURRENCY), (SQLULEN)SQL_CONCUR_READ_ONLY);

    SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_SENSITIVITY, (SQLPOINTER)SQL_SENSITIVE, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_SCROLLABLE, (SQLPOINTER)SQL_SCROLLABLE, 0);
    EXPECT_EQ(get(SQL_ATTR_CURSOR_TYPE), (SQLULEN)SQL_CURSOR_DYNAMIC);
    SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_SCROLLABLE, (SQLPOINTER)SQL_NONSCROLLABLE, 0);
    EXPECT_EQ(get(SQL_ATTR_CURSOR_TYPE), (SQLULEN)SQL_CURSOR_FORWARD_ONLY);

    SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, (SQLPOINTER)SQL_CURSOR_FORWARD_ONLY, 0);
    EXPECT_EQ(get(SQL_ATTR_CURSOR_SCROLLABLE), (SQLULEN)SQL_NONSCROLLABLE);
}

TEST_F(attrs, DescriptorAssociation)
{
    my_statement *s = as_stmt(stmt);
    EXPECT_EQ(get(SQL_ATTR_APP_ROW_DESC), (SQLULEN)s->implicit_ard);
    SQLHDESC desc;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, desc, 0), SQL_SUCCESS);
    EXPECT_EQ(get(SQL_ATTR_APP_ROW_DESC), (SQLULEN)desc);
    EXPECT_EQ(as_desc(desc)->owner_statement, s);
    // descriptor-held attributes now follow the explicit descriptor
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)7, 0);
    EXPECT_EQ(as_desc(desc)->array_size, 7u);
    // back to the implicit one with a null handle
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(s->ard, s->implicit_ard);
    EXPECT_EQ(as_desc(desc)->owner_statement, nullptr);
}

TEST_F(attrs, Refusals)
{
    SQLHSTMT other;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &other);
    SQLHDBC dbc2;
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc2);
    SQLHDESC foreign;
    SQLAllocHandle(SQL_HANDLE_DESC, dbc2, &foreign);
    my_statement *o = as_stmt(other);
    SQLULEN v;
    const struct {
        int kind;
        SQLINTEGER attr;
        SQLPOINTER value;
        const char *states;
    } one[] = {
        {0, 9999, nullptr, "HY092"},
        {0, SQL_GET_BOOKMARK, nullptr, "HY092"},
        {0, SQL_ATTR_IMP_PARAM_DESC, nullptr, "HY017"},
        {0, SQL_ATTR_IMP_ROW_DESC, nullptr, "HY017"},
        {0, SQL_ATTR_APP_ROW_DESC, o->implicit_ard, "HY017"},
        {0, SQL_ATTR_APP_PARAM_DESC, foreign, "HY024"},
        {1, 13, nullptr, "HY092,HY000"},
        {2, 15, nullptr, "S1092"},
        {3, 15, nullptr, "S1092"},
        {3, SQL_GET_BOOKMARK, nullptr, "HY011"},
    };
    for (auto &c : one) {
        SQLRETURN rc = SQL_SUCCESS;
        switch (c.kind) {
        case 0: rc = SQLSetStmtAttr(stmt, c.attr, c.value, 0); break;
        case 1: rc = SQLGetStmtAttr(stmt, c.attr, &v, 0, nullptr); break;
        case 2: rc = SQLSetStmtOption(stmt, (SQLUSMALLINT)c.attr, 0); break;
        case 3: rc = SQLGetStmtOption(stmt, (SQLUSMALLINT)c.attr, &v); break;
        }
        EXPECT_EQ(rc, SQL_ERROR) << c.kind << " " << c.attr;
        EXPECT_EQ(states(), c.states) << c.kind << " " << c.attr;
    }
}

TEST_F(attrs, Odbc2Options)
{
    EXPECT_EQ(SQLSetStmtOption(stmt, SQL_BIND_TYPE, 40), SQL_SUCCESS);
    EXPECT_EQ(get(SQL_ATTR_ROW_BIND_TYPE), 40u);
    EXPECT_EQ(SQLSetStmtOption(stmt, SQL_ROWSET_SIZE, 0), SQL_SUCCESS);
    SQLULEN v = 0;
    EXPECT_EQ(SQLGetStmtOption(stmt, SQL_ROWSET_SIZE, &v), SQL_SUCCESS);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(SQLSetStmtOption(stmt, SQL_ROW_NUMBER, 3), SQL_SUCCESS);
    EXPECT_EQ(SQLGetStmtOption(stmt, SQL_ROW_NUMBER, &v), SQL_SUCCESS);
    EXPECT_EQ(v, 0u);
}
