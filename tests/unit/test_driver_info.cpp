// Driver information: SQLGetFunctions in its three answer forms, SQLGetInfo
// and SQLGetInfoW over every information type (fixed numbers, fixed texts
// and the values the connection supplies), truncation, refusals, and
// SQLGetTypeInfo(W) read back from the internal result set's value holders.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "frame/my_handle.h"
#include "results/my_internalrs.h"

namespace {

std::string diag(SQLSMALLINT type, SQLHANDLE h, int rec = 1)
{
    SQLCHAR st[6] = "", msg[512] = "";
    if (SQLGetDiagRec(type, h, (SQLSMALLINT)rec, st, nullptr, msg, sizeof msg, nullptr) != SQL_SUCCESS)
        return "";
    return std::string((const char *)st) + " " + (const char *)msg;
}

struct info : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    void TearDown() override { env_release(env); }
};

/* ------------------------------------------------------------ SQLGetFunctions */

std::set<int> spec_functions()
{
    std::set<int> s;
    auto range = [&](int a, int b) {
        for (int i = a; i <= b; i++)
            s.insert(i);
    };
    range(1, 24);
    range(40, 56);
    range(58, 70);
    s.insert(72);
    range(1001, 1012);
    s.insert(1014);
    range(1016, 1021);
    return s;
}

} // namespace

TEST_F(info, GetFunctionsSingleIdentifiers)
{
    std::set<int> want = spec_functions();
    for (int id = 1; id < 1100; id++) {
        if (id == SQL_API_ODBC3_ALL_FUNCTIONS)
            continue;
        SQLUSMALLINT v = 0xAAAA;
        ASSERT_EQ(SQLGetFunctions(conn, (SQLUSMALLINT)id, &v), SQL_SUCCESS);
        EXPECT_EQ(v, want.count(id) ? SQL_TRUE : SQL_FALSE) << "function " << id;
    }
    SQLUSMALLINT v;
    SQLGetFunctions(conn, SQL_API_SQLCOPYDESC, &v);
    EXPECT_EQ(v, SQL_TRUE);
    SQLGetFunctions(conn, SQL_API_SQLDRIVERS, &v);
    EXPECT_EQ(v, SQL_FALSE);
}

TEST_F(info, GetFunctionsOdbc3BitmapAndOdbc2Array)
{
    std::set<int> want = spec_functions();
    std::vector<SQLUSMALLINT> words(SQL_API_ODBC3_ALL_FUNCTIONS_SIZE + 4, 0xFFFF);
    ASSERT_EQ(SQLGetFunctions(conn, SQL_API_ODBC3_ALL_FUNCTIONS, words.data()), SQL_SUCCESS);
    for (int id = 0; id < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16; id++)
        EXPECT_EQ(SQL_FUNC_EXISTS(words.data(), id), want.count(id) ? SQL_TRUE : SQL_FALSE) << id;
    EXPECT_TRUE(words[63] & (1 << 13));   // SQLFetchScroll, 1021
    EXPECT_EQ(words[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE], 0xFFFF) << "wrote past 250 words";

    std::vector<SQLUSMALLINT> arr(104, 0xFFFF);
    ASSERT_EQ(SQLGetFunctions(conn, SQL_API_ALL_FUNCTIONS, arr.data()), SQL_SUCCESS);
    for (int id = 0; id < 100; id++)
        EXPECT_EQ(arr[id], want.count(id) ? SQL_TRUE : SQL_FALSE) << id;
    EXPECT_EQ(arr[100], 0xFFFF) << "wrote past 100 words";
}

TEST_F(info, GetFunctionsRefusals)
{
    SQLUSMALLINT v;
    EXPECT_EQ(SQLGetFunctions(nullptr, SQL_API_SQLFETCH, &v), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLGetFunctions(env, SQL_API_SQLFETCH, &v), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLGetFunctions(conn, SQL_API_SQLFETCH, nullptr), SQL_ERROR);
    EXPECT_EQ(diag(SQL_HANDLE_DBC, conn),
              "HY009 [Quorvane][MySQL Driver][MySQL]Invalid use of null pointer");
}

