// Statement attributes as an application sees them through unixODBC: every
// settable attribute read back, the tied cursor attributes, explicit
// descriptors (whose handles the driver manager wraps), the ODBC 2 options
// (which the driver manager may map), the refusals, and the attributes that
// act on the server (maximum rows, the cursor downgrade).
#include <gtest/gtest.h>

#include <sqlext.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

struct StmtAttr : ::testing::Test {
    qv::connection c;
    qv::handle stmt;

    void SetUp() override
    {
        SQLRETURN rc = c.connect(qv::conn_str());
        QV_ASSERT_SUCCEEDED(rc, c.dbc);
        stmt = qv::alloc_stmt(c.dbc);
        ASSERT_TRUE(stmt);
    }
    void TearDown() override { stmt.reset(); }

    // The attribute's value; fails the test when the call does.  A 32-bit
    // attribute must leave the rest of the 64-bit buffer alone.
    SQLULEN get(SQLINTEGER attr, bool narrow = false, bool wide = false)
    {
        SQLULEN v = 0xAAAAAAAAAAAAAAAAull;
        SQLRETURN rc = wide ? SQLGetStmtAttrW(stmt, attr, &v, sizeof v, nullptr)
                            : SQLGetStmtAttr(stmt, attr, &v, sizeof v, nullptr);
        EXPECT_EQ(rc, SQL_SUCCESS) << "attribute " << attr << "\n"
                                   << qv::describe(qv::diagnostics(stmt));
        if (narrow) {
            EXPECT_EQ(v >> 32, 0xAAAAAAAAu) << "attribute " << attr << " wrote 8 bytes";
            v &= 0xFFFFFFFFu;
        }
        return v;
    }
    SQLRETURN set(SQLINTEGER attr, SQLULEN value, bool wide = false)
    {
        return wide ? SQLSetStmtAttrW(stmt, attr, (SQLPOINTER)value, 0)
                    : SQLSetStmtAttr(stmt, attr, (SQLPOINTER)value, 0);
    }
    std::string states(const qv::handle &h)
    {
        std::string out;
        for (const qv::diag_record &r : qv::diagnostics(h))
            out += (out.empty() ? "" : ",") + r.sqlstate;
        return out;
    }
    std::string states() { return states(stmt); }
    SQLRETURN exec(const char *sql) { return SQLExecDirect(stmt, (SQLCHAR *)sql, SQL_NTS); }
};

