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
} // namespace

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

/* Descending SQLSTATE order; a record goes after the records with an equal state. */
static void insert_record(handle_header *hd, diag_record *rec)
{
    std::lock_guard<std::mutex> g(hd->diag_lock);
    diag_record **link = &hd->diag_list;
    while (*link) {
        const my_string *a = rec->sqlstate, *b = (*link)->sqlstate;
        int cmp = 0;
        for (uint32_t i = 0; i < 5 && !cmp; i++) {
            uint16_t x = a && i < a->length ? a->data[i] : 0;
            uint16_t y = b && i < b->length ? b->data[i] : 0;
            cmp = x < y ? -1 : x > y ? 1 : 0;
        }
        if (cmp > 0)
            break;
        link = &(*link)->next;
    }
    rec->next = *link;
    *link = rec;
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
    r->row_number = row_number;
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
    int n = 0;
    for (diag_record *r = hd ? hd->diag_list : nullptr; r; r = r->next)
        n++;
    return n;
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
