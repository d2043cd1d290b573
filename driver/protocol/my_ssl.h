/*
 * TLS on the connection's socket: the TLS request sent during logon, the
 * OpenSSL handshake, and the byte movers the transport switches to once TLS
 * is up.
 */
#ifndef QV_MY_SSL_H
#define QV_MY_SSL_H

#include "my_handles.h"

/* Sends the TLS request packet (the client flags, maximum packet size and
 * character set of the handshake response, without user or password) and
 * starts TLS on the socket; the full handshake response then follows over
 * TLS with the next sequence number. Called by the logon when Encrypt asks
 * for TLS and the server offers it. 0, or -1 with diagnostics posted. */
int create_ssl_req(my_connection *c, const my_string *user, const my_string *password,
                   const my_string *database);

#endif
