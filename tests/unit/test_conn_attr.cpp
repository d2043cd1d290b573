// Connection attributes and their ODBC 2 option forms on a connection that is
// not connected: the refusals, the widths of the values written, the
// packet-size bounds, the catalog copy-out and SQLEndTran's local answers.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "connect/my_conn_attr.h"
#include "frame/my_handle.h"

namespace {

struct conn_attr : ::testing::Test {
    SQLHENV env;
    SQLHDBC dbc;
    my_connection *c = nullptr;
    void SetUp() override
    {
        SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        c = as_conn(dbc);
    }
    void TearDown() override { SQLFreeHandle(SQL_HANDLE_ENV, env); }

    // "STATE text" of every record, joined by " | ".
    std::string diags(SQLSMALLINT type = SQL_HANDLE_DBC, SQLHANDLE h = nullptr)
    {
        std::string out;
        SQLCHAR st[6], msg[512];
        for (SQLSMALLINT i = 1; SQLGetDiagRec(type, h ? h : dbc, i, st, nullptr, msg, sizeof msg,
                                              nullptr) == SQL_SUCCESS;
             i++)
            out += std::string(out.empty() ? "" : " | ") + (const char *)st + " " + (const char *)msg;
        return out;
    }
    std::string states(SQLSMALLINT type = SQL_HANDLE_DBC, SQLHANDLE h = nullptr)
    {
        std::string out;
        SQLCHAR st[6];
        for (SQLSMALLINT i = 1;
             SQLGetDiagRec(type, h ? h : dbc, i, st, nullptr, nullptr, 0, nullptr) == SQL_SUCCESS; i++)
            out += std::string(out.empty() ? "" : ",") + (const char *)st;
        return out;
    }
    void set_database(const std::u16string &name)
    {
        ms_free(c->current_database);
        c->current_database = ms_from_utf16((const uint16_t *)name.data(), (int64_t)name.size());
    }
};

const std::string prefix = "[Quorvane][MySQL Driver][MySQL]";

} // namespace

