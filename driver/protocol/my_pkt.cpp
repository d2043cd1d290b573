/*
 * Packet layer: building packets, the bounded readers, sending and reading
 * with sequence checks. The compressed framing under the packets is
 * my_compress.cpp.
 */
#include "protocol/my_pkt.h"

#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <vector>

#include "frame/my_handle.h"
#include "protocol/my_compress.h"
#include "protocol/my_conn.h"

enum { PACKET_STEP = 1024 };

/* ---------------------------------------------------------------- helpers */

static my_connection *pkt_conn(const my_packet *p) { return handle_conn(p->owner); }

int charset_is_utf8(const my_connection *c, int cs)
{
    if (c && c->collations) {
        for (const collation_entry &e : *c->collations)
            if (e.id == cs)
                return strncmp(e.charset_name, "utf8", 4) == 0;
    }
    /* Without the server's list: the numbers MySQL and MariaDB give the
     * utf8/utf8mb3 and utf8mb4 collations (MariaDB's NO PAD variants are the
     * same numbers plus 1024; its UCA 14 collations use 2048..2559). */
    if (cs >= 2048 && cs <= 2559)
        return 1;
    if (cs >= 1024 && cs < 2048)
        cs -= 1024;
    return cs == 33 || cs == 83 || cs == 45 || cs == 46 || cs == 76 || cs == 223 ||
           (cs >= 192 && cs <= 215) || (cs >= 224 && cs <= 247) || (cs >= 255 && cs <= 323) ||
           (cs >= 576 && cs <= 578) || (cs >= 608 && cs <= 610);
}

const char *charset_name(const my_connection *c, int cs)
{
    if (c && c->collations) {
        for (const collation_entry &e : *c->collations)
            if (e.id == cs)
                return e.charset_name;
    }
    /* Without the server's list: the collations a session is commonly
     * started with (the character sets a client may use, not ucs2 and the
     * other multi-byte-only ones a server refuses for clients). */
    static const struct {
        int first, last;
        const char *name;
    } known[] = {
        {33, 33, "utf8"},       {83, 83, "utf8"},     {192, 215, "utf8"},   {223, 223, "utf8"},
        {45, 46, "utf8mb4"},    {224, 247, "utf8mb4"}, {255, 255, "utf8mb4"},
        {5, 5, "latin1"},       {8, 8, "latin1"},     {15, 15, "latin1"},   {31, 31, "latin1"},
        {47, 49, "latin1"},     {94, 94, "latin1"},   {63, 63, "binary"},   {11, 11, "ascii"},
        {65, 65, "ascii"},      {14, 14, "cp1251"},   {23, 23, "cp1251"},   {50, 52, "cp1251"},
        {9, 9, "latin2"},       {21, 21, "latin2"},   {27, 27, "latin2"},   {77, 77, "latin2"},
        {7, 7, "koi8r"},        {74, 74, "koi8r"},    {1, 1, "big5"},       {84, 84, "big5"},
        {13, 13, "sjis"},       {88, 88, "sjis"},     {12, 12, "ujis"},     {91, 91, "ujis"},
        {19, 19, "euckr"},      {85, 85, "euckr"},    {24, 24, "gb2312"},   {86, 86, "gb2312"},
        {28, 28, "gbk"},        {87, 87, "gbk"},      {57, 57, "cp1256"},   {67, 67, "cp1256"},
        {95, 96, "cp932"},      {97, 98, "eucjpms"},  {26, 26, "cp1250"},   {34, 34, "cp1250"},
        {44, 44, "cp1250"},     {66, 66, "cp1250"},   {99, 99, "cp1250"},   {20, 20, "latin7"},
        {41, 42, "latin7"},     {79, 79, "latin7"},   {25, 25, "greek"},    {70, 70, "greek"},
        {16, 16, "hebrew"},     {71, 71, "hebrew"},   {30, 30, "latin5"},   {78, 78, "latin5"},
    };
    for (const auto &k : known)
        if (cs >= k.first && cs <= k.last)
            return k.name;
    return nullptr;
}

