/*
 * Parameters on the wire: the binary parameter block of COM_STMT_EXECUTE,
 * SQL literals for COM_QUERY, the check before an execution and data at
 * execution.
 *
 * Both wire forms convert every value before they write anything: a command
 * over 16 MB leaves the driver in pieces while it is being built, so a
 * refusal half-way would leave the server waiting for the rest of a packet.
 */
#include "stmt/my_param.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <vector>

#include "frame/my_handle.h"
#include "protocol/my_proto.h"
#include "results/my_numeric.h"
#include "stmt/my_param_conv.h"

enum { COM_STMT_SEND_LONG_DATA = 0x18 };
enum { UNSIGNED_PARAM = 0x80 };   /* high byte of a parameter's type: value is unsigned */

/* ============================================================ type rules */

enum text_form { TF_QUOTED = 1, TF_BARE, TF_HEX };
enum wire_form { WF_STRING = 1, WF_DECIMAL, WF_INT, WF_BIT, WF_DOUBLE, WF_FLOAT, WF_DATE,
                 WF_TIME, WF_DATETIME, WF_BLOB };
/* Which values an integer type takes: those of its signed range, of its
 * unsigned range, or either (the type goes out unsigned when the value
 * needs it). */
enum sign_rule { SIGN_EITHER = 0, SIGN_SIGNED, SIGN_UNSIGNED };

/* How a parameter of one SQL type goes out in each protocol. The C-type
 * codes among them are what SQL_DEFAULT leaves as the SQL type. */
struct type_rule {
    int sql_type;
    int text_form;
    int wire_type;
    int wire_form;
    int width;      /* bytes of an integer */
    int sign;
    int bits;       /* 32: get_integer_from_param's rules, 64: get_bigint's */
};

