// SQL_C_DEFAULT through unixODBC under ODBC 2 and ODBC 3: for every SQL
// type a result column can have, the bytes and length SQLGetData and a
// bound column deliver, the C type the row descriptor records after
// SQLBindCol, and the concise type SQLColAttribute reports; and for
// parameters, the C type SQLBindParameter records for each SQL type and
// a date parameter bound with SQL_C_DEFAULT that reaches the server whole.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

typedef std::vector<unsigned char> bytes;

template <typename T> bytes bytes_of(const T &v)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(&v);
    return bytes(p, p + sizeof v);
}

bytes text(const char *s) { return bytes(s, s + strlen(s)); }

SQL_DATE_STRUCT A_DATE = {2024, 2, 29};
SQL_TIME_STRUCT A_TIME = {13, 14, 15};
SQL_TIMESTAMP_STRUCT A_TIMESTAMP = {2024, 2, 29, 13, 14, 15, 0};

// One column of qv_defaults: its SQL type as each ODBC version reports it,
// the C type SQL_C_DEFAULT stands for there, and the value read that way.
struct column_case {
    const char *name;
    SQLSMALLINT sql3, sql2;       // SQL_DESC_CONCISE_TYPE of the column
    SQLSMALLINT c3, c2;           // the default C type
    bytes value3, value2;         // what it reads as
};

std::vector<column_case> column_cases()
{
    bytes abc = text("abc");
    auto same = [](const char *name, SQLSMALLINT sql, SQLSMALLINT c, bytes v) {
        return column_case{name, sql, sql, c, c, v, v};
    };
    return {
        same("c_char", SQL_CHAR, SQL_C_CHAR, abc),
        same("c_varchar", SQL_VARCHAR, SQL_C_CHAR, abc),
        same("c_text", SQL_LONGVARCHAR, SQL_C_CHAR, abc),
        same("c_binary", SQL_BINARY, SQL_C_BINARY, bytes{1, 2}),
        same("c_varbinary", SQL_VARBINARY, SQL_C_BINARY, bytes{1, 2, 3}),
        same("c_blob", SQL_LONGVARBINARY, SQL_C_BINARY, bytes{4, 5}),
        same("c_tiny", SQL_TINYINT, SQL_C_STINYINT, bytes_of<SQLSCHAR>(-5)),
        same("c_utiny", SQL_TINYINT, SQL_C_UTINYINT, bytes_of<SQLCHAR>(250)),
        same("c_small", SQL_SMALLINT, SQL_C_SSHORT, bytes_of<SQLSMALLINT>(-300)),
        same("c_usmall", SQL_SMALLINT, SQL_C_USHORT, bytes_of<SQLUSMALLINT>(65000)),
        same("c_int", SQL_INTEGER, SQL_C_SLONG, bytes_of<SQLINTEGER>(-70000)),
        same("c_uint", SQL_INTEGER, SQL_C_ULONG, bytes_of<SQLUINTEGER>(4000000000u)),
        // ODBC 2 has no 64-bit C integers: BIGINT reads as text there
        {"c_big", SQL_BIGINT, SQL_BIGINT, SQL_C_SBIGINT, SQL_C_CHAR,
         bytes_of<SQLBIGINT>(-5000000000LL), text("-5000000000")},
        {"c_ubig", SQL_BIGINT, SQL_BIGINT, SQL_C_UBIGINT, SQL_C_CHAR,
         bytes_of<SQLUBIGINT>(18000000000000000000ULL), text("18000000000000000000")},
        same("c_float", SQL_REAL, SQL_C_FLOAT, bytes_of<SQLREAL>(1.5f)),
        same("c_double", SQL_DOUBLE, SQL_C_DOUBLE, bytes_of<SQLDOUBLE>(2.25)),
        same("c_decimal", SQL_DECIMAL, SQL_C_CHAR, text("12.34")),
        same("c_bit", SQL_BIT, SQL_C_BIT, bytes{1}),
        // dates and times take the codes of the application's version
        {"c_date", SQL_TYPE_DATE, SQL_DATE, SQL_C_TYPE_DATE, SQL_C_DATE,
         bytes_of(A_DATE), bytes_of(A_DATE)},
        {"c_time", SQL_TYPE_TIME, SQL_TIME, SQL_C_TYPE_TIME, SQL_C_TIME,
         bytes_of(A_TIME), bytes_of(A_TIME)},
        {"c_datetime", SQL_TYPE_TIMESTAMP, SQL_TIMESTAMP, SQL_C_TYPE_TIMESTAMP,
         SQL_C_TIMESTAMP, bytes_of(A_TIMESTAMP), bytes_of(A_TIMESTAMP)},
    };
}

