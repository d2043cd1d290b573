/*
 * PLACEHOLDER, to be removed when internal result sets (my_internalrs.cpp)
 * provide internal_rs_fetch. Weak, so the real definition wins when both
 * are linked.
 */
#include <sql.h>

#include "my_handles.h"

__attribute__((weak)) SQLRETURN internal_rs_fetch(my_statement *stmt, int orientation)
{
    (void)stmt;
    (void)orientation;
    return SQL_NO_DATA;
}