// Every refusal of the four entry points, with its state and return code.
TEST_F(conn_attr, Refusals)
{
    enum { SET, GET, SET_OPT, GET_OPT };
    const struct {
        int kind;
        SQLINTEGER attr;
        SQLLEN value;
        int connected;
        SQLRETURN rc;
        const char *states;
    } cases[] = {
        {SET, 9999, 0, 0, SQL_ERROR, "HY092"},
        {SET, SQL_ATTR_ASYNC_DBC_FUNCTIONS_ENABLE, 1, 0, SQL_ERROR, "HY092"},
        {SET, 120, 0, 0, SQL_ERROR, "HY092"},
        {SET, SQL_ATTR_AUTO_IPD, 1, 0, SQL_ERROR, "HY092"},
        {SET, SQL_ATTR_CONNECTION_DEAD, 1, 0, SQL_ERROR, "HY092"},
        {SET, SQL_ATTR_TXN_ISOLATION, 3, 0, SQL_ERROR, "HY024"},
        {SET, SQL_ATTR_TXN_ISOLATION, 0, 0, SQL_ERROR, "HY024"},
        {SET, SQL_ATTR_PACKET_SIZE, 4096, 1, SQL_ERROR, "HY011"},
        {SET, SQL_ATTR_PACKET_SIZE, 100, 0, SQL_SUCCESS, "01S02"},
        {SET, SQL_ATTR_PACKET_SIZE, 20000000, 0, SQL_SUCCESS, "01S02"},
        {GET, SQL_ATTR_TRACE, 0, 0, SQL_ERROR, "HY000"},
        {GET, SQL_ATTR_TRANSLATE_OPTION, 0, 0, SQL_ERROR, "HY000"},
        {GET, SQL_ATTR_ANSI_APP, 0, 0, SQL_ERROR, "HY000"},
        {GET, 1061, 0, 0, SQL_ERROR, "HY092"},
        {GET, 9999, 0, 0, SQL_ERROR, "HY092"},
        {SET_OPT, SQL_TXN_ISOLATION, 3, 0, SQL_ERROR, "S1009"},
        {SET_OPT, SQL_PACKET_SIZE, 4096, 1, SQL_ERROR, "S1011"},
        {SET_OPT, SQL_PACKET_SIZE, 100, 0, SQL_SUCCESS, "01S02"},
        {SET_OPT, SQL_ATTR_CONNECTION_TIMEOUT, 5, 0, SQL_ERROR, "S1092"},
        {SET_OPT, SQL_ATTR_TRACE, 0, 0, SQL_ERROR, "S1092"},
        {SET_OPT, SQL_ATTR_RESET_CONNECTION, 1, 0, SQL_ERROR, "S1092"},
        {SET_OPT, SQL_ATTR_METADATA_ID, 1, 0, SQL_ERROR, "S1092"},
        {SET_OPT, 9999, 0, 0, SQL_ERROR, "S1092"},
        {GET_OPT, SQL_ATTR_CONNECTION_TIMEOUT, 0, 0, SQL_ERROR, "S1092"},
        {GET_OPT, SQL_ATTR_CONNECTION_DEAD, 0, 0, SQL_ERROR, "S1092"},
        {GET_OPT, 1061, 0, 0, SQL_ERROR, "S1092"},
    };
    for (const auto &k : cases) {
        c->connected = k.connected;
        SQLULEN v = 0;
        SQLRETURN rc = SQL_SUCCESS;
        switch (k.kind) {
        case SET: rc = SQLSetConnectAttr(dbc, k.attr, (SQLPOINTER)k.value, 0); break;
        case GET: rc = SQLGetConnectAttr(dbc, k.attr, &v, sizeof v, nullptr); break;
        case SET_OPT: rc = SQLSetConnectOption(dbc, (SQLUSMALLINT)k.attr, (SQLULEN)k.value); break;
        case GET_OPT: rc = SQLGetConnectOption(dbc, (SQLUSMALLINT)k.attr, &v); break;
        }
        EXPECT_EQ(rc, k.rc) << k.kind << " " << k.attr << " " << k.value;
        EXPECT_EQ(states(), k.states) << k.kind << " " << k.attr << " " << k.value;
    }
    c->connected = 0;
}

TEST_F(conn_attr, RefusalTexts)
{
    SQLULEN v;
    SQLSetConnectAttr(dbc, SQL_ATTR_PACKET_SIZE, (SQLPOINTER)100, 0);
    EXPECT_EQ(diags(), "01S02 " + prefix + "Option value changed");
    SQLGetConnectAttr(dbc, SQL_ATTR_TRACEFILE, &v, sizeof v, nullptr);
    EXPECT_EQ(diags(), "HY000 " + prefix + "General error: unexpected internal error in "
                       "SQLGetConnectAttr, unknown type 105");
    SQLSetConnectAttr(dbc, SQL_ATTR_TXN_ISOLATION, (SQLPOINTER)3, 0);
    EXPECT_EQ(diags(), "HY024 " + prefix + "Invalid argument value");
}

