/*
 * Binary-protocol rows.
 */
#include "results/my_bin_data.h"

#include "frame/my_handle.h"

/* PLACEHOLDER until the binary row decoder exists: rows of server-side
 * prepared statements cannot be read yet (Text_Prepare reads them as text). */
SQLRETURN decode_binary_row(my_statement *s)
{
    QV_TRACE(s, LOG_ERROR, "decode_binary_row: binary rows are not supported yet");
    post_error(s, ST_HYC00, 0, "binary result rows");
    return SQL_ERROR;
}
