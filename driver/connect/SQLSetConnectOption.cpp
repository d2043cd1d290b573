/*
 * SQLSetConnectOption (ODBC 2): the connection attributes ODBC 2 knew, with
 * its S1xxx states.
 */
#include "connect/my_conn_attr.h"
#include "frame/my_handle.h"

SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC h, SQLUSMALLINT option, SQLULEN value)
try {
    QV_CONN_ENTRY(h, c, "SQLSetConnectOption",
                  "SQLSetConnectOption: connection_handle=%p, option=%d, value=%l", h, (int)option,
                  (int64_t)value);
    return QV_LEAVE_D(conn_set_attr(c, option, (SQLPOINTER)(uintptr_t)value, SQL_NTS, ATTR_OPTION,
                                    "SQLSetConnectOption"));
}
QV_CATCH(h)
