// Binary rows decoded from hand-built packets: every column type into its
// held representation, the null bitmap's layout, times as text, zero dates,
// and hostile rows (every truncation, impossible lengths, trailing bytes)
// that must give 08S01 without a read past the packet. Packets are allocated
// to their exact size so that the sanitizer build catches an over-read.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_pkt.h"
#include "protocol/my_proto.h"
#include "results/my_bin_data.h"
#include "results/my_data.h"
#include "support/unit_support.h"

namespace {

std::string text_of(const my_string *s) { return unit_support::ascii_of(s); }

using bytes = unit_support::payload;

// One column definition: protocol type, flags, length, decimals, charset.
struct col {
    int type;
    int flags;
    uint32_t length;
    int decimals;
    int charset;
};

struct bin_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = stmt_create(conn);
    my_packet *row = nullptr;

    void SetUp() override
    {
        env->odbc_version = SQL_OV_ODBC3;
        conn->charset = 33;
    }
    void TearDown() override
    {
        free_row();
        env_release(env);
    }
    void free_row()
    {
        if (row) {
            free(row->data);
            free(row);
            row = nullptr;
        }
    }
    void describe(const std::vector<col> &cols)
    {
        ASSERT_EQ(desc_set_records(stmt->implicit_ird, (int)cols.size()), 0);
        for (size_t i = 0; i < cols.size(); i++) {
            const col &c = cols[i];
            ASSERT_EQ(fill_field_from_column(stmt, stmt->implicit_ird, (int)i, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, c.charset,
                                             c.length, c.type, c.flags, c.decimals),
                      0);
        }
        stmt->ird = stmt->implicit_ird;
    }
    // Decodes the first n bytes of payload as the current row.
    SQLRETURN decode(const bytes &payload, size_t n = SIZE_MAX)
    {
        free_row();
        if (n > payload.b.size())
            n = payload.b.size();
        row = (my_packet *)calloc(1, sizeof *row);
        row->data = (unsigned char *)malloc(4 + n);
        memset(row->data, 0, 4);
        if (n)
            memcpy(row->data + 4, payload.b.data(), n);
        row->limit = row->length = (int32_t)(4 + n);
        row->pos = 4;
        row->owner = stmt;
        stmt->current_row = row;
        SQLRETURN rc = decode_binary_row(stmt);
        stmt->current_row = nullptr;
        return rc;
    }
    data_storage &value(int column) { return stmt->ird->records[column].storage; }
    std::string held(int column)
    {
        data_storage &d = value(column);
        const unsigned char *b = d.bytes ? d.bytes : d.buffer;
        return std::string(reinterpret_cast<const char *>(b), (size_t)d.alloc_length);
    }
    std::string state(int n = 1)
    {
        diag_record *r = diag_get(stmt, n);
        return r ? text_of(r->sqlstate) : "";
    }
};

const col TINY = {MYSQL_TYPE_TINY, 0, 4, 0, 63};
const col VARSTR = {MYSQL_TYPE_VAR_STRING, 0, 40, 0, 33};

} // namespace

