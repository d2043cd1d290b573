/*
 * Trace log: the formatter with the driver's own conversions, line headers,
 * file/standard-error destinations, per-process file names, the in-memory
 * ring of each connection that an ERROR line dumps, and hex dumps.
 *
 * Logging never fails an ODBC call and never writes to standard output: an
 * unopenable file drops the line, a full ring drops its oldest line.
 */
#include "my_trace.h"

#include <ctype.h>
#include <errno.h>
#include <inttypes.h>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include "my_handle.h"

enum { LINE_MAX_BYTES = 2048, RING_SLOTS = 100000 };
static_assert(TRACE_RING_BYTES >= 16 * LINE_MAX_BYTES, "a ring holds a useful history");

/* ---------------------------------------------------------------- formatter */

namespace {
struct out_buf {
    char *buf;
    size_t cap;
    size_t pos = 0;
    bool stopped = false;

    out_buf(char *b, size_t c) : buf(b), cap(c) {}
    size_t room() const { return cap > pos + 1 ? cap - pos - 1 : 0; }
    void raw(const char *s, size_t n)
    {
        if (n > room())
            n = room();
        memcpy(buf + pos, s, n);
        pos += n;
    }
    void raw(const char *s) { raw(s, strlen(s)); }
    /* Each piece starts here: with fewer than 21 bytes left the piece becomes
     * "..." once and nothing more is written. */
    bool piece()
    {
        if (stopped)
            return false;
        if (cap - pos < 21) {
            raw("...");
            stopped = true;
            return false;
        }
        return true;
    }
    void finish()
    {
        if (cap)
            buf[pos < cap ? pos : cap - 1] = 0;
    }
};
} // namespace

static void put_narrow_byte(out_buf &o, unsigned char c)
{
    if (c >= 0x80) {
        char tmp[8];
        snprintf(tmp, sizeof tmp, "\\x%02X", c);
        o.raw(tmp);
    } else {
        o.raw((const char *)&c, 1);
    }
}

static void put_unit(out_buf &o, uint16_t u)
{
    if (u >= 0x80) {
        char tmp[8];
        snprintf(tmp, sizeof tmp, "\\x%04X", u);
        o.raw(tmp);
    } else {
        char c = (char)u;
        o.raw(&c, 1);
    }
}

static void put_len_suffix(out_buf &o, int64_t len)
{
    char tmp[32];
    if (len == MS_NTS)
        snprintf(tmp, sizeof tmp, "[SQL_NTS]");
    else
        snprintf(tmp, sizeof tmp, "[%" PRId64 "]", len);
    o.raw(tmp);
}

/* %q and %Q/%T: quoted text with its length; the closing part is kept even
 * when the text itself has to be cut. */
static void put_quoted(out_buf &o, const void *p, int64_t len, int wide)
{
    if (!p) {
        o.raw("(nul)");
        put_len_suffix(o, len);
        return;
    }
    int64_t n = len;
    if (len == MS_NTS)
        n = wide ? (int64_t)ms_wide_strlen((const uint16_t *)p) : (int64_t)strlen((const char *)p);
    if (n < 0)
        n = 0;
    o.raw("'");
    for (int64_t i = 0; i < n; i++) {
        if (o.room() < 30) {
            o.raw("...'");
            put_len_suffix(o, len);
            return;
        }
        if (wide)
            put_unit(o, ((const uint16_t *)p)[i]);
        else
            put_narrow_byte(o, ((const unsigned char *)p)[i]);
    }
    o.raw("'");
    put_len_suffix(o, len);
}

static const char *return_name(int rc)
{
    switch (rc) {
    case 0: return "SQL_SUCCESS";
    case 1: return "SQL_SUCCESS_WITH_INFO";
    case 100: return "SQL_NO_DATA";
    case 101: return "SQL_PARAM_DATA_AVAILABLE";
    case -1: return "SQL_ERROR";
    default: return nullptr;
    }
}

