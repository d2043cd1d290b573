/*
 * Shared machinery of the catalog functions.
 */
#include "catalog/my_catalog.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <mutex>
#include <new>

#include "connect/my_inner_query.h"
#include "desc/my_desc.h"
#include "protocol/my_conn.h"
#include "protocol/my_pkt.h"
#include "results/my_fetch.h"
#include "stmt/my_param_conv.h"
#include "stmt/my_stmt.h"

/* ============================================================ arguments */

/* An identifier argument: blanks around it go, and quotes around it with
 * their doubled inner quotes. */
static int make_identifier(cat_arg *a)
{
    my_string *s = a->s;
    uint32_t from = 0, to = s->length;
    while (from < to && s->data[from] == ' ')
        from++;
    while (to > from && s->data[to - 1] == ' ')
        to--;
    uint16_t q = to - from >= 2 ? s->data[from] : 0;
    int quoted = (q == '`' || q == '"') && s->data[to - 1] == q;
    my_string *id = ms_new(to - from);
    if (!id)
        return -1;
    uint32_t n = 0;
    for (uint32_t i = from + quoted; i < to - quoted; i++) {
        id->data[n++] = s->data[i];
        if (quoted && s->data[i] == q && i + 1 < to - quoted && s->data[i + 1] == q)
            i++;
    }
    id->length = n;
    ms_free(s);
    a->s = id;
    a->ident = 1;
    return 0;
}

int cat_arg_init(my_statement *stmt, cat_arg *a, const void *text, int64_t len, int wide,
                 int value_list)
{
    a->len = len;
    a->given = text != nullptr;
    if (!text)
        return 0;
    const my_connection *c = handle_conn(stmt);
    if (check_text_length(stmt, len, wide && !wide_is_utf8(c)) != 0)
        return -1;
    a->s = wide ? ms_from_wide(text, len, c) : ms_from_narrow((const char *)text, len, c);
    if (!a->s || (stmt->metadata_id && !value_list && make_identifier(a) != 0)) {
        post_error(stmt, ST_HY001, 0, nullptr);
        return -1;
    }
    return 0;
}

int cat_empty(const cat_arg &a) { return !cat_has_text(a); }

int cat_has_text(const cat_arg &a) { return a.s && a.s->length > 0; }

int cat_is_percent(const cat_arg &a) { return a.s && a.s->length == 1 && a.s->data[0] == '%'; }

int cat_filters(const cat_arg &a) { return cat_has_text(a) && !cat_is_percent(a); }

int cat_is_pattern(const cat_arg &a)
{
    return a.s && !a.ident && (ms_has_pattern(a.s) || ms_find(a.s, '_') >= 0);
}

/* ============================================================ SQL text */

static int no_memory(my_statement *stmt)
{
    post_error(stmt, ST_HY001, 0, nullptr);
    return -1;
}

int sql_add(my_statement *stmt, my_string *q, const char *ascii)
{
    return ms_append_latin1(q, ascii) == 0 ? 0 : no_memory(stmt);
}

/* The name goes through the same writer as parameter literals, into a
 * scratch packet in the session's text encoding, and comes back as a driver
 * string: the escaping rules live in one place. */
int sql_add_literal(my_statement *stmt, my_string *q, const my_string *name)
{
    const my_connection *c = handle_conn(stmt);
    my_packet p = {};
    p.length = p.pos = 4;   /* the writers count from behind a header */
    text_out *o = new (std::nothrow) text_out;
    if (!o)
        return no_memory(stmt);
    tout_init(o, &p, c, literal_escape_mode(c));
    utf16_tail tail = {};
    if (name && name->length)
        tout_wide(o, &tail, name->data, (size_t)name->length * 2);
    tout_wide_end(o, &tail);
    int failed = tout_finish(o) != 0;
    int utf8 = o->utf8;
    delete o;
    my_string *body = nullptr;
    if (!failed) {
        const char *bytes = p.data ? (const char *)p.data + 4 : "";
        size_t n = p.data ? (size_t)p.length - 4 : 0;
        body = utf8 ? ms_from_utf8(bytes, (int64_t)n) : ms_from_latin1_n(bytes, n);
    }
    free(p.data);
    if (!body)
        return no_memory(stmt);
    int rc = ms_append_latin1(q, "'") || ms_append(q, body) || ms_append_latin1(q, "'");
    ms_free(body);
    return rc == 0 ? 0 : no_memory(stmt);
}

