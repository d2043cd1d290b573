/*
 * SQLNumResultCols: the number of result columns, describing a prepared
 * statement first when needed.
 */
#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "stmt/my_stmt.h"

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT h, SQLSMALLINT *count)
try {
    QV_STMT_ENTRY(h, s, "SQLNumResultCols", "SQLNumResultCols: statement_handle=%p, column_count=%p",
                  h, count);
    if (s->sql_text && !s->prepared && prepare_stmt(s, s->sql_text) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLNumResultCols: failed preparing statement");
        return QV_LEAVE_D(SQL_ERROR);
    }
    if (s->sql_text && !s->described && text_describe(s, s->sql_text) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLNumResultCols: failed describing statement");
        return QV_LEAVE_D(SQL_ERROR);
    }
    if (count) {
        *count = (SQLSMALLINT)desc_column_count(s->ird);
        QV_TRACE(s, LOG_DETAIL, "SQLNumResultCols: column count=%d", (int)*count);
    }
    return QV_LEAVE_D(SQL_SUCCESS);
}
QV_CATCH(h)
