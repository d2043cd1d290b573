// Numeric conversions: the numeric structure to and from text, integers and
// doubles; strict integer and double scanning; shortest float rendering.
// The compiler's 128-bit integer serves as an independent oracle here.
#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>
#include <string.h>

#include <charconv>
#include <memory>
#include <random>
#include <string>

#include "results/my_numeric.h"

namespace {

typedef unsigned __int128 u128_t;

/* The text in a heap block of exactly its length, no terminator. */
struct exact_buffer {
    std::unique_ptr<char[]> data;
    size_t len;
    explicit exact_buffer(const std::string &s) : data(new char[s.size()]), len(s.size())
    {
        memcpy(data.get(), s.data(), s.size());
    }
};

u128_t magnitude(const sql_numeric_value &v)
{
    u128_t m = 0;
    for (int i = 15; i >= 0; i--)
        m = m << 8 | v.val[i];
    return m;
}

std::string u128_text(u128_t m)
{
    std::string s;
    do {
        s.insert(s.begin(), char('0' + int(m % 10)));
        m /= 10;
    } while (m);
    return s;
}

u128_t parse_u128(const std::string &digits)
{
    u128_t m = 0;
    for (char c : digits)
        m = m * 10 + u128_t(c - '0');
    return m;
}

sql_numeric_value make_numeric(const std::string &digits, int scale, bool negative = false,
                               int precision = 38)
{
    sql_numeric_value v;
    u128_t m = parse_u128(digits);
    for (int i = 0; i < 16; i++)
        v.val[i] = (unsigned char)(m >> (8 * i));
    v.precision = (unsigned char)precision;
    v.scale = (signed char)scale;
    v.sign = negative ? 0 : 1;
    return v;
}

std::string render(const sql_numeric_value &v)
{
    char buf[NUMERIC_TEXT_MAX];
    size_t len = 0;
    EXPECT_EQ(numeric_to_text(&v, buf, sizeof buf, &len), 0);
    EXPECT_EQ(len, strlen(buf));
    return buf;
}

int to_numeric(const std::string &text, sql_numeric_value *out, int precision = 38, int scale = 0)
{
    exact_buffer b(text);
    return text_to_numeric(b.data.get(), b.len, out, precision, scale);
}

const std::string MAX128 = "340282366920938463463374607431768211455";   // 2^128 - 1

/* ---------------------------------------------------------------------- */

struct text_numeric_case {
    const char *text;
    int status;
    const char *magnitude;   // decimal
    int scale;
    int sign;
};

const text_numeric_case text_numeric_cases[] = {
    {"12.50", NUM_OK, "1250", 2, 1},
    {"-0.05", NUM_OK, "5", 2, 0},
    {"0", NUM_OK, "0", 0, 1},
    {"-0", NUM_OK, "0", 0, 1},                 // a zero has no sign
    {"0.000", NUM_OK, "0", 3, 1},
    {"  +007.10  ", NUM_OK, "710", 2, 1},
    {".5", NUM_OK, "5", 1, 1},
    {"5.", NUM_OK, "5", 0, 1},
    {"340282366920938463463374607431768211455", NUM_OK, MAX128.c_str(), 0, 1},
    {"-340282366920938463463374607431768211455", NUM_OK, MAX128.c_str(), 0, 0},
    {"340282366920938463463374607431768211456", NUM_OVERFLOW, nullptr, 0, 0},
    {"999999999999999999999999999999999999999", NUM_OVERFLOW, nullptr, 0, 0},
    {"99999999999999999999999999999999999999", NUM_OK, "99999999999999999999999999999999999999", 0, 1},
    {"0.99999999999999999999999999999999999999", NUM_OK, "99999999999999999999999999999999999999", 38, 1},
    {"000000000000000000000000000000000000000000012", NUM_OK, "12", 0, 1},
    // exponents move the point; a negative scale is never made from one
    {"1.5e3", NUM_OK, "1500", 0, 1},
    {"1.234568E+20", NUM_OK, "123456800000000000000", 0, 1},
    {"1e-5", NUM_OK, "1", 5, 1},
    {"-2.5E-1", NUM_OK, "25", 2, 0},
    {"1e38", NUM_OK, "100000000000000000000000000000000000000", 0, 1},
    {"1e39", NUM_OVERFLOW, nullptr, 0, 0},
    {"0e100000000", NUM_OK, "0", 0, 1},
    // more digits than 128 bits hold: fraction digits are given up
    {"12345678901234.123456789012345678901234567890", NUM_FRACTION,
     "123456789012341234567890123456789012345", 25, 1},
    {"1.000000000000000000000000000000000000000000000", NUM_OK,
     "100000000000000000000000000000000000000", 38, 1},
    // trailing text: the leading number, reported
    {"12a", NUM_TRAILING, "12", 0, 1},
    {"1e", NUM_TRAILING, "1", 0, 1},
    {"", NUM_INVALID, nullptr, 0, 0},
    {"  ", NUM_INVALID, nullptr, 0, 0},
    {"-", NUM_INVALID, nullptr, 0, 0},
    {".", NUM_INVALID, nullptr, 0, 0},
    {"abc", NUM_INVALID, nullptr, 0, 0},
    {"e5", NUM_INVALID, nullptr, 0, 0},
};

TEST(NumericText, ToNumeric)
{
    for (const text_numeric_case &c : text_numeric_cases) {
        SCOPED_TRACE(c.text);
        sql_numeric_value v;
        memset(&v, 0xAA, sizeof v);
        ASSERT_EQ(to_numeric(c.text, &v, 17), c.status);
        if (c.status < 0)
            continue;
        EXPECT_EQ(u128_text(magnitude(v)), c.magnitude);
        EXPECT_EQ(v.scale, c.scale);
        EXPECT_EQ(v.sign, c.sign);
        EXPECT_EQ(v.precision, 17);   // stored as given
    }
}

TEST(NumericText, LongFractionAndStartingScale)
{
    sql_numeric_value v;
    // a scale above 127 cannot be stored: the digits past it are dropped
    std::string tiny = "0." + std::string(130, '0') + "1";
    EXPECT_EQ(to_numeric(tiny, &v), NUM_FRACTION);
    EXPECT_EQ(v.scale, 127);
    EXPECT_EQ(magnitude(v), 0u);
    std::string zeros = "0." + std::string(200, '0');
    EXPECT_EQ(to_numeric(zeros, &v), NUM_OK);
    EXPECT_EQ(render(v), "0");
    // the starting scale adds to the fraction digits
    ASSERT_EQ(to_numeric("1234", &v, 10, 3), NUM_OK);
    EXPECT_EQ(v.scale, 3);
    EXPECT_EQ(render(v), "1.234");
    ASSERT_EQ(to_numeric("12", &v, 10, -2), NUM_OK);
    EXPECT_EQ(render(v), "1200");
    EXPECT_EQ(to_numeric("1", &v, 10, 200), NUM_OVERFLOW);
    // an integer part beyond 128 bits is never cut
    EXPECT_EQ(to_numeric(MAX128 + "0.5", &v), NUM_OVERFLOW);
}

TEST(NumericText, CountNotTerminator)
{
    sql_numeric_value v;
    const char row[] = "12.345678";
    ASSERT_EQ(text_to_numeric(row, 4, &v, 10, 0), NUM_OK);   // "12.3"
    EXPECT_EQ(render(v), "12.3");
    const char app[] = "42\0999";
    ASSERT_EQ(text_to_numeric(app, sizeof app - 1, &v, 10, 0), NUM_OK);
    EXPECT_EQ(render(v), "42");
    EXPECT_EQ(text_to_numeric(nullptr, 0, &v, 10, 0), NUM_INVALID);
    // every prefix of a long value, from exact-size blocks
    std::string text = "-" + MAX128.substr(0, 20) + "." + MAX128.substr(20) + "e+5";
    for (size_t n = 0; n <= text.size(); n++)
        to_numeric(text.substr(0, n), &v);
}

struct render_case {
    const char *magnitude;
    int scale;
    bool negative;
    const char *text;
};

const render_case render_cases[] = {
    {"1250", 2, false, "12.5"},
    {"5", 2, true, "-0.05"},
    {"0", 3, false, "0"},
    {"0", 3, true, "0"},
    {"0", -3, false, "0"},
    {"12", -2, false, "1200"},
    {"1", 0, true, "-1"},
    {"100", 2, false, "1"},
    {"1", 38, false, "0.00000000000000000000000000000000000001"},
    {"340282366920938463463374607431768211455", 0, true, "-340282366920938463463374607431768211455"},
    {"340282366920938463463374607431768211455", 39, false,
     "0.340282366920938463463374607431768211455"},
    {"340282366920938463463374607431768211455", 20, false,
     "3402823669209384634.63374607431768211455"},
};

TEST(NumericText, FromNumeric)
{
    for (const render_case &c : render_cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(render(make_numeric(c.magnitude, c.scale, c.negative)), c.text);
    }
    // the longest text: every digit and a scale of -128
    sql_numeric_value v = make_numeric(MAX128, -128, true);
    std::string longest = render(v);
    EXPECT_EQ(longest, "-" + MAX128 + std::string(128, '0'));
    EXPECT_LT(longest.size(), size_t(NUMERIC_TEXT_MAX));
}

TEST(NumericText, TruncatedCopy)
{
    sql_numeric_value v = make_numeric("1234567", 3);   // 1234.567
    char buf[6];
    size_t len = 0;
    EXPECT_EQ(numeric_to_text(&v, buf, sizeof buf, &len), 1);
    EXPECT_STREQ(buf, "1234.");
    EXPECT_EQ(len, 8u);
    char exact[9];
    EXPECT_EQ(numeric_to_text(&v, exact, sizeof exact, &len), 0);
    EXPECT_STREQ(exact, "1234.567");
    EXPECT_EQ(numeric_to_text(&v, exact, 8, &len), 1);   // no room for the NUL
    EXPECT_STREQ(exact, "1234.56");
    EXPECT_EQ(numeric_to_text(&v, nullptr, 0, &len), 1);
    EXPECT_EQ(len, 8u);
}

TEST(NumericText, PadFraction)
{
    struct {
        const char *magnitude;
        int scale;
        const char *padded;
    } cases[] = {
        {"1250", 2, "12.50"},
        {"0", 3, "0.000"},
        {"100", 2, "1.00"},
        {"12", 0, "12"},
        {"12", -2, "1200"},
        {"5", 2, "0.05"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.padded);
        sql_numeric_value v = make_numeric(c.magnitude, c.scale);
        char buf[32];
        size_t len;
        ASSERT_EQ(numeric_to_text(&v, buf, sizeof buf, &len), 0);
        EXPECT_EQ(pad_numeric_fraction(&v, buf, sizeof buf, &len), 0);
        EXPECT_STREQ(buf, c.padded);
        EXPECT_EQ(len, strlen(c.padded));
    }
    // zeros that do not fit leave the text as it was
    sql_numeric_value v = make_numeric("1250", 2);
    char buf[6];
    size_t len;
    ASSERT_EQ(numeric_to_text(&v, buf, sizeof buf, &len), 0);
    EXPECT_EQ(pad_numeric_fraction(&v, buf, 5, &len), 1);
    EXPECT_STREQ(buf, "12.5");
    EXPECT_EQ(len, 4u);
}

/* Every precision from 1 to 38 with scales from -5 to beyond the precision:
 * the structure renders as the expected text, the text reads back to the same
 * value, and rescaling brings back the very same structure. */
TEST(NumericText, RoundTripEveryPrecisionAndScale)
{
    const std::string pattern = "98765432101234567890987654321012345678";
    for (int p = 1; p <= 38; p++) {
        for (const std::string &digits : {std::string(size_t(p), '9'), pattern.substr(0, p)}) {
            for (int s : {-5, -1, 0, 1, p / 2, p - 1, p, p + 3}) {
                SCOPED_TRACE(digits + " scale " + std::to_string(s));
                sql_numeric_value v = make_numeric(digits, s, p % 2 == 0, p);
                std::string text = render(v);

                // reference text
                std::string ref;
                if (s <= 0) {
                    ref = digits + std::string(size_t(-s), '0');
                } else {
                    std::string padded = std::string(s >= p ? size_t(s - p + 1) : 0, '0') + digits;
                    ref = padded.substr(0, padded.size() - size_t(s)) + "." +
                          padded.substr(padded.size() - size_t(s));
                    while (ref.back() == '0')
                        ref.pop_back();
                    if (ref.back() == '.')
                        ref.pop_back();
                }
                if (p % 2 == 0)
                    ref = "-" + ref;
                ASSERT_EQ(text, ref);

                sql_numeric_value back;
                std::string unsigned_ref = p % 2 == 0 ? ref.substr(1) : ref;
                if (s < 0 && (unsigned_ref.size() > MAX128.size() ||
                              (unsigned_ref.size() == MAX128.size() && unsigned_ref > MAX128))) {
                    // a negative scale holds more than 128 bits of integer: as
                    // text that is an integer too large for a structure
                    EXPECT_EQ(to_numeric(text, &back, p), NUM_OVERFLOW);
                    continue;
                }
                ASSERT_EQ(to_numeric(text, &back, p), NUM_OK);
                EXPECT_EQ(back.sign, v.sign);
                ASSERT_EQ(numeric_rescale(&back, p, s), NUM_OK);
                EXPECT_EQ(memcmp(&back, &v, sizeof v), 0);
            }
        }
    }
}

TEST(NumericConvert, Rescale)
{
    sql_numeric_value v = make_numeric("123456", 3);   // 123.456
    sql_numeric_value w = v;
    EXPECT_EQ(numeric_rescale(&w, 10, 2), NUM_FRACTION);   // truncated, not rounded
    EXPECT_EQ(render(w), "123.45");
    w = v;
    EXPECT_EQ(numeric_rescale(&w, 10, 5), NUM_OK);
    EXPECT_EQ(u128_text(magnitude(w)), "12345600");
    w = v;
    EXPECT_EQ(numeric_rescale(&w, 4, 2), NUM_OVERFLOW);      // 12345 has 5 digits
    EXPECT_EQ(memcmp(&w, &v, sizeof v), 0);                  // untouched
    EXPECT_EQ(numeric_rescale(&w, 5, 2), NUM_FRACTION);
    w = v;
    EXPECT_EQ(numeric_rescale(&w, 3, -1), NUM_FRACTION);     // 120
    EXPECT_EQ(render(w), "120");
    w = make_numeric(MAX128, 0);
    EXPECT_EQ(numeric_rescale(&w, 0, 1), NUM_OVERFLOW);
    w = make_numeric("0", 0);
    EXPECT_EQ(numeric_rescale(&w, 1, 127), NUM_OK);
    EXPECT_EQ(numeric_rescale(&w, 1, 128), NUM_OVERFLOW);
}

TEST(NumericConvert, FromIntegers)
{
    sql_numeric_value v;
    ASSERT_EQ(int_to_numeric(1234, &v, 10, -2), NUM_FRACTION);   // 34 dropped
    EXPECT_EQ(u128_text(magnitude(v)), "12");
    EXPECT_EQ(v.scale, -2);
    EXPECT_EQ(v.precision, 10);
    EXPECT_EQ(render(v), "1200");
    ASSERT_EQ(int_to_numeric(1200, &v, 10, -2), NUM_OK);
    ASSERT_EQ(int_to_numeric(-5, &v, 10, 2), NUM_OK);
    EXPECT_EQ(render(v), "-5");
    EXPECT_EQ(u128_text(magnitude(v)), "500");
    ASSERT_EQ(int_to_numeric(INT64_MIN, &v, 19, 0), NUM_OK);
    EXPECT_EQ(render(v), "-9223372036854775808");
    ASSERT_EQ(int_to_numeric(INT64_MAX, &v, 38, 19), NUM_OK);
    EXPECT_EQ(u128_text(magnitude(v)), "92233720368547758070000000000000000000");
    EXPECT_EQ(int_to_numeric(INT64_MAX, &v, 38, 20), NUM_OVERFLOW);   // beyond 128 bits
    ASSERT_EQ(int_to_numeric(0, &v, 38, 127), NUM_OK);
    ASSERT_EQ(int_to_numeric(-3, &v, 38, -1), NUM_FRACTION);
    EXPECT_EQ(v.sign, 1);   // the value became 0
    EXPECT_EQ(int_to_numeric(1, &v, 38, 128), NUM_OVERFLOW);
    ASSERT_EQ(uint_to_numeric(UINT64_MAX, &v, 20, 0), NUM_OK);
    EXPECT_EQ(render(v), "18446744073709551615");
}

TEST(NumericConvert, ToIntegers)
{
    struct {
        const char *magnitude;
        int scale;
        bool negative;
        int status;
        int64_t value;
    } cases[] = {
        {"125", 1, false, NUM_FRACTION, 12},
        {"125", 1, true, NUM_FRACTION, -12},
        {"120", 1, false, NUM_OK, 12},
        {"12", -2, false, NUM_OK, 1200},
        {"9223372036854775807", 0, false, NUM_OK, INT64_MAX},
        {"9223372036854775808", 0, true, NUM_OK, INT64_MIN},
        {"9223372036854775808", 0, false, NUM_OVERFLOW, INT64_MAX},
        {"9223372036854775809", 0, true, NUM_OVERFLOW, INT64_MIN},
        {"92233720368547758075", 1, false, NUM_FRACTION, INT64_MAX},
        {MAX128.c_str(), 0, false, NUM_OVERFLOW, INT64_MAX},
        {"5", 1, true, NUM_FRACTION, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.magnitude);
        sql_numeric_value v = make_numeric(c.magnitude, c.scale, c.negative);
        int64_t out = 0;
        EXPECT_EQ(numeric_to_int64(&v, &out), c.status);
        EXPECT_EQ(out, c.value);
    }
    uint64_t u = 0;
    sql_numeric_value big = make_numeric("18446744073709551615", 0);
    EXPECT_EQ(numeric_to_uint64(&big, &u), NUM_OK);
    EXPECT_EQ(u, UINT64_MAX);
    big = make_numeric("18446744073709551616", 0);
    EXPECT_EQ(numeric_to_uint64(&big, &u), NUM_OVERFLOW);
    sql_numeric_value neg = make_numeric("1", 0, true);
    EXPECT_EQ(numeric_to_uint64(&neg, &u), NUM_OVERFLOW);
    EXPECT_EQ(u, 0u);
    neg = make_numeric("5", 1, true);   // -0.5
    EXPECT_EQ(numeric_to_uint64(&neg, &u), NUM_FRACTION);
    EXPECT_EQ(u, 0u);
}

TEST(NumericConvert, FromDouble)
{
    struct {
        double value;
        int scale;
        int status;
        const char *text;
    } cases[] = {
        {0.29, 2, NUM_OK, "0.29"},           // not 28.999999999999996
        {1.005, 2, NUM_FRACTION, "1.01"},    // the digits written, rounded half away
        {0.125, 2, NUM_FRACTION, "0.13"},
        {-2.5, 0, NUM_FRACTION, "-3"},
        {-0.0, 0, NUM_OK, "0"},
        {1234.0, -2, NUM_FRACTION, "1200"},
        {1250.0, -2, NUM_FRACTION, "1300"},
        {1200.0, -2, NUM_OK, "1200"},
        {12.5, 3, NUM_OK, "12.5"},
        {1e20, 0, NUM_OK, "100000000000000000000"},
        {1e-5, 5, NUM_OK, "0.00001"},
        {1e-5, 4, NUM_FRACTION, "0"},
        // the largest double below 2^128, by its shortest digits
        {3.4028236692093843e38, 0, NUM_OK, "340282366920938430000000000000000000000"},
        {99.995, 2, NUM_FRACTION, "100"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.text);
        sql_numeric_value v;
        ASSERT_EQ(double_to_numeric(c.value, &v, 38, c.scale), c.status);
        EXPECT_EQ(render(v), c.text);
        EXPECT_EQ(v.scale, c.scale);
        EXPECT_EQ(v.precision, 38);
    }
    sql_numeric_value v;
    EXPECT_EQ(double_to_numeric(1e300, &v, 38, 0), NUM_OVERFLOW);
    EXPECT_EQ(double_to_numeric(3.402823669209385e38, &v, 38, 0), NUM_OVERFLOW);   // 2^128
    EXPECT_EQ(double_to_numeric(INFINITY, &v, 38, 0), NUM_OVERFLOW);
    EXPECT_EQ(double_to_numeric(NAN, &v, 38, 0), NUM_INVALID);
    EXPECT_EQ(double_to_numeric(1.0, &v, 38, 128), NUM_OVERFLOW);
}

TEST(NumericConvert, ToDouble)
{
    struct {
        const char *magnitude;
        int scale;
        bool negative;
        double value;
    } cases[] = {
        {"1234", 2, false, 12.34},
        {"1234", 2, true, -12.34},
        {"1", 1, false, 0.1},
        {"3", 1, false, 0.3},
        {"12", -2, false, 1200.0},
        {"0", 5, false, 0.0},
        {"9007199254740993", 0, false, 9007199254740992.0},     // above 2^53: rounded once
        {"123456789012345678901234567890", 10, false, 12345678901234567890.123456789},
        {"340282366920938463463374607431768211455", 0, false, 3.4028236692093846e38},
        {"1", 127, false, 1e-127},
        {"1", -128, false, 1e128},
        {"31415926535897932384626433832795", 31, false, 3.141592653589793},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.magnitude);
        sql_numeric_value v = make_numeric(c.magnitude, c.scale, c.negative);
        double d = -1;
        numeric_to_double(&v, &d);
        EXPECT_EQ(d, c.value);
    }
}

