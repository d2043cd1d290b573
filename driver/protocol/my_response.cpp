/*
 * A statement's response: where it ends (the response tracker), the queue
 * it is pulled into, reading its packets from the queue or the wire, and
 * keeping the conversation in step when a response is abandoned, a read
 * times out or the stream loses its place.
 *
 * One connection carries one conversation: every response must be read to
 * its end, by its own statement, before the next command's response can be
 * read. The tracker knows where a response ends; it decides when pulling
 * stops and what to skip when a response is abandoned.
 */
#include "protocol/my_response.h"

#include <stdlib.h>
#include <string.h>

#include <new>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_decode.h"
#include "protocol/my_proto.h"

/* ======================================================= response tracker */

const response_tracker AT_START = {RS_START, 0};
const response_tracker IN_ROWS = {RS_ROWS, 0};

static int deprecate_eof(const void *h)
{
    const my_connection *c = handle_conn(h);
    return c && (c->client_caps & CLIENT_DEPRECATE_EOF);
}

/* A row whose first value is 16 MB or longer also starts with 0xFE (the
 * marker of its 8-byte length); the end-of-rows packet is the short one. */
int end_of_rows(const void *h, const my_packet *p)
{
    if (lead_byte(p) != 0xFE)
        return 0;
    int32_t n = packet_remaining(p);
    return deprecate_eof(h) ? n < MAX_PACKET_PAYLOAD : n < 9;
}

int is_end_of_rows(const my_statement *s, const my_packet *p) { return end_of_rows(s, p); }

/* Status flags of an OK or end-of-rows packet, read without moving p.
 * -1 when the packet is malformed (08S01 posted). */
static int64_t peek_status(void *h, my_packet *p, int eof)
{
    int32_t pos = p->pos;
    int rc = eof ? decode_eof_packet(h, p, 1) : decode_ok_packet(h, p, 1);
    p->pos = pos;
    if (rc != 0)
        return -1;
    if (my_statement *s = as_stmt(h))
        return s->status.server_status;
    my_connection *c = handle_conn(h);
    return c ? c->status.server_status : 0;
}

/* Feeds one packet of a response to the tracker: 0 more follows, 1 the
 * response is complete, -1 it is not a response (08S01 posted). */
static int track_packet(void *h, response_tracker *t, my_packet *p)
{
    unsigned lead = lead_byte(p);
    switch (t->state) {
    case RS_START: {
        if (lead == 0x00) {
            int64_t status = peek_status(h, p, 0);
            if (status < 0)
                return -1;
            return (status & SERVER_MORE_RESULTS_EXISTS) ? 0 : 1;
        }
        if (lead == 0xFB || lead == 0xFF)
            return 1;   /* an upload request, or the error that ends it all */
        if (!packet_is_lenenc_only(p)) {
            QV_TRACE(h, LOG_ERROR, "unexpected packet type %x at the start of a response", lead);
            post_error(h, ST_08S01, 0, "unexpected packet type %x", lead);
            return -1;
        }
        uint64_t n;
        int32_t pos = p->pos;
        packet_get_lenenc(p, &n);
        p->pos = pos;
        if (n > MAX_DESC_RECORDS) {
            post_error(h, ST_08S01, 0, "invalid column count %l", (int64_t)n);
            return -1;
        }
        t->defs_left = (int64_t)n;
        t->state = (n == 0 && deprecate_eof(h)) ? RS_ROWS : RS_DEFS;
        return 0;
    }
    case RS_DEFS:
        if (lead == 0xFF)
            return 1;
        if (lead == 0xFE) {
            t->state = RS_ROWS;
        } else if (--t->defs_left <= 0 && deprecate_eof(h)) {
            t->state = RS_ROWS;
        }
        return 0;
    default:
        if (lead == 0xFF)
            return 1;
        if (!end_of_rows(h, p))
            return 0;
        int64_t status = peek_status(h, p, 1);
        if (status < 0)
            return -1;
        if (!(status & SERVER_MORE_RESULTS_EXISTS))
            return 1;
        t->state = RS_START;
        return 0;
    }
}

/* ================================================================= queue */

static unsigned char *chunk_bytes(queue_chunk *k) { return (unsigned char *)(k + 1); }
static const unsigned char *chunk_bytes(const queue_chunk *k)
{
    return (const unsigned char *)(k + 1);
}

static queue_chunk *chunk_new(size_t cap)
{
    queue_chunk *k = (queue_chunk *)malloc(sizeof(queue_chunk) + cap);
    if (k) {
        k->next = nullptr;
        k->cap = cap;
        k->fill = 0;
    }
    return k;
}

