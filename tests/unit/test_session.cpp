// The post-logon sequence and the session operations against the scripted
// fake server: which statements go out, in which order, under which
// conditions, and what the answers leave on the connection. The fake server
// plays servers a real test MariaDB cannot be (version 3, no transactions,
// MemSQL) and records every command it receives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "connect/my_session.h"
#include "desc/my_desc.h"
#include "fake/fake_server.h"
#include "frame/my_handle.h"
#include "protocol/my_conn.h"

namespace {

using fake::bytes;
using fake::operator+;

using rows = std::vector<std::vector<std::optional<std::string>>>;

// A server that answers COM_QUERY and COM_INIT_DB from a table and records
// every command: queries as their text, a change of database as
// "INIT_DB <name>".
struct scripted_server {
    std::map<std::string, rows> results;       // query text -> rows (one column per cell)
    std::set<std::string> refused;             // queries answered with an error
    std::mutex lock;
    std::vector<std::string> commands;

    std::vector<std::string> seen()
    {
        std::lock_guard<std::mutex> g(lock);
        return commands;
    }

    void answer(fake::session &s, const std::string &sql)
    {
        if (refused.count(sql)) {
            s.send_packet(1, fake::err_packet(1231, "42000", "Variable 'sql_mode' can't be set"));
            return;
        }
        auto it = results.find(sql);
        if (it == results.end()) {
            s.send_packet(1, fake::ok_packet());
            return;
        }
        const rows &r = it->second;
        size_t ncols = r.empty() ? 1 : r[0].size();
        uint8_t seq = 1;
        bytes count;
        fake::put_lenenc(count, ncols);
        s.send_packet(seq++, count);
        for (size_t i = 0; i < ncols; i++) {
            fake::column_info col;
            col.name = "c" + std::to_string(i + 1);
            s.send_packet(seq++, fake::column_def(col));
        }
        s.send_packet(seq++, fake::eof_packet());
        for (const auto &row : r)
            s.send_packet(seq++, fake::text_row(row));
        s.send_packet(seq++, fake::eof_packet());
    }

    // Commands the client must send together: the server reads this many
    // before it answers any of them (burst by burst, then one at a time). A
    // client that waited for an answer in between would wait for ever, and
    // the test would fail on the missing commands.
    std::vector<size_t> bursts;

    void run(fake::session &s)
    {
        uint8_t seq;
        bytes p;
        std::vector<bytes> held;
        for (;;) {
            size_t want = bursts.empty() ? 1 : bursts.front();
            if (!bursts.empty())
                bursts.erase(bursts.begin());
            held.clear();
            while (held.size() < want && s.read_packet(&seq, &p, 3000) && !p.empty())
                held.push_back(p);
            if (held.size() < want && (held.empty() || held.back()[0] != 0x01))
                return;
            for (const bytes &cmd : held)
                if (!serve(s, cmd))
                    return;
        }
    }

    bool serve(fake::session &s, const bytes &p)
    {
        std::string arg(p.begin() + 1, p.end());
        while (p[0] == 0x03 && !arg.empty() && arg.back() == '\0')
            arg.pop_back();   // a text execution ends with a 0 byte
        {
            std::lock_guard<std::mutex> g(lock);
            commands.push_back(p[0] == 0x02 ? "INIT_DB " + arg : p[0] == 0x01 ? "QUIT" : arg);
        }
        if (p[0] == 0x01)
            return false;
        if (p[0] == 0x02)
            s.send_packet(1, fake::ok_packet());
        else
            answer(s, arg);
        return true;
    }
};

const char *COLLATIONS = "select id, character_set_name from information_schema.collations ORDER BY id";

struct session_setup_test : ::testing::Test {
    my_environment *env = env_create();
    my_connection *c = conn_create(env, 3);
    scripted_server script;
    std::unique_ptr<fake::server> srv;

