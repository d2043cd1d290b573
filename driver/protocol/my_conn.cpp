/*
 * Command layer: sends the protocol's commands and reads their responses up
 * to where rows begin, uploads LOCAL INFILE data, and sends KILL QUERY for a
 * statement that outlived its time-out. How a response is followed to its
 * end, queued and kept in step is my_response.cpp; the transport is
 * my_net.cpp.
 */
#include "protocol/my_conn.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <new>
#include <string>
#include <vector>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "my_settings.h"
#include "protocol/my_decode.h"
#include "protocol/my_logon.h"
#include "protocol/my_proto.h"
#include "protocol/my_response.h"

enum {
    COM_QUIT = 0x01,
    COM_QUERY = 0x03,
    COM_FIELD_LIST = 0x04,
    COM_STMT_PREPARE = 0x16,
    COM_STMT_EXECUTE = 0x17,
    COM_STMT_CLOSE = 0x19,
    COM_STMT_FETCH = 0x1C,
};

enum {
    INFILE_PIECE = 1024,
    KILL_WAIT_MS = 3000,            /* bounds sending KILL QUERY */
};

/* ============================================================== sending */

static my_packet *command_packet(void *h, unsigned command)
{
    packet_reset_seq(h);
    my_packet *p = packet_new(h);
    if (p && packet_put_u8(p, command) == 0)
        return p;
    packet_free(p);
    post_error(h, ST_HY001, 0, nullptr);
    return nullptr;
}

static int send_packet(void *h, my_packet *p)
{
    if (packet_send(h, p) == 0)
        return 0;
    conn_mark_dead(handle_conn(h));
    return -1;
}

/* A command with its text argument (NUL-terminated when nul is set): the
 * packet, or null with HY001 posted. */
static my_packet *text_command(void *h, unsigned command, const my_string *text, int nul)
{
    my_packet *p = command_packet(h, command);
    if (p && (nul ? packet_put_string_nul(p, text) : packet_put_string(p, text)) != 0) {
        packet_free(p);
        post_error(h, ST_HY001, 0, nullptr);
        return nullptr;
    }
    return p;
}

/* Sends a command built for h (null: building it failed, already posted)
 * inside the caller's exchange, and frees it. 0 or -1. */
static int send_command(void *h, my_packet *p)
{
    int rc = p ? send_packet(h, p) : -1;
    packet_free(p);
    return rc;
}

int send_only(void *h, my_packet *p)
{
    QV_TRACE(h, LOG_DETAIL, "send_only:");
    if (!p) {
        QV_TRACE(h, LOG_DETAIL, "send_only: no work to do");
        return 0;
    }
    wire_exchange x(h);
    int rc = send_packet(h, p);
    packet_free(p);
    return rc;
}

/* ======================================================= KILL QUERY */

static int32_t shorter(int32_t ms, int32_t most) { return ms > 0 && ms < most ? ms : most; }

/* The settings a second connection needs to log on as c did, to the server
 * that answered c. */
static int copy_logon_settings(my_connection *k, const my_connection *c)
{
    /* Every setting as the connection has it; the lines below then change
     * what the helper link must do differently. */
    for (const setting_row &r : setting_table) {
        if (r.text && c->*(r.text) && !(k->*(r.text) = ms_copy(c->*(r.text))))
            return -1;
        if (r.number)
            k->*(r.number) = c->*(r.number);
    }
    k->wchar_type = c->wchar_type;
    k->LocalInfile = 0;   /* KILL loads no file: the server is not told it could */
    /* a server list may name several servers: KILL must reach this one */
    ms_free(k->SERVER);
    k->SERVER = ms_copy(c->server_in_use ? c->server_in_use : c->SERVER);
    if (c->port_in_use > 0)
        k->PORT = c->port_in_use;
    /* The statement is already late: a server that does not let us in or
     * answer quickly is treated as unreachable, and the link is closed. A
     * deadline on the call (what is left of it) bounds the whole logon. */
    int32_t most = KILL_WAIT_MS;
    if (int64_t deadline = call_forced_deadline_ms()) {
        int64_t left = deadline - monotonic_ms();
        most = left < 1 ? 1 : left < most ? (int32_t)left : most;
    }
    k->effective_logon_timeout = shorter(c->effective_logon_timeout, most);
    k->ConnectionTimeout = shorter(c->ConnectionTimeout, most);
    memcpy(k->LogFile, c->LogFile, sizeof k->LogFile);
    k->hdr.log_flags = c->hdr.log_flags;
    return (c->server_in_use || c->SERVER) && !k->SERVER ? -1 : 0;
}

