// Parameters through the driver manager against the test server, in each
// way a statement reaches the server: SQLExecDirect (text), SQLPrepare and
// SQLExecute with Text_Prepare (text) and without it (binary protocol).
// Values round-trip exactly, refusals carry their SQLSTATE, hostile text
// stays inside its literal in both quoting modes, data at execution carries
// 40 MB values, parameter arrays report per row, and binary rows read the
// same as text rows.
#include <gtest/gtest.h>

#include <malloc.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

enum mode { DIRECT, TEXT_PREPARE, SERVER_PREPARE };
const char *const mode_names[] = {"SQLExecDirect", "Text_Prepare", "server-side prepare"};

template <typename T> std::string raw(const T &v)
{
    return std::string(reinterpret_cast<const char *>(&v), sizeof v);
}

std::string wide(const std::u16string &s)
{
    return std::string(reinterpret_cast<const char *>(s.data()), 2 * s.size());
}

SQL_TIMESTAMP_STRUCT ts(int y, int mo, int d, int h, int mi, int s, unsigned frac)
{
    SQL_TIMESTAMP_STRUCT t = {(SQLSMALLINT)y, (SQLUSMALLINT)mo, (SQLUSMALLINT)d, (SQLUSMALLINT)h,
                              (SQLUSMALLINT)mi, (SQLUSMALLINT)s, frac};
    return t;
}

SQL_NUMERIC_STRUCT numeric(int precision, int scale, int sign, uint64_t magnitude)
{
    SQL_NUMERIC_STRUCT n;
    memset(&n, 0, sizeof n);
    n.precision = (SQLCHAR)precision;
    n.scale = (SQLSCHAR)scale;
    n.sign = (SQLCHAR)sign;
    for (int i = 0; i < 8; i++)
        n.val[i] = (SQLCHAR)(magnitude >> (8 * i));
    return n;
}

std::string hexdump(const std::string &b)
{
    static const char d[] = "0123456789ABCDEF";
    std::string r;
    for (unsigned char c : b.substr(0, 64)) {
        r += d[c >> 4];
        r += d[c & 15];
    }
    return b.size() > 64 ? r + "..." : r;
}

const SQLLEN LEN = -999;   // the indicator is the value's length

