/*
 * Decoders of the fixed-format server responses.
 *
 * Everything here reads through the packet layer's bounded readers and checks
 * that a value is complete before using it: a packet cut short or carrying an
 * impossible length is a protocol error (08S01, -6), never an over-read.
 */
#include "protocol/my_decode.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_proto.h"

/* ---------------------------------------------------------------- helpers */

static command_status *status_of(void *h)
{
    if (my_statement *s = as_stmt(h))
        return &s->status;
    if (my_connection *c = as_conn(h))
        return &c->status;
    return nullptr;
}

/* The connection keeps the session's latest status flags: how the server
 * reads quotes in a literal (NO_BACKSLASH_ESCAPES) changes with sql_mode,
 * and every text built for it must follow. Only a packet taken off the
 * wire is the latest (during the logon, or inside an exchange): one decoded
 * later from a statement's queue was noted when it was pulled, and other
 * statements' exchanges may have changed the session since. */
static void note_session_status(void *h, uint32_t status)
{
    my_connection *c = handle_conn(h);
    if (c && (in_exchange(c) || !c->connected))
        c->server_status = status;
}

static uint32_t client_caps(const void *h)
{
    const my_connection *c = handle_conn(h);
    return c ? c->client_caps : 0;
}

static int malformed(void *h, const char *what)
{
    QV_TRACE(h, LOG_DETAIL, "malformed %s packet", what);
    post_error(h, ST_08S01, 0, "malformed %s packet", what);
    return -6;
}

static int no_memory(void *h)
{
    post_error(h, ST_HY001, 0, nullptr);
    return -1;
}

/* A length-encoded integer that must be complete; the NULL marker (0xFB) and
 * 0xFF are not integers. */
static int get_lenenc_int(my_packet *p, uint64_t *v)
{
    unsigned lead = packet_peek_u8(p);
    if (packet_remaining(p) < 1 || lead == 0xFB || lead == 0xFF)
        return -6;
    return packet_get_lenenc(p, v);
}

/* Advances over n bytes that are known to be there. */
static void skip_bytes(my_packet *p, uint64_t n)
{
    unsigned char sink[64];
    while (n > 0) {
        size_t take = n < sizeof sink ? (size_t)n : sizeof sink;
        if (packet_get_bytes(p, sink, take) == 0)
            return;
        n -= take;
    }
}

/* The rest of the packet up to a 0 byte, in the connection's text encoding. */
static my_string *rest_as_text(const my_connection *c, my_packet *p)
{
    std::string bytes((size_t)packet_remaining(p), '\0');
    packet_get_bytes(p, &bytes[0], bytes.size());
    size_t n = strnlen(bytes.c_str(), bytes.size());
    if (conn_wire_utf8(c))
        return ms_from_utf8(bytes.c_str(), (int64_t)n);
    return ms_from_latin1_n(bytes.c_str(), n);
}

/* A read inside a decoder failed: the packet layer has posted 08S01, except
 * for a time-out, where it only set the flag. */
static int read_failed(void *h)
{
    QV_TRACE(h, LOG_DETAIL, "failed to read packet");
    handle_header *hd = handle_hdr(h);
    if (hd && hd->timed_out)
        post_error(h, ST_HYT00, 0, nullptr);
    return -1;
}

/* ------------------------------------------------------------- ERR packet */

/* The error number, SQLSTATE (HY000 when the packet has none) and text of
 * an ERR packet; the caller frees the two strings. */
