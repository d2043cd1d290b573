// Logging on through the driver manager against the private MariaDB: the
// connect entry points (narrow and wide), the output connection string,
// refused passwords, server lists, and every authentication method the
// server offers: mysql_native_password, mysql_old_password (both request
// forms) and mysql_clear_password through PAM (over TLS, or by the DSN's
// opt-in). ed25519 has tests of its own (test_logon_current.cpp).
//
// The server runs with --secure-auth=OFF and the auth_pam and auth_ed25519
// plugins (tests/CMakeLists.txt). The accounts are made here, as root.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/qv_support.h"

#include <sqlucode.h>

namespace {

const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";
const std::string DRIVER = "DRIVER={Quorvane MySQL ODBC Driver};";

const char OLD_USER[] = "qvlogon_old", OLD_PASSWORD[] = "old-Secret_1";
const char PAM_USER[] = "qvlogon_pam", PAM_PASSWORD[] = "pam-Secret_7";
const char PAM_SERVICE[] = "qvlogon_test";
const char ED_USER[] = "qvlogon_ed", ED_PASSWORD[] = "ed-Secret_1";

std::string server_entry(int port) { return "127.0.0.1:" + std::to_string(port); }

// The test user's connection string with SERVER (and PORT) as given.
std::string user_conn(const std::string &server_part, const std::string &user = "",
                      const std::string &password = "")
{
    const qv::server_info &s = qv::server();
    return DRIVER + server_part + "UID=" + (user.empty() ? s.user : user) +
           ";PWD=" + (password.empty() ? s.password : password) + ";DATABASE=" + s.database + ";";
}

std::vector<SQLWCHAR> wide(const std::string &s)
{
    std::vector<SQLWCHAR> w(s.begin(), s.end());   // the test texts are ASCII
    w.push_back(0);
    return w;
}

std::string narrow(const SQLWCHAR *w)
{
    std::string s;
    for (; *w; w++)
        s += (char)*w;
    return s;
}

// Sessions the server holds for a user (from the side, as root).
int sessions_of(const std::string &user)
{
    auto rows = qv::server_rows("SELECT COUNT(*) FROM information_schema.processlist WHERE user = '" +
                                user + "'");
    return rows.empty() ? -1 : std::stoi(rows[0][0]);
}

// Logs on with SQLDriverConnect (no prompt); the result and the records.
struct attempt {
    SQLRETURN rc;
    std::vector<qv::diag_record> diags;
    std::string out;
};

attempt try_connect(const std::string &cs)
{
    qv::connection c;
    attempt a;
    a.rc = c.connect(cs, &a.out);
    a.diags = qv::diagnostics(c.dbc);
    return a;
}

// A port on 127.0.0.1 where connecting is refused: bound, never listening.
struct refusing_port {
    int fd = -1, port = 0;
    refusing_port()
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in a;
        memset(&a, 0, sizeof a);
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd >= 0 && bind(fd, (struct sockaddr *)&a, sizeof a) == 0 &&
            getsockname(fd, (struct sockaddr *)&a, &len) == 0)
            port = ntohs(a.sin_port);
    }
    ~refusing_port()
    {
        if (fd >= 0)
            close(fd);
    }
};

// ---------------------------------------------------------------- proxy

bool write_packet(int fd, uint8_t seq, const std::vector<uint8_t> &payload)
{
    std::vector<uint8_t> b{(uint8_t)payload.size(), (uint8_t)(payload.size() >> 8),
                           (uint8_t)(payload.size() >> 16), seq};
    b.insert(b.end(), payload.begin(), payload.end());
    return send(fd, b.data(), b.size(), MSG_NOSIGNAL) == (ssize_t)b.size();
}

// Replaces the NUL-terminated method name that ends a packet.
void rename_method(std::vector<uint8_t> &payload, const std::string &from, const std::string &to)
{
    std::string tail = from + '\0';
    if (to.empty() || payload.size() < tail.size() ||
        std::string(payload.end() - (long)tail.size(), payload.end()) != tail)
        return;
    payload.resize(payload.size() - tail.size());
    payload.insert(payload.end(), to.begin(), to.end());
    payload.push_back(0);
}