int sql_add_ident(my_statement *stmt, my_string *q, const my_string *name)
{
    uint32_t n = name ? name->length : 0, extra = 0;
    for (uint32_t i = 0; i < n; i++)
        extra += name->data[i] == '`';
    my_string *body = ms_new(n + extra + 2);
    if (!body)
        return no_memory(stmt);
    uint32_t k = 0;
    body->data[k++] = '`';
    for (uint32_t i = 0; i < n; i++) {
        body->data[k++] = name->data[i];
        if (name->data[i] == '`')
            body->data[k++] = '`';   /* a backquote cannot end the identifier */
    }
    body->data[k++] = '`';
    int rc = ms_append(q, body);
    ms_free(body);
    return rc == 0 ? 0 : no_memory(stmt);
}

my_string *sql_index_listing(my_statement *stmt, const char *verb, const my_string *catalog,
                             const my_string *table)
{
    my_string *q = ms_from_latin1("SHOW ");
    if (!q) {
        no_memory(stmt);
        return nullptr;
    }
    int rc = sql_add(stmt, q, verb) || sql_add(stmt, q, " FROM ");
    if (!rc && catalog)
        rc = sql_add_ident(stmt, q, catalog) || sql_add(stmt, q, ".");
    if (!rc)
        rc = sql_add_ident(stmt, q, table);
    if (rc) {
        ms_free(q);
        return nullptr;
    }
    return q;
}

int sql_add_match(my_statement *stmt, my_string *q, const char *lead, const char *column,
                  const cat_arg &name)
{
    const my_connection *c = handle_conn(stmt);
    int pattern = cat_is_pattern(name);
    if (sql_add(stmt, q, lead) || sql_add(stmt, q, " ") || sql_add(stmt, q, column) ||
        sql_add(stmt, q, pattern ? " LIKE " : "=") || sql_add_literal(stmt, q, name.s))
        return -1;
    if (!pattern || (c && c->memsql))
        return 0;
    /* The escape character is one backslash; how the literal must spell it
     * depends on whether the session reads backslash escapes. */
    return sql_add(stmt, q, literal_escape_mode(c) == ESC_QUOTES ? " ESCAPE '\\'"
                                                                  : " ESCAPE '\\\\'");
}

int sql_add_filter(my_statement *stmt, my_string *q, int *where, const char *column,
                   const cat_arg &name)
{
    if (!cat_filters(name))
        return 0;
    int rc = sql_add(stmt, q, *where ? " AND " : " WHERE ") || sql_add(stmt, q, column) ||
             sql_add(stmt, q, "=") || sql_add_literal(stmt, q, name.s);
    *where = 1;
    return rc;
}

/* ======================================================= inner statements */

my_statement *inner_create(my_statement *stmt)
{
    my_statement *inner = stmt_create(handle_conn(stmt));
    if (!inner) {
        no_memory(stmt);
        return nullptr;
    }
    /* The catalog must be complete whatever row limit the connection's
     * defaults carry; the application's time-out still applies. */
    inner->max_rows = 0;
    inner->query_timeout = stmt->query_timeout;
    inner->driver_own = 1;
    return inner;
}

void inner_release(my_statement *inner)
{
    if (!inner)
        return;
    my_close_stmt(inner, 1);
    stmt_release(inner, 0);
}

void copy_inner_diagnostics(my_statement *stmt, my_statement *inner)
{
    for (int i = 1; i <= diag_count(inner); i++)
        copy_diag_record(stmt, diag_get(inner, i));
}