TEST_F(conn_attr, PacketSizeBounds)
{
    const struct {
        int option;
        SQLLEN value;
        int32_t stored;
    } cases[] = {
        {0, 100, 0},       {0, 511, 0},        {0, 512, 512},           {0, 4096, 4096},
        {0, 0xFFFFFF, 0xFFFFFF}, {0, 20000000, 0}, {1, 20000000, 20000000}, {1, 100, 0},
    };
    for (const auto &k : cases) {
        c->PacketSize = 0;
        if (k.option)
            EXPECT_EQ(SQLSetConnectOption(dbc, SQL_PACKET_SIZE, (SQLULEN)k.value), SQL_SUCCESS);
        else
            EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_PACKET_SIZE, (SQLPOINTER)k.value, 0), SQL_SUCCESS);
        EXPECT_EQ(c->PacketSize, k.stored) << k.option << " " << k.value;
    }
    // the wide form has no protocol maximum either
    c->PacketSize = 0;
    EXPECT_EQ(SQLSetConnectAttrW(dbc, SQL_ATTR_PACKET_SIZE, (SQLPOINTER)20000000, 0), SQL_SUCCESS);
    EXPECT_EQ(c->PacketSize, 20000000);
    SQLUINTEGER size = 0;
    SQLINTEGER len = 0;
    EXPECT_EQ(SQLGetConnectAttr(dbc, SQL_ATTR_PACKET_SIZE, &size, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(size, 20000000u);
    EXPECT_EQ(len, 4);
}

// Each value is written with the width ODBC gives it and nothing beyond:
// statement attributes as SQLULEN, connection attributes as SQLUINTEGER.
TEST_F(conn_attr, ValuesReadBackWithTheirWidths)
{
    struct {
        SQLINTEGER attr;
        SQLULEN set;     // set first unless ~0
        SQLULEN want;
        SQLINTEGER width;
    } cases[] = {
        {SQL_ATTR_QUERY_TIMEOUT, 30, 30, 8},
        {SQL_ATTR_MAX_ROWS, 0x100000001ull, 0x100000001ull, 8},
        {SQL_ATTR_NOSCAN, 1, 1, 8},
        {SQL_ATTR_MAX_LENGTH, 4096, 4096, 8},
        {SQL_ATTR_ASYNC_ENABLE, ~0ull, 0, 8},
        {SQL_ATTR_ROW_BIND_TYPE, 24, 24, 8},
        {SQL_ATTR_CURSOR_TYPE, ~0ull, SQL_CURSOR_FORWARD_ONLY, 8},
        {SQL_ATTR_CONCURRENCY, ~0ull, SQL_CONCUR_READ_ONLY, 8},
        {SQL_ATTR_KEYSET_SIZE, 7, 7, 8},
        {SQL_ROWSET_SIZE, ~0ull, 1, 8},
        {SQL_ATTR_SIMULATE_CURSOR, ~0ull, 2, 8},
        {SQL_ATTR_RETRIEVE_DATA, ~0ull, SQL_RD_ON, 8},
        {SQL_ATTR_USE_BOOKMARKS, ~0ull, 0, 8},
        {SQL_ATTR_CURSOR_SCROLLABLE, ~0ull, 0, 8},
        {SQL_ATTR_CURSOR_SENSITIVITY, ~0ull, SQL_INSENSITIVE, 8},
        {SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_ONLY, SQL_MODE_READ_ONLY, 4},
        {SQL_ATTR_AUTOCOMMIT, ~0ull, SQL_AUTOCOMMIT_ON, 4},
        {SQL_ATTR_LOGIN_TIMEOUT, 12, 12, 4},
        {SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE, SQL_TXN_SERIALIZABLE, 4},
        {SQL_ATTR_PACKET_SIZE, 8192, 8192, 4},
        {SQL_ATTR_CONNECTION_TIMEOUT, 9, 9, 4},
        {SQL_ATTR_AUTO_IPD, ~0ull, 0, 4},
        {SQL_ATTR_METADATA_ID, 1, 1, 4},
        {SQL_ATTR_ASYNC_DBC_FUNCTIONS_ENABLE, ~0ull, 0, 4},
        {SQL_ATTR_CONNECTION_DEAD, ~0ull, SQL_CD_TRUE, 4},
        {SQL_ATTR_QUIET_MODE, (SQLULEN)&env, (SQLULEN)&env, 8},
        {120, ~0ull, 0, 8},
    };
    for (const auto &k : cases) {
        if (k.set != ~0ull) {
            ASSERT_EQ(SQLSetConnectAttr(dbc, k.attr, (SQLPOINTER)k.set, 0), SQL_SUCCESS)
                << k.attr << " " << diags();
        }
        unsigned char buf[16];
        memset(buf, 0xA5, sizeof buf);
        SQLINTEGER len = -1;
        ASSERT_EQ(SQLGetConnectAttr(dbc, k.attr, buf, sizeof buf, &len), SQL_SUCCESS) << k.attr;
        EXPECT_EQ(len, k.width) << k.attr;
        SQLULEN got = 0;
        memcpy(&got, buf, (size_t)k.width);
        EXPECT_EQ(got, k.want) << k.attr;
        for (size_t i = (size_t)k.width; i < sizeof buf; i++)
            ASSERT_EQ(buf[i], 0xA5) << "attribute " << k.attr << " wrote byte " << i;
    }
    // the defaults reach the statements allocated afterwards
    SQLHSTMT stmt;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    EXPECT_EQ(as_stmt(stmt)->max_rows, (int64_t)0x100000001ll);
    EXPECT_EQ(as_stmt(stmt)->ard->bind_type, 24);
    EXPECT_EQ(as_stmt(stmt)->keyset_size, 7);
}

TEST_F(conn_attr, OptionFormsReadAndWrite)
{
    EXPECT_EQ(SQLSetConnectOption(dbc, SQL_MAX_ROWS, 0x100000002ull), SQL_SUCCESS);
    EXPECT_EQ(SQLSetConnectOption(dbc, SQL_QUERY_TIMEOUT, 15), SQL_SUCCESS);
    EXPECT_EQ(SQLSetConnectOption(dbc, SQL_TXN_ISOLATION, SQL_TXN_READ_COMMITTED), SQL_SUCCESS);
    EXPECT_EQ(SQLSetConnectOption(dbc, 1207, 1), SQL_SUCCESS);   // accepted, ignored
    EXPECT_EQ(SQLSetConnectOption(dbc, SQL_PACKET_SIZE, 30000000), SQL_SUCCESS);
    EXPECT_EQ(c->PacketSize, 30000000);
    EXPECT_EQ(SQLSetConnectOption(dbc, 1061, 0), SQL_SUCCESS);
    EXPECT_EQ(c->wchar_type, 0);

    const struct {
        SQLUSMALLINT option;
        SQLULEN want;
        size_t width;
    } cases[] = {
        {SQL_MAX_ROWS, 0x100000002ull, 8},   // SQLULEN in 64-bit ODBC
        {SQL_ROWSET_SIZE, 1, 8},
        {SQL_QUERY_TIMEOUT, 15, 4},
        {SQL_CONCURRENCY, SQL_CONCUR_READ_ONLY, 4},
        {SQL_TXN_ISOLATION, SQL_TXN_READ_COMMITTED, 4},
        {SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON, 4},
        {SQL_PACKET_SIZE, 30000000, 4},
    };
    for (const auto &k : cases) {
        unsigned char buf[16];
        memset(buf, 0xA5, sizeof buf);
        ASSERT_EQ(SQLGetConnectOption(dbc, k.option, buf), SQL_SUCCESS) << k.option;
        SQLULEN got = 0;
        memcpy(&got, buf, k.width);
        EXPECT_EQ(got, k.want) << k.option;
        for (size_t i = k.width; i < sizeof buf; i++)
            ASSERT_EQ(buf[i], 0xA5) << "option " << k.option << " wrote byte " << i;
    }
}

TEST_F(conn_attr, CurrentCatalogCopyOut)
{
    char buf[16];
    SQLINTEGER len = -1;
    // no current database: an empty string
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(len, 0);

    set_database(u"inventory");
    EXPECT_EQ(SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_STREQ(buf, "inventory");
    EXPECT_EQ(len, 9);
    EXPECT_EQ(SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, buf, 9, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(buf, "inventor");
    EXPECT_EQ(len, 9);
    EXPECT_EQ(states(), "01004");
    EXPECT_EQ(SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 9);

    // wide, UTF-16: lengths in bytes
    SQLWCHAR w[8];
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, w, sizeof w, &len),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, 18);
    EXPECT_EQ(std::u16string((const char16_t *)w), u"invento");
    SQLWCHAR wide[32];
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, wide, sizeof wide, &len), SQL_SUCCESS);
    EXPECT_EQ(std::u16string((const char16_t *)wide), u"inventory");

    // wide buffers carrying UTF-8 behave like the narrow form
    c->ConvWToUtf = 1;
    c->ConvToUtf = 1;
    set_database(u"caf\u00e9");
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_STREQ(buf, "caf\xc3\xa9");
    EXPECT_EQ(len, 5);
}

