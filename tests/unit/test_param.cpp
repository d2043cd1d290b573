// Parameters: binding and its refusals, the SQL literals of the text
// protocol (in both quoting modes of the server), the binary parameter block
// of COM_STMT_EXECUTE for each C type / SQL type pair, parameter arrays and
// the refusals of the converters with their SQLSTATEs.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_decode.h"
#include "protocol/my_pkt.h"
#include "protocol/my_proto.h"
#include "stmt/my_param.h"
#include "stmt/my_sql.h"
#include "support/unit_support.h"

namespace {

std::string text_of(const my_string *s) { return unit_support::ascii_of(s); }

using unit_support::hex;
using unit_support::wide;

// The bytes of a value as the application would hold it.
template <typename T> std::string raw(const T &v)
{
    return std::string(reinterpret_cast<const char *>(&v), sizeof v);
}

SQL_TIMESTAMP_STRUCT ts(int y, int mo, int d, int h, int mi, int s, unsigned frac)
{
    SQL_TIMESTAMP_STRUCT t;
    t.year = (SQLSMALLINT)y;
    t.month = (SQLUSMALLINT)mo;
    t.day = (SQLUSMALLINT)d;
    t.hour = (SQLUSMALLINT)h;
    t.minute = (SQLUSMALLINT)mi;
    t.second = (SQLUSMALLINT)s;
    t.fraction = frac;
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

// One parameter: a C type, an SQL type and the application's bytes.
struct param {
    int c_type;
    int sql_type;
    std::string value;
    SQLLEN ind;          // SQL_NTS, a length, SQL_NULL_DATA, ...
    int scale;
    SQLULEN column_size;
};

const SQLLEN LEN = -999;   // marker: the indicator is the value's byte length

struct param_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = stmt_create(conn);
    std::vector<std::string> values;   // the application's buffers
    std::vector<SQLLEN> inds;

    void SetUp() override
    {
        ASSERT_NE(stmt, nullptr);
        env->odbc_version = SQL_OV_ODBC3;
        conn->charset = 33;   // UTF-8 on the wire
        values.reserve(64);
        inds.reserve(64);
    }
    void TearDown() override { env_release(env); }

    SQLRETURN bind(int number, const param &p, int io = SQL_PARAM_INPUT)
    {
        values.push_back(p.value + std::string(4, '\0'));   // room for a terminator
        inds.push_back(p.ind == LEN ? (SQLLEN)p.value.size() : p.ind);
        SQLULEN size = p.column_size ? p.column_size : 10;
        return SQLBindParameter(stmt, (SQLUSMALLINT)number, (SQLSMALLINT)io,
                                (SQLSMALLINT)p.c_type, (SQLSMALLINT)p.sql_type, size,
                                (SQLSMALLINT)p.scale, &values.back()[0], 0, &inds.back());
    }

    // The query text that "?" (or text) becomes; "" with the SQLSTATE in
    // state when building fails.
    std::string literal(const std::u16string &text = u"?")
    {
        my_string *t = ms_from_utf16(reinterpret_cast<const uint16_t *>(text.data()),
                                     (int64_t)text.size());
        my_string *sql = my_process_sql(stmt, t);
        ms_free(t);
        my_packet *p = create_exec_string(stmt, sql);
        ms_free(sql);
        if (!p)
            return "";
        std::string r(reinterpret_cast<char *>(p->data) + 5, (size_t)(p->length - 5));
        packet_free(p);
        return r;
    }

    // The binary parameter block for found_param_count parameters.
    std::string block(int count = 1)
    {
        stmt->found_param_count = count;
        my_packet *p = packet_new(stmt);
        int rc = my_append_params(stmt, p);
        std::string r = rc == 0 ? std::string(reinterpret_cast<char *>(p->data) + 4,
                                              (size_t)(p->length - 4))
                                : std::string();
        packet_free(p);
        return r;
    }

    std::string state(int n = 1)
    {
        diag_record *r = diag_get(stmt, n);
        return r ? text_of(r->sqlstate) : "";
    }
    std::string message(int n = 1)
    {
        diag_record *r = diag_get(stmt, n);
        return r ? text_of(r->message) : "";
    }
    int column(int n = 1)
    {
        diag_record *r = diag_get(stmt, n);
        return r ? r->column_number : -99;
    }
};

} // namespace

// ------------------------------------------------------------- binding

