/*
 * SQLGetFunctions: which ODBC functions the driver implements.
 *
 * The entry frame checks the handle's tag and clears its diagnostics but
 * takes no lock: the answer depends on nothing the connection holds.
 */
#include <string.h>

#include "frame/my_handle.h"

namespace {

/* Every supported function identifier. SQLDataSources (57), SQLDrivers (71)
 * and SQLAllocHandleStd (73) belong to the driver manager; 1013 and 1015
 * are not ODBC functions this driver exports. */
const uint16_t supported_functions[] = {
    1001, 4, 55, 72, 24, 5, 1003, 6, 56, 40, 7, 1004, 55, 41, 8, 58, 9, 1005, 11,
    12, 13, 1021, 60, 1006, 16, 1007, 17, 43, 1008, 1009, 1010, 1011, 1012, 44,
    45, 1014, 47, 61, 62, 63, 18, 67, 66, 48, 49, 19, 65, 20, 1017, 1018, 1016,
    21, 1019, 1020, 68, 52, 53, 70, 54, 2, 1, 3, 15, 14, 1002, 10, 59, 42, 46,
    50, 64, 22, 69, 51, 23,
};

bool is_supported(unsigned id)
{
    for (uint16_t f : supported_functions)
        if (f == id)
            return true;
    return false;
}

} // namespace

SQLRETURN SQL_API SQLGetFunctions(SQLHDBC hdbc, SQLUSMALLINT function_id, SQLUSMALLINT *supported)
try {
    my_connection *conn = as_conn(hdbc);
    if (!conn)
        return SQL_INVALID_HANDLE;
    clear_diagnostics(conn);
    QV_TRACE(conn, LOG_ENTRY, "SQLGetFunctions: function_id=%d, supported=%p", (int)function_id,
             supported);

    SQLRETURN rc = SQL_SUCCESS;
    if (!supported) {
        /* Nowhere to put the answer: say so rather than report success. */
        post_error(conn, ST_HY009, 0, nullptr);
        rc = SQL_ERROR;
    } else if (function_id == SQL_API_ODBC3_ALL_FUNCTIONS) {
        memset(supported, 0, SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * sizeof *supported);
        for (uint16_t f : supported_functions)
            supported[f >> 4] |= (SQLUSMALLINT)(1u << (f & 15));
    } else if (function_id == SQL_API_ALL_FUNCTIONS) {
        memset(supported, 0, 100 * sizeof *supported);
        for (uint16_t f : supported_functions)
            if (f < 100)
                supported[f] = SQL_TRUE;
    } else {
        *supported = is_supported(function_id) ? SQL_TRUE : SQL_FALSE;
    }

    QV_TRACE(conn, LOG_EXIT, "SQLGetFunctions: return value=%r", (int)rc);
    return rc;
}
QV_CATCH(hdbc)
