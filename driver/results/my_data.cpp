/*
 * Column values: the holders, the text-row column reader and the dispatcher
 * that hands a held value to the converter of the target C type.
 *
 * The reader runs for every column of every row, so it allocates nothing:
 * character, binary and decimal values stay where they are in the row
 * packet (data_storage::bytes), and numbers and dates are parsed straight
 * from the packet bytes.
 */
#include "results/my_data.h"

#include <float.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <charconv>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_pkt.h"
#include "results/my_convert.h"
#include "results/my_datetime.h"
#include "results/my_numeric.h"

/* ---------------------------------------------------------------- holders */

void storage_view(data_storage *ds, int data_type, const unsigned char *bytes, uint32_t len,
                  const my_packet *row)
{
    ds->data_type = data_type;
    ds->bytes = bytes;
    ds->bytes_row = row;
    ds->alloc_length = (int32_t)len;
}

int storage_copy(data_storage *ds, int data_type, const void *bytes, uint32_t len)
{
    if (len > ds->capacity) {
        unsigned char *grown = (unsigned char *)realloc(ds->buffer, len);
        if (!grown) {
            ds->data_type = 0;
            return -1;
        }
        ds->buffer = grown;
        ds->capacity = len;
    }
    if (len)
        memcpy(ds->buffer, bytes, len);
    /* an empty value still needs a non-null address to read nothing from */
    static const unsigned char empty = 0;
    storage_view(ds, data_type, ds->buffer ? ds->buffer : &empty, len, nullptr);
    return 0;
}

void storage_release(data_storage *ds)
{
    free(ds->buffer);
    ds->buffer = nullptr;
    ds->capacity = 0;
    storage_begin(ds);
    ds->data_type = 0;
    ds->is_unsigned = 0;
}

void storage_hold_bit(data_storage *ds, const unsigned char *bytes, uint32_t len,
                      const my_packet *row)
{
    if (len > 8) {
        storage_view(ds, SQL_BINARY, bytes, len, row);
        return;
    }
    uint64_t v = 0;
    for (uint32_t i = 0; i < len; i++)
        v = v << 8 | bytes[i];
    ds->is_unsigned = 1;
    if (v <= UINT32_MAX) {
        ds->v.i32 = (int32_t)(uint32_t)v;
        ds->data_type = SQL_INTEGER;
    } else {
        ds->v.i64 = (int64_t)v;
        ds->data_type = SQL_BIGINT;
    }
}

void clear_values_from(my_statement *s, int index)
{
    my_descriptor *ird = s->ird;
    for (int i = index; i < ird->field_count; i++) {
        storage_begin(&ird->records[i].storage);
        ird->records[i].storage.data_type = 0;
    }
}

void reset_column_values(my_statement *s)
{
    my_descriptor *ird = s->ird;
    if (!ird)
        return;
    storage_release(&ird->bookmark_record.storage);
    for (int i = 0; i < ird->field_count; i++)
        storage_release(&ird->records[i].storage);
}

/* ------------------------------------------------------ text-row reader */