/* The size of the chunk after the last one: double the last, up to the cap,
 * and at least need. */
static size_t next_chunk_size(const packet_queue *q, size_t need)
{
    size_t size = q->last ? q->last->cap * 2 : (size_t)QUEUE_FIRST_SIZE;
    if (size > QUEUE_CHUNK_MOST)
        size = QUEUE_CHUNK_MOST;
    return size < need ? need : size;
}

/* Room for a record of total bytes (its size field excluded) at the end of
 * the queue; the bytes handed out by earlier calls for the same record stay
 * (a packet in several pieces asks again as it grows). A record that does
 * not fit the rest of the last chunk starts a new one: committed records
 * never move. Only a chunk that holds no committed record is reallocated.
 * Nothing but the chunk itself is allocated. */
static unsigned char *queue_reserve(void *ctx, int64_t total)
{
    packet_queue *q = (packet_queue *)ctx;
    size_t need = 4 + (size_t)total;
    queue_chunk *last = q->last;
    if (last && last->cap - last->fill >= need) {
        q->pending = (size_t)total;
        return chunk_bytes(last) + last->fill + 4;
    }
    size_t kept = q->pending ? 4 + q->pending : 0;   /* the record's bytes so far */
    if (last && last->fill == 0) {
        /* a chunk with no record in it, or only the one that outgrew it:
         * grow it geometrically, but never far beyond what has arrived */
        size_t cap = last->cap * 2;
        if (cap < need)
            cap = need;
        if (cap > need + 4 * (size_t)MAX_PACKET_PAYLOAD)
            cap = need;
        queue_chunk *k = (queue_chunk *)realloc(last, sizeof(queue_chunk) + cap);
        if (!k)
            return nullptr;
        k->cap = cap;
        if (q->before_last)
            q->before_last->next = k;
        else
            q->first = k;
        if (q->read_chunk == last)
            q->read_chunk = k;
        q->last = k;
        q->pending = (size_t)total;
        return chunk_bytes(k) + 4;
    }
    queue_chunk *k = chunk_new(next_chunk_size(q, need));
    if (!k)
        return nullptr;
    if (kept)
        memcpy(chunk_bytes(k), chunk_bytes(last) + last->fill, kept);
    if (last)
        last->next = k;
    else
        q->first = q->read_chunk = k;
    q->before_last = last;
    q->last = k;
    q->pending = (size_t)total;
    return chunk_bytes(k) + 4;
}

/* The record whose bytes queue_reserve handed out is complete. */
static void queue_commit(packet_queue *q, int64_t total)
{
    queue_chunk *k = q->last;
    int32_t size = (int32_t)total;
    memcpy(chunk_bytes(k) + k->fill, &size, 4);
    k->fill += 4 + (size_t)total;
    q->pending = 0;
    q->count++;
}

/* The last record committed. */
static const unsigned char *queue_last_record(const packet_queue *q, int64_t total)
{
    const queue_chunk *k = q->last;
    return chunk_bytes(k) + k->fill - 4 - (size_t)total;
}

/* The record at rec, as an incoming packet in place. */
static void record_packet(const unsigned char *rec, my_packet *v, void *owner)
{
    int32_t size;
    memcpy(&size, rec, 4);
    v->data = (unsigned char *)rec + 4;
    v->limit = v->length = size;
    v->pos = 4;
    v->seq = v->data[3];
    v->owner = owner;
    v->next = nullptr;
    v->capacity = 0;
}

/* The next record not taken; the read position moves past chunks it has
 * read to the end. Only called while count > 0. */
static const unsigned char *queue_next_record(packet_queue *q)
{
    while (q->read == q->read_chunk->fill) {
        q->read_chunk = q->read_chunk->next;
        q->read = 0;
    }
    return chunk_bytes(q->read_chunk) + q->read;
}

/* Takes the next record as a view: no copy, no allocation. */
static void queue_take(packet_queue *q, my_packet *v, void *owner)
{
    record_packet(queue_next_record(q), v, owner);
    q->read += 4 + (size_t)v->limit;
    q->count--;
}

/* ============================================================ row index */

static my_packet *own_packet(my_statement *s, my_packet **slot);

void index_clear(my_statement *s)
{
    s->rows.at.clear();
    s->rows.active = 0;
    s->rows.rowset_start = 0;
    s->rows.rowset_size = 0;
}

