/*
 * MD4 (RFC 1320), MD5 (RFC 1321), HMAC-MD5 (RFC 2104) and DES (FIPS 46-3),
 * written for clarity rather than speed: a logon runs a few blocks.
 */
#include "protocol/my_auth_crypto.h"

#include <string.h>

#include <openssl/crypto.h>

void secure_wipe(void *p, size_t n)
{
    if (p && n)
        OPENSSL_cleanse(p, n);
}

/* ------------------------------------------------------------ MD4 / MD5 */

static inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

static void load_words(const unsigned char *block, uint32_t x[16])
{
    for (int i = 0; i < 16; i++)
        x[i] = (uint32_t)block[4 * i] | (uint32_t)block[4 * i + 1] << 8 |
               (uint32_t)block[4 * i + 2] << 16 | (uint32_t)block[4 * i + 3] << 24;
}

static void md4_block(uint32_t h[4], const unsigned char *block)
{
    uint32_t x[16];
    load_words(block, x);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    static const int s1[4] = {3, 7, 11, 19}, s2[4] = {3, 5, 9, 13}, s3[4] = {3, 9, 11, 15};
    static const int k2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    static const int k3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (int i = 0; i < 16; i++) {
        uint32_t f = (b & c) | (~b & d);
        uint32_t t = rotl(a + f + x[i], s1[i % 4]);
        a = d, d = c, c = b, b = t;
    }
    for (int i = 0; i < 16; i++) {
        uint32_t g = (b & c) | (b & d) | (c & d);
        uint32_t t = rotl(a + g + x[k2[i]] + 0x5A827999u, s2[i % 4]);
        a = d, d = c, c = b, b = t;
    }
    for (int i = 0; i < 16; i++) {
        uint32_t t = rotl(a + (b ^ c ^ d) + x[k3[i]] + 0x6ED9EBA1u, s3[i % 4]);
        a = d, d = c, c = b, b = t;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d;
    secure_wipe(x, sizeof x);
}

static const uint32_t md5_k[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391,
};

static void md5_block(uint32_t h[4], const unsigned char *block)
{
    static const int s[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    uint32_t x[16];
    load_words(block, x);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; i++) {
        uint32_t f;
        int k;
        switch (i / 16) {
        case 0: f = (b & c) | (~b & d); k = i; break;
        case 1: f = (b & d) | (c & ~d); k = (5 * i + 1) % 16; break;
        case 2: f = b ^ c ^ d; k = (3 * i + 5) % 16; break;
        default: f = c ^ (b | ~d); k = (7 * i) % 16; break;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + md5_k[i] + x[k], s[i / 16][i % 4]);
        a = t;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d;
    secure_wipe(x, sizeof x);
}

typedef void (*block_fn)(uint32_t h[4], const unsigned char *block);

/* The Merkle-Damgard frame MD4 and MD5 share: 64-byte blocks, a 0x80 pad,
 * the bit length little-endian in the last 8 bytes. */
static void md_digest(block_fn fn, const void *data, size_t n, unsigned char out[16])
{
    uint32_t h[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    const unsigned char *p = static_cast<const unsigned char *>(data);
    size_t left = n;
    for (; left >= 64; left -= 64, p += 64)
        fn(h, p);
    unsigned char tail[128] = {0};
    if (left)
        memcpy(tail, p, left);
    tail[left] = 0x80;
    size_t tail_len = left < 56 ? 64 : 128;
    uint64_t bits = (uint64_t)n * 8;
    for (int i = 0; i < 8; i++)
        tail[tail_len - 8 + i] = (unsigned char)(bits >> (8 * i));
    for (size_t off = 0; off < tail_len; off += 64)
        fn(h, tail + off);
    for (int i = 0; i < 16; i++)
        out[i] = (unsigned char)(h[i / 4] >> (8 * (i % 4)));
    secure_wipe(tail, sizeof tail);
    secure_wipe(h, sizeof h);
}

void md4_digest(const void *data, size_t n, unsigned char out[MD4_DIGEST])
{
    md_digest(md4_block, data, n, out);
}

void md5_digest(const void *data, size_t n, unsigned char out[MD5_DIGEST])
{
    md_digest(md5_block, data, n, out);
}

/* -------------------------------------------------------------- HMAC-MD5 */

/* MD5 of three concatenated pieces; inputs here are small (a key block,
 * a challenge and an NTLM blob of a few hundred bytes). */
static void md5_three(const void *a, size_t an, const void *b, size_t bn, const void *c,
                      size_t cn, unsigned char out[MD5_DIGEST])
{
    size_t total = an + bn + cn;
    unsigned char small[1024];
    unsigned char *buf = total <= sizeof small ? small : new unsigned char[total];
    if (an)
        memcpy(buf, a, an);
    if (bn)
        memcpy(buf + an, b, bn);
    if (cn)
        memcpy(buf + an + bn, c, cn);
    md5_digest(buf, total, out);
    secure_wipe(buf, total);
    if (buf != small)
        delete[] buf;
}

void hmac_md5(const unsigned char *key, size_t key_len, const void *a, size_t a_len,
              const void *b, size_t b_len, unsigned char out[MD5_DIGEST])
{
    unsigned char k[64] = {0};
    if (key_len > sizeof k)
        md5_digest(key, key_len, k);
    else if (key_len)
        memcpy(k, key, key_len);
    unsigned char ipad[64], opad[64], inner[MD5_DIGEST];
    for (int i = 0; i < 64; i++) {
        ipad[i] = k[i] ^ 0x36;
        opad[i] = k[i] ^ 0x5c;
    }
    md5_three(ipad, sizeof ipad, a, a_len, b, b_len, inner);
    md5_three(opad, sizeof opad, inner, sizeof inner, nullptr, 0, out);
    secure_wipe(k, sizeof k);
    secure_wipe(ipad, sizeof ipad);
    secure_wipe(opad, sizeof opad);
    secure_wipe(inner, sizeof inner);
}

/* ------------------------------------------------------------------- DES */

/* Tables as FIPS 46-3 prints them: 1-based bit numbers, bit 1 the most
 * significant. The final permutation and the expansion are derived from
 * them rather than typed out a second time. */
static const unsigned char des_ip[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7,
};
static const unsigned char des_p[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};
static const unsigned char des_pc1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};
static const unsigned char des_pc2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};
static const unsigned char des_shifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
static const unsigned char des_s[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11},
};

