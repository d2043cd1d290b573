// SQL text processing: the scanner's view of quotes, comments and markers,
// my_process_sql's trimming, counting and classification, and the exact
// bytes of the command packets built for a statement.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/my_handle.h"
#include "stmt/my_sql.h"

namespace {

enum { NBE = SQL_SCAN_NO_BACKSLASH_ESCAPES, ANSI = SQL_SCAN_ANSI_QUOTES };

my_string *text16(const std::u16string &s)
{
    return ms_from_utf16(reinterpret_cast<const uint16_t *>(s.data()), (int64_t)s.size());
}

std::u16string units_of(const my_string *s)
{
    return s && s->length ? std::u16string(reinterpret_cast<const char16_t *>(s->data), s->length)
                          : std::u16string();
}

std::vector<uint32_t> markers_of(const std::u16string &s, int flags)
{
    sql_scanner sc;
    sql_token t;
    std::vector<uint32_t> at;
    sql_scan_init(&sc, reinterpret_cast<const uint16_t *>(s.data()), (uint32_t)s.size(), flags);
    while (sql_scan_next(&sc, &t))
        if (t.kind == SQL_TOKEN_MARKER)
            at.push_back(t.start);
    return at;
}

// Payload bytes of a built packet (after the 4-byte header).
std::string payload(const my_packet *p)
{
    return std::string(reinterpret_cast<const char *>(p->data) + 4, (size_t)(p->length - 4));
}

struct stmt_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = stmt_create(conn);
    void SetUp() override
    {
        ASSERT_NE(stmt, nullptr);
        conn->charset = 33;   // UTF-8 on the wire
    }
    void TearDown() override { env_release(env); }

    // Processes text and returns the output; count and class land on stmt.
    std::u16string process(const std::u16string &in)
    {
        my_string *src = text16(in);
        my_string *out = my_process_sql(stmt, src);
        ms_free(src);
        EXPECT_NE(out, nullptr);
        std::u16string r = units_of(out);
        ms_free(out);
        return r;
    }

    std::string diag_state(int n)
    {
        diag_record *r = diag_get(stmt, n);
        char *st = r ? ms_to_latin1(r->sqlstate) : nullptr;
        std::string s(st ? st : "");
        free(st);
        return s;
    }
};

} // namespace

// ----------------------------------------------------------------- scanner

struct marker_case {
    const char16_t *text;
    int flags;
    std::vector<uint32_t> markers;
};

TEST(SqlScanner, MarkerPositions)
{
    const marker_case cases[] = {
        {u"select ?, ?", 0, {7, 10}},
        {u"insert into t values ('what?', ?)", 0, {31}},
        {u"select 'it''s?', ?", 0, {17}},
        {u"select \"a\"\"?\", ?", 0, {15}},
        {u"select [a?b], ?", 0, {14}},
        {u"select `a?``b`, ?", 0, {16}},
        {u"select ? -- why?\nfrom t where a = ?", 0, {7, 34}},
        {u"select ? # why?\n, ?", 0, {7, 18}},
        {u"select /* ? */ ?", 0, {15}},
        {u"{call p(?)}", 0, {8}},
        // "--" is a comment only before a blank or control character.
        {u"select 1--?", 0, {10}},
        {u"select 1 --\t?", 0, {}},
        {u"select ? --", 0, {7}},
        // The server ends a line comment at LF, not at a lone CR.
        {u"select 1 -- x\r?\n, ?", 0, {18}},
        // Executable comments hold SQL; hint comments do not.
        {u"select /*!50000 ? */, ?", 0, {16, 22}},
        {u"select /*M!100100 ? */ 1", 0, {18}},
        {u"select /*+ no? */ ?", 0, {18}},
        // Backslash escapes in literals, unless NO_BACKSLASH_ESCAPES.
        {u"select 'it\\'s ?', ?", 0, {18}},
        {u"select 'it\\'s ?', ?", NBE, {14}},
        {u"select 'C:\\', ?", 0, {}},
        {u"select 'C:\\', ?", NBE, {14}},
        {u"select \"C:\\\", ?", 0, {}},
        {u"select \"C:\\\", ?", ANSI, {14}},
        {u"select `C:\\`, ?", 0, {14}},
        // Unterminated literals, identifiers and comments run to the end.
        {u"select '?", 0, {}},
        {u"select [?", 0, {}},
        {u"select /* ?", 0, {}},
        {u"select 'a\\", 0, {}},
    };
    for (const marker_case &c : cases)
        EXPECT_EQ(markers_of(c.text, c.flags), c.markers)
            << "text: " << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text))
            << " flags " << c.flags;
}

