/*
 * Kerberos logon through GSS-API.
 */
#include "protocol/my_winkrb.h"

#include "frame/my_handle.h"

static int no_token(my_connection *c, const my_string *principal)
{
    post_error(c, ST_08001, 0, "Unable to obtain Kerberos token for principal '%S'", principal);
    return -6;
}

int krb_start(my_connection *c, my_packet **out)
{
    *out = nullptr;
    return no_token(c, c->Principal);
}

int krb_continue(my_connection *, my_packet *, my_packet **out)
{
    *out = nullptr;
    return 0;
}

int krb_gssapi_exchange(my_connection *c, const unsigned char *, size_t, my_packet **out)
{
    *out = nullptr;
    return no_token(c, c->Principal);
}

int krb_in_progress(const my_connection *) { return 0; }

void krb_free_context(my_connection *c)
{
    c->krb_context = nullptr;
}
