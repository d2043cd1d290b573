/*
 * SQLAllocHandle and its ODBC 2 forms SQLAllocEnv, SQLAllocConnect,
 * SQLAllocStmt (which allocate with ODBC 2 behaviour).
 */
#include "my_handle.h"

/* The input handle is not of the kind the new handle needs as its parent. */
static SQLRETURN wrong_parent(void *in, const char *expected)
{
    handle_header *h = handle_hdr(in);
    QV_TRACE(in, LOG_ERROR, "SQLAllocHandle: input handle %p is not of type %s, its %d", in,
             expected, h ? (int)h->handle_type : 0);
    post_error(in, ST_HY000, 0, "Invalid input handle passed to SQLAllocHandle");
    return SQL_ERROR;
}

static SQLRETURN alloc_handle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE *output, int behaviour)
{
    void *in = input;
    QV_TRACE(in, LOG_ENTRY, "SQLAllocHandle: input_handle=%p, handle type=%d", in, (int)type);
    if (!output) {
        if (in) {
            QV_TRACE(in, LOG_ERROR, "SQLAllocHandle: output handle NULL");
            post_error(in, ST_HY009, 0, nullptr);
        }
        return SQL_ERROR;
    }
    void *created = nullptr;
    switch (type) {
    case SQL_HANDLE_ENV:
        created = env_create();
        if (in && created)
            QV_TRACE(in, LOG_DETAIL, "SQLAllocHandle: allocated new environment %p", created);
        break;
    case SQL_HANDLE_DBC: {
        my_environment *env = as_env(in);
        if (!env)
            return wrong_parent(in, "MY_ENVIRONMENT_HANDLE");
        created = conn_create(env, behaviour);
        if (created)
            QV_TRACE(in, LOG_DETAIL, "SQLAllocHandle: allocated new connection %p", created);
        break;
    }
    case SQL_HANDLE_STMT:
    case SQL_HANDLE_DESC: {
        my_connection *conn = as_conn(in);
        if (!conn)
            return wrong_parent(in, "MY_CONNECTION_HANDLE");
        if (type == SQL_HANDLE_STMT) {
            created = stmt_create(conn);
            if (created)
                QV_TRACE(in, LOG_DETAIL, "SQLAllocHandle: allocated new statement %p", created);
        } else {
            created = desc_create(conn, 0, 1, nullptr);
            if (created)
                QV_TRACE(in, LOG_DETAIL, "SQLAllocHandle: allocated new descriptor %p", created);
        }
        break;
    }
    default:
        if (in)
            QV_TRACE(in, LOG_ERROR, "SQLAllocHandle: unexpected handle type %d", (int)type);
        return SQL_ERROR;
    }
    if (!created) {
        if (in)
            post_error(in, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
    *output = created;
    QV_TRACE(in, LOG_EXIT, "SQLAllocHandle: return value=%d", SQL_SUCCESS);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE *output)
try {
    return alloc_handle(type, input, output, 3);
}
QV_CATCH(input)

SQLRETURN SQL_API SQLAllocEnv(SQLHENV *output)
try {
    return alloc_handle(SQL_HANDLE_ENV, nullptr, (SQLHANDLE *)output, 2);
}
QV_CATCH(nullptr)

SQLRETURN SQL_API SQLAllocConnect(SQLHENV env, SQLHDBC *output)
try {
    return alloc_handle(SQL_HANDLE_DBC, env, (SQLHANDLE *)output, 2);
}
QV_CATCH(env)

SQLRETURN SQL_API SQLAllocStmt(SQLHDBC conn, SQLHSTMT *output)
try {
    return alloc_handle(SQL_HANDLE_STMT, conn, (SQLHANDLE *)output, 2);
}
QV_CATCH(conn)