static const type_rule type_rules[] = {
    {SQL_CHAR, TF_QUOTED, MYSQL_TYPE_VARCHAR, WF_STRING, 0, 0, 0},
    {SQL_VARCHAR, TF_QUOTED, MYSQL_TYPE_VARCHAR, WF_STRING, 0, 0, 0},
    {SQL_LONGVARCHAR, TF_QUOTED, MYSQL_TYPE_VARCHAR, WF_STRING, 0, 0, 0},
    /* no binary type of their own: character data in the connection's encoding */
    {SQL_WCHAR, TF_QUOTED, MYSQL_TYPE_VARCHAR, WF_STRING, 0, 0, 0},
    {SQL_WVARCHAR, TF_QUOTED, MYSQL_TYPE_VARCHAR, WF_STRING, 0, 0, 0},
    {SQL_WLONGVARCHAR, TF_QUOTED, MYSQL_TYPE_VARCHAR, WF_STRING, 0, 0, 0},
    {SQL_GUID, TF_QUOTED, MYSQL_TYPE_VARCHAR, WF_STRING, 0, 0, 0},
    {SQL_DATE, TF_QUOTED, MYSQL_TYPE_DATE, WF_DATE, 0, 0, 0},
    {SQL_TYPE_DATE, TF_QUOTED, MYSQL_TYPE_DATE, WF_DATE, 0, 0, 0},
    {SQL_TIME, TF_QUOTED, MYSQL_TYPE_TIME, WF_TIME, 0, 0, 0},
    {SQL_TYPE_TIME, TF_QUOTED, MYSQL_TYPE_TIME, WF_TIME, 0, 0, 0},
    {SQL_TIMESTAMP, TF_QUOTED, MYSQL_TYPE_TIMESTAMP, WF_DATETIME, 0, 0, 0},
    {SQL_TYPE_TIMESTAMP, TF_QUOTED, MYSQL_TYPE_TIMESTAMP, WF_DATETIME, 0, 0, 0},
    {SQL_NUMERIC, TF_BARE, MYSQL_TYPE_DECIMAL, WF_DECIMAL, 0, 0, 0},
    {SQL_DECIMAL, TF_BARE, MYSQL_TYPE_DECIMAL, WF_DECIMAL, 0, 0, 0},
    {SQL_INTEGER, TF_BARE, MYSQL_TYPE_LONG, WF_INT, 4, SIGN_EITHER, 32},
    {SQL_C_SLONG, TF_BARE, MYSQL_TYPE_LONG, WF_INT, 4, SIGN_SIGNED, 32},
    {SQL_C_ULONG, TF_BARE, MYSQL_TYPE_LONG, WF_INT, 4, SIGN_UNSIGNED, 32},
    {SQL_SMALLINT, TF_BARE, MYSQL_TYPE_SHORT, WF_INT, 2, SIGN_EITHER, 32},
    {SQL_C_SSHORT, TF_BARE, MYSQL_TYPE_SHORT, WF_INT, 2, SIGN_SIGNED, 32},
    {SQL_C_USHORT, TF_BARE, MYSQL_TYPE_SHORT, WF_INT, 2, SIGN_UNSIGNED, 32},
    {SQL_TINYINT, TF_BARE, MYSQL_TYPE_TINY, WF_INT, 1, SIGN_EITHER, 32},
    {SQL_C_STINYINT, TF_BARE, MYSQL_TYPE_TINY, WF_INT, 1, SIGN_SIGNED, 32},
    {SQL_C_UTINYINT, TF_BARE, MYSQL_TYPE_TINY, WF_INT, 1, SIGN_UNSIGNED, 32},
    {SQL_BIT, TF_BARE, MYSQL_TYPE_TINY, WF_BIT, 1, 0, 32},
    {SQL_BIGINT, TF_BARE, MYSQL_TYPE_LONGLONG, WF_INT, 8, SIGN_EITHER, 64},
    {SQL_C_SBIGINT, TF_BARE, MYSQL_TYPE_LONGLONG, WF_INT, 8, SIGN_SIGNED, 64},
    {SQL_C_UBIGINT, TF_BARE, MYSQL_TYPE_LONGLONG, WF_INT, 8, SIGN_UNSIGNED, 64},
    {SQL_FLOAT, TF_BARE, MYSQL_TYPE_DOUBLE, WF_DOUBLE, 0, 0, 0},
    {SQL_DOUBLE, TF_BARE, MYSQL_TYPE_DOUBLE, WF_DOUBLE, 0, 0, 0},
    {SQL_REAL, TF_BARE, MYSQL_TYPE_FLOAT, WF_FLOAT, 0, 0, 0},
    {SQL_BINARY, TF_HEX, MYSQL_TYPE_BLOB, WF_BLOB, 0, 0, 0},
    {SQL_VARBINARY, TF_HEX, MYSQL_TYPE_BLOB, WF_BLOB, 0, 0, 0},
    {SQL_LONGVARBINARY, TF_HEX, MYSQL_TYPE_BLOB, WF_BLOB, 0, 0, 0},
};

static const type_rule *find_rule(int sql_type)
{
    for (const type_rule &t : type_rules)
        if (t.sql_type == sql_type)
            return &t;
    return nullptr;
}

static int is_binary_sql_type(int t) { return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY; }

/* fmt takes a (when it has a conversion) and then the parameter number. */
static int post_param(my_statement *s, int index, int row, const char *fmt = nullptr, int a = 0)
{
    post_error_col(s, row, 0, index + 1, fmt, a, index + 1);
    return -1;
}

/* A packet write failed: the packet layer has posted a failed send; anything
 * else was memory. */
static int write_failed(my_statement *s, int diags_before)
{
    if (diag_count(s) == diags_before)
        post_error(s, ST_HY001, 0, nullptr);
    return -1;
}

/* ============================================================ shared steps */

/* An integer value checked against the SQL type's range; *unsigned_out says
 * whether it goes out as an unsigned value. */
