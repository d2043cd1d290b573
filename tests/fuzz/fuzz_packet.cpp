// Fuzz target: the packet reader and the compressed framing. The input's
// first byte picks the mode, the rest is what the server sends: packets (or
// compressed frames carrying them) read one after the other until the
// stream ends or breaks, each then taken apart by every bounded reader.
//
// Mode bits: 1 compressed frames; 2 one packet reused across reads (as the
// row reader does) instead of a new packet per read; 4 read for a statement
// (its own sequence counter) instead of the connection; 8 a Latin-1
// connection instead of UTF-8.
#include <stdint.h>
#include <stdlib.h>

#include <sql.h>
#include <sqlext.h>

#include "frame/my_handle.h"
#include "fuzz/fuzz_support.h"
#include "protocol/my_pkt.h"

namespace {

// Every reader of the packet layer over the payload, each from the start.
void take_apart(my_packet *p)
{
    const unsigned char *view;
    uint32_t len;
    p->pos = 4;
    while (packet_get_lenenc_view(p, &view, &len) >= 0 && packet_remaining(p) > 0) {
    }

    p->pos = 4;
    for (int i = 0; i < 64 && packet_remaining(p) > 0; i++) {
        my_string *s = nullptr;
        int64_t rc = packet_get_lenenc_string(p, &s);
        ms_free(s);
        if (rc < 0)
            break;
    }

    p->pos = 4;
    char *bytes = nullptr;
    if (packet_get_lenenc_bytes(p, &bytes) >= 0)
        free(bytes);

    p->pos = 4;
    for (int i = 0; i < 64 && packet_remaining(p) > 0; i++) {
        my_string *s = nullptr;
        int64_t rc = packet_get_cstring(p, &s);
        ms_free(s);
        if (rc < 0)
            break;
    }

    p->pos = 4;
    my_string *fixed = nullptr;
    if (packet_get_fixed_string(p, packet_peek_u8(p), &fixed) >= 0)
        ms_free(fixed);

    p->pos = 4;
    (void)packet_type(p);
    (void)packet_is_lenenc_only(p);
    uint64_t v;
    (void)packet_get_lenenc(p, &v);
    (void)packet_get_u16(p);
    (void)packet_get_u24(p);
    (void)packet_get_u32(p);
    (void)packet_get_u64(p);
    unsigned char buf[32];
    (void)packet_get_bytes(p, buf, sizeof buf);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    unsigned mode = data[0];
    qvfuzz::link l(data + 1, size - 1, true);
    l.c->compress_active = (mode & 1) != 0;
    if (mode & 8)
        l.c->charset = 8;
    void *handle = l.c;
    if (mode & 4) {
        handle = stmt_create(l.c);
        if (!handle)
            abort();
    }
    packet_reset_seq(handle);

    if (mode & 2) {
        my_packet *p = (my_packet *)calloc(1, sizeof *p);
        if (!p)
            abort();
        for (int i = 0; i < 256 && packet_read_into(handle, p) == 0; i++)
            take_apart(p);
        packet_free(p);
    } else {
        for (int i = 0; i < 256; i++) {
            my_packet *p = packet_read(handle);
            if (!p)
                break;
            take_apart(p);
            packet_free(p);
        }
    }
    return 0;
}
