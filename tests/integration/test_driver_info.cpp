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
    for (SQLUSMALLINT id : {9, 23, 24, 74, 88})
        v.push_back(n16(id, 2));
    v.push_back(n16(28, 3));
    // MariaDB announces transactions, and commits them before DDL
    v.push_back(n16(SQL_TXN_CAPABLE, SQL_TC_DDL_COMMIT));
    v.push_back(n16(93, 4));
    v.push_back(n16(98, 16));
    v.push_back(n16(106, 32));
    for (SQLUSMALLINT id : {30, 31, 32, 33, 34, 35, 107})
        v.push_back(n16(id, 64));
    v.push_back({SQL_MAX_IDENTIFIER_LEN, U16, 128, "", 64, ""});
    v.push_back(n16(101, 1024));
    v.push_back(n16(100, 4096));

    for (SQLUSMALLINT id : {57, 59, 66, 79, 80, 83, 117, 119, 123, 124, 127, 128, 129, 130, 133, 136,
                            137, 138, 139, 140, 142, 144, 145, 150, 151, 155, 156, 157, 159, 1029,
                            10023, 78, 82})
        v.push_back(n32(id, 0));
    for (SQLUSMALLINT id : {118, 132, 141, 143, 146, 153, 154, 10022, 43, 10001})
        v.push_back(n32(id, 1));
    v.push_back(n32(167, 7));
    v.push_back(n32(8, 63));
    v.push_back(n32(147, 0x81));
    v.push_back(n32(168, 0x1081));
    for (SQLUSMALLINT id : {26, 120, 166, 10021})
        v.push_back(n32(id, 2));
    for (SQLUSMALLINT id : {48, 96, 131, 134, 148, 152, 170})
        v.push_back(n32(id, 3));
    v.push_back(n32(164, 6));
    for (SQLUSMALLINT id : {51, 92, 160, 172})
        v.push_back(n32(id, 7));
    v.push_back(n32(81, 11));
    for (SQLUSMALLINT id : {72, 121, 163, 165})
        v.push_back(n32(id, 15));
    v.push_back(n32(158, 16));
    v.push_back(n32(162, 16));
    v.push_back(n32(44, 17));
    v.push_back(n32(91, 31));
    v.push_back(n32(95, 31));
    v.push_back(n32(169, 64));
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

// ------------------------------------------------------------ SQLGetTypeInfo

