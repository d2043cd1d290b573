/*
 * SQLGetDiagRec, SQLGetDiagRecW: one diagnostic record's SQLSTATE, native
 * error and message. Nothing is cleared or posted; the list is read under
 * the handle's diag_lock, so another thread may work on the handle's
 * siblings (or, against the rules, on the handle itself) meanwhile.
 */
#include "my_handle.h"

#include <string.h>

#include <mutex>

static SQLRETURN get_diag_rec(const char *fname, SQLHANDLE handle, SQLSMALLINT rec_number,
                              void *sqlstate, SQLINTEGER *native, void *message,
                              SQLSMALLINT buffer_length, SQLSMALLINT *text_length, int wide,
                              SQLSMALLINT handle_type)
{
    if (!handle_hdr(handle))
        return SQL_INVALID_HANDLE;
    QV_TRACE(handle, LOG_ENTRY,
             "%s: handle_type=%d, handle=%p, rec_number=%d, sqlstate=%p, native=%p, "
             "message_text=%p, buffer_length=%d, text_length_ptr=%p",
             fname, (int)handle_type, handle, (int)rec_number, sqlstate, native, message,
             (int)buffer_length, text_length);
    std::unique_lock<std::mutex> lock(handle_hdr(handle)->diag_lock);
    diag_record *r = diag_get_locked(handle, rec_number);
    SQLRETURN rc = SQL_SUCCESS;
    if (!r) {
        rc = SQL_NO_DATA;
    } else {
        const my_connection *c = handle_conn(handle);
        int mode = COPY_NARROW;
        if (wide && !(c && c->ConvWToUtf))
            mode = COPY_WIDE_CHARS;
        if (native)
            *native = r->native;
        if (sqlstate)
            copy_out_string(r->sqlstate, c, mode, sqlstate, 6, nullptr);
        int64_t full = 0;
        int cut = copy_out_string(r->message, c, mode, message, buffer_length, &full);
        if (message && cut)
            rc = SQL_SUCCESS_WITH_INFO;
        if (text_length)
            *text_length = (SQLSMALLINT)full;
    }
    lock.unlock();
    QV_TRACE(handle, LOG_EXIT, "%s: return value=%r", fname, (int)rc);
    return rc;
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT handle_type, SQLHANDLE handle, SQLSMALLINT rec_number,
                                SQLCHAR *sqlstate, SQLINTEGER *native, SQLCHAR *message,
                                SQLSMALLINT buffer_length, SQLSMALLINT *text_length)
try {
    return get_diag_rec("SQLGetDiagRec", handle, rec_number, sqlstate, native, message,
                        buffer_length, text_length, 0, handle_type);
}
QV_CATCH(handle)

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT handle_type, SQLHANDLE handle, SQLSMALLINT rec_number,
                                 SQLWCHAR *sqlstate, SQLINTEGER *native, SQLWCHAR *message,
                                 SQLSMALLINT buffer_length, SQLSMALLINT *text_length)
try {
    return get_diag_rec("SQLGetDiagRecW", handle, rec_number, sqlstate, native, message,
                        buffer_length, text_length, 1, handle_type);
}
QV_CATCH(handle)
