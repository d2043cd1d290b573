/*
 * SQLExtendedFetch (ODBC 2): a fetch whose rowset size, rows-fetched count
 * and status array come as arguments instead of statement attributes.
 */
#include "frame/my_handle.h"
#include "results/my_fetch.h"

SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT h, SQLUSMALLINT fetch_type, SQLLEN irow,
                                   SQLULEN *pcrow, SQLUSMALLINT *row_status)
try {
    QV_STMT_ENTRY(h, s, "SQLExtendedFetch",
                  "SQLExtendedFetch: statement_handle=%p, fetch_type=%d, irow=%l, pcrow=%p, "
                  "row_status=%p",
                  h, (int)fetch_type, (int64_t)irow, pcrow, row_status);
    /* The arguments stand in for the descriptor fields for this call only. */
    my_descriptor *ird = s->ird, *ard = s->ard;
    void *saved_processed = ird->rows_processed_ptr;
    void *saved_status = ird->array_status_ptr;
    uint64_t saved_size = ard->array_size;
    void *saved_bookmark = s->fetch_bookmark_ptr;
    ird->rows_processed_ptr = pcrow;
    ird->array_status_ptr = row_status;
    ard->array_size = (uint64_t)s->rowset_size;
    int64_t offset = irow;
    if (fetch_type == SQL_FETCH_BOOKMARK) {
        s->fetch_bookmark_ptr = &irow;
        offset = 0;
    }
    SQLRETURN rc = my_fetch(s, fetch_type, offset);
    ird->rows_processed_ptr = saved_processed;
    ird->array_status_ptr = saved_status;
    ard->array_size = saved_size;
    s->fetch_bookmark_ptr = saved_bookmark;
    return QV_LEAVE_D(rc);
}
QV_CATCH(h)
