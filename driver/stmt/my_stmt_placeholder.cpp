/*
 * PLACEHOLDER, to be removed when the statement-lifecycle module (my_stmt.cpp)
 * provides apply_cursor_downgrade. Weak, so the real definition wins when
 * both are linked.
 */
#include "frame/my_handle.h"

__attribute__((weak)) SQLRETURN apply_cursor_downgrade(my_statement *stmt, SQLRETURN rc)
{
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
        return rc;
    if (!stmt->data_waiting || (stmt->cursor_type == 0 && stmt->cursor_scrollable == 0))
        return rc;
    stmt->cursor_type = 0;
    stmt->cursor_scrollable = 0;
    post_error(stmt, ST_01S02, 0, "Cursor type changed");
    return SQL_SUCCESS_WITH_INFO;
}
