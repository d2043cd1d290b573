/*
 * SQLBindCol: binds a result column to an application buffer (ARD record
 * n), or unbinds it.
 */
#include "desc/my_desc.h"
#include "frame/my_handle.h"

/* The descriptor functions post on the descriptor; the application asked
 * the statement, so that is where it looks. */
static SQLRETURN on_statement(my_statement *s, my_descriptor *d, SQLRETURN rc)
{
    if (rc == SQL_ERROR)
        for (int i = 1; i <= diag_count(d); i++)
            copy_diag_record(s, diag_get(d, i));
    return rc;
}

static int is_bookmark_type(SQLSMALLINT type)
{
    return (uint16_t)type == 0xFFE5 || type == SQL_C_VARBOOKMARK;
}

static SQLRETURN bind_column(my_statement *s, int column, SQLSMALLINT target_type, void *value,
                             SQLLEN buffer_length, SQLLEN *ind)
{
    QV_TRACE(s, LOG_DETAIL, "binding column %d", column);
    my_descriptor *ard = s->ard, *ird = s->ird;
    field *rec, *partner = nullptr;
    if (column == 0) {
        if (!is_bookmark_type(target_type)) {
            QV_TRACE(s, LOG_ERROR, "SQLBindCol: invalid bookmark type");
            post_error(s, ST_07006, 0, nullptr);
            return SQL_ERROR;
        }
        rec = &ard->bookmark_record;
    } else {
        if (column > MAX_DESC_RECORDS) {
            post_error_col(s, ST_07009, 0, column, nullptr);
            return SQL_ERROR;
        }
        if (desc_grow(ard, column) != 0 || desc_grow(ird, column) != 0) {
            QV_TRACE(s, LOG_ERROR, "SQLBindCol: failed to expand descriptor");
            post_error(s, ST_HY001, 0, "failed expanding descriptor");
            return SQL_ERROR;
        }
        rec = &ard->records[column - 1];
        partner = &ird->records[column - 1];
    }
    int type = target_type;
    if (type == SQL_C_DEFAULT) {
        if (!s->described) {
            post_error(s, ST_HY000, 0, "No prepared sql");
            return SQL_ERROR;
        }
        type = column_default_c_type(s, partner);
    }
    clear_diagnostics(ard);
    desc_touch(ard);
    rec->octet_length = buffer_length;
    rec->length = buffer_length;
    rec->concise_type = type;
    if (my_update_desc_type(ard, rec, 0) == SQL_ERROR)
        return on_statement(s, ard, SQL_ERROR);
    rec->data_ptr = value;
    rec->indicator_ptr = ind;
    rec->octet_length_ptr = ind;
    if (partner) {
        rec->length = partner->length;
        rec->precision = partner->precision;
        rec->scale = partner->scale;
        rec->datetime_interval_precision = partner->datetime_interval_precision;
    }
    return on_statement(s, ard, check_desc_consistency(ard, rec));
}

static int is_bound(const field *f)
{
    return f->data_ptr || f->indicator_ptr || f->octet_length_ptr;
}

static void unbind(field *f)
{
    f->data_ptr = f->indicator_ptr = f->octet_length_ptr = nullptr;
}

static SQLRETURN unbind_column(my_statement *s, int column)
{
    QV_TRACE(s, LOG_DETAIL, "unbinding binding columns %d", column);
    my_descriptor *ard = s->ard;
    desc_touch(ard);
    if (column == 0) {
        unbind(&ard->bookmark_record);
        return SQL_SUCCESS;
    }
    if (column > ard->field_count) {
        QV_TRACE(s, LOG_DETAIL, "unbinding past end");
        return SQL_SUCCESS;
    }
    unbind(&ard->records[column - 1]);
    if (column == ard->field_count) {
        /* the list ends at the last record still bound */
        int n = column;
        while (n >= 1 && !is_bound(&ard->records[n - 1]))
            n--;
        if (n == 0)
            QV_TRACE(s, LOG_DETAIL, "unbinding all");
        desc_truncate(ard, n);
    }
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT target_type,
                             SQLPOINTER value, SQLLEN buffer_length, SQLLEN *ind)
try {
    QV_STMT_ENTRY(h, s, "SQLBindCol",
                  "SQLBindCol: statement_handle=%p, column_number=%d, target_type=%d, "
                  "target_value=%p, buffer_length=%l, strlen_or_ind=%p",
                  h, (int)column, (int)target_type, value, (int64_t)buffer_length, ind);
    if (value || ind)
        return QV_LEAVE_D(bind_column(s, column, target_type, value, buffer_length, ind));
    return QV_LEAVE_D(unbind_column(s, column));
}
QV_CATCH(h)
