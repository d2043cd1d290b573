/*
 * Diagnostic records: the SQLSTATE table, posting with its ordering, copying
 * and clearing.
 */
#include "my_err.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

#include "my_handle.h"

#include "sqlstate_table.inc"

const sqlstate_entry *sqlstate_lookup(int row)
{
    if (row < 0 || row >= ST_COUNT)
        return nullptr;
    return &sqlstate_table[row];
}

/* ======================================================== the exchange */

namespace {
struct thread_exchange {
    my_connection *conn;   /* whose wire the thread holds; null: none */
    void *issuer;          /* where records posted on conn go */
};
thread_local thread_exchange current;
thread_local int64_t current_row;   /* diag_row_scope */
} // namespace

diag_row_scope::diag_row_scope(int64_t row) : prev(current_row) { current_row = row; }

diag_row_scope::~diag_row_scope() { current_row = prev; }

exchange_scope::exchange_scope(my_connection *c, void *issuer)
    : prev_conn(current.conn), prev_issuer(current.issuer)
{
    if (!c)
        return;
    if (!as_stmt(issuer) && current.conn == c)
        issuer = current.issuer;
    current.conn = c;
    current.issuer = issuer;
}

exchange_scope::~exchange_scope()
{
    current.conn = prev_conn;
    current.issuer = prev_issuer;
}

int in_exchange(const my_connection *c) { return c && current.conn == c; }

void *diag_target(void *h)
{
    return h && h == (void *)current.conn && current.issuer ? current.issuer : h;
}

static const void *target_of(const void *h) { return diag_target(const_cast<void *>(h)); }

/* ============================================================== records */

/* The order of the list, as ODBC ranks status records: errors, then "no
 * data" (class 02), then warnings (class 01), then anything of class 00.
 * Within a rank, two records that both name a row go by row number, two
 * that both name a column by column number; then descending SQLSTATE
 * order, and what is equal keeps its posting order. A record that names no
 * row (0) is placed by its SQLSTATE alone: the fetch names the rows of a
 * rowset after their records were posted. */
static int rank_of(const my_string *st)
{
    if (!st || st->length < 2 || st->data[0] != '0')
        return 0;
    switch (st->data[1]) {
    case '2': return 1;
    case '1': return 2;
    case '0': return 3;
    default: return 0;
    }
}

/* <0 when a goes before b, >0 when after, 0 when neither (posting order). */
static int order(const diag_record *a, const diag_record *b)
{
    int ra = rank_of(a->sqlstate), rb = rank_of(b->sqlstate);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    if (a->row_number && b->row_number && a->row_number != b->row_number)
        return a->row_number < b->row_number ? -1 : 1;
    int32_t ca = a->column_number, cb = b->column_number;
    if (ca > 0 && cb > 0 && ca != cb)
        return ca < cb ? -1 : 1;
    for (uint32_t i = 0; i < 5; i++) {
        uint16_t x = a->sqlstate && i < a->sqlstate->length ? a->sqlstate->data[i] : 0;
        uint16_t y = b->sqlstate && i < b->sqlstate->length ? b->sqlstate->data[i] : 0;
        if (x != y)
            return x > y ? -1 : 1;
    }
    return 0;
}

/* Records mostly arrive in order (a parameter array posts row after row),
 * so a record is first tried behind the last one of its rank: posting
 * stays O(1) however many records the list holds. Only a record that
 * belongs further up walks its rank from the start. */
static void insert_record(handle_header *hd, diag_record *rec)
{
    std::lock_guard<std::mutex> g(hd->diag_lock);
    int rank = rank_of(rec->sqlstate);
    /* the record the rank starts behind; null: the head of the list */
    diag_record *before_rank = nullptr;
    for (int r = rank - 1; r >= 0 && !before_rank; r--)
        before_rank = hd->diag_rank_tail[r];
    diag_record *tail = hd->diag_rank_tail[rank];
    diag_record *prev;
    if (!tail || order(rec, tail) >= 0) {
        prev = tail ? tail : before_rank;
        hd->diag_rank_tail[rank] = rec;
    } else {
        prev = before_rank;
        diag_record *at = prev ? prev->next : hd->diag_list;
        while (at != tail && order(rec, at) >= 0) {
            prev = at;
            at = at->next;
        }
    }
    diag_record **link = prev ? &prev->next : &hd->diag_list;
    rec->next = *link;
    *link = rec;
    hd->diag_number++;
    hd->diag_seen = nullptr;
}

static void free_record(diag_record *r)
{
    ms_free(r->sqlstate);
    ms_free(r->message);
    free(r);
}

