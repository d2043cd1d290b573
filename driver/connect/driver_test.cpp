/*
 * driver_test: the setup dialog's Test button. A connection of its own, in an
 * environment of its own, tries the logon with the dialog's values and is
 * gone again before the call returns.
 */
#include <stdio.h>
#include <stdlib.h>

#include "connect/my_connect.h"
#include "frame/my_handle.h"

/* The message buffer has a fixed size the caller and the driver agree on;
 * a server message of any length must not run past it. */
static void write_message(char *message, const char *fmt, const char *arg)
{
    if (message)
        snprintf(message, DRIVER_TEST_MESSAGE_SIZE, fmt, arg);
}

static void report_failure(my_connection *c, char *message)
{
    diag_record *first = diag_get(c, 1);
    char *text = first ? ms_to_latin1(first->message) : nullptr;
    if (text)
        write_message(message, "Failed to connect: '%s'", text);
    else
        write_message(message, "Failed to connect", nullptr);
    free(text);
}

static int try_logon(my_connection *c, const my_prompt *record, char *message)
{
    SQLRETURN rc = setup_apply(c, record) == 0 && complete_unprompted_from_dsn(c) == 0
                       ? connect_hand_over(c)
                       : SQL_ERROR;
    if (!SQL_SUCCEEDED(rc)) {
        report_failure(c, message);
        return 1;
    }
    char *version = ms_to_latin1(c->server_version);
    write_message(message, "Connected. Server Version: %s", version ? version : "");
    free(version);
    disconnect_server(c);
    return 0;
}

extern "C" int driver_test(const my_prompt *record, char *message)
try {
    if (!record) {
        write_message(message, "Failed to connect", nullptr);
        return 1;
    }
    /* a new environment logs nothing: its mask, and so the connection's, is 0 */
    my_environment *env = env_create();
    if (!env) {
        write_message(message, "Failed to create environment", nullptr);
        return 1;
    }
    my_connection *c = conn_create(env, 2);
    if (!c) {
        env_release(env);
        write_message(message, "Failed to create connection", nullptr);
        return 1;
    }
    int result = try_logon(c, record, message);
    conn_release(c, 0);
    env_release(env);
    return result;
}
catch (...) {
    /* nothing thrown may reach the setup library's C caller */
    write_message(message, "Failed to connect", nullptr);
    return 1;
}