// SQLGetConnectOption has no buffer length: the qualifier goes into a
// 256-byte buffer, cut in bytes on a character boundary with 01000.
TEST_F(conn_attr, CurrentQualifierIsCutToTheOdbc2Buffer)
{
    char buf[300];
    set_database(std::u16string(300, u'd'));
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(SQLGetConnectOption(dbc, SQL_CURRENT_QUALIFIER, buf), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(strlen(buf), 255u);
    EXPECT_EQ(buf[256], 'x');
    EXPECT_EQ(diags(), "01000 " + prefix + "string data right truncated");

    // 200 two-byte characters are 400 bytes of UTF-8: nothing past byte 256
    c->ConvToUtf = 1;
    set_database(std::u16string(200, u'\u00e9'));
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(SQLGetConnectOption(dbc, SQL_CURRENT_QUALIFIER, buf), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(strlen(buf), 254u);   // 127 whole characters
    for (size_t i = 256; i < sizeof buf; i++)
        ASSERT_EQ(buf[i], 'x') << i;

    set_database(u"short");
    EXPECT_EQ(SQLGetConnectOption(dbc, SQL_CURRENT_QUALIFIER, buf), SQL_SUCCESS);
    EXPECT_STREQ(buf, "short");
    ms_free(c->current_database);
    c->current_database = nullptr;
    EXPECT_EQ(SQLGetConnectOption(dbc, SQL_CURRENT_QUALIFIER, buf), SQL_SUCCESS);
    EXPECT_STREQ(buf, "");
}

TEST_F(conn_attr, StoredAttributes)
{
    EXPECT_EQ(SQLSetConnectAttr(dbc, 1061, (SQLPOINTER)2, 0), SQL_SUCCESS);
    EXPECT_EQ(c->wchar_type, 2);
    for (SQLINTEGER ignored : {SQL_ATTR_TRACE, SQL_ATTR_TRACEFILE, SQL_ATTR_TRANSLATE_LIB,
                               SQL_ATTR_TRANSLATE_OPTION, SQL_ATTR_ANSI_APP, 1041, 1042, 1064, 30002})
        EXPECT_EQ(SQLSetConnectAttr(dbc, ignored, (SQLPOINTER)1, 0), SQL_SUCCESS) << ignored;
    c->auto_ipd = 1;
    EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_AUTO_IPD, (SQLPOINTER)0, 0), SQL_SUCCESS);
    EXPECT_EQ(c->auto_ipd, 0);
    // a window handle is kept as it is
    EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_QUIET_MODE, (SQLPOINTER)dbc, 0), SQL_SUCCESS);
    EXPECT_EQ(c->quiet_mode, (void *)dbc);
}

