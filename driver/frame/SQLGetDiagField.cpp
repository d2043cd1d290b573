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
    const my_connection *c = handle_conn(handle);
    const bool is_stmt = as_stmt(handle) != nullptr;
    SQLRETURN rc = SQL_SUCCESS;
    diag_record *r = nullptr;
    /* another thread may be posting on the handle or clearing it */
    std::unique_lock<std::mutex> lock(handle_hdr(handle)->diag_lock);

    switch (identifier) {
    case SQL_DIAG_NUMBER:
        if (info)
            *(SQLINTEGER *)info = diag_count(handle);
        if (string_length)
            *string_length = 4;
        goto done;
    case SQL_DIAG_CURSOR_ROW_COUNT:
        if (!is_stmt) {
            rc = SQL_ERROR;
        } else {
            if (info)
                *(SQLLEN *)info = 0;
            if (string_length)
                *string_length = 8;
        }
        goto done;
    case SQL_DIAG_DYNAMIC_FUNCTION:
        rc = is_stmt ? text_field("", c, wide, info, buffer_length, string_length) : SQL_ERROR;
        goto done;
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
        if (!is_stmt) {
            rc = SQL_ERROR;
        } else {
            if (info)
                *(SQLINTEGER *)info = 0;
            if (string_length)
                *string_length = 4;
        }
        goto done;
    case SQL_DIAG_SQLSTATE:
    case SQL_DIAG_NATIVE:
    case SQL_DIAG_MESSAGE_TEXT:
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
    case SQL_DIAG_ROW_NUMBER:
    case SQL_DIAG_COLUMN_NUMBER:
        break;
    default:
        rc = SQL_ERROR;
        goto done;
    }

    if (rec_number < 1) {
        rc = SQL_ERROR;
        goto done;
    }
    r = diag_get(handle, rec_number);
    if (!r) {
        rc = SQL_NO_DATA;
        goto done;
    }
    switch (identifier) {
    case SQL_DIAG_SQLSTATE:
        rc = string_field(r->sqlstate, c, wide, info, buffer_length, string_length);
        break;
    case SQL_DIAG_NATIVE:
        if (info)
            *(SQLINTEGER *)info = r->native;
        if (string_length)
            *string_length = 4;
        break;
    case SQL_DIAG_MESSAGE_TEXT:
        rc = string_field(r->message, c, wide, info, buffer_length, string_length);
        break;
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN: {
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
        rc = text_field(odbc ? "ODBC 3.0" : "ISO 9075", c, wide, info, buffer_length,
                        string_length);
        break;
    }
    case SQL_DIAG_CONNECTION_NAME: {
        if (!c) {
            rc = SQL_ERROR;
            break;
        }
        char text[64];
        snprintf(text, sizeof text, "NetConn: %p", (const void *)c);
        rc = text_field(text, c, wide, info, buffer_length, string_length);
        break;
    }
    case SQL_DIAG_SERVER_NAME:
        rc = string_field(c ? c->DSN : nullptr, c, wide, info, buffer_length, string_length);
        break;
    case SQL_DIAG_ROW_NUMBER:
        if (info)
            *(SQLLEN *)info = r->row_number;
        if (string_length)
            *string_length = 8;
        break;
    case SQL_DIAG_COLUMN_NUMBER:
        if (info)
            *(SQLINTEGER *)info = r->column_number;
        if (string_length)
            *string_length = 4;
        break;
    }
done:
    lock.unlock();
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