namespace {

int malformed_row(my_statement *s, int index, const char *why)
{
    QV_TRACE(s, LOG_ERROR, "read_text_column: column %d: %s", index + 1, why);
    post_error_col(s, ST_08S01, 0, index + 1, "%s", why);
    clear_values_from(s, index);
    return -1;
}

/* A value that does not read as its column's type (the diagnostic is
 * posted): it is kept as the text the server sent, so nothing is lost and
 * SQL_C_CHAR still shows it. The columns after it are read as usual. */
int undecodable(my_statement *s, int index, int state, const unsigned char *cell, uint32_t len)
{
    data_storage *ds = &s->ird->records[index].storage;
    storage_view(ds, SQL_CHAR, cell, len, s->current_row);
    ds->refused = state;
    return 1;
}

int bad_value(my_statement *s, int index, int row, const unsigned char *cell, uint32_t len)
{
    QV_TRACE(s, LOG_ERROR, "read_text_column: column %d: value %q does not fit its type",
             index + 1, (const char *)cell, (int64_t)len);
    post_error_col(s, row, 0, index + 1, nullptr);
    return undecodable(s, index, row, cell, len);
}

/* Optional '-' and digits: the only integer text the server sends. */
bool plain_integer(const unsigned char *p, uint32_t n, bool *neg, uint64_t *mag)
{
    uint32_t i = 0;
    *neg = n > 0 && p[0] == '-';
    if (*neg)
        i = 1;
    if (i == n)
        return false;
    uint64_t v = 0;
    for (; i < n; i++) {
        unsigned d = unsigned(p[i]) - '0';
        if (d > 9)
            return false;
        /* 19 digits always fit; only a longer text can overflow */
        if (v >= UINT64_MAX / 10 && (v > UINT64_MAX / 10 || d > UINT64_MAX % 10))
            return false;
        v = v * 10 + d;
    }
    *mag = v;
    return true;
}

/* The server's own form of a floating value ("-1.5", "2.5e-7"), read
 * without the general scanner. False for anything else, which the strict
 * scanner then judges; from_chars alone would also take "inf" and "nan". */
bool plain_double(const unsigned char *p, uint32_t n, double *out)
{
    const char *t = (const char *)p, *end = t + n;
    const char *first = n > 0 && *t == '-' ? t + 1 : t;
    if (first == end || *first < '0' || *first > '9')
        return false;
    auto r = std::from_chars(t, end, *out);
    return r.ec == std::errc() && r.ptr == end;
}

/* 32-bit columns are held as SQL_INTEGER; a value that needs more (never
 * from a well-behaved server) is held as SQL_BIGINT rather than cut. */
int hold_integer(my_statement *s, int index, const unsigned char *cell, uint32_t len,
                 bool bigint)
{
    field *f = &s->ird->records[index];
    data_storage *ds = &f->storage;
    bool neg, uns = f->is_unsigned != 0;
    uint64_t mag = 0;
    if (!plain_integer(cell, len, &neg, &mag) || (uns && neg && mag))
        return bad_value(s, index, ST_22018, cell, len);
    if (!bigint && !neg && mag <= (uns ? UINT32_MAX : (uint64_t)INT32_MAX)) {
        ds->v.i32 = (int32_t)(uint32_t)mag;
        ds->is_unsigned = uns;
        ds->data_type = SQL_INTEGER;
        return 0;
    }
    if (!bigint && neg && mag <= 2147483648u) {
        ds->v.i32 = (int32_t)(0u - (uint32_t)mag);
        ds->is_unsigned = 0;
        ds->data_type = SQL_INTEGER;
        return 0;
    }
    if (neg && mag > (uint64_t)INT64_MAX + 1)
        return bad_value(s, index, ST_22003, cell, len);
    ds->v.i64 = neg ? (int64_t)(0 - mag) : (int64_t)mag;
    ds->is_unsigned = !neg && (uns || mag > (uint64_t)INT64_MAX);
    ds->data_type = SQL_BIGINT;
    return 0;
}

int hold_floating(my_statement *s, int index, const unsigned char *cell, uint32_t len,
                  bool single)
{
    data_storage *ds = &s->ird->records[index].storage;
    double d = 0;
    int rc = plain_double(cell, len, &d) ? NUM_OK : text_to_double((const char *)cell, len, &d);
    if (rc != NUM_OK)
        return bad_value(s, index, rc == NUM_OVERFLOW ? ST_22003 : ST_22018, cell, len);
    if (single) {
        if (fabs(d) > FLT_MAX)
            return bad_value(s, index, ST_22003, cell, len);
        ds->v.f = (float)d;
        ds->data_type = SQL_FLOAT;
    } else {
        ds->v.d = d;
        ds->data_type = SQL_DOUBLE;
    }
    return 0;
}

bool fixed_digits(const unsigned char *p, int n, int32_t *v)
{
    int32_t x = 0;
    for (int i = 0; i < n; i++) {
        unsigned d = unsigned(p[i]) - '0';
        if (d > 9)
            return false;
        x = x * 10 + (int32_t)d;
    }
    *v = x;
    return true;
}

/* "YYYY-MM-DD" and "YYYY-MM-DD hh:mm:ss[.fraction]", the forms the server
 * sends, read without the general scanner. False for anything else. */
bool canonical_datetime(const unsigned char *p, uint32_t n, datetime_parts *o)
{
    *o = datetime_parts();
    if (n < 10 || p[4] != '-' || p[7] != '-' || !fixed_digits(p, 4, &o->year) ||
        !fixed_digits(p + 5, 2, &o->month) || !fixed_digits(p + 8, 2, &o->day))
        return false;
    if (n == 10) {
        o->category = DT_DATE;
        return true;
    }
    if (n < 19 || p[10] != ' ' || p[13] != ':' || p[16] != ':' ||
        !fixed_digits(p + 11, 2, &o->hour) || !fixed_digits(p + 14, 2, &o->minute) ||
        !fixed_digits(p + 17, 2, &o->second))
        return false;
    o->category = DT_DATETIME;
    if (n == 19)
        return true;
    if (p[19] != '.' || n == 20)
        return false;
    for (uint32_t i = 20; i < n; i++)
        if (p[i] < '0' || p[i] > '9')
            return false;
    o->fraction_ns = fraction_to_nanos((const char *)p + 20, (const char *)p + n);
    return true;
}

bool all_zero(const datetime_parts &p)
{
    return !p.year && !p.month && !p.day && !p.hour && !p.minute && !p.second && !p.fraction_ns;
}

int hold_datetime(my_statement *s, int index, const unsigned char *cell, uint32_t len,
                  bool date_only)
{
    field *f = &s->ird->records[index];
    data_storage *ds = &f->storage;
    datetime_parts parts;
    int refused = canonical_datetime(cell, len, &parts)
                      ? 0
                      : parse_datetime_text(s, (const char *)cell, len, &parts, index + 1);
    if (refused)
        return undecodable(s, index, refused, cell, len);   /* the scanner has posted why */
    QV_TRACE(s, LOG_DETAIL, "extracted timestamp format %d:%d:%d %d.%d.%d.%d", parts.hour,
             parts.minute, parts.second, parts.day, parts.month, parts.year, parts.fraction_ns);
    const my_connection *c = f->nullable && all_zero(parts) ? handle_conn(s) : nullptr;
    if (c && c->NullDatetimes) {
        ds->isnull = 1;
        ds->data_type = date_only ? SQL_DATE : SQL_TYPE_TIMESTAMP;
        return 0;
    }
    sql_date_value today = {};
    if (parts.category == DT_TIME)
        datetime_today(&today);
    int bad = date_only ? datetime_to_date(&parts, &today, &ds->v.date)
                        : datetime_to_timestamp(&parts, &today, &ds->v.timestamp);
    if (bad)
        return bad_value(s, index, ST_22003, cell, len);
    ds->data_type = date_only ? SQL_TYPE_DATE : SQL_TYPE_TIMESTAMP;
    return 0;
}

int decode_cell(my_statement *s, int index, held_kind kind, const unsigned char *cell,
                uint32_t len)
{
    data_storage *ds = &s->ird->records[index].storage;
    switch (kind) {
    case HK_CHAR:
        storage_view(ds, SQL_CHAR, cell, len, s->current_row);
        return 0;
    case HK_BINARY:
        storage_view(ds, SQL_BINARY, cell, len, s->current_row);
        return 0;
    case HK_DECIMAL:
        /* kept as text: converted only when asked for, and exact whatever
         * the number of digits */
        storage_view(ds, SQL_NUMERIC, cell, len, s->current_row);
        return 0;
    case HK_INT: return hold_integer(s, index, cell, len, false);
    case HK_BIGINT: return hold_integer(s, index, cell, len, true);
    case HK_BIT: storage_hold_bit(ds, cell, len, s->current_row); return 0;
    case HK_REAL: return hold_floating(s, index, cell, len, true);
    case HK_DOUBLE: return hold_floating(s, index, cell, len, false);
    case HK_DATE: return hold_datetime(s, index, cell, len, true);
    case HK_TIMESTAMP: return hold_datetime(s, index, cell, len, false);
    case HK_NONE: break;
    }
    return -1;
}

} // namespace

