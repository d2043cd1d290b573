/*
 * Descriptor records: the record list of a descriptor, the mapping from a
 * protocol column definition to ODBC type attributes, the derivation of the
 * dependent type fields and the C/SQL type tables.
 *
 * Records 1..field_count live contiguously in my_descriptor::records
 * (records[0] is record 1), allocated with malloc and owned by the
 * descriptor. Record 0 (the bookmark) is bookmark_record and is never
 * touched by the list operations.
 */
#ifndef QV_MY_DESC_H
#define QV_MY_DESC_H

#include <stdint.h>

#include <sql.h>

#include "my_handles.h"

/* The most records a description may hold: counts reach the application as
 * SQLSMALLINT (SQLNumResultCols, SQLNumParams, SQL_DESC_COUNT). */
enum { MAX_DESC_RECORDS = 32767 };

/* ---- one record ---- */
/* A fresh record: parameter_type SQL_PARAM_INPUT, unnamed 1, the rest 0/null. */
void field_init(field *f);
/* Unbinds the record and frees what it owns: the six names, the literal
 * prefix/suffix and both type names, the value buffer, the DAE pieces.
 * Type attributes other than the names are left as they are. */
void field_reset(field *f);

/* ---- the record list; 0, or -1 when memory runs out (or n is negative).
 * The caller reports -1 with HY001 "failed expanding descriptor". ---- */
/* Replaces every record by n fresh ones. On failure the descriptor is left
 * with no records. */
int desc_set_records(my_descriptor *d, int n);
/* Adds fresh records up to n; a list already that long is left alone. */
int desc_grow(my_descriptor *d, int n);
/* Releases records beyond n; n = 0 frees the array. */
int desc_truncate(my_descriptor *d, int n);
/* Columns of a result (parameters of a description): field_count, or the
 * smaller of it and described_count while that is valid. */
int desc_column_count(const my_descriptor *d);

/* ---- type mapping ---- */
/* Fills record index+1 (index counts from 0 and must be below field_count)
 * from one decoded column or parameter definition. The record takes
 * ownership of the six names whatever the result. length is the wire's
 * unsigned 32-bit column length.
 * Returns 0; -6 with 08S01 "type not supported" posted on the statement for
 * a type it does not map (the common attributes are set by then); -1 with
 * HY000 posted for an index outside the list. */
int fill_field_from_column(my_statement *stmt, my_descriptor *d, int index,
                           my_string *catalog, my_string *schema, my_string *table,
                           my_string *org_table, my_string *name, my_string *org_name,
                           int charset_number, uint32_t length, int mysql_type,
                           int flags, int decimals);

/* Re-derives the dependent type fields of record f of descriptor d after
 * concise_type (mode 0), datetime_interval_code (mode 1) or type (mode 2)
 * changed. SQL_SUCCESS, or SQL_ERROR with HY021 / HY003 posted on d. */
SQLRETURN my_update_desc_type(my_descriptor *d, field *f, int mode);
/* The same for a record of an implementation descriptor (IPD), whose types
 * are SQL types, not C types: brings type, concise type and interval code
 * into line as above but derives no C-type attributes; the server's type
 * names no longer apply and are dropped. SQL_SUCCESS, or SQL_ERROR with
 * HY021 (interval code or type it cannot place) or HY004 (not an SQL type)
 * posted on d. */
SQLRETURN my_update_impl_desc_type(my_descriptor *d, field *f, int mode);
/* SQL_SUCCESS, or SQL_ERROR with HY021 posted on d. */
SQLRETURN check_desc_consistency(my_descriptor *d, const field *f);

/* What is known of an integer value's sign: a result column's flags tell
 * it, a parameter's SQL type does not. */
enum { SIGN_UNKNOWN, SIGN_SIGNED, SIGN_UNSIGNED };
/* The C type SQL_C_DEFAULT stands for with a value of SQL type sql_type:
 * integers follow their sign where it is known (TINYINT is unsigned where
 * it is not), NUMERIC/DECIMAL read as text when numeric_as_text is set,
 * dates and times take the codes of the application's ODBC version and
 * BIGINT reads as text under ODBC 2. A C type code passed as sql_type
 * stands for itself (SQL_DEFAULT of a parameter is resolved that way).
 * The one table behind SQLBindCol, SQLGetData and SQLBindParameter. */
int default_c_type(int sql_type, int sign, int numeric_as_text, int odbc2);
/* default_c_type of result column col of statement s, with the column's
 * sign, NUMERIC as text and the ODBC version of s's environment. */
int column_default_c_type(const my_statement *s, const field *col);
int is_valid_c_type(int c_type);
int is_valid_sql_type(int sql_type);
/* Upper-case SQL name of an SQL type ("CHAR" for anything unknown). */
const char *sql_type_name(int sql_type);

/* Bytes per character of a character-set (collation) number by the
 * connection's collation table: 4 for utf8mb4, 3 for utf8/utf8mb3, else 1
 * (also when the table or the entry is missing). */
int charset_max_bytes(const my_connection *c, int charset_number);

#endif
