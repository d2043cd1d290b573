/*
 * The pieces of the connect path around the settings: the reset that
 * SQLDisconnect and SQLDriverConnect share, the hand-over to the logon and
 * the delivery of the output connection string.
 */
#include "connect/my_connect.h"


#include "connect/my_session.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_logon.h"
#include "protocol/my_pkt.h"

/* Session fields the handshake and the packet layer fill; none of them may
 * leak into the next session on this handle. */
static void clear_session_state(my_connection *c)
{
    c->link_broken = 0;
    c->port_in_use = 0;
    c->effective_logon_timeout = 0;
    clear_handshake(c);
    c->requested_charset = 0;
    c->status = command_status();
    c->memsql = 0;
    c->select_limit = 0;
    c->busy = 0;
    c->busy_owner = nullptr;
    c->wire_owner = nullptr;
    c->seq = 0;
    c->comp_seq = 0;
    c->comp_cap = 0;   /* comp_buf itself went with the session */
    c->net_errno = 0;
}

void conn_reset(my_connection *c)
{
    conn_close_session(c);   /* socket, TLS, buffers, collations, session strings */
    clear_session_state(c);
    conn_free_settings(c);
    c->PacketSize = 0;
    c->Encrypt = 0;
    c->TrustServerCertificate = 0;
    c->Compress = 0;
    c->LogonTimeout = 0;
    c->AnsiMode = 0;
    c->NTLMv2 = 0;
    c->Kerberos = 0;
    c->NullDatetimes = 0;
    c->TimeAsTime = 0;
    c->NoCache = 0;
    c->statement_counter = 0;
}

enum { COM_QUIT = 1 };

/* The server closes the connection without answering COM_QUIT, so nothing is
 * read; a send that fails changes nothing, the socket is closed anyway. */
static void send_quit(my_connection *c)
{
    wire_exchange x(c);
    c->status.affected_rows = 0;
    packet_reset_seq(c);   /* a new command starts at sequence 0 */
    my_packet *p = packet_new(c);
    if (p && packet_put_u8(p, COM_QUIT) == 0 && packet_send(c, p) != 0)
        clear_diagnostics(c);
    packet_free(p);
}

void disconnect_server(my_connection *c)
{
    if (c->connected)
        send_quit(c);
    conn_close_session(c);   /* TLS, collations, socket; connected becomes 0 */
}

int my_connect(my_connection *c)
{
    if (my_logon(c) != 0)
        return -1;
    if (session_setup(c) != 0)
        return 1;
    return 0;
}

SQLRETURN connect_hand_over(my_connection *c)
{
    /* SQL_ATTR_LOGIN_TIMEOUT (seconds) wins; LogonTimeout (milliseconds)
     * serves when the attribute is 0. */
    int64_t ms = c->login_timeout > 0 ? (int64_t)c->login_timeout * 1000 : c->LogonTimeout;
    if (ms < 0)
        ms = 0;
    if (ms > INT32_MAX)
        ms = INT32_MAX;
    c->effective_logon_timeout = (int32_t)ms;
    int rc = my_connect(c);
    if (rc == 0)
        return SQL_SUCCESS;
    if (rc == 1)
        return SQL_SUCCESS_WITH_INFO;
    if (diag_count(c) == 0)   /* a failure must never reach the application silently */
        post_error(c, ST_08001, 0, nullptr);
    return SQL_ERROR;
}

SQLRETURN deliver_out_string(my_connection *c, const my_string *out, void *buf,
                             int64_t buf_max, SQLSMALLINT *out_len, int wide, int native)
{
    int64_t full = 0;
    int cut = copy_out_string(out, c, wide ? COPY_WIDE_CHARS : COPY_NARROW, buf, buf_max, &full);
    if (out_len)   /* the length is an SQLSMALLINT: never let it wrap negative */
        *out_len = (SQLSMALLINT)(full > 32767 ? 32767 : full);
    if (cut && buf) {
        post_error(c, ST_01004, native, nullptr);
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}
