// The catalog functions through the driver manager against the seeded test
// schema (fixtures/seed/catalog.sql): result layouts, rows and their order,
// name patterns and empty arguments, the wide forms with non-Latin names,
// names that try to change the query, and the refusals.
#include <gtest/gtest.h>

#include <sqlext.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "integration/fake_peer.h"
#include "support/qv_support.h"

namespace {

typedef std::vector<std::vector<std::string>> rows_t;

struct session {
    qv::connection c;
    qv::handle stmt;

    explicit session(const std::string &extra = "")
    {
        SQLRETURN rc = c.connect(qv::conn_str(extra));
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::describe(qv::diagnostics(c.dbc));
        stmt = qv::alloc_stmt(c.dbc);
    }
    ~session() { stmt.reset(); }

    SQLRETURN exec(const std::string &sql)
    {
        SQLFreeStmt(stmt, SQL_CLOSE);
        return SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
    }
};

// Every row of the open result as text ("NULL" for NULL); only the first
// `cols` columns when given.
rows_t rows(const qv::handle &s, int cols = 0)
{
    rows_t out;
    SQLSMALLINT n = 0;
    SQLNumResultCols(s, &n);
    if (cols > 0 && cols < n)
        n = (SQLSMALLINT)cols;
    SQLRETURN rc;
    while ((rc = SQLFetch(s)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        std::vector<std::string> row;
        for (SQLUSMALLINT i = 1; i <= n; i++) {
            char buf[512];
            SQLLEN ind = 0;
            SQLGetData(s, i, SQL_C_CHAR, buf, sizeof buf, &ind);
            row.push_back(ind == SQL_NULL_DATA ? "NULL" : std::string(buf));
        }
        out.push_back(row);
    }
    EXPECT_EQ(rc, SQL_NO_DATA) << qv::describe(qv::diagnostics(s));
    SQLFreeStmt(s, SQL_CLOSE);   // the next catalog call needs a closed cursor
    return out;
}

// One column of every row, read as wide text.
std::vector<std::u16string> wide_column(const qv::handle &s, SQLUSMALLINT col)
{
    std::vector<std::u16string> out;
    while (SQL_SUCCEEDED(SQLFetch(s))) {
        SQLWCHAR buf[256];
        SQLLEN ind = 0;
        SQLGetData(s, col, SQL_C_WCHAR, buf, sizeof buf, &ind);
        out.push_back(ind == SQL_NULL_DATA ? u"NULL" : std::u16string((const char16_t *)buf));
    }
    SQLFreeStmt(s, SQL_CLOSE);
    return out;
}

std::vector<SQLWCHAR> w(const std::u16string &s)
{
    std::vector<SQLWCHAR> v(s.begin(), s.end());
    v.push_back(0);
    return v;
}

std::string current_database(const qv::handle &dbc)
{
    qv::handle s = qv::alloc_stmt(dbc);
    SQLExecDirect(s, (SQLCHAR *)"SELECT DATABASE()", SQL_NTS);
    rows_t r = rows(s);
    return r.empty() ? "(none)" : r[0][0];
}

#define CAT_OK(call, s) \
    do { SQLRETURN rc_ = (call); QV_ASSERT_SUCCEEDED(rc_, s); } while (0)

SQLCHAR *u(const char *s) { return (SQLCHAR *)s; }

// ------------------------------------------------------------ layouts

struct layout_case {
    const char *function;
    std::function<SQLRETURN(SQLHSTMT)> call;
    std::vector<std::string> names;
    std::vector<SQLSMALLINT> types;   // V varchar, I integer, S smallint
};

const SQLSMALLINT V = SQL_VARCHAR, I = SQL_INTEGER, S = SQL_SMALLINT;

TEST(Catalog, EveryFunctionDescribesTheOdbcLayout)
{
    session s;
    const layout_case cases[] = {
        {"SQLTables", [](SQLHSTMT h) { return SQLTables(h, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, nullptr, 0); },
         {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "TABLE_TYPE", "REMARKS"}, {V, V, V, V, V}},
        {"SQLColumns", [](SQLHSTMT h) { return SQLColumns(h, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, nullptr, 0); },
         {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "COLUMN_NAME", "DATA_TYPE", "TYPE_NAME", "COLUMN_SIZE",
          "BUFFER_LENGTH", "DECIMAL_DIGITS", "NUM_PREC_RADIX", "NULLABLE", "REMARKS", "COLUMN_DEF",
          "SQL_DATA_TYPE", "SQL_DATETIME_SUB", "CHAR_OCTET_LENGTH", "ORDINAL_POSITION", "IS_NULLABLE"},
         {V, V, V, V, S, V, I, I, S, S, S, V, V, S, S, I, I, V}},
        {"SQLPrimaryKeys", [](SQLHSTMT h) { return SQLPrimaryKeys(h, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS); },
         {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "COLUMN_NAME", "KEY_SEQ", "PK_NAME"}, {V, V, V, V, S, V}},
        {"SQLForeignKeys", [](SQLHSTMT h) { return SQLForeignKeys(h, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, nullptr, 0, nullptr, 0, nullptr, 0); },
         {"PKTABLE_CAT", "PKTABLE_SCHEM", "PKTABLE_NAME", "PKCOLUMN_NAME", "FKTABLE_CAT", "FKTABLE_SCHEM",
          "FKTABLE_NAME", "FKCOLUMN_NAME", "KEY_SEQ", "UPDATE_RULE", "DELETE_RULE", "FK_NAME", "PK_NAME",
          "DEFERRABILITY"},
         {V, V, V, V, V, V, V, V, S, S, S, V, V, S}},
        {"SQLStatistics", [](SQLHSTMT h) { return SQLStatistics(h, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, SQL_INDEX_ALL, 0); },
         {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "NON_UNIQUE", "INDEX_QUALIFIER", "INDEX_NAME", "TYPE",
          "ORDINAL_POSITION", "COLUMN_NAME", "ASC_OR_DESC", "CARDINALITY", "PAGES", "FILTER_CONDITION"},
         {V, V, V, S, V, V, S, S, V, V, I, I, V}},
        {"SQLSpecialColumns", [](SQLHSTMT h) { return SQLSpecialColumns(h, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, SQL_SCOPE_SESSION, SQL_NULLABLE); },
         {"SCOPE", "COLUMN_NAME", "DATA_TYPE", "TYPE_NAME", "COLUMN_SIZE", "BUFFER_LENGTH", "DECIMAL_DIGITS",
          "PSEUDO_COLUMN"},
         {S, V, S, V, I, I, S, S}},
        {"SQLTablePrivileges", [](SQLHSTMT h) { return SQLTablePrivileges(h, nullptr, 0, nullptr, 0, u("qv_cat_child"), SQL_NTS); },
         {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "GRANTOR", "GRANTEE", "PRIVILEGE", "IS_GRANTABLE"},
         {V, V, V, V, V, V, V}},
        {"SQLColumnPrivileges", [](SQLHSTMT h) { return SQLColumnPrivileges(h, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, nullptr, 0); },
         {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "COLUMN_NAME", "GRANTOR", "GRANTEE", "PRIVILEGE",
          "IS_GRANTABLE"},
         {V, V, V, V, V, V, V, V}},
        {"SQLProcedures", [](SQLHSTMT h) { return SQLProcedures(h, nullptr, 0, nullptr, 0, u("qv_cat_proc"), SQL_NTS); },
         {"PROCEDURE_CAT", "PROCEDURE_SCHEM", "PROCEDURE_NAME", "NUM_INPUT_PARAMS",
          "NUM_OUTPUT_PARAMS", "NUM_RESULT_SETS", "REMARKS", "PROCEDURE_TYPE"},
         {V, V, V, I, I, I, V, S}},
        {"SQLProcedureColumns", [](SQLHSTMT h) { return SQLProcedureColumns(h, nullptr, 0, nullptr, 0, u("qv_cat_proc"), SQL_NTS, nullptr, 0); },
         {"PROCEDURE_CAT", "PROCEDURE_SCHEM", "PROCEDURE_NAME", "COLUMN_NAME", "COLUMN_TYPE", "DATA_TYPE",
          "TYPE_NAME", "COLUMN_SIZE", "BUFFER_LENGTH", "DECIMAL_DIGITS", "NUM_PREC_RADIX", "NULLABLE",
          "REMARKS", "COLUMN_DEF", "SQL_DATA_TYPE", "SQL_DATETIME_SUB", "CHAR_OCTET_LENGTH",
          "ORDINAL_POSITION", "IS_NULLABLE"},
         {V, V, V, V, S, S, V, I, I, S, S, S, V, V, S, S, I, I, V}},
    };
    for (const layout_case &c : cases) {
        SCOPED_TRACE(c.function);
        SQLFreeStmt(s.stmt, SQL_CLOSE);
        CAT_OK(c.call(s.stmt), s.stmt);
        SQLSMALLINT n = 0;
        ASSERT_EQ(SQLNumResultCols(s.stmt, &n), SQL_SUCCESS);
        ASSERT_EQ((size_t)n, c.names.size());
        for (SQLUSMALLINT i = 1; i <= n; i++) {
            SQLCHAR name[64];
            SQLSMALLINT len = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            ASSERT_EQ(SQLDescribeCol(s.stmt, i, name, sizeof name, &len, &type, &size, &digits, &nullable),
                      SQL_SUCCESS);
            EXPECT_EQ(std::string((char *)name), c.names[i - 1]) << "column " << i;
            EXPECT_EQ(type, c.types[i - 1]) << c.names[i - 1];
        }
        rows(s.stmt);   // read to the end: the connection is free for the next call
    }
}

// ------------------------------------------------------------ SQLTables

struct tables_case {
    const char *what;
    const char *catalog; SQLSMALLINT catalog_len;
    const char *schema; SQLSMALLINT schema_len;
    const char *table; SQLSMALLINT table_len;
    const char *type; SQLSMALLINT type_len;
    rows_t want;   // TABLE_CAT, TABLE_SCHEM, TABLE_NAME, TABLE_TYPE
};

const rows_t ALL_TABLES = {
    {"qvtest", "NULL", "qv_cat_child", "TABLE"},   {"qvtest", "NULL", "qv_cat_hash", "TABLE"},
    {"qvtest", "NULL", "qv_cat_nokey", "TABLE"},   {"qvtest", "NULL", "qv_cat_odd'q\\b`tick", "TABLE"},
    {"qvtest", "NULL", "qv_cat_parent", "TABLE"},  {"qvtest", "NULL", "qv_cat_uniq", "TABLE"},
    {"qvtest", "NULL", "qv_cat_\xD1\x82\xD0\xB0\xD0\xB1\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0_\xE8\xA1\xA8", "TABLE"},
    {"qvtest", "NULL", "qv_cat_view", "VIEW"},
};

TEST(Catalog, TablesByPatternTypeAndCatalog)
{
    const char *N = nullptr;
    const tables_case cases[] = {
        {"plain name", N, 0, N, 0, "qv_cat_parent", SQL_NTS, N, 0, {{"qvtest", "NULL", "qv_cat_parent", "TABLE"}}},
        {"_ matches one character", N, 0, N, 0, "qv_cat_paren_", SQL_NTS, N, 0, {{"qvtest", "NULL", "qv_cat_parent", "TABLE"}}},
        {"pattern", N, 0, N, 0, "qv\\_cat\\_p%", SQL_NTS, N, 0, {{"qvtest", "NULL", "qv_cat_parent", "TABLE"}}},
        {"a view", N, 0, N, 0, "qv_cat_v%", SQL_NTS, N, 0, {{"qvtest", "NULL", "qv_cat_view", "VIEW"}}},
        {"type list", N, 0, N, 0, "qv\\_cat\\_%", SQL_NTS, "VIEW", SQL_NTS, {{"qvtest", "NULL", "qv_cat_view", "VIEW"}}},
        {"quoted types", N, 0, N, 0, "qv\\_cat\\_%", SQL_NTS, "'TABLE', 'VIEW'", SQL_NTS, ALL_TABLES},
        {"TABLE,VIEW", N, 0, N, 0, "qv\\_cat\\_%", SQL_NTS, "TABLE,VIEW", SQL_NTS, ALL_TABLES},
        {"type %", N, 0, N, 0, "qv\\_cat\\_%", SQL_NTS, "%", SQL_NTS, ALL_TABLES},
        {"escaped backslash", N, 0, N, 0, "qv\\_cat\\_odd'q\\\\b`tick", SQL_NTS, N, 0,
         {{"qvtest", "NULL", "qv_cat_odd'q\\b`tick", "TABLE"}}},
        {"other catalog", "qvtest_cat", SQL_NTS, N, 0, "%", SQL_NTS, N, 0,
         {{"qvtest_cat", "NULL", "qv_cat_other", "TABLE"}}},
        {"catalog pattern", "qvtest\\_c%", SQL_NTS, N, 0, "qv_cat_other", SQL_NTS, N, 0,
         {{"qvtest_cat", "NULL", "qv_cat_other", "TABLE"}}},
        {"table types", "", SQL_NTS, "", SQL_NTS, "", SQL_NTS, "%", 1,
         {{"NULL", "NULL", "NULL", "SYSTEM VIEW"}, {"NULL", "NULL", "NULL", "TABLE"}, {"NULL", "NULL", "NULL", "VIEW"}}},
        {"schemas", "", SQL_NTS, "%", 1, "", SQL_NTS, N, 0, {}},
        // names that would change an unquoted query
        {"hostile table", N, 0, N, 0, "x' OR '1'='1", SQL_NTS, N, 0, {}},
        {"hostile pattern", N, 0, N, 0, "%' OR '1'='1", SQL_NTS, N, 0, {}},
        {"hostile backslash", N, 0, N, 0, "qv_cat_parent\\' OR 1=1 -- ", SQL_NTS, N, 0, {}},
        {"hostile catalog", "qvtest' OR '1'='1", SQL_NTS, N, 0, "qv_cat_parent", SQL_NTS, N, 0, {}},
        {"hostile type", N, 0, N, 0, "qv_cat_parent", SQL_NTS, "'TABLE') OR ('1'='1", SQL_NTS, {}},
    };
    for (const char *mode : {"", "NO_BACKSLASH_ESCAPES"}) {
        session s;
        if (*mode) {
            CAT_OK(s.exec(std::string("SET SESSION sql_mode='") + mode + "'"), s.stmt);
            SQLFreeStmt(s.stmt, SQL_CLOSE);
        }
        for (const tables_case &c : cases) {
            SCOPED_TRACE(std::string(c.what) + (*mode ? " / " : "") + mode);
            CAT_OK(SQLTables(s.stmt, (SQLCHAR *)c.catalog, c.catalog_len, (SQLCHAR *)c.schema, c.schema_len,
                             (SQLCHAR *)c.table, c.table_len, (SQLCHAR *)c.type, c.type_len),
                   s.stmt);
            EXPECT_EQ(rows(s.stmt, 4), c.want);
        }
    }
}

TEST(Catalog, TablesListsCatalogsAndRemarks)
{
    session s;
    CAT_OK(SQLTables(s.stmt, u("%"), 1, u(""), 0, u(""), 0, nullptr, 0), s.stmt);
    rows_t r = rows(s.stmt);
    bool test_db = false, other_db = false;
    for (const auto &row : r) {
        EXPECT_EQ(row[1], "NULL");
        EXPECT_EQ(row[2], "NULL");
        test_db |= row[0] == "qvtest";
        other_db |= row[0] == "qvtest_cat";
    }
    EXPECT_TRUE(test_db && other_db);

    CAT_OK(SQLTables(s.stmt, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, nullptr, 0), s.stmt);
    r = rows(s.stmt);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][4], "parent table");
}