size_t qv_vformat(char *buf, size_t capacity, const char *fmt, va_list ap)
{
    if (!buf || capacity == 0)
        return 0;
    out_buf o(buf, capacity);
    char tmp[64];
    for (const char *p = fmt; *p && !o.stopped; p++) {
        if (*p != '%') {
            if (o.piece())
                o.raw(p, 1);
            continue;
        }
        char conv = *++p;
        if (!conv)
            break;
        if (conv == '%') {
            if (o.piece())
                o.raw("%");
            continue;
        }
        /* consume the argument even when the output has stopped */
        switch (conv) {
        case 'd': snprintf(tmp, sizeof tmp, "%d", va_arg(ap, int)); break;
        case 'u': snprintf(tmp, sizeof tmp, "%u", va_arg(ap, unsigned)); break;
        case 'l': snprintf(tmp, sizeof tmp, "%" PRId64, va_arg(ap, int64_t)); break;
        case 'x': snprintf(tmp, sizeof tmp, "%x", va_arg(ap, unsigned)); break;
        case 'X': snprintf(tmp, sizeof tmp, "%X", va_arg(ap, unsigned)); break;
        case 'c': tmp[0] = (char)va_arg(ap, int); tmp[1] = 0; break;
        case 'p': snprintf(tmp, sizeof tmp, "%p", va_arg(ap, void *)); break;
        case 'r': {
            int rc = va_arg(ap, int);
            const char *n = return_name(rc);
            if (n)
                snprintf(tmp, sizeof tmp, "%s", n);
            else
                snprintf(tmp, sizeof tmp, "%d", rc);
            break;
        }
        case 's': {
            const char *s = va_arg(ap, const char *);
            if (!o.piece())
                continue;
            if (!s)
                s = "(nul)";
            size_t n = strlen(s);
            size_t limit = o.room() > 20 ? o.room() - 20 : 0;
            size_t written = 0;
            for (size_t i = 0; i < n; i++) {
                size_t before = o.pos;
                if (written >= limit) {
                    o.raw("...");
                    break;
                }
                put_narrow_byte(o, (unsigned char)s[i]);
                written += o.pos - before;
            }
            continue;
        }
        case 'q':
        case 'Q':
        case 'T': {
            const void *s = va_arg(ap, const void *);
            int64_t len = va_arg(ap, int64_t);
            if (o.piece())
                put_quoted(o, s, len, conv != 'q');
            continue;
        }
        case 'S': {
            const my_string *s = va_arg(ap, const my_string *);
            if (!o.piece())
                continue;
            if (!s) {
                o.raw("(nul)");
                continue;
            }
            for (uint32_t i = 0; i < s->length && s->data[i]; i++) {
                if (o.cap - o.pos <= 40) {
                    o.raw("...");
                    break;
                }
                put_unit(o, s->data[i]);
            }
            continue;
        }
        default:
            /* Unknown conversion: reported on standard error (never on the
             * application's standard output), no argument consumed. */
            fprintf(stderr, "char '%c'\n", conv);
            continue;
        }
        if (o.piece())
            o.raw(tmp);
    }
    o.finish();
    return o.pos;
}

size_t qv_format(char *buf, size_t capacity, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    size_t n = qv_vformat(buf, capacity, fmt, ap);
    va_end(ap);
    return n;
}

/* ----------------------------------------------------------------- helpers */

uint32_t parse_logging_value(const char *v, int words)
{
    if (!v)
        return 0;
    if (!strcasecmp(v, "yes") || !strcasecmp(v, "true") || !strcasecmp(v, "on"))
        return 31;
    if (!strcasecmp(v, "no") || !strcasecmp(v, "off"))
        return 0;
    if (!strcasecmp(v, "process"))
        return 63;
    if (!strcasecmp(v, "onerror") && words != LOGWORDS_DSN_COMPLETE)
        return 95;
    if (!strcasecmp(v, "error") && words != LOGWORDS_CONNSTR)
        return 95;
    return (uint32_t)strtol(v, nullptr, 0);
}

static unsigned thread_id(void) { return (unsigned)syscall(SYS_gettid); }

static const char *mode_text(int mode)
{
    switch (mode) {
    case LOG_ENTRY: return "ENTRY:\t";
    case LOG_EXIT: return "EXIT:\t";
    case LOG_DETAIL: return "DETAIL:\t";
    case LOG_ERROR: return "ERROR:\t";
    case LOG_PKTDUMP: return "PKTDUMP:\t";
    case LOG_CONTINUE: return "+\t";
    default: return "UNKNOWN MODE";
    }
}