/* The session's text is UTF-8 whenever its character set is one of the UTF-8
 * sets: not only utf8_general_ci and utf8_bin (33, 83) but utf8mb4, which
 * current servers announce (MariaDB 45, MySQL 8 255). Treating those as
 * Latin-1 would send wide text as its low bytes. */
int conn_wire_utf8(const my_connection *c)
{
    return c && charset_is_utf8(c, c->charset);
}

int server_version_at_least(const my_connection *c, int major, int minor, int patch)
{
    if (c->version_major != major)
        return c->version_major > major;
    if (c->version_minor != minor)
        return c->version_minor > minor;
    return c->version_patch >= patch;
}

/* Servers older than 3.23 use 4-byte values where newer ones use 8. */
static int old_server(const my_connection *c)
{
    return c && c->version_major > 0 && !server_version_at_least(c, 3, 23, 0);
}

/* The statement's counter when the handle is a statement, else its
 * connection's. */
static int *seq_counter(void *handle)
{
    my_statement *s = as_stmt(handle);
    if (s)
        return (int *)&s->seq;
    my_connection *c = handle_conn(handle);
    return c ? &c->seq : nullptr;
}

void packet_reset_seq(void *handle) { packet_set_seq(handle, 0); }

void packet_set_seq(void *handle, unsigned value)
{
    int *seq = seq_counter(handle);
    if (seq)
        *seq = (int)(value & 0xFF);
}

/* -------------------------------------------------------------- creation */

my_packet *packet_new(void *handle)
{
    my_packet *p = (my_packet *)calloc(1, sizeof *p);
    if (!p)
        return nullptr;
    p->data = (unsigned char *)malloc(PACKET_STEP);
    if (!p->data) {
        free(p);
        return nullptr;
    }
    p->limit = PACKET_STEP;
    p->length = p->pos = 4;
    int *seq = seq_counter(handle);
    p->seq = seq ? (uint8_t)*seq : 0;
    p->owner = handle;
    return p;
}

void packet_free(my_packet *p)
{
    if (!p)
        return;
    free(p->data);
    free(p);
}

void packet_rewind(my_packet *p) { p->pos = 4; }

my_statement::owned_packet::~owned_packet() { packet_free(p); }

/* ---------------------------------------------------------------- writers */

/* Capacity grows to above need_total in whole 1024-byte steps, at least
 * doubling, so that building a large packet costs a few reallocations rather
 * than one per kilobyte. A packet never holds more than one full physical
 * packet (packet_put_bytes sends it first), which bounds the doubling. */
static int grow(my_packet *p, size_t need_total)
{
    if ((size_t)p->limit > need_total)
        return 0;
    const size_t most = ((size_t)4 + MAX_PACKET_PAYLOAD + PACKET_STEP) / PACKET_STEP * PACKET_STEP;
    size_t cap = (size_t)p->limit * 2;
    if (cap > most)
        cap = most;
    if (cap <= need_total)
        cap = need_total + 1;
    cap = (cap + PACKET_STEP - 1) / PACKET_STEP * PACKET_STEP;
    unsigned char *d = (unsigned char *)realloc(p->data, cap);
    if (!d)
        return -1;
    p->data = d;
    p->limit = (int32_t)cap;
    return 0;
}

/* A payload that reaches MAX_PACKET_PAYLOAD goes out at once; the rest
 * follows in the next packet of the same command. */
int packet_put_bytes(my_packet *p, const void *bytes, size_t n)
{
    const unsigned char *b = (const unsigned char *)bytes;
    while (n > 0) {
        size_t room = (size_t)(4 + MAX_PACKET_PAYLOAD) - (size_t)p->length;
        size_t take = n < room ? n : room;
        if (grow(p, (size_t)p->length + take) != 0)
            return -1;
        memcpy(p->data + p->length, b, take);
        p->length += (int32_t)take;
        b += take;
        n -= take;
        if (p->length == 4 + MAX_PACKET_PAYLOAD) {
            if (packet_send(p->owner, p) != 0)
                return -1;
            p->length = 4;
        }
    }
    return 0;
}