// UTF-16 of UTF-8 text (well-formed input only).
std::u16string utf16(const std::string &u8)
{
    std::u16string r;
    for (size_t i = 0; i < u8.size();) {
        unsigned char c = (unsigned char)u8[i];
        int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (int k = 1; k < n; k++)
            cp = cp << 6 | ((unsigned char)u8[i + (size_t)k] & 0x3F);
        i += (size_t)n;
        if (cp >= 0x10000) {
            r += (char16_t)(0xD800 + ((cp - 0x10000) >> 10));
            r += (char16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            r += (char16_t)cp;
        }
    }
    return r;
}


// A connection in one mode and a statement on it.
struct session {
    qv::connection conn;
    qv::handle stmt;
    mode m;

    explicit session(mode how, const std::string &extra = "") : m(how)
    {
        std::string opts = extra + (how == TEXT_PREPARE ? "Text_Prepare=1;" : "");
        SQLRETURN rc = conn.connect(qv::conn_str(opts));
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(conn.dbc));
        stmt = qv::alloc_stmt(conn.dbc);
    }
    SQLRETURN direct(const std::string &sql)
    {
        return SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
    }
    void ok(const std::string &sql)
    {
        SQLRETURN rc = direct(sql);
        ASSERT_TRUE(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) << sql << "\n"
                                                            << qv::describe(qv::diagnostics(stmt));
        SQLFreeStmt(stmt, SQL_CLOSE);
    }
    // Runs sql with the bound parameters in this session's mode.
    SQLRETURN run(const std::string &sql)
    {
        if (m == DIRECT)
            return direct(sql);
        SQLRETURN rc = SQLPrepare(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
        if (!SQL_SUCCEEDED(rc))
            return rc;
        return SQLExecute(stmt);
    }
    std::string state() { return qv::first_state(stmt); }
    std::string diags() { return qv::describe(qv::diagnostics(stmt)); }
};

// Reads column 1 of the next row in as many pieces as it takes.
SQLRETURN read_value(SQLHSTMT st, int c_type, std::string *out, SQLLEN *ind)
{
    out->clear();
    char buf[65536];
    for (;;) {
        SQLLEN got = 0;
        SQLRETURN rc = SQLGetData(st, 1, (SQLSMALLINT)c_type, buf, sizeof buf, &got);
        if (rc == SQL_NO_DATA)
            return SQL_SUCCESS;
        if (!SQL_SUCCEEDED(rc))
            return rc;
        *ind = got;
        if (got == SQL_NULL_DATA)
            return SQL_SUCCESS;
        size_t term = c_type == SQL_C_CHAR ? 1 : c_type == SQL_C_WCHAR ? 2 : 0;
        size_t room = sizeof buf - term;
        size_t n = got == SQL_NO_TOTAL || (size_t)got > room ? room : (size_t)got;
        out->append(buf, n);
        if (rc == SQL_SUCCESS)
            return rc;
        if (term == 0 && c_type != SQL_C_BINARY)
            return rc;   // fixed-size value with a warning
    }
}

std::string fetch_one(session &s, const std::string &sql, int c_type, SQLLEN *ind)
{
    std::string v;
    *ind = 0;
    SQLRETURN rc = s.direct(sql);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << s.diags();
    rc = SQLFetch(s.stmt);
    EXPECT_EQ(rc, SQL_SUCCESS) << s.diags();
    rc = read_value(s.stmt, c_type, &v, ind);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << s.diags();
    SQLFreeStmt(s.stmt, SQL_CLOSE);
    return v;
}

// ------------------------------------------------------------------ round trips

struct round_trip {
    const char *name;
    const char *column;   // the column's type
    int c_type, sql_type;
    SQLULEN size;
    int scale;
    std::string value;
    SQLLEN ind;
    int read_type;
    std::string expect;   // what SQLGetData gives back ("" with read_ind NULL for NULL)
};

std::vector<round_trip> round_trips()
{
    const SQLGUID guid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    const std::string utf8 = "h\xC3\xA9llo \xF0\x9D\x84\x9E '\\\" \xE6\x97\xA5";
    const std::string bin("\x00\x01\xFF'\\\x1A\"", 7);
    SQL_DATE_STRUCT date = {2014, 5, 6};
    SQL_TIME_STRUCT time = {10, 20, 30};
    return {
        {"int", "INT", SQL_C_SLONG, SQL_INTEGER, 10, 0, raw<int32_t>(-5), 0, SQL_C_SLONG,
         raw<int32_t>(-5)},
        {"int min", "INT", SQL_C_SLONG, SQL_INTEGER, 10, 0, raw<int32_t>(INT32_MIN), 0,
         SQL_C_SLONG, raw<int32_t>(INT32_MIN)},
        {"int unsigned", "INT UNSIGNED", SQL_C_ULONG, SQL_INTEGER, 10, 0,
         raw<uint32_t>(4000000000u), 0, SQL_C_ULONG, raw<uint32_t>(4000000000u)},
        {"smallint", "SMALLINT", SQL_C_SSHORT, SQL_SMALLINT, 5, 0, raw<int16_t>(-32768), 0,
         SQL_C_SSHORT, raw<int16_t>(-32768)},
        {"smallint unsigned", "SMALLINT UNSIGNED", SQL_C_USHORT, SQL_SMALLINT, 5, 0,
         raw<uint16_t>(65535), 0, SQL_C_USHORT, raw<uint16_t>(65535)},
        {"tinyint", "TINYINT", SQL_C_STINYINT, SQL_TINYINT, 3, 0, raw<int8_t>(-128), 0,
         SQL_C_STINYINT, raw<int8_t>(-128)},
        {"tinyint unsigned", "TINYINT UNSIGNED", SQL_C_UTINYINT, SQL_TINYINT, 3, 0,
         raw<uint8_t>(255), 0, SQL_C_UTINYINT, raw<uint8_t>(255)},
        {"bigint", "BIGINT", SQL_C_SBIGINT, SQL_BIGINT, 19, 0, raw<int64_t>(INT64_MIN), 0,
         SQL_C_SBIGINT, raw<int64_t>(INT64_MIN)},
        {"bigint unsigned", "BIGINT UNSIGNED", SQL_C_UBIGINT, SQL_BIGINT, 20, 0,
         raw<uint64_t>(UINT64_MAX), 0, SQL_C_UBIGINT, raw<uint64_t>(UINT64_MAX)},
        {"double", "DOUBLE", SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, raw<double>(0.1), 0, SQL_C_DOUBLE,
         raw<double>(0.1)},
        {"double pi", "DOUBLE", SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, raw<double>(3.141592653589793),
         0, SQL_C_DOUBLE, raw<double>(3.141592653589793)},
        {"double large", "DOUBLE", SQL_C_DOUBLE, SQL_FLOAT, 15, 0, raw<double>(-1.25e300), 0,
         SQL_C_DOUBLE, raw<double>(-1.25e300)},
        {"double small", "DOUBLE", SQL_C_DOUBLE, SQL_DOUBLE, 15, 0,
         raw<double>(2.2250738585072014e-308), 0, SQL_C_DOUBLE,
         raw<double>(2.2250738585072014e-308)},
        {"float", "FLOAT", SQL_C_FLOAT, SQL_REAL, 7, 0, raw<float>(0.1f), 0, SQL_C_FLOAT,
         raw<float>(0.1f)},
        {"double to int", "INT", SQL_C_DOUBLE, SQL_INTEGER, 10, 0, raw<double>(-2.0), 0,
         SQL_C_SLONG, raw<int32_t>(-2)},
        {"bit", "TINYINT", SQL_C_BIT, SQL_BIT, 1, 0, raw<uint8_t>(1), 0, SQL_C_BIT,
         raw<uint8_t>(1)},
        {"decimal from numeric", "DECIMAL(20,4)", SQL_C_NUMERIC, SQL_DECIMAL, 20, 4,
         raw(numeric(20, 4, 1, 123456789)), 0, SQL_C_CHAR, "12345.6789"},
        {"decimal from text", "DECIMAL(38,10)", SQL_C_CHAR, SQL_DECIMAL, 38, 10,
         "-1234567890123456789012345678.0123456789", SQL_NTS, SQL_C_CHAR,
         "-1234567890123456789012345678.0123456789"},
        {"decimal from double", "DECIMAL(10,2)", SQL_C_DOUBLE, SQL_DECIMAL, 10, 2,
         raw<double>(2.675), 0, SQL_C_CHAR, "2.68"},
        {"text to int", "INT", SQL_C_CHAR, SQL_INTEGER, 10, 0, " 42 ", SQL_NTS, SQL_C_SLONG,
         raw<int32_t>(42)},
        {"int as varchar", "VARCHAR(20)", SQL_C_SLONG, SQL_VARCHAR, 20, 0, raw<int32_t>(42), 0,
         SQL_C_CHAR, "42"},
        {"varchar", "VARCHAR(100) CHARACTER SET utf8mb4", SQL_C_CHAR, SQL_VARCHAR, 100, 0, utf8,
         SQL_NTS, SQL_C_CHAR, utf8},
        {"wide", "VARCHAR(100) CHARACTER SET utf8mb4", SQL_C_WCHAR, SQL_WVARCHAR, 100, 0,
         wide(u"\u65E5\u672C\u8A9E \U0001D11E '"), LEN, SQL_C_WCHAR,
         wide(u"\u65E5\u672C\u8A9E \U0001D11E '")},
        {"text", "TEXT CHARACTER SET utf8mb4", SQL_C_CHAR, SQL_LONGVARCHAR, 1000, 0, utf8, LEN,
         SQL_C_CHAR, utf8},
        {"varbinary", "VARBINARY(100)", SQL_C_BINARY, SQL_VARBINARY, 100, 0, bin, LEN,
         SQL_C_BINARY, bin},
        {"blob", "BLOB", SQL_C_BINARY, SQL_LONGVARBINARY, 100, 0, bin, LEN, SQL_C_BINARY, bin},
        {"hex text to binary", "VARBINARY(10)", SQL_C_CHAR, SQL_VARBINARY, 10, 0, "0x41FF",
         SQL_NTS, SQL_C_BINARY, "\x41\xFF"},
        {"date", "DATE", SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, raw(date), 0, SQL_C_TYPE_DATE,
         raw(date)},
        {"time", "TIME", SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, raw(time), 0, SQL_C_TYPE_TIME,
         raw(time)},
        {"datetime(6)", "DATETIME(6)", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 26, 6,
         raw(ts(2014, 5, 6, 7, 8, 9, 123456000)), 0, SQL_C_TYPE_TIMESTAMP,
         raw(ts(2014, 5, 6, 7, 8, 9, 123456000))},
        {"text to datetime", "DATETIME", SQL_C_CHAR, SQL_TYPE_TIMESTAMP, 19, 0,
         "2014-05-06 07:08:09", SQL_NTS, SQL_C_CHAR, "2014-05-06 07:08:09"},
        {"guid", "CHAR(36)", SQL_C_GUID, SQL_GUID, 36, 0, raw(guid), 0, SQL_C_CHAR,
         "12345678-9ABC-DEF0-0102-030405060708"},
        {"null", "INT", SQL_C_SLONG, SQL_INTEGER, 10, 0, raw<int32_t>(1), SQL_NULL_DATA,
         SQL_C_SLONG, ""},
    };
}

class modes : public ::testing::TestWithParam<mode> {};

TEST_P(modes, EveryConversionRoundTrips)
{
    session s(GetParam());
    ASSERT_TRUE(s.conn.connected);
    for (const round_trip &c : round_trips()) {
        SCOPED_TRACE(c.name);
        s.ok("DROP TABLE IF EXISTS rt");
        s.ok(std::string("CREATE TABLE rt (v ") + c.column + ")");
        std::string value = c.value + std::string(4, '\0');
        SQLLEN ind = c.ind == LEN ? (SQLLEN)c.value.size() : c.ind;
        SQLRETURN rc = SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, (SQLSMALLINT)c.c_type,
                                        (SQLSMALLINT)c.sql_type, c.size, (SQLSMALLINT)c.scale,
                                        &value[0], (SQLLEN)value.size(), &ind);
        ASSERT_EQ(rc, SQL_SUCCESS) << s.diags();
        rc = s.run("INSERT INTO rt VALUES (?)");
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << s.diags();
        SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
        SQLLEN got_ind;
        std::string got = fetch_one(s, "SELECT v FROM rt", c.read_type, &got_ind);
        if (c.ind == SQL_NULL_DATA) {
            EXPECT_EQ(got_ind, SQL_NULL_DATA);
        } else {
            EXPECT_EQ(hexdump(got), hexdump(c.expect));
        }
    }
}

