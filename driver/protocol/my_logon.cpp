/*
 * Logon: the server's greeting, the handshake response and the
 * authentication rounds that turn an open socket into a session.
 *
 * Everything the server sends here arrives before it has proved anything,
 * so every field is read through the packet layer's bounded readers and
 * checked for presence first: a greeting or an auth packet cut short is a
 * protocol error (08S01), never a read past the packet.
 */
#include "protocol/my_logon.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include <openssl/crypto.h>

#include "frame/my_handle.h"
#include "protocol/my_auth.h"
#include "protocol/my_conn.h"
#include "protocol/my_decode.h"
#include "protocol/my_logon_methods.h"
#include "protocol/my_proto.h"
#include "protocol/my_sha2.h"
#include "protocol/my_ssl.h"
#include "protocol/my_winkrb.h"

enum {
    MAX_PACKET_SIZE_SENT = 0xFFFFFF,
    RESPONSE_FILLER = 23,           /* zero bytes after the character set */
    SCRAMBLE_PART1 = 8,
    SCRAMBLE_PART2_MIN = 13,        /* 12 bytes and a terminator */
    SCRAMBLE_DEFAULT_LENGTH = 21,   /* when the server gives no usable length */
    HANDSHAKE_RESERVED = 10,
    PROTOCOL9_SCRAMBLE_MAX = 255,
    /* A server that keeps asking (switch after switch) is not authenticating
     * anyone; real exchanges take at most three rounds. */
    MAX_AUTH_ROUNDS = 16,
};

/* ------------------------------------------------------------- helpers */

static int malformed_handshake(my_connection *c, const char *what)
{
    QV_TRACE(c, LOG_ERROR, "decode_handshake_packet: %s", what);
    post_error(c, ST_08S01, 0, "malformed handshake packet: %s", what);
    return -6;
}

static int handshake_no_memory(my_connection *c)
{
    post_error(c, ST_HY001, 0, nullptr);
    return -6;
}

/* Exact comparison with a literal (method names are case-sensitive). */
static bool equals(const my_string *s, const char *lit)
{
    size_t n = strlen(lit);
    if (!s || s->length != n)
        return false;
    for (size_t i = 0; i < n; i++)
        if (s->data[i] != (unsigned char)lit[i])
            return false;
    return true;
}

/* ------------------------------------------------------------ tracing */

struct flag_name {
    uint32_t bit;
    const char *name;
};

static const flag_name capability_names[] = {
    {CLIENT_LONG_PASSWORD, "CLIENT_LONG_PASSWORD"},
    {CLIENT_FOUND_ROWS, "CLIENT_FOUND_ROWS"},
    {CLIENT_LONG_FLAG, "CLIENT_LONG_FLAG"},
    {CLIENT_CONNECT_WITH_DB, "CLIENT_CONNECT_WITH_DB"},
    {CLIENT_NO_SCHEMA, "CLIENT_NO_SCHEMA"},
    {CLIENT_COMPRESS, "CLIENT_COMPRESS"},
    {CLIENT_ODBC, "CLIENT_ODBC"},
    {CLIENT_LOCAL_FILES, "CLIENT_LOCAL_FILES"},
    {CLIENT_IGNORE_SPACE, "CLIENT_IGNORE_SPACE"},
    {CLIENT_PROTOCOL_41, "CLIENT_PROTOCOL_41"},
    {CLIENT_INTERACTIVE, "CLIENT_INTERACTIVE"},
    {CLIENT_SSL, "CLIENT_SSL"},
    {CLIENT_IGNORE_SIGPIPE, "CLIENT_IGNORE_SIGPIPE"},
    {CLIENT_TRANSACTIONS, "CLIENT_TRANSACTIONS"},
    {CLIENT_RESERVED, "CLIENT_RESERVED"},
    {CLIENT_SECURE_CONNECTION, "CLIENT_SECURE_CONNECTION"},
    {CLIENT_MULTI_STATEMENTS, "CLIENT_MULTI_STATEMENTS"},
    {CLIENT_MULTI_RESULTS, "CLIENT_MULTI_RESULTS"},
    {CLIENT_PS_MULTI_RESULTS, "CLIENT_PS_MULTI_RESULTS"},
    {CLIENT_PLUGIN_AUTH, "CLIENT_PLUGIN_AUTH"},
    {CLIENT_CONNECT_ATTRS, "CLIENT_CONNECT_ATTRS"},
    {CLIENT_PLUGIN_AUTH_LENENC_CLIENT_DATA, "CLIENT_PLUGIN_AUTH_LENENC_CLIENT_DATA"},
    {CLIENT_CAN_HANDLE_EXPIRED_PASSWORDS, "CLIENT_CAN_HANDLE_EXPIRED_PASSWORDS"},
    {CLIENT_SESSION_TRACK, "CLIENT_SESSION_TRACK"},
    {CLIENT_DEPRECATE_EOF, "CLIENT_DEPRECATE_EOF"},
};