// ------------------------------------------------------------ SQLColumns

TEST(Catalog, ColumnsDescribeTypesAndFilter)
{
    session s;
    CAT_OK(SQLColumns(s.stmt, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, nullptr, 0), s.stmt);
    // TABLE_NAME, COLUMN_NAME, DATA_TYPE, TYPE_NAME, COLUMN_SIZE, BUFFER_LENGTH, DECIMAL_DIGITS,
    // NUM_PREC_RADIX, NULLABLE, ..., CHAR_OCTET_LENGTH, ORDINAL_POSITION, IS_NULLABLE
    rows_t r = rows(s.stmt);
    ASSERT_EQ(r.size(), 4u);
    const char *names[] = {"id", "code", "amount", "note"};
    for (size_t i = 0; i < 4; i++) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(r[i][0], "qvtest");
        EXPECT_EQ(r[i][1], "NULL");
        EXPECT_EQ(r[i][2], "qv_cat_parent");
        EXPECT_EQ(r[i][3], names[i]);
        EXPECT_EQ(r[i][16], std::to_string(i + 1));
    }
    // id INT NOT NULL
    EXPECT_EQ(r[0][4], "4");
    EXPECT_EQ(r[0][6], "10");
    EXPECT_EQ(r[0][9], "10");
    EXPECT_EQ(r[0][10], "0");
    EXPECT_EQ(r[0][15], "NULL");
    EXPECT_EQ(r[0][17], "NO");
    // amount DECIMAL(10,2) NULL
    EXPECT_EQ(r[2][4], "3");
    EXPECT_EQ(r[2][5], "DECIMAL");
    EXPECT_EQ(r[2][6], "10");
    EXPECT_EQ(r[2][8], "2");
    EXPECT_EQ(r[2][9], "10");
    EXPECT_EQ(r[2][10], "1");
    EXPECT_EQ(r[2][17], "YES");
    // note VARCHAR(20): CHAR_OCTET_LENGTH is its octet length
    EXPECT_EQ(r[3][15], r[3][7]);
    EXPECT_NE(r[3][15], "NULL");

    struct { const char *catalog, *table, *column; rows_t want; } cases[] = {
        {nullptr, "qv_cat_parent", "ID", {{"qvtest", "NULL", "qv_cat_parent", "id"}}},
        {nullptr, "qv_cat_parent", "i%", {{"qvtest", "NULL", "qv_cat_parent", "id"}}},
        {"%", "qv_cat_uniq", nullptr, {{"qvtest", "NULL", "qv_cat_uniq", "u"}, {"qvtest", "NULL", "qv_cat_uniq", "v"}}},
        {"qvtest_cat", "qv_cat_other", nullptr,
         {{"qvtest_cat", "NULL", "qv_cat_other", "oid"}, {"qvtest_cat", "NULL", "qv_cat_other", "label"}}},
        {nullptr, "qv_cat_odd'q\\\\b`tick", nullptr, {{"qvtest", "NULL", "qv_cat_odd'q\\b`tick", "id"}}},
        {nullptr, "x' OR '1'='1", nullptr, {}},
        {"qvtest' OR '1'='1", "qv_cat_parent", nullptr, {}},
        {nullptr, "qv_cat_parent", "id' OR '1'='1", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.table) + " / " + (c.column ? c.column : "(all)"));
        CAT_OK(SQLColumns(s.stmt, (SQLCHAR *)c.catalog, SQL_NTS, nullptr, 0, (SQLCHAR *)c.table, SQL_NTS,
                          (SQLCHAR *)c.column, SQL_NTS),
               s.stmt);
        EXPECT_EQ(rows(s.stmt, 4), c.want);
        EXPECT_EQ(current_database(s.c.dbc), "qvtest");
    }
}

