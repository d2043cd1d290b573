// Driver information as an application sees it through unixODBC:
// SQLGetFunctions, every information type of SQLGetInfo and SQLGetInfoW, and
// the type listings of SQLGetTypeInfo(W) under both ODBC behaviours.
//
// The driver manager stands between the application and the driver and
// answers some of these calls itself; each test says where.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/qv_support.h"

namespace {

// UTF-16 from a wide ODBC buffer to UTF-8, so wide answers compare with the
// same expected text as narrow ones.
std::string utf8(const SQLWCHAR *w, size_t units)
{
    std::string out;
    for (size_t i = 0; i < units; i++) {
        uint32_t c = w[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (w[++i] - 0xDC00);
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | c >> 6);
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | c >> 12);
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | c >> 18);
            out += (char)(0x80 | ((c >> 12) & 0x3F));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct connected {
    qv::connection c;
    explicit connected(const std::string &cs, SQLINTEGER behaviour = SQL_OV_ODBC3) : c(behaviour)
    {
        SQLRETURN rc = c.connect(cs);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(c.dbc));
    }
};

// ------------------------------------------------------------ SQLGetFunctions

// The functions the driver claims, by identifier, with the symbol that
// implements each (the ODBC 2 names unixODBC maps onto ODBC 3 calls have
// none of their own here: see mapped_by_dm).
const std::map<int, const char *> &driver_functions()
{
    static const std::map<int, const char *> f = {
        {1, "SQLAllocConnect"}, {2, "SQLAllocEnv"}, {3, "SQLAllocStmt"}, {4, "SQLBindCol"},
        {5, "SQLCancel"}, {6, "SQLColAttributes"}, {7, "SQLConnect"}, {8, "SQLDescribeCol"},
        {9, "SQLDisconnect"}, {10, "SQLError"}, {11, "SQLExecDirect"}, {12, "SQLExecute"},
        {13, "SQLFetch"}, {14, "SQLFreeConnect"}, {15, "SQLFreeEnv"}, {16, "SQLFreeStmt"},
        {17, "SQLGetCursorName"}, {18, "SQLNumResultCols"}, {19, "SQLPrepare"}, {20, "SQLRowCount"},
        {21, "SQLSetCursorName"}, {22, "SQLSetParam"}, {23, "SQLTransact"}, {24, "SQLBulkOperations"},
        {40, "SQLColumns"}, {41, "SQLDriverConnect"}, {42, "SQLGetConnectOption"}, {43, "SQLGetData"},
        {44, "SQLGetFunctions"}, {45, "SQLGetInfo"}, {46, "SQLGetStmtOption"}, {47, "SQLGetTypeInfo"},
        {48, "SQLParamData"}, {49, "SQLPutData"}, {50, "SQLSetConnectOption"}, {51, "SQLSetStmtOption"},
        {52, "SQLSpecialColumns"}, {53, "SQLStatistics"}, {54, "SQLTables"}, {55, "SQLBrowseConnect"},
        {56, "SQLColumnPrivileges"}, {58, "SQLDescribeParam"}, {59, "SQLExtendedFetch"},
        {60, "SQLForeignKeys"}, {61, "SQLMoreResults"}, {62, "SQLNativeSql"}, {63, "SQLNumParams"},
        {64, "SQLParamOptions"}, {65, "SQLPrimaryKeys"}, {66, "SQLProcedureColumns"},
        {67, "SQLProcedures"}, {68, "SQLSetPos"}, {69, "SQLSetScrollOptions"}, {70, "SQLTablePrivileges"},
        {72, "SQLBindParameter"}, {1001, "SQLAllocHandle"}, {1002, "SQLBindParam"},
        {1003, "SQLCloseCursor"}, {1004, "SQLCopyDesc"}, {1005, "SQLEndTran"}, {1006, "SQLFreeHandle"},
        {1007, "SQLGetConnectAttr"}, {1008, "SQLGetDescField"}, {1009, "SQLGetDescRec"},
        {1010, "SQLGetDiagField"}, {1011, "SQLGetDiagRec"}, {1012, "SQLGetEnvAttr"},
        {1014, "SQLGetStmtAttr"}, {1016, "SQLSetConnectAttr"}, {1017, "SQLSetDescField"},
        {1018, "SQLSetDescRec"}, {1019, "SQLSetEnvAttr"}, {1020, "SQLSetStmtAttr"},
        {1021, "SQLFetchScroll"},
    };
    return f;
}

