/*
 * Kerberos logon: the token exchange of authentication_windows_client (with
 * the Kerberos setting) and of auth_gssapi_client, over a small security
 * layer. The default layer is GSS-API from MIT Kerberos, standing in for
 * the SSPI calls of the Windows driver; its statuses are reported under the
 * SSPI names so that diagnostics read the same on every platform.
 */
#include "protocol/my_winkrb.h"

#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>
#include <vector>

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5.h>

#include "frame/my_handle.h"
#include "protocol/my_auth.h"
#include "protocol/my_auth_crypto.h"
#include "protocol/my_decode.h"

namespace {

enum {
    /* A Kerberos token is a ticket and an authenticator: a few kilobytes,
     * more with a large PAC. Anything beyond this is not a token. */
    MAX_SERVER_TOKEN = 64 * 1024,
    DETAIL_SIZE = 512,
};

/* ISC_REQ_MUTUAL_AUTH | ISC_REQ_REPLAY_DETECT | ISC_REQ_ALLOCATE_MEMORY |
 * ISC_REQ_INTEGRITY, as the Windows driver asks; GSS has no allocate flag. */
const OM_uint32 GSS_REQUEST_FLAGS = GSS_C_MUTUAL_FLAG | GSS_C_REPLAY_FLAG | GSS_C_INTEG_FLAG;

/* ------------------------------------------------- the GSS-API layer */

gss_OID_desc spnego_oid = {6, (void *)"\x2b\x06\x01\x05\x05\x02"};

struct gss_cred_box {
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    gss_OID mech = GSS_C_NO_OID;
};

struct gss_ctx_box {
    gss_ctx_id_t ctx = GSS_C_NO_CONTEXT;
    gss_name_t target = GSS_C_NO_NAME;
};

/* The GSS meaning of a failure under the SSPI name closest to it; the
 * Kerberos minor code tells apart the cases GSS lumps into GSS_S_FAILURE. */
uint32_t sspi_status(OM_uint32 major, OM_uint32 minor)
{
    if (major == GSS_S_COMPLETE)
        return SEC_E_OK;
    if (major == GSS_S_CONTINUE_NEEDED)
        return SEC_I_CONTINUE_NEEDED;
    switch (GSS_ROUTINE_ERROR(major)) {
    case GSS_S_BAD_MECH: return SEC_E_SECPKG_NOT_FOUND;
    case GSS_S_BAD_NAME:
    case GSS_S_BAD_NAMETYPE: return SEC_E_TARGET_UNKNOWN;
    case GSS_S_DEFECTIVE_TOKEN:
    case GSS_S_BAD_SIG: return SEC_E_INVALID_TOKEN;
    case GSS_S_NO_CRED:
    case GSS_S_CREDENTIALS_EXPIRED: return SEC_E_NO_CREDENTIALS;
    case GSS_S_DEFECTIVE_CREDENTIAL: return SEC_E_UNKNOWN_CREDENTIALS;
    case GSS_S_NO_CONTEXT: return SEC_E_INVALID_HANDLE;
    case GSS_S_UNAVAILABLE: return SEC_E_UNSUPPORTED_FUNCTION;
    default: break;
    }
    switch ((krb5_error_code)minor) {
    case KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN: return SEC_E_TARGET_UNKNOWN;
    case KRB5_KDC_UNREACH:
    case KRB5_REALM_UNKNOWN:
    case KRB5_REALM_CANT_RESOLVE: return SEC_E_NO_AUTHENTICATING_AUTHORITY;
    case KRB5_FCC_NOFILE:
    case KRB5_CC_NOTFOUND:
    case KRB5KRB_AP_ERR_TKT_EXPIRED: return SEC_E_NO_CREDENTIALS;
    case KRB5KRB_AP_ERR_MODIFIED: return SEC_E_WRONG_PRINCIPAL;
    case ENOMEM: return SEC_E_INSUFFICIENT_MEMORY;
    default: return SEC_E_INTERNAL_ERROR;
    }
}

void append_status_text(std::string *out, OM_uint32 code, int type)
{
    OM_uint32 minor = 0, more = 0;
    do {
        gss_buffer_desc text = GSS_C_EMPTY_BUFFER;
        if (GSS_ERROR(gss_display_status(&minor, code, type, GSS_C_NO_OID, &more, &text)))
            return;
        if (!out->empty())
            *out += "; ";
        out->append((const char *)text.value, text.length);
        gss_release_buffer(&minor, &text);
    } while (more);
}

/* GSS's own words for a failure, for the trace and a second diagnostic. */
void gss_detail(OM_uint32 major, OM_uint32 minor, char *detail, size_t size)
{
    if (!detail || !size)
        return;
    std::string text;
    append_status_text(&text, major, GSS_C_GSS_CODE);
    if (minor)
        append_status_text(&text, minor, GSS_C_MECH_CODE);
    snprintf(detail, size, "%s", text.c_str());
}

uint32_t gss_acquire(void *, const char *package, void **cred, char *detail, size_t detail_size)
{
    gss_cred_box *box = new (std::nothrow) gss_cred_box();
    if (!box)
        return SEC_E_INSUFFICIENT_MEMORY;
    box->mech = strcmp(package, "Negotiate") == 0 ? &spnego_oid : (gss_OID)gss_mech_krb5;
    gss_OID_set_desc mechs = {1, box->mech};
    OM_uint32 minor = 0;
    OM_uint32 major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechs,
                                       GSS_C_INITIATE, &box->cred, nullptr, nullptr);
    if (GSS_ERROR(major)) {
        gss_detail(major, minor, detail, detail_size);
        delete box;
        return sspi_status(major, minor);
    }
    *cred = box;
    return SEC_E_OK;
}

