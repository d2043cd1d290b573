/*
 * Statement lifecycle: closing a result, unpreparing, the cursor downgrade,
 * and the execution routines behind SQLExecDirect and SQLExecute.
 */
#include "stmt/my_stmt.h"

#include <mutex>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_proto.h"
#include "results/my_data.h"
#include "results/my_fetch.h"
#include "results/my_internalrs.h"
#include "stmt/my_param.h"
#include "stmt/my_sql.h"

/* ================================================================ closing */

int my_close_stmt(my_statement *s, int unprepare)
{
    my_connection *c = handle_conn(s);
    QV_TRACE(s, LOG_DETAIL,
             "my_close_stmt, closing statement=%p, unprepare=%d, prepared=%d, data_waiting %d, "
             "executed %d",
             s, unprepare, s->prepared, s->data_waiting, s->executed);
    /* Further results count as well: left on the wire, they would be read as
     * the answer to the next command. */
    if (s->data_waiting || s->more_results) {
        QV_TRACE(s, LOG_DETAIL, "Flush one or more result set(s)");
        if (s->internal_rs)
            internal_rs_free(s);
        else
            discard_response(s);
        s->data_waiting = 0;
        s->more_results = 0;
        if (c) {
            std::lock_guard<qv_mutex> g(c->wire_lock);
            if (c->busy_owner == s || !c->busy_owner) {
                c->busy = 0;
                c->busy_owner = nullptr;
            }
        }
    }
    if (s->prepared && c && !c->Text_Prepare && unprepare) {
        QV_TRACE(s, LOG_DETAIL, "my_close_stmt: unprepare");
        /* a closed link took the server's statement with it */
        if (!c->link_broken) {
            my_packet *p = create_close(s);
            if (!p || send_only(s, p) != 0)
                return -1;
        }
        s->prepared = 0;
        ms_free(s->sql_text);
        s->sql_text = nullptr;
    }
    if (s->internal_rs)
        internal_rs_free(s);
    s->binary_result = 0;
    s->described = 0;
    s->executed = 0;
    s->data_waiting = 0;
    s->row_number = 0;
    s->rows_read = 0;
    index_clear(s);
    /* the execution is over: no file it named may be asked for any more */
    s->local_infile_files.clear();
    return 0;
}

SQLRETURN apply_cursor_downgrade(my_statement *s, SQLRETURN rc)
{
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
        return rc;
    int opened = cursor_open(s);
    if (opened < 0)
        return SQL_ERROR;
    if (!s->data_waiting || (s->cursor_type == 0 && s->cursor_scrollable == 0))
        return rc;
    if (opened == 0) {
        /* the rows are held: the cursor is static, whatever was asked for */
        if (s->cursor_type == SQL_CURSOR_STATIC && s->cursor_scrollable)
            return rc;
        s->cursor_type = SQL_CURSOR_STATIC;
        s->cursor_scrollable = SQL_SCROLLABLE;
        s->cursor_sensitivity = SQL_INSENSITIVE;
        post_error(s, ST_01S02, 0, "Cursor type changed");
        return SQL_SUCCESS_WITH_INFO;
    }
    s->cursor_type = 0;
    s->cursor_scrollable = 0;
    post_error(s, ST_01S02, 0, "Cursor type changed");
    return SQL_SUCCESS_WITH_INFO;
}

void close_cursor(my_statement *s)
{
    my_close_stmt(s, 0);
    reset_column_values(s);
    my_descriptor *ird = s->ird;
    desc_truncate(ird, 0);
    ird->described_valid = 0;
    ird->described_count = 0;
}

/* ============================================== running parameter rows */

/* What differs between the executions: how a row's command is built, what
 * the trace calls things, and whether a direct query tries binary rows
 * first. */
struct execution {
    int direct;
    my_packet *(*build)(my_statement *s);
    int binary;
};

static my_packet *build_direct(my_statement *s) { return create_exec_string(s, s->sql_text); }

static const execution DIRECT = {1, build_direct, 0};
static const execution DIRECT_BINARY = {1, build_direct, 1};
static const execution PREPARED = {0, create_execute, 0};

/* SQL_PARAM_IGNORE and the other operation values that leave a row out. */
static int skipped_row(const my_statement *s, uint64_t row)
{
    const SQLUSMALLINT *ops = (const SQLUSMALLINT *)s->apd->array_status_ptr;
    if (!ops)
        return 0;
    SQLUSMALLINT op = ops[row];
    return op == 1 || op == 2 || op == 3 || op == 5;
}

static void set_param_status(my_statement *s, uint64_t row, SQLUSMALLINT status)
{
    if (SQLUSMALLINT *st = (SQLUSMALLINT *)s->ipd->array_status_ptr)
        st[row] = status;
}

