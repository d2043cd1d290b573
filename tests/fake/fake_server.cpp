// Scripted fake MySQL server (see fake_server.h).
#include "fake/fake_server.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <zlib.h>

namespace fake {

namespace {

const size_t FRAME_MAX = 0x800000;
const size_t RAW_MAX = 50;

int64_t now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

uint32_t get_u24(const uint8_t *b)
{
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16;
}

// A loopback socket bound to an ephemeral port; its port in *port.
int bound_socket(int *port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (bind(fd, (struct sockaddr *)&a, sizeof a) != 0 ||
        getsockname(fd, (struct sockaddr *)&a, &len) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

bool send_all(int fd, const uint8_t *p, size_t n)
{
    while (n > 0) {
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= (size_t)w;
    }
    return true;
}

} // namespace

// ------------------------------------------------------------- session

session::~session() { close(); }

void session::close()
{
    std::lock_guard<std::mutex> g(fd_lock_);
    if (ssl_) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void session::shutdown_socket()
{
    std::lock_guard<std::mutex> g(fd_lock_);
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_RDWR);
}

void session::sleep_ms(int ms)
{
    int64_t end = now_ms() + ms;
    while (!stop_->load() && now_ms() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Waits in short slices so that a stopping server is noticed.
bool session::wait_readable(int64_t deadline_ms)
{
    for (;;) {
        if (fd_ < 0 || stop_->load())
            return false;
        int64_t left = deadline_ms - now_ms();
        if (left <= 0)
            return false;
        struct pollfd p = {fd_, POLLIN, 0};
        int rc = poll(&p, 1, left < 50 ? (int)left : 50);
        if (rc > 0)
            return true;
        if (rc < 0 && errno != EINTR)
            return false;
    }
}

bool session::read_exact(uint8_t *dst, size_t n, int64_t deadline_ms)
{
    while (n > 0 && ssl_) {
        // decrypted bytes may already wait inside OpenSSL
        if (SSL_pending(ssl_) == 0 && !wait_readable(deadline_ms))
            return false;
        int r = SSL_read(ssl_, dst, (int)std::min(n, (size_t)INT32_MAX));
        if (r <= 0) {
            if (SSL_get_error(ssl_, r) == SSL_ERROR_WANT_READ)
                continue;
            return false;
        }
        dst += r;
        n -= (size_t)r;
    }
    while (n > 0) {
        if (!wait_readable(deadline_ms))
            return false;
        ssize_t r = ::recv(fd_, dst, n, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        dst += r;
        n -= (size_t)r;
    }
    return true;
}

bool session::read_frame(int64_t deadline_ms)
{
    uint8_t h[7];
    if (!read_exact(h, sizeof h, deadline_ms))
        return false;
    frame_info f = {get_u24(h), h[3], get_u24(h + 4)};
    frames_.push_back(f);
    comp_seq_ = (uint8_t)(f.seq + 1);
    bytes body(f.comp_len);
    if (!read_exact(body.data(), body.size(), deadline_ms))
        return false;
    if (pending_off_ == pending_.size()) {
        pending_.clear();
        pending_off_ = 0;
    }
    if (f.uncomp_len == 0) {
        pending_.insert(pending_.end(), body.begin(), body.end());
        return true;
    }
    bytes out(f.uncomp_len);
    uLongf n = f.uncomp_len;
    if (uncompress(out.data(), &n, body.data(), body.size()) != Z_OK || n != f.uncomp_len)
        return false;
    pending_.insert(pending_.end(), out.begin(), out.end());
    return true;
}

bool session::read_stream(uint8_t *dst, size_t n, int64_t deadline_ms)
{
    if (!compressed_)
        return read_exact(dst, n, deadline_ms);
    while (n > 0) {
        if (pending_off_ == pending_.size() && !read_frame(deadline_ms))
            return false;
        size_t take = std::min(n, pending_.size() - pending_off_);
        memcpy(dst, pending_.data() + pending_off_, take);
        pending_off_ += take;
        dst += take;
        n -= take;
    }
    return true;
}

bool session::read_packet(uint8_t *seq, bytes *payload, int timeout_ms)
{
    int64_t deadline = now_ms() + timeout_ms;
    uint8_t h[4];
    if (!read_stream(h, 4, deadline))
        return false;
    *seq = h[3];
    payload->assign(get_u24(h), 0);
    return read_stream(payload->data(), payload->size(), deadline);
}

bool session::read_raw(bytes *out, size_t n, int timeout_ms)
{
    out->assign(n, 0);
    return read_exact(out->data(), n, now_ms() + timeout_ms);
}

bool session::write_all(const uint8_t *p, size_t n)
{
    if (fd_ < 0)
        return false;
    if (!ssl_)
        return send_all(fd_, p, n);
    while (n > 0) {
        int w = SSL_write(ssl_, p, (int)std::min(n, (size_t)INT32_MAX));
        if (w <= 0)
            return false;
        p += w;
        n -= (size_t)w;
    }
    return true;
}

bool session::send_raw(const bytes &raw) { return write_all(raw.data(), raw.size()); }

bool session::start_tls(const std::string &cert_chain_file, const std::string &key_file,
                        std::string *sni, int timeout_ms)
{
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    bool ok = ctx && SSL_CTX_use_certificate_chain_file(ctx, cert_chain_file.c_str()) == 1 &&
              SSL_CTX_use_PrivateKey_file(ctx, key_file.c_str(), SSL_FILETYPE_PEM) == 1;
    SSL *ssl = ok ? SSL_new(ctx) : nullptr;
    SSL_CTX_free(ctx);   // the SSL object keeps its own reference
    if (!ssl || fd_ < 0) {
        SSL_free(ssl);
        ERR_clear_error();
        return false;
    }
    // OpenSSL writes to the socket with write(): a client that went away
    // would raise SIGPIPE. Blocked on this session's thread only, so the
    // driver's own threads are still tested for never raising it.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    // a client that stops in the middle of the handshake must not hang the test
    struct timeval tv = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    SSL_set_fd(ssl, fd_);
    ok = SSL_accept(ssl) == 1;
    struct timeval none = {0, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
    if (ok && sni) {
        const char *name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
        *sni = name ? name : "";
    }
    ERR_clear_error();
    if (!ok) {
        SSL_free(ssl);
        return false;
    }
    std::lock_guard<std::mutex> g(fd_lock_);
    ssl_ = ssl;
    return true;
}

bytes compressed_frame(const uint8_t *data, size_t n, uint8_t seq)
{
    bytes body;
    uint32_t ulen = 0;
    if (n > RAW_MAX) {
        body.resize(compressBound(n));
        uLongf clen = body.size();
        if (compress(body.data(), &clen, data, n) == Z_OK && clen < n) {
            body.resize(clen);
            ulen = (uint32_t)n;
        }
    }
    if (ulen == 0)
        body.assign(data, data + n);
    bytes frame;
    put_u24(frame, (uint32_t)body.size());
    frame.push_back(seq);
    put_u24(frame, ulen);
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

bytes utf16(const std::string &s)
{
    bytes b;
    for (char ch : s) {
        b.push_back((uint8_t)ch);
        b.push_back(0);
    }
    return b;
}

column_info column(const std::string &name, uint8_t type, uint16_t charset, uint16_t flags,
                   uint8_t decimals, uint32_t length)
{
    column_info c;
    c.name = name;
    c.type = type;
    c.charset = charset;
    c.flags = flags;
    c.decimals = decimals;
    c.length = length;
    return c;
}

std::vector<column_info> binary_columns()
{
    return {column("n", 3, 63), column("s", 253), column("when", 12, 63),
            column("x", 5, 63, 0, 31)};
}

bytes binary_row(bool second)
{
    bytes r{0x00, (uint8_t)(second ? 0x08 : 0x00)};   // col 2 NULL in the second row
    put_u32(r, second ? 0xFFFFFFFFu : 1234u);
    if (!second)
        put_lenenc_str(r, "bin\xC3\xA4r");
    r = r + bytes{7};
    put_u16(r, 2021);
    r = r + bytes{12, 31, 23, 59, 58};
    double d = second ? -0.5 : 6.25;
    uint8_t raw[8];
    memcpy(raw, &d, 8);
    r.insert(r.end(), raw, raw + 8);
    return r;
}

std::vector<bytes> prepare_answer()
{
    bytes prep{0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    std::vector<bytes> pr{prep, column_def(column("?", 253)), eof_packet()};
    for (const auto &c : binary_columns())
        pr.push_back(column_def(c));
    pr.push_back(eof_packet());
    return pr;
}

std::vector<bytes> binary_result()
{
    std::vector<bytes> ex{bytes{4}};
    for (const auto &c : binary_columns())
        ex.push_back(column_def(c));
    ex.push_back(eof_packet());
    ex.push_back(binary_row(false));
    ex.push_back(binary_row(true));
    ex.push_back(eof_packet());
    return ex;
}

bool session::send_compressed(const bytes &data)
{
    size_t done = 0;
    do {
        size_t n = std::min(FRAME_MAX, data.size() - done);
        if (!send_raw(compressed_frame(data.data() + done, n, comp_seq_++)))
            return false;
        done += n;
    } while (done < data.size());
    return true;
}

bool session::send_packet(uint8_t seq, const bytes &payload)
{
    bytes p = packet_bytes(seq, payload);
    return compressed_ ? send_compressed(p) : send_raw(p);
}

// -------------------------------------------------------------- server

server::server(script s) : script_(std::move(s))
{
    listen_fd_ = bound_socket(&port_);
    if (listen_fd_ >= 0 && listen(listen_fd_, 16) != 0) {
        ::close(listen_fd_);
        listen_fd_ = -1;
    }
    if (listen_fd_ >= 0)
        acceptor_ = std::thread([this] { accept_loop(); });
}

server::~server()
{
    stop_ = true;
    if (acceptor_.joinable())
        acceptor_.join();
    {
        std::lock_guard<std::mutex> g(lock_);
        for (auto &s : sessions_)
            s->shutdown_socket();
    }
    for (auto &t : workers_)
        if (t.joinable())
            t.join();
    sessions_.clear();
    if (listen_fd_ >= 0)
        ::close(listen_fd_);
}

void server::accept_loop()
{
    while (!stop_.load()) {
        struct pollfd p = {listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        accepted_++;
        std::lock_guard<std::mutex> g(lock_);
        sessions_.push_back(std::make_unique<session>(fd, &stop_));
        session *s = sessions_.back().get();
        workers_.emplace_back([this, s] { run(s); });
    }
}

void server::run(session *s)
{
    if (script_)
        script_(*s);
    std::lock_guard<std::mutex> g(lock_);
    finished_++;
    done_cv_.notify_all();
}

bool server::wait_done(int timeout_ms, int connections)
{
    std::unique_lock<std::mutex> g(lock_);
    return done_cv_.wait_for(g, std::chrono::milliseconds(timeout_ms),
                             [&] { return finished_ >= connections; });
}

int server::refusing_port()
{
    int port = 0;
    int fd = bound_socket(&port);
    if (fd < 0)
        return 0;
    ::close(fd);   // bound once, never listened on: nothing answers there
    return port;
}

// ----------------------------------------------------- stalled listener

stalled_listener::stalled_listener()
{
    listen_fd_ = bound_socket(&port_);
    if (listen_fd_ < 0 || listen(listen_fd_, 0) != 0)
        return;
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)port_);
    // Fill the accept queue until a connect is left unanswered.
    for (int i = 0; i < 16 && !full_; i++) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return;
        fillers_.push_back(fd);
        if (connect(fd, (struct sockaddr *)&a, sizeof a) == 0)
            continue;
        if (errno != EINPROGRESS)
            return;
        struct pollfd p = {fd, POLLOUT, 0};
        if (poll(&p, 1, 200) == 0)
            full_ = true;
    }
}

stalled_listener::~stalled_listener()
{
    for (int fd : fillers_)
        ::close(fd);
    if (listen_fd_ >= 0)
        ::close(listen_fd_);
}

// ---------------------------------------------------- building blocks

void put_u16(bytes &b, uint16_t v)
{
    b.push_back((uint8_t)v);
    b.push_back((uint8_t)(v >> 8));
}

void put_u24(bytes &b, uint32_t v)
{
    for (int i = 0; i < 3; i++)
        b.push_back((uint8_t)(v >> (8 * i)));
}

void put_u32(bytes &b, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b.push_back((uint8_t)(v >> (8 * i)));
}

void put_lenenc(bytes &b, uint64_t v)
{
    if (v < 251) {
        b.push_back((uint8_t)v);
    } else if (v < 0x10000) {
        b.push_back(0xFC);
        put_u16(b, (uint16_t)v);
    } else if (v < 0x1000000) {
        b.push_back(0xFD);
        put_u24(b, (uint32_t)v);
    } else {
        b.push_back(0xFE);
        for (int i = 0; i < 8; i++)
            b.push_back((uint8_t)(v >> (8 * i)));
    }
}

void put_str(bytes &b, const std::string &s) { b.insert(b.end(), s.begin(), s.end()); }

void put_lenenc_str(bytes &b, const std::string &s)
{
    put_lenenc(b, s.size());
    put_str(b, s);
}

bytes operator+(bytes a, const bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bytes packet_bytes(uint8_t seq, const bytes &payload)
{
    bytes p;
    p.reserve(payload.size() + 4);
    put_u24(p, (uint32_t)payload.size());
    p.push_back(seq);
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

bytes greeting(const greeting_info &g)
{
    bytes b;
    b.push_back(10);
    put_str(b, g.server_version);
    b.push_back(0);
    put_u32(b, g.connection_id);
    std::string scr = g.scramble;
    scr.resize(20, 'x');
    put_str(b, scr.substr(0, 8));
    b.push_back(0);
    put_u16(b, (uint16_t)g.capabilities);
    b.push_back(g.charset);
    put_u16(b, g.status);
    put_u16(b, (uint16_t)(g.capabilities >> 16));
    b.push_back((g.capabilities & CAP_PLUGIN_AUTH) ? 21 : 0);
    b.insert(b.end(), 10, 0);
    if (g.capabilities & CAP_SECURE_CONNECTION) {
        put_str(b, scr.substr(8));   // 12 bytes and a terminator: 13
        b.push_back(0);
    }
    if (g.capabilities & CAP_PLUGIN_AUTH) {
        put_str(b, g.auth_plugin);
        b.push_back(0);
    }
    return b;
}

bytes ok_packet(uint64_t affected_rows, uint64_t insert_id, uint16_t status, uint16_t warnings,
                const std::string &info)
{
    bytes b{0x00};
    put_lenenc(b, affected_rows);
    put_lenenc(b, insert_id);
    put_u16(b, status);
    put_u16(b, warnings);
    /* Servers send the information text length-encoded, and nothing at
     * all when there is none. */
    if (!info.empty())
        put_lenenc_str(b, info);
    return b;
}

bytes err_packet(uint16_t code, const std::string &sqlstate, const std::string &message)
{
    bytes b{0xFF};
    put_u16(b, code);
    if (!sqlstate.empty()) {
        b.push_back('#');
        std::string st = sqlstate;
        st.resize(5, '0');
        put_str(b, st);
    }
    put_str(b, message);
    return b;
}

bytes eof_packet(uint16_t warnings, uint16_t status)
{
    bytes b{0xFE};
    put_u16(b, warnings);
    put_u16(b, status);
    return b;
}

bytes column_def(const column_info &c)
{
    bytes b;
    put_lenenc_str(b, "def");
    put_lenenc_str(b, c.schema);
    put_lenenc_str(b, c.table);
    put_lenenc_str(b, c.org_table);
    put_lenenc_str(b, c.name);
    put_lenenc_str(b, c.org_name.empty() ? c.name : c.org_name);
    b.push_back(0x0C);   // length of the fixed fields that follow
    put_u16(b, c.charset);
    put_u32(b, c.length);
    b.push_back(c.type);
    put_u16(b, c.flags);
    b.push_back(c.decimals);
    put_u16(b, 0);
    return b;
}

bytes text_row(const std::vector<std::optional<std::string>> &cells)
{
    bytes b;
    for (const auto &cell : cells) {
        if (cell)
            put_lenenc_str(b, *cell);
        else
            b.push_back(0xFB);
    }
    return b;
}

std::string query_text(const bytes &command)
{
    if (command.empty() || command[0] != 0x03)
        return "";
    std::string q(command.begin() + 1, command.end());
    while (!q.empty() && q.back() == '\0')
        q.pop_back();
    return q;
}

} // namespace fake
