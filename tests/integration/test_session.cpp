// Session set-up, connection attributes, transactions and disconnect through
// the driver manager against the test MariaDB. What the driver sent is read
// back from the server's own general query log; what a transaction did is
// observed from a second connection (the mariadb client).
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

const char *COLLATIONS = "select id, character_set_name from information_schema.collations ORDER BY id";

// First column of every row of a query run through the driver; "NULL" for
// SQL NULL. Fails the test when the query fails.
std::vector<std::string> column(const qv::handle &dbc, const std::string &sql)
{
    std::vector<std::string> out;
    qv::handle stmt = qv::alloc_stmt(dbc);
    EXPECT_TRUE(stmt);
    if (!stmt)
        return out;
    SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << sql << "\n" << qv::describe(qv::diagnostics(stmt));
    while (SQL_SUCCEEDED(rc) && SQL_SUCCEEDED(rc = SQLFetch(stmt))) {
        char buf[1024] = "";
        SQLLEN ind = 0;
        SQLGetData(stmt, 1, SQL_C_CHAR, buf, sizeof buf, &ind);
        out.push_back(ind == SQL_NULL_DATA ? "NULL" : buf);
    }
    return out;
}

std::string scalar(const qv::handle &dbc, const std::string &sql)
{
    auto v = column(dbc, sql);
    return v.empty() ? "(no rows)" : v.front();
}

SQLRETURN exec(const qv::handle &dbc, const std::string &sql)
{
    qv::handle stmt = qv::alloc_stmt(dbc);
    SQLRETURN rc = SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << sql << "\n" << qv::describe(qv::diagnostics(stmt));
    return rc;
}

// The general query log on for the life of the guard, written to
// mysql.general_log. One test owns it, so no other test turns it off under it.
struct general_log {
    general_log()
    {
        auto r = qv::server_sql("SET GLOBAL log_output='TABLE'; SET GLOBAL general_log=1;");
        EXPECT_EQ(r.status, 0) << r.output;
    }
    ~general_log() { qv::server_sql("SET GLOBAL general_log=0; TRUNCATE mysql.general_log;"); }
};

// What the server logged for one session: each query's text (run as text, or
// executed as a prepared statement, as direct queries are), and a change of
// database as "Init DB <name>", up to (not including) the text `until`.
std::vector<std::string> logged(const std::string &connection_id, const std::string &until)
{
    std::vector<std::string> out;
    auto rows = qv::server_rows("SELECT command_type, argument FROM mysql.general_log WHERE thread_id = " +
                                connection_id + " AND command_type IN ('Query', 'Execute', 'Init DB')");
    for (const auto &r : rows) {
        if (r.size() < 2)
            continue;
        // A statement run like SQLExecDirect goes out with a 0 byte after its
        // text, which the client prints as \0.
        std::string text = r[1];
        if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\\0") == 0)
            text.resize(text.size() - 2);
        if (text == until)
            break;
        out.push_back(r[0] == "Init DB" ? "Init DB " + text : text);
    }
    return out;
}

