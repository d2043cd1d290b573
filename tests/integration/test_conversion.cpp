// Column values of every MariaDB column type converted into the C types an
// application asks for, through the driver manager against the test server:
// the exact bytes, the indicator and the octet length, and the SQLSTATE of
// every refused or lossy conversion. One table of cases runs with
// SQLGetData and with bound columns, in each way a SELECT can be executed.
// The values live in the seeded table qv_conv (fixtures/seed/conversion.sql).
#include <gtest/gtest.h>

#include <sqlext.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

// ------------------------------------------------------- expected images

template <class T> std::string img(T v)
{
    return std::string(reinterpret_cast<const char *>(&v), sizeof v);
}

// Narrow text with its terminator.
std::string z(const std::string &s) { return s + '\0'; }

// UTF-16LE text (surrogate pairs as the compiler makes them) with its
// terminating unit.
std::string w(const std::u16string &s)
{
    std::string out;
    for (char16_t u : s) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out + std::string(2, '\0');
}

std::string date(int y, int m, int d)
{
    SQL_DATE_STRUCT v;
    memset(&v, 0, sizeof v);
    v.year = (SQLSMALLINT)y;
    v.month = (SQLUSMALLINT)m;
    v.day = (SQLUSMALLINT)d;
    return img(v);
}

std::string time_of(int h, int m, int s)
{
    SQL_TIME_STRUCT v;
    memset(&v, 0, sizeof v);
    v.hour = (SQLUSMALLINT)h;
    v.minute = (SQLUSMALLINT)m;
    v.second = (SQLUSMALLINT)s;
    return img(v);
}

std::string stamp(int y, int mo, int d, int h, int mi, int s, unsigned nanos)
{
    SQL_TIMESTAMP_STRUCT v;
    memset(&v, 0, sizeof v);
    v.year = (SQLSMALLINT)y;
    v.month = (SQLUSMALLINT)mo;
    v.day = (SQLUSMALLINT)d;
    v.hour = (SQLUSMALLINT)h;
    v.minute = (SQLUSMALLINT)mi;
    v.second = (SQLUSMALLINT)s;
    v.fraction = nanos;
    return img(v);
}

// The numeric structure of a magnitude given as decimal digits.
std::string numeric(int precision, int scale, int sign, const std::string &digits)
{
    unsigned __int128 m = 0;
    for (char ch : digits)
        m = m * 10 + (unsigned)(ch - '0');
    SQL_NUMERIC_STRUCT v;
    memset(&v, 0, sizeof v);
    v.precision = (SQLCHAR)precision;
    v.scale = (SQLSCHAR)scale;
    v.sign = (SQLCHAR)sign;
    for (int i = 0; i < SQL_MAX_NUMERIC_LEN; i++, m >>= 8)
        v.val[i] = (SQLCHAR)(m & 0xFF);
    return img(v);
}

std::string bytes(std::initializer_list<unsigned> list)
{
    std::string out;
    for (unsigned b : list)
        out += static_cast<char>(b);
    return out;
}

// ------------------------------------------------------------ the cases

const char *const NONE = "";
// A length equal to the expected text's, without its terminator.
const SQLLEN TEXT = -1000;
// Rows of qv_conv.
enum { HIGH = 1, LOW = 2, NUL = 3, R4 = 4, R5 = 5, R6 = 6 };
// The buffer length of a case that does not care.
const SQLLEN ANY = 0;
const SQLLEN BUFFER = 256;

struct conv_case {
    const char *column;
    int row;
    SQLSMALLINT c_type;
    SQLLEN buffer_length;    // ANY: the whole test buffer
    SQLRETURN rc;
    const char *state;       // first diagnostic; NONE when none is expected
    std::string value;       // bytes written to the target (unchecked on SQL_ERROR)
    SQLLEN length;           // indicator and octet length (TEXT: the text's)
    bool no_indicator = false;
};

const std::string PI = "3.141592653589793";
const std::string DEC_HIGH = "12345678901234567890123456789012345.123456789012345678901234567890";
const std::string DEC_LOW = "-0.000000000000000000000000000001";
const std::u16string VC_WIDE = u"Привет, 中文 😀!";
const std::string VC = "Привет, 中文 😀!";
const std::string TX = "Ещё 漢字 and 🎉🎉";
// POINT(1 2) as the server stores it: SRID 0, then little-endian WKB.
const std::string POINT = bytes({0, 0, 0, 0, 1, 1, 0, 0, 0}) + img(1.0) + img(2.0);

const SQLRETURN OK = SQL_SUCCESS, INFO = SQL_SUCCESS_WITH_INFO, ERR = SQL_ERROR;

