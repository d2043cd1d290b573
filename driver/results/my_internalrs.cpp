/*
 * Internal result sets: sorted results built in memory.
 *
 * Rows are kept in a vector in insertion order and stable-sorted on the keys
 * once, just before the first fetch reads them (and again over the unread
 * rows should anything be inserted after fetching began). Inserting by
 * walking a list to the right place would make a catalog answer of n rows
 * cost O(n^2); a large SQLColumns result then took seconds.
 */
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <vector>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "results/my_fetch.h"
#include "results/my_internalrs.h"

namespace {

/* One row in a single allocation: the value pointers, their byte lengths,
 * then the NUL-terminated texts themselves. */
struct irs_row {
    char **values;          /* one per column; null for SQL NULL */
    uint32_t *lengths;
};

} // namespace

struct internal_rs {
    internal_rs_layout layout;
    std::vector<int> keys;          /* 0-based column indexes, by precedence */
    std::vector<irs_row *> rows;    /* insertion order until sorted */
    size_t next;                    /* index of the row the next fetch delivers */
    int unsorted;                   /* rows were inserted since the last sort */
    int after_end;                  /* a fetch has run past the last row */
    int before_first;               /* no fetch yet */
};

namespace {

bool is_integer_type(int sql_type) { return sql_type == SQL_INTEGER || sql_type == SQL_SMALLINT; }

/* The base-10 number at the start of a text: optional blanks and a sign,
 * then digits up to the first other character. Saturates instead of
 * overflowing, so a hostile or odd catalog value cannot cause undefined
 * behaviour. */
int64_t decimal_value(const char *s)
{
    while (*s == ' ' || *s == '\t')
        s++;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        s++;
    int64_t v = 0;
    for (; *s >= '0' && *s <= '9'; s++) {
        int digit = *s - '0';
        if (v > (INT64_MAX - digit) / 10)
            return negative ? INT64_MIN : INT64_MAX;
        v = v * 10 + digit;
    }
    return negative ? -v : v;
}

int32_t clamp_int32(int64_t v)
{
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : (int32_t)v;
}

irs_row *row_make(const char *const *values, int count)
{
    size_t text_bytes = 0;
    for (int i = 0; i < count; i++) {
        if (!values || !values[i])
            continue;
        size_t len = strlen(values[i]);
        if (len >= (size_t)INT32_MAX)   /* alloc_length of a value holder is 32-bit */
            return nullptr;
        text_bytes += len + 1;
    }
    size_t head = sizeof(irs_row) + (size_t)count * (sizeof(char *) + sizeof(uint32_t));
    irs_row *r = (irs_row *)malloc(head + text_bytes);
    if (!r)
        return nullptr;
    r->values = (char **)(r + 1);
    r->lengths = (uint32_t *)(r->values + count);
    char *p = (char *)(r->lengths + count);
    for (int i = 0; i < count; i++) {
        const char *v = values ? values[i] : nullptr;
        if (!v) {
            r->values[i] = nullptr;
            r->lengths[i] = 0;
            continue;
        }
        size_t len = strlen(v);
        memcpy(p, v, len + 1);
        r->values[i] = p;
        r->lengths[i] = (uint32_t)len;
        p += len + 1;
    }
    return r;
}

/* Negative, 0 or positive as row a sorts before, with or after row b. */
int compare_rows(const internal_rs *rs, const irs_row *a, const irs_row *b)
{
    for (int col : rs->keys) {
        const char *va = a->values[col], *vb = b->values[col];
        if (!va || !vb) {
            if (va == vb)
                continue;
            return va ? 1 : -1;   /* NULL first */
        }
        if (is_integer_type(rs->layout.columns[col].sql_type)) {
            int64_t na = decimal_value(va), nb = decimal_value(vb);
            if (na != nb)
                return na < nb ? -1 : 1;
            continue;
        }
        uint32_t la = a->lengths[col], lb = b->lengths[col];
        int c = memcmp(va, vb, la < lb ? la : lb);   /* unsigned bytes */
        if (c)
            return c;
        if (la != lb)
            return la < lb ? -1 : 1;
    }
    return 0;
}

/* Puts the rows not yet delivered into key order. Stable, so rows with
 * equal keys keep their insertion order. */
void sort_unread(internal_rs *rs)
{
    if (!rs->unsorted)
        return;
    rs->unsorted = 0;
    if (rs->keys.empty())
        return;
    std::stable_sort(rs->rows.begin() + (ptrdiff_t)rs->next, rs->rows.end(),
                     [rs](const irs_row *a, const irs_row *b) { return compare_rows(rs, a, b) < 0; });
}

/* ---------------------------------------------------------------- describe */

/* How a layout column is presented in the IRD, by its SQL type. */
struct column_kind {
    int32_t concise_type;
    int32_t mysql_type;       /* the protocol type a server column of this kind has */
    int64_t size;             /* display size, length, precision; 0: the VARCHAR length */
    int64_t octet_length;     /* 0: the VARCHAR length */
    int32_t fixed_prec_scale;
    const char *quote;        /* literal prefix and suffix; null: none */
    const char *type_name;    /* type name and local type name */
    int32_t radix;
    int32_t case_sensitive;
    int32_t searchable;
};

const column_kind kind_varchar = {SQL_VARCHAR, 253, 0, 0, 0, "'", "VARCHAR", 0, 1, SQL_PRED_SEARCHABLE};
const column_kind kind_integer = {SQL_INTEGER, 3, 10, 4, 1, nullptr, "INTEGER", 10, 0, SQL_PRED_BASIC};
const column_kind kind_smallint = {SQL_SMALLINT, 2, 5, 2, 1, nullptr, "SMALLINT", 10, 0, SQL_PRED_BASIC};

/* Layouts use only VARCHAR, INTEGER and SMALLINT; anything else is shown
 * and held as VARCHAR text. */
const column_kind &kind_of(int sql_type)
{
    return sql_type == SQL_INTEGER ? kind_integer : sql_type == SQL_SMALLINT ? kind_smallint : kind_varchar;
}

int describe_column(const my_connection *conn, field *f, const internal_rs_column &col)
{
    const column_kind &k = kind_of(col.sql_type);
    int64_t size = k.size ? k.size : col.length;
    f->name = ms_from_latin1(col.name);
    f->unnamed = 0;
    f->concise_type = f->type = k.concise_type;
    f->datetime_interval_code = 0;
    f->mysql_type = k.mysql_type;
    /* Text values are bytes in the connection's character set, as the
     * server sent them to the inner statements: the wide converter needs
     * to know which. */
    f->charset_number = k.concise_type == SQL_VARCHAR && conn ? conn->charset : 0;
    f->display_size = f->length = size;
    f->precision = (int32_t)size;
    f->scale = 0;
    f->octet_length = k.octet_length ? k.octet_length : col.length;
    f->fixed_prec_scale = k.fixed_prec_scale;
    f->type_name = ms_from_latin1(k.type_name);
    f->local_type_name = ms_from_latin1(k.type_name);
    if (k.quote) {
        f->literal_prefix = ms_from_latin1(k.quote);
        f->literal_suffix = ms_from_latin1(k.quote);
        if (!f->literal_prefix || !f->literal_suffix)
            return -1;
    }
    f->num_prec_radix = k.radix;
    f->case_sensitive = k.case_sensitive;
    f->searchable = k.searchable;
    f->nullable = col.nullable;
    f->is_unsigned = 0;
    f->auto_unique_value = 0;
    f->updatable = SQL_ATTR_READWRITE_UNKNOWN;
    return f->name && f->type_name && f->local_type_name ? 0 : -1;
}

int describe_columns(my_statement *stmt, const internal_rs_layout *layout)
{
    my_descriptor *ird = stmt->implicit_ird;
    stmt->ird = ird;
    if (desc_set_records(ird, layout->column_count) != 0)
        return -1;
    ird->described_count = layout->column_count;
    ird->described_valid = 1;
    const my_connection *conn = handle_conn(stmt);
    for (int i = 0; i < layout->column_count; i++)
        if (describe_column(conn, &ird->records[i], layout->columns[i]) != 0)
            return -1;
    return 0;
}

/* ---------------------------------------------------------------- populate */

/* One value into a holder. Text reuses the holder's buffer from row to row:
 * the buffer only grows, so a set of same-sized rows allocates once. */
int put_value(field *f, const char *text, uint32_t len)
{
    data_storage *d = &f->storage;
    d->value_offset = 0;
    d->wide_offset = 0;
    d->isnull = 0;
    d->data_done = 0;
    d->alloc_length = 0;
    d->is_unsigned = 0;
    if (is_integer_type(f->concise_type)) {
        d->data_type = SQL_INTEGER;
        d->v.i32 = 0;
        if (!text)
            d->isnull = 1;
        else
            d->v.i32 = clamp_int32(decimal_value(text));
        return 0;
    }
    d->data_type = SQL_CHAR;
    if (!text) {
        d->isnull = 1;
        return 0;
    }
    if (len + 1 > d->capacity) {
        uint32_t want = len + 1 < 64 ? 64 : len + 1;
        unsigned char *p = (unsigned char *)realloc(d->buffer, want);
        if (!p)
            return -1;
        d->buffer = p;
        d->capacity = want;
    }
    memcpy(d->buffer, text, len);
    d->buffer[len] = 0;
    d->alloc_length = (int32_t)len;
    return 0;
}

int populate_row(my_statement *stmt, const internal_rs *rs, const irs_row *row)
{
    my_descriptor *ird = stmt->ird;
    /* The IRD may have been grown by SQLBindCol past the layout; never read
     * beyond the row's own values. */
    int n = std::min(desc_column_count(ird), rs->layout.column_count);
    for (int i = 0; i < n; i++) {
        field *f = &ird->records[i];
        QV_TRACE(stmt, LOG_DETAIL, "populate internal row: reading column %d", i);
        QV_TRACE(stmt, LOG_CONTINUE, "field->consise_type = %d", f->concise_type);
        if (put_value(f, row->values[i], row->lengths[i]) != 0) {
            post_error(stmt, ST_HY001, 0, nullptr);
            return -1;
        }
    }
    return 0;
}

} // namespace