static int read_error_packet(void *h, my_packet *p, my_string **state_out, my_string **text_out)
{
    packet_get_u8(p, nullptr);   /* 0xFF */
    int native = 0;
    if (packet_need(p, 2))
        native = (int)packet_get_u16(p);
    else
        skip_bytes(p, (uint64_t)packet_remaining(p));   /* half a number is no text */
    const my_connection *c = handle_conn(h);
    /* Errors sent before the handshake is done carry no SQLSTATE even from a
     * 4.1 server, so the '#' marker decides, not only the flag. */
    char sqlstate[5];
    int has_state = 0;
    if (c && (c->server_caps & CLIENT_PROTOCOL_41) && packet_need(p, 6) &&
        packet_peek_u8(p) == '#') {
        packet_get_u8(p, nullptr);
        has_state = packet_get_bytes(p, sqlstate, sizeof sqlstate) == sizeof sqlstate;
    }
    /* the text first: it may throw, and then nothing of ours is held */
    my_string *text = rest_as_text(c, p);
    my_string *state = has_state ? ms_from_latin1_n(sqlstate, sizeof sqlstate) : nullptr;
    if (!state)
        state = ms_from_latin1("HY000");
    *state_out = state;
    *text_out = text;
    return native;
}

int decode_error_packet(void *h, my_packet *p)
{
    my_string *state, *text;
    int native = read_error_packet(h, p, &state, &text);
    QV_TRACE(h, LOG_DETAIL, "Error Packet %d '%S' '%S'", native, state, text);
    post_server_message(h, native, state, text, 0, 0);
    ms_free(text);
    return 0;
}

int trace_error_packet(void *h, my_packet *p, const char *op)
{
    my_string *state, *text;
    int native = read_error_packet(h, p, &state, &text);
    QV_TRACE(h, LOG_DETAIL, "%s: Error Packet %d '%S' '%S'", op, native, state, text);
    ms_free(state);
    ms_free(text);
    return native;
}

/* ------------------------------------------------------------- EOF packet */

int decode_eof_packet(void *h, my_packet *p, int quiet)
{
    if (packet_remaining(p) < 1 || packet_peek_u8(p) != 0xFE)
        return malformed(h, "EOF");
    packet_get_u8(p, nullptr);
    uint32_t caps = client_caps(h);
    uint32_t status = 0;
    int32_t warnings = 0;
    int32_t rest = packet_remaining(p);
    if (rest > 0 && (caps & CLIENT_PROTOCOL_41)) {
        if ((caps & CLIENT_DEPRECATE_EOF) && rest > 4) {
            /* With CLIENT_DEPRECATE_EOF the end of rows is an OK packet with
             * a 0xFE lead: two counts, then status before warnings. */
            uint64_t ignored;
            if (get_lenenc_int(p, &ignored) || get_lenenc_int(p, &ignored) || !packet_need(p, 4))
                return malformed(h, "EOF");
            status = packet_get_u16(p);
            warnings = (int16_t)packet_get_u16(p);
        } else {
            if (!packet_need(p, 4))
                return malformed(h, "EOF");
            warnings = (int16_t)packet_get_u16(p);
            status = packet_get_u16(p);
        }
    }
    if (command_status *st = status_of(h)) {
        st->server_status = status;
        st->warnings = warnings;
    }
    if (rest > 0 && (caps & CLIENT_PROTOCOL_41))
        note_session_status(h, status);
    if (!quiet)
        QV_TRACE(h, LOG_DETAIL, "EOF Packet: status_flag=%x, warnings=%d", status, warnings);
    return 0;
}

/* -------------------------------------------------------------- OK packet */

static int is_blank(uint16_t u)
{
    return u == ' ' || u == '\t' || u == '\n' || u == '\v' || u == '\f' || u == '\r';
}

/* Reads a signed decimal at text[*i] (after optional blanks) into *v;
 * 0 when there is none or it overflows. */
static int scan_number(const my_string *s, uint32_t *i, int64_t *v)
{
    uint32_t k = *i;
    while (k < s->length && is_blank(s->data[k]))
        k++;
    int negative = 0;
    if (k < s->length && (s->data[k] == '-' || s->data[k] == '+'))
        negative = s->data[k++] == '-';
    uint32_t first = k;
    int64_t n = 0;
    for (; k < s->length && s->data[k] >= '0' && s->data[k] <= '9'; k++) {
        int digit = s->data[k] - '0';
        if (n > (INT64_MAX - digit) / 10)
            return 0;
        n = n * 10 + digit;
    }
    if (k == first)
        return 0;
    *v = negative ? -n : n;
    *i = k;
    return 1;
}

