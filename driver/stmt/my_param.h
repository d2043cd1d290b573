/*
 * Parameters: checking the bindings before an execution, data at execution,
 * and the two wire forms of the values (the binary parameter block of
 * COM_STMT_EXECUTE and SQL literals inside a COM_QUERY text).
 *
 * Values are read from the application's buffers for the statement's
 * current parameter-array row (s->param_row). Return codes: 0 success, -1
 * failure with a diagnostic posted on the statement (per-parameter
 * diagnostics carry the parameter number as column number).
 */
#ifndef QV_MY_PARAM_H
#define QV_MY_PARAM_H

#include <stdint.h>

#include <vector>

#include "my_handles.h"
#include "protocol/my_pkt.h"

/* Operation codes of a waiting data-at-execution sequence (current_dae_op). */
enum { DAE_OP_DIRECT = 11, DAE_OP_EXECUTE = 12 };

/* Appends parameter number (1-based) of the current parameter row as an SQL
 * literal in the connection's text encoding. For number 1 every parameter of
 * the row is converted first, so that a refusal comes before any part of
 * the command can have been sent (a packet over 16 MB goes out while it is
 * being built). 0, or -1 with a diagnostic posted. */
int my_append_param_as_string(my_statement *s, my_packet *p, int number);

/* Appends the binary-protocol parameter block of a COM_STMT_EXECUTE: null
 * bitmap, new-parameters-bound byte, types, values. Every value is converted
 * before the first byte is written. 0, or -1 with a diagnostic posted. */
int my_append_params(my_statement *s, my_packet *p);

/* The same block in two steps, so that its size is known before it is
 * written (parameter arrays gather many rows' commands into one write).
 * The values' storage is kept from row to row: converting the next row
 * allocates nothing once the block has grown to the statement's parameter
 * count. A converted value may point into the application's buffers and
 * into the block itself; write it before they change. */
struct wire_value;
struct param_block {
    param_block();
    ~param_block();
    param_block(const param_block &) = delete;
    param_block &operator=(const param_block &) = delete;
    std::vector<wire_value> values;
    int count;       /* parameters converted */
    int64_t bytes;   /* the block's size on the wire */
};
/* Converts every parameter of the current row. 0, or -1 with a diagnostic
 * posted (the row cannot be sent). */
int param_block_convert(my_statement *s, param_block *b);
/* Writes a converted block. 0, or -1 (posted). */
int param_block_write(my_statement *s, my_packet *p, const param_block *b);

/* Checks the bindings before an execution (op DAE_OP_DIRECT or
 * DAE_OP_EXECUTE): 0; SQL_NEED_DATA when a parameter of the current row asks
 * for data at execution (the sequence is then set up and earlier pieces are
 * dropped); -1 with 07002 posted when a parameter is not bound. */
int my_check_params(my_statement *s, int op);

/* ---- data at execution (SQLParamData, SQLPutData) ---- */

/* 1 when parameter index (0-based) of the current row asks for data at
 * execution. */
int param_wants_dae(my_statement *s, int index);
/* 1 when any parameter of the current row asks for data at execution. */
int row_wants_dae(my_statement *s);
/* The next parameter after index `after` (-1: from the start) of the current
 * row that asks for data at execution, or -1. */
int dae_next_param(my_statement *s, int after);
/* Moves the sequence to parameter index: finishes the one before (sends the
 * rest of a wide value's long data) and starts counting pieces anew.
 * 0 or -1. */
int dae_begin_param(my_statement *s, int index);
/* Finishes the sequence's last parameter before the execution resumes. */
int dae_end(my_statement *s);
/* SQLPutData's work: one piece for the current parameter. length may be
 * SQL_NTS or SQL_NULL_DATA. 0 or -1. */
int dae_put_piece(my_statement *s, const void *data, int64_t length);
/* Drops the pieces kept for every parameter and ends any sequence. */
void dae_clear(my_statement *s);

#endif
