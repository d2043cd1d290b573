/*
 * Parameter value readers and the text writer.
 */
#include "stmt/my_param_conv.h"

#include <float.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/my_handle.h"
#include "results/my_datetime.h"
#include "results/my_numeric.h"

/* ============================================================ locating */

static int64_t read_len(const unsigned char *at)
{
    SQLLEN v;
    memcpy(&v, at, sizeof v);
    return (int64_t)v;
}

static int requests_dae(int64_t ind)
{
    return ind == SQL_DATA_AT_EXEC || ind <= SQL_LEN_DATA_AT_EXEC_OFFSET;
}

/* The SQL type the conversion aims at: the bound one, or for SQL_DEFAULT
 * the one the C type implies. */
static int effective_sql_type(int sql_type, int c_type, int binary, int odbc2)
{
    if (sql_type != SQL_DEFAULT)
        return sql_type;
    switch (c_type) {
    case 1: case 2: case 3: case 12: case -1: return SQL_CHAR;
    case -8: case -9: case -10: return SQL_WCHAR;
    case -2: case -3: case -4: return SQL_BINARY;
    }
    if (binary && c_type == SQL_C_UBIGINT)
        return odbc2 ? SQL_CHAR : SQL_C_UBIGINT;
    if (binary && (c_type == SQL_C_SBIGINT || c_type == SQL_BIGINT))
        return odbc2 ? SQL_CHAR : SQL_C_SBIGINT;
    return c_type;
}

static const unsigned char *at_row(void *base, int64_t stride, int64_t row, int64_t offset)
{
    if (!base)
        return nullptr;
    return (const unsigned char *)base + stride * row + offset;
}

/* A record filled through the descriptor functions instead of
 * SQLBindParameter has no SQL type of its own: the implementation
 * descriptor's record says what the application meant, and without one the
 * C type decides, as for SQL_DEFAULT. */
static int bound_sql_type(const my_statement *s, int index, const field *f)
{
    if (f->param_sql_type != 0)
        return f->param_sql_type;
    const my_descriptor *ipd = s->ipd;
    if (ipd && index < ipd->field_count && ipd->records[index].concise_type != 0)
        return ipd->records[index].concise_type;
    return SQL_DEFAULT;
}

int param_locate(my_statement *s, int index, int binary, param_ref *r)
{
    memset(r, 0, sizeof *r);
    my_descriptor *apd = s->apd;
    if (index < 0 || index >= apd->field_count) {
        post_error_col(s, ST_07002, 0, index + 1, nullptr);
        return -1;
    }
    field *f = &apd->records[index];
    my_connection *c = handle_conn(s);
    my_environment *env = handle_env(s);
    r->s = s;
    r->apd = f;
    r->index = index;
    r->c_type = f->concise_type;
    r->wide_utf8 = wide_is_utf8(c);
    r->narrow_utf8 = c && c->ConvToUtf;
    r->sql_type = effective_sql_type(bound_sql_type(s, index, f), f->concise_type, binary,
                                     env && env->odbc_version == SQL_OV_ODBC2);
    r->precision = f->precision;
    r->scale = f->scale;
    r->octet_length = f->octet_length;

    int64_t row = s->param_row;
    int64_t offset = apd->bind_offset_ptr ? read_len((const unsigned char *)apd->bind_offset_ptr) : 0;
    int64_t stride = apd->bind_type > 0 ? apd->bind_type : f->octet_length;
    int64_t len_stride = apd->bind_type > 0 ? apd->bind_type : (int64_t)sizeof(SQLLEN);
    r->value = at_row(f->data_ptr, stride, row, offset);
    r->ind = at_row(f->indicator_ptr, len_stride, row, offset);
    r->oct = at_row(f->octet_length_ptr, len_stride, row, offset);
    if (r->ind) {
        r->indicator = read_len(r->ind);
        r->is_null = r->indicator == SQL_NULL_DATA;
        r->is_dae = requests_dae(r->indicator);
    }
    /* The server's description fills in the precision and scale the binding
     * left open. Not the octet length: that is the size of the
     * application's buffer, which only the application knows. */
    if (binary && s->params_described && s->ipd && index < s->ipd->field_count) {
        const field *d = &s->ipd->records[index];
        if (r->precision == 0)
            r->precision = d->precision;
        if (r->scale == 0)
            r->scale = d->scale;
    }
    return 0;
}