TEST_F(param_fixture, BindingGrowsBothDescriptorsAndResolvesDefaults)
{
    int32_t v = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &v, 0,
                               &ind), SQL_SUCCESS);
    EXPECT_EQ(stmt->apd->field_count, 3);
    EXPECT_EQ(stmt->ipd->field_count, 3);
    EXPECT_EQ(stmt->apd->records[0].data_ptr, nullptr);
    EXPECT_EQ(stmt->apd->records[2].octet_length, 4);
    EXPECT_EQ(stmt->apd->records[2].param_sql_type, SQL_INTEGER);

    // SQL_C_DEFAULT takes the SQL type's C type; SQL_DEFAULT the C type's.
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_DEFAULT, SQL_BIGINT, 0, 0, &v, 0,
                               &ind), SQL_SUCCESS);
    EXPECT_EQ(stmt->apd->records[0].concise_type, SQL_C_SBIGINT);
    ASSERT_EQ(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_DEFAULT, 0, 0, &v, 0,
                               &ind), SQL_SUCCESS);
    EXPECT_EQ(stmt->apd->records[1].param_sql_type, SQL_C_SLONG);

    // Three markers, record 1 rebound, 2 and 3 bound: but unbinding 1 of 3
    // only clears its pointers, and an execution then misses it.
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, nullptr,
                               0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->apd->field_count, 3);
    stmt->found_param_count = 3;
    EXPECT_EQ(my_check_params(stmt, DAE_OP_DIRECT), -1);
    EXPECT_EQ(state(), "07002");
    EXPECT_EQ(column(), 1);
}

TEST_F(param_fixture, BufferLengthDefaultsAndUnbindingTheLast)
{
    char buf[8] = "x";
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 5, 0, buf, -1,
                               nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->apd->records[0].octet_length, 512);
    ASSERT_EQ(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTEGER, 5, 0, buf, -1,
                               nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->apd->records[1].octet_length, 0);
    // unbinding the last record drops every unbound record at the end
    ASSERT_EQ(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, nullptr,
                               0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->apd->field_count, 1);
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, nullptr,
                               0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->apd->field_count, 0);
    EXPECT_EQ(stmt->apd->records, nullptr);
}

TEST_F(param_fixture, BindingRefusals)
{
    struct refusal {
        const char *name;
        int number, io, c_type, sql_type;
        SQLULEN column_size;
        const char *state;
        const char *text;
    } cases[] = {
        {"parameter 0", 0, 1, SQL_C_CHAR, SQL_CHAR, 10, "07009", nullptr},
        {"C type", 1, 1, 1234, SQL_CHAR, 10, "HY003", nullptr},
        {"interval C type", 1, 1, SQL_C_INTERVAL_DAY, SQL_CHAR, 10, "HY003", nullptr},
        {"SQL type", 1, 1, SQL_C_CHAR, 1234, 10, "HY004", nullptr},
        {"io type", 1, 3, SQL_C_CHAR, SQL_CHAR, 10, "HY105", nullptr},
        {"both default", 1, 1, SQL_C_DEFAULT, SQL_DEFAULT, 10, "HY000",
         "both C and SQL type can not be default"},
        {"decimal precision", 1, 1, SQL_C_CHAR, SQL_DECIMAL, 0, "HY104", nullptr},
        {"numeric precision", 1, 1, SQL_C_CHAR, SQL_NUMERIC, 0, "HY104", nullptr},
    };
    for (const refusal &c : cases) {
        SCOPED_TRACE(c.name);
        char buf[4] = "1";
        SQLLEN ind = SQL_NTS;
        EXPECT_EQ(SQLBindParameter(stmt, (SQLUSMALLINT)c.number, (SQLSMALLINT)c.io,
                                   (SQLSMALLINT)c.c_type, (SQLSMALLINT)c.sql_type, c.column_size,
                                   0, buf, 0, &ind),
                  SQL_ERROR);
        EXPECT_EQ(state(), c.state);
        if (c.text) {
            EXPECT_EQ(message(), std::string("[Quorvane][MySQL Driver][MySQL]General error: ") +
                                     c.text);
        }
        // nothing was bound by a refused call
        EXPECT_EQ(stmt->apd->field_count, 0);
    }
}

