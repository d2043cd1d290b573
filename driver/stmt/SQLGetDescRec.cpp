/*
 * SQLGetDescRec, SQLGetDescRecW: the name and the main type fields of one
 * descriptor record. The wide form counts buffer_length and string_length
 * in characters.
 */
#include "frame/my_handle.h"
#include "stmt/my_desc_field.h"

static void put16(SQLSMALLINT *out, int64_t v)
{
    if (out)
        *out = (SQLSMALLINT)v;
}

static SQLRETURN get_desc_rec(my_descriptor *d, int rec, SQLPOINTER name,
                              SQLSMALLINT buffer_length, SQLSMALLINT *string_length,
                              SQLSMALLINT *type, SQLSMALLINT *sub_type, SQLLEN *length,
                              SQLSMALLINT *precision, SQLSMALLINT *scale,
                              SQLSMALLINT *nullable, int mode, const char *fname)
{
    if (desc_describe_on_demand(d, fname) != SQL_SUCCESS)
        return SQL_ERROR;
    field *f = desc_record_for_get(d, rec);
    if (!f)
        return SQL_ERROR;
    if (buffer_length < 0) {
        post_error(d, ST_HY090, 0, nullptr);
        return SQL_ERROR;
    }
    int64_t full = 0;
    int cut = desc_copy_text(d, f->name, mode, name, buffer_length, &full);
    put16(string_length, full > INT16_MAX ? INT16_MAX : full);
    put16(type, f->type);
    put16(sub_type, f->datetime_interval_code);
    if (length)
        *length = (SQLLEN)f->octet_length;
    put16(precision, f->precision);
    put16(scale, f->scale);
    put16(nullable, f->nullable);
    return cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

static SQLRETURN get_desc_rec_entry(const char *fname, SQLHDESC h, SQLSMALLINT rec,
                                    SQLPOINTER name, SQLSMALLINT buffer_length,
                                    SQLSMALLINT *string_length, SQLSMALLINT *type,
                                    SQLSMALLINT *sub_type, SQLLEN *length,
                                    SQLSMALLINT *precision, SQLSMALLINT *scale,
                                    SQLSMALLINT *nullable, int wide)
{
    QV_DESC_ENTRY(h, d, fname,
                  "%s: descriptor_handle=%p, rec_number=%d, name=%p, buffer_length=%d, "
                  "string_length=%p, type=%p, sub_type=%p, length=%p, precision=%p, "
                  "scale=%p, nullable=%p",
                  fname, h, (int)rec, name, (int)buffer_length, string_length, type,
                  sub_type, length, precision, scale, nullable);
    /* Wide buffers carry UTF-8 bytes when the connection says so. */
    int mode = COPY_NARROW;
    if (wide && !wide_is_utf8(handle_conn(d)))
        mode = COPY_WIDE_CHARS;
    return QV_LEAVE_D(get_desc_rec(d, rec, name, buffer_length, string_length, type, sub_type,
                                   length, precision, scale, nullable, mode, fname));
}

SQLRETURN SQL_API SQLGetDescRec(SQLHDESC h, SQLSMALLINT rec, SQLCHAR *name,
                                SQLSMALLINT buffer_length, SQLSMALLINT *string_length,
                                SQLSMALLINT *type, SQLSMALLINT *sub_type, SQLLEN *length,
                                SQLSMALLINT *precision, SQLSMALLINT *scale,
                                SQLSMALLINT *nullable)
try {
    return get_desc_rec_entry("SQLGetDescRec", h, rec, name, buffer_length, string_length, type,
                              sub_type, length, precision, scale, nullable, 0);
}
QV_CATCH(h)

SQLRETURN SQL_API SQLGetDescRecW(SQLHDESC h, SQLSMALLINT rec, SQLWCHAR *name,
                                 SQLSMALLINT buffer_length, SQLSMALLINT *string_length,
                                 SQLSMALLINT *type, SQLSMALLINT *sub_type, SQLLEN *length,
                                 SQLSMALLINT *precision, SQLSMALLINT *scale,
                                 SQLSMALLINT *nullable)
try {
    return get_desc_rec_entry("SQLGetDescRecW", h, rec, name, buffer_length, string_length,
                              type, sub_type, length, precision, scale, nullable, 1);
}
QV_CATCH(h)