// ------------------------------------------------------------ wide forms

TEST(Catalog, WideFormsWithNonLatinNames)
{
    session s;
    const std::u16string table = u"qv_cat_таблица_表";
    auto t = w(table);
    CAT_OK(SQLTablesW(s.stmt, nullptr, 0, nullptr, 0, t.data(), SQL_NTS, nullptr, 0), s.stmt);
    EXPECT_EQ(wide_column(s.stmt, 3), std::vector<std::u16string>{table});
    SQLFreeStmt(s.stmt, SQL_CLOSE);

    // a pattern holding non-Latin letters
    auto pattern = w(u"qv\\_cat\\_таб%");
    CAT_OK(SQLTablesW(s.stmt, nullptr, 0, nullptr, 0, pattern.data(), SQL_NTS, nullptr, 0), s.stmt);
    EXPECT_EQ(wide_column(s.stmt, 3), std::vector<std::u16string>{table});
    SQLFreeStmt(s.stmt, SQL_CLOSE);

    // the length counts characters
    CAT_OK(SQLColumnsW(s.stmt, nullptr, 0, nullptr, 0, t.data(), (SQLSMALLINT)table.size(), nullptr, 0),
           s.stmt);
    EXPECT_EQ(wide_column(s.stmt, 4), (std::vector<std::u16string>{u"ключ", u"名前"}));
    SQLFreeStmt(s.stmt, SQL_CLOSE);

    CAT_OK(SQLPrimaryKeysW(s.stmt, nullptr, 0, nullptr, 0, t.data(), SQL_NTS), s.stmt);
    EXPECT_EQ(wide_column(s.stmt, 4), std::vector<std::u16string>{u"ключ"});
    SQLFreeStmt(s.stmt, SQL_CLOSE);

    CAT_OK(SQLSpecialColumnsW(s.stmt, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, t.data(), SQL_NTS,
                              SQL_SCOPE_SESSION, SQL_NULLABLE),
           s.stmt);
    EXPECT_EQ(wide_column(s.stmt, 2), std::vector<std::u16string>{u"ключ"});
    SQLFreeStmt(s.stmt, SQL_CLOSE);

    auto hostile = w(u"таблица' OR '1'='1");
    CAT_OK(SQLTablesW(s.stmt, nullptr, 0, nullptr, 0, hostile.data(), SQL_NTS, nullptr, 0), s.stmt);
    EXPECT_TRUE(wide_column(s.stmt, 3).empty());
}

