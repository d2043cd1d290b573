/*
 * Logon: handshake and authentication.
 */
#include "protocol/my_logon.h"

#include "frame/my_handle.h"

int my_connect(my_connection *c)
{
    c->connected = 0;
    post_error(c, ST_08001, 0, "logon not available in this build");
    return -1;
}