int packet_put_u8(my_packet *p, unsigned v)
{
    unsigned char b = (unsigned char)v;
    return packet_put_bytes(p, &b, 1);
}

static int put_le(my_packet *p, uint64_t v, int n)
{
    unsigned char b[8];
    for (int i = 0; i < n; i++)
        b[i] = (unsigned char)(v >> (8 * i));
    return packet_put_bytes(p, b, (size_t)n);
}

int packet_put_u16(my_packet *p, unsigned v) { return put_le(p, v, 2); }
int packet_put_u24(my_packet *p, uint32_t v) { return put_le(p, v, 3); }
int packet_put_u32(my_packet *p, uint32_t v) { return put_le(p, v, 4); }
int packet_put_u64(my_packet *p, uint64_t v) { return put_le(p, v, 8); }

int packet_put_lenenc(my_packet *p, uint64_t v)
{
    if (v <= 250)
        return packet_put_u8(p, (unsigned)v);
    /* one below the usual bounds: 0xFFFF goes out as FD FF FF 00 */
    unsigned char lead;
    int width;
    if (v <= 0xFFFE) {
        lead = 0xFC;
        width = 2;
    } else if (v <= 0xFFFFFE) {
        lead = 0xFD;
        width = 3;
    } else {
        lead = 0xFE;
        width = old_server(pkt_conn(p)) ? 4 : 8;
    }
    if (packet_put_u8(p, lead) != 0 || put_le(p, v, width) != 0)
        return -1;
    return 0;
}

int packet_put_cstring(my_packet *p, const char *s)
{
    if (s && packet_put_bytes(p, s, strlen(s)) != 0)
        return -1;
    return packet_put_u8(p, 0);
}

int packet_put_string(my_packet *p, const my_string *s)
{
    if (!s || s->length == 0)
        return 0;
    if (conn_wire_utf8(pkt_conn(p))) {
        size_t n = utf16_utf8_length(s->data, s->length);
        unsigned char stackbuf[512];
        unsigned char *buf = n <= sizeof stackbuf ? stackbuf : (unsigned char *)malloc(n);
        if (!buf)
            return -1;
        utf16_encode_utf8(s->data, s->length, buf);
        int rc = packet_put_bytes(p, buf, n);
        if (buf != stackbuf)
            free(buf);
        return rc;
    }
    unsigned char stackbuf[512];
    for (uint32_t i = 0; i < s->length;) {
        uint32_t k = 0;
        while (k < sizeof stackbuf && i < s->length)
            stackbuf[k++] = (unsigned char)(s->data[i++] & 0xFF);
        if (packet_put_bytes(p, stackbuf, k) != 0)
            return -1;
    }
    return 0;
}

int packet_put_string_nul(my_packet *p, const my_string *s)
{
    if (packet_put_string(p, s) != 0 || packet_put_u8(p, 0) != 0)
        return -1;
    return 0;
}

int packet_put_utf16le(my_packet *p, const my_string *s)
{
    for (uint32_t i = 0; s && i < s->length; i++)
        if (packet_put_u16(p, s->data[i]) != 0)
            return -1;
    return 0;
}

/* ---------------------------------------------------------------- readers */

int32_t packet_remaining(const my_packet *p) { return p->pos < p->limit ? p->limit - p->pos : 0; }

int packet_get_u8(my_packet *p, unsigned *v)
{
    if (p->pos >= p->limit) {
        if (v)
            *v = 0;
        return 0;
    }
    if (v)
        *v = p->data[p->pos];
    p->pos++;
    return 1;
}