// ------------------------------------------------------ keys and indexes

TEST(Catalog, PrimaryKeys)
{
    session s;
    struct { const char *catalog, *table; rows_t want; const char *error; } cases[] = {
        {nullptr, "qv_cat_parent",
         {{"NULL", "NULL", "qv_cat_parent", "id", "1", "PRIMARY"},
          {"NULL", "NULL", "qv_cat_parent", "code", "2", "PRIMARY"}}, nullptr},
        {"qvtest_cat", "qv_cat_other", {{"NULL", "NULL", "qv_cat_other", "oid", "1", "PRIMARY"}}, nullptr},
        {nullptr, "qv_cat_uniq", {}, nullptr},
        {nullptr, "qv_cat_nokey", {}, nullptr},
        {nullptr, "%", {}, nullptr},
        {nullptr, "qv_cat_odd'q\\b`tick", {{"NULL", "NULL", "qv_cat_odd'q\\b`tick", "id", "1", "PRIMARY"}}, nullptr},
        // a backquote cannot end the identifier: the name is one missing table
        {nullptr, "qv_cat_parent` WHERE 1 OR `x", {}, "42S02"},
        {nullptr, "qv_cat_parent` -- ", {}, "42000"},   // the server refuses the name itself
        {"qvtest`.`qv_cat_parent` -- ", "x", {}, "42000"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.table);
        SQLRETURN rc = SQLPrimaryKeys(s.stmt, (SQLCHAR *)c.catalog, SQL_NTS, nullptr, 0, (SQLCHAR *)c.table,
                                      SQL_NTS);
        if (c.error) {
            EXPECT_EQ(rc, SQL_ERROR);
            EXPECT_EQ(qv::first_state(s.stmt), c.error) << qv::describe(qv::diagnostics(s.stmt));
            SQLFreeStmt(s.stmt, SQL_CLOSE);
            continue;
        }
        QV_ASSERT_SUCCEEDED(rc, s.stmt);
        EXPECT_EQ(rows(s.stmt), c.want);
    }
}

TEST(Catalog, StatisticsListTheTableRowThenUniqueThenOtherIndexes)
{
    session s;
    // TABLE_NAME, NON_UNIQUE, INDEX_QUALIFIER, INDEX_NAME, TYPE, ORDINAL_POSITION, COLUMN_NAME, ASC_OR_DESC
    auto stats = [&](const char *table, SQLUSMALLINT unique) -> rows_t {
        SQLRETURN rc = SQLStatistics(s.stmt, nullptr, 0, nullptr, 0, (SQLCHAR *)table, SQL_NTS, unique, 0);
        QV_EXPECT_SUCCEEDED(rc, s.stmt);
        rows_t all = rows(s.stmt), out;
        for (const auto &r : all)
            out.push_back({r[2], r[3], r[5], r[6], r[7], r[8], r[9]});
        return out;
    };
    const rows_t unique_rows = {
        {"qv_cat_parent", "NULL", "NULL", "0", "NULL", "NULL", "NULL"},
        {"qv_cat_parent", "0", "PRIMARY", "3", "1", "id", "A"},
        {"qv_cat_parent", "0", "PRIMARY", "3", "2", "code", "A"},
        {"qv_cat_parent", "0", "uq_note", "3", "1", "note", "A"},
    };
    rows_t all = unique_rows;
    all.push_back({"qv_cat_parent", "1", "ix_amount", "3", "1", "amount", "A"});
    EXPECT_EQ(stats("qv_cat_parent", SQL_INDEX_ALL), all);
    EXPECT_EQ(stats("qv_cat_parent", SQL_INDEX_UNIQUE), unique_rows);
    rows_t hash = stats("qv_cat_hash", SQL_INDEX_ALL);
    ASSERT_EQ(hash.size(), 2u);
    EXPECT_EQ(hash[1][2], "ix_h");
    EXPECT_EQ(hash[1][3], "2");   // SQL_INDEX_HASHED
    EXPECT_TRUE(stats("qv_cat_missing", SQL_INDEX_ALL).empty());
    EXPECT_TRUE(stats("qv_cat_parent`, `qv_cat_child", SQL_INDEX_ALL).empty());

    // with a catalog argument
    CAT_OK(SQLStatistics(s.stmt, u("qvtest_cat"), SQL_NTS, nullptr, 0, u("qv_cat_other"), SQL_NTS,
                         SQL_INDEX_ALL, 0),
           s.stmt);
    rows_t r = rows(s.stmt);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1][0], "qvtest_cat");
    EXPECT_EQ(r[1][8], "oid");
}

TEST(Catalog, SpecialColumns)
{
    session s;
    struct { SQLUSMALLINT id; const char *catalog, *table; SQLUSMALLINT nullable; std::vector<std::string> want; } cases[] = {
        {SQL_BEST_ROWID, nullptr, "qv_cat_parent", SQL_NULLABLE, {"code", "id"}},
        {SQL_BEST_ROWID, "qvtest", "qv_cat_parent", SQL_NO_NULLS, {"code", "id"}},
        {SQL_BEST_ROWID, nullptr, "qv_cat_uniq", SQL_NULLABLE, {"u"}},
        {SQL_BEST_ROWID, nullptr, "qv_cat_nokey", SQL_NULLABLE, {}},
        {SQL_ROWVER, nullptr, "qv_cat_child", SQL_NULLABLE, {"changed"}},
        {SQL_BEST_ROWID, "qvtest_cat", "qv_cat_other", SQL_NULLABLE, {"oid"}},
        {SQL_BEST_ROWID, "qvtest_cat", "qv_cat_missing", SQL_NULLABLE, {}},
        {SQL_BEST_ROWID, nullptr, "qv_cat_odd'q\\b`tick", SQL_NULLABLE, {"id"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.catalog ? c.catalog : "") + "." + c.table);
        CAT_OK(SQLSpecialColumns(s.stmt, c.id, (SQLCHAR *)c.catalog, SQL_NTS, nullptr, 0, (SQLCHAR *)c.table,
                                 SQL_NTS, SQL_SCOPE_SESSION, c.nullable),
               s.stmt);
        rows_t r = rows(s.stmt);
        std::vector<std::string> names;
        for (const auto &row : r) {
            names.push_back(row[1]);
            EXPECT_EQ(row[0], "2");   // SQL_SCOPE_SESSION
            EXPECT_EQ(row[7], "1");   // SQL_PC_NOT_PSEUDO
        }
        EXPECT_EQ(names, c.want);
        EXPECT_EQ(current_database(s.c.dbc), "qvtest");
    }
}