// The session's statements so far, read through a marker query that ends them.
// The collation query is left out: it is asked once per process and server,
// by whichever logon comes first (CollationsAreAskedForOncePerProcess).
std::vector<std::string> session_log(const qv::handle &dbc)
{
    const std::string marker = "select connection_id()";
    std::string id = scalar(dbc, marker);
    std::vector<std::string> all = logged(id, marker);
    all.erase(std::remove(all.begin(), all.end(), std::string(COLLATIONS)), all.end());
    return all;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

// ------------------------------------------------------- post-logon sequence

TEST(SessionSetup, StatementsInTheServerLog)
{
    general_log log;
    // a MariaDB server is known not to be MemSQL: its version comment is not asked for
    const std::vector<std::string> tail = {};
    const std::string rr = "SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ";
    struct log_case {
        const char *name;
        std::string conn_str;
        SQLULEN isolation;   // set before connecting; 0: left alone
        std::vector<std::string> want;
        SQLULEN autocommit = SQL_AUTOCOMMIT_ON;   // likewise
    } cases[] = {
        {"defaults", qv::conn_str(), 0,
         std::vector<std::string>{"SET AUTOCOMMIT=1", "SET character_set_results = utf8mb4", rr} + tail},
        {"AnsiMode wins over SQLMode", qv::conn_str("AnsiMode=yes;SQLMode='TRADITIONAL';"), 0,
         std::vector<std::string>{"SET AUTOCOMMIT=1", "SET character_set_results = utf8mb4",
                                  "SET sql_mode='ANSI_QUOTES'", rr} + tail},
        {"SQLMode", qv::conn_str("SQLMode='TRADITIONAL';"), 0,
         std::vector<std::string>{"SET AUTOCOMMIT=1", "SET character_set_results = utf8mb4",
                                  "SET sql_mode = 'TRADITIONAL'", rr} + tail},
        {"character sets",
         qv::conn_str("character_set_client=utf8mb4;character_set_results=latin1;"
                      "collation_connection=utf8mb4_bin;"),
         0,
         std::vector<std::string>{"SET AUTOCOMMIT=1", "SET character_set_client = utf8mb4",
                                  "SET character_set_results = latin1",
                                  "SET collation_connection = utf8mb4_bin", rr} + tail},
        {"read uncommitted", qv::conn_str(), SQL_TXN_READ_UNCOMMITTED,
         std::vector<std::string>{"SET AUTOCOMMIT=1", "SET character_set_results = utf8mb4",
                                  "SET SESSION TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"} + tail},
        {"read committed", qv::conn_str(), SQL_TXN_READ_COMMITTED,
         std::vector<std::string>{"SET AUTOCOMMIT=1", "SET character_set_results = utf8mb4",
                                  "SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED"} + tail},
        {"repeatable read", qv::conn_str(), SQL_TXN_REPEATABLE_READ,
         std::vector<std::string>{"SET AUTOCOMMIT=1", "SET character_set_results = utf8mb4", rr} + tail},
        {"serializable", qv::conn_str(), SQL_TXN_SERIALIZABLE,
         std::vector<std::string>{"SET AUTOCOMMIT=1", "SET character_set_results = utf8mb4",
                                  "SET SESSION TRANSACTION ISOLATION LEVEL SERIALIZABLE"} + tail},
        {"autocommit off", qv::conn_str(), 0,
         std::vector<std::string>{"SET AUTOCOMMIT=0", "SET character_set_results = utf8mb4", rr} + tail,
         SQL_AUTOCOMMIT_OFF},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        qv::connection c;
        if (k.isolation) {
            QV_ASSERT_SUCCEEDED(SQLSetConnectAttr(c.dbc, SQL_ATTR_TXN_ISOLATION, (SQLPOINTER)k.isolation, 0),
                                c.dbc);
        }
        if (k.autocommit != SQL_AUTOCOMMIT_ON) {
            QV_ASSERT_SUCCEEDED(SQLSetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)k.autocommit, 0),
                                c.dbc);
        }
        QV_ASSERT_SUCCEEDED(c.connect(k.conn_str), c.dbc);
        EXPECT_EQ(session_log(c.dbc), k.want);
        EXPECT_EQ(scalar(c.dbc, "select @@autocommit"), k.autocommit == SQL_AUTOCOMMIT_ON ? "1" : "0");
        if (k.isolation) {
            SQLUINTEGER level = 0;
            EXPECT_EQ(SQLGetConnectAttr(c.dbc, SQL_ATTR_TXN_ISOLATION, &level, 0, nullptr), SQL_SUCCESS);
            EXPECT_EQ(level, k.isolation);
        }
        // the level holds for the session, not only for its next transaction
        const char *in_force = k.isolation == SQL_TXN_READ_UNCOMMITTED ? "READ-UNCOMMITTED"
                               : k.isolation == SQL_TXN_READ_COMMITTED ? "READ-COMMITTED"
                               : k.isolation == SQL_TXN_SERIALIZABLE   ? "SERIALIZABLE"
                                                                       : "REPEATABLE-READ";
        EXPECT_EQ(scalar(c.dbc, "select @@tx_isolation"), in_force);
    }
}

