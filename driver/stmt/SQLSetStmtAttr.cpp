/*
 * SQLSetStmtAttr, SQLSetStmtAttrW: no attribute is a string, so the twins
 * are the same.
 */
#include "frame/my_handle.h"
#include "stmt/my_stmt_attr.h"

static SQLRETURN set_stmt_attr(const char *fname, SQLHSTMT h, SQLINTEGER attribute,
                               SQLPOINTER value, SQLINTEGER string_length)
{
    QV_STMT_ENTRY(h, s, fname, "%s: statement_handle=%p, attribute=%d, value=%p, string_length=%d",
                  fname, h, (int)attribute, value, (int)string_length);
    return QV_LEAVE_D(stmt_set_attr(s, attribute, value, fname, 0));
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER string_length)
try {
    return set_stmt_attr("SQLSetStmtAttr", h, attribute, value, string_length);
}
QV_CATCH(h)

SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value,
                                  SQLINTEGER string_length)
try {
    return set_stmt_attr("SQLSetStmtAttrW", h, attribute, value, string_length);
}
QV_CATCH(h)
