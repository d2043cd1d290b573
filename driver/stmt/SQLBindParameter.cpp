/*
 * SQLBindParameter: binds (or, with no value and no indicator, unbinds) a
 * parameter in the statement's APD.
 */
#include <limits.h>

#include "desc/my_desc.h"
#include "frame/my_handle.h"

/* The descriptor functions post on the descriptor; the application asked
 * the statement. */
static SQLRETURN move_diagnostics(my_statement *s, my_descriptor *d, SQLRETURN rc)
{
    for (int i = 1; i <= diag_count(d); i++)
        copy_diag_record(s, diag_get(d, i));
    clear_diagnostics(d);
    return rc;
}

static SQLRETURN unbind(my_statement *s, int n)
{
    my_descriptor *apd = s->apd;
    QV_TRACE(s, LOG_DETAIL, "unbinding parameters %d", n);
    if (!apd->records)
        return SQL_SUCCESS;
    QV_TRACE(s, LOG_DETAIL, "check if cleaup can be done %d, %d", n, apd->field_count);
    if (n > apd->field_count) {
        QV_TRACE(s, LOG_DETAIL, "unbinding past end");
        return SQL_SUCCESS;
    }
    field *f = &apd->records[n - 1];
    f->data_ptr = f->indicator_ptr = f->octet_length_ptr = nullptr;
    if (n < apd->field_count)
        return SQL_SUCCESS;
    /* The last record went: drop every unbound record at the end. */
    QV_TRACE(s, LOG_DETAIL, "truncating apd list at %d", n);
    int keep = 0;
    for (int k = n; k >= 1; k--) {
        const field *r = &apd->records[k - 1];
        QV_TRACE(s, LOG_DETAIL, "checking apd %d (%p,%p,%p)", k, r->data_ptr, r->indicator_ptr,
                 r->octet_length_ptr);
        if (r->data_ptr || r->indicator_ptr || r->octet_length_ptr) {
            QV_TRACE(s, LOG_DETAIL, "stopping at %d", k);
            keep = k;
            break;
        }
    }
    QV_TRACE(s, LOG_DETAIL, "truncating apd list to %d", keep);
    if (keep == 0)
        QV_TRACE(s, LOG_DETAIL, "unbinding all");
    desc_truncate(apd, keep);
    return SQL_SUCCESS;
}

static int valid_io_type(int t)
{
    return t == SQL_PARAM_INPUT || t == SQL_PARAM_INPUT_OUTPUT || t == SQL_PARAM_OUTPUT ||
           t == SQL_PARAM_INPUT_OUTPUT_STREAM || t == SQL_PARAM_OUTPUT_STREAM;
}

static int64_t default_buffer_length(int sql_type)
{
    switch (sql_type) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: case SQL_BINARY:
    case SQL_LONGVARBINARY: case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR:
        return 512;
    }
    return 0;
}

/* Resolves SQL_C_DEFAULT and SQL_DEFAULT; 0, or -1 posted. */
static int resolve_types(my_statement *s, int *c_type, int *sql_type)
{
    my_environment *env = handle_env(s);
    int odbc2 = env && env->odbc_version == SQL_OV_ODBC2;
    if (*c_type == SQL_C_DEFAULT) {
        if (*sql_type == SQL_DEFAULT) {
            post_error(s, ST_HY000, 0, "both C and SQL type can not be default");
            return -1;
        }
        *c_type = default_c_type(*sql_type, SIGN_UNKNOWN, 1, odbc2);
    }
    if (*sql_type == SQL_DEFAULT)
        *sql_type = default_c_type(*c_type, SIGN_UNKNOWN, 0, odbc2);
    return 0;
}

