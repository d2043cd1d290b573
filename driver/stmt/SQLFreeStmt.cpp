/*
 * SQLFreeStmt: close the cursor, drop the statement, or unbind its columns
 * or parameters.
 */
#include <mutex>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "stmt/my_stmt.h"

/* Every binding of an application descriptor goes, the bookmark's too. */
static void unbind_all(my_descriptor *d)
{
    desc_truncate(d, 0);
    field_reset(&d->bookmark_record);
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT h, SQLUSMALLINT option)
try {
    my_statement *s = as_stmt(h);
    if (!s)
        return SQL_INVALID_HANDLE;
    my_connection *c = handle_conn(s);
    if (option == SQL_DROP) {
        {
            std::lock_guard<qv_mutex> g(s->entry_lock);
            clear_diagnostics(s);
            QV_TRACE(s, LOG_ENTRY, "SQLFreeStmt: statement_handle=%p, option=%d", h, (int)option);
            my_close_stmt(s, 1);
        }
        stmt_release(s, 0);   /* the record goes away with its lock */
        QV_TRACE(c, LOG_EXIT, "SQLFreeStmt: return value=%d", SQL_SUCCESS);
        return SQL_SUCCESS;
    }
    std::lock_guard<qv_mutex> g(s->entry_lock);
    clear_diagnostics(s);
    QV_TRACE(s, LOG_ENTRY, "SQLFreeStmt: statement_handle=%p, option=%d", h, (int)option);
    SQLRETURN rc = SQL_SUCCESS;
    switch (option) {
    case SQL_CLOSE:
        close_cursor(s);
        break;
    case SQL_UNBIND:
        unbind_all(s->ard);
        break;
    case SQL_RESET_PARAMS:
        unbind_all(s->apd);
        s->params_described = 0;
        break;
    default:
        QV_TRACE(s, LOG_ERROR, "SQLFreeStmt: unexpected option=%d", (int)option);
        post_error(s, ST_HY000, 0, "unexpected option %d supplied to SQLFreeStmt", (int)option);
        rc = SQL_ERROR;
        break;
    }
    QV_TRACE(s, LOG_EXIT, "SQLFreeStmt: return value=%d", (int)rc);
    return rc;
}
QV_CATCH(h)