TEST(SqlScanner, TokenKinds)
{
    std::u16string s = u"a'b'-- c\n?\uFEFF/*x*/`q`[r]";
    sql_scanner sc;
    sql_token t;
    std::vector<std::pair<int, std::u16string>> got;
    sql_scan_init(&sc, reinterpret_cast<const uint16_t *>(s.data()), (uint32_t)s.size(), 0);
    while (sql_scan_next(&sc, &t))
        got.emplace_back(t.kind, s.substr(t.start, t.end - t.start));
    std::vector<std::pair<int, std::u16string>> want = {
        {SQL_TOKEN_TEXT, u"a"},      {SQL_TOKEN_QUOTED, u"'b'"},     {SQL_TOKEN_COMMENT, u"-- c"},
        {SQL_TOKEN_TEXT, u"\n"},     {SQL_TOKEN_MARKER, u"?"},       {SQL_TOKEN_BOM, u"\uFEFF"},
        {SQL_TOKEN_COMMENT, u"/*x*/"}, {SQL_TOKEN_QUOTED, u"`q`"},   {SQL_TOKEN_QUOTED, u"[r]"},
    };
    EXPECT_EQ(got, want);
}

// Every prefix of a text full of openers is scanned into contiguous tokens
// that stay inside the prefix (the buffer is exactly the prefix, so an
// over-read shows under the sanitizers).
TEST(SqlScanner, EveryPrefixStaysInBounds)
{
    const std::u16string full =
        u"select 'a''b\\'c', \"d\\\"\", `e``f`, [g], ? -- h\r\n# i\n/* j */ /*!50000 ? */ /*M!1 ? */ --";
    for (int flags : {0, (int)NBE, (int)ANSI}) {
        for (size_t n = 0; n <= full.size(); n++) {
            std::vector<uint16_t> buf(full.begin(), full.begin() + (long)n);
            sql_scanner sc;
            sql_token t;
            sql_scan_init(&sc, buf.data(), (uint32_t)n, flags);
            uint32_t expect_start = 0;
            while (sql_scan_next(&sc, &t)) {
                ASSERT_EQ(t.start, expect_start);
                ASSERT_GT(t.end, t.start);
                ASSERT_LE(t.end, n);
                expect_start = t.end;
            }
            ASSERT_EQ(expect_start, n);
        }
    }
}

TEST(SqlScanner, FlagsFollowSession)
{
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    EXPECT_EQ(sql_scan_flags(conn), 0);
    conn->server_status = 0x200 | 0x2;
    EXPECT_EQ(sql_scan_flags(conn), NBE);
    conn->AnsiMode = 1;
    EXPECT_EQ(sql_scan_flags(conn), NBE | ANSI);
    EXPECT_EQ(sql_scan_flags(nullptr), 0);
    env_release(env);
}

// ---------------------------------------------------------- my_process_sql

struct process_case {
    const char16_t *in;
    const char16_t *out;
    int markers;
    int is_select;
};

using ProcessSql = stmt_fixture;

