/*
 * Statement lifecycle: closing a result, unpreparing, the cursor downgrade,
 * and the execution routines behind SQLExecDirect and SQLExecute.
 */
#include "stmt/my_stmt.h"

#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_proto.h"
#include "protocol/my_response.h"
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

/* One row's outcome into the counts, the total row count and its status. */
static void count_row(my_statement *s, uint64_t row, SQLRETURN v)
{
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

static SQLRETURN finish_rows(my_statement *s, SQLRETURN last)
{
    /* the count is the array's, whether or not its last set failed */
    if (s->total_row_count >= 0) {
        QV_TRACE(s, LOG_DETAIL, "SQLExecute: total row count = %d", (int)s->total_row_count);
        s->row_count = s->total_row_count;
        s->row_count_valid = 1;
    }
    QV_TRACE(s, LOG_DETAIL, "SQLExecute: ok_count=%d, info_count=%d, error_count=%d",
             (int)s->ok_count, (int)s->info_count, (int)s->error_count);
    return rows_result(s, last);
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
        count_row(s, row, v);
        last = v;
    }
    return finish_rows(s, last);
}

/* ============================================ parameter arrays in windows */

/* A parameter array of a statement prepared on the server goes out in
 * windows of rows: the COM_STMT_EXECUTE commands of a window in one write,
 * then their answers read in row order. The server runs each command on its
 * own, exactly as if they had come one at a time, so every row keeps its
 * own status, update count and records.
 *
 * Neither side may end up waiting for the other: the server writes answers
 * while the driver is still writing the window, and the driver reads none
 * of them before the window is out. A window therefore holds no more bytes
 * than the socket buffers between driver and server take in (the write
 * completes even while the server is held up writing answers nobody reads
 * yet), and no more rows than the way back holds answers for (an update
 * count is a few dozen bytes). A row larger than a window goes alone. Only
 * statements answered by an update count or an error go in windows; one
 * whose answer may be rows (a SELECT, a CALL, anything with result columns)
 * runs row by row, as does the text protocol. */
enum {
    WINDOW_BYTES = 64 * 1024,
    WINDOW_ROWS = 1024,   /* answers of up to 64 bytes in 64 KiB */
};

static int runs_in_windows(my_statement *s)
{
    my_connection *c = handle_conn(s);
    return c && !c->Text_Prepare && s->apd->array_size >= 2 && !s->is_select &&
           s->implicit_ird->field_count == 0 && sql_answers_count_only(c, s->sql_text);
}

struct row_window {
    my_packet *buf;                 /* the commands, back to back */
    std::vector<uint32_t> starts;   /* where each command starts in buf */
    std::vector<uint64_t> rows;     /* the parameter row of each command */
    uint64_t considered;            /* rows before this one have their status */
    int stop;                       /* the array ends with this window */
};

static void note_processed(my_statement *s, uint64_t rows)
{
    if (SQLULEN *processed = (SQLULEN *)s->ipd->rows_processed_ptr)
        *processed = rows;
}

/* A row the driver could not run, marked as a failed lone execution is. */
static void row_failed(my_statement *s, uint64_t row, SQLRETURN *last)
{
    s->row_count_valid = 0;
    count_row(s, row, SQL_ERROR);
    *last = SQL_ERROR;
}

/* The answer of the window's next row, taken as a lone execution's answer
 * is. */
static void take_answer(my_statement *s, row_window &w, uint64_t row, int several,
                        SQLRETURN *last)
{
    s->param_row = (int32_t)row;
    diag_row_scope named((int64_t)row + 1);
    if (several)
        s->seq = 1;   /* each command's answer counts from 1 */
    int rc = read_answer(s);
    if (rc == 0)
        s->executed = 1;
    SQLRETURN v = apply_cursor_downgrade(s, rc == 0 ? SQL_SUCCESS : SQL_ERROR);
    if (s->data_waiting || s->more_results) {
        /* rows after all: the answers behind them still belong to the
         * window's other rows */
        QV_TRACE(s, LOG_ERROR, "SQLExecute: Array of data statements not supported");
        post_error(s, ST_HY000, 0, "Array of data statements not supported");
        discard_response(s);
        s->row_count_valid = 0;
        v = SQL_ERROR;
        w.stop = 1;
    }
    count_row(s, row, v);
    *last = v;
}

/* Sends the window and reads its answers. 0, or -1 when the link failed or
 * a time-out left answers that could not be read in time: every row of the
 * window then has its status (a row whose answer was not read is an error:
 * the server may or may not have run it). */
