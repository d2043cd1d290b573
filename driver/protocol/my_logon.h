/*
 * Logon: handshake decoding, the handshake response and the authentication
 * exchange. The session set-up that follows a successful logon belongs to
 * the connection (my_connect).
 *
 * my_logon runs the whole sequence on a connection whose settings are
 * filled: the socket through the server list, the server's greeting, the
 * optional TLS request, the response with user, scrambled password and
 * database, then the authentication rounds (auth switch, old-password
 * request, public-key exchange) until the server answers OK or an error.
 * What each authentication method answers is my_logon_methods.h.
 *
 * Return codes: 0 success; -1 failure with diagnostics posted; -6 malformed
 * or unexpected protocol data (08S01 or the server's error posted).
 */
#ifndef QV_MY_LOGON_H
#define QV_MY_LOGON_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "my_handles.h"
#include "protocol/my_pkt.h"

/* The logon alone, no session statements (the connection that sends KILL
 * QUERY needs nothing more): 0 logged on; -1 failed with diagnostics posted
 * on the connection. A failed logon closes the socket again and leaves
 * connected at 0. */
int my_logon(my_connection *c);

/* The logon over the link c->sock already holds, as my_logon runs it
 * once the socket is open: greeting, optional TLS, handshake response and
 * the authentication rounds. 0, or -1 with diagnostics posted; the caller
 * closes the link after a failure. */
int logon_exchange(my_connection *c);

/* Decodes the server's initial handshake (protocol 10 or 9) in p into c:
 * protocol and server version, connection id, scramble, capability and
 * status flags, character set, auth plugin data length and name. Every field
 * is read within the packet; a greeting cut short is 08S01. An ERR packet in
 * place of the greeting posts the server's error. 0, or -6 (posted). */
int decode_handshake_packet(my_connection *c, my_packet *p);

/* Clears what a greeting fills in (version, connection id, scramble,
 * capability and status flags, character set, plugin name and data
 * length): nothing of an earlier greeting on the handle may leak into the
 * next session. */
void clear_handshake(my_connection *c);

/* Splits c->server_version into version_major/minor/patch (missing parts 0).
 * A MariaDB server's "5.5.5-" compatibility prefix is dropped from the text
 * first, so that the numbers and the text are MariaDB's own. */
void decode_server_version(my_connection *c);

/* The character-set number a handshake response or TLS request carries: the
 * requested one (ReqCharSet, which then also becomes the connection's) or
 * the handshake's. who names the caller in the trace line. */
int request_charset(my_connection *c, const char *who);

/* The handshake response for a 4.1 server, and the one for an older server
 * (protocol 10 without CLIENT_PROTOCOL_41). Both record the client flags
 * they send and, with CLIENT_CONNECT_WITH_DB, the current database. New
 * packet (sequence from the connection), or null with diagnostics posted:
 * HY001, or 08S01 when the server's scramble is too short for the password. */
/* The capability flags the 4.1 response sends (CLIENT_SSL once TLS is up).
 * The TLS request carries the same set: a server may take its flags from
 * the request and never look at the response's again. */
uint32_t client_flags_41(const my_connection *c, const my_string *database);
my_packet *create_handshake_packet_41(my_connection *c, const my_string *user,
                                      const my_string *password, const my_string *database);
my_packet *create_handshake_packet_40(my_connection *c, const my_string *user,
                                      const my_string *password, const my_string *database);

/* ---- password scrambles (my_scramble.cpp) ---- */
enum {
    NATIVE_SCRAMBLE_LENGTH = 20,   /* mysql_native_password: salt and result */
    OLD_SCRAMBLE_LENGTH = 8,       /* mysql_old_password: salt and result */
};

/* SHA1(pw) XOR SHA1(salt[0..19] + SHA1(SHA1(pw))). 0, or -1 when OpenSSL
 * fails (nothing posted). */
int native_scramble(const unsigned char *pw, size_t pw_len, const unsigned char *salt,
                    unsigned char out[NATIVE_SCRAMBLE_LENGTH]);

/* The pre-4.1 scramble of pw (up to its first 0 byte) with the first 8
 * salt bytes; an empty password gives 8 zero bytes. */
void old_scramble(const unsigned char *pw, size_t pw_len, const unsigned char *salt,
                  unsigned char out[OLD_SCRAMBLE_LENGTH]);

/* sha256_password without TLS: the password bytes and a 0 byte, XORed with
 * the 20-byte scramble, encrypted with the server's RSA public key (PEM text
 * key[0..key_len)) under OAEP padding. out receives the key-sized cipher
 * text. 0, or -6 with HY000 posted ("failed to create public key" when the
 * key is unusable). */
int generate_sha256(my_connection *c, const unsigned char *scramble, const unsigned char *pw,
                    size_t pw_len, const char *key, size_t key_len,
                    std::vector<unsigned char> *out);

#endif