TEST_F(StmtAttr, EverySettableAttributeReadsBack)
{
    SQLULEN offset = 0, processed = 0, fetched = 0;
    SQLUSMALLINT row_status[4], row_ops[4], param_status[4], param_ops[4];
    SQLLEN bookmark = 0;
    const struct {
        SQLINTEGER attr;
        SQLULEN value, want;
        bool narrow;   // SQLUINTEGER in ODBC: 4 bytes written
    } cases[] = {
        {SQL_ATTR_QUERY_TIMEOUT, 7, 7, false},
        {SQL_ATTR_MAX_LENGTH, 1000, 1000, false},
        {SQL_ATTR_MAX_LENGTH, 0x100000000ull, 0x100000000ull, false},
        {SQL_ATTR_NOSCAN, SQL_NOSCAN_ON, SQL_NOSCAN_ON, false},
        {SQL_ATTR_KEYSET_SIZE, 0x100000005ull, 0x100000005ull, false},
        {SQL_ATTR_SIMULATE_CURSOR, SQL_SC_UNIQUE, SQL_SC_UNIQUE, false},
        {SQL_ATTR_RETRIEVE_DATA, SQL_RD_OFF, SQL_RD_OFF, false},
        {SQL_ATTR_RETRIEVE_DATA, SQL_RD_ON, SQL_RD_ON, false},
        {SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE, SQL_UB_VARIABLE, false},
        {SQL_ATTR_USE_BOOKMARKS, SQL_UB_OFF, SQL_UB_OFF, false},
        {SQL_ATTR_ENABLE_AUTO_IPD, SQL_TRUE, SQL_TRUE, true},
        {SQL_ATTR_METADATA_ID, SQL_TRUE, SQL_TRUE, true},
        {SQL_ATTR_FETCH_BOOKMARK_PTR, (SQLULEN)&bookmark, (SQLULEN)&bookmark, false},
        {SQL_ATTR_MAX_ROWS, 10, 10, false},
        {SQL_ATTR_MAX_ROWS, 0, 0, false},
        {SQL_ATTR_ROW_ARRAY_SIZE, 0, 1, false},   // below 1 becomes 1
        {SQL_ATTR_ROW_ARRAY_SIZE, 4, 4, false},
        {SQL_ROWSET_SIZE, 3, 3, false},
        {SQL_ATTR_ROW_BIND_TYPE, 64, 64, false},
        {SQL_ATTR_ROW_BIND_OFFSET_PTR, (SQLULEN)&offset, (SQLULEN)&offset, false},
        {SQL_ATTR_ROW_OPERATION_PTR, (SQLULEN)row_ops, (SQLULEN)row_ops, false},
        {SQL_ATTR_ROW_STATUS_PTR, (SQLULEN)row_status, (SQLULEN)row_status, false},
        {SQL_ATTR_ROWS_FETCHED_PTR, (SQLULEN)&fetched, (SQLULEN)&fetched, false},
        {SQL_ATTR_PARAM_BIND_OFFSET_PTR, (SQLULEN)&offset, (SQLULEN)&offset, false},
        {SQL_ATTR_PARAM_BIND_TYPE, 24, 24, false},
        {SQL_ATTR_PARAM_OPERATION_PTR, (SQLULEN)param_ops, (SQLULEN)param_ops, false},
        {SQL_ATTR_PARAMSET_SIZE, 4, 4, false},
        {SQL_ATTR_PARAM_STATUS_PTR, (SQLULEN)param_status, (SQLULEN)param_status, false},
        {SQL_ATTR_PARAMS_PROCESSED_PTR, (SQLULEN)&processed, (SQLULEN)&processed, false},
        {SQL_ATTR_CONCURRENCY, SQL_CONCUR_ROWVER, SQL_CONCUR_ROWVER, false},
        {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN, SQL_CURSOR_KEYSET_DRIVEN, false},
        {SQL_ATTR_CURSOR_SCROLLABLE, SQL_NONSCROLLABLE, SQL_NONSCROLLABLE, true},
        {SQL_ATTR_CURSOR_SENSITIVITY, SQL_INSENSITIVE, SQL_INSENSITIVE, true},
    };
    for (bool wide : {false, true}) {
        for (const auto &t : cases) {
            SCOPED_TRACE(std::string(wide ? "wide: " : "") + "attribute " +
                         std::to_string(t.attr) + " = " + std::to_string(t.value));
            SQLRETURN rc = set(t.attr, t.value, wide);
            EXPECT_EQ(rc, SQL_SUCCESS) << qv::describe(qv::diagnostics(stmt));
            EXPECT_EQ(get(t.attr, t.narrow, wide), t.want);
        }
    }

    // Attributes outlive an execution and the closing of its cursor.
    ASSERT_EQ(set(SQL_ATTR_MAX_ROWS, 0), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_ROW_ARRAY_SIZE, 1), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_PARAMSET_SIZE, 1), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_ROW_STATUS_PTR, 0), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_ROWS_FETCHED_PTR, 0), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_ROW_OPERATION_PTR, 0), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_BY_COLUMN), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_ROW_BIND_OFFSET_PTR, 0), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_PARAM_BIND_OFFSET_PTR, 0), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_PARAM_BIND_TYPE, SQL_PARAM_BIND_BY_COLUMN), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_PARAM_OPERATION_PTR, 0), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_PARAM_STATUS_PTR, 0), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_PARAMS_PROCESSED_PTR, 0), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_RETRIEVE_DATA, SQL_RD_ON), SQL_SUCCESS);
    SQLRETURN rc = exec("SELECT 1");
    QV_ASSERT_SUCCEEDED(rc, stmt);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS) << qv::describe(qv::diagnostics(stmt));
    EXPECT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(get(SQL_ATTR_QUERY_TIMEOUT), 7u);
    EXPECT_EQ(get(SQL_ATTR_KEYSET_SIZE), 0x100000005ull);
    EXPECT_EQ(get(SQL_ATTR_METADATA_ID, true), (SQLULEN)SQL_TRUE);
}