unsigned packet_peek_u8(const my_packet *p) { return p->pos < p->limit ? p->data[p->pos] : 0; }

/* Fixed-width little-endian read; near the end it takes what is there and
 * stops at limit (callers check packet_need first where the value matters). */
static uint64_t get_le(my_packet *p, int n)
{
    uint64_t v = 0;
    for (int i = 0; i < n && p->pos < p->limit; i++)
        v |= (uint64_t)p->data[p->pos++] << (8 * i);
    return v;
}

uint32_t packet_get_u16(my_packet *p) { return (uint32_t)get_le(p, 2); }
uint32_t packet_get_u24(my_packet *p) { return (uint32_t)get_le(p, 3); }
uint32_t packet_get_u32(my_packet *p) { return (uint32_t)get_le(p, 4); }
uint64_t packet_get_u64(my_packet *p) { return get_le(p, 8); }

int packet_get_lenenc(my_packet *p, uint64_t *v)
{
    *v = 0;
    if (p->pos >= p->limit)
        return -6;
    unsigned lead = p->data[p->pos];
    int width;
    switch (lead) {
    case 0xFB: p->pos++; *v = LENENC_NULL; return 0;
    case 0xFC: width = 2; break;
    case 0xFD: width = 3; break;
    case 0xFE: width = old_server(pkt_conn(p)) ? 4 : 8; break;
    case 0xFF: return -6;
    default: p->pos++; *v = lead; return 0;
    }
    if (!packet_need(p, 1 + width))
        return -6;
    p->pos++;
    *v = get_le(p, width);
    return 0;
}

/* Reads a length-encoded length and checks that the bytes are all there.
 * Returns 1 for NULL, 0 with *len set, or -6. */
static int get_checked_length(my_packet *p, uint64_t *len)
{
    if (p->pos >= p->limit) {
        *len = 0;
        return 1;   /* at the end: empty */
    }
    int null = p->data[p->pos] == 0xFB;
    if (packet_get_lenenc(p, len) != 0)
        return -6;
    if (null) {
        *len = 0;
        return 1;
    }
    if (*len > (uint64_t)packet_remaining(p))
        return -6;
    return 0;
}

int64_t packet_get_lenenc_string(my_packet *p, my_string **out)
{
    *out = nullptr;
    uint64_t len;
    int rc = get_checked_length(p, &len);
    if (rc < 0)
        return -6;
    const unsigned char *b = p->data + p->pos;
    p->pos += (int32_t)len;
    if (conn_wire_utf8(pkt_conn(p))) {
        size_t units = utf8_units(b, (size_t)len);
        *out = ms_new((uint32_t)units);
        if (!*out)
            return -1;
        if (units)
            utf8_decode(b, (size_t)len, (*out)->data);
        return (int64_t)units;
    }
    *out = ms_from_latin1_n((const char *)b, (size_t)len);
    return *out ? (int64_t)len : -1;
}

int packet_get_lenenc_view(my_packet *p, const unsigned char **bytes, uint32_t *len)
{
    *bytes = nullptr;
    *len = 0;
    if (p->pos >= p->limit)
        return -6;
    int32_t start = p->pos;
    unsigned lead = p->data[p->pos];
    uint64_t n;
    if (lead < LENENC_NULL) {          /* one-byte length: nearly every cell */
        n = lead;
        p->pos++;
    } else if (lead == LENENC_NULL) {
        p->pos++;
        return 1;
    } else if (packet_get_lenenc(p, &n) != 0) {
        return -6;
    }
    if (n > (uint64_t)packet_remaining(p)) {
        p->pos = start;
        return -6;
    }
    *bytes = p->data + p->pos;
    *len = (uint32_t)n;
    p->pos += (int32_t)n;
    return 0;
}