// ODBC 2 calls unixODBC answers for a driver that has their ODBC 3
// replacement: SQLError (SQLGetDiagRec), SQLSetParam and SQLBindParam
// (SQLBindParameter), SQLTransact (SQLEndTran), SQLSetScrollOptions
// (SQLSetStmtAttr), SQLParamOptions (SQLSetStmtAttr).
const std::set<int> mapped_by_dm = {10, 22, 23, 64, 69, 1002};
// unixODBC's own functions, supported whatever the driver says.
const std::set<int> dm_own = {57 /* SQLDataSources */, 71 /* SQLDrivers */, 73 /* SQLAllocHandleStd */};

// unixODBC answers SQLGetFunctions itself. At connect time it asks the driver
// for the ODBC 3 bitmap and keeps a function only when the driver both claims
// it and exports its symbol; the functions it maps or owns are added. So the
// application sees the driver's set, narrowed to what the library exports,
// plus the manager's own. The driver's own answer, unfiltered, is proven by
// the unit tests.
TEST(DriverInfo, GetFunctionsThroughTheDriverManager)
{
    connected s(qv::conn_str());
    // The driver library as the ini file names it.
    std::string path;
    {
        std::vector<char> buf(4096);
        FILE *f = fopen((qv::server().odbcsysini + "/odbcinst.ini").c_str(), "r");
        ASSERT_TRUE(f);
        while (fgets(buf.data(), (int)buf.size(), f))
            if (strncmp(buf.data(), "Driver = ", 9) == 0)
                path.assign(buf.data() + 9, strcspn(buf.data() + 9, "\n"));
        fclose(f);
    }
    void *drv = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    ASSERT_TRUE(drv) << path << ": " << dlerror();

    std::set<int> expected(dm_own);
    for (const auto &f : driver_functions())
        if (mapped_by_dm.count(f.first) || dlsym(drv, f.second))
            expected.insert(f.first);

    SQLUSMALLINT bitmap[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE];
    SQLUSMALLINT array[100];
    memset(bitmap, 0xA5, sizeof bitmap);
    memset(array, 0xA5, sizeof array);
    ASSERT_EQ(SQLGetFunctions(s.c.dbc, SQL_API_ODBC3_ALL_FUNCTIONS, bitmap), SQL_SUCCESS);
    ASSERT_EQ(SQLGetFunctions(s.c.dbc, SQL_API_ALL_FUNCTIONS, array), SQL_SUCCESS);
    for (int id = 0; id < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16; id++) {
        SCOPED_TRACE(id);
        bool want = expected.count(id) > 0;
        EXPECT_EQ(SQL_FUNC_EXISTS(bitmap, id) != 0, want);
        if (id < 100) {
            EXPECT_EQ(array[id], want ? SQL_TRUE : SQL_FALSE);
        }
    }
    // Single identifiers. Every function the driver or the manager names is
    // answered; unixODBC refuses most numbers that name no ODBC function
    // (25-39, 74 and up outside its own extensions) with HY095 itself.
    for (int id = 1; id < 1100; id++) {
        SCOPED_TRACE(id);
        if (id == SQL_API_ODBC3_ALL_FUNCTIONS)
            continue;   // asks for the bitmap
        bool named = driver_functions().count(id) || dm_own.count(id);
        SQLUSMALLINT one = 0xA5;
        SQLRETURN rc = SQLGetFunctions(s.c.dbc, (SQLUSMALLINT)id, &one);
        if (rc == SQL_ERROR && !named) {
            EXPECT_EQ(qv::first_state(s.c.dbc), "HY095");
            continue;
        }
        ASSERT_EQ(rc, SQL_SUCCESS);
        EXPECT_EQ(one, expected.count(id) ? SQL_TRUE : SQL_FALSE);
    }
    // The answers that matter most to applications, spelled out.
    EXPECT_TRUE(SQL_FUNC_EXISTS(bitmap, SQL_API_SQLFETCHSCROLL));
    EXPECT_TRUE(bitmap[63] & (1 << 13));
    EXPECT_TRUE(SQL_FUNC_EXISTS(bitmap, SQL_API_SQLGETDESCFIELD));
    EXPECT_TRUE(SQL_FUNC_EXISTS(bitmap, SQL_API_SQLDESCRIBEPARAM));
    EXPECT_FALSE(SQL_FUNC_EXISTS(bitmap, 1013));
    EXPECT_FALSE(SQL_FUNC_EXISTS(bitmap, 1015));
    dlclose(drv);
}