TEST_F(ProcessSql, TrimCountClassify)
{
    const process_case cases[] = {
        {u"  select 1 ;; ", u"select 1 ", 0, 1},
        {u"SELECT ?;", u"SELECT ?", 1, 1},
        {u"insert into t values ('what?', ?)", u"insert into t values ('what?', ?)", 1, 0},
        {u"SELECT 'it''s', ?", u"SELECT 'it''s', ?", 1, 1},
        {u"select [a?] from t where b = ?", u"select [a?] from t where b = ?", 1, 1},
        {u"select a -- what?\nfrom t", u"select a -- what?\nfrom t", 0, 1},
        {u"\uFEFFselect ?", u"select ?", 1, 1},
        {u"\uFEFF  \uFFFE select 1", u"select 1", 0, 1},
        {u"select 1 ;\uFEFF ", u"select 1 ", 0, 1},
        {u"select\uFEFF ?", u"select ?", 1, 1},
        // Inside a literal a U+FEFF is data and stays.
        {u"select '\uFEFF?'", u"select '\uFEFF?'", 0, 1},
        {u"{call p(?)}", u"{call p(?)}", 1, 0},
        {u"{? = call p(?)}", u"{? = call p(?)}", 2, 0},
        {u"{fn UCASE(?)}", u"{fn UCASE(?)}", 1, 0},
        {u"select {d '2024-01-02'}, ?", u"select {d '2024-01-02'}, ?", 1, 1},
        {u"select 1 # really?", u"select 1 # really?", 0, 1},
        {u"select /* ? */ ?", u"select /* ? */ ?", 1, 1},
        {u"select `odd?name` from t", u"select `odd?name` from t", 0, 1},
        {u"select 'a\\'?', ?", u"select 'a\\'?', ?", 1, 1},
        // Classification looks past leading comments and parentheses.
        {u"/* lead */ SELECT ?", u"/* lead */ SELECT ?", 1, 1},
        {u"-- lead\n  Sel ?", u"-- lead\n  Sel ?", 1, 1},
        {u"(SELECT ?) UNION (SELECT ?)", u"(SELECT ?) UNION (SELECT ?)", 2, 1},
        {u"update t set a = ? where b = ?", u"update t set a = ? where b = ?", 2, 0},
        {u"selec", u"selec", 0, 1},
        {u"se", u"se", 0, 0},
        {u"show tables", u"show tables", 0, 0},
        {u"'select'", u"'select'", 0, 0},
        {u"   ", u"", 0, 0},
        {u" ;; ", u"", 0, 0},
        {u"", u"", 0, 0},
    };
    for (const process_case &c : cases) {
        stmt->found_param_count = -1;
        stmt->is_select = -1;
        std::u16string in(c.in);
        EXPECT_EQ(process(in), std::u16string(c.out)) << std::string(in.begin(), in.end());
        EXPECT_EQ(stmt->found_param_count, c.markers) << std::string(in.begin(), in.end());
        EXPECT_EQ(stmt->is_select, c.is_select) << std::string(in.begin(), in.end());
    }
}

TEST_F(ProcessSql, SessionModeDecidesBackslashes)
{
    const std::u16string in = u"select 'C:\\', ?";
    process(in);
    EXPECT_EQ(stmt->found_param_count, 0);   // the literal runs to the end
    conn->server_status = 0x200;             // NO_BACKSLASH_ESCAPES
    process(in);
    EXPECT_EQ(stmt->found_param_count, 1);
}

TEST_F(ProcessSql, EmptyOutputIsEmptyString)
{
    my_string *src = text16(u" ; ");
    my_string *out = my_process_sql(stmt, src);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->length, 0u);
    EXPECT_EQ(out->data, nullptr);
    ms_free(out);
    out = my_process_sql(stmt, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->length, 0u);
    ms_free(out);
    ms_free(src);
}