static const flag_name status_names[] = {
    {SERVER_STATUS_IN_TRANS, "SERVER_STATUS_IN_TRANS"},
    {SERVER_STATUS_AUTOCOMMIT, "SERVER_STATUS_AUTOCOMMIT"},
    {SERVER_MORE_RESULTS_EXISTS, "SERVER_MORE_RESULTS_EXISTS"},
    {SERVER_STATUS_NO_GOOD_INDEX_USED, "SERVER_STATUS_NO_GOOD_INDEX_USED"},
    {SERVER_STATUS_NO_INDEX_USED, "SERVER_STATUS_NO_INDEX_USED"},
    {SERVER_STATUS_CURSOR_EXISTS, "SERVER_STATUS_CURSOR_EXISTS"},
    {SERVER_STATUS_LAST_ROW_SENT, "SERVER_STATUS_LAST_ROW_SENT"},
    {SERVER_STATUS_DB_DROPPED, "SERVER_STATUS_DB_DROPPED"},
    {SERVER_STATUS_NO_BACKSLASH_ESCAPES, "SERVER_STATUS_NO_BACKSLASH_ESCAPES"},
    {SERVER_STATUS_METADATA_CHANGED, "SERVER_STATUS_METADATA_CHANGED"},
    {SERVER_QUERY_WAS_SLOW, "SERVER_QUERY_WAS_SLOW"},
    {SERVER_PS_OUT_PARAMS, "SERVER_PS_OUT_PARAMS"},
    {SERVER_STATUS_IN_TRANS_READONLY, "SERVER_STATUS_IN_TRANS_READONLY"},
    {SERVER_SESSION_STATE_CHANGED, "SERVER_SESSION_STATE_CHANGED"},
};

template <size_t N>
static void trace_flags(my_connection *c, const char *title, uint32_t flags,
                        const flag_name (&names)[N])
{
    if (!handle_log_flags(c))
        return;
    QV_TRACE(c, LOG_DETAIL, "%s=%x", title, flags);
    for (const flag_name &f : names)
        if (flags & f.bit)
            QV_TRACE(c, LOG_CONTINUE, "+%s", f.name);
}

static void trace_handshake(my_connection *c)
{
    if (!handle_log_flags(c))
        return;
    char id[9];
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 4; i++) {
        id[2 * i] = hex[c->connection_id[i] >> 4];
        id[2 * i + 1] = hex[c->connection_id[i] & 0xF];
    }
    id[8] = 0;
    QV_TRACE(c, LOG_DETAIL, "Handshake");
    QV_TRACE(c, LOG_CONTINUE, "Protocol version %d", c->protocol_version);
    QV_TRACE(c, LOG_CONTINUE, "Server version '%S'", c->server_version);
    QV_TRACE(c, LOG_CONTINUE, "Connection Id '%s'", id);
    QV_TRACE(c, LOG_CONTINUE, "Character Set '%d'", c->charset);
    trace_flags(c, "Capability flags", c->server_caps, capability_names);
    trace_flags(c, "Status flags", c->server_status, status_names);
    QV_TRACE(c, LOG_CONTINUE, "Auth Plugin Data Len %d", c->auth_plugin_data_length);
    QV_TRACE(c, LOG_CONTINUE, "Auth Plugin Name '%S'", c->auth_plugin_name);
}

