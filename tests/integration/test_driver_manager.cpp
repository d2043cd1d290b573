// The driver as the unixODBC driver manager sees it through the private ini
// files: registered under its name with the built library, the test DSN
// listed, and environment and connection handles allocated through libodbc.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "support/qv_support.h"

namespace {

// "Driver=/path;Setup=...;" pairs of one SQLDrivers entry, NUL-separated.
std::string attribute(const SQLCHAR *attrs, SQLSMALLINT len, const std::string &key)
{
    std::string all(reinterpret_cast<const char *>(attrs), static_cast<size_t>(len));
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find('\0', pos);
        if (end == std::string::npos)
            end = all.size();
        std::string kv = all.substr(pos, end - pos);
        if (kv.compare(0, key.size() + 1, key + "=") == 0)
            return kv.substr(key.size() + 1);
        pos = end + 1;
    }
    return std::string();
}

} // namespace

TEST(DriverManager, UsesThePrivateIniFiles)
{
    const qv::server_info &s = qv::server();
    ASSERT_NE(getenv("ODBCSYSINI"), nullptr);
    EXPECT_EQ(std::string(getenv("ODBCSYSINI")), s.odbcsysini);
    ASSERT_NE(getenv("ODBCINI"), nullptr);
    EXPECT_EQ(std::string(getenv("ODBCINI")), s.odbcini);
}

TEST(DriverManager, ListsTheDriverWithTheBuiltLibrary)
{
    qv::handle env = qv::alloc_env();
    ASSERT_TRUE(env);
    std::string driver_path;
    bool found = false;
    SQLUSMALLINT dir = SQL_FETCH_FIRST;
    for (;;) {
        SQLCHAR name[256], attrs[2048];
        SQLSMALLINT name_len = 0, attrs_len = 0;
        SQLRETURN rc = SQLDrivers(env, dir, name, sizeof name, &name_len, attrs, sizeof attrs,
                                  &attrs_len);
        if (rc == SQL_NO_DATA)
            break;
        QV_ASSERT_SUCCEEDED(rc, env);
        dir = SQL_FETCH_NEXT;
        if (std::string(reinterpret_cast<char *>(name)) == "Quorvane MySQL ODBC Driver") {
            found = true;
            driver_path = attribute(attrs, attrs_len, "Driver");
        }
    }
    ASSERT_TRUE(found) << "SQLDrivers does not list the driver";
    EXPECT_NE(driver_path.find("libqvmysql.so"), std::string::npos) << driver_path;
    EXPECT_EQ(access(driver_path.c_str(), R_OK), 0) << driver_path;
}

TEST(DriverManager, ListsTheTestDsn)
{
    qv::handle env = qv::alloc_env();
    ASSERT_TRUE(env);
    SQLCHAR dsn[256], desc[256];
    SQLSMALLINT dsn_len = 0, desc_len = 0;
    bool found = false;
    SQLUSMALLINT dir = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDataSources(env, dir, dsn, sizeof dsn, &dsn_len, desc, sizeof desc,
                                        &desc_len))) {
        dir = SQL_FETCH_NEXT;
        if (std::string(reinterpret_cast<char *>(dsn)) == qv::server().dsn) {
            found = true;
            // unixODBC describes a DSN by the name of its driver.
            EXPECT_EQ(std::string(reinterpret_cast<char *>(desc)), "Quorvane MySQL ODBC Driver");
        }
    }
    EXPECT_TRUE(found);
}

TEST(DriverManager, AllocatesEnvironmentAndConnection)
{
    qv::connection c;
    ASSERT_TRUE(c.env);
    ASSERT_TRUE(c.dbc);
    SQLINTEGER version = 0;
    SQLRETURN rc = SQLGetEnvAttr(c.env, SQL_ATTR_ODBC_VERSION, &version, 0, nullptr);
    QV_ASSERT_SUCCEEDED(rc, c.env);
    EXPECT_EQ(version, SQL_OV_ODBC3);
}