const std::vector<conv_case> &cases()
{
    static const std::vector<conv_case> all = {
        // TINYINT
        {"t_s", HIGH, SQL_C_STINYINT, ANY, OK, NONE, img<int8_t>(127), 1},
        {"t_s", LOW, SQL_C_STINYINT, ANY, OK, NONE, img<int8_t>(-128), 1},
        {"t_s", LOW, SQL_C_UTINYINT, ANY, ERR, "22003", "", 0},
        {"t_s", LOW, SQL_C_SSHORT, ANY, OK, NONE, img<int16_t>(-128), 2},
        {"t_s", LOW, SQL_C_CHAR, ANY, OK, NONE, z("-128"), TEXT},
        {"t_s", LOW, SQL_C_WCHAR, ANY, OK, NONE, w(u"-128"), TEXT},
        {"t_s", LOW, SQL_C_DEFAULT, ANY, OK, NONE, img<int8_t>(-128), 1},
        {"t_u", HIGH, SQL_C_UTINYINT, ANY, OK, NONE, img<uint8_t>(255), 1},
        {"t_u", HIGH, SQL_C_TINYINT, ANY, OK, NONE, img<uint8_t>(255), 1},
        {"t_u", HIGH, SQL_C_STINYINT, ANY, ERR, "22003", "", 0},
        {"t_u", LOW, SQL_C_BIT, ANY, OK, NONE, img<uint8_t>(0), 1},
        {"t_u", HIGH, SQL_C_DEFAULT, ANY, OK, NONE, img<uint8_t>(255), 1},
        // SMALLINT
        {"s_s", HIGH, SQL_C_SSHORT, ANY, OK, NONE, img<int16_t>(32767), 2},
        {"s_s", LOW, SQL_C_SHORT, ANY, OK, NONE, img<int16_t>(-32768), 2},
        {"s_s", LOW, SQL_C_USHORT, ANY, ERR, "22003", "", 0},
        {"s_s", HIGH, SQL_C_STINYINT, ANY, ERR, "22003", "", 0},
        {"s_u", HIGH, SQL_C_USHORT, ANY, OK, NONE, img<uint16_t>(65535), 2},
        {"s_u", HIGH, SQL_C_SSHORT, ANY, ERR, "22003", "", 0},
        {"s_u", HIGH, SQL_C_SLONG, ANY, OK, NONE, img<int32_t>(65535), 4},
        // MEDIUMINT
        {"m_s", HIGH, SQL_C_SLONG, ANY, OK, NONE, img<int32_t>(8388607), 4},
        {"m_s", LOW, SQL_C_LONG, ANY, OK, NONE, img<int32_t>(-8388608), 4},
        {"m_s", LOW, SQL_C_CHAR, ANY, OK, NONE, z("-8388608"), TEXT},
        {"m_s", LOW, SQL_C_SSHORT, ANY, ERR, "22003", "", 0},
        {"m_u", HIGH, SQL_C_ULONG, ANY, OK, NONE, img<uint32_t>(16777215), 4},
        {"m_u", HIGH, SQL_C_USHORT, ANY, ERR, "22003", "", 0},
        // INT
        {"i_s", HIGH, SQL_C_SLONG, ANY, OK, NONE, img<int32_t>(2147483647), 4},
        {"i_s", LOW, SQL_C_SLONG, ANY, OK, NONE, img<int32_t>(INT32_MIN), 4},
        {"i_s", LOW, SQL_C_ULONG, ANY, ERR, "22003", "", 0},
        {"i_s", HIGH, SQL_C_SSHORT, ANY, ERR, "22003", "", 0},
        {"i_s", LOW, SQL_C_SBIGINT, ANY, OK, NONE, img<int64_t>(INT32_MIN), 8},
        {"i_s", HIGH, SQL_C_DOUBLE, ANY, OK, NONE, img<double>(2147483647.0), 8},
        {"i_s", HIGH, SQL_C_FLOAT, ANY, OK, NONE, img<float>(2147483647.0f), 4},
        {"i_s", LOW, SQL_C_NUMERIC, ANY, OK, NONE, numeric(12, 0, 0, "2147483648"), 19},
        {"i_s", HIGH, SQL_C_BINARY, ANY, OK, NONE, img<int32_t>(2147483647), 4},
        {"i_s", HIGH, SQL_C_CHAR, 5, INFO, "01004", z("2147"), 10},
        {"i_s", HIGH, SQL_C_WCHAR, 10, INFO, "01004", w(u"2147"), 20},
        {"i_s", HIGH, SQL_C_BIT, ANY, ERR, "22003", "", 0},
        {"i_s", R5, SQL_C_BIT, ANY, OK, NONE, img<uint8_t>(1), 1},
        {"i_s", R4, SQL_C_UTINYINT, ANY, ERR, "22003", "", 0},
        {"i_s", HIGH, SQL_C_TYPE_DATE, ANY, ERR, "07006", "", 0},
        {"i_s", HIGH, SQL_C_TYPE_TIMESTAMP, ANY, ERR, "07006", "", 0},
        {"i_s", HIGH, SQL_C_GUID, ANY, ERR, "07006", "", 0},
        {"i_u", HIGH, SQL_C_ULONG, ANY, OK, NONE, img<uint32_t>(4294967295u), 4},
        {"i_u", HIGH, SQL_C_SLONG, ANY, ERR, "22003", "", 0},
        {"i_u", HIGH, SQL_C_SBIGINT, ANY, OK, NONE, img<int64_t>(4294967295LL), 8},
        {"i_u", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("4294967295"), TEXT},
        {"i_u", HIGH, SQL_C_DEFAULT, ANY, OK, NONE, img<uint32_t>(4294967295u), 4},
        // BIGINT
        {"b_s", HIGH, SQL_C_SBIGINT, ANY, OK, NONE, img<int64_t>(INT64_MAX), 8},
        {"b_s", LOW, SQL_C_SBIGINT, ANY, OK, NONE, img<int64_t>(INT64_MIN), 8},
        {"b_s", LOW, SQL_C_CHAR, ANY, OK, NONE, z("-9223372036854775808"), TEXT},
        {"b_s", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"9223372036854775807"), TEXT},
        {"b_s", HIGH, SQL_C_SLONG, ANY, ERR, "22003", "", 0},
        {"b_s", LOW, SQL_C_UBIGINT, ANY, ERR, "22003", "", 0},
        {"b_s", HIGH, SQL_C_DOUBLE, ANY, OK, NONE, img<double>(9223372036854775807.0), 8},
        {"b_s", HIGH, SQL_C_NUMERIC, ANY, OK, NONE, numeric(19, 0, 1, "9223372036854775807"), 19},
        {"b_s", LOW, SQL_C_DEFAULT, ANY, OK, NONE, img<int64_t>(INT64_MIN), 8},
        {"b_u", HIGH, SQL_C_UBIGINT, ANY, OK, NONE, img<uint64_t>(UINT64_MAX), 8},
        {"b_u", HIGH, SQL_C_SBIGINT, ANY, ERR, "22003", "", 0},
        {"b_u", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("18446744073709551615"), TEXT},
        {"b_u", HIGH, SQL_C_NUMERIC, ANY, OK, NONE, numeric(20, 0, 1, "18446744073709551615"), 19},
        {"b_u", HIGH, SQL_C_DEFAULT, ANY, OK, NONE, img<uint64_t>(UINT64_MAX), 8},
        {"b_u", LOW, SQL_C_UBIGINT, ANY, OK, NONE, img<uint64_t>(0), 8},
        // DECIMAL(65,30): 65 digits reach the application exactly as text
        {"dec65", HIGH, SQL_C_CHAR, ANY, OK, NONE, z(DEC_HIGH), TEXT},
        {"dec65", HIGH, SQL_C_WCHAR, ANY, OK, NONE,
         w(std::u16string(DEC_HIGH.begin(), DEC_HIGH.end())), TEXT},
        {"dec65", HIGH, SQL_C_DEFAULT, ANY, OK, NONE, z(DEC_HIGH), TEXT},
        {"dec65", HIGH, SQL_C_CHAR, 11, INFO, "01004", z("1234567890"), 66},
        {"dec65", HIGH, SQL_C_SBIGINT, ANY, ERR, "22003", "", 0},
        {"dec65", HIGH, SQL_C_DOUBLE, ANY, OK, NONE, img<double>(1.2345678901234568e34), 8},
        // the integer part fits 128 bits: fraction digits are dropped until all do
        {"dec65", HIGH, SQL_C_NUMERIC, ANY, INFO, "01S07",
         numeric(65, 4, 1, "123456789012345678901234567890123451234"), 19},
        {"dec65", LOW, SQL_C_CHAR, ANY, OK, NONE, z(DEC_LOW), TEXT},
        {"dec65", LOW, SQL_C_NUMERIC, ANY, OK, NONE, numeric(65, 30, 0, "1"), 19},
        {"dec65", LOW, SQL_C_SLONG, ANY, INFO, "01S07", img<int32_t>(0), 4},
        {"dec65", R4, SQL_C_SLONG, ANY, INFO, "01S07", img<int32_t>(12), 4},
        {"dec65", R4, SQL_C_DOUBLE, ANY, OK, NONE, img<double>(12.5), 8},
        {"dec65", R4, SQL_C_NUMERIC, ANY, OK, NONE,
         numeric(65, 30, 1, "12500000000000000000000000000000"), 19},
        {"dec65", R5, SQL_C_SSHORT, ANY, OK, NONE, img<int16_t>(1), 2},
        {"dec65", HIGH, SQL_C_TYPE_DATE, ANY, ERR, "07006", "", 0},
        // FLOAT
        {"flt", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("3.14159"), TEXT},
        {"flt", HIGH, SQL_C_FLOAT, ANY, OK, NONE, img<float>(3.14159f), 4},
        {"flt", HIGH, SQL_C_DOUBLE, ANY, OK, NONE, img<double>((double)3.14159f), 8},
        {"flt", HIGH, SQL_C_NUMERIC, ANY, OK, NONE, numeric(19, 5, 1, "314159"), 19},
        {"flt", LOW, SQL_C_CHAR, ANY, OK, NONE, z("-1.5"), TEXT},
        {"flt", LOW, SQL_C_SLONG, ANY, INFO, "01S07", img<int32_t>(-1), 4},
        {"flt", R5, SQL_C_BIT, ANY, INFO, "01S07", img<uint8_t>(0), 1},
        {"flt", R6, SQL_C_SBIGINT, ANY, ERR, "22003", "", 0},
        {"flt", R6, SQL_C_DOUBLE, ANY, OK, NONE, img<double>((double)1e30f), 8},
        {"flt", HIGH, SQL_C_BINARY, ANY, OK, NONE, img<float>(3.14159f), 4},
        // DOUBLE: the shortest text that reads back as the same double
        {"dbl", HIGH, SQL_C_CHAR, ANY, OK, NONE, z(PI), TEXT},
        {"dbl", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(std::u16string(PI.begin(), PI.end())), TEXT},
        {"dbl", HIGH, SQL_C_CHAR, 8, INFO, "01004", z("3.14159"), 17},
        {"dbl", HIGH, SQL_C_DOUBLE, ANY, OK, NONE, img<double>(3.141592653589793), 8},
        {"dbl", HIGH, SQL_C_FLOAT, ANY, OK, NONE, img<float>(3.1415927f), 4},
        {"dbl", HIGH, SQL_C_SLONG, ANY, INFO, "01S07", img<int32_t>(3), 4},
        {"dbl", HIGH, SQL_C_NUMERIC, ANY, OK, NONE, numeric(19, 15, 1, "3141592653589793"), 19},
        {"dbl", HIGH, SQL_C_BINARY, ANY, OK, NONE, img<double>(3.141592653589793), 8},
        {"dbl", HIGH, SQL_C_TYPE_TIMESTAMP, ANY, ERR, "07006", "", 0},
        {"dbl", LOW, SQL_C_DOUBLE, ANY, OK, NONE, img<double>(-2.5e-300), 8},
        {"dbl", LOW, SQL_C_FLOAT, ANY, OK, NONE, img<float>(-0.0f), 4},
        {"dbl", R4, SQL_C_SLONG, ANY, INFO, "01S07", img<int32_t>(12), 4},
        {"dbl", R5, SQL_C_SLONG, ANY, ERR, "22003", "", 0},
        {"dbl", R5, SQL_C_ULONG, ANY, OK, NONE, img<uint32_t>(2147483648u), 4},
        {"dbl", R6, SQL_C_SLONG, ANY, ERR, "22003", "", 0},
        {"dbl", R6, SQL_C_SBIGINT, ANY, OK, NONE, img<int64_t>(-2147483649LL), 8},
        // BIT(1) is a number; BIT(10) is its bytes
        {"bit1", HIGH, SQL_C_BIT, ANY, OK, NONE, img<uint8_t>(1), 1},
        {"bit1", LOW, SQL_C_BIT, ANY, OK, NONE, img<uint8_t>(0), 1},
        {"bit1", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("1"), TEXT},
        {"bit1", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"1"), TEXT},
        {"bit1", HIGH, SQL_C_SLONG, ANY, OK, NONE, img<int32_t>(1), 4},
        {"bit1", HIGH, SQL_C_DEFAULT, ANY, OK, NONE, img<uint8_t>(1), 1},
        {"bit10", HIGH, SQL_C_BINARY, ANY, OK, NONE, bytes({0x02, 0x01}), 2},
        {"bit10", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("0201"), TEXT},
        {"bit10", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"0201"), TEXT},
        {"bit10", LOW, SQL_C_BINARY, ANY, OK, NONE, bytes({0, 0}), 2},
        {"bit10", HIGH, SQL_C_SLONG, ANY, ERR, "07006", "", 0},
        // DATE
        {"d", HIGH, SQL_C_TYPE_DATE, ANY, OK, NONE, date(2024, 2, 29), 6},
        {"d", HIGH, SQL_C_DATE, ANY, OK, NONE, date(2024, 2, 29), 6},
        {"d", LOW, SQL_C_TYPE_DATE, ANY, OK, NONE, date(1000, 1, 1), 6},
        {"d", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("2024-02-29"), TEXT},
        {"d", HIGH, SQL_C_CHAR, 10, INFO, "01004", z("2024-02-2"), 10},
        {"d", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"2024-02-29"), TEXT},
        {"d", HIGH, SQL_C_TYPE_TIMESTAMP, ANY, OK, NONE, stamp(2024, 2, 29, 0, 0, 0, 0), 16},
        {"d", HIGH, SQL_C_BINARY, ANY, OK, NONE, date(2024, 2, 29), 6},
        {"d", HIGH, SQL_C_DEFAULT, ANY, OK, NONE, date(2024, 2, 29), 6},
        {"d", HIGH, SQL_C_TYPE_TIME, ANY, ERR, "07006", "", 0},
        {"d", HIGH, SQL_C_SLONG, ANY, ERR, "07006", "", 0},
        // TIME: a duration, held as its text
        {"tm", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("838:59:59"), TEXT},
        {"tm", HIGH, SQL_C_TYPE_TIME, ANY, OK, NONE, time_of(838, 59, 59), 6},
        {"tm", R4, SQL_C_TIME, ANY, OK, NONE, time_of(12, 34, 56), 6},
        {"tm", R6, SQL_C_TYPE_TIME, ANY, OK, NONE, time_of(0, 0, 0), 6},
        {"tm", LOW, SQL_C_CHAR, ANY, OK, NONE, z("-838:59:59"), TEXT},
        {"tm", LOW, SQL_C_TYPE_TIME, ANY, ERR, "22018", "", 0},
        {"tm", HIGH, SQL_C_TYPE_DATE, ANY, ERR, "07006", "", 0},
        // DATETIME(6)
        {"dt", HIGH, SQL_C_TYPE_TIMESTAMP, ANY, OK, NONE, stamp(2014, 5, 6, 7, 8, 9, 123456000), 16},
        {"dt", HIGH, SQL_C_TIMESTAMP, ANY, OK, NONE, stamp(2014, 5, 6, 7, 8, 9, 123456000), 16},
        {"dt", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("2014-05-06 07:08:09.123456"), TEXT},
        {"dt", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"2014-05-06 07:08:09.123456"), TEXT},
        {"dt", HIGH, SQL_C_CHAR, 20, INFO, "01004", z("2014-05-06 07:08:09"), 26},
        {"dt", LOW, SQL_C_CHAR, ANY, OK, NONE, z("1000-01-01 00:00:00"), TEXT},
        {"dt", HIGH, SQL_C_TYPE_DATE, ANY, INFO, "01S07", date(2014, 5, 6), 6},
        {"dt", R4, SQL_C_TYPE_DATE, ANY, OK, NONE, date(2014, 5, 6), 6},
        {"dt", HIGH, SQL_C_TYPE_TIME, ANY, INFO, "01S07", time_of(7, 8, 9), 6},
        {"dt", R6, SQL_C_TYPE_TIME, ANY, OK, NONE, time_of(7, 8, 9), 6},
        {"dt", R5, SQL_C_TYPE_TIMESTAMP, ANY, OK, NONE, stamp(2014, 5, 6, 7, 8, 9, 500000000), 16},
        {"dt", HIGH, SQL_C_BINARY, ANY, OK, NONE, stamp(2014, 5, 6, 7, 8, 9, 123456000), 16},
        {"dt", HIGH, SQL_C_DEFAULT, ANY, OK, NONE, stamp(2014, 5, 6, 7, 8, 9, 123456000), 16},
        {"dt", HIGH, SQL_C_DOUBLE, ANY, ERR, "07006", "", 0},
        // TIMESTAMP
        {"ts", HIGH, SQL_C_TYPE_TIMESTAMP, ANY, OK, NONE, stamp(2038, 1, 19, 3, 14, 7, 0), 16},
        {"ts", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("2038-01-19 03:14:07"), TEXT},
        {"ts", LOW, SQL_C_WCHAR, ANY, OK, NONE, w(u"2000-01-01 00:00:00"), TEXT},
        {"ts", LOW, SQL_C_TYPE_DATE, ANY, OK, NONE, date(2000, 1, 1), 6},
        // YEAR
        {"yr", HIGH, SQL_C_SSHORT, ANY, OK, NONE, img<int16_t>(2155), 2},
        {"yr", LOW, SQL_C_SLONG, ANY, OK, NONE, img<int32_t>(1901), 4},
        {"yr", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("2155"), TEXT},
        {"yr", HIGH, SQL_C_STINYINT, ANY, ERR, "22003", "", 0},
        {"yr", HIGH, SQL_C_TYPE_DATE, ANY, ERR, "07006", "", 0},
        // CHAR, VARCHAR, TEXT in utf8mb4: narrow text is the UTF-8 bytes,
        // wide text UTF-16 with surrogate pairs
        {"ch", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("Привет"), TEXT},
        {"ch", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"Привет"), TEXT},
        {"ch", HIGH, SQL_C_CHAR, 4, INFO, "01004", z("\xD0\x9F\xD1"), 12},
        {"ch", HIGH, SQL_C_WCHAR, 8, INFO, "01004", w(u"При"), 12},
        {"ch", HIGH, SQL_C_BINARY, ANY, OK, NONE, "Привет", 12},
        {"ch", HIGH, SQL_C_SLONG, ANY, ERR, "22018", "", 0},
        {"ch", HIGH, SQL_C_TYPE_DATE, ANY, ERR, "07006", "", 0},
        {"ch", HIGH, SQL_C_GUID, ANY, ERR, "07006", "", 0},
        {"ch", LOW, SQL_C_CHAR, ANY, OK, NONE, z(""), 0},
        {"ch", LOW, SQL_C_WCHAR, ANY, OK, NONE, w(u""), 0},
        {"ch", LOW, SQL_C_SLONG, ANY, ERR, "22018", "", 0},
        {"vc", HIGH, SQL_C_CHAR, ANY, OK, NONE, z(VC), TEXT},
        {"vc", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(VC_WIDE), TEXT},
        {"vc", HIGH, SQL_C_DEFAULT, ANY, OK, NONE, z(VC), TEXT},
        // room for 12 units: the 12th would be half of the emoji's pair
        {"vc", HIGH, SQL_C_WCHAR, 26, INFO, "01004", w(u"Привет, 中文 "), 28},
        {"vc", HIGH, SQL_C_WCHAR, 28, INFO, "01004", w(u"Привет, 中文 😀"), 28},
        {"vc", HIGH, SQL_C_UTINYINT, ANY, ERR, "22018", "", 0},
        {"vc", R4, SQL_C_SLONG, ANY, OK, NONE, img<int32_t>(42), 4},
        {"vc", R4, SQL_C_DOUBLE, ANY, OK, NONE, img<double>(42.0), 8},
        {"vc", R5, SQL_C_SLONG, ANY, ERR, "22018", "", 0},
        {"vc", R5, SQL_C_DOUBLE, ANY, ERR, "22018", "", 0},
        {"vc", R6, SQL_C_SLONG, ANY, INFO, "01S07", img<int32_t>(12), 4},
        {"vc", R6, SQL_C_STINYINT, ANY, INFO, "01S07", img<int8_t>(12), 1},
        {"vc", R6, SQL_C_FLOAT, ANY, OK, NONE, img<float>(12.75f), 4},
        {"vc", R6, SQL_C_NUMERIC, ANY, OK, NONE, numeric(4, 2, 1, "1275"), 19},
        {"vc", R6, SQL_C_TYPE_TIMESTAMP, ANY, ERR, "07006", "", 0},
        {"tx", HIGH, SQL_C_CHAR, ANY, OK, NONE, z(TX), TEXT},
        {"tx", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"Ещё 漢字 and 🎉🎉"), TEXT},
        {"tx", HIGH, SQL_C_BINARY, ANY, OK, NONE, TX, (SQLLEN)TX.size()},
        {"tx", LOW, SQL_C_CHAR, ANY, OK, NONE, z(""), 0},
        // text in a binary collation is still text
        {"txb", HIGH, SQL_C_CHAR, ANY, OK, NONE, z(TX), TEXT},
        {"txb", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"Ещё 漢字 and 🎉🎉"), TEXT},
        {"txb", HIGH, SQL_C_DEFAULT, ANY, OK, NONE, z(TX), TEXT},
        // BINARY, VARBINARY, BLOB: raw bytes, or hex digits as text
        {"bn", HIGH, SQL_C_BINARY, ANY, OK, NONE, bytes({0x0A, 0xFF, 0x00, 0x01}), 4},
        {"bn", HIGH, SQL_C_BINARY, 2, INFO, "01004", bytes({0x0A, 0xFF}), 4},
        {"bn", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("0aff0001"), TEXT},
        {"bn", HIGH, SQL_C_CHAR, 4, INFO, "01004", z("0a"), 8},
        {"bn", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"0AFF0001"), TEXT},
        {"bn", LOW, SQL_C_BINARY, ANY, OK, NONE, bytes({0, 0, 0, 0}), 4},
        {"bn", HIGH, SQL_C_SLONG, ANY, ERR, "07006", "", 0},
        {"bn", HIGH, SQL_C_DEFAULT, ANY, OK, NONE, bytes({0x0A, 0xFF, 0x00, 0x01}), 4},
        {"vb", HIGH, SQL_C_CHAR, 7, OK, NONE, z("0aff00"), 6},
        {"vb", HIGH, SQL_C_WCHAR, 16, OK, NONE, w(u"0AFF00"), 12},
        {"vb", HIGH, SQL_C_BINARY, 3, OK, NONE, bytes({0x0A, 0xFF, 0x00}), 3},
        {"vb", LOW, SQL_C_BINARY, ANY, OK, NONE, "", 0},
        {"vb", LOW, SQL_C_CHAR, ANY, OK, NONE, z(""), 0},
        {"vb", HIGH, SQL_C_TYPE_DATE, ANY, ERR, "07006", "", 0},
        {"bl", HIGH, SQL_C_BINARY, ANY, OK, NONE, bytes({0x00, 0xFB, 0xFF, 0x7F}), 4},
        {"bl", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("00fbff7f"), TEXT},
        {"bl", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"00FBFF7F"), TEXT},
        {"bl", LOW, SQL_C_BINARY, ANY, OK, NONE, "", 0},
        {"bl", HIGH, SQL_C_DOUBLE, ANY, ERR, "07006", "", 0},
        // JSON, ENUM, SET: text
        {"js", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("{\"k\": \"中\"}"), TEXT},
        {"js", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"{\"k\": \"中\"}"), TEXT},
        {"js", LOW, SQL_C_CHAR, ANY, OK, NONE, z("[]"), TEXT},
        {"js", HIGH, SQL_C_DEFAULT, ANY, OK, NONE, z("{\"k\": \"中\"}"), TEXT},
        {"js", HIGH, SQL_C_SLONG, ANY, ERR, "22018", "", 0},
        {"en", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("ходить"), TEXT},
        {"en", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"ходить"), TEXT},
        {"en", LOW, SQL_C_CHAR, ANY, OK, NONE, z("small"), TEXT},
        {"en", LOW, SQL_C_SLONG, ANY, ERR, "22018", "", 0},
        {"st", HIGH, SQL_C_CHAR, ANY, OK, NONE, z("a,c"), TEXT},
        {"st", HIGH, SQL_C_WCHAR, ANY, OK, NONE, w(u"a,c"), TEXT},
        {"st", LOW, SQL_C_CHAR, ANY, OK, NONE, z(""), 0},
        // GEOMETRY: the stored bytes
        {"geo", HIGH, SQL_C_BINARY, ANY, OK, NONE, POINT, 25},
        {"geo", HIGH, SQL_C_CHAR, ANY, OK, NONE,
         z("00000000" "01" "01000000" "000000000000f03f" "0000000000000040"), TEXT},
        {"geo", HIGH, SQL_C_SLONG, ANY, ERR, "07006", "", 0},
        // NULL of every type
        {"t_s", NUL, SQL_C_STINYINT, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"t_u", NUL, SQL_C_CHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"s_s", NUL, SQL_C_SSHORT, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"s_u", NUL, SQL_C_WCHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"m_s", NUL, SQL_C_SLONG, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"m_u", NUL, SQL_C_CHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"i_s", NUL, SQL_C_SLONG, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"i_u", NUL, SQL_C_ULONG, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"b_s", NUL, SQL_C_SBIGINT, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"b_u", NUL, SQL_C_CHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"dec65", NUL, SQL_C_NUMERIC, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"flt", NUL, SQL_C_FLOAT, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"dbl", NUL, SQL_C_DOUBLE, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"bit1", NUL, SQL_C_BIT, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"bit10", NUL, SQL_C_BINARY, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"d", NUL, SQL_C_TYPE_DATE, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"tm", NUL, SQL_C_TYPE_TIME, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"dt", NUL, SQL_C_TYPE_TIMESTAMP, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"ts", NUL, SQL_C_CHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"yr", NUL, SQL_C_SSHORT, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"ch", NUL, SQL_C_CHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"vc", NUL, SQL_C_WCHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"tx", NUL, SQL_C_CHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"txb", NUL, SQL_C_WCHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"bn", NUL, SQL_C_BINARY, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"vb", NUL, SQL_C_CHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"bl", NUL, SQL_C_BINARY, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"js", NUL, SQL_C_WCHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"en", NUL, SQL_C_CHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"st", NUL, SQL_C_CHAR, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"geo", NUL, SQL_C_BINARY, ANY, OK, NONE, "", SQL_NULL_DATA},
        {"i_s", NUL, SQL_C_DEFAULT, ANY, OK, NONE, "", SQL_NULL_DATA},
        // a NULL with nowhere to say so is an error
        {"i_s", NUL, SQL_C_SLONG, ANY, ERR, "22002", "", 0, true},
        {"vc", NUL, SQL_C_CHAR, ANY, ERR, "22002", "", 0, true},
        {"dt", NUL, SQL_C_TYPE_TIMESTAMP, ANY, ERR, "22002", "", 0, true},
        // ... while a value needs no indicator
        {"vc", HIGH, SQL_C_CHAR, ANY, OK, NONE, z(VC), 0, true},
    };
    return all;
}

