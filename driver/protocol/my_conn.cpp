/*
 * Transport and command layer.
 */
#include "frame/my_handle.h"
#include "protocol/my_pkt.h"

void release_data_list(my_statement *stmt)
{
    my_packet *p = stmt->queue.head;
    while (p) {
        my_packet *next = p->next;
        packet_free(p);
        p = next;
    }
    stmt->queue.head = stmt->queue.tail = nullptr;
    if (stmt->current_row) {
        packet_free(stmt->current_row);
        stmt->current_row = nullptr;
    }
}
