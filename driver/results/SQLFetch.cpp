/*
 * SQLFetch: the next rowset.
 */
#include "frame/my_handle.h"
#include "results/my_fetch.h"

SQLRETURN SQL_API SQLFetch(SQLHSTMT h)
try {
    QV_STMT_ENTRY(h, s, "SQLFetch", "SQLFetch: statement_handle=%p", h);
    return QV_LEAVE_D(my_fetch(s, SQL_FETCH_NEXT, 0));
}
QV_CATCH(h)
