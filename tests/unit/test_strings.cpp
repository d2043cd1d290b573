// my_string: constructors, per-connection conversions, UTF-8 edge cases,
// brace-aware splitting, comparisons, compose_text and the copy-out rule.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "frame/my_handle.h"

namespace {

std::vector<uint16_t> units(const my_string *s)
{
    return s ? std::vector<uint16_t>(s->data, s->data + s->length) : std::vector<uint16_t>{};
}

std::string narrow(const my_string *s, const my_connection *c)
{
    char *p = ms_to_narrow(s, c);
    std::string r(p ? p : "", p ? ms_narrow_length(s, c) : 0);
    free(p);
    return r;
}

struct conn_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    void TearDown() override { env_release(env); }
};

} // namespace

using StringConn = conn_fixture;

TEST_F(StringConn, NarrowUtf8AndLatin1)
{
    conn->ConvToUtf = 1;
    my_string *s = ms_from_narrow("caf\xC3\xA9", SQL_NTS, conn);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(units(s), (std::vector<uint16_t>{'c', 'a', 'f', 0xE9}));
    ms_free(s);

    uint16_t euro = 0x20AC;
    my_string *e = ms_from_utf16(&euro, 1);
    EXPECT_EQ(narrow(e, conn), "\xE2\x82\xAC");
    EXPECT_EQ(ms_narrow_length(e, conn), 3u);
    conn->ConvToUtf = 0;
    EXPECT_EQ(narrow(e, conn), "\xAC");
    EXPECT_EQ(ms_narrow_length(e, conn), 1u);
    ms_free(e);
}

// Logon text arrives before any session says what narrow text is: UTF-8
// when the bytes are well-formed UTF-8, Latin-1 when they are not.
TEST_F(StringConn, LogonTextIsUtf8WhenWellFormed)
{
    struct {
        const char *bytes;
        int utf8;
        std::vector<uint16_t> want;
    } cases[] = {
        {"plain", 1, {'p', 'l', 'a', 'i', 'n'}},
        {"Gr\xC3\xBC\xC3\x9F" "e", 1, {'G', 'r', 0xFC, 0xDF, 'e'}},
        {"\xF0\x9F\x8C\x9C", 1, {0xD83C, 0xDF1C}},
        {"\xEF\xBF\xBD", 1, {0xFFFD}},                  // written out, not malformed
        {"Gr\xFC\xDF" "e", 0, {'G', 'r', 0xFC, 0xDF, 'e'}},    // Latin-1 bytes
        {"\xC0\xAF", 0, {0xC0, 0xAF}},                    // overlong form
        {"\xED\xA0\x80", 0, {0xED, 0xA0, 0x80}},          // a surrogate
        {"ab\xE2\x82", 0, {'a', 'b', 0xE2, 0x82}},         // cut sequence
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.bytes);
        EXPECT_EQ(narrow_text_utf8(t.bytes, SQL_NTS, conn), t.utf8);
        my_string *s = ms_from_narrow_as(t.bytes, SQL_NTS, narrow_text_utf8(t.bytes, SQL_NTS, conn));
        EXPECT_EQ(units(s), t.want);
        ms_free(s);
    }
    // a connection that says its narrow text is UTF-8 is taken at its word
    conn->ConvToUtf = 1;
    EXPECT_EQ(narrow_text_utf8("Gr\xFC\xDF" "e", SQL_NTS, conn), 1);
    EXPECT_EQ(narrow_text_utf8(nullptr, SQL_NTS, conn), 1);
}

TEST_F(StringConn, NullAndEmptyAreDistinct)
{
    EXPECT_EQ(ms_from_narrow(nullptr, SQL_NTS, conn), nullptr);
    EXPECT_EQ(ms_from_wide(nullptr, SQL_NTS, conn), nullptr);
    my_string *e = ms_from_narrow("abc", 0, conn);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->length, 0u);
    ms_free(e);
    char *p = ms_to_narrow(nullptr, conn);
    EXPECT_EQ(p, nullptr);
    my_string *empty = ms_new(0);
    p = ms_to_narrow(empty, conn);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "");
    free(p);
    ms_free(empty);
}