/* sscanf-style match of an ASCII pattern: a blank matches any run of blanks
 * (also none), "%d" a decimal number, any other character itself. Returns
 * how many numbers were read before the first mismatch. Works on the code
 * units, so no copy of the text is made. */
static int scan_counts(const my_string *s, const char *pattern, int64_t *out, int max)
{
    uint32_t i = 0;
    int found = 0;
    for (const char *q = pattern; *q; q++) {
        if (*q == ' ') {
            while (i < s->length && is_blank(s->data[i]))
                i++;
        } else if (q[0] == '%' && q[1] == 'd') {
            if (found == max || !scan_number(s, &i, &out[found]))
                return found;
            found++;
            q++;
        } else {
            if (i >= s->length || s->data[i] != (unsigned char)*q)
                return found;
            i++;
        }
    }
    return found;
}

static int starts_with(const my_string *s, const char *prefix)
{
    size_t n = strlen(prefix);
    if (s->length < n)
        return 0;
    for (size_t i = 0; i < n; i++)
        if (s->data[i] != (unsigned char)prefix[i])
            return 0;
    return 1;
}

/* UPDATE reports matched rows and LOAD DATA reports records only in the
 * information text; applications expect those as the affected-row count. */
static void apply_info_counts(void *h, const my_string *info, int64_t *affected)
{
    int64_t n[4];
    if (info->length >= 14 && starts_with(info, "Rows matched:")) {
        if (scan_counts(info, "Rows matched: %d  Changed: %d  Warnings: %d", n, 3) == 3) {
            *affected = n[0];
            QV_TRACE(h, LOG_DETAIL, "Extracted Rows matched: %l  Changed: %l  Warnings: %l",
                     n[0], n[1], n[2]);
        }
    } else if (info->length >= 9 && starts_with(info, "Records:")) {
        if (scan_counts(info, "Records: %d  Deleted: %d  Skipped: %d  Warnings : %d", n, 4) ==
            4) {
            *affected = n[0];
            QV_TRACE(h, LOG_DETAIL,
                     "Extracted Records: %l  Deleted: %l  Skipped: %l  Warnings : %l", n[0],
                     n[1], n[2], n[3]);
        }
    }
}

int decode_ok_packet(void *h, my_packet *p, int quiet)
{
    unsigned type = packet_peek_u8(p);
    if (packet_remaining(p) < 1 || type != 0x00) {
        QV_TRACE(h, LOG_DETAIL, "OK.EOF Packet: unexpected type=%x", type);
        post_error(h, ST_08S01, 0, "unexpected packet type %x", type);
        return -6;
    }
    packet_get_u8(p, nullptr);
    uint64_t affected, insert_id;
    if (get_lenenc_int(p, &affected) || get_lenenc_int(p, &insert_id))
        return malformed(h, "OK");
    uint32_t caps = client_caps(h);
    uint32_t status = 0;
    int32_t warnings = 0;
    if (caps & CLIENT_PROTOCOL_41) {
        if (!packet_need(p, 4))
            return malformed(h, "OK");
        status = packet_get_u16(p);
        warnings = (int16_t)packet_get_u16(p);
    } else if (caps & CLIENT_TRANSACTIONS) {
        if (!packet_need(p, 2))
            return malformed(h, "OK");
        status = packet_get_u16(p);
    }
    my_string *info = nullptr;
    int64_t n = packet_get_lenenc_string(p, &info);
    if (n == -1)
        return no_memory(h);
    if (n < 0)
        return malformed(h, "OK");

    int64_t count = (int64_t)affected;
    if (!quiet)
        QV_TRACE(h, LOG_DETAIL,
                 "OK Packet: type=%x, affected_rows=%l, last_insert_id=%l, status_flag=%x, "
                 "warnings=%d, info='%S'",
                 type, count, (int64_t)insert_id, status, warnings, info);
    apply_info_counts(h, info, &count);
    ms_free(info);
    if (command_status *st = status_of(h)) {
        st->affected_rows = count;
        st->server_status = status;
        st->warnings = warnings;
    }
    if (caps & (CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS))
        note_session_status(h, status);
    return 0;
}

