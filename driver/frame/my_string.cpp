/*
 * my_string: constructors, conversions and helpers. See include/my_string.h.
 */
#include "my_string.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "my_handles.h"

static const uint16_t REPLACEMENT = 0xFFFD;

/* ------------------------------------------------------------------ UTF-8 */

/* Decodes one code point from at most n bytes. Overlong forms, surrogate code
 * points, values above U+10FFFF, stray continuation bytes and sequences cut
 * short all give U+FFFD; a malformed sequence consumes only its lead byte and
 * the continuation bytes that were valid, so the next lead is not swallowed. */
size_t utf8_next(const unsigned char *s, size_t n, uint32_t *cp)
{
    if (n == 0) {
        *cp = REPLACEMENT;
        return 0;
    }
    unsigned char b = s[0];
    if (b < 0x80) {
        *cp = b;
        return 1;
    }
    size_t need;
    uint32_t v, min;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1; v = b & 0x1F; min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2; v = b & 0x0F; min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3; v = b & 0x07; min = 0x10000;
    } else {
        *cp = REPLACEMENT;   /* continuation byte, C0/C1 or F5..FF as a lead */
        return 1;
    }
    size_t i = 1;
    for (; i <= need; i++) {
        if (i >= n || (s[i] & 0xC0) != 0x80) {
            *cp = REPLACEMENT;
            return i;
        }
        v = (v << 6) | (s[i] & 0x3F);
    }
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        v = REPLACEMENT;
    *cp = v;
    return i;
}

int utf8_well_formed(const unsigned char *s, size_t n)
{
    size_t pos = 0;
    while (pos < n) {
        uint32_t cp;
        size_t used = utf8_next(s + pos, n - pos, &cp);
        /* U+FFFD stands for a malformed sequence unless it was written out */
        if (cp == REPLACEMENT &&
            !(used == 3 && s[pos] == 0xEF && s[pos + 1] == 0xBF && s[pos + 2] == 0xBD))
            return 0;
        pos += used;
    }
    return 1;
}

size_t utf8_units(const unsigned char *s, size_t n)
{
    size_t units = 0, pos = 0;
    while (pos < n) {
        if (s[pos] < 0x80) {          /* fast path for ASCII */
            units++;
            pos++;
            continue;
        }
        uint32_t cp;
        pos += utf8_next(s + pos, n - pos, &cp);
        units += cp >= 0x10000 ? 2 : 1;
    }
    return units;
}

size_t utf8_decode(const unsigned char *s, size_t n, uint16_t *out)
{
    size_t o = 0, pos = 0;
    while (pos < n) {
        if (s[pos] < 0x80) {
            out[o++] = s[pos++];
            continue;
        }
        uint32_t cp;
        pos += utf8_next(s + pos, n - pos, &cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out[o++] = (uint16_t)(0xD800 + (cp >> 10));
            out[o++] = (uint16_t)(0xDC00 + (cp & 0x3FF));
        } else {
            out[o++] = (uint16_t)cp;
        }
    }
    return o;
}

size_t utf16_next(const uint16_t *u, size_t n, uint32_t *cp)
{
    if (n == 0) {
        *cp = REPLACEMENT;
        return 0;
    }
    uint16_t a = u[0];
    if (a < 0xD800 || a > 0xDFFF) {
        *cp = a;
        return 1;
    }
    if (a <= 0xDBFF && n > 1 && u[1] >= 0xDC00 && u[1] <= 0xDFFF) {
        *cp = 0x10000 + (((uint32_t)a - 0xD800) << 10) + (u[1] - 0xDC00);
        return 2;
    }
    *cp = REPLACEMENT;   /* unpaired surrogate */
    return 1;
}

