/*
 * SQLColumnPrivileges / SQLColumnPrivilegesW: the privileges granted on
 * columns, from INFORMATION_SCHEMA (older servers: the mysql grant tables).
 */
#include "catalog/my_catalog.h"

namespace {

const internal_rs_column column_privileges_columns[] = {
    {"TABLE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"COLUMN_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"GRANTOR", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"GRANTEE", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"PRIVILEGE", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"IS_GRANTABLE", SQL_VARCHAR, 64, SQL_NULLABLE},
};
const internal_rs_layout column_privileges_layout = irs_layout(column_privileges_columns);
const int column_privileges_keys[] = {1, 2, 3, 4, 7, 0};

enum { NAME_CHARS = 64, GRANTEE_CHARS = 400 };

SQLRETURN column_privileges(my_statement *stmt, const void *cat, SQLSMALLINT cat_len,
                            const void *schema, SQLSMALLINT schema_len, const void *table,
                            SQLSMALLINT table_len, const void *column, SQLSMALLINT column_len,
                            int wide)
{
    cat_arg catalog, sch, tab, col;
    if (cat_arg_init(stmt, &catalog, cat, cat_len, wide) ||
        cat_arg_init(stmt, &sch, schema, schema_len, wide) ||
        cat_arg_init(stmt, &tab, table, table_len, wide) ||
        cat_arg_init(stmt, &col, column, column_len, wide))
        return SQL_ERROR;
    if (catalog_begin(stmt, &column_privileges_layout, column_privileges_keys) != 0)
        return SQL_ERROR;
    int modern = server_has_information_schema(handle_conn(stmt));
    my_string *q = ms_from_latin1(
        modern ? "SELECT TABLE_SCHEMA, TABLE_CATALOG, TABLE_NAME, COLUMN_NAME, NULL, GRANTEE, "
                 "PRIVILEGE_TYPE, IS_GRANTABLE FROM INFORMATION_SCHEMA.COLUMN_PRIVILEGES"
               : "SELECT c.Db, c.User, c.Table_name, c.Column_name,t.Grantor, c.Column_priv, "
                 "t.Table_priv FROM mysql.columns_priv AS c, mysql.tables_priv AS t WHERE  "
                 "c.Table_name= t.Table_name");
    if (!q) {
        post_error(stmt, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
    int where = !modern;
    int rc = modern ? sql_add_filter(stmt, q, &where, "TABLE_NAME", tab) ||
                          sql_add_filter(stmt, q, &where, "TABLE_SCHEMA", catalog) ||
                          sql_add_filter(stmt, q, &where, "TABLE_CATALOG", sch) ||
                          sql_add_filter(stmt, q, &where, "COLUMN_NAME", col)
                    : sql_add_filter(stmt, q, &where, "c.Table_name", tab) ||
                          sql_add_filter(stmt, q, &where, "c.Db", catalog) ||
                          sql_add_filter(stmt, q, &where, "c.Column_name", col);
    if (rc) {
        ms_free(q);
        return SQL_ERROR;
    }
    rc = catalog_query(stmt, q, [&](my_statement *inner) {
        cat_row r(8);
        if (modern) {
            r.set(0, inner_text(inner, 1, NAME_CHARS));
            r.set(1, inner_text(inner, 2, NAME_CHARS));
            r.set(2, inner_text(inner, 3, NAME_CHARS));
            r.set(3, inner_text(inner, 4, NAME_CHARS));
            r.set(5, inner_text(inner, 6, GRANTEE_CHARS));
            r.set(6, inner_text(inner, 7, NAME_CHARS));
            r.set(7, inner_text(inner, 8, NAME_CHARS));
        } else {
            r.set(0, inner_text(inner, 1, NAME_CHARS));
            r.set(2, inner_text(inner, 3, NAME_CHARS));
            r.set(3, inner_text(inner, 4, NAME_CHARS));
            r.set(4, inner_text(inner, 5, GRANTEE_CHARS));
            r.set(5, inner_text(inner, 2, GRANTEE_CHARS));
            r.set(6, inner_text(inner, 6, GRANTEE_CHARS));
        }
        return r.insert(stmt);
    });
    if (rc != 0)
        return SQL_ERROR;
    return catalog_done(stmt, 1, 1);
}

} // namespace

SQLRETURN SQL_API SQLColumnPrivileges(SQLHSTMT hstmt, SQLCHAR *catalog, SQLSMALLINT catalog_len,
                                      SQLCHAR *schema, SQLSMALLINT schema_len, SQLCHAR *table,
                                      SQLSMALLINT table_len, SQLCHAR *column,
                                      SQLSMALLINT column_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLColumnPrivileges", SQL_API_SQLCOLUMNPRIVILEGES, 0, 0, 0,
                     "SQLColumnPrivileges: statement_handle=%p, catalog_name=%q, schema_name=%q, "
                     "table_name=%q, column_name=%q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len, column, (int64_t)column_len);
    return QV_LEAVE(column_privileges(stmt, catalog, catalog_len, schema, schema_len, table,
                                      table_len, column, column_len, 0));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT hstmt, SQLWCHAR *catalog, SQLSMALLINT catalog_len,
                                       SQLWCHAR *schema, SQLSMALLINT schema_len, SQLWCHAR *table,
                                       SQLSMALLINT table_len, SQLWCHAR *column,
                                       SQLSMALLINT column_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLColumnPrivilegesW", SQL_API_SQLCOLUMNPRIVILEGES, 0, 0, 0,
                     "SQLColumnPrivilegesW: statement_handle=%p, catalog_name=%Q, schema_name=%Q, "
                     "table_name=%Q, column_name=%Q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len, column, (int64_t)column_len);
    return QV_LEAVE(column_privileges(stmt, catalog, catalog_len, schema, schema_len, table,
                                      table_len, column, column_len, 1));
}
QV_CATCH(hstmt)