int kill_running_query(my_connection *c)
{
    my_environment *env = handle_env(c);
    my_connection *k = env ? conn_create(env, c->odbc_behaviour) : nullptr;
    if (!k)
        return -1;
    int rc = copy_logon_settings(k, c);
    /* KILL needs only the logon: none of the session statements */
    if (rc == 0 && my_logon(k) != 0)
        rc = -1;
    if (rc == 0) {
        uint32_t id = (uint32_t)c->connection_id[0] | (uint32_t)c->connection_id[1] << 8 |
                      (uint32_t)c->connection_id[2] << 16 | (uint32_t)c->connection_id[3] << 24;
        my_string *sql = compose_text("KILL QUERY %l", (int64_t)id);
        rc = sql ? execute_query(k, sql) : -1;
        ms_free(sql);
        send_only(k, command_packet(k, COM_QUIT));
    }
    if (rc != 0) {
        diag_record *r = diag_get(k, 1);
        QV_TRACE(c, LOG_ERROR, "kill_running_query: failed: %S", r ? r->message : nullptr);
    }
    conn_release(k, 0);
    return rc;
}

/* A response of the driver's own statements sent on the connection: what
 * follows its first part (rows, further results) is not wanted. */
static int finish_own_response(my_connection *c, int rows_open)
{
    int more = (c->status.server_status & SERVER_MORE_RESULTS_EXISTS) != 0;
    if (!rows_open && !more)
        return 0;
    response_tracker t = rows_open ? IN_ROWS : AT_START;
    int rc = drain_wire(c, &t);
    if (c->busy && !c->busy_owner)
        c->busy = 0;
    if (rc == -2)
        post_error(c, ST_HYT00, 0, nullptr);
    if (rc != 0)
        conn_mark_dead(c);
    return rc == 0 ? 0 : -1;
}

/* ============================================================ LOCAL INFILE */

/* Set by run_pipelined while it reads an answer: local_infile counts the
 * server's requests for a file there. The exchange runs on this thread. */
static thread_local int *pipeline_file_requests = nullptr;

/* The server's answer to an upload: OK or ERR. */
static int infile_reply(void *h, int from_next)
{
    my_statement *s = as_stmt(h);
    my_packet reply = {};
    int rc = -1;
    if (read_into(h, &reply, "send_and_execute", &AT_START) == 0) {
        unsigned lead = lead_byte(&reply);
        if (lead == 0xFF) {
            decode_error_packet(h, &reply);
        } else if (lead == 0x00 && decode_ok_packet(h, &reply, 0) == 0) {
            rc = 0;
            if (s) {
                s->row_count_valid = 1;
                s->row_count = s->status.affected_rows;
                if (from_next)
                    clear_fields(s);
                s->more_results = (s->status.server_status & SERVER_MORE_RESULTS_EXISTS) != 0;
            }
        } else {
            if (lead != 0x00)
                post_error(h, ST_08S01, 0, "unexpected packet type %x", lead);
            conn_mark_dead(handle_conn(h));
        }
    }
    free(reply.data);
    /* The pull stopped at the upload request: take in what follows. */
    if (rc == 0 && s && s->more_results && !handle_conn(s)->NoCache)
        rc = pull_data_locally(s);
    if (s)
        refresh_busy(s);
    return rc;
}

/* Up to n bytes; fewer only at the end of the file. -1 with errno. */
static ssize_t read_piece(int fd, unsigned char *buf, size_t n)
{
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(fd, buf + got, n - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += (size_t)r;
    }
    return (ssize_t)got;
}

/* A packet that continues the exchange the server started: packet_new
 * starts the compressed frame count afresh for a new command, but an upload
 * answers the server and its frames must follow the server's. */
