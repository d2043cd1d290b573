// The descriptor API through unixODBC: the four implicit descriptors of a
// prepared statement read field by field, application row descriptors
// changed and fetched through, an explicitly allocated descriptor shared by
// two statements in turn and serving as a parameter descriptor, and the
// refusals.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

const char *SELECT = "SELECT id, name, amount FROM qv_desc WHERE id >= ? ORDER BY id";

struct descriptors : testing::Test {
    qv::connection c;
    qv::handle stmt;

    void SetUp() override
    {
        auto r = qv::server_sql("DROP TABLE IF EXISTS qv_desc;"
                                "CREATE TABLE qv_desc (id INT NOT NULL PRIMARY KEY,"
                                " name VARCHAR(20) NOT NULL, amount DECIMAL(10,2)) CHARACTER SET utf8mb4;"
                                "INSERT INTO qv_desc VALUES (1, 'alpha', 1.50), (2, 'beta', 2.25),"
                                " (3, 'gamma', NULL);");
        ASSERT_EQ(r.status, 0) << r.output;
        SQLRETURN rc = c.connect(qv::conn_str());
        QV_ASSERT_SUCCEEDED(rc, c.dbc);
        stmt = qv::alloc_stmt(c.dbc);
        ASSERT_TRUE(stmt);
    }
    void TearDown() override
    {
        stmt.reset();
        qv::server_sql("DROP TABLE IF EXISTS qv_desc");
    }

    SQLHDESC implicit(SQLINTEGER attr, const qv::handle &s)
    {
        SQLHDESC d = SQL_NULL_HDESC;
        EXPECT_EQ(SQLGetStmtAttr(s, attr, &d, sizeof d, nullptr), SQL_SUCCESS);
        return d;
    }
    SQLHDESC implicit(SQLINTEGER attr) { return implicit(attr, stmt); }
};

// A field read back as a number (whatever its size) or as text.
struct field_value {
    SQLRETURN rc;
    SQLINTEGER length = -1;
    int64_t number = 0;
    std::string text;
};

field_value get_field(SQLHDESC d, SQLSMALLINT rec, SQLSMALLINT id, bool is_text)
{
    field_value v;
    if (is_text) {
        char buf[256];
        memset(buf, 0x5A, sizeof buf);
        v.rc = SQLGetDescField(d, rec, id, buf, sizeof buf, &v.length);
        if (SQL_SUCCEEDED(v.rc))
            v.text = buf;
        return v;
    }
    union {
        SQLSMALLINT i16;
        SQLINTEGER i32;
        SQLLEN i64;
        SQLPOINTER p;
    } u;
    memset(&u, 0, sizeof u);
    v.rc = SQLGetDescField(d, rec, id, &u, sizeof u, &v.length);
    v.number = v.length == 2 ? u.i16 : v.length == 4 ? u.i32 : (int64_t)u.i64;
    return v;
}

const char *which(int d)
{
    static const char *const n[] = {"ARD", "APD", "IRD", "IPD"};
    return n[d];
}