/* Everything that can be refused before a record is touched. */
static int check_binding(my_statement *s, int io_type, int *c_type, int *sql_type,
                         SQLULEN column_size)
{
    if (!is_valid_c_type(*c_type)) {
        QV_TRACE(s, LOG_ERROR, "SQLBindParameter: invalid c-type");
        post_error(s, ST_HY003, 0, nullptr);
        return -1;
    }
    if (!is_valid_sql_type(*sql_type) && *sql_type != SQL_DEFAULT) {
        QV_TRACE(s, LOG_ERROR, "SQLBindParameter: invalid sql-type");
        post_error(s, ST_HY004, 0, nullptr);
        return -1;
    }
    if (!valid_io_type(io_type)) {
        post_error(s, ST_HY105, 0, nullptr);
        return -1;
    }
    if (resolve_types(s, c_type, sql_type) != 0)
        return -1;
    if ((*sql_type == SQL_NUMERIC || *sql_type == SQL_DECIMAL) && column_size == 0) {
        QV_TRACE(s, LOG_ERROR, "BindParameter: invalid precision value");
        post_error(s, ST_HY104, 0, nullptr);
        return -1;
    }
    /* A C type the descriptor cannot derive attributes for (an interval) is
     * refused on a scratch record, before the lists grow. */
    field probe;
    field_init(&probe);
    probe.concise_type = *c_type;
    clear_diagnostics(s->apd);
    SQLRETURN rc = my_update_desc_type(s->apd, &probe, 0);
    field_reset(&probe);
    if (rc != SQL_SUCCESS) {
        move_diagnostics(s, s->apd, rc);
        return -1;
    }
    return 0;
}

static SQLRETURN bind(my_statement *s, int n, int io_type, int c_type, int sql_type,
                      SQLULEN column_size, int scale, SQLPOINTER value, SQLLEN buffer_length,
                      SQLLEN *ind)
{
    QV_TRACE(s, LOG_DETAIL, "binding parameter %d", n);
    if (check_binding(s, io_type, &c_type, &sql_type, column_size) != 0)
        return SQL_ERROR;
    if (desc_grow(s->apd, n) != 0 || desc_grow(s->ipd, n) != 0) {
        QV_TRACE(s, LOG_ERROR, "SQLBindParameter: failed to expand descriptor");
        post_error(s, ST_HY001, 0, "failed expanding descriptor");
        return SQL_ERROR;
    }
    field *f = &s->apd->records[n - 1];
    if (buffer_length == -1)
        buffer_length = default_buffer_length(sql_type);
    f->octet_length = buffer_length;
    f->concise_type = c_type;
    clear_diagnostics(s->apd);
    if (my_update_desc_type(s->apd, f, 0) != SQL_SUCCESS)
        return move_diagnostics(s, s->apd, SQL_ERROR);
    /* Pieces given at execution belong to the binding they were given for. */
    if (f->dae_chunks) {
        for (dae_chunk &c : *f->dae_chunks)
            free(c.data);
        delete f->dae_chunks;
        f->dae_chunks = nullptr;
    }
    f->param_sql_type = sql_type;
    f->data_ptr = value;
    f->indicator_ptr = f->octet_length_ptr = ind;
    /* A 32-bit attribute: sizes beyond it mean "as long as it gets". */
    f->precision = column_size > INT_MAX ? INT_MAX : (int32_t)column_size;
    f->scale = scale;
    f->parameter_type = io_type;
    return move_diagnostics(s, s->apd, check_desc_consistency(s->apd, f));
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT h, SQLUSMALLINT number, SQLSMALLINT io_type,
                                   SQLSMALLINT c_type, SQLSMALLINT sql_type, SQLULEN column_size,
                                   SQLSMALLINT scale, SQLPOINTER value, SQLLEN buffer_length,
                                   SQLLEN *ind)
try {
    QV_STMT_ENTRY(h, s, "SQLBindParameter",
                  "SQLBindParameter: statement_handle=%p, param=%d, type=%d, c_type=%d, "
                  "sql_type=%d, col_def=%d, scale=%d, value=%p, buffer_len=%d, ind_ptr=%p",
                  h, (int)number, (int)io_type, (int)c_type, (int)sql_type, (int)column_size,
                  (int)scale, value, (int)buffer_length, ind);
    if (number < 1) {
        post_error(s, ST_07009, 0, nullptr);
        return QV_LEAVE(SQL_ERROR);
    }
    if (!value && !ind)
        return QV_LEAVE(unbind(s, number));
    return QV_LEAVE(bind(s, number, io_type, c_type, sql_type, column_size, scale, value,
                         buffer_length, ind));
}
QV_CATCH(h)