/* A service principal as the server names it ("service/host@REALM", or a
 * user-style "name@REALM") is a Kerberos principal name; the driver's own
 * "MYSQL@host" form names a service on a host. A name after the '@' in
 * upper case only is taken for a realm. */
gss_OID name_type(const char *principal)
{
    if (strchr(principal, '/'))
        return (gss_OID)GSS_KRB5_NT_PRINCIPAL_NAME;
    const char *at = strrchr(principal, '@');
    if (!at)
        return (gss_OID)GSS_KRB5_NT_PRINCIPAL_NAME;
    bool letters = false;
    for (const char *p = at + 1; *p; p++) {
        if ((*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9'))
            return GSS_C_NT_HOSTBASED_SERVICE;
        if (*p >= 'A' && *p <= 'Z')
            letters = true;
    }
    return letters ? (gss_OID)GSS_KRB5_NT_PRINCIPAL_NAME : GSS_C_NT_HOSTBASED_SERVICE;
}

uint32_t gss_init(void *, void *cred, void **ctx, const char *principal,
                  const unsigned char *input, size_t input_len, krb_token *output, char *detail,
                  size_t detail_size)
{
    gss_cred_box *cb = static_cast<gss_cred_box *>(cred);
    gss_ctx_box *box = static_cast<gss_ctx_box *>(*ctx);
    OM_uint32 major, minor = 0;
    output->data = nullptr;
    output->length = 0;
    if (!box) {
        box = new (std::nothrow) gss_ctx_box();
        if (!box)
            return SEC_E_INSUFFICIENT_MEMORY;
        gss_buffer_desc name = {strlen(principal), (void *)principal};
        major = gss_import_name(&minor, &name, name_type(principal), &box->target);
        if (GSS_ERROR(major)) {
            gss_detail(major, minor, detail, detail_size);
            delete box;
            return sspi_status(major, minor);
        }
        *ctx = box;
    }
    gss_buffer_desc in = {input_len, (void *)input}, out = GSS_C_EMPTY_BUFFER;
    major = gss_init_sec_context(&minor, cb ? cb->cred : GSS_C_NO_CREDENTIAL, &box->ctx,
                                 box->target, cb ? cb->mech : GSS_C_NO_OID, GSS_REQUEST_FLAGS, 0,
                                 GSS_C_NO_CHANNEL_BINDINGS, input_len ? &in : GSS_C_NO_BUFFER,
                                 nullptr, &out, nullptr, nullptr);
    if (GSS_ERROR(major)) {
        gss_detail(major, minor, detail, detail_size);
        gss_release_buffer(&minor, &out);
        return sspi_status(major, minor);
    }
    if (out.length) {
        output->data = (unsigned char *)malloc(out.length);
        if (!output->data) {
            gss_release_buffer(&minor, &out);
            return SEC_E_INSUFFICIENT_MEMORY;
        }
        memcpy(output->data, out.value, out.length);
        output->length = out.length;
    }
    gss_release_buffer(&minor, &out);
    return sspi_status(major, minor);
}

void gss_token_release(void *, krb_token *t)
{
    free(t->data);
    t->data = nullptr;
    t->length = 0;
}

void gss_release(void *, void *cred, void *ctx)
{
    OM_uint32 minor = 0;
    if (gss_ctx_box *box = static_cast<gss_ctx_box *>(ctx)) {
        if (box->ctx != GSS_C_NO_CONTEXT)
            gss_delete_sec_context(&minor, &box->ctx, GSS_C_NO_BUFFER);
        if (box->target != GSS_C_NO_NAME)
            gss_release_name(&minor, &box->target);
        delete box;
    }
    if (gss_cred_box *box = static_cast<gss_cred_box *>(cred)) {
        if (box->cred != GSS_C_NO_CREDENTIAL)
            gss_release_cred(&minor, &box->cred);
        delete box;
    }
}

const krb_layer gss_layer = {gss_acquire, gss_init, gss_token_release, gss_release, nullptr};
const krb_layer *current_layer = &gss_layer;

/* ------------------------------------------------ the context record */

struct krb_context {
    int valid = 0;
    int continue_needed = 0;
    void *credentials = nullptr;
    void *context = nullptr;
    krb_token output = {nullptr, 0};   /* one buffer of type token */
    const krb_layer *layer = nullptr;
};

krb_context *context_of(const my_connection *c) { return static_cast<krb_context *>(c->krb_context); }

const struct {
    uint32_t code;
    const char *name;
} status_names[] = {
    {SEC_E_OK, "SEC_E_OK"},
    {SEC_I_CONTINUE_NEEDED, "SEC_I_CONTINUE_NEEDED"},
    {SEC_E_INSUFFICIENT_MEMORY, "SEC_E_INSUFFICIENT_MEMORY"},
    {SEC_E_INVALID_HANDLE, "SEC_E_INVALID_HANDLE"},
    {SEC_E_UNSUPPORTED_FUNCTION, "SEC_E_UNSUPPORTED_FUNCTION"},
    {SEC_E_TARGET_UNKNOWN, "SEC_E_TARGET_UNKNOWN"},
    {SEC_E_INTERNAL_ERROR, "SEC_E_INTERNAL_ERROR"},
    {SEC_E_SECPKG_NOT_FOUND, "SEC_E_SECPKG_NOT_FOUND"},
    {SEC_E_NOT_OWNER, "SEC_E_NOT_OWNER"},
    {SEC_E_INVALID_TOKEN, "SEC_E_INVALID_TOKEN"},
    {SEC_E_LOGON_DENIED, "SEC_E_LOGON_DENIED"},
    {SEC_E_UNKNOWN_CREDENTIALS, "SEC_E_UNKNOWN_CREDENTIALS"},
    {SEC_E_NO_CREDENTIALS, "SEC_E_NO_CREDENTIALS"},
    {SEC_E_NO_AUTHENTICATING_AUTHORITY, "SEC_E_NO_AUTHENTICATING_AUTHORITY"},
    {SEC_E_WRONG_PRINCIPAL, "SEC_E_WRONG_PRINCIPAL"},
};

/* The security layer's own explanation, when it gave one. */
void post_detail(my_connection *c, const char *detail)
{
    if (detail[0]) {
        QV_TRACE(c, LOG_ERROR, "GSS-API: %s", detail);
        post_error(c, ST_08001, 0, "GSS-API: %s", detail);
    }
}

void log_output(my_connection *c, const krb_context *k)
{
    QV_TRACE(c, LOG_DETAIL, "Display SecBufDesc: buffer count = %d", 1);
    QV_TRACE(c, LOG_CONTINUE, "Display SecBufDesc( buffer = %d, type = %d, len = %d", 0, 2,
             (int)k->output.length);
}

void drop_output(krb_context *k)
{
    if (k->output.data) {
        secure_wipe(k->output.data, k->output.length);
        k->layer->release_token(k->layer->self, &k->output);
    }
    k->output.data = nullptr;
    k->output.length = 0;
}

/* The output buffers' data as one new packet (the caller sends it). */
int token_packet(my_connection *c, const krb_context *k, my_packet **out)
{
    my_packet *p = packet_new(c);
    if (!p || (k->output.length && packet_put_bytes(p, k->output.data, k->output.length) != 0)) {
        packet_free(p);
        post_error(c, ST_HY001, 0, nullptr);
        return -6;
    }
    *out = p;
    return 0;
}

my_packet *read_server_packet(my_connection *c)
{
    c->hdr.timed_out = 0;
    my_packet *p = packet_read(c);
    if (!p) {
        QV_TRACE(c, LOG_ERROR, "my_connect: failed reading packet");
        if (c->hdr.timed_out)
            post_error(c, ST_HYT00, 0, nullptr);
        else
            post_error(c, ST_08S01, 0, "failed reading packet");
    }
    return p;
}

/* One more round with the server's token: the existing context, no target
 * name. 0 with the new status in *status, or -6 (posted). */
int continue_context(my_connection *c, krb_context *k, const unsigned char *token, size_t n,
                     uint32_t *status)
{
    QV_TRACE(c, LOG_DETAIL, "Krb5: continue");
    QV_TRACE(c, LOG_DETAIL, "decode_auth_token: packet length=%d", (int)n);
    if (n > MAX_SERVER_TOKEN) {
        post_error(c, ST_08S01, 0, "Kerberos token of %d bytes is too long", (int)n);
        return -6;
    }
    drop_output(k);
    char detail[DETAIL_SIZE] = {0};
    uint32_t st = k->layer->init(k->layer->self, k->credentials, &k->context, nullptr, token, n,
                                 &k->output, detail, sizeof detail);
    QV_TRACE(c, LOG_DETAIL, "called InitializeSecurityContextA %d, %s", (int)st,
             krb_status_name(st));
    if (st != SEC_E_OK && st != SEC_I_CONTINUE_NEEDED) {
        post_error(c, ST_08001, 0, "Krb5: InitializeSecurityContextA failed with %d, %s", (int)st,
                   krb_status_name(st));
        post_detail(c, detail);
        return -6;
    }
    log_output(c, k);
    k->continue_needed = st == SEC_I_CONTINUE_NEEDED;
    *status = st;
    return 0;
}

/* The server's token from a packet: after the 0x01 marker that frames
 * extra authentication data, or the whole payload when there is none. */
int server_token(my_connection *c, my_packet *p, std::vector<unsigned char> *token)
{
    if (packet_peek_u8(p) == 0x01)
        packet_get_u8(p, nullptr);
    int32_t n = packet_remaining(p);
    if (n > MAX_SERVER_TOKEN) {
        post_error(c, ST_08S01, 0, "Kerberos token of %d bytes is too long", (int)n);
        return -6;
    }
    try {
        token->resize((size_t)n);
    } catch (const std::bad_alloc &) {
        post_error(c, ST_HY000, 0, "Malloc Failed");
        return -6;
    }
    if (n && packet_get_bytes(p, token->data(), token->size()) != token->size()) {
        post_error(c, ST_08S01, 0, "unexpected end of packet");
        return -6;
    }
    return 0;
}

int fail(my_connection *c)
{
    krb_free_context(c);
    return -6;
}

/* Method data of auth_gssapi_client: principal, 0 byte, mechanism. */
void split_method_data(const unsigned char *data, size_t len, std::string *principal,
                       std::string *mech)
{
    size_t end = 0;
    while (end < len && data[end] != 0)
        end++;
    principal->assign((const char *)data, end);
    mech->clear();
    if (len > end + 1 && len - (end + 1) > 2) {
        size_t from = end + 1, stop = from;
        while (stop < len && data[stop] != 0)
            stop++;
        mech->assign((const char *)data + from, stop - from);
    }
}

} // namespace

/* ------------------------------------------------------------ exported */

const char *krb_status_name(uint32_t status)
{
    for (const auto &s : status_names)
        if (s.code == status)
            return s.name;
    return "unknown code";
}

const krb_layer *krb_get_layer(void) { return current_layer; }

void krb_set_layer(const krb_layer *layer) { current_layer = layer ? layer : &gss_layer; }

int krb_in_progress(const my_connection *c)
{
    const krb_context *k = context_of(c);
    return k && k->valid && k->continue_needed;
}

void krb_free_context(my_connection *c)
{
    krb_context *k = context_of(c);
    c->krb_context = nullptr;
    if (!k)
        return;
    drop_output(k);
    if (k->credentials || k->context)
        k->layer->release(k->layer->self, k->credentials, k->context);
    delete k;
}

int my_gss_get_auth_buffer(my_connection *c, const my_string *principal, int negotiate)
{
    krb_free_context(c);
    krb_context *k = new (std::nothrow) krb_context();
    if (!k) {
        post_error(c, ST_08001, 0, "Krb5: failed to allocate memory");
        return -6;
    }
    k->layer = current_layer;
    c->krb_context = k;
    if (!principal || principal->length == 0) {
        QV_TRACE(c, LOG_ERROR, "my_gss_get_auth_buffer: failed to get principal");
        return fail(c);
    }
    const char *package = negotiate ? "Negotiate" : "Kerberos";
    char detail[DETAIL_SIZE] = {0};
    uint32_t st = k->layer->acquire(k->layer->self, package, &k->credentials, detail, sizeof detail);
    QV_TRACE(c, LOG_DETAIL, "called AcquireCredentialsHandle( %d, %s )", (int)st, krb_status_name(st));
    if (st != SEC_E_OK) {
        post_error(c, ST_08001, 0, "krb5: AcquireCredentialsHandle failed with %d, %s", (int)st,
                   krb_status_name(st));
        post_detail(c, detail);
        return fail(c);
    }
    char *name = ms_to_utf8(principal);
    if (!name) {
        post_error(c, ST_08001, 0, "Krb5: failed to allocate memory");
        return fail(c);
    }
    st = k->layer->init(k->layer->self, k->credentials, &k->context, name, nullptr, 0, &k->output,
                        detail, sizeof detail);
    free(name);
    QV_TRACE(c, LOG_DETAIL, "called InitializeSecurityContext ( %d, %s )", (int)st,
             krb_status_name(st));
    if (st != SEC_E_OK && st != SEC_I_CONTINUE_NEEDED) {
        post_error(c, ST_08001, 0, "Krb5: InitializeSecurityContext failed with %d, %s", (int)st,
                   krb_status_name(st));
        post_detail(c, detail);
        return fail(c);
    }
    log_output(c, k);
    k->valid = 1;
    k->continue_needed = st == SEC_I_CONTINUE_NEEDED;
    return 0;
}

int krb_start(my_connection *c, my_packet **out)
{
    *out = nullptr;
    my_string *principal = (c->Principal && c->Principal->length)
                               ? ms_copy(c->Principal)
                               : compose_text("MYSQL@%S", c->server_in_use);
    QV_TRACE(c, LOG_DETAIL, "create_logon_packet: using Kerberos principal '%S'", principal);
    int rc = my_gss_get_auth_buffer(c, principal, 0);
    if (rc != 0) {
        post_error(c, ST_08001, 0, "Unable to obtain Kerberos token for principal '%S'", principal);
        ms_free(principal);
        return -6;
    }
    ms_free(principal);
    krb_context *k = context_of(c);
    if (auth_split_first(c, k->output.data, k->output.length, out) != 0)
        return fail(c);
    drop_output(k);
    return 0;
}

int krb_continue(my_connection *c, my_packet *p, my_packet **out)
{
    *out = nullptr;
    krb_context *k = context_of(c);
    if (!k || !k->valid || !k->continue_needed)
        return 0;
    std::vector<unsigned char> token;
    int32_t n = packet_remaining(p);
    if (n > MAX_SERVER_TOKEN) {
        post_error(c, ST_08S01, 0, "Kerberos token of %d bytes is too long", (int)n);
        return fail(c);
    }
    token.resize((size_t)n);
    if (n)
        packet_get_bytes(p, token.data(), token.size());
    uint32_t st;
    if (continue_context(c, k, token.data(), token.size(), &st) != 0)
        return fail(c);
    my_packet *tok = nullptr;
    if (k->output.length) {
        QV_TRACE(c, LOG_DETAIL, "Sending data back to server");
        if (token_packet(c, k, &tok) != 0)
            return fail(c);
    }
    drop_output(k);
    if (st == SEC_I_CONTINUE_NEEDED) {
        *out = tok;
        return 0;
    }
    if (tok && auth_send_bytes(c, tok->data + 4, (size_t)tok->length - 4) != 0) {
        packet_free(tok);
        return fail(c);
    }
    packet_free(tok);
    my_packet *answer = read_server_packet(c);
    if (!answer)
        return fail(c);
    QV_TRACE(c, LOG_DETAIL, "Got final packet and returing");
    *out = answer;
    return 0;
}

int krb_gssapi_exchange(my_connection *c, const unsigned char *data, size_t len, my_packet **out)
{
    *out = nullptr;
    std::string principal, mech;
    split_method_data(data, len, &principal, &mech);
    my_string *p_name = ms_from_utf8(principal.data(), (int64_t)principal.size());
    my_string *m_name = ms_from_utf8(mech.data(), (int64_t)mech.size());
    ms_free(c->Principal);
    c->Principal = p_name;
    QV_TRACE(c, LOG_DETAIL, "create_logon_packet: using Kerberos principal '%S', mech '%S'",
             c->Principal, m_name);
    ms_free(m_name);
    if (my_gss_get_auth_buffer(c, c->Principal, mech == "Negotiate") != 0) {
        post_error(c, ST_08001, 0, "Unable to obtain Kerberos token for principal '%S'", c->Principal);
        return -6;
    }
    krb_context *k = context_of(c);
    for (bool first_token = true;; first_token = false) {
        if (k->output.length) {
            if (!first_token)
                QV_TRACE(c, LOG_DETAIL, "Sending data back to server");
            int rc = auth_send_bytes(c, k->output.data, k->output.length);
            drop_output(k);
            if (rc != 0)
                return fail(c);
        }
        my_packet *answer = read_server_packet(c);
        if (!answer)
            return fail(c);
        /* the verdict (OK, or the server's error) ends the exchange; a
         * server that is content before our side is complete has still
         * accepted the logon */
        unsigned first = packet_peek_u8(answer);
        if (!k->continue_needed || first == 0x00 || first == 0xFF) {
            QV_TRACE(c, LOG_DETAIL, "Got final packet and returing");
            *out = answer;
            return 0;
        }
        QV_TRACE(c, LOG_DETAIL, "Got next packet from the server");
        std::vector<unsigned char> token;
        int rc = server_token(c, answer, &token);
        packet_free(answer);
        uint32_t st;
        if (rc != 0 || continue_context(c, k, token.data(), token.size(), &st) != 0)
            return fail(c);
    }
}