// ------------------------------------------------------------ SQLGetInfo

enum info_kind { U16, U32, TEXT };

struct info_case {
    SQLUSMALLINT id;
    info_kind kind;
    SQLUINTEGER number;       // U16, U32
    std::string text;         // TEXT, UTF-8
    SQLUINTEGER wide_number;  // the wide call's number where it differs
    std::string wide_text;    // the wide call's text where it differs
};

info_case n16(SQLUSMALLINT id, SQLUINTEGER v) { return {id, U16, v, "", v, ""}; }
info_case n32(SQLUSMALLINT id, SQLUINTEGER v) { return {id, U32, v, "", v, ""}; }
info_case txt(SQLUSMALLINT id, const std::string &t) { return {id, TEXT, 0, t, 0, t}; }

const char KEYWORDS[] =
    "BREAK,BROWSE,BULK,CHECKPOINT,CLUSTERED,COMMITTED,COMPUTE,CONFIRM,CONTROLROW,DATABASE,DBCC,DISK,"
    "DISTRIBUTED,DUMMY,DUMP,ERRLVL,ERROREXIT,EXIT,FILE,FILLFACTOR,FLOPPY,HOLDLOCK,IDENTITY_INSERT,"
    "IDENTITYCOL,IF,KILL,LINENO,LOAD,MIRROREXIT,NONCLUSTERED,OFF,OFFSETS,ONCE,OVER,PERCENT,PERM,"
    "PERMANENT,PLAN,PRINT,PROC,PROCESSEXIT,RAISERROR,READ,READTEXT,RECONFIGURE,REPEATABLE,RETURN,"
    "ROWCOUNT,RULE,SAVE,SERIALIZABLE,SETUSER,SHUTDOWN,STATISTICS,TAPE,TEMP,TEXTSIZE,TOP,TRAN,TRIGGER,"
    "TRUNCATE,TSEQUEL,UNCOMMITTED,UPDATETEXT,USE,WAITFOR,WHILE,WRITETEXT";

// '#', '$' and the Latin-1 letters, in UTF-8: the logon to a utf8mb4 server
// makes the connection's narrow text UTF-8.
std::string special_characters()
{
    std::vector<SQLWCHAR> w = {'#', '$'};
    for (SQLWCHAR u = 0xC0; u <= 0xFF; u++)
        if (u != 0xD7 && u != 0xF7)
            w.push_back(u);
    return utf8(w.data(), w.size());
}