namespace {

/* The next cell of a text row: packet_get_lenenc_view with the one-byte
 * length every short value has read in place. */
inline int next_cell(my_packet *row, const unsigned char **cell, uint32_t *len)
{
    int32_t pos = row->pos;
    if (pos < row->limit) {
        unsigned lead = row->data[pos];
        if (lead < LENENC_NULL && (int32_t)lead < row->limit - pos) {
            *cell = row->data + pos + 1;
            *len = lead;
            row->pos = pos + 1 + (int32_t)lead;
            return 0;
        }
    }
    return packet_get_lenenc_view(row, cell, len);
}

/* Column index of the text row into its holder: read_text_column without
 * the checks of the column number and of the row's end. */
inline int read_cell(my_statement *s, my_packet *row, int index)
{
    field *f = &s->ird->records[index];
    storage_begin(&f->storage);
    held_kind kind = held_kind_of(f->concise_type);
    if (kind == HK_NONE) {
        QV_TRACE(s, LOG_ERROR, "read_text_column: column %d has type %d", index + 1,
                 f->concise_type);
        post_error_col(s, ST_HY003, 0, index + 1, nullptr);
        clear_values_from(s, index);
        return -1;
    }
    const unsigned char *cell = nullptr;
    uint32_t len = 0;
    int rc = row ? next_cell(row, &cell, &len) : -6;
    if (rc < 0)
        return malformed_row(s, index, "row data ends before its columns do");
    if (rc == 1) {
        f->storage.isnull = 1;
        f->storage.data_type = held_null_type(kind);
        return 0;
    }
    return decode_cell(s, index, kind, cell, len);
}

/* Every byte of a row belongs to a column: more means the row and its
 * description disagree. */
int check_row_end(my_statement *s, const my_packet *row, int last)
{
    if (packet_remaining(row) > 0)
        return malformed_row(s, last, "row data goes on after its last column");
    return 0;
}

} // namespace

