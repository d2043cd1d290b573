/*
 * SQLFreeHandle and its ODBC 2 forms SQLFreeEnv and SQLFreeConnect.
 * Releasing a parent releases everything it still owns; nothing is sent to
 * the server on this path.
 */
#include "my_handle.h"

#include <mutex>

static SQLRETURN free_handle(SQLSMALLINT type, SQLHANDLE handle)
{
    if (!handle)
        return SQL_INVALID_HANDLE;
    void *h = handle;
    if (!handle_hdr(h))
        return SQL_INVALID_HANDLE;
    clear_diagnostics(h);
    QV_TRACE(h, LOG_ENTRY, "SQLFreeHandle: input_handle=%p, handle type=%d", h, (int)type);
    switch (type) {
    case SQL_HANDLE_ENV: {
        my_environment *env = as_env(h);
        if (!env)
            break;
        env_release(env);
        return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
        my_connection *c = as_conn(h);
        if (!c)
            break;
        conn_release(c, 0);   /* the EXIT line would go to the environment, which never logs */
        return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: {
        my_statement *s = as_stmt(h);
        if (!s)
            break;
        my_connection *c = handle_conn(s);
        {
            std::lock_guard<qv_mutex> g(s->entry_lock);
            frame_hooks.close_stmt(s, 1);
        }   /* the record goes away with its lock */
        stmt_release(s, 0);
        QV_TRACE(c, LOG_EXIT, "SQLFreeHandle: return value=%d", SQL_SUCCESS);
        return SQL_SUCCESS;
    }
    case SQL_HANDLE_DESC: {
        my_descriptor *d = as_desc(h);
        if (!d)
            break;
        if (d->alloc_implicit) {
            post_error(d, ST_HY017, 0, nullptr);
            QV_TRACE(d, LOG_EXIT, "SQLFreeHandle: return value=%d", SQL_ERROR);
            return SQL_ERROR;
        }
        my_connection *c = handle_conn(d);
        desc_release(d, 0);
        QV_TRACE(c, LOG_EXIT, "SQLFreeHandle: return value=%d", SQL_SUCCESS);
        return SQL_SUCCESS;
    }
    default:
        QV_TRACE(h, LOG_ERROR, "SQLFreeHandle: unexpeceted handle type %d", (int)type);
        return SQL_ERROR;
    }
    QV_TRACE(h, LOG_ERROR, "SQLFreeHandle: invalid handle");
    return SQL_INVALID_HANDLE;
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle)
try {
    return free_handle(type, handle);
}
QV_CATCH(handle)

SQLRETURN SQL_API SQLFreeEnv(SQLHENV env)
try {
    return free_handle(SQL_HANDLE_ENV, env);
}
QV_CATCH(env)

SQLRETURN SQL_API SQLFreeConnect(SQLHDBC conn)
try {
    return free_handle(SQL_HANDLE_DBC, conn);
}
QV_CATCH(conn)