static size_t cp_utf8_length(uint32_t cp)
{
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

size_t utf16_utf8_length(const uint16_t *u, size_t n)
{
    size_t bytes = 0, pos = 0;
    while (pos < n) {
        if (u[pos] < 0x80) {
            bytes++;
            pos++;
            continue;
        }
        uint32_t cp;
        pos += utf16_next(u + pos, n - pos, &cp);
        bytes += cp_utf8_length(cp);
    }
    return bytes;
}

size_t utf16_encode_utf8(const uint16_t *u, size_t n, unsigned char *out)
{
    size_t o = 0, pos = 0;
    while (pos < n) {
        if (u[pos] < 0x80) {
            out[o++] = (unsigned char)u[pos++];
            continue;
        }
        uint32_t cp;
        pos += utf16_next(u + pos, n - pos, &cp);
        if (cp < 0x800) {
            out[o++] = (unsigned char)(0xC0 | (cp >> 6));
            out[o++] = (unsigned char)(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out[o++] = (unsigned char)(0xE0 | (cp >> 12));
            out[o++] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
            out[o++] = (unsigned char)(0x80 | (cp & 0x3F));
        } else {
            out[o++] = (unsigned char)(0xF0 | (cp >> 18));
            out[o++] = (unsigned char)(0x80 | ((cp >> 12) & 0x3F));
            out[o++] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
            out[o++] = (unsigned char)(0x80 | (cp & 0x3F));
        }
    }
    return o;
}

/* ----------------------------------------------------------- constructors */

my_string *ms_new(uint32_t n)
{
    my_string *s = (my_string *)calloc(1, sizeof(my_string));
    if (!s)
        return nullptr;
    if (n > 0) {
        s->data = (uint16_t *)malloc((size_t)n * sizeof(uint16_t));
        if (!s->data) {
            free(s);
            return nullptr;
        }
    }
    s->length = n;
    return s;
}

my_string *ms_wrap(uint16_t *units, uint32_t n)
{
    my_string *s = (my_string *)calloc(1, sizeof(my_string));
    if (!s)
        return nullptr;
    if (n == 0) {
        free(units);
        return s;
    }
    s->data = units;
    s->length = n;
    return s;
}

void ms_free(my_string *s)
{
    if (!s)
        return;
    if (!s->borrowed)
        free(s->data);
    free(s);
}

my_string *ms_from_latin1_n(const char *p, size_t n)
{
    if (!p)
        return ms_new(0);
    my_string *s = ms_new((uint32_t)n);
    if (!s)
        return nullptr;
    for (size_t i = 0; i < n; i++)
        s->data[i] = (unsigned char)p[i];
    return s;
}

my_string *ms_from_latin1(const char *p)
{
    return ms_from_latin1_n(p, p ? strlen(p) : 0);
}

my_string *ms_copy(const my_string *src)
{
    if (!src)
        return nullptr;
    my_string *s = ms_new(src->length);
    if (s && src->length)
        memcpy(s->data, src->data, src->length * sizeof(uint16_t));
    return s;
}

my_string *ms_substr(const my_string *src, int64_t start, int64_t count)
{
    if (!src)
        return nullptr;
    if (start < 0)
        start = 0;
    if (start > (int64_t)src->length)
        start = src->length;
    int64_t avail = (int64_t)src->length - start;
    if (count < 0 || count > avail)
        count = avail;
    my_string *s = ms_new((uint32_t)count);
    if (s && count)
        memcpy(s->data, src->data + start, (size_t)count * sizeof(uint16_t));
    return s;
}

my_string *ms_from_utf8(const char *p, int64_t len)
{
    if (!p)
        return nullptr;
    size_t n = len == MS_NTS ? strlen(p) : (len < 0 ? 0 : (size_t)len);
    const unsigned char *b = (const unsigned char *)p;
    size_t units = utf8_units(b, n);
    my_string *s = ms_new((uint32_t)units);
    if (s && units)
        utf8_decode(b, n, s->data);
    return s;
}

my_string *ms_from_utf16(const uint16_t *p, int64_t len)
{
    if (!p)
        return nullptr;
    size_t n = len == MS_NTS ? ms_wide_strlen(p) : (len < 0 ? 0 : (size_t)len);
    my_string *s = ms_new((uint32_t)n);
    if (s && n)
        memcpy(s->data, p, n * sizeof(uint16_t));
    return s;
}

my_string *ms_from_utf(const void *p, int64_t len, int utf8)
{
    return utf8 ? ms_from_utf8((const char *)p, len) : ms_from_utf16((const uint16_t *)p, len);
}

static int conn_narrow_utf8(const my_connection *c) { return c && c->ConvToUtf; }
static int conn_wide_utf8(const my_connection *c)
{
    return c && (c->ConvWToUtf || c->wchar_type != 1);
}

my_string *ms_from_narrow(const char *p, int64_t len, const my_connection *c)
{
    if (!p)
        return nullptr;
    return ms_from_narrow_as(p, len, conn_narrow_utf8(c));
}

my_string *ms_from_narrow_as(const char *p, int64_t len, int utf8)
{
    if (!p)
        return nullptr;
    if (utf8)
        return ms_from_utf8(p, len);
    size_t n = len == MS_NTS ? strlen(p) : (len < 0 ? 0 : (size_t)len);
    return ms_from_latin1_n(p, n);
}

int narrow_text_utf8(const char *p, int64_t len, const my_connection *c)
{
    if (conn_narrow_utf8(c) || !p)
        return 1;
    size_t n = len == MS_NTS ? strlen(p) : (len < 0 ? 0 : (size_t)len);
    return utf8_well_formed((const unsigned char *)p, n);
}

my_string *ms_from_wide(const void *p, int64_t len, const my_connection *c)
{
    if (!p)
        return nullptr;
    if (conn_wide_utf8(c))
        return ms_from_utf8((const char *)p, len);
    return ms_from_utf16((const uint16_t *)p, len);
}

/* ------------------------------------------------------------ conversions */

char *ms_to_latin1(const my_string *s)
{
    if (!s)
        return nullptr;
    char *out = (char *)malloc(s->length + 1);
    if (!out)
        return nullptr;
    for (uint32_t i = 0; i < s->length; i++)
        out[i] = (char)(s->data[i] & 0xFF);
    out[s->length] = 0;
    return out;
}

char *ms_to_utf8(const my_string *s)
{
    if (!s)
        return nullptr;
    size_t n = utf16_utf8_length(s->data, s->length);
    char *out = (char *)malloc(n + 1);
    if (!out)
        return nullptr;
    utf16_encode_utf8(s->data, s->length, (unsigned char *)out);
    out[n] = 0;
    return out;
}

char *ms_to_narrow(const my_string *s, const my_connection *c)
{
    return conn_narrow_utf8(c) ? ms_to_utf8(s) : ms_to_latin1(s);
}

size_t ms_utf8_length(const my_string *s)
{
    return s ? utf16_utf8_length(s->data, s->length) : 0;
}

size_t ms_narrow_length(const my_string *s, const my_connection *c)
{
    if (!s)
        return 0;
    return conn_narrow_utf8(c) ? ms_utf8_length(s) : s->length;
}

size_t ms_byte_length(const my_string *s) { return s ? 2 * (size_t)s->length : 0; }

size_t ms_wide_strlen(const uint16_t *s)
{
    size_t n = 0;
    if (s)
        while (s[n])
            n++;
    return n;
}

size_t ms_wide_strnlen(const uint16_t *s, size_t max_units, size_t max_bytes)
{
    size_t n = 0;
    if (!s)
        return 0;
    while (n < max_units && n < max_bytes / 2 && s[n])
        n++;
    return n;
}

/* ------------------------------------------------------------------ other */

int ms_append(my_string *a, const my_string *b)
{
    if (!a || !b || b->length == 0)
        return 0;
    size_t n = (size_t)a->length + b->length;
    uint16_t *d;
    if (a->borrowed) {
        d = (uint16_t *)malloc(n * sizeof(uint16_t));
        if (d && a->length)
            memcpy(d, a->data, a->length * sizeof(uint16_t));
    } else {
        d = (uint16_t *)realloc(a->data, n * sizeof(uint16_t));
    }
    if (!d)
        return -1;
    memcpy(d + a->length, b->data, b->length * sizeof(uint16_t));
    a->data = d;
    a->length = (uint32_t)n;
    a->borrowed = 0;
    return 0;
}

int ms_append_latin1(my_string *a, const char *s)
{
    my_string *b = ms_from_latin1(s);
    if (!b)
        return -1;
    int rc = ms_append(a, b);
    ms_free(b);
    return rc;
}

int64_t ms_find(const my_string *s, char ch)
{
    if (!s)
        return -1;
    for (uint32_t i = 0; i < s->length; i++)
        if (s->data[i] == (unsigned char)ch)
            return i;
    return -1;
}

uint32_t ms_find_depth0(const my_string *s, uint32_t start, char ch)
{
    if (!s)
        return 0;
    int depth = 0;
    for (uint32_t i = start; i < s->length; i++) {
        uint16_t u = s->data[i];
        if (u == '{')
            depth++;
        else if (u == '}')
            depth--;
        else if (depth == 0 && u == (unsigned char)ch)
            return i;
    }
    return s->length;
}

int ms_split_depth0(const my_string *s, char ch, my_string **left, my_string **right)
{
    *left = *right = nullptr;
    if (!s)
        return -1;
    uint32_t at = ms_find_depth0(s, 0, ch);
    *left = ms_substr(s, 0, at);
    *right = at < s->length ? ms_substr(s, at + 1, -1) : ms_new(0);
    if (!*left || !*right) {
        ms_free(*left);
        ms_free(*right);
        *left = *right = nullptr;
        return -1;
    }
    return 0;
}

int ms_compare_literal(const my_string *s, const char *lit)
{
    size_t n = s ? s->length : 0, m = strlen(lit);
    for (size_t i = 0; i < n && i < m; i++) {
        int a = toupper(s->data[i] & 0xFF), b = toupper((unsigned char)lit[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (n == m)
        return 0;
    return n < m ? -1 : 1;
}

int ms_compare(const my_string *x, const my_string *y)
{
    size_t n = x ? x->length : 0, m = y ? y->length : 0;
    for (size_t i = 0; i < n && i < m; i++) {
        int a = toupper(x->data[i] & 0xFF), b = toupper(y->data[i] & 0xFF);
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (n == m)
        return 0;
    return n < m ? -1 : 1;
}

int ms_has_pattern(const my_string *s)
{
    return ms_find(s, '%') >= 0 || ms_find(s, '\\') >= 0;
}

/* ---------------------------------------------------------- compose_text */

namespace {
struct builder {
    uint16_t *data = nullptr;
    size_t len = 0, cap = 0;
    bool failed = false;

    bool reserve(size_t more)
    {
        if (failed)
            return false;
        if (len + more <= cap)
            return true;
        size_t ncap = cap ? cap : 1024;
        while (ncap < len + more)
            ncap += 1024;
        uint16_t *d = (uint16_t *)realloc(data, ncap * sizeof(uint16_t));
        if (!d) {
            failed = true;
            return false;
        }
        data = d;
        cap = ncap;
        return true;
    }
    void unit(uint16_t u)
    {
        if (reserve(1))
            data[len++] = u;
    }
    void units(const uint16_t *u, size_t n)
    {
        if (n && reserve(n)) {
            memcpy(data + len, u, n * sizeof(uint16_t));
            len += n;
        }
    }
    void bytes(const char *s)
    {
        size_t n = strlen(s);
        if (reserve(n))
            for (size_t i = 0; i < n; i++)
                data[len++] = (unsigned char)s[i];
    }
};
} // namespace

my_string *compose_text(const char *fmt, ...)
{
    builder b;
    b.reserve(1024);
    va_list ap;
    va_start(ap, fmt);
    for (const char *p = fmt; *p && !b.failed; p++) {
        if (*p != '%') {
            b.unit((unsigned char)*p);
            continue;
        }
        char conv = *++p;
        if (!conv)
            break;
        switch (conv) {
        case 'S':
        case 'F': {
            my_string *s = va_arg(ap, my_string *);
            if (s)
                b.units(s->data, s->length);
            else
                b.bytes("(nul)");
            if (conv == 'F')
                ms_free(s);
            break;
        }
        case 'Z': {
            const uint16_t *u = va_arg(ap, const uint16_t *);
            int64_t n = va_arg(ap, int64_t);
            if (!u) {
                b.bytes("null");
                break;
            }
            if (n == MS_NTS)
                n = (int64_t)ms_wide_strlen(u);
            b.unit('\'');
            for (int64_t i = 0; i < n; i++) {
                if (u[i] == '\'')
                    b.unit('\'');
                b.unit(u[i]);
            }
            b.unit('\'');
            break;
        }
        case 'd': {
            char tmp[32];
            snprintf(tmp, sizeof tmp, "%d", va_arg(ap, int));
            b.bytes(tmp);
            break;
        }
        case 'l': {
            char tmp[32];
            snprintf(tmp, sizeof tmp, "%lld", (long long)va_arg(ap, int64_t));
            b.bytes(tmp);
            break;
        }
        case 's': {
            const char *s = va_arg(ap, const char *);
            b.bytes(s ? s : "(nul)");
            break;
        }
        default:
            fprintf(stderr, "qvmy: internal error, unhandled format '%c'\n", conv);
            break;
        }
    }
    va_end(ap);
    if (b.failed) {
        free(b.data);
        return nullptr;
    }
    my_string *s = ms_wrap(b.data, (uint32_t)b.len);
    if (!s)
        free(b.data);
    return s;
}
