/*
 * Shared work of the descriptor entry points: the record-field table, the
 * role of a descriptor, record selection, describing on demand and the
 * width-exact writes.
 */
#include "stmt/my_desc_field.h"

#include <string.h>

#include <vector>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "stmt/my_stmt.h"

/* ------------------------------------------------------------------ roles */

desc_role desc_role_of(const my_descriptor *d)
{
    const my_statement *s = d->owner_statement;
    if (!d->app_desc) {
        /* Implementation descriptors never leave their statement. Anything
         * that is not the IPD is treated as the read-only IRD. */
        return s && s->ipd == d ? ROLE_IPD : ROLE_IRD;
    }
    if (s && s->ard == d)
        return ROLE_ARD;
    if (s && s->apd == d)
        return ROLE_APD;
    return ROLE_UNASSOCIATED;
}

/* ------------------------------------------------------------ field table */

#define F(m) offsetof(field, m)

/* One row per record field: its ODBC width when read (the field's ODBC type:
 * SQLSMALLINT 2, SQLINTEGER 4, SQLLEN/SQLULEN/pointers 8) and what setting it
 * does. The widths are the API's, not the members': a wider write would run
 * over the application's variable, a narrower one would leave half of it
 * stale. */
static const desc_field_row field_rows[] = {
    {SQL_DESC_CONCISE_TYPE, MK_INT32, 2, F(concise_type), NO_FALLBACK, SET_CONCISE_TYPE},
    {SQL_DESC_DISPLAY_SIZE, MK_INT64, 8, F(display_size), NO_FALLBACK, SET_IGNORED},
    {SQL_DESC_UNSIGNED, MK_INT32, 2, F(is_unsigned), NO_FALLBACK, SET_IGNORED_NOT_IPD},
    {SQL_DESC_FIXED_PREC_SCALE, MK_INT32, 2, F(fixed_prec_scale), NO_FALLBACK, SET_IGNORED_NOT_IPD},
    {SQL_DESC_UPDATABLE, MK_INT32, 2, F(updatable), NO_FALLBACK, SET_IGNORED},
    {SQL_DESC_AUTO_UNIQUE_VALUE, MK_INT32, 4, F(auto_unique_value), NO_FALLBACK, SET_IGNORED},
    {SQL_DESC_CASE_SENSITIVE, MK_INT32, 4, F(case_sensitive), NO_FALLBACK, SET_IGNORED_NOT_IPD},
    {SQL_DESC_SEARCHABLE, MK_INT32, 2, F(searchable), NO_FALLBACK, SET_IGNORED},
    {SQL_DESC_TYPE_NAME, MK_STRING, 0, F(type_name), NO_FALLBACK, SET_IGNORED_NOT_IPD},
    {SQL_DESC_TABLE_NAME, MK_STRING, 0, F(table_name), NO_FALLBACK, SET_IGNORED},
    {SQL_DESC_SCHEMA_NAME, MK_STRING, 0, F(schema_name), NO_FALLBACK, SET_IGNORED},
    {SQL_DESC_CATALOG_NAME, MK_STRING, 0, F(catalog_name), NO_FALLBACK, SET_IGNORED},
    {SQL_DESC_LABEL, MK_STRING, 0, F(name), NO_FALLBACK, SET_IGNORED},
    {SQL_DESC_BASE_COLUMN_NAME, MK_STRING, 0, F(base_column_name), F(name), SET_IGNORED},
    {SQL_DESC_BASE_TABLE_NAME, MK_STRING, 0, F(base_table_name), F(table_name), SET_IGNORED},
    {SQL_DESC_DATETIME_INTERVAL_PRECISION, MK_INT32, 4, F(datetime_interval_precision), NO_FALLBACK, SET_STORE},
    {SQL_DESC_LITERAL_PREFIX, MK_STRING, 0, F(literal_prefix), NO_FALLBACK, SET_IGNORED},
    {SQL_DESC_LITERAL_SUFFIX, MK_STRING, 0, F(literal_suffix), NO_FALLBACK, SET_IGNORED},
    {SQL_DESC_LOCAL_TYPE_NAME, MK_STRING, 0, F(local_type_name), NO_FALLBACK, SET_IGNORED_NOT_IPD},
    {SQL_DESC_NUM_PREC_RADIX, MK_INT32, 4, F(num_prec_radix), NO_FALLBACK, SET_STORE},
    {SQL_DESC_PARAMETER_TYPE, MK_INT32, 2, F(parameter_type), NO_FALLBACK, SET_PARAMETER_TYPE},
    {SQL_DESC_ROWVER, MK_INT32, 2, F(rowver), NO_FALLBACK, SET_STORE},
    {SQL_DESC_TYPE, MK_INT32, 2, F(type), NO_FALLBACK, SET_TYPE},
    {SQL_DESC_LENGTH, MK_INT64, 8, F(length), NO_FALLBACK, SET_STORE},
    {SQL_DESC_OCTET_LENGTH_PTR, MK_PTR, 8, F(octet_length_ptr), NO_FALLBACK, SET_BINDING_PTR},
    {SQL_DESC_PRECISION, MK_INT32, 2, F(precision), NO_FALLBACK, SET_STORE},
    {SQL_DESC_SCALE, MK_INT32, 2, F(scale), NO_FALLBACK, SET_STORE},
    {SQL_DESC_DATETIME_INTERVAL_CODE, MK_INT32, 2, F(datetime_interval_code), NO_FALLBACK, SET_INTERVAL_CODE},
    {SQL_DESC_NULLABLE, MK_INT32, 2, F(nullable), NO_FALLBACK, SET_IGNORED_NOT_IPD},
    {SQL_DESC_INDICATOR_PTR, MK_PTR, 8, F(indicator_ptr), NO_FALLBACK, SET_BINDING_PTR},
    {SQL_DESC_DATA_PTR, MK_PTR, 8, F(data_ptr), NO_FALLBACK, SET_DATA_PTR},
    {SQL_DESC_NAME, MK_STRING, 0, F(name), NO_FALLBACK, SET_NAME},
    {SQL_DESC_UNNAMED, MK_UNNAMED, 2, 0, NO_FALLBACK, SET_UNNAMED},
    {SQL_DESC_OCTET_LENGTH, MK_INT64, 8, F(octet_length), NO_FALLBACK, SET_STORE},
};

