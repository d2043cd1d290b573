/*
 * Statement lifecycle: closing, unpreparing, cursor state.
 */
#include "frame/my_handle.h"

int my_close_stmt(my_statement *stmt, int unprepare)
{
    (void)unprepare;
    release_data_list(stmt);
    internal_rs_free(stmt);
    stmt->described = stmt->executed = stmt->data_waiting = 0;
    return 0;
}
