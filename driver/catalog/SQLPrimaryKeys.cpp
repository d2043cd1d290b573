/*
 * SQLPrimaryKeys / SQLPrimaryKeysW: the columns of a table's PRIMARY key,
 * from the server's index listing.
 */
#include <string.h>

#include "catalog/my_catalog.h"

namespace {

const internal_rs_column primary_keys_columns[] = {
    {"TABLE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"COLUMN_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"KEY_SEQ", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"PK_NAME", SQL_VARCHAR, 64, SQL_NULLABLE},
};
const internal_rs_layout primary_keys_layout = irs_layout(primary_keys_columns);
const int primary_keys_keys[] = {1, 2, 3, 5, 0};

SQLRETURN primary_keys(my_statement *stmt, const void *cat, SQLSMALLINT cat_len, const void *schema,
                       SQLSMALLINT schema_len, const void *table, SQLSMALLINT table_len, int wide)
{
    cat_arg catalog, sch, tab;
    if (cat_arg_init(stmt, &catalog, cat, cat_len, wide) ||
        cat_arg_init(stmt, &sch, schema, schema_len, wide) ||
        cat_arg_init(stmt, &tab, table, table_len, wide))
        return SQL_ERROR;
    if (catalog_begin(stmt, &primary_keys_layout, primary_keys_keys) != 0)
        return SQL_ERROR;
    if (!cat_filters(tab))
        return catalog_done(stmt, 1, 1);
    my_string *q =
        sql_index_listing(stmt, "KEYS", cat_filters(catalog) ? catalog.s : nullptr, tab.s);
    if (!q)
        return SQL_ERROR;
    const my_connection *c = handle_conn(stmt);
    int rc = catalog_query(stmt, q, [&](my_statement *inner) {
        cat_text key = inner_text(inner, IX_KEY_NAME, 64);
        if (key.is_null || key.bytes != "PRIMARY")
            return 0;
        cat_row r(6);
        r.set_ms(2, c, tab.s);
        r.set(3, inner_text(inner, IX_COLUMN, 64));
        r.set(4, inner_text(inner, IX_SEQ, 20));
        r.set(5, "PRIMARY");
        return r.insert(stmt);
    });
    if (rc != 0)
        return SQL_ERROR;
    return catalog_done(stmt, 1, 1);
}

} // namespace

SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT hstmt, SQLCHAR *catalog, SQLSMALLINT catalog_len,
                                 SQLCHAR *schema, SQLSMALLINT schema_len, SQLCHAR *table,
                                 SQLSMALLINT table_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLPrimaryKeys", SQL_API_SQLPRIMARYKEYS, 0, 0, 0,
                     "SQLPrimaryKeys: statement_handle=%p, catalog_name=%q, schema_name=%q, "
                     "table_name=%q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len);
    return QV_LEAVE(primary_keys(stmt, catalog, catalog_len, schema, schema_len, table, table_len, 0));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT hstmt, SQLWCHAR *catalog, SQLSMALLINT catalog_len,
                                  SQLWCHAR *schema, SQLSMALLINT schema_len, SQLWCHAR *table,
                                  SQLSMALLINT table_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLPrimaryKeysW", SQL_API_SQLPRIMARYKEYS, 0, 0, 0,
                     "SQLPrimaryKeysW: statement_handle=%p, catalog_name=%Q, schema_name=%Q, "
                     "table_name=%Q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len);
    return QV_LEAVE(primary_keys(stmt, catalog, catalog_len, schema, schema_len, table, table_len, 1));
}
QV_CATCH(hstmt)