/* The execution stopped: the sets from `from` on were never run, and their
 * entries must not keep what an earlier call left there. */
static SQLRETURN stop_rows(my_statement *s, uint64_t from, uint64_t rows)
{
    for (uint64_t r = from; r < rows; r++)
        set_param_status(s, r, SQL_PARAM_UNUSED);
    return SQL_ERROR;
}

/* Sends one row's command and reads its response into *v. -1 when the
 * command could not be built (the row is marked, the reason posted). */
static int run_one_row(my_statement *s, const execution &e, uint64_t row, SQLRETURN *v)
{
    /* in an array, what is said of this set of parameters names it */
    diag_row_scope named(s->apd->array_size >= 2 ? (int64_t)row + 1 : 0);
    if (e.binary) {
        /* A query names no file: the server may ask for none. The text
         * goes only when the server did not prepare it: nothing it ran,
         * or failed to run, is run again. */
        s->local_infile_files.clear();
        int ran = prepare_execute_close(s, s->sql_text);
        if (ran != 1) {
            if (ran == 0)
                s->executed = 1;
            *v = apply_cursor_downgrade(s, ran == 0 ? SQL_SUCCESS : SQL_ERROR);
            return 0;
        }
    }
    my_packet *p = e.build(s);
    if (!p) {
        set_param_status(s, row, SQL_PARAM_ERROR);
        if (e.direct)
            QV_TRACE(s, LOG_ERROR, "SQLExecDirectWide: create_exec_string failed");
        else
            QV_TRACE(s, LOG_ERROR, "SQLExecute: create_prepared_command failed");
        return -1;
    }
    if (allow_local_infile(s, p) != 0) {
        packet_free(p);
        set_param_status(s, row, SQL_PARAM_ERROR);
        return -1;
    }
    if (!e.direct)
        QV_TRACE(s, LOG_DETAIL, "SQLExecute: sending request");
    int rc = send_and_execute(s, p);
    packet_free(p);
    if (rc == 0)
        s->executed = 1;
    *v = apply_cursor_downgrade(s, rc == 0 ? SQL_SUCCESS : SQL_ERROR);
    return 0;
}

/* The call's result from the rows' results: any row that worked makes it a
 * success, with info when another row failed or warned. */
static SQLRETURN rows_result(const my_statement *s, SQLRETURN last)
{
    if (s->ok_count > 0 || s->info_count > 0)
        return s->error_count > 0 || s->info_count > 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    if (s->error_count > 0)
        return SQL_ERROR;
    return last;
}

/* Every parameter row in turn, each as a command of its own (a parameter
 * array sends all its rows: sending only the last would lose the others). */
static SQLRETURN run_rows(my_statement *s, const execution &e)
{
    /* An array size of 0 still means one execution: nothing sent would be
     * a statement reported as run that never ran. */
    uint64_t rows = s->apd->array_size ? s->apd->array_size : 1;
    SQLULEN *processed = (SQLULEN *)s->ipd->rows_processed_ptr;
    SQLRETURN last = SQL_SUCCESS;
    uint64_t first = (uint64_t)s->param_row;
    for (uint64_t row = first; row < rows; row++) {
        s->param_row = (int32_t)row;
        if (e.direct)
            QV_TRACE(s, LOG_DETAIL, "SQLExecDirectWide: chaining execute string");
        else
            QV_TRACE(s, LOG_DETAIL, "SQLExecute: execute %d of %d", (int)row, (int)rows);
        if (processed)
            *processed = row + 1;
        if (skipped_row(s, row)) {
            set_param_status(s, row, SQL_PARAM_UNUSED);
            continue;
        }
        /* Every row may ask for data at execution: the call returns for it
         * and SQLParamData resumes the loop at this row. (The first row of
         * the call was checked before, or has just been given its data.) */
        if (row > first) {
            int checked = my_check_params(s, e.direct ? DAE_OP_DIRECT : DAE_OP_EXECUTE);
            if (checked == SQL_ERROR)
                return stop_rows(s, row, rows);
            if (checked != 0)
                return (SQLRETURN)checked;
        }
        /* the last row's further results must not be read as this one's */
        if (response_on_wire(s) && discard_response(s) != 0)
            return stop_rows(s, row, rows);
        SQLRETURN v;
        if (run_one_row(s, e, row, &v) != 0)
            return stop_rows(s, row + 1, rows);
        if (s->data_waiting && rows >= 2) {
            QV_TRACE(s, LOG_ERROR, "SQLExecute: Array of data statements not supported");
            post_error(s, ST_HY000, 0, "Array of data statements not supported");
            set_param_status(s, row, SQL_PARAM_ERROR);
            return stop_rows(s, row + 1, rows);
        }
        if (v == SQL_ERROR)
            s->error_count++;
        else if (v == SQL_SUCCESS)
            s->ok_count++;
        else if (v == SQL_SUCCESS_WITH_INFO)
            s->info_count++;
        if (s->row_count_valid) {
            s->total_row_count = (s->total_row_count < 0 ? 0 : s->total_row_count) + s->row_count;
            QV_TRACE(s, LOG_DETAIL, "SQLExecute: row count = %d", (int)s->row_count);
        }
        set_param_status(s, row,
                         v == SQL_SUCCESS ? SQL_PARAM_SUCCESS
                         : v == SQL_SUCCESS_WITH_INFO ? SQL_PARAM_SUCCESS_WITH_INFO
                                                      : SQL_PARAM_ERROR);
        last = v;
    }
    if (s->total_row_count > 0) {
        QV_TRACE(s, LOG_DETAIL, "SQLExecute: total row count = %d", (int)s->total_row_count);
        s->row_count = s->total_row_count;
    }
    QV_TRACE(s, LOG_DETAIL, "SQLExecute: ok_count=%d, info_count=%d, error_count=%d",
             (int)s->ok_count, (int)s->info_count, (int)s->error_count);
    return rows_result(s, last);
}

