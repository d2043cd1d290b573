/*
 * SQLGetEnvAttr: the ODBC version, SQL_ATTR_OUTPUT_NTS (always true) and 1065.
 */
#include "my_handle.h"

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER buffer_length, SQLINTEGER *string_length)
try {
    (void)buffer_length;
    (void)string_length;
    my_environment *env = as_env(handle);
    if (!env)
        return SQL_INVALID_HANDLE;
    std::lock_guard<qv_mutex> g(env->attr_lock);
    SQLRETURN rc = SQL_SUCCESS;
    switch (attribute) {
    case SQL_ATTR_ODBC_VERSION:
        if (value) {
            *(SQLINTEGER *)value = env->odbc_version;
            QV_TRACE(env, LOG_DETAIL, "SQLGetEnvAttr: returning SQL_ATTR_ODBC_VERSION as %d",
                     env->odbc_version);
        } else {
            QV_TRACE(env, LOG_DETAIL,
                     "SQLGetEnvAttr: would have returned SQL_ATTR_ODBC_VERSION, but value was NULL");
        }
        break;
    case SQL_ATTR_OUTPUT_NTS:
        if (value) {
            *(SQLINTEGER *)value = SQL_TRUE;
            QV_TRACE(env, LOG_DETAIL, "SQLGetEnvAttr: returning SQL_ATTR_OUTPUT_NTS version as %d",
                     SQL_TRUE);
        } else {
            QV_TRACE(env, LOG_DETAIL,
                     "SQLGetEnvAttr: would have returned SQL_ATTR_OUTPUT_NTS, but value was NULL");
        }
        break;
    case 1065:
        if (value)
            *(SQLINTEGER *)value = 1;
        break;
    default:
        QV_TRACE(env, LOG_ERROR, "SQLGetEnvAttr: invalid attribute %d", (int)attribute);
        post_error(env, ST_HYC00, 0, nullptr);
        rc = SQL_ERROR;
        break;
    }
    QV_TRACE(env, LOG_EXIT, "SQLGetEnvAttr: return value=%d", (int)rc);
    return rc;
}
QV_CATCH(handle)
