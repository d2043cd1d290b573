/*
 * Fetching rows into bound columns.
 */
#ifndef QV_MY_FETCH_H
#define QV_MY_FETCH_H

#include <sql.h>

#include "my_handles.h"

/* Converts the current row's value holders (IRD data_storage) into the
 * application's bound ARD buffers for rowset row stmt->row_offset.
 * SQL_SUCCESS, SQL_SUCCESS_WITH_INFO or SQL_ERROR (diagnostics posted). */
SQLRETURN transfer_bound_columns(my_statement *stmt);

#endif