/* ------------------------------------------------ the server's greeting */

/* A NUL-terminated text; a missing terminator means the packet was cut. */
static int get_terminated(my_packet *p, my_string **out)
{
    int32_t before = packet_remaining(p);
    int64_t n = packet_get_cstring(p, out);
    if (n < 0)
        return -1;
    if (n >= before) {   /* ran to the end without a terminator */
        ms_free(*out);
        *out = nullptr;
        return -6;
    }
    return 0;
}

/* Protocol 10: fixed fields first, then the optional ones only while bytes
 * remain (old servers end early), then scramble part 2 and the plugin name.
 * Scramble part 2 is required when the server announces
 * CLIENT_SECURE_CONNECTION: without it the password cannot be answered. */
static int decode_protocol10(my_connection *c, my_packet *p)
{
    int rc = get_terminated(p, &c->server_version);
    if (rc == -1)
        return handshake_no_memory(c);
    if (rc != 0)
        return malformed_handshake(c, "server version not terminated");
    if (!packet_need(p, 4 + SCRAMBLE_PART1 + 1))
        return malformed_handshake(c, "cut before the scramble");
    packet_get_bytes(p, c->connection_id, 4);
    packet_get_bytes(p, c->scramble, SCRAMBLE_PART1);
    packet_get_u8(p, nullptr);   /* filler */
    c->scramble_length = SCRAMBLE_PART1;

    if (packet_remaining(p) > 1)
        c->server_caps = packet_get_u16(p);
    unsigned byte = 0;
    if (packet_get_u8(p, &byte))
        c->charset = (int32_t)byte;
    if (packet_need(p, 2))
        c->server_status = packet_get_u16(p);
    if (packet_need(p, 2))
        c->server_caps |= packet_get_u16(p) << 16;
    unsigned data_len = 0;
    packet_get_u8(p, &data_len);
    c->auth_plugin_data_length = (c->server_caps & CLIENT_PLUGIN_AUTH) ? (int32_t)data_len : 0;
    unsigned char reserved[HANDSHAKE_RESERVED];
    packet_get_bytes(p, reserved, sizeof reserved);

    if (c->server_caps & CLIENT_SECURE_CONNECTION) {
        int32_t len = c->auth_plugin_data_length;
        int32_t part2 = len < SCRAMBLE_DEFAULT_LENGTH ? SCRAMBLE_PART2_MIN : len - SCRAMBLE_PART1;
        if (!packet_need(p, part2))
            return malformed_handshake(c, "scramble cut short");
        packet_get_bytes(p, c->scramble + SCRAMBLE_PART1, (size_t)part2);
        c->scramble_length = len < SCRAMBLE_DEFAULT_LENGTH ? SCRAMBLE_DEFAULT_LENGTH : len;
    }
    /* Some 5.5 servers send the plugin name without its terminator: the end
     * of the packet ends it as well. */
    if ((c->server_caps & CLIENT_PLUGIN_AUTH) && packet_get_cstring(p, &c->auth_plugin_name) < 0)
        return handshake_no_memory(c);
    return 0;
}

/* Protocol 9: version, id and a terminated scramble; no flags at all. */
static int decode_protocol9(my_connection *c, my_packet *p)
{
    int rc = get_terminated(p, &c->server_version);
    if (rc == -1)
        return handshake_no_memory(c);
    if (rc != 0)
        return malformed_handshake(c, "server version not terminated");
    if (!packet_need(p, 4))
        return malformed_handshake(c, "cut before the connection id");
    packet_get_bytes(p, c->connection_id, 4);
    int n = 0;
    unsigned byte = 0;
    while (n < PROTOCOL9_SCRAMBLE_MAX && packet_get_u8(p, &byte) && byte != 0)
        c->scramble[n++] = (unsigned char)byte;
    c->scramble_length = n;
    return 0;
}

