/*
 * Descriptor records: list operations, type mapping and consistency rules.
 */
#include "desc/my_desc.h"

#include <stdlib.h>
#include <string.h>

#include "frame/my_handle.h"
#include "protocol/my_proto.h"

/* ------------------------------------------------------------ one record */

void field_init(field *f)
{
    memset(f, 0, sizeof *f);
    f->parameter_type = SQL_PARAM_INPUT;
    f->unnamed = 1;
}

void field_reset(field *f)
{
    f->data_ptr = f->indicator_ptr = f->octet_length_ptr = nullptr;
    my_string **texts[] = {&f->literal_prefix, &f->literal_suffix, &f->type_name,
                           &f->local_type_name, &f->catalog_name, &f->schema_name,
                           &f->table_name, &f->base_table_name, &f->name,
                           &f->base_column_name};
    for (my_string **p : texts) {
        ms_free(*p);
        *p = nullptr;
    }
    free(f->storage.buffer);
    f->storage.buffer = nullptr;
    f->storage.capacity = 0;
    f->storage.alloc_length = 0;
    f->storage.data_type = 0;
    if (f->dae_chunks) {
        for (dae_chunk &c : *f->dae_chunks)
            free(c.data);
        delete f->dae_chunks;
        f->dae_chunks = nullptr;
    }
}

/* -------------------------------------------------------- the record list */

int desc_set_records(my_descriptor *d, int n)
{
    desc_touch(d);
    for (int i = 0; i < d->field_count; i++)
        field_reset(&d->records[i]);
    free(d->records);
    d->records = nullptr;
    d->field_count = 0;
    if (n < 0)
        return -1;
    if (n == 0)
        return 0;
    d->records = (field *)malloc((size_t)n * sizeof(field));
    if (!d->records)
        return -1;
    for (int i = 0; i < n; i++)
        field_init(&d->records[i]);
    d->field_count = n;
    return 0;
}

int desc_grow(my_descriptor *d, int n)
{
    if (n < 0)
        return -1;
    if (d->field_count >= n)
        return 0;
    desc_touch(d);
    field *grown = (field *)realloc(d->records, (size_t)n * sizeof(field));
    if (!grown)
        return -1;   /* the old array is still valid and still counted */
    for (int i = d->field_count; i < n; i++)
        field_init(&grown[i]);
    d->records = grown;
    d->field_count = n;
    return 0;
}

int desc_truncate(my_descriptor *d, int n)
{
    if (n < 0)
        return -1;
    if (d->field_count < n)
        return 0;
    desc_touch(d);
    for (int i = n; i < d->field_count; i++)
        field_reset(&d->records[i]);
    if (n == 0) {
        free(d->records);
        d->records = nullptr;
    } else {
        /* Shrinking cannot lose data; if realloc refuses, the larger block
         * simply stays in use. */
        field *shrunk = (field *)realloc(d->records, (size_t)n * sizeof(field));
        if (shrunk)
            d->records = shrunk;
    }
    d->field_count = n;
    return 0;
}

int desc_column_count(const my_descriptor *d)
{
    if (d->described_valid && d->described_count < d->field_count)
        return d->described_count;
    return d->field_count;
}

/* ------------------------------------------------------ character widths */

int charset_max_bytes(const my_connection *c, int charset_number)
{
    if (!c || !c->collations)
        return 1;
    for (const collation_entry &e : *c->collations) {
        if (e.id != charset_number)
            continue;
        if (strcmp(e.charset_name, "utf8mb4") == 0)
            return 4;
        /* Newer servers name the three-byte set utf8mb3; it is the same set. */
        if (strcmp(e.charset_name, "utf8") == 0 || strcmp(e.charset_name, "utf8mb3") == 0)
            return 3;
        return 1;
    }
    return 1;
}

/* ------------------------------------------------- type attribute setting */

/* The attributes one row of a type table gives a record. */
struct type_attrs {
    int concise;
    int type;
    int64_t display;
    int64_t precision;
    int scale;
    int64_t length;
    int64_t octet;
    int radix;
    int searchable;
    const char *prefix;      /* null: none */
    const char *suffix;
    const char *local_name;
    const char *type_name;
};

static my_string *literal(const char *s) { return s ? ms_from_latin1(s) : nullptr; }