struct refusal {
    const char *name;
    int column;   // 1: v SMALLINT, 2: w TINYINT
    int c_type, sql_type;
    std::string value;
    SQLLEN ind;
    const char *state;   // in every mode; null: the server takes the value in binary mode
    const char *text_state;
};

TEST_P(modes, RefusedConversionsGiveTheirSqlstate)
{
    session s(GetParam());
    ASSERT_TRUE(s.conn.connected);
    s.ok("DROP TABLE IF EXISTS rf");
    s.ok("CREATE TABLE rf (v SMALLINT, w TINYINT)");
    SQL_DATE_STRUCT date = {2014, 5, 6};
    const refusal cases[] = {
        {"date as bigint", 1, SQL_C_TYPE_DATE, SQL_BIGINT, raw(date), 0, "07006", "07006"},
        {"date as double", 1, SQL_C_TYPE_DATE, SQL_DOUBLE, raw(date), 0, "07006", "07006"},
        // out of range: found by the driver in binary mode, by the server in text
        {"out of range", 1, SQL_C_CHAR, SQL_SMALLINT, "70000", SQL_NTS, "22003", "22003"},
        {"tinyint out of range", 2, SQL_C_SLONG, SQL_TINYINT, raw<int32_t>(-200), 0, "22003",
         "22003"},
        {"infinity", 1, SQL_C_DOUBLE, SQL_DOUBLE, raw<double>(INFINITY), 0, "22003", "22003"},
        {"not a number", 1, SQL_C_CHAR, SQL_INTEGER, "abc", SQL_NTS, "22018", "22018"},
        // never part of the statement's text; a bound value reads up to its
        // first non-digit, as strtol would
        {"an injection", 1, SQL_C_CHAR, SQL_INTEGER, "1); DROP TABLE rf; --", SQL_NTS, nullptr,
         "22018"},
    };
    int inserted = 0;
    for (const refusal &c : cases) {
        SCOPED_TRACE(c.name);
        std::string value = c.value;
        SQLLEN ind = c.ind;
        int32_t zero = 0;
        SQLLEN zind = 0;
        ASSERT_EQ(SQLBindParameter(s.stmt, (SQLUSMALLINT)c.column, SQL_PARAM_INPUT,
                                   (SQLSMALLINT)c.c_type, (SQLSMALLINT)c.sql_type, 10, 0,
                                   &value[0], 0, &ind), SQL_SUCCESS);
        ASSERT_EQ(SQLBindParameter(s.stmt, (SQLUSMALLINT)(3 - c.column), SQL_PARAM_INPUT,
                                   SQL_C_SLONG, SQL_INTEGER, 10, 0, &zero, 0, &zind),
                  SQL_SUCCESS);
        const char *want = GetParam() == SERVER_PREPARE ? c.state : c.text_state;
        SQLRETURN rc = s.run("INSERT INTO rf VALUES (?, ?)");
        if (want) {
            EXPECT_EQ(rc, SQL_ERROR);
            EXPECT_EQ(s.state(), want) << s.diags();
        } else {
            EXPECT_EQ(rc, SQL_SUCCESS) << s.diags();
            inserted++;
        }
        SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
    }
    // a parameter not bound
    int32_t v = 1;
    SQLLEN vind = 0;
    ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &v,
                               0, &vind), SQL_SUCCESS);
    EXPECT_EQ(s.run("INSERT INTO rf VALUES (?, ?)"), SQL_ERROR);
    EXPECT_EQ(s.state(), "07002");
    SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
    // and the bind-time refusals
    struct bind_refusal {
        int io, c_type, sql_type;
        SQLULEN size;
        const char *state;
    } binds[] = {
        {SQL_PARAM_INPUT, 1234, SQL_INTEGER, 10, "HY003"},
        {SQL_PARAM_INPUT, SQL_C_SLONG, 1234, 10, "HY004"},
        {SQL_PARAM_INPUT, SQL_C_CHAR, SQL_DECIMAL, 0, "HY104"},
        {7, SQL_C_SLONG, SQL_INTEGER, 10, "HY105"},
    };
    for (const bind_refusal &b : binds) {
        EXPECT_EQ(SQLBindParameter(s.stmt, 1, (SQLSMALLINT)b.io, (SQLSMALLINT)b.c_type,
                                   (SQLSMALLINT)b.sql_type, b.size, 0, &v, 0, &vind),
                  SQL_ERROR);
        EXPECT_EQ(s.state(), b.state);
    }
    // nothing else got in, and the table is still there
    SQLLEN ind;
    EXPECT_EQ(fetch_one(s, "SELECT COUNT(*) FROM rf", SQL_C_SLONG, &ind), raw<int32_t>(inserted));
}