// Every column type once, in one row.
TEST_F(bin_fixture, EveryTypeIntoItsRepresentation)
{
    describe({
        TINY,                                                    // 0
        {MYSQL_TYPE_TINY, UNSIGNED_FLAG, 3, 0, 63},              // 1
        {MYSQL_TYPE_SHORT, 0, 6, 0, 63},                         // 2
        {MYSQL_TYPE_YEAR, UNSIGNED_FLAG, 4, 0, 63},              // 3
        {MYSQL_TYPE_LONG, 0, 11, 0, 63},                         // 4
        {MYSQL_TYPE_INT24, UNSIGNED_FLAG, 8, 0, 63},             // 5
        {MYSQL_TYPE_LONGLONG, UNSIGNED_FLAG, 20, 0, 63},         // 6
        {MYSQL_TYPE_FLOAT, 0, 12, 31, 63},                       // 7
        {MYSQL_TYPE_DOUBLE, 0, 22, 31, 63},                      // 8
        {MYSQL_TYPE_NEWDECIMAL, 0, 7, 2, 63},                    // 9
        {MYSQL_TYPE_DATE, 0, 10, 0, 63},                         // 10
        {MYSQL_TYPE_DATETIME, 0, 26, 6, 63},                     // 11
        {MYSQL_TYPE_TIME, 0, 10, 0, 63},                         // 12
        VARSTR,                                                  // 13
        {MYSQL_TYPE_BLOB, 0, 65535, 0, 33},                      // 14
        {MYSQL_TYPE_BLOB, BINARY_FLAG, 65535, 0, 63},            // 15
        {MYSQL_TYPE_BIT, UNSIGNED_FLAG, 1, 0, 63},               // 16
        {MYSQL_TYPE_BIT, UNSIGNED_FLAG, 10, 0, 63},              // 17
        VARSTR,                                                  // 18: NULL
        {MYSQL_TYPE_VAR_STRING, BINARY_FLAG, 40, 0, 63},         // 19
    });
    bytes r;
    r.u8(0).u8(0).u8(0).u8(0x10);   // 20 columns: 3 bitmap bytes; column 18 is bit 20
    r.u8(0xFF).u8(0xFF).le(0x8000, 2).le(2014, 2).le((uint32_t)-5, 4).le(0xFFFFFF, 4);
    r.le(UINT64_MAX, 8).f32(1.5f).f64(0.1).lenstr("12.50");
    r.u8(4).le(2014, 2).u8(5).u8(6);
    r.u8(11).le(2014, 2).u8(5).u8(6).u8(7).u8(8).u8(9).le(123456, 4);
    r.u8(8).u8(1).le(1, 4).u8(2).u8(3).u8(4);
    r.lenstr("h\xC3\xA9llo").lenstr("text").lenstr(std::string("\x00\x01", 2));
    r.lenstr("\x01").lenstr(std::string("\x03\xFF", 2)).lenstr("bin");
    ASSERT_EQ(decode(r), SQL_SUCCESS) << state();

    EXPECT_EQ(value(0).data_type, SQL_INTEGER);
    EXPECT_EQ(value(0).v.i32, -1);
    EXPECT_EQ(value(1).v.i32, 255);
    EXPECT_EQ(value(2).v.i32, -32768);
    EXPECT_EQ(value(3).v.i32, 2014);
    EXPECT_EQ(value(4).v.i32, -5);
    EXPECT_EQ(value(5).v.i32, 0xFFFFFF);
    EXPECT_EQ(value(6).data_type, SQL_BIGINT);
    EXPECT_EQ((uint64_t)value(6).v.i64, UINT64_MAX);
    EXPECT_EQ(value(6).is_unsigned, 1);
    EXPECT_EQ(value(7).data_type, SQL_FLOAT);
    EXPECT_EQ(value(7).v.f, 1.5f);
    EXPECT_EQ(value(8).data_type, SQL_DOUBLE);
    EXPECT_EQ(value(8).v.d, 0.1);
    EXPECT_EQ(value(9).data_type, SQL_NUMERIC);   // held as its text: no digit lost
    EXPECT_EQ(held(9), "12.50");
    EXPECT_EQ(value(10).data_type, SQL_TYPE_DATE);
    EXPECT_EQ(value(10).v.date.year, 2014);
    EXPECT_EQ(value(10).v.date.day, 6);
    EXPECT_EQ(value(11).data_type, SQL_TYPE_TIMESTAMP);
    EXPECT_EQ(value(11).v.timestamp.second, 9);
    EXPECT_EQ(value(11).v.timestamp.fraction, 123456000u);
    EXPECT_EQ(value(12).data_type, SQL_CHAR);
    EXPECT_EQ(held(12), "-26:03:04");
    EXPECT_EQ(value(13).data_type, SQL_CHAR);
    EXPECT_EQ(held(13), "h\xC3\xA9llo");
    EXPECT_EQ(value(14).data_type, SQL_CHAR);   // TEXT: a BLOB without the binary flag
    EXPECT_EQ(value(15).data_type, SQL_BINARY);
    EXPECT_EQ(held(15), std::string("\x00\x01", 2));
    EXPECT_EQ(value(16).data_type, SQL_INTEGER);   // BIT(1) reads as a number
    EXPECT_EQ(value(16).v.i32, 1);
    EXPECT_EQ(value(16).is_unsigned, 1);
    EXPECT_EQ(value(17).data_type, SQL_BINARY);
    EXPECT_EQ(held(17), "\x03\xFF");
    EXPECT_EQ(value(18).isnull, 1);
    EXPECT_EQ(value(18).data_type, SQL_CHAR);
    EXPECT_EQ(value(19).data_type, SQL_BINARY);   // a binary string, as text rows hold it
    EXPECT_EQ(value(1).isnull, 0);
}