// The trace lines carry the verb, the keyword positions and the count.
TEST_F(ProcessSql, TraceLine)
{
    char path[] = "/tmp/qv_sql_traceXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    snprintf(conn->LogFile, sizeof conn->LogFile, "%s", path);
    stmt->hdr.log_flags = conn->hdr.log_flags = LOG_DETAIL;

    process(u"select (select x from y) from t where b = ? group by c");
    stmt->hdr.log_flags = conn->hdr.log_flags = 0;
    std::ifstream f(path);
    std::stringstream all;
    all << f.rdbuf();
    unlink(path);
    const std::string log = all.str();
    EXPECT_NE(log.find("at start of my_process_sql input string 'select (select x"), std::string::npos)
        << log;
    EXPECT_NE(log.find("initial verb 'select', from_offset=24, where_offset=31, into_offset=-1, "
                       "set_offset=-1, group_offset=43, order_offset=-1, values_offset=-1, "
                       "into_offset=-1"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("parameter count=1"), std::string::npos) << log;
}

// ------------------------------------------------------- command builders

using Builders = stmt_fixture;

namespace {

// Stand-in literal writers: "<n>" for parameter n, or a failure at one number.
int fake_literal(my_statement *, my_packet *p, int number)
{
    char buf[16];
    int n = snprintf(buf, sizeof buf, "<%d>", number);
    return packet_put_bytes(p, buf, (size_t)n) == 0 ? 0 : -1;
}

int failing_second(my_statement *s, my_packet *p, int number)
{
    if (number == 2) {
        post_error_col(s, ST_22003, 0, number, nullptr);
        return -1;
    }
    return fake_literal(s, p, number);
}

struct exec_case {
    const char16_t *sql;
    std::string bytes;   // payload after the command byte
};

} // namespace

TEST_F(Builders, ExecStringWithoutMarkersEndsInZero)
{
    const exec_case cases[] = {
        {u"  select 1 ;; ", std::string("select 1 \0", 10)},
        {u"select 'caf\u00e9 \U0001F600'", std::string("select 'caf\xC3\xA9 \xF0\x9F\x98\x80'\0", 20)},
        {u"select '?', [?] -- ?", std::string("select '?', [?] -- ?\0", 21)},
        {u"", std::string("\0", 1)},
    };
    for (const exec_case &c : cases) {
        my_string *src = text16(c.sql);
        my_string *sql = my_process_sql(stmt, src);
        stmt->seq = 9;
        my_packet *p = create_exec_string(stmt, sql);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(payload(p), "\x03" + c.bytes);
        EXPECT_EQ(p->seq, 0);
        packet_free(p);
        ms_free(sql);
        ms_free(src);
    }
}

TEST_F(Builders, ExecStringLatin1Wire)
{
    conn->charset = 8;
    my_string *sql = text16(u"select '\u00e9'");
    stmt->found_param_count = 0;
    my_packet *p = create_exec_string(stmt, sql);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(payload(p), std::string("\x03select '\xE9'\0", 12));
    packet_free(p);
    ms_free(sql);
}

// Markers are replaced where the scanner found them, the text between them
// goes out unchanged, and no zero byte follows.
TEST_F(Builders, ExecStringSubstitutesOnlyRealMarkers)
{
    const exec_case cases[] = {
        {u"insert into t values ('what?', ?)", "insert into t values ('what?', <1>)"},
        {u"select 'it''s?', ?", "select 'it''s?', <1>"},
        {u"select [a?], ? -- ?\n, ?", "select [a?], <1> -- ?\n, <2>"},
        {u"select `x?` # ?\n, ?", "select `x?` # ?\n, <1>"},
        {u"select /* ? */ ?, /*!50000 ? */", "select /* ? */ <1>, /*!50000 <2> */"},
        {u"select 'a\\'?', ?", "select 'a\\'?', <1>"},
        {u"{call p(?, ?)}", "{call p(<1>, <2>)}"},
        {u"?", "<1>"},
        {u"select ?\u00e9?", "select <1>\xC3\xA9<2>"},
    };
    for (const exec_case &c : cases) {
        my_string *src = text16(c.sql);
        my_string *sql = my_process_sql(stmt, src);
        stmt->seq = 3;
        my_packet *p = build_exec_string(stmt, sql, fake_literal);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(payload(p), "\x03" + c.bytes);
        EXPECT_EQ(p->seq, 0);
        packet_free(p);
        ms_free(sql);
        ms_free(src);
    }
}

TEST_F(Builders, ExecStringFollowsNoBackslashEscapes)
{
    conn->server_status = 0x200;
    my_string *src = text16(u"select 'C:\\', ?");
    my_string *sql = my_process_sql(stmt, src);
    ASSERT_EQ(stmt->found_param_count, 1);
    my_packet *p = build_exec_string(stmt, sql, fake_literal);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(payload(p), "\x03select 'C:\\', <1>");
    packet_free(p);
    ms_free(sql);
    ms_free(src);
}

TEST_F(Builders, ExecStringFailures)
{
    my_string *sql = text16(u"select ?, ?, ?");
    stmt->found_param_count = 3;

    // A failing conversion abandons the packet; its diagnostic is the only one.
    EXPECT_EQ(build_exec_string(stmt, sql, failing_second), nullptr);
    ASSERT_EQ(diag_count(stmt), 1);
    EXPECT_EQ(diag_state(1), "22003");
    EXPECT_EQ(diag_get(stmt, 1)->column_number, 2);

    // More markers than were counted (the session's quoting changed since):
    // the extra marker's parameter is never read.
    clear_diagnostics(stmt);
    stmt->found_param_count = 2;
    EXPECT_EQ(build_exec_string(stmt, sql, fake_literal), nullptr);
    ASSERT_EQ(diag_count(stmt), 1);
    EXPECT_EQ(diag_state(1), "07002");
    EXPECT_EQ(diag_get(stmt, 1)->column_number, 3);

    // The real converter: whatever it posts stays the only diagnostic.
    clear_diagnostics(stmt);
    stmt->found_param_count = 3;
    EXPECT_EQ(create_exec_string(stmt, sql), nullptr);
    EXPECT_EQ(diag_count(stmt), 1);
    EXPECT_EQ(diag_get(stmt, 1)->column_number, 1);
    ms_free(sql);
}

TEST_F(Builders, ExecuteHeader)
{
    stmt->statement_id = 0x04030201;
    stmt->found_param_count = 0;
    stmt->seq = 5;
    my_packet *p = create_execute(stmt);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(payload(p), std::string("\x17\x01\x02\x03\x04\x00\x01\x00\x00\x00", 10));
    EXPECT_EQ(p->seq, 0);
    packet_free(p);
}

TEST_F(Builders, ExecuteWithParametersNeedsTheBlock)
{
    stmt->statement_id = 7;
    stmt->found_param_count = 1;
    EXPECT_EQ(create_execute(stmt), nullptr);   // the block writer's failure ends it
    EXPECT_EQ(diag_count(stmt), 1);

    clear_diagnostics(stmt);
    stmt->found_param_count = 0;
    stmt->ipd->described_count = 2;             // described parameters also need it
    EXPECT_EQ(create_execute(stmt), nullptr);
    EXPECT_EQ(diag_count(stmt), 1);
    stmt->ipd->described_count = 0;
}

TEST_F(Builders, ExecuteUnderTextPrepareSendsTheQuery)
{
    conn->Text_Prepare = 1;
    my_string *src = text16(u"select 1;");
    stmt->sql_text = my_process_sql(stmt, src);
    ms_free(src);
    stmt->statement_id = 7;
    stmt->seq = 2;
    my_packet *p = create_execute(stmt);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(payload(p), std::string("\x03select 1\0", 10));
    EXPECT_EQ(p->seq, 0);
    packet_free(p);
    ms_free(stmt->sql_text);
    stmt->sql_text = nullptr;
}

TEST_F(Builders, CloseAndReset)
{
    stmt->statement_id = 0xA1B2C3D4;
    struct {
        my_packet *(*build)(my_statement *);
        std::string bytes;
    } cases[] = {
        {create_close, std::string("\x19\xD4\xC3\xB2\xA1", 5)},
        {create_reset, std::string("\x1A\xD4\xC3\xB2\xA1", 5)},
    };
    for (auto &c : cases) {
        stmt->seq = 4;
        my_packet *p = c.build(stmt);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(payload(p), c.bytes);
        EXPECT_EQ(p->seq, 0);
        EXPECT_EQ(p->owner, stmt);
        packet_free(p);
    }
}

// ----------------------------------------------------------- LOCAL INFILE

namespace {

struct infile_case {
    const char *sql;   // bytes of the wire text
    int flags;
    std::vector<std::string> names;
};

std::vector<std::string> infile_names(const std::string &sql, int flags)
{
    std::vector<std::string> names;
    sql_local_infile_names(reinterpret_cast<const unsigned char *>(sql.data()), sql.size(), flags,
                           &names);
    return names;
}

int literal_path(my_statement *, my_packet *p, int)
{
    static const char lit[] = "'/tmp/it''s \\\\ here'";
    return packet_put_bytes(p, lit, sizeof lit - 1);
}

} // namespace

// Only a statement's own LOAD ... LOCAL INFILE names a file, read the way the
// server reads the literal.
TEST(LocalInfileNames, AsTheServerReadsThem)
{
    using v = std::vector<std::string>;
    const infile_case cases[] = {
        {"LOAD DATA LOCAL INFILE '/tmp/a.csv' INTO TABLE t", 0, v{"/tmp/a.csv"}},
        {"load Data local InFile '/tmp/a' into table t", 0, v{"/tmp/a"}},
        {"LOAD/* x */DATA -- y\n\tLOCAL #z\n INFILE\n'/tmp/a'", 0, v{"/tmp/a"}},
        {"LOAD DATA LOW_PRIORITY LOCAL INFILE '/tmp/a'", 0, v{"/tmp/a"}},
        {"LOAD DATA CONCURRENT LOCAL INFILE'/tmp/a'", 0, v{"/tmp/a"}},
        {"LOAD XML LOCAL INFILE '/tmp/x.xml' INTO TABLE t", 0, v{"/tmp/x.xml"}},
        {"LOAD DATA /*!50000 LOCAL */ INFILE '/tmp/e'", 0, v{"/tmp/e"}},
        {"LOAD DATA LOCAL INFILE \"/tmp/q\"", 0, v{"/tmp/q"}},
        {"LOAD DATA LOCAL INFILE '/tmp/\xC3\xA9.csv'", 0, v{"/tmp/\xC3\xA9.csv"}},
        // the server's unquoting
        {"LOAD DATA LOCAL INFILE 'C:\\\\d\\\\it''s\\'.csv'", 0, v{"C:\\d\\it's'.csv"}},
        {"LOAD DATA LOCAL INFILE 'a\\nb\\tc\\%d\\_e\\qf'", 0, v{"a\nb\tc\\%d\\_eqf"}},
        {"LOAD DATA LOCAL INFILE 'C:\\data'", NBE, v{"C:\\data"}},
        // several statements: each one's head
        {"SELECT 1; LOAD DATA LOCAL INFILE '/tmp/b' INTO TABLE t", 0, v{"/tmp/b"}},
        {"LOAD DATA LOCAL INFILE 'a' INTO TABLE t;LOAD XML LOCAL INFILE 'b' INTO TABLE u", 0,
         v{"a", "b"}},
        // no file of the client's
        {"LOAD DATA INFILE '/srv/a' INTO TABLE t", 0, v{}},
        {"SELECT 'LOAD DATA LOCAL INFILE ''/etc/passwd'''", 0, v{}},
        {"/* LOAD DATA LOCAL INFILE '/etc/passwd' */ SELECT 1", 0, v{}},
        {"SELECT 1 -- ; LOAD DATA LOCAL INFILE '/etc/passwd'", 0, v{}},
        {"SELECT 1, LOAD DATA LOCAL INFILE '/etc/passwd'", 0, v{}},
        {"LOADDATA LOCAL INFILE '/etc/passwd'", 0, v{}},
        {"LOAD DATA LOCAL LOCAL INFILE '/etc/passwd'", 0, v{}},
        {"LOAD DATA LOCAL INFILE `/etc/passwd`", 0, v{}},
        {"LOAD DATA LOCAL INFILE \"/etc/passwd\"", ANSI, v{}},
        {"LOAD DATA LOCAL INFILE ?", 0, v{}},
        {"DO 'LOAD DATA LOCAL INFILE", 0, v{}},
    };
    for (const infile_case &c : cases)
        EXPECT_EQ(infile_names(c.sql, c.flags), c.names) << c.sql;
}

TEST_F(ProcessSql, CountsLocalInfileStatements)
{
    const struct {
        const char16_t *sql;
        int count;
    } cases[] = {
        {u"LOAD DATA LOCAL INFILE '/tmp/a' INTO TABLE t", 1},
        {u"  load data local infile ? into table t ;", 1},
        {u"select 1; LOAD XML LOCAL INFILE 'x' INTO TABLE t; LOAD DATA LOCAL INFILE 'y' INTO "
         u"TABLE u",
         2},
        {u"LOAD DATA INFILE '/srv/a' INTO TABLE t", 0},
        {u"select 'LOAD DATA LOCAL INFILE ''x'''", 0},
    };
    for (const auto &c : cases) {
        std::u16string in(c.sql);
        process(in);
        EXPECT_EQ(stmt->local_infile_statements, c.count) << std::string(in.begin(), in.end());
    }
}

// The names come from the text that goes out, parameter values in place;
// the driver's own statements and LocalInfile=0 get none.
TEST_F(Builders, LocalInfileFilesFollowTheSentText)
{
    my_string *src = text16(u"LOAD DATA LOCAL INFILE ? INTO TABLE t; "
                            u"LOAD DATA LOCAL INFILE '/tmp/b' INTO TABLE u");
    my_string *sql = my_process_sql(stmt, src);
    ASSERT_EQ(stmt->local_infile_statements, 2);
    my_packet *p = build_exec_string(stmt, sql, literal_path);
    ASSERT_NE(p, nullptr);
    struct {
        const char *name;
        int driver_own, local_infile;
        std::vector<std::string> files;
    } cases[] = {
        {"application", 0, 1, {"/tmp/it's \\ here", "/tmp/b"}},
        {"driver's own", 1, 1, {}},
        {"LocalInfile=0", 0, 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        stmt->driver_own = c.driver_own;
        conn->LocalInfile = c.local_infile;
        stmt->local_infile_files = {"stale"};
        EXPECT_EQ(allow_local_infile(stmt, p), 0);
        EXPECT_EQ(stmt->local_infile_files, c.files);
    }
    packet_free(p);
    ms_free(sql);
    ms_free(src);
}