void clear_handshake(my_connection *c)
{
    ms_free(c->server_version);
    c->server_version = nullptr;
    ms_free(c->auth_plugin_name);
    c->auth_plugin_name = nullptr;
    c->protocol_version = 0;
    c->version_major = c->version_minor = c->version_patch = 0;
    c->server_mariadb = 0;
    memset(c->connection_id, 0, sizeof c->connection_id);
    memset(c->scramble, 0, sizeof c->scramble);
    c->scramble_length = 0;
    c->server_caps = c->client_caps = 0;
    c->charset = 0;
    c->server_status = 0;
    c->auth_plugin_data_length = 0;
}

int decode_handshake_packet(my_connection *c, my_packet *p)
{
    clear_handshake(c);
    if (packet_remaining(p) < 1)
        return malformed_handshake(c, "empty packet");
    if (packet_peek_u8(p) == 0xFF) {
        /* the server refuses before greeting (too many connections, host
         * not allowed): its text is what the application needs to see */
        decode_error_packet(c, p);
        return -6;
    }
    unsigned version = 0;
    packet_get_u8(p, &version);
    c->protocol_version = (int32_t)version;
    int rc;
    if (version == 10) {
        rc = decode_protocol10(c, p);
    } else if (version == 9) {
        rc = decode_protocol9(c, p);
    } else {
        QV_TRACE(c, LOG_ERROR, "decode_handshake_packet: unsupported handshake protocol %d",
                 (int)version);
        post_error(c, ST_08S01, 0, nullptr);
        return -6;
    }
    if (rc != 0)
        return rc;

    trace_handshake(c);
    if (charset_is_utf8(c, c->charset)) {
        QV_TRACE(c, LOG_DETAIL, "Setting ConvToUtf");
        c->ConvToUtf = 1;
    }
    if (c->Encrypt == 1 && !(c->server_caps & CLIENT_SSL)) {
        QV_TRACE(c, LOG_ERROR, "Client requesting SSL, not offered by server");
        post_error(c, ST_08S01, 0, "Client requesting SSL, not offered by server");
        return -6;
    }
    return 0;
}

/* strtol semantics (leading blanks and a sign accepted), clamped to int. */
static int version_part(const char *s, const char **end)
{
    char *e = nullptr;
    errno = 0;
    long v = strtol(s, &e, 10);
    *end = e;
    if (v < 0)
        return 0;
    return v > INT_MAX ? INT_MAX : (int)v;
}

void decode_server_version(my_connection *c)
{
    /* MariaDB 10 and later put "5.5.5-" in front of their version so that
     * old replication clients accept them; the real version follows. */
    static const char MARIADB_PREFIX[] = "5.5.5-";
    char *text = ms_to_latin1(c->server_version);
    if (text && strncmp(text, MARIADB_PREFIX, sizeof MARIADB_PREFIX - 1) == 0 &&
        strstr(text, "MariaDB")) {
        my_string *rest = ms_substr(c->server_version, sizeof MARIADB_PREFIX - 1, -1);
        if (rest) {
            ms_free(c->server_version);
            c->server_version = rest;
            free(text);
            text = ms_to_latin1(rest);
        }
    }
    int parts[3] = {0, 0, 0};
    const char *s = text ? text : "";
    for (int i = 0; i < 3 && *s; i++) {
        const char *end;
        parts[i] = version_part(s, &end);
        if (*end == 0)
            break;
        s = end + 1;   /* past the separator */
    }
    c->version_major = parts[0];
    c->version_minor = parts[1];
    c->version_patch = parts[2];
    c->server_mariadb = text && strstr(text, "MariaDB") != nullptr;
    QV_TRACE(c, LOG_DETAIL, "decode_server_version: '%s' : %d %d %d", text ? text : "", parts[0],
             parts[1], parts[2]);
    free(text);
}

/* ------------------------------------------------ the handshake response */

/* Whether the application chose the session's character set itself: a
 * character-set number, or any of the session's character-set variables. */
static int charset_configured(const my_connection *c)
{
    return c->requested_charset != 0 || c->character_set_client || c->character_set_results ||
           c->collation_connection;
}