int index_rows(my_statement *s)
{
    index_clear(s);
    packet_queue *q = &s->queue;
    if (q->count == 0)
        return 2;
    /* walks the records without taking them */
    const queue_chunk *chunk = q->read_chunk;
    size_t at = q->read;
    try {
        s->rows.at.reserve((size_t)q->count);
    } catch (const std::bad_alloc &) {
        post_error(s, ST_HY001, 0, nullptr);
        return -1;
    }
    for (int64_t left = q->count; left > 0; left--) {
        while (at == chunk->fill) {
            chunk = chunk->next;
            at = 0;
        }
        const unsigned char *rec = chunk_bytes(chunk) + at;
        my_packet v;
        record_packet(rec, &v, s);
        if (lead_byte(&v) == 0xFF)
            return 1;
        if (end_of_rows(s, &v))
            return 0;
        s->rows.at.push_back(rec);   /* reserved: cannot throw */
        at += 4 + (size_t)v.limit;
    }
    s->rows.at.clear();
    return 2;
}

my_packet *index_row(my_statement *s, int64_t i)
{
    stmt_drop_row(s);
    my_packet *v = own_packet(s, &s->row_view);
    if (!v)
        return nullptr;
    record_packet(s->rows.at[(size_t)i], v, s);
    s->current_row = v;
    return v;
}

/* Frees every chunk but a small first one (keep), empties what is left. */
static void queue_release(packet_queue *q, bool keep)
{
    queue_chunk *k = q->first;
    if (keep && k && k->cap <= QUEUE_KEEP) {
        queue_chunk *rest = k->next;
        k->next = nullptr;
        k->fill = 0;
        q->last = k;
        k = rest;
    } else {
        q->first = q->last = nullptr;
    }
    while (k) {
        queue_chunk *next = k->next;
        free(k);
        k = next;
    }
    q->before_last = nullptr;
    q->read_chunk = q->first;
    q->read = q->pending = 0;
    q->count = 0;
}

/* Empties the queue for the next response; a small chunk stays. */
void queue_clear(my_statement *s)
{
    queue_release(&s->queue, true);
    index_clear(s);
    stmt_drop_row(s);   /* a view into the queue dies here */
}

int queue_append(my_statement *s, const void *payload, size_t n, unsigned seq)
{
    if (n > (size_t)INT32_MAX - 8)
        return -1;
    unsigned char *b = queue_reserve(&s->queue, 4 + (int64_t)n);
    if (!b)
        return -1;
    size_t shown = n < (size_t)MAX_PACKET_PAYLOAD ? n : (size_t)MAX_PACKET_PAYLOAD;
    b[0] = (unsigned char)shown;
    b[1] = (unsigned char)(shown >> 8);
    b[2] = (unsigned char)(shown >> 16);
    b[3] = (unsigned char)seq;
    if (n)
        memcpy(b + 4, payload, n);
    queue_commit(&s->queue, 4 + (int64_t)n);
    return 0;
}

void stmt_drop_row(my_statement *s)
{
    my_packet *row = s->current_row;
    if (row && row != s->row_view && row != s->row_wire)
        packet_free(row);
    s->current_row = nullptr;
}

void release_data_list(my_statement *s)
{
    QV_TRACE(s, LOG_DETAIL, "release_data_list");
    queue_release(&s->queue, false);
    index_clear(s);
    stmt_drop_row(s);
    if (s->row_view) {
        s->row_view->data = nullptr;   /* it only looked into the queue */
        packet_free(s->row_view);
        s->row_view = nullptr;
    }
    packet_free(s->row_wire);
    s->row_wire = nullptr;
}

/* ============================================== the conversation's state */

int response_on_wire(const my_statement *s)
{
    return (s->data_waiting || s->more_results) && s->queue.count == 0 && !s->internal_rs;
}

wire_exchange::wire_exchange(void *handle)
    : c(handle_conn(handle)), h(handle), lock(), scope(c, handle)
{
    if (c)
        lock = std::unique_lock<qv_mutex>(c->wire_lock);
}

/* Under the wire lock. Only the owner's own thread looks at its fields;
 * everyone else sees the connection's mark. A closed link owes nobody
 * anything. */
static void note_wire_owner(my_connection *c, my_statement *s)
{
    if (response_on_wire(s) && !c->link_broken)
        c->wire_owner = s;
    else if (c->wire_owner == s)
        c->wire_owner = nullptr;
}

wire_exchange::~wire_exchange()
{
    if (my_statement *s = as_stmt(h))
        if (c)
            note_wire_owner(c, s);
}

/* check_wire_free with the wire lock held. */
static int wire_refused(my_connection *c, void *h)
{
    my_statement *owner = c->wire_owner;
    /* On a closed link the command itself fails, with what closed it. */
    if (!owner || owner == h || c->link_broken)
        return 0;
    QV_TRACE(h, LOG_ERROR, "connection is busy with results of another hstmt");
    post_error(h, ST_HY000, 0, "connection is busy with results of another hstmt");
    return -1;
}

