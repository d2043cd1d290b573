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

/* PLACEHOLDER until parameter binding exists: a statement without markers
 * needs nothing; one with markers has no way to get its values yet. */
int my_check_params(my_statement *s, int op)
{
    (void)op;
    if (s->found_param_count <= 0)
        return SQL_SUCCESS;
    post_error(s, ST_07002, 0, nullptr);
    return SQL_ERROR;
}
