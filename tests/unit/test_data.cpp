// Column values: text rows built by hand are read by the fetch's row reader
// (my_fetch_row, from the statement's queue) or column by column with
// read_text_column, and converted with my_get_data into every C type;
// piecewise retrieval,
// NULLs, default and descriptor types, SQLGetData's checks, and hostile rows
// cut short or carrying impossible lengths. Row packets are allocated to
// their exact size so that the sanitizer build catches any over-read.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_pkt.h"
#include "results/my_convert.h"
#include "results/my_data.h"
#include "results/my_fetch.h"
#include "results/my_internalrs.h"
#include "results/my_numeric.h"
#include "support/unit_support.h"

namespace {

const char *const NONE = "<none>";

std::string diag_state(const void *h, int n = 1) { return unit_support::diag_state(h, n, NONE); }

int diag_column(const void *h, int n = 1)
{
    diag_record *r = diag_get(h, n);
    return r ? r->column_number : -100;
}

// The attributes a column definition gives an IRD record.
struct col {
    int concise;
    int is_unsigned;
    int nullable;
    int precision;
    int scale;
    int charset;
};

col VARCHAR(int charset = 45) { return {SQL_VARCHAR, 0, 1, 32, 0, charset}; }
col VARBINARY() { return {SQL_VARBINARY, 0, 1, 16, 0, 63}; }
col TIMETEXT() { return {SQL_VARCHAR, 0, 1, 11, 0, 45}; }
col TINYINT(int uns = 0) { return {SQL_TINYINT, uns, 1, 3, 0, 63}; }
col SMALLINT(int uns = 0) { return {SQL_SMALLINT, uns, 1, 5, 0, 63}; }
col INT(int uns = 0) { return {SQL_INTEGER, uns, 1, 10, 0, 63}; }
col BIGINT(int uns = 0) { return {SQL_BIGINT, uns, 1, 19, 0, 63}; }
col REAL() { return {SQL_REAL, 0, 1, 24, 0, 63}; }
col DOUBLE() { return {SQL_DOUBLE, 0, 1, 53, 0, 63}; }
col DECIMAL(int p, int s) { return {SQL_DECIMAL, 0, 1, p, s, 63}; }
col DATE() { return {SQL_TYPE_DATE, 0, 1, 0, 0, 63}; }
col DATETIME(int scale = 0, int nullable = 1) { return {SQL_TYPE_TIMESTAMP, 0, nullable, scale, scale, 63}; }
col BIT1() { return {SQL_BIT, 1, 1, 1, 0, 63}; }

typedef std::optional<std::string> cell;
const cell NUL = std::nullopt;

// Raw payload of a text row: length-encoded cells, 0xFB for NULL.
std::string row_payload(const std::vector<cell> &cells)
{
    std::string b;
    for (const cell &c : cells) {
        if (!c) {
            b += '\xFB';
            continue;
        }
        size_t n = c->size();
        if (n < 251) {
            b += (char)n;
        } else if (n <= 0xFFFF) {
            b += '\xFC';
            b += (char)(n & 0xFF);
            b += (char)(n >> 8);
        } else {
            b += '\xFD';
            for (int i = 0; i < 3; i++)
                b += (char)(n >> (8 * i));
        }
        b += *c;
    }
    return b;
}

// An incoming packet holding exactly `payload`, in a buffer of that size.
my_packet *incoming(void *owner, const std::string &payload)
{
    my_packet *p = (my_packet *)calloc(1, sizeof *p);
    size_t n = payload.size();
    p->data = (unsigned char *)malloc(4 + n);
    p->data[0] = (unsigned char)n;
    p->data[1] = (unsigned char)(n >> 8);
    p->data[2] = (unsigned char)(n >> 16);
    p->data[3] = 1;
    if (n)
        memcpy(p->data + 4, payload.data(), n);
    p->limit = p->length = (int32_t)(4 + n);
    p->pos = 4;
    p->owner = owner;
    return p;
}

template <class T> std::string img(T v) { return std::string((const char *)&v, sizeof v); }

// Narrow text with its terminator; wide (UTF-16LE) text with its terminator.
std::string z(const std::string &s) { return s + std::string(1, '\0'); }
std::string w(const std::u16string &s)
{
    std::string r;
    for (char16_t u : s)
        r += img((uint16_t)u);
    return r + img((uint16_t)0);
}
std::string w(const char *ascii_text)
{
    std::u16string u;
    for (const char *p = ascii_text; *p; p++)
        u += (char16_t)*p;
    return w(u);
}

std::string numeric(int precision, int scale, int sign, uint64_t mag, uint64_t high = 0)
{
    sql_numeric_value v = {};
    v.precision = (unsigned char)precision;
    v.scale = (signed char)scale;
    v.sign = (unsigned char)sign;
    memcpy(v.val, &mag, 8);
    memcpy(v.val + 8, &high, 8);
    return img(v);
}

std::string date(int y, int m, int d) { return img(sql_date_value{(int16_t)y, (uint16_t)m, (uint16_t)d}); }
std::string time_of(int h, int m, int s) { return img(sql_time_value{(uint16_t)h, (uint16_t)m, (uint16_t)s}); }
std::string stamp(int y, int mo, int d, int h, int mi, int s, uint32_t f)
{
    return img(sql_timestamp_value{(int16_t)y, (uint16_t)mo, (uint16_t)d, (uint16_t)h, (uint16_t)mi,
                                   (uint16_t)s, f});
}

struct data_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *s = stmt_create(conn);

    void SetUp() override
    {
        env->odbc_version = SQL_OV_ODBC3;
        conn->charset = 45;
    }
    void TearDown() override { env_release(env); }

    void describe(const std::vector<col> &cols)
    {
        ASSERT_EQ(desc_set_records(s->ird, (int)cols.size()), 0);
        for (size_t i = 0; i < cols.size(); i++) {
            field &f = s->ird->records[i];
            f.concise_type = cols[i].concise;
            f.is_unsigned = cols[i].is_unsigned;
            f.nullable = cols[i].nullable;
            f.precision = cols[i].precision;
            f.scale = cols[i].scale;
            f.charset_number = cols[i].charset;
        }
        s->ird->described_count = (int)cols.size();
        s->ird->described_valid = 1;
        s->data_waiting = 1;
    }

    // Makes `payload` the current row (freeing the previous one).
    void set_row(const std::string &payload)
    {
        stmt_drop_row(s);
        s->current_row = incoming(s, payload);
    }

    // Reads a row with the fetch's own row reader, from the statement's
    // queue: 0 (SQL_SUCCESS), 1 (SQL_SUCCESS_WITH_INFO: a value did not
    // read as its type) or -1 (SQL_ERROR: the row is unusable).
    int load(const std::vector<cell> &cells)
    {
        std::string payload = row_payload(cells);
        clear_diagnostics(s);
        EXPECT_EQ(queue_append(s, payload.data(), payload.size(), 1), 0);
        s->data_waiting = 1;
        return my_fetch_row(s);
    }

    SQLRETURN get(int column, int type, void *buf, SQLLEN len, SQLLEN *ind, SQLLEN *oct = nullptr)
    {
        clear_diagnostics(s);
        return my_get_data(s, column, type, buf, len, ind, oct);
    }
};

// ----------------------------------------------------------- the matrix

struct get_case {
    const char *name;
    col column;
    cell value;
    int target;
    SQLLEN buffer_length;
    SQLRETURN rc;
    const char *state;       // first diagnostic, NONE for none
    std::string expect;      // target bytes (not checked for SQL_ERROR)
    SQLLEN length;           // indicator and octet length
};

