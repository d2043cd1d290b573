/*
 * Session operations: commit, rollback, autocommit, catalog,
 * isolation and the current database. Every statement goes out through
 * execute_query, which posts the server's error on the connection.
 */
#include "connect/my_session.h"

#include "connect/my_inner_query.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"
#include "protocol/my_decode.h"
#include "protocol/my_pkt.h"

#include <stdlib.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

enum { COM_INIT_DB = 2 };

/* Database names are at most 64 characters on every server we speak to. */
enum { DATABASE_NAME_MAX = 64 };

static int send_literal(my_connection *c, const char *sql)
{
    return send_statement(c, compose_text("%s", sql));
}

int my_commit(my_connection *c)
{
    QV_TRACE(c, LOG_ENTRY, "my_commit");
    return send_literal(c, "COMMIT");
}

int my_rollback(my_connection *c)
{
    QV_TRACE(c, LOG_ENTRY, "my_rollback");
    return send_literal(c, "ROLLBACK");
}

static const char *autocommit_statement(int value)
{
    return value == 1 ? "SET AUTOCOMMIT=1" : "SET AUTOCOMMIT=0";
}

int set_autocommit(my_connection *c, int value, int force)
{
    QV_TRACE(c, LOG_ENTRY, "set_autocommit %d", value);
    value = value == 1 ? 1 : 0;
    if (value == c->autocommit && !force)
        return 0;
    /* ODBC lets the application choose autocommit before connecting; the
     * post-logon sequence sends the stored value, so keeping it is enough. */
    if (!has_session(c)) {
        c->autocommit = value;
        return 0;
    }
    int rc = send_literal(c, autocommit_statement(value));
    if (rc == 0)
        c->autocommit = value;
    return rc;
}

/* The name with every backquote doubled, so that it cannot end the quoted
 * identifier it is placed in. */
static my_string *quote_identifier_body(const my_string *name)
{
    uint32_t extra = 0;
    for (uint32_t i = 0; i < name->length; i++)
        extra += name->data[i] == '`';
    my_string *out = ms_new(name->length + extra);
    if (!out)
        return nullptr;
    uint32_t n = 0;
    for (uint32_t i = 0; i < name->length; i++) {
        out->data[n++] = name->data[i];
        if (name->data[i] == '`')
            out->data[n++] = '`';
    }
    return out;
}

int my_set_catalog_msg(my_connection *c, const my_string *name)
{
    QV_TRACE(c, LOG_ENTRY, "my_set_catalog_msg '%S'", name);
    my_string *body = name ? quote_identifier_body(name) : nullptr;
    my_string *copy = ms_copy(name);
    if (!body || !copy) {
        ms_free(body);
        ms_free(copy);
        post_error(c, ST_HY001, 0, nullptr);
        return -1;
    }
    wire_exchange x(c);   /* statements of other threads read it inside theirs */
    int rc = send_statement(c, compose_text("USE `%F`", body));
    if (rc != 0) {
        ms_free(copy);
        return rc;
    }
    ms_free(c->current_database);
    c->current_database = copy;
    return 0;
}

const char *isolation_statement(int level)
{
    if (level & SQL_TXN_REPEATABLE_READ)
        return "SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ";
    if (level & SQL_TXN_READ_COMMITTED)
        return "SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED";
    if (level & SQL_TXN_READ_UNCOMMITTED)
        return "SET SESSION TRANSACTION ISOLATION LEVEL READ UNCOMMITTED";
    if (level & SQL_TXN_SERIALIZABLE)
        return "SET SESSION TRANSACTION ISOLATION LEVEL SERIALIZABLE";
    return nullptr;
}

int my_set_transaction_isolation(my_connection *c, int level)
{
    QV_TRACE(c, LOG_ENTRY, "my_set_transaction_isolation %d", level);
    /* Without a session the capability is unknown (0): the level is only
     * stored, and the post-logon sequence sends it. */
    if (!(c->server_caps & SERVER_CAP_TRANSACTIONS))
        return 0;
    const char *sql = isolation_statement(level);
    return sql ? send_literal(c, sql) : 0;
}

/* ------------------------------------------------------ current database */

static void take_database(my_connection *c, my_statement *s, void *)
{
    my_string *name = inner_column_text(s, 1, DATABASE_NAME_MAX);
    if (!name)
        return;   /* NULL: no database selected */
    std::lock_guard<qv_mutex> g(c->wire_lock);
    ms_free(c->current_database);
    c->current_database = name;
    QV_TRACE(c, LOG_DETAIL, "get_current_daatabase: new db = '%S'", name);
}

int get_current_daatabase(my_connection *c)
{
    QV_TRACE(c, LOG_ENTRY, "get_current_daatabase");
    return run_inner_query(c, "select database()", take_database, nullptr, 1);
}

