// Values longer than one protocol packet (16 MB) read back with SQLGetData
// in pieces of 1 MB, through the driver manager: a LONGBLOB as SQL_C_BINARY,
// a LONGTEXT of mixed scripts as SQL_C_CHAR and as SQL_C_WCHAR.  Each piece
// must report what is still left, carry 01004 until the last one, and the
// pieces together must be exactly what the server stored; after the last
// piece the column answers SQL_NO_DATA.  The same with compressed framing and
// with rows read from the wire as they come (NoCache).
#include <gtest/gtest.h>

#include <sqlext.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

const SQLLEN PIECE = 1 << 20;

// Periods that do not divide the piece size, so a piece lost, repeated or
// shifted shows in the content and not only in the length.
const size_t BLOB_PERIOD = 251;
const size_t BLOB_REPEAT = 83546;   // 20,970,046 bytes
// ASCII, Latin-1, Cyrillic, CJK and a character outside the BMP (four bytes
// in UTF-8, a surrogate pair in UTF-16): 43 bytes.
const char TEXT_PATTERN[] = "Gr\xC3\xBC\xC3\x9F" "e, \xD0\xBC\xD0\xB8\xD1\x80, "
                            "\xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9F\x98\x80 0123456789;";
const size_t TEXT_REPEAT = 487700;  // 20,971,100 bytes

std::string blob_pattern()
{
    std::string p;
    for (size_t i = 0; i < BLOB_PERIOD; i++)
        p.push_back((char)((i * 7 + 3) & 0xFF));
    return p;
}

std::string repeated(const std::string &pattern, size_t times)
{
    std::string out;
    out.reserve(pattern.size() * times);
    for (size_t i = 0; i < times; i++)
        out += pattern;
    return out;
}

