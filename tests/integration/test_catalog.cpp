// The catalog functions through the driver manager against the seeded test
// schema (fixtures/seed/catalog.sql): result layouts, rows and their order,
// name patterns and empty arguments, the wide forms with non-Latin names,
// names that try to change the query, and the refusals.
#include <gtest/gtest.h>

#include <sqlext.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

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
         {"PROCEDURE_CAT", "PROCEDURE_SCHEM", "PROCEDURE_NAME", "NUM_INPUT_PARAMETERS",
          "NUM_OUTPUT_PARAMETERS", "NUM_RESULT_SETS", "REMARKS", "PROCEDURE_TYPE"},
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
        {"_ alone is no pattern", N, 0, N, 0, "qv_cat_paren_", SQL_NTS, N, 0, {}},
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
         {{"NULL", "NULL", "NULL", "SYSTEM TABLE"}, {"NULL", "NULL", "NULL", "TABLE"}, {"NULL", "NULL", "NULL", "VIEW"}}},
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
        {nullptr, "qv_cat_parent", "i%", {}},
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

TEST(Catalog, ForeignKeysAndProcedureColumnsAreEmpty)
{
    session s;
    CAT_OK(SQLForeignKeys(s.stmt, nullptr, 0, nullptr, 0, u("qv_cat_parent"), SQL_NTS, nullptr, 0, nullptr, 0,
                          u("qv_cat_child"), SQL_NTS),
           s.stmt);
    EXPECT_TRUE(rows(s.stmt).empty());
    CAT_OK(SQLProcedureColumns(s.stmt, nullptr, 0, nullptr, 0, u("qv_cat_proc"), SQL_NTS, nullptr, 0), s.stmt);
    EXPECT_TRUE(rows(s.stmt).empty());
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

} // namespace