/* The character set a session gets when the application names none: UTF-8,
 * so that every character of wide text reaches the server and narrow text
 * is what Linux applications hold. A server whose default is already a
 * UTF-8 collation keeps it; utf8mb4 (4-byte characters) exists from 5.5.3,
 * utf8 from 4.1. */
static int default_charset(const my_connection *c)
{
    if (charset_is_utf8(c, c->charset))
        return c->charset;
    if (c->version_major == 0 || server_version_at_least(c, 5, 5, 3))
        return UTF8MB4_GENERAL_CI;
    if (server_version_at_least(c, 4, 1, 0))
        return UTF8_GENERAL_CI;
    return c->charset;
}

int request_charset(my_connection *c, const char *who)
{
    /* one byte on the wire: a number beyond it cannot be requested */
    if (c->requested_charset > 0 && c->requested_charset <= 0xFF) {
        QV_TRACE(c, LOG_DETAIL, "%s: request character set %d", who, c->requested_charset);
        c->charset = c->requested_charset;
    } else if (c->requested_charset != 0) {
        QV_TRACE(c, LOG_DETAIL, "%s: character set %d out of range, ignored", who,
                 c->requested_charset);
    } else if (!charset_configured(c) && default_charset(c) != c->charset) {
        c->charset = default_charset(c);
        QV_TRACE(c, LOG_DETAIL, "%s: request character set %d", who, c->charset);
    }
    /* narrow text follows a UTF-8 session: it goes to the wire as it is */
    if (!c->ConvToUtf && charset_is_utf8(c, c->charset)) {
        QV_TRACE(c, LOG_DETAIL, "Setting ConvToUtf");
        c->ConvToUtf = 1;
    }
    return c->charset & 0xFF;
}

/* The user name, "ODBC" when none is given. */
static int put_user(my_packet *p, const my_string *user)
{
    if (given(user))
        return packet_put_string_nul(p, user);
    return packet_put_cstring(p, "ODBC");
}

static int put_database(my_connection *c, my_packet *p, const my_string *database, int terminate)
{
    int rc = terminate ? packet_put_string_nul(p, database) : packet_put_string(p, database);
    if (rc == 0) {
        ms_free(c->current_database);
        c->current_database = ms_copy(database);
    }
    return rc;
}

uint32_t client_flags_41(const my_connection *c, const my_string *database)
{
    const uint32_t mirrored = CLIENT_TRANSACTIONS | CLIENT_DEPRECATE_EOF | CLIENT_PLUGIN_AUTH |
                              CLIENT_LONG_PASSWORD | CLIENT_MULTI_RESULTS |
                              CLIENT_MULTI_STATEMENTS | CLIENT_PS_MULTI_RESULTS;
    uint32_t flags =
        CLIENT_PROTOCOL_41 | CLIENT_ODBC | CLIENT_FOUND_ROWS | CLIENT_SECURE_CONNECTION;
    /* with LOCAL INFILE off the server is not even told the client could */
    if (c->LocalInfile)
        flags |= CLIENT_LOCAL_FILES;
    flags |= c->server_caps & mirrored;
    if (c->Compress && (c->server_caps & CLIENT_COMPRESS))
        flags |= CLIENT_COMPRESS;
    if (given(database))
        flags |= CLIENT_CONNECT_WITH_DB;
    /* over TLS the full response repeats the TLS request's flag */
    if (c->ssl_active)
        flags |= CLIENT_SSL;
    return flags;
}

static my_packet *response_failed(my_connection *c, my_packet *p, int posted)
{
    packet_free(p);
    if (!posted)
        post_error(c, ST_HY001, 0, nullptr);
    return nullptr;
}