/* ------------------------------------------------------------------ public */

int internal_rs_create(my_statement *stmt, const internal_rs_layout *layout, const int *keys)
{
    internal_rs_free(stmt);
    internal_rs *rs = new (std::nothrow) internal_rs();
    if (!rs) {
        post_error(stmt, ST_HY001, 0, nullptr);
        return -1;
    }
    rs->layout = *layout;
    rs->before_first = 1;
    try {
        for (const int *k = keys; k && *k > 0; k++)
            if (*k <= layout->column_count)   /* a key past the layout names no value */
                rs->keys.push_back(*k - 1);
    } catch (const std::bad_alloc &) {
        delete rs;
        post_error(stmt, ST_HY001, 0, nullptr);
        return -1;
    }
    if (describe_columns(stmt, layout) != 0) {
        delete rs;
        post_error(stmt, ST_HY001, 0, nullptr);
        return -1;
    }
    stmt->internal_rs = rs;
    stmt->data_waiting = 1;
    /* The IRD now describes the result: SQL_C_DEFAULT binding and the
     * metadata calls must use it, not describe some earlier SQL text. */
    stmt->described = 1;
    return 0;
}

int internal_rs_insert(my_statement *stmt, const char *const *values)
{
    internal_rs *rs = stmt->internal_rs;
    if (!rs) {
        post_error(stmt, ST_HY000, 0, "Attempting to insert to empty internal result set");
        return -1;
    }
    irs_row *r = row_make(values, rs->layout.column_count);
    if (!r) {
        post_error(stmt, ST_HY001, 0, nullptr);
        return -1;
    }
    try {
        rs->rows.push_back(r);
    } catch (const std::bad_alloc &) {
        free(r);
        post_error(stmt, ST_HY001, 0, nullptr);
        return -1;
    }
    rs->unsorted = 1;
    return 0;
}