const char *TABLE =
    "DROP TABLE IF EXISTS qv_defaults;"
    "CREATE TABLE qv_defaults (c_char CHAR(3), c_varchar VARCHAR(10), c_text TEXT,"
    " c_binary BINARY(2), c_varbinary VARBINARY(4), c_blob BLOB,"
    " c_tiny TINYINT, c_utiny TINYINT UNSIGNED, c_small SMALLINT,"
    " c_usmall SMALLINT UNSIGNED, c_int INT, c_uint INT UNSIGNED, c_big BIGINT,"
    " c_ubig BIGINT UNSIGNED, c_float FLOAT, c_double DOUBLE, c_decimal DECIMAL(5,2),"
    " c_bit BIT(1), c_date DATE, c_time TIME, c_datetime DATETIME) CHARACTER SET utf8mb4;"
    "INSERT INTO qv_defaults VALUES ('abc', 'abc', 'abc', 0x0102, 0x010203, 0x0405,"
    " -5, 250, -300, 65000, -70000, 4000000000, -5000000000, 18000000000000000000,"
    " 1.5, 2.25, 12.34, 1, '2024-02-29', '13:14:15', '2024-02-29 13:14:15');";

struct default_types : testing::TestWithParam<SQLINTEGER> {
    qv::connection c{GetParam()};
    qv::handle stmt;
    bool odbc2 = GetParam() == SQL_OV_ODBC2;

    void SetUp() override
    {
        auto r = qv::server_sql(TABLE);
        ASSERT_EQ(r.status, 0) << r.output;
        // TIME columns are text unless the connection asks for them as times
        QV_ASSERT_SUCCEEDED(c.connect(qv::conn_str("TimeAsTime=yes;")), c.dbc);
        stmt = qv::alloc_stmt(c.dbc);
        ASSERT_TRUE(stmt);
    }
    void TearDown() override
    {
        stmt.reset();
        qv::server_sql("DROP TABLE IF EXISTS qv_defaults");
    }

    std::string select_all()
    {
        std::string sql = "SELECT ";
        for (const auto &k : column_cases())
            sql += std::string(sql.size() > 7 ? ", " : "") + k.name;
        return sql + " FROM qv_defaults";
    }
    SQLRETURN run(const std::string &sql)
    {
        return SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
    }
    const bytes &want(const column_case &k) { return odbc2 ? k.value2 : k.value3; }
    SQLSMALLINT want_c(const column_case &k) { return odbc2 ? k.c2 : k.c3; }
};

// A character value's terminating zero is not part of its length.
bytes delivered(const unsigned char *buf, SQLLEN len)
{
    return len < 0 ? bytes() : bytes(buf, buf + len);
}

TEST_P(default_types, GetDataDeliversTheDefaultCType)
{
    QV_ASSERT_SUCCEEDED(run(select_all()), stmt);
    QV_ASSERT_SUCCEEDED(SQLFetch(stmt), stmt);
    auto cases = column_cases();
    for (size_t i = 0; i < cases.size(); i++) {
        const column_case &k = cases[i];
        SCOPED_TRACE(k.name);
        SQLLEN concise = 0;
        EXPECT_EQ(SQLColAttribute(stmt, (SQLUSMALLINT)(i + 1), SQL_DESC_CONCISE_TYPE, nullptr, 0,
                                  nullptr, &concise),
                  SQL_SUCCESS);
        EXPECT_EQ(concise, odbc2 ? k.sql2 : k.sql3);
        unsigned char buf[64];
        memset(buf, 0xEE, sizeof buf);
        SQLLEN len = 0;
        SQLRETURN rc = SQLGetData(stmt, (SQLUSMALLINT)(i + 1), SQL_C_DEFAULT, buf, sizeof buf, &len);
        QV_EXPECT_SUCCEEDED(rc, stmt);
        EXPECT_EQ(len, (SQLLEN)want(k).size());
        EXPECT_EQ(delivered(buf, len), want(k));
    }
}