int64_t packet_get_lenenc_bytes(my_packet *p, char **out)
{
    *out = nullptr;
    uint64_t len;
    if (get_checked_length(p, &len) < 0)
        return -6;
    char *buf = (char *)malloc((size_t)len + 1);
    if (!buf)
        return -1;
    memcpy(buf, p->data + p->pos, (size_t)len);
    buf[len] = 0;
    p->pos += (int32_t)len;
    *out = buf;
    return (int64_t)len;
}

int64_t packet_get_cstring(my_packet *p, my_string **out)
{
    int32_t start = p->pos, end = p->pos;
    while (end < p->limit && p->data[end] != 0)
        end++;
    *out = ms_from_latin1_n((const char *)p->data + start, (size_t)(end - start));
    p->pos = end < p->limit ? end + 1 : end;
    return *out ? end - start : -1;
}

int64_t packet_get_fixed_string(my_packet *p, size_t n, my_string **out)
{
    size_t avail = (size_t)packet_remaining(p);
    if (n > avail)
        n = avail;
    *out = ms_from_latin1_n((const char *)p->data + p->pos, n);
    p->pos += (int32_t)n;
    return *out ? (int64_t)n : -1;
}

size_t packet_get_bytes(my_packet *p, void *buf, size_t n)
{
    size_t avail = (size_t)packet_remaining(p);
    if (n > avail)
        n = avail;
    memcpy(buf, p->data + p->pos, n);
    p->pos += (int32_t)n;
    return n;
}

int packet_type(const my_packet *p)
{
    return p->pos < p->limit ? (int)(signed char)p->data[p->pos] : 0;
}

int packet_is_lenenc_only(const my_packet *p)
{
    int32_t rest = packet_remaining(p);
    if (rest == 0)
        return 0;
    unsigned lead = p->data[p->pos];
    switch (lead) {
    case 0xFF: return 0;
    case 0xFB: return 0;   /* NULL marker / LOCAL INFILE request, never a count */
    case 0xFC: return rest == 3;
    case 0xFD: return rest == 4;
    case 0xFE: return rest == (old_server(pkt_conn(p)) ? 5 : 9);
    default: return rest == 1;
    }
}

/* -------------------------------------------------------------- sending */

/* Fills p's header (payload length and sequence number) and moves its
 * owner's sequence counter past it. 0, or -4 when p is no packet to send. */
static int seal_packet(void *owner, my_packet *p)
{
    if (p->length <= 3 || p->length > 4 + MAX_PACKET_PAYLOAD)
        return -4;
    uint32_t payload = (uint32_t)p->length - 4;
    p->data[0] = (unsigned char)payload;
    p->data[1] = (unsigned char)(payload >> 8);
    p->data[2] = (unsigned char)(payload >> 16);
    p->data[3] = p->seq;
    p->seq = (uint8_t)(p->seq + 1);
    int *seq = seq_counter(owner);
    if (seq)
        *seq = p->seq;
    return 0;
}

int packet_send(void *handle, my_packet *p)
{
    void *owner = p->owner ? p->owner : handle;
    my_connection *c = handle_conn(handle ? handle : owner);
    if (!c || seal_packet(owner, p) != 0)
        return -4;

    int written;
    {
        std::lock_guard<qv_mutex> g(c->wire_lock);
        /* A command's first packet starts the compressed frames afresh; the
         * frame counter is the connection's, so this happens under the lock
         * (a packet may be built while another statement's frames are read). */
        if (p->data[3] == 0)
            c->comp_seq = 0;
        written = c->compress_active ? compressed_write(c, p->data, (size_t)p->length)
                                     : net_write(c, p->data, (size_t)p->length);
    }
    if (written != p->length) {
        QV_TRACE(handle, LOG_ERROR, "packet_send: failed sending packeti %d %d", written, p->length);
        post_error(handle, ST_08S01, 0, "short write");
        return -4;
    }
    return 0;
}