#undef F

const desc_field_row *desc_field_lookup(int identifier)
{
    for (const desc_field_row &r : field_rows)
        if (r.identifier == identifier)
            return &r;
    return nullptr;
}

int desc_is_header_field(int identifier)
{
    switch (identifier) {
    case SQL_DESC_ARRAY_SIZE:
    case SQL_DESC_ARRAY_STATUS_PTR:
    case SQL_DESC_BIND_OFFSET_PTR:
    case SQL_DESC_BIND_TYPE:
    case SQL_DESC_ROWS_PROCESSED_PTR:
    case SQL_DESC_COUNT:
    case SQL_DESC_ALLOC_TYPE:
        return 1;
    }
    return 0;
}

int64_t desc_field_number(const field *f, const desc_field_row *row)
{
    const char *at = (const char *)f + row->member;
    switch (row->kind) {
    case MK_INT32: {
        int32_t v;
        memcpy(&v, at, sizeof v);
        return v;
    }
    case MK_INT64: {
        int64_t v;
        memcpy(&v, at, sizeof v);
        return v;
    }
    case MK_PTR: {
        void *p;
        memcpy(&p, at, sizeof p);
        return (int64_t)(intptr_t)p;
    }
    case MK_UNNAMED:
        /* Derived from the name itself: a record may be named by the server
         * while its unnamed flag still has the fresh-record value. */
        return f->name ? SQL_NAMED : SQL_UNNAMED;
    case MK_STRING:
        break;
    }
    return 0;
}

void desc_field_store(field *f, const desc_field_row *row, int64_t v)
{
    /* The application passes the value in a pointer-sized argument; only
     * the field's own ODBC width is meaningful. */
    if (row->width == 2)
        v = (SQLSMALLINT)v;
    else if (row->width == 4)
        v = (SQLINTEGER)v;
    char *at = (char *)f + row->member;
    switch (row->kind) {
    case MK_INT32: {
        int32_t x = (int32_t)v;
        memcpy(at, &x, sizeof x);
        return;
    }
    case MK_INT64:
        memcpy(at, &v, sizeof v);
        return;
    case MK_PTR: {
        void *p = (void *)(intptr_t)v;
        memcpy(at, &p, sizeof p);
        return;
    }
    case MK_STRING:
    case MK_UNNAMED:
        return;
    }
}

const my_string *desc_field_text(const field *f, const desc_field_row *row)
{
    const my_string *s;
    memcpy(&s, (const char *)f + row->member, sizeof s);
    if (!s && row->fallback != NO_FALLBACK)
        memcpy(&s, (const char *)f + row->fallback, sizeof s);
    return s;
}

void put_number(void *value, int width, int64_t v, SQLINTEGER *string_length)
{
    if (value) {
        /* memcpy: the application's variable need not be aligned for us. */
        if (width == 2) {
            SQLSMALLINT x = (SQLSMALLINT)v;
            memcpy(value, &x, sizeof x);
        } else if (width == 4) {
            SQLINTEGER x = (SQLINTEGER)v;
            memcpy(value, &x, sizeof x);
        } else {
            SQLLEN x = (SQLLEN)v;
            memcpy(value, &x, sizeof x);
        }
    }
    if (string_length)
        *string_length = width;
}

/* ------------------------------------------------------ record selection */

