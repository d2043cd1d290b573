// TLS through the driver manager against the test MariaDB, whose fixture made
// a CA, a server certificate (127.0.0.1, localhost) and a client certificate
// for this run: encrypted logon, queries and large results over TLS (also
// compressed), certificate verification with the right CA, a CA directory, a
// foreign CA with and without TrustServerCertificate, client certificates for
// a REQUIRE X509 account, Encrypt=optional from a DSN, and repeated
// connect/disconnect without descriptor growth.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

// Diagnostics read "[Quorvane][MySQL Driver][MySQL]<default text>: <message>".
bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
const char X509_USER[] = "qvtls_x509", X509_PASSWORD[] = "x509-Secret_3";

std::string ca_setting() { return "CertificateFile=" + qv::server().ssl_ca + ";"; }

// The value of one SHOW SESSION STATUS variable, through the driver.
std::string session_status(const qv::handle &dbc, const std::string &name)
{
    qv::handle stmt = qv::alloc_stmt(dbc);
    std::string sql = "SHOW SESSION STATUS LIKE '" + name + "'";
    SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(stmt));
    if (!SQL_SUCCEEDED(rc) || !SQL_SUCCEEDED(SQLFetch(stmt)))
        return "(none)";
    char buf[512] = "";
    SQLLEN ind = 0;
    SQLGetData(stmt, 2, SQL_C_CHAR, buf, sizeof buf, &ind);
    return ind == SQL_NULL_DATA ? "NULL" : buf;
}

// TLSv1.2 or later: "TLSv1.2", "TLSv1.3".
bool modern_tls(const std::string &version)
{
    return version == "TLSv1.2" || version == "TLSv1.3";
}

std::string all_texts(const std::vector<qv::diag_record> &d)
{
    std::string r;
    for (const auto &x : d)
        r += x.sqlstate + " " + x.text + "\n";
    return r;
}

// A scratch directory under the server's directory, made once per name.
std::string scratch_dir(const std::string &name)
{
    std::string dir = qv::server().server_dir + "/" + name;
    EXPECT_EQ(system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    return dir;
}

// A CA of its own that signed nothing the server uses.
const std::string &foreign_ca()
{
    static std::string path;
    if (path.empty()) {
        std::string dir = scratch_dir("tls_foreign_ca");
        std::string cmd = "cd '" + dir +
                          "' && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -sha256"
                          " -subj '/CN=qvmysql foreign CA' -keyout key.pem -out ca.pem"
                          " >openssl.log 2>&1";
        EXPECT_EQ(system(cmd.c_str()), 0) << cmd;
        path = dir + "/ca.pem";
    }
    return path;
}

size_t open_descriptors()
{
    size_t n = 0;
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        return 0;
    while (readdir(d))
        n++;
    closedir(d);
    return n;
}

struct tls_logon : ::testing::Test {
    qv::connection c;
    void expect_encrypted()
    {
        EXPECT_NE(session_status(c.dbc, "Ssl_cipher"), "");
        std::string v = session_status(c.dbc, "Ssl_version");
        EXPECT_TRUE(modern_tls(v)) << v;
    }
};

TEST_F(tls_logon, EncryptYesWithTheCaLogsOnOverTls)
{
    QV_ASSERT_SUCCEEDED(c.connect(qv::conn_str("Encrypt=yes;" + ca_setting())), c.dbc);
    expect_encrypted();
    // and a plain logon is not encrypted, so the check above means something
    qv::connection plain;
    QV_ASSERT_SUCCEEDED(plain.connect(qv::conn_str()), plain.dbc);
    EXPECT_EQ(session_status(plain.dbc, "Ssl_cipher"), "");
}

// Rows of about a megabyte each: many TLS records per packet, packets
// spanning records, and (compressed) frames inside TLS.
TEST_F(tls_logon, LargeResultsOverTlsPlainAndCompressed)
{
    for (const char *extra : {"", "Compress=yes;"}) {
        SCOPED_TRACE(extra);
        qv::connection k;
        QV_ASSERT_SUCCEEDED(k.connect(qv::conn_str(std::string("Encrypt=yes;") + extra + ca_setting())),
                            k.dbc);
        EXPECT_NE(session_status(k.dbc, "Ssl_cipher"), "");
        if (*extra) {
            EXPECT_EQ(session_status(k.dbc, "Compression"), "ON");
        }
        qv::handle stmt = qv::alloc_stmt(k.dbc);
        const size_t ROW = 1000000;
        const char *sql = "SELECT n, REPEAT(ELT(n + 1, 'A', 'B', 'C', 'D', 'E'), 1000000) FROM (SELECT 0 n UNION ALL SELECT 1 "
                          "UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4) t ORDER BY n";
        QV_ASSERT_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR *)sql, SQL_NTS), stmt);
        std::vector<char> buf(ROW + 1);
        int rows = 0;
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            SQLINTEGER n = -1;
            SQLLEN ind = 0;
            ASSERT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_SLONG, &n, 0, &ind)));
            ASSERT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, 2, SQL_C_CHAR, buf.data(), (SQLLEN)buf.size(), &ind)))
                << qv::describe(qv::diagnostics(stmt));
            ASSERT_EQ(ind, (SQLLEN)ROW);
            EXPECT_EQ(std::string(buf.data(), ROW), std::string(ROW, (char)('A' + n)));
            EXPECT_EQ(n, rows);
            rows++;
        }
        EXPECT_EQ(rows, 5);
    }
}