static my_packet *continuation_packet(void *h)
{
    my_connection *c = handle_conn(h);
    int32_t frames = c ? c->comp_seq : 0;
    my_packet *p = packet_new(h);
    if (c)
        c->comp_seq = frames;
    return p;
}

/* Sends the file in packets of 1024 bytes and the empty packet that ends
 * it. One packet buffer serves every piece. */
static int upload_file(void *h, int fd, const my_string *name)
{
    my_packet *p = continuation_packet(h);
    if (!p) {
        post_error(h, ST_HY001, 0, nullptr);
        return -1;
    }
    unsigned char piece[INFILE_PIECE];
    int rc = 0;
    for (;;) {
        ssize_t n = read_piece(fd, piece, sizeof piece);
        if (n < 0) {
            /* An empty packet now would make the server load the part it
             * has; a closed link makes it abandon the statement instead. */
            post_error(h, ST_08S01, 0, "Failed to read '%S', errno=%d", name, errno);
            conn_mark_dead(handle_conn(h));
            rc = -1;
            break;
        }
        p->length = 4;
        if ((n > 0 && packet_put_bytes(p, piece, (size_t)n) != 0) || send_packet(h, p) != 0) {
            rc = -1;
            break;
        }
        if (n == 0)
            break;   /* that was the empty packet */
    }
    packet_free(p);
    return rc;
}

static int empty_packet(void *h)
{
    my_packet *p = continuation_packet(h);
    if (!p)
        post_error(h, ST_HY001, 0, nullptr);
    return send_command(h, p);
}

/* Why the server may not have the file it asks for, or null when it may:
 * LOCAL INFILE is on for the connection and the statement that issued the
 * command named this very file in its own LOAD ... LOCAL INFILE. The
 * driver's own statements (sent on the connection, or on private
 * statements) name none. */
static const char *infile_refusal(void *h, const std::string &path)
{
    my_connection *c = handle_conn(h);
    if (c && !c->LocalInfile)
        return "The server asked for a local file; LOCAL INFILE is off for this connection "
               "(LocalInfile=0), nothing was sent";
    if (my_statement *s = as_stmt(h))
        for (const std::string &allowed : s->local_infile_files)
            if (allowed == path)
                return nullptr;
    return "The server asked for a local file that the statement does not name in LOAD DATA "
           "LOCAL INFILE; refused, nothing was sent";
}

/* The server asks for a file (0xFB, then its name). */
static int local_infile(void *h, my_packet *p, int from_next)
{
    packet_get_u8(p, nullptr);
    std::string path((const char *)p->data + p->pos, (size_t)packet_remaining(p));
    path.resize(strnlen(path.c_str(), path.size()));
    my_string *name = ms_from_latin1_n(path.data(), path.size());
    QV_TRACE(h, LOG_DETAIL, "send_and_execute: infile '%S'", name);
    if (pipeline_file_requests)
        ++*pipeline_file_requests;

    int rc;
    const char *refused = infile_refusal(h, path);
    int fd = refused ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (refused) {
        /* the name goes to the trace only: a message may end up in front
         * of other people than the one who runs the application */
        QV_TRACE(h, LOG_ERROR, "send_and_execute: refused the request for '%S'", name);
        post_error(h, ST_HY000, 0, "%s", refused);
        if (empty_packet(h) == 0)
            infile_reply(h, from_next);
        rc = -1;
    } else if (fd < 0) {
        int err = errno;
        post_error(h, ST_08S01, 0, "Failed to open '%S', eerrno=%d", name, err);
        /* The server waits for the upload: an empty one ends it, and the
         * connection stays usable. */
        if (empty_packet(h) == 0)
            infile_reply(h, from_next);
        rc = -1;
    } else {
        rc = upload_file(h, fd, name);
        close(fd);
        if (rc == 0)
            rc = infile_reply(h, from_next);
    }
    ms_free(name);
    return rc;
}

/* ==================================================== first response packet */