/* ---------------------------------------------------------------- SQLGetInfo */

namespace {

struct num_case {
    int id;
    unsigned value;
};

const num_case u16_cases[] = {
    {0, 0},   {12, 0},  {22, 0},  {84, 0},  {97, 0},    {99, 0},   {116, 0},  {1024, 0},
    {15, 1},  {75, 1},  {85, 1},  {114, 1}, {9, 2},     {23, 2},   {24, 2},   {74, 2},
    {88, 2},  {28, 3},  {93, 4},  {98, 16}, {106, 32},  {30, 64},  {31, 64},  {32, 64},
    {33, 64}, {34, 64}, {35, 64}, {107, 64}, {101, 1024}, {100, 4096},
};

const num_case u32_cases[] = {
    {57, 0}, {59, 0}, {66, 0}, {79, 0}, {80, 0}, {83, 0}, {117, 0}, {119, 0}, {123, 0}, {124, 0},
    {127, 0}, {128, 0}, {129, 0}, {130, 0}, {133, 0}, {136, 0}, {137, 0}, {138, 0}, {139, 0},
    {140, 0}, {142, 0}, {144, 0}, {145, 0}, {150, 0}, {151, 0}, {155, 0}, {156, 0},
    {157, 0}, {159, 0}, {1029, 0}, {10023, 0}, {78, 0}, {82, 0},
    {118, 1}, {43, 1}, {10001, 1}, {132, 1}, {141, 1}, {143, 1}, {146, 1}, {153, 1}, {154, 1}, {10022, 1},
    {26, 2}, {120, 2}, {166, 2}, {10021, 2}, {167, 7}, {8, 63}, {147, 0x81}, {168, 0x1081},
    {48, 3}, {96, 3}, {131, 3}, {134, 3}, {148, 3}, {152, 3}, {170, 3},
    {164, 6}, {51, 7}, {92, 7}, {160, 7}, {172, 7}, {81, 11},
    {72, 15}, {121, 15}, {163, 15}, {165, 15}, {158, 16}, {162, 16}, {44, 17},
    {91, 31}, {95, 31}, {169, 64}, {115, 127}, {65003, 127}, {109, 511}, {110, 511},
    {161, 858}, {102, 900}, {104, 8060}, {86, 39017}, {105, 524288}, {108, 524288}, {112, 524288},
    {71, 0x40C00}, {50, 0x4FFFFF}, {52, 0x1FFFFF}, {49, 0xFFFFFF}, {149, 0x73BFF4},
    {53, 0xA07D7F}, {55, 0xA07D7F}, {58, 0xA07D7F}, {61, 0xA07D7F}, {63, 0xA07D7F}, {65, 0xA07D7F},
    {68, 0xA07D7F}, {60, 0xA0717F}, {64, 0xA0717F}, {67, 0xA20D01}, {54, 0xA46D1F},
    {62, 0xE00301}, {125, 0xE00301}, {69, 0xE46D1F}, {173, 0x1000001},
    {56, 0x1E67F7F}, {70, 0x1E67F7F}, {122, 0x1E67F7F}, {126, 0x1E67F7F},
};

struct text_case {
    int id;
    const char *value;
};

const char *const keywords =
    "BREAK,BROWSE,BULK,CHECKPOINT,CLUSTERED,COMMITTED,COMPUTE,CONFIRM,CONTROLROW,DATABASE,DBCC,"
    "DISK,DISTRIBUTED,DUMMY,DUMP,ERRLVL,ERROREXIT,EXIT,FILE,FILLFACTOR,FLOPPY,HOLDLOCK,"
    "IDENTITY_INSERT,IDENTITYCOL,IF,KILL,LINENO,LOAD,MIRROREXIT,NONCLUSTERED,OFF,OFFSETS,ONCE,"
    "OVER,PERCENT,PERM,PERMANENT,PLAN,PRINT,PROC,PROCESSEXIT,RAISERROR,READ,READTEXT,RECONFIGURE,"
    "REPEATABLE,RETURN,ROWCOUNT,RULE,SAVE,SERIALIZABLE,SETUSER,SHUTDOWN,STATISTICS,TAPE,TEMP,"
    "TEXTSIZE,TOP,TRAN,TRIGGER,TRUNCATE,TSEQUEL,UNCOMMITTED,UPDATETEXT,USE,WAITFOR,WHILE,WRITETEXT";

const text_case text_cases[] = {
    {6, "libqvmysql.so"}, {7, "01.00.0014"}, {10, "03.52.0000"}, {77, "03.52"}, {17, "MySQL"},
    {14, "\\"}, {11, "N"}, {25, "N"}, {90, "N"}, {103, "N"},
    {19, "Y"}, {20, "Y"}, {21, "Y"}, {27, "Y"}, {36, "Y"}, {37, "Y"}, {73, "Y"}, {87, "Y"},
    {111, "Y"}, {113, "Y"}, {10002, "Y"}, {10003, "Y"},
    {38, "F"}, {39, "owner"}, {40, "stored procedure"}, {41, "."}, {42, "database"}, {45, "table"},
    {89, keywords}, {10000, "1995"}, {10004, "ISO 8859-1"},
};

/* One answer read through both entry points. */
struct answer {
    SQLRETURN rc;
    SQLSMALLINT len;
    std::string narrow;
    std::u16string wide;
    unsigned number;
};

answer get_number(my_connection *c, int id, int wide, int width)
{
    answer a{};
    union {
        SQLUINTEGER u32;
        SQLUSMALLINT u16[2];
    } v;
    v.u32 = 0xDEADBEEF;
    a.rc = (wide ? SQLGetInfoW : SQLGetInfo)(c, (SQLUSMALLINT)id, &v, 0, &a.len);
    a.number = width == 2 ? v.u16[0] : v.u32;
    if (width == 2) {
        EXPECT_EQ(v.u16[1], 0xDEAD) << "info " << id << " wrote more than 16 bits";
    }
    return a;
}

answer get_text(my_connection *c, int id, int wide, SQLSMALLINT buf_len = 2048)
{
    answer a{};
    std::vector<char> buf(4096, 'X');
    a.rc = (wide ? SQLGetInfoW : SQLGetInfo)(c, (SQLUSMALLINT)id, buf.data(), buf_len, &a.len);
    if (wide)
        a.wide = std::u16string((const char16_t *)buf.data());
    else
        a.narrow = std::string(buf.data());
    return a;
}

std::u16string widen(const std::string &s)
{
    std::u16string w;
    for (unsigned char ch : s)
        w.push_back(ch);
    return w;
}

} // namespace

