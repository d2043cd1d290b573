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

/* The next rowset, or for a static cursor the rowset the orientation and
 * offset name (ODBC's rules for SQLFetchScroll): SQL_SUCCESS,
 * SQL_SUCCESS_WITH_INFO, SQL_NO_DATA or SQL_ERROR. A forward-only cursor
 * takes only SQL_FETCH_NEXT (HY106 otherwise) and refuses an offset above 1
 * (HY107); bookmarks are not supported (HY106). Row statuses and the
 * rows-fetched count go where the IRD's array_status_ptr and
 * rows_processed_ptr point. */
SQLRETURN my_fetch(my_statement *s, int orientation, int64_t offset);
/* A result was opened on the statement: a static cursor, when one was
 * asked for, is set up over the rows held in its queue. 0 (a static cursor
 * is ready, or a forward-only one was asked for), 1 when the rows cannot be
 * scrolled (the caller turns the cursor forward-only), -1 on failure
 * (posted). Also starts the row numbering. */
int cursor_open(my_statement *s);
/* Where a move of a static cursor puts the first row of its rowset, by
 * ODBC's rules: current is the first row of the current rowset (1-based; 0
 * before the start, rows + 1 after the end), last_size the size of the last
 * rowset fetched, size the new one. 0 before the start, rows + 1 after the
 * end, -1 for an unsupported orientation. *before_first is set where the
 * move was clipped at the first row (01S06). */
int64_t scroll_target(int orientation, int64_t offset, int64_t current, int64_t last_size,
                      int64_t size, int64_t rows, int *before_first);
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
