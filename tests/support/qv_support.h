// Support for integration tests: the private server's coordinates, connection
// strings, RAII ODBC handles allocated through the driver manager, diagnostic
// records for assertions, and side access to the server through the mariadb
// client for seeding and checking what the driver did.
//
// The test server is described by the env file that the CTest fixture writes
// and names in QV_SERVER_ENV; server() throws std::runtime_error when it
// cannot be read, which GoogleTest reports as a failure of the running test.
#ifndef QV_SUPPORT_H
#define QV_SUPPORT_H

#include <sql.h>
#include <sqlext.h>

#include <stdint.h>

#include <string>
#include <vector>

namespace qv {

// ------------------------------------------------------------ the server

struct server_info {
    std::string host;
    int port = 0;
    std::string user, password, database;
    std::string socket;                  // unix socket of the server
    std::string ssl_ca;                  // CA that signed both certificates
    std::string ssl_server_cert, ssl_server_key;
    std::string ssl_client_cert, ssl_client_key;  // CN is the test user
    long pid = 0;
    std::string datadir, server_dir, version;
    std::string client_cnf;              // mariadb option file: root over the socket
    std::string driver_name, dsn;        // as registered in the private ini files
    std::string odbcsysini, odbcini;
};

// The fixture's server, read once from the file named by QV_SERVER_ENV.
const server_info &server();

// "DRIVER={...};SERVER=...;PORT=...;UID=...;PWD=...;DATABASE=...;" followed
// by extra (e.g. "Encrypt=1;").  extra only appends: a test that needs a
// keyword left out or given twice builds its own string.
std::string conn_str(const std::string &extra = "");
// "DSN=qvtest;" followed by extra.
std::string dsn_conn_str(const std::string &extra = "");

// ------------------------------------------------------------ handles

// One ODBC handle, freed with SQLFreeHandle when it goes out of scope.
// Move-only.  Children must be released before their parent (declare them
// after it, or reset() them first).
class handle {
public:
    handle() = default;
    handle(SQLSMALLINT type, SQLHANDLE h) : type_(type), h_(h) {}
    handle(handle &&o) noexcept : type_(o.type_), h_(o.h_) { o.h_ = SQL_NULL_HANDLE; }
    handle &operator=(handle &&o) noexcept;
    handle(const handle &) = delete;
    handle &operator=(const handle &) = delete;
    ~handle() { reset(); }

    void reset();
    SQLHANDLE get() const { return h_; }
    SQLSMALLINT type() const { return type_; }
    explicit operator bool() const { return h_ != SQL_NULL_HANDLE; }
    operator SQLHANDLE() const { return h_; }

private:
    SQLSMALLINT type_ = 0;
    SQLHANDLE h_ = SQL_NULL_HANDLE;
};

// Each returns an empty handle when allocation fails; the caller asserts.
handle alloc_env(SQLINTEGER odbc_version = SQL_OV_ODBC3);
handle alloc_dbc(const handle &env);
handle alloc_stmt(const handle &dbc);

// An environment and a connection handle; disconnects on destruction if
// connect() succeeded.
struct connection {
    handle env, dbc;

    explicit connection(SQLINTEGER odbc_version = SQL_OV_ODBC3);
    ~connection();
    connection(const connection &) = delete;
    connection &operator=(const connection &) = delete;

    // SQLDriverConnect with SQL_DRIVER_NOPROMPT; out receives the completed
    // connection string when given.
    SQLRETURN connect(const std::string &cs, std::string *out = nullptr);
    SQLRETURN disconnect();
    bool connected = false;
};

// ------------------------------------------------------------ diagnostics

struct diag_record {
    std::string sqlstate;
    SQLINTEGER native = 0;
    std::string text;
};

// All diagnostic records of a handle, in order (SQLGetDiagRec until it
// reports SQL_NO_DATA).
std::vector<diag_record> diagnostics(SQLSMALLINT type, SQLHANDLE h);
inline std::vector<diag_record> diagnostics(const handle &h)
{
    return diagnostics(h.type(), h.get());
}
// The SQLSTATE of the first record, or "" when there is none.
std::string first_state(const handle &h);
// "[HY000] (1045) text" lines, for assertion messages.
std::string describe(const std::vector<diag_record> &records);

const char *return_name(SQLRETURN rc);

// ------------------------------------------------------------ side access

// Runs SQL (one or more statements) through the mariadb client as root over
// the unix socket, in the given database (the test database by default).
// output holds stdout and stderr: rows as tab-separated lines without column
// names, NULL as "NULL".
struct sql_result {
    int status = -1;   // the client's exit status; 0 is success
    std::string output;
};
sql_result server_sql(const std::string &sql, const std::string &database = std::string());

// Rows of a query run with server_sql, split at tabs and newlines; throws
// std::runtime_error with the client's output when it fails.
std::vector<std::vector<std::string>> server_rows(const std::string &sql,
                                                  const std::string &database = std::string());

// ------------------------------------------------------------ raw TCP

// A TCP connection to host:port, or -1; the caller closes it.
int tcp_connect(const std::string &host, int port);
// Reads one protocol packet (4-byte header, then payload) within timeout_ms;
// false on time-out, error or end of stream.
bool read_packet(int fd, std::vector<uint8_t> &payload, uint8_t *seq = nullptr,
                 int timeout_ms = 5000);

} // namespace qv

#define QV_ASSERT_SUCCEEDED(rc, h) \
    ASSERT_TRUE(SQL_SUCCEEDED(rc)) << qv::return_name(rc) << "\n" << qv::describe(qv::diagnostics(h))
#define QV_EXPECT_SUCCEEDED(rc, h) \
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << qv::return_name(rc) << "\n" << qv::describe(qv::diagnostics(h))

#endif
