/*
 * SQLCancel: stop what the statement is doing.
 */
#include <mutex>

#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "stmt/my_param.h"
#include "stmt/my_stmt.h"

SQLRETURN SQL_API SQLCancel(SQLHSTMT h)
try {
    my_statement *s = as_stmt(h);
    if (!s)
        return SQL_INVALID_HANDLE;
    std::unique_lock<qv_mutex> lock(s->entry_lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        /* Another thread is inside a call on this statement, most likely
         * waiting for the server. Sending anything on its connection would
         * cut into its exchange; the server is asked over a connection of
         * its own to stop the statement instead, and the running call then
         * reads the error that ends its response. Its diagnostics are not
         * touched. */
        QV_TRACE(s, LOG_ENTRY, "SQLCancel: statement_handle=%p, running in another thread", h);
        kill_running_query(handle_conn(s));
        return SQL_SUCCESS;
    }
    clear_diagnostics(s);
    QV_TRACE(s, LOG_ENTRY, "SQLCancel: statement_handle=%p", h);
    QV_TRACE(s, LOG_DETAIL, "current_packet=%p, async_op=%d", s->current_row, s->async_operation);
    SQLRETURN rc = SQL_SUCCESS;
    /* A waiting data-at-execution sequence ends here; long data already
     * sent is dropped on the server by the reset. */
    if (s->dae_active)
        dae_clear(s);
    if (s->prepared)
        rc = send_reset(s) == 0 ? SQL_SUCCESS : SQL_ERROR;
    QV_TRACE(s, LOG_EXIT, "SQLCancel: return value=%d", (int)rc);
    return rc;
}
QV_CATCH(h)