TEST_P(default_types, BoundColumnsTakeTheDefaultCType)
{
    auto cases = column_cases();
    QV_ASSERT_SUCCEEDED(run(select_all()), stmt);
    std::vector<std::vector<unsigned char>> bufs(cases.size(), std::vector<unsigned char>(64, 0xEE));
    std::vector<SQLLEN> lens(cases.size(), 0);
    for (size_t i = 0; i < cases.size(); i++)
        QV_ASSERT_SUCCEEDED(SQLBindCol(stmt, (SQLUSMALLINT)(i + 1), SQL_C_DEFAULT, bufs[i].data(),
                                       64, &lens[i]),
                            stmt);
    SQLHDESC ard = SQL_NULL_HDESC;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, sizeof ard, nullptr), SQL_SUCCESS);
    for (size_t i = 0; i < cases.size(); i++) {
        const column_case &k = cases[i];
        SCOPED_TRACE(k.name);
        SQLSMALLINT concise = 0, type = 0, code = -1;
        SQLSMALLINT rec = (SQLSMALLINT)(i + 1);
        EXPECT_EQ(SQLGetDescField(ard, rec, SQL_DESC_CONCISE_TYPE, &concise, 0, nullptr),
                  SQL_SUCCESS);
        EXPECT_EQ(SQLGetDescField(ard, rec, SQL_DESC_TYPE, &type, 0, nullptr), SQL_SUCCESS);
        EXPECT_EQ(SQLGetDescField(ard, rec, SQL_DESC_DATETIME_INTERVAL_CODE, &code, 0, nullptr),
                  SQL_SUCCESS);
        EXPECT_EQ(concise, want_c(k));
        bool datetime = k.sql3 == SQL_TYPE_DATE || k.sql3 == SQL_TYPE_TIME ||
                        k.sql3 == SQL_TYPE_TIMESTAMP;
        EXPECT_EQ(type, datetime ? SQL_DATETIME : want_c(k));
        EXPECT_EQ(code, !datetime                 ? 0
                        : k.sql3 == SQL_TYPE_DATE ? SQL_CODE_DATE
                        : k.sql3 == SQL_TYPE_TIME ? SQL_CODE_TIME
                                                  : SQL_CODE_TIMESTAMP);
    }
    QV_ASSERT_SUCCEEDED(SQLFetch(stmt), stmt);
    for (size_t i = 0; i < cases.size(); i++) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(lens[i], (SQLLEN)want(cases[i]).size());
        EXPECT_EQ(delivered(bufs[i].data(), lens[i]), want(cases[i]));
    }
}

// SQLColumns names each column's SQL type as the version reports it.
TEST_P(default_types, ColumnsNameTheSqlTypes)
{
    const char *names[] = {"CHAR", "VARCHAR", "LONGVARCHAR", "BINARY", "VARBINARY",
                           "LONGVARBINARY", "TINYINT", "TINYINT", "SMALLINT", "SMALLINT",
                           "INTEGER", "INTEGER", "BIGINT", "BIGINT", "REAL", "DOUBLE",
                           "DECIMAL", "BIT", "DATE", "TIME", "TIMESTAMP"};
    auto cases = column_cases();
    ASSERT_EQ(cases.size(), sizeof names / sizeof names[0]);
    QV_ASSERT_SUCCEEDED(SQLColumns(stmt, nullptr, 0, nullptr, 0, (SQLCHAR *)"qv_defaults",
                                   SQL_NTS, nullptr, 0),
                        stmt);
    for (size_t i = 0; i < cases.size(); i++) {
        SCOPED_TRACE(cases[i].name);
        QV_ASSERT_SUCCEEDED(SQLFetch(stmt), stmt);
        char column[64] = {0}, type_name[64] = {0};
        SQLSMALLINT data_type = 0;
        SQLLEN len = 0;
        QV_ASSERT_SUCCEEDED(SQLGetData(stmt, 4, SQL_C_CHAR, column, sizeof column, &len), stmt);
        QV_ASSERT_SUCCEEDED(SQLGetData(stmt, 5, SQL_C_SSHORT, &data_type, 0, &len), stmt);
        QV_ASSERT_SUCCEEDED(SQLGetData(stmt, 6, SQL_C_CHAR, type_name, sizeof type_name, &len),
                            stmt);
        EXPECT_STREQ(column, cases[i].name);
        EXPECT_EQ(data_type, odbc2 ? cases[i].sql2 : cases[i].sql3);
        EXPECT_STREQ(type_name, names[i]);
    }
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
}