static const char *kind_text(const void *h)
{
    const handle_header *hd = handle_hdr(h);
    switch (hd ? hd->handle_type : 0) {
    case MY_ENVIRONMENT_HANDLE: return "(ENV)";
    case MY_CONNECTION_HANDLE: return "(CONN)";
    case MY_STATEMENT_HANDLE: return "(STMT)";
    case MY_DESCRIPTOR_HANDLE: return "(DESC)";
    default: return "";
    }
}

static bool line_selected(uint32_t flags, int mode)
{
    if (mode == LOG_CONTINUE)
        return flags & LOG_DETAIL;
    return (flags & (uint32_t)mode) != 0;
}

/* Destination of a connection: null means standard error. */
static FILE *open_destination(const my_connection *c, const char *mode_str, uint32_t flags)
{
    if (!c->LogFile[0])
        return stderr;
    char name[400];
    if (flags & LOG_PROCESS)
        snprintf(name, sizeof name, "%s.%08X.%08X", c->LogFile, (unsigned)getpid(), thread_id());
    else
        snprintf(name, sizeof name, "%s", c->LogFile);
    FILE *f = fopen(name, mode_str);
    if (!f && errno == EINVAL) {
        f = fopen(name, "rb+");
        if (f)
            fseek(f, 0, SEEK_END);
    }
    return f;
}

static void close_destination(FILE *f)
{
    if (f == stderr)
        fflush(stderr);
    else if (f)
        fclose(f);
}

/* -------------------------------------------------------------- the ring */

/* The lines a connection and its statements and descriptors logged in
 * memory since its last dump: its own, so that an error on one connection
 * never writes another's SQL into its log. At most RING_SLOTS lines and
 * TRACE_RING_BYTES bytes; the oldest lines make room. Guarded by the
 * environment's log_lock. */
struct trace_ring {
    std::deque<std::string> lines;
    size_t bytes = 0;
};

static void ring_store(my_connection *c, const char *line)
{
    try {
        if (!c->ring)
            c->ring = new trace_ring();
        trace_ring *r = c->ring;
        r->lines.emplace_back(line);
        r->bytes += r->lines.back().size();
        while (r->lines.size() > RING_SLOTS ||
               (r->bytes > TRACE_RING_BYTES && r->lines.size() > 1)) {
            r->bytes -= r->lines.front().size();
            r->lines.pop_front();
        }
    } catch (const std::bad_alloc &) {
        /* logging never fails a call: the line is lost */
    }
}

void trace_ring_free(my_connection *c)
{
    delete c->ring;
    c->ring = nullptr;
}

static void banner(FILE *f, const char *title)
{
    char stars[101], blank[101], text[101];
    memset(stars, '*', 100);
    stars[100] = 0;
    memset(blank, ' ', 100);
    blank[0] = blank[99] = '*';
    blank[100] = 0;
    memset(text, ' ', 100);
    text[0] = text[99] = '*';
    text[100] = 0;
    memcpy(text + 1, title, strlen(title));
    fprintf(f, "%s\n%s\n%s\n%s\n%s\n", stars, blank, text, blank, stars);
}

static void ring_dump(my_connection *c, uint32_t flags)
{
    FILE *f = open_destination(c, "a+", flags);
    if (!f)
        return;
    banner(f, "   Start of log dump");
    if (c->ring)
        for (const std::string &line : c->ring->lines)
            fprintf(f, "%s\n", line.c_str());
    banner(f, "   End of log dump");
    close_destination(f);
    trace_ring_free(c);   /* emptied, and its memory goes back until the next line */
}

/* ------------------------------------------------------------------- dumps */

static void hex_row(char *out, size_t cap, const unsigned char *row, size_t n)
{
    size_t pos = 0;
    for (size_t i = 0; i < 16; i++) {
        if (i < n)
            pos += snprintf(out + pos, cap - pos, "%02X ", row[i]);
        else
            pos += snprintf(out + pos, cap - pos, "   ");
    }
    pos += snprintf(out + pos, cap - pos, "  ");
    for (size_t i = 0; i < n && pos + 1 < cap; i++)
        out[pos++] = isprint(row[i]) ? (char)row[i] : '.';
    out[pos] = 0;
}