static int flush_window(my_statement *s, row_window &w, SQLRETURN *last)
{
    size_t n = w.rows.size();
    if (n == 0)
        return 0;
    my_connection *c = handle_conn(s);
    int sent;
    {
        diag_row_scope named((int64_t)w.rows[0] + 1);
        QV_TRACE(s, LOG_DETAIL, "SQLExecute: sending request");
        sent = send_commands(s, w.buf, w.starts.data(), n);
    }
    size_t i = 0;
    if (sent == 0) {
        /* after a time-out the answers still owed are read in a short
         * time; a second time-out closes the link */
        std::unique_ptr<call_deadline> owed;
        for (; i < n; i++) {
            take_answer(s, w, w.rows[i], n > 1, last);
            if (c->link_broken) {
                i++;
                break;
            }
            if (s->hdr.timed_out) {
                w.stop = 1;
                if (owed && i + 1 < n) {
                    conn_mark_dead(c);
                    i++;
                    break;
                }
                if (!owed)
                    owed.reset(new (std::nothrow) call_deadline(recovery_deadline(s)));
            }
        }
    }
    int failed = i < n || sent != 0 || c->link_broken;
    for (; i < n; i++) {
        diag_row_scope named((int64_t)w.rows[i] + 1);
        if (sent == 0 || i > 0)
            post_error(s, ST_08S01, 0,
                       "the connection failed before the answer for this set of parameters "
                       "was read; the server may have run it");
        row_failed(s, w.rows[i], last);
    }
    w.rows.clear();
    w.starts.clear();
    w.buf->length = 4;
    note_processed(s, w.considered);
    if (failed)
        w.stop = 1;
    return failed ? -1 : 0;
}

/* The rows from `from` on in windows. */
static SQLRETURN run_rows_in_windows(my_statement *s)
{
    static const unsigned char no_header[4] = {0, 0, 0, 0};
    uint64_t rows = s->apd->array_size;
    uint64_t first = (uint64_t)s->param_row;
    if (!s->exec_window.p && !(s->exec_window.p = packet_new(s))) {
        post_error(s, ST_HY001, 0, nullptr);
        return stop_rows(s, first, rows);
    }
    row_window w;
    w.buf = s->exec_window.p;
    w.buf->owner = s;
    w.buf->length = 4;
    w.considered = first;
    w.stop = 0;
    try {
        w.starts.reserve(WINDOW_ROWS);
        w.rows.reserve(WINDOW_ROWS);
    } catch (const std::bad_alloc &) {
        post_error(s, ST_HY001, 0, nullptr);
        return stop_rows(s, first, rows);
    }
    param_block block;
    SQLRETURN last = SQL_SUCCESS;
    uint64_t row = first;
    for (; row < rows && !w.stop; row++) {
        s->param_row = (int32_t)row;
        QV_TRACE(s, LOG_DETAIL, "SQLExecute: execute %d of %d", (int)row, (int)rows);
        if (skipped_row(s, row)) {
            set_param_status(s, row, SQL_PARAM_UNUSED);
            w.considered = row + 1;
            continue;
        }
        /* A row that asks for data at execution ends the window before it:
         * the call returns for its data, and SQLParamData resumes here. */
        if (row > first && row_wants_dae(s)) {
            if (flush_window(s, w, &last) != 0 || w.stop)
                break;
            s->param_row = (int32_t)row;
            int checked = my_check_params(s, DAE_OP_EXECUTE);
            if (checked == SQL_ERROR)
                return stop_rows(s, row, rows);
            if (checked != 0)
                return (SQLRETURN)checked;
        }
        int64_t size;
        {
            diag_row_scope named((int64_t)row + 1);
            if (param_block_convert(s, &block) != 0) {
                /* this row is not sent; the others go */
                QV_TRACE(s, LOG_ERROR, "SQLExecute: create_prepared_command failed");
                row_failed(s, row, &last);
                w.considered = row + 1;
                continue;
            }
            size = 4 + execute_size(&block);
        }
        if (!w.rows.empty() &&
            (w.buf->length + size > WINDOW_BYTES || w.rows.size() >= WINDOW_ROWS)) {
            if (flush_window(s, w, &last) != 0 || w.stop)
                break;
            s->param_row = (int32_t)row;
        }
        uint32_t start = w.rows.empty() ? 0 : (uint32_t)w.buf->length;
        if (start == 0)
            w.buf->seq = 0;
        int put;
        {
            diag_row_scope named((int64_t)row + 1);
            put = (start && packet_put_bytes(w.buf, no_header, 4) != 0) ||
                  put_execute(s, w.buf, &block) != 0;
        }
        w.considered = row + 1;
        if (put) {
            row_failed(s, row, &last);
            if (start == 0 && w.buf->seq != 0) {
                /* part of a large row went out: the rest cannot follow */
                conn_mark_dead(handle_conn(s));
                w.stop = 1;
            }
            w.buf->length = start ? (int32_t)start : 4;
            continue;
        }
        w.starts.push_back(start);
        w.rows.push_back(row);
        if (size >= WINDOW_BYTES && flush_window(s, w, &last) != 0)
            break;
    }
    if (!w.stop)
        flush_window(s, w, &last);
    note_processed(s, w.considered);
    if (w.stop) {
        for (uint64_t r = w.considered; r < rows; r++)
            set_param_status(s, r, SQL_PARAM_UNUSED);
        finish_rows(s, last);
        return SQL_ERROR;
    }
    return finish_rows(s, last);
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
    if (runs_in_windows(s))
        return run_rows_in_windows(s);
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