field *desc_record_for_get(my_descriptor *d, int rec)
{
    if (rec < 0 || rec > d->field_count) {
        post_error(d, ST_07009, 0, nullptr);
        return nullptr;
    }
    if (rec > 0)
        return &d->records[rec - 1];
    /* Parameters have no bookmark. */
    const my_statement *s = d->owner_statement;
    if (s && (s->apd == d || s->ipd == d)) {
        post_error(d, ST_07009, 0, nullptr);
        return nullptr;
    }
    return &d->bookmark_record;
}

field *desc_record_for_set(my_descriptor *d, desc_role role, int rec, const char *fname)
{
    if (rec < 0 || (rec == 0 && role == ROLE_IPD)) {
        post_error(d, ST_07009, 0, nullptr);
        return nullptr;
    }
    if (rec == 0)
        return &d->bookmark_record;
    if (rec > d->field_count && desc_grow(d, rec) != 0) {
        QV_TRACE(d, LOG_ERROR, "%s: failed to expand descriptor", fname);
        /* On the descriptor: that is the handle the application asks. */
        post_error(d, ST_HY001, 0, "failed expanding descriptor");
        return nullptr;
    }
    return &d->records[rec - 1];
}

/* ------------------------------------------------- describing on demand */

/* The command layer reports on the statement; the application asked the
 * descriptor, so the records this describing added are copied there. */
static void copy_new_diagnostics(my_descriptor *d, my_statement *s,
                                 const std::vector<const diag_record *> &before)
{
    int n = diag_count(s);
    for (int i = 1; i <= n; i++) {
        const diag_record *r = diag_get(s, i);
        bool old = false;
        for (const diag_record *b : before)
            old = old || b == r;
        if (!old)
            copy_diag_record(d, r);
    }
}

static std::vector<const diag_record *> diagnostics_of(my_statement *s)
{
    std::vector<const diag_record *> list;
    int n = diag_count(s);
    for (int i = 1; i <= n; i++)
        list.push_back(diag_get(s, i));
    return list;
}

static SQLRETURN describe_failed(my_descriptor *d, my_statement *s, int rc,
                                 const std::vector<const diag_record *> &before)
{
    int had = diag_count(d);
    copy_new_diagnostics(d, s, before);
    if (diag_count(d) > had)
        return SQL_ERROR;
    /* Nothing said why: a time-out is the caller's to report, anything else
     * still needs a record. */
    if (rc == -2)
        post_error(d, ST_HYT00, 0, nullptr);
    else
        post_error(d, ST_HY000, 0, "failed describing statement");
    return SQL_ERROR;
}

SQLRETURN desc_describe_on_demand(my_descriptor *d, const char *fname)
{
    my_statement *s = d->owner_statement;
    if (d->app_desc || !s || (s->ird != d && s->ipd != d))
        return SQL_SUCCESS;
    bool columns = s->ird == d;
    QV_TRACE(d, LOG_DETAIL, columns ? "describing a IRD descriptor" : "describing a IPD descriptor");
    /* The describing changes the statement: no statement call may run
     * beside it. Lock order: descriptor, then its statement. */
    std::lock_guard<qv_mutex> g(s->entry_lock);
    if (!s->sql_text)
        return SQL_SUCCESS;
    std::vector<const diag_record *> before = diagnostics_of(s);
    if (!s->prepared) {
        int rc = prepare_stmt(s, s->sql_text);
        if (rc != 0) {
            QV_TRACE(d, LOG_ERROR, "%s: failed preparing statement", fname);
            post_error(d, ST_HY007, 0, nullptr);
            copy_new_diagnostics(d, s, before);
            return SQL_ERROR;
        }
    }
    int rc = 0;
    if (columns && !s->described)
        rc = text_describe(s, s->sql_text);
    else if (!columns && !s->params_described)
        rc = describe_params(s, s->sql_text);
    if (rc != 0) {
        QV_TRACE(d, LOG_ERROR, "%s: failed describing statement", fname);
        return describe_failed(d, s, rc, before);
    }
    return SQL_SUCCESS;
}

/* ------------------------------------------------------------- copy-out */

int desc_copy_text(my_descriptor *d, const my_string *s, int mode, void *buf,
                   int64_t buf_len, int64_t *full)
{
    *full = 0;
    if (!s) {
        /* An absent text is an empty answer, never a truncated one. */
        if (buf && mode == COPY_NARROW && buf_len >= 1)
            *(char *)buf = 0;
        else if (buf && mode == COPY_WIDE_CHARS && buf_len >= 1)
            memset(buf, 0, 2);
        else if (buf && mode == COPY_WIDE_BYTES && buf_len >= 2)
            memset(buf, 0, 2);
        return 0;
    }
    if (copy_out_string(s, handle_conn(d), mode, buf, buf_len, full) == 0)
        return 0;
    post_error(d, ST_01004, 0, nullptr);
    return 1;
}
