/*
 * SQLPutData: one piece of the parameter that SQLParamData asked for.
 */
#include "frame/my_handle.h"
#include "stmt/my_param.h"

SQLRETURN SQL_API SQLPutData(SQLHSTMT h, SQLPOINTER data, SQLLEN length)
try {
    QV_STMT_ENTRY(h, s, "SQLPutData", "SQLPutData: statement_handle=%p, data=%p, len=%l", h,
                  data, (int64_t)length);
    return QV_LEAVE(dae_put_piece(s, data, (int64_t)length) == 0 ? SQL_SUCCESS : SQL_ERROR);
}
QV_CATCH(h)