// Values that attack the literal form, in both quoting modes of the server.
TEST_P(modes, HostileTextRoundTripsInBothQuotingModes)
{
    const std::vector<std::string> hostile = {
        "\\'; DROP TABLE hv; --",
        "it's \"quoted\" \\ back\\slash \\",
        std::string("nul\0byte\0", 9),
        "'' ''' \\\\' \\",
        "\b\t\n\r\x1a%_",
        "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
    };
    for (const char *sql_mode : {"DEFAULT", "'NO_BACKSLASH_ESCAPES'"}) {
        SCOPED_TRACE(sql_mode);
        session s(GetParam());
        ASSERT_TRUE(s.conn.connected);
        s.ok(std::string("SET SESSION sql_mode = ") + sql_mode);
        s.ok("DROP TABLE IF EXISTS hv");
        s.ok("CREATE TABLE hv (id INT, v VARCHAR(200) CHARACTER SET utf8mb4, "
             "b VARBINARY(200), w VARCHAR(200) CHARACTER SET utf8mb4)");
        for (size_t i = 0; i < hostile.size(); i++) {
            SCOPED_TRACE(hexdump(hostile[i]));
            int32_t id = (int32_t)i;
            std::string v = hostile[i];
            SQLLEN id_ind = 0, v_ind = (SQLLEN)v.size(), b_ind = (SQLLEN)v.size();
            std::u16string w16 = utf16(v);   // the same characters as wide text
            SQLLEN w_ind = (SQLLEN)(2 * w16.size());
            ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10,
                                       0, &id, 0, &id_ind), SQL_SUCCESS);
            ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 200,
                                       0, &v[0], 0, &v_ind), SQL_SUCCESS);
            ASSERT_EQ(SQLBindParameter(s.stmt, 3, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY,
                                       200, 0, &v[0], 0, &b_ind), SQL_SUCCESS);
            ASSERT_EQ(SQLBindParameter(s.stmt, 4, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                                       200, 0, &w16[0], 0, &w_ind), SQL_SUCCESS);
            SQLRETURN rc = s.run("INSERT INTO hv VALUES (?, ?, ?, ?)");
            ASSERT_TRUE(SQL_SUCCEEDED(rc)) << s.diags();
            SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
            SQLLEN ind;
            std::string where = " FROM hv WHERE id = " + std::to_string(i);
            EXPECT_EQ(hexdump(fetch_one(s, "SELECT v" + where, SQL_C_CHAR, &ind)),
                      hexdump(v));
            EXPECT_EQ(hexdump(fetch_one(s, "SELECT b" + where, SQL_C_BINARY, &ind)),
                      hexdump(v));
            EXPECT_EQ(hexdump(fetch_one(s, "SELECT w" + where, SQL_C_WCHAR, &ind)),
                      hexdump(std::string(reinterpret_cast<const char *>(w16.data()),
                                          2 * w16.size())));
        }
        SQLLEN ind;
        EXPECT_EQ(fetch_one(s, "SELECT COUNT(*) FROM hv", SQL_C_SLONG, &ind),
                  raw<int32_t>((int32_t)hostile.size()));
    }
}