static int ok_response(void *h, my_packet *p, int from_next)
{
    if (decode_ok_packet(h, p, 0) != 0) {
        conn_mark_dead(handle_conn(h));   /* where the response ends is unknown */
        return -1;
    }
    my_statement *s = as_stmt(h);
    if (!s)
        return finish_own_response(handle_conn(h), 0);
    s->row_count_valid = 1;
    s->row_count = s->status.affected_rows;
    if (from_next)
        clear_fields(s);
    s->more_results = (s->status.server_status & SERVER_MORE_RESULTS_EXISTS) != 0;
    refresh_busy(s);
    return 0;
}

static int columns_response(void *h, my_packet *p, const char *op)
{
    uint64_t n;
    packet_get_lenenc(p, &n);
    QV_TRACE(h, LOG_DETAIL, "%s: col count = %l", op, (int64_t)n);
    int rc = decode_field_defs(h, (int64_t)n, DEF_COLUMNS, 0);
    my_statement *s = as_stmt(h);
    if (rc != 0) {
        /* Half a description: what is left of the response cannot be
         * found on the wire; from the queue it is simply dropped. */
        if (s && s->queue.count > 0)
            queue_clear(s);
        else
            conn_mark_dead(handle_conn(h));
        if (s)
            s->more_results = 0;
        return rc;
    }
    return s ? 0 : finish_own_response(handle_conn(h), 1);
}

/* What the first packet of a response says. */
static int dispatch_response(void *h, my_packet *p, const char *op, int from_next)
{
    unsigned lead = lead_byte(p);
    if (lead == 0xFF) {
        decode_error_packet(h, p);
        if (my_statement *s = as_stmt(h))
            refresh_busy(s);
        return -1;
    }
    if (packet_is_lenenc_only(p))
        return columns_response(h, p, op);
    if (lead == 0x00)
        return ok_response(h, p, from_next);
    if (lead == 0xFB)
        return local_infile(h, p, from_next);
    /* Nothing a command is answered with: the conversation has lost its
     * place. */
    QV_TRACE(h, LOG_ERROR, "%s: unexpected packet type %x", op, lead);
    post_error(h, ST_08S01, 0, "unexpected packet type %x", lead);
    conn_mark_dead(handle_conn(h));
    return -1;
}

static int read_response(void *h, const char *op, int from_next)
{
    my_statement *s = as_stmt(h);
    if (s) {
        s->row_count_valid = 0;
        my_packet *p = take_packet(s, op, &AT_START);
        return p ? dispatch_response(s, p, op, from_next) : -1;
    }
    my_packet p = {};
    int rc = read_into(h, &p, op, nullptr);
    if (rc == 0)
        rc = dispatch_response(h, &p, op, from_next);
    free(p.data);
    return rc;
}

int send_and_execute(void *h, my_packet *p)
{
    QV_TRACE(h, LOG_DETAIL, "send_and_execute:");
    if (!p) {
        QV_TRACE(h, LOG_DETAIL, "send_and_execute: no work to do");
        return 0;
    }
    wire_exchange x(h);
    if (check_wire_free(h) != 0)
        return -1;
    if (send_packet(h, p) != 0)
        return -1;
    return read_answer(h);
}

int read_answer(void *h)
{
    wire_exchange x(h);
    if (my_statement *s = as_stmt(h)) {
        s->more_results = 0;
        s->cursor_exists = 0;
        stmt_drop_row(s);
        if (pull_data_locally(s) != 0)
            return -1;
    }
    return read_response(h, "send_and_execute", 0);
}

int send_commands(void *h, my_packet *buf, const uint32_t *starts, size_t n)
{
    wire_exchange x(h);
    if (check_wire_free(h) != 0)
        return -1;
    if (n == 1)
        return send_packet(h, buf);   /* one command, perhaps in 16 MB pieces */
    my_connection *c = handle_conn(h);
    /* each command a view into buf, written together by the packet layer */
    std::vector<my_packet> views;
    std::vector<my_packet *> list;
    try {
        views.resize(n);
        list.resize(n);
    } catch (const std::bad_alloc &) {
        post_error(h, ST_HY001, 0, nullptr);
        return -1;
    }
    for (size_t i = 0; i < n; i++) {
        uint32_t end = i + 1 < n ? starts[i + 1] : (uint32_t)buf->length;
        views[i] = *buf;
        views[i].data = buf->data + starts[i];
        views[i].length = views[i].limit = (int32_t)(end - starts[i]);
        views[i].seq = 0;
        list[i] = &views[i];
    }
    if (packet_send_all(h, list.data(), n) != 0) {
        conn_mark_dead(c);
        return -1;
    }
    QV_TRACE(h, LOG_DETAIL, "send_commands: %d commands, %d bytes", (int)n, buf->length);
    /* each response starts with sequence 1 */
    if (my_statement *s = as_stmt(h))
        s->seq = 1;
    else
        c->seq = 1;
    return 0;
}