/* precision is a 32-bit attribute; lengths of long columns do not fit it. */
static int32_t clamp32(int64_t v)
{
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return (int32_t)v;
}

static void free_type_texts(field *f)
{
    my_string **texts[] = {&f->literal_prefix, &f->literal_suffix, &f->local_type_name,
                           &f->type_name};
    for (my_string **p : texts) {
        ms_free(*p);
        *p = nullptr;
    }
}

static void apply_column_attrs(field *f, const type_attrs &a)
{
    f->concise_type = a.concise;
    f->type = a.type;
    f->display_size = a.display;
    f->precision = clamp32(a.precision);
    f->scale = a.scale;
    f->length = a.length;
    f->octet_length = a.octet;
    f->num_prec_radix = a.radix;
    f->searchable = a.searchable;
    f->fixed_prec_scale = 0;
    free_type_texts(f);
    f->literal_prefix = literal(a.prefix);
    f->literal_suffix = literal(a.suffix);
    f->local_type_name = literal(a.local_name);
    f->type_name = literal(a.type_name);
}

/* ------------------------------------------- protocol type -> ODBC type */

/* What one column definition says, in the units the type table uses. */
struct column_shape {
    int mysql_type;
    int64_t L;          /* column length, unsigned 32-bit on the wire */
    int D;              /* decimals */
    int F;              /* flags */
    int C;              /* character-set number */
    int M;              /* bytes per character of C */
    int odbc2;
    int time_as_time;
};

static const int64_t TEXT_MAX = 2147483647;
static const int64_t BLOB_DISPLAY_MAX = 4294967294LL;
static const int64_t L_UNLIMITED = 4294967295LL;

static type_attrs integer_attrs(int concise, int display, int prec, int octet,
                                const char *name)
{
    return {concise, concise, display, prec, 0, prec, octet, 0, SQL_PRED_BASIC,
            nullptr, nullptr, name, name};
}

/* DECIMAL's column length counts the digits, a decimal point when there are
 * decimals and a sign unless the column is unsigned. */
static type_attrs decimal_attrs(const column_shape &s, const char *name)
{
    int64_t prec = s.L - (s.D > 0 ? 1 : 0) - ((s.F & UNSIGNED_FLAG) ? 0 : 1);
    if (prec < 0)
        prec = 0;
    return {SQL_DECIMAL, SQL_DECIMAL, s.L, prec, s.D, s.L, s.L, 10, SQL_PRED_BASIC,
            nullptr, nullptr, name, name};
}

static type_attrs timestamp_attrs(const column_shape &s, const char *name)
{
    int64_t display = s.D > 0 ? s.D + 20 : 19;
    return {s.odbc2 ? SQL_TIMESTAMP : SQL_TYPE_TIMESTAMP, SQL_DATETIME, display, s.D, s.D,
            display, 16, 0, SQL_SEARCHABLE, "{ts '", "'}", name, name};
}

static type_attrs time_attrs(const column_shape &s)
{
    if (s.time_as_time)
        return {s.odbc2 ? SQL_TIME : SQL_TYPE_TIME, SQL_DATETIME, 8, 0, 0, 6, 6, 0,
                SQL_SEARCHABLE, "{t '", "'}", "time", "time"};
    /* Without TimeAsTime a TIME is text: it may exceed 24 hours or be negative. */
    int64_t t = s.D != 0 ? s.D + 12 : 11;
    return {SQL_VARCHAR, SQL_VARCHAR, t, t, 0, t, t, 0, SQL_SEARCHABLE, "'", "'", "time",
            "varchar"};
}

static type_attrs bit_attrs(const column_shape &s)
{
    if (s.L <= 1)
        return {SQL_BIT, SQL_BIT, 1, 1, 0, 1, 1, 0, SQL_PRED_BASIC, nullptr, nullptr, "bit",
                "bit"};
    int64_t bytes = (s.L + 7) / 8;
    return {SQL_BINARY, SQL_BINARY, 2 * bytes, bytes, 0, bytes, s.L / 8 + 1, 0,
            SQL_PRED_BASIC, nullptr, nullptr, "bit[]", "binary"};
}

static type_attrs text_attrs(int concise, int64_t chars, int64_t bytes, const char *name)
{
    return {concise, concise, chars, chars, 0, bytes, bytes, 0, SQL_SEARCHABLE, "'", "'",
            name, name};
}

