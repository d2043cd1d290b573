/*
 * Converters from a held column value to the application's C types.
 *
 * The numeric targets share one path: the held value becomes an exact
 * integer (wide enough for every signed and unsigned 64-bit value), then the
 * target's range decides. No conversion wraps: a value outside the target's
 * range is 22003, a dropped non-zero fraction is 01S07.
 */
#include "results/my_convert.h"
#include "protocol/my_pkt.h"

#include <float.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "frame/my_handle.h"
#include "results/my_numeric.h"

namespace {

typedef __int128 wide_int;

/* Largest text a non-character value renders to: a timestamp, a 64-bit
 * integer or a shortest double all fit easily; a numeric structure needs
 * NUMERIC_TEXT_MAX plus the zeros of its scale. */
enum { RENDER_MAX = NUMERIC_TEXT_MAX + 130 };

/* ---------------------------------------------------------------- common */

data_storage &held(conv_ctx &c) { return c.ird->storage; }

void set_lengths(conv_ctx &c, int64_t n)
{
    if (c.ind)
        *c.ind = (SQLLEN)n;
    if (c.oct)
        *c.oct = (SQLLEN)n;
}

/* The application asked for the length only: nothing is consumed, so the
 * value can still be read once a buffer is given. */
SQLRETURN measured_only(conv_ctx &c)
{
    c.keep_open = 1;
    return SQL_SUCCESS;
}

SQLRETURN refuse(conv_ctx &c, const char *what)
{
    QV_TRACE(c.s, LOG_ERROR, "invalid get_%s on type %d", what, held(c).data_type);
    post_error_col(c.s, ST_07006, 0, c.column, nullptr);
    return SQL_ERROR;
}

SQLRETURN out_of_range(conv_ctx &c, const char *what)
{
    QV_TRACE(c.s, LOG_ERROR, "Value out of range for a %s", what);
    post_error_col(c.s, ST_22003, 0, c.column, nullptr);
    return SQL_ERROR;
}

SQLRETURN not_a_number(conv_ctx &c)
{
    QV_TRACE(c.s, LOG_ERROR, "column %d: not a number", c.column);
    post_error_col(c.s, ST_22018, 0, c.column, nullptr);
    return SQL_ERROR;
}

SQLRETURN fraction_lost(conv_ctx &c)
{
    post_error_col(c.s, ST_01S07, 0, c.column, nullptr);
    return SQL_SUCCESS_WITH_INFO;
}

SQLRETURN truncated(conv_ctx &c)
{
    post_error_col(c.s, ST_01004, 0, c.column, nullptr);
    return SQL_SUCCESS_WITH_INFO;
}

/* A fixed-size target: the value and both lengths; a null target only
 * skips the write. */
SQLRETURN put_fixed(conv_ctx &c, const void *value, size_t size)
{
    if (c.target)
        memcpy(c.target, value, size);
    set_lengths(c, (int64_t)size);
    return SQL_SUCCESS;
}

void copy_bytes(void *to, const void *from, size_t n)
{
    if (n)
        memcpy(to, from, n);
}

/* Wide targets may sit at any address the application's row layout gives
 * them, so units are stored bytewise. */
void put_unit(unsigned char *out, size_t i, uint16_t u) { memcpy(out + 2 * i, &u, 2); }

bool held_unsigned(conv_ctx &c) { return held(c).is_unsigned || c.ird->is_unsigned; }

bool is_blank(char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }

/* ------------------------------------------------------- numbers as text */

size_t format_u64(uint64_t v, char *out)
{
    char tmp[24];
    size_t n = 0;
    do {
        tmp[n++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    for (size_t i = 0; i < n; i++)
        out[i] = tmp[n - 1 - i];
    out[n] = 0;
    return n;
}

size_t format_i64(int64_t v, char *out)
{
    if (v >= 0)
        return format_u64((uint64_t)v, out);
    out[0] = '-';
    /* negate in unsigned arithmetic: INT64_MIN has no positive twin */
    return 1 + format_u64(0 - (uint64_t)v, out + 1);
}

void put_digits(char *out, unsigned v, int width)
{
    for (int i = width - 1; i >= 0; i--) {
        out[i] = char('0' + v % 10);
        v /= 10;
    }
}

size_t format_date(const sql_date_value &d, char *out)
{
    if (d.year < 0)
        return (size_t)snprintf(out, 32, "%04d-%02u-%02u", d.year, (unsigned)d.month,
                                (unsigned)d.day);
    put_digits(out, (unsigned)d.year, 4);
    out[4] = '-';
    if (d.month > 99 || d.day > 99)   /* parts the scanner let through unchecked */
        return 4 + (size_t)snprintf(out + 4, 28, "-%02u-%02u", (unsigned)d.month,
                                    (unsigned)d.day);
    put_digits(out + 5, d.month, 2);
    out[7] = '-';
    put_digits(out + 8, d.day, 2);
    out[10] = 0;
    return 10;
}

/* Fraction digits shown for a timestamp: the column's scale, 6 when the
 * column does not say. */
int fraction_digits(const field *f) { return f->scale >= 1 && f->scale <= 6 ? f->scale : 6; }

size_t format_timestamp(const sql_timestamp_value &t, int digits, char *out)
{
    sql_date_value d = {t.year, t.month, t.day};
    size_t n = format_date(d, out);
    if (t.hour > 99 || t.minute > 99 || t.second > 99)
        n += (size_t)snprintf(out + n, 24, " %02u:%02u:%02u", (unsigned)t.hour,
                              (unsigned)t.minute, (unsigned)t.second);
    else {
        out[n] = ' ';
        put_digits(out + n + 1, t.hour, 2);
        out[n + 3] = ':';
        put_digits(out + n + 4, t.minute, 2);
        out[n + 6] = ':';
        put_digits(out + n + 7, t.second, 2);
        n += 9;
    }
    if (t.fraction != 0) {
        unsigned scaled = t.fraction % 1000000000u;
        for (int i = digits; i < 9; i++)
            scaled /= 10;
        out[n] = '.';
        put_digits(out + n + 1, scaled, digits);
        n += 1 + (size_t)digits;
    }
    out[n] = 0;
    return n;
}

/* The text of a held value that is not character or binary data: into buf
 * (RENDER_MAX bytes), or, for a decimal held as the server's text, that
 * text itself. False when the representation has no text form here. */
bool render_text(conv_ctx &c, char *buf, const char **text, size_t *len)
{
    data_storage &ds = held(c);
    *text = buf;
    switch (ds.data_type) {
    case SQL_NUMERIC:
        if (c.bytes) {
            /* exactly what the server sent: trailing zeros of the scale
             * included, and any number of digits */
            *text = (const char *)c.bytes;
            *len = (size_t)ds.alloc_length;
            return true;
        }
        numeric_to_text(&ds.v.numeric, buf, RENDER_MAX, len);
        pad_numeric_fraction(&ds.v.numeric, buf, RENDER_MAX, len);
        return true;
    case SQL_INTEGER:
        *len = held_unsigned(c) ? format_u64((uint32_t)ds.v.i32, buf) : format_i64(ds.v.i32, buf);
        return true;
    case SQL_BIGINT:
        *len = held_unsigned(c) ? format_u64((uint64_t)ds.v.i64, buf) : format_i64(ds.v.i64, buf);
        return true;
    case SQL_FLOAT:
        /* the float's own shortest form: "3.14159", not its double expansion */
        *len = (size_t)float_to_text(ds.v.f, buf, RENDER_MAX);
        return true;
    case SQL_DOUBLE:
        *len = (size_t)double_to_text(ds.v.d, buf, RENDER_MAX);
        return true;
    case SQL_DATE:
    case SQL_TYPE_DATE:
        *len = format_date(ds.v.date, buf);
        return true;
    case SQL_TYPE_TIMESTAMP:
        *len = format_timestamp(ds.v.timestamp, fraction_digits(c.ird), buf);
        return true;
    }
    return false;
}

/* -------------------------------------------------- numbers from a value */

enum held_status {
    HELD_OK = 0,
    HELD_FRACTION = 1,   /* a non-zero fraction was dropped */
    HELD_INVALID = -1,   /* not a number: 22018 */
    HELD_RANGE = -2,     /* beyond every integer target: 22003 */
    HELD_TYPE = -3,      /* no number in this representation: 07006 */
};

int from_num_status(int rc)
{
    switch (rc) {
    case NUM_OK: return HELD_OK;
    case NUM_FRACTION: return HELD_FRACTION;
    case NUM_OVERFLOW: return HELD_RANGE;
    }
    return HELD_INVALID;   /* NUM_INVALID, NUM_TRAILING */
}

/* Integer part of a number text; negative texts through the signed
 * scanner, the rest through the unsigned one, so both 64-bit ranges pass. */
int text_integer(const unsigned char *bytes, size_t len, wide_int *out)
{
    const char *t = (const char *)bytes;
    size_t i = 0;
    while (i < len && is_blank(t[i]))
        i++;
    int rc;
    if (i < len && t[i] == '-') {
        int64_t v = 0;
        rc = text_to_int64(t, len, &v);
        *out = v;
    } else {
        uint64_t v = 0;
        rc = text_to_uint64(t, len, &v);
        *out = v;
    }
    return from_num_status(rc);
}

int double_integer(double d, wide_int *out)
{
    if (isnan(d))
        return HELD_RANGE;
    double t = trunc(d);
    /* -2^63 and 2^64 are exact doubles: the bounds of the 64-bit ranges */
    if (t < -9223372036854775808.0 || t >= 18446744073709551616.0)
        return HELD_RANGE;
    *out = t < 0 ? (wide_int)(int64_t)t : (wide_int)(uint64_t)t;
    return t != d ? HELD_FRACTION : HELD_OK;
}

int held_integer(conv_ctx &c, wide_int *out)
{
    data_storage &ds = held(c);
    switch (ds.data_type) {
    case SQL_CHAR: {
        int digits, fraction;
        if (scan_number_text((const char *)c.bytes, (size_t)ds.alloc_length, &digits, &fraction))
            return HELD_INVALID;
        return text_integer(c.bytes, (size_t)ds.alloc_length, out);
    }
    case SQL_NUMERIC:
        if (c.bytes)
            return text_integer(c.bytes, (size_t)ds.alloc_length, out);
        if (ds.v.numeric.sign == 0) {
            int64_t v = 0;
            int rc = numeric_to_int64(&ds.v.numeric, &v);
            *out = v;
            return from_num_status(rc);
        } else {
            uint64_t v = 0;
            int rc = numeric_to_uint64(&ds.v.numeric, &v);
            *out = v;
            return from_num_status(rc);
        }
    case SQL_INTEGER:
        *out = held_unsigned(c) ? (wide_int)(uint32_t)ds.v.i32 : (wide_int)ds.v.i32;
        return HELD_OK;
    case SQL_BIGINT:
        *out = held_unsigned(c) ? (wide_int)(uint64_t)ds.v.i64 : (wide_int)ds.v.i64;
        return HELD_OK;
    case SQL_FLOAT:
        return double_integer(ds.v.f, out);
    case SQL_DOUBLE:
        return double_integer(ds.v.d, out);
    }
    return HELD_TYPE;
}

int held_double(conv_ctx &c, double *out)
{
    data_storage &ds = held(c);
    switch (ds.data_type) {
    case SQL_CHAR:
    case SQL_NUMERIC:
        if (ds.data_type == SQL_NUMERIC && !c.bytes) {
            numeric_to_double(&ds.v.numeric, out);
            return HELD_OK;
        }
        /* a character value may carry an exponent ("1.5E+10"): it is a
         * double's text, and the strict scanner still refuses anything else */
        switch (text_to_double((const char *)c.bytes, (size_t)ds.alloc_length, out)) {
        case NUM_OK: return HELD_OK;
        case NUM_OVERFLOW: return HELD_RANGE;
        }
        return HELD_INVALID;
    case SQL_INTEGER:
        *out = held_unsigned(c) ? (double)(uint32_t)ds.v.i32 : (double)ds.v.i32;
        return HELD_OK;
    case SQL_BIGINT:
        *out = held_unsigned(c) ? (double)(uint64_t)ds.v.i64 : (double)ds.v.i64;
        return HELD_OK;
    case SQL_FLOAT:
        *out = ds.v.f;
        return HELD_OK;
    case SQL_DOUBLE:
        *out = ds.v.d;
        return HELD_OK;
    }
    return HELD_TYPE;
}

/* ------------------------------------------------------ integer targets */

struct int_target {
    const char *name;    /* get_<name> in the trace */
    const char *what;    /* "Value out of range for a <what>" */
    int size;
    wide_int min, max;
};

const int_target T_SLONG = {"slong", "signed long", 4, INT32_MIN, INT32_MAX};
const int_target T_ULONG = {"ulong", "unsigned long", 4, 0, UINT32_MAX};
const int_target T_SSHORT = {"sshort", "signed short", 2, INT16_MIN, INT16_MAX};
const int_target T_USHORT = {"ushort", "unsigned short", 2, 0, UINT16_MAX};
const int_target T_STINY = {"stiny", "signed tinyint", 1, INT8_MIN, INT8_MAX};
const int_target T_UTINY = {"utiny", "unsigned tinyint", 1, 0, UINT8_MAX};
const int_target T_BIT = {"bit", "bit", 1, 0, 1};
const int_target T_SBIGINT = {"sbigint", "signed bigint", 8, INT64_MIN, INT64_MAX};
const int_target T_UBIGINT = {"ubigint", "unsigned bigint", 8, 0, UINT64_MAX};

SQLRETURN get_integer(conv_ctx &c, const int_target &t)
{
    wide_int v = 0;
    int rc = held_integer(c, &v);
    if (rc == HELD_TYPE)
        return refuse(c, t.name);
    if (rc == HELD_INVALID)
        return not_a_number(c);
    if (rc == HELD_RANGE || v < t.min || v > t.max)
        return out_of_range(c, t.what);
    /* in range, so the low bytes are the value in the target's own
     * (two's complement) form */
    uint64_t bits = (uint64_t)v;
    unsigned char image[8];
    switch (t.size) {
    case 1: { uint8_t b = (uint8_t)bits; memcpy(image, &b, 1); break; }
    case 2: { uint16_t b = (uint16_t)bits; memcpy(image, &b, 2); break; }
    case 4: { uint32_t b = (uint32_t)bits; memcpy(image, &b, 4); break; }
    default: memcpy(image, &bits, 8); break;
    }
    put_fixed(c, image, (size_t)t.size);
    return rc == HELD_FRACTION ? fraction_lost(c) : SQL_SUCCESS;
}

/* -------------------------------------------------------- pieces of text */

bool column_utf8(conv_ctx &c);

/* One character of a column's bytes: a UTF-8 sequence or a single byte. */
inline size_t column_char(const unsigned char *p, size_t n, bool utf8, uint32_t *cp)
{
    if (!utf8 || p[0] < 0x80) {
        *cp = p[0];
        return 1;
    }
    return utf8_next(p, n, cp);
}

/* The narrow form of a character: UTF-8, or one Latin-1 byte ('?' for what
 * Latin-1 cannot hold). Returns its length; out may be null to measure. */
inline size_t narrow_char(uint32_t cp, bool utf8, unsigned char *out)
{
    if (!utf8) {
        if (out)
            out[0] = cp <= 0xFF ? (unsigned char)cp : '?';
        return 1;
    }
    unsigned char b[4];
    size_t n;
    if (cp < 0x80) {
        b[0] = (unsigned char)cp;
        n = 1;
    } else if (cp < 0x800) {
        b[0] = (unsigned char)(0xC0 | (cp >> 6));
        b[1] = (unsigned char)(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        b[0] = (unsigned char)(0xE0 | (cp >> 12));
        b[1] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
        b[2] = (unsigned char)(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        b[0] = (unsigned char)(0xF0 | (cp >> 18));
        b[1] = (unsigned char)(0x80 | ((cp >> 12) & 0x3F));
        b[2] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
        b[3] = (unsigned char)(0x80 | (cp & 0x3F));
        n = 4;
    }
    if (out)
        memcpy(out, b, n);
    return n;
}

/* Narrow character data of a column whose encoding is not the
 * application's narrow one (single-byte results while narrow text is UTF-8,
 * or the reverse): converted character by character. Lengths count the
 * narrow bytes of the rest of the value; a piece never splits a character. */
SQLRETURN char_piece_converted(conv_ctx &c, bool column_is_utf8, bool narrow_is_utf8)
{
    data_storage &ds = held(c);
    const unsigned char *from = c.bytes + ds.value_offset;
    size_t n = (size_t)(ds.alloc_length - ds.value_offset);
    uint32_t cp;
    int64_t total = 0;
    for (size_t pos = 0; pos < n;) {
        pos += column_char(from + pos, n - pos, column_is_utf8, &cp);
        total += (int64_t)narrow_char(cp, narrow_is_utf8, nullptr);
    }
    set_lengths(c, total);
    if (!c.target || c.buffer_length < 1)
        return measured_only(c);
    unsigned char *out = (unsigned char *)c.target;
    size_t room = (size_t)c.buffer_length - 1, w = 0, pos = 0;
    while (pos < n) {
        size_t step = column_char(from + pos, n - pos, column_is_utf8, &cp);
        size_t size = narrow_char(cp, narrow_is_utf8, nullptr);
        if (w + size > room)
            break;
        w += narrow_char(cp, narrow_is_utf8, out + w);
        pos += step;
    }
    out[w] = 0;
    ds.value_offset += (int32_t)pos;
    if (pos == n)
        return SQL_SUCCESS;
    c.keep_open = 1;
    return truncated(c);
}

/* Narrow character data, in pieces of buffer_length - 1 bytes; narrow_utf8
 * tells the encoding the application's buffer takes. */
SQLRETURN char_piece(conv_ctx &c, bool narrow_utf8)
{
    data_storage &ds = held(c);
    bool utf8 = column_utf8(c);
    if (utf8 != narrow_utf8)
        return char_piece_converted(c, utf8, narrow_utf8);
    int64_t rest = (int64_t)ds.alloc_length - ds.value_offset;
    set_lengths(c, rest);
    if (!c.target || c.buffer_length < 1)
        return measured_only(c);
    char *out = (char *)c.target;
    const unsigned char *from = c.bytes + ds.value_offset;
    if (rest < c.buffer_length) {
        copy_bytes(out, from, (size_t)rest);
        out[rest] = 0;
        ds.value_offset = ds.alloc_length;
        return SQL_SUCCESS;
    }
    size_t piece = (size_t)c.buffer_length - 1;
    copy_bytes(out, from, piece);
    out[piece] = 0;
    ds.value_offset += (int32_t)piece;
    c.keep_open = 1;
    return truncated(c);
}

/* Binary data as hex digits, two per byte, in pieces of whole bytes. */
SQLRETURN hex_piece(conv_ctx &c, bool wide)
{
    static const char lower[] = "0123456789abcdef", upper[] = "0123456789ABCDEF";
    const char *digits = wide ? upper : lower;
    data_storage &ds = held(c);
    int64_t rest = (int64_t)ds.alloc_length - ds.value_offset;
    int unit = wide ? 2 : 1;
    set_lengths(c, 2 * rest * unit);
    int64_t room = c.buffer_length / unit;   /* characters, terminator included */
    if (!c.target || room < 1)
        return measured_only(c);
    int64_t take = 2 * rest < room ? rest : (room - 1) / 2;
    unsigned char *out = (unsigned char *)c.target;
    const unsigned char *from = c.bytes + ds.value_offset;
    for (int64_t i = 0; i < take; i++) {
        char pair[2] = {digits[from[i] >> 4], digits[from[i] & 15]};
        for (int k = 0; k < 2; k++) {
            if (wide)
                put_unit(out, (size_t)(2 * i + k), (uint16_t)pair[k]);
            else
                out[2 * i + k] = (unsigned char)pair[k];
        }
    }
    if (wide)
        put_unit(out, (size_t)(2 * take), 0);
    else
        out[2 * take] = 0;
    ds.value_offset += (int32_t)take;
    if (take == rest)
        return SQL_SUCCESS;
    c.keep_open = 1;
    return truncated(c);
}

/* A rendered text (a number, a date) into a narrow or wide buffer. Such a
 * value is never delivered in pieces: a cut one is finished. */
SQLRETURN deliver_text(conv_ctx &c, const char *text, size_t len, bool wide)
{
    int unit = wide ? 2 : 1;
    set_lengths(c, (int64_t)len * unit);
    int64_t room = c.buffer_length / unit;
    if (!c.target || room < 1)
        return measured_only(c);
    size_t take = (int64_t)len < room ? len : (size_t)room - 1;
    unsigned char *out = (unsigned char *)c.target;
    if (wide) {
        for (size_t i = 0; i < take; i++)
            put_unit(out, i, (unsigned char)text[i]);
        put_unit(out, take, 0);
    } else {
        copy_bytes(out, text, take);
        out[take] = 0;
    }
    return take == len ? SQL_SUCCESS : truncated(c);
}

/* Whether the column's character data is UTF-8; looked up once per
 * character set and kept in the holder. Columns without a character set of
 * their own carry the connection's: internal results (none at all), and
 * character data the server labels binary (63) although it is text, such
 * as JSON, times and values a reader kept as text. */
bool column_utf8(conv_ctx &c)
{
    data_storage &ds = held(c);
    const my_connection *conn = handle_conn(c.s);
    int cs = c.ird->charset_number;
    if ((cs == 0 || cs == 63) && conn)
        cs = conn->charset;
    if (ds.charset_utf8 == 0 || ds.charset_checked != cs) {
        ds.charset_checked = cs;
        ds.charset_utf8 = charset_is_utf8(conn, cs) ? 1 : 2;
    }
    return ds.charset_utf8 == 1;
}

/* Decodes whole characters from UTF-8 bytes into at most `room` units
 * (a surrogate pair is never split: a character that does not fit ends the
 * piece). Returns units written; *used receives the bytes consumed. */
size_t widen_utf8(const unsigned char *p, size_t n, size_t room, unsigned char *out,
                  size_t *used)
{
    size_t w = 0, pos = 0;
    while (pos < n) {
        uint32_t cp = p[pos];
        size_t step = 1;
        if (cp >= 0x80)
            step = utf8_next(p + pos, n - pos, &cp);
        size_t need = cp >= 0x10000 ? 2 : 1;
        if (w + need > room)
            break;
        if (need == 2) {
            cp -= 0x10000;
            put_unit(out, w++, (uint16_t)(0xD800 + (cp >> 10)));
            put_unit(out, w++, (uint16_t)(0xDC00 + (cp & 0x3FF)));
        } else {
            put_unit(out, w++, (uint16_t)cp);
        }
        pos += step;
    }
    *used = pos;
    return w;
}

/* Character data into a wide buffer: UTF-8 columns decoded with surrogate
 * pairs, other character sets one unit per byte. Lengths count the units
 * of the rest of the value; value_offset stays on a character boundary. */
SQLRETURN wide_piece(conv_ctx &c)
{
    data_storage &ds = held(c);
    const unsigned char *from = c.bytes + ds.value_offset;
    size_t n = (size_t)(ds.alloc_length - ds.value_offset);
    bool utf8 = column_utf8(c);
    size_t units = utf8 ? utf8_units(from, n) : n;
    set_lengths(c, 2 * (int64_t)units);
    int64_t room = c.buffer_length / 2;
    if (!c.target || room < 1)
        return measured_only(c);
    unsigned char *out = (unsigned char *)c.target;
    bool whole = (int64_t)units < room;
    size_t limit = whole ? units : (size_t)room - 1;
    size_t used = 0, w = 0;
    if (utf8) {
        w = widen_utf8(from, n, limit, out, &used);
    } else {
        for (; w < limit; w++)
            put_unit(out, w, from[w]);
        used = w;
    }
    put_unit(out, w, 0);
    ds.value_offset += (int32_t)used;
    if (whole)
        return SQL_SUCCESS;
    c.keep_open = 1;
    return truncated(c);
}

/* Raw bytes in pieces of buffer_length, no terminator. */
SQLRETURN byte_piece(conv_ctx &c)
{
    data_storage &ds = held(c);
    int64_t rest = (int64_t)ds.alloc_length - ds.value_offset;
    set_lengths(c, rest);
    if (!c.target || c.buffer_length < 1)
        return measured_only(c);
    const unsigned char *from = c.bytes + ds.value_offset;
    if (rest <= c.buffer_length) {
        copy_bytes(c.target, from, (size_t)rest);
        ds.value_offset = ds.alloc_length;
        return SQL_SUCCESS;
    }
    copy_bytes(c.target, from, (size_t)c.buffer_length);
    ds.value_offset += (int32_t)c.buffer_length;
    c.keep_open = 1;
    return truncated(c);
}

/* The memory image of a fixed representation; cut to buffer_length. */
SQLRETURN image(conv_ctx &c, const void *value, size_t size)
{
    set_lengths(c, (int64_t)size);
    if (!c.target || c.buffer_length < 1)
        return measured_only(c);
    if ((size_t)c.buffer_length < size) {
        memcpy(c.target, value, (size_t)c.buffer_length);
        return truncated(c);
    }
    memcpy(c.target, value, size);
    return SQL_SUCCESS;
}

/* A decimal as the numeric structure (from the server's text when held so). */
int held_numeric(conv_ctx &c, sql_numeric_value *out)
{
    data_storage &ds = held(c);
    if (!c.bytes) {
        *out = ds.v.numeric;
        return HELD_OK;
    }
    int precision = c.ird->precision > 0 && c.ird->precision < 256 ? c.ird->precision : 38;
    return from_num_status(
        text_to_numeric((const char *)c.bytes, (size_t)ds.alloc_length, out, precision, 0));
}

/* ---------------------------------------------------------------- times */

/* "h[:m[:s[.fraction]]]" with blanks around; the hours of a duration may
 * exceed 23. 0, 1 when a non-zero fraction was dropped, -1 not a time, -2 a
 * part beyond the structure's fields. */
int parse_time_text(const unsigned char *p, size_t n, sql_time_value *out)
{
    const char *t = (const char *)p, *end = t + n;
    while (t != end && is_blank(*t))
        t++;
    uint32_t parts[3] = {0, 0, 0};
    for (int i = 0; i < 3; i++) {
        if (t == end || *t < '0' || *t > '9')
            return -1;
        uint32_t v = 0;
        for (; t != end && *t >= '0' && *t <= '9'; t++)
            if ((v = v * 10 + uint32_t(*t - '0')) > 65535)
                return -2;
        parts[i] = v;
        if (t == end || *t != ':' || i == 2)
            break;
        t++;
    }
    bool fraction = false;
    if (t != end && *t == '.')
        for (t++; t != end && *t >= '0' && *t <= '9'; t++)
            fraction = fraction || *t != '0';
    while (t != end && is_blank(*t))
        t++;
    if (t != end)
        return -1;
    out->hour = (uint16_t)parts[0];
    out->minute = (uint16_t)parts[1];
    out->second = (uint16_t)parts[2];
    return fraction ? 1 : 0;
}

} // namespace

/* ------------------------------------------------------------------- api */

SQLRETURN deliver_null(conv_ctx &c)
{
    if (!c.ind) {
        /* nothing in the application's buffer would say the value is NULL */
        QV_TRACE(c.s, LOG_ERROR, "column %d is NULL and has no indicator", c.column);
        post_error_col(c.s, ST_22002, 0, c.column, nullptr);
        return SQL_ERROR;
    }
    *c.ind = SQL_NULL_DATA;
    if (c.oct)
        *c.oct = 0;
    return SQL_SUCCESS;
}

int scan_number_text(const char *text, size_t len, int *digits, int *fraction_digits)
{
    *digits = *fraction_digits = 0;
    if (!text)
        return -1;
    const char *p = text, *end = text + len;
    while (p != end && is_blank(*p))
        p++;
    if (p != end && (*p == '+' || *p == '-'))
        p++;
    int n = 0, f = 0;
    for (; p != end && *p >= '0' && *p <= '9'; p++)
        n++;
    if (p != end && *p == '.')
        for (p++; p != end && *p >= '0' && *p <= '9'; p++)
            f++;
    while (p != end && is_blank(*p))
        p++;
    if (p != end || n + f == 0)
        return -1;
    *digits = n + f;
    *fraction_digits = f;
    return 0;
}

/* Text into a buffer of bytes, UTF-8 or Latin-1. */
static SQLRETURN get_bytes_text(conv_ctx &c, bool utf8)
{
    switch (held(c).data_type) {
    case SQL_CHAR: return char_piece(c, utf8);
    case SQL_BINARY: return hex_piece(c, false);
    }
    char buf[RENDER_MAX];
    const char *text;
    size_t len;
    if (!render_text(c, buf, &text, &len))
        return refuse(c, "char");
    return deliver_text(c, text, len, false);
}

SQLRETURN get_char(conv_ctx &c)
{
    const my_connection *conn = handle_conn(c.s);
    return get_bytes_text(c, conn && conn->ConvToUtf);
}

SQLRETURN get_wchar_utf8(conv_ctx &c) { return get_bytes_text(c, true); }

SQLRETURN get_wchar(conv_ctx &c)
{
    switch (held(c).data_type) {
    case SQL_CHAR: return wide_piece(c);
    case SQL_BINARY: return hex_piece(c, true);
    }
    char buf[RENDER_MAX];
    const char *text;
    size_t len;
    if (!render_text(c, buf, &text, &len))
        return refuse(c, "wchar");
    return deliver_text(c, text, len, true);
}

SQLRETURN get_slong(conv_ctx &c) { return get_integer(c, T_SLONG); }
SQLRETURN get_ulong(conv_ctx &c) { return get_integer(c, T_ULONG); }
SQLRETURN get_sshort(conv_ctx &c) { return get_integer(c, T_SSHORT); }
SQLRETURN get_ushort(conv_ctx &c) { return get_integer(c, T_USHORT); }
SQLRETURN get_stiny(conv_ctx &c) { return get_integer(c, T_STINY); }
SQLRETURN get_utiny(conv_ctx &c) { return get_integer(c, T_UTINY); }
SQLRETURN get_bit(conv_ctx &c) { return get_integer(c, T_BIT); }
SQLRETURN get_sbigint(conv_ctx &c) { return get_integer(c, T_SBIGINT); }
SQLRETURN get_ubigint(conv_ctx &c) { return get_integer(c, T_UBIGINT); }

SQLRETURN get_double(conv_ctx &c)
{
    double d = 0;
    switch (held_double(c, &d)) {
    case HELD_TYPE: return refuse(c, "double");
    case HELD_INVALID: return not_a_number(c);
    case HELD_RANGE: return out_of_range(c, "double");
    }
    return put_fixed(c, &d, sizeof d);
}

SQLRETURN get_float(conv_ctx &c)
{
    float f;
    if (held(c).data_type == SQL_FLOAT) {
        f = held(c).v.f;
        return put_fixed(c, &f, sizeof f);
    }
    double d = 0;
    switch (held_double(c, &d)) {
    case HELD_TYPE: return refuse(c, "float");
    case HELD_INVALID: return not_a_number(c);
    case HELD_RANGE: return out_of_range(c, "float");
    }
    /* a finite double beyond the float range would become an infinity */
    if (isfinite(d) && fabs(d) > FLT_MAX)
        return out_of_range(c, "float");
    f = (float)d;
    return put_fixed(c, &f, sizeof f);
}

SQLRETURN get_numeric(conv_ctx &c)
{
    data_storage &ds = held(c);
    sql_numeric_value v = {};
    int rc;
    switch (ds.data_type) {
    case SQL_CHAR: {
        int digits, fraction;
        if (scan_number_text((const char *)c.bytes, (size_t)ds.alloc_length, &digits, &fraction))
            return not_a_number(c);
        rc = from_num_status(text_to_numeric((const char *)c.bytes, (size_t)ds.alloc_length, &v,
                                             digits < 255 ? digits : 255, 0));
        break;
    }
    case SQL_NUMERIC:
        rc = held_numeric(c, &v);
        break;
    case SQL_INTEGER:
        rc = from_num_status(held_unsigned(c) ? uint_to_numeric((uint32_t)ds.v.i32, &v, 12, 0)
                                              : int_to_numeric(ds.v.i32, &v, 12, 0));
        break;
    case SQL_BIGINT:
        rc = from_num_status(held_unsigned(c) ? uint_to_numeric((uint64_t)ds.v.i64, &v, 20, 0)
                                              : int_to_numeric(ds.v.i64, &v, 19, 0));
        break;
    case SQL_FLOAT:
    case SQL_DOUBLE: {
        char text[FLOAT_TEXT_MAX];
        int n = ds.data_type == SQL_FLOAT ? float_to_text(ds.v.f, text, sizeof text)
                                          : double_to_text(ds.v.d, text, sizeof text);
        rc = from_num_status(text_to_numeric(text, (size_t)n, &v, 19, 0));
        if (rc == HELD_INVALID)   /* "inf", "nan" */
            rc = HELD_RANGE;
        break;
    }
    default:
        return refuse(c, "numeric");
    }
    if (rc == HELD_INVALID)
        return not_a_number(c);
    if (rc == HELD_RANGE)
        return out_of_range(c, "numeric");
    put_fixed(c, &v, sizeof v);
    return rc == HELD_FRACTION ? fraction_lost(c) : SQL_SUCCESS;
}

SQLRETURN get_date(conv_ctx &c)
{
    data_storage &ds = held(c);
    switch (ds.data_type) {
    case SQL_DATE:
    case SQL_TYPE_DATE:
        return put_fixed(c, &ds.v.date, sizeof ds.v.date);
    case SQL_TYPE_TIMESTAMP: {
        const sql_timestamp_value &t = ds.v.timestamp;
        sql_date_value d = {t.year, t.month, t.day};
        put_fixed(c, &d, sizeof d);
        bool time_lost = t.hour || t.minute || t.second || t.fraction;
        return time_lost ? fraction_lost(c) : SQL_SUCCESS;
    }
    }
    return refuse(c, "date");
}

SQLRETURN get_time(conv_ctx &c)
{
    data_storage &ds = held(c);
    sql_time_value t = {};
    switch (ds.data_type) {
    case SQL_CHAR: {
        const unsigned char *p = c.bytes;
        size_t n = (size_t)ds.alloc_length, i = 0;
        while (i < n && is_blank((char)p[i]))
            i++;
        if (i == n)   /* an empty time is no time at all */
            return deliver_null(c);
        int rc = parse_time_text(p, n, &t);
        if (rc == -1)
            return not_a_number(c);
        if (rc == -2)
            return out_of_range(c, "time");
        put_fixed(c, &t, sizeof t);
        return rc == 1 ? fraction_lost(c) : SQL_SUCCESS;
    }
    case SQL_TYPE_TIMESTAMP: {
        const sql_timestamp_value &ts = ds.v.timestamp;
        t.hour = ts.hour;
        t.minute = ts.minute;
        t.second = ts.second;
        put_fixed(c, &t, sizeof t);
        return ts.fraction ? fraction_lost(c) : SQL_SUCCESS;
    }
    }
    return refuse(c, "time");
}

SQLRETURN get_timestamp(conv_ctx &c)
{
    data_storage &ds = held(c);
    switch (ds.data_type) {
    case SQL_DATE:
    case SQL_TYPE_DATE: {
        sql_timestamp_value t = {};
        t.year = ds.v.date.year;
        t.month = ds.v.date.month;
        t.day = ds.v.date.day;
        return put_fixed(c, &t, sizeof t);
    }
    case SQL_TYPE_TIMESTAMP:
        return put_fixed(c, &ds.v.timestamp, sizeof ds.v.timestamp);
    }
    return refuse(c, "timestamp");
}

SQLRETURN get_binary(conv_ctx &c)
{
    data_storage &ds = held(c);
    switch (ds.data_type) {
    case SQL_CHAR:
    case SQL_BINARY:
        return byte_piece(c);
    case SQL_NUMERIC: {
        sql_numeric_value v = {};
        int rc = held_numeric(c, &v);
        if (rc == HELD_INVALID)
            return not_a_number(c);
        if (rc == HELD_RANGE)
            return out_of_range(c, "numeric");
        return image(c, &v, sizeof v);
    }
    case SQL_INTEGER: return image(c, &ds.v.i32, sizeof ds.v.i32);
    case SQL_BIGINT: return image(c, &ds.v.i64, sizeof ds.v.i64);
    case SQL_FLOAT: return image(c, &ds.v.f, sizeof ds.v.f);
    case SQL_DOUBLE: return image(c, &ds.v.d, sizeof ds.v.d);
    case SQL_DATE:
    case SQL_TYPE_DATE: return image(c, &ds.v.date, sizeof ds.v.date);
    case SQL_TYPE_TIMESTAMP: return image(c, &ds.v.timestamp, sizeof ds.v.timestamp);
    }
    return refuse(c, "binary");
}

SQLRETURN get_guid(conv_ctx &c) { return refuse(c, "guid"); }