// ------------------------------------------------------------------ data at execution

// A value made of n pseudo-random bytes (printable for text).
std::string big_value(size_t n, bool text)
{
    std::string v(n, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        v[i] = text ? (char)('a' + (x >> 16) % 26) : (char)(x >> 16);
    }
    if (text)
        for (size_t i = 1000; i < n; i += 100003)
            v[i] = "'\\\"\n"[i % 4];   // a few characters that need escaping
    return v;
}

TEST_P(modes, FortyMegabytesInOneMegabytePieces)
{
    session s(GetParam());
    ASSERT_TRUE(s.conn.connected);
    s.ok("DROP TABLE IF EXISTS dae");
    s.ok("CREATE TABLE dae (id INT, b LONGBLOB, t LONGTEXT)");
    const size_t size = 40u << 20, piece = 1u << 20;
    const std::string blob = big_value(size, false), text = big_value(size, true);
    int32_t id = 1;
    SQLLEN id_ind = 0, b_ind = SQL_LEN_DATA_AT_EXEC((SQLLEN)size), t_ind = SQL_DATA_AT_EXEC;
    char tokens[2];
    ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &id,
                               0, &id_ind), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                               size, 0, &tokens[0], 0, &b_ind), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, size, 0,
                               &tokens[1], 0, &t_ind), SQL_SUCCESS);
    ASSERT_EQ(s.run("INSERT INTO dae VALUES (?, ?, ?)"), SQL_NEED_DATA) << s.diags();
    SQLPOINTER token = nullptr;
    SQLRETURN rc;
    while ((rc = SQLParamData(s.stmt, &token)) == SQL_NEED_DATA) {
        const std::string &v = token == &tokens[0] ? blob : text;
        ASSERT_TRUE(token == &tokens[0] || token == &tokens[1]);
        for (size_t at = 0; at < size; at += piece)
            ASSERT_EQ(SQLPutData(s.stmt, (SQLPOINTER)(v.data() + at), (SQLLEN)piece),
                      SQL_SUCCESS) << s.diags();
    }
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << s.diags();
    SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
    SQLLEN ind;
    std::string got = fetch_one(s, "SELECT b FROM dae", SQL_C_BINARY, &ind);
    EXPECT_EQ(got.size(), size);
    EXPECT_TRUE(got == blob);
    got = fetch_one(s, "SELECT t FROM dae", SQL_C_CHAR, &ind);
    EXPECT_EQ(got.size(), size);
    EXPECT_TRUE(got == text);
}

