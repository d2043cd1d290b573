/*
 * SQLGetStmtOption (ODBC 2).
 */
#include "frame/my_handle.h"
#include "stmt/my_stmt_attr.h"

SQLRETURN SQL_API SQLGetStmtOption(SQLHSTMT h, SQLUSMALLINT option, SQLPOINTER value)
try {
    QV_STMT_ENTRY(h, s, "SQLGetStmtOption", "SQLGetStmtOption: statement_handle=%p, option=%d, value=%p",
                  h, (int)option, value);
    SQLRETURN rc = SQL_SUCCESS;
    if (option == SQL_GET_BOOKMARK) {
        post_error(s, ST_HY011, 0, nullptr);
        rc = SQL_ERROR;
    } else if (option == SQL_ROW_NUMBER) {
        if (value)
            *(SQLULEN *)value = (SQLULEN)s->row_number;
    } else if (option <= SQL_USE_BOOKMARKS) {
        rc = stmt_get_attr(s, option, value, nullptr, "SQLGetStmtOption");
    } else {
        QV_TRACE(s, LOG_ERROR, "SQLGetStmtOption: unexpected option %d", (int)option);
        post_error(s, ST_S1092, 0, nullptr);
        rc = SQL_ERROR;
    }
    return QV_LEAVE_D(rc);
}
QV_CATCH(h)