/* ------------------------------------------------------ definition packets */

/* One decoded definition. Owns its names until they are handed over. */
struct column_def {
    my_string *catalog = nullptr, *schema = nullptr, *table = nullptr;
    my_string *org_table = nullptr, *name = nullptr, *org_name = nullptr;
    int charset = 0;
    uint32_t length = 0;
    int type = 0;
    int flags = 0;
    int decimals = 0;

    column_def() = default;
    column_def(const column_def &) = delete;
    column_def &operator=(const column_def &) = delete;
    ~column_def()
    {
        my_string *names[] = {catalog, schema, table, org_table, name, org_name};
        for (my_string *s : names)
            ms_free(s);
    }
};

/* Length-encoded string into *slot: 0, -6 (runs past the end) or -1 (no memory,
 * posted). */
static int read_name(void *h, my_packet *p, my_string **slot)
{
    int64_t rc = packet_get_lenenc_string(p, slot);
    if (rc == -1)
        return no_memory(h);
    return rc < 0 ? -6 : 0;
}

static void log_def(void *h, const column_def *d, int form41)
{
    if (form41) {
        QV_TRACE(h, LOG_DETAIL, "catalog: '%S'", d->catalog);
        QV_TRACE(h, LOG_DETAIL, "schema: '%S'", d->schema);
    }
    QV_TRACE(h, LOG_DETAIL, "table: '%S'", d->table);
    if (form41)
        QV_TRACE(h, LOG_DETAIL, "org_table: '%S'", d->org_table);
    QV_TRACE(h, LOG_DETAIL, "name: '%S'", d->name);
    if (form41)
        QV_TRACE(h, LOG_DETAIL, "org_name: '%S'", d->org_name);
    QV_TRACE(h, LOG_DETAIL, "character_set: %d", d->charset);
    QV_TRACE(h, LOG_DETAIL, "column_length: %u", (unsigned)d->length);
    QV_TRACE(h, LOG_DETAIL, "type: %d", d->type);
    QV_TRACE(h, LOG_DETAIL, "flags: 0x%x", (unsigned)d->flags);
    QV_TRACE(h, LOG_DETAIL, "decimals: %d", d->decimals);
}

/* 4.1 form: six names, then a fixed part whose declared length must cover
 * the ten bytes read from it (servers send 12: two filler bytes follow). */
static int read_def_41(void *h, my_packet *p, column_def *d)
{
    my_string **names[] = {&d->catalog, &d->schema, &d->table,
                           &d->org_table, &d->name, &d->org_name};
    for (my_string **slot : names)
        if (int rc = read_name(h, p, slot))
            return rc;
    uint64_t fixed;
    if (get_lenenc_int(p, &fixed) != 0 || fixed < 10 ||
        fixed > (uint64_t)packet_remaining(p))
        return -6;
    QV_TRACE(h, LOG_DETAIL, "next_length: %d", (int)fixed);
    d->charset = (int)packet_get_u16(p);
    d->length = packet_get_u32(p);
    unsigned type;
    packet_get_u8(p, &type);
    d->type = (int)type;
    d->flags = (int)packet_get_u16(p);
    unsigned decimals;
    packet_get_u8(p, &decimals);
    d->decimals = (int)decimals;
    skip_bytes(p, fixed - 10);
    log_def(h, d, 1);
    return 0;
}

/* 3.20 form: table, name, then length, type and flags+decimals, each behind a
 * length byte that only says how wide the value is. */
