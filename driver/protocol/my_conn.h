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

#include <mutex>

#include "my_handles.h"
#include "frame/my_err.h"
#include "protocol/my_pkt.h"

/* ---- transport (driver/protocol/my_net.cpp) ---- */
int net_open(my_connection *c, const my_string *servers, int port);
int net_connect_ipv4(my_connection *c, const my_string *server, int port);
int net_connect_ipv6(my_connection *c, const my_string *server, int port);
/* The host part of one server-list entry ("host", "host:port", "host*port";
 * IPv6 entries only split at '*'), blanks trimmed: malloc'd narrow text, or
 * null with HY001 posted. */
char *net_entry_host(my_connection *c, const my_string *entry);
/* All count bytes, or -1 (08S01 posted). */
int net_write(my_connection *c, const unsigned char *bytes, size_t count);
/* At least 1 byte: count; -1 failure (posted); -2 time-out (nothing posted).
 * deadline_ms is a monotonic_ms() instant; 0 waits without limit. */
int net_read(my_connection *c, unsigned char *buf, size_t want, size_t *got, int64_t deadline_ms);
/* Waits until descriptor fd is ready for events (POLLIN, POLLOUT).
 * timeout_ms < 0 waits without limit. A signal does not restart the full
 * wait: only the time left is waited. 1 ready (or in error/hang-up: the
 * next call reports it), 0 time-out, -1 poll failed (errno set). */
int net_wait(int fd, short events, int timeout_ms);
/* The bound in milliseconds for reads made on behalf of handle (0: none). */
int read_timeout_ms(const void *handle);
/* The instant a read on behalf of handle must end (0: none): a deadline
 * forced on the thread; else, on a session, the start of the application's
 * call plus the bound; else (logon) now plus the bound. */
int64_t read_deadline_ms(const void *handle);
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
int net_read_exact(my_connection *c, unsigned char *dst, size_t n, int64_t deadline_ms);
const unsigned char *net_peek(my_connection *c, size_t n, int64_t deadline_ms, int *rc);
void net_consume(my_connection *c, size_t n);

/* ---- commands (driver/protocol/my_conn.cpp; following a response to its
 * end, the queue and the conversation's state: my_response.cpp) ----
 * handle is the statement (or, for the driver's own statements, the
 * connection) that issues the command; diagnostics land on it.
 *
 * With caching (the default; NoCache off) a statement's whole response is
 * read into its packet queue right after the command is sent, so the wire is
 * free again before the first row is looked at. With NoCache the rows are
 * read from the wire as they are fetched.
 *
 * A read that times out posts HYT00 and then brings the connection back in
 * step: a second, short-lived connection sends KILL QUERY for this one and
 * the interrupted response is read and discarded. Where that cannot be done
 * (or the stream lost its place: a failed read, malformed framing), the
 * connection is closed (conn_mark_dead): every later call fails at once
 * with 08S01 and SQL_ATTR_CONNECTION_DEAD reports it. */

/* Sends p and frees it; no response is read. 0 or -1. */
int send_only(void *handle, my_packet *p);
/* Sends p (the caller keeps it) and reads the start of the response: an
 * update count (row_count_valid), a result set (the IRD described,
 * data_waiting and the busy mark set) or an error (-1, posted). */
int send_and_execute(void *handle, my_packet *p);
/* The next response of a multi-result command. 0 or -1. */
int next_result_set(void *handle);
/* Several commands in one write, their responses read afterwards in order
 * with read_answer. buf holds n one-packet commands back to back, command
 * i from starts[i] (its 4-byte header, filled in here with sequence 0) to
 * the next start or the end; with n == 1 it is sent as send_and_execute
 * sends one (a command over 16 MB goes in pieces). With compression each
 * command is framed on its own. 0, or -1 (posted; the link is closed). */
int send_commands(void *handle, my_packet *buf, const uint32_t *starts, size_t n);
/* Reads the response of a command sent before, as send_and_execute does
 * after its send. The handle's sequence counter must be the one the
 * response starts with. */
int read_answer(void *handle);
/* COM_QUERY text through send_and_execute: the driver's own statements. A
 * result set such a statement produces is read and discarded. */
int execute_query(void *handle, const my_string *text);
/* COM_QUERY with text, built for h and logged as execute_query logs it, to
 * be sent later (send_and_execute, run_pipelined). Null with HY001 posted. */
