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

/* Prepares the environment's TLS information (client method, socket I/O
 * method). 1 when it exists, 0 when OpenSSL offers no client method: the
 * environment then works without TLS and every TLS start fails. */
int tls_prepare(my_environment *env);
/* Frees what tls_prepare made. The environment's connections are gone. */
void tls_release(my_environment *env);

/* The TLS handshake on c->sock after the TLS request went out: loads the CA
 * (CertificateFile, a file or a directory), the client key and certificate
 * (PrivateKeyFile, PublicKeyFile), judges the server's certificate (strict,
 * or only logged with TrustServerCertificate) and installs the TLS
 * connection (c->ssl, c->ssl_ctx, ssl_active). Bounded by the logon
 * time-out. 0; -2 time-out (HYT00 posted); -6 with 08001 (HY001 for memory,
 * 08S01 for bytes the server sent ahead of the handshake) posted. A failure
 * leaves no TLS state on the connection. */
int tls_start(my_connection *c);

/* Ends TLS on the connection and frees it; the socket stays for the caller
 * to close. Safe to call when TLS never started. */
void tls_stop(my_connection *c);

#endif
