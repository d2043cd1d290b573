/*
 * Parameter values: binary-protocol parameter blocks and SQL literals.
 */
#ifndef QV_MY_PARAM_H
#define QV_MY_PARAM_H

#include "my_handles.h"
#include "protocol/my_pkt.h"

/* Appends parameter number (1-based) of the current parameter row as an SQL
 * literal in the connection's text encoding. 0, or -1 with a diagnostic posted. */
int my_append_param_as_string(my_statement *s, my_packet *p, int number);
/* Appends the binary-protocol parameter block of a COM_STMT_EXECUTE. */
int my_append_params(my_statement *s, my_packet *p);

/* Checks the parameters of the statement before an execution (op: 11 direct
 * execution, 12 execution of a prepared statement): SQL_SUCCESS, SQL_ERROR
 * with a diagnostic, or SQL_NEED_DATA when a data-at-execution parameter
 * waits for its value. */
int my_check_params(my_statement *s, int op);

#endif