static void start_rows(my_statement *s)
{
    s->total_row_count = -1;
    s->ok_count = s->info_count = s->error_count = 0;
    s->param_row = 0;
}

/* ======================================================= direct execution */

/* The busy rule of direct execution: while another statement has an open
 * result, this one may not run. 0, or -1 with HY000 posted. */
static int claim_connection(my_statement *s)
{
    my_connection *c = handle_conn(s);
    std::lock_guard<qv_mutex> g(c->wire_lock);
    if (!c->busy)
        return 0;
    if (c->busy_owner && c->busy_owner != s) {
        QV_TRACE(s, LOG_ERROR, "connection is busy with results of another hstmt");
        post_error(s, ST_HY000, 0, "connection is busy with results of another hstmt");
        return -1;
    }
    c->busy = 0;
    c->busy_owner = nullptr;
    s->data_waiting = 0;
    return 0;
}

/* A direct query whose rows may come binary: the application's own (the
 * driver's session and catalog queries keep the text exchange they were
 * written for), one SELECT (or WITH) without markers, run once, on a server
 * that executes the statement it has just been sent to prepare; text that
 * fits one packet. */
static int binary_direct(my_statement *s)
{
    const my_connection *c = handle_conn(s);
    return !c->NoBinaryDirect && !c->Text_Prepare && !s->driver_own && s->single_query &&
           s->apd->array_size <= 1 && s->sql_text &&
           s->sql_text->length <= (MAX_PACKET_PAYLOAD - 1) / 3 &&
           server_executes_last_prepared(c);
}

SQLRETURN my_exec_direct(my_statement *s, my_string *text)
{
    s->params_described = 0;
    s->described = 0;
    if (claim_connection(s) != 0) {
        ms_free(text);
        return SQL_ERROR;
    }
    s->more_results = 0;
    s->prepared = 0;
    s->binary_result = 0;
    internal_rs_free(s);
    ms_free(s->sql_text);
    s->sql_text = nullptr;

    my_string *sql = my_process_sql(s, text);
    ms_free(text);
    if (!sql) {
        QV_TRACE(s, LOG_ERROR, "SQLExecDirectWide: failed processing string");
        return SQL_ERROR;
    }
    s->ird = s->implicit_ird;
    start_rows(s);
    int checked = my_check_params(s, 11);
    if (checked == SQL_NEED_DATA) {
        s->sql_text = sql;
        return SQL_NEED_DATA;
    }
    if (checked == SQL_ERROR) {
        ms_free(sql);
        return SQL_ERROR;
    }
    s->sql_text = sql;
    return exec_direct_rows(s);
}

SQLRETURN exec_direct_rows(my_statement *s)
{
    SQLRETURN rc = SQL_ERROR;
    {
        /* one exchange from the select limit to the last row's response:
         * the limit set must be the one the statement runs under */
        wire_exchange x(s);
        if (check_select_limit(s) == 0) {
            if (SQLULEN *processed = (SQLULEN *)s->ipd->rows_processed_ptr)
                *processed = 0;
            rc = run_rows(s, binary_direct(s) ? DIRECT_BINARY : DIRECT);
        }
    }
    /* a row waiting for data at execution still needs the text */
    if (rc == SQL_NEED_DATA)
        return rc;
    /* a directly executed statement keeps no text */
    ms_free(s->sql_text);
    s->sql_text = nullptr;
    return rc;
}