const int64_t U32MAX = 4294967295LL;

const get_case matrix[] = {
    // integers from INT columns
    {"int slong", INT(), "42", SQL_C_SLONG, 0, SQL_SUCCESS, NONE, img<int32_t>(42), 4},
    {"int long", INT(), "-7", SQL_C_LONG, 0, SQL_SUCCESS, NONE, img<int32_t>(-7), 4},
    {"int ulong", INT(), "42", SQL_C_ULONG, 0, SQL_SUCCESS, NONE, img<uint32_t>(42), 4},
    {"int negative ulong", INT(), "-1", SQL_C_ULONG, 0, SQL_ERROR, "22003", "", 0},
    {"int sshort", INT(), "-32768", SQL_C_SSHORT, 0, SQL_SUCCESS, NONE, img<int16_t>(-32768), 2},
    {"int sshort range", INT(), "32768", SQL_C_SSHORT, 0, SQL_ERROR, "22003", "", 0},
    {"int ushort", INT(), "65535", SQL_C_USHORT, 0, SQL_SUCCESS, NONE, img<uint16_t>(65535), 2},
    {"int ushort range", INT(), "65536", SQL_C_USHORT, 0, SQL_ERROR, "22003", "", 0},
    {"int stiny", INT(), "-128", SQL_C_STINYINT, 0, SQL_SUCCESS, NONE, img<int8_t>(-128), 1},
    {"int stiny range", INT(), "128", SQL_C_STINYINT, 0, SQL_ERROR, "22003", "", 0},
    {"int utiny", INT(), "255", SQL_C_UTINYINT, 0, SQL_SUCCESS, NONE, img<uint8_t>(255), 1},
    {"int tinyint unsigned", INT(), "-1", SQL_C_TINYINT, 0, SQL_ERROR, "22003", "", 0},
    {"int bit", INT(), "1", SQL_C_BIT, 0, SQL_SUCCESS, NONE, img<uint8_t>(1), 1},
    {"int bit range", INT(), "2", SQL_C_BIT, 0, SQL_ERROR, "22003", "", 0},
    {"int sbigint", INT(), "-5", SQL_C_SBIGINT, 0, SQL_SUCCESS, NONE, img<int64_t>(-5), 8},
    {"int negative ubigint", INT(), "-5", SQL_C_UBIGINT, 0, SQL_ERROR, "22003", "", 0},
    {"int float", INT(), "42", SQL_C_FLOAT, 0, SQL_SUCCESS, NONE, img<float>(42), 4},
    {"int double", INT(), "-42", SQL_C_DOUBLE, 0, SQL_SUCCESS, NONE, img<double>(-42), 8},
    {"int char", INT(), "-2147483648", SQL_C_CHAR, 20, SQL_SUCCESS, NONE, z("-2147483648"), 11},
    {"int wchar", INT(), "42", SQL_C_WCHAR, 20, SQL_SUCCESS, NONE, w("42"), 4},
    {"int numeric", INT(), "-42", SQL_C_NUMERIC, 0, SQL_SUCCESS, NONE, numeric(12, 0, 0, 42), 19},
    {"int binary", INT(), "258", SQL_C_BINARY, 8, SQL_SUCCESS, NONE, img<int32_t>(258), 4},
    {"int binary cut", INT(), "258", SQL_C_BINARY, 2, SQL_SUCCESS_WITH_INFO, "01004",
     img<int16_t>(258), 4},
    {"int date", INT(), "1", SQL_C_DATE, 0, SQL_ERROR, "07006", "", 0},
    {"int guid", INT(), "1", SQL_C_GUID, 16, SQL_ERROR, "07006", "", 0},
    {"int unknown type", INT(), "1", 12345, 0, SQL_ERROR, "07006", "", 0},
    // unsigned INT and BIGINT values above the signed ranges
    {"uint slong", INT(1), "4294967295", SQL_C_SLONG, 0, SQL_ERROR, "22003", "", 0},
    {"uint ulong", INT(1), "4294967295", SQL_C_ULONG, 0, SQL_SUCCESS, NONE,
     img<uint32_t>(4294967295u), 4},
    {"uint sbigint", INT(1), "4294967295", SQL_C_SBIGINT, 0, SQL_SUCCESS, NONE, img<int64_t>(U32MAX), 8},
    {"uint double", INT(1), "4294967295", SQL_C_DOUBLE, 0, SQL_SUCCESS, NONE, img<double>(4294967295.0), 8},
    {"uint char", INT(1), "4294967295", SQL_C_CHAR, 20, SQL_SUCCESS, NONE, z("4294967295"), 10},
    {"ubigint sbigint", BIGINT(1), "18446744073709551615", SQL_C_SBIGINT, 0, SQL_ERROR, "22003", "", 0},
    {"ubigint ubigint", BIGINT(1), "18446744073709551615", SQL_C_UBIGINT, 0, SQL_SUCCESS, NONE,
     img<uint64_t>(UINT64_MAX), 8},
    {"ubigint double", BIGINT(1), "18446744073709551615", SQL_C_DOUBLE, 0, SQL_SUCCESS, NONE,
     img<double>(18446744073709551615.0), 8},
    {"ubigint char", BIGINT(1), "18446744073709551615", SQL_C_CHAR, 30, SQL_SUCCESS, NONE,
     z("18446744073709551615"), 20},
    {"ubigint numeric", BIGINT(1), "18446744073709551615", SQL_C_NUMERIC, 0, SQL_SUCCESS, NONE,
     numeric(20, 0, 1, UINT64_MAX), 19},
    {"bigint 2^40 slong", BIGINT(), "1099511627776", SQL_C_SLONG, 0, SQL_ERROR, "22003", "", 0},
    {"bigint min", BIGINT(), "-9223372036854775808", SQL_C_SBIGINT, 0, SQL_SUCCESS, NONE,
     img<int64_t>(INT64_MIN), 8},
    {"bigint min char", BIGINT(), "-9223372036854775808", SQL_C_CHAR, 30, SQL_SUCCESS, NONE,
     z("-9223372036854775808"), 20},
    {"tinyint unsigned utiny", TINYINT(1), "200", SQL_C_UTINYINT, 0, SQL_SUCCESS, NONE,
     img<uint8_t>(200), 1},
    {"smallint ushort", SMALLINT(1), "65535", SQL_C_USHORT, 0, SQL_SUCCESS, NONE, img<uint16_t>(65535), 2},
    // character values as numbers
    {"char 300 utiny", VARCHAR(), "300", SQL_C_UTINYINT, 0, SQL_ERROR, "22003", "", 0},
    {"char 300 stiny", VARCHAR(), "300", SQL_C_STINYINT, 0, SQL_ERROR, "22003", "", 0},
    {"char 300 sshort", VARCHAR(), "300", SQL_C_SSHORT, 0, SQL_SUCCESS, NONE, img<int16_t>(300), 2},
    {"char blanks", VARCHAR(), " 42 ", SQL_C_SLONG, 0, SQL_SUCCESS, NONE, img<int32_t>(42), 4},
    {"char 4x2", VARCHAR(), "4x2", SQL_C_SLONG, 0, SQL_ERROR, "22018", "", 0},
    {"char empty", VARCHAR(), "", SQL_C_SLONG, 0, SQL_ERROR, "22018", "", 0},
    {"char sign only", VARCHAR(), " - ", SQL_C_SLONG, 0, SQL_ERROR, "22018", "", 0},
    {"char fraction", VARCHAR(), "12.5", SQL_C_SLONG, 0, SQL_SUCCESS_WITH_INFO, "01S07",
     img<int32_t>(12), 4},
    {"char zero fraction", VARCHAR(), "12.00", SQL_C_SLONG, 0, SQL_SUCCESS, NONE, img<int32_t>(12), 4},
    {"char 2^31 slong", VARCHAR(), "2147483648", SQL_C_SLONG, 0, SQL_ERROR, "22003", "", 0},
    {"char 2^32 ulong", VARCHAR(), "4294967296", SQL_C_ULONG, 0, SQL_ERROR, "22003", "", 0},
    {"char ubigint max", VARCHAR(), "18446744073709551615", SQL_C_UBIGINT, 0, SQL_SUCCESS, NONE,
     img<uint64_t>(UINT64_MAX), 8},
    {"char negative ubigint", VARCHAR(), "-1", SQL_C_UBIGINT, 0, SQL_ERROR, "22003", "", 0},
    {"char sbigint overflow", VARCHAR(), "9223372036854775808", SQL_C_SBIGINT, 0, SQL_ERROR, "22003",
     "", 0},
    {"char exponent slong", VARCHAR(), "1e3", SQL_C_SLONG, 0, SQL_ERROR, "22018", "", 0},
    {"char exponent double", VARCHAR(), "1.5E3", SQL_C_DOUBLE, 0, SQL_SUCCESS, NONE, img<double>(1500), 8},
    {"char double trailing", VARCHAR(), "1.5x", SQL_C_DOUBLE, 0, SQL_ERROR, "22018", "", 0},
    {"char float", VARCHAR(), "0.1", SQL_C_FLOAT, 0, SQL_SUCCESS, NONE, img<float>(0.1f), 4},
    {"char bit", VARCHAR(), "1", SQL_C_BIT, 0, SQL_SUCCESS, NONE, img<uint8_t>(1), 1},
    {"char numeric", VARCHAR(), "-12.50", SQL_C_NUMERIC, 0, SQL_SUCCESS, NONE, numeric(4, 2, 0, 1250), 19},
    {"char numeric junk", VARCHAR(), "12,5", SQL_C_NUMERIC, 0, SQL_ERROR, "22018", "", 0},
    {"char date", VARCHAR(), "2014-05-06", SQL_C_DATE, 0, SQL_ERROR, "07006", "", 0},
    {"char timestamp", VARCHAR(), "2014-05-06", SQL_C_TIMESTAMP, 0, SQL_ERROR, "07006", "", 0},
    {"char binary", VARCHAR(), "abc", SQL_C_BINARY, 8, SQL_SUCCESS, NONE, "abc", 3},
    // floating values
    {"double 2^31 slong", DOUBLE(), "2147483648", SQL_C_SLONG, 0, SQL_ERROR, "22003", "", 0},
    {"double 12.5 slong", DOUBLE(), "12.5", SQL_C_SLONG, 0, SQL_SUCCESS_WITH_INFO, "01S07",
     img<int32_t>(12), 4},
    {"double -0.5 ulong", DOUBLE(), "-0.5", SQL_C_ULONG, 0, SQL_SUCCESS_WITH_INFO, "01S07",
     img<uint32_t>(0), 4},
    {"double 1.5 bit", DOUBLE(), "1.5", SQL_C_BIT, 0, SQL_SUCCESS_WITH_INFO, "01S07", img<uint8_t>(1), 1},
    {"double 2 bit", DOUBLE(), "2", SQL_C_BIT, 0, SQL_ERROR, "22003", "", 0},
    {"double 1e19 sbigint", DOUBLE(), "1e19", SQL_C_SBIGINT, 0, SQL_ERROR, "22003", "", 0},
    {"double 1e19 ubigint", DOUBLE(), "1e19", SQL_C_UBIGINT, 0, SQL_SUCCESS, NONE,
     img<uint64_t>(10000000000000000000ull), 8},
    {"double pi char", DOUBLE(), "3.141592653589793", SQL_C_CHAR, 30, SQL_SUCCESS, NONE,
     z("3.141592653589793"), 17},
    {"double pi wchar", DOUBLE(), "3.141592653589793", SQL_C_WCHAR, 64, SQL_SUCCESS, NONE,
     w("3.141592653589793"), 34},
    {"double pi numeric", DOUBLE(), "3.141592653589793", SQL_C_NUMERIC, 0, SQL_SUCCESS, NONE,
     numeric(19, 15, 1, 3141592653589793ull), 19},
    {"double pi cut", DOUBLE(), "3.141592653589793", SQL_C_CHAR, 5, SQL_SUCCESS_WITH_INFO, "01004",
     z("3.14"), 17},
    {"double 1e300 float", DOUBLE(), "1e300", SQL_C_FLOAT, 0, SQL_ERROR, "22003", "", 0},
    {"double 1e300 numeric", DOUBLE(), "1e300", SQL_C_NUMERIC, 0, SQL_ERROR, "22003", "", 0},
    {"double binary", DOUBLE(), "0.5", SQL_C_BINARY, 8, SQL_SUCCESS, NONE, img<double>(0.5), 8},
    {"real char", REAL(), "3.14159", SQL_C_CHAR, 20, SQL_SUCCESS, NONE, z("3.14159"), 7},
    {"real double", REAL(), "0.5", SQL_C_DOUBLE, 0, SQL_SUCCESS, NONE, img<double>(0.5), 8},
    {"real float", REAL(), "3.14159", SQL_C_FLOAT, 0, SQL_SUCCESS, NONE, img<float>(3.14159f), 4},
    {"real binary", REAL(), "0.5", SQL_C_BINARY, 8, SQL_SUCCESS, NONE, img<float>(0.5f), 4},
    // decimals
    {"decimal char keeps zeros", DECIMAL(12, 2), "12.50", SQL_C_CHAR, 20, SQL_SUCCESS, NONE, z("12.50"), 5},
    {"decimal wchar", DECIMAL(12, 2), "-0.05", SQL_C_WCHAR, 20, SQL_SUCCESS, NONE, w("-0.05"), 10},
    {"decimal slong", DECIMAL(12, 2), "12.50", SQL_C_SLONG, 0, SQL_SUCCESS_WITH_INFO, "01S07",
     img<int32_t>(12), 4},
    {"decimal whole slong", DECIMAL(12, 2), "12.00", SQL_C_SLONG, 0, SQL_SUCCESS, NONE, img<int32_t>(12), 4},
    {"decimal -0.05 slong", DECIMAL(12, 2), "-0.05", SQL_C_SLONG, 0, SQL_SUCCESS_WITH_INFO, "01S07",
     img<int32_t>(0), 4},
    {"decimal sshort range", DECIMAL(12, 2), "40000.5", SQL_C_SSHORT, 0, SQL_ERROR, "22003", "", 0},
    {"decimal double", DECIMAL(12, 2), "12.50", SQL_C_DOUBLE, 0, SQL_SUCCESS, NONE, img<double>(12.5), 8},
    {"decimal numeric", DECIMAL(12, 2), "12.50", SQL_C_NUMERIC, 0, SQL_SUCCESS, NONE,
     numeric(12, 2, 1, 1250), 19},
    {"decimal binary", DECIMAL(12, 2), "-0.05", SQL_C_BINARY, 19, SQL_SUCCESS, NONE,
     numeric(12, 2, 0, 5), 19},
    {"decimal 30 digits sbigint", DECIMAL(30, 0), "123456789012345678901234567890", SQL_C_SBIGINT, 0,
     SQL_ERROR, "22003", "", 0},
    {"decimal 30 digits slong", DECIMAL(30, 0), "123456789012345678901234567890", SQL_C_SLONG, 0,
     SQL_ERROR, "22003", "", 0},
    {"decimal 30 digits char", DECIMAL(30, 0), "123456789012345678901234567890", SQL_C_CHAR, 40,
     SQL_SUCCESS, NONE, z("123456789012345678901234567890"), 30},
    {"decimal 30 digits double", DECIMAL(30, 0), "123456789012345678901234567890", SQL_C_DOUBLE, 0,
     SQL_SUCCESS, NONE, img<double>(123456789012345678901234567890.0), 8},
    {"decimal 65 digits numeric", DECIMAL(65, 0), std::string(65, '9'), SQL_C_NUMERIC, 0, SQL_ERROR,
     "22003", "", 0},
    {"decimal date", DECIMAL(12, 2), "1.00", SQL_C_DATE, 0, SQL_ERROR, "07006", "", 0},
    // dates and timestamps
    {"date char", DATE(), "2014-05-06", SQL_C_CHAR, 11, SQL_SUCCESS, NONE, z("2014-05-06"), 10},
    {"date char cut", DATE(), "2014-05-06", SQL_C_CHAR, 10, SQL_SUCCESS_WITH_INFO, "01004",
     z("2014-05-0"), 10},
    {"date wchar", DATE(), "2014-05-06", SQL_C_WCHAR, 22, SQL_SUCCESS, NONE, w("2014-05-06"), 20},
    {"date wchar cut", DATE(), "2014-05-06", SQL_C_WCHAR, 20, SQL_SUCCESS_WITH_INFO, "01004",
     w("2014-05-0"), 20},
    {"date date", DATE(), "2014-05-06", SQL_C_TYPE_DATE, 0, SQL_SUCCESS, NONE, date(2014, 5, 6), 6},
    {"date timestamp", DATE(), "2014-05-06", SQL_C_TIMESTAMP, 0, SQL_SUCCESS, NONE,
     stamp(2014, 5, 6, 0, 0, 0, 0), 16},
    {"date time", DATE(), "2014-05-06", SQL_C_TIME, 0, SQL_ERROR, "07006", "", 0},
    {"date slong", DATE(), "2014-05-06", SQL_C_SLONG, 0, SQL_ERROR, "07006", "", 0},
    {"date binary", DATE(), "2014-05-06", SQL_C_BINARY, 6, SQL_SUCCESS, NONE, date(2014, 5, 6), 6},
    {"stamp char scale 3", DATETIME(3), "2014-05-06 07:08:09.123", SQL_C_CHAR, 30, SQL_SUCCESS, NONE,
     z("2014-05-06 07:08:09.123"), 23},
    {"stamp char no fraction", DATETIME(3), "2014-05-06 07:08:09.000", SQL_C_CHAR, 30, SQL_SUCCESS,
     NONE, z("2014-05-06 07:08:09"), 19},
    {"stamp char scale 6", DATETIME(6), "2014-05-06 07:08:09.123456", SQL_C_CHAR, 30, SQL_SUCCESS,
     NONE, z("2014-05-06 07:08:09.123456"), 26},
    {"stamp wchar micro", DATETIME(6), "2014-05-06 07:08:09.123456", SQL_C_WCHAR, 64, SQL_SUCCESS,
     NONE, w("2014-05-06 07:08:09.123456"), 52},
    {"stamp wchar short buffer", DATETIME(6), "2014-05-06 07:08:09.123456", SQL_C_WCHAR, 40,
     SQL_SUCCESS_WITH_INFO, "01004", w("2014-05-06 07:08:09"), 52},
    {"stamp timestamp", DATETIME(6), "2014-05-06 07:08:09.123456", SQL_C_TYPE_TIMESTAMP, 0,
     SQL_SUCCESS, NONE, stamp(2014, 5, 6, 7, 8, 9, 123456000), 16},
    {"stamp date", DATETIME(), "2014-05-06 07:08:09", SQL_C_DATE, 0, SQL_SUCCESS_WITH_INFO, "01S07",
     date(2014, 5, 6), 6},
    {"stamp midnight date", DATETIME(), "2014-05-06 00:00:00", SQL_C_DATE, 0, SQL_SUCCESS, NONE,
     date(2014, 5, 6), 6},
    {"stamp time", DATETIME(), "2014-05-06 07:08:09", SQL_C_TYPE_TIME, 0, SQL_SUCCESS, NONE,
     time_of(7, 8, 9), 6},
    {"stamp time fraction", DATETIME(3), "2014-05-06 07:08:09.500", SQL_C_TIME, 0,
     SQL_SUCCESS_WITH_INFO, "01S07", time_of(7, 8, 9), 6},
    {"stamp other form", DATETIME(), "2014/05/06 07:08:09", SQL_C_TIMESTAMP, 0, SQL_SUCCESS, NONE,
     stamp(2014, 5, 6, 7, 8, 9, 0), 16},
    {"stamp binary", DATETIME(), "2014-05-06 07:08:09", SQL_C_BINARY, 16, SQL_SUCCESS, NONE,
     stamp(2014, 5, 6, 7, 8, 9, 0), 16},
    {"stamp double", DATETIME(), "2014-05-06 07:08:09", SQL_C_DOUBLE, 0, SQL_ERROR, "07006", "", 0},
    // times held as text
    {"time", TIMETEXT(), "12:34:56", SQL_C_TYPE_TIME, 0, SQL_SUCCESS, NONE, time_of(12, 34, 56), 6},
    {"time duration", TIMETEXT(), "838:59:59", SQL_C_TIME, 0, SQL_SUCCESS, NONE, time_of(838, 59, 59), 6},
    {"time hours only", TIMETEXT(), "12", SQL_C_TIME, 0, SQL_SUCCESS, NONE, time_of(12, 0, 0), 6},
    {"time fraction", TIMETEXT(), "12:34:56.5", SQL_C_TIME, 0, SQL_SUCCESS_WITH_INFO, "01S07",
     time_of(12, 34, 56), 6},
    {"time negative", TIMETEXT(), "-01:00:00", SQL_C_TIME, 0, SQL_ERROR, "22018", "", 0},
    {"time junk", TIMETEXT(), "12:ab", SQL_C_TIME, 0, SQL_ERROR, "22018", "", 0},
    {"time hours beyond", TIMETEXT(), "70000:00:00", SQL_C_TIME, 0, SQL_ERROR, "22003", "", 0},
    {"time char", TIMETEXT(), "12:34:56", SQL_C_CHAR, 9, SQL_SUCCESS, NONE, z("12:34:56"), 8},
    // binary values
    {"binary hex", VARBINARY(), std::string("\x0A\xFF\x00", 3), SQL_C_CHAR, 7, SQL_SUCCESS, NONE,
     z("0aff00"), 6},
    {"binary hex wide", VARBINARY(), std::string("\x0A\xFF\x00", 3), SQL_C_WCHAR, 16, SQL_SUCCESS,
     NONE, w("0AFF00"), 12},
    {"binary exact buffer", VARBINARY(), std::string("\x0A\xFF\x00", 3), SQL_C_BINARY, 3, SQL_SUCCESS,
     NONE, std::string("\x0A\xFF\x00", 3), 3},
    {"binary slong", VARBINARY(), "1", SQL_C_SLONG, 0, SQL_ERROR, "07006", "", 0},
    {"binary guid", VARBINARY(), std::string(16, 'x'), SQL_C_GUID, 16, SQL_ERROR, "07006", "", 0},
    // BIT(1) arrives as its raw byte
    {"bit bit", BIT1(), std::string("\x01", 1), SQL_C_BIT, 0, SQL_SUCCESS, NONE, img<uint8_t>(1), 1},
    {"bit char", BIT1(), std::string("\x00", 1), SQL_C_CHAR, 4, SQL_SUCCESS, NONE, z("0"), 1},
};

