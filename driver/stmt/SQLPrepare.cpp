/*
 * SQLPrepare, SQLPrepareW: process SQL text and prepare it (on the server,
 * or only marked as prepared under Text_Prepare).
 */
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "stmt/my_sql.h"
#include "stmt/my_stmt.h"

static SQLRETURN prepare(my_statement *s, const void *raw, my_string *text,
                         int wide)
{
    if (!raw) {
        post_error(s, ST_HY009, 0, nullptr);
        return SQL_ERROR;
    }
    if (!text) {
        QV_TRACE(s, LOG_ERROR, "SQLPrepare: failed to create string");
        post_error(s, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
    my_string *sql = my_process_sql(s, text);
    ms_free(text);
    if (!sql) {
        QV_TRACE(s, LOG_ERROR, "SQLPrepare: failed to process string");
        if (wide)
            post_error(s, ST_HY000, 0, "failed processing SQL");
        return SQL_ERROR;
    }
    s->described = 0;
    s->executed = 0;
    s->prepared = 0;
    s->params_described = 0;
    s->data_waiting = 0;
    ms_free(s->sql_text);
    s->sql_text = sql;
    if (prepare_stmt(s, s->sql_text) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLPrepare: failed preparing statement");
        return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT h, SQLCHAR *text, SQLINTEGER length)
try {
    QV_STMT_ENTRY(h, s, "SQLPrepare", "SQLPrepare: statement_handle=%p, sql=%q, length=%d", h,
                  (const char *)text, (int64_t)(text ? length : 0), (int)length);
    if (text && check_text_length(s, length, 0) != 0)
        return QV_LEAVE_D(SQL_ERROR);
    if (my_close_stmt(s, 1) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLPrepare: failed to close stmt");
        return QV_LEAVE_D(SQL_ERROR);
    }
    s->ird = s->implicit_ird;
    my_string *sql = text ? ms_from_narrow((const char *)text, length, handle_conn(s)) : nullptr;
    return QV_LEAVE_D(prepare(s, text, sql, 0));
}
QV_CATCH(h)

SQLRETURN SQL_API SQLPrepareW(SQLHSTMT h, SQLWCHAR *text, SQLINTEGER length)
try {
    QV_STMT_ENTRY(h, s, "SQLPrepareW", "SQLPrepareW: statement_handle=%p, sql=%Q, length=%d", h,
                  (const uint16_t *)text, (int64_t)(text ? length : 0), (int)length);
    if (text && check_text_length(s, length, !wide_is_utf8(handle_conn(s))) != 0)
        return QV_LEAVE_D(SQL_ERROR);
    if (my_close_stmt(s, 1) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLPrepare: failed to close stmt");
        return QV_LEAVE_D(SQL_ERROR);
    }
    s->ird = s->implicit_ird;
    my_string *sql = text ? ms_from_wide(text, length, handle_conn(s)) : nullptr;
    return QV_LEAVE_D(prepare(s, text, sql, 1));
}
QV_CATCH(h)
