/*
 * Compressed framing (zlib) of the protocol, under the packet layer: a
 * 7-byte frame header (compressed length u24, frame sequence u8,
 * uncompressed length u24; uncompressed length 0 = sent as is), then the
 * body. The frame counter is the connection's comp_seq; decompressed data
 * waiting for the next read is kept in comp_buf.
 */
#ifndef QV_MY_COMPRESS_H
#define QV_MY_COMPRESS_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "my_handles.h"

enum {
    COMPRESS_FRAME_MAX = 0x800000,
    COMPRESS_MIN_LENGTH = 50,   /* shorter data goes out uncompressed */
};

/* compressed_write: n, or the failing net_write result (-1, posted).
 * compressed_read: all want bytes (n), or a result below 1: -2 time-out,
 * -1 failure (posted; a malformed frame is 08S01), 0 out of memory (HY001). */
int compressed_write(my_connection *c, const unsigned char *bytes, size_t n);
/* The frames compressed_write would send for bytes, appended to out instead
 * (numbered on from comp_seq, as compressed_write numbers them): several
 * packets then go out in one write. 0, or -1 when memory runs out (posted). */
int compressed_append(my_connection *c, const unsigned char *bytes, size_t n,
                      std::vector<unsigned char> *out);
int compressed_read(my_connection *c, unsigned char *buf, size_t want, size_t *got,
                    int64_t deadline_ms);

#endif