    void SetUp() override
    {
        script.results["select database()"] = {{std::string("test")}};
        script.results[COLLATIONS] = {{"8", "latin1"}, {"33", "utf8"}, {"45", "utf8mb4"}};
        script.results["select @@version_comment"] = {{std::string("mariadb.org binary")}};
    }
    void TearDown() override
    {
        srv.reset();
        env_release(env);
    }
    // A new environment and connection for the next case of a table.
    void fresh()
    {
        TearDown();
        env = env_create();
        c = conn_create(env, 3);
        script.commands.clear();
    }
    // Opens the session as a logon would leave it: socket open, server
    // facts known, connected.
    void open(int major = 10, uint32_t caps = fake::CAP_PROTOCOL_41 | fake::CAP_TRANSACTIONS)
    {
        srv = std::make_unique<fake::server>([this](fake::session &s) { script.run(s); });
        ASSERT_TRUE(srv->ok());
        my_string *host = ms_from_latin1("127.0.0.1");
        ASSERT_EQ(net_open(c, host, srv->port()), 0);
        ms_free(host);
        c->version_major = major;
        c->charset = 45;   // utf8mb4, as a logon that names no character set leaves it
        c->server_caps = caps;
        c->client_caps = fake::CAP_PROTOCOL_41;
        c->connected = 1;
    }
    void set_text(my_string **field, const char *value)
    {
        ms_free(*field);
        *field = value ? ms_from_latin1(value) : nullptr;
    }
    std::vector<std::string> finish()
    {
        net_close(c);
        c->connected = 0;
        EXPECT_TRUE(srv->wait_done());
        return script.seen();
    }
    std::string first_diag()
    {
        diag_record *r = diag_get(c, 1);
        std::string out;
        for (uint32_t i = 0; r && i < r->sqlstate->length; i++)
            out += (char)r->sqlstate->data[i];
        out += " ";
        for (uint32_t i = 0; r && i < r->message->length; i++)
            out += (char)r->message->data[i];
        return r ? out : "";
    }
};

std::vector<std::string> tail_after_statements(bool transactions = true)
{
    std::vector<std::string> v;
    if (transactions)
        v.push_back("SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ");
    v.push_back(COLLATIONS);
    v.push_back("select @@version_comment");
    return v;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

// Which statements each combination of settings sends, in order.
TEST_F(session_setup_test, StatementsFollowTheSettings)
{
    struct setting_case {
        const char *name;
        const char *client, *results, *collation, *sql_mode;
        int ansi;
        int isolation;
        std::vector<std::string> statements;   // between the database query and the tail
        std::string isolation_sql;
    } cases[] = {
        {"defaults", nullptr, nullptr, nullptr, nullptr, 0, 4, {"SET character_set_results = utf8mb4"},
         "SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ"},
        {"character sets", "utf8mb4", "latin1", "utf8mb4_bin", nullptr, 0, 4,
         {"SET character_set_client = utf8mb4", "SET character_set_results = latin1",
          "SET collation_connection = utf8mb4_bin"},
         "SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ"},
        {"ansi wins over sql mode", nullptr, nullptr, nullptr, "'TRADITIONAL'", 1, 2,
         {"SET character_set_results = utf8mb4", "SET sql_mode='ANSI_QUOTES'"},
         "SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED"},
        {"sql mode", nullptr, nullptr, nullptr, "'TRADITIONAL'", 0, 1,
         {"SET character_set_results = utf8mb4", "SET sql_mode = 'TRADITIONAL'"},
         "SET SESSION TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"},
        {"serializable", nullptr, nullptr, nullptr, nullptr, 0, 8, {"SET character_set_results = utf8mb4"},
         "SET SESSION TRANSACTION ISOLATION LEVEL SERIALIZABLE"},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        fresh();
        std::vector<std::string> want = {"SET AUTOCOMMIT=1", "select database()"};
        want = want + k.statements;
        want.push_back(k.isolation_sql);
        want.push_back(COLLATIONS);
        want.push_back("select @@version_comment");
        script.bursts = {want.size()};   // all of them in one round trip
        open();
        set_text(&c->character_set_client, k.client);
        set_text(&c->character_set_results, k.results);
        set_text(&c->collation_connection, k.collation);
        set_text(&c->SQLMode, k.sql_mode);
        c->AnsiMode = k.ansi;
        c->txn_isolation = k.isolation;
        EXPECT_EQ(session_setup(c), 0) << first_diag();
        EXPECT_EQ(finish(), want);
    }
}

// Results come in the session's own character set (the one text is
// decoded with), named from the handshake's collation number.
TEST_F(session_setup_test, ResultsTakeTheSessionCharacterSet)
{
    struct {
        int charset;
        const char *statement;
    } cases[] = {
        {45, "SET character_set_results = utf8mb4"},
        {224, "SET character_set_results = utf8mb4"},
        {33, "SET character_set_results = utf8"},
        {8, "SET character_set_results = latin1"},
        {51, "SET character_set_results = cp1251"},
        {63, "SET character_set_results = binary"},
        {180, "SET character_set_results = @@character_set_connection"},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.charset);
        fresh();
        open();
        c->charset = k.charset;
        EXPECT_EQ(session_setup(c), 0) << first_diag();
        std::vector<std::string> seen = finish();
        ASSERT_GE(seen.size(), 3u);
        EXPECT_EQ(seen[2], k.statement);
    }
}

TEST_F(session_setup_test, DatabaseIsAskedForAndChangedWhenItDiffers)
{
    // handshake left no database; the server is in "test"; the settings want "shop".
    // The change waits for the answer and goes before the session statements:
    // three round trips.
    script.bursts = {2, 1, 4};
    open();
    c->autocommit = 0;
    set_text(&c->DATABASE, "shop");
    EXPECT_EQ(session_setup(c), 0);
    EXPECT_EQ(finish(), std::vector<std::string>({"SET AUTOCOMMIT=0", "select database()",
                                                  "INIT_DB shop", "SET character_set_results = utf8mb4"}) +
                            tail_after_statements());
    ASSERT_NE(c->current_database, nullptr);
    EXPECT_EQ(ms_compare_literal(c->current_database, "shop"), 0);
}

TEST_F(session_setup_test, KnownDatabaseIsNeitherAskedForNorChanged)
{
    open();
    c->current_database = ms_from_latin1("SHOP");
    set_text(&c->DATABASE, "shop");   // the comparison ignores case
    EXPECT_EQ(session_setup(c), 0);
    EXPECT_EQ(finish(), std::vector<std::string>({"SET AUTOCOMMIT=1", "SET character_set_results = utf8mb4"}) +
                            tail_after_statements());
}

TEST_F(session_setup_test, NullDatabaseLeavesNoneAndDatabaseSettingChangesTo)
{
    script.results["select database()"] = {{std::nullopt}};
    open();
    EXPECT_EQ(session_setup(c), 0);
    EXPECT_EQ(c->current_database, nullptr);
    finish();
}

TEST_F(session_setup_test, OldServerGetsNoSetStatements)
{
    open(3, fake::CAP_PROTOCOL_41 | fake::CAP_TRANSACTIONS);
    set_text(&c->character_set_client, "utf8");
    c->AnsiMode = 1;
    EXPECT_EQ(session_setup(c), 0);
    EXPECT_EQ(finish(), std::vector<std::string>({"SET AUTOCOMMIT=1", "select database()", COLLATIONS,
                                                  "select @@version_comment"}));
}

TEST_F(session_setup_test, ServerWithoutTransactionsGetsNoIsolation)
{
    open(10, fake::CAP_PROTOCOL_41);
    EXPECT_EQ(session_setup(c), 0);
    EXPECT_EQ(finish(), std::vector<std::string>({"SET AUTOCOMMIT=1", "select database()",
                                                  "SET character_set_results = utf8mb4"}) +
                            tail_after_statements(false));
}

// A refused session statement fails the set-up (the logon then returns
// SQL_SUCCESS_WITH_INFO) with the server's error on the connection. The
// statements sent in the same write still ran, each refusal is posted in
// order, and the collation table and server kind are still learned, so the
// session that goes on is whole. Refusals outside the session statements
// (autocommit, the driver's own queries) do not fail it.
TEST_F(session_setup_test, RefusedStatementsAndWhatTheyFail)
{
    const char *MODE = "SET sql_mode = 'NO_SUCH_MODE'";
    const char *ISOLATION = "SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ";
    const std::vector<std::string> all = {"SET AUTOCOMMIT=1", "select database()",
                                          "SET character_set_results = utf8mb4", MODE, ISOLATION,
                                          COLLATIONS, "select @@version_comment"};
    const struct {
        const char *name;
        std::set<std::string> refused;
        int result;
        int posted;          // records on the connection
        bool collations;     // the table was learned
    } cases[] = {
        {"sql mode", {MODE}, 1, 1, true},
        {"sql mode and isolation", {MODE, ISOLATION}, 1, 2, true},
        {"autocommit", {"SET AUTOCOMMIT=1"}, 0, 1, true},
        {"collations", {COLLATIONS}, 0, 0, false},
        {"version comment", {"select @@version_comment"}, 0, 0, true},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        fresh();
        script.refused = k.refused;
        script.bursts = {all.size()};
        open();
        set_text(&c->SQLMode, "'NO_SUCH_MODE'");
        c->memsql = 1;
        EXPECT_EQ(session_setup(c), k.result);
        EXPECT_EQ(diag_count(c), k.posted);
        if (k.posted) {
            EXPECT_EQ(first_diag(), "42000 [Quorvane][MySQL Driver][MySQL]Variable 'sql_mode' can't be set");
        }
        EXPECT_EQ(c->collations && !c->collations->empty(), k.collations);
        // a failed version query leaves the flag as it was; an answer sets it
        EXPECT_EQ(c->memsql, k.refused.count("select @@version_comment") ? 1 : 0);
        EXPECT_EQ(finish(), all);
    }
}

TEST_F(session_setup_test, CollationTableSizesCharacterColumns)
{
    open();
    EXPECT_EQ(session_setup(c), 0);
    finish();
    ASSERT_NE(c->collations, nullptr);
    ASSERT_EQ(c->collations->size(), 3u);
    EXPECT_EQ(c->collations->front().id, 45);   // newest first
    EXPECT_EQ(charset_max_bytes(c, 45), 4);
    EXPECT_EQ(charset_max_bytes(c, 33), 3);
    EXPECT_EQ(charset_max_bytes(c, 8), 1);
    EXPECT_EQ(charset_max_bytes(c, 63), 1);    // not in the table
}

// A later logon to the same server at the same version takes the collation
// table the environment kept; another version or another server asks again.
TEST_F(session_setup_test, CollationsAreAskedForOncePerServerAndVersion)
{
    const struct {
        int port;
        const char *version;
        bool asked;
    } logons[] = {
        {3306, "10.11.6-MariaDB", true},
        {3306, "10.11.6-MariaDB", false},
        {3307, "10.11.6-MariaDB", true},
        {3306, "11.4.2-MariaDB", true},
        {3306, "11.4.2-MariaDB", false},
    };
    bool first = true;
    for (const auto &l : logons) {
        SCOPED_TRACE(std::to_string(l.port) + " " + l.version);
        if (!first) {
            c = conn_create(env, 3);   // another connection of the same environment
            script.commands.clear();
        }
        first = false;
        open();
        c->port_in_use = l.port;   // the fake server's own port changes every time
        set_text(&c->server_version, l.version);
        EXPECT_EQ(session_setup(c), 0);
        std::vector<std::string> seen = finish();
        EXPECT_EQ(std::count(seen.begin(), seen.end(), std::string(COLLATIONS)), l.asked ? 1 : 0);
        ASSERT_NE(c->collations, nullptr);
        ASSERT_EQ(c->collations->size(), 3u);
        EXPECT_EQ(c->collations->front().id, 45);
        EXPECT_EQ(charset_max_bytes(c, 33), 3);
    }
}

// The version comment tells MemSQL; a server whose handshake version names
// MariaDB is not asked (it cannot be MemSQL).
TEST_F(session_setup_test, MemSqlIsRecognisedByItsVersionComment)
{
    const struct {
        const char *version;
        std::optional<std::string> comment;
        int memsql;
    } cases[] = {
        {"5.7.32", std::string("MemSQL source distribution"), 1},
        {"5.7.32", std::string("MemSQL!"), 1},
        {"5.7.32", std::string("MemSQL"), 0},   // six characters are not enough
        {"5.7.32", std::string("memsql server"), 0},
        {"8.0.36", std::nullopt, 0},
        {"10.11.6-MariaDB-log", std::string("MemSQL source distribution"), 0},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(std::string(k.version) + " " + (k.comment ? *k.comment : "NULL"));
        fresh();
        script.results["select @@version_comment"] = {{k.comment}};
        open();
        set_text(&c->server_version, k.version);
        c->memsql = 1;   // a previous answer does not survive a successful query
        EXPECT_EQ(session_setup(c), 0);
        EXPECT_EQ(c->memsql, k.memsql);
        std::vector<std::string> seen = finish();
        bool asked = std::count(seen.begin(), seen.end(), std::string("select @@version_comment")) == 1;
        EXPECT_EQ(asked, strstr(k.version, "MariaDB") == nullptr);
    }
}

// ------------------------------------------------------ session operations

TEST_F(session_setup_test, OperationsSendTheirStatements)
{
    open();
    my_string *odd = ms_from_latin1("we`ird");
    EXPECT_EQ(my_set_catalog_msg(c, odd), 0);
    EXPECT_EQ(ms_compare(c->current_database, odd), 0);
    ms_free(odd);
    EXPECT_EQ(my_commit(c), 0);
    EXPECT_EQ(my_rollback(c), 0);
    EXPECT_EQ(set_select_limit(c, 25), 0);
    EXPECT_EQ(c->select_limit, 25);
    EXPECT_EQ(set_select_limit(c, 0), 0);
    EXPECT_EQ(set_autocommit(c, 0, 0), 0);
    EXPECT_EQ(set_autocommit(c, 0, 0), 0);   // already in force: nothing sent
    EXPECT_EQ(c->autocommit, 0);
    EXPECT_EQ(my_set_transaction_isolation(c, 2), 0);
    EXPECT_EQ(my_set_transaction_isolation(c, 16), 0);   // no known bit: nothing sent
    my_string *db = ms_from_latin1("other");
    EXPECT_EQ(set_currrent_database(c, db), 0);
    EXPECT_EQ(ms_compare(c->current_database, db), 0);
    ms_free(db);
    EXPECT_EQ(finish(), std::vector<std::string>({"USE `we``ird`", "COMMIT", "ROLLBACK",
                                                  "SET @@sql_select_limit=25",
                                                  "SET @@sql_select_limit=DEFAULT", "SET AUTOCOMMIT=0",
                                                  "SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED",
                                                  "INIT_DB other"}));
}

TEST_F(session_setup_test, RefusedOperationsChangeNothing)
{
    script.refused = {"USE `gone`", "SET AUTOCOMMIT=0", "SET @@sql_select_limit=5"};
    open();
    c->current_database = ms_from_latin1("kept");
    my_string *gone = ms_from_latin1("gone");
    EXPECT_NE(my_set_catalog_msg(c, gone), 0);
    ms_free(gone);
    EXPECT_EQ(ms_compare_literal(c->current_database, "kept"), 0);
    EXPECT_NE(set_autocommit(c, 0, 0), 0);
    EXPECT_EQ(c->autocommit, 1);
    EXPECT_NE(set_select_limit(c, 5), 0);
    EXPECT_EQ(c->select_limit, -1);   // unknown: the next statement sends its own
    finish();
}

TEST_F(session_setup_test, ChangeOfDatabaseRefusedOrAnsweredWrongly)
{
    const struct {
        bytes reply;
        const char *state;
    } cases[] = {
        {fake::err_packet(1049, "42000", "Unknown database 'nope'"), "42000"},
        {bytes{0x05, 0x01}, "08S01"},   // neither OK nor ERR
        {bytes{0x00}, "08S01"},         // an OK packet cut short
    };
    for (const auto &k : cases) {
        TearDown();
        env = env_create();
        c = conn_create(env, 3);
        srv = std::make_unique<fake::server>([&](fake::session &s) {
            uint8_t seq;
            bytes p;
            if (s.read_packet(&seq, &p))
                s.send_packet(1, k.reply);
        });
        my_string *host = ms_from_latin1("127.0.0.1");
        ASSERT_EQ(net_open(c, host, srv->port()), 0);
        ms_free(host);
        c->server_caps = c->client_caps = fake::CAP_PROTOCOL_41;
        my_string *db = ms_from_latin1("nope");
        EXPECT_EQ(set_currrent_database(c, db), -1);
        ms_free(db);
        EXPECT_EQ(c->current_database, nullptr);
        EXPECT_EQ(first_diag().substr(0, 5), k.state) << first_diag();
        net_close(c);
        srv->wait_done();
    }
}

TEST_F(session_setup_test, ChangeOfDatabaseTimesOut)
{
    srv = std::make_unique<fake::server>([](fake::session &s) {
        uint8_t seq;
        bytes p;
        s.read_packet(&seq, &p);
        s.sleep_ms(400);   // no answer within the read time-out
    });
    my_string *host = ms_from_latin1("127.0.0.1");
    ASSERT_EQ(net_open(c, host, srv->port()), 0);
    ms_free(host);
    c->ConnectionTimeout = 100;   // milliseconds
    my_string *db = ms_from_latin1("slow");
    EXPECT_EQ(set_currrent_database(c, db), -1);
    ms_free(db);
    EXPECT_EQ(first_diag(), "HYT00 [Quorvane][MySQL Driver][MySQL]Timeout expired");
    net_close(c);
    srv->wait_done();
}
