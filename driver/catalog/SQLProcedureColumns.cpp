/*
 * SQLProcedureColumns / SQLProcedureColumnsW: the parameters of stored
 * procedures and functions, and a function's return value, from
 * INFORMATION_SCHEMA.PARAMETERS, typed as SQLColumns types a table column
 * of the same declaration. Procedure and column names are patterns; a
 * routine given without its catalog is looked for in the current database.
 */
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "catalog/my_catalog.h"
#include "desc/my_desc.h"
#include "protocol/my_pkt.h"
#include "protocol/my_proto.h"

namespace {

const internal_rs_column procedure_columns_columns[] = {
    {"PROCEDURE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"PROCEDURE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"PROCEDURE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"COLUMN_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"COLUMN_TYPE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"DATA_TYPE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"TYPE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"COLUMN_SIZE", SQL_INTEGER, 0, SQL_NULLABLE},
    {"BUFFER_LENGTH", SQL_INTEGER, 0, SQL_NULLABLE},
    {"DECIMAL_DIGITS", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"NUM_PREC_RADIX", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"NULLABLE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"REMARKS", SQL_VARCHAR, 256, SQL_NULLABLE},
    {"COLUMN_DEF", SQL_VARCHAR, 256, SQL_NULLABLE},
    {"SQL_DATA_TYPE", SQL_SMALLINT, 0, SQL_NO_NULLS},
    {"SQL_DATETIME_SUB", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"CHAR_OCTET_LENGTH", SQL_INTEGER, 0, SQL_NULLABLE},
    {"ORDINAL_POSITION", SQL_INTEGER, 0, SQL_NO_NULLS},
    {"IS_NULLABLE", SQL_VARCHAR, 32, SQL_NO_NULLS},
};
const internal_rs_layout procedure_columns_layout = irs_layout(procedure_columns_columns);
/* Each routine's return value (position 0) first, then its parameters in
 * the order of the call. */
const int procedure_columns_keys[] = {1, 2, 3, 18, 0};

enum { NAME_CHARS = 64 };

/* The columns of the PARAMETERS query below. */
enum { P_SCHEMA = 1, P_ROUTINE, P_NAME, P_POSITION, P_MODE, P_TYPE, P_DTD, P_OCTETS, P_PRECISION,
       P_SCALE, P_DT_PRECISION, P_CHARSET };

long number(const cat_text &t) { return t.is_null ? 0 : strtol(t.bytes.c_str(), nullptr, 10); }

/* The column definition the server would send for a table column declared
 * with this type, so that the type mapping of result columns applies. */
struct wire_shape {
    int type;
    uint32_t length;
    int decimals;
    int flags;
    int charset;
};

struct type_row {
    const char *name;
    int type;
    uint32_t length;   /* 0: from the parameter's sizes */
};

const type_row type_rows[] = {
    {"tinyint", MYSQL_TYPE_TINY, 4},        {"bool", MYSQL_TYPE_TINY, 1},
    {"boolean", MYSQL_TYPE_TINY, 1},        {"smallint", MYSQL_TYPE_SHORT, 6},
    {"mediumint", MYSQL_TYPE_INT24, 9},     {"int", MYSQL_TYPE_LONG, 11},
    {"integer", MYSQL_TYPE_LONG, 11},       {"bigint", MYSQL_TYPE_LONGLONG, 20},
    {"decimal", MYSQL_TYPE_NEWDECIMAL, 0},  {"numeric", MYSQL_TYPE_NEWDECIMAL, 0},
    {"float", MYSQL_TYPE_FLOAT, 12},        {"double", MYSQL_TYPE_DOUBLE, 22},
    {"real", MYSQL_TYPE_DOUBLE, 22},        {"double precision", MYSQL_TYPE_DOUBLE, 22},
    {"bit", MYSQL_TYPE_BIT, 0},             {"date", MYSQL_TYPE_DATE, 10},
    {"datetime", MYSQL_TYPE_DATETIME, 0},   {"timestamp", MYSQL_TYPE_TIMESTAMP, 0},
    {"time", MYSQL_TYPE_TIME, 0},           {"year", MYSQL_TYPE_YEAR, 4},
    {"char", MYSQL_TYPE_STRING, 0},         {"varchar", MYSQL_TYPE_VAR_STRING, 0},
    {"binary", MYSQL_TYPE_STRING, 0},       {"varbinary", MYSQL_TYPE_VAR_STRING, 0},
    {"tinytext", MYSQL_TYPE_BLOB, 255},     {"tinyblob", MYSQL_TYPE_BLOB, 255},
    {"text", MYSQL_TYPE_BLOB, 65535},       {"blob", MYSQL_TYPE_BLOB, 65535},
    {"mediumtext", MYSQL_TYPE_BLOB, 16777215}, {"mediumblob", MYSQL_TYPE_BLOB, 16777215},
    {"longtext", MYSQL_TYPE_BLOB, 4294967295u}, {"longblob", MYSQL_TYPE_BLOB, 4294967295u},
    {"json", MYSQL_TYPE_BLOB, 4294967295u}, {"enum", MYSQL_TYPE_STRING, 0},
    {"set", MYSQL_TYPE_STRING, 0},          {"geometry", MYSQL_TYPE_GEOMETRY, 4294967295u},
    {"point", MYSQL_TYPE_GEOMETRY, 4294967295u}, {"linestring", MYSQL_TYPE_GEOMETRY, 4294967295u},
    {"polygon", MYSQL_TYPE_GEOMETRY, 4294967295u},
    {"multipoint", MYSQL_TYPE_GEOMETRY, 4294967295u},
    {"multilinestring", MYSQL_TYPE_GEOMETRY, 4294967295u},
    {"multipolygon", MYSQL_TYPE_GEOMETRY, 4294967295u},
    {"geometrycollection", MYSQL_TYPE_GEOMETRY, 4294967295u},
};

/* A collation number of the named character set, by the connection's
 * collation table; the binary set for none (binary strings have none). */
int charset_of(const my_connection *c, const cat_text &name)
{
    if (name.is_null)
        return BINARY_CHARSET_NUMBER;
    if (c && c->collations)
        for (const collation_entry &e : *c->collations)
            if (name.bytes == e.charset_name)
                return e.id;
    return 0;
}

wire_shape shape_of(const my_connection *c, my_statement *inner)
{
    cat_text type = inner_text(inner, P_TYPE, 32), dtd = inner_text(inner, P_DTD, 256);
    cat_text charset = inner_text(inner, P_CHARSET, NAME_CHARS);
    wire_shape s = {MYSQL_TYPE_VAR_STRING, 0, 0, 0, charset_of(c, charset)};
    const type_row *row = nullptr;
    for (const type_row &r : type_rows)
        if (strcasecmp(type.bytes.c_str(), r.name) == 0)
            row = &r;
    if (row) {
        s.type = row->type;
        s.length = row->length;
    }
    if (strstr(dtd.bytes.c_str(), "unsigned"))
        s.flags |= UNSIGNED_FLAG;
    long octets = number(inner_text(inner, P_OCTETS, 20));
    long precision = number(inner_text(inner, P_PRECISION, 20));
    long scale = number(inner_text(inner, P_SCALE, 20));
    switch (s.type) {
    case MYSQL_TYPE_NEWDECIMAL:
        /* the column length counts a decimal point and a sign */
        s.length = (uint32_t)(precision + (scale > 0) + !(s.flags & UNSIGNED_FLAG));
        s.decimals = (int)scale;
        break;
    case MYSQL_TYPE_BIT:
        s.length = (uint32_t)precision;
        break;
    case MYSQL_TYPE_DATETIME: case MYSQL_TYPE_TIMESTAMP: case MYSQL_TYPE_TIME:
        s.decimals = (int)number(inner_text(inner, P_DT_PRECISION, 20));
        break;
    case MYSQL_TYPE_STRING: case MYSQL_TYPE_VAR_STRING: case MYSQL_TYPE_BLOB:
        if (octets > 0 && s.length == 0)
            s.length = (uint32_t)octets;
        break;
    }
    if (s.type == MYSQL_TYPE_FLOAT || s.type == MYSQL_TYPE_DOUBLE)
        s.decimals = 31;   /* no fixed number of decimals */
    if (s.type != MYSQL_TYPE_STRING && s.type != MYSQL_TYPE_VAR_STRING && s.type != MYSQL_TYPE_BLOB &&
        s.type != MYSQL_TYPE_GEOMETRY)
        s.charset = BINARY_CHARSET_NUMBER;
    return s;
}

int column_type(const cat_text &mode, long position)
{
    if (position == 0)
        return SQL_RETURN_VALUE;
    if (mode.bytes == "OUT")
        return SQL_PARAM_OUTPUT;
    if (mode.bytes == "INOUT")
        return SQL_PARAM_INPUT_OUTPUT;
    return SQL_PARAM_INPUT;
}

int read_parameters(my_statement *stmt, const cat_arg &catalog, const cat_arg &proc,
                    const cat_arg &column)
{
    my_string *q = ms_from_latin1(
        "SELECT SPECIFIC_SCHEMA, SPECIFIC_NAME, IFNULL(PARAMETER_NAME,''), ORDINAL_POSITION, "
        "PARAMETER_MODE, DATA_TYPE, DTD_IDENTIFIER, CHARACTER_OCTET_LENGTH, NUMERIC_PRECISION, "
        "NUMERIC_SCALE, DATETIME_PRECISION, CHARACTER_SET_NAME "
        "FROM INFORMATION_SCHEMA.PARAMETERS WHERE SPECIFIC_SCHEMA=");
    if (!q) {
        post_error(stmt, ST_HY001, 0, nullptr);
        return -1;
    }
    int rc = cat_filters(catalog) ? sql_add_literal(stmt, q, catalog.s) : sql_add(stmt, q, "DATABASE()");
    if (!rc && cat_filters(proc))
        rc = sql_add_match(stmt, q, " AND", "SPECIFIC_NAME", proc);
    if (!rc && cat_filters(column))
        rc = sql_add_match(stmt, q, " AND", "IFNULL(PARAMETER_NAME,'')", column);
    if (rc) {
        ms_free(q);
        return -1;
    }
    /* A statement of the driver's own whose IRD describes one parameter at
     * a time, as the result column of its declaration would be described. */
    my_statement *scratch = inner_create(stmt);
    if (!scratch) {
        ms_free(q);
        return -1;
    }
    std::unique_ptr<my_statement, void (*)(my_statement *)> hold(scratch, inner_release);
    if (desc_set_records(scratch->ird, 1) != 0) {
        ms_free(q);
        post_error(stmt, ST_HY001, 0, nullptr);
        return -1;
    }
    const my_connection *c = handle_conn(stmt);
    return catalog_query(stmt, q, [&](my_statement *inner) {
        wire_shape w = shape_of(c, inner);
        if (fill_field_from_column(scratch, scratch->ird, 0, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, w.charset, w.length, w.type, w.flags,
                                   w.decimals) != 0) {
            copy_inner_diagnostics(stmt, scratch);
            return -1;
        }
        cat_text position = inner_text(inner, P_POSITION, 10);
        cat_row r(19);
        r.set(0, inner_text(inner, P_SCHEMA, NAME_CHARS));
        r.set(2, inner_text(inner, P_ROUTINE, NAME_CHARS));
        r.set(3, inner_text(inner, P_NAME, NAME_CHARS));
        r.set_int(4, column_type(inner_text(inner, P_MODE, 8), number(position)));
        cat_set_type_columns(&r, 5, &scratch->ird->records[0]);
        r.set_int(11, SQL_NULLABLE);   /* a routine takes and returns NULL */
        r.set(17, position);
        r.set(18, "YES");
        return r.insert(stmt);
    });
}

/* PARAMETERS came with MySQL 5.5: older servers describe no routine. */
int server_has_parameters(const my_connection *c)
{
    return server_version_at_least(c, 5, 5, 0);
}

SQLRETURN procedure_columns(my_statement *stmt, const void *cat, SQLSMALLINT cat_len,
                            const void *proc, SQLSMALLINT proc_len, const void *column,
                            SQLSMALLINT column_len, int wide)
{
    /* The schema argument names nothing: the server has no schemas. */
    cat_arg catalog, name, col;
    if (cat_arg_init(stmt, &catalog, cat, cat_len, wide) ||
        cat_arg_init(stmt, &name, proc, proc_len, wide) ||
        cat_arg_init(stmt, &col, column, column_len, wide))
        return SQL_ERROR;
    if (catalog_begin(stmt, &procedure_columns_layout, procedure_columns_keys) != 0)
        return SQL_ERROR;
    if (server_has_parameters(handle_conn(stmt)) && read_parameters(stmt, catalog, name, col) != 0)
        return SQL_ERROR;
    return catalog_done(stmt, 1, 1);
}

} // namespace

SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT hstmt, SQLCHAR *catalog, SQLSMALLINT catalog_len,
                                      SQLCHAR *schema, SQLSMALLINT schema_len, SQLCHAR *proc,
                                      SQLSMALLINT proc_len, SQLCHAR *column, SQLSMALLINT column_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLProcedureColumns", SQL_API_SQLPROCEDURECOLUMNS, 0, 0, 0,
                     "SQLProcedureColumns: statement_handle=%p, catalog_name=%q, schema_name=%q, "
                     "proc_name=%q, column_name=%q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, proc,
                     (int64_t)proc_len, column, (int64_t)column_len);
    return QV_LEAVE(procedure_columns(stmt, catalog, catalog_len, proc, proc_len, column, column_len, 0));
}
QV_CATCH(hstmt)

SQLRETURN SQL_API SQLProcedureColumnsW(SQLHSTMT hstmt, SQLWCHAR *catalog, SQLSMALLINT catalog_len,
                                       SQLWCHAR *schema, SQLSMALLINT schema_len, SQLWCHAR *proc,
                                       SQLSMALLINT proc_len, SQLWCHAR *column,
                                       SQLSMALLINT column_len)
try {
    QV_CATALOG_ENTRY(hstmt, stmt, "SQLProcedureColumnsW", SQL_API_SQLPROCEDURECOLUMNS, 0, 0, 0,
                     "SQLProcedureColumnsW: statement_handle=%p, catalog_name=%Q, schema_name=%Q, "
                     "proc_name=%Q, column_name=%Q",
                     hstmt, catalog, (int64_t)catalog_len, schema, (int64_t)schema_len, proc,
                     (int64_t)proc_len, column, (int64_t)column_len);
    return QV_LEAVE(procedure_columns(stmt, catalog, catalog_len, proc, proc_len, column, column_len, 1));
}
QV_CATCH(hstmt)
