/*
 * SQLSetStmtOption (ODBC 2): options 0 to 12 as the same-numbered attributes,
 * 13 and 14 accepted and ignored, anything else S1092.
 */
#include "frame/my_handle.h"
#include "stmt/my_stmt_attr.h"

SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT h, SQLUSMALLINT option, SQLULEN value)
try {
    QV_STMT_ENTRY(h, s, "SQLSetStmtOption", "SQLSetStmtOption: statement_handle=%p, option=%d, value=%l",
                  h, (int)option, (int64_t)value);
    SQLRETURN rc;
    if (option > SQL_ROW_NUMBER) {
        QV_TRACE(s, LOG_ERROR, "SQLSetStmtOption: unexpected Option %d", (int)option);
        post_error(s, ST_S1092, 0, nullptr);
        rc = SQL_ERROR;
    } else {
        rc = stmt_set_attr(s, option, (SQLPOINTER)(uintptr_t)value, "SQLSetStmtOption", 1);
    }
    return QV_LEAVE_D(rc);
}
QV_CATCH(h)
