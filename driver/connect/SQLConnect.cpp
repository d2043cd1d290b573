/*
 * SQLConnect and SQLConnectW: connect to a data source by name, with the
 * user name and password given as arguments.
 */
#include "connect/my_connect.h"
#include "frame/my_handle.h"

/* Shared by the twins: the settings from the DSN behind the arguments, then
 * the logon. Takes over the three strings. */
static SQLRETURN connect_worker(my_connection *c, my_string *dsn, my_string *uid,
                                my_string *pwd, int text_utf8)
{
    if (connect_read_dsn(c, dsn, uid, pwd, text_utf8) != 0)
        return SQL_ERROR;
    if (!c->SERVER && !c->SOCKET) {
        post_error(c, ST_HY000, 0, "server name not specified");
        return SQL_ERROR;
    }
    return connect_hand_over(c);
}

/* A converted argument is missing only for lack of memory when the
 * application passed one. */
static bool converted(const void *arg, const my_string *s) { return !arg || s; }

static SQLRETURN connect_args(my_connection *c, my_string *dsn, my_string *uid, my_string *pwd,
                              bool all_converted, int text_utf8)
{
    if (!all_converted) {
        ms_free(dsn);
        ms_free(uid);
        ms_free(pwd);
        post_error(c, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
    try {
        return connect_worker(c, dsn, uid, pwd, text_utf8);
    } catch (...) {   /* nothing may be thrown across the C boundary */
        post_error(c, ST_HY001, 0, nullptr);
        return SQL_ERROR;
    }
}

/* The password never goes into the trace log. */
static const char *hidden(const void *arg) { return arg ? "****" : nullptr; }

SQLRETURN SQL_API SQLConnect(SQLHDBC h, SQLCHAR *server_name, SQLSMALLINT name_length1,
                             SQLCHAR *user_name, SQLSMALLINT name_length2,
                             SQLCHAR *authentication, SQLSMALLINT name_length3)
try {
    QV_CONN_ENTRY(h, c, "SQLConnect",
                  "SQLConnect: input_handle=%p, server_name = %q, user_name = %q, "
                  "authentication = %q",
                  h, (const char *)server_name, (int64_t)name_length1, (const char *)user_name,
                  (int64_t)name_length2, hidden(authentication), (int64_t)MS_NTS);
    /* How the arguments were decoded, so the DSN name goes back to the
     * installer as the same bytes. */
    int text_utf8 = narrow_text_utf8((const char *)server_name, name_length1, c) &&
                    narrow_text_utf8((const char *)user_name, name_length2, c) &&
                    narrow_text_utf8((const char *)authentication, name_length3, c);
    my_string *dsn = ms_from_narrow_as((const char *)server_name, name_length1, text_utf8);
    my_string *uid = ms_from_narrow_as((const char *)user_name, name_length2, text_utf8);
    my_string *pwd = ms_from_narrow_as((const char *)authentication, name_length3, text_utf8);
    bool ok = converted(server_name, dsn) && converted(user_name, uid) &&
              converted(authentication, pwd);
    return QV_LEAVE(connect_args(c, dsn, uid, pwd, ok, text_utf8));
}
QV_CATCH(h)

SQLRETURN SQL_API SQLConnectW(SQLHDBC h, SQLWCHAR *server_name, SQLSMALLINT name_length1,
                              SQLWCHAR *user_name, SQLSMALLINT name_length2,
                              SQLWCHAR *authentication, SQLSMALLINT name_length3)
try {
    QV_CONN_ENTRY(h, c, "SQLConnectW",
                  "SQLConnectW: input_handle=%p, server_name=%p, user_name=%p, authentication=%p",
                  h, server_name, user_name, authentication);
    my_string *dsn = ms_from_wide(server_name, name_length1, c);
    my_string *uid = ms_from_wide(user_name, name_length2, c);
    my_string *pwd = ms_from_wide(authentication, name_length3, c);
    /* Wide arguments may carry UTF-8 bytes counted in bytes (ConvWToUtf):
     * they are logged once converted, never read as UTF-16 past their end. */
    QV_TRACE(c, LOG_CONTINUE, "SQLConnectW: server_name = %S, user_name = %S, authentication = %s",
             dsn, uid, authentication ? "****" : "(nul)");
    bool ok = converted(server_name, dsn) && converted(user_name, uid) &&
              converted(authentication, pwd);
    /* The installer's bytes for a name given in wide text are UTF-8. */
    return QV_LEAVE(connect_args(c, dsn, uid, pwd, ok, 1));
}
QV_CATCH(h)