// The cursor attributes follow one another (each row: set, then read).
TEST_F(StmtAttr, TiedCursorAttributes)
{
    const struct {
        SQLINTEGER attr;
        SQLULEN value;
        SQLULEN type, concurrency, scrollable, sensitivity;
    } steps[] = {
        {SQL_ATTR_CONCURRENCY, SQL_CONCUR_LOCK, SQL_CURSOR_FORWARD_ONLY, SQL_CONCUR_LOCK,
         SQL_NONSCROLLABLE, SQL_SENSITIVE},
        {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC, SQL_CURSOR_STATIC, SQL_CONCUR_LOCK,
         SQL_SCROLLABLE, SQL_SENSITIVE},
        {SQL_ATTR_CURSOR_SENSITIVITY, SQL_INSENSITIVE, SQL_CURSOR_STATIC, SQL_CONCUR_READ_ONLY,
         SQL_SCROLLABLE, SQL_INSENSITIVE},
        {SQL_ATTR_CURSOR_SENSITIVITY, SQL_SENSITIVE, SQL_CURSOR_DYNAMIC, SQL_CONCUR_LOCK,
         SQL_SCROLLABLE, SQL_SENSITIVE},
        {SQL_ATTR_CURSOR_SCROLLABLE, SQL_NONSCROLLABLE, SQL_CURSOR_FORWARD_ONLY, SQL_CONCUR_LOCK,
         SQL_NONSCROLLABLE, SQL_SENSITIVE},
        {SQL_ATTR_CURSOR_SCROLLABLE, SQL_SCROLLABLE, SQL_CURSOR_DYNAMIC, SQL_CONCUR_LOCK,
         SQL_SCROLLABLE, SQL_SENSITIVE},
        {SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY, SQL_CURSOR_DYNAMIC, SQL_CONCUR_READ_ONLY,
         SQL_SCROLLABLE, SQL_INSENSITIVE},
        {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN, SQL_CURSOR_KEYSET_DRIVEN,
         SQL_CONCUR_READ_ONLY, SQL_SCROLLABLE, SQL_INSENSITIVE},
        {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY, SQL_CURSOR_FORWARD_ONLY,
         SQL_CONCUR_READ_ONLY, SQL_NONSCROLLABLE, SQL_INSENSITIVE},
    };
    EXPECT_EQ(get(SQL_ATTR_CURSOR_TYPE), (SQLULEN)SQL_CURSOR_FORWARD_ONLY);
    EXPECT_EQ(get(SQL_ATTR_CONCURRENCY), (SQLULEN)SQL_CONCUR_READ_ONLY);
    int n = 0;
    for (const auto &t : steps) {
        SCOPED_TRACE("step " + std::to_string(n++));
        EXPECT_EQ(set(t.attr, t.value), SQL_SUCCESS) << qv::describe(qv::diagnostics(stmt));
        EXPECT_EQ(get(SQL_ATTR_CURSOR_TYPE), t.type);
        EXPECT_EQ(get(SQL_ATTR_CONCURRENCY), t.concurrency);
        EXPECT_EQ(get(SQL_ATTR_CURSOR_SCROLLABLE, true), t.scrollable);
        EXPECT_EQ(get(SQL_ATTR_CURSOR_SENSITIVITY, true), t.sensitivity);
    }
}

