// The connect entry points reached through unixODBC's driver manager: the
// driver finds its settings in the private ini files and reports a missing
// server with the natives of the narrow and wide forms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

const char *const NO_SERVER = "server name not specified";

bool names_no_server(const std::vector<qv::diag_record> &records)
{
    for (const qv::diag_record &r : records)
        if (r.text.find(NO_SERVER) != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(ConnectSettings, NoServerThroughTheDriverManager)
{
    const std::string cs = "DRIVER={" + qv::server().driver_name + "};UID=u;DATABASE=x";
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "SQLDriverConnectW" : "SQLDriverConnect");
        qv::connection c;
        ASSERT_TRUE(c.dbc);
        SQLRETURN rc;
        if (wide) {
            std::vector<SQLWCHAR> in(cs.begin(), cs.end());
            in.push_back(0);
            rc = SQLDriverConnectW(c.dbc, nullptr, in.data(), SQL_NTS, nullptr, 0, nullptr,
                                   SQL_DRIVER_NOPROMPT);
        } else {
            rc = SQLDriverConnect(c.dbc, nullptr, (SQLCHAR *)cs.c_str(), SQL_NTS, nullptr, 0,
                                  nullptr, SQL_DRIVER_NOPROMPT);
        }
        EXPECT_EQ(rc, SQL_ERROR);
        std::vector<qv::diag_record> d = qv::diagnostics(c.dbc);
        ASSERT_FALSE(d.empty());
        EXPECT_EQ(d[0].sqlstate, "HY000") << qv::describe(d);
        EXPECT_EQ(d[0].native, wide ? 61 : 68) << qv::describe(d);
        EXPECT_NE(d[0].text.find(std::string("General error: ") + NO_SERVER), std::string::npos)
            << qv::describe(d);
    }
}

// SQLConnect reads the server from the DSN in the driver manager's odbc.ini:
// whatever the logon makes of it, the server was found.
TEST(ConnectSettings, SqlConnectFindsTheServerInTheDsn)
{
    const qv::server_info &s = qv::server();
    qv::connection c;
    ASSERT_TRUE(c.dbc);
    SQLRETURN rc = SQLConnect(c.dbc, (SQLCHAR *)s.dsn.c_str(), SQL_NTS, (SQLCHAR *)s.user.c_str(),
                              SQL_NTS, (SQLCHAR *)s.password.c_str(), SQL_NTS);
    std::vector<qv::diag_record> d = qv::diagnostics(c.dbc);
    EXPECT_FALSE(names_no_server(d)) << qv::describe(d);
    if (SQL_SUCCEEDED(rc)) {
        EXPECT_EQ(SQLDisconnect(c.dbc), SQL_SUCCESS);
    } else {
        // the driver got as far as the logon, not stopped by the driver manager
        ASSERT_FALSE(d.empty());
        EXPECT_NE(d[0].text.find("[Quorvane]"), std::string::npos) << qv::describe(d);
    }
}

namespace {

// The user and database the connection is logged on with ("user" and
// "database"), or "" when the query fails.
std::string logged_on_as(const qv::handle &dbc)
{
    qv::handle st = qv::alloc_stmt(dbc);
    if (!st || !SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR *)"SELECT USER(), DATABASE()", SQL_NTS)) ||
        !SQL_SUCCEEDED(SQLFetch(st)))
        return "";
    char user[256] = "", db[256] = "";
    SQLLEN n;
    SQLGetData(st, 1, SQL_C_CHAR, user, sizeof user, &n);
    SQLGetData(st, 2, SQL_C_CHAR, db, sizeof db, &n);
    std::string u(user);
    return u.substr(0, u.find('@')) + " " + db;
}

} // namespace

// A DSN written with UID, PWD and DB (as unixODBC's documentation and most
// guides write it) logs on like one written with User, Password and
// Database; SQLConnect's empty user and password strings (PHP passes them)
// count as not given.
TEST(ConnectSettings, DsnWrittenEitherWayLogsOn)
{
    const qv::server_info &s = qv::server();
    const std::string want = s.user + " " + s.database;
    for (const std::string &dsn : {s.dsn, s.dsn + "_uid"}) {
        for (int how = 0; how < 3; how++) {
            static const char *const hows[] = {"SQLConnect with empty strings",
                                               "SQLConnect with null arguments",
                                               "SQLDriverConnect DSN="};
            SCOPED_TRACE(dsn + ": " + hows[how]);
            qv::connection c;
            ASSERT_TRUE(c.dbc);
            SQLRETURN rc;
            if (how == 2) {
                rc = c.connect("DSN=" + dsn + ";");
            } else {
                SQLCHAR *empty = how == 0 ? (SQLCHAR *)"" : nullptr;
                rc = SQLConnect(c.dbc, (SQLCHAR *)dsn.c_str(), SQL_NTS, empty, SQL_NTS, empty,
                                SQL_NTS);
                c.connected = SQL_SUCCEEDED(rc);
            }
            ASSERT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(c.dbc));
            EXPECT_EQ(logged_on_as(c.dbc), want);
        }
    }
}