// Before connecting, autocommit and isolation are only stored: the
// post-logon sequence sends them. (The catalog needs a server.)
TEST_F(conn_attr, SessionAttributesBeforeConnecting)
{
    EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0),
              SQL_SUCCESS)
        << diags();
    EXPECT_EQ(c->autocommit, 0);
    EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_TXN_ISOLATION, (SQLPOINTER)SQL_TXN_READ_COMMITTED, 0),
              SQL_SUCCESS);
    EXPECT_EQ(c->txn_isolation, SQL_TXN_READ_COMMITTED);
    EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_MAX_ROWS, (SQLPOINTER)10, 0), SQL_SUCCESS);
    EXPECT_EQ(states(), "");
    EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, nullptr, SQL_NTS), SQL_ERROR);
    EXPECT_EQ(states(), "HY009");
}

TEST_F(conn_attr, ResetConnectionRestoresAttributeDefaults)
{
    SQLSetConnectAttr(dbc, SQL_ATTR_MAX_ROWS, (SQLPOINTER)5, 0);
    SQLSetConnectAttr(dbc, SQL_ATTR_CONCURRENCY, (SQLPOINTER)SQL_CONCUR_LOCK, 0);
    SQLSetConnectAttr(dbc, SQL_ATTR_CURSOR_TYPE, (SQLPOINTER)SQL_CURSOR_STATIC, 0);
    SQLSetConnectAttr(dbc, SQL_ATTR_ACCESS_MODE, (SQLPOINTER)SQL_MODE_READ_ONLY, 0);
    SQLSetConnectAttr(dbc, SQL_ATTR_METADATA_ID, (SQLPOINTER)1, 0);
    SQLSetConnectAttr(dbc, SQL_ATTR_TXN_ISOLATION, (SQLPOINTER)SQL_TXN_SERIALIZABLE, 0);
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, (SQLPOINTER)7, 0);
    c->statement_counter = 4;
    // settings from the DSN and what the session found out are not attributes
    c->NullDatetimes = 1;
    c->memsql = 1;
    c->collations = new std::vector<collation_entry>{{45, "utf8mb4"}};

    EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_RESET_CONNECTION, (SQLPOINTER)SQL_RESET_CONNECTION_YES, 0),
              SQL_SUCCESS);
    const stmt_attr_defaults &d = c->stmt_defaults;
    EXPECT_EQ(d.max_rows, 0);
    EXPECT_EQ(d.concurrency, SQL_CONCUR_READ_ONLY);
    EXPECT_EQ(d.cursor_type, 0);
    EXPECT_EQ(d.rowset_size, 1);
    EXPECT_EQ(d.retrieve_data, SQL_RD_ON);
    EXPECT_EQ(d.simulate_cursor, 2);
    EXPECT_EQ(d.cursor_sensitivity, SQL_INSENSITIVE);
    EXPECT_EQ(c->access_mode, 0);
    EXPECT_EQ(c->metadata_id, 0);
    EXPECT_EQ(c->txn_isolation, SQL_TXN_REPEATABLE_READ);
    EXPECT_EQ(c->statement_counter, 0);
    EXPECT_EQ(c->login_timeout, 7);
    EXPECT_EQ(c->NullDatetimes, 1);
    EXPECT_EQ(c->memsql, 1);
    ASSERT_NE(c->collations, nullptr);
    EXPECT_EQ(c->collations->size(), 1u);
}