/* Output bit i (from the top of an n-bit result) is input bit table[i] of
 * an in_bits-wide input, both counted from 1 at the most significant end. */
static uint64_t permute(uint64_t in, int in_bits, const unsigned char *table, int n)
{
    uint64_t out = 0;
    for (int i = 0; i < n; i++)
        out = (out << 1) | ((in >> (in_bits - table[i])) & 1);
    return out;
}

static uint32_t des_f(uint32_t r, uint64_t subkey)
{
    /* Expansion: each 4-bit group with its neighbours' adjacent bits. */
    uint64_t e = 0;
    for (int g = 0; g < 8; g++)
        for (int j = 0; j < 6; j++) {
            int bit = (4 * g + j - 1 + 32) % 32;   /* 0-based from the top */
            e = (e << 1) | ((r >> (31 - bit)) & 1);
        }
    e ^= subkey;
    uint32_t s_out = 0;
    for (int g = 0; g < 8; g++) {
        unsigned six = (unsigned)(e >> (42 - 6 * g)) & 0x3F;
        unsigned row = ((six >> 4) & 2) | (six & 1);
        unsigned col = (six >> 1) & 0xF;
        s_out = (s_out << 4) | des_s[g][row * 16 + col];
    }
    return (uint32_t)permute(s_out, 32, des_p, 32);
}

static uint64_t load_be64(const unsigned char b[8])
{
    uint64_t v = 0;
    for (int i = 0; i < 8; i++)
        v = (v << 8) | b[i];
    return v;
}

void des_encrypt_block(const unsigned char key[8], const unsigned char in[DES_BLOCK],
                       unsigned char out[DES_BLOCK])
{
    uint64_t cd = permute(load_be64(key), 64, des_pc1, 56);
    uint32_t c = (uint32_t)(cd >> 28) & 0x0FFFFFFF, d = (uint32_t)cd & 0x0FFFFFFF;
    uint64_t block = permute(load_be64(in), 64, des_ip, 64);
    uint32_t l = (uint32_t)(block >> 32), r = (uint32_t)block;
    for (int round = 0; round < 16; round++) {
        int s = des_shifts[round];
        c = ((c << s) | (c >> (28 - s))) & 0x0FFFFFFF;
        d = ((d << s) | (d >> (28 - s))) & 0x0FFFFFFF;
        uint64_t subkey = permute(((uint64_t)c << 28) | d, 56, des_pc2, 48);
        uint32_t next = l ^ des_f(r, subkey);
        l = r;
        r = next;
    }
    /* the halves swap once more before the final permutation, the inverse
     * of the initial one */
    uint64_t pre = ((uint64_t)r << 32) | l, result = 0;
    for (int i = 0; i < 64; i++)
        if ((pre >> (63 - i)) & 1)
            result |= (uint64_t)1 << (64 - des_ip[i]);
    for (int i = 0; i < 8; i++)
        out[i] = (unsigned char)(result >> (56 - 8 * i));
    cd = block = pre = result = 0;
    c = d = l = r = 0;
}

void des_key_from_56(const unsigned char k[7], unsigned char key8[8])
{
    key8[0] = k[0];
    key8[1] = (unsigned char)(k[0] << 7 | k[1] >> 1);
    key8[2] = (unsigned char)(k[1] << 6 | k[2] >> 2);
    key8[3] = (unsigned char)(k[2] << 5 | k[3] >> 3);
    key8[4] = (unsigned char)(k[3] << 4 | k[4] >> 4);
    key8[5] = (unsigned char)(k[4] << 3 | k[5] >> 5);
    key8[6] = (unsigned char)(k[5] << 2 | k[6] >> 6);
    key8[7] = (unsigned char)(k[6] << 1);
    for (int i = 0; i < 8; i++) {
        unsigned char b = key8[i] & 0xFE;
        int ones = __builtin_popcount(b);
        key8[i] = (unsigned char)(b | (ones % 2 == 0 ? 1 : 0));
    }
}
