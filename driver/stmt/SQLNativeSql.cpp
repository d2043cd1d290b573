/*
 * SQLNativeSql, SQLNativeSqlW: the text the driver would send. SQL goes to
 * the server as the application wrote it (escape sequences are the
 * server's business), so this is the text unchanged.
 */
#include "frame/my_handle.h"

static SQLRETURN native_sql(my_connection *c, const void *raw, my_string *text, void *out,
                            SQLINTEGER out_max, SQLINTEGER *out_len, int wide)
{
    if (!raw) {
        post_error(c, ST_HY009, 0, nullptr);
        return SQL_ERROR;
    }
    if (!text) {
        post_error(c, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
    int mode = wide && !wide_is_utf8(c) ? COPY_WIDE_CHARS : COPY_NARROW;
    int64_t full = 0;
    int cut = copy_out_string(text, c, mode, out, out_max, &full);
    int empty = text->length == 0;
    ms_free(text);
    if (out_len)
        *out_len = (SQLINTEGER)full;
    if (cut && out && !empty) {
        post_error(c, ST_01004, 0, nullptr);
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLNativeSql(SQLHDBC h, SQLCHAR *in, SQLINTEGER in_len, SQLCHAR *out,
                               SQLINTEGER out_max, SQLINTEGER *out_len)
try {
    QV_CONN_ENTRY(h, c, "SQLNativeSql",
                  "SQLNativeSql: connection_handle=%p, in=%q, in_len=%d, out=%p, out_max=%d, "
                  "out_len=%p",
                  h, (const char *)in, (int64_t)(in ? in_len : 0), (int)in_len, out, (int)out_max,
                  out_len);
    if (in && check_text_length(c, in_len, 0) != 0)
        return QV_LEAVE_D(SQL_ERROR);
    my_string *text = in ? ms_from_narrow((const char *)in, in_len, c) : nullptr;
    return QV_LEAVE_D(native_sql(c, in, text, out, out_max, out_len, 0));
}
QV_CATCH(h)

SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC h, SQLWCHAR *in, SQLINTEGER in_len, SQLWCHAR *out,
                                SQLINTEGER out_max, SQLINTEGER *out_len)
try {
    QV_CONN_ENTRY(h, c, "SQLNativeSqlW",
                  "SQLNativeSqlW: connection_handle=%p, in=%Q, in_len=%d, out=%p, out_max=%d, "
                  "out_len=%p",
                  h, (const uint16_t *)in, (int64_t)(in ? in_len : 0), (int)in_len, out,
                  (int)out_max, out_len);
    if (in && check_text_length(c, in_len, !wide_is_utf8(c)) != 0)
        return QV_LEAVE_D(SQL_ERROR);
    my_string *text = in ? ms_from_wide(in, in_len, c) : nullptr;
    return QV_LEAVE_D(native_sql(c, in, text, out, out_max, out_len, 1));
}
QV_CATCH(h)
