// Support for integration tests; see qv_support.h.
#include "qv_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace qv {

// ------------------------------------------------------------ the server

namespace {

std::map<std::string, std::string> read_env_file(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read the server env file '" + path +
                                 "' (is the server fixture running?)");
    std::map<std::string, std::string> kv;
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return kv;
}

server_info load_server()
{
    const char *path = getenv("QV_SERVER_ENV");
    if (!path || !*path)
        throw std::runtime_error("QV_SERVER_ENV is not set: run integration tests through ctest");
    auto kv = read_env_file(path);
    auto need = [&](const char *key) {
        auto it = kv.find(key);
        if (it == kv.end() || it->second.empty())
            throw std::runtime_error(std::string("server env file lacks ") + key);
        return it->second;
    };
    server_info s;
    s.host = need("QV_HOST");
    s.port = atoi(need("QV_PORT").c_str());
    s.user = need("QV_USER");
    s.password = need("QV_PASSWORD");
    s.database = need("QV_DATABASE");
    s.socket = need("QV_SOCKET");
    s.ssl_ca = need("QV_SSL_CA");
    s.ssl_server_cert = need("QV_SSL_SERVER_CERT");
    s.ssl_server_key = need("QV_SSL_SERVER_KEY");
    s.ssl_client_cert = need("QV_SSL_CLIENT_CERT");
    s.ssl_client_key = need("QV_SSL_CLIENT_KEY");
    s.pid = atol(need("QV_PID").c_str());
    s.datadir = need("QV_DATADIR");
    s.server_dir = need("QV_SERVER_DIR");
    s.version = need("QV_SERVER_VERSION");
    s.client_cnf = need("QV_CLIENT_CNF");
    s.driver_name = need("QV_DRIVER_NAME");
    s.dsn = need("QV_DSN");
    s.odbcsysini = need("QV_ODBCSYSINI");
    s.odbcini = need("QV_ODBCINI");
    return s;
}

} // namespace

const server_info &server()
{
    static const server_info s = load_server();
    return s;
}

// Settings a whole run adds to every connection string (QV_CONN_EXTRA, e.g.
// "NoBinaryDirect=1"): the same suites run again through another path.
static std::string with_run_settings(std::string s)
{
    const char *e = getenv("QV_CONN_EXTRA");
    if (!e || !*e)
        return s;
    if (!s.empty() && s.back() != ';')
        s += ';';
    return s + e + ";";
}

std::string conn_str(const std::string &extra)
{
    const server_info &s = server();
    return with_run_settings("DRIVER={" + s.driver_name + "};SERVER=" + s.host +
                             ";PORT=" + std::to_string(s.port) + ";UID=" + s.user +
                             ";PWD=" + s.password + ";DATABASE=" + s.database + ";" + extra);
}

std::string dsn_conn_str(const std::string &extra)
{
    return with_run_settings("DSN=" + server().dsn + ";" + extra);
}

// ------------------------------------------------------------ handles

handle &handle::operator=(handle &&o) noexcept
{
    if (this != &o) {
        reset();
        type_ = o.type_;
        h_ = o.h_;
        o.h_ = SQL_NULL_HANDLE;
    }
    return *this;
}

void handle::reset()
{
    if (h_ != SQL_NULL_HANDLE)
        SQLFreeHandle(type_, h_);
    h_ = SQL_NULL_HANDLE;
}

handle alloc_env(SQLINTEGER odbc_version)
{
    SQLHANDLE h = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h)))
        return handle();
    handle env(SQL_HANDLE_ENV, h);
    SQLRETURN rc = SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION,
                                 reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(odbc_version)), 0);
    return SQL_SUCCEEDED(rc) ? std::move(env) : handle();
}

static handle alloc_child(SQLSMALLINT type, const handle &parent)
{
    SQLHANDLE h = SQL_NULL_HANDLE;
    if (!parent || !SQL_SUCCEEDED(SQLAllocHandle(type, parent.get(), &h)))
        return handle();
    return handle(type, h);
}

handle alloc_dbc(const handle &env) { return alloc_child(SQL_HANDLE_DBC, env); }
handle alloc_stmt(const handle &dbc) { return alloc_child(SQL_HANDLE_STMT, dbc); }

connection::connection(SQLINTEGER odbc_version)
    : env(alloc_env(odbc_version)), dbc(alloc_dbc(env))
{
}

connection::~connection()
{
    if (connected)
        disconnect();
}

SQLRETURN connection::connect(const std::string &cs, std::string *out)
{
    SQLCHAR buf[4096];
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLDriverConnect(dbc.get(), nullptr,
                                    reinterpret_cast<SQLCHAR *>(const_cast<char *>(cs.c_str())),
                                    SQL_NTS, buf, sizeof buf, &len, SQL_DRIVER_NOPROMPT);
    if (SQL_SUCCEEDED(rc)) {
        connected = true;
        if (out)
            out->assign(reinterpret_cast<char *>(buf));
    }
    return rc;
}

