/*
 * Binary-protocol rows: the rows of a statement prepared on the server.
 */
#ifndef QV_MY_BIN_DATA_H
#define QV_MY_BIN_DATA_H

#include <sql.h>

#include "my_handles.h"

/* Decodes the binary row in stmt->current_row into the IRD value holders.
 * SQL_SUCCESS, SQL_SUCCESS_WITH_INFO or SQL_ERROR with a diagnostic. */
SQLRETURN decode_binary_row(my_statement *s);

#endif