std::string c_type_name(SQLSMALLINT t)
{
    switch (t) {
    case SQL_C_CHAR: return "CHAR";
    case SQL_C_WCHAR: return "WCHAR";
    case SQL_C_STINYINT: return "STINYINT";
    case SQL_C_UTINYINT: return "UTINYINT";
    case SQL_C_TINYINT: return "TINYINT";
    case SQL_C_SSHORT: return "SSHORT";
    case SQL_C_USHORT: return "USHORT";
    case SQL_C_SHORT: return "SHORT";
    case SQL_C_SLONG: return "SLONG";
    case SQL_C_ULONG: return "ULONG";
    case SQL_C_LONG: return "LONG";
    case SQL_C_SBIGINT: return "SBIGINT";
    case SQL_C_UBIGINT: return "UBIGINT";
    case SQL_C_BIT: return "BIT";
    case SQL_C_FLOAT: return "FLOAT";
    case SQL_C_DOUBLE: return "DOUBLE";
    case SQL_C_NUMERIC: return "NUMERIC";
    case SQL_C_DATE: return "DATE";
    case SQL_C_TYPE_DATE: return "TYPE_DATE";
    case SQL_C_TIME: return "TIME";
    case SQL_C_TYPE_TIME: return "TYPE_TIME";
    case SQL_C_TIMESTAMP: return "TIMESTAMP";
    case SQL_C_TYPE_TIMESTAMP: return "TYPE_TIMESTAMP";
    case SQL_C_BINARY: return "BINARY";
    case SQL_C_GUID: return "GUID";
    case SQL_C_DEFAULT: return "DEFAULT";
    }
    return std::to_string(t);
}