TEST_F(info, GetInfoFixedNumbers)
{
    for (int wide = 0; wide < 2; wide++) {
        for (const num_case &c : u16_cases) {
            answer a = get_number(conn, c.id, wide, 2);
            EXPECT_EQ(a.rc, SQL_SUCCESS) << c.id;
            EXPECT_EQ(a.len, 2) << c.id;
            EXPECT_EQ(a.number, c.value) << "16-bit info " << c.id << (wide ? " W" : "");
        }
        for (const num_case &c : u32_cases) {
            answer a = get_number(conn, c.id, wide, 4);
            EXPECT_EQ(a.rc, SQL_SUCCESS) << c.id;
            EXPECT_EQ(a.len, 4) << c.id;
            EXPECT_EQ(a.number, c.value) << "32-bit info " << c.id << (wide ? " W" : "");
        }
    }
}

TEST_F(info, GetInfoFixedTexts)
{
    for (const text_case &c : text_cases) {
        answer n = get_text(conn, c.id, 0);
        EXPECT_EQ(n.rc, SQL_SUCCESS) << c.id;
        EXPECT_EQ(n.narrow, c.value) << c.id;
        EXPECT_EQ(n.len, (SQLSMALLINT)strlen(c.value)) << c.id;
        answer w = get_text(conn, c.id, 1);
        EXPECT_EQ(w.rc, SQL_SUCCESS) << c.id;
        EXPECT_EQ(w.wide, widen(c.value)) << c.id;
        EXPECT_EQ(w.len, (SQLSMALLINT)(2 * strlen(c.value))) << c.id << ": wide lengths count bytes";
    }
}

