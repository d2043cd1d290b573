/*
 * Handle records: accessors, creation with defaults, release (children
 * first), the parent/child lists and the entry frame's exit.
 */
#include "my_handle.h"
#include "my_settings.h"

#include <odbcinst.h>
#include <openssl/ssl.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

#include <exception>
#include <new>

/* ---------------------------------------------------------------- accessors */

static uint32_t tag_of(const void *h)
{
    uint32_t tag = 0;
    if (h)
        memcpy(&tag, h, sizeof tag);
    return tag;
}

/* handle_log_flags reads the header in place: it must come first. */
static_assert(offsetof(my_environment, hdr) == 0 && offsetof(my_connection, hdr) == 0 &&
                  offsetof(my_statement, hdr) == 0 && offsetof(my_descriptor, hdr) == 0,
              "every handle record begins with its header");

handle_header *handle_hdr(const void *h)
{
    switch (tag_of(h)) {
    case MY_ENVIRONMENT_HANDLE: return &((my_environment *)h)->hdr;
    case MY_CONNECTION_HANDLE: return &((my_connection *)h)->hdr;
    case MY_STATEMENT_HANDLE: return &((my_statement *)h)->hdr;
    case MY_DESCRIPTOR_HANDLE: return &((my_descriptor *)h)->hdr;
    default: return nullptr;
    }
}

my_environment *as_env(const void *h)
{
    return tag_of(h) == MY_ENVIRONMENT_HANDLE ? (my_environment *)h : nullptr;
}
my_connection *as_conn(const void *h)
{
    return tag_of(h) == MY_CONNECTION_HANDLE ? (my_connection *)h : nullptr;
}
my_statement *as_stmt(const void *h)
{
    return tag_of(h) == MY_STATEMENT_HANDLE ? (my_statement *)h : nullptr;
}
my_descriptor *as_desc(const void *h)
{
    return tag_of(h) == MY_DESCRIPTOR_HANDLE ? (my_descriptor *)h : nullptr;
}
my_statement *handle_stmt(const void *h) { return as_stmt(h); }

my_connection *handle_conn(const void *h)
{
    switch (tag_of(h)) {
    case MY_CONNECTION_HANDLE: return (my_connection *)h;
    case MY_STATEMENT_HANDLE: return (my_connection *)((my_statement *)h)->hdr.owner;
    case MY_DESCRIPTOR_HANDLE: return (my_connection *)((my_descriptor *)h)->hdr.owner;
    default: return nullptr;
    }
}

my_environment *handle_env(const void *h)
{
    if (tag_of(h) == MY_ENVIRONMENT_HANDLE)
        return (my_environment *)h;
    my_connection *c = handle_conn(h);
    return c ? (my_environment *)c->hdr.owner : nullptr;
}

/* ------------------------------------------------------------------- lists */

/* Handle lists link through handle_header::next (diagnostic lists have
 * diag_get and diag_count). */
void *list_nth(void *head, int n)
{
    if (n <= 0)
        return nullptr;
    handle_header *h = (handle_header *)head;
    while (h && --n > 0)
        h = h->next;
    return h;
}

int list_count(void *head)
{
    int n = 0;
    for (handle_header *h = (handle_header *)head; h; h = h->next)
        n++;
    return n;
}

static void unlink_child(handle_header **list, handle_header *child)
{
    for (handle_header **p = list; *p; p = &(*p)->next)
        if (*p == child) {
            *p = child->next;
            child->next = nullptr;
            return;
        }
}

/* ------------------------------------------------------------- environment */

my_environment *env_create(void)
{
    my_environment *env = new (std::nothrow) my_environment();
    if (!env)
        return nullptr;
    env->hdr.handle_type = MY_ENVIRONMENT_HANDLE;
    env->odbc_version = SQL_OV_ODBC2;
    /* Linux has no socket-library start-up step. Without TLS information
     * the environment still works; only a logon asking for TLS fails. */
    frame_hooks.tls_prepare(env);
    return env;
}

void env_release(my_environment *env)
{
    if (!env)
        return;
    {
        std::lock_guard<qv_mutex> g(env->list_lock);
        while (env->connections)
            conn_release((my_connection *)env->connections, 1);
    }
    clear_diagnostics(env);
    if (env->tls_ctx)
        SSL_CTX_free(env->tls_ctx);
    frame_hooks.tls_release(env);
    env->hdr.handle_type = 0;
    delete env;
}

