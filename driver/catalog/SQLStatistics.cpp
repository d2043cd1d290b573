/*
 * SQLStatistics / SQLStatisticsW: a table's indexes, from the server's index
 * listing, after the SQL_TABLE_STAT row that ODBC puts first.
 */
#include "catalog/my_catalog.h"
#include "connect/my_inner_query.h"

namespace {

/* Every column the SQL_TABLE_STAT row leaves NULL is described nullable:
 * an application binding one without an indicator would fail on that row. */
const internal_rs_column statistics_columns[] = {
    {"TABLE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"NON_UNIQUE", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"INDEX_QUALIFIER", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"INDEX_NAME", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TYPE", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"ORDINAL_POSITION", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"COLUMN_NAME", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"ASC_OR_DESC", SQL_VARCHAR, 5, SQL_NULLABLE},
    {"CARDINALITY", SQL_INTEGER, 0, SQL_NULLABLE},
    {"PAGES", SQL_INTEGER, 0, SQL_NULLABLE},
    {"FILTER_CONDITION", SQL_VARCHAR, 64, SQL_NULLABLE},
};
const internal_rs_layout statistics_layout = irs_layout(statistics_columns);
const int statistics_keys[] = {4, 7, 5, 6, 8, 0};

/* Server errors that mean "no such table": the answer is an empty result. */
enum { ER_BAD_DB_ERROR = 1049, ER_NO_SUCH_TABLE = 1146 };

int insert_table_stat(my_statement *stmt, const cat_arg &catalog, const cat_arg &table)
{
    const my_connection *c = handle_conn(stmt);
    cat_row r(13);
    if (catalog.s)
        r.set_ms(0, c, catalog.s);
    r.set_ms(2, c, table.s);
    r.set(6, "0");   /* SQL_TABLE_STAT */
    return r.insert(stmt);
}

SQLRETURN statistics(my_statement *stmt, const void *cat, SQLSMALLINT cat_len, const void *schema,
                     SQLSMALLINT schema_len, const void *table, SQLSMALLINT table_len,
                     SQLUSMALLINT unique, int wide)
{
    if (!table) {
        post_error(stmt, ST_HY009, 0, nullptr);
        return SQL_ERROR;
    }
    cat_arg catalog, sch, tab;
    if (cat_arg_init(stmt, &catalog, cat, cat_len, wide) ||
        cat_arg_init(stmt, &sch, schema, schema_len, wide) ||
        cat_arg_init(stmt, &tab, table, table_len, wide))
        return SQL_ERROR;
    if (catalog_begin(stmt, &statistics_layout, statistics_keys) != 0)
        return SQL_ERROR;
    my_string *q = sql_index_listing(stmt, "INDEX", cat_has_text(catalog) ? catalog.s : nullptr,
                                     tab.s);
    if (!q)
        return SQL_ERROR;
    const my_connection *c = handle_conn(stmt);
    int first = 1;
    int native = 0;
    int rc = catalog_query(stmt, q, [&](my_statement *inner) {
        if (first) {
            first = 0;
            if (insert_table_stat(stmt, catalog, tab) != 0)
                return -1;
        }
        int32_t non_unique = 0;
        if (inner_column_int(inner, IX_NON_UNIQUE, &non_unique) != 0)
            non_unique = 0;
        if (unique == SQL_INDEX_UNIQUE && non_unique)
            return 0;
        cat_row r(13);
        if (catalog.s)
            r.set_ms(0, c, catalog.s);
        r.set(2, inner_text(inner, IX_TABLE, 64));
        r.set(3, non_unique ? "1" : "0");
        r.set(5, inner_text(inner, IX_KEY_NAME, 64));
        cat_text type = inner_text(inner, IX_TYPE, 64);
        r.set(6, !type.is_null && type.bytes == "HASH" ? "2" : "3");
        r.set(7, inner_text(inner, IX_SEQ, 20));
        r.set(8, inner_text(inner, IX_COLUMN, 64));
        r.set(9, "A");
        r.set(10, inner_text(inner, IX_CARDINALITY, 20));
        return r.insert(stmt);
    }, &native);
    if (rc == 0 && first)
        rc = insert_table_stat(stmt, catalog, tab);   /* a table without indexes */
    if (rc != 0) {
        if (native != ER_NO_SUCH_TABLE && native != ER_BAD_DB_ERROR)
            return SQL_ERROR;
        /* no such table: an empty answer, not a failure */
        clear_diagnostics(stmt);
        internal_rs_create(stmt, &statistics_layout, statistics_keys);
    }
    return catalog_done(stmt, 1, 1);
}

} // namespace

SQLRETURN SQL_API SQLStatistics(SQLHSTMT hstmt, SQLCHAR *catalog, SQLSMALLINT catalog_len,
                                SQLCHAR *schema, SQLSMALLINT schema_len, SQLCHAR *table,
                                SQLSMALLINT table_len, SQLUSMALLINT unique, SQLUSMALLINT reserved)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLStatistics", 0, 0, SQL_API_SQLSTATISTICS, 4149,
                     "SQLStatistics: statement_handle=%p, catalog_name=%q, schema_name=%q, "
                     "table_name=%q, unique=%d, reserved=%d",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len, (int)unique, (int)reserved);
    return QV_LEAVE(statistics(stmt, catalog, catalog_len, schema, schema_len, table, table_len,
                               unique, 0));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT hstmt, SQLWCHAR *catalog, SQLSMALLINT catalog_len,
                                 SQLWCHAR *schema, SQLSMALLINT schema_len, SQLWCHAR *table,
                                 SQLSMALLINT table_len, SQLUSMALLINT unique, SQLUSMALLINT reserved)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLStatisticsW", 0, 0, SQL_API_SQLSTATISTICS, 4149,
                     "SQLStatisticsW: statement_handle=%p, catalog_name=%Q, schema_name=%Q, "
                     "table_name=%Q, unique=%d, reserved=%d",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len, (int)unique, (int)reserved);
    return QV_LEAVE(statistics(stmt, catalog, catalog_len, schema, schema_len, table, table_len,
                               unique, 1));
}
QV_CATCH(hstmt)
