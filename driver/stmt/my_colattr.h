/*
 * Column metadata behind SQLColAttribute(W), SQLColAttributes(W) and
 * SQLDescribeCol(W): describing a statement on demand, the bookmark
 * column's fixed description, and the attribute table.
 */
#ifndef QV_MY_COLATTR_H
#define QV_MY_COLATTR_H

#include <sql.h>

#include "my_handles.h"

/* How an entry point hands text back. */
enum text_out {
    TEXT_NARROW = 0,   /* the narrow rule, lengths in bytes */
    TEXT_WIDE = 1,     /* the W twins: UTF-16 (or narrow when the connection
                          hands wide text back as UTF-8) */
};

/* Describes the statement's result when that has not happened yet.
 * prepare_first: prepare an unprepared text first (SQLDescribeCol).
 * fname prefixes the log lines. SQL_SUCCESS or SQL_ERROR (posted). */
SQLRETURN describe_on_demand(my_statement *s, int prepare_first, const char *fname);

/* The record describing column (0: the bookmark column, when bookmarks are
 * on), or null when there is no such column. bookmark is storage for the
 * bookmark column's fixed description. */
const field *column_record(my_statement *s, int column, field *bookmark);

/* SQLColAttribute's work after the entry frame. odbc2 selects the ODBC 2
 * answers of SQLColAttributes. */
SQLRETURN col_attribute(my_statement *s, int column, int identifier,
                        void *char_attr, SQLSMALLINT buffer_length, SQLSMALLINT *string_length,
                        SQLLEN *numeric_attr, int text, int odbc2);

/* SQLDescribeCol's work; name lengths in characters for TEXT_WIDE. */
SQLRETURN describe_col(my_statement *s, int column, void *name, SQLSMALLINT buffer_length,
                       SQLSMALLINT *name_length, SQLSMALLINT *data_type, SQLULEN *column_size,
                       SQLSMALLINT *decimal_digits, SQLSMALLINT *nullable, int text);

#endif