// The type rows, one per line: TYPE_NAME, DATA_TYPE, COLUMN_SIZE,
// LITERAL_PREFIX, LITERAL_SUFFIX, CREATE_PARAMS, NULLABLE, UNSIGNED_ATTRIBUTE,
// AUTO_UNIQUE_VALUE, LOCAL_TYPE_NAME, MINIMUM_SCALE, MAXIMUM_SCALE,
// SQL_DATA_TYPE, SQL_DATETIME_SUB, NUM_PREC_RADIX ("-" is NULL).
// CASE_SENSITIVE and FIXED_PREC_SCALE are 0, INTERVAL_PRECISION NULL and
// SEARCHABLE 3 (0 for float) in every row.
const char *const TYPE_ROWS[] = {
    "bit|-7|1|-|-|-|1|-|-|bit(1)|-|-|-7|-|-",
    "tinyint|-6|3|-|-|-|1|0|0|tinyint|-|-|-6|-|10",
    "tinyint unsigned|-6|3|-|-|-|1|1|0|tinyint unsigned|-|-|-6|-|10",
    "tinyint auto_increment|-6|3|-|-|-|0|0|1|tinyint auto_increment|-|-|-6|-|10",
    "tinyint unsigned auto_increment|-6|3|-|-|-|0|1|1|tinyint unsigned auto_increment|-|-|-6|-|10",
    "bigint|-5|19|-|-|-|1|0|0|bigint|-|-|-5|-|10",
    "bigint unsigned|-5|20|-|-|-|1|1|0|bigint unsigned|-|-|-5|-|10",
    "bigint auto_increment|-5|19|-|-|-|0|0|1|bigint auto_increment|-|-|-5|-|10",
    "bigint unsigned auto_increment|-5|20|-|-|-|0|1|1|bigint unsigned auto_increment|-|-|-5|-|10",
    "long varbinary|-4|16777215|0x|-|-|1|-|-|mediumblob|-|-|-4|-|-",
    "blob|-4|65535|'|'|-|1|-|-|binary large object (0-65535)|-|-|-4|-|-",
    "longblob|-4|2147483647|'|'|-|1|-|-|binary large object, use mediumblob instead|-|-|-4|-|-",
    "tinyblob|-4|255|'|'|-|1|-|-|binary large object (0-255)|-|-|-4|-|-",
    "mediumblob|-4|16777215|'|'|-|1|-|-|binary large object|-|-|-4|-|-",
    "varbinary|-3|255|'|'|length|1|-|-|varbinary|-|-|-3|-|-",
    "binary|-2|255|'|'|length|1|-|-|binary|-|-|-2|-|-",
    "long varchar|-1|16777215|'|'|-|1|-|-|mediumtext|-|-|-1|-|-",
    "text|-1|65535|'|'|-|1|-|-|text(0-65535)|-|-|-1|-|-",
    "mediumtext|-1|16777215|'|'|-|1|-|-|mediumtext|-|-|-1|-|-",
    "longtext|-1|2147483647|'|'|-|1|-|-|longtext|-|-|-1|-|-",
    "tinytext|-1|255|'|'|-|1|-|-|tinytext|-|-|-1|-|-",
    "char|1|255|'|'|length|1|-|-|char|-|-|1|-|-",
    "numeric|2|19|-|-|precision,scale|1|0|0|numeric|0|19|2|-|10",
    "decimal|3|19|-|-|precision,scale|1|0|0|decimal|0|19|3|-|10",
    "integer|4|10|-|-|-|1|0|0|integer|-|-|4|-|10",
    "integer unsigned|4|10|-|-|-|1|1|0|integer unsigned|-|-|4|-|10",
    "int|4|10|-|-|-|1|0|0|integer|-|-|4|-|10",
    "int unsigned|4|10|-|-|-|1|1|0|integer unsigned|-|-|4|-|10",
    "mediumint|4|7|-|-|-|1|0|0|Medium integer|-|-|4|-|10",
    "mediumint unsigned|4|8|-|-|-|1|1|0|Medium integer unsigned|-|-|4|-|10",
    "integer auto_increment|4|10|-|-|-|0|0|1|integer auto_increment|-|-|4|-|10",
    "integer unsigned auto_increment|4|10|-|-|-|0|1|1|integer unsigned auto_increment|-|-|4|-|10",
    "int auto_increment|4|10|-|-|-|0|0|1|integer auto_increment|-|-|4|-|10",
    "int unsigned auto_increment|4|10|-|-|-|0|1|1|integer unsigned auto_increment|-|-|4|-|10",
    "mediumint auto_increment|4|7|-|-|-|0|0|1|Medium integer auto_increment|-|-|4|-|10",
    "mediumint unsigned auto_increment|4|8|-|-|-|0|1|1|Medium integer unsigned auto_increment|-|-|4|-|10",
    "smallint|5|5|-|-|-|1|0|0|smallint|-|-|5|-|10",
    "smallint unsigned|5|5|-|-|-|1|1|0|smallint unsigned|-|-|5|-|10",
    "smallint auto_increment|5|5|-|-|-|0|0|1|smallint auto_increment|-|-|5|-|10",
    "smallint unsigned auto_increment|5|5|-|-|-|0|1|1|smallint unsigned auto_increment|-|-|5|-|10",
    "double|6|15|-|-|-|1|0|0|double|0|4|6|-|10",
    "double auto_increment|6|15|-|-|-|0|0|1|double auto_increment|0|4|6|-|10",
    "float|7|7|-|-|-|1|0|0|float|0|2|7|-|10",
    "float auto_increment|7|7|-|-|-|0|0|1|float auto_increment|0|2|7|-|10",
    "double|8|15|-|-|-|1|0|0|double|0|4|8|-|10",
    "double auto_increment|8|15|-|-|-|0|0|1|double auto_increment|0|4|8|-|10",
    "year|5|4|-|-|-|1|0|0|year|-|-|5|-|10",
    "time|1|10|'|'|fractional precision|1|0|-|time|0|6|1|-|-",
    "varchar|12|255|'|'|length|1|-|-|varchar|-|-|12|-|-",
    "datetime|93|26|'|'|fractional precision|1|-|-|datetime|0|6|9|93|-",
    "timestamp|93|26|'|'|fractional precision|1|-|-|timestamp|0|6|9|93|-",
    "date|91|10|'|'|-|1|-|-|date|-|-|9|91|-",
    "datetime|11|26|'|'|fractional precision|1|-|-|datetime|0|6|9|11|-",
    "timestamp|11|26|'|'|fractional precision|1|-|-|timestamp|0|6|9|11|-",
    "date|9|10|'|'|-|1|-|-|date|-|-|9|9|-",
    // the wide call's Unicode rows
    "text|-10|65535|'|'|-|1|-|-|text(0-65535)|-|-|-10|-|-",
    "mediumtext|-10|16777215|'|'|-|1|-|-|mediumtext|-|-|-10|-|-",
    "longtext|-10|2147483647|'|'|-|1|-|-|longtext|-|-|-10|-|-",
    "tinytext|-10|255|'|'|-|1|-|-|tinytext|-|-|-10|-|-",
    "char|-8|255|'|'|length|1|-|-|char|-|-|-8|-|-",
    "varchar|-9|255|'|'|length|1|-|-|varchar|-|-|-9|-|-",
};
enum { R_LONG_VARCHAR = 16, R_TEXT = 17, R_TINYTEXT = 20, R_CHAR = 21, R_NUMERIC = 22,
       R_DOUBLE8_AI = 45, R_YEAR, R_TIME, R_VARCHAR, R_DT3, R_TS3, R_DATE3, R_DT2, R_TS2, R_DATE2,
       R_WTEXT, R_WTINYTEXT = R_WTEXT + 3, R_WCHAR, R_WVARCHAR, R_COUNT };