int packet_send_all(void *handle, my_packet *const *packets, size_t n)
{
    my_connection *c = handle_conn(handle);
    if (!c)
        return -4;
    std::lock_guard<qv_mutex> g(c->wire_lock);
    /* Commands laid back to back in one buffer go out from it as they are;
     * others are gathered (or framed, with compression) into one. */
    int adjacent = !c->compress_active;
    size_t total = 0;
    for (size_t i = 0; i < n; i++) {
        my_packet *p = packets[i];
        /* only whole commands: a command that already sent a part of
         * itself would be cut in two by the ones before it */
        if (!p || p->seq != 0 || handle_conn(p->owner ? p->owner : handle) != c ||
            seal_packet(p->owner ? p->owner : handle, p) != 0) {
            post_error(handle, ST_HY000, 0, "a command sent with others must be whole");
            return -4;
        }
        if (i > 0 && p->data != packets[i - 1]->data + packets[i - 1]->length)
            adjacent = 0;
        total += (size_t)p->length;
    }
    std::vector<unsigned char> out;
    const unsigned char *bytes = n ? packets[0]->data : nullptr;
    if (!adjacent) {
        try {
            if (!c->compress_active)
                out.reserve(total);
            for (size_t i = 0; i < n; i++) {
                my_packet *p = packets[i];
                if (c->compress_active) {
                    c->comp_seq = 0;   /* each command numbers its frames from 0 */
                    if (compressed_append(c, p->data, (size_t)p->length, &out) != 0)
                        return -4;
                } else {
                    out.insert(out.end(), p->data, p->data + p->length);
                }
            }
        } catch (...) {
            post_error(handle, ST_HY001, 0, nullptr);
            return -4;
        }
        bytes = out.data();
        total = out.size();
    }
    int written = total == 0 ? 0 : net_write(c, bytes, total);
    if (written < 0 || (size_t)written != total) {
        QV_TRACE(handle, LOG_ERROR, "packet_send_all: failed sending %d commands (%d bytes)", (int)n,
                 (int)total);
        post_error(handle, ST_08S01, 0, "short write");
        return -4;
    }
    return 0;
}

/* -------------------------------------------------------------- reading */

/* Payloads that span continuation packets are bounded by what a server may
 * send in one packet (max_allowed_packet tops out at 1 GB); beyond that the
 * stream is hostile or broken, and limit (an int32) would overflow. */
static const int64_t MAX_ASSEMBLED_PAYLOAD = MAX_COMMAND_BYTES;

/* The byte stream under the packets: decompressed frames when compression
 * is on, else the connection's receive buffer. 1 when all n bytes arrived,
 * else the failing result (< 1). */
static int stream_read(my_connection *c, unsigned char *dst, size_t n, int64_t deadline_ms)
{
    if (n == 0)
        return 1;
    int rc;
    if (c->compress_active) {
        size_t got = 0;
        rc = compressed_read(c, dst, n, &got, deadline_ms);
    } else {
        rc = net_read_exact(c, dst, n, deadline_ms);
    }
    return rc < 1 ? rc : 1;
}

/* A 4-byte packet header. Uncompressed it is taken only once all four bytes
 * are buffered, so a time-out while waiting for it leaves the stream in step. */
static int read_header(my_connection *c, unsigned char hdr[4], int64_t deadline_ms)
{
    if (c->compress_active)
        return stream_read(c, hdr, 4, deadline_ms);
    int rc;
    const unsigned char *b = net_peek(c, 4, deadline_ms, &rc);
    if (!b)
        return rc;
    memcpy(hdr, b, 4);
    net_consume(c, 4);
    return 1;
}

/* A failed read at one of the four places a packet is read from (header,
 * payload, continuation header, continuation payload). A time-out only sets
 * the handle's flag: the command layer decides what the application sees.
 * Only a time-out while waiting for a packet's first header that took
 * nothing (took_nothing) leaves the stream in step; after any other failure
 * the next bytes on the wire are the middle of a packet, and whoever reads
 * on would misread them. */