SQLRETURN internal_rs_fetch(my_statement *stmt, int orientation, int *delivered)
{
    if (delivered)
        *delivered = 0;
    if (orientation != SQL_FETCH_NEXT) {
        post_error(stmt, ST_HY000, 0, "Scrolling fetch from internal result set");
        return SQL_ERROR;
    }
    internal_rs *rs = stmt->internal_rs;
    if (!rs || rs->rows.empty() || rs->after_end)
        return SQL_NO_DATA;
    if (rs->before_first) {
        rs->before_first = 0;
        rs->next = 0;
    }
    if (rs->next >= rs->rows.size()) {
        rs->after_end = 1;
        return SQL_NO_DATA;
    }
    sort_unread(rs);
    const irs_row *row = rs->rows[rs->next++];
    if (populate_row(stmt, rs, row) != 0)
        return SQL_ERROR;
    if (delivered)
        *delivered = 1;
    return transfer_bound_columns(stmt);
}

size_t internal_rs_row_count(const my_statement *stmt)
{
    return stmt->internal_rs ? stmt->internal_rs->rows.size() : 0;
}

void internal_rs_free(my_statement *stmt)
{
    internal_rs *rs = stmt->internal_rs;
    if (!rs)
        return;
    for (irs_row *r : rs->rows)
        free(r);
    delete rs;
    stmt->internal_rs = nullptr;
}