TEST_F(bin_fixture, NullBitmapLayout)
{
    // three columns: one bitmap byte, column 0 is bit 2
    describe({TINY, TINY, TINY});
    ASSERT_EQ(decode(bytes().u8(0).u8(0x04).u8(7).u8(8)), SQL_SUCCESS);
    EXPECT_EQ(value(0).isnull, 1);
    EXPECT_EQ(value(1).v.i32, 7);
    EXPECT_EQ(value(2).v.i32, 8);
    // nine columns need two bytes: column 6 is bit 0 of byte 1
    describe(std::vector<col>(9, TINY));
    bytes r;
    r.u8(0).u8(0).u8(0x01);
    for (int i = 0; i < 9; i++)
        if (i != 6)
            r.u8((unsigned)i);
    ASSERT_EQ(decode(r), SQL_SUCCESS);
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(value(i).isnull, i == 6) << i;
    EXPECT_EQ(value(8).v.i32, 8);
}

TEST_F(bin_fixture, TimesAsText)
{
    struct time_case {
        const char *name;
        int decimals;
        int time_as_time;
        bytes wire;
        const char *text;
    } cases[] = {
        {"negative day", 0, 0, bytes().u8(8).u8(1).le(1, 4).u8(2).u8(3).u8(4), "-26:03:04"},
        {"three digits", 3, 0, bytes().u8(12).u8(0).le(0, 4).u8(1).u8(2).u8(3).le(123456, 4),
         "01:02:03.123"},
        {"six digits", 6, 0, bytes().u8(12).u8(0).le(0, 4).u8(1).u8(2).u8(3).le(5, 4),
         "01:02:03.000005"},
        {"zero length", 0, 0, bytes().u8(0), "00:00:00"},
        {"TimeAsTime whole", 0, 1, bytes().u8(8).u8(0).le(0, 4).u8(10).u8(20).u8(30), "10:20:30"},
        {"TimeAsTime fraction", 0, 1,
         bytes().u8(12).u8(0).le(0, 4).u8(10).u8(20).u8(30).le(500000, 4), "10:20:30.5"},
        {"hundreds of hours", 0, 0, bytes().u8(8).u8(0).le(34, 4).u8(22).u8(59).u8(59),
         "838:59:59"},
    };
    for (const time_case &c : cases) {
        SCOPED_TRACE(c.name);
        conn->TimeAsTime = c.time_as_time;
        describe({{MYSQL_TYPE_TIME, 0, 10, c.decimals, 63}});
        bytes r;
        r.u8(0).u8(0).raw(std::string(c.wire.b.begin(), c.wire.b.end()));
        ASSERT_EQ(decode(r), SQL_SUCCESS) << state();
        EXPECT_EQ(value(0).data_type, SQL_CHAR);
        EXPECT_EQ(held(0), c.text);
    }
}

TEST_F(bin_fixture, ZeroDatesAndNullDatetimes)
{
    for (int null_datetimes : {0, 1}) {
        for (int nullable : {0, 1}) {
            SCOPED_TRACE(std::to_string(null_datetimes) + "/" + std::to_string(nullable));
            conn->NullDatetimes = null_datetimes;
            describe({{MYSQL_TYPE_DATETIME, nullable ? 0 : NOT_NULL_FLAG, 19, 0, 63}});
            ASSERT_EQ(decode(bytes().u8(0).u8(0).u8(0)), SQL_SUCCESS);
            EXPECT_EQ(value(0).isnull, null_datetimes && nullable);
            EXPECT_EQ(value(0).data_type, SQL_TYPE_TIMESTAMP);
            if (!value(0).isnull) {
                EXPECT_EQ(value(0).v.timestamp.year, 0);
            }
        }
    }
}

