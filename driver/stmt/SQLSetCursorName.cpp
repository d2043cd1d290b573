/*
 * SQLSetCursorName, SQLSetCursorNameW: names the statement's cursor. The
 * name is not checked: positioned updates are not supported, so nothing
 * looks names up.
 */
#include "frame/my_handle.h"

static SQLRETURN set_cursor_name(my_statement *s, const void *raw, my_string *name)
{
    QV_TRACE(s, LOG_DETAIL, "SQLSetCursorName: current cursor name is %S", s->cursor_name);
    if (!raw) {
        post_error(s, ST_HY009, 0, nullptr);
        return SQL_ERROR;
    }
    if (!name) {
        QV_TRACE(s, LOG_ERROR, "SQLSetCursorName: failed creating string");
        post_error(s, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
    ms_free(s->cursor_name);
    s->cursor_name = name;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT h, SQLCHAR *name, SQLSMALLINT length)
try {
    QV_STMT_ENTRY(h, s, "SQLSetCursorName",
                  "SQLSetCursorName: statement_handle=%p, cursor_name=%q, name_length=%d", h,
                  (const char *)name, (int64_t)(name ? length : 0), (int)length);
    if (name && check_text_length(s, length, 0) != 0)
        return QV_LEAVE_D(SQL_ERROR);
    my_string *text = name ? ms_from_narrow((const char *)name, length, handle_conn(s)) : nullptr;
    return QV_LEAVE_D(set_cursor_name(s, name, text));
}
QV_CATCH(h)

SQLRETURN SQL_API SQLSetCursorNameW(SQLHSTMT h, SQLWCHAR *name, SQLSMALLINT length)
try {
    QV_STMT_ENTRY(h, s, "SQLSetCursorNameW",
                  "SQLSetCursorNameW: statement_handle=%p, cursor_name=%Q, name_length=%d", h,
                  (const uint16_t *)name, (int64_t)(name ? length : 0), (int)length);
    if (name && check_text_length(s, length, 1) != 0)
        return QV_LEAVE_D(SQL_ERROR);
    my_string *text = name ? ms_from_wide(name, length, handle_conn(s)) : nullptr;
    return QV_LEAVE_D(set_cursor_name(s, name, text));
}
QV_CATCH(h)
