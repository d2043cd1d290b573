/*
 * Logon: handshake decoding, the handshake response, the authentication
 * exchange, and the session set-up that follows a successful logon.
 */
#ifndef QV_MY_LOGON_H
#define QV_MY_LOGON_H

#include "my_handles.h"
#include "protocol/my_pkt.h"

/* 0 logged on; 1 logged on but the session set-up failed (SQL_SUCCESS_WITH_INFO);
 * -1 failed with diagnostics posted on the connection. */
int my_connect(my_connection *c);

#endif