int catalog_query(my_statement *stmt, my_string *q,
                  const std::function<int(my_statement *inner)> &row, int *native)
{
    QV_TRACE(stmt, LOG_DETAIL, "catalog query: '%S'", q);
    my_statement *inner = inner_create(stmt);
    if (!inner) {
        ms_free(q);
        return -1;
    }
    /* released on every way out, an exception from row included */
    std::unique_ptr<my_statement, void (*)(my_statement *)> hold(inner, inner_release);
    int rc = -1;
    SQLRETURN ret = my_exec_direct(inner, q);   /* takes over q */
    if (SQL_SUCCEEDED(ret)) {
        rc = 0;
        while (rc == 0) {
            ret = my_fetch(inner, SQL_FETCH_NEXT, 0);
            if (ret == SQL_NO_DATA)
                break;
            if (!SQL_SUCCEEDED(ret)) {
                rc = -1;
                break;
            }
            rc = row(inner);
        }
    }
    if (rc != 0 && diag_count(inner) > 0) {
        if (native)
            *native = diag_get(inner, 1)->native;
        copy_inner_diagnostics(stmt, inner);
    }
    return rc;
}

std::string conn_bytes(const my_connection *c, const my_string *s)
{
    std::unique_ptr<char, void (*)(void *)> b(conn_wire_utf8(c) ? ms_to_utf8(s) : ms_to_latin1(s),
                                             free);
    return std::string(b ? b.get() : "");
}

cat_text inner_text(my_statement *inner, int column, uint32_t max_chars)
{
    cat_text t;
    ms_ptr s(inner_column_text(inner, column, max_chars));
    if (s) {
        t.bytes = conn_bytes(handle_conn(inner), s.get());
        t.is_null = 0;
    }
    return t;
}

/* ================================================================= rows */

void cat_row::set(size_t i, const char *v)
{
    null[i] = v == nullptr;
    text[i] = v ? v : "";
}

void cat_row::set_ms(size_t i, const my_connection *c, const my_string *v)
{
    null[i] = v == nullptr;
    text[i] = v ? conn_bytes(c, v) : "";
}

void cat_row::set_int(size_t i, long v)
{
    char num[24];
    snprintf(num, sizeof num, "%ld", v);
    set(i, num);
}

static int is_binary(int t) { return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY; }

static int is_character(int t)
{
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR ||
           t == SQL_WVARCHAR || t == SQL_WLONGVARCHAR;
}

static int is_datetime(int t) { return (t >= 9 && t <= 11) || (t >= 91 && t <= 93); }

static long column_size(const field *f)
{
    switch (f->concise_type) {
    case SQL_NUMERIC: case SQL_DECIMAL: case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
        return f->precision;
    case SQL_INTEGER: return f->precision == 7 ? 8 : 10;
    case SQL_SMALLINT: return 5;
    case SQL_FLOAT: case SQL_DOUBLE: return 15;
    case SQL_REAL: return 7;
    case SQL_BIT: return 1;
    case SQL_TINYINT: return 3;
    case SQL_BIGINT: return 19;
    default: return (long)f->display_size;
    }
}

void cat_set_type_columns(cat_row *r, size_t at, const field *f)
{
    r->set_int(at, f->concise_type);
    r->set(at + 1, sql_type_name(f->concise_type));
    r->set_int(at + 2, column_size(f));
    r->set_int(at + 3, (long)f->octet_length);
    r->set_int(at + 4, f->scale);
    /* Integers count decimal digits: the column size above is in them,
     * whatever radix the descriptor leaves at 0 for them. */
    int integer = f->concise_type == SQL_TINYINT || f->concise_type == SQL_SMALLINT ||
                  f->concise_type == SQL_INTEGER || f->concise_type == SQL_BIGINT;
    if (f->num_prec_radix != 0 || integer)
        r->set_int(at + 5, f->num_prec_radix != 0 ? f->num_prec_radix : 10);
    r->set_int(at + 9, f->type);
    if (is_datetime(f->concise_type))
        r->set_int(at + 10, f->datetime_interval_code);
    if (is_character(f->concise_type) || is_binary(f->concise_type))
        r->set_int(at + 11, (long)f->octet_length);
}