std::string case_name(const conv_case &c)
{
    std::string n = std::string(c.column) + " row " + std::to_string(c.row) + " as " +
                    c_type_name(c.c_type);
    if (c.buffer_length != ANY)
        n += " into " + std::to_string(c.buffer_length) + " bytes";
    if (c.no_indicator)
        n += " without indicator";
    return n;
}

// The expected indicator; TEXT stands for the length in bytes of the
// expected text without its terminator.
SQLLEN expected_length(const conv_case &c)
{
    if (c.length != TEXT)
        return c.length;
    return (SQLLEN)(c.value.size() - (c.c_type == SQL_C_WCHAR ? 2 : 1));
}

std::string hex(const std::string &s)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char ch : s) {
        out += digits[ch >> 4];
        out += digits[ch & 15];
    }
    return out;
}

// ---------------------------------------------------- ways of executing

struct exec_mode {
    const char *name;
    const char *settings;    // appended to the connection string
    bool prepare;            // SQLPrepare + SQLExecute instead of SQLExecDirect
    bool binary_rows;        // rows arrive in the binary protocol
};

const exec_mode MODES[] = {
    {"ExecDirect", "", false, true},
    {"ExecDirectText", "NoBinaryDirect=1;", false, false},
    {"TextPrepare", "Text_Prepare=yes;", true, false},
    {"ServerPrepare", "", true, true},
};