int read_text_row(my_statement *s)
{
    my_packet *row = s->current_row;
    int n = desc_column_count(s->ird);
    int result = 0;
    for (int index = 0; index < n; index++) {
        int rc = read_cell(s, row, index);
        if (rc < 0)
            return rc;
        result |= rc;
    }
    return n > 0 && check_row_end(s, row, n - 1) != 0 ? -1 : result;
}

int read_text_column(my_statement *s, int index)
{
    my_descriptor *ird = s->ird;
    if (!ird || index < 0 || index >= ird->field_count) {
        post_error(s, ST_HY000, 0, "no description for column %d", index + 1);
        return -1;
    }
    int rc = read_cell(s, s->current_row, index);
    if (rc != 0)
        return rc;
    return index == desc_column_count(ird) - 1 ? check_row_end(s, s->current_row, index) : 0;
}

/* ------------------------------------------------------------- dispatch */

namespace {

struct conversion {
    int c_type;
    converter convert;
};

/* The target C types and their converters. SQL_C_WCHAR is redirected to
 * get_wchar_utf8 when the application's wide buffers carry UTF-8. */
constexpr conversion conversions[] = {
    {SQL_C_CHAR, get_char},           {SQL_C_WCHAR, get_wchar},
    {SQL_C_SLONG, get_slong},         {SQL_C_LONG, get_slong},
    {SQL_C_ULONG, get_ulong},         {SQL_C_DOUBLE, get_double},
    {SQL_C_SBIGINT, get_sbigint},     {SQL_C_UBIGINT, get_ubigint},
    {SQL_C_TYPE_TIMESTAMP, get_timestamp}, {SQL_C_TIMESTAMP, get_timestamp},
    {SQL_C_NUMERIC, get_numeric},     {SQL_C_SSHORT, get_sshort},
    {SQL_C_SHORT, get_sshort},        {SQL_C_USHORT, get_ushort},
    {SQL_C_UTINYINT, get_utiny},      {SQL_C_TINYINT, get_utiny},
    {SQL_C_STINYINT, get_stiny},      {SQL_C_BIT, get_bit},
    {SQL_C_FLOAT, get_float},         {SQL_C_TYPE_DATE, get_date},
    {SQL_C_DATE, get_date},           {SQL_C_TYPE_TIME, get_time},
    {SQL_C_TIME, get_time},           {SQL_C_BINARY, get_binary},
    {SQL_C_GUID, get_guid},
};

/* The table indexed by C type, built at compile time: a bound column is
 * converted for every row, so finding its converter must not be a search. */
constexpr int C_TYPE_MIN = SQL_C_UTINYINT, C_TYPE_MAX = SQL_C_TYPE_TIMESTAMP;
struct converter_index {
    converter at[C_TYPE_MAX - C_TYPE_MIN + 1];
};
constexpr converter_index index_conversions()
{
    converter_index x{};
    for (const conversion &row : conversions)
        x.at[row.c_type - C_TYPE_MIN] = row.convert;
    return x;
}
constexpr converter_index by_c_type = index_conversions();

converter find_converter(const my_statement *s, int c_type)
{
    if (c_type < C_TYPE_MIN || c_type > C_TYPE_MAX)
        return nullptr;
    if (c_type == SQL_C_WCHAR && wide_is_utf8(handle_conn(s)))
        return get_wchar_utf8;
    return by_c_type.at[c_type - C_TYPE_MIN];
}

/* SQL_ARD_TYPE and SQL_C_DEFAULT resolved to a concrete C type; 0 with a
 * diagnostic when there is none. */
int resolve_target(my_statement *s, int column, const field *f, int target_type)
{
    if (target_type == SQL_ARD_TYPE) {
        my_descriptor *ard = s->ard;
        const field *rec = !ard ? nullptr
                           : column == 0 ? &ard->bookmark_record
                           : column <= ard->field_count ? &ard->records[column - 1]
                                                        : nullptr;
        if (!rec || rec->concise_type == 0 || rec->concise_type == SQL_ARD_TYPE) {
            QV_TRACE(s, LOG_ERROR, "column %d: no type in the row descriptor", column);
            post_error_col(s, ST_HY003, 0, column, nullptr);
            return 0;
        }
        target_type = rec->concise_type;
    }
    if (target_type == SQL_C_DEFAULT)
        target_type = column_default_c_type(s, f);
    return target_type;
}

bool is_variable(converter conv)
{
    return conv == get_char || conv == get_wchar || conv == get_wchar_utf8 || conv == get_binary;
}

/* Whether the held value can be read: something was decoded for the
 * current row, and a view into a row packet still points at the current
 * row (a failed read may have freed it). */
bool value_present(const my_statement *s, const data_storage &ds)
{
    return ds.data_type != 0 && (!ds.bytes_row || ds.bytes_row == s->current_row);
}

} // namespace

