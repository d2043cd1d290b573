/*
 * Trace log. Every call site goes through QV_TRACE / QV_DUMP, which test the
 * handle's log_flags first, so nothing is formatted when logging is off.
 *
 * Formatter conversions (qv_format):
 *   %d int  %u unsigned  %l int64_t  %x %X unsigned  %c int  %p pointer
 *   %s narrow text (bytes >= 0x80 as \xNN)
 *   %q const char*, int64_t len (or -3 for SQL_NTS)
 *   %Q %T const uint16_t*, int64_t len in units (or -3)
 *   %S const my_string*
 *   %r SQLRETURN (as int)
 * Lengths for %q/%Q/%T are int64_t: pass SQLLEN/SQLINTEGER values cast to it.
 */
#ifndef QV_MY_TRACE_H
#define QV_MY_TRACE_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "my_handles.h"

/* Writes at most capacity-1 bytes plus a terminator; returns bytes written. */
size_t qv_format(char *buf, size_t capacity, const char *fmt, ...);
size_t qv_vformat(char *buf, size_t capacity, const char *fmt, va_list ap);

/* One trace line on behalf of handle h (any handle kind). */
void trace(const void *h, const char *file, int line, int mode, const char *fmt, ...);
/* A line followed by a hex dump. len may be -3 (NTS) for the text form. */
void trace_dump(const void *h, const char *file, int line, int mode,
                const void *data, int64_t len, const char *fmt, ...);
/* Wire-byte form: the dump block starts with "\n\n" instead of "\n\r". */
void trace_dump_wire(const void *h, const char *file, int line, int mode,
                     const void *data, size_t len, const char *fmt, ...);

/* Flags of any handle, 0 for null or an unknown tag. Inline because every
 * trace site tests it, many of them once per column of every row: every
 * handle record begins with its header, so the tag and the flags are read in
 * place. */
static inline uint32_t handle_log_flags(const void *h)
{
    if (!h)
        return 0;
    const handle_header *hd = static_cast<const handle_header *>(h);
    uint32_t kind = hd->handle_type - (uint32_t)MY_ENVIRONMENT_HANDLE;
    return kind <= (uint32_t)(MY_DESCRIPTOR_HANDLE - MY_ENVIRONMENT_HANDLE) ? hd->log_flags : 0;
}

/* Parse a Logging value. words: which word set applies (see LOGWORDS_*). */
enum { LOGWORDS_CONNSTR = 0, LOGWORDS_DSN_CONNECT = 1, LOGWORDS_DSN_COMPLETE = 2 };
uint32_t parse_logging_value(const char *value, int words);

/* The in-memory ("onerror") lines of a connection are kept apart from every
 * other connection's, in at most TRACE_RING_BYTES bytes (the oldest lines
 * go first). trace_ring_free drops them with their memory: called when the
 * connection is released, and after each dump. */
enum { TRACE_RING_BYTES = 2 * 1024 * 1024 };
void trace_ring_free(my_connection *c);

#define QV_TRACE(h, mode, ...)                                                     \
    do {                                                                           \
        if (handle_log_flags(h))                                                   \
            trace((h), __FILE_NAME__, __LINE__, (mode), __VA_ARGS__);              \
    } while (0)

#define QV_DUMP(h, mode, data, len, ...)                                           \
    do {                                                                           \
        if (handle_log_flags(h))                                                   \
            trace_dump((h), __FILE_NAME__, __LINE__, (mode), (data), (len), __VA_ARGS__); \
    } while (0)

#define QV_DUMP_WIRE(h, mode, data, len, ...)                                      \
    do {                                                                           \
        if (handle_log_flags(h))                                                   \
            trace_dump_wire((h), __FILE_NAME__, __LINE__, (mode), (data), (len), __VA_ARGS__); \
    } while (0)

#endif
