/*
 * Internal result sets: sorted results built in memory.
 */
#include "frame/my_handle.h"

void internal_rs_free(my_statement *stmt)
{
    stmt->internal_rs = nullptr;
}