static int fit_integer(const param_ref *r, const type_rule *t, param_int v, int *unsigned_out)
{
    int bits = 8 * t->width;
    param_int smax = ((param_int)1 << (bits - 1)) - 1, smin = -smax - 1;
    param_int umax = ((param_int)1 << bits) - 1;
    if (t->sign != SIGN_UNSIGNED && v >= smin && v <= smax) {
        *unsigned_out = 0;
        return 0;
    }
    if (t->sign != SIGN_SIGNED && v >= 0 && v <= umax) {
        *unsigned_out = 1;
        return 0;
    }
    QV_TRACE(r->s, LOG_ERROR, "Value out of range for a %d-byte integer parameter %d", t->width,
             r->index + 1);
    return post_param(r->s, r->index, ST_22003);
}

static int print_int(param_int v, char *buf, size_t size)
{
    if (v < 0)
        return snprintf(buf, size, "%lld", (long long)v);
    return snprintf(buf, size, "%llu", (unsigned long long)v);
}

static void text_in_scratch(param_chars *t, int n)
{
    t->bytes = (const unsigned char *)t->scratch;
    t->length = n < 0 ? 0 : n;
    t->wide = 0;
    t->utf8 = 0;
}

/* Character data that must be a number: checked, and reduced to the
 * number's own narrow characters. */
static int checked_number(const param_ref *r, param_chars *t)
{
    int64_t from, to;
    if (param_number_span(r, t, &from, &to) != 0)
        return -1;
    if (!t->wide) {
        t->bytes += from;
        t->length = to - from;
        return 0;
    }
    if (to - from >= (int64_t)sizeof t->scratch)
        return post_param(r->s, r->index, ST_22003);
    for (int64_t i = from; i < to; i++) {
        uint16_t u;
        memcpy(&u, t->bytes + 2 * i, 2);
        t->scratch[i - from] = (char)u;   /* ASCII: checked above */
    }
    text_in_scratch(t, (int)(to - from));
    return 0;
}

/* A numeric structure as decimal text; the protocol's DECIMAL holds no more
 * than 38 digits of either kind here. */
static int numeric_text(const param_ref *r, param_chars *t)
{
    sql_numeric_value v;
    if (get_numeric_from_param(r, &v) != 0)
        return -1;
    if (v.precision > 38 || v.scale > 38) {
        QV_TRACE(r->s, LOG_ERROR, "numeric precision %d or scale %d above 38", v.precision, v.scale);
        return post_param(r->s, r->index, ST_22003);
    }
    size_t len = 0;
    numeric_to_text(&v, t->scratch, sizeof t->scratch, &len);
    text_in_scratch(t, (int)strlen(t->scratch));
    return 0;
}

/* Data at execution is used only for the row whose sequence collected it. */
static int dae_supplied(const param_ref *r)
{
    my_statement *s = r->s;
    if (s->dae_ready && s->dae_row == s->param_row)
        return 0;
    QV_TRACE(s, LOG_ERROR, "no data at execution for param %d of row %d", r->index + 1,
             s->param_row);
    post_error_col(s, ST_HY000, 0, r->index + 1,
                   "data at execution for parameter %d of row %d was not supplied", r->index + 1,
                   s->param_row + 1);
    return -1;
}

/* ============================================================ binary block */

enum value_kind { V_NONE = 0, V_FIXED, V_CHARS, V_BYTES };

/* One parameter converted for COM_STMT_EXECUTE. */
struct wire_value {
    unsigned type;
    unsigned flags;
    int null_bit;
    int kind;
    unsigned char fixed[16];
    int fixed_len;
    int64_t chars_length;   /* wire bytes of chars, counted once */
    param_chars chars;
    param_bytes bytes;
};

static void put_le(unsigned char *b, uint64_t v, int n)
{
    for (int i = 0; i < n; i++)
        b[i] = (unsigned char)(v >> (8 * i));
}

static int wire_integer(const param_ref *r, const type_rule *t, wire_value *w)
{
    param_int v;
    if (get_integer_from_param(r, t->bits, &v) != 0)
        return -1;
    int is_unsigned;
    if (fit_integer(r, t, v, &is_unsigned) != 0)
        return -1;
    w->flags = is_unsigned ? UNSIGNED_PARAM : 0;
    w->kind = V_FIXED;
    w->fixed_len = t->width;
    put_le(w->fixed, (uint64_t)v, t->width);
    return 0;
}

