/*
 * Server-side session operations behind connection attributes, transactions
 * and the post-logon set-up: commit, rollback, select limit, autocommit,
 * catalog, isolation, current database.
 */
#ifndef QV_MY_SESSION_H
#define QV_MY_SESSION_H

#include <stdint.h>

#include "my_handles.h"

/* Records the limit as the one in force, then sends
 * "SET @@sql_select_limit=<n>" or "...=DEFAULT" for 0. execute_query's result. */
int set_select_limit(my_connection *c, int64_t limit);

/* The session set-up after a successful logon: autocommit, current database,
 * character-set, collation, SQL-mode and isolation statements, the collation
 * table and the server kind. Called by my_connect once the final OK arrived.
 * 0, or non-zero when a session statement failed (its error stays posted;
 * the connection is usable and the connect returns SQL_SUCCESS_WITH_INFO). */
int session_setup(my_connection *c);

#endif
