/*
 * Compressed framing (zlib) between the packet layer and the transport:
 * outgoing packets are cut into frames and compressed where that makes
 * them smaller; incoming frames are checked against what they announce
 * before anything is allocated or inflated, and their data is handed to the
 * packet layer as one byte stream.
 */
#include "protocol/my_compress.h"

#include <stdlib.h>
#include <string.h>

#include <zlib.h>

#include <vector>

#include "frame/my_handle.h"
#include "protocol/my_conn.h"

enum {
    FRAME_HEADER = 7,
    /* deflate cannot expand data more than 1032:1; a frame announcing more
     * than that (plus a little for the stream's own header) is not zlib data,
     * and must not make us allocate what it announces */
    ZLIB_MAX_RATIO = 1032,
    ZLIB_SLACK = 64,
    /* a decompression buffer above this size is freed once used up, so an
     * idle connection does not hold on to a 16 MB frame */
    COMP_KEEP_LIMIT = 1 << 20,
};

static void put_u24(unsigned char *b, uint32_t v)
{
    b[0] = (unsigned char)v;
    b[1] = (unsigned char)(v >> 8);
    b[2] = (unsigned char)(v >> 16);
}

/* One frame of at most COMPRESS_FRAME_MAX bytes, header and body, appended
 * to out. 0, or -1 when memory runs out (HY000 "Malloc Failed" posted). */
static int append_frame(my_connection *c, const unsigned char *data, size_t n,
                        std::vector<unsigned char> *out)
{
    size_t at = out->size();
    try {
        out->resize(at + FRAME_HEADER + n);
    } catch (...) {
        post_error(c, ST_HY000, 0, "Malloc Failed");
        return -1;
    }
    unsigned char *frame = out->data() + at;
    size_t body = n;
    uint32_t ulen = 0;   /* 0: the body is the data as it is */
    int zrc = Z_OK;
    if (n > COMPRESS_MIN_LENGTH) {
        /* the output buffer holds only n bytes: data that would not shrink
         * fails to compress and goes out as it is */
        uLongf clen = (uLongf)n;
        zrc = compress(frame + FRAME_HEADER, &clen, data, (uLong)n);
        if (zrc == Z_OK) {
            body = clen;
            ulen = (uint32_t)n;
        }
    }
    if (ulen == 0)
        memcpy(frame + FRAME_HEADER, data, n);
    if (n > COMPRESS_MIN_LENGTH)
        QV_DUMP_WIRE(c, LOG_PKTDUMP, data, n, "Compress data from %d, to ret=%d len=%d", (int)n,
                     zrc, (int)body);
    put_u24(frame, (uint32_t)body);
    frame[3] = (unsigned char)c->comp_seq;
    put_u24(frame + 4, ulen);
    c->comp_seq = (c->comp_seq + 1) & 0xFF;
    out->resize(at + FRAME_HEADER + body);
    return 0;
}

int compressed_append(my_connection *c, const unsigned char *bytes, size_t n,
                      std::vector<unsigned char> *out)
{
    size_t done = 0;
    while (done < n) {
        size_t chunk = n - done < COMPRESS_FRAME_MAX ? n - done : (size_t)COMPRESS_FRAME_MAX;
        if (append_frame(c, bytes + done, chunk, out) != 0)
            return -1;
        done += chunk;
    }
    return 0;
}

int compressed_write(my_connection *c, const unsigned char *bytes, size_t n)
{
    /* frame by frame, so that a large packet is not held twice */
    std::vector<unsigned char> frame;
    size_t done = 0;
    while (done < n) {
        size_t chunk = n - done < COMPRESS_FRAME_MAX ? n - done : (size_t)COMPRESS_FRAME_MAX;
        frame.clear();
        if (append_frame(c, bytes + done, chunk, &frame) != 0)
            return -1;
        int w = net_write(c, frame.data(), frame.size());
        if (w < 0)
            return w;
        if ((size_t)w != frame.size())
            return -1;
        done += chunk;
    }
    return n > (size_t)INT32_MAX ? INT32_MAX : (int)n;
}

/* comp_buf with room for n bytes (its content is not kept). */
static int comp_reserve(my_connection *c, size_t n)
{
    if (c->comp_buf && c->comp_cap >= n)
        return 0;
    free(c->comp_buf);
    c->comp_buf = (unsigned char *)malloc(n ? n : 1);
    c->comp_cap = c->comp_buf ? (uint32_t)n : 0;
    c->comp_len = c->comp_off = 0;
    return c->comp_buf ? 0 : -1;
}

static int frame_malformed(my_connection *c, uint32_t comp_len, uint32_t ulen)
{
    c->net_errno = 0;   /* the socket is fine; its bytes are not */
    post_error(c, ST_08S01, 0, "malformed compressed frame: comp_len=%d, uncomp_len=%d",
               (int)comp_len, (int)ulen);
    return -1;
}

