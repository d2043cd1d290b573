/*
 * TLS during logon.
 */
#include "protocol/my_ssl.h"

#include "frame/my_handle.h"

/* TLS is not built yet: a logon that asks for it must fail visibly rather
 * than carry on unencrypted. */
int create_ssl_req(my_connection *c, const my_string *, const my_string *, const my_string *)
{
    QV_TRACE(c, LOG_ERROR, "create_ssl_req: TLS is not available in this build");
    post_error(c, ST_08001, 0, "SSL connections (Encrypt) are not yet supported by this driver");
    return -1;
}
