/*
 * Connection attributes: the work behind SQLSetConnectAttr(W),
 * SQLGetConnectAttr(W) and the ODBC 2 SQLSetConnectOption and
 * SQLGetConnectOption, shared so that the four entry points cannot drift
 * apart. The entry points own the frame (lock, diagnostics, trace).
 */
#ifndef QV_MY_CONN_ATTR_H
#define QV_MY_CONN_ATTR_H

#include <sql.h>

#include "my_handles.h"

/* Which entry point is asking: they differ in text forms, in the packet-size
 * maximum, in which attributes they know and in the SQLSTATEs they post. */
enum conn_attr_api {
    ATTR_NARROW = 0,   /* SQLSetConnectAttr / SQLGetConnectAttr */
    ATTR_WIDE = 1,     /* the W forms */
    ATTR_OPTION = 2,   /* SQLSetConnectOption / SQLGetConnectOption (ODBC 2) */
};

/* Sets one attribute. fname names the entry point in trace lines. */
SQLRETURN conn_set_attr(my_connection *c, SQLINTEGER attribute, SQLPOINTER value,
                        SQLINTEGER string_length, int api, const char *fname);

/* Reads one attribute into value (skipped when null); *string_length (when
 * not null) receives the bytes of the value or the full length of a text. */
SQLRETURN conn_get_attr(my_connection *c, SQLINTEGER attribute, SQLPOINTER value,
                        SQLINTEGER buffer_length, SQLINTEGER *string_length, int api,
                        const char *fname);

/* SQL_ATTR_RESET_CONNECTION: the attributes and statement defaults as at
 * allocation. Nothing is sent and the session itself is left as it is. */
void conn_restore_attribute_defaults(my_connection *c);

#endif