int cat_row::insert(my_statement *stmt) const
{
    std::vector<const char *> v(text.size());
    for (size_t i = 0; i < text.size(); i++)
        v[i] = null[i] ? nullptr : text[i].c_str();
    return internal_rs_insert(stmt, v.data());
}

int server_has_information_schema(const my_connection *c)
{
    return server_version_at_least(c, 5, 2, 0);
}

/* ================================================================ frame */

int catalog_begin(my_statement *stmt, const internal_rs_layout *layout, const int *keys)
{
    if (my_close_stmt(stmt, 1) != 0)
        return -1;
    return internal_rs_create(stmt, layout, keys);
}

SQLRETURN catalog_done(my_statement *stmt, int hold_connection, int cursor_check)
{
    /* The answer is an internal result set, held in memory: reading it
     * holds nobody up, so the connection stays free whatever the caller
     * asks (hold_connection is kept for the callers' sake). */
    (void)hold_connection;
    return cursor_check ? apply_cursor_downgrade(stmt, SQL_SUCCESS) : SQL_SUCCESS;
}

int catalog_async_refused(my_statement *stmt, const char *fname, int own_a, int own_b, int run_a,
                          int run_b)
{
    int op = stmt->async_operation;
    if (op == 0 || (run_a && op == run_a) || (run_b && op == run_b))
        return 0;
    if ((own_a && op == own_a) || (own_b && op == own_b))
        return 1;
    QV_TRACE(stmt, LOG_ERROR, "%s: invalid async operation %d (%d)", fname, op, own_a);
    post_error(stmt, ST_HY010, 0, nullptr);
    return 1;
}

/* ============================================================ comparing */

static uint16_t fold_ascii(uint16_t u) { return u >= 'a' && u <= 'z' ? (uint16_t)(u - 32) : u; }

int cat_equal_ci(const my_string *a, const my_string *b)
{
    uint32_t n = a ? a->length : 0, m = b ? b->length : 0;
    if (n != m)
        return 0;
    for (uint32_t i = 0; i < n; i++)
        if (fold_ascii(a->data[i]) != fold_ascii(b->data[i]))
            return 0;
    return 1;
}

/* LIKE with a backslash as the escape character, letters folded. */
static int like_match(const uint16_t *s, uint32_t n, const uint16_t *p, uint32_t m)
{
    /* Iterative, with one back-track point: the last % seen. */
    uint32_t i = 0, j = 0, star_j = UINT32_MAX, star_i = 0;
    while (i < n) {
        if (j < m && p[j] == '%') {
            star_j = ++j;
            star_i = i;
            continue;
        }
        if (j < m) {
            uint16_t pc = p[j];
            uint32_t step = 1;
            int any = pc == '_';
            if (pc == '\\' && j + 1 < m) {
                pc = p[j + 1];
                step = 2;
                any = 0;
            }
            if (any || fold_ascii(pc) == fold_ascii(s[i])) {
                i++;
                j += step;
                continue;
            }
        }
        if (star_j == UINT32_MAX)
            return 0;
        j = star_j;
        i = ++star_i;
    }
    while (j < m && p[j] == '%')
        j++;
    return j == m;
}

int cat_name_matches(const my_string *name, const cat_arg &a)
{
    if (!cat_filters(a))
        return 1;
    if (!name)
        return 0;
    if (!cat_is_pattern(a))
        return cat_equal_ci(name, a.s);
    return like_match(name->data, name->length, a.s->data, a.s->length);
}

int cat_equal_ci_ascii(const my_string *a, const char *lit)
{
    size_t n = a ? a->length : 0;
    if (n != strlen(lit))
        return 0;
    for (size_t i = 0; i < n; i++)
        if (fold_ascii(a->data[i]) != fold_ascii((unsigned char)lit[i]))
            return 0;
    return 1;
}