static int wire_floating(const param_ref *r, int is_float, wire_value *w)
{
    w->kind = V_FIXED;
    if (is_float) {
        float f;
        if (get_float_from_param(r, &f) != 0)
            return -1;
        memcpy(w->fixed, &f, 4);
        w->fixed_len = 4;
        return 0;
    }
    double d;
    if (get_double_from_param(r, &d) != 0)
        return -1;
    memcpy(w->fixed, &d, 8);
    w->fixed_len = 8;
    return 0;
}

/* DATE, TIME and DATETIME in the binary protocol's layouts: a length byte
 * and the fields. A TIME keeps its microseconds, and hours beyond a day go
 * into its day count. */
static int wire_temporal(const param_ref *r, int form, wire_value *w)
{
    sql_timestamp_value t;
    if (get_timestamp_from_param(r, &t) != 0)
        return -1;
    unsigned char *b = w->fixed;
    uint32_t micro = t.fraction / 1000;
    w->kind = V_FIXED;
    if (form == WF_TIME) {
        b[0] = micro ? 12 : 8;
        b[1] = 0;
        put_le(b + 2, t.hour / 24u, 4);
        b[6] = (unsigned char)(t.hour % 24);
        b[7] = (unsigned char)t.minute;
        b[8] = (unsigned char)t.second;
        put_le(b + 9, micro, 4);
        w->fixed_len = 1 + b[0];
        return 0;
    }
    b[0] = form == WF_DATE ? 4 : (micro ? 11 : 7);
    put_le(b + 1, (uint16_t)t.year, 2);
    b[3] = (unsigned char)t.month;
    b[4] = (unsigned char)t.day;
    b[5] = (unsigned char)t.hour;
    b[6] = (unsigned char)t.minute;
    b[7] = (unsigned char)t.second;
    put_le(b + 8, micro, 4);
    w->fixed_len = 1 + b[0];
    return 0;
}

/* DECIMAL: character data goes as the checked text itself, so that no digit
 * is lost to the 38 digits a numeric structure holds; other values through
 * the structure. */
static int wire_decimal(const param_ref *r, wire_value *w)
{
    w->kind = V_CHARS;
    if (is_char_class(c_type_class(r->c_type))) {
        if (get_char_from_param(r, &w->chars) != 0)
            return -1;
        return checked_number(r, &w->chars);
    }
    return numeric_text(r, &w->chars);
}

static int wire_convert(const param_ref *r, const type_rule *t, wire_value *w)
{
    switch (t->wire_form) {
    case WF_STRING: w->kind = V_CHARS; return get_char_from_param(r, &w->chars);
    case WF_DECIMAL: return wire_decimal(r, w);
    case WF_INT: return wire_integer(r, t, w);
    case WF_BIT: {
        param_int v;
        if (get_integer_from_param(r, 32, &v) != 0)
            return -1;
        w->kind = V_FIXED;
        w->fixed[0] = v != 0;
        w->fixed_len = 1;
        return 0;
    }
    case WF_DOUBLE: return wire_floating(r, 0, w);
    case WF_FLOAT: return wire_floating(r, 1, w);
    case WF_DATE:
    case WF_TIME:
    case WF_DATETIME: return wire_temporal(r, t->wire_form, w);
    case WF_BLOB: w->kind = V_BYTES; return get_binary_from_param(r, &w->bytes);
    }
    return -1;
}