// Every row of a parameter array may give its data at execution: the
// execution stops for each row, and the rows processed tell which.
TEST_P(modes, DataAtExecutionForEveryRowOfAnArray)
{
    session s(GetParam());
    ASSERT_TRUE(s.conn.connected);
    s.ok("DROP TABLE IF EXISTS daea");
    s.ok("CREATE TABLE daea (id INT, t TEXT)");
    int32_t ids[3] = {1, 2, 3};
    SQLLEN id_ind[3] = {0, 0, 0}, t_ind[3] = {SQL_DATA_AT_EXEC, SQL_DATA_AT_EXEC, SQL_DATA_AT_EXEC};
    char token[3][4];
    SQLULEN processed = 0;
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)3, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, ids, 0,
                               id_ind), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, 100, 0,
                               token, 4, t_ind), SQL_SUCCESS);
    SQLRETURN rc = s.run("INSERT INTO daea VALUES (?, ?)");
    int asked = 0;
    while (rc == SQL_NEED_DATA) {
        SQLPOINTER t = nullptr;
        rc = SQLParamData(s.stmt, &t);
        if (rc != SQL_NEED_DATA)
            break;
        EXPECT_EQ(t, (SQLPOINTER)token);
        std::string v = "it's row " + std::to_string(processed);
        ASSERT_EQ(SQLPutData(s.stmt, (SQLPOINTER)v.data(), (SQLLEN)v.size()), SQL_SUCCESS)
            << s.diags();
        asked++;
    }
    EXPECT_EQ(rc, SQL_SUCCESS) << s.diags();
    EXPECT_EQ(asked, 3);
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)1, 0), SQL_SUCCESS);
    SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
    SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
    SQLLEN ind;
    EXPECT_EQ(fetch_one(s, "SELECT GROUP_CONCAT(CONCAT(id, ':', t) ORDER BY id) FROM daea",
                        SQL_C_CHAR, &ind),
              "1:it's row 1,2:it's row 2,3:it's row 3");
}

// ------------------------------------------------------------------ arrays