/* -------------------------------------------------------------- connection */

void conn_default_attributes(my_connection *c)
{
    c->autocommit = 1;
    c->access_mode = 0;
    c->login_timeout = 0;
    c->connection_timeout = 0;
    c->quiet_mode = nullptr;
    c->txn_isolation = SQL_TXN_REPEATABLE_READ;
    c->metadata_id = 0;
    stmt_attr_defaults &d = c->stmt_defaults;
    d = stmt_attr_defaults();
    d.concurrency = SQL_CONCUR_READ_ONLY;
    d.rowset_size = 1;
    d.simulate_cursor = 2;
    d.retrieve_data = SQL_RD_ON;
    d.cursor_sensitivity = SQL_INSENSITIVE;
}

static int profile_flag(const char *key, const char *deflt)
{
    char buf[20] = "";
    SQLGetPrivateProfileString("ODBC", key, deflt, buf, sizeof buf, "odbc.ini");
    if (!strcasecmp(buf, "yes"))
        return 1;
    if (!strcasecmp(buf, "no"))
        return 0;
    return atoi(buf);
}

my_connection *conn_create(my_environment *env, int behaviour)
{
    my_connection *c = new (std::nothrow) my_connection();
    if (!c)
        return nullptr;
    c->hdr.handle_type = MY_CONNECTION_HANDLE;
    c->hdr.log_flags = env->hdr.log_flags;
    c->hdr.owner = env;
    c->sock = -1;
    c->odbc_behaviour = env->odbc_version == SQL_OV_ODBC2 ? 2 : behaviour;
    c->wchar_type = 1;
    conn_default_attributes(c);
    settings_initial_numbers(c);
    c->ConvWToUtf = profile_flag("MySQLUTF", "0");
    std::lock_guard<qv_mutex> g(env->list_lock);
    c->hdr.next = env->connections;
    env->connections = &c->hdr;
    return c;
}

void conn_free_settings(my_connection *c)
{
    for (const setting_row &r : setting_table)
        if (r.form == FORM_TEXT) {
            ms_free(c->*(r.text));
            c->*(r.text) = nullptr;
        }
}

void conn_close_session(my_connection *c)
{
    frame_hooks.tls_stop(c);
    if (c->sock >= 0) {
        close(c->sock);
        c->sock = -1;
        c->closed = 1;
    }
    c->connected = 0;
    frame_hooks.krb_free_context(c);
    free(c->rbuf);
    c->rbuf = nullptr;
    c->rbuf_cap = c->rbuf_len = c->rbuf_off = 0;
    free(c->comp_buf);
    c->comp_buf = nullptr;
    c->comp_len = c->comp_off = 0;
    c->compress_active = 0;
    delete c->collations;
    c->collations = nullptr;
    my_string **texts[] = {&c->current_database, &c->server_in_use, &c->server_version,
                           &c->auth_plugin_name, &c->ntlm_user, &c->ntlm_domain};
    for (my_string **p : texts) {
        ms_free(*p);
        *p = nullptr;
    }
}

void conn_release_children(my_connection *c)
{
    std::lock_guard<qv_mutex> g(c->list_lock);
    while (c->statements) {
        handle_header *h = c->statements;
        if (h->handle_type == MY_STATEMENT_HANDLE)
            stmt_release((my_statement *)h, 1);
        else
            desc_release((my_descriptor *)h, 1);
    }
}

void conn_release(my_connection *c, int env_lock_held)
{
    if (!c)
        return;
    conn_release_children(c);
    clear_diagnostics(c);
    conn_close_session(c);
    conn_free_settings(c);
    trace_ring_free(c);
    my_environment *env = (my_environment *)c->hdr.owner;
    if (env) {
        if (env_lock_held) {
            unlink_child(&env->connections, &c->hdr);
        } else {
            std::lock_guard<qv_mutex> g(env->list_lock);
            unlink_child(&env->connections, &c->hdr);
        }
    }
    c->hdr.handle_type = 0;
    delete c;
}

/* -------------------------------------------------------------- descriptor */