my_packet *create_handshake_packet_41(my_connection *c, const my_string *user,
                                      const my_string *password, const my_string *database)
{
    uint32_t flags = client_flags_41(c, database);
    int charset = request_charset(c, "create_handshake_packet_41");
    secret_bytes pw;
    wire_text(c, password, &pw);
    unsigned char token[SHA2_SCRAMBLE_LENGTH];
    size_t token_len = 0;
    static const char SHA2[] = "caching_sha2_password";
    bool sha2 = (flags & CLIENT_PLUGIN_AUTH) && equals(c->auth_plugin_name, SHA2);
    if (!pw.empty() && sha2) {
        if (c->scramble_length < SHA2_NONCE_LENGTH) {
            short_scramble(c, SHA2, c->scramble_length, SHA2_NONCE_LENGTH);
            return nullptr;
        }
        if (caching_sha2_scramble(pw.data(), pw.size(), c->scramble, token) != 0) {
            post_error(c, ST_HY000, 0, "SHA-256 not available");
            return nullptr;
        }
        token_len = SHA2_SCRAMBLE_LENGTH;
    } else if (!pw.empty()) {
        if (c->scramble_length < NATIVE_SCRAMBLE_LENGTH) {
            short_scramble(c, "mysql_native_password", c->scramble_length, NATIVE_SCRAMBLE_LENGTH);
            return nullptr;
        }
        if (native_scramble(pw.data(), pw.size(), c->scramble, token) != 0) {
            post_error(c, ST_HY000, 0, "SHA-1 not available");
            return nullptr;
        }
        token_len = NATIVE_SCRAMBLE_LENGTH;
    }
    c->client_caps = flags;

    my_packet *p = packet_new(c);
    if (!p)
        return response_failed(c, p, 0);
    unsigned char filler[RESPONSE_FILLER] = {0};
    /* || evaluates left to right and stops at the first failure */
    int rc = packet_put_u32(p, flags) || packet_put_u32(p, MAX_PACKET_SIZE_SENT) ||
             packet_put_u8(p, (unsigned)charset) || packet_put_bytes(p, filler, sizeof filler) ||
             put_user(p, user) || packet_put_u8(p, (unsigned)token_len) ||
             packet_put_bytes(p, token, token_len);
    OPENSSL_cleanse(token, sizeof token);
    if (rc == 0 && (flags & CLIENT_CONNECT_WITH_DB))
        rc = put_database(c, p, database, 1);
    if (rc == 0) {
        /* Naming the server's own default method lets it accept the answer
         * at once; any other announced method is left unnamed, so that the
         * server asks for a switch to the account's method. */
        static const char NATIVE[] = "mysql_native_password";
        if (!(flags & CLIENT_PLUGIN_AUTH))
            rc = given(c->auth_plugin_name) ? packet_put_string_nul(p, c->auth_plugin_name)
                                            : packet_put_cstring(p, NATIVE);
        else if (equals(c->auth_plugin_name, NATIVE))
            rc = packet_put_cstring(p, NATIVE);
        else if (sha2)
            rc = packet_put_cstring(p, SHA2);
    }
    if (rc != 0)
        return response_failed(c, p, 0);
    return p;
}

/* Only the bits that actually go out (two bytes) are the client's flags:
 * the decoders act on them. */
static uint32_t client_flags_40(const my_connection *c, int has_password, const my_string *database)
{
    uint32_t flags = c->server_caps & (CLIENT_TRANSACTIONS | CLIENT_DEPRECATE_EOF | CLIENT_MULTI_RESULTS);
    flags |= (c->Compress && (c->server_caps & CLIENT_COMPRESS)) ? 0xE7 : 0xC7;
    if (!has_password)
        flags &= ~(uint32_t)CLIENT_LONG_PASSWORD;
    if (!c->LocalInfile)
        flags &= ~(uint32_t)CLIENT_LOCAL_FILES;
    flags |= c->server_caps & (CLIENT_MULTI_STATEMENTS | CLIENT_PS_MULTI_RESULTS);
    if (given(database))
        flags |= CLIENT_CONNECT_WITH_DB;
    return flags & 0xFFFF;
}