static int wire_prepare(my_statement *s, int index, int count, wire_value *w)
{
    w->type = w->flags = 0;
    w->null_bit = w->kind = w->fixed_len = 0;
    w->bytes.owned = nullptr;
    param_ref r;
    if (param_locate(s, index, 1, &r) != 0)
        return -1;
    const type_rule *t = find_rule(r.sql_type);
    w->type = t ? (unsigned)t->wire_type : (unsigned)MYSQL_TYPE_DECIMAL;
    if (r.is_dae) {
        /* the value went ahead as long data; the server ignores the null bit
         * of a parameter that has some, and takes NULL when none came */
        QV_TRACE(s, LOG_DETAIL, "my_append_params, param %d of %d is dae", index + 1, count);
        w->type = is_binary_sql_type(r.sql_type) ? MYSQL_TYPE_BLOB : MYSQL_TYPE_STRING;
        w->null_bit = 1;
        return dae_supplied(&r);
    }
    if (r.is_null) {
        QV_TRACE(s, LOG_DETAIL, "my_append_params, param %d of %d is null", index + 1, count);
        w->null_bit = 1;
        return 0;
    }
    if (!t)
        return post_param(s, index, ST_07006,
                          "unexpected target type %d found in my_append_param_data for param %d",
                          r.sql_type);
    return wire_convert(&r, t, w);
}

static void wire_release(std::vector<wire_value> &w, int n)
{
    for (int k = 0; k < n; k++) {
        free(w[(size_t)k].bytes.owned);
        w[(size_t)k].bytes.owned = nullptr;
    }
}

static int wire_put_value(my_statement *s, my_packet *p, int k, const wire_value *w)
{
    QV_TRACE(s, LOG_DETAIL, "my_append_params, add param %d of type %d, %s", k + 1, (int)w->type,
             w->kind == V_FIXED ? "fixed" : w->kind == V_CHARS ? "text" : "bytes");
    switch (w->kind) {
    case V_FIXED: return packet_put_bytes(p, w->fixed, (size_t)w->fixed_len);
    case V_CHARS: {
        if (packet_put_lenenc(p, (uint64_t)w->chars_length) != 0)
            return -1;
        /* narrow text that needs no recoding goes as it is */
        if (!w->chars.wide && !w->chars.utf8)
            return packet_put_bytes(p, w->chars.bytes, (size_t)w->chars.length);
        my_connection *c = handle_conn(s);
        text_out o;
        tout_init(&o, p, c, ESC_NONE);
        tout_chars(&o, &w->chars);
        return tout_finish(&o);
    }
    case V_BYTES:
        if (packet_put_lenenc(p, (uint64_t)w->bytes.length) != 0)
            return -1;
        return packet_put_bytes(p, w->bytes.bytes, (size_t)w->bytes.length);
    }
    return 0;
}

/* Bytes of a length-encoded length. */
static int64_t lenenc_size(uint64_t v)
{
    return v <= 250 ? 1 : v <= 0xFFFE ? 3 : v <= 0xFFFFFE ? 4 : 9;
}

/* The block's bytes on the wire: null bitmap, the new-parameters byte, the
 * types and the values. */
static int64_t wire_size(const my_statement *s, const std::vector<wire_value> &w, int n)
{
    int64_t size = (n + 7) / 8 + 1 + 2 * (int64_t)n;
    for (int k = 0; k < n; k++) {
        const wire_value &v = w[(size_t)k];
        if (v.null_bit)
            continue;
        if (v.kind == V_FIXED)
            size += v.fixed_len;
        else if (v.kind == V_CHARS)
            size += lenenc_size((uint64_t)v.chars_length) + v.chars_length;
        else if (v.kind == V_BYTES)
            size += lenenc_size((uint64_t)v.bytes.length) + v.bytes.length;
    }
    (void)s;
    return size;
}

static int wire_write(my_statement *s, my_packet *p, const std::vector<wire_value> &w, int n)
{
    /* bitmap, new-parameters byte and types in one write */
    unsigned char head[512];
    size_t bitmap = (size_t)(n + 7) / 8;
    size_t head_len = bitmap + 1 + 2 * (size_t)n;
    std::vector<unsigned char> large;
    unsigned char *h = head;
    if (head_len > sizeof head) {
        large.assign(head_len, 0);
        h = large.data();
    } else {
        memset(h, 0, bitmap);
    }
    for (int k = 0; k < n; k++)
        if (w[(size_t)k].null_bit)
            h[(size_t)k / 8] |= (unsigned char)(1u << (k % 8));
    h[bitmap] = 1;
    for (int k = 0; k < n; k++) {
        QV_TRACE(s, LOG_DETAIL, "my_append_params, add param type %d of %d, type = %d", k + 1, n,
                 (int)w[(size_t)k].type);
        h[bitmap + 1 + 2 * (size_t)k] = (unsigned char)w[(size_t)k].type;
        h[bitmap + 2 + 2 * (size_t)k] = (unsigned char)w[(size_t)k].flags;
    }
    if (packet_put_bytes(p, h, head_len) != 0)
        return -1;
    for (int k = 0; k < n; k++)
        if (!w[(size_t)k].null_bit && wire_put_value(s, p, k, &w[(size_t)k]) != 0)
            return -1;
    return 0;
}