class Conversion : public ::testing::TestWithParam<exec_mode> {
protected:
    qv::connection c;
    qv::handle stmt;

    void SetUp() override
    {
        SQLRETURN rc = c.connect(qv::conn_str(GetParam().settings));
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(c.dbc));
        stmt = qv::alloc_stmt(c.dbc);
        ASSERT_TRUE(stmt);
    }
    void TearDown() override { stmt.reset(); }

    SQLRETURN execute(const std::string &sql)
    {
        if (!GetParam().prepare)
            return SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
        SQLRETURN rc = SQLPrepare(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
        return SQL_SUCCEEDED(rc) ? SQLExecute(stmt) : rc;
    }

    // Executes the case's query; false (with a failure) when it does not run.
    bool select_cell(const conv_case &t)
    {
        std::string sql = std::string("SELECT ") + t.column + " FROM qv_conv WHERE id = " +
                          std::to_string(t.row);
        SQLRETURN rc = execute(sql);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << sql << "\n" << qv::describe(qv::diagnostics(stmt));
        return SQL_SUCCEEDED(rc);
    }

    void close()
    {
        SQLFreeStmt(stmt, SQL_CLOSE);
        SQLFreeStmt(stmt, SQL_UNBIND);
    }

    // The return code, the first diagnostic with its column number, and
    // what was written, against the case.
    void check(const conv_case &t, SQLRETURN rc, const unsigned char *buf, SQLLEN ind,
               SQLLEN oct, bool octet_separate)
    {
        std::vector<qv::diag_record> d = qv::diagnostics(stmt);
        EXPECT_EQ(rc, t.rc) << qv::return_name(rc) << "\n" << qv::describe(d);
        EXPECT_EQ(d.empty() ? std::string(NONE) : d[0].sqlstate, t.state) << qv::describe(d);
        if (!d.empty()) {
            SQLINTEGER column = -99;
            SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_COLUMN_NUMBER, &column, 0, nullptr);
            EXPECT_EQ(column, 1) << "column number of " << d[0].sqlstate;
        }
        if (rc == SQL_ERROR || t.rc == SQL_ERROR)
            return;
        std::string got((const char *)buf, t.value.size());
        EXPECT_EQ(hex(got), hex(t.value));
        EXPECT_EQ(buf[t.value.size()], 0xCC) << "written past the value";
        if (t.no_indicator)
            return;
        SQLLEN want = expected_length(t);
        EXPECT_EQ(ind, want) << "indicator";
        if (octet_separate) {
            EXPECT_EQ(oct, want == SQL_NULL_DATA ? 0 : want) << "octet length";
        }
    }

    SQLLEN buffer_length(const conv_case &t)
    {
        return t.buffer_length == ANY ? BUFFER : t.buffer_length;
    }

    void get_data(const conv_case &t)
    {
        if (!select_cell(t))
            return;
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << qv::describe(qv::diagnostics(stmt));
        unsigned char buf[BUFFER + 16];
        memset(buf, 0xCC, sizeof buf);
        SQLLEN ind = -77;
        SQLRETURN rc = SQLGetData(stmt, 1, t.c_type, buf, buffer_length(t),
                                  t.no_indicator ? nullptr : &ind);
        check(t, rc, buf, ind, 0, false);
        // a value delivered whole, or one that is not text, is not delivered again
        if (rc == t.rc && (rc == SQL_SUCCESS || std::string(t.state) == "01S07")) {
            EXPECT_EQ(SQLGetData(stmt, 1, t.c_type, buf, buffer_length(t), &ind), SQL_NO_DATA);
        }
        close();
    }

    // The same conversion into a bound column, with the octet length in a
    // variable of its own so both lengths are seen.
    void bound(const conv_case &t)
    {
        if (!select_cell(t))
            return;
        unsigned char buf[BUFFER + 16];
        memset(buf, 0xCC, sizeof buf);
        SQLLEN ind = -77, oct = -77;
        ASSERT_EQ(SQLBindCol(stmt, 1, t.c_type, buf, buffer_length(t),
                             t.no_indicator ? nullptr : &ind),
                  SQL_SUCCESS)
            << qv::describe(qv::diagnostics(stmt));
        bool separate = !t.no_indicator;
        if (separate) {
            SQLHDESC ard = SQL_NULL_HDESC;
            ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, 0, nullptr), SQL_SUCCESS);
            ASSERT_EQ(SQLSetDescField(ard, 1, SQL_DESC_OCTET_LENGTH_PTR, &oct, 0), SQL_SUCCESS)
                << qv::describe(qv::diagnostics(SQL_HANDLE_DESC, ard));
        }
        SQLRETURN rc = SQLFetch(stmt);
        check(t, rc, buf, ind, oct, separate);
        close();
    }
};

TEST_P(Conversion, GetDataIntoEveryCType)
{
    for (const conv_case &t : cases()) {
        SCOPED_TRACE(case_name(t));
        get_data(t);
    }
}

TEST_P(Conversion, BoundColumnsIntoEveryCType)
{
    for (const conv_case &t : cases()) {
        SCOPED_TRACE(case_name(t));
        bound(t);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, Conversion, ::testing::ValuesIn(MODES),
                         [](const ::testing::TestParamInfo<exec_mode> &i) {
                             return std::string(i.param.name);
                         });

} // namespace