TEST_F(info, GetInfoFromTheConnection)
{
    struct {
        int id;
        const char *before;   // unconnected, settings absent
        const char *after;    // with the values below
    } cases[] = {
        {SQL_DATA_SOURCE_NAME, "", "mydsn"},
        {SQL_SERVER_NAME, "MySQL", "10.11.6-MariaDB"},
        {SQL_DBMS_VER, "", "10.11.6-MariaDB"},
        {SQL_DATABASE_NAME, "", "shop"},
        {SQL_USER_NAME, "", "alice"},
        {SQL_IDENTIFIER_QUOTE_CHAR, "`", "\""},
    };
    auto check = [&](bool after) {
        for (auto &c : cases) {
            const char *want = after ? c.after : c.before;
            answer n = get_text(conn, c.id, 0);
            EXPECT_EQ(n.rc, SQL_SUCCESS) << c.id;
            EXPECT_EQ(n.narrow, want) << c.id;   // an absent value reads as an empty string
            EXPECT_EQ(n.len, (SQLSMALLINT)strlen(want)) << c.id;
            answer w = get_text(conn, c.id, 1);
            EXPECT_EQ(w.wide, widen(want)) << c.id;
        }
    };
    check(false);
    EXPECT_EQ(get_number(conn, SQL_MAX_CONCURRENT_ACTIVITIES, 0, 2).number, 0u);
    EXPECT_EQ(get_number(conn, SQL_TXN_CAPABLE, 0, 2).number, 0u);

    conn->DSN = ms_from_latin1("mydsn");
    conn->server_version = ms_from_latin1("10.11.6-MariaDB");
    conn->current_database = ms_from_latin1("shop");
    conn->UID = ms_from_latin1("alice");
    conn->AnsiMode = 1;
    conn->NoCache = 1;
    conn->server_caps = 0x2000;
    check(true);
    EXPECT_EQ(get_number(conn, SQL_MAX_CONCURRENT_ACTIVITIES, 0, 2).number, 1u);
    EXPECT_EQ(get_number(conn, SQL_TXN_CAPABLE, 1, 2).number, (unsigned)SQL_TC_DDL_COMMIT);

    EXPECT_EQ(get_number(conn, SQL_MAX_IDENTIFIER_LEN, 0, 2).number, 128u);
    EXPECT_EQ(get_number(conn, SQL_MAX_IDENTIFIER_LEN, 1, 2).number, 64u);
}

TEST_F(info, SpecialCharactersNarrowWideAndUtf8)
{
    std::string latin1 = "#$";
    for (int b = 0xC0; b <= 0xFF; b++)
        if (b != 0xD7 && b != 0xF7)
            latin1.push_back((char)b);
    ASSERT_EQ(latin1.size(), 64u);

    answer n = get_text(conn, SQL_SPECIAL_CHARACTERS, 0);
    EXPECT_EQ(n.narrow, latin1);
    EXPECT_EQ(n.len, 64);
    answer w = get_text(conn, SQL_SPECIAL_CHARACTERS, 1);
    EXPECT_EQ(w.wide, widen(latin1));
    EXPECT_EQ(w.len, 128);

    conn->ConvToUtf = 1;   // narrow text is UTF-8: each letter takes two bytes
    answer u = get_text(conn, SQL_SPECIAL_CHARACTERS, 0);
    EXPECT_EQ(u.len, 2 + 62 * 2);
    EXPECT_EQ(u.narrow.substr(0, 4), "#$\xC3\x80");

    conn->ConvWToUtf = 1;  // and the wide call hands back the same bytes
    std::vector<char> buf(512, 'X');
    SQLSMALLINT len = 0;
    EXPECT_EQ(SQLGetInfoW(conn, SQL_SPECIAL_CHARACTERS, buf.data(), (SQLSMALLINT)buf.size(), &len),
              SQL_SUCCESS);
    EXPECT_EQ(len, 126);
    EXPECT_EQ(std::string(buf.data()), u.narrow);
}

