// Trace log: formatter conversions, line selection, destinations, the
// in-memory ring with its dump on an ERROR line, per-process file names, hex
// dumps, and whole lines under concurrent writers.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frame/my_handle.h"

namespace {

std::string fmt(const char *f, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, f);
    qv_vformat(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct trace_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    std::string path;
    void SetUp() override
    {
        char tmpl[] = "/tmp/qvtraceXXXXXX";
        int fd = mkstemp(tmpl);
        close(fd);
        unlink(tmpl);
        path = tmpl;
        snprintf(conn->LogFile, sizeof conn->LogFile, "%s", path.c_str());
    }
    void TearDown() override
    {
        unlink(path.c_str());
        env_release(env);
    }
};

size_t count(const std::string &hay, const std::string &needle)
{
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1))
        n++;
    return n;
}

} // namespace

TEST(trace_format, Conversions)
{
    my_string *s = ms_from_latin1("abc");
    uint16_t w[] = {'h', 0xE9, 0};
    struct {
        std::string got, want;
    } cases[] = {
        {fmt("%q", (const char *)nullptr, (int64_t)SQL_NTS), "(nul)[SQL_NTS]"},
        {fmt("%q", "abc", (int64_t)SQL_NTS), "'abc'[SQL_NTS]"},
        {fmt("%q", "abcdef", (int64_t)3), "'abc'[3]"},
        {fmt("%q", "\xE9", (int64_t)1), "'\\xE9'[1]"},
        {fmt("%Q", w, (int64_t)SQL_NTS), "'h\\x00E9'[SQL_NTS]"},
        {fmt("%Q", (const uint16_t *)nullptr, (int64_t)5), "(nul)[5]"},
        {fmt("%S", s), "abc"},
        {fmt("%S", (my_string *)nullptr), "(nul)"},
        {fmt("%r", 0), "SQL_SUCCESS"},
        {fmt("%r", 1), "SQL_SUCCESS_WITH_INFO"},
        {fmt("%r", 100), "SQL_NO_DATA"},
        {fmt("%r", 101), "SQL_PARAM_DATA_AVAILABLE"},
        {fmt("%r", -1), "SQL_ERROR"},
        {fmt("%r", 2), "2"},
        {fmt("%d %u %l %x %X %c", -5, 7u, -((int64_t)1 << 40), 255u, 255u, 'z'),
         "-5 7 -1099511627776 ff FF z"},
        {fmt("%s", "a\xFFz"), "a\\xFFz"},
    };
    for (auto &c : cases)
        EXPECT_EQ(c.got, c.want);
    ms_free(s);

    // running out of space ends with "..." and never overruns
    char small[30];
    std::string big(100, 'x');
    qv_format(small, sizeof small, "%s%s", big.c_str(), big.c_str());
    EXPECT_LT(strlen(small), sizeof small);
    EXPECT_NE(std::string(small).find("..."), std::string::npos);
    qv_format(small, sizeof small, "%q", big.c_str(), (int64_t)SQL_NTS);
    EXPECT_LT(strlen(small), sizeof small);
}

TEST_F(trace_fixture, NothingFormattedWhenOff)
{
    conn->hdr.log_flags = 0;
    int evaluated = 0;
    auto side = [&] { return ++evaluated; };
    QV_TRACE(conn, LOG_ERROR, "%d", side());
    EXPECT_EQ(evaluated, 0);
    EXPECT_TRUE(slurp(path).empty());
}

TEST_F(trace_fixture, MaskSelectsLines)
{
    conn->hdr.log_flags = LOG_ERROR;   // Logging=8
    QV_TRACE(conn, LOG_ENTRY, "entry line");
    QV_TRACE(conn, LOG_DETAIL, "detail line");
    QV_TRACE(conn, LOG_CONTINUE, "continued");
    QV_TRACE(conn, LOG_ERROR, "error line");
    std::string out = slurp(path);
    EXPECT_EQ(out.find("entry line"), std::string::npos);
    EXPECT_EQ(out.find("detail line"), std::string::npos);
    EXPECT_EQ(out.find("continued"), std::string::npos);
    EXPECT_NE(out.find("ERROR:\t error line\n\r"), std::string::npos);
    EXPECT_NE(out.find("QVSQLODBC:[TID="), std::string::npos);
    EXPECT_NE(out.find("[test_trace.cpp:"), std::string::npos);
    EXPECT_NE(out.find("(CONN)]"), std::string::npos);

    conn->hdr.log_flags = LOG_DETAIL;
    QV_TRACE(conn, LOG_CONTINUE, "more");
    EXPECT_NE(slurp(path).find("]+\t more"), std::string::npos);
}