int check_wire_free(void *h)
{
    my_connection *c = handle_conn(h);
    if (!c)
        return 0;
    std::lock_guard<qv_mutex> g(c->wire_lock);
    return wire_refused(c, h);
}

/* The busy mark follows what the statement still has to read off the
 * wire: an open result streamed from the wire keeps it (the rule the
 * execute-direct path applies), and so does a further result still on the
 * wire. A result held in memory (the queued response, an internal result
 * set) does not: the statement lets go as soon as its last packet is read. */
void refresh_busy(my_statement *s)
{
    my_connection *c = handle_conn(s);
    if (!c)
        return;
    std::lock_guard<qv_mutex> g(c->wire_lock);
    if (response_on_wire(s)) {
        c->busy = 1;
        c->busy_owner = s;
    } else if (c->busy_owner == s || (!c->busy_owner && !s->data_waiting)) {
        c->busy = 0;
        c->busy_owner = nullptr;
    }
    /* a streamed result's last packet was read outside any command */
    note_wire_owner(c, s);
}

void conn_mark_dead(my_connection *c)
{
    if (!c)
        return;
    std::lock_guard<qv_mutex> g(c->wire_lock);
    if (c->sock >= 0)
        QV_TRACE(c, LOG_ERROR, "conn_mark_dead: the conversation is out of step, closing the link");
    net_close(c);
    /* later calls must fail at once instead of reading a closed TLS stream */
    c->ssl_active = 0;
    c->link_broken = 1;
    c->connected = 0;
    c->busy = 0;
    c->busy_owner = nullptr;
    c->wire_owner = nullptr;
}

/* ============================================================ time-outs */

/* One buffer serves every packet. */
int drain_wire(void *h, response_tracker *t)
{
    wire_exchange x(h);
    my_packet scratch = {};
    int rc;
    for (;;) {
        handle_hdr(h)->timed_out = 0;
        rc = packet_read_into(h, &scratch);
        if (rc != 0)
            break;
        int r = track_packet(h, t, &scratch);
        if (r != 0) {
            rc = r < 0 ? -1 : 0;
            break;
        }
    }
    free(scratch.data);
    return rc;
}

/* Interrupting a statement whose time ran out may take this share of its
 * bound (and never more than KILL_WAIT_MS): the call then ends close to the
 * bound the application set, even when the server or the link has stalled
 * and the interruption fails. */
enum { RECOVERY_SHARE_PERCENT = 18, RECOVERY_MOST_MS = 3000 };

int64_t recovery_deadline(const void *h)
{
    int64_t budget = (int64_t)read_timeout_ms(h) * RECOVERY_SHARE_PERCENT / 100;
    if (budget > RECOVERY_MOST_MS)
        budget = RECOVERY_MOST_MS;
    return monotonic_ms() + (budget > 0 ? budget : 1);
}

/* A read for h timed out inside a response whose state is where (null: a
 * place no tracker follows). The server is told to stop the statement and
 * what it sends up to the end of the response is skipped; the statement is
 * left without a result. If any of it fails, the link is closed. All of it
 * runs under one short deadline (recovery_deadline). */
static void recover_after_timeout(void *h, const response_tracker *where)
{
    my_connection *c = handle_conn(h);
    my_statement *s = as_stmt(h);
    if (!c)
        return;
    if (!s || !where || c->link_broken) {
        conn_mark_dead(c);
        return;
    }
    QV_TRACE(s, LOG_DETAIL, "interrupting the statement on the server");
    call_deadline limit(recovery_deadline(h));
    response_tracker t = *where;
    if (kill_running_query(c) != 0 || drain_wire(s, &t) != 0) {
        conn_mark_dead(c);
        return;
    }
    QV_TRACE(s, LOG_DETAIL, "the interrupted response was read, the connection is in step");
    queue_clear(s);
    s->data_waiting = 0;
    s->more_results = 0;
    refresh_busy(s);
}

/* A packet read for op failed. Posts what the application sees (HYT00 for a
 * time-out; 08S01 unless the packet layer posted it) and brings the
 * conversation back in step or closes it. */
static void read_failure(void *h, const char *op, const response_tracker *where, int diags_before)
{
    my_connection *c = handle_conn(h);
    if (handle_hdr(h)->timed_out) {
        QV_TRACE(h, LOG_ERROR, "%s: timeout reading packet", op);
        post_error(h, ST_HYT00, 0, nullptr);
        recover_after_timeout(h, where);
        return;
    }
    QV_TRACE(h, LOG_ERROR, "%s: failed reading packet", op);
    if (diag_count(h) == diags_before)
        post_error(h, ST_08S01, 0, nullptr);
    conn_mark_dead(c);
}