static void vpost(void *h, int row, int native, int column, const char *fmt, va_list ap)
{
    h = diag_target(h);
    handle_header *hd = handle_hdr(h);
    const sqlstate_entry *e = sqlstate_lookup(row);
    if (!hd || !e)
        return;
    char text[1024];
    size_t n;
    if (e->text && fmt)
        n = (size_t)snprintf(text, sizeof text, QV_MSG_PREFIX "%s: ", e->text);
    else if (e->text)
        n = (size_t)snprintf(text, sizeof text, QV_MSG_PREFIX "%s", e->text);
    else
        n = (size_t)snprintf(text, sizeof text, QV_MSG_PREFIX);
    if (n >= sizeof text)
        n = sizeof text - 1;
    if (fmt)
        qv_vformat(text + n, sizeof text - n, fmt, ap);

    diag_record *r = (diag_record *)calloc(1, sizeof *r);
    if (!r)
        return;
    r->native = native;
    r->row_number = current_row;
    r->column_number = column;
    r->sqlstate = ms_from_latin1(e->state);
    r->message = ms_from_latin1(text);
    if (!r->sqlstate || !r->message) {
        free_record(r);
        return;
    }
    if (hd->log_flags)
        trace(h, __FILE_NAME__, __LINE__, LOG_DETAIL,
              "Posting Internal Error state='%S' text='%S', native=%d", r->sqlstate, r->message,
              native);
    insert_record(hd, r);
}

void post_error(void *h, int row, int native, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vpost(h, row, native, -1, fmt, ap);
    va_end(ap);
}

void post_error_col(void *h, int row, int native, int column, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vpost(h, row, native, column, fmt, ap);
    va_end(ap);
}

void post_server_message(void *h, int native, my_string *sqlstate, const my_string *text,
                         int64_t row_number, int32_t column_number)
{
    h = diag_target(h);
    handle_header *hd = handle_hdr(h);
    if (!hd) {
        ms_free(sqlstate);
        return;
    }
    QV_TRACE(handle_conn(h), LOG_DETAIL, "Posting Message code=%d, state='%S', txt='%S', line_no=%d",
             native, sqlstate, text, (int)row_number);
    diag_record *r = (diag_record *)calloc(1, sizeof *r);
    if (!r) {
        ms_free(sqlstate);
        return;
    }
    r->native = native;
    r->row_number = row_number ? row_number : current_row;
    r->column_number = column_number;
    r->sqlstate = sqlstate ? sqlstate : ms_from_latin1("HY000");
    r->message = ms_from_latin1(QV_MSG_PREFIX);
    if (!r->sqlstate || !r->message || (text && ms_append(r->message, text) != 0)) {
        free_record(r);
        return;
    }
    insert_record(hd, r);
}

void copy_diag_record(void *target, const diag_record *src)
{
    handle_header *hd = handle_hdr(diag_target(target));
    if (!hd || !src)
        return;
    diag_record *r = (diag_record *)calloc(1, sizeof *r);
    if (!r)
        return;
    *r = *src;
    r->next = nullptr;
    r->sqlstate = ms_copy(src->sqlstate);
    r->message = ms_copy(src->message);
    if (!r->sqlstate || !r->message) {
        free_record(r);
        return;
    }
    insert_record(hd, r);
}

void clear_diagnostics(void *h)
{
    handle_header *hd = handle_hdr(h);
    /* Only the thread working on a handle changes its list, so it may look
     * without the lock (other threads only read): nearly every call of the
     * fetch loop finds nothing to clear. */
    if (!hd || !hd->diag_list)
        return;
    diag_record *r;
    {
        std::lock_guard<std::mutex> g(hd->diag_lock);
        r = hd->diag_list;
        hd->diag_list = nullptr;
        for (diag_record *&t : hd->diag_rank_tail)
            t = nullptr;
        hd->diag_number = 0;
        hd->diag_seen = nullptr;
        hd->diag_seen_pos = 0;
    }
    while (r) {
        diag_record *next = r->next;
        free_record(r);
        r = next;
    }
}

int diag_count(const void *h)
{
    const handle_header *hd = handle_hdr(target_of(h));
    return hd ? hd->diag_number : 0;
}

diag_record *diag_get(const void *h, int n)
{
    const handle_header *hd = handle_hdr(target_of(h));
    if (!hd || n < 1)
        return nullptr;
    diag_record *r = hd->diag_list;
    while (r && --n > 0)
        r = r->next;
    return r;
}

diag_record *diag_get_locked(const void *h, int n)
{
    handle_header *hd = handle_hdr(target_of(h));
    if (!hd || n < 1 || n > hd->diag_number)
        return nullptr;
    /* a reader going through the records one after another starts where
     * it stopped */
    diag_record *r = hd->diag_list;
    int at = 1;
    if (hd->diag_seen && hd->diag_seen_pos <= n) {
        r = hd->diag_seen;
        at = hd->diag_seen_pos;
    }
    for (; r && at < n; at++)
        r = r->next;
    if (r) {
        hd->diag_seen = r;
        hd->diag_seen_pos = n;
    }
    return r;
}

const char *system_error_text(int err)
{
    static thread_local char buf[1024];
    /* GNU strerror_r may return a static string instead of filling buf */
    const char *s = strerror_r(err, buf, sizeof buf);
    if (s != buf) {
        strncpy(buf, s ? s : "", sizeof buf - 1);
        buf[sizeof buf - 1] = 0;
    }
    return buf;
}
