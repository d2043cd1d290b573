/*
 * The check before an execution and data at execution: the sequence that
 * SQLParamData and SQLPutData drive, the pieces kept for the text protocol
 * and the long data sent ahead for statements prepared on the server.
 */
#include <stdlib.h>
#include <string.h>

#include <new>
#include <vector>

#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "stmt/my_param.h"
#include "stmt/my_param_conv.h"

enum { COM_STMT_SEND_LONG_DATA = 0x18 };

int param_wants_dae(my_statement *s, int index)
{
    if (index < 0 || index >= s->apd->field_count)
        return 0;
    param_ref r;
    return param_locate(s, index, 0, &r) == 0 && r.is_dae;
}

int row_wants_dae(my_statement *s)
{
    int limit = s->apd->field_count < s->found_param_count ? s->apd->field_count
                                                           : s->found_param_count;
    for (int i = 0; i < limit; i++)
        if (s->apd->records[i].indicator_ptr && param_wants_dae(s, i))
            return 1;
    return 0;
}

static void trace_param(my_statement *s, int i)
{
    const field *f = &s->apd->records[i];
    QV_TRACE(s, LOG_DETAIL, "Checking param %d, ind=%p data=%p", i, f->indicator_ptr, f->data_ptr);
}

int dae_next_param(my_statement *s, int after)
{
    int limit = s->apd->field_count < s->found_param_count ? s->apd->field_count
                                                           : s->found_param_count;
    for (int i = after + 1; i < limit; i++) {
        trace_param(s, i);
        if (param_wants_dae(s, i)) {
            QV_TRACE(s, LOG_DETAIL, "data at execute param %d", i);
            return i;
        }
    }
    return -1;
}

static void drop_pieces(my_statement *s)
{
    for (int i = 0; i < s->apd->field_count; i++) {
        field *f = &s->apd->records[i];
        if (!f->dae_chunks)
            continue;
        for (dae_chunk &c : *f->dae_chunks)
            free(c.data);
        delete f->dae_chunks;
        f->dae_chunks = nullptr;
    }
}

static void reset_piece_state(my_statement *s)
{
    s->dae_pieces = 0;
    s->dae_null = 0;
    s->dae_tail_len = 0;
}

void dae_clear(my_statement *s)
{
    drop_pieces(s);
    s->dae_active = 0;
    s->dae_ready = 0;
    reset_piece_state(s);
}

int my_check_params(my_statement *s, int op)
{
    int n = s->found_param_count;
    my_descriptor *apd = s->apd;
    QV_TRACE(s, LOG_DETAIL, "my_check_params, stmt_field_count=%d", n);
    if (apd->field_count < n) {
        QV_TRACE(s, LOG_ERROR, "Inconnect number of bound parameters %d %d", n, apd->field_count);
        post_error(s, ST_07002, 0, nullptr);
        return -1;
    }
    for (int i = 0; i < n; i++) {
        trace_param(s, i);
        const field *f = &apd->records[i];
        if (!f->indicator_ptr && !f->data_ptr) {
            QV_TRACE(s, LOG_ERROR, "Parameter %d is not bound", i + 1);
            post_error_col(s, ST_07002, 0, i + 1, nullptr);
            return -1;
        }
    }
    /* Pieces of an earlier execution must not join this one's. */
    dae_clear(s);
    for (int i = 0; i < n; i++) {
        if (!param_wants_dae(s, i))
            continue;
        s->current_dae_param = i;
        s->current_dae_op = op;
        s->current_dae_first = 1;
        s->dae_active = 1;
        s->dae_row = s->param_row;
        /* the application tells the rows of an array apart by this count */
        if (SQLULEN *processed = (SQLULEN *)s->ipd->rows_processed_ptr)
            *processed = (SQLULEN)s->param_row + 1;
        QV_TRACE(s, LOG_DETAIL, "data at execute param %d", i);
        return SQL_NEED_DATA;
    }
    return 0;
}

/* Pieces wait in the APD for a query built as text; a statement prepared on
 * the server receives them at once as long data. */
static int dae_text_mode(const my_statement *s)
{
    const my_connection *c = handle_conn(s);
    return s->current_dae_op != DAE_OP_EXECUTE || (c && c->Text_Prepare);
}

/* COM_STMT_SEND_LONG_DATA for the current parameter; the server answers
 * nothing. put writes the data into the packet. */
template <typename Put> static int send_long_data(my_statement *s, Put put)
{
    /* a piece larger than one packet goes out while it is being built */
    wire_exchange x(s);
    packet_reset_seq(s);
    my_packet *p = packet_new(s);
    if (!p) {
        post_error(s, ST_HY001, 0, nullptr);
        return -1;
    }
    int before = diag_count(s);
    int rc = packet_put_u8(p, COM_STMT_SEND_LONG_DATA) || packet_put_u32(p, s->statement_id) ||
             packet_put_u16(p, (unsigned)s->current_dae_param) || put(p);
    if (rc == 0)
        rc = packet_send(s, p);
    packet_free(p);
    if (rc != 0 && diag_count(s) == before)
        post_error(s, ST_HY001, 0, nullptr);
    return rc ? -1 : 0;
}

static void load_tail(const my_statement *s, utf16_tail *t)
{
    t->len = s->dae_tail_len;
    memcpy(t->bytes, s->dae_tail, sizeof t->bytes);
}

