/*
 * SQLSetConnectAttr, SQLSetConnectAttrW.
 */
#include "connect/my_conn_attr.h"
#include "frame/my_handle.h"

static SQLRETURN set_connect_attr(const char *fname, SQLHDBC h, SQLINTEGER attribute,
                                  SQLPOINTER value, SQLINTEGER string_length, int api)
{
    QV_CONN_ENTRY(h, c, fname, "%s: connection_handle=%p, attribute=%d, value=%p, string_length=%d",
                  fname, h, (int)attribute, value, (int)string_length);
    return QV_LEAVE_D(conn_set_attr(c, attribute, value, string_length, api, fname));
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER string_length)
try {
    return set_connect_attr("SQLSetConnectAttr", h, attribute, value, string_length, ATTR_NARROW);
}
QV_CATCH(h)

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER string_length)
try {
    return set_connect_attr("SQLSetConnectAttrW", h, attribute, value, string_length, ATTR_WIDE);
}
QV_CATCH(h)
