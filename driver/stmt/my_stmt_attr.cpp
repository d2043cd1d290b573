/*
 * Statement attributes: plain members, descriptor-held values, the tied
 * cursor attributes and the association of explicit descriptors.
 */
#include "stmt/my_stmt_attr.h"

#include <sqlext.h>

#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "stmt/my_stmt.h"

static int64_t as_int(SQLPOINTER v) { return (int64_t)(intptr_t)v; }

SQLRETURN stmt_set_app_desc(my_statement *s, SQLINTEGER attribute, SQLPOINTER value)
{
    bool row = attribute == SQL_ATTR_APP_ROW_DESC;
    my_descriptor **current = row ? &s->ard : &s->apd;
    my_descriptor *implicit = row ? s->implicit_ard : s->implicit_apd;
    my_descriptor *d = nullptr;
    if (value) {
        d = as_desc(value);
        if (!d) {
            post_error(s, ST_HY024, 0, nullptr);
            return SQL_ERROR;
        }
        if (d->alloc_implicit && d != implicit) {
            post_error(s, ST_HY017, 0, nullptr);
            return SQL_ERROR;
        }
        if (!d->alloc_implicit && d->hdr.owner != s->hdr.owner) {
            post_error(s, ST_HY024, 0, nullptr);
            return SQL_ERROR;
        }
    } else {
        d = implicit;
    }
    my_descriptor *previous = *current;
    *current = d;
    d->owner_statement = s;
    /* The previous explicit descriptor may still serve another statement. */
    if (previous != implicit && previous != d)
        desc_detach(previous, s);
    return SQL_SUCCESS;
}

/* Cursor type, scrollability, sensitivity and concurrency are tied together. */
static void set_cursor_type(my_statement *s, int64_t v)
{
    switch (v) {
    case SQL_CURSOR_FORWARD_ONLY:
        s->cursor_scrollable = SQL_NONSCROLLABLE;
        break;
    case SQL_CURSOR_KEYSET_DRIVEN:
    case SQL_CURSOR_STATIC:
        s->cursor_scrollable = SQL_SCROLLABLE;
        s->cursor_sensitivity = s->concurrency == SQL_CONCUR_READ_ONLY ? SQL_INSENSITIVE : SQL_SENSITIVE;
        break;
    case SQL_CURSOR_DYNAMIC:
        s->cursor_scrollable = SQL_SCROLLABLE;
        if (s->concurrency != SQL_CONCUR_READ_ONLY)
            s->cursor_sensitivity = SQL_SENSITIVE;
        break;
    default:
        break;
    }
    s->cursor_type = v;
}