/* ---------------------------------------------------------------------- */

TEST(NumberScan, SignedLimits)
{
    struct {
        const char *text;
        int status;
        int64_t value;
    } cases[] = {
        {"9223372036854775807", NUM_OK, INT64_MAX},
        {"9223372036854775808", NUM_OVERFLOW, INT64_MAX},
        {"-9223372036854775808", NUM_OK, INT64_MIN},
        {"-9223372036854775809", NUM_OVERFLOW, INT64_MIN},
        {"99999999999999999999999", NUM_OVERFLOW, INT64_MAX},
        {"0000000000000000000000000000001", NUM_OK, 1},
        {" 42 ", NUM_OK, 42},
        {"\t-42\n", NUM_OK, -42},
        {"+7", NUM_OK, 7},
        {"12.5", NUM_FRACTION, 12},
        {"-12.5", NUM_FRACTION, -12},
        {"12.000", NUM_OK, 12},
        {"1e3", NUM_OK, 1000},
        {"1.5e1", NUM_OK, 15},
        {"15e-1", NUM_FRACTION, 1},
        {"9.223372036854775807e18", NUM_OK, INT64_MAX},
        {"1e19", NUM_OVERFLOW, INT64_MAX},
        {"1e100000000", NUM_OVERFLOW, INT64_MAX},
        {"0e100000000", NUM_OK, 0},
        {"1e-100000000", NUM_FRACTION, 0},
        {"4x2", NUM_TRAILING, 4},
        {"12.5abc", NUM_TRAILING, 12},
        {"12 3", NUM_TRAILING, 12},
        {"99999999999999999999x", NUM_OVERFLOW, INT64_MAX},
        {"", NUM_INVALID, 0},
        {"abc", NUM_INVALID, 0},
        {"- 1", NUM_INVALID, 0},
        {"+-1", NUM_INVALID, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.text);
        exact_buffer b(c.text);
        int64_t v = 0;
        EXPECT_EQ(text_to_int64(b.data.get(), b.len, &v), c.status);
        if (c.status != NUM_INVALID) {
            EXPECT_EQ(v, c.value);
        }
    }
}

