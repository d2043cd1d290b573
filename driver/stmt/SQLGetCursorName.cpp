/*
 * SQLGetCursorName, SQLGetCursorNameW: the cursor name, generated from the
 * statement's number the first time it is asked for.
 */
#include <stdio.h>

#include "frame/my_handle.h"

static SQLRETURN get_cursor_name(my_statement *s, void *buf, SQLSMALLINT buf_len,
                                 SQLSMALLINT *len, int wide)
{
    if (!s->cursor_name) {
        QV_TRACE(s, LOG_DETAIL, "SQLGetCursorName: create cursor name from %x",
                 (unsigned)s->statement_number);
        char name[32];
        snprintf(name, sizeof name, "SQL_CUR%08X", (unsigned)s->statement_number);
        if (!(s->cursor_name = ms_from_latin1(name))) {
            QV_TRACE(s, LOG_ERROR, "SQLGetCursorName: failed creating a string");
            post_error(s, ST_HY001, 0, nullptr);
            return SQL_ERROR;
        }
    }
    my_connection *c = handle_conn(s);
    int mode = wide && !wide_is_utf8(c) ? COPY_WIDE_CHARS : COPY_NARROW;
    int64_t full = 0;
    int cut = copy_out_string(s->cursor_name, c, mode, buf, buf_len, &full);
    if (len)
        *len = (SQLSMALLINT)full;
    if (cut && buf) {
        post_error(s, ST_01004, 0, nullptr);
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetCursorName(SQLHSTMT h, SQLCHAR *name, SQLSMALLINT buffer_length,
                                   SQLSMALLINT *name_length)
try {
    QV_STMT_ENTRY(h, s, "SQLGetCursorName",
                  "SQLGetCursorName: statement_handle=%p, cursor_name=%p, buffer_length=%d, "
                  "name_length=%p",
                  h, name, (int)buffer_length, name_length);
    return QV_LEAVE_D(get_cursor_name(s, name, buffer_length, name_length, 0));
}
QV_CATCH(h)

SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT h, SQLWCHAR *name, SQLSMALLINT buffer_length,
                                    SQLSMALLINT *name_length)
try {
    QV_STMT_ENTRY(h, s, "SQLGetCursorNameW",
                  "SQLGetCursorNameW: statement_handle=%p, cursor_name=%p, buffer_length=%d, "
                  "name_length=%p",
                  h, name, (int)buffer_length, name_length);
    return QV_LEAVE_D(get_cursor_name(s, name, buffer_length, name_length, 1));
}
QV_CATCH(h)
