/*
 * The hash and cipher primitives NTLM needs: MD4, MD5, HMAC-MD5 and
 * single-block DES.
 *
 * They are the driver's own rather than OpenSSL's: OpenSSL 3 keeps MD4 and
 * DES in its legacy provider, which may be missing on a machine (or refused
 * under a FIPS configuration), and loading it would change the provider set
 * of the whole application. NTLM needs a handful of blocks per logon, so
 * plain portable code serves.
 *
 * None of these is for new protocol designs; NTLM leaves no choice.
 */
#ifndef QV_MY_AUTH_CRYPTO_H
#define QV_MY_AUTH_CRYPTO_H

#include <stddef.h>
#include <stdint.h>

enum { MD4_DIGEST = 16, MD5_DIGEST = 16, DES_BLOCK = 8 };

void md4_digest(const void *data, size_t n, unsigned char out[MD4_DIGEST]);
void md5_digest(const void *data, size_t n, unsigned char out[MD5_DIGEST]);

/* HMAC-MD5 over the concatenation of two pieces (b may be null with
 * b_len 0): NTLM always MACs a challenge followed by something else. */
void hmac_md5(const unsigned char *key, size_t key_len, const void *a, size_t a_len,
              const void *b, size_t b_len, unsigned char out[MD5_DIGEST]);

/* DES encryption of one block with an 8-byte key (parity bits ignored). */
void des_encrypt_block(const unsigned char key[8], const unsigned char in[DES_BLOCK],
                       unsigned char out[DES_BLOCK]);

/* The 7-byte NTLM key spread over 8 bytes, 7 bits each, odd parity. */
void des_key_from_56(const unsigned char key7[7], unsigned char key8[8]);

/* Overwrites a secret so the compiler cannot drop the store. */
void secure_wipe(void *p, size_t n);

#endif
