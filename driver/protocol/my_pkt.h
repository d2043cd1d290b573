/*
 * Packet layer: my_packet, its writers and bounded readers, sending and
 * reading with sequence checks, 16 MB splitting and reassembly. The
 * compressed framing (zlib) under it is my_compress.h.
 *
 * A packet holds the 4-byte header in front of the payload:
 *   outgoing: length = bytes written so far, header included (starts at 4);
 *             limit = capacity of data.
 *   incoming: limit = 4 + payload length; pos = read cursor (starts at 4).
 *
 * Readers never move pos beyond limit and never read past it. A reader that
 * runs short inside a complete packet has found a protocol error: callers use
 * packet_remaining() or the checked readers (packet_need / *_checked) and
 * report 08S01 instead of using a value that was not there.
 *
 * Return codes: 0 success, -1 failure (diagnostics posted / no memory),
 * -4 send failed, -6 malformed or unexpected protocol data.
 */
#ifndef QV_MY_PKT_H
#define QV_MY_PKT_H

#include <stddef.h>
#include <stdint.h>

#include "my_handles.h"

enum { MAX_PACKET_PAYLOAD = 0xFFFFFF };

/* A NULL column in a text row (length-encoded 0xFB). */
enum { LENENC_NULL = 251 };

struct my_packet {
    int32_t limit;
    unsigned char *data;
    int32_t length;
    int32_t pos;
    uint8_t seq;
    void *owner;              /* my_statement or my_connection */
    my_packet *next;          /* link in a statement's packet queue */
    int32_t capacity;         /* incoming: allocated bytes of data (0: unknown), so
                                 packet_read_into can reuse the buffer */
};

/* ---- creation ---- */
my_packet *packet_new(void *handle);   /* seq from the statement's or connection's counter */
void packet_free(my_packet *p);
void packet_rewind(my_packet *p);

/* ---- writers: 0 or -1 (no memory / send of a full 16 MB piece failed) ---- */
int packet_put_u8(my_packet *p, unsigned v);
int packet_put_u16(my_packet *p, unsigned v);
int packet_put_u24(my_packet *p, uint32_t v);
int packet_put_u32(my_packet *p, uint32_t v);
int packet_put_u64(my_packet *p, uint64_t v);
int packet_put_lenenc(my_packet *p, uint64_t v);
int packet_put_bytes(my_packet *p, const void *bytes, size_t n);
int packet_put_cstring(my_packet *p, const char *s);
int packet_put_string(my_packet *p, const my_string *s);       /* connection text encoding */
int packet_put_string_nul(my_packet *p, const my_string *s);
int packet_put_utf16le(my_packet *p, const my_string *s);

/* ---- readers ---- */
int32_t packet_remaining(const my_packet *p);
int packet_get_u8(my_packet *p, unsigned *v);      /* 1 read, 0 at the end */
unsigned packet_peek_u8(const my_packet *p);       /* 0 at the end */
uint32_t packet_get_u16(my_packet *p);
uint32_t packet_get_u24(my_packet *p);
uint32_t packet_get_u32(my_packet *p);
uint64_t packet_get_u64(my_packet *p);
/* 0 or -6 (0xFF lead, or the value runs past the packet); *v = 251 for NULL */
int packet_get_lenenc(my_packet *p, uint64_t *v);
/* New string in the connection's text encoding; returns units, -6 or -1. */
int64_t packet_get_lenenc_string(my_packet *p, my_string **out);
/* New NUL-terminated byte buffer; returns length, -6 or -1. */
int64_t packet_get_lenenc_bytes(my_packet *p, char **out);
/* A length-encoded string without copying it: 0 with *bytes pointing into
 * the packet (valid while the packet lives) and *len set, 1 for NULL (0xFB),
 * -6 when there is no value left or its length runs past the packet (the
 * cursor then stays where it was). Row cells are read with it. */