TEST_F(param_fixture, NumParamsAndCheck)
{
    int32_t v = 7;
    SQLLEN ind = 0;
    std::string text = literal(u"insert into t values (?, '?', ?)");
    (void)text;
    SQLSMALLINT n = -1;
    EXPECT_EQ(SQLNumParams(stmt, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(my_check_params(stmt, DAE_OP_DIRECT), -1);
    EXPECT_EQ(state(), "07002");
    clear_diagnostics(stmt);
    for (int k = 1; k <= 2; k++)
        ASSERT_EQ(SQLBindParameter(stmt, (SQLUSMALLINT)k, SQL_PARAM_INPUT, SQL_C_SLONG,
                                   SQL_INTEGER, 0, 0, &v, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(my_check_params(stmt, DAE_OP_DIRECT), 0);
    EXPECT_EQ(literal(u"insert into t values (?, '?', ?)"), "insert into t values (7, '?', 7)");
}

// ------------------------------------------------------------- literals

struct literal_case {
    const char *name;
    param p;
    std::string expected;   // the literal, or "!" and the SQLSTATE of the refusal
};

TEST_F(param_fixture, LiteralsByCAndSqlType)
{
    const SQLGUID guid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    const literal_case cases[] = {
        {"slong", {SQL_C_SLONG, SQL_INTEGER, raw<int32_t>(-5), 0, 0, 0}, "-5"},
        {"ulong", {SQL_C_ULONG, SQL_INTEGER, raw<uint32_t>(4000000000u), 0, 0, 0}, "4000000000"},
        {"sshort", {SQL_C_SSHORT, SQL_SMALLINT, raw<int16_t>(-32768), 0, 0, 0}, "-32768"},
        {"ushort", {SQL_C_USHORT, SQL_SMALLINT, raw<uint16_t>(65535), 0, 0, 0}, "65535"},
        {"stiny", {SQL_C_STINYINT, SQL_TINYINT, raw<int8_t>(-128), 0, 0, 0}, "-128"},
        {"utiny", {SQL_C_UTINYINT, SQL_TINYINT, raw<uint8_t>(255), 0, 0, 0}, "255"},
        {"tiny", {SQL_C_TINYINT, SQL_TINYINT, raw<int8_t>(-1), 0, 0, 0}, "-1"},
        {"sbigint", {SQL_C_SBIGINT, SQL_BIGINT, raw<int64_t>(INT64_MIN), 0, 0, 0},
         "-9223372036854775808"},
        {"ubigint", {SQL_C_UBIGINT, SQL_BIGINT, raw<uint64_t>(UINT64_MAX), 0, 0, 0},
         "18446744073709551615"},
        {"double shortest", {SQL_C_DOUBLE, SQL_DOUBLE, raw<double>(0.1), 0, 0, 0}, "0.1"},
        {"double all digits", {SQL_C_DOUBLE, SQL_DOUBLE, raw<double>(3.141592653589793), 0, 0, 0},
         "3.141592653589793"},
        {"double large", {SQL_C_DOUBLE, SQL_FLOAT, raw<double>(1e20), 0, 0, 0}, "1e+20"},
        {"float", {SQL_C_FLOAT, SQL_REAL, raw<float>(0.1f), 0, 0, 0}, "0.1"},
        {"double infinity", {SQL_C_DOUBLE, SQL_DOUBLE, raw<double>(INFINITY), 0, 0, 0}, "!22003"},
        {"bit", {SQL_C_BIT, SQL_BIT, raw<uint8_t>(7), 0, 0, 0}, "1"},
        {"numeric", {SQL_C_NUMERIC, SQL_DECIMAL, raw(numeric(10, 2, 0, 1250)), 0, 0, 0}, "-12.5"},
        {"char number", {SQL_C_CHAR, SQL_INTEGER, " 12 ", SQL_NTS, 0, 0}, "12"},
        {"char exponent", {SQL_C_CHAR, SQL_DOUBLE, "-1.5e3", SQL_NTS, 0, 0}, "-1.5e3"},
        {"char decimal", {SQL_C_CHAR, SQL_DECIMAL, "123.4500", SQL_NTS, 0, 0}, "123.4500"},
        {"wide number", {SQL_C_WCHAR, SQL_BIGINT, wide(u" 42"), SQL_NTS, 0, 0}, "42"},
        {"char", {SQL_C_CHAR, SQL_VARCHAR, "O'Brien", SQL_NTS, 0, 0}, "'O\\'Brien'"},
        {"char with length", {SQL_C_CHAR, SQL_CHAR, "abcdef", 3, 0, 0}, "'abc'"},
        {"wide", {SQL_C_WCHAR, SQL_WVARCHAR, wide(u"\u00e9\U0001D11E"), SQL_NTS, 0, 0},
         "'\xC3\xA9\xF0\x9D\x84\x9E'"},
        {"wide unpaired surrogate", {SQL_C_WCHAR, SQL_WCHAR, wide(u"a\xD834"), LEN, 0, 0},
         "'a\xEF\xBF\xBD'"},
        {"binary", {SQL_C_BINARY, SQL_VARBINARY, "\x01\xAB", LEN, 0, 0}, "0x01AB"},
        {"empty binary", {SQL_C_BINARY, SQL_LONGVARBINARY, "", 0, 0, 0}, "X''"},
        {"hex text as binary", {SQL_C_CHAR, SQL_BINARY, "0x41zz42", SQL_NTS, 0, 0}, "0x410042"},
        {"date", {SQL_C_TYPE_DATE, SQL_TYPE_DATE, raw(SQL_DATE_STRUCT{2014, 5, 6}), 0, 0, 0},
         "'2014-05-06'"},
        {"time", {SQL_C_TYPE_TIME, SQL_TYPE_TIME, raw(SQL_TIME_STRUCT{10, 20, 30}), 0, 0, 0},
         "'10:20:30'"},
        {"timestamp scale 3", {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
                               raw(ts(2014, 5, 6, 7, 8, 9, 123456789)), 0, 3, 0},
         "'2014-05-06 07:08:09.123'"},
        {"timestamp scale 6", {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
                               raw(ts(2014, 5, 6, 7, 8, 9, 123456789)), 0, 6, 0},
         "'2014-05-06 07:08:09.123456'"},
        {"timestamp scale 9", {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
                               raw(ts(2014, 5, 6, 7, 8, 9, 1000)), 0, 9, 0},
         "'2014-05-06 07:08:09.000001'"},
        {"timestamp scale 0", {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
                               raw(ts(2014, 5, 6, 7, 8, 9, 123456789)), 0, 0, 0},
         "'2014-05-06 07:08:09'"},
        {"guid", {SQL_C_GUID, SQL_GUID, raw(guid), 0, 0, 0},
         "'12345678-9ABC-DEF0-0102-030405060708'"},
        {"integer as text", {SQL_C_SLONG, SQL_VARCHAR, raw<int32_t>(42), 0, 0, 0}, "'42'"},
        {"null", {SQL_C_SLONG, SQL_INTEGER, raw<int32_t>(1), SQL_NULL_DATA, 0, 0}, "NULL"},
        {"null text", {SQL_C_CHAR, SQL_VARCHAR, "x", SQL_NULL_DATA, 0, 0}, "NULL"},
        // sources that are no number literal are converted, never pasted
        {"binary image as integer", {SQL_C_BINARY, SQL_INTEGER, raw<int32_t>(-7), 4, 0, 0}, "-7"},
        {"binary image wrong size", {SQL_C_BINARY, SQL_INTEGER, "abc", 3, 0, 0}, "!22003"},
        {"date as integer", {SQL_C_TYPE_DATE, SQL_INTEGER, raw(SQL_DATE_STRUCT{2014, 5, 6}), 0, 0,
                             0}, "!22018"},
        {"date as double", {SQL_C_TYPE_DATE, SQL_DOUBLE, raw(SQL_DATE_STRUCT{2014, 5, 6}), 0, 0,
                            0}, "!07006"},
        {"text that is no number", {SQL_C_CHAR, SQL_INTEGER, "1; DROP TABLE t", SQL_NTS, 0, 0},
         "!22018"},
        {"text with a comment", {SQL_C_CHAR, SQL_DOUBLE, "1 -- x", SQL_NTS, 0, 0}, "!22018"},
        {"bare exponent", {SQL_C_CHAR, SQL_DOUBLE, "1e", SQL_NTS, 0, 0}, "!22018"},
        {"empty number", {SQL_C_CHAR, SQL_INTEGER, "", SQL_NTS, 0, 0}, "!22018"},
        {"negative length", {SQL_C_CHAR, SQL_VARCHAR, "ab", -5, 0, 0}, "!HY090"},
    };
    for (const literal_case &c : cases) {
        SCOPED_TRACE(c.name);
        clear_diagnostics(stmt);
        ASSERT_TRUE(SQL_SUCCEEDED(bind(1, c.p))) << state();
        std::string got = literal();
        if (c.expected[0] == '!') {
            EXPECT_EQ(got, "");
            EXPECT_EQ(state(), c.expected.substr(1));
            EXPECT_EQ(column(), 1);
        } else {
            EXPECT_EQ(got, c.expected) << hex(got);
        }
    }
}

TEST_F(param_fixture, BinaryWithoutAnyLengthIsRefused)
{
    char buf[4] = "ab";
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, 2, 0, buf, 2,
                               nullptr), SQL_SUCCESS);
    EXPECT_EQ(literal(), "");
    EXPECT_EQ(state(), "07006");
    EXPECT_EQ(message(), "[Quorvane][MySQL Driver][MySQL]Restricted data type access "
                         "violation: binary type found without length information");
}

TEST_F(param_fixture, OutputParametersHaveNoLiteral)
{
    for (int io : {SQL_PARAM_OUTPUT, SQL_PARAM_INPUT_OUTPUT}) {
        clear_diagnostics(stmt);
        ASSERT_EQ(bind(1, {SQL_C_SLONG, SQL_INTEGER, raw<int32_t>(1), 0, 0, 0}, io), SQL_SUCCESS);
        EXPECT_EQ(literal(), "");
        EXPECT_EQ(state(), "HY000");
        EXPECT_NE(message().find(io == SQL_PARAM_OUTPUT ? "cannot translate output parameter"
                                                        : "cannot translate input/output parameter"),
                  std::string::npos);
    }
}

// Values that try to leave their literal stay inside it in both quoting
// modes of the server: with backslash escapes every special character is
// escaped; under NO_BACKSLASH_ESCAPES a backslash is plain text and only the
// quote is doubled.
TEST_F(param_fixture, HostileTextStaysInsideItsLiteral)
{
    struct hostile {
        std::string value;
        const char *backslash;
        const char *doubled;
    } cases[] = {
        {"\\'; DROP TABLE t; --", "'\\\\\\'; DROP TABLE t; --'", "'\\''; DROP TABLE t; --'"},
        {"it's", "'it\\'s'", "'it''s'"},
        {"a\\", "'a\\\\'", "'a\\'"},
        {"\"q\"", "'\\\"q\\\"'", "'\"q\"'"},
        {std::string("nul\0byte", 8), "'nul\\0byte'", nullptr},
        {"\b\t\n\r\x1a", "'\\b\\t\\n\\r\\Z'", "'\b\t\n\r\x1a'"},
        {"\xE6\x97\xA5\xF0\x9F\x98\x80", "'\xE6\x97\xA5\xF0\x9F\x98\x80'",
         "'\xE6\x97\xA5\xF0\x9F\x98\x80'"},
    };
    for (int nbe : {0, 1}) {
        conn->server_status = nbe ? SERVER_STATUS_NO_BACKSLASH_ESCAPES : 0;
        for (const hostile &c : cases) {
            SCOPED_TRACE(hex(c.value) + (nbe ? " NO_BACKSLASH_ESCAPES" : " backslash"));
            ASSERT_EQ(bind(1, {SQL_C_CHAR, SQL_VARCHAR, c.value, LEN, 0, 0}), SQL_SUCCESS);
            std::string want = nbe ? (c.doubled ? c.doubled : "'nul" + std::string(1, '\0') + "byte'")
                                   : c.backslash;
            EXPECT_EQ(literal(), want);
            // and the same text given as wide characters
            std::u16string w;
            for (unsigned char ch : c.value)
                if (ch < 0x80)
                    w += (char16_t)ch;
            if (w.size() == c.value.size()) {
                ASSERT_EQ(bind(1, {SQL_C_WCHAR, SQL_WVARCHAR, wide(w), LEN, 0, 0}), SQL_SUCCESS);
                EXPECT_EQ(literal(), want);
            }
        }
    }
}

// The quoting mode follows the session: an OK packet that reports
// NO_BACKSLASH_ESCAPES (after SET sql_mode) switches literals to doubled
// quotes, the next one without it switches them back.
TEST_F(param_fixture, QuotingFollowsTheStatusOfEveryOkPacket)
{
    conn->client_caps = CLIENT_PROTOCOL_41;
    auto ok = [&](unsigned status) {
        unsigned char payload[] = {0, 0, 0, (unsigned char)status, (unsigned char)(status >> 8), 0, 0};
        my_packet p = {};
        unsigned char data[4 + sizeof payload];
        memcpy(data + 4, payload, sizeof payload);
        p.data = data;
        p.limit = p.length = (int32_t)sizeof data;
        p.pos = 4;
        p.owner = stmt;
        wire_exchange x(stmt);   // as the packet is taken off the wire
        ASSERT_EQ(decode_ok_packet(stmt, &p, 1), 0);
    };
    ASSERT_EQ(bind(1, {SQL_C_CHAR, SQL_VARCHAR, "a\\'b", SQL_NTS, 0, 0}), SQL_SUCCESS);
    ok(SERVER_STATUS_AUTOCOMMIT | SERVER_STATUS_NO_BACKSLASH_ESCAPES);
    EXPECT_EQ(literal(), "'a\\''b'");
    ok(SERVER_STATUS_AUTOCOMMIT);
    EXPECT_EQ(literal(), "'a\\\\\\'b'");
}

// When the application's wide buffers carry UTF-8 (ConvWToUtf), a wide
// parameter's bytes are that UTF-8, not UTF-16.
TEST_F(param_fixture, WideBuffersInUtf8Mode)
{
    conn->ConvWToUtf = 1;
    ASSERT_EQ(bind(1, {SQL_C_WCHAR, SQL_WVARCHAR, "\xC3\xA9'", SQL_NTS, 0, 0}), SQL_SUCCESS);
    EXPECT_EQ(literal(), "'\xC3\xA9\\''");
    EXPECT_EQ(hex(block()), "00010F0003C3A927");
}

TEST_F(param_fixture, Latin1ConnectionWritesOneBytePerCharacter)
{
    conn->charset = 8;   // latin1
    ASSERT_EQ(bind(1, {SQL_C_WCHAR, SQL_WVARCHAR, wide(u"\u00e9\u20ac\u2027"), LEN, 0, 0}),
              SQL_SUCCESS);
    // what Latin-1 cannot hold becomes '?', never a byte that could be a quote
    EXPECT_EQ(literal(), "'\xE9?" "?'");
}

// ------------------------------------------------------------- binary block

struct block_case {
    const char *name;
    param p;
    std::string expected;   // hex of bitmap, bound flag, type, value; or "!" and a SQLSTATE
};

TEST_F(param_fixture, BinaryBlockByCAndSqlType)
{
    const SQLGUID guid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    const block_case cases[] = {
        {"slong", {SQL_C_SLONG, SQL_INTEGER, raw<int32_t>(-5), 0, 0, 0}, "00010300FBFFFFFF"},
        // an unsigned value above the signed range goes out as unsigned
        {"ulong", {SQL_C_ULONG, SQL_INTEGER, raw<uint32_t>(3000000000u), 0, 0, 0},
         "00010380005ED0B2"},
        {"ubigint", {SQL_C_UBIGINT, SQL_BIGINT, raw<uint64_t>(UINT64_MAX), 0, 0, 0},
         "00010880FFFFFFFFFFFFFFFF"},
        {"ubigint as default", {SQL_C_UBIGINT, SQL_DEFAULT, raw<uint64_t>(1), 0, 0, 0},
         "000108800100000000000000"},
        {"sbigint", {SQL_C_SBIGINT, SQL_BIGINT, raw<int64_t>(-2), 0, 0, 0},
         "00010800FEFFFFFFFFFFFFFF"},
        {"smallint", {SQL_C_SSHORT, SQL_SMALLINT, raw<int16_t>(-2), 0, 0, 0}, "00010200FEFF"},
        {"ushort", {SQL_C_USHORT, SQL_SMALLINT, raw<uint16_t>(65535), 0, 0, 0}, "00010280FFFF"},
        {"tinyint 200", {SQL_C_SLONG, SQL_TINYINT, raw<int32_t>(200), 0, 0, 0}, "00010180C8"},
        {"tinyint -100", {SQL_C_SLONG, SQL_TINYINT, raw<int32_t>(-100), 0, 0, 0}, "000101009C"},
        {"tinyint -200", {SQL_C_SLONG, SQL_TINYINT, raw<int32_t>(-200), 0, 0, 0}, "!22003"},
        {"bit", {SQL_C_SLONG, SQL_BIT, raw<int32_t>(5), 0, 0, 0}, "0001010001"},
        {"char to integer", {SQL_C_CHAR, SQL_INTEGER, "70000", SQL_NTS, 0, 0}, "0001030070110100"},
        {"char stops at a non-digit", {SQL_C_CHAR, SQL_INTEGER, "12a", SQL_NTS, 0, 0},
         "000103000C000000"},
        {"char to smallint out of range", {SQL_C_CHAR, SQL_SMALLINT, "70000", SQL_NTS, 0, 0},
         "!22003"},
        {"char no digits", {SQL_C_CHAR, SQL_INTEGER, "abc", SQL_NTS, 0, 0}, "!22018"},
        {"char to bigint", {SQL_C_CHAR, SQL_BIGINT, "18446744073709551615", SQL_NTS, 0, 0},
         "00010880FFFFFFFFFFFFFFFF"},
        {"double to integer", {SQL_C_DOUBLE, SQL_INTEGER, raw<double>(-2.9), 0, 0, 0},
         "00010300FEFFFFFF"},
        {"double out of range", {SQL_C_DOUBLE, SQL_INTEGER, raw<double>(5e9), 0, 0, 0}, "!22003"},
        {"double", {SQL_C_DOUBLE, SQL_DOUBLE, raw<double>(1.5), 0, 0, 0},
         "00010500000000000000F83F"},
        {"float", {SQL_C_FLOAT, SQL_REAL, raw<float>(1.5f), 0, 0, 0}, "000104000000C03F"},
        {"double to real out of range", {SQL_C_DOUBLE, SQL_REAL, raw<double>(1e300), 0, 0, 0},
         "!22003"},
        {"text not a double", {SQL_C_CHAR, SQL_DOUBLE, "abc", SQL_NTS, 0, 0}, "!22018"},
        {"char", {SQL_C_CHAR, SQL_VARCHAR, "ab", SQL_NTS, 0, 0}, "00010F00026162"},
        {"wide", {SQL_C_WCHAR, SQL_WVARCHAR, wide(u"\u00e9\U0001D11E"), SQL_NTS, 0, 0},
         "00010F0006C3A9F09D849E"},
        {"wide as char", {SQL_C_WCHAR, SQL_VARCHAR, wide(u"x"), SQL_NTS, 0, 0}, "00010F000178"},
        {"guid", {SQL_C_GUID, SQL_GUID, raw(guid), 0, 0, 0},
         "00010F0024" + hex("12345678-9ABC-DEF0-0102-030405060708")},
        {"binary", {SQL_C_BINARY, SQL_LONGVARBINARY, std::string("\x01\x00\xFF", 3), 3, 0, 0},
         "0001FC00030100FF"},
        {"hex text to binary", {SQL_C_CHAR, SQL_VARBINARY, "0X0aFF", SQL_NTS, 0, 0},
         "0001FC00020AFF"},
        {"decimal from text", {SQL_C_CHAR, SQL_DECIMAL, " 123.4500 ", SQL_NTS, 0, 10},
         "0001000008" "3132332E34353030"},
        {"decimal from numeric", {SQL_C_NUMERIC, SQL_NUMERIC, raw(numeric(10, 2, 1, 1250)), 0, 0, 10},
         "000100000431322E35"},
        {"decimal from double", {SQL_C_DOUBLE, SQL_DECIMAL, raw<double>(2.675), 0, 2, 10},
         "000100000432" "2E3638"},
        {"numeric precision 40", {SQL_C_NUMERIC, SQL_NUMERIC, raw(numeric(40, 0, 1, 1)), 0, 0, 10},
         "!22003"},
        {"date", {SQL_C_TYPE_DATE, SQL_TYPE_DATE, raw(SQL_DATE_STRUCT{2014, 5, 6}), 0, 0, 0},
         "00010A0004DE070506"},
        {"time", {SQL_C_TYPE_TIME, SQL_TYPE_TIME, raw(SQL_TIME_STRUCT{10, 20, 30}), 0, 0, 0},
         "00010B000800000000000A141E"},
        // a TIME keeps its microseconds, and hours beyond a day count days
        {"time from text", {SQL_C_CHAR, SQL_TYPE_TIME, "26:03:04.5", SQL_NTS, 0, 0},
         "00010B000C000100000002030420A10700"},
        {"timestamp", {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
                       raw(ts(2014, 5, 6, 7, 8, 9, 123000000)), 0, 3, 0},
         "000107000BDE07050607080978E00100"},
        {"timestamp whole seconds", {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
                                     raw(ts(2014, 5, 6, 7, 8, 9, 0)), 0, 0, 0},
         "0001070007DE070506070809"},
        {"date from text", {SQL_C_CHAR, SQL_TYPE_DATE, "2014-05-06", SQL_NTS, 0, 0},
         "00010A0004DE070506"},
        {"text no date", {SQL_C_CHAR, SQL_TYPE_TIMESTAMP, "yesterday", SQL_NTS, 0, 0}, "!22018"},
        {"date to bigint", {SQL_C_TYPE_DATE, SQL_BIGINT, raw(SQL_DATE_STRUCT{2014, 5, 6}), 0, 0, 0},
         "!07006"},
        {"integer to timestamp", {SQL_C_SLONG, SQL_TYPE_TIMESTAMP, raw<int32_t>(1), 0, 0, 0},
         "!07006"},
        {"null", {SQL_C_SLONG, SQL_INTEGER, raw<int32_t>(1), SQL_NULL_DATA, 0, 0}, "01010300"},
    };
    for (const block_case &c : cases) {
        SCOPED_TRACE(c.name);
        clear_diagnostics(stmt);
        ASSERT_TRUE(SQL_SUCCEEDED(bind(1, c.p))) << state();
        std::string got = block();
        if (c.expected[0] == '!') {
            EXPECT_EQ(got, "");
            EXPECT_EQ(state(), c.expected.substr(1));
            EXPECT_EQ(column(), 1);
        } else {
            EXPECT_EQ(hex(got), c.expected);
        }
    }
}

TEST_F(param_fixture, BinaryBlockNullBitmapAndServerCount)
{
    // nine parameters, NULL at 1 and 9: two bitmap bytes
    for (int k = 1; k <= 9; k++)
        ASSERT_EQ(bind(k, {SQL_C_UTINYINT, SQL_TINYINT, raw<uint8_t>((uint8_t)k),
                           k == 1 || k == 9 ? SQL_NULL_DATA : 0, 0, 0}),
                  SQL_SUCCESS);
    std::string b = block(9);
    ASSERT_GE(b.size(), 3u);
    EXPECT_EQ(hex(b.substr(0, 3)), "010101");
    EXPECT_EQ(hex(b.substr(3, 18)), "010001000100010001000100010001000100");
    EXPECT_EQ(hex(b.substr(21)), "02030405060708");

    // the server counted two: the block has two parameters whatever is bound
    stmt->params_described = 1;
    stmt->ipd->described_valid = 1;
    stmt->ipd->described_count = 2;
    b = block(9);
    EXPECT_EQ(hex(b), "01" "01" "0100" "0100" "02");
}

TEST_F(param_fixture, ParameterArraysColumnAndRowWise)
{
    // column-wise: values at their element size, indicators at SQLLEN steps
    int32_t ids[3] = {10, 20, 30};
    char names[3][8] = {"a", "bb", "ccc"};
    SQLLEN id_ind[3] = {0, SQL_NULL_DATA, 0};
    SQLLEN name_ind[3] = {SQL_NTS, 2, 9};
    stmt->apd->array_size = 3;
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, ids, 0,
                               id_ind), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 8, 0, names, 8,
                               name_ind), SQL_SUCCESS);
    const char *want[] = {"(10,'a')", "(NULL,'bb')", ""};
    for (int r = 0; r < 3; r++) {
        stmt->param_row = r;
        clear_diagnostics(stmt);
        EXPECT_EQ(literal(u"(?,?)"), want[r]);
    }
    // a length past its element would read the next one
    EXPECT_EQ(state(), "HY090");
    EXPECT_EQ(column(), 2);

    // row-wise, with a bind offset
    struct row {
        int32_t id;
        SQLLEN id_ind;
        char name[6];
        SQLLEN name_ind;
    } rows[2] = {{1, 0, "x", SQL_NTS}, {2, 0, "y'z", 3}};
    SQLLEN offset = 0;
    desc_truncate(stmt->apd, 0);
    stmt->apd->bind_type = sizeof(row);
    stmt->apd->bind_offset_ptr = &offset;
    stmt->apd->array_size = 1;
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                               &rows[0].id, 0, &rows[0].id_ind), SQL_SUCCESS);
    ASSERT_EQ(SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 5, 0,
                               rows[0].name, 6, &rows[0].name_ind), SQL_SUCCESS);
    stmt->param_row = 1;
    EXPECT_EQ(literal(u"(?,?)"), "(2,'y\\'z')");
    offset = -(SQLLEN)sizeof(row);   // the offset moves every address
    EXPECT_EQ(literal(u"(?,?)"), "(1,'x')");
    stmt->apd->bind_offset_ptr = nullptr;
}

