/*
 * Server-side session operations behind connection attributes, transactions
 * and the post-logon set-up: commit, rollback, autocommit,
 * catalog, isolation, current database; the post-logon sequence itself.
 *
 * All take the connection (set_currrent_database any handle of it) and
 * return 0 on success or a negative code with diagnostics posted on the
 * connection (server errors carry the server's SQLSTATE and text).
 */
#ifndef QV_MY_SESSION_H
#define QV_MY_SESSION_H

#include <stdint.h>

#include "my_handles.h"

/* Server capability bit: the server supports transactions. */
enum { SERVER_CAP_TRANSACTIONS = 0x2000 };

/* "COMMIT" / "ROLLBACK". */
int my_commit(my_connection *c);
int my_rollback(my_connection *c);

/* "SET AUTOCOMMIT=1" for 1, "...=0" for any other value; nothing when the
 * value is already in force and force is 0. The value is stored (as 0 or 1)
 * once the server accepted it; without a session it is only stored, and the
 * post-logon sequence sends it. */
int set_autocommit(my_connection *c, int value, int force);

/* "USE `name`" with every backquote in the name doubled; on success
 * current_database becomes a copy of the name. */
int my_set_catalog_msg(my_connection *c, const my_string *name);

/* The isolation statement for level (bits tested in the order 4, 2, 1, 8),
 * sent only when the server supports transactions. A level with none of
 * those bits sends nothing. */
int my_set_transaction_isolation(my_connection *c, int level);
/* The statement text for a level, or null when no bit of it is known. */
const char *isolation_statement(int level);

/* "select database()" on a private statement; a non-NULL answer (at most 64
 * characters) becomes current_database. -1 when the statement cannot be
 * created or the query fails. */
int get_current_daatabase(my_connection *c);

/* COM_INIT_DB with name on behalf of handle (a statement or the connection):
 * 0 and current_database = name on OK; -1 otherwise. */
int set_currrent_database(void *handle, const my_string *name);

/* The post-logon sequence, run by my_connect after the final OK: autocommit,
 * current database, change of database, the session statements, the
 * collation table (unless the environment has it for this server) and the
 * server kind (known from the handshake when the version names MariaDB, else
 * asked for), in that order, their commands sent
 * together in one round trip (two when the database must be changed). 0, or
 * 1 when a session statement was refused: each refusal's error is posted on
 * the connection, in order; the statements sent with it still ran and the
 * session is usable. */
int session_setup(my_connection *c);

/* "select id, character_set_name from information_schema.collations" into
 * c->collations (newest first). Failures leave the table as far as it got. */
void load_collations(my_connection *c);
/* "select @@version_comment": sets c->memsql. */
void detect_server_kind(my_connection *c);

#endif
