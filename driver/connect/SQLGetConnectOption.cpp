/*
 * SQLGetConnectOption (ODBC 2).
 */
#include "connect/my_conn_attr.h"
#include "frame/my_handle.h"

SQLRETURN SQL_API SQLGetConnectOption(SQLHDBC h, SQLUSMALLINT option, SQLPOINTER value)
try {
    QV_CONN_ENTRY(h, c, "SQLGetConnectOption",
                  "SQLGetConnectOption: connection_handle=%p, option=%d, value=%p", h, (int)option,
                  value);
    return QV_LEAVE_D(conn_get_attr(c, option, value, 0, nullptr, ATTR_OPTION,
                                    "SQLGetConnectOption"));
}
QV_CATCH(h)
