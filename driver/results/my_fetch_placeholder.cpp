/*
 * PLACEHOLDER, to be removed when the fetch module (my_fetch.cpp) provides
 * transfer_bound_columns: lets internal result sets be fetched into their
 * value holders before column binding exists. Weak, so the real definition
 * wins when both are linked.
 */
#include "results/my_fetch.h"

__attribute__((weak)) SQLRETURN transfer_bound_columns(my_statement *stmt)
{
    (void)stmt;
    return SQL_SUCCESS;
}