static type_attrs binary_attrs(int concise, int64_t display, int64_t len, const char *name)
{
    return {concise, concise, display, len, 0, len, len, 0, SQL_PRED_BASIC, "0x", nullptr,
            name, name};
}

/* Whether a TEXT/BLOB column holds bytes rather than text. The binary
 * character set says so; the binary flag does not, since the server also
 * sets it on text in a binary collation (utf8mb4_bin, and MariaDB's JSON). */
static int blob_is_binary(const column_shape &s) { return s.C == BINARY_CHARSET_NUMBER; }

static type_attrs long_blob_attrs(const column_shape &s, const char *name)
{
    if (blob_is_binary(s))
        return {SQL_LONGVARBINARY, SQL_LONGVARBINARY, BLOB_DISPLAY_MAX, TEXT_MAX, 0, TEXT_MAX,
                TEXT_MAX, 0, SQL_PRED_BASIC, "0x", nullptr, name, name};
    return {SQL_LONGVARCHAR, SQL_LONGVARCHAR, TEXT_MAX, TEXT_MAX, 0, TEXT_MAX, TEXT_MAX, 0,
            SQL_PRED_CHAR, "'", "'", "text", "text"};
}

/* BLOB covers every TEXT/BLOB size; L = 4294967295 marks the largest. */
static type_attrs blob_attrs(const column_shape &s)
{
    int unlimited = s.L == L_UNLIMITED;
    int64_t prec = unlimited ? TEXT_MAX : s.L;
    if (blob_is_binary(s))
        return {SQL_LONGVARBINARY, SQL_LONGVARBINARY, unlimited ? BLOB_DISPLAY_MAX : 2 * s.L,
                prec, 0, prec, prec, 0, SQL_PRED_BASIC, "0x", nullptr, "blob", "blob"};
    return {SQL_LONGVARCHAR, SQL_LONGVARCHAR, unlimited ? BLOB_DISPLAY_MAX : s.L, prec, 0,
            prec, prec, 0, SQL_PRED_CHAR, "'", "'", "text", "text"};
}

static int string_attrs(const column_shape &s, type_attrs *a)
{
    int binary = s.C == BINARY_CHARSET_NUMBER;
    switch (s.mysql_type) {
    case MYSQL_TYPE_VARCHAR:
        *a = text_attrs(SQL_VARCHAR, s.L / s.M, s.L, "varchar");
        return 0;
    case MYSQL_TYPE_VAR_STRING:
        *a = binary ? binary_attrs(SQL_VARBINARY, s.L, s.L, "varchar_bin")
                    : text_attrs(SQL_VARCHAR, s.L / s.M, s.L, "varchar");
        return 0;
    case MYSQL_TYPE_STRING:
        *a = binary ? binary_attrs(SQL_BINARY, s.L, s.L, "char_bin")
                    : text_attrs(SQL_CHAR, s.L / s.M, s.L, "char");
        return 0;
    case MYSQL_TYPE_JSON:
        *a = text_attrs(SQL_CHAR, s.L, s.L, "char");
        return 0;
    case MYSQL_TYPE_TINY_BLOB:
        *a = blob_is_binary(s) ? binary_attrs(SQL_VARBINARY, 2 * s.L, s.L, "tiny_blob")
                                 : text_attrs(SQL_VARCHAR, s.L, s.L, "varchar");
        return 0;
    case MYSQL_TYPE_MEDIUM_BLOB:
        *a = long_blob_attrs(s, "medium_blob");
        return 0;
    case MYSQL_TYPE_LONG_BLOB:
        *a = long_blob_attrs(s, "long_blob");
        return 0;
    case MYSQL_TYPE_BLOB:
        *a = blob_attrs(s);
        return 0;
    }
    return -6;
}

/* Attributes for a column's protocol type, plus its datetime code (left
 * alone when *code stays -1). 0, or -6 for a type that is not mapped. */
