/*
 * caching_sha2_password, the default method of MySQL 8 and later.
 *
 * The client first answers with a scramble of the password and the server's
 * 20-byte nonce. The server then says, in a two-byte packet 0x01 <code>,
 * either that its cache of the account's hash accepted the scramble (code 3,
 * fast authentication: the OK follows) or that it needs the password itself
 * (code 4, full authentication). The password then goes out in clear only
 * over TLS or a local socket; on an open wire it is encrypted with the
 * server's RSA public key (from the PublicKeyFile setting, or asked for with
 * the byte 0x02 and sent by the server as 0x01 followed by the PEM text),
 * as for sha256_password.
 *
 * Everything here judges packets from a server that has proved nothing: a
 * status packet of another size, an unknown code or a key that is no RSA key
 * is a protocol error (08S01), and no answer of the server can make the
 * password go out readable on an unencrypted network connection.
 */
#ifndef QV_MY_SHA2_H
#define QV_MY_SHA2_H

#include <stddef.h>

#include <vector>

#include "my_handles.h"
#include "protocol/my_pkt.h"

enum {
    SHA2_SCRAMBLE_LENGTH = 32,   /* the fast-path answer */
    SHA2_NONCE_LENGTH = 20,      /* the server's nonce it is computed with */
};

/* XOR(SHA256(pw), SHA256(SHA256(SHA256(pw)) + nonce[0..19])) (in
 * my_scramble.cpp). 0, or -1 when OpenSSL fails (nothing posted). */
int caching_sha2_scramble(const unsigned char *pw, size_t pw_len, const unsigned char *nonce,
                          unsigned char out[SHA2_SCRAMBLE_LENGTH]);

/* Where the exchange stands (the logon keeps it between packets). */
enum sha2_phase {
    SHA2_IDLE = 0,       /* no caching_sha2_password exchange running */
    SHA2_SCRAMBLED,      /* scramble sent: the status packet is awaited */
    SHA2_KEY_ASKED,      /* 0x02 sent: the server's public key is awaited */
    SHA2_FAST_DONE,      /* code 3 received: only the OK or an error may follow */
};

/* What the logon sends after a 0x01 packet of the exchange. */
enum sha2_action {
    SHA2_NOTHING,        /* fast authentication succeeded: read the next packet */
    SHA2_SEND_CLEAR,     /* the password and a 0 byte (private channel only) */
    SHA2_SEND_EMPTY,     /* a single 0 byte: no password to protect */
    SHA2_ENCRYPT_FILE,   /* encrypt with the PublicKeyFile key */
    SHA2_ASK_KEY,        /* send 0x02 */
    SHA2_ENCRYPT_SERVER, /* encrypt with the key now in *key */
    SHA2_FAILED,         /* diagnostics posted */
};

/* Judges one 0x01 packet (cursor at the 0x01 byte) in phase *phase and
 * moves the phase on. private_channel: TLS or a local socket;
 * has_password, has_key_file: the PWD and PublicKeyFile settings are
 * given. *key receives the server's PEM key for SHA2_ENCRYPT_SERVER. */
sha2_action caching_sha2_step(my_connection *c, my_packet *p, int *phase, int private_channel,
                              int has_password, int has_key_file, std::vector<char> *key);

#endif