// Parameters have no sign to follow: TINYINT passes its byte unsigned, the
// other integers signed. SQL types no column of this server has (GUID,
// FLOAT, NUMERIC, the wide types) are here too.
TEST_P(default_types, BoundParametersTakeTheDefaultCType)
{
    struct { SQLSMALLINT sql, c3, c2; } cases[] = {
        {SQL_CHAR, SQL_C_CHAR, SQL_C_CHAR},
        {SQL_LONGVARCHAR, SQL_C_CHAR, SQL_C_CHAR},
        {SQL_WVARCHAR, SQL_C_WCHAR, SQL_C_WCHAR},
        {SQL_WLONGVARCHAR, SQL_C_WCHAR, SQL_C_WCHAR},
        {SQL_VARBINARY, SQL_C_BINARY, SQL_C_BINARY},
        {SQL_NUMERIC, SQL_C_CHAR, SQL_C_CHAR},
        {SQL_DECIMAL, SQL_C_CHAR, SQL_C_CHAR},
        {SQL_TINYINT, SQL_C_UTINYINT, SQL_C_UTINYINT},
        {SQL_SMALLINT, SQL_C_SSHORT, SQL_C_SSHORT},
        {SQL_INTEGER, SQL_C_SLONG, SQL_C_SLONG},
        {SQL_BIGINT, SQL_C_SBIGINT, SQL_C_CHAR},
        {SQL_REAL, SQL_C_FLOAT, SQL_C_FLOAT},
        {SQL_FLOAT, SQL_C_DOUBLE, SQL_C_DOUBLE},
        {SQL_DOUBLE, SQL_C_DOUBLE, SQL_C_DOUBLE},
        {SQL_BIT, SQL_C_BIT, SQL_C_BIT},
        {SQL_GUID, SQL_C_GUID, SQL_C_GUID},
        {(SQLSMALLINT)(odbc2 ? SQL_DATE : SQL_TYPE_DATE), SQL_C_TYPE_DATE, SQL_C_DATE},
        {(SQLSMALLINT)(odbc2 ? SQL_TIME : SQL_TYPE_TIME), SQL_C_TYPE_TIME, SQL_C_TIME},
        {(SQLSMALLINT)(odbc2 ? SQL_TIMESTAMP : SQL_TYPE_TIMESTAMP), SQL_C_TYPE_TIMESTAMP,
         SQL_C_TIMESTAMP},
    };
    SQLHDESC apd = SQL_NULL_HDESC;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_PARAM_DESC, &apd, sizeof apd, nullptr),
              SQL_SUCCESS);
    unsigned char buf[64] = {0};
    SQLLEN len = 0;
    for (const auto &k : cases) {
        SCOPED_TRACE(k.sql);
        QV_ASSERT_SUCCEEDED(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_DEFAULT, k.sql, 10, 0,
                                             buf, sizeof buf, &len),
                            stmt);
        SQLSMALLINT concise = 0;
        EXPECT_EQ(SQLGetDescField(apd, 1, SQL_DESC_CONCISE_TYPE, &concise, 0, nullptr), SQL_SUCCESS);
        EXPECT_EQ(concise, odbc2 ? k.c2 : k.c3);
    }

    // a date bound with SQL_C_DEFAULT is read as the date structure
    SQL_DATE_STRUCT d = A_DATE;
    SQLLEN dlen = sizeof d;
    QV_ASSERT_SUCCEEDED(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_DEFAULT,
                                         odbc2 ? SQL_DATE : SQL_TYPE_DATE, 10, 0, &d, 0, &dlen),
                        stmt);
    QV_ASSERT_SUCCEEDED(run("SELECT CAST(? AS CHAR)"), stmt);
    QV_ASSERT_SUCCEEDED(SQLFetch(stmt), stmt);
    char out[32] = {0};
    SQLLEN olen = 0;
    QV_ASSERT_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_CHAR, out, sizeof out, &olen), stmt);
    EXPECT_STREQ(out, "2024-02-29");
}

INSTANTIATE_TEST_SUITE_P(Versions, default_types, testing::Values(SQL_OV_ODBC3, SQL_OV_ODBC2),
                         [](const testing::TestParamInfo<SQLINTEGER> &i) {
                             return i.param == SQL_OV_ODBC2 ? std::string("Odbc2")
                                                            : std::string("Odbc3");
                         });

} // namespace
