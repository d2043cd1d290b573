/*
 * Kerberos logon: tokens from the platform's security interface carried to
 * the server, for authentication_windows_client with the Kerberos setting on
 * and for auth_gssapi_client.
 *
 * On Windows the interface is SSPI; here GSS-API (MIT Kerberos) stands in
 * for it behind a small layer with the four operations the exchange needs:
 * acquire outbound credentials, start a context for a service principal,
 * continue it with the server's tokens until it is complete, and release
 * both. GSS status codes are mapped onto the SSPI status names the
 * diagnostics and the trace use.
 *
 * The context record (struct krb_context) lives in c->krb_context from the
 * first token request until the exchange fails or the session is closed.
 *
 * Return codes: 0 success; -6 failure with diagnostics posted (08001 for
 * the security interface, 08S01 for transport and framing).
 */
#ifndef QV_MY_WINKRB_H
#define QV_MY_WINKRB_H

#include <stddef.h>
#include <stdint.h>

#include "my_handles.h"
#include "protocol/my_pkt.h"

/* SSPI status values the diagnostics name. */
enum : uint32_t {
    SEC_E_OK = 0,
    SEC_I_CONTINUE_NEEDED = 0x90312,
    SEC_E_INSUFFICIENT_MEMORY = 0x80090300,
    SEC_E_INVALID_HANDLE = 0x80090301,
    SEC_E_UNSUPPORTED_FUNCTION = 0x80090302,
    SEC_E_TARGET_UNKNOWN = 0x80090303,
    SEC_E_INTERNAL_ERROR = 0x80090304,
    SEC_E_SECPKG_NOT_FOUND = 0x80090305,
    SEC_E_NOT_OWNER = 0x80090306,
    SEC_E_INVALID_TOKEN = 0x80090308,
    SEC_E_LOGON_DENIED = 0x8009030C,
    SEC_E_UNKNOWN_CREDENTIALS = 0x8009030D,
    SEC_E_NO_CREDENTIALS = 0x8009030E,
    SEC_E_NO_AUTHENTICATING_AUTHORITY = 0x80090311,
    SEC_E_WRONG_PRINCIPAL = 0x80090322,
};

/* The name of a status for the trace and the diagnostics; "unknown code"
 * for any value outside the table. */
const char *krb_status_name(uint32_t status);

/* The security layer: GSS-API by default. Tests replace it with a scripted
 * token source. Every call gets the layer's own state pointer. */
struct krb_token {
    unsigned char *data;   /* owned by the layer until release_token */
    size_t length;
};
struct krb_layer {
    /* Outbound credentials of the current user for package "Kerberos" or
     * "Negotiate". *cred receives the layer's handle. SSPI-style status. */
    uint32_t (*acquire)(void *self, const char *package, void **cred, char *detail, size_t detail_size);
    /* First call: *ctx null, principal set, input empty. Later calls: the
     * existing *ctx, principal null, the server's token as input. */
    uint32_t (*init)(void *self, void *cred, void **ctx, const char *principal,
                     const unsigned char *input, size_t input_len, krb_token *output,
                     char *detail, size_t detail_size);
    void (*release_token)(void *self, krb_token *t);
    void (*release)(void *self, void *cred, void *ctx);
    void *self;
};
/* The layer in use (GSS-API unless a test installed another). */
const krb_layer *krb_get_layer(void);
/* Installs a layer; null restores GSS-API. For tests. */
void krb_set_layer(const krb_layer *layer);

/* Token request (my_gss_get_auth_buffer): a new context record in
 * c->krb_context for principal, with the package "Negotiate" when
 * negotiate is set, else "Kerberos". 0, or -6 (posted, nothing kept). */
int my_gss_get_auth_buffer(my_connection *c, const my_string *principal, int negotiate);

/* authentication_windows_client with Kerberos on: the first token for the
 * Principal setting or "MYSQL@<server in use>", split as the NTLM negotiate
 * message is. *out: the packet the logon sends next. 0 or -6. */
int krb_start(my_connection *c, my_packet **out);

/* The server's token in p (cursor after the 0x01 byte). *out receives a
 * token packet to send while the context needs another round, or, once the
 * context is complete, the server's next packet (after sending a last token
 * when the interface produced one), or nothing when no context is running.
 * 0 or -6 (the context is released). */
int krb_continue(my_connection *c, my_packet *p, my_packet **out);

/* auth_gssapi_client: method data = principal, 0 byte, optional mechanism.
 * Runs the whole exchange; *out receives the server's final packet, which
 * the logon examines (OK or error). 0 or -6 (context released). */
int krb_gssapi_exchange(my_connection *c, const unsigned char *data, size_t len, my_packet **out);

/* 1 when a context exists and needs another round. */
int krb_in_progress(const my_connection *c);

/* Releases the context record and both handles; safe when there is none. */
void krb_free_context(my_connection *c);

#endif
