/*
 * Kerberos logon through GSS-API.
 */
#include "frame/my_handle.h"

void krb_free_context(my_connection *c)
{
    c->krb_context = nullptr;
}