TEST_F(info, GetInfoTruncation)
{
    struct {
        int wide;
        SQLSMALLINT buf_len;
        SQLRETURN rc;
        SQLSMALLINT len;
        const char *got;
    } cases[] = {
        {0, 5, SQL_SUCCESS_WITH_INFO, 13, "libq"},
        {0, 13, SQL_SUCCESS_WITH_INFO, 13, "libqvmysql.s"},
        {0, 14, SQL_SUCCESS, 13, "libqvmysql.so"},
        {0, 1, SQL_SUCCESS_WITH_INFO, 13, ""},
        {0, 0, SQL_SUCCESS_WITH_INFO, 13, "XXXX"},   // nothing written at all
        {1, 10, SQL_SUCCESS_WITH_INFO, 26, "libq"},
        {1, 11, SQL_SUCCESS_WITH_INFO, 26, "libq"},  // half a unit of room is no room
        {1, 28, SQL_SUCCESS, 26, "libqvmysql.so"},
        {1, 1, SQL_SUCCESS_WITH_INFO, 26, "XXXX"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.wide ? "W " : "") << c.buf_len);
        clear_diagnostics(conn);
        std::vector<char> buf(64, 'X');
        buf[4] = 0;
        buf[8] = buf[9] = 0;
        SQLSMALLINT len = 0;
        SQLRETURN rc =
            (c.wide ? SQLGetInfoW : SQLGetInfo)(conn, SQL_DRIVER_NAME, buf.data(), c.buf_len, &len);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(len, c.len);
        if (c.wide && strcmp(c.got, "XXXX"))
            EXPECT_EQ(std::u16string((const char16_t *)buf.data()), widen(c.got));
        else
            EXPECT_EQ(std::string(buf.data()), c.got);
        EXPECT_EQ(diag(SQL_HANDLE_DBC, conn),
                  rc == SQL_SUCCESS ? ""
                                    : "01004 [Quorvane][MySQL Driver][MySQL]String data, right truncation");
    }

    SQLSMALLINT len = 0;
    EXPECT_EQ(SQLGetInfo(conn, SQL_DRIVER_NAME, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 13);
    EXPECT_EQ(SQLGetInfo(conn, SQL_DRIVER_NAME, nullptr, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(SQLGetInfo(conn, SQL_MAX_TABLES_IN_SELECT, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 2);
}

TEST_F(info, GetInfoRefusals)
{
    for (int id : {3, 4, 5, 76, 135, 171, 9999, 65535}) {
        SQLUINTEGER v = 7;
        SQLSMALLINT len = 5;
        EXPECT_EQ(SQLGetInfo(conn, (SQLUSMALLINT)id, &v, 4, &len), SQL_ERROR) << id;
        EXPECT_EQ(diag(SQL_HANDLE_DBC, conn),
                  "HYC00 [Quorvane][MySQL Driver][MySQL]Optional feature not implemented")
            << id;
        EXPECT_EQ(SQLGetInfoW(conn, (SQLUSMALLINT)id, &v, 4, &len), SQL_ERROR) << id;
        EXPECT_EQ(v, 7u);
    }
    conn->async_count = 1;
    SQLUSMALLINT v;
    EXPECT_EQ(SQLGetInfo(conn, SQL_MAX_TABLES_IN_SELECT, &v, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(diag(SQL_HANDLE_DBC, conn), "HY010 [Quorvane][MySQL Driver][MySQL]Function sequence error");
    conn->async_count = 0;
    EXPECT_EQ(SQLGetInfo(nullptr, SQL_MAX_TABLES_IN_SELECT, &v, 0, nullptr), SQL_INVALID_HANDLE);
}

/* ------------------------------------------------------------ SQLGetTypeInfo */

namespace {

using row = std::vector<std::string>;

struct type_info : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = nullptr;
    my_statement *stmt = nullptr;
    void TearDown() override { env_release(env); }

    void open(int behaviour)
    {
        env->odbc_version = behaviour == 3 ? SQL_OV_ODBC3 : SQL_OV_ODBC2;
        conn = conn_create(env, behaviour);
        ASSERT_EQ(conn->odbc_behaviour, behaviour);
        stmt = stmt_create(conn);
    }

    /* Every row of the current result, each cell as text or "-" for NULL. */
    std::vector<row> rows()
    {
        std::vector<row> out;
        while (internal_rs_fetch(stmt) == SQL_SUCCESS) {
            row r;
            for (int i = 0; i < 19; i++) {
                const data_storage &d = stmt->ird->records[i].storage;
                if (d.isnull)
                    r.push_back("-");
                else if (d.data_type == SQL_INTEGER)
                    r.push_back(std::to_string(d.v.i32));
                else
                    r.push_back(std::string((const char *)d.buffer, (size_t)d.alloc_length));
            }
            out.push_back(r);
        }
        return out;
    }

    std::vector<row> ask(int data_type, int wide = 0)
    {
        EXPECT_EQ((wide ? SQLGetTypeInfoW : SQLGetTypeInfo)(stmt, (SQLSMALLINT)data_type), SQL_SUCCESS);
        return rows();
    }
};

std::vector<std::string> names(const std::vector<row> &rs)
{
    std::vector<std::string> n;
    for (const row &r : rs)
        n.push_back(r[0] + "/" + r[1]);
    return n;
}

void expect_sorted_on_data_type(const std::vector<row> &rs)
{
    for (size_t i = 1; i < rs.size(); i++)
        EXPECT_LE(std::stoi(rs[i - 1][1]), std::stoi(rs[i][1])) << "row " << i;
}

} // namespace

TEST_F(type_info, AllTypesOdbc3)
{
    open(3);
    std::vector<row> rs = ask(SQL_ALL_TYPES);
    ASSERT_EQ(rs.size(), 52u);
    expect_sorted_on_data_type(rs);
    EXPECT_EQ(names(rs).front(), "bit/-7");
    EXPECT_EQ(names(rs).back(), "timestamp/93");
    // rows of one DATA_TYPE keep the table's order
    std::vector<std::string> n = names(rs);
    std::vector<std::string> tail(n.end() - 4, n.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"varchar/12", "date/91", "datetime/93", "timestamp/93"}));

    row date = {"date", "91", "10", "'", "'", "-", "1", "0", "3", "-",
                "0",    "-",  "date", "-", "-", "9", "91", "-", "-"};
    EXPECT_EQ(rs[rs.size() - 3], date);
    row bit = {"bit", "-7", "1", "-", "-", "-", "1", "0", "3", "-",
               "0",   "-",  "bit(1)", "-", "-", "-7", "-", "-", "-"};
    EXPECT_EQ(rs[0], bit);
}

TEST_F(type_info, AllTypesOdbc2)
{
    open(2);
    std::vector<row> rs = ask(SQL_ALL_TYPES);
    ASSERT_EQ(rs.size(), 52u);
    expect_sorted_on_data_type(rs);
    std::vector<std::string> n = names(rs);
    std::vector<std::string> tail(n.end() - 4, n.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"date/9", "datetime/11", "timestamp/11", "varchar/12"}));
    row datetime = {"datetime", "11", "26", "'", "'", "fractional precision", "1", "0", "3", "-", "0", "-",
                    "datetime", "0", "6", "9", "11", "-", "-"};
    EXPECT_EQ(rs[rs.size() - 3], datetime);
}