// Every header and record field of the four implicit descriptors after a
// prepared SELECT with one bound parameter: each identifier answers with its
// size, and the ones the statement determines carry their values.
TEST_F(descriptors, ImplicitDescriptorsEveryField)
{
    SQLINTEGER param = 2;
    SQLLEN param_ind = 0;
    ASSERT_EQ(SQLPrepare(stmt, (SQLCHAR *)SELECT, SQL_NTS), SQL_SUCCESS) << qv::describe(qv::diagnostics(stmt));
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &param, 0, &param_ind),
              SQL_SUCCESS);
    SQLHDESC d[4] = {implicit(SQL_ATTR_APP_ROW_DESC), implicit(SQL_ATTR_APP_PARAM_DESC),
                     implicit(SQL_ATTR_IMP_ROW_DESC), implicit(SQL_ATTR_IMP_PARAM_DESC)};
    enum { ARD, APD, IRD, IPD };

    // Size of each record field's answer (0: text). Display size, length and
    // octet length are SQLLEN / SQLULEN on a 64-bit platform: 8 bytes.
    struct { SQLSMALLINT id; int size; } record_fields[] = {
        {SQL_DESC_CONCISE_TYPE, 2}, {SQL_DESC_DISPLAY_SIZE, 8}, {SQL_DESC_UNSIGNED, 2},
        {SQL_DESC_FIXED_PREC_SCALE, 2}, {SQL_DESC_UPDATABLE, 2}, {SQL_DESC_AUTO_UNIQUE_VALUE, 4},
        {SQL_DESC_CASE_SENSITIVE, 4}, {SQL_DESC_SEARCHABLE, 2}, {SQL_DESC_TYPE_NAME, 0},
        {SQL_DESC_TABLE_NAME, 0}, {SQL_DESC_SCHEMA_NAME, 0}, {SQL_DESC_CATALOG_NAME, 0},
        {SQL_DESC_LABEL, 0}, {SQL_DESC_BASE_COLUMN_NAME, 0}, {SQL_DESC_BASE_TABLE_NAME, 0},
        {SQL_DESC_DATETIME_INTERVAL_PRECISION, 4}, {SQL_DESC_LITERAL_PREFIX, 0},
        {SQL_DESC_LITERAL_SUFFIX, 0}, {SQL_DESC_LOCAL_TYPE_NAME, 0}, {SQL_DESC_NUM_PREC_RADIX, 4},
        {SQL_DESC_PARAMETER_TYPE, 2}, {SQL_DESC_ROWVER, 2}, {SQL_DESC_TYPE, 2}, {SQL_DESC_LENGTH, 8},
        {SQL_DESC_OCTET_LENGTH_PTR, 8}, {SQL_DESC_PRECISION, 2}, {SQL_DESC_SCALE, 2},
        {SQL_DESC_DATETIME_INTERVAL_CODE, 2}, {SQL_DESC_NULLABLE, 2}, {SQL_DESC_INDICATOR_PTR, 8},
        {SQL_DESC_DATA_PTR, 8}, {SQL_DESC_NAME, 0}, {SQL_DESC_UNNAMED, 2}, {SQL_DESC_OCTET_LENGTH, 8},
    };
    struct { SQLSMALLINT id; int size; } header_fields[] = {
        {SQL_DESC_ARRAY_SIZE, 8}, {SQL_DESC_ARRAY_STATUS_PTR, 8}, {SQL_DESC_BIND_OFFSET_PTR, 8},
        {SQL_DESC_ROWS_PROCESSED_PTR, 8}, {SQL_DESC_BIND_TYPE, 4}, {SQL_DESC_COUNT, 2},
        {SQL_DESC_ALLOC_TYPE, 2},
    };
    const int records[4] = {0, 1, 3, 1};   // after describing: ARD unbound, one parameter, three columns
    for (int k = 0; k < 4; k++) {
        SCOPED_TRACE(which(k));
        for (auto &h : header_fields) {
            field_value v = get_field(d[k], 0, h.id, false);
            ASSERT_EQ(v.rc, SQL_SUCCESS) << h.id << qv::describe(qv::diagnostics(SQL_HANDLE_DESC, d[k]));
            EXPECT_EQ(v.length, h.size) << h.id;
        }
        EXPECT_EQ(get_field(d[k], 0, SQL_DESC_COUNT, false).number, records[k]);
        EXPECT_EQ(get_field(d[k], 0, SQL_DESC_ALLOC_TYPE, false).number, SQL_DESC_ALLOC_AUTO);
        for (SQLSMALLINT rec = 1; rec <= records[k]; rec++)
            for (auto &f : record_fields) {
                field_value v = get_field(d[k], rec, f.id, f.size == 0);
                ASSERT_EQ(v.rc, SQL_SUCCESS) << rec << "/" << f.id
                                             << qv::describe(qv::diagnostics(SQL_HANDLE_DESC, d[k]));
                if (f.size)
                    EXPECT_EQ(v.length, f.size) << rec << "/" << f.id;
                else
                    EXPECT_EQ(v.length, (SQLINTEGER)v.text.size()) << rec << "/" << f.id;
            }
    }
    EXPECT_EQ(get_field(d[ARD], 0, SQL_DESC_ARRAY_SIZE, false).number, 1);
    EXPECT_EQ(get_field(d[APD], 0, SQL_DESC_ARRAY_SIZE, false).number, 1);

    struct {
        int desc;
        SQLSMALLINT rec, id;
        int64_t number;
        const char *text;   // non-null: a text field
    } values[] = {
        {IRD, 1, SQL_DESC_CONCISE_TYPE, SQL_INTEGER, nullptr},
        {IRD, 1, SQL_DESC_TYPE, SQL_INTEGER, nullptr},
        {IRD, 1, SQL_DESC_NULLABLE, SQL_NO_NULLS, nullptr},
        {IRD, 1, SQL_DESC_UNSIGNED, SQL_FALSE, nullptr},
        {IRD, 1, SQL_DESC_UNNAMED, SQL_NAMED, nullptr},
        {IRD, 1, SQL_DESC_NAME, 0, "id"},
        {IRD, 1, SQL_DESC_LABEL, 0, "id"},
        {IRD, 1, SQL_DESC_BASE_COLUMN_NAME, 0, "id"},
        {IRD, 1, SQL_DESC_TABLE_NAME, 0, "qv_desc"},
        {IRD, 1, SQL_DESC_BASE_TABLE_NAME, 0, "qv_desc"},
        {IRD, 2, SQL_DESC_NAME, 0, "name"},
        {IRD, 2, SQL_DESC_NULLABLE, SQL_NO_NULLS, nullptr},
        {IRD, 3, SQL_DESC_NAME, 0, "amount"},
        {IRD, 3, SQL_DESC_CONCISE_TYPE, SQL_DECIMAL, nullptr},
        {IRD, 3, SQL_DESC_PRECISION, 10, nullptr},
        {IRD, 3, SQL_DESC_SCALE, 2, nullptr},
        {IRD, 3, SQL_DESC_NULLABLE, SQL_NULLABLE, nullptr},
        {APD, 1, SQL_DESC_CONCISE_TYPE, SQL_C_SLONG, nullptr},
        {APD, 1, SQL_DESC_DATA_PTR, (int64_t)(intptr_t)&param, nullptr},
        {APD, 1, SQL_DESC_INDICATOR_PTR, (int64_t)(intptr_t)&param_ind, nullptr},
        {IPD, 1, SQL_DESC_PARAMETER_TYPE, SQL_PARAM_INPUT, nullptr},
    };
    for (auto &v : values) {
        SCOPED_TRACE(testing::Message() << which(v.desc) << " " << v.rec << "/" << v.id);
        field_value got = get_field(d[v.desc], v.rec, v.id, v.text != nullptr);
        ASSERT_EQ(got.rc, SQL_SUCCESS);
        if (v.text)
            EXPECT_EQ(got.text, v.text);
        else
            EXPECT_EQ(got.number, v.number);
    }

    // SQLGetDescRec on the IRD: name, type, octet length, precision, scale,
    // nullability in one call, and truncation of the name.
    SQLCHAR name[4];
    SQLSMALLINT name_len = 0, type = 0, sub = -1, precision = 0, scale = 0, nullable = -1;
    SQLLEN length = 0;
    EXPECT_EQ(SQLGetDescRec(d[IRD], 3, name, sizeof name, &name_len, &type, &sub, &length, &precision, &scale,
                            &nullable),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ((char *)name, "amo");
    EXPECT_EQ(name_len, 6);
    EXPECT_EQ(type, SQL_DECIMAL);
    EXPECT_EQ(sub, 0);
    EXPECT_EQ(precision, 10);
    EXPECT_EQ(scale, 2);
    EXPECT_EQ(nullable, SQL_NULLABLE);
    auto diag = qv::diagnostics(SQL_HANDLE_DESC, d[IRD]);
    ASSERT_FALSE(diag.empty());
    EXPECT_EQ(diag[0].sqlstate, "01004");
    SQLWCHAR wname[16];
    EXPECT_EQ(SQLGetDescRecW(d[IRD], 2, wname, 16, &name_len, &type, nullptr, nullptr, nullptr, nullptr,
                             nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(name_len, 4);
    EXPECT_EQ(wname[0], 'n');
    EXPECT_EQ(wname[4], 0);
}

// Rows fetched through ARD records set field by field and by SQLSetDescRec.
TEST_F(descriptors, FetchThroughChangedArd)
{
    SQLHDESC ard = implicit(SQL_ATTR_APP_ROW_DESC);
    SQLINTEGER id = 0;
    SQLLEN id_ind = 0, name_len = 0, name_ind = 0;
    char name[32];
    ASSERT_EQ(SQLSetDescField(ard, 1, SQL_DESC_CONCISE_TYPE, (SQLPOINTER)(intptr_t)SQL_C_SLONG, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetDescField(ard, 1, SQL_DESC_DATA_PTR, &id, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetDescField(ard, 1, SQL_DESC_INDICATOR_PTR, &id_ind, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetDescRec(ard, 2, SQL_C_CHAR, 0, sizeof name, 0, 0, name, &name_len, &name_ind), SQL_SUCCESS)
        << qv::describe(qv::diagnostics(SQL_HANDLE_DESC, ard));
    EXPECT_EQ(get_field(ard, 0, SQL_DESC_COUNT, false).number, 2);
    EXPECT_EQ(get_field(ard, 2, SQL_DESC_OCTET_LENGTH, false).number, (int64_t)sizeof name);

    ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR *)"SELECT id, name FROM qv_desc ORDER BY id", SQL_NTS), SQL_SUCCESS);
    std::vector<std::string> got;
    while (SQLFetch(stmt) == SQL_SUCCESS)
        got.push_back(std::to_string(id) + ":" + std::string(name, name_len));
    EXPECT_EQ(got, (std::vector<std::string>{"1:alpha", "2:beta", "3:gamma"}));
    SQLFreeStmt(stmt, SQL_CLOSE);

    // Changing a field other than the pointers unbinds the record: the
    // column is then skipped by SQLFetch.
    ASSERT_EQ(SQLSetDescField(ard, 2, SQL_DESC_SCALE, (SQLPOINTER)0, 0), SQL_SUCCESS);
    EXPECT_EQ(get_field(ard, 2, SQL_DESC_DATA_PTR, false).number, 0);
    EXPECT_EQ(get_field(ard, 2, SQL_DESC_INDICATOR_PTR, false).number, 0);
    strcpy(name, "untouched");
    ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR *)"SELECT id, name FROM qv_desc WHERE id = 2", SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(id, 2);
    EXPECT_STREQ(name, "untouched");
}

// One explicitly allocated descriptor as the row descriptor of two
// statements in turn, then as a parameter descriptor.
TEST_F(descriptors, ExplicitDescriptorSharedAndAsParameters)
{
    qv::handle desc;
    {
        SQLHDESC h = SQL_NULL_HDESC;
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, c.dbc, &h), SQL_SUCCESS);
        desc = qv::handle(SQL_HANDLE_DESC, h);
    }
    EXPECT_EQ(get_field(desc, 0, SQL_DESC_ALLOC_TYPE, false).number, SQL_DESC_ALLOC_USER);
    EXPECT_EQ(get_field(desc, 0, SQL_DESC_COUNT, false).number, 0);

    SQLINTEGER id = 0;
    SQLLEN id_ind = 0, name_len = 0;
    char name[32];
    ASSERT_EQ(SQLSetDescRec(desc, 1, SQL_C_SLONG, 0, sizeof id, 0, 0, &id, nullptr, &id_ind), SQL_SUCCESS)
        << qv::describe(qv::diagnostics(desc));
    ASSERT_EQ(SQLSetDescRec(desc, 2, SQL_C_CHAR, 0, sizeof name, 0, 0, name, &name_len, &name_len), SQL_SUCCESS);

    qv::handle other = qv::alloc_stmt(c.dbc);
    const qv::handle *stmts[2] = {&stmt, &other};
    const char *queries[2] = {"SELECT id, name FROM qv_desc WHERE id < 3 ORDER BY id",
                              "SELECT id + 10, CONCAT(name, '!') FROM qv_desc WHERE id = 3"};
    const std::vector<std::string> want[2] = {{"1:alpha", "2:beta"}, {"13:gamma!"}};
    for (int i = 0; i < 2; i++) {
        SCOPED_TRACE(i);
        const qv::handle &s = *stmts[i];
        ASSERT_EQ(SQLSetStmtAttr(s, SQL_ATTR_APP_ROW_DESC, desc.get(), 0), SQL_SUCCESS)
            << qv::describe(qv::diagnostics(s));
        EXPECT_EQ(implicit(SQL_ATTR_APP_ROW_DESC, s), desc.get());
        ASSERT_EQ(SQLExecDirect(s, (SQLCHAR *)queries[i], SQL_NTS), SQL_SUCCESS) << qv::describe(qv::diagnostics(s));
        std::vector<std::string> got;
        while (SQLFetch(s) == SQL_SUCCESS)
            got.push_back(std::to_string(id) + ":" + std::string(name, name_len));
        EXPECT_EQ(got, want[i]);
        SQLFreeStmt(s, SQL_CLOSE);
        // Back to the implicit ARD: the explicit one is no longer in use.
        ASSERT_EQ(SQLSetStmtAttr(s, SQL_ATTR_APP_ROW_DESC, SQL_NULL_HDESC, 0), SQL_SUCCESS);
    }

}