TEST_F(trace_fixture, OnErrorDumpsTheRing)
{
    conn->hdr.log_flags = parse_logging_value("onerror", LOGWORDS_CONNSTR);
    ASSERT_EQ(conn->hdr.log_flags, 95u);
    QV_TRACE(conn, LOG_DETAIL, "stored one");
    QV_TRACE(conn, LOG_ENTRY, "stored two");
    EXPECT_TRUE(slurp(path).empty());   // nothing written yet
    QV_TRACE(conn, LOG_ERROR, "the failure");
    std::string out = slurp(path);
    std::string stars(100, '*');
    std::string start = "*   Start of log dump" + std::string(78, ' ') + "*";
    std::string end = "*   End of log dump" + std::string(80, ' ') + "*";
    size_t a = out.find(start), b = out.find("stored one"), c = out.find("stored two"),
           d = out.find("the failure"), e = out.find(end);
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(e, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_LT(c, d);
    EXPECT_LT(d, e);
    EXPECT_EQ(count(out, stars + "\n"), 4u);
    // the ring was emptied by the dump
    QV_TRACE(conn, LOG_ERROR, "second failure");
    std::string again = slurp(path);
    EXPECT_EQ(count(again, "stored one"), 1u);
    EXPECT_EQ(count(again, "second failure"), 1u);
}

// Two connections log in memory into the same file: an error on one dumps
// its own lines (its statements' included) and never the other's SQL.
TEST_F(trace_fixture, OnErrorDumpsOnlyTheFailingConnectionsLines)
{
    my_connection *other = conn_create(env, 3);
    snprintf(other->LogFile, sizeof other->LogFile, "%s", path.c_str());
    conn->hdr.log_flags = other->hdr.log_flags = parse_logging_value("onerror", LOGWORDS_CONNSTR);
    my_statement *mine = stmt_create(conn);
    my_statement *theirs = stmt_create(other);
    QV_TRACE(mine, LOG_DETAIL, "sql: 'SELECT my_secret'");
    QV_TRACE(theirs, LOG_DETAIL, "sql: 'SELECT their_secret'");
    QV_TRACE(other, LOG_DETAIL, "their connection line");
    QV_TRACE(mine, LOG_ERROR, "my failure");
    std::string out = slurp(path);
    EXPECT_NE(out.find("SELECT my_secret"), std::string::npos);
    EXPECT_NE(out.find("my failure"), std::string::npos);
    EXPECT_EQ(out.find("their_secret"), std::string::npos);
    EXPECT_EQ(out.find("their connection line"), std::string::npos);

    QV_TRACE(theirs, LOG_ERROR, "their failure");
    std::string both = slurp(path);
    EXPECT_EQ(count(both, "SELECT my_secret"), 1u);
    EXPECT_EQ(count(both, "their_secret"), 1u);
    EXPECT_LT(both.find("their_secret"), both.find("their failure"));
    EXPECT_GT(both.find("their_secret"), both.find("my failure"));
}

// A connection's ring holds a bounded history: the newest lines up to
// TRACE_RING_BYTES; released connections take theirs with them (the
// sanitizer tree's leak check).
TEST_F(trace_fixture, OnErrorRingIsBounded)
{
    conn->hdr.log_flags = parse_logging_value("onerror", LOGWORDS_CONNSTR);
    const std::string filler(1000, 'f');
    const int lines = 2 * TRACE_RING_BYTES / 1000;
    for (int i = 0; i < lines; i++)
        QV_TRACE(conn, LOG_DETAIL, "line %d %s", i, filler.c_str());
    QV_TRACE(conn, LOG_ERROR, "the failure");
    std::string out = slurp(path);
    EXPECT_LE(out.size(), (size_t)TRACE_RING_BYTES + 4096);
    EXPECT_GT(out.size(), (size_t)TRACE_RING_BYTES / 2);
    EXPECT_EQ(out.find("line 0 "), std::string::npos);
    EXPECT_NE(out.find("line " + std::to_string(lines - 1) + " "), std::string::npos);
    EXPECT_NE(out.find("the failure"), std::string::npos);

    my_connection *quiet = conn_create(env, 3);
    quiet->hdr.log_flags = conn->hdr.log_flags;
    QV_TRACE(quiet, LOG_DETAIL, "never dumped");
    EXPECT_NE(quiet->ring, nullptr);
    conn_release(quiet, 0);
}

TEST_F(trace_fixture, ProcessFileNames)
{
    conn->hdr.log_flags = parse_logging_value("process", LOGWORDS_CONNSTR);
    ASSERT_EQ(conn->hdr.log_flags, 63u);
    QV_TRACE(conn, LOG_DETAIL, "per process");
    char name[512];
    snprintf(name, sizeof name, "%s.%08X.%08X", path.c_str(), (unsigned)getpid(),
             (unsigned)syscall(SYS_gettid));
    EXPECT_NE(slurp(name).find("per process"), std::string::npos);
    EXPECT_TRUE(slurp(path).empty());
    unlink(name);
}

TEST(trace_words, LoggingValues)
{
    struct {
        const char *v;
        int words;
        uint32_t want;
    } cases[] = {
        {"yes", LOGWORDS_CONNSTR, 31}, {"TRUE", LOGWORDS_CONNSTR, 31}, {"On", LOGWORDS_DSN_CONNECT, 31},
        {"onerror", LOGWORDS_CONNSTR, 95}, {"onerror", LOGWORDS_DSN_COMPLETE, 0},
        {"error", LOGWORDS_CONNSTR, 0}, {"error", LOGWORDS_DSN_COMPLETE, 95},
        {"process", LOGWORDS_DSN_COMPLETE, 63}, {"off", LOGWORDS_CONNSTR, 0},
        {"0x1F", LOGWORDS_CONNSTR, 31}, {"010", LOGWORDS_CONNSTR, 8}, {"12", LOGWORDS_CONNSTR, 12},
    };
    for (auto &c : cases)
        EXPECT_EQ(parse_logging_value(c.v, c.words), c.want) << c.v << " " << c.words;
}

TEST_F(trace_fixture, HexDumpLayout)
{
    conn->hdr.log_flags = LOG_PKTDUMP | LOG_DETAIL;
    unsigned char bytes[20];
    for (int i = 0; i < 20; i++)
        bytes[i] = (unsigned char)('A' + i);
    bytes[3] = 0x01;
    QV_DUMP(conn, LOG_DETAIL, bytes, 20, "dump of %d", 20);
    std::string out = slurp(path);
    std::string row1 = "41 42 43 01 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50   ABC.EFGHIJKLMNOP\n\r";
    std::string row2 = "51 52 53 54 " + std::string(12 * 3, ' ') + "  QRST\n\r";
    EXPECT_NE(out.find("dump of 20\n\r\n\r          " + row1), std::string::npos) << out;
    EXPECT_NE(out.find("          " + row2 + "\n\r"), std::string::npos) << out;

    // wire dumps start with "\n\n"
    unlink(path.c_str());
    QV_DUMP_WIRE(conn, LOG_DETAIL, bytes, (size_t)4, "wire");
    EXPECT_NE(slurp(path).find("wire\n\r\n\n          41 42 43 01 "), std::string::npos);
}

TEST_F(trace_fixture, LinesFromThreadsNeverInterleave)
{
    conn->hdr.log_flags = LOG_DETAIL;
    const int per_thread = 300;
    std::string payload(200, 'p');
    auto writer = [&](char tag) {
        for (int i = 0; i < per_thread; i++)
            QV_TRACE(conn, LOG_DETAIL, "%c<%s>%c", tag, payload.c_str(), tag);
    };
    std::thread t1(writer, 'a'), t2(writer, 'b');
    t1.join();
    t2.join();
    std::string out = slurp(path);
    EXPECT_EQ(count(out, "a<" + payload + ">a\n\r"), (size_t)per_thread);
    EXPECT_EQ(count(out, "b<" + payload + ">b\n\r"), (size_t)per_thread);
    EXPECT_EQ(count(out, "QVSQLODBC:"), (size_t)2 * per_thread);
}