TEST_F(type_info, AllTypesWide)
{
    open(3);
    std::vector<row> rs = ask(SQL_ALL_TYPES, 1);
    ASSERT_EQ(rs.size(), 58u);
    expect_sorted_on_data_type(rs);
    std::vector<std::string> n = names(rs);
    std::vector<std::string> head(n.begin(), n.begin() + 6);
    EXPECT_EQ(head, (std::vector<std::string>{"text/-10", "mediumtext/-10", "longtext/-10", "tinytext/-10",
                                              "varchar/-9", "char/-8"}));
    row wchar = {"char", "-8", "255", "'", "'", "length", "1", "0", "3", "-",
                 "0",    "-",  "char", "-", "-", "-8", "-", "-", "-"};
    EXPECT_EQ(rs[5], wchar);
}

TEST_F(type_info, SingleTypes)
{
    struct {
        int behaviour, wide, data_type;
        std::vector<std::string> want;
    } cases[] = {
        {3, 0, SQL_TYPE_TIME, {}},
        {3, 0, SQL_TIME, {}},
        {3, 0, SQL_WCHAR, {}},
        {3, 0, SQL_LONGVARBINARY,
         {"long varbinary/-4", "blob/-4", "longblob/-4", "tinyblob/-4", "mediumblob/-4"}},
        {3, 0, SQL_VARBINARY, {"varbinary/-3"}},
        {3, 0, SQL_BINARY, {"binary/-2"}},
        {3, 0, SQL_BIT, {"bit/-7"}},
        {3, 0, SQL_TINYINT,
         {"tinyint/-6", "tinyint unsigned/-6", "tinyint auto_increment/-6",
          "tinyint unsigned auto_increment/-6"}},
        {3, 0, SQL_BIGINT,
         {"bigint/-5", "bigint unsigned/-5", "bigint auto_increment/-5",
          "bigint unsigned auto_increment/-5"}},
        {3, 0, SQL_LONGVARCHAR,
         {"long varchar/-1", "text/-1", "mediumtext/-1", "longtext/-1", "tinytext/-1"}},
        {3, 0, SQL_CHAR, {"char/1", "time/1"}},
        {3, 0, SQL_NUMERIC, {"numeric/2"}},
        {3, 0, SQL_DECIMAL, {"decimal/3"}},
        {3, 0, SQL_INTEGER,
         {"integer/4", "integer unsigned/4", "int/4", "int unsigned/4", "mediumint/4", "mediumint unsigned/4",
          "integer auto_increment/4", "integer unsigned auto_increment/4", "int auto_increment/4",
          "int unsigned auto_increment/4", "mediumint auto_increment/4",
          "mediumint unsigned auto_increment/4"}},
        {3, 0, SQL_SMALLINT,
         {"smallint/5", "smallint unsigned/5", "smallint auto_increment/5",
          "smallint unsigned auto_increment/5",
          "year/5"}},
        {3, 0, SQL_FLOAT, {"double/6", "double auto_increment/6"}},
        {3, 0, SQL_DOUBLE, {"double/8", "double auto_increment/8"}},
        {3, 0, SQL_REAL, {"float/7", "float auto_increment/7"}},
        {3, 0, SQL_VARCHAR, {"varchar/12"}},
        {3, 0, SQL_DATE, {"date/91"}},
        {3, 0, SQL_TYPE_DATE, {"date/91"}},
        {3, 0, SQL_TIMESTAMP, {"datetime/93", "timestamp/93"}},
        {2, 0, SQL_TYPE_DATE, {"date/9"}},
        {2, 0, SQL_TYPE_TIMESTAMP, {"datetime/11", "timestamp/11"}},
        {2, 0, SQL_TYPE_TIME, {}},
        {3, 1, SQL_WLONGVARCHAR, {"text/-10", "mediumtext/-10", "longtext/-10", "tinytext/-10"}},
        {3, 1, SQL_WCHAR, {"char/-8"}},
        {3, 1, SQL_WVARCHAR, {"varchar/-9"}},
        {3, 1, SQL_VARCHAR, {"varchar/12"}},
        {2, 1, SQL_DATE, {"date/9"}},
    };
    int last_behaviour = 0;
    for (auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "ODBC " << c.behaviour << (c.wide ? " W " : " ") << c.data_type);
        if (c.behaviour != last_behaviour) {
            open(c.behaviour);
            last_behaviour = c.behaviour;
        }
        EXPECT_EQ(names(ask(c.data_type, c.wide)), c.want);
    }
}

