/*
 * Parameter value conversion.
 */
#include "stmt/my_param.h"

#include "frame/my_handle.h"

int my_append_param_as_string(my_statement *s, my_packet *p, int number)
{
    (void)p;
    post_error_col(s, ST_07002, 0, number, nullptr);
    return -1;
}

int my_append_params(my_statement *s, my_packet *p)
{
    (void)p;
    post_error(s, ST_07002, 0, nullptr);
    return -1;
}