// CertificateFile naming a directory of hashed CA certificates.
TEST_F(tls_logon, CaDirectoryVerifies)
{
    std::string dir = scratch_dir("tls_ca_dir");
    std::string cmd = "cp '" + qv::server().ssl_ca + "' '" + dir + "/ca.pem' && openssl rehash '" + dir +
                      "' >/dev/null 2>&1";
    ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
    QV_ASSERT_SUCCEEDED(c.connect(qv::conn_str("Encrypt=yes;CertificateFile=" + dir + ";")), c.dbc);
    expect_encrypted();
}

TEST_F(tls_logon, CertificateJudgement)
{
    struct {
        const char *name;
        std::string extra;
        bool logs_on;
        std::string text;   // of a 08001 record when refused
    } cases[] = {
        {"foreign CA", "CertificateFile=" + foreign_ca() + ";", false,
         "SSL Provider: unable to get local issuer certificate"},
        {"no CA at all", "", false, "SSL Provider: unable to get local issuer certificate"},
        {"foreign CA, trusted anyway", "CertificateFile=" + foreign_ca() + ";TrustServerCertificate=yes;",
         true, ""},
        {"no CA, trusted anyway", "TrustServerCertificate=yes;", true, ""},
        {"missing CA file", "CertificateFile=" + qv::server().server_dir + "/no/such/ca.pem;", false,
         "Loading Certificate file '" + qv::server().server_dir + "/no/such/ca.pem' failed"},
    };
    for (const auto &t : cases) {
        SCOPED_TRACE(t.name);
        qv::connection k;
        SQLRETURN rc = k.connect(qv::conn_str("Encrypt=yes;" + t.extra));
        auto d = qv::diagnostics(k.dbc);
        if (t.logs_on) {
            QV_EXPECT_SUCCEEDED(rc, k.dbc);
            if (SQL_SUCCEEDED(rc)) {
                EXPECT_NE(session_status(k.dbc, "Ssl_cipher"), "");
            }
            continue;
        }
        EXPECT_EQ(rc, SQL_ERROR);
        ASSERT_FALSE(d.empty());
        EXPECT_EQ(d[0].sqlstate, "08001") << all_texts(d);
        EXPECT_TRUE(ends_with(d[0].text, ": " + t.text)) << all_texts(d);
        if (t.name == std::string("missing CA file")) {
            ASSERT_GE(d.size(), 2u) << "OpenSSL's reasons follow";
            EXPECT_NE(d[1].text.find(": SSL error '"), std::string::npos) << all_texts(d);
        }
    }
}