int next_result_set(void *h)
{
    QV_TRACE(h, LOG_DETAIL, "next_result_set:");
    wire_exchange x(h);
    if (my_statement *s = as_stmt(h)) {
        s->more_results = 0;
        stmt_drop_row(s);
    }
    return read_response(h, "next_result_set", 1);
}

/* ================================================================ commands */

my_packet *query_command(void *h, const my_string *text)
{
    QV_TRACE(h, LOG_DETAIL, "execute_query: hand=%p", h);
    QV_TRACE(h, LOG_DETAIL, "sql: '%S'", text);
    return text_command(h, COM_QUERY, text, 0);
}

int execute_query(void *h, const my_string *text)
{
    wire_exchange x(h);
    if (check_wire_free(h) != 0)
        return -1;
    my_packet *p = query_command(h, text);
    if (!p)
        return -1;
    int rc = send_and_execute(h, p);
    packet_free(p);
    return rc;
}

/* After a field-list definition failed to decode: the rest of the list up
 * to its end marker. */
static void skip_field_list(my_statement *s, my_packet *p)
{
    while (read_into(s, p, "table_field_list", nullptr) == 0)
        if (lead_byte(p) == 0xFF || end_of_rows(s, p))
            return;
}

int table_field_list(my_statement *s, const my_string *table)
{
    QV_TRACE(s, LOG_DETAIL, "table_field_list: hand=%p", s);
    QV_TRACE(s, LOG_DETAIL, "table: '%S'", table);
    wire_exchange x(s);
    if (check_wire_free(s) != 0)
        return -1;
    if (send_command(s, text_command(s, COM_FIELD_LIST, table, 1)) != 0)
        return -1;
    s->more_results = 0;
    s->cursor_exists = 0;
    my_packet reply = {};
    int rc = -1;
    for (int i = 0;; i++) {
        s->row_count_valid = 0;
        if (read_into(s, &reply, "table_field_list", nullptr) != 0)
            break;
        if (lead_byte(&reply) == 0xFF) {
            decode_error_packet(s, &reply);
            break;
        }
        if (end_of_rows(s, &reply)) {
            rc = decode_eof_packet(s, &reply, 0) == 0 ? 0 : -1;
            break;
        }
        if (decode_field_list(s, &reply, i) != 0) {
            skip_field_list(s, &reply);
            break;
        }
    }
    free(reply.data);
    return rc;
}

int prepare_stmt(my_statement *s, const my_string *text)
{
    QV_TRACE(s, LOG_DETAIL, "prepare_stmt: '%S'", text);
    my_connection *c = handle_conn(s);
    if (c->Text_Prepare) {
        QV_TRACE(s, LOG_DETAIL, "text_prepare: '%S'", text);
        s->prepared = 1;
        return 0;
    }
    if (!text) {
        QV_TRACE(s, LOG_DETAIL, "prepare_stmt: no work to do");
        return 0;
    }
    wire_exchange x(s);
    if (check_wire_free(s) != 0)
        return -1;
    if (send_command(s, text_command(s, COM_STMT_PREPARE, text, 0)) != 0)
        return -1;
    s->more_results = 0;
    s->row_count_valid = 0;
    my_packet reply = {};
    int rc = -1;
    if (read_into(s, &reply, "prepare_stmt", nullptr) == 0) {
        unsigned lead = lead_byte(&reply);
        if (lead == 0xFF) {
            decode_error_packet(s, &reply);
        } else if (lead != 0x00) {
            QV_TRACE(s, LOG_ERROR, "prepare_stmt: unexpected packet type %x", lead);
            post_error(s, ST_08S01, 0, nullptr);
            conn_mark_dead(c);
        } else {
            rc = decode_prep_stmt(s, &reply);
            /* definitions left unread on the wire cannot be found again */
            if (rc == -6 || (rc != 0 && (c->link_broken || s->hdr.timed_out)))
                conn_mark_dead(c);
        }
    }
    free(reply.data);
    return rc;
}

