/*
 * Fetching rows into the value holders and the application's bound buffers.
 *
 * The hot path: per row, the next packet is a view into the statement's
 * queue (or one read into a buffer reused from row to row), each column is
 * decoded where it lies, and the bound columns are converted. Nothing here
 * allocates per row.
 */
#include "results/my_fetch.h"

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_decode.h"
#include "protocol/my_proto.h"
#include "results/my_bin_data.h"
#include "results/my_data.h"
#include "results/my_internalrs.h"

/* ============================================================ row readers */

/* The end-of-rows packet: its status says whether more results follow.
 * A malformed one leaves the rest of the response unplaceable. */
static int take_end_of_rows(my_statement *s, my_packet *p, int quiet)
{
    if (decode_eof_packet(s, p, quiet) != 0) {
        conn_mark_dead(handle_conn(s));
        return -1;
    }
    if (s->status.server_status & SERVER_MORE_RESULTS_EXISTS)
        s->more_results = 1;
    return 0;
}

/* The server sent an error instead of the next row: the result ends,
 * whatever decoding the error meets, and with it the statement's hold on
 * the wire. */
static SQLRETURN row_error(my_statement *s, my_packet *p)
{
    s->data_waiting = 0;
    refresh_busy(s);
    decode_error_packet(s, p);
    return SQL_ERROR;
}