static int map_column_type(const column_shape &s, type_attrs *a, int *code)
{
    *code = -1;
    switch (s.mysql_type) {
    case MYSQL_TYPE_DECIMAL: *a = decimal_attrs(s, "decimal"); return 0;
    case MYSQL_TYPE_NEWDECIMAL: *a = decimal_attrs(s, "newdecimal"); return 0;
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_NULL: *a = integer_attrs(SQL_TINYINT, 4, 3, 1, "tiny"); return 0;
    case MYSQL_TYPE_SHORT: *a = integer_attrs(SQL_SMALLINT, 6, 5, 2, "short"); return 0;
    case MYSQL_TYPE_LONG: *a = integer_attrs(SQL_INTEGER, 11, 10, 4, "int"); return 0;
    case MYSQL_TYPE_INT24: *a = integer_attrs(SQL_INTEGER, 8, 7, 4, "int24"); return 0;
    case MYSQL_TYPE_LONGLONG: *a = integer_attrs(SQL_BIGINT, 20, 19, 8, "longlong"); return 0;
    case MYSQL_TYPE_YEAR: *a = integer_attrs(SQL_SMALLINT, 6, 4, 2, "year"); return 0;
    case MYSQL_TYPE_FLOAT:
        *a = {SQL_REAL, SQL_REAL, 14, 24, 0, 24, 4, 2, SQL_PRED_BASIC, nullptr, nullptr,
              "float", "float"};
        return 0;
    case MYSQL_TYPE_DOUBLE:
        *a = {SQL_DOUBLE, SQL_DOUBLE, 24, 53, 0, 53, 8, 2, SQL_PRED_BASIC, nullptr, nullptr,
              "double", "double"};
        return 0;
    case MYSQL_TYPE_TIMESTAMP: *a = timestamp_attrs(s, "timestamp"); *code = SQL_CODE_TIMESTAMP; return 0;
    case MYSQL_TYPE_DATETIME: *a = timestamp_attrs(s, "datetime"); *code = SQL_CODE_TIMESTAMP; return 0;
    case MYSQL_TYPE_DATE:
        *a = {s.odbc2 ? SQL_DATE : SQL_TYPE_DATE, SQL_DATETIME, 10, 0, 0, 6, 6, 0,
              SQL_SEARCHABLE, "{d '", "'}", "date", "date"};
        *code = SQL_CODE_DATE;
        return 0;
    case MYSQL_TYPE_TIME:
        *a = time_attrs(s);
        if (s.time_as_time)
            *code = SQL_CODE_TIME;
        return 0;
    case MYSQL_TYPE_BIT: *a = bit_attrs(s); return 0;
    case MYSQL_TYPE_GEOMETRY:
        *a = {SQL_BINARY, SQL_BINARY, 50, 25, 0, 15, s.L, 0, SQL_SEARCHABLE, "0x", "",
              "geometry", "binary"};
        return 0;
    }
    return string_attrs(s, a);
}

static void take_name(my_string **slot, my_string *value)
{
    ms_free(*slot);
    *slot = value;
}

int fill_field_from_column(my_statement *stmt, my_descriptor *d, int index,
                           my_string *catalog, my_string *schema, my_string *table,
                           my_string *org_table, my_string *name, my_string *org_name,
                           int charset_number, uint32_t length, int mysql_type,
                           int flags, int decimals)
{
    desc_touch(d);
    if (index < 0 || index >= d->field_count) {
        my_string *names[] = {catalog, schema, table, org_table, name, org_name};
        for (my_string *n : names)
            ms_free(n);
        post_error(stmt, ST_HY000, 0, "descriptor record %d out of range", index + 1);
        return -1;
    }
    field *f = &d->records[index];
    f->searchable = SQL_SEARCHABLE;
    f->rowver = 0;
    f->case_sensitive = 0;
    f->updatable = SQL_ATTR_READWRITE_UNKNOWN;
    f->is_unsigned = (flags & UNSIGNED_FLAG) ? SQL_TRUE : SQL_FALSE;
    f->auto_unique_value = (flags & AUTO_INCREMENT_FLAG) ? SQL_TRUE : SQL_FALSE;
    f->nullable = (flags & NOT_NULL_FLAG) ? SQL_NO_NULLS : SQL_NULLABLE;
    f->mysql_type = mysql_type;
    f->column_flags = flags;
    f->charset_number = charset_number;
    take_name(&f->catalog_name, catalog);
    take_name(&f->schema_name, schema);
    take_name(&f->table_name, table);
    take_name(&f->base_table_name, org_table);
    take_name(&f->name, name);
    take_name(&f->base_column_name, org_name);
    f->unnamed = name ? 0 : 1;

    my_connection *c = handle_conn(stmt);
    my_environment *env = handle_env(stmt);
    column_shape s;
    s.mysql_type = mysql_type;
    s.L = length;
    s.D = decimals;
    s.F = flags;
    s.C = charset_number;
    s.M = charset_max_bytes(c, charset_number);
    s.odbc2 = env && env->odbc_version == SQL_OV_ODBC2;
    s.time_as_time = c && c->TimeAsTime;

    type_attrs a;
    int code;
    if (map_column_type(s, &a, &code) != 0) {
        QV_TRACE(stmt, LOG_DETAIL, "fill_field_from_column: type %d not supported", mysql_type);
        post_error(stmt, ST_08S01, 0, "type not supported");
        return -6;
    }
    apply_column_attrs(f, a);
    if (code >= 0)
        f->datetime_interval_code = code;
    return 0;
}