SQLRETURN connection::disconnect()
{
    connected = false;
    return SQLDisconnect(dbc.get());
}

// ------------------------------------------------------------ diagnostics

std::vector<diag_record> diagnostics(SQLSMALLINT type, SQLHANDLE h)
{
    std::vector<diag_record> out;
    for (SQLSMALLINT i = 1;; i++) {
        SQLCHAR state[6] = {0};
        SQLINTEGER native = 0;
        SQLCHAR text[2048] = {0};
        SQLSMALLINT len = 0;
        SQLRETURN rc = SQLGetDiagRec(type, h, i, state, &native, text, sizeof text, &len);
        if (!SQL_SUCCEEDED(rc))
            break;
        out.push_back({reinterpret_cast<char *>(state), native, reinterpret_cast<char *>(text)});
    }
    return out;
}

std::string first_state(const handle &h)
{
    auto d = diagnostics(h);
    return d.empty() ? std::string() : d.front().sqlstate;
}

std::string describe(const std::vector<diag_record> &records)
{
    if (records.empty())
        return "(no diagnostic records)";
    std::ostringstream o;
    for (const auto &r : records)
        o << "[" << r.sqlstate << "] (" << r.native << ") " << r.text << "\n";
    return o.str();
}

const char *return_name(SQLRETURN rc)
{
    switch (rc) {
    case SQL_SUCCESS: return "SQL_SUCCESS";
    case SQL_SUCCESS_WITH_INFO: return "SQL_SUCCESS_WITH_INFO";
    case SQL_ERROR: return "SQL_ERROR";
    case SQL_INVALID_HANDLE: return "SQL_INVALID_HANDLE";
    case SQL_NO_DATA: return "SQL_NO_DATA";
    case SQL_NEED_DATA: return "SQL_NEED_DATA";
    case SQL_STILL_EXECUTING: return "SQL_STILL_EXECUTING";
    default: return "(unknown SQLRETURN)";
    }
}

// ------------------------------------------------------------ side access

namespace {

// Single-quotes a word for /bin/sh.
std::string shell_quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// Removes its file when it goes out of scope.
struct temp_file {
    std::string path;
    temp_file()
    {
        char tmpl[] = "/tmp/qvsql.XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd < 0)
            throw std::runtime_error("mkstemp failed");
        close(fd);
        path = tmpl;
    }
    ~temp_file() { unlink(path.c_str()); }
};

} // namespace

sql_result server_sql(const std::string &sql, const std::string &database)
{
    const server_info &s = server();
    // The SQL goes through a file, not the command line, so it needs no
    // quoting and may be of any size.
    temp_file f;
    {
        std::ofstream o(f.path);
        o << sql << "\n";
    }
    std::string cmd = "mariadb --defaults-file=" + shell_quote(s.client_cnf) +
                      " --batch --skip-column-names " +
                      shell_quote(database.empty() ? s.database : database) + " < " +
                      shell_quote(f.path) + " 2>&1";
    sql_result r;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) {
        r.output = "popen failed";
        return r;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.output.append(buf, n);
    int st = pclose(p);
    r.status = (st != -1 && WIFEXITED(st)) ? WEXITSTATUS(st) : -1;
    return r;
}

std::vector<std::vector<std::string>> server_rows(const std::string &sql, const std::string &database)
{
    sql_result r = server_sql(sql, database);
    if (r.status != 0)
        throw std::runtime_error("server_sql failed (" + std::to_string(r.status) + "): " + r.output);
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(r.output);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> row;
        size_t start = 0;
        for (;;) {
            size_t tab = line.find('\t', start);
            row.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// ------------------------------------------------------------ raw TCP

int tcp_connect(const std::string &host, int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1)
        return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads exactly n bytes, waiting at most timeout_ms for each chunk.
static bool read_exact(int fd, uint8_t *buf, size_t n, int timeout_ms)
{
    while (n > 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0)
            return false;
        ssize_t got = recv(fd, buf, n, 0);
        if (got <= 0)
            return false;
        buf += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool read_packet(int fd, std::vector<uint8_t> &payload, uint8_t *seq, int timeout_ms)
{
    uint8_t hdr[4];
    if (!read_exact(fd, hdr, 4, timeout_ms))
        return false;
    size_t len = hdr[0] | (hdr[1] << 8) | (static_cast<size_t>(hdr[2]) << 16);
    if (seq)
        *seq = hdr[3];
    payload.resize(len);
    return len == 0 || read_exact(fd, payload.data(), len, timeout_ms);
}

} // namespace qv
