/*
 * Fetching: the one fetch routine behind SQLFetch, SQLFetchScroll,
 * SQLExtendedFetch and the driver's own inner statements, the row readers,
 * and filling bound columns.
 *
 * A row is read from the statement's queue or the wire (the command layer),
 * decoded into the IRD value holders and converted into the bound
 * buffers of rowset row row_offset. Nothing is allocated per row.
 */
#ifndef QV_MY_FETCH_H
#define QV_MY_FETCH_H

#include <sql.h>
#include <sqlext.h>

#include "my_handles.h"

/* The next rowset: SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA or
 * SQL_ERROR. Only SQL_FETCH_NEXT is supported (HY106 otherwise); an offset
 * above 1 is HY107. Row statuses and the rows-fetched count go where the
 * IRD's array_status_ptr and rows_processed_ptr point. */
SQLRETURN my_fetch(my_statement *s, int orientation, int64_t offset);
/* The next text-protocol row into the value holders: SQL_SUCCESS,
 * SQL_SUCCESS_WITH_INFO (a value could not be decoded; the row is still
 * delivered), SQL_NO_DATA at the end of the rows, or SQL_ERROR. */
SQLRETURN my_fetch_row(my_statement *s);
/* The same for a binary-protocol row of a server-side prepared statement. */
SQLRETURN my_fetch_row_binary(my_statement *s);
/* Converts every bound column of the current row into rowset row
 * s->row_offset of the bound buffers. */
SQLRETURN transfer_bound_columns(my_statement *s);
/* Skips the rest of the open result's rows without decoding them, up to and
 * including the end marker (which tells whether more results follow). */
void drain_result_rows(my_statement *s);

/* Addresses of rowset row s->row_offset for ARD record rec (row-wise or
 * column-wise binding, with the bind offset). An octet-length address equal
 * to the indicator address comes back null: one variable is written once. */
void get_pointers_from_cols(my_statement *s, const field *rec, const my_descriptor *ard,
                            void **data, SQLLEN **octet_length, SQLLEN **indicator,
                            int64_t element_size);
/* Bytes between two values of the record in a column-wise array. */
int64_t bound_element_size(const my_descriptor *ard, const field *rec, int64_t buffer_length);

#endif