TEST_F(StringConn, WideModes)
{
    const uint16_t w[] = {'h', 0xE9, 0};
    my_string *s = ms_from_wide(w, SQL_NTS, conn);   // UTF-16 by default
    EXPECT_EQ(units(s), (std::vector<uint16_t>{'h', 0xE9}));
    ms_free(s);
    conn->wchar_type = 2;                             // wide buffers carry UTF-8
    s = ms_from_wide("h\xC3\xA9", 3, conn);
    EXPECT_EQ(units(s), (std::vector<uint16_t>{'h', 0xE9}));
    ms_free(s);
}

// Text outside the BMP: U+1F600 is F0 9F 98 80 in UTF-8 and D83D DE00 in UTF-16.
TEST(Strings, SupplementaryPlaneRoundTrips)
{
    const char *utf8 = "a\xF0\x9F\x98\x80z";
    my_string *s = ms_from_utf8(utf8, SQL_NTS);
    EXPECT_EQ(units(s), (std::vector<uint16_t>{'a', 0xD83D, 0xDE00, 'z'}));
    char *back = ms_to_utf8(s);
    EXPECT_STREQ(back, utf8);
    EXPECT_EQ(ms_utf8_length(s), 6u);
    free(back);
    ms_free(s);
}

TEST(Strings, InvalidUtf8NeverOverreads)
{
    struct tc {
        std::string bytes;
        std::vector<uint16_t> want;
    } cases[] = {
        {"\x80", {0xFFFD}},                           // stray continuation
        {"a\xBF" "b", {'a', 0xFFFD, 'b'}},
        {"\xC3", {0xFFFD}},                           // truncated 2-byte at end
        {"\xE2\x82", {0xFFFD}},                       // truncated 3-byte at end
        {"\xF0\x9F\x98", {0xFFFD}},                   // truncated 4-byte at end
        {"\xE2\x82" "A", {0xFFFD, 'A'}},              // next lead not swallowed
        {"\xC0\xAF", {0xFFFD, 0xFFFD}},               // overlong
        {"\xED\xA0\x80", {0xFFFD}},                   // encoded surrogate
        {"\xF5\x80\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
    };
    for (const tc &c : cases) {
        // exact-size heap copy so the sanitizer sees any read past the end
        std::vector<char> buf(c.bytes.begin(), c.bytes.end());
        my_string *s = ms_from_utf8(buf.data(), (int64_t)buf.size());
        EXPECT_EQ(units(s), c.want) << "input size " << buf.size();
        EXPECT_EQ(utf8_units((const unsigned char *)buf.data(), buf.size()), c.want.size());
        ms_free(s);
    }
}

TEST(Strings, UnpairedSurrogateEncodesAsReplacement)
{
    const uint16_t lone[] = {'x', 0xD800, 'y', 0xDC00};
    my_string *s = ms_from_utf16(lone, 4);
    char *p = ms_to_utf8(s);
    EXPECT_STREQ(p, "x\xEF\xBF\xBDy\xEF\xBF\xBD");
    EXPECT_EQ(ms_utf8_length(s), strlen(p));
    free(p);
    ms_free(s);
}

TEST(Strings, SubstringClamps)
{
    my_string *s = ms_from_latin1("abcdef");
    struct { int64_t start, count; const char *want; } cases[] = {
        {0, -1, "abcdef"}, {2, 2, "cd"}, {4, 100, "ef"}, {10, 1, ""}, {-3, 2, "ab"},
    };
    for (auto &c : cases) {
        my_string *sub = ms_substr(s, c.start, c.count);
        char *p = ms_to_latin1(sub);
        EXPECT_STREQ(p, c.want);
        free(p);
        ms_free(sub);
    }
    ms_free(s);
}

TEST(Strings, SplitAtDepthZero)
{
    my_string *s = ms_from_latin1("DRIVER={a;b};UID=x");
    my_string *l, *r;
    ASSERT_EQ(ms_split_depth0(s, ';', &l, &r), 0);
    char *lp = ms_to_latin1(l), *rp = ms_to_latin1(r);
    EXPECT_STREQ(lp, "DRIVER={a;b}");
    EXPECT_STREQ(rp, "UID=x");
    free(lp);
    free(rp);
    ms_free(l);
    ms_free(r);
    ms_free(s);

    s = ms_from_latin1("nothing");
    ASSERT_EQ(ms_split_depth0(s, ';', &l, &r), 0);
    EXPECT_EQ(l->length, 7u);
    EXPECT_EQ(r->length, 0u);
    ms_free(l);
    ms_free(r);
    ms_free(s);
}

TEST(Strings, CompareCaseInsensitive)
{
    my_string *uid = ms_from_latin1("uid"), *ui = ms_from_latin1("UI");
    EXPECT_EQ(ms_compare_literal(uid, "UID"), 0);
    EXPECT_EQ(ms_compare_literal(ui, "UID"), -1);
    EXPECT_EQ(ms_compare_literal(uid, "UI"), 1);
    EXPECT_EQ(ms_compare(uid, ui), 1);
    EXPECT_EQ(ms_has_pattern(uid), 0);
    my_string *pat = ms_from_latin1("a\\_b");
    EXPECT_EQ(ms_has_pattern(pat), 1);
    ms_free(pat);
    ms_free(uid);
    ms_free(ui);
}

TEST(Strings, ComposeText)
{
    my_string *s = compose_text("a=%S", (my_string *)nullptr);
    char *p = ms_to_latin1(s);
    EXPECT_STREQ(p, "a=(nul)");
    free(p);
    ms_free(s);

    const uint16_t name[] = {'O', '\'', 'B', 'r', 'i', 'e', 'n', 0};
    my_string *db = ms_from_latin1("db");
    s = compose_text("SELECT %Z, %d, %l, %s, %F.", name, (int64_t)SQL_NTS, -7,
                     (int64_t)1 << 40, "x", db);   // %F consumes db
    p = ms_to_latin1(s);
    EXPECT_STREQ(p, "SELECT 'O''Brien', -7, 1099511627776, x, db.");
    free(p);
    ms_free(s);

    s = compose_text("%Z", (const uint16_t *)nullptr, (int64_t)0);
    p = ms_to_latin1(s);
    EXPECT_STREQ(p, "null");
    free(p);
    ms_free(s);

    // long output grows past the first 1024 units
    std::string big(3000, 'q');
    s = compose_text("%s%s", big.c_str(), big.c_str());
    EXPECT_EQ(s->length, 6000u);
    ms_free(s);
}

TEST_F(StringConn, CopyOutRule)
{
    my_string *s = ms_from_latin1("abcdefghij");
    char buf[8];
    int64_t full = 0;
    EXPECT_EQ(copy_out_string(s, conn, COPY_NARROW, buf, sizeof buf, &full), 1);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(full, 10);
    EXPECT_EQ(copy_out_string(s, conn, COPY_NARROW, nullptr, 0, &full), 0);
    EXPECT_EQ(full, 10);
    char exact[10];   // no room for the terminator: cut
    EXPECT_EQ(copy_out_string(s, conn, COPY_NARROW, exact, sizeof exact, &full), 1);
    EXPECT_STREQ(exact, "abcdefghi");

    SQLWCHAR w[4];
    EXPECT_EQ(copy_out_string(s, conn, COPY_WIDE_CHARS, w, 4, &full), 1);
    EXPECT_EQ(full, 10);
    EXPECT_EQ(w[2], 'c');
    EXPECT_EQ(w[3], 0);
    EXPECT_EQ(copy_out_string(s, conn, COPY_WIDE_BYTES, w, sizeof w, &full), 1);
    EXPECT_EQ(full, 20);
    ms_free(s);

    // a cut never leaves half a character behind
    conn->ConvToUtf = 1;
    s = ms_from_utf8("ab\xC3\xA9", SQL_NTS);
    char small[4];
    EXPECT_EQ(copy_out_string(s, conn, COPY_NARROW, small, sizeof small, &full), 1);
    EXPECT_STREQ(small, "ab");
    EXPECT_EQ(full, 4);
    ms_free(s);
    s = ms_from_utf8("a\xF0\x9F\x98\x80", SQL_NTS);
    EXPECT_EQ(copy_out_string(s, conn, COPY_WIDE_CHARS, w, 3, &full), 1);
    EXPECT_EQ(w[0], 'a');
    EXPECT_EQ(w[1], 0);
    EXPECT_EQ(full, 3);
    ms_free(s);
}
