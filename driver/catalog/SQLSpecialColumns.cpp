/*
 * SQLSpecialColumns / SQLSpecialColumnsW: the columns that identify a row
 * (the primary key, else a unique key) or that change with every update,
 * from the flags of the table's column definitions.
 */
#include <string.h>

#include "catalog/my_catalog.h"
#include "connect/my_session.h"
#include "desc/my_desc.h"
#include "protocol/my_conn.h"

namespace {

const internal_rs_column special_layout_columns[] = {
    {"SCOPE", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"COLUMN_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"DATA_TYPE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"TYPE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"COLUMN_SIZE", SQL_INTEGER, 0, SQL_NULLABLE},
    {"BUFFER_LENGTH", SQL_INTEGER, 0, SQL_NULLABLE},
    {"DECIMAL_DIGITS", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"PSEUDO_COLUMN", SQL_SMALLINT, 0, SQL_NULLABLE},
};
const internal_rs_layout special_layout = irs_layout(special_layout_columns);
const int special_keys[] = {1, 2, 0};

/* Column definition flags. */
enum { FL_NOT_NULL = 0x0001, FL_PRIMARY_KEY = 0x0002, FL_UNIQUE_KEY = 0x0004,
       FL_ON_UPDATE_NOW = 0x0400 };

int insert_special(my_statement *stmt, const field *f)
{
    cat_row r(8);
    r.set(0, "2");   /* SQL_SCOPE_SESSION */
    r.set_ms(1, handle_conn(stmt), f->name);
    r.set_int(2, f->concise_type);
    r.set(3, sql_type_name(f->concise_type));
    r.set_int(4, (long)f->display_size);
    r.set_int(5, (long)f->octet_length);
    r.set_int(6, f->scale);
    r.set(7, "1");   /* SQL_PC_NOT_PSEUDO */
    return r.insert(stmt);
}

/* Inserts the columns carrying flag that pass the null filter; returns how
 * many, or -1. */
int pick(my_statement *stmt, const my_descriptor *ird, int flag, int nullable)
{
    int n = desc_column_count(ird), picked = 0;
    for (int i = 0; i < n; i++) {
        const field *f = &ird->records[i];
        if (!(f->column_flags & flag))
            continue;
        if (nullable == SQL_NO_NULLS && !(f->column_flags & FL_NOT_NULL))
            continue;
        if (insert_special(stmt, f) != 0)
            return -1;
        picked++;
    }
    return picked;
}

int same_name(const my_string *a, const my_string *b)
{
    return a->length == b->length &&
           (a->length == 0 || memcmp(a->data, b->data, a->length * sizeof *a->data) == 0);
}

/* Reads the table's definitions into inner's IRD, in the catalog's database
 * when one is named: the field-list command names a table of the current
 * database only, so the session visits the catalog and comes back. */
int read_definitions(my_statement *inner, const cat_arg &catalog, const cat_arg &table)
{
    my_connection *c = handle_conn(inner);
    my_string *back = nullptr;
    int switched = 0;
    /* Statements of other threads must not run in the database visited. */
    wire_exchange x(inner);
    if (cat_filters(catalog) && !(c->current_database && same_name(c->current_database, catalog.s))) {
        back = ms_copy(c->current_database);
        if (set_currrent_database(inner, catalog.s) != 0) {
            ms_free(back);
            return -1;
        }
        switched = 1;
    }
    int rc = table_field_list(inner, table.s);
    if (switched && back && set_currrent_database(inner, back) != 0)
        QV_TRACE(inner, LOG_ERROR, "SQLSpecialColumns: could not return to database '%S'", back);
    ms_free(back);
    return rc;
}

SQLRETURN special_columns(my_statement *stmt, SQLUSMALLINT identifier, const void *cat,
                          SQLSMALLINT cat_len, const void *schema, SQLSMALLINT schema_len,
                          const void *table, SQLSMALLINT table_len, SQLUSMALLINT nullable, int wide)
{
    cat_arg catalog, sch, tab;
    if (cat_arg_init(stmt, &catalog, cat, cat_len, wide) ||
        cat_arg_init(stmt, &sch, schema, schema_len, wide) ||
        cat_arg_init(stmt, &tab, table, table_len, wide))
        return SQL_ERROR;
    if (catalog_begin(stmt, &special_layout, special_keys) != 0)
        return SQL_ERROR;
    if (!cat_filters(tab))
        return catalog_done(stmt, 1, 1);
    my_statement *inner = inner_create(stmt);
    if (!inner)
        return SQL_ERROR;
    int rc = 0;
    /* A table that cannot be read (missing, no access) has no special
     * columns: an empty answer. */
    if (read_definitions(inner, catalog, tab) == 0) {
        const my_descriptor *ird = inner->ird;
        if (identifier == SQL_BEST_ROWID) {
            rc = pick(stmt, ird, FL_PRIMARY_KEY, nullable);
            if (rc == 0)
                rc = pick(stmt, ird, FL_UNIQUE_KEY, nullable);
        } else if (identifier == SQL_ROWVER) {
            rc = pick(stmt, ird, FL_ON_UPDATE_NOW, nullable);
        }
    }
    inner_release(inner);
    if (rc < 0)
        return SQL_ERROR;
    return catalog_done(stmt, 1, 1);
}

} // namespace

SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT hstmt, SQLUSMALLINT identifier, SQLCHAR *catalog,
                                    SQLSMALLINT catalog_len, SQLCHAR *schema,
                                    SQLSMALLINT schema_len, SQLCHAR *table, SQLSMALLINT table_len,
                                    SQLUSMALLINT scope, SQLUSMALLINT nullable)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLSpecialColumns", SQL_API_SQLCOLUMNS, 0, 0, 0,
                     "SQLSpecialColumns: statement_handle=%p, identifier_type=%d, catalog_name=%q, "
                     "schema_name=%q, table_name=%q, scope=%d, nullable=%d",
                     hstmt, (int)identifier, catalog, (int64_t)catalog_len, schema,
                     (int64_t)schema_len, table, (int64_t)table_len, (int)scope, (int)nullable);
    return QV_LEAVE(special_columns(stmt, identifier, catalog, catalog_len, schema, schema_len,
                                    table, table_len, nullable, 0));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT hstmt, SQLUSMALLINT identifier, SQLWCHAR *catalog,
                                     SQLSMALLINT catalog_len, SQLWCHAR *schema,
                                     SQLSMALLINT schema_len, SQLWCHAR *table, SQLSMALLINT table_len,
                                     SQLUSMALLINT scope, SQLUSMALLINT nullable)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLSpecialColumnsW", SQL_API_SQLCOLUMNS, 0, 0, 0,
                     "SQLSpecialColumnsW: statement_handle=%p, identifier_type=%d, "
                     "catalog_name=%Q, schema_name=%Q, table_name=%Q, scope=%d, nullable=%d",
                     hstmt, (int)identifier, catalog, (int64_t)catalog_len, schema,
                     (int64_t)schema_len, table, (int64_t)table_len, (int)scope, (int)nullable);
    return QV_LEAVE(special_columns(stmt, identifier, catalog, catalog_len, schema, schema_len,
                                    table, table_len, nullable, 1));
}
QV_CATCH(hstmt)
