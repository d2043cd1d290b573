// What unit tests linked against the driver's core share: a monotonic clock
// for time limits, a driver string as text, the diagnostics a handle holds,
// read straight from its list, and bytes as text. Header only: the integration tests'
// support library (qv_support) reaches the driver through the driver manager
// and does not link the core.
#ifndef QV_UNIT_SUPPORT_H
#define QV_UNIT_SUPPORT_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "frame/my_handle.h"
#include "protocol/my_pkt.h"

namespace unit_support {

// Milliseconds of the monotonic clock.
inline int64_t now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// The bytes of s as they are; "" for null.
inline std::string text_of(const my_string *s)
{
    std::string r;
    for (uint32_t i = 0; s && i < s->length; i++)
        r += (char)s->data[i];
    return r;
}

// s with every byte outside ASCII as '?'; "" for null.
inline std::string ascii_of(const my_string *s)
{
    std::string r;
    for (uint32_t i = 0; s && i < s->length; i++)
        r += s->data[i] < 0x80 ? (char)s->data[i] : '?';
    return r;
}

// s converted to Latin-1; "<null>" for null.
inline std::string latin1_of(const my_string *s)
{
    if (!s)
        return "<null>";
    char *p = ms_to_latin1(s);
    std::string r(p, s->length);
    free(p);
    return r;
}

// SQLSTATE and message of record n of h; absent when there is no such record.
inline std::string diag_state(const void *h, int n = 1, const std::string &absent = "")
{
    diag_record *r = diag_get(h, n);
    return r ? text_of(r->sqlstate) : absent;
}
inline std::string diag_text(const void *h, int n = 1, const std::string &absent = "")
{
    diag_record *r = diag_get(h, n);
    return r ? text_of(r->message) : absent;
}
inline std::string first_state(const void *h) { return diag_state(h, 1); }

// Every record of h as "STATE message" lines, for substring checks and
// assertion messages.
inline std::string all_diags(const void *h)
{
    std::string r;
    for (int i = 1; i <= diag_count(h); i++)
        r += diag_state(h, i) + " " + diag_text(h, i) + "\n";
    return r;
}

// Whether a record of h has SQLSTATE state and a message containing text.
inline bool has_diag(const void *h, const std::string &state, const std::string &text = "")
{
    for (int i = 1; i <= diag_count(h); i++)
        if (diag_state(h, i) == state && diag_text(h, i).find(text) != std::string::npos)
            return true;
    return false;
}

// An incoming packet holding exactly payload after the 4 header bytes (no
// slack, so an over-read is caught by the sanitizer), owned by owner.
inline my_packet *incoming(void *owner, const std::vector<uint8_t> &payload)
{
    my_packet *p = (my_packet *)calloc(1, sizeof *p);
    p->data = (unsigned char *)malloc(4 + payload.size());
    if (!payload.empty())
        memcpy(p->data + 4, payload.data(), payload.size());
    p->pos = 4;
    p->limit = p->capacity = (int32_t)(4 + payload.size());
    p->owner = owner;
    return p;
}

// A payload under construction: little-endian integers, length-encoded
// integers and strings, raw bytes and IEEE floats, as the protocol lays
// them out.
struct payload {
    std::vector<uint8_t> b;
    payload &u8(unsigned v) { b.push_back((uint8_t)v); return *this; }
    payload &le(uint64_t v, int n)
    {
        for (int i = 0; i < n; i++)
            b.push_back((uint8_t)(v >> (8 * i)));
        return *this;
    }
    payload &u16(unsigned v) { return le(v, 2); }
    payload &u24(unsigned v) { return le(v, 3); }
    payload &u32(uint32_t v) { return le(v, 4); }
    payload &lenenc(uint64_t v)
    {
        if (v < 251)
            return u8((unsigned)v);
        if (v <= 0xFFFF)
            return u8(0xFC).le(v, 2);
        if (v <= 0xFFFFFF)
            return u8(0xFD).le(v, 3);
        return u8(0xFE).le(v, 8);
    }
    payload &raw(const std::string &s)
    {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    payload &lenstr(const std::string &s) { return lenenc(s.size()).raw(s); }
    payload &f32(float v) { uint32_t u; memcpy(&u, &v, 4); return le(u, 4); }
    payload &f64(double v) { uint64_t u; memcpy(&u, &v, 8); return le(u, 8); }
    size_t size() const { return b.size(); }
};

// Bytes as upper-case hexadecimal digits, two per byte.
inline std::string hex(const std::string &b)
{
    static const char d[] = "0123456789ABCDEF";
    std::string r;
    for (unsigned char c : b) {
        r += d[c >> 4];
        r += d[c & 15];
    }
    return r;
}

// The bytes of UTF-16 text as the application holds it (SQLWCHAR units).
inline std::string wide(const std::u16string &s)
{
    return std::string(reinterpret_cast<const char *>(s.data()), 2 * s.size());
}

} // namespace unit_support

#endif
