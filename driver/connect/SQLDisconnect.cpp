/*
 * SQLDisconnect: say goodbye to the server, free what the session and the
 * connect left behind, and return the handle to its state after allocation
 * so that it can connect again.
 */
#include "connect/my_connect.h"
#include "frame/my_handle.h"

SQLRETURN SQL_API SQLDisconnect(SQLHDBC h)
try {
    QV_CONN_ENTRY(h, c, "SQLDisconnect", "SQLDisconnect: connection_handle=%p", h);
    /* Statements and descriptors go with the connection: the driver manager
     * forgets its handles for them once the disconnect succeeds. */
    conn_release_children(c);
    disconnect_server(c);
    conn_reset(c);
    /* Unlike SQLDriverConnect's reset, a disconnect also returns the
     * attributes to their allocation values; auto-IPD reads 1 afterwards. */
    conn_default_attributes(c);
    c->auto_ipd = 1;
    return QV_LEAVE(SQL_SUCCESS);
}
QV_CATCH(h)