/* The text row in s->current_row into the value holders. */
static SQLRETURN decode_text_row(my_statement *s)
{
    /* 1: a value that did not decode (reported; the other columns are
     * still read and the row is delivered); -1: the row is unusable */
    int rc = read_text_row(s);
    return rc < 0 ? SQL_ERROR : rc > 0 ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN my_fetch_row(my_statement *s)
{
    stmt_drop_row(s);
    my_packet *p = stmt_next_row(s, "my_fetch_row");
    if (!p)
        return SQL_ERROR;
    if (lead_byte(p) == 0xFF)
        return row_error(s, p);
    if (is_end_of_rows(s, p)) {
        s->data_waiting = 0;
        return take_end_of_rows(s, p, 0) == 0 ? SQL_NO_DATA : SQL_ERROR;
    }
    s->current_row = p;
    return decode_text_row(s);
}

SQLRETURN my_fetch_row_binary(my_statement *s)
{
    for (;;) {
        stmt_drop_row(s);
        if (s->cursor_exists) {
            if (read_next_row(s) != 0)
                return SQL_ERROR;
            s->cursor_exists = 0;
        }
        my_packet *p = stmt_next_row(s, "my_fetch_row_binary");
        if (!p)
            return SQL_ERROR;
        unsigned lead = lead_byte(p);
        if (lead == 0xFF)
            return row_error(s, p);
        if (lead == 0x00) {
            s->current_row = p;
            return decode_binary_row(s);
        }
        if (!is_end_of_rows(s, p)) {
            QV_TRACE(s, LOG_ERROR, "my_fetch_row_binary: unexpected first byte %x", lead);
            post_error(s, ST_HY000, 0, "unexpecetd row start byte");
            return SQL_ERROR;
        }
        if (take_end_of_rows(s, p, 0) != 0) {
            s->data_waiting = 0;
            return SQL_ERROR;
        }
        if (!(s->status.server_status & SERVER_STATUS_CURSOR_EXISTS)) {
            s->data_waiting = 0;
            return SQL_NO_DATA;
        }
        s->cursor_exists = 1;
        QV_TRACE(s, LOG_DETAIL, "my_fetch_row_binary: read next cursor row");
    }
}

void drain_result_rows(my_statement *s)
{
    stmt_drop_row(s);
    while (s->data_waiting) {
        my_packet *p = stmt_next_row(s, "drain_result_rows");
        if (!p)
            break;
        /* an error ends the result; nobody asked for its rows any more */
        if (lead_byte(p) == 0xFF) {
            s->data_waiting = 0;
        } else if (is_end_of_rows(s, p)) {
            s->data_waiting = 0;
            take_end_of_rows(s, p, 1);
        }
    }
}

/* ======================================================== bound columns */

int64_t bound_element_size(const my_descriptor *ard, const field *rec, int64_t buffer_length)
{
    if (ard->bind_type != 0)
        return buffer_length;
    switch (rec->concise_type) {
    case SQL_C_NUMERIC:
        return 19;
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_FLOAT:
        return 4;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
        return 2;
    case SQL_C_DOUBLE:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
        return 8;
    case SQL_C_DATE:
    case SQL_C_TIME:
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME:
        return 6;
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP:
        return 16;
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_BIT:
        return 1;
    default:
        return buffer_length;
    }
}

void get_pointers_from_cols(my_statement *s, const field *rec, const my_descriptor *ard,
                            void **data, SQLLEN **octet_length, SQLLEN **indicator,
                            int64_t element_size)
{
    int64_t row = s->row_offset;
    int64_t offset = ard->bind_offset_ptr ? *(const SQLLEN *)ard->bind_offset_ptr : 0;
    /* Row-wise binding steps by the row structure for every pointer;
     * column-wise by the value's size, and by SQLLEN for the lengths. */
    int64_t data_step = ard->bind_type > 0 ? ard->bind_type : element_size;
    int64_t len_step = ard->bind_type > 0 ? ard->bind_type : (int64_t)sizeof(SQLLEN);
    *data = rec->data_ptr ? (char *)rec->data_ptr + row * data_step + offset : nullptr;
    *indicator = rec->indicator_ptr
                     ? (SQLLEN *)((char *)rec->indicator_ptr + row * len_step + offset)
                     : nullptr;
    *octet_length = rec->octet_length_ptr
                        ? (SQLLEN *)((char *)rec->octet_length_ptr + row * len_step + offset)
                        : nullptr;
    if (*octet_length == *indicator)
        *octet_length = nullptr;
}

/* A value the row reader refused has been reported with the row; a buffer
 * that cannot take the server's text as it is gets nothing and no second
 * diagnostic. */
static int refused_for(const my_statement *s, int n, int c_type)
{
    if (n < 1 || n > s->ird->field_count)
        return 0;
    return !storage_serves(s->ird->records[n - 1].storage, c_type);
}

/* The records of the IRD a row fills. */
static int described_limit(const my_statement *s)
{
    return s->described ? s->ird->described_count : s->ird->field_count;
}

/* Chooses how each bound column is filled: its target type, converter and
 * direct copy, once for as long as the binding, the ARD, the IRD and the
 * connection's character set stay as they are. The bookmark column keeps
 * the general path. -1 when memory runs out (HY001 posted). */
static int plan_bound_columns(my_statement *s)
{
    bind_plan &p = s->plan;
    my_descriptor *ard = s->ard, *ird = s->ird;
    const my_connection *c = handle_conn(s);
    p.valid = 0;
    p.columns.clear();
    int limit = described_limit(s);
    for (int n = 1; n <= ard->field_count && n <= limit; n++) {
        const field *rec = &ard->records[n - 1];
        if (!rec->data_ptr && !rec->indicator_ptr && !rec->octet_length_ptr)
            continue;
        const field *col = n <= ird->field_count ? &ird->records[n - 1] : nullptr;
        bound_column b = {};
        b.column = n;
        b.c_type = rec->concise_type;
        if (b.c_type == SQL_C_DEFAULT && col)
            b.c_type = column_default_c_type(s, col);
        /* no such column, SQL_ARD_TYPE, or a type without a converter:
         * my_get_data says why */
        if (col && b.c_type != SQL_ARD_TYPE && b.c_type != SQL_C_DEFAULT)
            b.convert = column_converter(s, b.c_type);
        if (b.convert && !(rec->octet_length < 0 && (b.c_type == SQL_C_CHAR ||
                                                      b.c_type == SQL_C_WCHAR ||
                                                      b.c_type == SQL_C_BINARY)))
            b.direct = bound_direct_copy(s, col, b.c_type, &b.held_type);
        b.element_size = bound_element_size(ard, rec, rec->octet_length);
        try {
            p.columns.push_back(b);
        } catch (const std::bad_alloc &) {
            p.columns.clear();
            post_error(s, ST_HY001, 0, nullptr);
            return -1;
        }
    }
    p.ard = ard;
    p.ird = ird;
    p.ard_stamp = ard->stamp;
    p.ird_stamp = ird->stamp;
    p.limit = limit;
    p.charset = c ? c->charset : 0;
    p.valid = 1;
    return 0;
}

/* Whether the plan still describes the binding: checked once per row, in
 * a few comparisons, never per column. */
static int plan_current(const my_statement *s)
{
    const bind_plan &p = s->plan;
    const my_connection *c = (const my_connection *)s->hdr.owner;
    return p.valid && p.ard == s->ard && p.ird == s->ird && p.ard_stamp == s->ard->stamp &&
           p.ird_stamp == s->ird->stamp && p.limit == described_limit(s) &&
           p.charset == (c ? c->charset : 0);
}

/* One bound column of rowset row s->row_offset. */
static SQLRETURN fill_bound_column(my_statement *s, const my_descriptor *ard, const field *rec,
                                   const bound_column &b, int64_t offset)
{
    int64_t row = s->row_offset;
    /* Row-wise binding steps by the row structure for every pointer;
     * column-wise by the value's size, and by SQLLEN for the lengths. */
    int64_t data_step = ard->bind_type > 0 ? ard->bind_type : b.element_size;
    int64_t len_step = ard->bind_type > 0 ? ard->bind_type : (int64_t)sizeof(SQLLEN);
    void *data = rec->data_ptr ? (char *)rec->data_ptr + row * data_step + offset : nullptr;
    SQLLEN *ind = rec->indicator_ptr
                      ? (SQLLEN *)((char *)rec->indicator_ptr + row * len_step + offset)
                      : nullptr;
    SQLLEN *oct = rec->octet_length_ptr
                      ? (SQLLEN *)((char *)rec->octet_length_ptr + row * len_step + offset)
                      : nullptr;
    if (oct == ind)
        oct = nullptr;
    if (!data && !oct && !ind)
        return SQL_SUCCESS;
    if (b.column <= s->ird->field_count && s->ird->records[b.column - 1].storage.refused &&
        refused_for(s, b.column, rec->concise_type))
        return SQL_ERROR;
    if (b.direct && bound_direct_copy_value(s, b, s->ird->records[b.column - 1].storage, data,
                                            (SQLLEN)rec->octet_length, ind, oct))
        return SQL_SUCCESS;   /* a value moved as it is leaves the holder as it was */
    SQLRETURN rc = get_bound_value(s, b, data, (SQLLEN)rec->octet_length, ind, oct);
    /* the bound buffer took the value; SQLGetData still reads it whole */
    if (b.column <= s->ird->field_count) {
        data_storage &ds = s->ird->records[b.column - 1].storage;
        ds.data_done = 0;
        ds.value_offset = 0;
        ds.wide_offset = 0;
    }
    return rc;
}

/* Every bound column is filled, whatever happened to the others: each
 * failure has its own diagnostic, and the result is the worst of them. */
SQLRETURN transfer_bound_columns(my_statement *s)
{
    my_descriptor *ard = s->ard;
    if (ard->field_count == 0)
        return SQL_SUCCESS;
    if (!plan_current(s) && plan_bound_columns(s) != 0)
        return SQL_ERROR;
    SQLRETURN result = SQL_SUCCESS;
    if (s->use_bookmarks) {
        field *rec = &ard->bookmark_record;
        void *data;
        SQLLEN *oct, *ind;
        get_pointers_from_cols(s, rec, ard, &data, &oct, &ind,
                               bound_element_size(ard, rec, rec->octet_length));
        if (data || oct || ind)
            result = my_get_data(s, 0, rec->concise_type, data, (SQLLEN)rec->octet_length, ind,
                                 oct);
        if (result == SQL_NO_DATA)
            result = SQL_SUCCESS;
    }
    int64_t offset = ard->bind_offset_ptr ? *(const SQLLEN *)ard->bind_offset_ptr : 0;
    for (const bound_column &b : s->plan.columns) {
        SQLRETURN rc = fill_bound_column(s, ard, &ard->records[b.column - 1], b, offset);
        if (rc == SQL_ERROR)
            result = SQL_ERROR;
        else if (rc == SQL_SUCCESS_WITH_INFO && result == SQL_SUCCESS)
            result = SQL_SUCCESS_WITH_INFO;
    }
    return result;
}

/* ================================================================ my_fetch */

static int binary_rows(const my_statement *s)
{
    const my_connection *c = handle_conn(s);
    return s->binary_result || (s->prepared && !(c && c->Text_Prepare));
}

/* One row of the rowset: read, decode, fill the bound columns. A row that
 * could not be read is not converted: its buffers would get stale values.
 * *delivered tells a row that was read (whatever its values did) from one
 * that was not. */
static SQLRETURN next_row(my_statement *s, int *delivered)
{
    *delivered = 0;
    if (s->internal_rs)   /* fills the bound columns itself */
        return internal_rs_fetch(s, SQL_FETCH_NEXT, delivered);
    SQLRETURN rc = binary_rows(s) ? my_fetch_row_binary(s) : my_fetch_row(s);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
        return rc;
    *delivered = 1;
    SQLRETURN t = transfer_bound_columns(s);
    if (t == SQL_ERROR)
        return t;
    return rc == SQL_SUCCESS ? t : SQL_SUCCESS_WITH_INFO;
}

/* The diagnostics a delivered row left name it (1-based within the rowset). */
static void number_row_diagnostics(my_statement *s, uint64_t row)
{
    for (diag_record *r = s->hdr.diag_list; r; r = r->next)
        if (r->row_number == 0)
            r->row_number = (int64_t)row + 1;
}

static SQLUSMALLINT row_status_of(SQLRETURN rc)
{
    return rc == SQL_SUCCESS ? SQL_ROW_SUCCESS
           : rc == SQL_SUCCESS_WITH_INFO ? SQL_ROW_SUCCESS_WITH_INFO
                                         : SQL_ROW_ERROR;
}

static void set_row_status(my_descriptor *ird, uint64_t row, SQLUSMALLINT status)
{
    if (ird->array_status_ptr)
        ((SQLUSMALLINT *)ird->array_status_ptr)[row] = status;
}

/* The rows ran out: the result is closed, and unless further results wait
 * on the wire for this statement, the connection is free again. */
static void end_of_data(my_statement *s)
{
    s->data_waiting = 0;
    refresh_busy(s);
}

/* ======================================================= static cursor */

int cursor_open(my_statement *s)
{
    s->row_number = 0;
    s->rows_read = 0;
    index_clear(s);
    if (!s->data_waiting || (s->cursor_type == SQL_CURSOR_FORWARD_ONLY && !s->cursor_scrollable))
        return 0;
    if (s->internal_rs || response_on_wire(s))
        return 1;
    int rc = index_rows(s);
    if (rc < 0)
        return -1;
    if (rc != 0) {
        /* rows cut short by an error are read forward: the error then
         * comes where the rows end */
        index_clear(s);
        return 1;
    }
    s->rows.active = 1;
    QV_TRACE(s, LOG_DETAIL, "cursor_open: static cursor over %l rows", (int64_t)s->rows.at.size());
    return 0;
}

int64_t scroll_target(int orientation, int64_t offset, int64_t current, int64_t last_size,
                      int64_t size, int64_t rows, int *before_first)
{
    *before_first = 0;
    const int64_t after = rows + 1;
    /* offsets beyond any result: their arithmetic must not overflow */
    const int64_t far = (int64_t)1 << 62;
    offset = offset > far ? far : offset < -far ? -far : offset;
    int64_t target;
    switch (orientation) {
    case SQL_FETCH_NEXT:
        if (current <= 0)
            target = 1;
        else if (current > rows)
            target = after;
        else
            target = current + last_size;
        break;
    case SQL_FETCH_PRIOR:
        if (current <= 0 || current == 1) {
            target = 0;
        } else if (current > rows) {
            target = rows < size ? 1 : rows - size + 1;
        } else if (current <= size) {
            *before_first = 1;
            target = 1;
        } else {
            target = current - size;
        }
        break;
    case SQL_FETCH_RELATIVE:
        if ((current <= 0 && offset > 0) || (current > rows && offset < 0))
            return scroll_target(SQL_FETCH_ABSOLUTE, offset, current, last_size, size, rows,
                                 before_first);
        if (current <= 0)
            target = 0;
        else if (current > rows)
            target = after;
        else if (current == 1 && offset < 0)
            target = 0;
        else if (current + offset < 1) {
            if (-offset > size) {
                target = 0;
            } else {
                *before_first = 1;
                target = 1;
            }
        } else {
            target = current + offset;
        }
        break;
    case SQL_FETCH_ABSOLUTE:
        if (offset < 0) {
            if (-offset <= rows)
                target = rows + offset + 1;
            else
                target = -offset > size ? 0 : 1;
        } else {
            target = offset == 0 ? 0 : offset;
        }
        break;
    case SQL_FETCH_FIRST:
        target = 1;
        break;
    case SQL_FETCH_LAST:
        target = rows <= size ? 1 : rows - size + 1;
        break;
    default:
        return -1;
    }
    if (target > rows)
        return after;
    return target < 0 ? 0 : target;
}

/* A fetch of a static cursor: the rowset the move names, read from the
 * index. Every row is in memory, so each one asked for is delivered. */
static SQLRETURN scroll_fetch(my_statement *s, int orientation, int64_t offset)
{
    my_descriptor *ird = s->ird;
    SQLULEN *fetched = (SQLULEN *)ird->rows_processed_ptr;
    uint64_t n = s->ard->array_size;
    if (n == 0) {
        post_error(s, ST_HY024, 0, "row array size is 0");
        return SQL_ERROR;
    }
    row_index &x = s->rows;
    int64_t rows = (int64_t)x.at.size();
    int64_t size = n > (uint64_t)INT32_MAX ? INT32_MAX : (int64_t)n;
    int64_t last_size = x.rowset_size ? (int64_t)x.rowset_size : size;
    int before_first = 0;
    int64_t target = scroll_target(orientation, offset, x.rowset_start, last_size, size, rows,
                                   &before_first);
    if (target < 0) {
        post_error(s, ST_HY106, 0, nullptr);
        return SQL_ERROR;
    }
    x.rowset_start = target;
    x.rowset_size = (uint64_t)size;
    s->row_offset = 0;
    if (fetched)
        *fetched = 0;
    if (target < 1 || target > rows) {
        s->row_number = 0;
        stmt_drop_row(s);
        for (uint64_t r = 0; r < n; r++)
            set_row_status(ird, r, SQL_ROW_NOROW);
        return SQL_NO_DATA;
    }
    s->row_number = target;
    SQLRETURN rc = SQL_SUCCESS;
    int with_info = 0;
    uint64_t row = 0;
    for (; row < n && target + (int64_t)row <= rows; row++) {
        s->row_offset = (int32_t)row;
        if (!index_row(s, target - 1 + (int64_t)row))
            return SQL_ERROR;
        rc = binary_rows(s) ? decode_binary_row(s) : decode_text_row(s);
        if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
            SQLRETURN t = transfer_bound_columns(s);
            rc = t == SQL_ERROR ? t : rc == SQL_SUCCESS ? t : SQL_SUCCESS_WITH_INFO;
        }
        if (rc != SQL_SUCCESS) {
            with_info = 1;
            number_row_diagnostics(s, row);
        }
        set_row_status(ird, row, row_status_of(rc));
        if (fetched)
            (*fetched)++;
    }
    s->row_offset = (int32_t)row;
    for (uint64_t r = row; r < n; r++)
        set_row_status(ird, r, SQL_ROW_NOROW);
    if (before_first) {
        post_error(s, ST_01S06, 0, nullptr);
        with_info = 1;
    }
    if (n > 1 || before_first)
        return with_info ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    return rc;
}

