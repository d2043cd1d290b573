/*
 * Queries the driver runs for itself on a private statement of a connection
 * (the post-logon sequence, the current database): executed like
 * SQLExecDirect, fetched row by row like SQLFetch and read column by column
 * like SQLGetData, so the answers pass through the same decoding and
 * conversion as the application's own results. The statement lives only for
 * the call and its diagnostics go with it.
 */
#ifndef QV_MY_INNER_QUERY_H
#define QV_MY_INNER_QUERY_H

#include <stdint.h>

#include "my_handles.h"
#include "protocol/my_pkt.h"

/* Called once per row; reads the columns it wants from s. */
typedef void (*inner_row_fn)(my_connection *c, my_statement *s, void *ctx);

/* Runs sql and hands each row (at most max_rows when above 0) to fn.
 * 0 when the query ran, with or without rows; -1 when the statement cannot be
 * created or the query failed. */
int run_inner_query(my_connection *c, const char *sql, inner_row_fn fn, void *ctx,
                    int max_rows);

/* The same, for a query sent with others in one write (run_pipelined):
 * inner_query_start makes the private statement and the query's command
 * (null when either cannot be made: posted); inner_query_answer, the
 * command's answer function with the inner_query as its context, reads the
 * answer and hands the rows to fn; inner_query_end releases the statement. */
struct inner_query {
    inner_row_fn fn;
    void *ctx;
    int max_rows;
    my_statement *s;
};
my_packet *inner_query_start(my_connection *c, inner_query *q, const char *sql);
int inner_query_answer(void *handle, void *ctx);
void inner_query_end(inner_query *q);

/* Column (1-based) of the current row as text cut to max_chars characters;
 * null for SQL NULL or when it cannot be read. Lossless whatever the
 * connection's narrow encoding. */
my_string *inner_column_text(my_statement *s, int column, uint32_t max_chars);

/* Column as a 32-bit integer: 0, 1 for SQL NULL, -1 when it cannot be read. */
int inner_column_int(my_statement *s, int column, int32_t *out);

#endif