/* ------------------------------------------------ deriving type fields */

/* Sentinel for "leave the member as it is". */
static const int64_t KEEP = INT64_MIN;

/* The dependent attributes of a C type as an application descriptor holds it. */
struct c_type_attrs {
    int64_t octet;          /* KEEP */
    int64_t display;        /* KEEP; derived for WCHAR and BINARY below */
    int precision;
    int64_t dt_precision;   /* KEEP */
    int64_t length;         /* derived for BINARY below */
    int radix;
    const char *prefix, *suffix, *name;
};

static int c_type_row(int concise, c_type_attrs *a)
{
    switch (concise) {
    case SQL_C_CHAR: *a = {KEEP, 0, 0, 0, 1, 0, "'", "'", "char"}; return 0;
    case SQL_C_NUMERIC: *a = {19, 0, 38, 0, 38, 10, nullptr, nullptr, "numeric"}; return 0;
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG: *a = {4, 11, 0, 0, 10, 0, nullptr, nullptr, "int"}; return 0;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT: *a = {2, 5, 0, 0, 5, 0, nullptr, nullptr, "smallint"}; return 0;
    case SQL_C_FLOAT: *a = {4, 15, 24, 0, 15, 2, nullptr, nullptr, "float"}; return 0;
    case SQL_C_DOUBLE: *a = {8, 15, 53, 0, 15, 2, nullptr, nullptr, "double"}; return 0;
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE: *a = {6, 10, 0, 0, 10, 0, "{d '", "'}", "date"}; return 0;
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: *a = {6, 8, 0, 0, 8, 0, "{t '", "'}", "time"}; return 0;
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: *a = {16, 23, 3, 3, 23, 0, "{ts '", "'}", "timestamp"}; return 0;
    case SQL_C_TINYINT:
    case SQL_C_BIT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT: *a = {1, 1, 0, 0, 1, 0, nullptr, nullptr, "bit"}; return 0;
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT: *a = {8, 20, 0, KEEP, 20, 0, nullptr, nullptr, "bigint"}; return 0;
    case SQL_C_GUID: *a = {16, 36, 36, KEEP, 36, 0, nullptr, nullptr, "uniqueidentifier"}; return 0;
    case SQL_C_WCHAR: *a = {KEEP, KEEP, 0, 0, 1, 0, "N'", "'", "nchar"}; return 0;
    case SQL_C_BINARY: *a = {KEEP, KEEP, 0, 0, KEEP, 0, "0x", "", "binary"}; return 0;
    }
    return -1;
}

/* Steps 1-3: bring type, concise type and interval code into line. */
static int align_type_fields(my_descriptor *d, field *f, int mode)
{
    static const int concise_of_code[] = {0, SQL_TYPE_DATE, SQL_TYPE_TIME, SQL_TYPE_TIMESTAMP};
    switch (mode) {
    case 0:
        switch (f->concise_type) {
        case SQL_DATE: case SQL_TYPE_DATE: f->type = SQL_DATETIME; f->datetime_interval_code = SQL_CODE_DATE; break;
        case SQL_TIME: case SQL_TYPE_TIME: f->type = SQL_DATETIME; f->datetime_interval_code = SQL_CODE_TIME; break;
        case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: f->type = SQL_DATETIME; f->datetime_interval_code = SQL_CODE_TIMESTAMP; break;
        default: f->type = f->concise_type; f->datetime_interval_code = 0; break;
        }
        return 0;
    case 1:
        if (f->datetime_interval_code == 0)
            return 0;
        if (f->datetime_interval_code < 1 || f->datetime_interval_code > 3)
            break;
        f->type = SQL_DATETIME;
        f->concise_type = concise_of_code[f->datetime_interval_code];
        return 0;
    case 2:
        if (f->type != SQL_DATETIME) {
            f->concise_type = f->type;
            f->datetime_interval_code = 0;
            return 0;
        }
        if (f->datetime_interval_code < 1 || f->datetime_interval_code > 3)
            break;
        f->concise_type = concise_of_code[f->datetime_interval_code];
        return 0;
    }
    post_error(d, ST_HY021, 0, nullptr);
    return -1;
}

