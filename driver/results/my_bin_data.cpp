/*
 * Binary-protocol rows into the value holders.
 *
 * Every read goes through the packet's bounded readers and is checked
 * first: a row that claims more than its packet holds is a protocol error
 * (08S01), never a read past the packet. Text, binary and decimal values
 * are held where they lie in the row packet; only a time, which becomes
 * text, is copied (into the column's reusable buffer). Nothing is allocated
 * per row.
 */
#include "results/my_bin_data.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_pkt.h"
#include "protocol/my_proto.h"
#include "results/my_data.h"

static int malformed(my_statement *s, int column)
{
    QV_TRACE(s, LOG_ERROR, "binary row: column %d runs past the packet", column);
    post_error(s, ST_08S01, 0, "malformed binary row packet");
    return -1;
}

/* ============================================================ holders */

static int no_representation(my_statement *s, const field *f, int column)
{
    QV_TRACE(s, LOG_ERROR, "binary row: no representation for concise type %d of column %d",
             f->concise_type, column);
    post_error_col(s, ST_HY003, 0, column, nullptr);
    return -1;
}

static int set_null(my_statement *s, field *f, int column)
{
    int t = held_null_type(held_kind_of(f->concise_type));
    if (!t)
        return no_representation(s, f, column);
    f->storage.isnull = 1;
    f->storage.data_type = t;
    return 0;
}

/* Bytes that stay where they lie in the row packet. */
static void hold_view(my_statement *s, field *f, int type, const unsigned char *b, size_t n)
{
    storage_view(&f->storage, type, b, (uint32_t)n, s->current_row);
}

/* ============================================================ readers */

/* A length-encoded string inside the row: its bytes stay in the packet. A
 * NULL marker has no place here (the null bitmap says which are NULL). */
static int get_bytes(my_statement *s, my_packet *p, int column, const unsigned char **b, uint32_t *n)
{
    if (packet_get_lenenc_view(p, b, n) != 0)
        return malformed(s, column);
    return 0;
}

static inline int get_fixed(my_statement *s, my_packet *p, int column, void *out, int32_t n)
{
    if (!packet_need(p, n))
        return malformed(s, column);
    memcpy(out, p->data + p->pos, (size_t)n);
    p->pos += n;
    return 0;
}

static int64_t le(const unsigned char *b, int n)
{
    uint64_t v = 0;
    for (int i = 0; i < n; i++)
        v |= (uint64_t)b[i] << (8 * i);
    return (int64_t)v;
}

/* An integer of width bytes: sign- or zero-extended into the 32-bit holder. */
static inline int read_int32(my_statement *s, my_packet *p, field *f, int column, int width)
{
    unsigned char b[4] = {0, 0, 0, 0};
    if (get_fixed(s, p, column, b, width) != 0)
        return -1;
    int64_t v = le(b, width);
    if (!f->is_unsigned && (v & (1LL << (8 * width - 1))))
        v -= 1LL << (8 * width);
    f->storage.v.i32 = (int32_t)(uint32_t)v;
    f->storage.is_unsigned = f->is_unsigned && v >= 0;
    f->storage.data_type = SQL_INTEGER;
    return 0;
}

static inline int read_int64(my_statement *s, my_packet *p, field *f, int column)
{
    unsigned char b[8];
    if (get_fixed(s, p, column, b, 8) != 0)
        return -1;
    f->storage.v.i64 = le(b, 8);
    f->storage.is_unsigned = f->is_unsigned;
    f->storage.data_type = SQL_BIGINT;
    return 0;
}

static inline int read_floating(my_statement *s, my_packet *p, field *f, int column, int width)
{
    if (width == 4) {
        if (get_fixed(s, p, column, &f->storage.v.f, 4) != 0)
            return -1;
        f->storage.data_type = SQL_FLOAT;
    } else {
        if (get_fixed(s, p, column, &f->storage.v.d, 8) != 0)
            return -1;
        f->storage.data_type = SQL_DOUBLE;
    }
    return 0;
}

/* Length-encoded values (strings, blobs, decimals, bits): the bytes stay in
 * the packet and are held by the column's type, as text rows hold them: a
 * decimal as its text, which keeps every digit the server sent. */
static int read_bytes(my_statement *s, my_packet *p, field *f, int column)
{
    const unsigned char *b = nullptr;
    uint32_t n = 0;
    if (get_bytes(s, p, column, &b, &n) != 0)
        return -1;
    switch (held_kind_of(f->concise_type)) {
    case HK_CHAR: hold_view(s, f, SQL_CHAR, b, n); return 0;
    case HK_BINARY: hold_view(s, f, SQL_BINARY, b, n); return 0;
    case HK_DECIMAL: hold_view(s, f, SQL_NUMERIC, b, n); return 0;
    case HK_BIT: storage_hold_bit(&f->storage, b, n, s->current_row); return 0;
    default: return no_representation(s, f, column);
    }
}

