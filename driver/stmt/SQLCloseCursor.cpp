/*
 * SQLCloseCursor: closes the statement's result, as SQLFreeStmt(SQL_CLOSE).
 */
#include "frame/my_handle.h"
#include "stmt/my_stmt.h"

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT h)
try {
    QV_STMT_ENTRY(h, s, "SQLCloseCursor", "SQLCloseCursor: statement_handle=%p", h);
    close_cursor(s);
    return QV_LEAVE_D(SQL_SUCCESS);
}
QV_CATCH(h)
