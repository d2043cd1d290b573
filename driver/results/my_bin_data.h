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
 * header) into the IRD value holders. SQL_SUCCESS; SQL_SUCCESS_WITH_INFO
 * when values were refused (22018 for a date/time length the protocol does
 * not have: the holder is marked refused, the other columns are read); or
 * SQL_ERROR when the row is unusable: 08S01 for a row shorter than its null
 * bitmap and values say (nothing past the packet is read), HY003 for a
 * column type without a representation. */
SQLRETURN decode_binary_row(my_statement *s);

/* One column (index from 0) of the row, at the packet's read position.
 * 0; 1 the value was refused (diagnostic posted, the row goes on); -1 the
 * row cannot be read on (diagnostic posted). */
int decode_binary_column(my_statement *s, int index, int is_null);

#endif