int packet_get_lenenc_view(my_packet *p, const unsigned char **bytes, uint32_t *len);
int64_t packet_get_cstring(my_packet *p, my_string **out);
int64_t packet_get_fixed_string(my_packet *p, size_t n, my_string **out);
size_t packet_get_bytes(my_packet *p, void *buf, size_t n);
int packet_type(const my_packet *p);               /* signed first unread byte, 0 at end */
int packet_is_lenenc_only(const my_packet *p);
/* 1 when at least n bytes remain. */
static inline int packet_need(const my_packet *p, int32_t n) { return p->limit - p->pos >= n; }
/* The 3-byte little-endian length of a packet or frame header. */
static inline uint32_t wire_u24(const unsigned char *b)
{
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16;
}
/* The first unread byte of p, or 0x100 when none is left (so that an empty
 * packet matches no marker byte, 0x00 included). */
static inline unsigned lead_byte(const my_packet *p)
{
    return p->pos < p->limit ? p->data[p->pos] : 0x100;
}

/* 1 when the server's version, as the logon decoded it (MariaDB's "5.5.5-"
 * prefix gone), is at least major.minor.patch. Compared part by part: a
 * server may announce any numbers. */
int server_version_at_least(const my_connection *c, int major, int minor, int patch);

/* 1 when a character-set (collation) number names a UTF-8 set, from the
 * server's collation list when loaded, else from the known numbers. */
int charset_is_utf8(const my_connection *c, int charset_number);
/* The character-set name of a collation number ("utf8mb4", "latin1"), from
 * the server's collation list when loaded, else from the numbers sessions
 * commonly use; null when unknown. */
const char *charset_name(const my_connection *c, int charset_number);
/* Text encoding of the wire for a connection: 1 when its character set is UTF-8. */
int conn_wire_utf8(const my_connection *c);

/* ---- sending and reading ---- */
int packet_send(void *handle, my_packet *p);       /* 0 or -4 */
/* Several whole commands (each packet the first and only one of its command,
 * built for its owner, whose sequence counter it moves as packet_send does)
 * in one write to the socket, compressed or through TLS as any write; with
 * compression each command's frames are numbered from 0. The packets stay
 * the caller's. 0, or -4 with 08S01 "short write" posted on handle (HY001 when
 * memory runs out). The answers are the caller's to read, in order. */
int packet_send_all(void *handle, my_packet *const *packets, size_t n);
my_packet *packet_read(void *handle);              /* null: failure (posted) or time-out (flag set) */
/* As packet_read, but into a packet the caller keeps across reads: its buffer
 * is reused (grown when a payload needs more), so a loop over many rows makes
 * no allocation per packet. owner, pos, limit and seq are set as packet_read
 * sets them. 0 success; -2 time-out (flag set, nothing posted); -1 failure
 * (posted). After a failure the packet holds no payload (limit = pos = 4). */
int packet_read_into(void *handle, my_packet *reuse);
/* Where packet_read_to puts a packet: reserve(ctx, total) returns a buffer
 * of at least total bytes (4-byte header included) that keeps the bytes
 * written into it by earlier calls for the same packet, or null when memory
 * runs out. The command layer uses it to read a response straight into a
 * statement's queue. */
struct packet_sink {
    unsigned char *(*reserve)(void *ctx, int64_t total);
    void *ctx;
};
/* As packet_read_into, into the sink's buffer: the header (with the last
 * piece's sequence number) and the reassembled payload; *total receives 4 +
 * payload length. Same return codes. A failure that leaves the byte stream
 * out of step (anything but a time-out while waiting for a packet's header)
 * sets the connection's link_broken. */
int packet_read_to(void *handle, const packet_sink *sink, int64_t *total);
/* Sequence counter of the handle (statement's, else connection's). */
void packet_reset_seq(void *handle);
/* The same counter set to value: where the answer to a command sent earlier
 * (pipelined behind others) goes on from. */
void packet_set_seq(void *handle, unsigned value);

#endif