// A relay on loopback between the driver and the test server for one
// connection. It can rename the method the server's greeting announces and
// the method the driver's response names, which makes the server take the
// paths a different client or server default would: announcing another
// default method, or an auth switch request with its method data.
class auth_proxy {
public:
    auth_proxy(std::string greeting_method, std::string response_method)
        : greeting_method_(std::move(greeting_method)), response_method_(std::move(response_method))
    {
        listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in a;
        memset(&a, 0, sizeof a);
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listen_fd_ >= 0 && bind(listen_fd_, (struct sockaddr *)&a, sizeof a) == 0 &&
            listen(listen_fd_, 1) == 0 && getsockname(listen_fd_, (struct sockaddr *)&a, &len) == 0)
            port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~auth_proxy()
    {
        stop_ = true;
        thread_.join();
        close(listen_fd_);
    }
    int port() const { return port_; }
    // The server's first packet after the response (an OK, an auth request
    // or an error); complete once the logon through the proxy has returned.
    std::string reply() const { return std::string(reply_.begin(), reply_.end()); }

private:
    static int64_t now_ms()
    {
        struct timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
    }

    void run()
    {
        int64_t deadline = now_ms() + 20000;
        struct pollfd p = {listen_fd_, POLLIN, 0};
        while (!stop_ && now_ms() < deadline && poll(&p, 1, 100) == 0) {
        }
        if (stop_ || !(p.revents & POLLIN))
            return;
        int client = accept(listen_fd_, nullptr, nullptr);
        int upstream = qv::tcp_connect(qv::server().host, qv::server().port);
        if (client >= 0 && upstream >= 0 && handshake(client, upstream))
            relay(client, upstream, deadline);
        if (client >= 0)
            close(client);
        if (upstream >= 0)
            close(upstream);
    }

    bool handshake(int client, int upstream)
    {
        std::vector<uint8_t> pkt;
        uint8_t seq = 0;
        if (!qv::read_packet(upstream, pkt, &seq))
            return false;
        rename_method(pkt, "mysql_native_password", greeting_method_);
        if (!write_packet(client, seq, pkt) || !qv::read_packet(client, pkt, &seq))
            return false;
        rename_method(pkt, "mysql_native_password", response_method_);
        if (!write_packet(upstream, seq, pkt) || !qv::read_packet(upstream, pkt, &seq))
            return false;
        reply_ = pkt;
        return write_packet(client, seq, pkt);
    }

    void relay(int a, int b, int64_t deadline)
    {
        char buf[16384];
        while (!stop_ && now_ms() < deadline) {
            struct pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
            if (poll(p, 2, 100) <= 0)
                continue;
            for (int i = 0; i < 2; i++) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                ssize_t n = recv(p[i].fd, buf, sizeof buf, 0);
                if (n <= 0 || send(p[1 - i].fd, buf, (size_t)n, MSG_NOSIGNAL) != n)
                    return;
            }
        }
    }

    std::string greeting_method_, response_method_;
    std::vector<uint8_t> reply_;
    int listen_fd_ = -1, port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// ------------------------------------------------------------- accounts

class Logon : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The old hash comes from old_passwords=1; both accounts are made
        // afresh, so a rerun against the same server starts alike.
        std::string sql =
            std::string("SET SESSION old_passwords=1;") + "CREATE OR REPLACE USER '" + OLD_USER +
            "'@'%' IDENTIFIED BY '" + OLD_PASSWORD + "';" + "SET SESSION old_passwords=0;" +
            "CREATE OR REPLACE USER '" + PAM_USER + "'@'%' IDENTIFIED VIA pam USING '" +
            PAM_SERVICE + "';" + "CREATE OR REPLACE USER '" + ED_USER +
            "'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('" + ED_PASSWORD + "');" +
            "GRANT SELECT ON `" + qv::server().database + "`.* TO '" + OLD_USER + "'@'%', '" +
            PAM_USER + "'@'%', '" + ED_USER + "'@'%';";
        qv::sql_result r = qv::server_sql(sql);
        ASSERT_EQ(r.status, 0) << r.output;
    }
};

// ==================================================== connect entry points

