/*
 * SQLFetchScroll: the cursor is forward-only, so only SQL_FETCH_NEXT moves it.
 */
#include "frame/my_handle.h"
#include "results/my_fetch.h"

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT h, SQLSMALLINT orientation, SQLLEN offset)
try {
    QV_STMT_ENTRY(h, s, "SQLFetchScroll",
                  "SQLFetchScroll: statement_handle=%p, fetch_orientation=%d, fetch_offset=%l", h,
                  (int)orientation, (int64_t)offset);
    return QV_LEAVE_D(my_fetch(s, orientation, (int32_t)offset));
}
QV_CATCH(h)