/* The server expects exactly the parameters it counted when it prepared the
 * statement, whatever else the application bound. */
static int wire_param_count(const my_statement *s)
{
    const my_descriptor *ipd = s->ipd;
    if (ipd && ((s->params_described && ipd->described_valid) || ipd->described_count > 0))
        return ipd->described_count;
    return s->found_param_count;
}

param_block::param_block() : values(), count(0), bytes(0) {}

param_block::~param_block() { wire_release(values, count); }

int param_block_convert(my_statement *s, param_block *b)
{
    wire_release(b->values, b->count);
    b->count = 0;
    b->bytes = 0;
    int n = wire_param_count(s);
    QV_TRACE(s, LOG_DETAIL, "my_append_params, stmt_field_count=%d", n);
    if (n <= 0)
        return 0;
    if (b->values.size() < (size_t)n) {
        try {
            b->values.resize((size_t)n);
        } catch (const std::bad_alloc &) {
            post_error(s, ST_HY001, 0, nullptr);
            return -1;
        }
    }
    b->count = n;
    my_connection *c = handle_conn(s);
    for (int k = 0; k < n; k++) {
        wire_value &w = b->values[(size_t)k];
        if (wire_prepare(s, k, n, &w) != 0)
            return -1;
        if (w.kind == V_CHARS && !w.null_bit)
            w.chars_length = chars_wire_length(c, &w.chars);
    }
    b->bytes = wire_size(s, b->values, n);
    return 0;
}

int param_block_write(my_statement *s, my_packet *p, const param_block *b)
{
    if (b->count <= 0)
        return 0;
    int before = diag_count(s);
    if (wire_write(s, p, b->values, b->count) != 0)
        return write_failed(s, before);
    return 0;
}

int my_append_params(my_statement *s, my_packet *p)
{
    param_block b;
    if (param_block_convert(s, &b) != 0)
        return -1;
    return param_block_write(s, p, &b);
}

/* ============================================================ literals */

enum literal_form { LIT_NULL = 1, LIT_QUOTED, LIT_BARE, LIT_HEX, LIT_DAE };

/* One parameter converted for the text of a COM_QUERY. */
struct literal {
    param_ref ref;
    const type_rule *rule;
    int form;
    param_chars chars;
    param_bytes bytes;
};

/* A number from a source whose text is not itself a number literal
 * (binary images, dates): converted as the binary protocol would, printed. */
static int bare_by_rule(const param_ref *r, const type_rule *t, param_chars *out)
{
    param_int v;
    switch (t->wire_form) {
    case WF_INT:
    case WF_BIT: {
        if (get_integer_from_param(r, t->bits, &v) != 0)
            return -1;
        int is_unsigned;
        if (t->wire_form == WF_BIT)
            v = v != 0;
        else if (fit_integer(r, t, v, &is_unsigned) != 0)
            return -1;
        text_in_scratch(out, print_int(v, out->scratch, sizeof out->scratch));
        return 0;
    }
    case WF_DOUBLE: {
        double d;
        if (get_double_from_param(r, &d) != 0)
            return -1;
        text_in_scratch(out, double_to_text(d, out->scratch, sizeof out->scratch));
        return 0;
    }
    case WF_FLOAT: {
        float f;
        if (get_float_from_param(r, &f) != 0)
            return -1;
        text_in_scratch(out, float_to_text(f, out->scratch, sizeof out->scratch));
        return 0;
    }
    }
    return numeric_text(r, out);
}

