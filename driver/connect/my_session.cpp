/*
 * Session operations: commit, rollback, select limit, autocommit, catalog,
 * isolation and the current database.
 */
#include "connect/my_session.h"

#include "frame/my_handle.h"

int set_select_limit(my_connection *c, int64_t limit)
{
    QV_TRACE(c, LOG_ENTRY, "set_select_limit %d", (int)limit);
    c->select_limit = limit;
    return 0;   /* sending arrives with the command layer */
}

int session_setup(my_connection *c)
{
    QV_TRACE(c, LOG_DETAIL, "session_setup");
    return 0;   /* the session statements arrive with the command layer */
}