int c_type_class(int c_type)
{
    switch (c_type) {
    case 1: case 12: case -1: case 99: return CC_CHAR;
    case -8: case -9: case -10: return CC_WCHAR;
    case 2: case 3: return CC_NUMERIC;
    case 4: case -16: return CC_SLONG;
    case -18: return CC_ULONG;
    case 5: case -15: return CC_SSHORT;
    case -17: return CC_USHORT;
    case -6: case -26: return CC_STINY;
    case -28: return CC_UTINY;
    case -25: case -5: return CC_SBIGINT;
    case -27: return CC_UBIGINT;
    case 8: case 6: return CC_DOUBLE;
    case 7: return CC_FLOAT;
    case -7: return CC_BIT;
    case 9: case 91: return CC_DATE;
    case 10: case 92: return CC_TIME;
    case 11: case 93: return CC_TIMESTAMP;
    case -2: case -3: case -4: return CC_BINARY;
    case -11: return CC_GUID;
    }
    return CC_OTHER;
}

/* ============================================================ lengths */

static int64_t narrow_strlen(const unsigned char *p, int64_t bound)
{
    if (bound > 0) {
        const void *nul = memchr(p, 0, (size_t)bound);
        return nul ? (const unsigned char *)nul - p : bound;
    }
    return (int64_t)strlen((const char *)p);
}

/* Bytes of a terminated UTF-16 text, at most bound bytes when bound > 0. */
static int64_t wide_strlen_bytes(const unsigned char *p, int64_t bound)
{
    int64_t n = 0;
    for (;; n += 2) {
        if (bound > 0 && n + 2 > bound)
            return n;
        uint16_t u;
        memcpy(&u, p + n, 2);
        if (u == 0)
            return n;
    }
}

static int param_column(const param_ref *r) { return r->index + 1; }

template <typename... Args>
static int post_param(const param_ref *r, int row, const char *fmt, Args... args)
{
    post_error_col(r->s, row, 0, param_column(r), fmt, args...);
    return -1;
}

static int post_param(const param_ref *r, int row) { return post_param(r, row, nullptr); }

int param_data_length(const param_ref *r, int wide, int binary, int64_t *len)
{
    /* The buffer the application described (octet_length; each element of a
     * column-wise array has that many bytes): a length beyond it would read
     * the next element, or past the buffer. 0: not described. */
    int64_t element = r->octet_length > 0 ? r->octet_length : 0;
    int64_t given;
    if (r->oct && r->oct != r->ind)
        given = read_len(r->oct);
    else if (r->ind)
        given = r->indicator;
    else if (binary)
        return post_param(r, ST_07006, "binary type found without length information");
    else
        given = SQL_NTS;   /* no length at all: terminated, within the buffer */

    if (given == SQL_NTS) {
        *len = wide ? wide_strlen_bytes(r->value, element) : narrow_strlen(r->value, element);
        QV_TRACE(r->s, LOG_DETAIL, "getting length %d from SQL_NTS", (int)*len);
        return 0;
    }
    /* Beyond the buffer, or beyond what any command can carry, the length
     * cannot be the value's: nothing is read. */
    if (given < 0 || (element > 0 && given > element) || given > MAX_COMMAND_BYTES) {
        QV_TRACE(r->s, LOG_ERROR, "invalid length %l for param %d", given, param_column(r));
        return post_param(r, ST_HY090);
    }
    *len = given;
    return 0;
}

/* ============================================================ as text */

static void set_text(param_chars *out, int n)
{
    out->bytes = (const unsigned char *)out->scratch;
    out->length = n < 0 ? 0 : n;
    out->wide = 0;
    out->utf8 = 0;
}

template <typename T> static T value_as(const param_ref *r)
{
    T v;
    memcpy(&v, r->value, sizeof v);
    return v;
}

/* The fraction of a timestamp with the digits its scale asks for (none for
 * scale 0, at most microseconds: the server keeps no more). */
static int fraction_digits(int scale) { return scale <= 0 ? 0 : (scale > 6 ? 6 : scale); }

static int render_timestamp(const param_ref *r, char *buf, size_t size)
{
    sql_timestamp_value t = value_as<sql_timestamp_value>(r);
    int n = snprintf(buf, size, "%04d-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day,
                     t.hour, t.minute, t.second);
    int d = fraction_digits(r->scale);
    if (d > 0) {
        static const uint32_t div[] = {1000000000, 100000000, 10000000, 1000000, 100000, 10000, 1000};
        n += snprintf(buf + n, size - (size_t)n, ".%0*u", d, (unsigned)(t.fraction / div[d]));
    }
    return n;
}