TEST_P(modes, ParameterArraysReportEveryRow)
{
    session s(GetParam());
    ASSERT_TRUE(s.conn.connected);
    s.ok("DROP TABLE IF EXISTS pa");
    s.ok("CREATE TABLE pa (id INT PRIMARY KEY, name VARCHAR(20))");
    s.ok("INSERT INTO pa VALUES (500, 'taken')");
    const int n = 1000;
    std::vector<int32_t> ids(n);
    std::vector<char> names((size_t)n * 20);
    std::vector<SQLLEN> id_ind(n, 0), name_ind(n, SQL_NTS);
    std::vector<SQLUSMALLINT> status(n, 99), ops(n, SQL_PARAM_PROCEED);
    for (int i = 0; i < n; i++) {
        ids[i] = i;
        snprintf(&names[(size_t)i * 20], 20, "row '%d'", i);
    }
    ops[10] = ops[20] = SQL_PARAM_IGNORE;
    SQLULEN processed = 0;
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)(intptr_t)n, 0),
              SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_OPERATION_PTR, ops.data(), 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0,
                               ids.data(), 0, id_ind.data()), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0,
                               names.data(), 20, name_ind.data()), SQL_SUCCESS);
    EXPECT_EQ(s.run("INSERT INTO pa VALUES (?, ?)"), SQL_SUCCESS_WITH_INFO) << s.diags();
    EXPECT_EQ(processed, (SQLULEN)n);
    for (int i = 0; i < n; i++) {
        SQLUSMALLINT want = i == 500 ? SQL_PARAM_ERROR
                            : (i == 10 || i == 20) ? SQL_PARAM_UNUSED : SQL_PARAM_SUCCESS;
        EXPECT_EQ(status[i], want) << "row " << i;
    }
    ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)1, 0), SQL_SUCCESS);
    SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_OPERATION_PTR, nullptr, 0);
    SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
    SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
    SQLLEN ind;
    EXPECT_EQ(fetch_one(s, "SELECT COUNT(*) FROM pa", SQL_C_SLONG, &ind), raw<int32_t>(998));
    EXPECT_EQ(fetch_one(s, "SELECT name FROM pa WHERE id = 999", SQL_C_CHAR, &ind), "row '999'");
}

// A prepared statement's parameters as described: the server types none of
// them before execution (it says NULL), a text prepare describes text.
TEST_P(modes, DescribeParamAfterPrepare)
{
    if (GetParam() == DIRECT)
        GTEST_SKIP() << "only a prepared statement has parameters to describe";
    session s(GetParam());
    ASSERT_TRUE(s.conn.connected);
    SQLSMALLINT type = -99, digits = -99, nullable = -99, count = 0;
    SQLULEN size = 0;
    ASSERT_EQ(SQLPrepare(s.stmt, (SQLCHAR *)"SELECT ? + 1, ?", SQL_NTS), SQL_SUCCESS) << s.diags();
    EXPECT_EQ(SQLNumParams(s.stmt, &count), SQL_SUCCESS);
    EXPECT_EQ(count, 2);
    for (SQLUSMALLINT n : {1, 2}) {
        EXPECT_EQ(SQLDescribeParam(s.stmt, n, &type, &size, &digits, &nullable), SQL_SUCCESS)
            << s.diags();
        EXPECT_EQ(type, SQL_VARCHAR);
        EXPECT_GT(size, 0u);
        EXPECT_EQ(digits, 0);
        EXPECT_EQ(nullable, SQL_NULLABLE);
    }
    for (SQLUSMALLINT n : {0, 3}) {
        EXPECT_EQ(SQLDescribeParam(s.stmt, n, &type, &size, &digits, &nullable), SQL_ERROR);
        EXPECT_EQ(s.state(), "07009");
    }
}

INSTANTIATE_TEST_SUITE_P(Params, modes, ::testing::Values(DIRECT, TEXT_PREPARE, SERVER_PREPARE),
                         [](const ::testing::TestParamInfo<mode> &i) {
                             return std::string(i.param == DIRECT         ? "ExecDirect"
                                                : i.param == TEXT_PREPARE ? "TextPrepare"
                                                                          : "ServerPrepare");
                         });

// ------------------------------------------------------------------ binary rows