// The driver manager frees the driver's environment with its last connection;
// the collation table outlives it, so reconnecting one connection at a time
// asks for it at most once (not at all when an earlier logon of this process
// already did).
TEST(SessionSetup, CollationsAreAskedForOncePerProcess)
{
    general_log log;
    std::string ids = "0";
    for (int i = 0; i < 3; i++) {
        qv::connection c;
        QV_ASSERT_SUCCEEDED(c.connect(qv::conn_str()), c.dbc);
        ids += "," + scalar(c.dbc, "select connection_id()");
    }
    // other tests log on to the same server meanwhile: only these sessions count
    auto asked = qv::server_rows("SELECT COUNT(*) FROM mysql.general_log WHERE thread_id IN (" + ids +
                                 ") AND argument = '" + std::string(COLLATIONS) + "'");
    ASSERT_FALSE(asked.empty());
    EXPECT_LE(std::stoi(asked[0][0]), 1);
}

// Without DATABASE the logon names none: the session asks the server.
TEST(SessionSetup, DatabaseFromTheServer)
{
    general_log log;
    const qv::server_info &s = qv::server();
    qv::connection c;
    QV_ASSERT_SUCCEEDED(c.connect("DRIVER={" + s.driver_name + "};SERVER=" + s.host +
                                  ";PORT=" + std::to_string(s.port) + ";UID=" + s.user +
                                  ";PWD=" + s.password + ";"),
                        c.dbc);
    EXPECT_EQ(session_log(c.dbc),
              std::vector<std::string>({"SET AUTOCOMMIT=1", "select database()",
                                        "SET character_set_results = utf8mb4",
                                        "SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ"}));
    char buf[64] = "x";
    SQLINTEGER len = -1;
    EXPECT_EQ(SQLGetConnectAttr(c.dbc, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(len, 0);
}

// A session statement the server refuses: SQL_SUCCESS_WITH_INFO with the
// server's error, the connection usable. The statements sent with it in the
// same round trip still ran.
TEST(SessionSetup, RefusedSessionStatementIsAWarning)
{
    general_log log;
    qv::connection c;
    QV_ASSERT_SUCCEEDED(SQLSetConnectAttr(c.dbc, SQL_ATTR_TXN_ISOLATION, (SQLPOINTER)SQL_TXN_SERIALIZABLE, 0),
                        c.dbc);
    SQLRETURN rc = c.connect(qv::conn_str("SQLMode='NO_SUCH_MODE';"));
    ASSERT_EQ(rc, SQL_SUCCESS_WITH_INFO) << qv::describe(qv::diagnostics(c.dbc));
    auto d = qv::diagnostics(c.dbc);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].sqlstate, "42000");
    EXPECT_EQ(d[0].native, 1231);
    EXPECT_NE(d[0].text.find("NO_SUCH_MODE"), std::string::npos) << d[0].text;
    EXPECT_EQ(session_log(c.dbc),
              std::vector<std::string>({"SET AUTOCOMMIT=1", "SET character_set_results = utf8mb4",
                                        "SET sql_mode = 'NO_SUCH_MODE'",
                                        "SET SESSION TRANSACTION ISOLATION LEVEL SERIALIZABLE"}));
    EXPECT_EQ(scalar(c.dbc, "select 6*7"), "42");

    // a refusal early in the batch: the sql_mode after it is in force
    qv::connection c2;
    rc = c2.connect(qv::conn_str("character_set_client=no_such_set;SQLMode='NO_ZERO_DATE';"));
    ASSERT_EQ(rc, SQL_SUCCESS_WITH_INFO) << qv::describe(qv::diagnostics(c2.dbc));
    d = qv::diagnostics(c2.dbc);
    ASSERT_EQ(d.size(), 1u) << qv::describe(d);
    EXPECT_EQ(d[0].sqlstate, "42000");
    EXPECT_NE(d[0].text.find("no_such_set"), std::string::npos) << d[0].text;
    EXPECT_EQ(scalar(c2.dbc, "select @@sql_mode"), "NO_ZERO_DATE");
}

// ------------------------------------------------------------ transactions

