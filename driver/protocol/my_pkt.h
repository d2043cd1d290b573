/*
 * my_packet: one protocol packet, the 4-byte header in front of the payload.
 * Outgoing: length counts bytes written (header included), limit is the
 * buffer's capacity. Incoming: limit is 4 + payload length, pos the read
 * cursor. A queued packet links through next (statement packet queue).
 */
#ifndef QV_MY_PKT_H
#define QV_MY_PKT_H

#include <stddef.h>
#include <stdint.h>

#include "my_handles.h"

struct my_packet {
    int32_t limit;
    unsigned char *data;
    int32_t length;
    int32_t pos;
    uint8_t seq;
    void *owner;              /* my_statement or my_connection */
    my_packet *next;          /* link in a statement's packet queue */
};

void packet_free(my_packet *p);

#endif