/* ============================================ prepare, execute and close */

static const char PEC[] = "prepare_execute_close";

int server_executes_last_prepared(const my_connection *c)
{
    /* MariaDB from 10.2; MariaDB leaves out the capability MySQL calls
     * CLIENT_LONG_PASSWORD, which every MySQL since 4.1 announces */
    int mariadb = c->server_mariadb || !(c->server_caps & CLIENT_LONG_PASSWORD);
    return mariadb && server_version_at_least(c, 10, 2, 0);
}

/* Appends a whole packet (header with sequence 0, then the payload) behind
 * the ones already in p. */
static int append_command(my_packet *p, const unsigned char *payload, uint32_t n)
{
    return packet_put_u24(p, n) || packet_put_u8(p, 0) || packet_put_bytes(p, payload, n);
}

/* The three commands, written together by send_commands: the execute and
 * the close ride behind the prepare in its buffer, each with its own
 * header. Nothing is read before all three are out. 0 or -1 (posted). */
static int send_prepare_execute_close(my_statement *s, const my_string *text)
{
    /* statement id 0xFFFFFFFF: "the statement just prepared", which MariaDB
     * takes in the commands sent behind a prepare before its answer */
    static const unsigned char execute[10] = {COM_STMT_EXECUTE, 0xFF, 0xFF, 0xFF, 0xFF,
                                              0x00 /* no cursor */, 1, 0, 0, 0 /* one run */};
    static const unsigned char close[5] = {COM_STMT_CLOSE, 0xFF, 0xFF, 0xFF, 0xFF};
    my_packet *p = text_command(s, COM_STMT_PREPARE, text, 0);
    if (!p)
        return -1;
    uint32_t starts[3] = {0, (uint32_t)p->length, 0};
    int rc = append_command(p, execute, sizeof execute);
    starts[2] = (uint32_t)p->length;
    if (rc != 0 || append_command(p, close, sizeof close) != 0) {
        packet_free(p);
        post_error(s, ST_HY001, 0, nullptr);
        return -1;
    }
    QV_TRACE(s, LOG_DETAIL, "%s: sending %d bytes", PEC, (int)p->length);
    rc = send_commands(s, p, starts, 3);
    packet_free(p);
    return rc;
}

/* Reads and drops the definitions that follow a prepare's OK (parameters,
 * then columns, each list closed by an EOF unless CLIENT_DEPRECATE_EOF):
 * the execute's own response describes the result again. */
static int skip_prepared_definitions(my_statement *s, const prepare_ok &ok)
{
    int eof = !(handle_conn(s)->client_caps & CLIENT_DEPRECATE_EOF);
    int64_t left = 0;
    for (int n : {ok.params, ok.columns})
        if (n > 0)
            left += n + eof;
    my_packet scratch = {};
    int rc = 0;
    for (; left > 0 && rc == 0; left--) {
        rc = read_into(s, &scratch, PEC, nullptr);
        /* an error in the middle of a description is no answer a prepare
         * gives: the conversation lost its place */
        if (rc == 0 && lead_byte(&scratch) == 0xFF) {
            QV_TRACE(s, LOG_ERROR, "%s: unexpected packet type %x", PEC, 0xFF);
            post_error(s, ST_08S01, 0, "unexpected packet type %x", 0xFF);
            conn_mark_dead(handle_conn(s));
            rc = -1;
        }
    }
    free(scratch.data);
    return rc;
}

/* The prepare failed: the execute of the statement just prepared must
 * fail too, and the close has no answer. 1 when it did (nothing ran, the
 * text may go); -1 when the server answered otherwise. */