// ------------------------------------------------ privileges and routines

TEST(Catalog, Privileges)
{
    session s;
    CAT_OK(SQLTablePrivileges(s.stmt, u("qvtest"), SQL_NTS, nullptr, 0, u("qv_cat_child"), SQL_NTS), s.stmt);
    EXPECT_EQ(rows(s.stmt), (rows_t{{"def", "qvtest", "qv_cat_child", "NULL", "'qvuser'@'%'", "INSERT", "NO"},
                                    {"def", "qvtest", "qv_cat_child", "NULL", "'qvuser'@'%'", "SELECT", "NO"}}));
    CAT_OK(SQLTablePrivileges(s.stmt, nullptr, 0, nullptr, 0, u("qv_cat_child' OR '1'='1"), SQL_NTS), s.stmt);
    EXPECT_TRUE(rows(s.stmt).empty());

    CAT_OK(SQLColumnPrivileges(s.stmt, u("qvtest"), SQL_NTS, nullptr, 0, u("qv_cat_parent"), SQL_NTS,
                               u("note"), SQL_NTS),
           s.stmt);
    EXPECT_EQ(rows(s.stmt),
              (rows_t{{"qvtest", "def", "qv_cat_parent", "note", "NULL", "'qvuser'@'%'", "SELECT", "NO"},
                      {"qvtest", "def", "qv_cat_parent", "note", "NULL", "'qvuser'@'%'", "UPDATE", "NO"}}));
    CAT_OK(SQLColumnPrivileges(s.stmt, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS,
                               u("note' OR '1'='1"), SQL_NTS),
           s.stmt);
    EXPECT_TRUE(rows(s.stmt).empty());
}

TEST(Catalog, Procedures)
{
    session s;
    CAT_OK(SQLProcedures(s.stmt, u("qvtest"), SQL_NTS, nullptr, 0, nullptr, 0), s.stmt);
    rows_t r = rows(s.stmt);
    rows_t mine;
    for (const auto &row : r)
        if (row[2].rfind("qv_cat_", 0) == 0)
            mine.push_back({row[0], row[1], row[2], row[3], row[6], row[7]});
    EXPECT_EQ(mine, (rows_t{{"qvtest", "NULL", "qv_cat_func", "NULL", "", "2"},
                            {"qvtest", "NULL", "qv_cat_proc", "NULL", "doubles a", "1"}}));
    CAT_OK(SQLProcedures(s.stmt, nullptr, 0, nullptr, 0, u("qv_cat_proc' OR '1'='1"), SQL_NTS), s.stmt);
    EXPECT_TRUE(rows(s.stmt).empty());
}

// ------------------------------------------------------------ refusals

TEST(Catalog, RefusalsAndCursorDowngrade)
{
    session s;
    // a negative length other than SQL_NTS
    EXPECT_EQ(SQLTables(s.stmt, nullptr, 0, nullptr, 0, u("qv_cat_parent"), -7, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(qv::first_state(s.stmt), "HY090");
    EXPECT_EQ(SQLColumns(s.stmt, u("qvtest"), -100, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(qv::first_state(s.stmt), "HY090");
    // SQLStatistics needs a table name
    EXPECT_EQ(SQLStatistics(s.stmt, nullptr, 0, nullptr, 0, nullptr, 0, SQL_INDEX_ALL, 0), SQL_ERROR);
    EXPECT_EQ(qv::first_state(s.stmt), "HY009");

    // a statement waiting for data at execution
    SQLLEN dae = SQL_DATA_AT_EXEC;
    ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, (SQLPOINTER)1, 0, &dae),
              SQL_SUCCESS);
    ASSERT_EQ(SQLExecDirect(s.stmt, u("SELECT ?"), SQL_NTS), SQL_NEED_DATA);
    EXPECT_EQ(SQLTables(s.stmt, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(qv::first_state(s.stmt), "HY010");
    SQLCancel(s.stmt);
    SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);

    // a scrollable cursor request falls back to forward-only
    ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, (SQLPOINTER)SQL_CURSOR_STATIC, 0)));
    EXPECT_EQ(SQLTables(s.stmt, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, nullptr, 0),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(qv::first_state(s.stmt), "01S02");
    SQLULEN type = 99;
    SQLGetStmtAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr);
    EXPECT_EQ(type, (SQLULEN)SQL_CURSOR_FORWARD_ONLY);
    EXPECT_EQ(rows(s.stmt).size(), 1u);

    // a catalog result read to the end leaves the connection free
    qv::handle other = qv::alloc_stmt(s.c.dbc);
    CAT_OK(SQLColumns(s.stmt, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, nullptr, 0), s.stmt);
    rows(s.stmt);
    CAT_OK(SQLExecDirect(other, u("SELECT 1"), SQL_NTS), other);
    EXPECT_EQ(rows(other), (rows_t{{"1"}}));
}

// ------------------------------------------- enumerations by content