// Every column type read through a prepared SELECT (binary rows) gives what
// the same SELECT gives as text rows, as text and as the held value's image.
TEST(BinaryRows, ReadTheSameAsTextRows)
{
    session s(SERVER_PREPARE);
    ASSERT_TRUE(s.conn.connected);
    s.ok("DROP TABLE IF EXISTS br");
    s.ok("CREATE TABLE br (ti TINYINT, tu TINYINT UNSIGNED, si SMALLINT, su SMALLINT UNSIGNED,"
         " mi MEDIUMINT, i INT, iu INT UNSIGNED, bi BIGINT, bu BIGINT UNSIGNED, f FLOAT,"
         " d DOUBLE, de DECIMAL(20,6), y YEAR, da DATE, t TIME, t3 TIME(3), dt DATETIME,"
         " dt6 DATETIME(6), tsc TIMESTAMP(2) NULL, c CHAR(5), vc VARCHAR(50) CHARACTER SET utf8mb4,"
         " vb VARBINARY(20), tx TEXT, bl BLOB, b1 BIT(1), b10 BIT(10),"
         " e ENUM('a','b'), st SET('x','y'), j JSON)");
    s.ok("INSERT INTO br VALUES (-128, 255, -32768, 65535, -8388608, -2147483648, 4294967295,"
         " -9223372036854775808, 18446744073709551615, 0.1, 3.141592653589793, -12345.678901,"
         " 2014, '2014-05-06', '-838:59:59', '12:34:56.789', '2014-05-06 07:08:09',"
         " '2014-05-06 07:08:09.123456', '2014-05-06 07:08:09.12', 'ab', 'h\xC3\xA9 \xF0\x9F\x98\x80',"
         " x'00FF10', 'text', x'0001', b'1', b'1010101010', 'b', 'x,y', '{\"k\": [1, 2]}')");
    s.ok("INSERT INTO br VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
         " NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
         " NULL, NULL, NULL, NULL)");
    const std::string select = "SELECT * FROM br ORDER BY ti IS NULL";
    auto read_all = [&](bool prepared, int c_type) {
        std::vector<std::string> cells;
        SQLRETURN rc = prepared ? SQLPrepare(s.stmt, (SQLCHAR *)select.c_str(), SQL_NTS) : SQL_SUCCESS;
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << s.diags();
        rc = prepared ? SQLExecute(s.stmt) : s.direct(select);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << s.diags();
        SQLSMALLINT cols = 0;
        SQLNumResultCols(s.stmt, &cols);
        EXPECT_EQ(cols, 29);
        while (SQLFetch(s.stmt) == SQL_SUCCESS) {
            for (int k = 1; k <= cols; k++) {
                char buf[256];
                SQLLEN ind = 0;
                rc = SQLGetData(s.stmt, (SQLUSMALLINT)k, (SQLSMALLINT)c_type, buf, sizeof buf,
                                &ind);
                std::string cell = std::to_string(rc) + ":";
                if (SQL_SUCCEEDED(rc))
                    cell += ind == SQL_NULL_DATA ? "NULL"
                                                 : std::string(buf, (size_t)(ind < (SQLLEN)sizeof buf ? ind : sizeof buf));
                else
                    cell += s.state();
                cells.push_back(std::to_string(k) + "=" + hexdump(cell));
            }
        }
        SQLFreeStmt(s.stmt, SQL_CLOSE);
        return cells;
    };
    for (int c_type : {SQL_C_CHAR, SQL_C_BINARY, SQL_C_SBIGINT, SQL_C_DOUBLE}) {
        SCOPED_TRACE(c_type);
        std::vector<std::string> text = read_all(false, c_type);
        std::vector<std::string> binary = read_all(true, c_type);
        EXPECT_EQ(text.size(), 58u);
        EXPECT_EQ(binary, text);
    }
}

// A prepared statement executed many times with different values keeps its
// memory: nothing grows per execution.
TEST(PreparedStatement, TenThousandExecutionsWithoutGrowth)
{
    session s(SERVER_PREPARE);
    ASSERT_TRUE(s.conn.connected);
    s.ok("DROP TABLE IF EXISTS many");
    s.ok("CREATE TABLE many (i INT, v VARCHAR(40))");
    s.ok("BEGIN");
    int32_t i = 0;
    char v[40];
    SQLLEN i_ind = 0, v_ind = SQL_NTS;
    ASSERT_EQ(SQLPrepare(s.stmt, (SQLCHAR *)"INSERT INTO many VALUES (?, ?)", SQL_NTS),
              SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &i, 0,
                               &i_ind), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, v,
                               sizeof v, &v_ind), SQL_SUCCESS);
    size_t before = 0;
    for (i = 0; i < 10000; i++) {
        if (i == 1000)
            before = mallinfo2().uordblks;
        snprintf(v, sizeof v, "value %d", i * 7);
        SQLRETURN rc = SQLExecute(s.stmt);
        ASSERT_EQ(rc, SQL_SUCCESS) << s.diags();
    }
    size_t after = mallinfo2().uordblks;
    s.ok("COMMIT");
    EXPECT_LT(after, before + 64 * 1024) << before << " -> " << after;
    SQLLEN ind;
    EXPECT_EQ(fetch_one(s, "SELECT COUNT(*), SUM(i) FROM many", SQL_C_SLONG, &ind),
              raw<int32_t>(10000));
}

} // namespace
