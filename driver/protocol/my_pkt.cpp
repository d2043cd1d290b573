/*
 * Packet layer: building, sending, reading and (de)compressing packets.
 */
#include "protocol/my_pkt.h"

#include <stdlib.h>

void packet_free(my_packet *p)
{
    if (!p)
        return;
    free(p->data);
    free(p);
}