static int read_failed(void *handle, my_connection *c, int stage, int rc, int took_nothing = 0)
{
    if (!took_nothing || rc != -2)
        c->link_broken = 1;
    if (rc == -2) {
        handle_hdr(handle)->timed_out = 1;
        return -2;
    }
    post_error(handle, ST_08S01, 0, "socket read failed (%d), %d %d", stage, rc, c->net_errno);
    return -1;
}

static int check_sequence(void *handle, unsigned seq)
{
    int *counter = seq_counter(handle);
    unsigned expected = (unsigned)*counter & 0xFF;
    const my_connection *c = handle_conn(handle);
    if (seq != expected && c && c->compress_active) {
        /* Inside compressed frames a server renumbers its packets to follow
         * the frame numbers whenever it flushes, as it does between the
         * results of one response: the frames keep the order, the count
         * follows the server. */
        QV_TRACE(handle, LOG_DETAIL, "compressed: packet sequence %d follows the frames, not %d",
                 (int)seq, (int)expected);
        expected = seq;
    }
    if (seq != expected) {
        if (as_stmt(handle))
            QV_TRACE(handle, LOG_ERROR, "Unexpected stmt sequence %d != %d", (int)seq, (int)expected);
        else
            QV_TRACE(handle, LOG_ERROR, "Unexpected conn sequence %d != %d", (int)seq, (int)expected);
        post_error(handle, ST_08S01, 0, "Unexpected packet sequence %d != %d", (int)seq,
                   (int)expected);
        return -1;
    }
    *counter = (int)((seq + 1) & 0xFF);
    return 0;
}

/* Room for total bytes in an incoming packet. A reused packet grows by
 * doubling up to one physical packet, so rows of slowly rising size do not
 * reallocate each time; beyond that it grows exactly. */
static int reserve(my_packet *p, int64_t total)
{
    int64_t cap = p->data ? p->capacity : 0;
    if (cap >= total)
        return 0;
    int64_t want = total;
    if (cap > 0 && cap * 2 > want && cap * 2 <= 4 + (int64_t)MAX_PACKET_PAYLOAD)
        want = cap * 2;
    unsigned char *d = (unsigned char *)realloc(p->data, (size_t)want);
    if (!d)
        return -1;
    p->data = d;
    p->capacity = (int32_t)want;
    return 0;
}

/* Room for total bytes from the sink; a refusal is out of memory, and the
 * payload then stays unread on the wire. */
static unsigned char *sink_room(void *handle, my_connection *c, const packet_sink *sink,
                                int64_t total)
{
    unsigned char *b = sink->reserve(sink->ctx, total);
    if (!b) {
        c->link_broken = 1;
        post_error(handle, ST_HY001, 0, nullptr);
    }
    return b;
}

/* A whole packet already in the receive buffer: copied to the sink in one
 * step, with no wait and so no deadline to compute. 1 when taken, 0 when
 * the packet is not all there (or spans continuation packets, or the
 * stream is compressed), or the failure of a wrong sequence number. */
static int take_buffered(void *handle, my_connection *c, const packet_sink *sink, int64_t *total)
{
    if (c->compress_active || !c->rbuf)
        return 0;
    size_t held = c->rbuf_len - c->rbuf_off;
    if (held < 4)
        return 0;
    const unsigned char *b = c->rbuf + c->rbuf_off;
    uint32_t len = wire_u24(b);
    if (len >= MAX_PACKET_PAYLOAD || held - 4 < len)
        return 0;
    QV_TRACE(handle, LOG_DETAIL, "Packet: len=%d, seq=%d", (int)len, (int)b[3]);
    if (check_sequence(handle, b[3]) != 0) {
        c->link_broken = 1;
        return -1;
    }
    unsigned char *buf = sink_room(handle, c, sink, 4 + (int64_t)len);
    if (!buf)
        return -1;
    memcpy(buf, b, 4 + (size_t)len);
    c->rbuf_off += 4 + len;
    *total = 4 + (int64_t)len;
    return 1;
}