/* ======================================================== reading packets */

int read_into(void *h, my_packet *p, const char *op, const response_tracker *where)
{
    handle_hdr(h)->timed_out = 0;
    int before = diag_count(h);
    int rc = packet_read_into(h, p);
    if (rc != 0)
        read_failure(h, op, where, before);
    return rc;
}

static my_packet *own_packet(my_statement *s, my_packet **slot)
{
    if (!*slot && !(*slot = (my_packet *)calloc(1, sizeof(my_packet))))
        post_error(s, ST_HY001, 0, nullptr);
    return *slot;
}

/* The statement's next packet, owned by the statement: a view into the
 * queue, or read from the wire into row_wire. */
my_packet *take_packet(my_statement *s, const char *op, const response_tracker *where)
{
    if (s->queue.count > 0) {
        my_packet *v = own_packet(s, &s->row_view);
        if (v)
            queue_take(&s->queue, v, s);
        return v;
    }
    my_packet *p = own_packet(s, &s->row_wire);
    if (!p)
        return nullptr;
    if (s->current_row == p)
        s->current_row = nullptr;   /* its bytes are about to be replaced */
    /* A streamed row: one packet, one exchange. The wire must be this
     * statement's; reading another's response would steal it. */
    wire_exchange x(s);
    if (x.c && wire_refused(x.c, s) != 0)
        return nullptr;
    return read_into(s, p, op, where) == 0 ? p : nullptr;
}

my_packet *stmt_next_row(my_statement *s, const char *op) { return take_packet(s, op, &IN_ROWS); }

my_packet *stmt_next_packet(my_statement *s)
{
    if (s->queue.count > 0) {
        my_packet view;
        queue_take(&s->queue, &view, s);
        my_packet *p = (my_packet *)calloc(1, sizeof *p);
        unsigned char *d = p ? (unsigned char *)malloc((size_t)view.limit) : nullptr;
        if (!d) {
            free(p);
            post_error(s, ST_HY001, 0, nullptr);
            return nullptr;
        }
        memcpy(d, view.data, (size_t)view.limit);
        *p = view;
        p->data = d;
        p->capacity = view.limit;
        return p;
    }
    /* A definition read from the wire: the response is half read whatever
     * goes wrong, so a failure ends the conversation (the decoder posts). */
    s->hdr.timed_out = 0;
    my_packet *p = packet_read(s);
    if (!p)
        conn_mark_dead(handle_conn(s));
    return p;
}

/* ================================================ pulling a response */

int pull_data_locally(my_statement *s)
{
    my_connection *c = handle_conn(s);
    if (c->NoCache) {
        QV_TRACE(s, LOG_DETAIL, "pull_data_locally disabled");
        return 0;
    }
    queue_clear(s);
    response_tracker t = AT_START;
    packet_sink sink = {queue_reserve, &s->queue};
    int pulled = 0;
    /* nothing is posted while packets read well */
    int before = diag_count(s);
    for (;;) {
        s->hdr.timed_out = 0;
        int64_t total;
        if (packet_read_to(s, &sink, &total) != 0) {
            read_failure(s, "pull_data_locally", &t, before);
            return -1;
        }
        queue_commit(&s->queue, total);
        pulled++;
        my_packet view;
        record_packet(queue_last_record(&s->queue, total), &view, s);
        int r = track_packet(s, &t, &view);
        if (r < 0) {
            conn_mark_dead(c);
            return -1;
        }
        if (r > 0)
            break;
    }
    QV_TRACE(s, LOG_DETAIL, "pull_data_locally: pulled %d packets", pulled);
    return 0;
}

int discard_response(my_statement *s)
{
    wire_exchange x(s);
    int rc = 0;
    if (response_on_wire(s)) {
        response_tracker t = s->data_waiting ? IN_ROWS : AT_START;
        stmt_drop_row(s);
        rc = drain_wire(s, &t);
        if (rc == -2) {
            QV_TRACE(s, LOG_ERROR, "discard_response: timeout reading packet");
            post_error(s, ST_HYT00, 0, nullptr);
            recover_after_timeout(s, &t);
            rc = -1;
        } else if (rc != 0) {
            conn_mark_dead(handle_conn(s));
        }
    }
    queue_clear(s);
    s->data_waiting = 0;
    s->more_results = 0;
    refresh_busy(s);
    return rc;
}
