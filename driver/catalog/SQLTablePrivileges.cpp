/*
 * SQLTablePrivileges / SQLTablePrivilegesW: the privileges granted on
 * tables, from INFORMATION_SCHEMA (older servers: the mysql grant tables).
 */
#include "catalog/my_catalog.h"

namespace {

const internal_rs_column table_privileges_columns[] = {
    {"TABLE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"GRANTOR", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"GRANTEE", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"PRIVILEGE", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"IS_GRANTABLE", SQL_VARCHAR, 64, SQL_NULLABLE},
};
const internal_rs_layout table_privileges_layout = irs_layout(table_privileges_columns);
const int table_privileges_keys[] = {1, 2, 3, 6, 0};

enum { NAME_CHARS = 64, GRANTEE_CHARS = 400 };

SQLRETURN table_privileges(my_statement *stmt, const void *cat, SQLSMALLINT cat_len,
                           const void *schema, SQLSMALLINT schema_len, const void *table,
                           SQLSMALLINT table_len, int wide)
{
    cat_arg catalog, sch, tab;
    if (cat_arg_init(stmt, &catalog, cat, cat_len, wide) ||
        cat_arg_init(stmt, &sch, schema, schema_len, wide) ||
        cat_arg_init(stmt, &tab, table, table_len, wide))
        return SQL_ERROR;
    if (catalog_begin(stmt, &table_privileges_layout, table_privileges_keys) != 0)
        return SQL_ERROR;
    int modern = server_has_information_schema(handle_conn(stmt));
    my_string *q = ms_from_latin1(
        modern ? "SELECT TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, GRANTEE, PRIVILEGE_TYPE, "
                 "IS_GRANTABLE FROM INFORMATION_SCHEMA.TABLE_PRIVILEGES"
               : "SELECT DB, USER, TABLE_NAME, GRANTOR, TABLE_PRIV FROM mysql.tables_priv");
    if (!q) {
        post_error(stmt, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
    int where = 0;
    if (sql_add_filter(stmt, q, &where, "TABLE_NAME", tab) ||
        sql_add_filter(stmt, q, &where, modern ? "TABLE_SCHEMA" : "Db", catalog)) {
        ms_free(q);
        return SQL_ERROR;
    }
    int rc = catalog_query(stmt, q, [&](my_statement *inner) {
        cat_row r(7);
        if (modern) {
            r.set(0, inner_text(inner, 1, NAME_CHARS));
            r.set(1, inner_text(inner, 2, NAME_CHARS));
            r.set(2, inner_text(inner, 3, NAME_CHARS));
            r.set(4, inner_text(inner, 4, GRANTEE_CHARS));
            r.set(5, inner_text(inner, 5, NAME_CHARS));
            r.set(6, inner_text(inner, 6, NAME_CHARS));
        } else {
            r.set(0, inner_text(inner, 1, NAME_CHARS));
            r.set(2, inner_text(inner, 3, NAME_CHARS));
            r.set(3, inner_text(inner, 4, GRANTEE_CHARS));
            r.set(4, inner_text(inner, 2, GRANTEE_CHARS));
            r.set(5, inner_text(inner, 5, GRANTEE_CHARS));
        }
        return r.insert(stmt);
    });
    if (rc != 0)
        return SQL_ERROR;
    return catalog_done(stmt, 1, 1);
}

} // namespace

SQLRETURN SQL_API SQLTablePrivileges(SQLHSTMT hstmt, SQLCHAR *catalog, SQLSMALLINT catalog_len,
                                     SQLCHAR *schema, SQLSMALLINT schema_len, SQLCHAR *table,
                                     SQLSMALLINT table_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLTablePrivileges", SQL_API_SQLTABLES, 0, 0, 0,
                     "SQLTablePrivileges: statement_handle=%p, catalog_name=%q, schema_name=%q, "
                     "table_name=%q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len);
    return QV_LEAVE(
        table_privileges(stmt, catalog, catalog_len, schema, schema_len, table, table_len, 0));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLTablePrivilegesW(SQLHSTMT hstmt, SQLWCHAR *catalog, SQLSMALLINT catalog_len,
                                      SQLWCHAR *schema, SQLSMALLINT schema_len, SQLWCHAR *table,
                                      SQLSMALLINT table_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLTablePrivilegesW", SQL_API_SQLTABLES, 0, 0, 0,
                     "SQLTablePrivilegesW: statement_handle=%p, catalog_name=%Q, schema_name=%Q, "
                     "table_name=%Q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len);
    return QV_LEAVE(
        table_privileges(stmt, catalog, catalog_len, schema, schema_len, table, table_len, 1));
}
QV_CATCH(hstmt)