static void bookmark_template(field *f)
{
    memset(f, 0, sizeof *f);
    f->concise_type = SQL_VARBINARY;
    f->type = SQL_VARBINARY;
    f->display_size = 8;
    f->octet_length = 4;
    f->length = 8;
}

my_descriptor *desc_create(my_connection *conn, int implicit, int app, my_statement *owner)
{
    my_descriptor *d = new (std::nothrow) my_descriptor();
    if (!d)
        return nullptr;
    d->hdr.handle_type = MY_DESCRIPTOR_HANDLE;
    d->hdr.log_flags = conn->hdr.log_flags;
    d->hdr.owner = conn;
    d->alloc_implicit = implicit;
    d->app_desc = app;
    d->owner_statement = owner;
    d->bind_type = (int32_t)conn->stmt_defaults.bind_type;
    d->array_size = 1;
    desc_touch(d);
    bookmark_template(&d->bookmark_record);
    if (!implicit) {
        std::lock_guard<qv_mutex> g(conn->list_lock);
        d->hdr.next = conn->statements;
        conn->statements = &d->hdr;
    }
    return d;
}

static void desc_free_records(my_descriptor *d)
{
    for (int i = 0; i < d->field_count; i++)
        frame_hooks.field_reset(&d->records[i]);
    free(d->records);
    d->records = nullptr;
    d->field_count = 0;
}

/* An explicit descriptor may be the ARD or APD of several statements at
 * once (owner_statement names only the latest), so the connection's whole
 * statement list is searched. */
static my_statement *desc_user(my_descriptor *d)
{
    my_connection *c = (my_connection *)d->hdr.owner;
    std::lock_guard<qv_mutex> g(c->list_lock);
    for (handle_header *h = c->statements; h; h = h->next) {
        my_statement *s = as_stmt(h);
        if (s && (s->ard == d || s->apd == d))
            return s;
    }
    return nullptr;
}

void desc_detach(my_descriptor *d, my_statement *s)
{
    if (d && !d->alloc_implicit && d->owner_statement == s)
        d->owner_statement = desc_user(d);
}

/* Every statement still using an explicit descriptor returns to its own:
 * none may keep a pointer to a freed descriptor. */
static void desc_release_users(my_descriptor *d)
{
    my_statement *s;
    while ((s = desc_user(d)) != nullptr) {
        if (s->apd == d)
            s->apd = s->implicit_apd;
        if (s->ard == d)
            s->ard = s->implicit_ard;
    }
}

void desc_release(my_descriptor *d, int list_lock_held)
{
    if (!d)
        return;
    clear_diagnostics(d);
    if (!d->alloc_implicit && d->hdr.owner)
        desc_release_users(d);
    d->owner_statement = nullptr;
    desc_free_records(d);
    frame_hooks.field_reset(&d->bookmark_record);
    my_connection *c = (my_connection *)d->hdr.owner;
    if (!d->alloc_implicit && c) {
        if (list_lock_held) {
            unlink_child(&c->statements, &d->hdr);
        } else {
            std::lock_guard<qv_mutex> g(c->list_lock);
            unlink_child(&c->statements, &d->hdr);
        }
    }
    d->hdr.handle_type = 0;
    delete d;
}

/* --------------------------------------------------------------- statement */

