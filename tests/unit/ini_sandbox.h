/*
 * The unit tests read odbc.ini and odbcinst.ini from a private directory,
 * never from the machine's own files.
 *
 * How unixODBC's installer library behaves (2.3.x), and why this is built
 * the way it is:
 *   - ODBCSYSINI (the directory of the system odbc.ini and odbcinst.ini) is
 *     read once, at the first installer call of the process: it must be set
 *     before that call, so the sandbox is set up by a static initializer.
 *   - ODBCINI (the user odbc.ini) is read on every call.
 *   - Values read with a key are cached per section and key, as last
 *     returned (a value cut by a small buffer stays cut for larger ones);
 *     only a successful SQLWritePrivateProfileString empties that cache.
 *     Key lists (a null key) are not cached. Values are cut at about 1000
 *     bytes by the installer itself.
 *   - Values written to odbcinst.ini with SQLWritePrivateProfileString are
 *     not read back in the same process; odbcinst.ini is therefore written
 *     as a file, followed by a cache-flushing write to odbc.ini.
 */
#ifndef QV_INI_SANDBOX_H
#define QV_INI_SANDBOX_H

#include <initializer_list>
#include <string>
#include <utility>

const std::string &ini_sandbox_dir(void);

/* Replaces the section dsn of odbc.ini by these keys. */
void ini_set_dsn(const char *dsn,
                 std::initializer_list<std::pair<const char *, const char *>> keys);
/* Appends raw text to odbc.ini (for sections too large to write key by key). */
void ini_append_raw(const std::string &text);
void ini_remove_dsn(const char *dsn);
/* Rewrites odbcinst.ini with the driver's entry and this Setup value. */
void ini_set_setup(const std::string &value);
/* Empties the installer's value cache. */
void ini_flush_cache(void);

#endif