int storage_serves(const data_storage &ds, int c_type)
{
    if (!ds.refused)
        return 1;
    /* a refused value is only the server's text, for a buffer that takes it as it is */
    return ds.data_type != 0 &&
           (c_type == SQL_C_CHAR || c_type == SQL_C_WCHAR || c_type == SQL_C_BINARY);
}

converter column_converter(const my_statement *s, int c_type)
{
    return find_converter(s, c_type);
}

namespace {

/* my_get_data once the target type and its converter are known. */
SQLRETURN convert_value(my_statement *s, int column, field *f, int c_type, converter conv,
                        void *target, SQLLEN buffer_length, SQLLEN *ind, SQLLEN *oct)
{
    data_storage &ds = f->storage;
    if (buffer_length < 0 && is_variable(conv)) {
        post_error_col(s, ST_HY090, 0, column, nullptr);
        return SQL_ERROR;
    }
    if (ds.refused && !storage_serves(ds, c_type)) {
        /* the row was read; this value was not, and no other type shows it */
        QV_TRACE(s, LOG_ERROR, "column %d: the row's value was refused", column);
        post_error_col(s, ds.refused, 0, column, nullptr);
        return SQL_ERROR;
    }
    if (!value_present(s, ds)) {
        if (column == 0) {   /* a forward-only result keeps no bookmarks */
            post_error_col(s, ST_HYC00, 0, column, nullptr);
            return SQL_ERROR;
        }
        QV_TRACE(s, LOG_ERROR, "column %d: no value in the current row", column);
        post_error_col(s, ST_24000, 0, column, nullptr);
        return SQL_ERROR;
    }

    /* bytes, or the reusable buffer for character and binary values a
     * reader copied there; a decimal without bytes is the structure */
    const unsigned char *bytes = ds.bytes;
    if (!bytes && (ds.data_type == SQL_CHAR || ds.data_type == SQL_BINARY))
        bytes = ds.buffer;
    conv_ctx c = {s, column, f, target, buffer_length, ind, oct == ind ? nullptr : oct, bytes, 0};
    SQLRETURN rc = ds.isnull && conv != get_guid ? deliver_null(c) : conv(c);
    /* A value is finished once delivered whole, cut (non-piecewise values),
     * or refused; what remains of a long value, and a value only measured,
     * stay for the next call. */
    if (!c.keep_open)
        ds.data_done = 1;
    return rc;
}

/* Whether a character column's bytes are already in the encoding of the
 * application's narrow buffers (column_utf8 in the converters decides the
 * same per value). */
bool narrow_as_held(const my_statement *s, const field *f)
{
    const my_connection *conn = handle_conn(s);
    int cs = f->charset_number;
    if ((cs == 0 || cs == 63) && conn)
        cs = conn->charset;
    bool held_utf8 = charset_is_utf8(conn, cs) != 0;
    return held_utf8 == (conn && conn->ConvToUtf);
}

} // namespace

