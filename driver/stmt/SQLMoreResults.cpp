/*
 * SQLMoreResults: the next result of a statement that produced several.
 */
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "results/my_fetch.h"
#include "results/my_internalrs.h"
#include "stmt/my_stmt.h"

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT h)
try {
    QV_STMT_ENTRY(h, s, "SQLMoreResults", "SQLMoreResults: statement_handle=%p", h);
    /* Rows of the current result that were not fetched are skipped: the
     * next result comes after them, and only their end says whether there
     * is one. */
    if (s->data_waiting) {
        if (s->internal_rs)
            internal_rs_free(s);
        else
            drain_result_rows(s);
        s->data_waiting = 0;
        refresh_busy(s);
    }
    index_clear(s);
    s->row_number = 0;
    if (!s->more_results)
        return QV_LEAVE_D(SQL_NO_DATA);
    SQLRETURN rc = next_result_set(s) == 0 ? SQL_SUCCESS : SQL_ERROR;
    return QV_LEAVE_D(apply_cursor_downgrade(s, rc));
}
QV_CATCH(h)