my_statement *stmt_create(my_connection *c)
{
    my_statement *s = new (std::nothrow) my_statement();
    if (!s)
        return nullptr;
    s->hdr.handle_type = MY_STATEMENT_HANDLE;
    s->hdr.log_flags = c->hdr.log_flags;
    s->hdr.owner = c;
    s->implicit_ird = desc_create(c, 1, 0, s);
    s->implicit_ard = desc_create(c, 1, 1, s);
    s->implicit_ipd = desc_create(c, 1, 0, s);
    s->implicit_apd = desc_create(c, 1, 1, s);
    s->implicit_fdd = desc_create(c, 1, 0, s);
    if (!s->implicit_ird || !s->implicit_ard || !s->implicit_ipd || !s->implicit_apd ||
        !s->implicit_fdd) {
        desc_release(s->implicit_ird, 0);
        desc_release(s->implicit_ard, 0);
        desc_release(s->implicit_ipd, 0);
        desc_release(s->implicit_apd, 0);
        desc_release(s->implicit_fdd, 0);
        delete s;
        return nullptr;
    }
    s->ird = s->implicit_ird;
    s->ipd = s->implicit_ipd;
    s->ard = s->implicit_ard;
    s->apd = s->implicit_apd;

    const stmt_attr_defaults &d = c->stmt_defaults;
    s->query_timeout = d.query_timeout;
    s->max_rows = d.max_rows;
    s->noscan = d.noscan;
    s->max_length = d.max_length;
    s->async_enable = d.async_enable;
    s->cursor_type = d.cursor_type;
    s->concurrency = d.concurrency;
    s->keyset_size = d.keyset_size;
    s->rowset_size = d.rowset_size;
    s->simulate_cursor = d.simulate_cursor;
    s->retrieve_data = d.retrieve_data;
    s->use_bookmarks = d.use_bookmarks;
    s->cursor_scrollable = d.cursor_scrollable;
    s->cursor_sensitivity = d.cursor_sensitivity;
    s->enable_auto_ipd = c->auto_ipd;
    s->metadata_id = c->metadata_id;

    std::lock_guard<qv_mutex> g(c->list_lock);
    s->statement_number = c->statement_counter++;
    s->hdr.next = c->statements;
    c->statements = &s->hdr;
    return s;
}

void stmt_release(my_statement *s, int list_lock_held)
{
    if (!s)
        return;
    clear_diagnostics(s);
    /* Explicit descriptors stay with whichever other statement uses them. */
    my_descriptor *explicit_ard = s->ard != s->implicit_ard ? s->ard : nullptr;
    my_descriptor *explicit_apd = s->apd != s->implicit_apd ? s->apd : nullptr;
    s->ard = s->implicit_ard;
    s->apd = s->implicit_apd;
    desc_detach(explicit_ard, s);
    desc_detach(explicit_apd, s);
    my_connection *c = (my_connection *)s->hdr.owner;
    if (c) {
        /* Without the list lock, in the order exchanges take them: the wire
         * lock first. (The connection's own release holds the list lock, and
         * nothing else runs on it then.) */
        std::unique_lock<qv_mutex> g(c->wire_lock, std::defer_lock);
        if (!list_lock_held)
            g.lock();
        if (c->busy_owner == s) {
            c->busy = 0;
            c->busy_owner = nullptr;
        }
        if (c->wire_owner == s)
            c->wire_owner = nullptr;
    }
    frame_hooks.release_data_list(s);
    frame_hooks.internal_rs_free(s);
    desc_release(s->implicit_ird, 0);
    desc_release(s->implicit_ard, 0);
    desc_release(s->implicit_ipd, 0);
    desc_release(s->implicit_apd, 0);
    desc_release(s->implicit_fdd, 0);
    ms_free(s->sql_text);
    ms_free(s->cursor_name);
    if (c) {
        if (list_lock_held) {
            unlink_child(&c->statements, &s->hdr);
        } else {
            std::lock_guard<qv_mutex> g(c->list_lock);
            unlink_child(&c->statements, &s->hdr);
        }
    }
    s->hdr.handle_type = 0;
    delete s;
}

/* ------------------------------------------------------------- entry frame */

/* ---------------------------------------------------- application lengths */

int check_text_length(void *h, int64_t length, int wide)
{
    if (length == SQL_NTS || (length >= 0 && length <= MAX_COMMAND_BYTES / (wide ? 2 : 1)))
        return 0;
    QV_TRACE(h, LOG_ERROR, "invalid text length %l", length);
    post_error(h, ST_HY090, 0, nullptr);
    return -1;
}

/* ---------------------------------------------------------- call clock */

namespace {
struct thread_clock {
    int depth;
    int64_t started_ms;
    int64_t forced_deadline_ms;
};
thread_local thread_clock call_clock;
} // namespace

int64_t monotonic_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* The clock is read when a call first needs it (a read with a time-out),
 * not at every entry: a fetch from rows held in memory never waits, and
 * reading the clock once per row would be a measurable share of it. */
enum { CLOCK_NOT_READ = -1 };

void call_enter(void)
{
    if (call_clock.depth++ == 0)
        call_clock.started_ms = CLOCK_NOT_READ;
}

void call_leave(void)
{
    if (call_clock.depth > 0 && --call_clock.depth == 0) {
        call_clock.started_ms = 0;
        call_clock.forced_deadline_ms = 0;
    }
}

