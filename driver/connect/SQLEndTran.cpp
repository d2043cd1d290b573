/*
 * SQLEndTran: commit or roll back the connection's transaction. Transactions
 * are per connection; an environment-wide request is the driver manager's
 * to spread over its connections.
 */
#include "connect/my_session.h"
#include "frame/my_handle.h"

static SQLRETURN end_transaction(my_connection *c, SQLSMALLINT completion_type)
{
    if (c->autocommit == 1) {
        QV_TRACE(c, LOG_DETAIL, "Autocommit on, no work to do");
        return SQL_SUCCESS;
    }
    int rc;
    switch (completion_type) {
    case SQL_COMMIT: rc = my_commit(c); break;
    case SQL_ROLLBACK: rc = my_rollback(c); break;
    default:
        QV_TRACE(c, LOG_ERROR, "completion type not SQL_COMMIT/SQL_ROLLBACK");
        post_error(c, ST_HY000, 0, "completion type not SQL_COMMIT/SQL_ROLLBACK");
        return SQL_ERROR;
    }
    return rc == 0 ? SQL_SUCCESS : SQL_ERROR;
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT handle_type, SQLHANDLE h, SQLSMALLINT completion_type)
try {
    if (handle_type != SQL_HANDLE_DBC) {
        QV_TRACE(h, LOG_ENTRY, "SQLEndTran: handle_type=%d, handle=%p, completion_type=%d",
                 (int)handle_type, h, (int)completion_type);
        QV_TRACE(h, LOG_ERROR, "connection type not SQL_HANDLE_DBC");
        clear_diagnostics(h);
        post_error(h, ST_HY000, 0, "connection type not SQL_HANDLE_DBC");
        return SQL_ERROR;
    }
    QV_CONN_ENTRY(h, c, "SQLEndTran", "SQLEndTran: handle_type=%d, handle=%p, completion_type=%d",
                  (int)handle_type, h, (int)completion_type);
    return QV_LEAVE_D(end_transaction(c, completion_type));
}
QV_CATCH(h)
