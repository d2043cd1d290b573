/*
 * client_ed25519: Ed25519 signing with the secret key expanded from the
 * password (see my_ed25519.h).
 *
 * libsodium's crypto_sign_* derive the expanded key from a 32-byte seed
 * themselves, so the signature is put together from its lower-level parts,
 * exactly as RFC 8032 signs once the key is expanded:
 *   az = SHA-512(password); a = clamp(az[0..31]); A = a·B
 *   r = SHA-512(az[32..63] || msg) mod L; R = r·B
 *   k = SHA-512(R || A || msg) mod L;  S = (r + k·a) mod L
 *   signature = R || S
 */
#include "protocol/my_ed25519.h"

#include <string.h>


#include <sodium.h>

namespace {

/* Wipes everything derived from the password when the signing ends. */
struct ed_secrets {
    unsigned char az[crypto_hash_sha512_BYTES];
    unsigned char wide[crypto_hash_sha512_BYTES];
    unsigned char a[crypto_core_ed25519_SCALARBYTES];
    unsigned char r[crypto_core_ed25519_SCALARBYTES];
    ~ed_secrets() { sodium_memzero(this, sizeof *this); }
};

/* SHA-512 over up to three pieces, reduced modulo the group order. */
int hash_reduce(unsigned char out[crypto_core_ed25519_SCALARBYTES], const unsigned char *a,
                size_t a_len, const unsigned char *b, size_t b_len, const unsigned char *m,
                size_t m_len)
{
    crypto_hash_sha512_state st;
    unsigned char h[crypto_hash_sha512_BYTES];
    if (crypto_hash_sha512_init(&st) != 0 || crypto_hash_sha512_update(&st, a, a_len) != 0 ||
        (b_len && crypto_hash_sha512_update(&st, b, b_len) != 0) ||
        (m_len && crypto_hash_sha512_update(&st, m, m_len) != 0) ||
        crypto_hash_sha512_final(&st, h) != 0)
        return -1;
    crypto_core_ed25519_scalar_reduce(out, h);
    sodium_memzero(h, sizeof h);
    sodium_memzero(&st, sizeof st);
    return 0;
}

} // namespace

int ed25519_password_sign(const unsigned char *pw, size_t pw_len, const unsigned char *msg,
                          size_t msg_len, unsigned char sig[ED25519_SIGNATURE_LENGTH],
                          unsigned char *public_key)
{
    if (sodium_init() < 0)
        return -1;
    ed_secrets s;
    unsigned char A[crypto_core_ed25519_BYTES], k[crypto_core_ed25519_SCALARBYTES];
    static const unsigned char none = 0;
    if (crypto_hash_sha512(s.az, pw_len ? pw : &none, pw_len) != 0)
        return -1;
    /* A = clamp(az[0..31])·B; the clamping variant applies RFC 8032's bits */
    if (crypto_scalarmult_ed25519_base(A, s.az) != 0)
        return -1;
    /* the same clamped scalar, reduced, for S */
    memset(s.wide, 0, sizeof s.wide);
    memcpy(s.wide, s.az, 32);
    s.wide[0] &= 248;
    s.wide[31] &= 127;
    s.wide[31] |= 64;
    crypto_core_ed25519_scalar_reduce(s.a, s.wide);

    if (hash_reduce(s.r, s.az + 32, 32, msg, msg_len, nullptr, 0) != 0)
        return -1;
    if (crypto_scalarmult_ed25519_base_noclamp(sig, s.r) != 0)   /* R */
        return -1;
    if (hash_reduce(k, sig, 32, A, sizeof A, msg, msg_len) != 0)
        return -1;
    unsigned char ka[crypto_core_ed25519_SCALARBYTES];
    crypto_core_ed25519_scalar_mul(ka, k, s.a);
    crypto_core_ed25519_scalar_add(sig + 32, ka, s.r);   /* S */
    sodium_memzero(ka, sizeof ka);
    if (public_key)
        memcpy(public_key, A, sizeof A);
    return 0;
}