namespace {

struct transactions : ::testing::Test {
    const std::string table = "qv_session_tx";
    qv::connection c;
    void SetUp() override
    {
        auto r = qv::server_sql("CREATE TABLE IF NOT EXISTS " + table +
                                " (id INT PRIMARY KEY) ENGINE=InnoDB; DELETE FROM " + table + ";");
        ASSERT_EQ(r.status, 0) << r.output;
        QV_ASSERT_SUCCEEDED(c.connect(qv::conn_str()), c.dbc);
    }
    // Seen from another session: committed rows only.
    bool visible(int id)
    {
        auto rows = qv::server_rows("SELECT COUNT(*) FROM " + table + " WHERE id = " + std::to_string(id));
        return !rows.empty() && rows[0][0] == "1";
    }
    void insert(int id) { exec(c.dbc, "INSERT INTO " + table + " VALUES (" + std::to_string(id) + ")"); }
    SQLRETURN autocommit(SQLULEN v)
    {
        return SQLSetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)v, 0);
    }
};

} // namespace

TEST_F(transactions, CommitAndRollbackSeenFromAnotherSession)
{
    QV_ASSERT_SUCCEEDED(autocommit(SQL_AUTOCOMMIT_OFF), c.dbc);
    insert(1);
    EXPECT_FALSE(visible(1));
    QV_ASSERT_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT), c.dbc);
    EXPECT_TRUE(visible(1));

    insert(2);
    QV_ASSERT_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_ROLLBACK), c.dbc);
    EXPECT_FALSE(visible(2));
    EXPECT_EQ(scalar(c.dbc, "SELECT COUNT(*) FROM " + table), "1");

    // turning autocommit back on commits the pending work first
    insert(3);
    EXPECT_FALSE(visible(3));
    QV_ASSERT_SUCCEEDED(autocommit(SQL_AUTOCOMMIT_ON), c.dbc);
    EXPECT_TRUE(visible(3));
    insert(4);
    EXPECT_TRUE(visible(4));
    SQLUINTEGER on = 0;
    EXPECT_EQ(SQLGetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, &on, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(on, (SQLUINTEGER)SQL_AUTOCOMMIT_ON);
}

// The ODBC 2 form reaches the same work through the driver manager.
TEST_F(transactions, Odbc2Transact)
{
    QV_ASSERT_SUCCEEDED(SQLSetConnectOption(c.dbc, SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), c.dbc);
    insert(11);
    QV_ASSERT_SUCCEEDED(SQLTransact(SQL_NULL_HENV, c.dbc, SQL_ROLLBACK), c.dbc);
    EXPECT_FALSE(visible(11));
    insert(12);
    QV_ASSERT_SUCCEEDED(SQLTransact(SQL_NULL_HENV, c.dbc, SQL_COMMIT), c.dbc);
    EXPECT_TRUE(visible(12));
}

TEST(TransactionStatements, WhatGoesOutAndWhatDoesNot)
{
    general_log log;
    qv::connection c;
    QV_ASSERT_SUCCEEDED(c.connect(qv::conn_str()), c.dbc);
    auto set_autocommit = [&](SQLULEN v) {
        QV_EXPECT_SUCCEEDED(SQLSetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)v, 0), c.dbc);
    };
    const std::string marker = "select connection_id()";
    std::string id = scalar(c.dbc, marker);
    // with autocommit on SQLEndTran sends nothing; setting the value in force sends nothing
    QV_EXPECT_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT), c.dbc);
    QV_EXPECT_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_ROLLBACK), c.dbc);
    set_autocommit(SQL_AUTOCOMMIT_ON);
    set_autocommit(SQL_AUTOCOMMIT_OFF);
    set_autocommit(SQL_AUTOCOMMIT_OFF);
    QV_EXPECT_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_ROLLBACK), c.dbc);
    set_autocommit(SQL_AUTOCOMMIT_ON);
    QV_EXPECT_SUCCEEDED(SQLSetConnectAttr(c.dbc, SQL_ATTR_TXN_ISOLATION, (SQLPOINTER)SQL_TXN_READ_COMMITTED, 0),
                        c.dbc);
    const std::string end = "select 'end'";
    scalar(c.dbc, end);
    auto all = logged(id, end);
    auto after = std::find(all.begin(), all.end(), marker);
    ASSERT_NE(after, all.end());
    EXPECT_EQ(std::vector<std::string>(after + 1, all.end()),
              std::vector<std::string>({"SET AUTOCOMMIT=0", "ROLLBACK", "COMMIT", "SET AUTOCOMMIT=1",
                                        "SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED"}));
    EXPECT_EQ(scalar(c.dbc, "select @@tx_isolation"), "READ-COMMITTED");
}