SQLRETURN my_update_desc_type(my_descriptor *d, field *f, int mode)
{
    desc_touch(d);
    if (align_type_fields(d, f, mode) != 0)
        return SQL_ERROR;
    free_type_texts(f);
    c_type_attrs a;
    if (c_type_row(f->concise_type, &a) != 0) {
        post_error(d, ST_HY003, 0, nullptr);
        return SQL_ERROR;
    }
    if (a.octet != KEEP)
        f->octet_length = a.octet;
    if (f->concise_type == SQL_C_WCHAR)
        f->display_size = f->octet_length / 2;
    else if (f->concise_type == SQL_C_BINARY)
        f->display_size = 2 * f->octet_length + 2;
    else
        f->display_size = a.display;
    f->precision = a.precision;
    f->scale = 0;
    if (a.dt_precision != KEEP)
        f->datetime_interval_precision = (int32_t)a.dt_precision;
    f->length = f->concise_type == SQL_C_BINARY ? f->octet_length : a.length;
    f->num_prec_radix = a.radix;
    f->fixed_prec_scale = 0;
    f->literal_prefix = literal(a.prefix);
    f->literal_suffix = literal(a.suffix);
    f->local_type_name = literal(a.name);
    f->type_name = literal(a.name);
    return SQL_SUCCESS;
}