/* ============================================================ dates, times */

/* The length byte of a date/time value and the bytes it announces. 1 for a
 * length no date or time has: the value is refused (and skipped, so the
 * columns after it are still read). */
static int temporal_bytes(my_statement *s, my_packet *p, field *f, int column, const int *lengths,
                          unsigned char *b, unsigned *len)
{
    if (!packet_get_u8(p, len))
        return malformed(s, column);
    int known = 0;
    for (const int *l = lengths; *l >= 0; l++)
        known |= (unsigned)*l == *len;
    if (!known) {
        QV_TRACE(s, LOG_ERROR, "binary row: date/time length %d of column %d", (int)*len, column);
        if (!packet_need(p, (int32_t)*len))
            return malformed(s, column);
        p->pos += (int32_t)*len;
        post_error_col(s, ST_22018, 0, column, nullptr);
        f->storage.data_type = 0;
        f->storage.refused = ST_22018;
        return 1;
    }
    memset(b, 0, 12);
    return get_fixed(s, p, column, b, (int32_t)*len);
}

/* A zero date in a nullable column reads as NULL when NullDatetimes asks. */
static int zero_is_null(my_statement *s, field *f, unsigned len)
{
    const my_connection *c = handle_conn(s);
    if (len != 0 || !f->nullable || !c || !c->NullDatetimes)
        return 0;
    f->storage.isnull = 1;
    return 1;
}

static int read_datetime(my_statement *s, my_packet *p, field *f, int column)
{
    static const int lengths[] = {0, 4, 7, 11, -1};
    unsigned char b[12];
    unsigned len;
    int known = temporal_bytes(s, p, f, column, lengths, b, &len);
    if (known != 0)
        return known;
    int date_only = f->mysql_type == MYSQL_TYPE_DATE || f->mysql_type == MYSQL_TYPE_NEWDATE;
    data_storage *d = &f->storage;
    if (zero_is_null(s, f, len)) {
        d->data_type = date_only ? SQL_DATE : SQL_TYPE_TIMESTAMP;
        return 0;
    }
    d->data_type = date_only ? SQL_TYPE_DATE : SQL_TYPE_TIMESTAMP;
    sql_timestamp_value t = {(int16_t)le(b, 2), b[2], b[3], b[4], b[5], b[6],
                             (uint32_t)le(b + 7, 4) * 1000u};
    QV_TRACE(s, LOG_DETAIL, "extracted timestamp format %d:%d:%d %d.%d.%d.%d", t.year, t.month,
             t.day, t.hour, t.minute, t.second, (int)t.fraction);
    if (date_only)
        d->v.date = {t.year, t.month, t.day};
    else
        d->v.timestamp = t;
    return 0;
}

/* The fraction digits a TIME column shows: its display size is 8 plus a
 * point and the digits when it has any (11 without TimeAsTime). Hours have
 * at least two digits, as the server writes them in text rows. */
static int time_digits(const field *f)
{
    if (f->display_size == 11)
        return 0;
    return (int)(f->display_size - 12);
}

static int format_time(const my_connection *c, const field *f, int negative, int64_t hours,
                       unsigned minute, unsigned second, uint32_t micro, char *buf, size_t size)
{
    const char *sign = negative ? "-" : "";
    int d = time_digits(f);
    if (d >= 1) {
        int k = d > 6 ? 6 : d;
        static const uint32_t div[] = {1, 100000, 10000, 1000, 100, 10, 1};
        return snprintf(buf, size, "%s%02lld:%02u:%02u.%0*u", sign, (long long)hours, minute,
                        second, k, micro / div[k]);
    }
    if (!(c && c->TimeAsTime) || micro == 0)
        return snprintf(buf, size, "%s%02lld:%02u:%02u", sign, (long long)hours, minute, second);
    int n = snprintf(buf, size, "%s%02lld:%02u:%02u.%09u", sign, (long long)hours, minute, second,
                     micro * 1000u);
    while (n > 0 && buf[n - 1] == '0')
        buf[--n] = 0;
    return n;
}