static void file_hex_block(FILE *f, const unsigned char *d, size_t n, int wire)
{
    fprintf(f, "%s          ", wire ? "\n\n" : "\n\r");
    for (size_t i = 0; i < n; i++) {
        fprintf(f, "%02X ", d[i]);
        if ((i + 1) % 16 == 0) {
            fprintf(f, "  ");
            for (size_t k = i - 15; k <= i; k++)
                fputc(isprint(d[k]) ? d[k] : '.', f);
            fprintf(f, "\n\r          ");
        }
    }
    size_t rest = n % 16;
    if (rest) {
        for (size_t k = rest; k < 16; k++)
            fprintf(f, "   ");
        fprintf(f, "  ");
        for (size_t k = n - rest; k < n; k++)
            fputc(isprint(d[k]) ? d[k] : '.', f);
        fprintf(f, "\n\r");
    }
    fprintf(f, "\n\r");
}

static void ring_hex_block(my_connection *c, const unsigned char *d, size_t n)
{
    char line[128];
    ring_store(c, "");
    for (size_t i = 0; i < n; i += 16) {
        char row[100];
        hex_row(row, sizeof row, d + i, n - i < 16 ? n - i : 16);
        snprintf(line, sizeof line, "          %s", row);
        ring_store(c, line);
    }
    ring_store(c, "");
}

/* --------------------------------------------------------------- the line */

static void emit(const void *h, const char *file, int lineno, int mode, const void *data,
                 size_t dlen, int has_dump, int wire, const char *fmt, va_list ap)
{
    const handle_header *hd = handle_hdr(h);
    if (!hd)
        return;
    uint32_t flags = hd->log_flags;
    if (has_dump ? !(flags & LOG_PKTDUMP) : !line_selected(flags, mode))
        return;
    my_connection *c = handle_conn(h);
    my_environment *env = handle_env(h);
    if (!c || !env)
        return;   /* an environment never logs */

    std::lock_guard<qv_mutex> g(env->log_lock);
    char line[LINE_MAX_BYTES];
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    int n;
    bool memory = flags & LOG_MEMORY;
    if (mode == LOG_CONTINUE)
        n = snprintf(line, sizeof line, "\t\t[TID=%X]%s ", thread_id(), mode_text(mode));
    else if (memory)
        n = snprintf(line, sizeof line, "QVSQLODBC:[TID=%X][TIME=%ld.%03d][%s:%d][%p%s]\n\t\t%s ",
                     thread_id(), (long)tv.tv_sec, (int)(tv.tv_usec / 1000), file, lineno, h,
                     kind_text(h), mode_text(mode));
    else
        n = snprintf(line, sizeof line, "QVSQLODBC:[TID=%X][TIME=%ld.%06ld][%s:%d][%p%s]\n\t\t%s ",
                     thread_id(), (long)tv.tv_sec, 0L, file, lineno, h, kind_text(h),
                     mode_text(mode));
    if (n < 0)
        n = 0;
    if ((size_t)n < sizeof line)
        qv_vformat(line + n, sizeof line - n, fmt, ap);

    if (memory) {
        ring_store(c, line);
        if (has_dump && dlen)
            ring_hex_block(c, (const unsigned char *)data, dlen);
        if (mode == LOG_ERROR)
            ring_dump(c, flags);
        return;
    }
    FILE *f = open_destination(c, "ab+", flags);
    if (!f)
        return;
    fprintf(f, "%s\n\r", line);
    if (has_dump && dlen)
        file_hex_block(f, (const unsigned char *)data, dlen, wire);
    close_destination(f);
}

void trace(const void *h, const char *file, int line, int mode, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    emit(h, file, line, mode, nullptr, 0, 0, 0, fmt, ap);
    va_end(ap);
}

void trace_dump(const void *h, const char *file, int line, int mode, const void *data,
                int64_t len, const char *fmt, ...)
{
    size_t n = 0;
    if (data)
        n = len == MS_NTS ? strlen((const char *)data) : (len > 0 ? (size_t)len : 0);
    va_list ap;
    va_start(ap, fmt);
    emit(h, file, line, mode, data, n, 1, 0, fmt, ap);
    va_end(ap);
}

void trace_dump_wire(const void *h, const char *file, int line, int mode, const void *data,
                     size_t len, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    emit(h, file, line, mode, data, data ? len : 0, 1, 1, fmt, ap);
    va_end(ap);
}