void PrintTo(const get_case &c, std::ostream *os) { *os << c.name; }

class Matrix : public data_fixture, public ::testing::WithParamInterface<get_case> {};

TEST_P(Matrix, Converts)
{
    const get_case &t = GetParam();
    describe({t.column});
    ASSERT_EQ(load({t.value}), 0) << diag_state(s);
    unsigned char buf[96];
    memset(buf, 0xCC, sizeof buf);
    SQLLEN ind = -99, oct = -99;
    SQLLEN bl = t.buffer_length ? t.buffer_length : (SQLLEN)sizeof buf;
    SQLRETURN rc = get(1, t.target, buf, bl, &ind, &oct);
    EXPECT_EQ(rc, t.rc);
    EXPECT_EQ(diag_state(s), t.state);
    if (strcmp(t.state, NONE) != 0) {
        EXPECT_EQ(diag_column(s), 1);
    }
    if (rc == SQL_ERROR)
        return;
    EXPECT_EQ(std::string((const char *)buf, t.expect.size()), t.expect);
    EXPECT_EQ(buf[t.expect.size()], 0xCC) << "wrote past the value";
    EXPECT_EQ(ind, t.length);
    EXPECT_EQ(oct, t.length);
}

INSTANTIATE_TEST_SUITE_P(Cells, Matrix, ::testing::ValuesIn(matrix),
                         [](const ::testing::TestParamInfo<get_case> &i) {
                             std::string n = i.param.name;
                             for (char &ch : n)
                                 if (!isalnum((unsigned char)ch))
                                     ch = '_';
                             return n;
                         });