static_assert(R_COUNT == sizeof TYPE_ROWS / sizeof TYPE_ROWS[0], "row names out of step");

using row = std::vector<std::string>;

// A table row as the 19 column values of the result.
row full_row(int i)
{
    std::vector<std::string> c;
    std::string line = TYPE_ROWS[i];
    for (size_t start = 0;;) {
        size_t bar = line.find('|', start);
        c.push_back(line.substr(start, bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    const char *searchable = c[0] == "float" || c[0] == "float auto_increment" ? "0" : "3";
    return {c[0], c[1], c[2],  c[3],  c[4],  c[5],  c[6],  "0",   searchable, c[7],
            "0",  c[8], c[9],  c[10], c[11], c[12], c[13], c[14], "-"};
}

void add_range(std::vector<int> &v, int first, int last)
{
    for (int i = first; i <= last; i++)
        v.push_back(i);
}

// The SQL_ALL_TYPES rows in the order the listing names them.
std::vector<int> listing(bool odbc3, bool wide)
{
    std::vector<int> v;
    int dt[] = {odbc3 ? R_DT3 : R_DT2, odbc3 ? R_TS3 : R_TS2, odbc3 ? R_DATE3 : R_DATE2};
    if (!wide) {
        add_range(v, 0, R_DOUBLE8_AI);
        v.push_back(R_YEAR);
        v.push_back(R_TIME);
        if (odbc3)
            v.push_back(R_VARCHAR);
        v.insert(v.end(), dt, dt + 3);
        if (!odbc3)
            v.push_back(R_VARCHAR);
        return v;
    }
    add_range(v, 0, R_LONG_VARCHAR);
    add_range(v, R_TEXT, R_TINYTEXT);
    add_range(v, R_WTEXT, R_WTINYTEXT);
    v.push_back(R_CHAR);
    v.push_back(R_WCHAR);
    add_range(v, R_NUMERIC, R_DOUBLE8_AI);
    v.push_back(R_YEAR);
    v.push_back(R_TIME);
    v.insert(v.end(), dt, dt + 3);
    v.push_back(R_VARCHAR);
    v.push_back(R_WVARCHAR);
    return v;
}

// What the application must receive: the listing's rows whose DATA_TYPE is
// the type asked for (the date/time codes of either ODBC version name the
// behaviour's own type), ordered on DATA_TYPE as ODBC requires, rows of one
// DATA_TYPE in the listing's order.
std::vector<row> expected_types(SQLSMALLINT data_type, bool odbc3, bool wide)
{
    int want = data_type;
    if (data_type == SQL_DATE || data_type == SQL_TYPE_DATE)
        want = odbc3 ? SQL_TYPE_DATE : SQL_DATE;
    if (data_type == SQL_TIMESTAMP || data_type == SQL_TYPE_TIMESTAMP)
        want = odbc3 ? SQL_TYPE_TIMESTAMP : SQL_TIMESTAMP;
    if (data_type == SQL_TIME || data_type == SQL_TYPE_TIME)
        want = 9999;   // no time type is listed under its own code
    std::vector<row> out;
    for (int i : listing(odbc3, wide)) {
        row r = full_row(i);
        if (data_type == SQL_ALL_TYPES || std::stoi(r[1]) == want)
            out.push_back(r);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const row &a, const row &b) { return std::stoi(a[1]) < std::stoi(b[1]); });
    return out;
}

// Every row and column of the open result, as text ("-" for NULL), read
// with SQL_C_CHAR or SQL_C_WCHAR.
std::vector<row> read_rows(const qv::handle &stmt, bool wide)
{
    std::vector<row> out;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
        row r;
        for (SQLUSMALLINT col = 1; col <= 19; col++) {
            SQLWCHAR w[128];
            char n[128];
            SQLLEN ind = 0;
            SQLRETURN g = wide ? SQLGetData(stmt, col, SQL_C_WCHAR, w, sizeof w, &ind)
                               : SQLGetData(stmt, col, SQL_C_CHAR, n, sizeof n, &ind);
            EXPECT_EQ(g, SQL_SUCCESS) << qv::describe(qv::diagnostics(stmt));
            if (ind == SQL_NULL_DATA)
                r.push_back("-");
            else
                r.push_back(wide ? utf8(w, ind / sizeof(SQLWCHAR)) : std::string(n, ind));
        }
        out.push_back(r);
    }
    EXPECT_EQ(rc, SQL_NO_DATA) << qv::describe(qv::diagnostics(stmt));
    return out;
}

std::string show(const std::vector<row> &rows)
{
    std::string s;
    for (const row &r : rows) {
        for (const std::string &c : r)
            s += c + "|";
        s += "\n";
    }
    return s;
}

TEST(DriverInfo, GetTypeInfoRowsNarrowWideOdbc2And3)
{
    // The result's columns, as SQLDescribeCol reports them.
    const char *const names[19] = {"TYPE_NAME", "DATA_TYPE", "COLUMN_SIZE", "LITERAL_PREFIX",
                                   "LITERAL_SUFFIX", "CREATE_PARAMS", "NULLABLE", "CASE_SENSITIVE",
                                   "SEARCHABLE", "UNSIGNED_ATTRIBUTE", "FIXED_PREC_SCALE",
                                   "AUTO_UNIQUE_VALUE", "LOCAL_TYPE_NAME", "MINIMUM_SCALE",
                                   "MAXIMUM_SCALE", "SQL_DATA_TYPE", "SQL_DATETIME_SUB",
                                   "NUM_PREC_RADIX", "INTERVAL_PRECISION"};
    const SQLSMALLINT types[19] = {12, 5, 4, 12, 12, 12, 5, 5, 5, 5, 5, 5, 12, 5, 5, 5, 5, 4, 5};
    const SQLSMALLINT always[] = {1, 2, 7, 8, 9, 11, 16};   // never NULL

    const SQLSMALLINT asked[] = {SQL_ALL_TYPES, SQL_LONGVARBINARY, SQL_LONGVARCHAR, SQL_WLONGVARCHAR,
                                 SQL_CHAR, SQL_WCHAR, SQL_VARCHAR, SQL_WVARCHAR, SQL_INTEGER,
                                 SQL_SMALLINT, SQL_DOUBLE, SQL_REAL, SQL_DATE, SQL_TYPE_TIMESTAMP,
                                 SQL_TYPE_TIME, SQL_BINARY, SQL_BIT};
    for (SQLINTEGER behaviour : {SQL_OV_ODBC3, SQL_OV_ODBC2}) {
        connected s(qv::conn_str(), behaviour);
        qv::handle stmt = qv::alloc_stmt(s.c.dbc);
        ASSERT_TRUE(stmt);
        bool odbc3 = behaviour == SQL_OV_ODBC3;
        for (int wide = 0; wide < 2; wide++) {
            for (SQLSMALLINT t : asked) {
                SCOPED_TRACE(testing::Message() << "ODBC " << (odbc3 ? 3 : 2)
                                                << (wide ? " SQLGetTypeInfoW " : " SQLGetTypeInfo ") << t);
                SQLRETURN rc = wide ? SQLGetTypeInfoW(stmt, t) : SQLGetTypeInfo(stmt, t);
                ASSERT_EQ(rc, SQL_SUCCESS) << qv::describe(qv::diagnostics(stmt));
                if (t == SQL_ALL_TYPES) {
                    SQLSMALLINT cols = 0;
                    ASSERT_EQ(SQLNumResultCols(stmt, &cols), SQL_SUCCESS);
                    ASSERT_EQ(cols, 19);
                    for (SQLUSMALLINT c = 1; c <= 19; c++) {
                        char name[64];
                        SQLSMALLINT len, type, digits, nullable;
                        SQLULEN size;
                        ASSERT_EQ(SQLDescribeCol(stmt, c, (SQLCHAR *)name, sizeof name, &len, &type, &size,
                                                 &digits, &nullable),
                                  SQL_SUCCESS);
                        EXPECT_STREQ(name, names[c - 1]);
                        EXPECT_EQ(type, types[c - 1]) << name;
                        bool never_null = std::count(std::begin(always), std::end(always), c) > 0;
                        EXPECT_EQ(nullable, never_null ? SQL_NO_NULLS : SQL_NULLABLE) << name;
                    }
                }
                std::vector<row> want = expected_types(t, odbc3, wide);
                std::vector<row> got = read_rows(stmt, wide);
                EXPECT_EQ(got, want) << "got:\n" << show(got) << "want:\n" << show(want);
                SQLFreeStmt(stmt, SQL_CLOSE);
            }
        }
    }
}

// A few answers spelled out, so that a change of the expected-row rule above
// cannot hide a change of what applications see.
TEST(DriverInfo, GetTypeInfoLandmarks)
{
    struct {
        SQLINTEGER behaviour;
        int wide;
        SQLSMALLINT type;
        size_t rows;
        const char *first, *last;   // TYPE_NAME/DATA_TYPE
    } cases[] = {
        {SQL_OV_ODBC3, 0, SQL_ALL_TYPES, 52, "bit/-7", "timestamp/93"},
        {SQL_OV_ODBC2, 0, SQL_ALL_TYPES, 52, "bit/-7", "varchar/12"},
        {SQL_OV_ODBC3, 1, SQL_ALL_TYPES, 58, "text/-10", "timestamp/93"},
        {SQL_OV_ODBC3, 0, SQL_TYPE_DATE, 1, "date/91", "date/91"},
        {SQL_OV_ODBC2, 0, SQL_TYPE_DATE, 1, "date/9", "date/9"},
        {SQL_OV_ODBC3, 1, SQL_WVARCHAR, 1, "varchar/-9", "varchar/-9"},
        {SQL_OV_ODBC3, 0, SQL_TYPE_TIME, 0, "", ""},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.behaviour << " " << c.wide << " " << c.type);
        connected s(qv::conn_str(), c.behaviour);
        qv::handle stmt = qv::alloc_stmt(s.c.dbc);
        ASSERT_EQ(c.wide ? SQLGetTypeInfoW(stmt, c.type) : SQLGetTypeInfo(stmt, c.type), SQL_SUCCESS);
        std::vector<row> got = read_rows(stmt, c.wide);
        ASSERT_EQ(got.size(), c.rows);
        if (!got.empty()) {
            EXPECT_EQ(got.front()[0] + "/" + got.front()[1], c.first);
            EXPECT_EQ(got.back()[0] + "/" + got.back()[1], c.last);
        }
    }
}

} // namespace
