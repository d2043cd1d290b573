/*
 * Private queries on a throw-away statement of the connection.
 */
#include "connect/my_inner_query.h"

#include <vector>

#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "results/my_data.h"
#include "results/my_fetch.h"
#include "stmt/my_stmt.h"

int run_inner_query(my_connection *c, const char *sql, inner_row_fn fn, void *ctx, int max_rows)
{
    my_statement *s = stmt_create(c);
    if (!s)
        return -1;
    s->driver_own = 1;
    int rc = -1;
    my_string *text = compose_text("%s", sql);
    if (text) {
        SQLRETURN ret = my_exec_direct(s, text);   /* takes over text */
        if (SQL_SUCCEEDED(ret)) {
            rc = 0;
            for (int n = 0; max_rows <= 0 || n < max_rows; n++) {
                ret = my_fetch(s, SQL_FETCH_NEXT, 0);
                if (!SQL_SUCCEEDED(ret))
                    break;
                fn(c, s, ctx);
            }
        }
    }
    my_close_stmt(s, 1);
    stmt_release(s, 0);
    return rc;
}

my_packet *inner_query_start(my_connection *c, inner_query *q, const char *sql)
{
    q->s = stmt_create(c);
    if (!q->s) {
        post_error(c, ST_HY001, 0, nullptr);
        return nullptr;
    }
    q->s->driver_own = 1;
    q->s->max_rows = 0;   /* the whole answer, whatever the statements' default */
    my_string *text = compose_text("%s", sql);
    my_packet *p = text ? query_command(q->s, text) : nullptr;
    if (!text)
        post_error(q->s, ST_HY001, 0, nullptr);
    ms_free(text);
    return p;
}

int inner_query_answer(void *handle, void *ctx)
{
    inner_query *q = (inner_query *)ctx;
    my_statement *s = as_stmt(handle);
    int rc = read_answer(s);
    if (rc == 0) {
        s->executed = 1;
        for (int n = 0; q->max_rows <= 0 || n < q->max_rows; n++) {
            if (!SQL_SUCCEEDED(my_fetch(s, SQL_FETCH_NEXT, 0)))
                break;
            q->fn(handle_conn(s), s, q->ctx);
        }
    }
    /* the rest of the answer is read here, before the next one is */
    my_close_stmt(s, 1);
    return rc;
}

void inner_query_end(inner_query *q)
{
    if (q->s)
        stmt_release(q->s, 0);
    q->s = nullptr;
}

my_string *inner_column_text(my_statement *s, int column, uint32_t max_chars)
{
    /* Wide text is lossless in both wide modes (UTF-16 units, or UTF-8 bytes
     * when the connection says so), where the narrow form may be Latin-1.
     * Room for max_chars characters in either form, with the terminator. */
    std::vector<uint16_t> buf((size_t)max_chars * 2 + 2, 0);
    SQLLEN ind = 0;
    SQLRETURN rc = my_get_data(s, column, SQL_C_WCHAR, buf.data(),
                               (SQLLEN)(buf.size() * sizeof(uint16_t)), &ind, nullptr);
    if (!SQL_SUCCEEDED(rc) || ind == SQL_NULL_DATA)
        return nullptr;
    my_string *all = ms_from_wide(buf.data(), MS_NTS, handle_conn(s));
    if (!all || all->length <= max_chars)
        return all;
    uint32_t keep = max_chars;
    if (keep > 0 && all->data[keep - 1] >= 0xD800 && all->data[keep - 1] <= 0xDBFF)
        keep--;   /* never keep half a surrogate pair */
    my_string *cut = ms_substr(all, 0, keep);
    ms_free(all);
    return cut;
}

int inner_column_int(my_statement *s, int column, int32_t *out)
{
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    SQLRETURN rc = my_get_data(s, column, SQL_C_SLONG, &v, sizeof v, &ind, nullptr);
    if (!SQL_SUCCEEDED(rc))
        return -1;
    if (ind == SQL_NULL_DATA)
        return 1;
    *out = (int32_t)v;
    return 0;
}