using Values = data_fixture;

// -------------------------------------------------------------- round trips

TEST_F(Values, DoubleAndFloatTextReadsBack)
{
    const char *doubles[] = {"3.141592653589793", "0.1", "1e+300", "-2.2250738585072014e-308",
                             "123456789.12345679", "5e-324"};
    describe({DOUBLE(), REAL()});
    for (const char *text : doubles) {
        ASSERT_EQ(load({text, "16777217"}), 0);
        char buf[64];
        SQLLEN ind;
        ASSERT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
        double back = 0;
        ASSERT_EQ(text_to_double(buf, strlen(buf), &back), NUM_OK);
        double expect = 0;
        text_to_double(text, strlen(text), &expect);
        EXPECT_EQ(back, expect) << text << " came back as " << buf;
        // a FLOAT column shows the float's own shortest form
        ASSERT_EQ(get(2, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
        EXPECT_STREQ(buf, "16777216");
    }
}

// -------------------------------------------------------------- pieces

TEST_F(Values, CharacterValueInPieces)
{
    describe({VARCHAR()});
    ASSERT_EQ(load({"abcdef"}), 0);
    char buf[8];
    SQLLEN ind = 0;
    // asking for the length only consumes nothing
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 6);
    EXPECT_EQ(get(1, SQL_C_CHAR, nullptr, 100, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 6);

    EXPECT_EQ(get(1, SQL_C_CHAR, buf, 4, &ind), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(diag_state(s), "01004");
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(ind, 6);
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, 4, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "def");
    EXPECT_EQ(ind, 3);
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, 4, &ind), SQL_NO_DATA);

    // binary pieces of exactly the rest, and of a buffer too small
    describe({VARBINARY()});
    ASSERT_EQ(load({"0123456"}), 0);
    EXPECT_EQ(get(1, SQL_C_BINARY, buf, 4, &ind), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(ind, 7);
    EXPECT_EQ(get(1, SQL_C_BINARY, buf, 3, &ind), SQL_SUCCESS);
    EXPECT_EQ(std::string(buf, 3), "456");
    EXPECT_EQ(ind, 3);
    EXPECT_EQ(get(1, SQL_C_BINARY, buf, 3, &ind), SQL_NO_DATA);

    // hex in pieces of whole bytes: 7 bytes of room take 3 bytes
    ASSERT_EQ(load({std::string("\x01\x02\x03\x04", 4)}), 0);
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, 7, &ind), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(buf, "010203");
    EXPECT_EQ(ind, 8);
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, 7, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "04");
    EXPECT_EQ(ind, 2);
}