/* A frame sent as it is: its body is the data. */
static int read_clear_frame(my_connection *c, uint32_t comp_len, unsigned char *dst, size_t room,
                            size_t *direct, int64_t deadline_ms)
{
    QV_TRACE(c, LOG_DETAIL, "Uncompressed data (sent in clear)");
    if (comp_len == 0)
        return 1;
    if (comp_len <= room) {
        int rc = net_read_exact(c, dst, comp_len, deadline_ms);
        if (rc < 1)
            return rc;
        *direct = comp_len;
        return 1;
    }
    if (comp_reserve(c, comp_len) != 0) {
        post_error(c, ST_HY001, 0, nullptr);
        return 0;
    }
    int rc = net_read_exact(c, c->comp_buf, comp_len, deadline_ms);
    if (rc < 1)
        return rc;
    c->comp_off = 0;
    c->comp_len = comp_len;
    return 1;
}

/* A zlib frame. It is inflated straight into the caller's buffer when the
 * caller wants all of it, else into comp_buf for the reads that follow. The
 * compressed bytes are taken from the receive buffer when they fit there. */
static int read_zlib_frame(my_connection *c, uint32_t comp_len, uint32_t ulen, unsigned char *dst,
                           size_t room, size_t *direct, int64_t deadline_ms)
{
    if ((uint64_t)ulen > (uint64_t)comp_len * ZLIB_MAX_RATIO + ZLIB_SLACK)
        return frame_malformed(c, comp_len, ulen);
    int rc;
    unsigned char *tmp = nullptr;
    const unsigned char *in;
    if (comp_len <= NET_RBUF_SIZE) {
        in = net_peek(c, comp_len, deadline_ms, &rc);
        if (!in)
            return rc;
    } else {
        tmp = (unsigned char *)malloc(comp_len);
        if (!tmp) {
            post_error(c, ST_HY001, 0, nullptr);
            return 0;
        }
        rc = net_read_exact(c, tmp, comp_len, deadline_ms);
        if (rc < 1) {
            free(tmp);
            return rc;
        }
        in = tmp;
    }
    int into_caller = ulen <= room;
    unsigned char *out = dst;
    if (!into_caller) {
        if (comp_reserve(c, ulen) != 0) {
            free(tmp);
            if (!tmp)
                net_consume(c, comp_len);
            post_error(c, ST_HY001, 0, nullptr);
            return 0;
        }
        out = c->comp_buf;
    }
    uLongf outlen = ulen;
    int zrc = uncompress(out, &outlen, in, comp_len);
    QV_TRACE(c, LOG_DETAIL, "Uncompress returns %d, %d, %d", zrc, (int)comp_len, (int)outlen);
    if (tmp)
        free(tmp);
    else
        net_consume(c, comp_len);
    if (zrc != Z_OK) {
        c->net_errno = 0;
        post_error(c, ST_08S01, 0, "uncompress failed %d", zrc);
        return -1;
    }
    if (outlen != ulen)   /* shorter than announced: the rest would be garbage */
        return frame_malformed(c, comp_len, ulen);
    if (into_caller) {
        *direct = ulen;
    } else {
        c->comp_off = 0;
        c->comp_len = ulen;
    }
    return 1;
}

/* Reads one frame. Its data lands either in dst (up to room bytes; *direct
 * says how many) or in comp_buf. 1, or the failing result (< 1). */
static int read_frame(my_connection *c, unsigned char *dst, size_t room, size_t *direct,
                      int64_t deadline_ms)
{
    *direct = 0;
    int rc;
    const unsigned char *h = net_peek(c, FRAME_HEADER, deadline_ms, &rc);
    if (!h)
        return rc;
    uint32_t comp_len = wire_u24(h), ulen = wire_u24(h + 4);
    unsigned seq = h[3];
    net_consume(c, FRAME_HEADER);
    /* the server's frame numbers are not checked; ours continue after them */
    c->comp_seq = (c->comp_seq + 1) & 0xFF;
    QV_TRACE(c, LOG_DETAIL, "Compressed header: comp_len=%d, seq=%d, uncomp_len=%d", (int)comp_len,
             (int)seq, (int)ulen);
    if (ulen == 0)
        return read_clear_frame(c, comp_len, dst, room, direct, deadline_ms);
    return read_zlib_frame(c, comp_len, ulen, dst, room, direct, deadline_ms);
}

int compressed_read(my_connection *c, unsigned char *buf, size_t want, size_t *got,
                    int64_t deadline_ms)
{
    size_t done = 0;
    if (got)
        *got = 0;
    while (done < want) {
        if (c->comp_buf && c->comp_len > 0) {
            size_t take = want - done < c->comp_len ? want - done : c->comp_len;
            memcpy(buf + done, c->comp_buf + c->comp_off, take);
            c->comp_off += (uint32_t)take;
            c->comp_len -= (uint32_t)take;
            done += take;
            if (c->comp_len == 0) {
                c->comp_off = 0;
                if (c->comp_cap > COMP_KEEP_LIMIT) {
                    free(c->comp_buf);
                    c->comp_buf = nullptr;
                    c->comp_cap = 0;
                }
            }
            continue;
        }
        size_t direct = 0;
        int rc = read_frame(c, buf + done, want - done, &direct, deadline_ms);
        if (rc < 1)
            return rc;
        done += direct;
    }
    if (got)
        *got = done;
    return done > (size_t)INT32_MAX ? INT32_MAX : (int)done;
}
