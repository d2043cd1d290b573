/*
 * SQLGetDescField, SQLGetDescFieldW: one header or record field of a
 * descriptor. The wide form counts buffer_length and string_length in bytes.
 */
#include "frame/my_handle.h"
#include "stmt/my_desc_field.h"

/* Header fields are answered whatever the record number. Returns 1 when id
 * is a header field (answered), else 0. */
static int get_header_field(my_descriptor *d, int id, SQLPOINTER value,
                            SQLINTEGER *string_length)
{
    switch (id) {
    case SQL_DESC_ARRAY_SIZE:
        put_number(value, 8, (int64_t)d->array_size, string_length);
        return 1;
    case SQL_DESC_ARRAY_STATUS_PTR:
        put_number(value, 8, (int64_t)(intptr_t)d->array_status_ptr, string_length);
        return 1;
    case SQL_DESC_BIND_OFFSET_PTR:
        put_number(value, 8, (int64_t)(intptr_t)d->bind_offset_ptr, string_length);
        return 1;
    case SQL_DESC_ROWS_PROCESSED_PTR:
        put_number(value, 8, (int64_t)(intptr_t)d->rows_processed_ptr, string_length);
        return 1;
    case SQL_DESC_BIND_TYPE:
        put_number(value, 4, d->bind_type, string_length);
        return 1;
    case SQL_DESC_COUNT:
        put_number(value, 2, d->field_count, string_length);
        return 1;
    case SQL_DESC_ALLOC_TYPE:
        put_number(value, 2, d->alloc_implicit ? SQL_DESC_ALLOC_AUTO : SQL_DESC_ALLOC_USER,
                   string_length);
        return 1;
    }
    return 0;
}

static SQLRETURN get_string_field(my_descriptor *d, const field *f, const desc_field_row *row,
                                  SQLPOINTER value, SQLINTEGER buffer_length,
                                  SQLINTEGER *string_length, int mode)
{
    if (buffer_length < 0) {
        post_error(d, ST_HY090, 0, nullptr);
        return SQL_ERROR;
    }
    int64_t full = 0;
    int cut = desc_copy_text(d, desc_field_text(f, row), mode, value, buffer_length, &full);
    if (string_length)
        *string_length = full > INT32_MAX ? INT32_MAX : (SQLINTEGER)full;
    return cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

static SQLRETURN get_desc_field(my_descriptor *d, int rec, int id, SQLPOINTER value,
                                SQLINTEGER buffer_length, SQLINTEGER *string_length,
                                int mode, const char *fname)
{
    if (desc_describe_on_demand(d, fname) != SQL_SUCCESS)
        return SQL_ERROR;
    if (get_header_field(d, id, value, string_length))
        return SQL_SUCCESS;
    field *f = desc_record_for_get(d, rec);
    if (!f)
        return SQL_ERROR;
    const desc_field_row *row = desc_field_lookup(id);
    if (!row) {
        QV_TRACE(d, LOG_ERROR, "%s: invalid field identifier %d", fname, id);
        post_error(d, ST_HY091, 0, nullptr);
        return SQL_ERROR;
    }
    if (row->kind == MK_STRING)
        return get_string_field(d, f, row, value, buffer_length, string_length, mode);
    put_number(value, row->width, desc_field_number(f, row), string_length);
    return SQL_SUCCESS;
}

static SQLRETURN get_desc_field_entry(const char *fname, SQLHDESC h, SQLSMALLINT rec,
                                      SQLSMALLINT id, SQLPOINTER value,
                                      SQLINTEGER buffer_length, SQLINTEGER *string_length,
                                      int wide)
{
    QV_DESC_ENTRY(h, d, fname,
                  "%s: descriptor_handle=%p, rec_number=%d, field_identifier=%d, value=%p, "
                  "buffer_length=%d, string_length=%p",
                  fname, h, (int)rec, (int)id, value, (int)buffer_length, string_length);
    /* Wide buffers carry UTF-8 bytes when the connection says so. */
    int mode = COPY_NARROW;
    if (wide && !wide_is_utf8(handle_conn(d)))
        mode = COPY_WIDE_BYTES;
    SQLRETURN rc = get_desc_field(d, rec, id, value, buffer_length, string_length, mode, fname);
    return QV_LEAVE_D(rc);
}

SQLRETURN SQL_API SQLGetDescField(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT id, SQLPOINTER value,
                                  SQLINTEGER buffer_length, SQLINTEGER *string_length)
try {
    return get_desc_field_entry("SQLGetDescField", h, rec, id, value, buffer_length,
                                string_length, 0);
}
QV_CATCH(h)

SQLRETURN SQL_API SQLGetDescFieldW(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT id,
                                   SQLPOINTER value, SQLINTEGER buffer_length,
                                   SQLINTEGER *string_length)
try {
    return get_desc_field_entry("SQLGetDescFieldW", h, rec, id, value, buffer_length,
                                string_length, 1);
}
QV_CATCH(h)