// The catalog, schema and table-type enumerations of SQLTables, as clients
// send them: "%" ended by a NUL (SQL_NTS) or counted, narrow and wide, the
// other arguments empty strings or null pointers.
TEST(Catalog, TablesEnumerationsRecognisedByContent)
{
    enum which { CATALOGS, SCHEMAS, TYPES };
    struct form {
        const char *what;
        const char *percent;
        SQLSMALLINT len;
        const char *empty;   // the other arguments: "" or null
    };
    const form forms[] = {
        {"SQL_NTS", "%", SQL_NTS, ""},
        {"counted", "%", 1, ""},
        {"counted, text beyond", "%junk", 1, ""},
        {"null pointers", "%", SQL_NTS, nullptr},
    };
    session s;
    for (int wide = 0; wide <= 1; wide++)
        for (const form &f : forms)
            for (which wh : {CATALOGS, SCHEMAS, TYPES}) {
                SCOPED_TRACE(std::string(f.what) + (wide ? " wide " : " narrow ") + std::to_string(wh));
                const char *arg[4] = {f.empty, f.empty, f.empty, nullptr};
                SQLSMALLINT len[4] = {SQL_NTS, SQL_NTS, SQL_NTS, 0};
                int at = wh == CATALOGS ? 0 : wh == SCHEMAS ? 1 : 3;
                arg[at] = f.percent;
                len[at] = f.len;
                SQLRETURN rc;
                if (wide) {
                    std::vector<SQLWCHAR> wa[4];
                    SQLWCHAR *wp[4];
                    for (int i = 0; i < 4; i++) {
                        wa[i] = w(arg[i] ? std::u16string(arg[i], arg[i] + strlen(arg[i])) : u"");
                        wp[i] = arg[i] ? wa[i].data() : nullptr;
                    }
                    rc = SQLTablesW(s.stmt, wp[0], len[0], wp[1], len[1], wp[2], len[2], wp[3], len[3]);
                } else {
                    rc = SQLTables(s.stmt, (SQLCHAR *)arg[0], len[0], (SQLCHAR *)arg[1], len[1],
                                   (SQLCHAR *)arg[2], len[2], (SQLCHAR *)arg[3], len[3]);
                }
                CAT_OK(rc, s.stmt);
                rows_t r = rows(s.stmt, 4);
                if (wh == SCHEMAS) {
                    EXPECT_TRUE(r.empty()) << r.size() << " rows";
                } else if (wh == TYPES) {
                    EXPECT_EQ(r, (rows_t{{"NULL", "NULL", "NULL", "SYSTEM VIEW"},
                                         {"NULL", "NULL", "NULL", "TABLE"},
                                         {"NULL", "NULL", "NULL", "VIEW"}}));
                } else {
                    std::vector<std::string> names;
                    for (const auto &row : r) {
                        names.push_back(row[0]);
                        EXPECT_EQ(row[1] + row[2] + row[3], "NULLNULLNULL") << row[0];
                    }
                    for (const char *db : {"qvtest", "qvtest_cat", "qvtest_fk", "information_schema"})
                        EXPECT_NE(std::find(names.begin(), names.end(), db), names.end()) << db;
                }
            }
}

// Every type the enumeration lists selects tables, and TABLE selects every
// kind of table the server has.
TEST(Catalog, TablesTypesListedAreTheTypesReported)
{
    session s;
    struct { const char *catalog, *table, *type; rows_t want; } cases[] = {
        {"information_schema", "TABLES", "SYSTEM VIEW", {{"information_schema", "NULL", "TABLES", "SYSTEM VIEW"}}},
        {"information_schema", "TABLES", "TABLE,VIEW", {}},
        {"qvtest_fk", "%", "TABLE",
         {{"qvtest_fk", "NULL", "history", "TABLE"}, {"qvtest_fk", "NULL", "kind", "TABLE"},
          {"qvtest_fk", "NULL", "pattern_cols", "TABLE"}, {"qvtest_fk", "NULL", "region", "TABLE"}}},
        {"qvtest_fk", "%", "'VIEW'", {}},
        {"qvtest", "qv_cat_v%", "VIEW", {{"qvtest", "NULL", "qv_cat_view", "VIEW"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.catalog) + " " + c.type);
        CAT_OK(SQLTables(s.stmt, u(c.catalog), SQL_NTS, nullptr, 0, u(c.table), SQL_NTS, u(c.type), SQL_NTS),
               s.stmt);
        EXPECT_EQ(rows(s.stmt, 4), c.want);
    }
    // a table of neither kind has its columns described too
    CAT_OK(SQLColumns(s.stmt, u("qvtest_fk"), SQL_NTS, nullptr, 0, u("history"), SQL_NTS, nullptr, 0), s.stmt);
    rows_t r = rows(s.stmt, 4);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0], (std::vector<std::string>{"qvtest_fk", "NULL", "history", "id"}));
}

// ------------------------------------------- column names as patterns

std::vector<std::string> column_names(session &s, const char *catalog, const char *table, const char *column)
{
    SQLRETURN rc = SQLColumns(s.stmt, (SQLCHAR *)catalog, SQL_NTS, nullptr, 0, (SQLCHAR *)table, SQL_NTS,
                              (SQLCHAR *)column, SQL_NTS);
    QV_EXPECT_SUCCEEDED(rc, s.stmt);
    std::vector<std::string> names;
    for (const auto &row : rows(s.stmt))
        names.push_back(row[3] + "@" + row[16]);   // the name and its ORDINAL_POSITION
    return names;
}

TEST(Catalog, ColumnNamesArePatterns)
{
    typedef std::vector<std::string> names_t;
    struct { const char *catalog, *table, *column; int metadata_id; names_t want; } cases[] = {
        {"qvtest_fk", "pattern_cols", "a\\_b", 0, {"a_b@1"}},
        {"qvtest_fk", "pattern_cols", "a_b", 0, {"a_b@1", "axb@2", "a%b@4"}},
        {"qvtest_fk", "pattern_cols", "A_B", 0, {"a_b@1", "axb@2", "a%b@4"}},
        {"qvtest_fk", "pattern_cols", "a%b", 0, {"a_b@1", "axb@2", "ab@3", "a%b@4"}},
        {"qvtest_fk", "pattern_cols", "a\\%b", 0, {"a%b@4"}},
        {"qvtest_fk", "pattern_cols", "_", 0, {"c@5"}},
        {"qvtest_fk", "pattern_cols", "c%", 0, {"c@5"}},
        {"qvtest_fk", "pattern_cols", "%", 0, {"a_b@1", "axb@2", "ab@3", "a%b@4", "c@5"}},
        {"qvtest_fk", "pattern_cols", "%x%", 0, {"axb@2"}},
        {"qvtest_fk", "pattern_cols", "a_", 0, {"ab@3"}},
        {"qvtest_fk", "pattern_cols", "z%", 0, {}},
        {nullptr, "qv_cat_uniq", "_", 0, {"u@1", "v@2"}},
        {nullptr, "qv\\_cat\\_paren_", "c%", 0, {"code@2"}},
        {nullptr, "qv_cat_parent", "%o%e", 0, {"code@2", "note@4"}},
        // identifiers: no pattern characters, quotes and blanks go
        {"qvtest_fk", "pattern_cols", "a_b", 1, {"a_b@1"}},
        {"qvtest_fk", "pattern_cols", " A_B ", 1, {"a_b@1"}},
        {"qvtest_fk", "pattern_cols", "`a%b`", 1, {"a%b@4"}},
        {"qvtest_fk", "pattern_cols", "_", 1, {}},
        {"qvtest_fk", "`pattern_cols`", "\"c\"", 1, {"c@5"}},
    };
    session s;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.table) + " / " + c.column + (c.metadata_id ? " (identifier)" : ""));
        ASSERT_TRUE(SQL_SUCCEEDED(SQLSetStmtAttr(s.stmt, SQL_ATTR_METADATA_ID,
                                                 (SQLPOINTER)(intptr_t)(c.metadata_id ? SQL_TRUE : SQL_FALSE), 0)));
        EXPECT_EQ(column_names(s, c.catalog, c.table, c.column), c.want);
    }
}

