/*
 * SQLColumns / SQLColumnsW: the columns of the chosen tables, described from
 * the server's column definitions (the field-list command), so that types,
 * sizes and flags are exactly those a query on the table would report.
 */
#include <string.h>

#include <memory>

#include "catalog/my_catalog.h"
#include "connect/my_inner_query.h"
#include "connect/my_session.h"
#include "desc/my_desc.h"
#include "protocol/my_conn.h"

namespace {

const internal_rs_column columns_columns[] = {
    {"TABLE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"COLUMN_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"DATA_TYPE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"TYPE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"COLUMN_SIZE", SQL_INTEGER, 0, SQL_NULLABLE},
    {"BUFFER_LENGTH", SQL_INTEGER, 0, SQL_NULLABLE},
    {"DECIMAL_DIGITS", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"NUM_PREC_RADIX", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"NULLABLE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    /* the four columns below can be NULL in a row: described so, or an
     * application binding them without an indicator fails on the fetch */
    {"REMARKS", SQL_VARCHAR, 256, SQL_NULLABLE},
    {"COLUMN_DEF", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"SQL_DATA_TYPE", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"SQL_DATETIME_SUB", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"CHAR_OCTET_LENGTH", SQL_INTEGER, 0, SQL_NULLABLE},
    {"ORDINAL_POSITION", SQL_INTEGER, 0, SQL_NULLABLE},
    {"IS_NULLABLE", SQL_VARCHAR, 64, SQL_NO_NULLS},
};
const internal_rs_layout columns_layout = irs_layout(columns_columns);
const int columns_keys[] = {1, 2, 3, 17, 0};

enum { NAME_CHARS = 64 };

struct table_ref {
    ms_ptr database;   /* null: the current database */
    ms_ptr table;
};

/* The (database, table) pairs to describe, in the server's order. */
int choose_tables(my_statement *stmt, const cat_arg &catalog, const cat_arg &schema,
                  const cat_arg &table, std::vector<table_ref> &out)
{
    my_connection *c = handle_conn(stmt);
    if (!server_has_information_schema(c)) {
        return catalog_query(stmt, ms_from_latin1("SHOW TABLE STATUS"), [&](my_statement *inner) {
            ms_ptr name(inner_column_text(inner, 1, NAME_CHARS));
            if (name && cat_name_matches(name.get(), table))
                out.push_back(table_ref{nullptr, std::move(name)});
            return 0;
        });
    }
    /* Every table SQLTables lists as TABLE or VIEW (system-versioned tables
     * and sequences included); not the server's own SYSTEM VIEWs. */
    my_string *q = ms_from_latin1("SELECT TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE, TABLE_COMMENT from "
                                  "INFORMATION_SCHEMA.TABLES WHERE TABLE_TYPE<>'SYSTEM VIEW'");
    if (!q) {
        post_error(stmt, ST_HY001, 0, nullptr);
        return -1;
    }
    int rc = 0;
    if (cat_filters(table))
        rc = sql_add_match(stmt, q, " AND", "TABLE_NAME", table);
    if (!rc && cat_filters(schema))
        rc = sql_add(stmt, q, " AND TABLE_SCHEMA=") || sql_add_literal(stmt, q, schema.s);
    if (!rc && cat_filters(catalog))
        rc = sql_add(stmt, q, " AND TABLE_SCHEMA=") || sql_add_literal(stmt, q, catalog.s);
    else if (!rc)
        rc = sql_add(stmt, q, " AND TABLE_SCHEMA = DATABASE()");
    if (rc) {
        ms_free(q);
        return -1;
    }
    return catalog_query(stmt, q, [&](my_statement *inner) {
        ms_ptr db(inner_column_text(inner, 1, NAME_CHARS));
        ms_ptr name(inner_column_text(inner, 2, NAME_CHARS));
        if (name)
            out.push_back(table_ref{std::move(db), std::move(name)});
        return 0;
    });
}

int insert_column(my_statement *stmt, const field *f, int ordinal)
{
    const my_connection *c = handle_conn(stmt);
    cat_row r(18);
    r.set_ms(0, c, f->schema_name);
    r.set_ms(2, c, f->table_name);
    r.set_ms(3, c, f->name);
    cat_set_type_columns(&r, 4, f);
    int nullable = f->nullable != SQL_NO_NULLS;
    r.set_int(10, nullable);
    r.set_int(16, ordinal);
    r.set(17, nullable ? "YES" : "NO");
    return r.insert(stmt);
}

int same_name(const my_string *a, const my_string *b)
{
    return a->length == b->length &&
           (a->length == 0 || memcmp(a->data, b->data, a->length * sizeof *a->data) == 0);
}

/* Switches the session to database when it is not the current one: the
 * field-list command names a table of the current database only. *switched
 * receives the database to go back to (null: no switch was made). */
int enter_database(my_statement *inner, const my_string *database, ms_ptr *back, int *switched)
{
    my_connection *c = handle_conn(inner);
    *switched = 0;
    if (!database || (c->current_database && same_name(c->current_database, database)))
        return 0;
    back->reset(ms_copy(c->current_database));
    if (set_currrent_database(inner, database) != 0)
        return -1;
    *switched = 1;
    return 0;
}

void leave_database(my_statement *inner, const ms_ptr &back, int switched)
{
    /* Without a database to go back to (the session had none), the session
     * stays in the one it was switched to: the protocol cannot unset it. */
    if (switched && back && set_currrent_database(inner, back.get()) != 0)
        QV_TRACE(inner, LOG_ERROR, "SQLColumns: could not return to database '%S'", back.get());
}

/* 1: the remaining tables are skipped (the database could not be entered);
 * 0: described; -1: failure posted on stmt. */
int describe_table(my_statement *stmt, const table_ref &t, const cat_arg &column)
{
    my_statement *inner = inner_create(stmt);
    if (!inner)
        return -1;
    ms_ptr back;
    int switched = 0;
    int entered = 0, rc;
    {
        /* Statements of other threads must not run in the database visited.
         * Another statement's rows still streaming is a refusal of its own,
         * not a database that cannot be entered. */
        wire_exchange x(inner);
        rc = check_wire_free(inner);
        if (rc == 0) {
            entered = enter_database(inner, t.database.get(), &back, &switched) == 0;
            if (entered) {
                rc = table_field_list(inner, t.table.get());
                leave_database(inner, back, switched);
            }
        }
    }
    if (rc == 0 && !entered) {
        inner_release(inner);
        return 1;
    }
    if (rc != 0) {
        copy_inner_diagnostics(stmt, inner);
        inner_release(inner);
        return -1;
    }
    const my_descriptor *ird = inner->ird;
    int n = desc_column_count(ird);
    for (int i = 0; i < n && rc == 0; i++) {
        const field *f = &ird->records[i];
        if (cat_name_matches(f->name, column))
            rc = insert_column(stmt, f, i + 1);
    }
    inner_release(inner);
    return rc;
}

SQLRETURN columns(my_statement *stmt, const void *cat, SQLSMALLINT cat_len, const void *schema,
                  SQLSMALLINT schema_len, const void *table, SQLSMALLINT table_len,
                  const void *column, SQLSMALLINT column_len, int wide)
{
    cat_arg catalog, sch, tab, col;
    if (cat_arg_init(stmt, &catalog, cat, cat_len, wide) ||
        cat_arg_init(stmt, &sch, schema, schema_len, wide) ||
        cat_arg_init(stmt, &tab, table, table_len, wide) ||
        cat_arg_init(stmt, &col, column, column_len, wide))
        return SQL_ERROR;
    if (catalog_begin(stmt, &columns_layout, columns_keys) != 0)
        return SQL_ERROR;
    std::vector<table_ref> tables;
    if (choose_tables(stmt, catalog, sch, tab, tables) != 0)
        return SQL_ERROR;
    for (const table_ref &t : tables) {
        int rc = describe_table(stmt, t, col);
        if (rc < 0)
            return SQL_ERROR;
        if (rc > 0)
            break;
    }
    return catalog_done(stmt, 1, 1);
}

} // namespace

SQLRETURN SQL_API SQLColumns(SQLHSTMT hstmt, SQLCHAR *catalog, SQLSMALLINT catalog_len,
                             SQLCHAR *schema, SQLSMALLINT schema_len, SQLCHAR *table,
                             SQLSMALLINT table_len, SQLCHAR *column, SQLSMALLINT column_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLColumns", SQL_API_SQLCOLUMNS, 0, 0, 0,
                     "SQLColumns: statement_handle=%p, catalog_name=%q, schema_name=%q, "
                     "table_name=%q, column_name=%q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len, column, (int64_t)column_len);
    return QV_LEAVE(columns(stmt, catalog, catalog_len, schema, schema_len, table, table_len,
                            column, column_len, 0));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLColumnsW(SQLHSTMT hstmt, SQLWCHAR *catalog, SQLSMALLINT catalog_len,
                              SQLWCHAR *schema, SQLSMALLINT schema_len, SQLWCHAR *table,
                              SQLSMALLINT table_len, SQLWCHAR *column, SQLSMALLINT column_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLColumnsW", SQL_API_SQLCOLUMNS, 0, 0, 0,
                     "SQLColumnsW: statement_handle=%p, catalog_name=%Q, schema_name=%Q, "
                     "table_name=%Q, column_name=%Q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, table,
                     (int64_t)table_len, column, (int64_t)column_len);
    return QV_LEAVE(columns(stmt, catalog, catalog_len, schema, schema_len, table, table_len,
                            column, column_len, 1));
}
QV_CATCH(hstmt)