my_packet *query_command(void *h, const my_string *text);
/* The second half of send_and_execute: reads the start of the answer to a
 * command h has already sent. */
int read_answer(void *h);

/* ---- pipelined commands ----
 * Commands whose answers need not be seen before the next one is sent go
 * out together: one write for all of them, then each answer read in the
 * order of the commands, so that n commands cost one round trip. */
struct pipelined_command {
    void *handle;        /* issues the command and reads its answer; diagnostics land on it */
    my_packet *packet;   /* the command, built for handle (query_command...); null:
                            building it failed (posted); run_pipelined frees it */
    /* reads the whole answer (a statement's rows included, so that the next
     * answer is next on the wire); null: read_answer */
    int (*answer)(void *handle, void *ctx);
    void *ctx;
    int rc;              /* the answer's result: 0, or negative (posted on handle) */
};
/* Sends the n commands with one write and reads their answers in order, in
 * one wire_exchange on h (the connection, or the statement the commands are
 * made for). A refused command does not stop the answers after it (the
 * server ran those commands too); a command not built, a failed write or a
 * broken link leave rc at -1. 0 when every answer succeeded, else -1. The
 * commands are written before any answer is read, so together they must fit
 * the socket buffers of both sides (a few kilobytes always do). A server
 * that answers one of them by asking for a file takes the commands written
 * behind it for the upload: the request is answered as any other command's
 * (refused unless allowed, the upload ended), and those commands are written
 * again. */
int run_pipelined(void *h, pipelined_command *cmds, size_t n);
/* COM_FIELD_LIST: the columns of table into the IRD. */
int table_field_list(my_statement *s, const my_string *table);
/* Server-side prepare (or, with Text_Prepare, only the mark). */
int prepare_stmt(my_statement *s, const my_string *text);
/* 1 when the server takes an execute and a close of "the statement just
 * prepared" sent behind the prepare, before its answer (MariaDB 10.2 on). */
int server_executes_last_prepared(const my_connection *c);
/* Runs a query that returns rows in binary rows at the cost of one round
 * trip: COM_STMT_PREPARE of text, COM_STMT_EXECUTE and COM_STMT_CLOSE of
 * the statement just prepared, written together. The prepare's answer is
 * read and its definitions dropped; then the execute's response is read as
 * send_and_execute reads a response (queued unless NoCache; the result's
 * rows are binary: s->binary_result). The statement is closed on the server
 * when the call returns.
 *   0   the statement ran;
 *  -1   it failed: the server's error on the execute, or a broken link
 *       (posted). Nothing is to be sent again;
 *   1   the server did not prepare it: nothing ran and nothing is posted
 *       (the server's answers are in the trace); the caller sends the text.
 * The caller checks that the server can do it and that text is one query
 * without parameter markers, within one packet. */
int prepare_execute_close(my_statement *s, const my_string *text);
/* COM_STMT_FETCH for one row of a server cursor (no response read). */
int read_next_row(my_statement *s);
/* Reads the whole response of the command just sent into the queue. */
int pull_data_locally(my_statement *s);
/* Empties the queue and frees its memory and the row packets. */
void release_data_list(my_statement *s);
/* Frees the IRD's records (a result without columns). */
void clear_fields(my_statement *s);
/* Sends p and frees it, then reads its answer: an OK (the statement's
 * affected-row count is kept: the answer belongs to no statement the
 * application ran) or the server's error (-1, posted); anything else is
 * 08S01 and closes the link. op names the caller in log lines. 0 or -1. */
int send_for_ok(my_statement *s, my_packet *p, const char *op);

/* ---- session commands on the connection ---- */
/* 1 while a server session exists or is being set up: the post-logon
 * sequence runs on the open socket before the connection counts as
 * connected, and a session whose link broke still counts, so that its
 * commands fail loudly. */
int has_session(const my_connection *c);
/* execute_query with a composed text, which it frees; a null text (the
 * composition ran out of memory) posts HY001. 0 or -1. */
int send_statement(my_connection *c, my_string *text);
/* Records the limit as the one in force, then sends
 * "SET @@sql_select_limit=<n>" or "...=DEFAULT" for 0, on behalf of handle
 * (the connection, or a statement whose records get what is posted). When
 * the exchange fails, or there is no session to send it to, the limit in
 * force is marked unknown (-1), so that the next statement sends its own. */