static void clear_affected_rows(void *handle)
{
    if (my_statement *s = as_stmt(handle))
        s->status.affected_rows = 0;
    else if (my_connection *c = as_conn(handle))
        c->status.affected_rows = 0;
}

/* The reply to COM_INIT_DB: OK or the server's error. */
static int init_db_reply(void *handle)
{
    my_connection *c = handle_conn(handle);
    handle_header *hd = handle_hdr(handle);
    hd->timed_out = 0;
    int posted = diag_count(handle);
    my_packet *p = packet_read(handle);
    if (!p) {
        if (hd->timed_out) {
            QV_TRACE(c, LOG_ERROR, "set_currrent_database: timeout reading packet");
            post_error(handle, ST_HYT00, 0, nullptr);
        } else {
            QV_TRACE(c, LOG_ERROR, "set_currrent_database: failed reading packet");
            if (diag_count(handle) == posted)
                post_error(handle, ST_08S01, 0, nullptr);
        }
        return -1;
    }
    int rc;
    switch (packet_type(p) & 0xFF) {
    case 0x00:
        rc = decode_ok_packet(handle, p, 0) == 0 ? 0 : -1;
        break;
    case 0xFF:
        decode_error_packet(handle, p);
        rc = -1;
        break;
    default:
        QV_TRACE(c, LOG_ERROR, "set_currrent_database: unexpected packet type %x",
                 (unsigned)(packet_type(p) & 0xFF));
        post_error(handle, ST_08S01, 0, "unexpected reply to a change of database");
        rc = -1;
        break;
    }
    packet_free(p);
    return rc;
}

int set_currrent_database(void *handle, const my_string *name)
{
    my_connection *c = handle_conn(handle);
    if (!c || !name)
        return -1;
    QV_TRACE(c, LOG_DETAIL, "set_currrent_database: hand=%p", handle);
    QV_TRACE(c, LOG_CONTINUE, "db: '%S'", name);
    wire_exchange x(handle);
    if (check_wire_free(handle) != 0)
        return -1;
    clear_affected_rows(handle);
    my_string *copy = ms_copy(name);
    packet_reset_seq(handle);
    my_packet *p = packet_new(handle);
    if (!copy || !p || packet_put_u8(p, COM_INIT_DB) != 0 || packet_put_string(p, name) != 0) {
        ms_free(copy);
        packet_free(p);
        post_error(handle, ST_HY001, 0, nullptr);
        return -1;
    }
    int rc = packet_send(handle, p);
    packet_free(p);
    if (rc == 0)
        rc = init_db_reply(handle);
    if (rc != 0) {
        ms_free(copy);
        return -1;
    }
    ms_free(c->current_database);
    c->current_database = copy;
    return 0;
}

/* ------------------------------------------------------ post-logon sequence */

/* The post-logon statements go out together (run_pipelined): one round trip
 * for all of them. Each keeps its place in the order, and each answer is
 * read and judged as when it was sent alone. */
struct session_batch {
    my_connection *c;
    std::vector<pipelined_command> cmds;
    std::vector<int *> results;   /* where a command's result goes, or null */
    std::vector<int> counts;      /* 1: a session statement, whose refusal fails the set-up */
    std::vector<inner_query *> queries;
    int failed = 0;

    explicit session_batch(my_connection *conn) : c(conn) {}
    ~session_batch() { clear(); }
    session_batch(const session_batch &) = delete;
    session_batch &operator=(const session_batch &) = delete;

    void clear()
    {
        for (pipelined_command &k : cmds)
            packet_free(k.packet);
        for (inner_query *q : queries)
            inner_query_end(q);
        cmds.clear();
        results.clear();
        counts.clear();
        queries.clear();
    }
    void add(const pipelined_command &k, int counts_as_session, int *result)
    {
        try {
            size_t room = cmds.size() + 8;   /* a logon adds seven at most */
            cmds.reserve(room);
            results.reserve(room);
            counts.reserve(room);
        } catch (...) {
            packet_free(k.packet);
            post_error(c, ST_HY001, 0, nullptr);
            failed |= counts_as_session;
            return;
        }
        cmds.push_back(k);
        results.push_back(result);
        counts.push_back(counts_as_session);
    }
    /* A statement of the driver's own, answered by an OK or an error; a
     * null text (no memory) is a statement that failed with HY001. */
    void statement(my_string *text, int counts_as_session = 1, int *result = nullptr)
    {
        my_packet *p = text ? query_command(c, text) : nullptr;
        if (!text)
            post_error(c, ST_HY001, 0, nullptr);
        ms_free(text);
        add({c, p, nullptr, nullptr, -1}, counts_as_session, result);
    }
    void literal(const char *sql, int counts_as_session = 1, int *result = nullptr)
    {
        statement(compose_text("%s", sql), counts_as_session, result);
    }
    /* A query on a private statement, its rows handed to q->fn. */
    void query(inner_query *q, const char *sql, int *result = nullptr)
    {
        my_packet *p = inner_query_start(c, q, sql);
        try {
            queries.push_back(q);
        } catch (...) {
            inner_query_end(q);
            packet_free(p);
            post_error(c, ST_HY001, 0, nullptr);
            return;
        }
        add({q->s, p, inner_query_answer, q, -1}, 0, result);
    }
    /* Sends what was added and reads the answers. 1 when a session
     * statement was refused (or could not be built) since the last run. */
    int run()
    {
        if (!cmds.empty())
            run_pipelined(c, cmds.data(), cmds.size());
        for (size_t i = 0; i < cmds.size(); i++) {
            if (results[i])
                *results[i] = cmds[i].rc;
            if (counts[i] && cmds[i].rc != 0)
                failed = 1;
        }
        clear();
        int was = failed;
        failed = 0;
        return was;
    }
};

