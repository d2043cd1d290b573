/*
 * Fetching: the one fetch routine behind SQLFetch, SQLFetchScroll,
 * SQLExtendedFetch and the driver's own inner statements, the row readers,
 * and filling bound columns.
 */
#ifndef QV_MY_FETCH_H
#define QV_MY_FETCH_H

#include <sql.h>
#include <sqlext.h>

#include "my_handles.h"

SQLRETURN my_fetch(my_statement *s, int orientation, int64_t offset);
SQLRETURN my_fetch_row(my_statement *s);
SQLRETURN my_fetch_row_binary(my_statement *s);
SQLRETURN transfer_bound_columns(my_statement *s);
void drain_result_rows(my_statement *s);

#endif
