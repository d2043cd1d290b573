/*
 * SQLDisconnect: say goodbye to the server, free what the session and the
 * connect left behind, and return the handle to its state after allocation
 * so that it can connect again.
 */
#include "connect/my_connect.h"
#include "frame/my_handle.h"
#include "protocol/my_pkt.h"

enum { COM_QUIT = 1 };

/* The server closes the connection without answering COM_QUIT, so nothing is
 * read; a send that fails changes nothing, the socket is closed anyway. */
static void send_quit(my_connection *c)
{
    c->status.affected_rows = 0;
    packet_reset_seq(c);   /* a new command starts at sequence 0 */
    my_packet *p = packet_new(c);
    if (p && packet_put_u8(p, COM_QUIT) == 0 && packet_send(c, p) != 0)
        clear_diagnostics(c);
    packet_free(p);
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC h)
{
    QV_CONN_ENTRY(h, c, "SQLDisconnect", "SQLDisconnect: connection_handle=%p", h);
    /* Statements and descriptors go with the connection: the driver manager
     * forgets its handles for them once the disconnect succeeds. */
    conn_release_children(c);
    if (c->connected)
        send_quit(c);
    conn_reset(c);
    conn_default_attributes(c);
    c->auto_ipd = 1;
    return QV_LEAVE(SQL_SUCCESS);
}
