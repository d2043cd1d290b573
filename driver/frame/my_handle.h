/*
 * Handle lifecycle, accessors and the entry frame that every exported ODBC
 * function follows:
 *
 *   1. tag check (null or wrongly tagged handle: SQL_INVALID_HANDLE, no diagnostic)
 *   2. lock the handle's entry_lock (environment: attr_lock)
 *   3. clear the handle's diagnostics
 *   4. ENTRY trace line
 *   5. asynchronous-state check (HY010)
 *   6. the work
 *   7. EXIT trace line, unlock (QV_LEAVE)
 *
 * and whose body is a function-try-block closed by QV_CATCH, so that no C++
 * exception crosses into the caller's C code.
 *
 * Use:
 *   SQLRETURN SQL_API SQLFoo(SQLHSTMT h, ...)
 *   try {
 *       QV_STMT_ENTRY(h, stmt, "SQLFoo", "statement_handle=%p", h);
 *       ...
 *       return QV_LEAVE(rc);
 *   }
 *   QV_CATCH(h)
 */
#ifndef QV_MY_HANDLE_H
#define QV_MY_HANDLE_H

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "my_handles.h"
#include "my_err.h"
#include "my_trace.h"

/* ---- accessors: null for a null handle or an unknown tag ---- */
handle_header *handle_hdr(const void *h);
my_environment *handle_env(const void *h);
my_connection *handle_conn(const void *h);
my_statement *handle_stmt(const void *h);
/* The handle itself when its tag matches, else null. */
my_environment *as_env(const void *h);
my_connection *as_conn(const void *h);
my_statement *as_stmt(const void *h);
my_descriptor *as_desc(const void *h);

/* ---- creation and release ---- */
my_environment *env_create(void);
my_connection *conn_create(my_environment *env, int behaviour);
my_statement *stmt_create(my_connection *conn);
my_descriptor *desc_create(my_connection *conn, int implicit, int app, my_statement *owner);

void env_release(my_environment *env);
void conn_release(my_connection *conn, int env_lock_held);
/* Releases every statement and explicit descriptor the connection owns. */
void conn_release_children(my_connection *conn);
void stmt_release(my_statement *stmt, int list_lock_held);
void desc_release(my_descriptor *desc, int list_lock_held);
/* Statement s no longer uses explicit descriptor desc as ARD or APD (it was
 * released or took another one): when s was desc's owner_statement, that
 * becomes another statement of the connection still using desc, or null. */
void desc_detach(my_descriptor *desc, my_statement *s);

/* Frees every string setting of the connection and sets it null. */
void conn_free_settings(my_connection *conn);
/* Closes the socket and frees TLS, receive and compression buffers, the
 * collation table and the session strings (no protocol goodbye). */
void conn_close_session(my_connection *conn);
/* Statement-attribute defaults as at allocation. */
void conn_default_attributes(my_connection *conn);

/* ---- lists ---- */
void *list_nth(void *head, int n);   /* 1-based; works on diag records and handles */
int list_count(void *head);

/* ---- application lengths ----
 * The most bytes one command can carry: no server takes more than 1 GiB
 * (max_allowed_packet). An application's length beyond it cannot describe
 * a real buffer, and is refused before anything is read. */
const int64_t MAX_COMMAND_BYTES = (int64_t)1 << 30;
/* An application's text length in units (bytes; UTF-16 units when wide):
 * SQL_NTS, or 0 up to what one command can carry. 0 when it is one; else
 * HY090 is posted on h and -1 returned. */
int check_text_length(void *h, int64_t length, int wide);

/* ---- the call clock ----
 * A time-out bounds the application's whole call, not each wait inside it.
 * The outermost entry frame on a thread records when the call began (after
 * taking its lock); calls the driver makes into itself keep that start.
 * A deadline forced on the thread (call_deadline) overrides every bound
 * for its scope: the steps that bring a timed-out conversation back in
 * step run under it. */
int64_t monotonic_ms(void);
void call_enter(void);
void call_leave(void);
/* Inside a call: the bounds that follow count from now (a logon ends). */
void call_restart(void);
int64_t call_started_ms(void);      /* 0 outside any entry point */
int64_t call_forced_deadline_ms(void); /* 0 when none is forced */
struct call_deadline {
    int64_t saved;
    explicit call_deadline(int64_t deadline_ms);
    ~call_deadline();
    call_deadline(const call_deadline &) = delete;
    call_deadline &operator=(const call_deadline &) = delete;
};

/* ---- the entry frame ---- */
struct entry_frame {
    const void *h;
    qv_mutex *lock;
    const char *name;
    entry_frame(const void *handle, qv_mutex *m, const char *fname)
        : h(handle), lock(m), name(fname)
    {
        if (lock)
            lock->lock();
        call_enter();
    }
    ~entry_frame()
    {
        call_leave();
        if (lock)
            lock->unlock();
    }
    entry_frame(const entry_frame &) = delete;
    entry_frame &operator=(const entry_frame &) = delete;
    /* EXIT line "<name>: return value=%r" (or %d), then the caller returns rc. */
    SQLRETURN leave(SQLRETURN rc, const char *file, int line, int as_decimal = 0);
};

