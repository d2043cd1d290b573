/*
 * Binary-protocol rows: the rows of a statement prepared on the server.
 *
 * A row fills each result column's value holder (the IRD record's
 * data_storage) with the same representations the text-row reader uses, so
 * that one set of converters serves both.
 */
#ifndef QV_MY_BIN_DATA_H
#define QV_MY_BIN_DATA_H

#include <sql.h>

#include "my_handles.h"

/* Decodes the binary row in stmt->current_row (positioned at its 0x00
 * header) into the IRD value holders. SQL_SUCCESS, or SQL_ERROR with a
 * diagnostic: 08S01 for a row shorter than its null bitmap and values say
 * (nothing past the packet is read), 22018 for a date/time length the
 * protocol does not have, HY003 for a column type without a representation. */
SQLRETURN decode_binary_row(my_statement *s);

/* One column (index from 0) of the row, at the packet's read position.
 * 0 or -1 with a diagnostic posted. */
int decode_binary_column(my_statement *s, int index, int is_null);

#endif