// Only static cursors are offered: executing a query turns a dynamic one
// into a static one and says so.
TEST_F(StmtAttr, CursorTypeChangesAtExecution)
{
    ASSERT_EQ(set(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_DYNAMIC), SQL_SUCCESS);
    EXPECT_EQ(exec("SELECT 1"), SQL_SUCCESS_WITH_INFO);
    std::vector<qv::diag_record> d = qv::diagnostics(stmt);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].sqlstate, "01S02");
    EXPECT_NE(d[0].text.find("Cursor type changed"), std::string::npos) << d[0].text;
    EXPECT_EQ(get(SQL_ATTR_CURSOR_TYPE), (SQLULEN)SQL_CURSOR_STATIC);
    EXPECT_EQ(get(SQL_ATTR_CURSOR_SCROLLABLE, true), (SQLULEN)SQL_SCROLLABLE);
    SQLINTEGER one = 0;
    SQLLEN ind = 0;
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_SLONG, &one, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(one, 1);
}

// The maximum row count limits what the server sends, statement by statement.
TEST_F(StmtAttr, MaxRowsLimitsTheResult)
{
    qv::handle other = qv::alloc_stmt(c.dbc);
    const char *sql = "SELECT seq FROM seq_1_to_5";
    auto count = [&](const qv::handle &s) {
        int n = 0;
        SQLRETURN rc = SQLExecDirect(s, (SQLCHAR *)sql, SQL_NTS);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(s));
        while (SQL_SUCCEEDED(SQLFetch(s)))
            n++;
        SQLFreeStmt(s, SQL_CLOSE);
        return n;
    };
    ASSERT_EQ(set(SQL_ATTR_MAX_ROWS, 2), SQL_SUCCESS);
    EXPECT_EQ(count(stmt), 2);
    EXPECT_EQ(count(other), 5);   // the other statement has no limit
    EXPECT_EQ(count(stmt), 2);
    ASSERT_EQ(set(SQL_ATTR_MAX_ROWS, 0), SQL_SUCCESS);
    EXPECT_EQ(count(stmt), 5);
}

// Descriptor handles pass through the driver manager, which hands out its
// own: what is read back must be the handle the application gave.
TEST_F(StmtAttr, ExplicitDescriptors)
{
    SQLHDESC implicit_ard = SQL_NULL_HDESC, implicit_apd = SQL_NULL_HDESC;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &implicit_ard, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_PARAM_DESC, &implicit_apd, 0, nullptr),
              SQL_SUCCESS);
    ASSERT_NE(implicit_ard, (SQLHDESC)SQL_NULL_HDESC);
    ASSERT_NE(implicit_ard, implicit_apd);

    SQLHDESC desc = SQL_NULL_HDESC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, c.dbc, &desc), SQL_SUCCESS);
    qv::handle owned(SQL_HANDLE_DESC, desc);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, desc, 0), SQL_SUCCESS)
        << qv::describe(qv::diagnostics(stmt));
    SQLHDESC now = SQL_NULL_HDESC;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &now, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(now, desc);

    // the descriptor-held attributes now act on the explicit descriptor,
    // and a column bound through it receives the fetched value
    ASSERT_EQ(set(SQL_ATTR_ROW_ARRAY_SIZE, 3), SQL_SUCCESS);
    SQLULEN size = 0;
    EXPECT_EQ(SQLGetDescField(desc, 0, SQL_DESC_ARRAY_SIZE, &size, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(size, 3u);
    ASSERT_EQ(set(SQL_ATTR_ROW_ARRAY_SIZE, 1), SQL_SUCCESS);
    SQLINTEGER value = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &value, 0, &ind), SQL_SUCCESS);
    SQLRETURN rc = exec("SELECT 42");
    QV_ASSERT_SUCCEEDED(rc, stmt);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS) << qv::describe(qv::diagnostics(stmt));
    EXPECT_EQ(value, 42);
    SQLSMALLINT count = 0;
    EXPECT_EQ(SQLGetDescField(desc, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(count, 1);
    SQLFreeStmt(stmt, SQL_CLOSE);

    // A null handle returns to the implicit descriptor.  unixODBC answers
    // SQL_ATTR_APP_ROW_DESC from its own record, which keeps the explicit
    // handle after the reset: where the bindings go shows what the driver did.
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, SQL_NULL_HDESC, 0), SQL_SUCCESS)
        << qv::describe(qv::diagnostics(stmt));
    SQLINTEGER second = 0;
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_SLONG, &second, 0, &ind), SQL_SUCCESS);
    rc = exec("SELECT 1, 2");
    QV_ASSERT_SUCCEEDED(rc, stmt);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS) << qv::describe(qv::diagnostics(stmt));
    EXPECT_EQ(second, 2);
    SQLFreeStmt(stmt, SQL_CLOSE);
    count = -1;
    EXPECT_EQ(SQLGetDescField(implicit_ard, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(count, 2);
    count = -1;
    EXPECT_EQ(SQLGetDescField(desc, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(count, 1) << "the explicit descriptor keeps its own binding";

    // an explicit descriptor may serve as the APD as well
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_PARAM_DESC, desc, 0), SQL_SUCCESS)
        << qv::describe(qv::diagnostics(stmt));
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_PARAM_DESC, &now, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(now, desc);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_PARAM_DESC, SQL_NULL_HDESC, 0), SQL_SUCCESS);
}