my_packet *create_handshake_packet_40(my_connection *c, const my_string *user,
                                      const my_string *password, const my_string *database)
{
    secret_bytes pw;
    wire_text(c, password, &pw);
    uint32_t flags = client_flags_40(c, !pw.empty(), database);
    c->client_caps = flags;
    /* no server-side prepare before 4.1 */
    c->Text_Prepare = 1;

    my_packet *p = packet_new(c);
    if (!p)
        return response_failed(c, p, 0);
    int rc = packet_put_u16(p, flags) || packet_put_u24(p, MAX_PACKET_SIZE_SENT) || put_user(p, user);
    if (rc == 0 && !pw.empty()) {
        unsigned char token[OLD_SCRAMBLE_LENGTH];
        old_scramble(pw.data(), pw.size(), c->scramble, token);
        rc = packet_put_bytes(p, token, sizeof token);
        OPENSSL_cleanse(token, sizeof token);
    }
    if (rc == 0 && (flags & CLIENT_CONNECT_WITH_DB))
        rc = packet_put_u8(p, 0) || put_database(c, p, database, 0);
    if (rc != 0)
        return response_failed(c, p, 0);
    return p;
}

static my_packet *read_auth_packet(my_connection *c)
{
    c->hdr.timed_out = 0;
    my_packet *p = packet_read(c);
    if (p)
        return p;
    if (c->hdr.timed_out) {
        QV_TRACE(c, LOG_ERROR, "my_connect: timeout reading packet");
        post_error(c, ST_HYT00, 0, nullptr);
    } else {
        QV_TRACE(c, LOG_ERROR, "my_connect: failed reading packet");
        post_error(c, ST_08S01, 0, nullptr);
    }
    return nullptr;
}

/* The final OK: decoded, the session is up, compression starts with the
 * next packet when it was negotiated. */
static int logon_complete(my_connection *c, my_packet *p)
{
    if (decode_ok_packet(c, p, 0) != 0)
        return -1;
    c->connected = 1;
    /* the logon had bounds of its own: the session's count from here */
    call_restart();
    if (c->Compress && (c->client_caps & CLIENT_COMPRESS)) {
        QV_TRACE(c, LOG_DETAIL, "my_connect: compression on");
        c->compress_active = 1;
        c->comp_seq = 0;
    }
    return 0;
}

/* One server packet of the exchange: 0 logged on, 1 answered (read the
 * next), -1 failed (posted). */
static int auth_round(my_connection *c, auth_state *st, my_packet *p)
{
    if (packet_remaining(p) < 1) {
        QV_TRACE(c, LOG_ERROR, "my_connect: unexpected handshake response %d", -1);
        post_error(c, ST_08S01, 0, nullptr);
        return -1;
    }
    unsigned first = packet_peek_u8(p);
    int rc;
    switch (first) {
    case 0xFF:
        decode_error_packet(c, p);
        return -1;
    case 0x00:
        return logon_complete(c, p);
    case 0x01:
        rc = extra_data_packet(c, st, p);
        break;
    case 0xFE:
        /* The old-password request is a lone 0xFE: servers without plugin
         * authentication send it, and so do servers with it when the client
         * named mysql_native_password and the account has an old hash. */
        if (!(c->server_caps & CLIENT_PLUGIN_AUTH) || packet_remaining(p) == 1)
            rc = send_old_answer(c, c->scramble);
        else
            rc = auth_switch(c, st, p);
        break;
    default:
        QV_TRACE(c, LOG_ERROR, "my_connect: unexpected handshake response %d", (int)first);
        post_error(c, ST_08S01, 0, nullptr);
        return -1;
    }
    return rc < 0 ? -1 : 1;
}

static int authenticate(my_connection *c)
{
    auth_state st;
    /* the response already carried the scramble when the server's own
     * method is caching_sha2_password */
    if ((c->client_caps & CLIENT_PLUGIN_AUTH) && equals(c->auth_plugin_name, "caching_sha2_password"))
        st.sha2 = SHA2_SCRAMBLED;
    for (;;) {
        if (++st.rounds > MAX_AUTH_ROUNDS) {
            QV_TRACE(c, LOG_ERROR, "my_connect: too many authentication rounds");
            post_error(c, ST_08S01, 0, "too many authentication rounds");
            return -1;
        }
        my_packet *p = st.next;
        st.next = nullptr;
        if (!p)
            p = read_auth_packet(c);
        if (!p)
            return -1;
        int rc = auth_round(c, &st, p);
        packet_free(p);
        if (rc != 1)
            return rc;
    }
}

