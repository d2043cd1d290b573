// What the fuzz targets share: one environment for the whole process, a
// connection in session whose socket is one end of a socketpair carrying
// the fuzz input as the server's bytes, and a reader that splits input into
// length-prefixed pieces.
//
// Nothing here keeps state from one input to the next: every input gets a
// new connection and a new socketpair, and both are gone when the link is
// destroyed (LeakSanitizer checks that too).
#ifndef QV_FUZZ_SUPPORT_H
#define QV_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "my_handles.h"

namespace qvfuzz {

// Inputs longer than this are cut: the whole input must fit the socket's
// buffer, since it is written before the driver reads.
enum { INPUT_LIMIT = 60000 };

// The process's environment (ODBC 3), made on first use and never freed.
my_environment *environment();

// Capabilities of a session after a 4.1 logon.
uint32_t session_caps();

// A fresh connection of the environment. With data, its socket is one end
// of a socketpair: the other end has sent data and then shut its writing
// side, so the driver reads exactly data and then end of stream, and what
// the driver sends is taken and never answered. in_session marks the
// connection logged on with session_caps() and character set 33; without
// it the connection is as SQLDriverConnect leaves it before the logon.
// With QV_FUZZ_TRACE set in the environment the connection traces to
// standard error: what the driver made of an input.
struct link {
    my_connection *c = nullptr;
    int peer = -1;

    link(const uint8_t *data, size_t n, bool in_session);
    ~link();
    link(const link &) = delete;
    link &operator=(const link &) = delete;
};

// Takes pieces of an input from the front.
struct reader {
    const uint8_t *p;
    size_t n;

    reader(const uint8_t *data, size_t size) : p(data), n(size) {}
    bool empty() const { return n == 0; }
    uint8_t u8() { return n ? (n--, *p++) : 0; }
    uint16_t u16() { uint16_t lo = u8(); return (uint16_t)(lo | (u8() << 8)); }
    uint32_t u32() { uint32_t lo = u16(); return lo | ((uint32_t)u16() << 16); }
    // A piece of at most max bytes, its length first (u16): a length past
    // the end takes the rest.
    std::vector<uint8_t> piece(size_t max = 0xFFFF)
    {
        size_t len = u16();
        if (len > n)
            len = n;
        if (len > max)
            len = max;
        std::vector<uint8_t> out(p, p + len);
        p += len;
        n -= len;
        return out;
    }
    std::vector<uint8_t> rest()
    {
        std::vector<uint8_t> out(p, p + n);
        p += n;
        n = 0;
        return out;
    }
};

// Server packets for the wire: 3-byte length, sequence number, payload.
void put_packet(std::vector<uint8_t> &wire, uint8_t seq, const std::vector<uint8_t> &payload);

} // namespace qvfuzz

#endif