SQLRETURN stmt_set_attr(my_statement *s, SQLINTEGER attribute, SQLPOINTER value,
                        const char *fname, int odbc2)
{
    int64_t v = as_int(value);
    switch (attribute) {
    case SQL_ATTR_QUERY_TIMEOUT: s->query_timeout = (int32_t)v; break;
    case SQL_ATTR_NOSCAN: s->noscan = (int32_t)v; break;
    case SQL_ATTR_MAX_LENGTH: s->max_length = v; break;
    case SQL_ATTR_ASYNC_ENABLE: s->async_enable = (int32_t)v; break;
    case SQL_ATTR_KEYSET_SIZE: s->keyset_size = v; break;
    case SQL_ATTR_SIMULATE_CURSOR: s->simulate_cursor = (int32_t)v; break;
    case SQL_ATTR_RETRIEVE_DATA: s->retrieve_data = (int32_t)v; break;
    case SQL_ATTR_USE_BOOKMARKS: s->use_bookmarks = (int32_t)v; break;
    case SQL_ATTR_ENABLE_AUTO_IPD: s->enable_auto_ipd = (int32_t)v; break;
    case SQL_ATTR_FETCH_BOOKMARK_PTR: s->fetch_bookmark_ptr = value; break;
    case SQL_ATTR_METADATA_ID: s->metadata_id = (int32_t)v; break;
    case SQL_ATTR_MAX_ROWS:
        s->max_rows = v;
        /* the limit in force follows the statement at once; a failure shows
         * again at the next execution, which brings the limit in line (sent
         * on the statement's behalf: the connection's records are another
         * thread's to read) */
        check_select_limit(s);
        break;
    case SQL_ROWSET_SIZE:
        s->rowset_size = v < 1 ? 1 : v;
        break;
    case SQL_ATTR_ROW_ARRAY_SIZE:
        if (odbc2)
            goto unknown;
        s->ard->array_size = v < 1 ? 1 : (uint64_t)v;
        break;
    case SQL_ATTR_CONCURRENCY:
        s->concurrency = (int32_t)v;
        s->cursor_sensitivity = v == SQL_CONCUR_READ_ONLY ? SQL_INSENSITIVE : SQL_SENSITIVE;
        break;
    case SQL_ATTR_CURSOR_TYPE:
        set_cursor_type(s, (int32_t)v);
        break;
    case SQL_ATTR_CURSOR_SCROLLABLE:
        if (odbc2)
            goto unknown;
        if (v == SQL_SCROLLABLE) {
            s->cursor_scrollable = SQL_SCROLLABLE;
            s->cursor_type = s->cursor_sensitivity == SQL_SENSITIVE ? SQL_CURSOR_DYNAMIC
                                                                   : SQL_CURSOR_STATIC;
        } else {
            s->cursor_scrollable = (int32_t)v;
            s->cursor_type = SQL_CURSOR_FORWARD_ONLY;
        }
        break;
    case SQL_ATTR_CURSOR_SENSITIVITY:
        if (odbc2)
            goto unknown;
        if (v == SQL_SENSITIVE) {
            s->concurrency = s->cursor_type = s->cursor_sensitivity = 2;
        } else {
            s->cursor_type = SQL_CURSOR_STATIC;
            s->concurrency = SQL_CONCUR_READ_ONLY;
            s->cursor_sensitivity = (int32_t)v;
        }
        break;
    case SQL_ATTR_ROW_NUMBER:
    case SQL_GET_BOOKMARK:
        if (!odbc2 && attribute == SQL_GET_BOOKMARK)
            goto unknown;
        break;   /* accepted and ignored */
    case SQL_ATTR_ROW_BIND_TYPE: s->ard->bind_type = (int32_t)v; break;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR: s->ard->bind_offset_ptr = value; break;
    case SQL_ATTR_ROW_OPERATION_PTR: s->ard->array_status_ptr = value; break;
    case SQL_ATTR_ROW_STATUS_PTR: s->ird->array_status_ptr = value; break;
    case SQL_ATTR_ROWS_FETCHED_PTR: s->ird->rows_processed_ptr = value; break;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR: s->apd->bind_offset_ptr = value; break;
    case SQL_ATTR_PARAM_BIND_TYPE: s->apd->bind_type = (int32_t)v; break;
    case SQL_ATTR_PARAM_OPERATION_PTR: s->apd->array_status_ptr = value; break;
    case SQL_ATTR_PARAMSET_SIZE: s->apd->array_size = (uint64_t)v; break;
    case SQL_ATTR_PARAM_STATUS_PTR: s->ipd->array_status_ptr = value; break;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: s->ipd->rows_processed_ptr = value; break;
    case SQL_ATTR_APP_ROW_DESC:
    case SQL_ATTR_APP_PARAM_DESC:
        if (odbc2)
            goto unknown;
        return stmt_set_app_desc(s, attribute, value);
    case SQL_ATTR_IMP_ROW_DESC:
    case SQL_ATTR_IMP_PARAM_DESC:
        if (odbc2)
            goto unknown;
        post_error(s, ST_HY017, 0, nullptr);
        return SQL_ERROR;
    default:
        goto unknown;
    }
    return SQL_SUCCESS;

unknown:
    if (odbc2) {
        QV_TRACE(s, LOG_ERROR, "%s: unexpected Option %d", fname, (int)attribute);
        post_error(s, ST_S1092, 0, nullptr);
    } else {
        QV_TRACE(s, LOG_ERROR, "%s: unexpected attribute %d", fname, (int)attribute);
        post_error(s, ST_HY092, 0, nullptr);
    }
    return SQL_ERROR;
}

/* Attributes ODBC defines as SQLUINTEGER are written as 32 bits: writing 8
 * bytes into the application's 4-byte variable would overrun it. Everything
 * else (SQLULEN values and pointers) is written as 64 bits. */