/* Numbers go into the text unquoted, so nothing but a number may: character
 * data is checked to be one, and every other source is rendered by the
 * driver. */
static int bare_number(literal *l)
{
    const param_ref *r = &l->ref;
    switch (c_type_class(r->c_type)) {
    case CC_CHAR:
    case CC_WCHAR:
        if (get_char_from_param(r, &l->chars) != 0)
            return -1;
        return checked_number(r, &l->chars);
    case CC_NUMERIC: case CC_SLONG: case CC_ULONG: case CC_SSHORT: case CC_USHORT:
    case CC_STINY: case CC_UTINY: case CC_SBIGINT: case CC_UBIGINT: case CC_DOUBLE:
    case CC_FLOAT: case CC_BIT:
        return get_char_from_param(r, &l->chars);
    }
    return bare_by_rule(r, l->rule, &l->chars);
}

static const std::vector<dae_chunk> *pieces_of(const literal *l)
{
    return l->ref.apd->dae_chunks;
}

/* NULL when the application said so with its first piece, or sent none. */
static int dae_is_null(const literal *l)
{
    const std::vector<dae_chunk> *v = pieces_of(l);
    return !v || v->empty() || (*v)[0].length == SQL_NULL_DATA;
}

static int dae_pieces_wide(const literal *l)
{
    return c_type_class(l->ref.c_type) == CC_WCHAR && !l->ref.wide_utf8;
}

/* The first piece of a number sent at execution, checked. */
static int dae_number(literal *l)
{
    const dae_chunk &first = (*pieces_of(l))[0];
    l->chars.bytes = first.data;
    l->chars.length = first.length;
    l->chars.wide = dae_pieces_wide(l);
    return checked_number(&l->ref, &l->chars);
}

static int literal_prepare(my_statement *s, int index, literal *l)
{
    memset(l, 0, sizeof *l);
    param_ref *r = &l->ref;
    if (param_locate(s, index, 0, r) != 0)
        return -1;
    int io = r->apd->parameter_type;
    if (io == SQL_PARAM_OUTPUT || io == SQL_PARAM_OUTPUT_STREAM)
        return post_param(s, index, ST_HY000, "cannot translate output parameter to string");
    if (io == SQL_PARAM_INPUT_OUTPUT || io == SQL_PARAM_INPUT_OUTPUT_STREAM)
        return post_param(s, index, ST_HY000, "cannot translate input/output parameter to string");
    l->rule = find_rule(r->sql_type);
    if (!l->rule)
        return post_param(s, index, ST_07006,
                          "unexpected target type %d found in my_append_param_as_string for param %d",
                          r->sql_type);
    if (r->is_dae) {
        QV_TRACE(s, LOG_DETAIL, "data at exec parameter found (%d,%d)", index + 1, s->param_row);
        l->form = LIT_DAE;
        if (dae_supplied(r) != 0)
            return -1;
        if (l->rule->text_form == TF_BARE && !dae_is_null(l))
            return dae_number(l);
        return 0;
    }
    if (r->is_null) {
        l->form = LIT_NULL;
        return 0;
    }
    switch (l->rule->text_form) {
    case TF_QUOTED: l->form = LIT_QUOTED; return get_char_from_param(r, &l->chars);
    case TF_HEX: l->form = LIT_HEX; return get_binary_from_param(r, &l->bytes);
    }
    l->form = LIT_BARE;
    return bare_number(l);
}

static void literal_release(literal *l) { free(l->bytes.owned); }

/* With backslash escapes on, the server reads \ inside a literal as an
 * escape; under NO_BACKSLASH_ESCAPES it is a plain character, and only a
 * doubled quote keeps the value inside its literal. */
int literal_escape_mode(const my_connection *c)
{
    if (c && (c->server_status & SERVER_STATUS_NO_BACKSLASH_ESCAPES))
        return ESC_QUOTES;
    return ESC_BACKSLASH;
}

static int escape_mode(const my_statement *s) { return literal_escape_mode(handle_conn(s)); }