SQLRETURN my_fetch(my_statement *s, int orientation, int64_t offset)
{
    my_descriptor *ird = s->ird;
    SQLULEN *fetched = (SQLULEN *)ird->rows_processed_ptr;
    uint64_t n = s->ard->array_size;
    if (!s->data_waiting) {
        QV_TRACE(s, LOG_ERROR, "my_fetch: No current resutset");
        /* the counts of the last rowset must not pass for this call's */
        if (fetched)
            *fetched = 0;
        for (uint64_t r = 0; r < n; r++)
            set_row_status(ird, r, SQL_ROW_NOROW);
        s->row_number = 0;
        return SQL_NO_DATA;
    }
    if (s->rows.active)
        return scroll_fetch(s, orientation, offset);
    if (orientation != SQL_FETCH_NEXT) {
        post_error(s, ST_HY106, 0, nullptr);
        return SQL_ERROR;
    }
    if (offset > 1) {
        post_error(s, ST_HY107, 0, nullptr);
        return SQL_ERROR;
    }
    if (fetched)
        *fetched = 0;
    s->row_offset = 0;
    if (n == 0) {
        post_error(s, ST_HY024, 0, "row array size is 0");
        return SQL_ERROR;
    }

    SQLRETURN rc = SQL_SUCCESS;
    int with_info = 0;
    uint64_t row = 0;
    for (; row < n; row++) {
        s->row_offset = (int32_t)row;
        int delivered;
        rc = next_row(s, &delivered);
        if (rc == SQL_NO_DATA)
            end_of_data(s);
        /* A row whose values failed was still read: it is counted with its
         * status, and the rowset goes on. One that could not be read ends it. */
        if (!delivered)
            break;
        if (rc != SQL_SUCCESS) {
            with_info = 1;
            number_row_diagnostics(s, row);
        }
        set_row_status(ird, row, row_status_of(rc));
        if (fetched)
            (*fetched)++;
    }
    s->row_offset = (int32_t)row;
    s->row_number = row > 0 ? s->rows_read + 1 : 0;
    s->rows_read += (int64_t)row;
    for (uint64_t r = row; r < n; r++)
        set_row_status(ird, r, rc == SQL_ERROR ? SQL_ROW_ERROR : SQL_ROW_NOROW);
    /* A rowset that delivered rows succeeded; a warning or an error on one
     * of its rows (their diagnostics are posted) must still reach an
     * application that only looks at the return code. */
    if (row > 0 && n > 1)
        return with_info || rc == SQL_ERROR ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    return rc;   /* one row: its own result, SQL_ERROR for a row in error */
}
