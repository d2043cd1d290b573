/*
 * SQLGetStmtAttr, SQLGetStmtAttrW.
 */
#include "frame/my_handle.h"
#include "stmt/my_stmt_attr.h"

static SQLRETURN get_stmt_attr(const char *fname, SQLHSTMT h, SQLINTEGER attribute,
                               SQLPOINTER value, SQLINTEGER buffer_length,
                               SQLINTEGER *string_length)
{
    QV_STMT_ENTRY(h, s, fname,
                  "%s: statement_handle=%p, attribute=%d, value=%p, buffer_length=%d, "
                  "string_length=%p",
                  fname, h, (int)attribute, value, (int)buffer_length, string_length);
    return QV_LEAVE_D(stmt_get_attr(s, attribute, value, string_length, fname));
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER buffer_length, SQLINTEGER *string_length)
try {
    return get_stmt_attr("SQLGetStmtAttr", h, attribute, value, buffer_length, string_length);
}
QV_CATCH(h)

SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value,
                                  SQLINTEGER buffer_length, SQLINTEGER *string_length)
try {
    return get_stmt_attr("SQLGetStmtAttrW", h, attribute, value, buffer_length, string_length);
}
QV_CATCH(h)
