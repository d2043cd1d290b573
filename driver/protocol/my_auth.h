/*
 * NTLM for the authentication_windows_client method, computed by the driver
 * itself: the NEGOTIATE message, the server's CHALLENGE with its target
 * information, and the AUTHENTICATE message with NTLMv2 or LM/NTLMv1
 * responses (the NTLMv2 setting).
 *
 * The CHALLENGE comes from a server that has proved nothing yet: it is copied
 * out of the packet through the bounded reader and every security buffer and
 * AV pair is checked against the message's end before it is used. A message
 * cut short, a buffer that points outside the message or a target-info list
 * without its terminator is 08S01 "unexpected end of packet".
 *
 * Return codes: 0 success; -1 failure with diagnostics posted (send failed,
 * no memory); -6 malformed challenge or missing domain (posted).
 */
#ifndef QV_MY_AUTH_H
#define QV_MY_AUTH_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "my_handles.h"
#include "protocol/my_pkt.h"

/* Negotiate flags by their NTLMSSP names. */
enum : uint32_t {
    NTLM_NEGOTIATE_UNICODE = 0x1,
    NTLM_NEGOTIATE_OEM = 0x2,
    NTLM_REQUEST_TARGET = 0x4,
    NTLM_NEGOTIATE_SIGN = 0x10,
    NTLM_NEGOTIATE_SEAL = 0x20,
    NTLM_NEGOTIATE_DATAGRAM_STYLE = 0x40,
    NTLM_NEGOTIATE_LM_KEY = 0x80,
    NTLM_NEGOTIATE_NETWARE = 0x100,
    NTLM_NEGOTIATE_NTLM = 0x200,
    NTLM_NEGOTIATE_NT_ONLY = 0x400,
    NTLM_NEGOTIATE_DOMAIN_SUPPLIED = 0x1000,
    NTLM_NEGOTIATE_WORKSTATION_SUPPLIED = 0x2000,
    NTLM_NEGOTIATE_THIS_IS_LOCAL_CALL = 0x4000,
    NTLM_NEGOTIATE_ALWAYS_SIGN = 0x8000,
    NTLM_TARGET_TYPE_DOMAIN = 0x10000,
    NTLM_TARGET_TYPE_SERVER = 0x20000,
    NTLM_TARGET_TYPE_SHARE = 0x40000,
    NTLM_NEGOTIATE_NTLM2 = 0x80000,
    NTLM_NEGOTIATE_IDENTIFY = 0x100000,
    NTLM_REQUEST_NO_NT_SESSION_KEY = 0x400000,
    NTLM_NEGOTIATE_TARGET_INFO = 0x800000,
    NTLM_NEGOTIATE_VERSION = 0x2000000,
    NTLM_NEGOTIATE_128 = 0x20000000,
    NTLM_NEGOTIATE_KEY_EXCH = 0x40000000,
    NTLM_NEGOTIATE_56 = 0x80000000,
};

/* ---- the exchange (the logon's authentication loop calls these) ---- */

/* Chooses the NTLM user and domain (c->ntlm_user, c->ntlm_domain) from UID
 * and WindowsUser and builds the NEGOTIATE message. A message longer than
 * one first packet holds is split (auth_split_first): the first part is
 * sent here. *out receives the packet the logon sends next. 0 or -1. */
int create_logon_packet(my_connection *c, my_packet **out);

/* Decodes the CHALLENGE in p and builds the AUTHENTICATE message into *out
 * (sent whole by the caller). prefix_skipped 0: p's cursor is still on the
 * 0x01 byte that marks extra authentication data, which is skipped first.
 * 0, -1 (no memory or no random bytes, posted) or -6 (posted). */
int decode_auth_token(my_connection *c, my_packet *p, my_packet **out, int prefix_skipped);

/* "ntlm log_ntlm_flags: flags=%x" and a "+NAME" line per set flag. */
void log_ntlm_flags(my_connection *c, uint32_t flags);

/* ---- shared with Kerberos and the logon ---- */

/* Sends a packet of the logon (it may carry a password or something derived
 * from one), then wipes and frees it. A null packet sends nothing: 0. 0, or
 * -1 with 08S01 posted. */
int auth_send_packet(my_connection *c, my_packet *p);
/* Sends n bytes as one such packet: 0, or -1 with HY001 or 08S01 posted. */
int auth_send_bytes(my_connection *c, const void *bytes, size_t n);

/* The first message of a Windows-authentication exchange must fit the
 * server's first read of 255 bytes: a longer one goes out as its first 254
 * bytes and a byte counting the 512-byte blocks of the whole message, and
 * the rest follows as the next packet. *out receives the packet to send next
 * (the whole message when it fits). 0, or -1 (posted: send failed, no
 * memory, or a message too long to count in one byte of blocks). */
int auth_split_first(my_connection *c, const unsigned char *msg, size_t n, my_packet **out);

/* ---- the NTLM computations (MS-NLMP 3.3), exposed for tests ---- */
enum { NTLM_HASH = 16, NTLM_CHALLENGE = 8, NTLM_V1_RESPONSE = 24, NTLM_TIMESTAMP = 8 };

/* MD4 of the password's UTF-16LE form; an absent password is empty. */
void ntlm_nt_hash(const my_string *password, unsigned char out[NTLM_HASH]);
/* DES of "KGS!@#$%" under the first 14 characters, uppercased, low bytes. */
void ntlm_lm_hash(const my_string *password, unsigned char out[NTLM_HASH]);
/* The challenge DES-encrypted under the hash zero-padded to three keys. */
void ntlm_v1_response(const unsigned char hash[NTLM_HASH],
                      const unsigned char challenge[NTLM_CHALLENGE],
                      unsigned char out[NTLM_V1_RESPONSE]);
/* HMAC(NT hash, uppercase(user) + domain), both UTF-16LE. */
void ntlm_v2_key(const unsigned char nt_hash[NTLM_HASH], const my_string *user,
                 const my_string *domain, unsigned char out[NTLM_HASH]);
/* HMAC(key, server ch + client ch) followed by the client challenge. */
void ntlm_lmv2_response(const unsigned char key[NTLM_HASH],
                        const unsigned char server_ch[NTLM_CHALLENGE],
                        const unsigned char client_ch[NTLM_CHALLENGE],
                        unsigned char out[NTLM_V1_RESPONSE]);
/* NTProofStr = HMAC(key, server challenge + blob). */
void ntlm_v2_proof(const unsigned char key[NTLM_HASH],
                   const unsigned char server_ch[NTLM_CHALLENGE], const unsigned char *blob,
                   size_t blob_len, unsigned char out[NTLM_HASH]);

#endif
