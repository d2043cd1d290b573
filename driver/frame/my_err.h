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
/* The same for a reader that holds the handle's diag_lock: reading record
 * after record costs O(1) each. */
diag_record *diag_get_locked(const void *h, int n);

/* ---- whose records ----
 * Posting, counting and reading (diag_count, diag_get) work on the list of
 * the handle named, with one exception: while the calling thread runs an
 * exchange on a connection's wire for one of its statements (an
 * exchange_scope, opened by wire_exchange in protocol/my_response.h),
 * records posted on that connection go to that statement. The transport
 * and the packet layer report on the connection whose bytes they move, but
 * the application asked through the statement and looks for them there;
 * and a connection call running on another thread at the same moment keeps
 * its own list to itself. The scope belongs to the calling thread alone.
 *
 * Locking: each handle's diag_lock guards its list against readers on other
 * threads (SQLGetDiagRec, SQLGetDiagField). Only the thread that works on a
 * handle changes its list, so that thread reads it without the lock. */
struct exchange_scope {
    /* issuer: the handle the exchange runs for. A connection-level command
     * run inside a statement's exchange on the same connection (the select
     * limit sent on the statement's behalf) keeps the statement's records. */
    exchange_scope(my_connection *c, void *issuer);
    ~exchange_scope();
    exchange_scope(const exchange_scope &) = delete;
    exchange_scope &operator=(const exchange_scope &) = delete;
    my_connection *prev_conn;
    void *prev_issuer;
};
/* 1 when the calling thread runs an exchange on c's wire. */
int in_exchange(const my_connection *c);
/* The handle a record posted on h goes to for the calling thread. */
void *diag_target(void *h);

/* ---- which row ----
 * While a diag_row_scope is open on the calling thread, every record posted
 * with no row number of its own names that row (SQL_DIAG_ROW_NUMBER): the
 * execution of a parameter array opens one for each parameter set, so that
 * what the server or the conversions say of a set names it. 0 names none. */
struct diag_row_scope {
    explicit diag_row_scope(int64_t row);
    ~diag_row_scope();
    diag_row_scope(const diag_row_scope &) = delete;
    diag_row_scope &operator=(const diag_row_scope &) = delete;
    int64_t prev;
};

/* The system text for an errno value (static buffer, overwritten by the next call). */
const char *system_error_text(int err);

#endif