static int read_def_320(void *h, my_packet *p, column_def *d)
{
    if (int rc = read_name(h, p, &d->table))
        return rc;
    if (int rc = read_name(h, p, &d->name))
        return rc;
    int long_flag = (client_caps(h) & CLIENT_LONG_FLAG) != 0;
    uint64_t ignored;
    if (get_lenenc_int(p, &ignored) || !packet_need(p, 3))
        return -6;
    d->length = packet_get_u24(p);
    if (get_lenenc_int(p, &ignored) || !packet_need(p, 1))
        return -6;
    unsigned type;
    packet_get_u8(p, &type);
    d->type = (int)type;
    if (get_lenenc_int(p, &ignored) || !packet_need(p, long_flag ? 3 : 2))
        return -6;
    if (long_flag) {
        d->flags = (int)packet_get_u16(p);
    } else {
        unsigned f;
        packet_get_u8(p, &f);
        d->flags = (int)f;
    }
    unsigned decimals;
    packet_get_u8(p, &decimals);
    d->decimals = (int)decimals;
    const my_connection *c = handle_conn(h);
    d->charset = c ? c->charset : 0;
    log_def(h, d, 0);
    return 0;
}

static int read_def(void *h, my_packet *p, column_def *d)
{
    int rc = (client_caps(h) & CLIENT_PROTOCOL_41) ? read_def_41(h, p, d)
                                                   : read_def_320(h, p, d);
    return rc == -6 ? malformed(h, "column definition") : rc;
}

/* Hands the names over to the descriptor record. */
static int fill_from_def(my_statement *s, my_descriptor *d, int index, column_def *def)
{
    int rc = fill_field_from_column(s, d, index, def->catalog, def->schema, def->table,
                                    def->org_table, def->name, def->org_name, def->charset,
                                    def->length, def->type, def->flags, def->decimals);
    def->catalog = def->schema = def->table = def->org_table = def->name = def->org_name =
        nullptr;
    return rc;
}

/* --------------------------------------------------- definition decoder */

static my_descriptor *kind_target(my_statement *s, int kind)
{
    switch (kind) {
    case DEF_PARAMS: return s->implicit_ipd;
    case DEF_FIELDS: return s->implicit_fdd;
    default: return s->implicit_ird;
    }
}

/* Sizes the kind's descriptor for n records, makes it current and marks the
 * statement described for that kind. */
static my_descriptor *begin_description(my_statement *s, int kind, int n)
{
    my_descriptor *d = kind_target(s, kind);
    if (desc_set_records(d, n) != 0) {
        post_error(s, ST_HY001, 0, "failed expanding descriptor");
        return nullptr;
    }
    d->described_count = n;
    d->described_valid = 1;
    if (kind == DEF_COLUMNS) {
        s->ird = d;
        s->described = 1;
    } else if (kind == DEF_PARAMS) {
        s->ipd = d;
        s->params_described = 1;
    }
    return d;
}

/* A half-read description must not look like a real one. */
static void abandon_description(my_statement *s, int kind)
{
    my_descriptor *d = kind_target(s, kind);
    desc_set_records(d, 0);
    d->described_count = 0;
    d->described_valid = 0;
    if (kind == DEF_COLUMNS)
        s->described = 0;
    else if (kind == DEF_PARAMS)
        s->params_described = 0;
}

static my_packet *next_def_packet(void *h, int prepared)
{
    my_statement *s = as_stmt(h);
    if (s && !prepared)
        return stmt_next_packet(s);
    return packet_read(h);
}