static int read_refused_execute(my_statement *s)
{
    s->seq = 1;   /* the execute's answer is numbered from its command */
    my_packet reply = {};
    int rc = -1;
    if (read_into(s, &reply, PEC, &AT_START) == 0) {
        if (lead_byte(&reply) == 0xFF) {
            trace_error_packet(s, &reply, PEC);
            rc = 1;
        } else {
            /* It ran something the failed prepare did not make: a server
             * that keeps an earlier statement as "the last prepared". What
             * it did cannot be told apart from what the application asked
             * for, so the session ends here (a transaction with it). */
            QV_TRACE(s, LOG_ERROR, "%s: the execute of a failed prepare answered %x", PEC,
                     lead_byte(&reply));
            post_error(s, ST_08S01, 0,
                       "the server executed a statement after its prepare had failed");
            conn_mark_dead(handle_conn(s));
        }
    }
    free(reply.data);
    return rc;
}

int prepare_execute_close(my_statement *s, const my_string *text)
{
    QV_TRACE(s, LOG_DETAIL, "%s: '%S'", PEC, text);
    wire_exchange x(s);
    if (check_wire_free(s) != 0)
        return -1;
    if (send_prepare_execute_close(s, text) != 0)
        return -1;
    s->more_results = 0;
    s->row_count_valid = 0;
    my_packet reply = {};
    prepare_ok ok = {};
    int rc = read_into(s, &reply, PEC, nullptr);
    if (rc == 0) {
        unsigned lead = lead_byte(&reply);
        if (lead == 0xFF) {
            trace_error_packet(s, &reply, PEC);
            rc = 1;
        } else if (lead != 0x00) {
            QV_TRACE(s, LOG_ERROR, "%s: unexpected packet type %x", PEC, lead);
            post_error(s, ST_08S01, 0, "unexpected packet type %x", lead);
            conn_mark_dead(handle_conn(s));
            rc = -1;
        } else if (decode_prepare_ok(s, &reply, &ok) != 0) {
            conn_mark_dead(handle_conn(s));
            rc = -1;
        } else {
            rc = skip_prepared_definitions(s, ok);
        }
    }
    free(reply.data);
    if (rc == 1) {
        QV_TRACE(s, LOG_DETAIL, "%s: not prepared, the text goes instead", PEC);
        return read_refused_execute(s);
    }
    if (rc != 0)
        return -1;
    /* The execute was sent without values: with parameters the server
     * counted (and the driver did not), its answer is what the statement
     * did, as it is for any execute; the text is not tried after it. */
    if (ok.params > 0)
        QV_TRACE(s, LOG_ERROR, "%s: the server counts %d parameters", PEC, ok.params);
    s->seq = 1;   /* the execute's response is numbered from its command */
    s->binary_result = 1;
    return read_answer(s);
}

int read_next_row(my_statement *s)
{
    QV_TRACE(s, LOG_DETAIL, "read_next_row");
    wire_exchange x(s);
    my_packet *p = command_packet(s, COM_STMT_FETCH);
    if (!p)
        return -1;
    if (packet_put_u32(p, s->statement_id) != 0 || packet_put_u32(p, 1) != 0) {
        packet_free(p);
        post_error(s, ST_HY001, 0, nullptr);
        return -1;
    }
    return send_only(s, p);
}

void clear_fields(my_statement *s)
{
    my_descriptor *ird = s->ird;
    if (!ird || ird->field_count == 0)
        return;
    QV_TRACE(s, LOG_DETAIL, "clear_fields: clearing ird fields");
    desc_truncate(ird, 0);
}

int send_for_ok(my_statement *s, my_packet *p, const char *op)
{
    int rc = send_packet(s, p);
    packet_free(p);
    if (rc != 0)
        return -1;
    my_packet reply = {};
    rc = -1;
    if (read_into(s, &reply, op, nullptr) == 0) {
        unsigned lead = lead_byte(&reply);
        if (lead == 0xFF) {
            decode_error_packet(s, &reply);
        } else if (lead == 0x00) {
            /* the OK's count belongs to no statement the application ran */
            int64_t kept = s->status.affected_rows;
            rc = decode_ok_packet(s, &reply, 0) == 0 ? 0 : -1;
            s->status.affected_rows = kept;
        } else {
            post_error(s, ST_08S01, 0, "unexpected packet type %x", lead);
            conn_mark_dead(handle_conn(s));
        }
    }
    free(reply.data);
    return rc;
}