TEST_F(type_info, ColumnsReplacementAndCursorDowngrade)
{
    open(3);
    stmt->cursor_type = SQL_CURSOR_STATIC;
    stmt->cursor_scrollable = SQL_SCROLLABLE;
    EXPECT_EQ(SQLGetTypeInfo(stmt, SQL_ALL_TYPES), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(diag(SQL_HANDLE_STMT, stmt), "01S02 [Quorvane][MySQL Driver][MySQL]Cursor type changed");
    EXPECT_EQ(stmt->cursor_type, SQL_CURSOR_FORWARD_ONLY);
    EXPECT_EQ(stmt->cursor_scrollable, SQL_NONSCROLLABLE);
    EXPECT_EQ(internal_rs_row_count(stmt), 52u);

    // A second call replaces the first result, even half-read.
    ASSERT_EQ(internal_rs_fetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLGetTypeInfo(stmt, SQL_NUMERIC), SQL_SUCCESS);
    EXPECT_EQ(names(rows()), (std::vector<std::string>{"numeric/2"}));

    ASSERT_EQ(stmt->ird->field_count, 19);
    const char *col_names[] = {"TYPE_NAME", "DATA_TYPE", "COLUMN_SIZE", "LITERAL_PREFIX", "LITERAL_SUFFIX",
                               "CREATE_PARAMS", "NULLABLE", "CASE_SENSITIVE", "SEARCHABLE",
                               "UNSIGNED_ATTRIBUTE", "FIXED_PREC_SCALE", "AUTO_UNIQUE_VALUE",
                               "LOCAL_TYPE_NAME", "MINIMUM_SCALE", "MAXIMUM_SCALE", "SQL_DATA_TYPE",
                               "SQL_DATETIME_SUB", "NUM_PREC_RADIX", "INTERVAL_PRECISION"};
    const int types[] = {12, 5, 4, 12, 12, 12, 5, 5, 5, 5, 5, 5, 12, 5, 5, 5, 5, 4, 5};
    const int nullable[] = {0, 0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 1, 1, 1, 1, 0, 1, 1, 1};
    for (int i = 0; i < 19; i++) {
        const field &f = stmt->ird->records[i];
        char *name = ms_to_latin1(f.name);
        EXPECT_STREQ(name, col_names[i]);
        free(name);
        EXPECT_EQ(f.concise_type, types[i]) << col_names[i];
        EXPECT_EQ(f.nullable, nullable[i]) << col_names[i];
    }
    // the longest type names fit their declared column size
    EXPECT_GE(stmt->ird->records[0].length, (int64_t)strlen("mediumint unsigned auto_increment"));
    EXPECT_GE(stmt->ird->records[12].length, (int64_t)strlen("binary large object, use mediumblob instead"));
}

TEST_F(type_info, InvalidHandleAndAsync)
{
    open(3);
    EXPECT_EQ(SQLGetTypeInfo(nullptr, SQL_ALL_TYPES), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLGetTypeInfoW(conn, SQL_ALL_TYPES), SQL_INVALID_HANDLE);
    stmt->async_operation = 1;
    EXPECT_EQ(SQLGetTypeInfo(stmt, SQL_ALL_TYPES), SQL_ERROR);
    EXPECT_EQ(diag(SQL_HANDLE_STMT, stmt), "HY010 [Quorvane][MySQL Driver][MySQL]Function sequence error");
    EXPECT_EQ(stmt->internal_rs, nullptr);
}

TEST_F(type_info, TraceLines)
{
    char tmpl[] = "/tmp/qvinfoXXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    open(3);
    snprintf(conn->LogFile, sizeof conn->LogFile, "%s", tmpl);
    conn->hdr.log_flags = stmt->hdr.log_flags = LOG_ENTRY | LOG_EXIT | LOG_DETAIL | LOG_ERROR;

    SQLUSMALLINT f;
    SQLGetFunctions(conn, SQL_API_SQLFETCH, &f);
    SQLGetInfo(conn, 3, nullptr, 0, nullptr);
    SQLGetTypeInfo(stmt, SQL_NUMERIC);
    internal_rs_fetch(stmt);

    FILE *in = fopen(tmpl, "rb");
    ASSERT_NE(in, nullptr);
    std::string log;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0)
        log.append(buf, n);
    fclose(in);
    unlink(tmpl);
    for (const char *want : {"SQLGetFunctions: function_id=13, supported=0x",
                             "SQLGetFunctions: return value=", "SQLGetInfo: unexpected info_type 3",
                             "SQLGetTypeInfo: statement_handle=0x", "data_type=2",
                             "SQLGetTypeInfo: return value=0",
                             "populate internal row: reading column 18",
                             "+\t field->consise_type = 5"})
        EXPECT_NE(log.find(want), std::string::npos) << want << "\n" << log.substr(0, 2000);
}