// ---------------------------------------------------- connection attributes

namespace {

std::string get_catalog(const qv::handle &dbc)
{
    char buf[256] = "";
    SQLINTEGER len = -1;
    SQLRETURN rc = SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf, &len);
    EXPECT_EQ(rc, SQL_SUCCESS) << qv::describe(qv::diagnostics(dbc));
    EXPECT_EQ(len, (SQLINTEGER)strlen(buf));
    return buf;
}

SQLRETURN set_catalog(const qv::handle &dbc, const std::string &name)
{
    return SQLSetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, (SQLPOINTER)name.c_str(), SQL_NTS);
}

} // namespace

TEST(ConnectionAttributes, CurrentCatalogIncludingNamesThatNeedQuoting)
{
    const std::string db = qv::server().database;
    const std::string plain = db + "_cat", odd = db + "_we`ird", victim = db + "_victim";
    auto r = qv::server_sql("CREATE DATABASE IF NOT EXISTS `" + plain + "`; CREATE DATABASE IF NOT EXISTS `" +
                            db + "_we``ird`; CREATE DATABASE IF NOT EXISTS `" + victim + "`;");
    ASSERT_EQ(r.status, 0) << r.output;

    qv::connection c;
    QV_ASSERT_SUCCEEDED(c.connect(qv::conn_str()), c.dbc);
    EXPECT_EQ(get_catalog(c.dbc), db);

    QV_ASSERT_SUCCEEDED(set_catalog(c.dbc, plain), c.dbc);
    EXPECT_EQ(get_catalog(c.dbc), plain);
    EXPECT_EQ(scalar(c.dbc, "select database()"), plain);

    QV_ASSERT_SUCCEEDED(set_catalog(c.dbc, odd), c.dbc);
    EXPECT_EQ(get_catalog(c.dbc), odd);
    EXPECT_EQ(scalar(c.dbc, "select database()"), odd);

    // a name cannot end the quoted identifier and smuggle in a statement
    const std::string hostile = plain + "`; DROP DATABASE `" + victim + "`; -- ";
    EXPECT_EQ(set_catalog(c.dbc, hostile), SQL_ERROR);
    auto d = qv::diagnostics(c.dbc);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].sqlstate, "42000");
    // the server saw the whole text as one (impossible) database name
    EXPECT_NE(d[0].text.find("'" + hostile + "'"), std::string::npos) << d[0].text;
    EXPECT_EQ(get_catalog(c.dbc), odd);
    EXPECT_EQ(qv::server_rows("SHOW DATABASES LIKE '" + victim + "'").size(), 1u);

    // the wide form counts bytes
    std::u16string wide(plain.begin(), plain.end());
    QV_ASSERT_SUCCEEDED(SQLSetConnectAttrW(c.dbc, SQL_ATTR_CURRENT_CATALOG, (SQLPOINTER)wide.c_str(),
                                           (SQLINTEGER)(wide.size() * 2)),
                        c.dbc);
    SQLWCHAR back[64] = {0};
    SQLINTEGER len = 0;
    EXPECT_EQ(SQLGetConnectAttrW(c.dbc, SQL_ATTR_CURRENT_CATALOG, back, sizeof back, &len), SQL_SUCCESS);
    EXPECT_EQ(std::u16string((const char16_t *)back), wide);
    EXPECT_EQ(len, (SQLINTEGER)(wide.size() * 2));
    EXPECT_EQ(scalar(c.dbc, "select database()"), plain);
}