TEST_F(conn_attr, EndTranLocalAnswers)
{
    // an environment is the driver manager's to spread over its connections
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_ENV, env, SQL_COMMIT), SQL_ERROR);
    EXPECT_EQ(diags(SQL_HANDLE_ENV, env), "HY000 " + prefix + "General error: connection type not SQL_HANDLE_DBC");
    // autocommit on: nothing to do, nothing sent (there is not even a socket)
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_SUCCESS);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK), SQL_SUCCESS);
    EXPECT_EQ(states(), "");
    c->autocommit = 0;
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, 7), SQL_ERROR);
    EXPECT_EQ(diags(), "HY000 " + prefix + "General error: completion type not SQL_COMMIT/SQL_ROLLBACK");
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, nullptr, SQL_COMMIT), SQL_INVALID_HANDLE);
}

TEST_F(conn_attr, AsyncCountRefusesEveryEntryPoint)
{
    c->async_count = 1;
    SQLULEN v = 0;
    EXPECT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, (SQLPOINTER)3, 0), SQL_ERROR);
    EXPECT_EQ(states(), "HY010");
    EXPECT_EQ(SQLGetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, &v, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(SQLSetConnectOption(dbc, SQL_LOGIN_TIMEOUT, 3), SQL_ERROR);
    EXPECT_EQ(SQLGetConnectOption(dbc, SQL_LOGIN_TIMEOUT, &v), SQL_ERROR);
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_ERROR);
    EXPECT_EQ(states(), "HY010");
    EXPECT_EQ(c->login_timeout, 0);
    c->async_count = 0;
}

TEST_F(conn_attr, ConnectionDeadFollowsTheLink)
{
    const struct {
        int connected, broken;
        SQLUINTEGER dead;
    } cases[] = {{0, 0, SQL_CD_TRUE}, {1, 0, SQL_CD_FALSE}, {1, 1, SQL_CD_TRUE}};
    for (const auto &k : cases) {
        c->connected = k.connected;
        c->link_broken = k.broken;
        SQLUINTEGER dead = 7;
        EXPECT_EQ(SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr), SQL_SUCCESS);
        EXPECT_EQ(dead, k.dead) << k.connected << k.broken;
    }
    c->connected = c->link_broken = 0;
}
