/*
 * SQLNumParams: the number of parameter markers in the statement's text.
 */
#include "frame/my_handle.h"

SQLRETURN SQL_API SQLNumParams(SQLHSTMT h, SQLSMALLINT *count)
try {
    QV_STMT_ENTRY(h, s, "SQLNumParams", "SQLNumParams: statement_handle=%p, count=%p", h, count);
    QV_TRACE(s, LOG_DETAIL, "SQLNumParams: found_param_count=%d", s->found_param_count);
    if (count)
        *count = (SQLSMALLINT)s->found_param_count;
    return QV_LEAVE(SQL_SUCCESS);
}
QV_CATCH(h)