/* Hexadecimal literal. X'' is the empty binary string; a bare 0x is no
 * literal at all. */
static void put_hex_bytes(text_out *o, const unsigned char *b, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    unsigned char two[256];
    for (size_t i = 0; i < n;) {
        size_t k = 0;
        for (; i < n && k < sizeof two; i++) {
            two[k++] = (unsigned char)digits[b[i] >> 4];
            two[k++] = (unsigned char)digits[b[i] & 15];
        }
        tout_bytes(o, two, k);
    }
}

static void put_dae_literal(const literal *l, text_out *o, int escape)
{
    if (dae_is_null(l)) {
        tout_ascii(o, "NULL");
        return;
    }
    const std::vector<dae_chunk> &v = *pieces_of(l);
    switch (l->rule->text_form) {
    case TF_BARE: tout_chars(o, &l->chars); return;
    case TF_HEX:
        tout_ascii(o, "X'");
        for (const dae_chunk &c : v)
            if (c.length > 0)
                put_hex_bytes(o, c.data, (size_t)c.length);
        tout_ascii(o, "'");
        return;
    }
    tout_ascii(o, "'");
    o->escape = escape;
    int wide = dae_pieces_wide(l);
    utf16_tail tail = {{0}, 0};   /* pieces may split a unit or a surrogate pair */
    for (size_t i = 0; i < v.size(); i++) {
        if (v[i].length <= 0)
            continue;
        QV_TRACE(l->ref.s, LOG_DETAIL, i ? "Extracted another %d bytes from dae (%d)"
                                         : "Extracted %d bytes from dae (%d)",
                 (int)v[i].length, l->ref.index + 1);
        if (wide)
            tout_wide(o, &tail, v[i].data, (size_t)v[i].length);
        else
            tout_bytes(o, v[i].data, (size_t)v[i].length);
    }
    tout_wide_end(o, &tail);
    o->escape = ESC_NONE;
    tout_ascii(o, "'");
}

static int literal_write(my_statement *s, my_packet *p, const literal *l)
{
    text_out o;
    tout_init(&o, p, handle_conn(s), ESC_NONE);
    switch (l->form) {
    case LIT_NULL: tout_ascii(&o, "NULL"); break;
    case LIT_BARE: tout_chars(&o, &l->chars); break;
    case LIT_QUOTED:
        QV_TRACE(s, LOG_DETAIL, "adding char parameter data from %p length = %d", l->chars.bytes,
                 (int)l->chars.length);
        tout_ascii(&o, "'");
        o.escape = escape_mode(s);
        tout_chars(&o, &l->chars);
        o.escape = ESC_NONE;
        tout_ascii(&o, "'");
        break;
    case LIT_HEX:
        QV_TRACE(s, LOG_DETAIL, "adding binary parameter data from %p length = %d", l->bytes.bytes,
                 (int)l->bytes.length);
        if (l->bytes.length == 0) {
            tout_ascii(&o, "X''");
            break;
        }
        tout_ascii(&o, "0x");
        put_hex_bytes(&o, l->bytes.bytes, (size_t)l->bytes.length);
        break;
    case LIT_DAE: put_dae_literal(l, &o, escape_mode(s)); break;
    }
    return tout_finish(&o);
}

/* Converts every parameter of the row once and throws the result away: a
 * refusal then comes before the first byte of the command is written. */
static int literal_check_row(my_statement *s)
{
    for (int k = 0; k < s->found_param_count; k++) {
        literal l;
        int rc = literal_prepare(s, k, &l);
        literal_release(&l);
        if (rc != 0)
            return -1;
    }
    return 0;
}

int my_append_param_as_string(my_statement *s, my_packet *p, int number)
{
    if (number == 1 && literal_check_row(s) != 0)
        return -1;
    literal l;
    int rc = literal_prepare(s, number - 1, &l);
    int before = diag_count(s);
    if (rc == 0 && literal_write(s, p, &l) != 0)
        rc = write_failed(s, before);
    literal_release(&l);
    return rc;
}
