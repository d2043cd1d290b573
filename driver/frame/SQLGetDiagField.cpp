/*
 * SQLGetDiagField, SQLGetDiagFieldW: header and record fields of the
 * diagnostic list. Errors are return codes only; nothing is posted.
 */
#include "my_handle.h"

#include <stdio.h>
#include <string.h>

#include <mutex>

/* SQLSTATEs whose subclass is defined by ODBC rather than ISO 9075. */
static const char *const odbc_subclass_states[] = {
    "01S00", "01S01", "01S02", "01S06", "01S07", "07S01", "08S01", "21S01", "21S02",
    "25S01", "25S02", "25S03", "42S01", "42S02", "42S11", "42S12", "42S21", "42S22",
    "HY095", "HY097", "HY098", "HY099", "HY100", "HY101", "HY105", "HY107", "HY109",
    "HY110", "HY111", "HYT00", "HYT01", "IM001", "IM002", "IM003", "IM004", "IM005",
    "IM006", "IM007", "IM008", "IM010", "IM011", "IM012",
};

static SQLRETURN string_field(const my_string *s, const my_connection *c, int wide, void *info,
                              SQLSMALLINT buffer_length, SQLSMALLINT *string_length)
{
    int mode = wide && !(c && c->ConvWToUtf) ? COPY_WIDE_BYTES : COPY_NARROW;
    int64_t full = 0;
    int cut = copy_out_string(s, c, mode, info, buffer_length, &full);
    if (string_length)
        *string_length = (SQLSMALLINT)full;
    return info && cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

static SQLRETURN text_field(const char *text, const my_connection *c, int wide, void *info,
                            SQLSMALLINT buffer_length, SQLSMALLINT *string_length)
{
    my_string *s = ms_from_latin1(text);
    if (!s)
        return SQL_ERROR;
    SQLRETURN rc = string_field(s, c, wide, info, buffer_length, string_length);
    ms_free(s);
    return rc;
}

/* Where one field goes, and in which encoding. */
struct field_out {
    const my_connection *c;
    int wide;
    void *info;
    SQLSMALLINT buffer_length;
    SQLSMALLINT *string_length;
};

template <typename T> static SQLRETURN number_field(const field_out &o, T value)
{
    if (o.info)
        *(T *)o.info = value;
    if (o.string_length)
        *o.string_length = (SQLSMALLINT)sizeof(T);
    return SQL_SUCCESS;
}

static SQLRETURN string_out(const field_out &o, const my_string *s)
{
    return string_field(s, o.c, o.wide, o.info, o.buffer_length, o.string_length);
}

static SQLRETURN text_out(const field_out &o, const char *text)
{
    return text_field(text, o.c, o.wide, o.info, o.buffer_length, o.string_length);
}

static bool is_record_field(SQLSMALLINT identifier)
{
    switch (identifier) {
    case SQL_DIAG_SQLSTATE:
    case SQL_DIAG_NATIVE:
    case SQL_DIAG_MESSAGE_TEXT:
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
    case SQL_DIAG_ROW_NUMBER:
    case SQL_DIAG_COLUMN_NUMBER:
        return true;
    }
    return false;
}

/* A header field: the number of records, and the fields only a statement
 * has. SQL_ERROR for an identifier that is neither. */
static SQLRETURN header_field(SQLHANDLE handle, SQLSMALLINT identifier, const field_out &o)
{
    const bool is_stmt = as_stmt(handle) != nullptr;
    switch (identifier) {
    case SQL_DIAG_NUMBER: return number_field<SQLINTEGER>(o, diag_count(handle));
    case SQL_DIAG_CURSOR_ROW_COUNT: return is_stmt ? number_field<SQLLEN>(o, 0) : SQL_ERROR;
    case SQL_DIAG_DYNAMIC_FUNCTION: return is_stmt ? text_out(o, "") : SQL_ERROR;
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
        return is_stmt ? number_field<SQLINTEGER>(o, 0) : SQL_ERROR;
    }
    return SQL_ERROR;
}

/* SQL_DIAG_CLASS_ORIGIN or SQL_DIAG_SUBCLASS_ORIGIN of a record. */
static const char *origin_of(const diag_record *r, SQLSMALLINT identifier)
{
    char state[6] = "";
    for (uint32_t i = 0; r->sqlstate && i < 5 && i < r->sqlstate->length; i++)
        state[i] = (char)r->sqlstate->data[i];
    bool odbc = false;
    if (identifier == SQL_DIAG_CLASS_ORIGIN) {
        odbc = state[0] == 'I' && state[1] == 'M';
    } else {
        for (const char *s : odbc_subclass_states)
            if (!strcmp(s, state))
                odbc = true;
    }
    return odbc ? "ODBC 3.0" : "ISO 9075";
}

/* A field of record rec_number: SQL_ERROR for a number below 1,
 * SQL_NO_DATA past the last record. */
static SQLRETURN record_field(SQLHANDLE handle, SQLSMALLINT rec_number, SQLSMALLINT identifier,
                              const field_out &o)
{
    if (rec_number < 1)
        return SQL_ERROR;
    const diag_record *r = diag_get_locked(handle, rec_number);
    if (!r)
        return SQL_NO_DATA;
    switch (identifier) {
    case SQL_DIAG_SQLSTATE: return string_out(o, r->sqlstate);
    case SQL_DIAG_NATIVE: return number_field<SQLINTEGER>(o, r->native);
    case SQL_DIAG_MESSAGE_TEXT: return string_out(o, r->message);
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN: return text_out(o, origin_of(r, identifier));
    case SQL_DIAG_CONNECTION_NAME: {
        if (!o.c)
            return SQL_ERROR;
        char text[64];
        snprintf(text, sizeof text, "NetConn: %p", (const void *)o.c);
        return text_out(o, text);
    }
    case SQL_DIAG_SERVER_NAME: return string_out(o, o.c ? o.c->DSN : nullptr);
    case SQL_DIAG_ROW_NUMBER: return number_field<SQLLEN>(o, r->row_number);
    case SQL_DIAG_COLUMN_NUMBER: return number_field<SQLINTEGER>(o, r->column_number);
    }
    return SQL_ERROR;
}

static SQLRETURN get_diag_field(const char *fname, SQLSMALLINT handle_type, SQLHANDLE handle,
                                SQLSMALLINT rec_number, SQLSMALLINT identifier, void *info,
                                SQLSMALLINT buffer_length, SQLSMALLINT *string_length, int wide)
{
    if (!handle_hdr(handle))
        return SQL_INVALID_HANDLE;
    QV_TRACE(handle, LOG_ENTRY,
             "%s: handle_type=%d, handle=%p, rec_number=%d, diag_identifier=%d, "
             "diag_info_ptr=%p, buffer_length=%d, string_length_ptr=%p",
             fname, (int)handle_type, handle, (int)rec_number, (int)identifier, info,
             (int)buffer_length, string_length);
    field_out o = {handle_conn(handle), wide, info, buffer_length, string_length};
    SQLRETURN rc;
    {
        /* another thread may be posting on the handle or clearing it */
        std::lock_guard<std::mutex> lock(handle_hdr(handle)->diag_lock);
        rc = is_record_field(identifier) ? record_field(handle, rec_number, identifier, o)
                                         : header_field(handle, identifier, o);
    }
    QV_TRACE(handle, LOG_EXIT, "%s: return value=%r", fname, (int)rc);
    return rc;
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT handle_type, SQLHANDLE handle, SQLSMALLINT rec_number,
                                  SQLSMALLINT identifier, SQLPOINTER info,
                                  SQLSMALLINT buffer_length, SQLSMALLINT *string_length)
try {
    return get_diag_field("SQLGetDiagField", handle_type, handle, rec_number, identifier, info,
                          buffer_length, string_length, 0);
}
QV_CATCH(handle)

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT handle_type, SQLHANDLE handle,
                                   SQLSMALLINT rec_number, SQLSMALLINT identifier, SQLPOINTER info,
                                   SQLSMALLINT buffer_length, SQLSMALLINT *string_length)
try {
    return get_diag_field("SQLGetDiagFieldW", handle_type, handle, rec_number, identifier, info,
                          buffer_length, string_length, 1);
}
QV_CATCH(handle)