static int render_guid(const param_ref *r, char *buf, size_t size)
{
    SQLGUID g = value_as<SQLGUID>(r);
    return snprintf(buf, size, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                    (unsigned)g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                    g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

/* Non-finite values have no SQL literal and no column that keeps them. */
static int render_floating(const param_ref *r, double d, int is_float, param_chars *out)
{
    if (!isfinite(d))
        return post_param(r, ST_22003);
    int n = is_float ? float_to_text((float)d, out->scratch, sizeof out->scratch)
                     : double_to_text(d, out->scratch, sizeof out->scratch);
    set_text(out, n);
    return 0;
}

static int chars_of_text(const param_ref *r, int cc, param_chars *out)
{
    int wide = cc == CC_WCHAR && !r->wide_utf8;
    out->bytes = r->value;
    out->wide = wide;
    out->utf8 = cc == CC_WCHAR ? !wide : cc == CC_CHAR && r->narrow_utf8;
    return param_data_length(r, wide, cc == CC_BINARY, &out->length);
}

int get_char_from_param(const param_ref *r, param_chars *out)
{
    int cc = c_type_class(r->c_type);
    char *b = out->scratch;
    const size_t n = sizeof out->scratch;
    out->wide = 0;
    out->utf8 = 0;
    if (!r->value)
        return post_param(r, ST_HY009);
    switch (cc) {
    case CC_CHAR:
    case CC_WCHAR:
    case CC_BINARY: return chars_of_text(r, cc, out);
    case CC_NUMERIC: {
        sql_numeric_value v = value_as<sql_numeric_value>(r);
        size_t len = 0;
        numeric_to_text(&v, b, n, &len);
        set_text(out, (int)strlen(b));
        return 0;
    }
    case CC_SLONG: set_text(out, snprintf(b, n, "%d", value_as<int32_t>(r))); return 0;
    case CC_ULONG: set_text(out, snprintf(b, n, "%u", value_as<uint32_t>(r))); return 0;
    case CC_SSHORT: set_text(out, snprintf(b, n, "%d", value_as<int16_t>(r))); return 0;
    case CC_USHORT: set_text(out, snprintf(b, n, "%u", value_as<uint16_t>(r))); return 0;
    case CC_STINY: set_text(out, snprintf(b, n, "%d", value_as<int8_t>(r))); return 0;
    case CC_UTINY: set_text(out, snprintf(b, n, "%u", value_as<uint8_t>(r))); return 0;
    case CC_SBIGINT: set_text(out, snprintf(b, n, "%lld", (long long)value_as<int64_t>(r))); return 0;
    case CC_UBIGINT:
        set_text(out, snprintf(b, n, "%llu", (unsigned long long)value_as<uint64_t>(r)));
        return 0;
    case CC_DOUBLE: return render_floating(r, value_as<double>(r), 0, out);
    case CC_FLOAT: return render_floating(r, value_as<float>(r), 1, out);
    case CC_BIT: set_text(out, snprintf(b, n, "%d", value_as<uint8_t>(r) != 0)); return 0;
    case CC_DATE: {
        sql_date_value d = value_as<sql_date_value>(r);
        set_text(out, snprintf(b, n, "%04d-%02u-%02u", d.year, d.month, d.day));
        return 0;
    }
    case CC_TIME: {
        sql_time_value t = value_as<sql_time_value>(r);
        set_text(out, snprintf(b, n, "%02u:%02u:%02u", t.hour, t.minute, t.second));
        return 0;
    }
    case CC_TIMESTAMP: set_text(out, render_timestamp(r, b, n)); return 0;
    case CC_GUID: set_text(out, render_guid(r, b, n)); return 0;
    }
    return post_param(r, ST_07006, "unexpected source type %d found in get_char_from_param for param %d",
                      r->c_type, param_column(r));
}

/* Character data as narrow text for the number and date scanners: narrow
 * bytes as they are, wide text by the low byte of each unit (digits and
 * separators are ASCII; anything else fails the scan either way). */
static int narrow_text(const param_ref *r, char *scratch, size_t size, const char **text,
                       size_t *len)
{
    param_chars t;
    if (get_char_from_param(r, &t) != 0)
        return -1;
    if (!t.wide) {
        *text = (const char *)t.bytes;
        *len = (size_t)t.length;
        return 0;
    }
    size_t units = (size_t)t.length / 2, k = 0;
    for (; k < units && k + 1 < size; k++) {
        uint16_t u;
        memcpy(&u, t.bytes + 2 * k, 2);
        scratch[k] = (char)(u & 0xFF);
    }
    scratch[k] = 0;
    *text = scratch;
    *len = k;
    return 0;
}

/* ============================================================ integers */

static const char *int_reader_name(int bits)
{
    return bits == 32 ? "get_integer_from_param" : "get_bigint_from_param";
}

static int text_to_int(const param_ref *r, int bits, param_int *v)
{
    char scratch[128];
    const char *text;
    size_t len;
    if (narrow_text(r, scratch, sizeof scratch, &text, &len) != 0)
        return -1;
    int64_t sv;
    int rc = text_to_int64(text, len, &sv);
    if (rc == NUM_INVALID) {
        QV_TRACE(r->s, LOG_ERROR, bits == 32 ? "Value not converted to signed int"
                                             : "Value not converted to signed bigint");
        return post_param(r, ST_22018);
    }
    if (rc == NUM_OVERFLOW) {
        uint64_t uv;
        if (text_to_uint64(text, len, &uv) == NUM_OVERFLOW) {
            QV_TRACE(r->s, LOG_ERROR, "Value out of range for a signed bigint");
            return post_param(r, ST_22003);
        }
        *v = uv;
        return 0;
    }
    *v = sv;
    return 0;
}

static int numeric_to_int(const param_ref *r, param_int *v)
{
    sql_numeric_value n = value_as<sql_numeric_value>(r);
    int64_t sv;
    if (numeric_to_int64(&n, &sv) != NUM_OVERFLOW) {
        *v = sv;
        return 0;
    }
    uint64_t uv;
    if (numeric_to_uint64(&n, &uv) == NUM_OVERFLOW)
        return post_param(r, ST_22003);
    *v = uv;
    return 0;
}

/* Truncation toward zero within [-2^(bits-1), 2^bits). */
static int floating_to_int(const param_ref *r, double d, int bits, param_int *v)
{
    double lo = -ldexp(1.0, bits - 1), hi = ldexp(1.0, bits);
    double t = trunc(d);
    if (!(t >= lo && t < hi)) {
        QV_TRACE(r->s, LOG_ERROR, "Value out of range for a signed int");
        return post_param(r, ST_22003);
    }
    if (t < 0)
        *v = (int64_t)t;
    else
        *v = (uint64_t)t;
    return 0;
}

static int image_to_int(const param_ref *r, int bits, param_int *v)
{
    int64_t len;
    if (param_data_length(r, 0, 1, &len) != 0)
        return -1;
    if (len != bits / 8) {
        QV_TRACE(r->s, LOG_ERROR, "length (%d) != %d for interger conversion", (int)len, bits / 8);
        return post_param(r, ST_22003);
    }
    if (bits == 32)
        *v = value_as<int32_t>(r);
    else
        *v = value_as<int64_t>(r);
    return 0;
}

static int read_int(const param_ref *r, int bits, param_int *v)
{
    int cc = c_type_class(r->c_type);
    switch (cc) {
    case CC_CHAR:
    case CC_WCHAR: return text_to_int(r, bits, v);
    case CC_NUMERIC: return numeric_to_int(r, v);
    case CC_SLONG: *v = value_as<int32_t>(r); return 0;
    case CC_ULONG: *v = value_as<uint32_t>(r); return 0;
    case CC_SSHORT: *v = value_as<int16_t>(r); return 0;
    case CC_USHORT: *v = value_as<uint16_t>(r); return 0;
    case CC_STINY: *v = value_as<int8_t>(r); return 0;
    case CC_UTINY: *v = value_as<uint8_t>(r); return 0;
    case CC_SBIGINT: *v = value_as<int64_t>(r); return 0;
    case CC_UBIGINT: *v = value_as<uint64_t>(r); return 0;
    case CC_DOUBLE: return floating_to_int(r, value_as<double>(r), bits, v);
    case CC_FLOAT: return floating_to_int(r, value_as<float>(r), bits, v);
    case CC_BIT: *v = value_as<uint8_t>(r) != 0; return 0;
    case CC_BINARY: return image_to_int(r, bits, v);
    case CC_DATE:
    case CC_TIME:
    case CC_TIMESTAMP:
    case CC_GUID:
        if (bits == 32) {
            QV_TRACE(r->s, LOG_ERROR, "unable to convert a %d to a integer", r->c_type);
            return post_param(r, ST_22018);
        }
        break;
    }
    return post_param(r, ST_07006, "unexpected source type %d found in %s for param %d", r->c_type,
                      int_reader_name(bits), param_column(r));
}

int get_integer_from_param(const param_ref *r, int bits, param_int *v)
{
    if (!r->value)
        return post_param(r, ST_HY009);
    if (read_int(r, bits, v) != 0)
        return -1;
    param_int lo = -((param_int)1 << (bits - 1)), hi = ((param_int)1 << bits) - 1;
    if (*v < lo || *v > hi) {
        QV_TRACE(r->s, LOG_ERROR, bits == 32 ? "Value out of range for a signed int"
                                             : "Value out of range for a signed bigint");
        return post_param(r, ST_22003);
    }
    return 0;
}

/* ============================================================ floating */

static int text_to_floating(const param_ref *r, double *v)
{
    char scratch[128];
    const char *text;
    size_t len;
    if (narrow_text(r, scratch, sizeof scratch, &text, &len) != 0)
        return -1;
    int rc = text_to_double(text, len, v);
    if (rc == NUM_INVALID)
        return post_param(r, ST_22018);
    if (rc == NUM_OVERFLOW)
        return post_param(r, ST_22003);
    return 0;
}

/* image: the byte size of the binary image the target takes (8 or 4). */
static int read_floating(const param_ref *r, int image, double *v, const char *reader)
{
    if (!r->value)
        return post_param(r, ST_HY009);
    switch (c_type_class(r->c_type)) {
    case CC_CHAR:
    case CC_WCHAR: return text_to_floating(r, v);
    case CC_NUMERIC: {
        sql_numeric_value n = value_as<sql_numeric_value>(r);
        numeric_to_double(&n, v);
        return 0;
    }
    case CC_SLONG: *v = value_as<int32_t>(r); return 0;
    case CC_ULONG: *v = value_as<uint32_t>(r); return 0;
    case CC_SSHORT: *v = value_as<int16_t>(r); return 0;
    case CC_USHORT: *v = value_as<uint16_t>(r); return 0;
    case CC_STINY: *v = value_as<int8_t>(r); return 0;
    case CC_UTINY: *v = value_as<uint8_t>(r); return 0;
    case CC_SBIGINT: *v = (double)value_as<int64_t>(r); return 0;
    case CC_UBIGINT: *v = (double)value_as<uint64_t>(r); return 0;
    case CC_DOUBLE: *v = value_as<double>(r); return 0;
    case CC_FLOAT: *v = value_as<float>(r); return 0;
    case CC_BIT: *v = value_as<uint8_t>(r) != 0; return 0;
    case CC_BINARY: {
        int64_t len;
        if (param_data_length(r, 0, 1, &len) != 0)
            return -1;
        if (len != image) {
            QV_TRACE(r->s, LOG_ERROR, image == 8 ? "Incorrect length for double image %d"
                                                 : "Incorrect length for float image %d", (int)len);
            return post_param(r, ST_22003);
        }
        *v = image == 8 ? value_as<double>(r) : (double)value_as<float>(r);
        return 0;
    }
    }
    return post_param(r, ST_07006, "unexpected source type %d found in %s for param %d", r->c_type,
                      reader, param_column(r));
}

int get_double_from_param(const param_ref *r, double *v)
{
    if (read_floating(r, 8, v, "get_double_from_param") != 0)
        return -1;
    if (!isfinite(*v))
        return post_param(r, ST_22003);
    return 0;
}

int get_float_from_param(const param_ref *r, float *v)
{
    double d;
    if (read_floating(r, 4, &d, "get_float_from_param") != 0)
        return -1;
    /* a double beyond the float range would become an infinity */
    if (!isfinite(d) || fabs(d) > FLT_MAX)
        return post_param(r, ST_22003);
    *v = (float)d;
    return 0;
}

/* ============================================================ numeric */

static int numeric_status(const param_ref *r, int rc)
{
    if (rc == NUM_OVERFLOW || rc == NUM_INVALID)
        return post_param(r, ST_22003);
    return 0;
}

int get_numeric_from_param(const param_ref *r, sql_numeric_value *v)
{
    if (!r->value)
        return post_param(r, ST_HY009);
    int p = r->precision, s = r->scale;
    switch (c_type_class(r->c_type)) {
    case CC_NUMERIC: *v = value_as<sql_numeric_value>(r); return 0;
    case CC_SLONG: return numeric_status(r, int_to_numeric(value_as<int32_t>(r), v, p, s));
    case CC_ULONG: return numeric_status(r, int_to_numeric(value_as<uint32_t>(r), v, p, s));
    case CC_SSHORT: return numeric_status(r, int_to_numeric(value_as<int16_t>(r), v, p, s));
    case CC_USHORT: return numeric_status(r, int_to_numeric(value_as<uint16_t>(r), v, p, s));
    case CC_STINY: return numeric_status(r, int_to_numeric(value_as<int8_t>(r), v, p, s));
    case CC_UTINY: return numeric_status(r, int_to_numeric(value_as<uint8_t>(r), v, p, s));
    case CC_BIT: return numeric_status(r, int_to_numeric(value_as<uint8_t>(r) != 0, v, p, s));
    case CC_SBIGINT: return numeric_status(r, int_to_numeric(value_as<int64_t>(r), v, p, s));
    case CC_UBIGINT: return numeric_status(r, uint_to_numeric(value_as<uint64_t>(r), v, p, s));
    case CC_DOUBLE: return numeric_status(r, double_to_numeric(value_as<double>(r), v, p, s));
    case CC_FLOAT: return numeric_status(r, double_to_numeric(value_as<float>(r), v, p, s));
    case CC_BINARY: {
        int64_t len;
        if (param_data_length(r, 0, 1, &len) != 0)
            return -1;
        if (len != (int64_t)sizeof *v) {
            QV_TRACE(r->s, LOG_ERROR, "Incorrect length for numeric image %d", (int)len);
            return post_param(r, ST_22003);
        }
        *v = value_as<sql_numeric_value>(r);
        return 0;
    }
    }
    return post_param(r, ST_07006, "unexpected source type %d found in get_numeric_from_param for param %d",
                      r->c_type, param_column(r));
}

/* ============================================================ timestamp */

static int text_to_timestamp(const param_ref *r, sql_timestamp_value *v)
{
    char scratch[128];
    const char *text;
    size_t len;
    if (narrow_text(r, scratch, sizeof scratch, &text, &len) != 0)
        return -1;
    QV_TRACE(r->s, LOG_DETAIL, "Processing timestamp from char format %d, %l", r->c_type,
             r->indicator);
    QV_TRACE(r->s, LOG_DETAIL, "timestamp format>%q<", text, (int64_t)len);
    datetime_parts parts;
    if (parse_datetime_text(r->s, text, len, &parts, param_column(r)) != 0)
        return -1;
    sql_date_value today;
    datetime_today(&today);
    if (datetime_to_timestamp(&parts, &today, v) != 0)
        return post_param(r, ST_22003);
    QV_TRACE(r->s, LOG_DETAIL, "extracted timestamp format %d:%d:%d %d.%d.%d.%d", v->year,
             v->month, v->day, v->hour, v->minute, v->second, (int)v->fraction);
    return 0;
}

int get_timestamp_from_param(const param_ref *r, sql_timestamp_value *v)
{
    if (!r->value)
        return post_param(r, ST_HY009);
    memset(v, 0, sizeof *v);
    switch (c_type_class(r->c_type)) {
    case CC_CHAR:
    case CC_WCHAR: return text_to_timestamp(r, v);
    case CC_DATE: {
        sql_date_value d = value_as<sql_date_value>(r);
        v->year = d.year;
        v->month = d.month;
        v->day = d.day;
        return 0;
    }
    case CC_TIME: {
        sql_date_value today;
        datetime_today(&today);
        sql_time_value t = value_as<sql_time_value>(r);
        *v = {today.year, today.month, today.day, t.hour, t.minute, t.second, 0};
        return 0;
    }
    case CC_TIMESTAMP: *v = value_as<sql_timestamp_value>(r); return 0;
    case CC_BINARY: {
        int64_t len;
        if (param_data_length(r, 0, 1, &len) != 0)
            return -1;
        if (len != (int64_t)sizeof *v) {
            QV_TRACE(r->s, LOG_ERROR, "Incorrect length for DATETIME image %d", (int)len);
            return post_param(r, ST_22003);
        }
        *v = value_as<sql_timestamp_value>(r);
        return 0;
    }
    }
    return post_param(r, ST_07006, "unexpected source type %d found in get_timestamp_from_param for param %d",
                      r->c_type, param_column(r));
}

/* ============================================================ binary */

static int hex_value(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;   /* not a hex digit: counts as 0 */
}

static int hex_to_bytes(const param_ref *r, param_bytes *out)
{
    param_chars t;
    if (chars_of_text(r, CC_CHAR, &t) != 0)
        return -1;
    const unsigned char *h = t.bytes;
    int64_t n = t.length;
    if (n > 2 && h[0] == '0' && (h[1] == 'x' || h[1] == 'X')) {
        h += 2;
        n -= 2;
    }
    int64_t count = n / 2;   /* an odd last digit is ignored */
    unsigned char *dst = out->scratch;
    if (count > (int64_t)sizeof out->scratch) {
        dst = out->owned = (unsigned char *)malloc((size_t)count);
        if (!dst)
            return post_param(r, ST_HY001, "Failed to allocat ememory");
    }
    for (int64_t i = 0; i < count; i++)
        dst[i] = (unsigned char)(hex_value(h[2 * i]) << 4 | hex_value(h[2 * i + 1]));
    out->bytes = dst;
    out->length = count;
    return 0;
}

static int image_bytes(const param_ref *r, int64_t size, param_bytes *out)
{
    out->bytes = r->value;
    out->length = size;
    return 0;
}

int get_binary_from_param(const param_ref *r, param_bytes *out)
{
    out->owned = nullptr;
    out->bytes = nullptr;
    out->length = 0;
    if (!r->value)
        return post_param(r, ST_HY009);
    int cc = c_type_class(r->c_type);
    if (r->c_type == SQL_C_DEFAULT || cc == CC_BINARY || cc == CC_WCHAR) {
        param_chars t;
        if (chars_of_text(r, cc == CC_WCHAR ? CC_WCHAR : CC_BINARY, &t) != 0)
            return -1;
        out->bytes = t.bytes;
        out->length = t.length;
        return 0;
    }
    switch (cc) {
    case CC_CHAR: return hex_to_bytes(r, out);
    case CC_NUMERIC: return image_bytes(r, 19, out);
    case CC_SLONG: case CC_ULONG: case CC_FLOAT: return image_bytes(r, 4, out);
    case CC_SSHORT: case CC_USHORT: return image_bytes(r, 2, out);
    case CC_DOUBLE: case CC_SBIGINT: case CC_UBIGINT: return image_bytes(r, 8, out);
    case CC_STINY: case CC_UTINY: case CC_BIT: return image_bytes(r, 1, out);
    case CC_DATE: case CC_TIME: return image_bytes(r, 6, out);
    case CC_TIMESTAMP: case CC_GUID: return image_bytes(r, 16, out);
    }
    return post_param(r, ST_07006, "unexpected source type %d found in get_binary_from_param for param %d",
                      r->c_type, param_column(r));
}

/* ============================================================ number text */

static unsigned unit_at(const param_chars *t, int64_t i)
{
    if (!t->wide)
        return t->bytes[i];
    uint16_t u;
    memcpy(&u, t->bytes + 2 * i, 2);
    return u;
}

static int is_blank(unsigned c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
static int is_digit(unsigned c) { return c >= '0' && c <= '9'; }

static int64_t skip_digits(const param_chars *t, int64_t i, int64_t n, int64_t *count)
{
    int64_t start = i;
    while (i < n && is_digit(unit_at(t, i)))
        i++;
    *count = i - start;
    return i;
}

int param_number_span(const param_ref *r, const param_chars *t, int64_t *from, int64_t *to)
{
    int64_t n = t->wide ? t->length / 2 : t->length;
    for (int64_t k = 0; k < n; k++)
        if (unit_at(t, k) == 0) {   /* the application's text ends at a NUL */
            n = k;
            break;
        }
    int64_t i = 0, digits = 0, more = 0;
    while (i < n && is_blank(unit_at(t, i)))
        i++;
    *from = i;
    if (i < n && (unit_at(t, i) == '+' || unit_at(t, i) == '-'))
        i++;
    i = skip_digits(t, i, n, &digits);
    if (i < n && unit_at(t, i) == '.') {
        i = skip_digits(t, i + 1, n, &more);
        digits += more;
    }
    if (digits > 0 && i < n && (unit_at(t, i) == 'e' || unit_at(t, i) == 'E')) {
        int64_t j = i + 1;
        if (j < n && (unit_at(t, j) == '+' || unit_at(t, j) == '-'))
            j++;
        j = skip_digits(t, j, n, &more);
        i = more > 0 ? j : -1;   /* an exponent needs digits */
    }
    if (i >= 0)
        *to = i;
    while (i >= 0 && i < n && is_blank(unit_at(t, i)))
        i++;
    if (digits == 0 || i != n) {
        QV_TRACE(r->s, LOG_ERROR, "parameter %d is not a number", param_column(r));
        return post_param(r, ST_22018);
    }
    return 0;
}

/* ============================================================ text out */

void tout_init(text_out *o, my_packet *p, const my_connection *c, int escape)
{
    o->p = p;
    o->escape = escape;
    o->utf8 = conn_wire_utf8(c);
    o->failed = 0;
    o->total = 0;
    o->n = 0;
}

static void tout_flush(text_out *o)
{
    if (o->p && o->n && !o->failed && packet_put_bytes(o->p, o->buf, o->n) != 0)
        o->failed = 1;
    o->n = 0;
}

static inline void tout_put(text_out *o, unsigned char b)
{
    if (o->n == sizeof o->buf)
        tout_flush(o);
    o->buf[o->n++] = b;
    o->total++;
}

static void tout_raw(text_out *o, const unsigned char *b, size_t n)
{
    o->total += (int64_t)n;
    if (n <= sizeof o->buf - o->n) {
        memcpy(o->buf + o->n, b, n);
        o->n += n;
        return;
    }
    tout_flush(o);
    if (o->p && !o->failed && packet_put_bytes(o->p, b, n) != 0)
        o->failed = 1;
}

/* Inside '...': with backslash escapes the server reads \ as an escape, so
 * every character it treats specially is escaped; under
 * NO_BACKSLASH_ESCAPES a backslash is plain text and only the quote needs
 * doubling. */
static void put_escaped_backslash(text_out *o, unsigned char c)
{
    char e = 0;
    switch (c) {
    case 0: e = '0'; break;
    case 8: e = 'b'; break;
    case '\t': e = 't'; break;
    case '\n': e = 'n'; break;
    case '\r': e = 'r'; break;
    case 26: e = 'Z'; break;
    case '"': case '\'': case '\\': e = (char)c; break;
    }
    if (e) {
        tout_put(o, '\\');
        tout_put(o, (unsigned char)e);
    } else {
        tout_put(o, c);
    }
}

void tout_bytes(text_out *o, const void *bytes, size_t n)
{
    const unsigned char *b = (const unsigned char *)bytes;
    switch (o->escape) {
    case ESC_NONE: tout_raw(o, b, n); return;
    case ESC_BACKSLASH:
        for (size_t i = 0; i < n; i++)
            put_escaped_backslash(o, b[i]);
        return;
    default:
        for (size_t i = 0; i < n; i++) {
            if (b[i] == '\'')
                tout_put(o, '\'');
            tout_put(o, b[i]);
        }
    }
}

void tout_ascii(text_out *o, const char *s) { tout_raw(o, (const unsigned char *)s, strlen(s)); }

static int is_high_surrogate(uint16_t u) { return u >= 0xD800 && u <= 0xDBFF; }

/* Encodes complete units; a trailing high surrogate stays for its partner. */
static size_t encode_units(text_out *o, const uint16_t *u, size_t k)
{
    size_t m = k;
    if (m && is_high_surrogate(u[m - 1]))
        m--;
    if (o->utf8) {
        unsigned char bytes[3 * 512];
        for (size_t done = 0; done < m;) {
            size_t take = m - done > 512 ? 512 : m - done;
            if (is_high_surrogate(u[done + take - 1]) && done + take < m)
                take--;   /* keep a pair in one call */
            size_t nb = utf16_encode_utf8(u + done, take, bytes);
            tout_bytes(o, bytes, nb);
            done += take;
        }
        return m;
    }
    for (size_t i = 0; i < m;) {
        uint32_t cp;
        i += utf16_next(u + i, m - i, &cp);
        unsigned char b = cp <= 0xFF ? (unsigned char)cp : '?';
        tout_bytes(o, &b, 1);
    }
    return m;
}

void tout_wide(text_out *o, utf16_tail *tail, const void *data, size_t n)
{
    const unsigned char *b = (const unsigned char *)data;
    uint16_t units[512];
    size_t k = 0;
    /* units held from the last call first, then whole units of the input */
    unsigned char pending[6];
    size_t have = (size_t)tail->len;
    memcpy(pending, tail->bytes, have);
    tail->len = 0;
    size_t i = 0;
    while (have < 2 && i < n)
        pending[have++] = b[i++];
    for (size_t j = 0; j + 1 < have; j += 2)
        memcpy(&units[k++], pending + j, 2);
    if (have % 2) {   /* the tail was one odd byte: pair it up */
        if (i < n) {
            unsigned char pair[2] = {pending[have - 1], b[i++]};
            memcpy(&units[k++], pair, 2);
        } else {
            tail->bytes[tail->len++] = pending[have - 1];
        }
    }
    while (i + 1 < n) {
        size_t take = (n - i) / 2;
        if (take > 512 - k)
            take = 512 - k;
        memcpy(units + k, b + i, 2 * take);
        k += take;
        i += 2 * take;
        size_t done = encode_units(o, units, k);
        memmove(units, units + done, (k - done) * sizeof units[0]);
        k -= done;
    }
    size_t done = encode_units(o, units, k);
    if (done < k) {   /* a high surrogate waits */
        memcpy(tail->bytes + tail->len, &units[done], 2);
        tail->len += 2;
    }
    if (i < n)
        tail->bytes[tail->len++] = b[i];
}

void tout_wide_end(text_out *o, utf16_tail *tail)
{
    if (tail->len >= 2) {
        static const uint16_t replacement = 0xFFFD;
        encode_units(o, &replacement, 1);
    }
    tail->len = 0;
}

int tout_finish(text_out *o)
{
    tout_flush(o);
    return o->failed ? -1 : 0;
}

/* UTF-8 text for a single-byte session: each character as its Latin-1
 * byte, '?' for those Latin-1 cannot hold. */
static void tout_utf8_as_latin1(text_out *o, const unsigned char *b, size_t n)
{
    for (size_t i = 0; i < n;) {
        uint32_t cp = b[i];
        i += cp < 0x80 ? 1 : utf8_next(b + i, n - i, &cp);
        unsigned char one = cp <= 0xFF ? (unsigned char)cp : '?';
        tout_bytes(o, &one, 1);
    }
}

static int chars_as_latin1(const text_out *o, const param_chars *t)
{
    return !t->wide && t->utf8 && !o->utf8;
}

int64_t chars_wire_length(const my_connection *c, const param_chars *t)
{
    if (!t->wide && !(t->utf8 && !conn_wire_utf8(c)))
        return t->length;
    text_out o;
    tout_init(&o, nullptr, c, ESC_NONE);
    tout_chars(&o, t);
    return o.total;
}

void tout_chars(text_out *o, const param_chars *t)
{
    if (chars_as_latin1(o, t)) {
        tout_utf8_as_latin1(o, t->bytes, (size_t)t->length);
        return;
    }
    if (!t->wide) {
        tout_bytes(o, t->bytes, (size_t)t->length);
        return;
    }
    utf16_tail tail = {{0}, 0};
    tout_wide(o, &tail, t->bytes, (size_t)t->length);
    tout_wide_end(o, &tail);
}