int bound_direct_copy(const my_statement *s, const field *f, int c_type, int *held_type)
{
    if (f->concise_type == 0)
        return BC_NONE;
    held_kind k = held_kind_of(f->concise_type);
    switch (c_type) {
    case SQL_C_SLONG:
    case SQL_C_LONG:
        if (k != HK_INT || f->is_unsigned)
            return BC_NONE;
        *held_type = SQL_INTEGER;
        return BC_I32;
    case SQL_C_SBIGINT:
        if (k == HK_INT && !f->is_unsigned) {
            *held_type = SQL_INTEGER;
            return BC_I32_TO_I64;
        }
        if (k != HK_BIGINT || f->is_unsigned)
            return BC_NONE;
        *held_type = SQL_BIGINT;
        return BC_I64;
    case SQL_C_DOUBLE:
        if (k != HK_DOUBLE)
            return BC_NONE;
        *held_type = SQL_DOUBLE;
        return BC_F64;
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP:
        if (k != HK_TIMESTAMP)
            return BC_NONE;
        *held_type = SQL_TYPE_TIMESTAMP;
        return BC_TIMESTAMP;
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE:
        if (k != HK_DATE)
            return BC_NONE;
        *held_type = SQL_TYPE_DATE;
        return BC_DATE;
    case SQL_C_CHAR:
        if (k == HK_DECIMAL) {   /* the server's text: digits, sign and point */
            *held_type = SQL_NUMERIC;
            return BC_TEXT;
        }
        if (k != HK_CHAR || !narrow_as_held(s, f))
            return BC_NONE;
        *held_type = SQL_CHAR;
        return BC_TEXT;
    }
    return BC_NONE;
}

SQLRETURN get_bound_value(my_statement *s, const bound_column &b, void *target,
                          SQLLEN buffer_length, SQLLEN *ind, SQLLEN *oct)
{
    if (!b.convert)   /* no converter: my_get_data says why */
        return my_get_data(s, b.column, b.c_type, target, buffer_length, ind, oct);
    field *f = &s->ird->records[b.column - 1];
    const data_storage &ds = f->storage;
    if (ds.data_done)
        return SQL_NO_DATA;
    if (b.direct && bound_direct_copy_value(s, b, ds, target, buffer_length, ind, oct))
        return SQL_SUCCESS;
    return convert_value(s, b.column, f, b.c_type, b.convert, target, buffer_length, ind, oct);
}

SQLRETURN my_get_data(my_statement *s, int column, int target_type, void *target,
                      SQLLEN buffer_length, SQLLEN *ind, SQLLEN *oct)
{
    my_descriptor *ird = s->ird;
    if (!ird || column < 0 || column > ird->field_count) {
        post_error_col(s, ST_07009, 0, column, nullptr);
        return SQL_ERROR;
    }
    field *f = column == 0 ? &ird->bookmark_record : &ird->records[column - 1];
    data_storage &ds = f->storage;
    if (ds.data_done)
        return SQL_NO_DATA;

    int c_type = resolve_target(s, column, f, target_type);
    if (!c_type)
        return SQL_ERROR;
    converter conv = find_converter(s, c_type);
    if (!conv) {
        QV_TRACE(s, LOG_ERROR, "column %d: no conversion to C type %d", column, c_type);
        post_error_col(s, ST_07006, 0, column, nullptr);
        return SQL_ERROR;
    }
    return convert_value(s, column, f, c_type, conv, target, buffer_length, ind, oct);
}
