/*
 * SQLTables / SQLTablesW: tables, views and the special enumerations
 * (table types, catalogs, schemas). Databases are the catalogs; the schema
 * column is always NULL.
 */
#include "catalog/my_catalog.h"
#include "connect/my_inner_query.h"

namespace {

const internal_rs_column tables_columns[] = {
    {"TABLE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    /* NULL in the rows of the type and catalog enumerations */
    {"TABLE_NAME", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_TYPE", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"REMARKS", SQL_VARCHAR, 256, SQL_NULLABLE},
};
const internal_rs_layout tables_layout = irs_layout(tables_columns);
const int tables_keys[] = {4, 1, 2, 3, 0};

enum { NAME_CHARS = 64, COMMENT_CHARS = 2048 };

/* The types a table can be listed with: odbc_table_type's answers. The
 * server's BASE TABLE, and the other kinds of table MariaDB has (SYSTEM
 * VERSIONED, SEQUENCE, TEMPORARY), are TABLE; its own INFORMATION_SCHEMA
 * tables are SYSTEM VIEW. */
const char *const table_type_names[] = {"TABLE", "VIEW", "SYSTEM VIEW"};

int table_types(my_statement *stmt)
{
    for (const char *t : table_type_names) {
        cat_row r(5);
        r.set(3, t);
        if (r.insert(stmt) != 0)
            return -1;
    }
    return 0;
}

int catalogs(my_statement *stmt, const cat_arg &catalog)
{
    my_string *q = ms_new(0);
    if (!q || sql_add(stmt, q, "SHOW DATABASES LIKE ") || sql_add_literal(stmt, q, catalog.s)) {
        ms_free(q);
        return -1;
    }
    return catalog_query(stmt, q, [stmt](my_statement *inner) {
        cat_row r(5);
        r.set(0, inner_text(inner, 1, NAME_CHARS));
        return r.insert(stmt);
    });
}

/* One item of the type list, without blanks and its quotes, TABLE read as
 * the server's BASE TABLE (which stands for every kind of table in the
 * condition below). The item becomes a literal whether or not the
 * application quoted it, so that a quote inside it cannot end the text. */
my_string *type_item(const my_string *list, uint32_t from, uint32_t to)
{
    while (from < to && list->data[from] == ' ')
        from++;
    while (to > from && list->data[to - 1] == ' ')
        to--;
    if (to - from >= 2 && list->data[from] == '\'' && list->data[to - 1] == '\'') {
        from++;
        to--;
    }
    my_string *item = ms_substr(list, from, to - from);
    if (item && cat_equal_ci_ascii(item, "TABLE")) {
        ms_free(item);
        item = ms_from_latin1("BASE TABLE");
    }
    return item;
}

/* " AND ( TABLE_TYPE='a' OR TABLE_TYPE='b' )"; nothing when the list holds
 * no item. Commas inside braces do not split. TABLE asks for everything
 * listed as TABLE, so it becomes "TABLE_TYPE NOT IN ('VIEW','SYSTEM VIEW')". */
int add_type_condition(my_statement *stmt, my_string *q, const my_string *list)
{
    int items = 0;
    for (uint32_t from = 0; from <= list->length;) {
        uint32_t to = ms_find_depth0(list, from, ',');
        my_string *item = type_item(list, from, to);
        if (!item) {
            post_error(stmt, ST_HY001, 0, nullptr);
            return -1;
        }
        int rc = 0;
        if (item->length > 0) {
            rc = sql_add(stmt, q, items == 0 ? " AND ( " : " OR ");
            if (!rc && cat_equal_ci_ascii(item, "BASE TABLE"))
                rc = sql_add(stmt, q, "TABLE_TYPE NOT IN ('VIEW','SYSTEM VIEW')");
            else if (!rc)
                rc = sql_add(stmt, q, "TABLE_TYPE=") || sql_add_literal(stmt, q, item);
            items++;
        }
        ms_free(item);
        if (rc)
            return -1;
        from = to + 1;
    }
    return items ? sql_add(stmt, q, " )") : 0;
}

const char *odbc_table_type(const std::string &server_type)
{
    if (server_type == "SYSTEM VIEW")
        return "SYSTEM VIEW";
    if (server_type == "VIEW")
        return "VIEW";
    return "TABLE";
}

int tables_information_schema(my_statement *stmt, const cat_arg &catalog, const cat_arg &table,
                              const cat_arg &type)
{
    my_string *q = ms_from_latin1(
        "SELECT TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE, TABLE_COMMENT from INFORMATION_SCHEMA.TABLES");
    if (!q) {
        post_error(stmt, ST_HY001, 0, nullptr);
        return -1;
    }
    int where = 0;
    int rc = 0;
    if (cat_has_text(table)) {
        rc = sql_add_match(stmt, q, " WHERE", "TABLE_NAME", table);
        where = 1;
    }
    if (!rc && cat_has_text(catalog))
        rc = sql_add_match(stmt, q, where ? " AND" : " WHERE", "TABLE_SCHEMA", catalog);
    else if (!rc)
        rc = sql_add(stmt, q, where ? " AND TABLE_SCHEMA = DATABASE()"
                                    : " WHERE TABLE_SCHEMA = DATABASE()");
    if (!rc && cat_has_text(type) && !cat_is_percent(type))
        rc = add_type_condition(stmt, q, type.s);
    if (rc) {
        ms_free(q);
        return -1;
    }
    return catalog_query(stmt, q, [stmt](my_statement *inner) {
        cat_row r(5);
        r.set(0, inner_text(inner, 1, NAME_CHARS));
        r.set(2, inner_text(inner, 2, NAME_CHARS));
        cat_text t = inner_text(inner, 3, NAME_CHARS);
        r.set(3, odbc_table_type(t.bytes));
        r.set(4, inner_text(inner, 4, COMMENT_CHARS));
        return r.insert(stmt);
    });
}

/* Servers before 5.2: the current database's tables, by name only. */
int tables_show(my_statement *stmt, const cat_arg &table, const cat_arg &type)
{
    if (cat_has_text(type) && !cat_is_percent(type)) {
        int wanted = 0;
        for (uint32_t from = 0; from <= type.s->length && !wanted;) {
            uint32_t to = ms_find_depth0(type.s, from, ',');
            my_string *item = type_item(type.s, from, to);
            wanted = item && (cat_equal_ci_ascii(item, "BASE TABLE") || cat_equal_ci_ascii(item, "%"));
            ms_free(item);
            from = to + 1;
        }
        if (!wanted)
            return 0;
    }
    const my_connection *c = handle_conn(stmt);
    return catalog_query(stmt, ms_from_latin1("SHOW TABLE STATUS"), [&](my_statement *inner) {
        my_string *name = inner_column_text(inner, 1, NAME_CHARS);
        int rc = 0;
        if (name && cat_name_matches(name, table)) {
            cat_row r(5);
            r.set_ms(2, c, name);
            r.set(3, "TABLE");
            rc = r.insert(stmt);
        }
        ms_free(name);
        return rc;
    });
}

SQLRETURN tables(my_statement *stmt, const void *cat, SQLSMALLINT cat_len, const void *schema,
                 SQLSMALLINT schema_len, const void *table, SQLSMALLINT table_len, const void *type,
                 SQLSMALLINT type_len, int wide)
{
    cat_arg catalog, sch, tab, typ;
    if (cat_arg_init(stmt, &catalog, cat, cat_len, wide) || cat_arg_init(stmt, &sch, schema, schema_len, wide) ||
        cat_arg_init(stmt, &tab, table, table_len, wide) || cat_arg_init(stmt, &typ, type, type_len, wide, 1))
        return SQL_ERROR;
    if (catalog_begin(stmt, &tables_layout, tables_keys) != 0)
        return SQL_ERROR;
    /* The enumerations are recognised by the converted text, whether the
     * application counted it or ended it with a NUL (clients pass SQL_NTS). */
    if (cat_empty(catalog) && cat_empty(sch) && cat_empty(tab) && cat_is_percent(typ))
        return table_types(stmt) == 0 ? catalog_done(stmt, 0, 0) : SQL_ERROR;
    if (cat_is_percent(catalog) && cat_empty(sch) && cat_empty(tab))
        return catalogs(stmt, catalog) == 0 ? catalog_done(stmt, 1, 0) : SQL_ERROR;
    if (cat_empty(catalog) && cat_is_percent(sch) && cat_empty(tab))
        return catalog_done(stmt, 0, 0);   /* the server has no schemas */
    int rc = server_has_information_schema(handle_conn(stmt))
                 ? tables_information_schema(stmt, catalog, tab, typ)
                 : tables_show(stmt, tab, typ);
    if (rc != 0)
        return SQL_ERROR;
    return catalog_done(stmt, !wide, 1);
}

} // namespace

SQLRETURN SQL_API SQLTables(SQLHSTMT hstmt, SQLCHAR *catalog, SQLSMALLINT catalog_len, SQLCHAR *schema,
                            SQLSMALLINT schema_len, SQLCHAR *table, SQLSMALLINT table_len,
                            SQLCHAR *type, SQLSMALLINT type_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLTables", SQL_API_SQLTABLES, 0, 0, 0,
                     "SQLTables: statement_handle=%p, catalog_name=%q, schema_name=%q, "
                     "table_name=%q, table_type=%q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len, type, (int64_t)type_len);
    return QV_LEAVE(tables(stmt, catalog, catalog_len, schema, schema_len, table, table_len, type,
                           type_len, 0));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLTablesW(SQLHSTMT hstmt, SQLWCHAR *catalog, SQLSMALLINT catalog_len,
                             SQLWCHAR *schema, SQLSMALLINT schema_len, SQLWCHAR *table,
                             SQLSMALLINT table_len, SQLWCHAR *type, SQLSMALLINT type_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLTablesW", SQL_API_SQLTABLES, 0, 0, 0,
                     "SQLTablesW: statement_handle=%p, catalog_name=%Q, schema_name=%Q, "
                     "table_name=%Q, table_type=%Q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len, type, (int64_t)type_len);
    return QV_LEAVE(tables(stmt, catalog, catalog_len, schema, schema_len, table, table_len, type,
                           type_len, 1));
}
QV_CATCH(hstmt)