TEST_F(Values, RenderedValueIsNotDeliveredInPieces)
{
    describe({INT()});
    ASSERT_EQ(load({"123456"}), 0);
    char buf[4];
    SQLLEN ind;
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, 0, &ind), SQL_SUCCESS);   // measured only
    EXPECT_EQ(ind, 6);
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(buf, "123");
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_NO_DATA);
}

std::u16string wide_of(const unsigned char *buf, size_t units)
{
    std::u16string r;
    for (size_t i = 0; i < units; i++) {
        uint16_t u;
        memcpy(&u, buf + 2 * i, 2);
        r += (char16_t)u;
    }
    return r;
}

// Reads a wide value in pieces with room for `units` characters plus the
// terminator; returns the pieces.
std::vector<std::u16string> wide_pieces(data_fixture &f, int column, int units,
                                        std::vector<SQLLEN> *lengths = nullptr)
{
    std::vector<std::u16string> pieces;
    unsigned char buf[64];
    SQLLEN ind;
    for (int guard = 0; guard < 20; guard++) {
        memset(buf, 0xCC, sizeof buf);
        SQLRETURN rc = f.get(column, SQL_C_WCHAR, buf, 2 * (units + 1), &ind);
        if (rc == SQL_NO_DATA)
            break;
        EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO);
        std::u16string piece;
        for (size_t i = 0;; i++) {
            std::u16string u = wide_of(buf + 2 * i, 1);
            if (u[0] == 0)
                break;
            piece += u;
        }
        pieces.push_back(piece);
        if (lengths)
            lengths->push_back(ind);
    }
    return pieces;
}