static int read_time(my_statement *s, my_packet *p, field *f, int column)
{
    static const int lengths[] = {0, 8, 12, -1};
    unsigned char b[12];
    unsigned len;
    int known = temporal_bytes(s, p, f, column, lengths, b, &len);
    if (known != 0)
        return known;
    f->storage.data_type = SQL_CHAR;
    if (zero_is_null(s, f, len))
        return 0;
    /* the only value not in the packet as it is held: copied into the
     * holder's reusable buffer */
    int64_t hours = (int64_t)(uint32_t)le(b + 1, 4) * 24 + b[5];
    char text[64];
    int n = format_time(handle_conn(s), f, b[0] != 0, hours, b[6], b[7], (uint32_t)le(b + 8, 4),
                        text, sizeof text);
    if (storage_copy(&f->storage, SQL_CHAR, text, (uint32_t)n) != 0) {
        post_error(s, ST_HY001, 0, nullptr);
        return -1;
    }
    return 0;
}

/* ============================================================ columns */

static int read_value(my_statement *s, my_packet *p, field *f, int column)
{
    switch (f->mysql_type) {
    case MYSQL_TYPE_TINY: return read_int32(s, p, f, column, 1);
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_YEAR: return read_int32(s, p, f, column, 2);
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_INT24: return read_int32(s, p, f, column, 4);
    case MYSQL_TYPE_LONGLONG: return read_int64(s, p, f, column);
    case MYSQL_TYPE_FLOAT: return read_floating(s, p, f, column, 4);
    case MYSQL_TYPE_DOUBLE: return read_floating(s, p, f, column, 8);
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_DATETIME: return read_datetime(s, p, f, column);
    case MYSQL_TYPE_TIME: return read_time(s, p, f, column);
    case MYSQL_TYPE_VARCHAR: case MYSQL_TYPE_VAR_STRING: case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_JSON: case MYSQL_TYPE_ENUM: case MYSQL_TYPE_SET:
    case MYSQL_TYPE_TINY_BLOB: case MYSQL_TYPE_MEDIUM_BLOB: case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB: case MYSQL_TYPE_GEOMETRY: case MYSQL_TYPE_BIT:
    case MYSQL_TYPE_DECIMAL: case MYSQL_TYPE_NEWDECIMAL:
        return read_bytes(s, p, f, column);
    }
    QV_TRACE(s, LOG_ERROR, "binary row: column %d has type %d", column, f->mysql_type);
    post_error_col(s, ST_HY003, 0, column, nullptr);
    return -1;
}

int decode_binary_column(my_statement *s, int index, int is_null)
{
    field *f = &s->ird->records[index];
    data_storage *d = &f->storage;
    int column = index + 1;
    storage_begin(d);   /* the reusable buffer stays for the next row */
    int rc = is_null ? set_null(s, f, column) : read_value(s, s->current_row, f, column);
    QV_TRACE(s, LOG_DETAIL,
             "binary column %d: mysql_type %d, concise_type %d, is_null %d: held as %d, "
             "isnull %d, length %d",
             column, f->mysql_type, f->concise_type, is_null, d->data_type, d->isnull,
             d->alloc_length);
    return rc;
}

/* Bit (i + 2) of the null bitmap is column i's: the first two bits belong
 * to no column. */
static int null_bit(const unsigned char *bitmap, int i)
{
    return (bitmap[(i + 2) / 8] >> ((i + 2) % 8)) & 1;
}

SQLRETURN decode_binary_row(my_statement *s)
{
    my_packet *p = s->current_row;
    int n = desc_column_count(s->ird);
    int32_t bitmap_len = (n + 9) / 8;
    unsigned header;
    if (!p || !packet_get_u8(p, &header) || header != 0x00 || !packet_need(p, bitmap_len)) {
        QV_TRACE(s, LOG_ERROR, "binary row: short header or null bitmap for %d columns", n);
        post_error(s, ST_08S01, 0, "malformed binary row packet");
        clear_values_from(s, 0);
        return SQL_ERROR;
    }
    const unsigned char *bitmap = p->data + p->pos;
    p->pos += bitmap_len;
    /* a value that did not read is reported and the row goes on; one the
     * row cannot be placed past ends it */
    SQLRETURN result = SQL_SUCCESS;
    for (int i = 0; i < n; i++) {
        int rc = decode_binary_column(s, i, null_bit(bitmap, i));
        if (rc < 0) {
            clear_values_from(s, i);
            return SQL_ERROR;
        }
        if (rc > 0)
            result = SQL_SUCCESS_WITH_INFO;
    }
    /* what the columns did not take is not part of any row this driver knows */
    if (packet_remaining(p) != 0) {
        QV_TRACE(s, LOG_ERROR, "binary row: %d bytes after the last column", packet_remaining(p));
        post_error(s, ST_08S01, 0, "malformed binary row packet");
        clear_values_from(s, 0);
        return SQL_ERROR;
    }
    return result;
}
