/*
 * Column metadata: answers from the IRD records (and the bookmark column's
 * fixed description), describing the statement first where needed.
 */
#include "stmt/my_colattr.h"

#include <string.h>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "stmt/my_stmt.h"

SQLRETURN describe_on_demand(my_statement *s, int prepare_first, const char *fname)
{
    if (prepare_first && s->sql_text && !s->prepared && prepare_stmt(s, s->sql_text) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLDescribeParam: failed preparing statement");
        return SQL_ERROR;
    }
    if (s->described)
        return SQL_SUCCESS;
    if (!s->sql_text && !s->internal_rs) {
        QV_TRACE(s, LOG_ERROR, "%s: no prepared sql", fname);
        post_error(s, ST_HY000, 0, "no prepared sql");
        return SQL_ERROR;
    }
    if (s->sql_text && text_describe(s, s->sql_text) != 0) {
        QV_TRACE(s, LOG_ERROR, "%s: failed describing statement", fname);
        return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

const field *column_record(my_statement *s, int column, field *bookmark)
{
    if (column == 0) {
        if (!s->use_bookmarks)
            return nullptr;
        memset(bookmark, 0, sizeof *bookmark);
        if (s->use_bookmarks == SQL_UB_ON) {
            bookmark->concise_type = bookmark->type = SQL_INTEGER;
            bookmark->display_size = 10;
            bookmark->length = 11;
            bookmark->is_unsigned = 1;
        } else {
            /* a variable-length bookmark: 8 bytes, which is also its size */
            bookmark->concise_type = bookmark->type = SQL_VARBINARY;
            bookmark->display_size = 8;
            bookmark->length = 8;
            bookmark->precision = 8;
        }
        bookmark->octet_length = 4;
        return bookmark;
    }
    if (column < 0 || column > desc_column_count(s->ird))
        return nullptr;
    return &s->ird->records[column - 1];
}

/* ----------------------------------------------------------- text out */

/* The string rule of the metadata calls. chars: W lengths count characters
 * (SQLDescribeColW) rather than bytes. */
static SQLRETURN put_text(my_statement *s, const my_string *str, void *buf, SQLSMALLINT buf_len,
                          SQLSMALLINT *len, int text, int chars)
{
    my_connection *c = handle_conn(s);
    int wide = text == TEXT_WIDE && !wide_is_utf8(c);
    if (!str) {
        if (buf && wide && buf_len >= 2)
            *(uint16_t *)buf = 0;
        else if (buf && !wide && buf_len > 0)
            *(char *)buf = 0;
        if (len)
            *len = 0;
        return SQL_SUCCESS;
    }
    int mode = !wide ? COPY_NARROW : chars ? COPY_WIDE_CHARS : COPY_WIDE_BYTES;
    int64_t full = 0;
    int cut = copy_out_string(str, c, mode, buf, buf_len, &full);
    if (len)
        *len = (SQLSMALLINT)full;
    if (cut && buf && full > 0) {
        post_error(s, ST_01004, 0, nullptr);
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

/* ---------------------------------------------------------- attributes */

enum { V_INTEGER, V_LENGTH, V_TEXT };

struct attr_value {
    int kind;
    int64_t number;
    const my_string *text;
};

static const my_string EMPTY_TEXT = {nullptr, 0, 1};

static attr_value integer(int64_t n) { return attr_value{V_INTEGER, n, nullptr}; }
static attr_value length(int64_t n) { return attr_value{V_LENGTH, n, nullptr}; }
static attr_value text(const my_string *t) { return attr_value{V_TEXT, 0, t}; }

/* SQL_COLUMN_TYPE of ODBC 2: a date/time column of an ODBC 2 connection
 * answers the ODBC 2 code of its kind. */
static int odbc2_type(const my_statement *s, const field *f)
{
    const my_connection *c = handle_conn(s);
    if (f->type != SQL_DATETIME || !c || c->odbc_behaviour != 2)
        return f->type;
    switch (f->datetime_interval_code) {
    case SQL_CODE_TIME: return SQL_TIME;
    case SQL_CODE_TIMESTAMP: return SQL_TIMESTAMP;
    default: return SQL_DATE;
    }
}

static int is_floating(int concise_type)
{
    return concise_type == SQL_FLOAT || concise_type == SQL_REAL || concise_type == SQL_DOUBLE;
}

/* The answer for identifier id: 0, or -1 for an identifier not in the
 * table. f is null for the count identifiers. */
static int attribute_of(const my_statement *s, const field *f, int id, int count, int odbc2,
                        attr_value *v)
{
    switch (id) {
    case SQL_COLUMN_COUNT:
    case SQL_DESC_COUNT: *v = length(count); return 0;
    case SQL_COLUMN_NAME:
    case SQL_DESC_LABEL:
    case SQL_DESC_NAME: *v = text(f->name); return 0;
    case SQL_DESC_CONCISE_TYPE: *v = integer(odbc2 ? odbc2_type(s, f) : f->concise_type); return 0;
    case SQL_COLUMN_LENGTH:
    case SQL_DESC_LENGTH: *v = length(f->length); return 0;
    case SQL_COLUMN_PRECISION:
    case SQL_DESC_PRECISION:
        *v = integer(odbc2 && is_floating(f->concise_type) ? f->display_size : f->precision);
        return 0;
    case SQL_COLUMN_SCALE:
    case SQL_DESC_SCALE: *v = integer(f->scale); return 0;
    case SQL_DESC_DISPLAY_SIZE: *v = length(f->display_size); return 0;
    case SQL_COLUMN_NULLABLE:
    case SQL_DESC_NULLABLE: *v = integer(f->nullable); return 0;
    case SQL_DESC_UNSIGNED: *v = integer(f->is_unsigned); return 0;
    case SQL_DESC_FIXED_PREC_SCALE: *v = integer(f->fixed_prec_scale); return 0;
    case SQL_DESC_UPDATABLE: *v = integer(f->updatable); return 0;
    case SQL_DESC_AUTO_UNIQUE_VALUE: *v = integer(f->auto_unique_value); return 0;
    case SQL_DESC_CASE_SENSITIVE: *v = integer(f->case_sensitive); return 0;
    case SQL_DESC_SEARCHABLE: *v = integer(f->searchable); return 0;
    case SQL_DESC_TYPE_NAME: *v = text(f->type_name); return 0;
    case SQL_DESC_TABLE_NAME: *v = text(f->table_name); return 0;
    case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_CATALOG_NAME: *v = text(&EMPTY_TEXT); return 0;
    case SQL_DESC_BASE_COLUMN_NAME:
        *v = text(f->base_column_name ? f->base_column_name : f->name);
        return 0;
    case SQL_DESC_BASE_TABLE_NAME:
        *v = text(f->base_table_name ? f->base_table_name : f->table_name);
        return 0;
    case SQL_DESC_LITERAL_PREFIX: *v = text(f->literal_prefix); return 0;
    case SQL_DESC_LITERAL_SUFFIX: *v = text(f->literal_suffix); return 0;
    case SQL_DESC_LOCAL_TYPE_NAME: *v = text(f->local_type_name); return 0;
    case SQL_DESC_NUM_PREC_RADIX: *v = integer(f->num_prec_radix); return 0;
    case SQL_DESC_TYPE: *v = integer(f->type); return 0;
    case SQL_DESC_UNNAMED: *v = integer(f->name ? 0 : 1); return 0;
    case SQL_DESC_OCTET_LENGTH: *v = length(f->octet_length); return 0;
    default: return -1;
    }
}

SQLRETURN col_attribute(my_statement *s, int column, int identifier,
                        void *char_attr, SQLSMALLINT buffer_length, SQLSMALLINT *string_length,
                        SQLLEN *numeric_attr, int text_mode, int odbc2)
{
    if (describe_on_demand(s, 0, "SQLColAttribute") != SQL_SUCCESS)
        return SQL_ERROR;
    int count = desc_column_count(s->ird);
    field bookmark;
    const field *f = nullptr;
    if (identifier != SQL_COLUMN_COUNT && identifier != SQL_DESC_COUNT &&
        !(f = column_record(s, column, &bookmark))) {
        QV_TRACE(s, LOG_ERROR, "Invalid descriptor index %d for type %d", column, identifier);
        post_error_col(s, ST_07009, 0, column, nullptr);
        return SQL_ERROR;
    }
    attr_value v;
    if (attribute_of(s, f, identifier, count, odbc2, &v) != 0) {
        QV_TRACE(s, LOG_ERROR, "Invalid descriptor field index %d for type %d", identifier, column);
        post_error_col(s, ST_HY091, 0, column, nullptr);
        return SQL_ERROR;
    }
    if (v.kind == V_TEXT) {
        QV_TRACE(s, LOG_DETAIL, "SQLColAttribute: returns string value '%S'", v.text);
        return put_text(s, v.text, char_attr, buffer_length, string_length, text_mode, 0);
    }
    if (numeric_attr)
        *numeric_attr = (SQLLEN)v.number;
    if (string_length)
        *string_length = v.kind == V_INTEGER ? 4 : 8;
    if (v.kind == V_INTEGER)
        QV_TRACE(s, LOG_DETAIL, "SQLColAttribute: returns integer value '%d'", (int)v.number);
    else
        QV_TRACE(s, LOG_DETAIL, "SQLColAttribute: returns ulen value '%d'", (int)v.number);
    return SQL_SUCCESS;
}

/* ------------------------------------------------------- SQLDescribeCol */

static SQLULEN column_size_of(const field *f)
{
    switch (f->concise_type) {
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return (SQLULEN)f->precision;
    case SQL_INTEGER: return 10;
    case SQL_SMALLINT: return 5;
    case SQL_FLOAT:
    case SQL_DOUBLE: return 15;
    case SQL_REAL: return 7;
    case SQL_BIT: return 1;
    case SQL_TINYINT: return 3;
    case SQL_BIGINT: return 19;
    default: return (SQLULEN)f->display_size;
    }
}

SQLRETURN describe_col(my_statement *s, int column, void *name, SQLSMALLINT buffer_length,
                       SQLSMALLINT *name_length, SQLSMALLINT *data_type, SQLULEN *column_size,
                       SQLSMALLINT *decimal_digits, SQLSMALLINT *nullable, int text_mode)
{
    if (describe_on_demand(s, 1, "SQLDescribeCol") != SQL_SUCCESS)
        return SQL_ERROR;
    int count = desc_column_count(s->ird);
    QV_TRACE(s, LOG_DETAIL, "SQLDescribeCol: column count=%d", count);
    field bookmark;
    const field *f = column_record(s, column, &bookmark);
    if (!f) {
        QV_TRACE(s, LOG_ERROR, "SQLDescribeCol: invalid column_number %d from %d", column, count);
        post_error_col(s, ST_07009, 0, column, nullptr);
        return SQL_ERROR;
    }
    SQLRETURN rc = put_text(s, f->name, name, buffer_length, name_length, text_mode, 1);
    if (data_type)
        *data_type = (SQLSMALLINT)f->concise_type;
    if (column_size)
        *column_size = column_size_of(f);
    if (decimal_digits)
        *decimal_digits = (SQLSMALLINT)f->scale;
    if (nullable)
        *nullable = (SQLSMALLINT)f->nullable;
    return rc;
}