TEST_F(Logon, DriverConnectNarrowAndWide)
{
    const qv::server_info &s = qv::server();
    const std::string cs = qv::conn_str();
    // the test server's character set is utf8mb4, so the logon switches
    // narrow text to UTF-8 and the completed string says so
    const std::string expect = DRIVER + "UID=" + s.user + ";PWD=" + s.password +
                               ";SERVER=127.0.0.1;DATABASE=" + s.database +
                               ";PORT=" + std::to_string(s.port) + ";ConvToUtf=yes;";
    {
        qv::connection c;
        std::string out;
        SQLRETURN rc = c.connect(cs, &out);
        QV_ASSERT_SUCCEEDED(rc, c.dbc);
        EXPECT_EQ(rc, SQL_SUCCESS) << qv::describe(qv::diagnostics(c.dbc));
        EXPECT_EQ(out, expect);
        EXPECT_GE(sessions_of(s.user), 1);
    }
    {
        qv::connection c;
        std::vector<SQLWCHAR> in = wide(cs);
        SQLWCHAR out[512];
        SQLSMALLINT out_len = 0;
        SQLRETURN rc = SQLDriverConnectW(c.dbc, nullptr, in.data(), SQL_NTS, out, 512, &out_len,
                                         SQL_DRIVER_NOPROMPT);
        QV_ASSERT_SUCCEEDED(rc, c.dbc);
        c.connected = true;
        EXPECT_EQ(narrow(out), expect);
        EXPECT_EQ(out_len, (SQLSMALLINT)expect.size()) << "counted in characters";
    }
}

TEST_F(Logon, ConnectWithTheDsnNarrowAndWide)
{
    const qv::server_info &s = qv::server();
    {
        qv::connection c;
        SQLRETURN rc = SQLConnect(c.dbc, (SQLCHAR *)s.dsn.c_str(), SQL_NTS, nullptr, 0, nullptr, 0);
        QV_ASSERT_SUCCEEDED(rc, c.dbc);
        c.connected = true;
        EXPECT_EQ(rc, SQL_SUCCESS);
    }
    {
        qv::connection c;
        std::vector<SQLWCHAR> dsn = wide(s.dsn), user = wide(s.user), pw = wide(s.password);
        SQLRETURN rc = SQLConnectW(c.dbc, dsn.data(), SQL_NTS, user.data(), SQL_NTS, pw.data(),
                                   SQL_NTS);
        QV_ASSERT_SUCCEEDED(rc, c.dbc);
        c.connected = true;
    }
    {
        qv::connection c;
        std::string out;
        SQLRETURN rc = c.connect(qv::dsn_conn_str(), &out);
        QV_ASSERT_SUCCEEDED(rc, c.dbc);
        EXPECT_EQ(out, "DSN=" + s.dsn + ";UID=" + s.user + ";PWD=" + s.password +
                           ";SERVER=127.0.0.1;DATABASE=" + s.database +
                           ";PORT=" + std::to_string(s.port) + ";ConvToUtf=yes;");
    }
}

