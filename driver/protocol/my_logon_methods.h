/*
 * The authentication methods' answers: what the logon sends when the server
 * switches to a method (mysql_native_password, mysql_old_password,
 * mysql_clear_password, sha256_password, authentication_windows_client,
 * auth_gssapi_client) and when a running method's exchange goes on (the
 * NTLM CHALLENGE, Kerberos tokens, the server's public key).
 *
 * The logon's loop reads the server's packets and hands them here; the
 * answers never read from the wire themselves, except the Kerberos steps,
 * which leave the server's next packet in auth_state::next.
 *
 * Return codes: 0 answered; -1 failure with diagnostics posted.
 */
#ifndef QV_MY_LOGON_METHODS_H
#define QV_MY_LOGON_METHODS_H

#include <stddef.h>

#include <vector>

#include <openssl/crypto.h>

#include "my_handles.h"
#include "protocol/my_pkt.h"
#include "protocol/my_sha2.h"

/* Bytes that hold a password or something derived from it; wiped when they
 * go out of scope. */
struct secret_bytes {
    std::vector<unsigned char> b;
    ~secret_bytes()
    {
        if (!b.empty())
            OPENSSL_cleanse(b.data(), b.size());
    }
    const unsigned char *data() const { return b.data(); }
    size_t size() const { return b.size(); }
    bool empty() const { return b.empty(); }
};

/* The setting has text. */
static inline bool given(const my_string *s) { return s && s->length > 0; }

/* A text setting in the connection's wire encoding (UTF-8 or one byte per
 * code unit), without terminator. */
void wire_text(const my_connection *c, const my_string *s, secret_bytes *out);

/* The server's scramble (have bytes) cannot carry method, which needs need
 * bytes: answering with bytes that were never sent would read beyond what
 * the server gave. Posts 08S01 and returns -6. */
int short_scramble(my_connection *c, const char *method, int have, int need);

/* State of the authentication rounds. */
struct auth_state {
    int rounds = 0;
    int awaiting_key = 0;                  /* sha256_password sent 0x01 */
    int ntlm = 0;                          /* NEGOTIATE sent, CHALLENGE awaited */
    int krb = 0;                           /* Kerberos tokens being exchanged */
    int sha2 = SHA2_IDLE;                  /* caching_sha2_password's phase */
    std::vector<unsigned char> method_data;   /* of the latest auth switch */
    /* A server packet an exchange has already read (the Kerberos steps read
     * the server's answer themselves): the loop examines it next. */
    my_packet *next = nullptr;
    ~auth_state() { packet_free(next); }
};

/* 0xFE from a server with plugin authentication: the method's name and
 * data, answered by the method (or HY000 "Authentication method '%s' not
 * yet supported"). */
int auth_switch(my_connection *c, auth_state *st, my_packet *p);

/* 0x01: extra data of the running method (the NTLM CHALLENGE, a Kerberos
 * token, or sha256_password's public key). */
int extra_data_packet(my_connection *c, auth_state *st, my_packet *p);

/* The pre-4.1 answer to the old-password request, scrambled with salt. */
int send_old_answer(my_connection *c, const unsigned char *salt);

#endif