SQLRETURN my_update_impl_desc_type(my_descriptor *d, field *f, int mode)
{
    if (align_type_fields(d, f, mode) != 0)
        return SQL_ERROR;
    free_type_texts(f);
    if (!is_valid_sql_type(f->concise_type)) {
        post_error(d, ST_HY004, 0, nullptr);
        return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

/* ------------------------------------------------------ consistency */

/* The non-datetime type codes a record may carry. */
static int plain_type(int t)
{
    return (t >= 1 && t <= 8) || t == 12 || (t >= -11 && t <= -1) || (t >= -18 && t <= -15) ||
           (t >= -28 && t <= -25);
}

static int datetime_coded(const field *f)
{
    return f->type == SQL_DATETIME && f->datetime_interval_code >= 1 &&
           f->datetime_interval_code <= 3;
}

static SQLRETURN inconsistent(my_descriptor *d, const char *text)
{
    post_error(d, ST_HY021, 0, text);
    return SQL_ERROR;
}

SQLRETURN check_desc_consistency(my_descriptor *d, const field *f)
{
    int ct = f->concise_type;
    int datetime_concise = ct == 9 || ct == 10 || ct == 11 || ct == 91 || ct == 92 || ct == 93;
    if (!plain_type(ct) && !(datetime_concise && datetime_coded(f)))
        return inconsistent(d, nullptr);
    if (!plain_type(f->type) && !datetime_coded(f))
        return inconsistent(d, nullptr);
    if (ct == SQL_CHAR || ct == SQL_VARCHAR || ct == SQL_WCHAR || ct == SQL_WVARCHAR) {
        if (f->precision < -1)
            return inconsistent(d, "Negative precision value");
    }
    if (ct == SQL_NUMERIC || ct == SQL_DECIMAL) {
        if (f->scale < 0)
            return inconsistent(d, "Negative scale value");
        if (f->precision < 0)
            return inconsistent(d, "Negative precision value");
        if (f->precision == 0)
            return inconsistent(d, "Invalid precision value");
    }
    if (f->octet_length < 0)
        return inconsistent(d, "Negative octet length value");
    return SQL_SUCCESS;
}

/* ------------------------------------------------------ type tables */

int default_c_type(int sql_type, int sign, int numeric_as_text, int odbc2)
{
    bool uns = sign == SIGN_UNSIGNED, known = sign != SIGN_UNKNOWN;
    switch (sql_type) {
    case SQL_NUMERIC:
    case SQL_DECIMAL: return numeric_as_text ? SQL_C_CHAR : SQL_C_NUMERIC;
    case SQL_INTEGER: return uns ? SQL_C_ULONG : SQL_C_SLONG;
    case SQL_C_SLONG: return SQL_C_SLONG;
    case SQL_C_ULONG: return SQL_C_ULONG;
    case SQL_SMALLINT: return uns ? SQL_C_USHORT : SQL_C_SSHORT;
    case SQL_C_SSHORT: return SQL_C_SSHORT;
    case SQL_C_USHORT: return SQL_C_USHORT;
    case SQL_TINYINT: return known && !uns ? SQL_C_STINYINT : SQL_C_UTINYINT;
    case SQL_C_UTINYINT: return SQL_C_UTINYINT;
    case SQL_C_STINYINT: return SQL_C_STINYINT;
    /* ODBC 2 has no 64-bit C integers */
    case SQL_BIGINT: return odbc2 ? SQL_C_CHAR : uns ? SQL_C_UBIGINT : SQL_C_SBIGINT;
    case SQL_C_SBIGINT: return odbc2 ? SQL_C_CHAR : SQL_C_SBIGINT;
    case SQL_C_UBIGINT: return odbc2 ? SQL_C_CHAR : SQL_C_UBIGINT;
    case SQL_FLOAT:
    case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_REAL: return SQL_C_FLOAT;
    /* the date/time codes of the application's ODBC version */
    case SQL_DATE:
    case SQL_TYPE_DATE: return odbc2 ? SQL_C_DATE : SQL_C_TYPE_DATE;
    case SQL_TIME:
    case SQL_TYPE_TIME: return odbc2 ? SQL_C_TIME : SQL_C_TYPE_TIME;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP: return odbc2 ? SQL_C_TIMESTAMP : SQL_C_TYPE_TIMESTAMP;
    case SQL_GUID: return SQL_C_GUID;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return SQL_C_WCHAR;
    case SQL_BIT: return SQL_C_BIT;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return SQL_C_BINARY;
    }
    if (sql_type >= SQL_INTERVAL_YEAR && sql_type <= SQL_INTERVAL_MINUTE_TO_SECOND)
        return sql_type; /* an interval's C code is its SQL code */
    return SQL_C_CHAR;
}

int column_default_c_type(const my_statement *s, const field *col)
{
    const my_environment *env = handle_env(s);
    return default_c_type(col->concise_type, col->is_unsigned ? SIGN_UNSIGNED : SIGN_SIGNED, 1,
                          env && env->odbc_version == SQL_OV_ODBC2);
}

int is_valid_c_type(int t)
{
    return t == 1 || t == 2 || t == 4 || t == 5 || (t >= 7 && t <= 11) ||
           (t >= 91 && t <= 93) || t == SQL_C_DEFAULT || (t >= 101 && t <= 113) ||
           (t >= -28 && t <= -25) || (t >= -18 && t <= -15) || t == -11 ||
           (t >= -8 && t <= -6) || t == -2;
}

int is_valid_sql_type(int t)
{
    return (t >= 1 && t <= 12) || (t >= 91 && t <= 93) || (t >= -28 && t <= -25) ||
           (t >= -18 && t <= -15) || (t >= -11 && t <= -1);
}

const char *sql_type_name(int t)
{
    switch (t) {
    case 2: return "NUMERIC";
    case 3: return "DECIMAL";
    case 4: case -16: case -18: return "INTEGER";
    case 5: case -15: case -17: return "SMALLINT";
    case 6: return "FLOAT";
    case 7: return "REAL";
    case 8: return "DOUBLE";
    case 9: case 91: return "DATE";
    case 10: case 92: return "TIME";
    case 11: case 93: return "TIMESTAMP";
    case 12: return "VARCHAR";
    case -6: case -26: case -28: return "TINYINT";
    case -5: case -25: case -27: return "BIGINT";
    case -11: return "GUID";
    case -10: return "LONGWCHAR";
    case -9: return "WVARCHAR";
    case -8: return "WCHAR";
    case -7: return "BIT";
    case -4: return "LONGVARBINARY";
    case -3: return "VARBINARY";
    case -2: return "BINARY";
    case -1: return "LONGVARCHAR";
    }
    return "CHAR";
}