// A parameter carried by an application-allocated APD filled with
// SQLSetDescRec, its SQL type given on the IPD record: no SQLBindParameter at
// all. The type comes from the IPD, and the APD serves execution after
// execution.
TEST_F(descriptors, ExplicitParameterDescriptor)
{
    qv::handle other = qv::alloc_stmt(c.dbc);
    // An explicit descriptor carrying a parameter's value.
    qv::handle apd;
    {
        SQLHDESC h = SQL_NULL_HDESC;
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, c.dbc, &h), SQL_SUCCESS);
        apd = qv::handle(SQL_HANDLE_DESC, h);
    }
    SQLINTEGER param = 2;
    SQLLEN param_ind = 0;
    ASSERT_EQ(SQLSetDescRec(apd, 1, SQL_C_SLONG, 0, sizeof param, 0, 0, &param, nullptr, &param_ind), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(other, SQL_ATTR_APP_PARAM_DESC, apd.get(), 0), SQL_SUCCESS);
    SQLHDESC ipd = implicit(SQL_ATTR_IMP_PARAM_DESC, other);
    ASSERT_EQ(SQLSetDescField(ipd, 1, SQL_DESC_CONCISE_TYPE, (SQLPOINTER)(intptr_t)SQL_INTEGER, 0), SQL_SUCCESS)
        << qv::describe(qv::diagnostics(SQL_HANDLE_DESC, ipd));
    ASSERT_EQ(SQLSetDescField(ipd, 1, SQL_DESC_PARAMETER_TYPE, (SQLPOINTER)(intptr_t)SQL_PARAM_INPUT, 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLExecDirect(other, (SQLCHAR *)"SELECT name FROM qv_desc WHERE id = ?", SQL_NTS), SQL_SUCCESS)
        << qv::describe(qv::diagnostics(other));
    ASSERT_EQ(SQLFetch(other), SQL_SUCCESS);
    char buf[32] = "";
    SQLLEN ind = 0;
    ASSERT_EQ(SQLGetData(other, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "beta");
    SQLFreeStmt(other, SQL_CLOSE);
    param = 3;
    ASSERT_EQ(SQLExecDirect(other, (SQLCHAR *)"SELECT name FROM qv_desc WHERE id = ?", SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(other), SQL_SUCCESS);
    ASSERT_EQ(SQLGetData(other, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "gamma");
    SQLFreeStmt(other, SQL_CLOSE);
    SQLSetStmtAttr(other, SQL_ATTR_APP_PARAM_DESC, SQL_NULL_HDESC, 0);
    other.reset();
}

// What the descriptor functions refuse, and with which SQLSTATE, as it
// reaches the application.
TEST_F(descriptors, Refusals)
{
    ASSERT_EQ(SQLPrepare(stmt, (SQLCHAR *)SELECT, SQL_NTS), SQL_SUCCESS);
    SQLHDESC ard = implicit(SQL_ATTR_APP_ROW_DESC), ird = implicit(SQL_ATTR_IMP_ROW_DESC),
             ipd = implicit(SQL_ATTR_IMP_PARAM_DESC), apd = implicit(SQL_ATTR_APP_PARAM_DESC);
    SQLINTEGER target = 0;
    char text[16];
    SQLINTEGER len = 0;
    struct {
        const char *what;
        SQLHDESC desc;
        std::function<SQLRETURN(SQLHDESC)> call;
        const char *state;
    } cases[] = {
        {"IRD record field", ird,
         [](SQLHDESC d) { return SQLSetDescField(d, 1, SQL_DESC_CONCISE_TYPE, (SQLPOINTER)SQL_C_CHAR, 0); }, "HY016"},
        {"IRD record", ird,
         [&](SQLHDESC d) { return SQLSetDescRec(d, 1, SQL_C_SLONG, 0, 4, 0, 0, &target, nullptr, nullptr); },
         "HY016"},
        {"IRD array size", ird,
         [](SQLHDESC d) { return SQLSetDescField(d, 0, SQL_DESC_ARRAY_SIZE, (SQLPOINTER)2, 0); }, "HY016"},
        {"IRD count", ird,
         [](SQLHDESC d) { return SQLSetDescField(d, 0, SQL_DESC_COUNT, (SQLPOINTER)1, 0); }, "HY016"},
        {"unknown field read", ard,
         [&](SQLHDESC d) { return SQLGetDescField(d, 0, 3, &target, sizeof target, &len); }, "HY091"},
        {"unknown field set", ard,
         [](SQLHDESC d) { return SQLSetDescField(d, 1, 7, (SQLPOINTER)1, 0); }, "HY091"},
        {"allocation type set", ard,
         [](SQLHDESC d) { return SQLSetDescField(d, 0, SQL_DESC_ALLOC_TYPE, (SQLPOINTER)1, 0); }, "HY091"},
        {"IPD nullability set", ipd,
         [](SQLHDESC d) { return SQLSetDescField(d, 1, SQL_DESC_NULLABLE, (SQLPOINTER)1, 0); }, "HY091"},
        {"interval code of a non-datetime", ard,
         [](SQLHDESC d) { return SQLSetDescField(d, 1, SQL_DESC_DATETIME_INTERVAL_CODE, (SQLPOINTER)4, 0); },
         "HY021"},
        {"numeric without precision", ard,
         [&](SQLHDESC d) {
             SQLSetDescField(d, 1, SQL_DESC_CONCISE_TYPE, (SQLPOINTER)SQL_C_NUMERIC, 0);
             SQLSetDescField(d, 1, SQL_DESC_PRECISION, (SQLPOINTER)0, 0);
             return SQLSetDescField(d, 1, SQL_DESC_DATA_PTR, &target, 0);
         },
         "HY021"},
        {"SQL type as a C type", ard,
         [](SQLHDESC d) { return SQLSetDescField(d, 1, SQL_DESC_CONCISE_TYPE, (SQLPOINTER)SQL_VARCHAR, 0); },
         "HY003"},
        {"IRD record past the count", ird,
         [&](SQLHDESC d) { return SQLGetDescField(d, 9, SQL_DESC_NAME, text, sizeof text, &len); }, "07009"},
        {"IPD bookmark record", ipd,
         [&](SQLHDESC d) { return SQLGetDescField(d, 0, SQL_DESC_TYPE, &target, sizeof target, &len); },
         "07009"},
        {"APD bookmark record", apd,
         [&](SQLHDESC d) { return SQLGetDescField(d, 0, SQL_DESC_TYPE, &target, sizeof target, &len); },
         "07009"},
        {"IPD bookmark record set", ipd,
         [](SQLHDESC d) { return SQLSetDescField(d, 0, SQL_DESC_SCALE, (SQLPOINTER)1, 0); }, "07009"},
        {"negative count", ard,
         [](SQLHDESC d) { return SQLSetDescField(d, 0, SQL_DESC_COUNT, (SQLPOINTER)(intptr_t)-1, 0); }, "07009"},
        {"IRD record by SQLGetDescRec", ird,
         [&](SQLHDESC d) {
             SQLSMALLINT l;
             return SQLGetDescRec(d, 4, (SQLCHAR *)text, sizeof text, &l, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr);
         },
         "07009"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(c.desc), SQL_ERROR);
        auto d = qv::diagnostics(SQL_HANDLE_DESC, c.desc);
        ASSERT_FALSE(d.empty());
        EXPECT_EQ(d[0].sqlstate, c.state) << qv::describe(d);
    }
}

} // namespace