/* The session statements the settings ask for, in their order. Values go in
 * as the settings hold them: they are the user's own SQL fragments (a
 * character-set name, an sql_mode expression with its quotes). */
static void session_statements(my_connection *c, session_batch &b)
{
    if (c->version_major < 4)
        return;
    if (c->character_set_client)
        b.statement(compose_text("SET character_set_client = %S", c->character_set_client));
    /* Results come in the session's own character set, the one the driver
     * decodes text with, unless the application chose another: NULL would
     * send each column in its own set (ucs2, latin1 on a UTF-8 session).
     * Binary data is never converted. An unknown number takes the set the
     * server made of the handshake's. */
    const char *name = charset_name(c, c->charset);
    b.statement(c->character_set_results
                    ? compose_text("SET character_set_results = %S", c->character_set_results)
                    : compose_text("SET character_set_results = %s",
                                   name ? name : "@@character_set_connection"));
    if (c->collation_connection)
        b.statement(compose_text("SET collation_connection = %S", c->collation_connection));
    if (c->AnsiMode)
        b.literal("SET sql_mode='ANSI_QUOTES'");
    else if (c->SQLMode)
        b.statement(compose_text("SET sql_mode = %S", c->SQLMode));
    if (c->server_caps & SERVER_CAP_TRANSACTIONS) {
        if (const char *sql = isolation_statement(c->txn_isolation))
            b.literal(sql);
    }
}

static void add_collation(my_connection *c, my_statement *s, void *)
{
    collation_entry e{};
    if (inner_column_int(s, 1, &e.id) != 0)
        return;
    my_string *name = inner_column_text(s, 2, sizeof e.charset_name - 1);
    if (!name)
        return;
    /* Character-set names are ASCII identifiers. */
    for (uint32_t i = 0; i < name->length; i++)
        e.charset_name[i] = (char)(name->data[i] < 0x80 ? name->data[i] : '?');
    ms_free(name);
    try {
        c->collations->push_back(e);
    } catch (...) {
        /* out of memory: the table stays as far as it got */
    }
}

/* The server a collation table belongs to: the address and port the logon
 * reached and the version it announced. Empty when the address is unknown
 * (nothing is cached then). */
static std::string collation_server(const my_connection *c)
{
    if (!c->server_in_use || !c->server_version)
        return std::string();
    char *host = ms_to_utf8(c->server_in_use);
    char *version = ms_to_utf8(c->server_version);
    std::string key;
    if (host && version)
        key = std::string(host) + ":" + std::to_string(c->port_in_use) + "/" + version;
    free(host);
    free(version);
    return key;
}

static const char COLLATIONS_QUERY[] =
    "select id, character_set_name from information_schema.collations ORDER BY id";

/* One server's collation table, as a logon to it read it. */
struct collation_cache_entry {
    std::string server;            /* address, port and version */
    std::vector<collation_entry> collations;
};

/* The collation tables of the servers this process has logged on to, by
 * address, port and version. They are the process's, not an environment's:
 * the driver manager frees the driver's environment with its last
 * connection, so a program that reconnects would ask again every time. */
struct collation_tables {
    std::mutex lock;
    std::vector<collation_cache_entry> servers;
};

static collation_tables &known_collations()
{
    static collation_tables t;
    return t;
}

/* The table kept for c's server into c->collations. 1 when it was there; 0
 * when the server must be asked, with c->collations empty and *server the
 * key to keep the answer under (empty: do not keep it). -1 when memory runs
 * out. */
