/*
 * client_ed25519, MariaDB's ed25519 method: the server sends a 32-byte
 * nonce and the client answers with the 64-byte Ed25519 signature of it.
 * The key is not a stored seed but the password itself: the expanded secret
 * key is SHA-512 of the password (of any length), where standard Ed25519
 * takes SHA-512 of a 32-byte seed. The server keeps only the public key.
 *
 * The curve arithmetic is libsodium's.
 */
#ifndef QV_MY_ED25519_H
#define QV_MY_ED25519_H

#include <stddef.h>

enum {
    ED25519_NONCE_LENGTH = 32,
    ED25519_SIGNATURE_LENGTH = 64,
    ED25519_PUBLIC_KEY_LENGTH = 32,
};

/* Signs msg with the key derived from pw. 0, or -1 when libsodium cannot be
 * initialised or the derived scalar is degenerate. public_key, when not
 * null, receives the matching public key (what the server stores). */
int ed25519_password_sign(const unsigned char *pw, size_t pw_len, const unsigned char *msg,
                          size_t msg_len, unsigned char sig[ED25519_SIGNATURE_LENGTH],
                          unsigned char *public_key);

#endif