TEST(NumberScan, UnsignedLimits)
{
    struct {
        const char *text;
        int status;
        uint64_t value;
    } cases[] = {
        {"18446744073709551615", NUM_OK, UINT64_MAX},
        {"18446744073709551616", NUM_OVERFLOW, UINT64_MAX},
        {"184467440737095516150", NUM_OVERFLOW, UINT64_MAX},
        {"-1", NUM_OVERFLOW, 0},
        {"-0", NUM_OK, 0},
        {"-0.5", NUM_FRACTION, 0},
        {"1.8446744073709551615e19", NUM_OK, UINT64_MAX},
        {"7 ", NUM_OK, 7},
        {"7z", NUM_TRAILING, 7},
        {".", NUM_INVALID, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.text);
        exact_buffer b(c.text);
        uint64_t v = 1;
        EXPECT_EQ(text_to_uint64(b.data.get(), b.len, &v), c.status);
        if (c.status != NUM_INVALID) {
            EXPECT_EQ(v, c.value);
        }
    }
}

TEST(NumberScan, Doubles)
{
    struct {
        const char *text;
        int status;
        double value;
    } cases[] = {
        {"3.141592653589793", NUM_OK, 3.141592653589793},
        {" -1.5e-3 ", NUM_OK, -1.5e-3},
        {"+.5", NUM_OK, 0.5},
        {"5.", NUM_OK, 5.0},
        {"1E+308", NUM_OK, 1e308},
        {"1.7976931348623157e308", NUM_OK, 1.7976931348623157e308},
        {"1.7976931348623159e308", NUM_OVERFLOW, HUGE_VAL},
        {"-1e400", NUM_OVERFLOW, -HUGE_VAL},
        {"1e100000000000000000000", NUM_OVERFLOW, HUGE_VAL},
        {"0.00001e400", NUM_OVERFLOW, HUGE_VAL},
        {"5e-324", NUM_OK, 5e-324},
        {"1e-400", NUM_OK, 0.0},
        {"100000e-400", NUM_OK, 0.0},
        {"0e999999", NUM_OK, 0.0},
        {"1e", NUM_TRAILING, 1.0},
        {"0x10", NUM_TRAILING, 0.0},
        {"2.5 kg", NUM_TRAILING, 2.5},
        {"inf", NUM_INVALID, 0},
        {"nan", NUM_INVALID, 0},
        {"-infinity", NUM_INVALID, 0},
        {"", NUM_INVALID, 0},
        {"e5", NUM_INVALID, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.text);
        exact_buffer b(c.text);
        double v = -7;
        EXPECT_EQ(text_to_double(b.data.get(), b.len, &v), c.status);
        if (c.status != NUM_INVALID) {
            EXPECT_EQ(v, c.value);
        }
    }
    double neg = 1;
    ASSERT_EQ(text_to_double("-1e-400", 7, &neg), NUM_OK);
    EXPECT_TRUE(neg == 0 && signbit(neg));   // underflow keeps the sign
}