static int cached_collations(my_connection *c, std::string *server)
{
    if (!c->collations) {
        c->collations = new (std::nothrow) std::vector<collation_entry>();
        if (!c->collations)
            return -1;
    }
    try {
        *server = collation_server(c);
        if (!server->empty()) {
            collation_tables &t = known_collations();
            std::lock_guard<std::mutex> g(t.lock);
            for (const collation_cache_entry &e : t.servers)
                if (e.server == *server) {
                    *c->collations = e.collations;
                    QV_TRACE(c, LOG_DETAIL, "collations of %s taken from an earlier logon",
                             server->c_str());
                    return 1;
                }
        }
    } catch (...) {
        server->clear();   /* out of memory: ask the server as if nothing were kept */
    }
    c->collations->clear();
    return 0;
}

/* After the rows of a successful collation query: the table newest first,
 * and kept for the next logon to the same server. */
static void keep_collations(my_connection *c, const std::string &server)
{
    /* The table is kept newest first: each row goes on the front. */
    std::reverse(c->collations->begin(), c->collations->end());
    if (server.empty() || c->collations->empty())
        return;
    try {
        collation_tables &t = known_collations();
        std::lock_guard<std::mutex> g(t.lock);
        t.servers.push_back({server, *c->collations});
    } catch (...) {
        /* out of memory: the next logon asks again */
    }
}

void load_collations(my_connection *c)
{
    std::string server;
    if (cached_collations(c, &server) != 0)
        return;
    if (run_inner_query(c, COLLATIONS_QUERY, add_collation, nullptr, 0) == 0)
        keep_collations(c, server);
}

static void check_version_comment(my_connection *c, my_statement *s, void *)
{
    static const uint16_t memsql[] = {'M', 'e', 'm', 'S', 'Q', 'L'};
    my_string *comment = inner_column_text(s, 1, 127);
    if (comment && comment->length >= 7 &&
        std::equal(memsql, memsql + 6, comment->data)) {
        c->memsql = 1;
        QV_TRACE(c, LOG_DETAIL, "Server is MemSQL");
    }
    ms_free(comment);
}

static const char VERSION_COMMENT_QUERY[] = "select @@version_comment";

void detect_server_kind(my_connection *c)
{
    int before = c->memsql;
    c->memsql = 0;
    if (run_inner_query(c, VERSION_COMMENT_QUERY, check_version_comment, nullptr, 0) != 0)
        c->memsql = before;
}

/* A server whose handshake names it MariaDB is not MemSQL: what its version
 * comment would say is known without asking. */
static int names_mariadb(const my_string *version)
{
    static const char NAME[] = "MariaDB";
    const uint32_t n = sizeof NAME - 1;
    for (uint32_t i = 0; version && i + n <= version->length; i++) {
        uint32_t k = 0;
        while (k < n && version->data[i + k] == (uint16_t)NAME[k])
            k++;
        if (k == n)
            return 1;
    }
    return 0;
}

static int same_database(const my_string *wanted, const my_string *current)
{
    return current && ms_compare(wanted, current) == 0;
}

int session_setup(my_connection *c)
{
    session_batch b(c);
    int failed = 0;
    QV_TRACE(c, LOG_ENTRY, "set_autocommit %d", c->autocommit);
    int autocommit = c->autocommit == 1 ? 1 : 0;
    int autocommit_rc = -1;
    b.literal(autocommit_statement(autocommit), 0, &autocommit_rc);
    inner_query database = {take_database, nullptr, 1, nullptr};
    if (!c->current_database) {
        QV_TRACE(c, LOG_ENTRY, "get_current_daatabase");
        b.query(&database, "select database()");
    }
    /* A change of database goes before the session statements. Whether it
     * is needed may hang on the answer just asked for: then what was added
     * goes first, and the rest after the change. */
    if (c->DATABASE && !same_database(c->DATABASE, c->current_database)) {
        failed |= b.run();
        if (!same_database(c->DATABASE, c->current_database))
            set_currrent_database(c, c->DATABASE);
    }
    session_statements(c, b);
    /* What the session is set to does not depend on the answers below,
     * nor they on it: they go in the same write. */
    std::string server;
    inner_query collations = {add_collation, nullptr, 0, nullptr};
    int collations_rc = -1;
    if (cached_collations(c, &server) == 0)
        b.query(&collations, COLLATIONS_QUERY, &collations_rc);
    inner_query comment = {check_version_comment, nullptr, 0, nullptr};
    int comment_rc = 0;
    int memsql_before = c->memsql;
    c->memsql = 0;
    if (names_mariadb(c->server_version)) {
        QV_TRACE(c, LOG_DETAIL, "Server is MariaDB by its handshake");
    } else {
        comment_rc = -1;
        b.query(&comment, VERSION_COMMENT_QUERY, &comment_rc);
    }
    failed |= b.run();
    if (autocommit_rc == 0)
        c->autocommit = autocommit;
    if (collations_rc == 0)
        keep_collations(c, server);
    if (comment_rc != 0)
        c->memsql = memsql_before;
    return failed ? 1 : 0;
}
