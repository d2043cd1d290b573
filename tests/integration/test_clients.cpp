// unixODBC's own command-line clients on the private DSN: isql talks to the
// driver through the narrow calls, iusql through the wide ones.  Text in
// several scripts, a character outside the BMP included, must come out as
// the UTF-8 it was sent as.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/qv_support.h"

namespace {

// "Grüße, мир, 漢字 😀" in UTF-8 (28 bytes, 16 characters).
const std::string TEXT = "Gr\xC3\xBC\xC3\x9F" "e, \xD0\xBC\xD0\xB8\xD1\x80, "
                         "\xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9F\x98\x80";

std::string shell_quote(const std::string &s)
{
    std::string out = "'";
    for (char ch : s)
        out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return out + "'";
}

bool on_path(const char *tool)
{
    std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return system(cmd.c_str()) == 0;
}

// Under the sanitizers the driver needs their runtime loaded first in the
// client.  The client's own faults are not the driver's: its leaks, and
// iusql's overlapping strncpy, which the string checks would stop (the
// driver's own are caught by the tests that load it in process).
std::string client_environment()
{
#ifdef QV_ASAN_RUNTIME
    return "LD_PRELOAD=" + shell_quote(QV_ASAN_RUNTIME) + " ASAN_OPTIONS=detect_leaks=0:replace_str=0 ";
#else
    return "";
#endif
}

struct run_result {
    int status = -1;
    std::string output;   // stdout and stderr
};

// Runs `tool -b -v [options] DSN USER PASSWORD` with sql on its standard input;
// with logon_from_dsn, `tool -b -v [options] DSN`, the user and password
// coming from the DSN named dsn.
run_result run_client(const char *tool, const std::string &options, const std::string &sql,
                      bool logon_from_dsn = false, const std::string &dsn = std::string())
{
    const qv::server_info &s = qv::server();
    char path[] = "/tmp/qv_client_sql_XXXXXX";
    int fd = mkstemp(path);
    run_result r;
    if (fd < 0)
        return r;
    std::string line = sql + "\n";
    bool written = write(fd, line.data(), line.size()) == (ssize_t)line.size();
    close(fd);
    if (written) {
        std::string logon = logon_from_dsn ? shell_quote(dsn)
                                           : shell_quote(s.dsn) + " " + shell_quote(s.user) +
                                                 " " + shell_quote(s.password);
        std::string cmd = client_environment() + tool + " -b -v " + options + " " + logon + " <" +
                          path + " 2>&1";
        if (FILE *p = popen(cmd.c_str(), "r")) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, p)) > 0)
                r.output.append(buf, n);
            int st = pclose(p);
            r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        }
    }
    unlink(path);
    return r;
}

struct client_case {
    const char *tool;
    const char *options;
    const char *sql_value;   // the selected expression, TEXT in place of %s
    std::string expected;    // a line the output must contain
};

TEST(Clients, IsqlAndIusqlPrintTextOfEveryScript)
{
    if (!on_path("isql") || !on_path("iusql"))
        GTEST_SKIP() << "unixODBC's isql and iusql are not installed";

    const std::string literal = "'" + TEXT + "'";
    // Table mode pads to the display size, which counts characters while
    // isql pads and cuts bytes: its column is made wide enough for the
    // UTF-8 bytes.  iusql counts characters, as the driver does.
    const client_case cases[] = {
        {"isql", "-d'|'", nullptr, TEXT + "|42"},
        {"iusql", "-d'|'", nullptr, TEXT + "|42"},
        {"isql", "", "CAST(%s AS CHAR(40))", "| " + TEXT + std::string(40 - TEXT.size(), ' ')},
        {"iusql", "", nullptr, "| " + TEXT + "|"},
    };
    for (const client_case &t : cases) {
        std::string value = literal;
        if (t.sql_value) {
            value = t.sql_value;
            value.replace(value.find("%s"), 2, literal);
        }
        std::string sql = "SELECT " + value + " AS t, 42 AS n";
        SCOPED_TRACE(std::string(t.tool) + " " + t.options + ": " + sql);
        run_result r = run_client(t.tool, t.options, sql);
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output.find("[ISQL]ERROR"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(t.expected), std::string::npos)
            << "expected a line with \"" << t.expected << "\" in:\n"
            << r.output;
        if (!*t.options) {   // the table mode counts the rows
            EXPECT_NE(r.output.find("1 rows fetched"), std::string::npos) << r.output;
        }
    }
}

// isql and iusql log on with what the DSN holds, written as User/Password
// or as UID/PWD.
TEST(Clients, IsqlAndIusqlLogOnThroughEitherDsnSpelling)
{
    if (!on_path("isql") || !on_path("iusql"))
        GTEST_SKIP() << "unixODBC's isql and iusql are not installed";
    const qv::server_info &s = qv::server();
    for (const char *tool : {"isql", "iusql"})
        for (const std::string &dsn : {s.dsn, s.dsn + "_uid"}) {
            SCOPED_TRACE(std::string(tool) + " " + dsn);
            run_result r = run_client(tool, "-d'|'", "SELECT USER(), DATABASE()", true, dsn);
            EXPECT_EQ(r.status, 0) << r.output;
            EXPECT_NE(r.output.find(s.user + "@"), std::string::npos) << r.output;
            EXPECT_NE(r.output.find("|" + s.database), std::string::npos) << r.output;
        }
}

} // namespace