void call_restart(void)
{
    /* a side connection logging on under a forced deadline changes nothing */
    if (call_clock.depth > 0 && !call_clock.forced_deadline_ms)
        call_clock.started_ms = monotonic_ms();
}

int64_t call_started_ms(void)
{
    if (call_clock.started_ms == CLOCK_NOT_READ)
        call_clock.started_ms = monotonic_ms();
    return call_clock.started_ms;
}
int64_t call_forced_deadline_ms(void) { return call_clock.forced_deadline_ms; }

call_deadline::call_deadline(int64_t deadline_ms) : saved(call_clock.forced_deadline_ms)
{
    call_clock.forced_deadline_ms = deadline_ms > 0 ? deadline_ms : 1;
}

call_deadline::~call_deadline() { call_clock.forced_deadline_ms = saved; }

SQLRETURN entry_frame::leave(SQLRETURN rc, const char *file, int line, int as_decimal)
{
    if (handle_log_flags(h))
        trace(h, file, line, LOG_EXIT, as_decimal ? "%s: return value=%d" : "%s: return value=%r",
              name, (int)rc);
    return rc;
}

SQLRETURN entry_exception(const void *h, const char *fname) noexcept
{
    bool no_memory = false;
    const char *what = "unknown exception";
    try {
        throw;
    } catch (const std::bad_alloc &) {
        no_memory = true;
    } catch (const std::exception &e) {
        what = e.what();
    } catch (...) {
    }
    /* a handle that is not (or no longer) one of ours gets nothing */
    if (!handle_hdr(h))
        return SQL_ERROR;
    if (no_memory) {
        QV_TRACE(h, LOG_ERROR, "%s: out of memory", fname);
        post_error(const_cast<void *>(h), ST_HY001, 0, nullptr);
    } else {
        QV_TRACE(h, LOG_ERROR, "%s: internal error: %s", fname, what);
        post_error(const_cast<void *>(h), ST_HY000, 0, "internal error in %s", fname);
    }
    QV_TRACE(h, LOG_EXIT, "%s: return value=%r", fname, (int)SQL_ERROR);
    return SQL_ERROR;
}

/* ---------------------------------------------------------------- copy-out */

int wide_is_utf8(const my_connection *c) { return c && (c->ConvWToUtf || c->wchar_type != 1); }

int copy_out_string(const my_string *s, const my_connection *c, int mode, void *buf,
                    int64_t buf_len, int64_t *full)
{
    static const my_string empty = {nullptr, 0, 1};
    if (!s)
        s = &empty;
    if (mode == COPY_NARROW) {
        char *text = ms_to_narrow(s, c);
        if (!text)
            return 0;
        size_t len = ms_narrow_length(s, c);
        if (full)
            *full = (int64_t)len;
        int cut = 0;
        if (buf) {
            if ((int64_t)len < buf_len) {
                memcpy(buf, text, len + 1);
            } else {
                cut = 1;
                if (buf_len > 0) {
                    size_t n = (size_t)buf_len - 1;
                    /* never leave half a UTF-8 sequence behind */
                    if (c && c->ConvToUtf)
                        while (n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80)
                            n--;
                    memcpy(buf, text, n);
                    ((char *)buf)[n] = 0;
                }
            }
        }
        free(text);
        return cut;
    }
    size_t units = s->length;
    int64_t unit_size = mode == COPY_WIDE_BYTES ? 2 : 1;
    if (full)
        *full = (int64_t)units * unit_size;
    if (!buf)
        return 0;
    int64_t cap_units = mode == COPY_WIDE_BYTES ? buf_len / 2 : buf_len;
    uint16_t *out = (uint16_t *)buf;
    if ((int64_t)units * unit_size < buf_len && (int64_t)units < cap_units) {
        if (units)
            memcpy(out, s->data, units * 2);
        out[units] = 0;
        return 0;
    }
    if (cap_units > 0) {
        size_t n = (size_t)cap_units - 1;
        if (n > 0 && s->data[n - 1] >= 0xD800 && s->data[n - 1] <= 0xDBFF)
            n--;   /* do not split a surrogate pair */
        if (n)
            memcpy(out, s->data, n * 2);
        out[n] = 0;
    }
    return 1;
}