/* ====================================================== pipelined commands */

static int link_open(const my_connection *c) { return c->sock >= 0 && !c->link_broken; }

/* Writes the built commands of cmds[from, n) in one write. 0, or -1 with the
 * link closed (posted on h). */
static int write_pipelined(void *h, pipelined_command *cmds, size_t from, size_t n)
{
    std::vector<my_packet *> out;
    try {
        for (size_t i = from; i < n; i++)
            if (cmds[i].packet)
                out.push_back(cmds[i].packet);
    } catch (...) {
        post_error(h, ST_HY001, 0, nullptr);
        return -1;
    }
    if (out.empty())
        return 0;
    QV_TRACE(h, LOG_DETAIL, "run_pipelined: %d commands in one write", (int)out.size());
    if (packet_send_all(h, out.data(), out.size()) != 0) {
        conn_mark_dead(handle_conn(h));
        return -1;
    }
    return 0;
}

int run_pipelined(void *h, pipelined_command *cmds, size_t n)
{
    my_connection *c = handle_conn(h);
    wire_exchange x(h);
    for (size_t i = 0; i < n; i++)
        cmds[i].rc = -1;
    int sent = check_wire_free(h) == 0 && write_pipelined(h, cmds, 0, n) == 0;
    int rc = 0;
    for (size_t i = 0; i < n; i++) {
        pipelined_command &k = cmds[i];
        /* a command that could not be built was not sent (its builder
         * posted why); once the link broke no answer can be read */
        if (sent && k.packet && link_open(c)) {
            /* the answer's packets go on from the command's own numbers,
             * which the commands sent after it moved on */
            packet_set_seq(k.handle, k.packet->seq);
            int asked = 0;
            int *outer = pipeline_file_requests;
            pipeline_file_requests = &asked;
            k.rc = k.answer ? k.answer(k.handle, k.ctx) : read_answer(k.handle);
            pipeline_file_requests = outer;
            /* The server asked for a file (refused: these are the driver's
             * own commands) and took what was written behind this command
             * for the upload: those commands never ran, and go again. */
            if (asked && link_open(c)) {
                QV_TRACE(h, LOG_DETAIL, "run_pipelined: the commands after %d go again", (int)i + 1);
                for (size_t j = i + 1; j < n; j++)
                    if (cmds[j].packet)
                        cmds[j].packet->seq = 0;
                sent = write_pipelined(h, cmds, i + 1, n) == 0;
            }
        }
        packet_free(k.packet);
        k.packet = nullptr;
        if (k.rc != 0)
            rc = -1;
    }
    return rc;
}

/* ======================================================= session commands */

int has_session(const my_connection *c)
{
    return c->connected || c->sock >= 0;
}

int send_statement(my_connection *c, my_string *text)
{
    if (!text) {
        post_error(c, ST_HY001, 0, nullptr);
        return -1;
    }
    int rc = execute_query(c, text);
    ms_free(text);
    return rc;
}

int set_select_limit(void *handle, int64_t limit)
{
    my_connection *c = handle_conn(handle);
    QV_TRACE(c, LOG_ENTRY, "set_select_limit %l", limit);
    /* statements of other threads read the limit in force; what is posted on
     * the connection inside a statement's exchange lands on the statement */
    wire_exchange x(handle);
    /* Without a session there is nothing to send it to and no limit in
     * force: the next execution sends its own. */
    if (!has_session(c)) {
        c->select_limit = -1;
        return 0;
    }
    c->select_limit = limit;
    my_string *text = limit ? compose_text("SET @@sql_select_limit=%l", limit)
                            : compose_text("SET @@sql_select_limit=DEFAULT");
    int rc = send_statement(c, text);
    /* The server may or may not have taken it: make the next statement
     * send its limit again rather than trust a value that is not in force. */
    if (rc != 0)
        c->select_limit = -1;
    return rc;
}
