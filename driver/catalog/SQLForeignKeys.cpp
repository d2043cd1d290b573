/*
 * SQLForeignKeys / SQLForeignKeysW: the foreign keys that refer to a table,
 * the ones a table holds, or the ones between two tables, from
 * INFORMATION_SCHEMA.KEY_COLUMN_USAGE and REFERENTIAL_CONSTRAINTS. A table
 * given without its catalog is looked for in the current database.
 */
#include "catalog/my_catalog.h"

namespace {

const internal_rs_column foreign_keys_columns[] = {
    {"PKTABLE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"PKTABLE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"PKTABLE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"PKCOLUMN_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"FKTABLE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"FKTABLE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"FKTABLE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"FKCOLUMN_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"KEY_SEQ", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"UPDATE_RULE", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"DELETE_RULE", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"FK_NAME", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"PK_NAME", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"DEFERRABILITY", SQL_SMALLINT, 0, SQL_NULLABLE},
};
const internal_rs_layout foreign_keys_layout = irs_layout(foreign_keys_columns);
/* A primary table given: the keys that refer to it, by the table holding
 * them; otherwise by the table they refer to. The constraint's name keeps
 * two keys between the same tables apart. */
const int by_foreign_table[] = {5, 6, 7, 9, 12, 0};
const int by_primary_table[] = {1, 2, 3, 9, 12, 0};

enum { NAME_CHARS = 64 };

/* The referential action as ODBC codes it; the server's default (RESTRICT)
 * for anything it does not name. */
int rule_code(const std::string &rule)
{
    static const struct { const char *name; int code; } rules[] = {
        {"CASCADE", SQL_CASCADE},   {"RESTRICT", SQL_RESTRICT},       {"SET NULL", SQL_SET_NULL},
        {"NO ACTION", SQL_NO_ACTION}, {"SET DEFAULT", SQL_SET_DEFAULT},
    };
    for (const auto &r : rules)
        if (rule == r.name)
            return r.code;
    return SQL_RESTRICT;
}

/* " AND <schema column>=<catalog or DATABASE()> AND <table column>=<table>" */
int add_table(my_statement *stmt, my_string *q, const char *schema_column, const cat_arg &catalog,
              const char *table_column, const cat_arg &table)
{
    int rc = sql_add(stmt, q, " AND ") || sql_add(stmt, q, schema_column) || sql_add(stmt, q, "=");
    if (!rc)
        rc = cat_has_text(catalog) ? sql_add_literal(stmt, q, catalog.s)
                                   : sql_add(stmt, q, "DATABASE()");
    return rc || sql_add(stmt, q, " AND ") || sql_add(stmt, q, table_column) ||
           sql_add(stmt, q, "=") || sql_add_literal(stmt, q, table.s);
}

int read_keys(my_statement *stmt, const cat_arg &pk_catalog, const cat_arg *pk_table,
              const cat_arg &fk_catalog, const cat_arg *fk_table)
{
    my_string *q = ms_from_latin1(
        "SELECT k.REFERENCED_TABLE_SCHEMA, k.REFERENCED_TABLE_NAME, k.REFERENCED_COLUMN_NAME, "
        "k.TABLE_SCHEMA, k.TABLE_NAME, k.COLUMN_NAME, k.ORDINAL_POSITION, r.UPDATE_RULE, "
        "r.DELETE_RULE, k.CONSTRAINT_NAME, r.UNIQUE_CONSTRAINT_NAME "
        "FROM INFORMATION_SCHEMA.KEY_COLUMN_USAGE k "
        "JOIN INFORMATION_SCHEMA.REFERENTIAL_CONSTRAINTS r "
        "ON r.CONSTRAINT_SCHEMA=k.CONSTRAINT_SCHEMA AND r.CONSTRAINT_NAME=k.CONSTRAINT_NAME "
        "AND r.TABLE_NAME=k.TABLE_NAME "
        "WHERE k.REFERENCED_TABLE_NAME IS NOT NULL");
    if (!q) {
        post_error(stmt, ST_HY001, 0, nullptr);
        return -1;
    }
    int rc = 0;
    if (pk_table)
        rc = add_table(stmt, q, "k.REFERENCED_TABLE_SCHEMA", pk_catalog, "k.REFERENCED_TABLE_NAME",
                       *pk_table);
    if (!rc && fk_table)
        rc = add_table(stmt, q, "k.TABLE_SCHEMA", fk_catalog, "k.TABLE_NAME", *fk_table);
    if (rc) {
        ms_free(q);
        return -1;
    }
    return catalog_query(stmt, q, [stmt](my_statement *inner) {
        cat_row r(14);
        r.set(0, inner_text(inner, 1, NAME_CHARS));
        r.set(2, inner_text(inner, 2, NAME_CHARS));
        r.set(3, inner_text(inner, 3, NAME_CHARS));
        r.set(4, inner_text(inner, 4, NAME_CHARS));
        r.set(6, inner_text(inner, 5, NAME_CHARS));
        r.set(7, inner_text(inner, 6, NAME_CHARS));
        r.set(8, inner_text(inner, 7, 10));
        r.set_int(9, rule_code(inner_text(inner, 8, 16).bytes));
        r.set_int(10, rule_code(inner_text(inner, 9, 16).bytes));
        r.set(11, inner_text(inner, 10, NAME_CHARS));
        r.set(12, inner_text(inner, 11, NAME_CHARS));
        r.set_int(13, SQL_NOT_DEFERRABLE);
        return r.insert(stmt);
    });
}

SQLRETURN foreign_keys(my_statement *stmt, const void *pk_cat, SQLSMALLINT pk_cat_len,
                       const void *pk_tab, SQLSMALLINT pk_tab_len, const void *fk_cat,
                       SQLSMALLINT fk_cat_len, const void *fk_tab, SQLSMALLINT fk_tab_len, int wide)
{
    /* The schema arguments name nothing: the server has no schemas. */
    cat_arg pk_catalog, pk_table, fk_catalog, fk_table;
    if (cat_arg_init(stmt, &pk_catalog, pk_cat, pk_cat_len, wide) ||
        cat_arg_init(stmt, &pk_table, pk_tab, pk_tab_len, wide) ||
        cat_arg_init(stmt, &fk_catalog, fk_cat, fk_cat_len, wide) ||
        cat_arg_init(stmt, &fk_table, fk_tab, fk_tab_len, wide))
        return SQL_ERROR;
    if (!pk_table.given && !fk_table.given) {
        post_error(stmt, ST_HY009, 0, nullptr);
        return SQL_ERROR;
    }
    /* An empty name gives no table: clients pass "" for the side they leave
     * open as often as a null pointer. */
    int pk_set = cat_has_text(pk_table), fk_set = cat_has_text(fk_table);
    if (catalog_begin(stmt, &foreign_keys_layout, pk_set ? by_foreign_table : by_primary_table) != 0)
        return SQL_ERROR;
    if ((pk_set || fk_set) && server_has_information_schema(handle_conn(stmt)) &&
        read_keys(stmt, pk_catalog, pk_set ? &pk_table : nullptr, fk_catalog,
                  fk_set ? &fk_table : nullptr) != 0)
        return SQL_ERROR;
    return catalog_done(stmt, 1, 1);
}

} // namespace

SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT hstmt, SQLCHAR *pk_catalog, SQLSMALLINT pk_catalog_len,
                                 SQLCHAR *pk_schema, SQLSMALLINT pk_schema_len, SQLCHAR *pk_table,
                                 SQLSMALLINT pk_table_len, SQLCHAR *fk_catalog,
                                 SQLSMALLINT fk_catalog_len, SQLCHAR *fk_schema,
                                 SQLSMALLINT fk_schema_len, SQLCHAR *fk_table,
                                 SQLSMALLINT fk_table_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLForeignKeys", SQL_API_SQLFOREIGNKEYS, 4156, 0, 0,
                     "SQLForeignKeys: statement_handle=%p, pk_catalog_name=%q, pk_schema_name=%q, "
                     "pk_table_name=%q, fk_catalog_name=%q, fk_schema_name=%q, fk_table_name=%q",
                     hstmt, pk_catalog, (int64_t)pk_catalog_len, pk_schema, (int64_t)pk_schema_len,
                     pk_table, (int64_t)pk_table_len, fk_catalog, (int64_t)fk_catalog_len,
                     fk_schema, (int64_t)fk_schema_len, fk_table, (int64_t)fk_table_len);
    return QV_LEAVE(foreign_keys(stmt, pk_catalog, pk_catalog_len, pk_table, pk_table_len,
                                 fk_catalog, fk_catalog_len, fk_table, fk_table_len, 0));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT hstmt, SQLWCHAR *pk_catalog, SQLSMALLINT pk_catalog_len,
                                  SQLWCHAR *pk_schema, SQLSMALLINT pk_schema_len,
                                  SQLWCHAR *pk_table, SQLSMALLINT pk_table_len,
                                  SQLWCHAR *fk_catalog, SQLSMALLINT fk_catalog_len,
                                  SQLWCHAR *fk_schema, SQLSMALLINT fk_schema_len,
                                  SQLWCHAR *fk_table, SQLSMALLINT fk_table_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLForeignKeysW", SQL_API_SQLFOREIGNKEYS, 4156, 0, 0,
                     "SQLForeignKeysW: statement_handle=%p, pk_catalog_name=%Q, pk_schema_name=%Q, "
                     "pk_table_name=%Q, fk_catalog_name=%Q, fk_schema_name=%Q, fk_table_name=%Q",
                     hstmt, pk_catalog, (int64_t)pk_catalog_len, pk_schema, (int64_t)pk_schema_len,
                     pk_table, (int64_t)pk_table_len, fk_catalog, (int64_t)fk_catalog_len,
                     fk_schema, (int64_t)fk_schema_len, fk_table, (int64_t)fk_table_len);
    return QV_LEAVE(foreign_keys(stmt, pk_catalog, pk_catalog_len, pk_table, pk_table_len,
                                 fk_catalog, fk_catalog_len, fk_table, fk_table_len, 1));
}
QV_CATCH(hstmt)