static int decode_one_def(void *h, my_descriptor *d, my_packet *p, int index, int64_t count,
                          int kind)
{
    int form41 = (client_caps(h) & CLIENT_PROTOCOL_41) != 0;
    if (kind == DEF_PARAMS)
        QV_TRACE(h, LOG_DETAIL, form41 ? "Param Definition (41) %d of %l"
                                       : "Param Definition (320) %d of %l", index + 1, count);
    else
        QV_TRACE(h, LOG_DETAIL, form41 ? "Column Definition (41) %d of %l"
                                       : "Column Definition (320) %d of %l", index + 1, count);
    column_def def;
    if (int rc = read_def(h, p, &def))
        return rc;
    /* Servers describe a parameter whose type they cannot infer as a
     * zero-length string; give applications a usable size. */
    if (kind == DEF_PARAMS && def.type == MYSQL_TYPE_VAR_STRING && def.length == 0)
        def.length = 255;
    my_statement *s = as_stmt(h);
    return s ? fill_from_def(s, d, index, &def) : 0;
}

static int read_closing_eof(void *h, int prepared)
{
    my_packet *p = next_def_packet(h, prepared);
    if (!p)
        return read_failed(h);
    unsigned type = packet_peek_u8(p);
    int rc;
    if (packet_remaining(p) > 0 && type == 0xFE) {
        rc = decode_eof_packet(h, p, 0);
        my_statement *s = as_stmt(h);
        if (rc == 0 && s && (s->status.server_status & SERVER_STATUS_CURSOR_EXISTS))
            s->cursor_exists = 1;
    } else if (packet_remaining(p) > 0 && type == 0xFF) {
        decode_error_packet(h, p);
        rc = -1;
    } else {
        QV_TRACE(h, LOG_DETAIL, "Unexpected packet type %x", type);
        post_error(h, ST_08S01, 0, "unexpected packet type %x", type);
        rc = -6;
    }
    packet_free(p);
    return rc;
}

static int read_definitions(void *h, my_descriptor *d, int64_t count, int kind, int prepared)
{
    for (int64_t i = 0; i < count; i++) {
        my_packet *p = next_def_packet(h, prepared);
        if (!p)
            return read_failed(h);
        int rc = decode_one_def(h, d, p, (int)i, count, kind);
        packet_free(p);
        if (rc != 0)
            return rc;
    }
    if (client_caps(h) & CLIENT_DEPRECATE_EOF)
        return 0;
    return read_closing_eof(h, prepared);
}

int decode_field_defs(void *h, int64_t count, int kind, int prepared)
{
    if (kind == DEF_PARAMS)
        QV_TRACE(h, LOG_DETAIL, "Decoding %l param defs, prepared %d", count, prepared);
    else
        QV_TRACE(h, LOG_DETAIL, "Decoding %l column defs, prepared %d", count, prepared);
    /* The count comes from the server: refuse it before sizing anything by it. */
    if (count < 0 || count > MAX_DESC_RECORDS) {
        post_error(h, ST_08S01, 0, "invalid column count %l", count);
        return -6;
    }
    my_statement *s = as_stmt(h);
    my_descriptor *d = nullptr;
    if (s && !(d = begin_description(s, kind, (int)count)))
        return -1;
    int rc = read_definitions(h, d, count, kind, prepared);
    if (rc != 0) {
        if (s)
            abandon_description(s, kind);
        return rc;
    }
    if (!prepared) {
        /* Rows still to come on the wire keep everyone else off the
         * connection until they are read; rows already in the statement's
         * queue hold nobody up. */
        if (s) {
            s->data_waiting = 1;
            refresh_busy(s);
        } else if (my_connection *c = handle_conn(h)) {
            c->busy = 1;
            c->busy_owner = nullptr;
        }
    }
    return 0;
}

/* ------------------------------------------------------- prepare OK packet */

static int describe_prepared(my_statement *s, int count, int kind)
{
    if (count > 0)
        return decode_field_defs(s, count, kind, 1);
    return begin_description(s, kind, 0) ? 0 : -1;
}

