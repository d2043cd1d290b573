// LOCAL INFILE through the driver manager against a scripted server that
// asks for files: a request is served only while the application's own
// LOAD ... LOCAL INFILE runs and only for the file it names. A request
// answering anything else (a plain query, a session statement at logon, a
// catalog query), for another file, or with LocalInfile=0 uploads nothing:
// the server sees only the empty packet that ends the transfer, the
// application gets a clear error, and the connection goes on.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "integration/fake_peer.h"
#include "support/qv_support.h"

namespace {

using fake::bytes;

const char REFUSED[] = "The server asked for a local file";

// A temporary file with the given content, removed with the object.
struct temp_file {
    std::string path, content;
    explicit temp_file(std::string data) : content(std::move(data))
    {
        char p[] = "/tmp/qv-infile-XXXXXX";
        int fd = mkstemp(p);
        if (fd >= 0) {
            path = p;
            if (write(fd, content.data(), content.size()) != (ssize_t)content.size())
                path.clear();
            close(fd);
        }
    }
    ~temp_file()
    {
        if (!path.empty())
            unlink(path.c_str());
    }
};

std::string replace_all(std::string s, const std::string &from, const std::string &to)
{
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// What the server saw of uploads.
struct uploads {
    std::mutex lock;
    int requests = 0;
    int packets = 0;     // upload packets, the empty one that ends each included
    std::string data;    // their bytes
};

// Asks for path (0xFB) and takes the upload up to its empty packet; then OK.
// second: the request answers a batch's second statement, after the first
// one's OK.
bool ask_for_file(fake::session &s, const std::string &path, bool second, uploads *u)
{
    uint8_t seq = 1;
    if (second && !s.send_packet(seq++, fake::ok_packet(0, 0, 0x0A)))   // more results
        return false;
    bytes req{0xFB};
    fake::put_str(req, path);
    if (!s.send_packet(seq, req))
        return false;
    bytes piece;
    for (;;) {
        if (!s.read_packet(&seq, &piece))
            return false;
        std::lock_guard<std::mutex> g(u->lock);
        u->packets++;
        u->data.append(piece.begin(), piece.end());
        if (piece.empty())
            break;
    }
    return s.send_packet((uint8_t)(seq + 1), fake::ok_packet(1));
}

enum phase { EXECUTE, LOGON, CATALOG };

TEST(LocalInfile, ServedOnlyForTheApplicationsOwnStatement)
{
    std::string big;
    big.reserve(10u << 20);
    for (int i = 0; big.size() < (10u << 20); i++)
        big += std::to_string(i) + "\t" + std::string(90, (char)('a' + i % 26)) + "\n";
    temp_file named(big), small("1\tsmall\n"), secret("root:SECRET:0:0\n");
    ASSERT_FALSE(named.path.empty() || small.path.empty() || secret.path.empty());

    struct {
        const char *name;
        phase when;
        std::string extra;      // connection settings
        std::string sql;        // $N the named file, $S the small one
        std::string param;      // bound to the one marker, when not empty
        const temp_file *asked; // the file the server asks for
        bool second;            // by the second statement of a batch
        bool served;
        std::string message;    // of the refusal
    } cases[] = {
        {"own LOAD of 10 MB", EXECUTE, "", "LOAD DATA LOCAL INFILE '$N' INTO TABLE t", "", &named,
         false, true, ""},
        {"own LOAD, comments and case", EXECUTE, "",
         "/* bulk */ load data -- the file\n local infile '$S' into table t", "", &small, false,
         true, ""},
        {"own LOAD through a parameter", EXECUTE, "", "LOAD DATA LOCAL INFILE ? INTO TABLE t",
         small.path, &small, false, true, ""},
        {"LOAD XML of a batch's second statement", EXECUTE, "",
         "DO 1; LOAD XML LOCAL INFILE '$S' INTO TABLE t", "", &small, true, true, ""},
        {"another file than the statement names", EXECUTE, "",
         "LOAD DATA LOCAL INFILE '$N' INTO TABLE t", "", &secret, false, false,
         "does not name in LOAD DATA LOCAL INFILE"},
        {"a plain SELECT", EXECUTE, "", "SELECT 1", "", &secret, false, false,
         "does not name in LOAD DATA LOCAL INFILE"},
        {"LOAD without LOCAL", EXECUTE, "", "LOAD DATA INFILE '$S' INTO TABLE t", "", &small,
         false, false, "does not name in LOAD DATA LOCAL INFILE"},
        {"LocalInfile=0", EXECUTE, "LocalInfile=0;", "LOAD DATA LOCAL INFILE '$S' INTO TABLE t", "",
         &small, false, false, "LOCAL INFILE is off for this connection (LocalInfile=0)"},
        {"a session statement at logon", LOGON, "", "", "", &secret, false, false,
         "does not name in LOAD DATA LOCAL INFILE"},
        {"a catalog query", CATALOG, "", "", "", &secret, false, false,
         "does not name in LOAD DATA LOCAL INFILE"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        uploads u;
        std::atomic<bool> armed{c.when == LOGON};
        peer::logon_seen seen;
        fake::server srv([&](fake::session &s) {
            if (!peer::logon(s, peer::logon_script(), &seen))
                return;
            peer::serve(s, [&](fake::session &ss, const bytes &cmd) {
                if (cmd.empty() || cmd[0] != peer::COM_QUERY)
                    return false;
                // at logon: a session statement the application hears of
                if (c.when == LOGON &&
                    peer::query_text(cmd).rfind("SET character_set_results", 0) != 0)
                    return false;
                if (!armed.exchange(false))
                    return false;
                {
                    std::lock_guard<std::mutex> g(u.lock);
                    u.requests++;
                }
                return ask_for_file(ss, c.asked->path, c.second, &u);
            });
        });
        // the server asks once, at the first query after the test armed it
        auto arm_then = [&](auto action) {
            armed = true;
            return action();
        };
        qv::connection conn;
        SQLRETURN rc = conn.connect(peer::conn_str(srv.port(), c.extra));
        std::vector<qv::diag_record> d;
        if (c.when == LOGON) {
            EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
            d = qv::diagnostics(conn.dbc);
        } else {
            QV_ASSERT_SUCCEEDED(rc, conn.dbc);
        }
        EXPECT_EQ((seen.client_flags & 0x80) != 0, c.extra.empty()) << "CLIENT_LOCAL_FILES";
        qv::handle stmt = qv::alloc_stmt(conn.dbc);
        ASSERT_TRUE(stmt);
        if (c.when == EXECUTE) {
            std::string sql = replace_all(replace_all(c.sql, "$N", named.path), "$S", small.path);
            SQLLEN len = (SQLLEN)c.param.size();
            if (!c.param.empty()) {
                ASSERT_TRUE(SQL_SUCCEEDED(SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR,
                                                           SQL_VARCHAR, c.param.size(), 0,
                                                           (SQLPOINTER)c.param.data(), len, &len)));
            }
            rc = arm_then([&] { return SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS); });
            if (c.second && rc == SQL_SUCCESS)   // the first statement's count comes first
                rc = SQLMoreResults(stmt);
            d = qv::diagnostics(stmt);
        } else if (c.when == CATALOG) {
            rc = arm_then(
                [&] { return SQLTables(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); });
            d = qv::diagnostics(stmt);
        }
        EXPECT_EQ(u.requests, 1);
        if (c.served) {
            EXPECT_EQ(rc, SQL_SUCCESS) << qv::describe(d);
            EXPECT_TRUE(u.data == c.asked->content) << u.data.size() << " bytes arrived";
        } else {
            if (c.when != LOGON) {
                EXPECT_EQ(rc, SQL_ERROR);
            }
            if (c.when == LOGON) {
                // the session statements go out together: the ones written
                // behind the asking one reach the upload (and go again
                // after it), never a byte of the file
                EXPECT_EQ(u.data.find("SECRET"), std::string::npos);
            } else {
                EXPECT_EQ(u.packets, 1) << "only the empty packet";
                EXPECT_EQ(u.data, "");
            }
            ASSERT_FALSE(d.empty());
            EXPECT_EQ(d[0].sqlstate, "HY000") << qv::describe(d);
            EXPECT_NE(d[0].text.find(REFUSED), std::string::npos) << qv::describe(d);
            EXPECT_NE(d[0].text.find(c.message), std::string::npos) << qv::describe(d);
            EXPECT_EQ(d[0].text.find(c.asked->path), std::string::npos) << "names the file";
        }
        // the connection goes on
        qv::handle next = qv::alloc_stmt(conn.dbc);
        QV_EXPECT_SUCCEEDED(SQLExecDirect(next, (SQLCHAR *)"DO 2", SQL_NTS), next);
    }
}

} // namespace