// Every information type the driver answers, as the application receives it
// through unixODBC, for a connection through the test DSN.
std::vector<info_case> info_cases()
{
    const qv::server_info &srv = qv::server();
    std::vector<info_case> v;
    for (SQLUSMALLINT id : {0, 12, 22, 84, 97, 99, 116, 1024, 1 /* NoCache off */})
        v.push_back(n16(id, 0));
    for (SQLUSMALLINT id : {15, 75, 85, 114})
        v.push_back(n16(id, 1));
    for (SQLUSMALLINT id : {9, 23, 24, 74, 88, 46 /* MariaDB announces transactions */})
        v.push_back(n16(id, 2));
    v.push_back(n16(28, 3));
    v.push_back(n16(93, 4));
    v.push_back(n16(98, 16));
    v.push_back(n16(106, 32));
    for (SQLUSMALLINT id : {30, 31, 32, 33, 34, 35, 107})
        v.push_back(n16(id, 64));
    v.push_back({SQL_MAX_IDENTIFIER_LEN, U16, 128, "", 64, ""});
    v.push_back(n16(101, 1024));
    v.push_back(n16(100, 4096));

    for (SQLUSMALLINT id : {57, 59, 66, 79, 80, 83, 117, 119, 123, 124, 127, 128, 129, 130, 133, 136,
                            137, 138, 139, 140, 142, 144, 145, 147, 150, 151, 155, 156, 157, 159, 167,
                            168, 1029, 10023})
        v.push_back(n32(id, 0));
    for (SQLUSMALLINT id : {8, 78, 118, 132, 141, 143, 146, 153, 154, 10022})
        v.push_back(n32(id, 1));
    for (SQLUSMALLINT id : {26, 120, 166, 10001, 10021})
        v.push_back(n32(id, 2));
    for (SQLUSMALLINT id : {48, 96, 131, 134, 148, 152, 170})
        v.push_back(n32(id, 3));
    v.push_back(n32(164, 6));
    for (SQLUSMALLINT id : {51, 92, 160, 172})
        v.push_back(n32(id, 7));
    v.push_back(n32(81, 11));
    for (SQLUSMALLINT id : {43, 72, 121, 163, 165})
        v.push_back(n32(id, 15));
    v.push_back(n32(158, 16));
    v.push_back(n32(162, 16));
    v.push_back(n32(44, 23));
    v.push_back(n32(91, 31));
    v.push_back(n32(95, 31));
    v.push_back(n32(169, 64));
    v.push_back(n32(82, 82));
    v.push_back(n32(115, 127));
    v.push_back(n32(65003, 127));
    v.push_back(n32(109, 511));
    v.push_back(n32(110, 511));
    v.push_back(n32(161, 858));
    v.push_back(n32(102, 900));
    v.push_back(n32(104, 8060));
    v.push_back(n32(86, 39017));
    for (SQLUSMALLINT id : {105, 108, 112})
        v.push_back(n32(id, 524288));
    v.push_back(n32(71, 0x40C00));
    v.push_back(n32(50, 0x4FFFFF));
    v.push_back(n32(52, 0x1FFFFF));
    v.push_back(n32(49, 0xFFFFFF));
    v.push_back(n32(149, 0x73BFF4));
    for (SQLUSMALLINT id : {53, 55, 58, 61, 63, 65, 68})
        v.push_back(n32(id, 0xA07D7F));
    v.push_back(n32(60, 0xA0717F));
    v.push_back(n32(64, 0xA0717F));
    v.push_back(n32(67, 0xA20D01));
    v.push_back(n32(54, 0xA46D1F));
    v.push_back(n32(62, 0xE00301));
    v.push_back(n32(125, 0xE00301));
    v.push_back(n32(69, 0xE46D1F));
    v.push_back(n32(173, 0x1000001));
    for (SQLUSMALLINT id : {56, 70, 122, 126})
        v.push_back(n32(id, 0x1E67F7F));

    // From the connection: the DSN, the logon user, the database in use and
    // the server's version string.
    v.push_back(txt(SQL_DATA_SOURCE_NAME, srv.dsn));
    v.push_back(txt(SQL_USER_NAME, srv.user));
    v.push_back(txt(SQL_DATABASE_NAME, srv.database));
    v.push_back(txt(SQL_SERVER_NAME, srv.version));
    v.push_back(txt(SQL_DBMS_VER, srv.version));
    v.push_back(txt(SQL_IDENTIFIER_QUOTE_CHAR, "`"));
    v.push_back(txt(SQL_SPECIAL_CHARACTERS, special_characters()));
    // Fixed texts. SQL_ODBC_VER (10) is the driver manager's own version:
    // unixODBC answers it without asking the driver.
    v.push_back(txt(SQL_DRIVER_NAME, "libqvmysql.so"));
    v.push_back(txt(SQL_DRIVER_VER, "01.00.0014"));
    v.push_back(txt(SQL_ODBC_VER, "03.52"));
    v.push_back(txt(SQL_DRIVER_ODBC_VER, "03.52"));
    v.push_back(txt(SQL_DBMS_NAME, "MySQL"));
    v.push_back(txt(SQL_SEARCH_PATTERN_ESCAPE, "\\"));
    for (SQLUSMALLINT id : {11, 25, 90, 103})
        v.push_back(txt(id, "N"));
    for (SQLUSMALLINT id : {19, 20, 21, 27, 36, 37, 73, 87, 111, 113, 10002, 10003})
        v.push_back(txt(id, "Y"));
    v.push_back(txt(SQL_OUTER_JOINS, "F"));
    v.push_back(txt(SQL_SCHEMA_TERM, "owner"));
    v.push_back(txt(SQL_PROCEDURE_TERM, "stored procedure"));
    v.push_back(txt(SQL_CATALOG_NAME_SEPARATOR, "."));
    v.push_back(txt(SQL_CATALOG_TERM, "database"));
    v.push_back(txt(SQL_TABLE_TERM, "table"));
    v.push_back(txt(SQL_KEYWORDS, KEYWORDS));
    // unixODBC answers the wide call for SQL_XOPEN_CLI_YEAR itself, with its
    // own "1994"; the narrow call reaches the driver.
    v.push_back({SQL_XOPEN_CLI_YEAR, TEXT, 0, "1995", 0, "1994"});
    v.push_back(txt(SQL_COLLATION_SEQ, "ISO 8859-1"));
    return v;
}