SQLRETURN stmt_get_attr(my_statement *s, SQLINTEGER attribute, SQLPOINTER value,
                        SQLINTEGER *width, const char *fname)
{
    int64_t v = 0;
    bool narrow = false;
    switch (attribute) {
    case SQL_ATTR_QUERY_TIMEOUT: v = s->query_timeout; break;
    case SQL_ATTR_MAX_ROWS: v = s->max_rows; break;
    case SQL_ATTR_NOSCAN: v = s->noscan; break;
    case SQL_ATTR_MAX_LENGTH: v = s->max_length; break;
    case SQL_ATTR_ASYNC_ENABLE: v = s->async_enable; break;
    case SQL_ATTR_CURSOR_TYPE: v = s->cursor_type; break;
    case SQL_ATTR_CONCURRENCY: v = s->concurrency; break;
    case SQL_ATTR_KEYSET_SIZE: v = s->keyset_size; break;
    case SQL_ROWSET_SIZE: v = s->rowset_size; break;
    case SQL_ATTR_SIMULATE_CURSOR: v = s->simulate_cursor; break;
    case SQL_ATTR_RETRIEVE_DATA: v = s->retrieve_data; break;
    case SQL_ATTR_USE_BOOKMARKS: v = s->use_bookmarks; break;
    case SQL_ATTR_ROW_NUMBER: v = s->row_number; break;
    case 10022: v = 0; break;
    case SQL_ATTR_ENABLE_AUTO_IPD: v = s->enable_auto_ipd; narrow = true; break;
    case SQL_ATTR_METADATA_ID: v = s->metadata_id; narrow = true; break;
    case SQL_ATTR_CURSOR_SCROLLABLE: v = s->cursor_scrollable; narrow = true; break;
    case SQL_ATTR_CURSOR_SENSITIVITY: v = s->cursor_sensitivity; narrow = true; break;
    case SQL_ATTR_FETCH_BOOKMARK_PTR: v = (int64_t)(intptr_t)s->fetch_bookmark_ptr; break;
    case SQL_ATTR_ROW_BIND_TYPE: v = s->ard->bind_type; break;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR: v = (int64_t)(intptr_t)s->ard->bind_offset_ptr; break;
    case SQL_ATTR_ROW_OPERATION_PTR: v = (int64_t)(intptr_t)s->ard->array_status_ptr; break;
    case SQL_ATTR_ROW_ARRAY_SIZE: v = (int64_t)s->ard->array_size; break;
    case SQL_ATTR_ROW_STATUS_PTR: v = (int64_t)(intptr_t)s->ird->array_status_ptr; break;
    case SQL_ATTR_ROWS_FETCHED_PTR: v = (int64_t)(intptr_t)s->ird->rows_processed_ptr; break;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR: v = (int64_t)(intptr_t)s->apd->bind_offset_ptr; break;
    case SQL_ATTR_PARAM_BIND_TYPE: v = s->apd->bind_type; break;
    case SQL_ATTR_PARAM_OPERATION_PTR: v = (int64_t)(intptr_t)s->apd->array_status_ptr; break;
    case SQL_ATTR_PARAMSET_SIZE: v = (int64_t)s->apd->array_size; break;
    case SQL_ATTR_PARAM_STATUS_PTR: v = (int64_t)(intptr_t)s->ipd->array_status_ptr; break;
    case SQL_ATTR_PARAMS_PROCESSED_PTR: v = (int64_t)(intptr_t)s->ipd->rows_processed_ptr; break;
    case SQL_ATTR_APP_ROW_DESC: v = (int64_t)(intptr_t)s->ard; break;
    case SQL_ATTR_APP_PARAM_DESC: v = (int64_t)(intptr_t)s->apd; break;
    case SQL_ATTR_IMP_ROW_DESC: v = (int64_t)(intptr_t)s->ird; break;
    case SQL_ATTR_IMP_PARAM_DESC: v = (int64_t)(intptr_t)s->ipd; break;
    default:
        QV_TRACE(s, LOG_ERROR, "%s: unexpected attribute %d", fname, (int)attribute);
        post_error(s, ST_HY092, 0, nullptr);
        post_error(s, ST_HY000, 0, "unexpected internal error in SQLGetStmtAttr, unknown type %d",
                   (int)attribute);
        return SQL_ERROR;
    }
    if (value) {
        if (narrow)
            *(SQLUINTEGER *)value = (SQLUINTEGER)v;
        else
            *(SQLULEN *)value = (SQLULEN)v;
    }
    if (width)
        *width = narrow ? 4 : 8;
    return SQL_SUCCESS;
}
