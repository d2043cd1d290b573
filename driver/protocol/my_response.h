/*
 * Following a response (my_response.cpp), for the command layer: where a
 * response stands, reading its packets with the failure handling that keeps
 * the conversation in step, and the statement's queue.
 */
#ifndef QV_MY_RESPONSE_H
#define QV_MY_RESPONSE_H

#include <stddef.h>
#include <stdint.h>

#include "my_handles.h"
#include "protocol/my_pkt.h"

/* Where a response stands: waiting for its next part (an OK, an error, a
 * LOCAL INFILE request or a column count), inside the column definitions,
 * or inside the rows. */
enum { RS_START, RS_DEFS, RS_ROWS };

struct response_tracker {
    int state;
    int64_t defs_left;
};

extern const response_tracker AT_START;
extern const response_tracker IN_ROWS;

/* 1 when p ends a result's rows for handle h's connection. */
int end_of_rows(const void *h, const my_packet *p);

/* Reads the next packet for h from the wire into p (its buffer reused).
 * On failure posts HYT00 or 08S01 (op names the caller in the log line)
 * and brings the conversation back in step from where (null: a place no
 * tracker follows) or closes it. 0 or the packet layer's failure. */
int read_into(void *h, my_packet *p, const char *op, const response_tracker *where);
/* The statement's next packet, owned by the statement: a view into its
 * queue, or read from the wire (read_into) into a reused buffer. */
my_packet *take_packet(my_statement *s, const char *op, const response_tracker *where);
/* Reads and drops packets of h's response up to its end. 0; -2 a read timed
 * out (nothing posted); -1 failure (posted). */
int drain_wire(void *h, response_tracker *t);
/* Empties the statement's queue for the next response. */
void queue_clear(my_statement *s);
/* The instant by which bringing a timed-out conversation back in step must
 * be done: a short share of h's time-out, from now. */
int64_t recovery_deadline(const void *h);

/* Chunk sizes of a statement's queue: the first holds the whole response of
 * most statements; each next one doubles up to QUEUE_CHUNK_MOST, so a large
 * result costs a few hundred allocations and wastes at most the tail of each
 * chunk. A cleared queue keeps its first chunk when it is no larger than
 * QUEUE_KEEP. */
enum : size_t {
    QUEUE_FIRST_SIZE = 16 * 1024,
    QUEUE_CHUNK_MOST = 2 * 1024 * 1024,
    QUEUE_KEEP = 64 * 1024,
};

#endif
