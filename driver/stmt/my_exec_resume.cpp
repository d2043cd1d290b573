/*
 * Stand-ins for the execution layer's resumption after data at execution,
 * until the execution entry points provide them.
 */
#include "frame/my_handle.h"
#include "stmt/my_param.h"

SQLRETURN resume_direct_execution(my_statement *s)
{
    post_error(s, ST_HY000, 0, "execution is not available");
    return SQL_ERROR;
}

SQLRETURN resume_execute(my_statement *s)
{
    post_error(s, ST_HY000, 0, "execution is not available");
    return SQL_ERROR;
}