// A short or hostile row is a protocol error: every proper prefix of a
// valid row, a row with bytes to spare, lengths beyond the packet.
TEST_F(bin_fixture, HostileRowsGive08S01)
{
    describe({TINY, {MYSQL_TYPE_LONGLONG, 0, 20, 0, 63}, VARSTR,
              {MYSQL_TYPE_DATETIME, 0, 26, 6, 63}, {MYSQL_TYPE_TIME, 0, 10, 0, 63},
              {MYSQL_TYPE_DOUBLE, 0, 22, 31, 63}, {MYSQL_TYPE_NEWDECIMAL, 0, 7, 2, 63}});
    bytes r;
    r.u8(0).u8(0).u8(0).u8(1).le(2, 8).lenstr("abc");   // 7 columns: 2 bitmap bytes
    r.u8(11).le(2014, 2).u8(5).u8(6).u8(7).u8(8).u8(9).le(1, 4);
    r.u8(8).u8(0).le(0, 4).u8(1).u8(2).u8(3).f64(2.5).lenstr("1.25");
    ASSERT_EQ(decode(r), SQL_SUCCESS) << state();
    for (size_t n = 0; n < r.b.size(); n++) {
        SCOPED_TRACE(n);
        clear_diagnostics(stmt);
        EXPECT_EQ(decode(r, n), SQL_ERROR);
        EXPECT_EQ(state(), "08S01");
    }
    bytes longer = r;
    longer.u8(0);
    clear_diagnostics(stmt);
    EXPECT_EQ(decode(longer), SQL_ERROR);
    EXPECT_EQ(state(), "08S01");

    describe({VARSTR});
    struct hostile {
        const char *name;
        bytes b;
    } cases[] = {
        {"2-byte length past the end", bytes().u8(0).u8(0).u8(0xFC).le(0xFFFF, 2).raw("ab")},
        {"8-byte length of 2^64-1", bytes().u8(0).u8(0).u8(0xFE).le(UINT64_MAX, 8)},
        {"NULL marker as a length", bytes().u8(0).u8(0).u8(0xFB)},
        {"0xFF lead", bytes().u8(0).u8(0).u8(0xFF)},
        {"not a row", bytes().u8(0xFE).u8(0).u8(0)},
    };
    for (const hostile &c : cases) {
        SCOPED_TRACE(c.name);
        clear_diagnostics(stmt);
        EXPECT_EQ(decode(c.b), SQL_ERROR);
        EXPECT_EQ(state(), "08S01");
    }
}

