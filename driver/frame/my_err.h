/*
 * Diagnostics: records posted on a handle, ordered by SQLSTATE.
 *
 * post_error names a row of the SQLSTATE table (ST_*) and optionally a
 * message format (the trace formatter's conversions). The record's text is
 * "[Quorvane][MySQL Driver][MySQL]" + default text [+ ": " + message].
 * Posting never fails visibly: without memory the record is dropped.
 */
#ifndef QV_MY_ERR_H
#define QV_MY_ERR_H

#include <stdint.h>

#include "my_handles.h"

#include "sqlstate_rows.inc"

#define QV_MSG_PREFIX "[Quorvane][MySQL Driver][MySQL]"

struct diag_record {
    int32_t native;
    my_string *sqlstate;
    my_string *message;
    int64_t row_number;
    int32_t column_number;
    diag_record *next;
};

struct sqlstate_entry {
    const char *state;
    const char *text;   /* null: no default text */
};

const sqlstate_entry *sqlstate_lookup(int row);

/* Column number -1. fmt may be null. */
void post_error(void *h, int row, int native, const char *fmt, ...);
void post_error_col(void *h, int row, int native, int column, const char *fmt, ...);
/* A server ERR packet; sqlstate is taken over (not copied), text is copied. */
void post_server_message(void *h, int native, my_string *sqlstate, const my_string *text,
                         int64_t row_number, int32_t column_number);
/* Deep copy of a record onto another handle, by the ordering rule. */
void copy_diag_record(void *target, const diag_record *rec);
void clear_diagnostics(void *h);

int diag_count(const void *h);
diag_record *diag_get(const void *h, int n);   /* 1-based; null when absent */

/* The system text for an errno value (static buffer, overwritten by the next call). */
const char *system_error_text(int err);

#endif