std::string hex(const std::string &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

// UTF-16 units of well-formed UTF-8 (the test's own text).
std::u16string utf16(const std::string &s)
{
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        unsigned char b = (unsigned char)s[i];
        uint32_t cp;
        size_t n;
        if (b < 0x80) { cp = b; n = 1; }
        else if (b < 0xE0) { cp = b & 0x1F; n = 2; }
        else if (b < 0xF0) { cp = b & 0x0F; n = 3; }
        else { cp = b & 0x07; n = 4; }
        for (size_t k = 1; k < n; k++)
            cp = (cp << 6) | ((unsigned char)s[i + k] & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back((char16_t)(0xD800 + (cp >> 10)));
            out.push_back((char16_t)(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back((char16_t)cp);
        }
    }
    return out;
}

const std::string &expected_blob()
{
    static const std::string v = repeated(blob_pattern(), BLOB_REPEAT);
    return v;
}

const std::string &expected_text()
{
    static const std::string v = repeated(TEXT_PATTERN, TEXT_REPEAT);
    return v;
}

bool has_state(const qv::handle &stmt, const char *state)
{
    for (const qv::diag_record &r : qv::diagnostics(stmt))
        if (r.sqlstate == state)
            return true;
    return false;
}

// Reads one column in pieces into `out` (as bytes); `unit` is the size of a
// character of the target type (0 for binary: no terminator).  `total` is the
// length the first piece must report, in bytes of the target type.
void read_pieces(const qv::handle &stmt, SQLUSMALLINT col, SQLSMALLINT c_type, int unit,
                 SQLLEN total, std::string &out)
{
    std::vector<char> buf((size_t)PIECE);
    SQLLEN remaining = total;
    int piece = 0;
    for (;;) {
        SCOPED_TRACE("piece " + std::to_string(piece));
        SQLLEN ind = -77;
        SQLRETURN rc = SQLGetData(stmt, col, c_type, buf.data(), PIECE, &ind);
        ASSERT_EQ(ind, remaining) << "each piece reports what is left";
        size_t got;
        if (unit == 0) {
            got = (size_t)(ind < PIECE ? ind : PIECE);
        } else {
            // a terminated string: the piece may end short of the buffer
            // (a character that would not fit is left for the next piece)
            got = 0;
            if (unit == 1)
                got = strlen(buf.data());
            else
                while (buf[got] || buf[got + 1])
                    got += 2;
            ASSERT_LT((SQLLEN)got, PIECE);
        }
        out.append(buf.data(), got);
        if (rc == SQL_SUCCESS) {
            ASSERT_EQ((SQLLEN)got, remaining) << "the last piece holds all that is left";
            break;
        }
        ASSERT_EQ(rc, SQL_SUCCESS_WITH_INFO) << qv::describe(qv::diagnostics(stmt));
        ASSERT_TRUE(has_state(stmt, "01004")) << qv::describe(qv::diagnostics(stmt));
        ASSERT_GT(got, 0u);
        remaining -= (SQLLEN)got;
        piece++;
    }
    SQLLEN ind = -77;
    EXPECT_EQ(SQLGetData(stmt, col, c_type, buf.data(), PIECE, &ind), SQL_NO_DATA);
}

class LongData : public ::testing::TestWithParam<const char *> {
protected:
    static void SetUpTestSuite()
    {
        std::string sql =
            "DROP TABLE IF EXISTS long_data;"
            "CREATE TABLE long_data (b LONGBLOB, t LONGTEXT CHARACTER SET utf8mb4);"
            "INSERT INTO long_data VALUES (REPEAT(UNHEX('" + hex(blob_pattern()) + "'), " +
            std::to_string(BLOB_REPEAT) + "), REPEAT(CONVERT(UNHEX('" + hex(TEXT_PATTERN) +
            "') USING utf8mb4), " + std::to_string(TEXT_REPEAT) + "));";
        qv::sql_result r = qv::server_sql(sql);
        ASSERT_EQ(r.status, 0) << r.output;
        std::vector<std::vector<std::string>> rows =
            qv::server_rows("SELECT LENGTH(b), LENGTH(t) FROM long_data");
        ASSERT_EQ(rows.size(), 1u);
        ASSERT_EQ(rows[0][0], std::to_string(expected_blob().size()));
        ASSERT_EQ(rows[0][1], std::to_string(expected_text().size()));
    }
    static void TearDownTestSuite() { qv::server_sql("DROP TABLE IF EXISTS long_data"); }
};

TEST_P(LongData, ReadInPiecesOfOneMegabyte)
{
    qv::connection c;
    SQLRETURN rc = c.connect(qv::conn_str(GetParam()));
    QV_ASSERT_SUCCEEDED(rc, c.dbc);
    qv::handle stmt = qv::alloc_stmt(c.dbc);
    ASSERT_TRUE(stmt);

    rc = SQLExecDirect(stmt, (SQLCHAR *)"SELECT b, t, t FROM long_data", SQL_NTS);
    QV_ASSERT_SUCCEEDED(rc, stmt);
    rc = SQLFetch(stmt);
    QV_ASSERT_SUCCEEDED(rc, stmt);

    {
        SCOPED_TRACE("LONGBLOB as SQL_C_BINARY");
        std::string got;
        read_pieces(stmt, 1, SQL_C_BINARY, 0, (SQLLEN)expected_blob().size(), got);
        EXPECT_TRUE(got == expected_blob()) << "blob differs (" << got.size() << " bytes read)";
    }
    {
        SCOPED_TRACE("LONGTEXT as SQL_C_CHAR");
        std::string got;
        read_pieces(stmt, 2, SQL_C_CHAR, 1, (SQLLEN)expected_text().size(), got);
        EXPECT_TRUE(got == expected_text()) << "text differs (" << got.size() << " bytes read)";
    }
    {
        SCOPED_TRACE("LONGTEXT as SQL_C_WCHAR");
        std::u16string want = utf16(expected_text());
        std::string got;
        read_pieces(stmt, 3, SQL_C_WCHAR, 2, (SQLLEN)(want.size() * 2), got);
        std::u16string wide(got.size() / 2, u'\0');
        memcpy(&wide[0], got.data(), got.size());
        EXPECT_TRUE(wide == want) << "wide text differs (" << wide.size() << " units read)";
    }

    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA) << qv::describe(qv::diagnostics(stmt));
    // the connection still answers after the long row
    SQLFreeStmt(stmt, SQL_CLOSE);
    rc = SQLExecDirect(stmt, (SQLCHAR *)"SELECT 1", SQL_NTS);
    QV_EXPECT_SUCCEEDED(rc, stmt);
}

INSTANTIATE_TEST_SUITE_P(Modes, LongData,
                         ::testing::Values("", "Compress=yes;", "NoCache=yes;"),
                         [](const ::testing::TestParamInfo<const char *> &i) {
                             std::string n = i.param;
                             if (n.empty())
                                 return std::string("Plain");
                             return n.substr(0, n.find('='));
                         });

} // namespace
