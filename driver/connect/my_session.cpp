/*
 * Session operations: commit, rollback, select limit, autocommit, catalog,
 * isolation and the current database.
 */
#include "connect/my_session.h"

#include "frame/my_handle.h"
#include "protocol/my_conn.h"

int set_select_limit(my_connection *c, int64_t limit)
{
    QV_TRACE(c, LOG_ENTRY, "set_select_limit %d", (int)limit);
    my_string *sql = limit ? compose_text("SET @@sql_select_limit=%l", limit)
                           : compose_text("SET @@sql_select_limit=DEFAULT");
    if (!sql) {
        post_error(c, ST_HY001, 0, nullptr);
        return -1;
    }
    int rc = execute_query(c, sql);
    ms_free(sql);
    /* Only a limit the server took is in force: after a failure the next
     * statement must send its own again, or it would run under an unknown
     * limit. */
    c->select_limit = rc == 0 ? limit : -1;
    return rc;
}

int session_setup(my_connection *c)
{
    QV_TRACE(c, LOG_DETAIL, "session_setup");
    return 0;   /* the session statements arrive with the command layer */
}
