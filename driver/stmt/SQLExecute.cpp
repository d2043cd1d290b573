/*
 * SQLExecute: run the prepared statement for every row of the parameter
 * array.
 */
#include "frame/my_handle.h"
#include "stmt/my_stmt.h"

SQLRETURN SQL_API SQLExecute(SQLHSTMT h)
try {
    QV_STMT_ENTRY(h, s, "SQLExecute", "SQLExecute: statement_handle=%p", h);
    return QV_LEAVE_D(my_execute(s));
}
QV_CATCH(h)
