/*
 * Transport (sockets, server lists, time-outs, the receive buffer) and the
 * command layer (commands, pulling responses, result sets, LOCAL INFILE).
 *
 * Return codes: 0 success; -1 failure with diagnostics posted; -2 receive
 * time-out (caller posts HYT00); -3 connection attempt failed; -4 send
 * failed; -6 malformed or unexpected protocol data.
 */
#ifndef QV_MY_CONN_H
#define QV_MY_CONN_H

#include <stddef.h>
#include <stdint.h>

#include "my_handles.h"
#include "protocol/my_pkt.h"

/* ---- transport (driver/protocol/my_net.cpp) ---- */
int net_open(my_connection *c, const my_string *servers, int port);
int net_connect_ipv4(my_connection *c, const my_string *server, int port);
int net_connect_ipv6(my_connection *c, const my_string *server, int port);
/* All count bytes, or -1 (08S01 posted). */
int net_write(my_connection *c, const unsigned char *bytes, size_t count);
/* At least 1 byte: count; -1 failure (posted); -2 time-out (nothing posted). */
int net_read(my_connection *c, unsigned char *buf, size_t want, size_t *got, int timeout_ms);
int read_timeout_ms(const void *handle);
/* Closes the socket (sock = -1, closed = 1) and drops buffered bytes; no
 * protocol goodbye. */
void net_close(my_connection *c);

/* Buffered receive through the connection's receive buffer (rbuf): one
 * net_read fills it and many small packets are served from it.
 * net_read_exact: exactly n bytes into dst, n; or the failing net_read result
 *   (-1 posted, -2 time-out). Bytes already consumed before a failure are lost.
 * net_peek: makes n bytes (n <= NET_RBUF_SIZE) contiguous at the buffer's read
 *   position without consuming them; returns them, or null with *rc set to the
 *   failing result. A failure consumes nothing, so a time-out while waiting for
 *   a header leaves the stream intact.
 * net_consume: drops n bytes that net_peek returned. */
enum { NET_RBUF_SIZE = 64 * 1024 };
int net_read_exact(my_connection *c, unsigned char *dst, size_t n, int timeout_ms);
const unsigned char *net_peek(my_connection *c, size_t n, int timeout_ms, int *rc);
void net_consume(my_connection *c, size_t n);

/* ---- commands ---- */
int send_only(void *handle, my_packet *p);
int send_and_execute(void *handle, my_packet *p);
int next_result_set(void *handle);
int execute_query(void *handle, const my_string *text);
int table_field_list(my_statement *s, const my_string *table);
int prepare_stmt(my_statement *s, const my_string *text);
int describe_params(my_statement *s, const my_string *text);
int text_describe(my_statement *s, const my_string *text);
int read_next_row(my_statement *s);
int send_reset(my_statement *s);
int pull_data_locally(my_statement *s);
void release_data_list(my_statement *s);
void clear_fields(my_statement *s);
/* Next packet for a statement: its queue first, then the wire. */
my_packet *stmt_next_packet(my_statement *s);
int check_select_limit(my_statement *s);

#endif