TEST_F(StmtAttr, Refusals)
{
    qv::handle other = qv::alloc_stmt(c.dbc);
    SQLHDESC other_ard = SQL_NULL_HDESC, own_ird = SQL_NULL_HDESC;
    ASSERT_EQ(SQLGetStmtAttr(other, SQL_ATTR_APP_ROW_DESC, &other_ard, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_IMP_ROW_DESC, &own_ird, 0, nullptr), SQL_SUCCESS);
    // an explicit descriptor of another connection
    qv::connection c2;
    SQLRETURN rc = c2.connect(qv::conn_str());
    QV_ASSERT_SUCCEEDED(rc, c2.dbc);
    SQLHDESC foreign = SQL_NULL_HDESC;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, c2.dbc, &foreign), SQL_SUCCESS);
    qv::handle foreign_owned(SQL_HANDLE_DESC, foreign);

    enum kind { SET_ATTR, GET_ATTR, SET_OPTION, GET_OPTION };
    const struct {
        kind call;
        SQLINTEGER attr;
        SQLPOINTER value;
        const char *states;   // the SQLSTATEs of the records, in order
    } cases[] = {
        {SET_ATTR, 9999, nullptr, "HY092"},
        {SET_ATTR, SQL_ATTR_IMP_ROW_DESC, own_ird, "HY017"},
        {SET_ATTR, SQL_ATTR_IMP_PARAM_DESC, nullptr, "HY017"},
        {SET_ATTR, SQL_ATTR_APP_ROW_DESC, other_ard, "HY017"},
        {SET_ATTR, SQL_ATTR_APP_PARAM_DESC, foreign, "HY024"},
        {GET_ATTR, 9999, nullptr, "HY092,HY000"},
        // the driver's S1092 reaches an ODBC 3 application as HY092
        {SET_OPTION, 15, nullptr, "HY092"},
        {GET_OPTION, 15, nullptr, "HY092"},
        // refused by the driver manager before the driver sees them
        {SET_OPTION, SQL_ROWSET_SIZE, nullptr, "HY024"},
        {GET_OPTION, SQL_GET_BOOKMARK, nullptr, "24000"},   // no cursor yet
        {GET_ATTR, SQL_GET_BOOKMARK, nullptr, "24000"},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE("call " + std::to_string(t.call) + ", attribute " + std::to_string(t.attr));
        SQLULEN v = 0;
        switch (t.call) {
        case SET_ATTR: rc = SQLSetStmtAttr(stmt, t.attr, t.value, 0); break;
        case GET_ATTR: rc = SQLGetStmtAttr(stmt, t.attr, &v, 0, nullptr); break;
        case SET_OPTION: rc = SQLSetStmtOption(stmt, (SQLUSMALLINT)t.attr, 0); break;
        case GET_OPTION: rc = SQLGetStmtOption(stmt, (SQLUSMALLINT)t.attr, &v); break;
        }
        EXPECT_EQ(rc, SQL_ERROR);
        EXPECT_EQ(states(), t.states) << qv::describe(qv::diagnostics(stmt));
    }
    // nothing refused changed the statement
    SQLHDESC ard = SQL_NULL_HDESC;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, 0, nullptr), SQL_SUCCESS);
    EXPECT_NE(ard, other_ard);
    EXPECT_EQ(get(SQL_ROWSET_SIZE), 1u);

    // On a row the bookmark request reaches the driver, which has none.
    rc = exec("SELECT 1");
    QV_ASSERT_SUCCEEDED(rc, stmt);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    SQLULEN v = 0;
    EXPECT_EQ(SQLGetStmtOption(stmt, SQL_GET_BOOKMARK, &v), SQL_ERROR);
    EXPECT_EQ(states(), "HY011") << qv::describe(qv::diagnostics(stmt));
    // ... and SQLGetStmtAttr does not know it
    EXPECT_EQ(SQLGetStmtAttr(stmt, SQL_GET_BOOKMARK, &v, 0, nullptr), SQL_ERROR);
    std::vector<qv::diag_record> d = qv::diagnostics(stmt);
    ASSERT_EQ(states(), "HY092,HY000") << qv::describe(d);
    EXPECT_NE(d[1].text.find("unknown type 13"), std::string::npos) << d[1].text;
}