// The server list forms: the port in the entry, after ':' or '*', and no
// PORT in the output string for a port left at its default.
TEST_F(Logon, ServerEntriesAndTheOutputString)
{
    const qv::server_info &s = qv::server();
    refusing_port refused;
    ASSERT_NE(refused.port, 0);
    struct {
        const char *name;
        std::string server;
    } cases[] = {
        {"host:port", server_entry(s.port)},
        {"host*port", "127.0.0.1*" + std::to_string(s.port)},
        {"first entry refuses", server_entry(refused.port) + "," + server_entry(s.port)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        attempt a = try_connect(user_conn("SERVER=" + c.server + ";"));
        EXPECT_EQ(a.rc, SQL_SUCCESS) << qv::describe(a.diags);
        EXPECT_TRUE(a.diags.empty()) << "nothing of a failed entry stays: " << qv::describe(a.diags);
        EXPECT_EQ(a.out, DRIVER + "UID=" + s.user + ";PWD=" + s.password + ";SERVER=" + c.server +
                             ";DATABASE=" + s.database + ";ConvToUtf=yes;");
    }
}

TEST_F(Logon, OutputStringCutIntoAShortBuffer)
{
    qv::connection c;
    const std::string cs = qv::conn_str();
    SQLCHAR out[16];
    SQLSMALLINT out_len = 0;
    SQLRETURN rc = SQLDriverConnect(c.dbc, nullptr, (SQLCHAR *)cs.c_str(), SQL_NTS, out, sizeof out,
                                    &out_len, SQL_DRIVER_NOPROMPT);
    ASSERT_EQ(rc, SQL_SUCCESS_WITH_INFO) << qv::describe(qv::diagnostics(c.dbc));
    c.connected = true;
    EXPECT_EQ(qv::first_state(c.dbc), "01004");
    EXPECT_EQ(std::string((char *)out), DRIVER.substr(0, sizeof out - 1));
    EXPECT_GT(out_len, (SQLSMALLINT)sizeof out) << "the full length is reported";
    EXPECT_GE(sessions_of(qv::server().user), 1) << "the connection stays up";
}

// After SQLDisconnect the same handle logs on again, and the server no longer
// holds the first session.
TEST_F(Logon, DisconnectAndConnectAgain)
{
    // A user of its own: other tests log on as the shared user at the same time.
    const std::string user = "qvlogon_again", password = "again-Secret_1";
    qv::server_rows("CREATE OR REPLACE USER '" + user + "'@'%' IDENTIFIED BY '" + password +
                    "'; GRANT SELECT ON `" + qv::server().database + "`.* TO '" + user +
                    "'@'%'; SELECT 1");
    const std::string cs =
        user_conn("SERVER=127.0.0.1;PORT=" + std::to_string(qv::server().port) + ";", user, password);
    qv::connection c;
    QV_ASSERT_SUCCEEDED(c.connect(cs), c.dbc);
    EXPECT_EQ(sessions_of(user), 1);
    QV_ASSERT_SUCCEEDED(c.disconnect(), c.dbc);
    // the server notices the close asynchronously
    int after = 1;
    for (int i = 0; i < 50 && after != 0; i++) {
        usleep(100 * 1000);
        after = sessions_of(user);
    }
    EXPECT_EQ(after, 0);
    QV_ASSERT_SUCCEEDED(c.connect(cs), c.dbc);
    EXPECT_EQ(sessions_of(user), 1);
}

// ================================================================ failures

TEST_F(Logon, RefusedLogons)
{
    const qv::server_info &s = qv::server();
    struct {
        const char *name;
        std::string cs;
        const char *state;
        SQLINTEGER native;
        std::string text;
    } cases[] = {
        {"wrong password", user_conn("SERVER=127.0.0.1;PORT=" + std::to_string(s.port) + ";", "",
                                     "not-the-password"),
         "28000", 1045,
         PREFIX + "Access denied for user '" + s.user + "'@'127.0.0.1' (using password: YES)"},
        {"port text not numeric", user_conn("SERVER=127.0.0.1:33o6;"), "08001", 0,
         "Failed to extract numeric port from '33o6'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        attempt a = try_connect(c.cs);
        EXPECT_EQ(a.rc, SQL_ERROR);
        ASSERT_FALSE(a.diags.empty());
        EXPECT_EQ(a.diags[0].sqlstate, c.state) << qv::describe(a.diags);
        EXPECT_EQ(a.diags[0].native, c.native);
        if (c.native != 0) {
            EXPECT_EQ(a.diags[0].text, c.text);
        } else {
            EXPECT_NE(a.diags[0].text.find(c.text), std::string::npos) << a.diags[0].text;
        }
    }
}

// ======================================================= authentication

std::string port_part(int port) { return "SERVER=127.0.0.1;PORT=" + std::to_string(port) + ";"; }

// MariaDB asks an old-hash account for the old scramble with a lone 0xFE when
// the driver named mysql_native_password; when the response names another
// method it sends a full switch to mysql_old_password with its scramble.
TEST_F(Logon, OldPasswordBothRequestForms)
{
    {
        SCOPED_TRACE("lone 0xFE");
        auth_proxy proxy("", "");
        attempt a = try_connect(user_conn(port_part(proxy.port()), OLD_USER, OLD_PASSWORD));
        EXPECT_EQ(a.rc, SQL_SUCCESS) << qv::describe(a.diags);
        EXPECT_EQ(proxy.reply(), "\xFE");
    }
    {
        SCOPED_TRACE("auth switch");
        auth_proxy proxy("", "client_ed25519");
        attempt a = try_connect(user_conn(port_part(proxy.port()), OLD_USER, OLD_PASSWORD));
        EXPECT_EQ(a.rc, SQL_SUCCESS) << qv::describe(a.diags);
        EXPECT_EQ(proxy.reply().substr(0, 20), std::string("\xFEmysql_old_password\0", 20));
        EXPECT_GT(proxy.reply().size(), 20u + 8) << "the switch carries the scramble";
    }
    attempt bad = try_connect(user_conn(port_part(qv::server().port), OLD_USER, "wrong"));
    EXPECT_EQ(bad.rc, SQL_ERROR);
    ASSERT_FALSE(bad.diags.empty());
    EXPECT_EQ(bad.diags[0].sqlstate, "28000") << qv::describe(bad.diags);
}

// The response names another method (as a client with another default would),
// so the server switches the native account to mysql_native_password with
// fresh method data; and a server announcing caching_sha2_password gets
// that method's answer, which MariaDB does not know, so it switches the
// native account to mysql_native_password.
TEST_F(Logon, NativeAfterAnotherDefaultMethod)
{
    struct {
        const char *name;
        const char *greeting_method, *response_method;
        std::string reply_starts;
    } cases[] = {
        {"switch to mysql_native_password", "", "client_ed25519",
         std::string("\xFEmysql_native_password\0", 23)},
        {"server announcing caching_sha2_password", "caching_sha2_password", "",
         std::string("\xFEmysql_native_password\0", 23)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auth_proxy proxy(c.greeting_method, c.response_method);
        attempt a = try_connect(user_conn(port_part(proxy.port())));
        EXPECT_EQ(a.rc, SQL_SUCCESS) << qv::describe(a.diags);
        EXPECT_EQ(proxy.reply().substr(0, c.reply_starts.size()), c.reply_starts);
    }
}

// A PAM service for the test alone: pam_exec checks one fixed user and
// password from standard input, pam_permit grants the account; no system
// account is involved. Removed again when the test ends.
class pam_service {
public:
    pam_service()
    {
        char dir[] = "/tmp/qvpamXXXXXX";
        if (!mkdtemp(dir))
            return;
        dir_ = dir;
        script_ = dir_ + "/check";
        std::ofstream(script_) << "#!/bin/bash\n"
                                  "# pam_exec passes the password NUL-terminated on stdin\n"
                                  "IFS= read -r -d '' pw\n"
                               << "[ \"$PAM_USER\" = " << PAM_USER << " ] && [ \"$pw\" = '"
                               << PAM_PASSWORD << "' ]\n";
        chmod(script_.c_str(), 0755);
        chmod(dir_.c_str(), 0755);
        path_ = std::string("/etc/pam.d/") + PAM_SERVICE;
        std::ofstream f(path_);
        f << "auth required pam_exec.so expose_authtok quiet " << script_ << "\n"
          << "account required pam_permit.so\n";
        ok_ = f.good();
    }
    ~pam_service()
    {
        if (!path_.empty())
            unlink(path_.c_str());
        if (!script_.empty())
            unlink(script_.c_str());
        if (!dir_.empty())
            rmdir(dir_.c_str());
    }
    bool ok() const { return ok_; }

private:
    std::string dir_, script_, path_;
    bool ok_ = false;
};

TEST_F(Logon, ClearPasswordThroughPam)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "writing a PAM service needs root";
    pam_service service;
    ASSERT_TRUE(service.ok()) << "cannot write /etc/pam.d/" << PAM_SERVICE;
    const int port = qv::server().port;
    const std::string tls = "Encrypt=yes;CertificateFile=" + qv::server().ssl_ca + ";";
    const std::string opt_in = "EnableCleartextPlugin=yes;";
    {   // on plain TCP with the opt-in; the proxy sees the server's switch
        auth_proxy proxy("", "");
        attempt a =
            try_connect(user_conn(port_part(proxy.port()), PAM_USER, PAM_PASSWORD) + opt_in);
        EXPECT_EQ(a.rc, SQL_SUCCESS) << qv::describe(a.diags);
        EXPECT_TRUE(a.diags.empty()) << qv::describe(a.diags);
        EXPECT_EQ(proxy.reply(), std::string("\xFEmysql_clear_password\0", 22));
    }
    attempt over_tls = try_connect(user_conn(port_part(port), PAM_USER, PAM_PASSWORD) + tls);
    EXPECT_EQ(over_tls.rc, SQL_SUCCESS) << qv::describe(over_tls.diags);

    // on plain TCP without it the password stays home
    attempt plain = try_connect(user_conn(port_part(port), PAM_USER, PAM_PASSWORD));
    EXPECT_EQ(plain.rc, SQL_ERROR);
    ASSERT_FALSE(plain.diags.empty());
    EXPECT_EQ(plain.diags[0].sqlstate, "08001") << qv::describe(plain.diags);
    EXPECT_NE(plain.diags[0].text.find("EnableCleartextPlugin=yes"), std::string::npos)
        << qv::describe(plain.diags);

    attempt bad = try_connect(user_conn(port_part(port), PAM_USER, "wrong") + tls);
    EXPECT_EQ(bad.rc, SQL_ERROR);
    ASSERT_FALSE(bad.diags.empty());
    EXPECT_EQ(bad.diags[0].sqlstate, "28000") << qv::describe(bad.diags);
    EXPECT_EQ(bad.diags[0].native, 1045);
}

} // namespace
