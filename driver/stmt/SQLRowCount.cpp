/*
 * SQLRowCount: the affected-row count of the last update, the rows of a
 * static cursor's result, or -1.
 */
#include "frame/my_handle.h"

SQLRETURN SQL_API SQLRowCount(SQLHSTMT h, SQLLEN *count)
try {
    QV_STMT_ENTRY(h, s, "SQLRowCount", "SQLRowCount: statement_handle=%p, row_count=%p", h, count);
    if (count) {
        /* a static cursor knows how many rows its result has */
        *count = s->row_count_valid ? (SQLLEN)s->row_count
                 : s->rows.active   ? (SQLLEN)s->rows.at.size()
                                    : -1;
        QV_TRACE(s, LOG_DETAIL, "SQLRowCount: count=%d", (int)*count);
    }
    return QV_LEAVE_D(SQL_SUCCESS);
}
QV_CATCH(h)
