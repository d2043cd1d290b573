// The private test server the CTest fixture starts: it greets over TCP on
// the advertised port, offers TLS, has LOCAL INFILE on, and its test user and
// database are set up the way later tests rely on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

// The greeting's fixed-layout fields (protocol version 10).
struct greeting {
    uint8_t protocol = 0;
    std::string version;
    uint32_t capabilities_low = 0;
};

bool parse_greeting(const std::vector<uint8_t> &p, greeting &g)
{
    if (p.empty())
        return false;
    g.protocol = p[0];
    size_t nul = 1;
    while (nul < p.size() && p[nul] != 0)
        nul++;
    if (nul >= p.size())
        return false;
    g.version.assign(p.begin() + 1, p.begin() + static_cast<long>(nul));
    // version NUL, thread id (4), scramble part 1 (8), filler (1), then the
    // lower two bytes of the capability flags.
    size_t caps = nul + 1 + 4 + 8 + 1;
    if (caps + 2 > p.size())
        return false;
    g.capabilities_low = p[caps] | (p[caps + 1] << 8);
    return true;
}

} // namespace

TEST(ServerFixture, GreetsWithProtocol10AndOffersTls)
{
    const qv::server_info &s = qv::server();
    int fd = qv::tcp_connect(s.host, s.port);
    ASSERT_GE(fd, 0) << "cannot connect to " << s.host << ":" << s.port;
    std::vector<uint8_t> payload;
    uint8_t seq = 0xFF;
    bool got = qv::read_packet(fd, payload, &seq);
    close(fd);
    ASSERT_TRUE(got) << "no greeting packet within 5 s";
    EXPECT_EQ(seq, 0);

    greeting g;
    ASSERT_TRUE(parse_greeting(payload, g)) << "greeting of " << payload.size() << " bytes";
    EXPECT_EQ(g.protocol, 10);
    // MariaDB prefixes "5.5.5-" for old replication clients; SELECT VERSION()
    // does not.
    EXPECT_NE(g.version.find(s.version), std::string::npos) << g.version;
    const uint32_t CLIENT_SSL = 0x0800;
    EXPECT_TRUE(g.capabilities_low & CLIENT_SSL) << "server does not offer TLS";
}

TEST(ServerFixture, ServerSettingsForTests)
{
    auto rows = qv::server_rows("SELECT @@local_infile, @@have_ssl, @@bind_address, @@port");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "YES", "127.0.0.1",
                                                 std::to_string(qv::server().port)}));
    EXPECT_EQ(access(qv::server().socket.c_str(), F_OK), 0) << qv::server().socket;
    for (const std::string *f : {&qv::server().ssl_ca, &qv::server().ssl_client_cert,
                                 &qv::server().ssl_client_key})
        EXPECT_EQ(access(f->c_str(), R_OK), 0) << *f;
}

TEST(ServerFixture, TestUserOwnsTheTestDatabase)
{
    const qv::server_info &s = qv::server();
    auto rows = qv::server_rows("SELECT host, plugin FROM mysql.user WHERE user = '" + s.user +
                                "' ORDER BY host");
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"%", "mysql_native_password"},
                                                           {"localhost", "mysql_native_password"}}));
    // No anonymous account may shadow the test user.
    EXPECT_TRUE(qv::server_rows("SELECT 1 FROM mysql.user WHERE user = ''").empty());

    // The user itself, over TCP with its password: tables, routines, and a
    // second qvtest_* database.
    std::string sql =
        "CREATE TABLE fixture_t (a INT); INSERT INTO fixture_t VALUES (7);"
        "CREATE PROCEDURE fixture_p() SELECT a FROM fixture_t;"
        "CALL fixture_p();"
        "DROP PROCEDURE fixture_p; DROP TABLE fixture_t;"
        "CREATE DATABASE " + s.database + "_second; DROP DATABASE " + s.database + "_second;";
    std::string cmd = "mariadb --no-defaults --batch --skip-column-names -h " + s.host +
                      " -P " + std::to_string(s.port) + " -u " + s.user + " -p" + s.password +
                      " --ssl-ca=" + s.ssl_ca + " --ssl-verify-server-cert " + s.database +
                      " -e '" + sql + "' 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    EXPECT_EQ(pclose(p), 0) << out;
    EXPECT_EQ(out, "7\n");
}

TEST(ServerFixture, SideAccessReportsErrors)
{
    qv::sql_result r = qv::server_sql("SELECT * FROM no_such_table");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("1146"), std::string::npos) << r.output;
    EXPECT_THROW(qv::server_rows("SELEC 1"), std::runtime_error);
}
