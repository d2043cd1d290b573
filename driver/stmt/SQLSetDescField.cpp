/*
 * SQLSetDescField, SQLSetDescFieldW: change one header or record field of a
 * descriptor. The wide form takes a name as wide text with buffer_length in
 * bytes.
 */
#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "stmt/my_desc_field.h"

static int64_t arg_number(SQLPOINTER value) { return (int64_t)(intptr_t)value; }

static SQLRETURN refuse(my_descriptor *d, int row)
{
    post_error(d, row, 0, nullptr);
    return SQL_ERROR;
}

static SQLRETURN set_count(my_descriptor *d, desc_role role, SQLPOINTER value,
                           const char *fname)
{
    if (role == ROLE_IRD)
        return refuse(d, ST_HY016);
    int n = (SQLSMALLINT)arg_number(value);
    if (n < 0)
        return refuse(d, ST_07009);
    if (n < d->field_count) {
        desc_truncate(d, n);
        return SQL_SUCCESS;
    }
    if (desc_grow(d, n) != 0) {
        QV_TRACE(d, LOG_ERROR, "%s: failed to expand descriptor", fname);
        post_error(d, ST_HY001, 0, "failed expanding descriptor");
        return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

/* Header fields. Returns 1 when id is one (*rc set), else 0. */
static int set_header_field(my_descriptor *d, desc_role role, int id, SQLPOINTER value,
                            const char *fname, SQLRETURN *rc)
{
    *rc = SQL_SUCCESS;
    switch (id) {
    case SQL_DESC_ARRAY_SIZE:
    case SQL_DESC_BIND_OFFSET_PTR:
    case SQL_DESC_BIND_TYPE:
        /* Application descriptors only. An explicit descriptor that no
         * statement uses yet is still one: applications set it up before
         * they associate it. */
        if (!d->app_desc) {
            *rc = refuse(d, ST_HY016);
        } else if (id == SQL_DESC_ARRAY_SIZE) {
            /* As SQL_ATTR_ROW_ARRAY_SIZE: a row set holds at least one row. */
            uint64_t n = (uint64_t)arg_number(value);
            d->array_size = n < 1 ? 1 : n;
        } else if (id == SQL_DESC_BIND_OFFSET_PTR) {
            d->bind_offset_ptr = value;
        } else {
            d->bind_type = (SQLINTEGER)arg_number(value);
        }
        return 1;
    case SQL_DESC_ARRAY_STATUS_PTR:
        d->array_status_ptr = value;
        return 1;
    case SQL_DESC_ROWS_PROCESSED_PTR:
        d->rows_processed_ptr = value;
        return 1;
    case SQL_DESC_COUNT:
        *rc = set_count(d, role, value, fname);
        return 1;
    case SQL_DESC_ALLOC_TYPE:
        *rc = refuse(d, ST_HY091);
        return 1;
    }
    return 0;
}

/* Type fields of an application record take C types, those of the IPD SQL
 * types. */
static SQLRETURN derive_types(my_descriptor *d, desc_role role, field *f, int mode)
{
    if (role == ROLE_IPD)
        return my_update_impl_desc_type(d, f, mode);
    return my_update_desc_type(d, f, mode);
}

/* SQL_DESC_NAME of an IPD record (a named parameter). */
static SQLRETURN set_name(my_descriptor *d, field *f, SQLPOINTER value,
                          SQLINTEGER buffer_length, int wide)
{
    if (value && (buffer_length < 0 || buffer_length > MAX_COMMAND_BYTES) &&
        buffer_length != SQL_NTS)
        return refuse(d, ST_HY090);
    ms_free(f->name);
    f->name = nullptr;
    f->unnamed = SQL_UNNAMED;
    if (!value)
        return SQL_SUCCESS;
    const my_connection *c = handle_conn(d);
    int64_t len = buffer_length;
    /* UTF-16 names arrive with their length in bytes. */
    if (wide && !wide_is_utf8(c) && len != SQL_NTS)
        len /= 2;
    f->name = wide ? ms_from_wide(value, len, c) : ms_from_narrow((const char *)value, len, c);
    if (!f->name)
        return refuse(d, ST_HY001);
    f->unnamed = SQL_NAMED;
    return SQL_SUCCESS;
}

static SQLRETURN set_ipd_only(my_descriptor *d, desc_role role, field *f,
                              const desc_field_row *row, SQLPOINTER value,
                              SQLINTEGER buffer_length, int wide)
{
    if (role != ROLE_IPD)
        return SQL_SUCCESS;   /* meaningless elsewhere, accepted */
    int v = (SQLSMALLINT)arg_number(value);
    switch (row->rule) {
    case SET_PARAMETER_TYPE:
        if (v != SQL_PARAM_INPUT && v != SQL_PARAM_INPUT_OUTPUT && v != SQL_PARAM_OUTPUT)
            return refuse(d, ST_HY105);
        f->parameter_type = v;
        return SQL_SUCCESS;
    case SET_UNNAMED:
        if (v != SQL_UNNAMED)
            return refuse(d, ST_HY092);
        ms_free(f->name);
        f->name = nullptr;
        f->unnamed = SQL_UNNAMED;
        return SQL_SUCCESS;
    default:
        return set_name(d, f, value, buffer_length, wide);
    }
}

static SQLRETURN set_record_field(my_descriptor *d, desc_role role, field *f,
                                  const desc_field_row *row, SQLPOINTER value,
                                  SQLINTEGER buffer_length, int wide)
{
    switch (row->rule) {
    case SET_IGNORED:
        return SQL_SUCCESS;
    case SET_IGNORED_NOT_IPD:
        return role == ROLE_IPD ? refuse(d, ST_HY091) : SQL_SUCCESS;
    case SET_STORE:
        desc_field_store(f, row, arg_number(value));
        return SQL_SUCCESS;
    case SET_CONCISE_TYPE:
    case SET_TYPE:
    case SET_INTERVAL_CODE: {
        desc_field_store(f, row, arg_number(value));
        int mode = row->rule == SET_CONCISE_TYPE ? 0 : row->rule == SET_INTERVAL_CODE ? 1 : 2;
        return derive_types(d, role, f, mode);
    }
    case SET_BINDING_PTR:
        if (role != ROLE_IPD)   /* the IPD has no buffers */
            desc_field_store(f, row, arg_number(value));
        return SQL_SUCCESS;
    case SET_DATA_PTR:
        if (role == ROLE_IPD)
            return SQL_SUCCESS;
        f->data_ptr = value;
        return check_desc_consistency(d, f);
    case SET_PARAMETER_TYPE:
    case SET_NAME:
    case SET_UNNAMED:
        return set_ipd_only(d, role, f, row, value, buffer_length, wide);
    }
    return SQL_SUCCESS;
}

static SQLRETURN set_desc_field(my_descriptor *d, int rec, int id, SQLPOINTER value,
                                SQLINTEGER buffer_length, int wide, const char *fname)
{
    desc_role role = desc_role_of(d);
    SQLRETURN rc;
    if (set_header_field(d, role, id, value, fname, &rc))
        return rc;
    if (role == ROLE_IRD)
        return refuse(d, ST_HY016);
    field *f = desc_record_for_set(d, role, rec, fname);
    if (!f)
        return SQL_ERROR;
    /* Changing anything but the buffers themselves unbinds the record: the
     * old buffers were laid out for the old description. */
    if (id != SQL_DESC_DATA_PTR && id != SQL_DESC_INDICATOR_PTR &&
        id != SQL_DESC_OCTET_LENGTH_PTR)
        f->data_ptr = f->indicator_ptr = f->octet_length_ptr = nullptr;
    const desc_field_row *row = desc_field_lookup(id);
    if (!row) {
        QV_TRACE(d, LOG_ERROR, "%s: invalid field identifier %d", fname, id);
        return refuse(d, ST_HY091);
    }
    return set_record_field(d, role, f, row, value, buffer_length, wide);
}

static SQLRETURN set_desc_field_entry(const char *fname, SQLHDESC h, SQLSMALLINT rec,
                                      SQLSMALLINT id, SQLPOINTER value,
                                      SQLINTEGER buffer_length, int wide)
{
    QV_DESC_ENTRY(h, d, fname,
                  "%s: descriptor_handle=%p, rec_number=%d, field_identifier=%d, value=%p, "
                  "buffer_length=%d",
                  fname, h, (int)rec, (int)id, value, (int)buffer_length);
    return QV_LEAVE_D(set_desc_field(d, rec, id, value, buffer_length, wide, fname));
}

SQLRETURN SQL_API SQLSetDescField(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT id, SQLPOINTER value,
                                  SQLINTEGER buffer_length)
try {
    return set_desc_field_entry("SQLSetDescField", h, rec, id, value, buffer_length, 0);
}
QV_CATCH(h)

SQLRETURN SQL_API SQLSetDescFieldW(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT id,
                                   SQLPOINTER value, SQLINTEGER buffer_length)
try {
    return set_desc_field_entry("SQLSetDescFieldW", h, rec, id, value, buffer_length, 1);
}
QV_CATCH(h)