TEST_F(Values, WideTextKeepsSurrogatePairsWhole)
{
    describe({VARCHAR(45)});
    const std::string grin = "\xF0\x9F\x98\x80";   // U+1F600
    ASSERT_EQ(load({"a" + grin + "b"}), 0);

    unsigned char buf[64];
    SQLLEN ind;
    ASSERT_EQ(get(1, SQL_C_WCHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 8);   // four units
    EXPECT_EQ(wide_of(buf, 5), (std::u16string{u'a', 0xD83D, 0xDE00, u'b', 0}));

    // two units per piece: the pair cannot follow 'a' in the first piece
    ASSERT_EQ(load({"a" + grin + "b"}), 0);
    std::vector<SQLLEN> lengths;
    EXPECT_EQ(wide_pieces(*this, 1, 2, &lengths),
              (std::vector<std::u16string>{u"a", u"\xD83D\xDE00", u"b"}));
    EXPECT_EQ(lengths, (std::vector<SQLLEN>{8, 6, 2}));

    ASSERT_EQ(load({"a" + grin + "b"}), 0);
    EXPECT_EQ(wide_pieces(*this, 1, 3),
              (std::vector<std::u16string>{u"a\xD83D\xDE00", u"b"}));

    // the emoji alone, in pieces of two: delivered whole in the first piece
    ASSERT_EQ(load({grin}), 0);
    EXPECT_EQ(wide_pieces(*this, 1, 2), (std::vector<std::u16string>{u"\xD83D\xDE00"}));

    // a three-byte sequence advances the offset past all of its bytes
    ASSERT_EQ(load({"\xE2\x82\xAC" "xy"}), 0);   // euro sign
    EXPECT_EQ(wide_pieces(*this, 1, 1), (std::vector<std::u16string>{u"\x20AC", u"x", u"y"}));
}

TEST_F(Values, WideTextByCharacterSet)
{
    // a latin1 column: one unit per byte; text the server labels binary
    // (JSON) is in the connection's character set
    describe({VARCHAR(8), VARCHAR(33), {SQL_CHAR, 0, 1, 0, 0, 63}});
    ASSERT_EQ(load({"caf\xE9", "caf\xC3\xA9", "\"\xC3\xA9\""}), 0);
    unsigned char buf[32];
    SQLLEN ind;
    ASSERT_EQ(get(1, SQL_C_WCHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_EQ(wide_of(buf, 5), (std::u16string{u'c', u'a', u'f', 0xE9, 0}));
    EXPECT_EQ(ind, 8);
    ASSERT_EQ(get(2, SQL_C_WCHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_EQ(wide_of(buf, 5), (std::u16string{u'c', u'a', u'f', 0xE9, 0}));
    EXPECT_EQ(ind, 8);
    ASSERT_EQ(get(3, SQL_C_WCHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_EQ(wide_of(buf, 4), (std::u16string{u'"', 0xE9, u'"', 0}));

    // the server's collation list decides over the built-in numbers
    conn->collations = new std::vector<collation_entry>{{300, "utf8mb4"}, {45, "latin1"}};
    describe({VARCHAR(300), VARCHAR(45)});
    ASSERT_EQ(load({"\xC3\xA9", "\xC3\xA9"}), 0);
    ASSERT_EQ(get(1, SQL_C_WCHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 2);
    ASSERT_EQ(get(2, SQL_C_WCHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 4);

    // wide buffers that carry UTF-8 get the bytes as they are
    conn->ConvWToUtf = 1;
    ASSERT_EQ(load({"\xC3\xA9", "x"}), 0);
    ASSERT_EQ(get(1, SQL_C_WCHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ((const char *)buf, "\xC3\xA9");
    EXPECT_EQ(ind, 2);
}

// Narrow reads give the application's narrow encoding (UTF-8 with
// ConvToUtf, else Latin-1) whatever the column's; a piece never splits a
// character and the lengths count the converted bytes.
TEST_F(Values, NarrowTextInTheApplicationsEncoding)
{
    describe({VARCHAR(8), VARCHAR(45)});
    char buf[16];
    SQLLEN ind = 0;

    conn->ConvToUtf = 1;
    ASSERT_EQ(load({"caf\xE9", "h\xC3\xA9"}), 0);
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, 5, &ind), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(diag_state(s), "01004");
    EXPECT_STREQ(buf, "caf");
    EXPECT_EQ(ind, 5);
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, 5, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "\xC3\xA9");
    EXPECT_EQ(ind, 2);
    EXPECT_EQ(get(2, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "h\xC3\xA9");   // the same encoding: as it is
    EXPECT_EQ(ind, 3);

    conn->ConvToUtf = 0;
    ASSERT_EQ(load({"caf\xE9", "h\xC3\xA9 \xF0\x9F\x98\x80!"}), 0);
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "caf\xE9");
    EXPECT_EQ(get(2, SQL_C_CHAR, nullptr, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 5);
    EXPECT_EQ(get(2, SQL_C_CHAR, buf, 4, &ind), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(buf, "h\xE9 ");
    EXPECT_EQ(ind, 5);
    EXPECT_EQ(get(2, SQL_C_CHAR, buf, 4, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "?!");   // beyond Latin-1
    EXPECT_EQ(ind, 2);
}

// -------------------------------------------------------------- NULL and state

TEST_F(Values, NullValues)
{
    describe({INT(), VARCHAR(), DATETIME(), DECIMAL(10, 2)});
    ASSERT_EQ(load({NUL, NUL, NUL, NUL}), 0);
    const int targets[] = {SQL_C_SLONG, SQL_C_CHAR, SQL_C_WCHAR, SQL_C_TIMESTAMP, SQL_C_BINARY,
                           SQL_C_NUMERIC};
    for (int column = 1; column <= 4; column++) {
        for (int target : targets) {
            ASSERT_EQ(load({NUL, NUL, NUL, NUL}), 0);
            char buf[32];
            SQLLEN ind = 0, oct = 5;
            EXPECT_EQ(get(column, target, buf, sizeof buf, &ind, &oct), SQL_SUCCESS);
            EXPECT_EQ(ind, SQL_NULL_DATA);
            EXPECT_EQ(oct, 0);
            EXPECT_EQ(get(column, target, buf, sizeof buf, &ind, &oct), SQL_NO_DATA);
        }
    }
    // no indicator: an error, since nothing else would tell the value is NULL
    ASSERT_EQ(load({NUL, NUL, NUL, NUL}), 0);
    int32_t v = 7;
    EXPECT_EQ(get(1, SQL_C_SLONG, &v, 4, nullptr), SQL_ERROR);
    EXPECT_EQ(diag_state(s), "22002");
    EXPECT_EQ(diag_column(s), 1);
    EXPECT_EQ(v, 7);
    // an empty time text is NULL
    describe({TIMETEXT()});
    ASSERT_EQ(load({""}), 0);
    SQLLEN ind = 0;
    sql_time_value t;
    EXPECT_EQ(get(1, SQL_C_TIME, &t, 6, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, SQL_NULL_DATA);
}

TEST_F(Values, NullDatetimes)
{
    describe({DATETIME(), DATE(), DATETIME(0, 0)});
    const cell zeros[] = {"0000-00-00 00:00:00", "0000-00-00", "0000-00-00 00:00:00"};
    conn->NullDatetimes = 1;
    ASSERT_EQ(load({zeros[0], zeros[1], zeros[2]}), 0);
    SQLLEN ind;
    sql_timestamp_value ts;
    EXPECT_EQ(get(1, SQL_C_TIMESTAMP, &ts, 16, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, SQL_NULL_DATA);
    EXPECT_EQ(get(2, SQL_C_TIMESTAMP, &ts, 16, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, SQL_NULL_DATA);
    // a NOT NULL column keeps its zeros
    EXPECT_EQ(get(3, SQL_C_TIMESTAMP, &ts, 16, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 16);
    EXPECT_EQ(img(ts), stamp(0, 0, 0, 0, 0, 0, 0));

    conn->NullDatetimes = 0;
    ASSERT_EQ(load({zeros[0], zeros[1], zeros[2]}), 0);
    EXPECT_EQ(get(1, SQL_C_TIMESTAMP, &ts, 16, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 16);
    EXPECT_EQ(img(ts), stamp(0, 0, 0, 0, 0, 0, 0));
    char text[32];
    EXPECT_EQ(get(2, SQL_C_CHAR, text, sizeof text, &ind), SQL_SUCCESS);
    EXPECT_STREQ(text, "0000-00-00");
}

TEST_F(Values, FixedValuesAreDeliveredOnce)
{
    describe({DOUBLE(), INT()});
    ASSERT_EQ(load({"12.5", "3"}), 0);
    int32_t v = 0;
    SQLLEN ind;
    EXPECT_EQ(get(1, SQL_C_SLONG, &v, 0, &ind), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(diag_state(s), "01S07");
    EXPECT_EQ(get(1, SQL_C_SLONG, &v, 0, &ind), SQL_NO_DATA);
    // a null target skips the write only
    EXPECT_EQ(get(2, SQL_C_SLONG, nullptr, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 4);
    EXPECT_EQ(get(2, SQL_C_SLONG, &v, 0, &ind), SQL_NO_DATA);
    // the next row opens every column again
    ASSERT_EQ(load({"1", "2"}), 0);
    EXPECT_EQ(get(2, SQL_C_SLONG, &v, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(v, 2);
}

TEST_F(Values, DefaultAndDescriptorTypes)
{
    describe({TINYINT(1), TINYINT(0), INT(1), BIGINT(1), SMALLINT(0), DOUBLE(), REAL(), DATE(),
              DECIMAL(5, 1), VARBINARY(), BIT1()});
    ASSERT_EQ(load({"200", "-5", "4294967295", "18446744073709551615", "-3", "0.5", "0.25",
                    "2014-05-06", "12.5", "xy", std::string("\x01", 1)}),
              0);
    struct {
        int column;
        std::string expect;
    } cases[] = {
        {1, img<uint8_t>(200)}, {2, img<int8_t>(-5)}, {3, img<uint32_t>(4294967295u)},
        {4, img<uint64_t>(UINT64_MAX)}, {5, img<int16_t>(-3)}, {6, img<double>(0.5)},
        {7, img<float>(0.25f)}, {8, date(2014, 5, 6)}, {9, z("12.5")}, {10, "xy"},
        {11, img<uint8_t>(1)},
    };
    for (auto &t : cases) {
        unsigned char buf[32];
        SQLLEN ind = 0;
        EXPECT_EQ(get(t.column, SQL_C_DEFAULT, buf, sizeof buf, &ind), SQL_SUCCESS) << t.column;
        EXPECT_EQ(std::string((const char *)buf, t.expect.size()), t.expect) << t.column;
    }
    // ODBC 2 applications get BIGINT as text
    env->odbc_version = SQL_OV_ODBC2;
    ASSERT_EQ(load({"1", "1", "1", "42", "1", "1", "1", "2014-05-06", "1", "x", "\x01"}), 0);
    char text[32];
    SQLLEN ind;
    EXPECT_EQ(get(4, SQL_C_DEFAULT, text, sizeof text, &ind), SQL_SUCCESS);
    EXPECT_STREQ(text, "42");

    // SQL_ARD_TYPE takes the row descriptor's type
    ASSERT_EQ(desc_set_records(s->ard, 2), 0);
    s->ard->records[0].concise_type = SQL_C_CHAR;
    s->ard->records[1].concise_type = SQL_C_DEFAULT;
    EXPECT_EQ(get(1, SQL_ARD_TYPE, text, sizeof text, &ind), SQL_SUCCESS);
    EXPECT_STREQ(text, "1");
    int8_t tiny = 0;
    EXPECT_EQ(get(2, SQL_ARD_TYPE, &tiny, 1, &ind), SQL_SUCCESS);
    EXPECT_EQ(tiny, 1);
    EXPECT_EQ(get(3, SQL_ARD_TYPE, text, sizeof text, &ind), SQL_ERROR);   // no ARD record
    EXPECT_EQ(diag_state(s), "HY003");
}

TEST_F(Values, RefusedCalls)
{
    describe({VARCHAR()});
    ASSERT_EQ(load({"abc"}), 0);
    char buf[8];
    SQLLEN ind;
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, -1, &ind), SQL_ERROR);
    EXPECT_EQ(diag_state(s), "HY090");
    EXPECT_EQ(get(2, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_ERROR);
    EXPECT_EQ(diag_state(s), "07009");
    // the refused calls consumed nothing
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "abc");

    // no value: before the first row, and after the cursor is closed
    describe({VARCHAR()});
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_ERROR);
    EXPECT_EQ(diag_state(s), "24000");
    ASSERT_EQ(load({"abc"}), 0);
    reset_column_values(s);
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_ERROR);
    EXPECT_EQ(diag_state(s), "24000");
}

// -------------------------------------------------------------- other readers

TEST_F(Values, CopiedHolderValues)
{
    describe({VARCHAR(), VARCHAR()});
    data_storage *ds = &s->ird->records[0].storage;
    storage_begin(ds);
    ASSERT_EQ(storage_copy(ds, SQL_CHAR, "hello", 5), 0);
    unsigned char *first = ds->buffer;
    storage_begin(ds);
    ASSERT_EQ(storage_copy(ds, SQL_CHAR, "bye", 3), 0);
    EXPECT_EQ(ds->buffer, first);   // reused, not grown
    storage_begin(&s->ird->records[1].storage);
    ASSERT_EQ(storage_copy(&s->ird->records[1].storage, SQL_CHAR, "", 0), 0);
    char buf[8];
    SQLLEN ind;
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "bye");
    EXPECT_EQ(get(2, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(ind, 0);

    // a decimal structure (as binary rows give it) renders with its scale
    data_storage *d = &s->ird->records[0].storage;
    storage_begin(d);
    d->data_type = SQL_NUMERIC;
    ASSERT_EQ(text_to_numeric("-12.50", 6, &d->v.numeric, 10, 0), NUM_OK);
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "-12.50");
}

TEST_F(Values, InternalResultValues)
{
    static const internal_rs_column cols[] = {
        {"NAME", SQL_VARCHAR, 64, SQL_NULLABLE}, {"TYPE", SQL_SMALLINT, 0, SQL_NULLABLE}};
    static const internal_rs_layout layout = irs_layout(cols);
    ASSERT_EQ(internal_rs_create(s, &layout, nullptr), 0);
    const char *row[] = {"caf\xC3\xA9", "-5"};
    ASSERT_EQ(internal_rs_insert(s, row), 0);
    ASSERT_EQ(internal_rs_fetch(s), SQL_SUCCESS);
    char text[16];
    SQLLEN ind;
    EXPECT_EQ(get(2, SQL_C_CHAR, text, sizeof text, &ind), SQL_SUCCESS);
    EXPECT_STREQ(text, "-5");
    unsigned char wide[32];
    EXPECT_EQ(get(1, SQL_C_WCHAR, wide, sizeof wide, &ind), SQL_SUCCESS);
    EXPECT_EQ(wide_of(wide, 5), (std::u16string{u'c', u'a', u'f', 0xE9, 0}));
    EXPECT_EQ(ind, 8);
}

// -------------------------------------------------------------- the reader

TEST_F(Values, UndecodableValuesAreKeptAsText)
{
    describe({INT(), DATETIME(), INT(1), INT()});
    EXPECT_EQ(load({"4x", "not a date", "-1", "5"}), 1);
    // one diagnostic for each value that did not read, naming its column
    ASSERT_EQ(diag_count(s), 3);
    std::vector<int> columns;
    for (int n = 1; n <= 3; n++) {
        EXPECT_EQ(diag_state(s, n), "22018") << n;
        columns.push_back(diag_column(s, n));
    }
    std::sort(columns.begin(), columns.end());
    EXPECT_EQ(columns, (std::vector<int>{1, 2, 3}));
    char buf[32];
    SQLLEN ind;
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "4x");
    EXPECT_EQ(get(2, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "not a date");
    EXPECT_EQ(get(3, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "-1");
    int32_t v = 0;
    EXPECT_EQ(get(4, SQL_C_SLONG, &v, 4, &ind), SQL_SUCCESS);   // decoding went on
    EXPECT_EQ(v, 5);


    // the next row's values replace every holder, the refused ones too
    EXPECT_EQ(load({"1", "2014-05-06 00:00:00", "2", "3"}), 0);
    EXPECT_EQ(diag_count(s), 0);
    for (int c = 1; c <= 4; c++) {
        EXPECT_EQ(get(c, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS) << c;
        EXPECT_EQ(s->ird->records[c - 1].storage.refused, 0) << c;
    }

    // a type without a text form makes the row unusable
    describe({{SQL_GUID, 0, 1, 0, 0, 63}});
    EXPECT_EQ(load({"x"}), -1);
    EXPECT_EQ(diag_state(s), "HY003");
}

TEST_F(Values, ValueIntoLongRow)
{
    // lengths of two and three bytes
    describe({VARCHAR(), VARBINARY()});
    std::string big(300, 'q'), huge(70000, 'z');
    ASSERT_EQ(load({big, huge}), 0);
    std::vector<char> buf(80000);
    SQLLEN ind;
    EXPECT_EQ(get(1, SQL_C_CHAR, buf.data(), (SQLLEN)buf.size(), &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 300);
    EXPECT_EQ(std::string(buf.data()), big);
    EXPECT_EQ(get(2, SQL_C_BINARY, buf.data(), (SQLLEN)buf.size(), &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, 70000);
    EXPECT_EQ(std::string(buf.data(), 70000), huge);
}

TEST_F(Values, EveryTruncatedRowIsRefused)
{
    describe({INT(), VARCHAR(), DOUBLE(), DATETIME(), DECIMAL(12, 2), BIGINT(), VARBINARY()});
    std::string whole = row_payload({"42", std::string(260, 'v'), "2.5", "2014-05-06 07:08:09",
                                     "12.50", NUL, "bin"});
    set_row(whole);
    for (int i = 0; i < 7; i++)
        ASSERT_EQ(read_text_column(s, i), 0);
    for (size_t n = 0; n < whole.size(); n++) {
        set_row(whole.substr(0, n));
        clear_diagnostics(s);
        int rc = 0, i = 0;
        for (; i < 7 && rc == 0; i++)
            rc = read_text_column(s, i);
        EXPECT_EQ(rc, -1) << "cut at " << n;
        EXPECT_EQ(diag_state(s), "08S01") << "cut at " << n;
        EXPECT_EQ(diag_column(s), i) << "cut at " << n;
        // the failed column and those after it hold nothing
        char buf[8];
        SQLLEN ind;
        EXPECT_EQ(get(7, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_ERROR);
    }
}

TEST_F(Values, HostileLengths)
{
    describe({VARCHAR(), INT()});
    const struct {
        const char *name;
        std::string payload;
    } rows[] = {
        {"length past the packet", std::string("\x09" "abc", 4)},
        {"two-byte length past", std::string("\xFC\xFF\x00" "abc", 6)},
        {"three-byte length past", std::string("\xFD\xFF\xFF\x00" "ab", 6)},
        {"absurd eight-byte length", std::string("\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF" "ab", 11)},
        {"eight-byte length cut", std::string("\xFE\x01\x00", 3)},
        {"0xFF lead", std::string("\xFF\x01", 2)},
        {"second cell missing", std::string("\x01" "a", 2)},
        {"bytes after the last cell", std::string("\x01" "a" "\x01" "1" "\x00", 5)},
    };
    for (auto &r : rows) {
        set_row(r.payload);
        clear_diagnostics(s);
        int rc = read_text_column(s, 0);
        if (rc == 0)
            rc = read_text_column(s, 1);
        EXPECT_EQ(rc, -1) << r.name;
        EXPECT_EQ(diag_state(s), "08S01") << r.name;
    }
    // no row at all
    stmt_drop_row(s);
    EXPECT_EQ(read_text_column(s, 0), -1);
    EXPECT_EQ(read_text_column(s, 5), -1);   // beyond the description
}

TEST_F(Values, ViewsDieWithTheirRow)
{
    describe({VARCHAR(), INT()});
    ASSERT_EQ(load({"abc", "1"}), 0);
    // a fetch that failed after freeing the row leaves no current row
    stmt_drop_row(s);
    char buf[8];
    SQLLEN ind;
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_ERROR);
    EXPECT_EQ(diag_state(s), "24000");
}

// -------------------------------------------------------------- SQLGetData

TEST_F(Values, GetDataChecks)
{
    describe({VARCHAR()});
    ASSERT_EQ(load({"abc"}), 0);
    char buf[8];
    SQLLEN ind = 0;
    EXPECT_EQ(SQLGetData(s, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(ind, 3);
    EXPECT_EQ(SQLGetData(s, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_NO_DATA);

    EXPECT_EQ(SQLGetData(s, 2, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_ERROR);
    EXPECT_EQ(diag_state(s), "07009");
    EXPECT_EQ(SQLGetData(s, 0, SQL_C_VARBOOKMARK, buf, sizeof buf, &ind), SQL_ERROR);
    EXPECT_EQ(diag_state(s), "07009");
    s->use_bookmarks = 1;
    EXPECT_EQ(SQLGetData(s, 0, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_ERROR);
    EXPECT_EQ(diag_state(s), "HY003");
    EXPECT_EQ(SQLGetData(s, 0, SQL_C_BOOKMARK, buf, sizeof buf, &ind), SQL_ERROR);
    EXPECT_EQ(diag_state(s), "HYC00");

    stmt_drop_row(s);
    s->data_waiting = 0;
    EXPECT_EQ(SQLGetData(s, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_ERROR);
    EXPECT_EQ(diag_state(s), "HY010");
    EXPECT_EQ(SQLGetData(nullptr, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_INVALID_HANDLE);
}

TEST(NumberText, Grammar)
{
    const struct {
        const char *text;
        int ok, digits, fraction;
    } cases[] = {
        {"42", 1, 2, 0},     {" -4.25 ", 1, 3, 2}, {"+.5", 1, 1, 1}, {"7.", 1, 1, 0},
        {"", 0, 0, 0},       {" ", 0, 0, 0},       {"-", 0, 0, 0},   {".", 0, 0, 0},
        {"4x2", 0, 0, 0},    {"1e5", 0, 0, 0},     {"1.2.3", 0, 0, 0}, {"- 1", 0, 0, 0},
    };
    for (auto &c : cases) {
        int d = -1, f = -1;
        EXPECT_EQ(scan_number_text(c.text, strlen(c.text), &d, &f) == 0, c.ok != 0) << c.text;
        if (c.ok) {
            EXPECT_EQ(d, c.digits) << c.text;
            EXPECT_EQ(f, c.fraction) << c.text;
        }
    }
    int d, f;
    EXPECT_NE(scan_number_text("12\0" "3", 4, &d, &f), 0);   // a NUL is not a blank
    EXPECT_EQ(scan_number_text("12345", 2, &d, &f), 0);     // nothing past len
    EXPECT_EQ(d, 2);
}

} // namespace
