/*
 * Column values: the text-row column reader, the value holders and the
 * conversion of a held value into the application's C type.
 *
 * The row readers (text rows here, binary rows and internal result sets
 * elsewhere) fill each IRD record's data_storage; my_get_data converts the
 * held value for SQLGetData and for bound columns.
 */
#ifndef QV_MY_DATA_H
#define QV_MY_DATA_H

#include <sql.h>
#include <sqlext.h>

#include "my_handles.h"

/* Decodes column index (0-based) of stmt->current_row into IRD record
 * index+1. 0; 1 when a date/time value failed to decode (row still
 * delivered); -1 failure with a diagnostic posted (08S01 for a row whose
 * lengths run past the packet). */
int read_text_column(my_statement *s, int index);

/* Converts column `column` (0 = bookmark) into target_type. ind receives the
 * length or SQL_NULL_DATA, oct the octet length (ignored when equal to ind). */
SQLRETURN my_get_data(my_statement *s, int column, int target_type, void *target,
                      SQLLEN buffer_length, SQLLEN *ind, SQLLEN *oct);

/* Frees held values and clears every result column's holder. */
void reset_column_values(my_statement *s);

#endif