/* What escaped an entry point's body (called from its catch handler only):
 * std::bad_alloc becomes HY001, anything else HY000, posted on h when h is
 * a live handle, with ERROR and EXIT trace lines. The body's guards have
 * released its locks on the way out, so h stays usable. Returns SQL_ERROR. */
SQLRETURN entry_exception(const void *h, const char *fname) noexcept;
#define QV_CATCH(h)                                                                   \
    catch (...) { return entry_exception((h), __func__); }

#define QV_LEAVE(rc) qv_frame_.leave((rc), __FILE_NAME__, __LINE__)
#define QV_LEAVE_D(rc) qv_frame_.leave((rc), __FILE_NAME__, __LINE__, 1)

#define QV_CONN_ENTRY(handle, var, fname, ...)                                        \
    my_connection *var = as_conn(handle);                                             \
    if (!var) return SQL_INVALID_HANDLE;                                              \
    entry_frame qv_frame_(var, &var->entry_lock, fname);                              \
    clear_diagnostics(var);                                                           \
    QV_TRACE(var, LOG_ENTRY, __VA_ARGS__);                                            \
    if (var->async_count > 0) {                                                       \
        QV_TRACE(var, LOG_ERROR, "%s: invalid async count %d", fname, var->async_count); \
        post_error(var, ST_HY010, 0, nullptr);                                        \
        return QV_LEAVE(SQL_ERROR);                                                   \
    }

#define QV_STMT_ENTRY(handle, var, fname, ...)                                        \
    my_statement *var = as_stmt(handle);                                              \
    if (!var) return SQL_INVALID_HANDLE;                                              \
    entry_frame qv_frame_(var, &var->entry_lock, fname);                              \
    clear_diagnostics(var);                                                           \
    QV_TRACE(var, LOG_ENTRY, __VA_ARGS__);                                            \
    if (var->async_operation != 0) {                                                  \
        QV_TRACE(var, LOG_ERROR, "%s: invalid async operation %d", fname,             \
                 var->async_operation);                                               \
        post_error(var, ST_HY010, 0, nullptr);                                        \
        return QV_LEAVE(SQL_ERROR);                                                   \
    }

#define QV_DESC_ENTRY(handle, var, fname, ...)                                        \
    my_descriptor *var = as_desc(handle);                                             \
    if (!var) return SQL_INVALID_HANDLE;                                              \
    entry_frame qv_frame_(var, &var->entry_lock, fname);                              \
    desc_touch(var);                                                                  \
    clear_diagnostics(var);                                                           \
    QV_TRACE(var, LOG_ENTRY, __VA_ARGS__);

/* ---- the copy-out rule for string results ----
 * COPY_NARROW: the connection's narrow conversion, lengths in bytes.
 * COPY_WIDE_CHARS / COPY_WIDE_BYTES: UTF-16, lengths in characters or bytes.
 * The text is copied whole with a terminator when its length is below
 * buf_len, otherwise cut (never inside a character) and terminated; a null
 * buffer only reports the length. *full (if given) receives the full length.
 * Returns 1 when the text was cut (the caller posts 01004 where due), else 0. */
enum copy_mode { COPY_NARROW = 0, COPY_WIDE_CHARS = 1, COPY_WIDE_BYTES = 2 };
int copy_out_string(const my_string *s, const my_connection *c, int mode, void *buf,
                    int64_t buf_len, int64_t *full);
/* Wide entry points whose buffers carry narrow (UTF-8) bytes instead of UTF-16:
 * ConvWToUtf set or wchar_type other than 1. */
int wide_is_utf8(const my_connection *c);

/* ---- what the layers above keep on a handle ----
 * Creating and releasing handles sets up and frees what the upper layers
 * keep on them: the environment's TLS context, a connection's TLS session
 * and Kerberos context, descriptor records, a statement's packet queue and
 * internal result set; freeing a statement closes its result first. The
 * frame reaches them through this one table, defined in
 * stmt/my_handle_hooks.cpp (the lowest layer that sees them all), so that
 * nothing here includes a layer above it. */
struct handle_hooks {
    int (*tls_prepare)(my_environment *env);
    void (*tls_release)(my_environment *env);
    void (*tls_stop)(my_connection *c);
    void (*krb_free_context)(my_connection *c);
    void (*field_reset)(field *f);
    void (*release_data_list)(my_statement *stmt);
    void (*internal_rs_free)(my_statement *stmt);
    int (*close_stmt)(my_statement *stmt, int unprepare);
};
extern const handle_hooks frame_hooks;

#endif