// An account that requires a client certificate signed by the CA.
TEST_F(tls_logon, ClientCertificateIsSent)
{
    const qv::server_info &s = qv::server();
    std::string make;
    for (const char *host : {"%", "localhost"})
        make += std::string("DROP USER IF EXISTS '") + X509_USER + "'@'" + host + "'; CREATE USER '" +
                X509_USER + "'@'" + host + "' IDENTIFIED BY '" + X509_PASSWORD + "' REQUIRE X509; GRANT ALL ON `" +
                s.database + "`.* TO '" + X509_USER + "'@'" + host + "';";
    auto r = qv::server_sql(make);
    ASSERT_EQ(r.status, 0) << r.output;

    std::string base = "DRIVER={" + s.driver_name + "};SERVER=" + s.host + ";PORT=" + std::to_string(s.port) +
                       ";UID=" + X509_USER + ";PWD=" + X509_PASSWORD + ";DATABASE=" + s.database +
                       ";Encrypt=yes;" + ca_setting();
    std::string identity = "PrivateKeyFile=" + s.ssl_client_key + ";PublicKeyFile=" + s.ssl_client_cert + ";";

    QV_ASSERT_SUCCEEDED(c.connect(base + identity), c.dbc);
    expect_encrypted();

    qv::connection without;
    EXPECT_EQ(without.connect(base), SQL_ERROR);
    auto d = qv::diagnostics(without.dbc);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].sqlstate, "28000") << all_texts(d);

    // a key that does not exist is reported before anything is sent
    qv::connection bad_key;
    EXPECT_EQ(bad_key.connect(base + "PrivateKeyFile=/nonexistent/key.pem;"), SQL_ERROR);
    d = qv::diagnostics(bad_key.dbc);
    ASSERT_FALSE(d.empty());
    EXPECT_TRUE(ends_with(d[0].text, ": Loading Private Key file '/nonexistent/key.pem' failed"))
        << all_texts(d);

    qv::server_sql(std::string("DROP USER IF EXISTS '") + X509_USER + "'@'%'; DROP USER IF EXISTS '" +
                   X509_USER + "'@'localhost';");
}

// "optional" is a DSN spelling (SQLConnect): a server with TLS gets TLS.
TEST_F(tls_logon, OptionalFromADsnUsesTls)
{
    const qv::server_info &s = qv::server();
    const std::string dsn = "qvtest_tls_optional";
    std::ifstream in(s.odbcini);
    std::stringstream all;
    all << in.rdbuf();
    if (all.str().find("[" + dsn + "]") == std::string::npos) {
        std::ofstream out(s.odbcini, std::ios::app);
        out << "\n[" << dsn << "]\nDriver = " << s.driver_name << "\nServer = " << s.host
            << "\nPort = " << s.port << "\nDatabase = " << s.database
            << "\nEncrypt = optional\nCertificateFile = " << s.ssl_ca << "\n";
    }
    SQLRETURN rc = SQLConnect(c.dbc, (SQLCHAR *)dsn.c_str(), SQL_NTS, (SQLCHAR *)s.user.c_str(), SQL_NTS,
                              (SQLCHAR *)s.password.c_str(), SQL_NTS);
    QV_ASSERT_SUCCEEDED(rc, c.dbc);
    c.connected = true;
    expect_encrypted();
}

TEST(tls_cycles, TwoHundredConnectsLeaveNoDescriptors)
{
    std::string cs = qv::conn_str("Encrypt=yes;" + ca_setting());
    {   // the first round loads what stays loaded (libraries, OpenSSL tables)
        qv::connection warm;
        QV_ASSERT_SUCCEEDED(warm.connect(cs), warm.dbc);
    }
    size_t before = open_descriptors();
    for (int i = 0; i < 200; i++) {
        qv::connection k;
        SQLRETURN rc = k.connect(cs);
        QV_ASSERT_SUCCEEDED(rc, k.dbc) << "round " << i;
    }
    EXPECT_EQ(open_descriptors(), before);
}

} // namespace