TEST(ConnectionAttributes, PacketSizeAndConnectionDead)
{
    qv::connection c;
    QV_ASSERT_SUCCEEDED(SQLSetConnectAttr(c.dbc, SQL_ATTR_PACKET_SIZE, (SQLPOINTER)8192, 0), c.dbc);
    QV_ASSERT_SUCCEEDED(c.connect(qv::conn_str()), c.dbc);
    struct {
        SQLUINTEGER v;
        SQLUINTEGER guard;
    } dead = {7, 0xCAFEBABE};
    SQLINTEGER len = 0;
    EXPECT_EQ(SQLGetConnectAttr(c.dbc, SQL_ATTR_CONNECTION_DEAD, &dead.v, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(dead.v, (SQLUINTEGER)SQL_CD_FALSE);
    EXPECT_EQ(dead.guard, 0xCAFEBABE);

    EXPECT_EQ(SQLSetConnectAttr(c.dbc, SQL_ATTR_PACKET_SIZE, (SQLPOINTER)4096, 0), SQL_ERROR);
    EXPECT_EQ(qv::first_state(c.dbc), "HY011");

    // Without a connection the driver manager answers itself (08003); the
    // driver's own answer is in Disconnect.SameDriverHandleConnectsAgain...
    ASSERT_EQ(c.disconnect(), SQL_SUCCESS);
    EXPECT_EQ(SQLGetConnectAttr(c.dbc, SQL_ATTR_CONNECTION_DEAD, &dead.v, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(qv::first_state(c.dbc), "08003");
}

// The refusals of the attribute tables as an application sees them through
// the driver manager, ODBC 3 and ODBC 2 forms.
TEST(ConnectionAttributes, RefusalsThroughTheDriverManager)
{
    for (SQLINTEGER version : {SQL_OV_ODBC3, SQL_OV_ODBC2}) {
        SCOPED_TRACE(version == SQL_OV_ODBC3 ? "ODBC 3" : "ODBC 2");
        qv::connection c(version);
        QV_ASSERT_SUCCEEDED(c.connect(qv::conn_str()), c.dbc);
        const bool v3 = version == SQL_OV_ODBC3;
        const struct {
            int option;   // 1: the ODBC 2 function
            SQLINTEGER attr;
            SQLULEN value;
            SQLRETURN rc;
            std::string state;
        } cases[] = {
            {0, 9999, 0, SQL_ERROR, v3 ? "HY092" : "S1092"},
            {0, SQL_ATTR_TXN_ISOLATION, 3, SQL_ERROR, v3 ? "HY024" : "S1009"},
            {0, SQL_ATTR_PACKET_SIZE, 4096, SQL_ERROR, v3 ? "HY011" : "S1011"},
            {0, SQL_ATTR_ASYNC_DBC_FUNCTIONS_ENABLE, 1, SQL_ERROR, v3 ? "HY092" : "S1092"},
            // the driver manager gives an ODBC 3 application the states of ODBC 3
            {1, SQL_TXN_ISOLATION, 3, SQL_ERROR, v3 ? "HY024" : "S1009"},
            {1, SQL_PACKET_SIZE, 4096, SQL_ERROR, v3 ? "HY011" : "S1011"},
            {1, 9999, 0, SQL_ERROR, v3 ? "HY092" : "S1092"},
        };
        for (const auto &k : cases) {
            SQLRETURN rc = k.option ? SQLSetConnectOption(c.dbc, (SQLUSMALLINT)k.attr, k.value)
                                    : SQLSetConnectAttr(c.dbc, k.attr, (SQLPOINTER)k.value, 0);
            EXPECT_EQ(rc, k.rc) << k.option << " " << k.attr;
            EXPECT_EQ(qv::first_state(c.dbc), k.state) << k.option << " " << k.attr;
        }
        // the ODBC 2 read of the qualifier and of a number
        char qualifier[257] = "";
        EXPECT_EQ(SQLGetConnectOption(c.dbc, SQL_CURRENT_QUALIFIER, qualifier), SQL_SUCCESS);
        EXPECT_EQ(std::string(qualifier), qv::server().database);
        SQLUINTEGER level = 0;
        EXPECT_EQ(SQLGetConnectOption(c.dbc, SQL_TXN_ISOLATION, &level), SQL_SUCCESS);
        EXPECT_EQ(level, (SQLUINTEGER)SQL_TXN_REPEATABLE_READ);
    }
}

// ---------------------------------------------------------------- disconnect

namespace {

int open_descriptors()
{
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (struct dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

} // namespace

TEST(Disconnect, ReconnectThroughTheDriverManagerTwoHundredTimes)
{
    qv::connection c;
    QV_ASSERT_SUCCEEDED(c.connect(qv::conn_str()), c.dbc);
    ASSERT_EQ(c.disconnect(), SQL_SUCCESS);
    const int before = open_descriptors();
    for (int i = 0; i < 200; i++) {
        QV_ASSERT_SUCCEEDED(c.connect(qv::conn_str(i % 2 ? "SQLMode='ANSI';" : "")), c.dbc) << "round " << i;
        if (i % 50 == 0) {
            qv::handle stmt = qv::alloc_stmt(c.dbc);   // left for SQLDisconnect to free
            ASSERT_TRUE(stmt);
            EXPECT_EQ(scalar(c.dbc, "select " + std::to_string(i)), std::to_string(i));
            stmt = qv::handle();
        }
        ASSERT_EQ(c.disconnect(), SQL_SUCCESS) << qv::describe(qv::diagnostics(c.dbc));
    }
    EXPECT_EQ(open_descriptors(), before);
}

// The driver library stays mapped after dlclose: unloading it would take the
// installer library it pulled in along, whose cached profile entries the
// leak checker would then report as lost.
#define QV_DLOPEN_FLAGS (RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)

// The driver's own entry points, loaded without the driver manager: the
// driver manager frees its driver handle at every disconnect, so only a
// direct caller can reuse one driver connection handle.
namespace {

struct direct_driver {
    void *lib = nullptr;
    decltype(&SQLAllocHandle) alloc = nullptr;
    decltype(&SQLFreeHandle) free_handle = nullptr;
    decltype(&SQLSetEnvAttr) set_env = nullptr;
    decltype(&SQLDriverConnect) connect = nullptr;
    decltype(&SQLDisconnect) disconnect = nullptr;
    decltype(&SQLGetConnectAttr) get_attr = nullptr;
    decltype(&SQLExecDirect) exec = nullptr;

    direct_driver()
    {
        const char *build = getenv("QV_BUILD_DIR");
        if (!build)
            return;
        lib = dlopen((std::string(build) + "/libqvmysql.so").c_str(), QV_DLOPEN_FLAGS);
        if (!lib)
            return;
        alloc = (decltype(alloc))dlsym(lib, "SQLAllocHandle");
        free_handle = (decltype(free_handle))dlsym(lib, "SQLFreeHandle");
        set_env = (decltype(set_env))dlsym(lib, "SQLSetEnvAttr");
        connect = (decltype(connect))dlsym(lib, "SQLDriverConnect");
        disconnect = (decltype(disconnect))dlsym(lib, "SQLDisconnect");
        get_attr = (decltype(get_attr))dlsym(lib, "SQLGetConnectAttr");
        exec = (decltype(exec))dlsym(lib, "SQLExecDirect");
    }
    ~direct_driver()
    {
        if (lib)
            dlclose(lib);
    }
    bool ok() const { return alloc && free_handle && set_env && connect && disconnect && get_attr && exec; }
    SQLUINTEGER uint_attr(SQLHDBC dbc, SQLINTEGER attr)
    {
        SQLUINTEGER v = 77;
        EXPECT_EQ(get_attr(dbc, attr, &v, 0, nullptr), SQL_SUCCESS) << attr;
        return v;
    }
};

} // namespace

TEST(Disconnect, SameDriverHandleConnectsAgainTwoHundredTimes)
{
    direct_driver d;
    ASSERT_TRUE(d.ok()) << dlerror();
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    ASSERT_EQ(d.alloc(SQL_HANDLE_ENV, nullptr, &env), SQL_SUCCESS);
    ASSERT_EQ(d.set_env(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0), SQL_SUCCESS);
    ASSERT_EQ(d.alloc(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
    EXPECT_EQ(d.uint_attr(dbc, SQL_ATTR_CONNECTION_DEAD), (SQLUINTEGER)SQL_CD_TRUE);
    EXPECT_EQ(d.uint_attr(dbc, SQL_ATTR_AUTO_IPD), 0u);   // 0 on a fresh handle

    const std::string cs = qv::conn_str();
    auto connect = [&] {
        return d.connect(dbc, nullptr, (SQLCHAR *)cs.c_str(), SQL_NTS, nullptr, 0, nullptr,
                         SQL_DRIVER_NOPROMPT);
    };
    ASSERT_EQ(connect(), SQL_SUCCESS);
    EXPECT_EQ(d.uint_attr(dbc, SQL_ATTR_CONNECTION_DEAD), (SQLUINTEGER)SQL_CD_FALSE);
    ASSERT_EQ(d.disconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(d.uint_attr(dbc, SQL_ATTR_CONNECTION_DEAD), (SQLUINTEGER)SQL_CD_TRUE);
    EXPECT_EQ(d.uint_attr(dbc, SQL_ATTR_AUTO_IPD), 1u);   // and 1 after a disconnect

    const int before = open_descriptors();
    for (int i = 0; i < 200; i++) {
        ASSERT_EQ(connect(), SQL_SUCCESS) << "round " << i;
        SQLHSTMT stmt = nullptr;   // left for SQLDisconnect to free
        ASSERT_EQ(d.alloc(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
        if (i % 20 == 0) {
            ASSERT_TRUE(SQL_SUCCEEDED(d.exec(stmt, (SQLCHAR *)"select 1", SQL_NTS))) << "round " << i;
        }
        ASSERT_EQ(d.disconnect(dbc), SQL_SUCCESS) << "round " << i;
    }
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(d.free_handle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
    EXPECT_EQ(d.free_handle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}

// ---------------------------------------------------------------- driver_test

namespace {

// The prompt record's layout (16,452 bytes) as the setup library fills it.
struct prompt_record {
    char text[13][1024];   // DSN UID PWD SERVER SOCKET DATABASE Entropy cs_client cs_results collation
                           // PrivateKeyFile CertificateFile PublicKeyFile
    int32_t numbers[15];   // PORT IPV6 ConvToUtf ConvWToUtf LogonTimeout ConnectionTimeout RCVBUFFER
                           // Encrypt Compress TrustServerCertificate Text_Prepare NoCache ReqCharSet
                           // AnsiMode NTLMv2
    char SQLMode[1024];
    char WindowsUser[1024];
    int32_t Kerberos;
    char Principal[1024];
    int32_t NullDatetimes;
};
static_assert(sizeof(prompt_record) == 16452, "prompt record size");

enum { UID = 1, PWD = 2, SERVER = 3, DATABASE = 5 };
enum { PORT = 0 };

typedef int (*driver_test_fn)(void *record, char *message);

void put(char *field, const std::string &v) { strncpy(field, v.c_str(), 1023); }

} // namespace

TEST(DriverTest, GoodAndRefusedLogon)
{
    const char *build = getenv("QV_BUILD_DIR");
    ASSERT_NE(build, nullptr);
    std::string path = std::string(build) + "/libqvmysql.so";
    void *lib = dlopen(path.c_str(), QV_DLOPEN_FLAGS);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto driver_test = (driver_test_fn)dlsym(lib, "driver_test");
    ASSERT_NE(driver_test, nullptr);

    const qv::server_info &s = qv::server();
    auto rec = std::make_unique<prompt_record>();
    memset(rec.get(), 0, sizeof *rec);
    put(rec->text[UID], s.user);
    put(rec->text[PWD], s.password);
    put(rec->text[SERVER], s.host);
    put(rec->text[DATABASE], s.database);
    rec->numbers[PORT] = s.port;

    char message[1024];
    memset(message, 'x', sizeof message);
    EXPECT_EQ(driver_test(rec.get(), message), 0) << message;
    std::string version = qv::server_rows("SELECT VERSION()")[0][0];
    EXPECT_EQ(std::string(message), "Connected. Server Version: " + version);

    put(rec->text[PWD], "not the password");
    memset(message, 'x', sizeof message);
    EXPECT_EQ(driver_test(rec.get(), message), 1);
    // the server's message behind the driver's prefix, between quotes
    const std::string text(message);
    const std::string head = "Failed to connect: '[Quorvane][MySQL Driver][MySQL]Access denied for user '" +
                             s.user + "'@'";
    EXPECT_EQ(text.substr(0, head.size()), head) << text;
    const std::string tail = "' (using password: YES)'";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
    dlclose(lib);
}