// A server before 5.2 has no INFORMATION_SCHEMA: the tables come from SHOW
// TABLE STATUS and the columns from the field-list command, and the names
// match by the same rules there.
TEST(Catalog, ColumnNamePatternsOnTheFieldListPath)
{
    using fake::bytes;
    const std::vector<std::string> tables = {"t_one", "txtwo"};
    const std::vector<std::string> cols = {"id", "c1", "code", "x"};
    fake::server srv([&](fake::session &ss) {
        fake::greeting_info g;
        g.server_version = "5.1.73-fake";
        if (!ss.send_packet(0, fake::greeting(g)))
            return;
        uint8_t seq;
        bytes p;
        if (!ss.read_packet(&seq, &p) || !ss.send_packet((uint8_t)(seq + 1), fake::ok_packet()))
            return;
        peer::serve(ss, [&](fake::session &s2, const bytes &cmd) {
            uint8_t n = 1;
            if (peer::query_text(cmd) == "SHOW TABLE STATUS") {
                bytes count;
                fake::put_lenenc(count, 1);
                bool ok = s2.send_packet(n++, count) &&
                          s2.send_packet(n++, fake::column_def(fake::column("Name", 253))) &&
                          s2.send_packet(n++, fake::eof_packet());
                for (const auto &t : tables)
                    ok = ok && s2.send_packet(n++, fake::text_row({t}));
                ok = ok && s2.send_packet(n++, fake::eof_packet());
                return true;
            }
            if (!cmd.empty() && cmd[0] == 0x04) {   // COM_FIELD_LIST
                std::string table((const char *)cmd.data() + 1);
                bool ok = true;
                for (const auto &c : cols) {
                    fake::column_info ci = fake::column(c, 3, 63);
                    ci.table = ci.org_table = table;
                    bytes def = fake::column_def(ci);
                    fake::put_lenenc(def, 0);   // the field list's default value
                    ok = ok && s2.send_packet(n++, def);
                }
                ok = ok && s2.send_packet(n++, fake::eof_packet());
                return true;
            }
            return false;
        });
    });
    qv::connection conn;
    SQLRETURN rc = conn.connect(peer::conn_str(srv.port()));
    QV_ASSERT_SUCCEEDED(rc, conn.dbc);
    qv::handle stmt = qv::alloc_stmt(conn.dbc);
    struct { const char *table, *column; std::vector<std::string> want; } cases[] = {
        {"t_one", "c%", {"t_one.c1", "t_one.code"}},
        {"t_one", "_", {"t_one.x"}},
        {"t_one", "C_", {"t_one.c1"}},
        {"t_one", "ID", {"t_one.id"}},
        {"t\\_%", "x", {"t_one.x"}},
        {"t_%", "x", {"t_one.x", "txtwo.x"}},
        {"t%", "%d%", {"t_one.code", "t_one.id", "txtwo.code", "txtwo.id"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.table) + " / " + c.column);
        CAT_OK(SQLColumns(stmt, nullptr, 0, nullptr, 0, u(c.table), SQL_NTS, u(c.column), SQL_NTS), stmt);
        std::vector<std::string> got;
        for (const auto &row : rows(stmt))
            got.push_back(row[2] + "." + row[3]);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, c.want);
    }
}

// ------------------------------------------------------- foreign keys