/* ---------------------------------------------------------------------- */

TEST(FloatText, ShortestRoundTrip)
{
    struct {
        double value;
        const char *text;
    } cases[] = {
        {3.141592653589793, "3.141592653589793"},
        {0.1, "0.1"},
        {1e-300, "1e-300"},
        {5e-324, "5e-324"},
        {-0.0, "-0"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
        {2.2250738585072014e-308, "2.2250738585072014e-308"},
        {123456789012345680.0, "123456789012345680"},
        {0.30000000000000004, "0.30000000000000004"},
        {-1234.5, "-1234.5"},
        {1e20, "1e+20"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.text);
        char buf[FLOAT_TEXT_MAX];
        int n = double_to_text(c.value, buf, sizeof buf);
        ASSERT_EQ(n, int(strlen(c.text)));
        EXPECT_STREQ(buf, c.text);
        double back = 1;
        ASSERT_EQ(text_to_double(buf, size_t(n), &back), NUM_OK);
        EXPECT_EQ(memcmp(&back, &c.value, sizeof back), 0);   // bit for bit, -0 included
    }
    char buf[FLOAT_TEXT_MAX];
    EXPECT_EQ(float_to_text(3.4028235e38f, buf, sizeof buf), 13);
    EXPECT_STREQ(buf, "3.4028235e+38");
    EXPECT_EQ(float_to_text(0.1f, buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "0.1");
    EXPECT_EQ(float_to_text(16777217.0f, buf, sizeof buf), 8);   // 2^24 + 1 is not a float
    EXPECT_STREQ(buf, "16777216");
    EXPECT_EQ(double_to_text(INFINITY, buf, sizeof buf), 3);
    EXPECT_STREQ(buf, "inf");
    // a buffer too small is refused, not overrun
    EXPECT_EQ(double_to_text(3.141592653589793, buf, 5), -1);
    EXPECT_EQ(double_to_text(1.0, buf, 0), -1);
    EXPECT_EQ(double_to_text(1.0, buf, 2), 1);
}

/* Random bit patterns: every finite double and float reads back from its
 * text as the very same value, through the driver's own scanner. */
TEST(FloatText, RandomRoundTrips)
{
    std::mt19937_64 rng(20240229);
    char buf[FLOAT_TEXT_MAX];
    for (int i = 0; i < 200000; i++) {
        uint64_t bits = rng();
        double d;
        memcpy(&d, &bits, sizeof d);
        if (!isfinite(d))
            continue;
        int n = double_to_text(d, buf, sizeof buf);
        ASSERT_GT(n, 0);
        double back;
        ASSERT_EQ(text_to_double(buf, size_t(n), &back), NUM_OK) << buf;
        ASSERT_EQ(memcmp(&back, &d, sizeof d), 0) << buf;

        uint32_t fbits = uint32_t(bits >> 11);
        float f;
        memcpy(&f, &fbits, sizeof f);
        if (!isfinite(f))
            continue;
        n = float_to_text(f, buf, sizeof buf);
        ASSERT_GT(n, 0);
        float fback;
        auto r = std::from_chars(buf, buf + n, fback);
        ASSERT_EQ(r.ptr, buf + n);
        ASSERT_EQ(memcmp(&fback, &f, sizeof f), 0) << buf;
    }
}

} // namespace