/* ================================================== prepared execution */

SQLRETURN my_execute(my_statement *s)
{
    internal_rs_free(s);
    s->binary_result = 0;
    if (!s->sql_text) {
        QV_TRACE(s, LOG_ERROR, "SQLExecute: No prepared statement");
        post_error(s, ST_HY000, 0, "no prepared statement");
        return SQL_ERROR;
    }
    /* The last execution's result, if still open, is read to its end first:
     * the new response would otherwise be read behind it. */
    if ((s->data_waiting || s->more_results) && my_close_stmt(s, 0) != 0)
        return SQL_ERROR;
    if (check_wire_free(s) != 0)
        return SQL_ERROR;
    if (!s->prepared && prepare_stmt(s, s->sql_text) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLPrepare: failed preparing statement");
        return SQL_ERROR;
    }
    start_rows(s);
    int checked = my_check_params(s, 12);
    if (checked == SQL_NEED_DATA || checked == SQL_ERROR)
        return (SQLRETURN)checked;
    return execute_rows(s);
}

SQLRETURN execute_rows(my_statement *s)
{
    wire_exchange x(s);   /* the select limit holds for the rows sent */
    if (check_select_limit(s) != 0)
        return SQL_ERROR;
    s->ird = s->implicit_ird;
    if (SQLULEN *processed = (SQLULEN *)s->ipd->rows_processed_ptr)
        *processed = 0;
    QV_TRACE(s, LOG_DETAIL, "SQLExecute: statement prepared");
    return run_rows(s, PREPARED);
}

/* ------------------------------------------- descriptions, reset, limit */

int describe_params(my_statement *s, const my_string *text)
{
    QV_TRACE(s, LOG_DETAIL, "describe_params: '%S', %d params", text, s->found_param_count);
    my_descriptor *ipd = s->implicit_ipd;
    int n = s->found_param_count > 0 ? s->found_param_count : 0;
    if (desc_set_records(ipd, n) != 0) {
        post_error(s, ST_HY001, 0, "failed expanding descriptor");
        return -1;
    }
    s->ipd = ipd;
    ipd->described_count = n;
    ipd->described_valid = 1;
    s->params_described = 1;
    my_connection *c = handle_conn(s);
    for (int i = 0; i < n; i++) {
        int rc = fill_field_from_column(s, ipd, i, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, c->charset, 255, MYSQL_TYPE_VARCHAR, 0, 0);
        if (rc != 0)
            return rc;
    }
    return 0;
}

int text_describe(my_statement *s, const my_string *text)
{
    QV_TRACE(s, LOG_DETAIL, "text_describe: '%S'", text);
    if (!s->is_select) {
        s->described = 1;
        QV_TRACE(s, LOG_DETAIL, "text_describe: not a select statement");
        return 0;
    }
    /* The limit of 1 must be the one in force when the query runs. */
    wire_exchange x(s);
    if (check_wire_free(s) != 0)
        return -1;
    if (set_select_limit(s, 1) != 0)
        return -1;

    my_packet *p = create_text_execute(s);
    int rc = p ? send_and_execute(s, p) : -1;
    packet_free(p);
    /* Only the description was wanted: the rows go, wherever they are. */
    if (discard_response(s) != 0)
        rc = -1;
    if (check_select_limit(s) != 0)
        rc = -1;
    return rc;
}

int send_reset(my_statement *s)
{
    QV_TRACE(s, LOG_DETAIL, "send_reset:");
    wire_exchange x(s);
    if (check_wire_free(s) != 0)
        return -1;
    /* The reset's answer would arrive behind the statement's own unread
     * rows; with rows still coming there is nothing to reset yet. */
    if (response_on_wire(s)) {
        QV_TRACE(s, LOG_DETAIL, "send_reset: the statement's rows are still being read");
        return 0;
    }
    my_packet *p = create_reset(s);
    if (!p)
        return -1;
    return send_for_ok(s, p, "send_reset");
}

int check_select_limit(my_statement *s)
{
    my_connection *c = handle_conn(s);
    if (!c)
        return 0;
    /* The limit in force is the connection's: another statement's
     * execution may change it at any moment outside this exchange. Sent on
     * the statement's behalf, what it posts lands on the statement, where
     * its caller looks, and the connection's own records stay as the
     * application's last call on it left them (another thread may be
     * reading them). */
    wire_exchange x(s);
    if (c->select_limit == s->max_rows)
        return 0;
    return set_select_limit(s, s->max_rows);
}