// One information type through SQLGetInfo and SQLGetInfoW, both checked
// against the expected value: numbers with their 2- or 4-byte length, texts
// with their length in bytes (narrow) or in bytes of UTF-16 (wide).
void check_info(const qv::handle &dbc, const info_case &c)
{
    SCOPED_TRACE(testing::Message() << "info type " << c.id);
    for (int wide = 0; wide < 2; wide++) {
        SCOPED_TRACE(wide ? "SQLGetInfoW" : "SQLGetInfo");
        union {
            SQLUSMALLINT u16;
            SQLUINTEGER u32;
            char narrow[2048];
            SQLWCHAR w[2048];
        } buf;
        memset(&buf, 0xEE, sizeof buf);
        SQLSMALLINT len = -1;
        SQLRETURN rc = wide ? SQLGetInfoW(dbc, c.id, &buf, sizeof buf, &len)
                            : SQLGetInfo(dbc, c.id, &buf, sizeof buf, &len);
        ASSERT_EQ(rc, SQL_SUCCESS) << qv::describe(qv::diagnostics(dbc));
        SQLUINTEGER want = wide ? c.wide_number : c.number;
        switch (c.kind) {
        case U16:
            EXPECT_EQ(len, 2);
            EXPECT_EQ(buf.u16, want);
            break;
        case U32:
            EXPECT_EQ(len, 4);
            EXPECT_EQ(buf.u32, want);
            break;
        case TEXT:
            if (wide) {
                ASSERT_EQ(len % 2, 0);
                EXPECT_EQ(utf8(buf.w, len / 2), c.wide_text);
                EXPECT_EQ(buf.w[len / 2], 0) << "terminator";
            } else {
                EXPECT_EQ(std::string(buf.narrow, std::max<int>(len, 0)), c.text);
                EXPECT_EQ(buf.narrow[len], 0) << "terminator";
            }
            break;
        }
    }
}

TEST(DriverInfo, GetInfoEveryTypeNarrowAndWide)
{
    connected s(qv::dsn_conn_str());
    for (const info_case &c : info_cases())
        check_info(s.c.dbc, c);

    // The answers that follow the connection's settings.
    connected nc(qv::dsn_conn_str("NoCache=1;AnsiMode=1;"));
    check_info(nc.c.dbc, n16(SQL_MAX_CONCURRENT_ACTIVITIES, 1));
    check_info(nc.c.dbc, txt(SQL_IDENTIFIER_QUOTE_CHAR, "\""));
    // Connected by driver name, there is no data source name to give.
    connected nodsn(qv::conn_str());
    check_info(nodsn.c.dbc, txt(SQL_DATA_SOURCE_NAME, ""));
}