TEST_F(bin_fixture, UnknownLengthsAndTypes)
{
    // a date/time length the protocol does not have refuses that value
    // only: it is skipped and the next column is read
    describe({TINY, {MYSQL_TYPE_DATETIME, 0, 19, 0, 63}, TINY});
    ASSERT_EQ(decode(bytes().u8(0).u8(0).u8(1).u8(5).le(0, 5).u8(9)), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(state(), "22018");
    EXPECT_EQ(diag_get(stmt, 1)->column_number, 2);
    EXPECT_EQ(stmt->ird->records[1].storage.refused, ST_22018);
    EXPECT_EQ(stmt->ird->records[1].storage.data_type, 0);
    EXPECT_EQ(stmt->ird->records[2].storage.v.i32, 9);

    describe({{MYSQL_TYPE_TIME, 0, 10, 0, 63}});
    clear_diagnostics(stmt);
    ASSERT_EQ(decode(bytes().u8(0).u8(0).u8(4).le(0, 4)), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(state(), "22018");
    // announcing more bytes than the row has is no value at all
    clear_diagnostics(stmt);
    ASSERT_EQ(decode(bytes().u8(0).u8(0).u8(4).le(0, 3)), SQL_ERROR);
    EXPECT_EQ(state(), "08S01");

    describe({TINY});
    stmt->ird->records[0].mysql_type = 99;
    clear_diagnostics(stmt);
    EXPECT_EQ(decode(bytes().u8(0).u8(0).u8(1)), SQL_ERROR);
    EXPECT_EQ(state(), "HY003");
}

// The fetch path allocates nothing per row: values stay in the row packet,
// and a time (the one value turned into text) reuses the holder's buffer.
TEST_F(bin_fixture, NothingIsAllocatedPerRow)
{
    describe({VARSTR, {MYSQL_TYPE_TIME, 0, 10, 0, 63}});
    auto time_row = [](int hour) {
        bytes r;
        r.u8(0).u8(0).lenstr("abc").u8(8).u8(0).le(0, 4).u8((unsigned)hour).u8(0).u8(0);
        return r;
    };
    ASSERT_EQ(decode(time_row(1)), SQL_SUCCESS);
    EXPECT_EQ(value(0).bytes, row->data + 7);   // the view into the packet
    unsigned char *buffer = value(1).buffer;
    ASSERT_NE(buffer, nullptr);
    for (int i = 0; i < 50; i++) {
        ASSERT_EQ(decode(time_row(i % 24)), SQL_SUCCESS);
        EXPECT_EQ(value(1).buffer, buffer);
        EXPECT_EQ(held(0), "abc");
    }
    EXPECT_EQ(held(1), "01:00:00");
}

// The same values as text rows and as binary rows give the application the
// same bytes through every converter: the binary reader holds what the
// text reader holds.
TEST_F(bin_fixture, BinaryRowsReadAsTextRows)
{
    auto f32 = [](float v) { return bytes().f32(v); };
    auto f64 = [](double v) { return bytes().f64(v); };
    struct parity {
        const char *name;
        col column;
        std::string text;   // the cell of a text row
        bytes binary;       // the same value in a binary row
    } cases[] = {
        {"tiny", TINY, "-1", bytes().u8(0xFF)},
        {"tiny unsigned", {MYSQL_TYPE_TINY, UNSIGNED_FLAG, 3, 0, 63}, "255", bytes().u8(0xFF)},
        {"short", {MYSQL_TYPE_SHORT, 0, 6, 0, 63}, "-32768", bytes().le(0x8000, 2)},
        {"year", {MYSQL_TYPE_YEAR, UNSIGNED_FLAG, 4, 0, 63}, "2014", bytes().le(2014, 2)},
        {"int24", {MYSQL_TYPE_INT24, 0, 9, 0, 63}, "-8388608", bytes().le(0xFF800000u, 4)},
        {"long unsigned", {MYSQL_TYPE_LONG, UNSIGNED_FLAG, 10, 0, 63}, "4294967295",
         bytes().le(0xFFFFFFFFu, 4)},
        {"longlong", {MYSQL_TYPE_LONGLONG, 0, 20, 0, 63}, "-9223372036854775808",
         bytes().le(0x8000000000000000ull, 8)},
        {"longlong unsigned", {MYSQL_TYPE_LONGLONG, UNSIGNED_FLAG, 20, 0, 63},
         "18446744073709551615", bytes().le(UINT64_MAX, 8)},
        {"float", {MYSQL_TYPE_FLOAT, 0, 12, 31, 63}, "0.1", f32(0.1f)},
        {"double", {MYSQL_TYPE_DOUBLE, 0, 22, 31, 63}, "3.141592653589793",
         f64(3.141592653589793)},
        {"decimal", {MYSQL_TYPE_NEWDECIMAL, 0, 14, 6, 63}, "-12345.678901",
         bytes().lenstr("-12345.678901")},
        {"date", {MYSQL_TYPE_DATE, 0, 10, 0, 63}, "2014-05-06",
         bytes().u8(4).le(2014, 2).u8(5).u8(6)},
        {"datetime(6)", {MYSQL_TYPE_DATETIME, 0, 26, 6, 63}, "2014-05-06 07:08:09.123456",
         bytes().u8(11).le(2014, 2).u8(5).u8(6).u8(7).u8(8).u8(9).le(123456, 4)},
        {"datetime", {MYSQL_TYPE_DATETIME, 0, 19, 0, 63}, "2014-05-06 07:08:09",
         bytes().u8(7).le(2014, 2).u8(5).u8(6).u8(7).u8(8).u8(9)},
        {"zero timestamp", {MYSQL_TYPE_TIMESTAMP, NOT_NULL_FLAG, 19, 0, 63},
         "0000-00-00 00:00:00", bytes().u8(0)},
        {"time", {MYSQL_TYPE_TIME, 0, 10, 0, 63}, "-838:59:59",
         bytes().u8(8).u8(1).le(34, 4).u8(22).u8(59).u8(59)},
        {"time(3)", {MYSQL_TYPE_TIME, 0, 14, 3, 63}, "12:34:56.789",
         bytes().u8(12).u8(0).le(0, 4).u8(12).u8(34).u8(56).le(789000, 4)},
        {"short time", {MYSQL_TYPE_TIME, 0, 10, 0, 63}, "01:02:03",
         bytes().u8(8).u8(0).le(0, 4).u8(1).u8(2).u8(3)},
        {"varchar", VARSTR, "h\xC3\xA9llo", bytes().lenstr("h\xC3\xA9llo")},
        {"varbinary", {MYSQL_TYPE_VAR_STRING, BINARY_FLAG, 16, 0, 63},
         std::string("\x00\xFF", 2), bytes().lenstr(std::string("\x00\xFF", 2))},
        {"text", {MYSQL_TYPE_BLOB, 0, 65535, 0, 33}, "text", bytes().lenstr("text")},
        {"blob", {MYSQL_TYPE_BLOB, BINARY_FLAG, 65535, 0, 63}, "\x01\x02",
         bytes().lenstr("\x01\x02")},
        {"bit(1)", {MYSQL_TYPE_BIT, UNSIGNED_FLAG, 1, 0, 63}, "\x01", bytes().lenstr("\x01")},
        {"bit(10)", {MYSQL_TYPE_BIT, UNSIGNED_FLAG, 10, 0, 63}, "\x02\xAA",
         bytes().lenstr("\x02\xAA")},
    };
    const int targets[] = {SQL_C_CHAR, SQL_C_WCHAR, SQL_C_BINARY, SQL_C_SBIGINT, SQL_C_UBIGINT,
                           SQL_C_DOUBLE, SQL_C_NUMERIC, SQL_C_TYPE_TIMESTAMP, SQL_C_TYPE_TIME,
                           SQL_C_BIT};
    // what one row source gives for a target: return code, state, length, bytes
    auto read = [&](int target) {
        unsigned char buf[128];
        memset(buf, 0xEE, sizeof buf);
        SQLLEN ind = -77;
        clear_diagnostics(stmt);
        SQLRETURN rc = my_get_data(stmt, 1, target, buf, sizeof buf, &ind, nullptr);
        std::string got = std::to_string(rc) + "/" + state() + "/" + std::to_string(ind);
        if (SQL_SUCCEEDED(rc) && ind > 0)
            got += "/" + std::string((char *)buf, (size_t)(ind < 128 ? ind : 128));
        return got;
    };
    for (const parity &c : cases) {
        for (bool null_value : {false, true}) {
            describe({c.column});
            for (int target : targets) {
                SCOPED_TRACE(std::string(c.name) + (null_value ? " NULL" : "") + " as " +
                             std::to_string(target));
                // the text row
                bytes text;
                if (null_value)
                    text.u8(0xFB);
                else
                    text.lenstr(c.text);
                free_row();
                row = (my_packet *)calloc(1, sizeof *row);
                row->data = (unsigned char *)malloc(4 + text.b.size());
                memcpy(row->data + 4, text.b.data(), text.b.size());
                row->limit = row->length = (int32_t)(4 + text.b.size());
                row->pos = 4;
                row->owner = stmt;
                stmt->current_row = row;
                ASSERT_EQ(read_text_column(stmt, 0), 0) << state();
                std::string from_text = read(target);
                // the binary row
                bytes bin;
                bin.u8(0).u8(null_value ? 0x04 : 0);
                if (!null_value)
                    bin.raw(std::string(c.binary.b.begin(), c.binary.b.end()));
                clear_diagnostics(stmt);
                ASSERT_EQ(decode(bin), SQL_SUCCESS) << state();
                stmt->current_row = row;
                std::string from_binary = read(target);
                stmt->current_row = nullptr;
                EXPECT_EQ(from_binary, from_text);
            }
        }
    }
}
