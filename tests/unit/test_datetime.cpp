// Date/time scanner: every accepted form, the rejects with their reasons,
// counted buffers that end mid-value, the diagnostics and the builders.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "frame/my_handle.h"
#include "results/my_datetime.h"

namespace {

/* The text in a heap block of exactly its length, no terminator: under the
 * sanitizer any read past the count is caught. */
struct exact_buffer {
    std::unique_ptr<char[]> data;
    size_t len;
    explicit exact_buffer(const std::string &s) : data(new char[s.size()]), len(s.size())
    {
        memcpy(data.get(), s.data(), s.size());
    }
};

int scan(const std::string &text, datetime_parts *out, const char **reason)
{
    exact_buffer b(text);
    return scan_datetime(nullptr, b.data.get(), b.len, out, reason);
}

std::string msg(int n)
{
    return "invalid character in date/time string (" + std::to_string(n) + ")";
}

struct accepted_case {
    const char *text;
    datetime_parts want;   /* category, y, m, d, h, mi, s, fraction_ns, zone h, zone m */
};

const accepted_case accepted[] = {
    // server forms and fractions (all digits kept, up to nanoseconds)
    {"2014-05-06 10:20:30", {1, 2014, 5, 6, 10, 20, 30, 0, 0, 0}},
    {"2014-05-06 10:20:30.5", {1, 2014, 5, 6, 10, 20, 30, 500000000, 0, 0}},
    {"2014-05-06 10:20:30.1234567", {1, 2014, 5, 6, 10, 20, 30, 123456700, 0, 0}},
    {"2014-05-06 10:20:30.123456789123", {1, 2014, 5, 6, 10, 20, 30, 123456789, 0, 0}},
    {"2014-05-06 10:20:30.", {1, 2014, 5, 6, 10, 20, 30, 0, 0, 0}},
    {"0000-00-00 00:00:00", {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {"2014-05-06", {2, 2014, 5, 6, 0, 0, 0, 0, 0, 0}},
    {"  2014-05-06  ", {2, 2014, 5, 6, 0, 0, 0, 0, 0, 0}},
    {"2014/05/06", {2, 2014, 5, 6, 0, 0, 0, 0, 0, 0}},
    {"2014-13-40", {2, 2014, 13, 40, 0, 0, 0, 0, 0, 0}},   // ranges are not checked
    {"'2014-05-06'", {2, 2014, 5, 6, 0, 0, 0, 0, 0, 0}},
    {"2014-05-06 :20:30", {1, 2014, 5, 6, 0, 20, 30, 0, 0, 0}},
    // escapes
    {"{ts '2014-05-06'}", {1, 2014, 5, 6, 0, 0, 0, 0, 0, 0}},
    {"{ts '2014-05-06 10:20:30.25'}", {1, 2014, 5, 6, 10, 20, 30, 250000000, 0, 0}},
    {"{ d '2014-05-06'}", {2, 2014, 5, 6, 0, 0, 0, 0, 0, 0}},
    {"{d '2014/05/06'}", {2, 2014, 5, 6, 0, 0, 0, 0, 0, 0}},
    {"{t '10:20:30'}", {3, 0, 0, 0, 10, 20, 30, 0, 0, 0}},
    {"{t '10:20'}", {3, 0, 0, 0, 10, 20, 0, 0, 0, 0}},
    // times
    {"10:20", {3, 0, 0, 0, 10, 20, 0, 0, 0, 0}},
    {"10:20:30.5", {3, 0, 0, 0, 10, 20, 30, 500000000, 0, 0}},
    {"838:59:59", {3, 0, 0, 0, 838, 59, 59, 0, 0, 0}},
    {"10:20:30 ", {3, 0, 0, 0, 10, 20, 30, 0, 0, 0}},
    // compact dates
    {"20140506", {2, 2014, 5, 6, 0, 0, 0, 0, 0, 0}},
    {"20140506 10:20:30", {1, 2014, 5, 6, 10, 20, 30, 0, 0, 0}},
    {"20140506 10:20:30.000001", {1, 2014, 5, 6, 10, 20, 30, 1000, 0, 0}},
    // day first only when the third number cannot be a day, and only with a time
    {"06-05-2014 10:20:30", {1, 2014, 5, 6, 10, 20, 30, 0, 0, 0}},
    {"06-05-2014", {2, 6, 5, 2014, 0, 0, 0, 0, 0, 0}},
    {"2014-05-06 10:20:30", {1, 2014, 5, 6, 10, 20, 30, 0, 0, 0}},
    // 12-hour clock
    {"2014-05-06 01:20:30 PM", {1, 2014, 5, 6, 13, 20, 30, 0, 0, 0}},
    {"2014-05-06 12:20:30 PM", {1, 2014, 5, 6, 12, 20, 30, 0, 0, 0}},
    {"2014-05-06 12:20:30 AM", {1, 2014, 5, 6, 0, 20, 30, 0, 0, 0}},
    {"2014-05-06 01:20:30 am", {1, 2014, 5, 6, 1, 20, 30, 0, 0, 0}},
    {"2014-05-06 11:20:30 PM +01:00", {4, 2014, 5, 6, 23, 20, 30, 0, 1, 0}},
    // zone offsets
    {"2014-05-06 10:20:30 +02:00", {4, 2014, 5, 6, 10, 20, 30, 0, 2, 0}},
    {"2014-05-06 10:20:30 -05:30", {4, 2014, 5, 6, 10, 20, 30, 0, -5, 30}},
    {"2014-05-06 10:20:30 02:00", {4, 2014, 5, 6, 10, 20, 30, 0, 2, 0}},
    {"2014-05-06 10:20:30.5 +02:00 ", {4, 2014, 5, 6, 10, 20, 30, 500000000, 2, 0}},
    {"{ts '2014-05-06 10:20:30 -01:00'}", {4, 2014, 5, 6, 10, 20, 30, 0, -1, 0}},
    // month names
    {"Jan 5 2014 10:20:30", {1, 2014, 1, 5, 10, 20, 30, 0, 0, 0}},
    {"february 5 14'", {2, 2014, 2, 5, 0, 0, 0, 0, 0, 0}},
    {"Jan 5 2014", {2, 2014, 1, 5, 0, 0, 0, 0, 0, 0}},
    {"SEPTEMBER   15   2014  ", {2, 2014, 9, 15, 0, 0, 0, 0, 0, 0}},
    {"Dec 31 1999 11:59:59PM", {1, 1999, 12, 31, 23, 59, 59, 0, 0, 0}},
    {"Dec 31 1999 12:00AM", {1, 1999, 12, 31, 0, 0, 0, 0, 0, 0}},
    {"Jan 5 2014 10:20", {1, 2014, 1, 5, 10, 20, 0, 0, 0, 0}},
    {"Jan 5 2014 10:20:30.25", {1, 2014, 1, 5, 10, 20, 30, 250000000, 0, 0}},
    {"Jan 5 2014 10:20:30:123", {1, 2014, 1, 5, 10, 20, 30, 123000000, 0, 0}},
    {"Jan 5 2014 10:20:30.5PM", {1, 2014, 1, 5, 22, 20, 30, 500000000, 0, 0}},
    {"Jan 5 2014 10:20:30 +01:00", {4, 2014, 1, 5, 10, 20, 30, 0, 1, 0}},
    {"{ts 'May 7 2014 10:20:30'}", {1, 2014, 5, 7, 10, 20, 30, 0, 0, 0}},
};

TEST(DateTimeScan, AcceptedForms)
{
    for (const accepted_case &c : accepted) {
        SCOPED_TRACE(c.text);
        datetime_parts p;
        const char *reason = "unset";
        ASSERT_EQ(scan(c.text, &p, &reason), 0) << reason;
        EXPECT_EQ(reason, nullptr);
        EXPECT_EQ(p.category, c.want.category);
        EXPECT_EQ(p.year, c.want.year);
        EXPECT_EQ(p.month, c.want.month);
        EXPECT_EQ(p.day, c.want.day);
        EXPECT_EQ(p.hour, c.want.hour);
        EXPECT_EQ(p.minute, c.want.minute);
        EXPECT_EQ(p.second, c.want.second);
        EXPECT_EQ(p.fraction_ns, c.want.fraction_ns);
        EXPECT_EQ(p.zone_hours, c.want.zone_hours);
        EXPECT_EQ(p.zone_minutes, c.want.zone_minutes);
    }
}

struct rejected_case {
    const char *text;
    std::string reason;
};

const rejected_case rejected[] = {
    {"", DT_MSG_END},
    {"   ", DT_MSG_END},
    {"'", DT_MSG_END},
    {"{", DT_MSG_END},
    {"{x '2014-05-06'}", DT_MSG_INTRODUCER},
    {"2014-05-06T10:20:30", DT_MSG_CHAR},
    {"2014050", DT_MSG_END},
    {"2014", DT_MSG_END},
    {"2014-", DT_MSG_END},
    {"2014-05", DT_MSG_END},
    {"2014-05-", DT_MSG_END},
    {"2014--06", DT_MSG_CHAR},
    {"2014-05:06", DT_MSG_CHAR},
    {"10:20-30", DT_MSG_CHAR},
    {"10:", DT_MSG_END},
    {"-2014-05-06", DT_MSG_CHAR},
    {"2014-05-06x", DT_MSG_CHAR},
    {"2014-05-06.5", DT_MSG_CHAR},
    {"2014-05-06 10:20", DT_MSG_END},
    {"2014-05-06 10:20x", DT_MSG_CHAR},
    {"2014-05-06 10", DT_MSG_END},
    {"2014-05-06 10:20:30x", DT_MSG_CHAR},
    {"2014-05-06 10:20:30.5x", DT_MSG_CHAR},
    {"2014-05-06 10:20:30 XM", DT_MSG_CHAR},
    {"2014-05-06 10:20:30 PM PM", DT_MSG_CHAR},
    {"2014-05-06 10:20:30 +02", DT_MSG_END},
    {"2014-05-06 10:20:30 +02x", DT_MSG_CHAR},
    {"2014-05-06 10:20:30 +", DT_MSG_END},
    {"2014-05-06 10:20:30 +02:00 x", DT_MSG_CHAR},
    {"10:20:30 PM", DT_MSG_CHAR},            // AM/PM only after a date-time
    {"10:20:30.5 PM", DT_MSG_CHAR},          // not silently ignored
    {"10:20:30 11:00:00", DT_MSG_CHAR},
    {"20140506abc", DT_MSG_CHAR},
    {"20140506 ", DT_MSG_END},
    {"20140506 x", DT_MSG_CHAR},
    {"20140506 10:20", DT_MSG_END},
    {"{d '2014-05-06 10:20:30'}", DT_MSG_CHAR},
    {"{d '20140506'}", DT_MSG_END},
    {"{t '2014-05-06'}", DT_MSG_CHAR},
    {"{ts '10:20:30'}", DT_MSG_CHAR},
    {"99999999999-01-01", DT_MSG_RANGE},
    {"2014-05-06 10:20:99999999999", DT_MSG_RANGE},
    // month names
    {"Jan", DT_MSG_END},
    {"Janx 5 2014", DT_MSG_CHAR},
    {"Januaryyyyyyyyyyyyyyyyyyyyy 5 2014", DT_MSG_CHAR},
    {"Jan x", msg(1)},
    {"Jan ", msg(1)},
    {"Jan 5", msg(2)},
    {"Jan 5, 2014", msg(3)},
    {"Jan 5 2014 10", msg(5)},
    {"Jan 5 2014 10x", msg(6)},
    {"Jan 5 2014 10:x", msg(6)},
    {"Jan 5 2014 10:20 pm", msg(7)},
    {"Jan 5 2014 10:20x", msg(7)},
    {"Jan 5 2014 10:20:30x", msg(8)},
    {"Jan 5 2014 10:20:x", msg(8)},
    {"Jan 5 2014 10:20:30.5x", msg(9)},
    {"Jan 5 2014 10:20Ax", msg(10)},
    {"Jan 5 2014 10:20:30.5P", msg(10)},
    {"Jan 5 2014 x", DT_MSG_CHAR},
    {"Jan 5 2014 10:20:30 PM", DT_MSG_CHAR},
    {"Jan 5 2014 10:20:30 +01", DT_MSG_END},
};

TEST(DateTimeScan, RejectsWithReason)
{
    for (const rejected_case &c : rejected) {
        SCOPED_TRACE(c.text);
        datetime_parts p;
        const char *reason = nullptr;
        EXPECT_EQ(scan(c.text, &p, &reason), 1);
        ASSERT_NE(reason, nullptr);
        EXPECT_EQ(std::string(reason), c.reason);
    }
}

/* A counted value is read only up to its count: every prefix of every form
 * is scanned from an exact-size block (the sanitizer build proves no byte
 * past it is touched), and cutting a value short never turns it into a
 * success it was not. */
TEST(DateTimeScan, EveryPrefixStaysInsideItsCount)
{
    for (const accepted_case &c : accepted) {
        std::string full = c.text;
        for (size_t n = 0; n <= full.size(); n++) {
            datetime_parts p;
            const char *reason = nullptr;
            int rc = scan(full.substr(0, n), &p, &reason);
            EXPECT_TRUE(rc == 0 || reason != nullptr) << full.substr(0, n);
        }
    }
    for (const rejected_case &c : rejected) {
        std::string full = c.text;
        for (size_t n = 0; n <= full.size(); n++) {
            datetime_parts p;
            const char *reason = nullptr;
            scan(full.substr(0, n), &p, &reason);
        }
    }
}

TEST(DateTimeScan, CountNotTerminator)
{
    datetime_parts p;
    const char *reason;
    // the count ends the value even when more text follows in memory
    const char row[] = "2014-05-06 10:20:30garbage";
    ASSERT_EQ(scan_datetime(nullptr, row, 19, &p, &reason), 0);
    EXPECT_EQ(p.second, 30);
    ASSERT_EQ(scan_datetime(nullptr, row, 10, &p, &reason), 0);
    EXPECT_EQ(p.category, DT_DATE);
    // a NUL inside the count ends an application's text
    const char app[] = "2014-05-06\0xyz";
    ASSERT_EQ(scan_datetime(nullptr, app, sizeof app - 1, &p, &reason), 0);
    EXPECT_EQ(p.category, DT_DATE);
    EXPECT_EQ(scan_datetime(nullptr, nullptr, 0, &p, &reason), 1);
    EXPECT_STREQ(reason, DT_MSG_END);
}

TEST(DateTimeScan, DigitHelpers)
{
    int32_t v = -1;
    const char big[] = "0000000000002147483647";
    ASSERT_EQ(digits_to_int(big, big + strlen(big), &v), 0);
    EXPECT_EQ(v, 2147483647);
    const char over[] = "2147483648";
    EXPECT_EQ(digits_to_int(over, over + strlen(over), &v), -1);
    EXPECT_EQ(digits_to_int(over, over, &v), 0);
    EXPECT_EQ(v, 0);

    const char f[] = "1234567891";
    EXPECT_EQ(fraction_to_nanos(f, f), 0);
    EXPECT_EQ(fraction_to_nanos(f, f + 1), 100000000);
    EXPECT_EQ(fraction_to_nanos(f, f + 6), 123456000);
    EXPECT_EQ(fraction_to_nanos(f, f + 10), 123456789);
}

struct stmt_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = stmt_create(conn);
    void TearDown() override { env_release(env); }

    std::string diag_state(int n)
    {
        diag_record *r = diag_get(stmt, n);
        char *s = r ? ms_to_latin1(r->sqlstate) : nullptr;
        std::string out = s ? s : "";
        free(s);
        return out;
    }
    std::string diag_text(int n)
    {
        diag_record *r = diag_get(stmt, n);
        char *s = r ? ms_to_latin1(r->message) : nullptr;
        std::string out = s ? s : "";
        free(s);
        return out;
    }
};

using DateTimeDiag = stmt_fixture;

TEST_F(DateTimeDiag, FailurePostsReasonWithColumn)
{
    datetime_parts p;
    const char bad[] = "2014-05-06T10:20:30";
    EXPECT_EQ(parse_datetime_text(stmt, bad, strlen(bad), &p, 3), ST_22018);
    ASSERT_EQ(diag_count(stmt), 1);
    EXPECT_EQ(diag_state(1), "22018");
    EXPECT_EQ(diag_text(1), "[Quorvane][MySQL Driver][MySQL]Invalid character value for cast "
                            "specification: invalid character in date/time string");
    EXPECT_EQ(diag_get(stmt, 1)->column_number, 3);

    clear_diagnostics(stmt);
    const char huge[] = "2014-99999999999-01";
    EXPECT_EQ(parse_datetime_text(stmt, huge, strlen(huge), &p, 2), ST_22003);
    EXPECT_EQ(diag_state(1), "22003");

    clear_diagnostics(stmt);
    const char good[] = "2014-05-06";
    EXPECT_EQ(parse_datetime_text(stmt, good, strlen(good), &p, 1), 0);
    EXPECT_EQ(diag_count(stmt), 0);
}

/* With tracing on, every scan path formats its lines (a conversion that does
 * not match its argument would show here, and under the sanitizer). */
TEST_F(DateTimeDiag, TraceLines)
{
    char path[] = "/tmp/qv_dt_trace_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    snprintf(conn->LogFile, sizeof conn->LogFile, "%s", path);
    stmt->hdr.log_flags = LOG_DETAIL | LOG_ERROR;
    datetime_parts p;
    for (const accepted_case &c : accepted)
        EXPECT_EQ(parse_datetime_text(stmt, c.text, strlen(c.text), &p, 1), 0) << c.text;
    for (const rejected_case &c : rejected)
        EXPECT_NE(parse_datetime_text(stmt, c.text, strlen(c.text), &p, 1), 0) << c.text;
    stmt->hdr.log_flags = 0;

    FILE *f = fopen(path, "rb");
    ASSERT_NE(f, nullptr);
    std::string log;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        log.append(buf, n);
    fclose(f);
    unlink(path);
    EXPECT_NE(log.find("timestamp format>2014-05-06 10:20:30<"), std::string::npos);
    EXPECT_NE(log.find("initial catogory 1,0,1 (2014) >05-06 10:20:30<"), std::string::npos);
    EXPECT_NE(log.find("secondary catogory 1,0,1 (2014,5)"), std::string::npos);
    EXPECT_NE(log.find("HH:MM Time format"), std::string::npos);
    EXPECT_NE(log.find("timestamp format type = 0,0,1 values 2014,5,6,10,20,30,0,0,0"),
              std::string::npos);
    EXPECT_NE(log.find("timestamp a format>Jan 5 2014 10:20:30<"), std::string::npos);
    EXPECT_NE(log.find("timestamp format (a) type = 1,1,1 values 2014,1,5,10,20,30,0,0,0"),
              std::string::npos);
    EXPECT_NE(log.find("invalid ODBC date/time introducer"), std::string::npos);
}

TEST(DateTimeBuild, IntoOdbcStructures)
{
    const sql_date_value today = {2024, 2, 29};
    datetime_parts date = {DT_DATE, 2014, 5, 6, 0, 0, 0, 0, 0, 0};
    datetime_parts time = {DT_TIME, 0, 0, 0, 10, 20, 30, 123456789, 0, 0};
    datetime_parts zoned = {DT_DATETIME_ZONE, 2014, 5, 6, 7, 8, 9, 1000, -5, 30};

    sql_timestamp_value ts;
    ASSERT_EQ(datetime_to_timestamp(&date, nullptr, &ts), 0);
    EXPECT_EQ(ts.year, 2014);
    EXPECT_EQ(ts.day, 6);
    EXPECT_EQ(ts.hour, 0);
    EXPECT_EQ(ts.fraction, 0u);
    ASSERT_EQ(datetime_to_timestamp(&time, &today, &ts), 0);
    EXPECT_EQ(ts.year, 2024);
    EXPECT_EQ(ts.month, 2);
    EXPECT_EQ(ts.day, 29);
    EXPECT_EQ(ts.second, 30);
    EXPECT_EQ(ts.fraction, 123456789u);
    ASSERT_EQ(datetime_to_timestamp(&zoned, nullptr, &ts), 0);
    EXPECT_EQ(ts.hour, 7);
    EXPECT_EQ(ts.fraction, 1000u);

    sql_time_value tv;
    ASSERT_EQ(datetime_to_time(&zoned, &tv), 0);
    EXPECT_EQ(tv.minute, 8);
    sql_date_value dv;
    ASSERT_EQ(datetime_to_date(&time, &today, &dv), 0);
    EXPECT_EQ(dv.year, 2024);

    // parts the scanner passes but the 16-bit fields cannot hold
    datetime_parts big_year = {DT_DATE, 40000, 1, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(datetime_to_timestamp(&big_year, nullptr, &ts), 1);
    datetime_parts big_hour = {DT_TIME, 0, 0, 0, 70000, 0, 0, 0, 0, 0};
    EXPECT_EQ(datetime_to_time(&big_hour, &tv), 1);

    sql_date_value now;
    datetime_today(&now);
    EXPECT_GE(now.year, 2020);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
}

} // namespace