TEST_F(param_fixture, RefusalComesBeforeAnyByteIsWritten)
{
    // the second parameter fails: the first one's literal is not written yet
    ASSERT_EQ(bind(1, {SQL_C_CHAR, SQL_VARCHAR, "fine", SQL_NTS, 0, 0}), SQL_SUCCESS);
    ASSERT_EQ(bind(2, {SQL_C_CHAR, SQL_INTEGER, "bad", SQL_NTS, 0, 0}), SQL_SUCCESS);
    my_string *t = ms_from_latin1("select ?, ?");
    my_string *sql = my_process_sql(stmt, t);
    ms_free(t);
    my_packet *p = packet_new(stmt);
    ASSERT_EQ(packet_put_u8(p, 3), 0);
    EXPECT_EQ(my_append_param_as_string(stmt, p, 1), -1);
    EXPECT_EQ(p->length, 5);
    EXPECT_EQ(state(), "22018");
    EXPECT_EQ(column(), 2);
    packet_free(p);
    ms_free(sql);
}

// A length that could not describe the application's 64-byte buffer (beyond
// the buffer length it gave, beyond what any command can carry, negative) is
// refused with HY090 naming the parameter, before a byte is read: in the
// query text and in the binary block, narrow, wide and binary.
TEST_F(param_fixture, ImpossibleLengthsAreRefusedBeforeAnythingIsRead)
{
    std::vector<char> buf(64, 'v');   // exactly 64 bytes: a read past it shows under ASan
    const struct {
        int c_type, sql_type;
    } types[] = {{SQL_C_CHAR, SQL_VARCHAR}, {SQL_C_WCHAR, SQL_WVARCHAR},
                 {SQL_C_BINARY, SQL_VARBINARY}};
    const struct {
        SQLLEN buffer_length, length;
    } lengths[] = {
        {0, (SQLLEN)1 << 40}, {0, INT64_MAX}, {0, ((SQLLEN)1 << 30) + 1}, {0, -7},
        {64, (SQLLEN)1 << 40}, {64, INT64_MAX}, {64, 65},
    };
    for (const auto &t : types)
        for (const auto &l : lengths)
            for (int as_block = 0; as_block < 2; as_block++) {
                SCOPED_TRACE(testing::Message() << "C type " << t.c_type << ", buffer "
                                                << l.buffer_length << ", length " << l.length
                                                << (as_block ? ", binary block" : ", text"));
                SQLLEN ind = l.length;
                ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, (SQLSMALLINT)t.c_type,
                                           (SQLSMALLINT)t.sql_type, 64, 0, buf.data(),
                                           l.buffer_length, &ind),
                          SQL_SUCCESS);
                clear_diagnostics(stmt);
                EXPECT_EQ(as_block ? block() : literal(), "");
                EXPECT_EQ(state(), "HY090");
                EXPECT_EQ(column(), 1);
            }
    // the whole buffer is a sound length
    SQLLEN ind = 64;
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 64, 0,
                               buf.data(), 64, &ind),
              SQL_SUCCESS);
    EXPECT_EQ(literal(), "'" + std::string(64, 'v') + "'");
}

// Without a statement to describe, a bound parameter is described by its
// binding (its SQL type, not the C type), an unbound one not at all.
TEST_F(param_fixture, DescribeParamFromTheBinding)
{
    stmt->found_param_count = 2;
    int32_t v = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_DECIMAL, 12, 3, &v, 0,
                               &ind), SQL_SUCCESS);
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    ASSERT_EQ(SQLDescribeParam(stmt, 1, &type, &size, &digits, &nullable), SQL_SUCCESS);
    EXPECT_EQ(type, SQL_DECIMAL);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(digits, 3);
    EXPECT_EQ(nullable, SQL_NULLABLE_UNKNOWN);
    for (SQLUSMALLINT n : {0, 2, 3}) {
        EXPECT_EQ(SQLDescribeParam(stmt, n, &type, &size, &digits, &nullable), SQL_ERROR);
        EXPECT_EQ(state(), "07009");
    }
}
