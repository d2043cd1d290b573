/*
 * SQLExecDirect, SQLExecDirectW: execute SQL text through the text protocol.
 */
#include "frame/my_handle.h"
#include "stmt/my_stmt.h"

/* The twins differ only in how the text arrives; text is the converted
 * driver string (null: the conversion failed). */
static SQLRETURN exec_direct(const char *fname, my_statement *s, const void *raw, my_string *text)
{
    if (!raw) {
        post_error(s, ST_HY009, 0, nullptr);
        return SQL_ERROR;
    }
    if (!text) {
        QV_TRACE(s, LOG_ERROR, "%s: failed creating string", fname);
        post_error(s, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
    return apply_cursor_downgrade(s, my_exec_direct(s, text));
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT h, SQLCHAR *text, SQLINTEGER length)
try {
    QV_STMT_ENTRY(h, s, "SQLExecDirect", "SQLExecDirect: statement_handle=%p, sql=%q, length=%d",
                  h, (const char *)text, (int64_t)(text ? length : 0), (int)length);
    if (text && check_text_length(s, length, 0) != 0)
        return QV_LEAVE_D(SQL_ERROR);
    if (my_close_stmt(s, 1) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLExecDirect: failed to close stmt");
        return QV_LEAVE_D(SQL_ERROR);
    }
    my_connection *c = handle_conn(s);
    if (text && c->ConvToUtf)
        QV_DUMP(s, LOG_DETAIL, text, (int64_t)length, "SQLExecDirect - UTF8 Flag set");
    my_string *sql = text ? ms_from_narrow((const char *)text, length, c) : nullptr;
    return QV_LEAVE_D(exec_direct("SQLExecDirect", s, text, sql));
}
QV_CATCH(h)

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT h, SQLWCHAR *text, SQLINTEGER length)
try {
    QV_STMT_ENTRY(h, s, "SQLExecDirectW", "SQLExecDirectW: statement_handle=%p, sql=%Q, length=%d",
                  h, (const uint16_t *)text, (int64_t)(text ? length : 0), (int)length);
    if (text && check_text_length(s, length, !wide_is_utf8(handle_conn(s))) != 0)
        return QV_LEAVE_D(SQL_ERROR);
    if (my_close_stmt(s, 1) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLExecDirectW: failed to close stmt");
        return QV_LEAVE_D(SQL_ERROR);
    }
    my_string *sql = text ? ms_from_wide(text, length, handle_conn(s)) : nullptr;
    return QV_LEAVE_D(exec_direct("SQLExecDirectW", s, text, sql));
}
QV_CATCH(h)
