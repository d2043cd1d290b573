/*
 * SQLGetData: one column of the current row, converted to a C type, in
 * pieces for long character and binary values.
 */
#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "results/my_data.h"

/* SQL_C_BOOKMARK arrives as the 16-bit value 0xFFE5 (SQL_C_UBIGINT). */
static bool is_bookmark_type(SQLSMALLINT t)
{
    return t == SQL_C_VARBOOKMARK || (uint16_t)t == 0xFFE5;
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT statement_handle, SQLUSMALLINT column_number,
                             SQLSMALLINT target_type, SQLPOINTER target_value,
                             SQLLEN buffer_length, SQLLEN *strlen_or_ind)
try {
    QV_STMT_ENTRY(statement_handle, s, "SQLGetData",
                  "statement_handle=%p column_number=%d target_type=%d target_value=%p "
                  "buffer_length=%l strlen_or_ind=%p",
                  statement_handle, (int)column_number, (int)target_type, target_value,
                  (int64_t)buffer_length, strlen_or_ind);
    if (!s->current_row && !s->data_waiting) {
        QV_TRACE(s, LOG_ERROR, "no current packet or cursor");
        post_error(s, ST_HY010, 0, nullptr);
        return QV_LEAVE(SQL_ERROR);
    }
    if (column_number == 0) {
        if (!s->use_bookmarks) {
            QV_TRACE(s, LOG_ERROR, "Invalid descriptor index %d", 0);
            post_error_col(s, ST_07009, 0, 0, nullptr);
            return QV_LEAVE(SQL_ERROR);
        }
        if (!is_bookmark_type(target_type)) {
            post_error_col(s, ST_HY003, 0, 0, nullptr);
            return QV_LEAVE(SQL_ERROR);
        }
    } else if (column_number > desc_column_count(s->ird)) {
        QV_TRACE(s, LOG_ERROR, "Invalid descriptor index %d", (int)column_number);
        post_error_col(s, ST_07009, 0, column_number, nullptr);
        return QV_LEAVE(SQL_ERROR);
    }
    SQLRETURN rc = my_get_data(s, column_number, target_type, target_value, buffer_length,
                               strlen_or_ind, nullptr);
    return QV_LEAVE(rc);
}
QV_CATCH(statement_handle)