// An ODBC 2 application sees the driver's ODBC 2 states.
TEST(StmtAttrOdbc2, UnknownOptionIsS1092)
{
    qv::connection c(SQL_OV_ODBC2);
    SQLRETURN rc = c.connect(qv::conn_str());
    QV_ASSERT_SUCCEEDED(rc, c.dbc);
    qv::handle stmt = qv::alloc_stmt(c.dbc);
    ASSERT_TRUE(stmt);
    SQLULEN v = 0;
    EXPECT_EQ(SQLSetStmtOption(stmt, 15, 0), SQL_ERROR);
    EXPECT_EQ(qv::first_state(stmt), "S1092") << qv::describe(qv::diagnostics(stmt));
    EXPECT_EQ(SQLGetStmtOption(stmt, 15, &v), SQL_ERROR);
    EXPECT_EQ(qv::first_state(stmt), "S1092") << qv::describe(qv::diagnostics(stmt));
    EXPECT_EQ(SQLSetStmtOption(stmt, SQL_BIND_TYPE, 40), SQL_SUCCESS);
    EXPECT_EQ(SQLGetStmtOption(stmt, SQL_BIND_TYPE, &v), SQL_SUCCESS);
    EXPECT_EQ(v, 40u);
}

// The ODBC 2 calls, which the driver manager passes on or maps.
TEST_F(StmtAttr, Odbc2Options)
{
    EXPECT_EQ(SQLSetStmtOption(stmt, SQL_BIND_TYPE, 40), SQL_SUCCESS)
        << qv::describe(qv::diagnostics(stmt));
    EXPECT_EQ(get(SQL_ATTR_ROW_BIND_TYPE), 40u);
    EXPECT_EQ(SQLSetStmtOption(stmt, SQL_ROWSET_SIZE, 6), SQL_SUCCESS)
        << qv::describe(qv::diagnostics(stmt));
    SQLULEN v = 0;
    EXPECT_EQ(SQLGetStmtOption(stmt, SQL_ROWSET_SIZE, &v), SQL_SUCCESS);
    EXPECT_EQ(v, 6u);
    EXPECT_EQ(get(SQL_ROWSET_SIZE), 6u);
    EXPECT_EQ(SQLSetStmtOption(stmt, SQL_QUERY_TIMEOUT, 9), SQL_SUCCESS);
    EXPECT_EQ(get(SQL_ATTR_QUERY_TIMEOUT), 9u);
    EXPECT_EQ(SQLGetStmtOption(stmt, SQL_QUERY_TIMEOUT, &v), SQL_SUCCESS);
    EXPECT_EQ(v, 9u);
    EXPECT_EQ(SQLSetStmtOption(stmt, SQL_MAX_LENGTH, 300), SQL_SUCCESS);
    EXPECT_EQ(SQLGetStmtOption(stmt, SQL_MAX_LENGTH, &v), SQL_SUCCESS);
    EXPECT_EQ(v, 300u);
}

} // namespace