int packet_read_to(void *handle, const packet_sink *sink, int64_t *total)
{
    my_connection *c = handle_conn(handle);
    *total = 0;
    if (!c || !seq_counter(handle))
        return -1;
    if (int taken = take_buffered(handle, c, sink, total))
        return taken > 0 ? 0 : -1;
    int64_t deadline_ms = read_deadline_ms(handle);

    unsigned char hdr[4];
    /* Compressed, a header read took nothing only when no decompressed byte
     * was waiting and no frame header was consumed (which counts a frame). */
    uint32_t comp_waiting = c->comp_len;
    int32_t frames = c->comp_seq;
    int rc = read_header(c, hdr, deadline_ms);
    if (rc < 1) {
        int took_nothing = !c->compress_active || (comp_waiting == 0 && frames == c->comp_seq);
        return read_failed(handle, c, 1, rc, took_nothing);
    }
    uint32_t len = wire_u24(hdr);
    QV_TRACE(handle, LOG_DETAIL, "Packet: len=%d, seq=%d", (int)len, (int)hdr[3]);
    if (check_sequence(handle, hdr[3]) != 0) {
        c->link_broken = 1;
        return -1;
    }
    unsigned char *buf = sink_room(handle, c, sink, 4 + (int64_t)len);
    if (!buf)
        return -1;
    memcpy(buf, hdr, 4);
    rc = stream_read(c, buf + 4, len, deadline_ms);
    if (rc < 1)
        return read_failed(handle, c, 2, rc);
    int64_t end = 4 + (int64_t)len;

    /* A payload of exactly MAX_PACKET_PAYLOAD bytes continues in the next
     * packet; one shorter (possibly empty) ends it. */
    while (len == MAX_PACKET_PAYLOAD) {
        rc = read_header(c, hdr, deadline_ms);
        if (rc < 1)
            return read_failed(handle, c, 3, rc);
        len = wire_u24(hdr);
        QV_TRACE(handle, LOG_DETAIL, "Packet: len=%d, seq=%d, extend to=%l", (int)len, (int)hdr[3],
                 (int64_t)(end - 4 + len));
        if (end - 4 + (int64_t)len > MAX_ASSEMBLED_PAYLOAD) {
            c->link_broken = 1;
            post_error(handle, ST_08S01, 0, "packet too large: %l bytes", (int64_t)(end - 4 + len));
            return -1;
        }
        if (check_sequence(handle, hdr[3]) != 0) {
            c->link_broken = 1;
            return -1;
        }
        if (!(buf = sink_room(handle, c, sink, end + len)))
            return -1;
        buf[3] = hdr[3];   /* the header keeps the last piece's sequence number */
        rc = stream_read(c, buf + end, len, deadline_ms);
        if (rc < 1)
            return read_failed(handle, c, 4, rc);
        end += len;
    }
    *total = end;
    return 0;
}

static unsigned char *reserve_in_packet(void *ctx, int64_t total)
{
    my_packet *p = (my_packet *)ctx;
    return reserve(p, total) == 0 ? p->data : nullptr;
}

int packet_read_into(void *handle, my_packet *p)
{
    p->owner = handle;
    p->next = nullptr;
    p->pos = p->limit = 4;
    p->length = 0;
    packet_sink sink = {reserve_in_packet, p};
    int64_t total;
    int rc = packet_read_to(handle, &sink, &total);
    if (rc != 0)
        return rc;
    p->seq = p->data[3];
    p->limit = (int32_t)total;
    return 0;
}

my_packet *packet_read(void *handle)
{
    my_packet *p = (my_packet *)calloc(1, sizeof *p);
    if (!p) {
        post_error(handle, ST_HY001, 0, nullptr);
        return nullptr;
    }
    if (packet_read_into(handle, p) != 0) {
        packet_free(p);
        return nullptr;
    }
    return p;
}
