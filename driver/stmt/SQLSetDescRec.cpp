/*
 * SQLSetDescRec: the type, lengths and buffers of one descriptor record in
 * one call.
 */
#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "stmt/my_desc_field.h"

static SQLRETURN set_desc_rec(my_descriptor *d, int rec, int type, int sub_type, SQLLEN length,
                              int precision, int scale, SQLPOINTER data,
                              SQLLEN *string_length, SQLLEN *indicator, const char *fname)
{
    desc_role role = desc_role_of(d);
    if (role == ROLE_IRD) {
        post_error(d, ST_HY016, 0, nullptr);
        return SQL_ERROR;
    }
    field *f = desc_record_for_set(d, role, rec, fname);
    if (!f)
        return SQL_ERROR;
    f->type = type;
    f->datetime_interval_code = sub_type;
    /* The IPD describes SQL types, application descriptors C types. */
    SQLRETURN rc = role == ROLE_IPD ? my_update_impl_desc_type(d, f, 2)
                                    : my_update_desc_type(d, f, 2);
    if (rc != SQL_SUCCESS) {
        QV_TRACE(d, LOG_ERROR, "%s: failed in my_update_desc_type", fname);
        return rc;
    }
    /* After deriving: the caller's values win over the type's defaults. */
    f->octet_length = length;
    f->precision = precision;
    f->scale = scale;
    if (role != ROLE_IPD) {   /* the IPD has no buffers */
        f->data_ptr = data;
        f->octet_length_ptr = string_length;
        f->indicator_ptr = indicator;
    }
    return check_desc_consistency(d, f);
}

SQLRETURN SQL_API SQLSetDescRec(SQLHDESC h, SQLSMALLINT rec, SQLSMALLINT type,
                                SQLSMALLINT sub_type, SQLLEN length, SQLSMALLINT precision,
                                SQLSMALLINT scale, SQLPOINTER data, SQLLEN *string_length,
                                SQLLEN *indicator)
try {
    QV_DESC_ENTRY(h, d, "SQLSetDescRec",
                  "SQLSetDescRec: descriptor_handle=%p, rec_number=%d, type=%d, sub_type=%d, "
                  "length=%l, precision=%d, scale=%d, data=%p, string_length=%p, indicator=%p",
                  h, (int)rec, (int)type, (int)sub_type, (int64_t)length, (int)precision,
                  (int)scale, data, string_length, indicator);
    return QV_LEAVE_D(set_desc_rec(d, rec, type, sub_type, length, precision, scale, data,
                                   string_length, indicator, "SQLSetDescRec"));
}
QV_CATCH(h)
