// Kerberos for real: the driver logs on to the fixture's MariaDB through its
// GSSAPI plugin (auth_gssapi_client) with a ticket that kinit got from a
// throwaway MIT KDC (tests/fixtures/kdc_start.sh: realm, principals and
// keytabs under the build tree, loopback only, a private krb5.conf).
//
// The server reads its service keytab from the path its options name
// (tests/CMakeLists.txt); the plugin is installed here, once per server.
// Each test runs in a process of its own with its own credential cache.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>

#include "support/qv_support.h"

namespace {

const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";

std::map<std::string, std::string> read_env(const char *path)
{
    std::map<std::string, std::string> m;
    std::ifstream f(path ? path : "");
    std::string line;
    while (std::getline(f, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
}

class Kerberos : public ::testing::Test {
protected:
    static std::map<std::string, std::string> kdc;
    static std::string cache;

    static void SetUpTestSuite()
    {
        kdc = read_env(getenv("QV_KDC_ENV"));
        ASSERT_FALSE(kdc["QV_KRB5_CONFIG"].empty()) << "no KDC: run through ctest (fixture kdc)";
        // the driver's GSS-API reads these from this process's environment
        setenv("KRB5_CONFIG", kdc["QV_KRB5_CONFIG"].c_str(), 1);
        cache = kdc["QV_KRB5_CONFIG"] + ".cc." + std::to_string(getpid());
        setenv("KRB5CCNAME", ("FILE:" + cache).c_str(), 1);

        auto installed = qv::server_rows(
            "SELECT COUNT(*) FROM information_schema.plugins WHERE plugin_name = 'gssapi'");
        if (installed.empty() || installed[0][0] == "0") {
            qv::sql_result r = qv::server_sql("INSTALL SONAME 'auth_gssapi'");
            ASSERT_EQ(r.status, 0) << r.output;
        }
        const std::string user = kdc["QV_KRB_USER"], realm = kdc["QV_KRB_REALM"];
        qv::sql_result r = qv::server_sql(
            "CREATE OR REPLACE USER '" + user + "'@'%' IDENTIFIED VIA gssapi USING '" + user + "@" +
            realm + "';" + "GRANT SELECT ON `" + qv::server().database + "`.* TO '" + user + "'@'%';");
        ASSERT_EQ(r.status, 0) << r.output;
    }
    static void TearDownTestSuite() { unlink(cache.c_str()); }

    void TearDown() override { unlink(cache.c_str()); }

    // kinit from a keytab into this process's cache (principal: the
    // QV_KRB_USER or QV_KRB_OTHER entry).
    static void kinit(const std::string &who)
    {
        std::string cmd = "kinit -k -t '" + kdc[who + "_KEYTAB"] + "' '" + kdc[who] + "@" +
                          kdc["QV_KRB_REALM"] + "' 2>&1";
        FILE *p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string out;
        char buf[256];
        while (fgets(buf, sizeof buf, p))
            out += buf;
        ASSERT_EQ(pclose(p), 0) << cmd << "\n" << out;
    }

    static std::string conn(const std::string &extra = "")
    {
        const qv::server_info &s = qv::server();
        return "DRIVER={" + s.driver_name + "};SERVER=127.0.0.1;PORT=" + std::to_string(s.port) +
               ";UID=" + kdc["QV_KRB_USER"] + ";DATABASE=" + s.database + ";" + extra;
    }
};

std::map<std::string, std::string> Kerberos::kdc;
std::string Kerberos::cache;

std::string current_user(qv::connection &c)
{
    qv::handle st = qv::alloc_stmt(c.dbc);
    if (!st || !SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR *)"SELECT CURRENT_USER()", SQL_NTS)) ||
        SQLFetch(st) != SQL_SUCCESS)
        return "";
    char user[128] = {0};
    SQLLEN ind = 0;
    SQLGetData(st, 1, SQL_C_CHAR, user, sizeof user, &ind);
    return user;
}

// The server names its principal in the switch; a Principal setting is
// replaced by it, so both forms log on.
TEST_F(Kerberos, LogsOnWithATicket)
{
    kinit("QV_KRB_USER");
    for (const std::string &extra : {std::string(), "Principal=" + kdc["QV_KRB_SERVICE"] + ";"}) {
        SCOPED_TRACE(extra.empty() ? "no Principal" : extra);
        qv::connection c;
        QV_ASSERT_SUCCEEDED(c.connect(conn(extra)), c.dbc);
        EXPECT_EQ(current_user(c), kdc["QV_KRB_USER"] + "@%");
    }
}

TEST_F(Kerberos, NoTicketFailsNamingThePrincipal)
{
    qv::connection c;
    EXPECT_EQ(c.connect(conn()), SQL_ERROR);
    auto d = qv::diagnostics(c.dbc);
    ASSERT_FALSE(d.empty());
    bool named = false;
    for (const auto &r : d) {
        EXPECT_EQ(r.sqlstate, "08001") << qv::describe(d);
        named |= r.text.find("Unable to obtain Kerberos token for principal '" +
                             kdc["QV_KRB_SERVICE"] + "'") != std::string::npos;
    }
    EXPECT_TRUE(named) << qv::describe(d);
}

// A good ticket for another principal: the server refuses (28000), and its
// text reaches the application.
TEST_F(Kerberos, TicketOfAnotherPrincipalIsRefusedByTheServer)
{
    kinit("QV_KRB_OTHER");
    qv::connection c;
    EXPECT_EQ(c.connect(conn()), SQL_ERROR);
    auto d = qv::diagnostics(c.dbc);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].sqlstate, "28000") << qv::describe(d);
    EXPECT_EQ(d[0].native, 1045);
    const std::string realm = "@" + kdc["QV_KRB_REALM"];
    EXPECT_EQ(d[0].text, PREFIX + "GSSAPI name mismatch, requested '" + kdc["QV_KRB_USER"] + realm +
                             "', actual name '" + kdc["QV_KRB_OTHER"] + realm + "'");
}

} // namespace
