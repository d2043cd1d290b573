/*
 * Statement lifecycle: closing a statement's result, the executions shared
 * by the entry points (and by the driver's own inner statements), closing a
 * cursor, the descriptions of a text-prepared statement, the reset of a
 * prepared one and the select limit that follows the statement.
 */
#ifndef QV_MY_STMT_H
#define QV_MY_STMT_H

#include <sql.h>

#include "my_handles.h"

/* Direct execution of text (the application's SQL as a driver string; it is
 * taken over and freed). The caller has closed the statement. SQL_SUCCESS,
 * SQL_SUCCESS_WITH_INFO, SQL_NEED_DATA (the processed text is kept as
 * sql_text) or SQL_ERROR. The cursor downgrade is the caller's. */
SQLRETURN my_exec_direct(my_statement *s, my_string *text);
/* The sending half of a direct execution once the parameters are complete:
 * every parameter row's command, one after another. sql_text is freed. */
SQLRETURN exec_direct_rows(my_statement *s);

/* SQLExecute's work: prepares when needed, checks the parameters and runs
 * execute_rows. */
SQLRETURN my_execute(my_statement *s);
/* The sending half of SQLExecute: the prepared statement for every row of
 * the parameter array, with per-row status and the summed row count. */
SQLRETURN execute_rows(my_statement *s);

/* Closes the statement's result: what is left of its response, on the wire
 * or queued, is discarded, and the internal result set freed; with
 * unprepare, the server's prepared statement is closed too. 0, or -1 when
 * the close could not be sent. */
int my_close_stmt(my_statement *stmt, int unprepare);
/* After an execution that opened a result: a scrollable or non-forward cursor
 * request falls back to forward-only with 01S02 "Cursor type changed" and
 * SQL_SUCCESS_WITH_INFO; any other rc passes through. */
SQLRETURN apply_cursor_downgrade(my_statement *stmt, SQLRETURN rc);

/* SQLFreeStmt(SQL_CLOSE) and SQLCloseCursor: the result is closed and the
 * IRD emptied. */
void close_cursor(my_statement *s);

/* Parameter descriptions of a text-prepared statement: VARCHAR(255) each. */
int describe_params(my_statement *s, const my_string *text);
/* Column descriptions of a text-prepared SELECT: runs it with a select limit
 * of 1 and keeps only the description. */
int text_describe(my_statement *s, const my_string *text);
/* COM_STMT_RESET and its answer; the affected-row count is kept. */
int send_reset(my_statement *s);
/* Brings the connection's select limit in line with the statement's max rows. */
int check_select_limit(my_statement *s);

#endif