int decode_prepare_ok(my_statement *s, my_packet *p, prepare_ok *out)
{
    /* status, statement id, column and parameter counts are required; the
     * filler and the warning count are absent from the oldest servers. */
    if (!packet_need(p, 9) || packet_peek_u8(p) != 0x00)
        return malformed(s, "prepare OK");
    unsigned status;
    packet_get_u8(p, &status);
    unsigned char id[4];
    packet_get_bytes(p, id, sizeof id);
    int columns = (int)packet_get_u16(p);
    int params = (int)packet_get_u16(p);
    int32_t warnings = 0;
    packet_get_u8(p, nullptr);   /* filler */
    if (packet_remaining(p) > 0) {
        if (!packet_need(p, 2))
            return malformed(s, "prepare OK");
        warnings = (int16_t)packet_get_u16(p);
    }
    char hex[9];
    snprintf(hex, sizeof hex, "%02x%02x%02x%02x", id[0], id[1], id[2], id[3]);
    QV_TRACE(s, LOG_DETAIL, "status: %d", (int)status);
    QV_TRACE(s, LOG_DETAIL, "stmt_id: '%s'", hex);
    QV_TRACE(s, LOG_DETAIL, "number of columns: %d", columns);
    QV_TRACE(s, LOG_DETAIL, "number of parameters: %d", params);
    QV_TRACE(s, LOG_DETAIL, "number of warnings: %d", warnings);

    out->statement_id = (uint32_t)id[0] | (uint32_t)id[1] << 8 | (uint32_t)id[2] << 16 |
                        (uint32_t)id[3] << 24;
    out->columns = columns;
    out->params = params;
    s->status.warnings = warnings;
    return 0;
}

int decode_prep_stmt(my_statement *s, my_packet *p)
{
    QV_TRACE(s, LOG_DETAIL, "decode_prep_stmt");
    prepare_ok ok;
    if (int rc = decode_prepare_ok(s, p, &ok))
        return rc;
    s->statement_id = ok.statement_id;
    int rc = describe_prepared(s, ok.params, DEF_PARAMS);
    if (rc == 0)
        rc = describe_prepared(s, ok.columns, DEF_COLUMNS);
    if (rc == 0)
        s->prepared = 1;
    return rc;
}

/* ------------------------------------------------------ field-list packets */

/* A column definition followed by the column's default value, which nothing
 * keeps. */
static int read_field_list_def(my_statement *s, my_packet *p, my_descriptor *d, int index)
{
    column_def def;
    if (int rc = read_def(s, p, &def))
        return rc;
    my_string *dflt = nullptr;
    int64_t n = packet_get_lenenc_string(p, &dflt);
    if (n == -1)
        return no_memory(s);
    if (n < 0)
        return malformed(s, "column definition");
    QV_TRACE(s, LOG_DETAIL, "def_length: %d", (int)n);
    QV_TRACE(s, LOG_DETAIL, "default: '%S'", dflt);
    ms_free(dflt);
    return fill_from_def(s, d, index, &def);
}

int decode_field_list(my_statement *s, my_packet *p, int index)
{
    QV_TRACE(s, LOG_DETAIL, "Decoding col %d column defs", index + 1);
    if (index < 0 || index >= MAX_DESC_RECORDS) {
        post_error(s, ST_08S01, 0, "invalid column count %d", index + 1);
        return -6;
    }
    my_descriptor *d = s->implicit_ird;
    if ((index == 0 ? desc_set_records(d, 1) : desc_grow(d, index + 1)) != 0) {
        post_error(s, ST_HY001, 0, "failed expanding descriptor");
        return -1;
    }
    s->ird = d;
    d->described_count = index + 1;
    d->described_valid = 1;
    s->described = 1;

    int form41 = (client_caps(s) & CLIENT_PROTOCOL_41) != 0;
    QV_TRACE(s, LOG_DETAIL, form41 ? "Column FL Definition (41) %d"
                                   : "Column FL Definition (320) %d", index + 1);
    int rc = read_field_list_def(s, p, d, index);
    if (rc != 0)
        abandon_description(s, DEF_COLUMNS);
    return rc;
}