TEST(Catalog, ForeignKeysBothDirections)
{
    // PKTABLE_CAT, PKTABLE_SCHEM, PKTABLE_NAME, PKCOLUMN_NAME, FKTABLE_CAT, FKTABLE_SCHEM, FKTABLE_NAME,
    // FKCOLUMN_NAME, KEY_SEQ, UPDATE_RULE, DELETE_RULE, FK_NAME, PK_NAME, DEFERRABILITY
    // (rules: 0 CASCADE, 1 RESTRICT, 2 SET NULL, 3 NO ACTION; 7 SQL_NOT_DEFERRABLE)
    const rows_t sale_region = {
        {"qvtest_fk", "NULL", "region", "country", "qvtest", "NULL", "qv_fk_sale", "country", "1", "1", "1", "fk_sale_region", "PRIMARY", "7"},
        {"qvtest_fk", "NULL", "region", "code", "qvtest", "NULL", "qv_fk_sale", "region", "2", "1", "1", "fk_sale_region", "PRIMARY", "7"}};
    const rows_t store_region = {
        {"qvtest_fk", "NULL", "region", "country", "qvtest", "NULL", "qv_fk_store", "country", "1", "0", "2", "fk_store_region", "PRIMARY", "7"},
        {"qvtest_fk", "NULL", "region", "code", "qvtest", "NULL", "qv_fk_store", "region", "2", "0", "2", "fk_store_region", "PRIMARY", "7"}};
    const rows_t sale_store = {
        {"qvtest", "NULL", "qv_fk_store", "id", "qvtest", "NULL", "qv_fk_sale", "store", "1", "1", "0", "fk_sale_store", "PRIMARY", "7"}};
    const rows_t sale_kind = {
        {"qvtest_fk", "NULL", "kind", "label", "qvtest", "NULL", "qv_fk_sale", "kind", "1", "2", "3", "fk_sale_kind", "uq_kind_label", "7"}};
    auto join = [](std::initializer_list<rows_t> parts) {
        rows_t all;
        for (const auto &p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const char *N = nullptr;
    struct { const char *what, *pk_cat, *pk_table, *fk_cat, *fk_table; rows_t want; } cases[] = {
        // the keys that refer to a table, by the table holding them
        {"referring to region", "qvtest_fk", "region", N, N, join({sale_region, store_region})},
        {"referring to qv_fk_store", N, "qv_fk_store", N, N, sale_store},
        {"referring to qv_cat_parent", "qvtest", "qv_cat_parent", N, N,
         {{"qvtest", "NULL", "qv_cat_parent", "id", "qvtest", "NULL", "qv_cat_child", "pid", "1", "1", "1", "fk_parent", "PRIMARY", "7"},
          {"qvtest", "NULL", "qv_cat_parent", "code", "qvtest", "NULL", "qv_cat_child", "pcode", "2", "1", "1", "fk_parent", "PRIMARY", "7"}}},
        // the keys a table holds, by the table they refer to
        {"held by qv_fk_sale", N, N, N, "qv_fk_sale", join({sale_store, sale_kind, sale_region})},
        {"held by qv_fk_store", N, "", "qvtest", "qv_fk_store", store_region},
        // between two tables
        {"sale to store", N, "qv_fk_store", N, "qv_fk_sale", sale_store},
        {"sale to region", "qvtest_fk", "region", "qvtest", "qv_fk_sale", sale_region},
        {"unrelated", N, "qv_cat_parent", N, "qv_fk_sale", {}},
        // a table given without its catalog is one of the current database
        {"region is not in qvtest", N, "region", N, N, {}},
        {"no keys", N, "qv_cat_nokey", N, N, {}},
        {"hostile name", N, "qv_fk_store' OR '1'='1", N, N, {}},
        {"hostile catalog", "qvtest_fk' OR '1'='1", "region", N, N, {}},
    };
    session s;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        CAT_OK(SQLForeignKeys(s.stmt, (SQLCHAR *)c.pk_cat, SQL_NTS, nullptr, 0, (SQLCHAR *)c.pk_table, SQL_NTS,
                              (SQLCHAR *)c.fk_cat, SQL_NTS, nullptr, 0, (SQLCHAR *)c.fk_table, SQL_NTS),
               s.stmt);
        EXPECT_EQ(rows(s.stmt), c.want);
    }

    // wide, lengths in characters
    auto pk = w(u"qv_fk_storeXX"), fk = w(u"qv_fk_sale");
    CAT_OK(SQLForeignKeysW(s.stmt, nullptr, 0, nullptr, 0, pk.data(), 11, nullptr, 0, nullptr, 0, fk.data(), SQL_NTS),
           s.stmt);
    EXPECT_EQ(rows(s.stmt), sale_store);

    // neither table
    EXPECT_EQ(SQLForeignKeys(s.stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(qv::first_state(s.stmt), "HY009");
}

// ------------------------------------------------- procedure columns

TEST(Catalog, ProcedureColumns)
{
    // PROCEDURE_CAT .. COLUMN_NAME, COLUMN_TYPE (1 IN, 2 INOUT, 4 OUT, 5 return value), DATA_TYPE, TYPE_NAME,
    // COLUMN_SIZE, BUFFER_LENGTH, DECIMAL_DIGITS, NUM_PREC_RADIX, NULLABLE, REMARKS, COLUMN_DEF,
    // SQL_DATA_TYPE, SQL_DATETIME_SUB, CHAR_OCTET_LENGTH, ORDINAL_POSITION, IS_NULLABLE
    const std::vector<std::string> a = {"qvtest", "NULL", "qv_pc_modes", "a", "1", "4", "INTEGER", "10", "4", "0", "10", "1", "NULL", "NULL", "4", "NULL", "NULL", "1", "YES"};
    const std::vector<std::string> b = {"qvtest", "NULL", "qv_pc_modes", "b", "4", "3", "DECIMAL", "10", "12", "2", "10", "1", "NULL", "NULL", "3", "NULL", "NULL", "2", "YES"};
    const std::vector<std::string> c = {"qvtest", "NULL", "qv_pc_modes", "c", "2", "12", "VARCHAR", "20", "80", "0", "NULL", "1", "NULL", "NULL", "12", "NULL", "80", "3", "YES"};
    const std::vector<std::string> ret = {"qvtest", "NULL", "qv_pc_func", "", "5", "-5", "BIGINT", "19", "8", "0", "10", "1", "NULL", "NULL", "-5", "NULL", "NULL", "0", "YES"};
    const std::vector<std::string> x = {"qvtest", "NULL", "qv_pc_func", "x", "1", "93", "TIMESTAMP", "23", "16", "3", "NULL", "1", "NULL", "NULL", "9", "3", "NULL", "1", "YES"};
    const std::vector<std::string> y = {"qvtest", "NULL", "qv_pc_func", "y", "1", "-3", "VARBINARY", "16", "16", "0", "NULL", "1", "NULL", "NULL", "-3", "NULL", "16", "2", "YES"};
    const char *N = nullptr;
    struct { const char *catalog, *proc, *column; rows_t want; } cases[] = {
        {N, "qv_pc_modes", N, {a, b, c}},
        {"qvtest", "qv_pc_func", N, {ret, x, y}},
        {N, "qv\\_pc\\_%", N, {ret, x, y, a, b, c}},
        {N, "qv_pc_modes", "_", {a, b, c}},
        {N, "qv_pc_modes", "c", {c}},
        {N, "qv_pc_%", "%", {ret, x, y, a, b, c}},
        {N, "qv_pc_%", "y%", {y}},
        {N, "qv_pc_none", N, {}},
        {"qvtest_cat", "qv_pc_modes", N, {}},
        {N, "qv_pc_modes' OR '1'='1", N, {}},
        {N, "qv_pc_modes", "a' OR '1'='1", {}},
    };
    session s;
    for (const auto &k : cases) {
        SCOPED_TRACE(std::string(k.proc) + " / " + (k.column ? k.column : "(all)"));
        CAT_OK(SQLProcedureColumns(s.stmt, (SQLCHAR *)k.catalog, SQL_NTS, nullptr, 0, (SQLCHAR *)k.proc, SQL_NTS,
                                   (SQLCHAR *)k.column, SQL_NTS),
               s.stmt);
        EXPECT_EQ(rows(s.stmt), k.want);
    }
    auto proc = w(u"qv_pc_modes");
    CAT_OK(SQLProcedureColumnsW(s.stmt, nullptr, 0, nullptr, 0, proc.data(), SQL_NTS, nullptr, 0), s.stmt);
    EXPECT_EQ(wide_column(s.stmt, 4), (std::vector<std::u16string>{u"a", u"b", u"c"}));
}

// ------------------------------------------------- transactions and DDL

// The server commits the open transaction before a DDL statement, and the
// driver says so: a client believing DDL rolls back would lose the rows.
TEST(Catalog, DdlCommitsAndTheDriverSaysSo)
{
    session s;
    SQLUSMALLINT capable = 0;
    ASSERT_EQ(SQLGetInfo(s.c.dbc, SQL_TXN_CAPABLE, &capable, sizeof capable, nullptr), SQL_SUCCESS);
    EXPECT_EQ(capable, SQL_TC_DDL_COMMIT);

    // a database of its own, so that no other test sees the tables
    CAT_OK(s.exec("DROP DATABASE IF EXISTS qvtest_ddl"), s.stmt);
    CAT_OK(s.exec("CREATE DATABASE qvtest_ddl"), s.stmt);
    CAT_OK(s.exec("CREATE TABLE qvtest_ddl.kept (v INT) ENGINE=InnoDB"), s.stmt);
    ASSERT_EQ(SQLSetConnectAttr(s.c.dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0), SQL_SUCCESS);
    CAT_OK(s.exec("INSERT INTO qvtest_ddl.kept VALUES (1)"), s.stmt);
    CAT_OK(s.exec("CREATE TABLE qvtest_ddl.other (v INT)"), s.stmt);
    ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, s.c.dbc, SQL_ROLLBACK), SQL_SUCCESS);
    CAT_OK(s.exec("SELECT COUNT(*) FROM qvtest_ddl.kept"), s.stmt);
    EXPECT_EQ(rows(s.stmt), (rows_t{{"1"}}));
    ASSERT_EQ(SQLSetConnectAttr(s.c.dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0), SQL_SUCCESS);
    CAT_OK(s.exec("DROP DATABASE qvtest_ddl"), s.stmt);
}

} // namespace
