/*
 * SQLGetConnectAttr, SQLGetConnectAttrW.
 */
#include "connect/my_conn_attr.h"
#include "frame/my_handle.h"

static SQLRETURN get_connect_attr(const char *fname, SQLHDBC h, SQLINTEGER attribute,
                                  SQLPOINTER value, SQLINTEGER buffer_length,
                                  SQLINTEGER *string_length, int api)
{
    QV_CONN_ENTRY(h, c, fname,
                  "%s: connection_handle=%p, attribute=%d, value=%p, buffer_length=%d, "
                  "string_length=%p",
                  fname, h, (int)attribute, value, (int)buffer_length, string_length);
    return QV_LEAVE_D(conn_get_attr(c, attribute, value, buffer_length, string_length, api, fname));
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER buffer_length, SQLINTEGER *string_length)
try {
    return get_connect_attr("SQLGetConnectAttr", h, attribute, value, buffer_length,
                            string_length, ATTR_NARROW);
}
QV_CATCH(h)

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER buffer_length, SQLINTEGER *string_length)
try {
    return get_connect_attr("SQLGetConnectAttrW", h, attribute, value, buffer_length,
                            string_length, ATTR_WIDE);
}
QV_CATCH(h)