/* -------------------------------------------------------------- my_logon */

/* A SERVER is needed: a local socket cannot be reached without one. */
static int check_target(my_connection *c)
{
    int has_server = given(c->SERVER), has_socket = given(c->SOCKET);
    if (!has_server && !has_socket) {
        QV_TRACE(c, LOG_ERROR, "my_single_connect: server/socket name not specified");
        post_error(c, ST_HY000, 0, "server/socket name not specified");
        return -1;
    }
    if (!has_server) {
        QV_TRACE(c, LOG_ERROR, "my_connect: local socket '%S' not available", c->SOCKET);
        post_error(c, ST_08001, 0, "Local socket connections are not supported (SOCKET=%S); set SERVER",
                   c->SOCKET);
        return -1;
    }
    if (has_socket)
        QV_TRACE(c, LOG_DETAIL, "my_connect: SOCKET '%S' ignored, connecting to SERVER", c->SOCKET);
    return 0;
}

static int read_greeting(my_connection *c)
{
    c->hdr.timed_out = 0;
    my_packet *p = packet_read(c);
    if (!p) {
        QV_TRACE(c, LOG_ERROR, "my_connect: heading handshake packet");
        post_error(c, c->hdr.timed_out ? (int)ST_HYT00 : (int)ST_08S01, 0, nullptr);
        return -1;
    }
    int rc = decode_handshake_packet(c, p);
    packet_free(p);
    if (rc != 0)
        return -1;
    decode_server_version(c);
    return 0;
}

/* TLS when Encrypt asks for it. "optional" (2) against a server without TLS
 * goes on unencrypted: that is what optional means. */
static int start_tls(my_connection *c)
{
    if (c->Encrypt == 0)
        return 0;
    if (c->Encrypt == 2 && !(c->server_caps & CLIENT_SSL)) {
        QV_TRACE(c, LOG_DETAIL, "my_connect: SSL optional and not offered, continuing without");
        return 0;
    }
    return create_ssl_req(c, c->UID, c->PWD, c->DATABASE) == 0 ? 0 : -1;
}

static int send_response(my_connection *c)
{
    if (c->protocol_version != 10) {
        QV_TRACE(c, LOG_ERROR, "create_handshake_packet: unsupported handshake protocol %d",
                 c->protocol_version);
        post_error(c, ST_08S01, 0, nullptr);
        return -1;
    }
    my_packet *p = (c->server_caps & CLIENT_PROTOCOL_41)
                       ? create_handshake_packet_41(c, c->UID, c->PWD, c->DATABASE)
                       : create_handshake_packet_40(c, c->UID, c->PWD, c->DATABASE);
    /* the packet holds the scrambled password */
    return p ? auth_send_packet(c, p) : -1;
}

int logon_exchange(my_connection *c)
{
    if (read_greeting(c) != 0 || start_tls(c) != 0 || send_response(c) != 0)
        return -1;
    int rc = authenticate(c);
    /* the security context has served its purpose once the server has
     * answered: nothing later signs or seals with it */
    krb_free_context(c);
    return rc;
}

int my_logon(my_connection *c)
{
    c->connected = 0;
    c->compress_active = 0;
    c->requested_charset = c->ReqCharSet;
    packet_reset_seq(c);
    if (check_target(c) != 0)
        return -1;
    if (net_open(c, c->SERVER, c->PORT) != 0)
        return -1;
    if (logon_exchange(c) != 0) {
        /* nothing of a half-done logon may stay: the socket is mid-exchange
         * and would only hold a descriptor and a server thread */
        conn_close_session(c);
        return -1;
    }
    QV_TRACE(c, LOG_DETAIL, "my_connect: logged on to '%S'", c->server_in_use);
    return 0;
}