// What the driver refuses or cuts short, and the information types unixODBC
// keeps for itself.
TEST(DriverInfo, GetInfoTruncationAndRefusals)
{
    connected s(qv::dsn_conn_str());
    const qv::handle &dbc = s.c.dbc;

    // A string longer than the buffer: as much as fits and a terminator,
    // the full length, 01004.
    char narrow[5];
    memset(narrow, 'X', sizeof narrow);
    SQLSMALLINT len = -1;
    EXPECT_EQ(SQLGetInfo(dbc, SQL_DRIVER_NAME, narrow, sizeof narrow, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(narrow, "libq");
    EXPECT_EQ(len, 13);
    EXPECT_EQ(qv::first_state(dbc), "01004");

    SQLWCHAR wide[5];
    memset(wide, 0x58, sizeof wide);
    len = -1;
    EXPECT_EQ(SQLGetInfoW(dbc, SQL_DRIVER_NAME, wide, sizeof wide, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(utf8(wide, 4), "libq");
    EXPECT_EQ(wide[4], 0);
    EXPECT_EQ(len, 26);
    EXPECT_EQ(qv::first_state(dbc), "01004");

    // No buffer at all: only the length.
    len = -1;
    EXPECT_EQ(SQLGetInfo(dbc, SQL_KEYWORDS, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, (SQLSMALLINT)strlen(KEYWORDS));

    // Unknown to the driver: HYC00 from the driver, passed through.
    for (SQLUSMALLINT id : {(SQLUSMALLINT)9999, (SQLUSMALLINT)1000, (SQLUSMALLINT)176}) {
        SCOPED_TRACE(id);
        SQLUINTEGER v = 0;
        EXPECT_EQ(SQLGetInfo(dbc, id, &v, sizeof v, nullptr), SQL_ERROR);
        auto d = qv::diagnostics(dbc);
        ASSERT_FALSE(d.empty());
        EXPECT_EQ(d[0].sqlstate, "HYC00");
        EXPECT_EQ(d[0].text, "[Quorvane][MySQL Driver][MySQL]Optional feature not implemented");
        EXPECT_EQ(SQLGetInfoW(dbc, id, &v, sizeof v, nullptr), SQL_ERROR);
        EXPECT_EQ(qv::first_state(dbc), "HYC00");
    }

    // The driver's handles and the manager's version are unixODBC's to
    // answer: SQL_DRIVER_HDBC (3), SQL_DRIVER_HENV (4) and SQL_DRIVER_HLIB
    // (76) give pointers, SQL_DM_VER (171) its version; SQL_DRIVER_HSTMT (5)
    // and SQL_DRIVER_HDESC (135) want a handle in the value buffer and
    // refuse a null one with HY024. None reaches the driver.
    for (SQLUSMALLINT id : {3, 4, 76}) {
        SQLPOINTER p = nullptr;
        len = -1;
        EXPECT_EQ(SQLGetInfo(dbc, id, &p, sizeof p, &len), SQL_SUCCESS) << id;
        EXPECT_NE(p, nullptr) << id;
    }
    char dm[64] = "";
    EXPECT_EQ(SQLGetInfo(dbc, SQL_DM_VER, dm, sizeof dm, &len), SQL_SUCCESS);
    EXPECT_EQ(strncmp(dm, "03.52.", 6), 0) << dm;
    for (SQLUSMALLINT id : {5, 135}) {
        SQLPOINTER p = nullptr;
        EXPECT_EQ(SQLGetInfo(dbc, id, &p, sizeof p, &len), SQL_ERROR) << id;
        EXPECT_EQ(qv::first_state(dbc), "HY024") << id;
    }
}

} // namespace