static void store_tail(my_statement *s, const utf16_tail *t)
{
    s->dae_tail_len = t->len;
    memcpy(s->dae_tail, t->bytes, sizeof s->dae_tail);
}

/* Wide long data goes out in the connection's text encoding; a unit or a
 * surrogate pair cut by the piece's end waits for the next piece. */
static int send_wide_long_data(my_statement *s, const unsigned char *b, size_t n)
{
    return send_long_data(s, [&](my_packet *p) {
        text_out o;
        tout_init(&o, p, handle_conn(s), ESC_NONE);
        utf16_tail tail;
        load_tail(s, &tail);
        tout_wide(&o, &tail, b, n);
        store_tail(s, &tail);
        return tout_finish(&o);
    });
}

/* A high surrogate whose partner never came is sent as U+FFFD. */
static int finish_current(my_statement *s)
{
    if (!s->dae_active || dae_text_mode(s) || s->dae_tail_len < 2)
        return 0;
    return send_long_data(s, [&](my_packet *p) {
        text_out o;
        tout_init(&o, p, handle_conn(s), ESC_NONE);
        utf16_tail tail;
        load_tail(s, &tail);
        tout_wide_end(&o, &tail);
        store_tail(s, &tail);
        return tout_finish(&o);
    });
}

int dae_begin_param(my_statement *s, int index)
{
    if (finish_current(s) != 0)
        return -1;
    s->current_dae_param = index;
    reset_piece_state(s);
    return 0;
}

int dae_end(my_statement *s)
{
    if (finish_current(s) != 0)
        return -1;
    s->dae_active = 0;
    s->dae_ready = 1;
    reset_piece_state(s);
    return 0;
}

static int keep_piece(my_statement *s, field *f, const unsigned char *b, int64_t length)
{
    if (!f->dae_chunks && !(f->dae_chunks = new (std::nothrow) std::vector<dae_chunk>()))
        goto no_memory;
    {
        dae_chunk c = {length, nullptr};
        if (length > 0) {
            if (!(c.data = (unsigned char *)malloc((size_t)length)))
                goto no_memory;
            memcpy(c.data, b, (size_t)length);
        }
        try {
            f->dae_chunks->push_back(c);
        } catch (const std::bad_alloc &) {
            free(c.data);
            goto no_memory;
        }
    }
    return 0;
no_memory:
    post_error(s, ST_HY001, 0, nullptr);
    return -1;
}

/* A fixed-size value given at execution is kept as its text, which both the
 * literal and the server's conversion of a string parameter can take. */
static int fixed_piece_text(my_statement *s, const field *f, const void *data, param_chars *t)
{
    param_ref r;
    memset(&r, 0, sizeof r);
    r.s = s;
    r.apd = const_cast<field *>(f);
    r.index = s->current_dae_param;
    r.c_type = f->concise_type;
    r.value = (const unsigned char *)data;
    r.scale = f->scale;
    return get_char_from_param(&r, t);
}

static int64_t wide_length(const unsigned char *p)
{
    int64_t n = 0;
    for (uint16_t u;; n += 2) {
        memcpy(&u, p + n, 2);
        if (u == 0)
            return n;
    }
}

int dae_put_piece(my_statement *s, const void *data, int64_t length)
{
    if (!s->dae_active || s->current_dae_first || s->current_dae_param >= s->apd->field_count) {
        post_error(s, ST_HY010, 0, nullptr);
        return -1;
    }
    field *f = &s->apd->records[s->current_dae_param];
    int cc = c_type_class(f->concise_type);
    int wide = cc == CC_WCHAR && !wide_is_utf8(handle_conn(s));
    int text = dae_text_mode(s);
    const unsigned char *bytes = (const unsigned char *)data;

    if (length == SQL_NULL_DATA) {
        if (s->dae_pieces > 0) {
            post_error(s, ST_HY020, 0, nullptr);
            return -1;
        }
        s->dae_null = 1;
        s->dae_pieces++;
        /* without long data the server takes the parameter's null bit */
        return text ? keep_piece(s, f, nullptr, SQL_NULL_DATA) : 0;
    }
    if (s->dae_null) {
        post_error(s, ST_HY020, 0, nullptr);
        return -1;
    }
    if (!data && length != 0) {
        post_error(s, ST_HY009, 0, nullptr);
        return -1;
    }
    param_chars fixed;
    if (!is_char_class(cc) && cc != CC_BINARY) {
        if (s->dae_pieces > 0) {
            post_error(s, ST_HY019, 0, nullptr);
            return -1;
        }
        if (fixed_piece_text(s, f, data, &fixed) != 0)
            return -1;
        bytes = fixed.bytes;
        length = fixed.length;
    } else if (length == SQL_NTS) {
        length = wide ? wide_length(bytes) : (int64_t)strlen((const char *)data);
    } else if (length < 0 || length > MAX_COMMAND_BYTES) {
        /* no piece of a command can be longer: the length is not the data's */
        QV_TRACE(s, LOG_ERROR, "invalid length %l for a piece of param %d", length,
                 s->current_dae_param + 1);
        post_error(s, ST_HY090, 0, nullptr);
        return -1;
    }
    int rc;
    if (text)
        rc = keep_piece(s, f, bytes, length);
    else if (wide)
        rc = send_wide_long_data(s, bytes, (size_t)length);
    else
        rc = send_long_data(s, [&](my_packet *p) { return packet_put_bytes(p, bytes, (size_t)length); });
    if (rc == 0)
        s->dae_pieces++;
    return rc;
}
