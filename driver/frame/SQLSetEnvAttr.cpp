/*
 * SQLSetEnvAttr: only the ODBC version can be set.
 */
#include "my_handle.h"

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER length)
try {
    (void)length;
    my_environment *env = as_env(handle);
    if (!env)
        return SQL_INVALID_HANDLE;
    std::lock_guard<qv_mutex> g(env->attr_lock);
    SQLRETURN rc = SQL_SUCCESS;
    switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
        /* stored as given: a later version number (3.80) is the application's business */
        env->odbc_version = (int32_t)(intptr_t)value;
        QV_TRACE(env, LOG_DETAIL, "SQLSetEnvAttr: setting SQL_ATTR_ODBC_VERSION to %d",
                 env->odbc_version);
        break;
    case SQL_ATTR_OUTPUT_NTS:
    case 1065:
        post_error(env, ST_HYC00, 0, nullptr);
        rc = SQL_ERROR;
        break;
    default:
        QV_TRACE(env, LOG_ERROR, "SQLSetEnvAttr: invalid attribute %d", (int)attribute);
        post_error(env, ST_HYC00, 0, nullptr);
        rc = SQL_ERROR;
        break;
    }
    QV_TRACE(env, LOG_EXIT, "SQLSetEnvAttr: return value=%d", (int)rc);
    return rc;
}
QV_CATCH(handle)