int set_select_limit(void *handle, int64_t limit);

/* ---- the statement's packets ---- */
/* Next packet for a statement: its queue first, then the wire. The caller
 * owns the packet (packet_free). Null on failure (posted, or the time-out
 * flag set). */
my_packet *stmt_next_packet(my_statement *s);
/* The next row packet for the row readers, owned by the statement: a view
 * into the queue or, when the queue is empty, a read from the wire into a
 * buffer reused from row to row. Valid until the next call. op names the
 * caller in log lines ("my_fetch_row: timeout reading packet"). Null on
 * failure, with HYT00 or 08S01 posted. */
my_packet *stmt_next_row(my_statement *s, const char *op);
/* Forgets the statement's current row. The row packets the statement owns
 * are kept for the next row; a packet a caller put there is freed. */
void stmt_drop_row(my_statement *s);
/* 1 when p ends a result's rows (EOF, or the OK packet that replaces it). */
int is_end_of_rows(const my_statement *s, const my_packet *p);
/* Appends a packet (payload as received, with its sequence number) to the
 * statement's queue: for callers that hold a response in hand, and tests.
 * 0, or -1 when memory runs out (nothing posted). */
int queue_append(my_statement *s, const void *payload, size_t n, unsigned seq);

/* ---- a static cursor's rows ----
 * The rows of the open result, when its whole response is queued, can be
 * reached in any order through an index of their places in the queue; the
 * queue itself is not consumed, so closing the result or moving to the next
 * one reads past them as usual. */
/* Indexes the rows from the queue's next packet up to the end of the
 * result: 0 when they end with the end-of-rows packet, 1 when with an error
 * packet (left queued for the reader), 2 when the queue ends
 * first (the result is partly on the wire; nothing indexed), -1 when memory
 * runs out (HY001 posted). */
int index_rows(my_statement *s);
/* Row i (0-based) of the index as the statement's current row, a view into
 * the queue. Null when memory runs out (HY001 posted). */
my_packet *index_row(my_statement *s, int64_t i);
/* Forgets the index. */
void index_clear(my_statement *s);

/* ---- the conversation's state ----
 * Threads may share a connection, each with a statement of its own, so
 * everything on the wire happens inside a wire_exchange: it holds the
 * connection's wire_lock from before a command is built (a command larger
 * than one packet goes out while it is being built) through the last packet
 * of its response, or through the point where the whole response is queued
 * on the statement. A streamed (NoCache) result leaves the rest of its
 * response on the wire: its statement becomes the wire's owner, every
 * other handle's command is refused until it has read it, and each packet
 * it reads is an exchange of its own. What the transport posts on the
 * connection meanwhile goes to the handle the exchange runs for (see
 * exchange_scope in frame/my_err.h). Exchanges nest (the lock is
 * recursive); a handle without a connection makes it a no-op. */
struct wire_exchange {
    explicit wire_exchange(void *handle);
    /* A statement whose response is still partly on the wire becomes its
     * owner; one that has read all of it lets go. */
    ~wire_exchange();
    wire_exchange(const wire_exchange &) = delete;
    wire_exchange &operator=(const wire_exchange &) = delete;
    my_connection *c;
    void *h;
    std::unique_lock<qv_mutex> lock;
    exchange_scope scope;
};

/* 1 when part of the statement's response is still on the wire (not
 * queued): no other command may be sent before it is read. */
int response_on_wire(const my_statement *s);
/* 0 when handle may send a command; else HY000 "connection is busy with
 * results of another hstmt" is posted and -1 returned: another statement's
 * response is still on the wire. Meaningful inside the wire_exchange that
 * sends the command. */
int check_wire_free(void *handle);
/* Reads and discards what is left of the statement's response (rows of the
 * open result and every further result), wherever it lies, and empties the
 * queue. Clears data_waiting and more_results. 0, or -1 (posted; the
 * connection is then closed). */
int discard_response(my_statement *s);
/* Sets or releases the connection's busy mark after the statement read a
 * part of its response: an open result keeps it, as does a further result
 * still on the wire. */
void refresh_busy(my_statement *s);
/* Closes the connection's link: the conversation is out of step. */
void conn_mark_dead(my_connection *c);
/* Sends KILL QUERY for c's session over a second connection with c's
 * settings. 0, or -1 (the reason is in the trace log). */
int kill_running_query(my_connection *c);

#endif
