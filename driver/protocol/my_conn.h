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

/* ---- transport ---- */
int net_open(my_connection *c, const my_string *servers, int port);
int net_connect_ipv4(my_connection *c, const my_string *server, int port);
int net_connect_ipv6(my_connection *c, const my_string *server, int port);
/* All count bytes, or -1 (08S01 posted). */
int net_write(my_connection *c, const unsigned char *bytes, size_t count);
/* At least 1 byte: count; -1 failure (posted); -2 time-out (nothing posted). */
int net_read(my_connection *c, unsigned char *buf, size_t want, size_t *got, int timeout_ms);
int read_timeout_ms(const void *handle);
void net_close(my_connection *c);

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
