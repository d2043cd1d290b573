/*
 * Network transport: the connection's TCP socket. Resolves and connects to the
 * first reachable server of a comma-separated list, applies the socket options
 * and the logon time-out, and moves bytes with a receive time-out. Once TLS is
 * up the same two byte movers run over it, so the packet layer never knows.
 * Nothing here understands packets.
 *
 * Waits use poll(), which works for any descriptor number (select() cannot
 * watch descriptors at or above FD_SETSIZE, which a busy application reaches).
 */
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <openssl/ssl.h>

#include "frame/my_handle.h"
#include "protocol/my_conn.h"

enum { DEFAULT_PORT = 3306 };

/* ------------------------------------------------------------ waiting */

static int64_t now_ms(void) { return monotonic_ms(); }

/* What is left until deadline_ms: -1 without a deadline, 0 once it passed. */
static int wait_left_ms(int64_t deadline_ms)
{
    if (deadline_ms <= 0)
        return -1;
    int64_t rest = deadline_ms - now_ms();
    return rest <= 0 ? 0 : rest > INT_MAX ? INT_MAX : (int)rest;
}

int net_wait(int fd, short events, int timeout_ms)
{
    int64_t deadline = timeout_ms >= 0 ? now_ms() + timeout_ms : 0;
    for (;;) {
        struct pollfd pfd = {fd, events, 0};
        int left = -1;
        if (timeout_ms >= 0) {
            int64_t rest = deadline - now_ms();
            left = rest > 0 ? (int)rest : 0;
        }
        int rc = poll(&pfd, 1, left);
        if (rc > 0)
            return 1;
        if (rc == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

static int ms_from_seconds(int64_t secs)
{
    return secs >= INT_MAX / 1000 ? INT_MAX : (int)(secs * 1000);
}

int read_timeout_ms(const void *handle)
{
    my_connection *c = handle_conn(handle);
    if (!c)
        return 0;
    int64_t secs = c->connection_timeout;
    my_statement *s = as_stmt(handle);
    if (s && s->query_timeout > 0) {
        secs = s->query_timeout;
        if (c->connection_timeout > 0 && c->connection_timeout < secs)
            secs = c->connection_timeout;
    }
    int ms;
    if (secs > 0)
        ms = ms_from_seconds(secs);
    else   /* ConnectionTimeout is already in milliseconds; 0 waits without limit */
        ms = c->ConnectionTimeout > 0 ? c->ConnectionTimeout : 0;
    /* While the logon runs the login time-out bounds each wait as well: a
     * peer that accepts and never speaks must not hold the application
     * beyond the limit it asked for. */
    if (!c->connected && c->effective_logon_timeout > 0 &&
        (ms == 0 || ms > c->effective_logon_timeout))
        ms = c->effective_logon_timeout;
    return ms;
}

int64_t read_deadline_ms(const void *handle)
{
    int64_t forced = call_forced_deadline_ms();
    if (forced > 0)
        return forced;
    int ms = read_timeout_ms(handle);
    if (ms <= 0)
        return 0;
    /* On a session the bound counts from the start of the application's
     * call: a server that answers a byte at a time, or not at all, cannot
     * stretch it. During the logon each wait has its own, so that a server
     * list can be walked. */
    const my_connection *c = handle_conn(handle);
    int64_t started = call_started_ms();
    return (c && c->connected && started > 0 ? started : now_ms()) + ms;
}

/* --------------------------------------------------------------- TLS */
/* Where TLS carries the traffic (ssl_active), the byte movers below branch
 * here. The TLS module owns the handshake and c->ssl; these only move bytes. */

static int tls_read(my_connection *c, unsigned char *buf, int want, int64_t deadline_ms)
{
    /* OpenSSL may already hold a decrypted record; only wait on the socket
     * when it does not, so the read time-out applies to TLS as well. */
    if (deadline_ms > 0 && SSL_pending(c->ssl) == 0 && c->sock >= 0) {
        int w = net_wait(c->sock, POLLIN, wait_left_ms(deadline_ms));
        if (w == 0) {
            QV_TRACE(c, LOG_DETAIL, "Timeout");
            return -2;
        }
    }
    /* A record may arrive in pieces: the socket waits inside SSL_read end at
     * the same deadline. */
    int64_t saved = c->tls_deadline_ms;
    if (deadline_ms > 0)
        c->tls_deadline_ms = deadline_ms;
    c->tls_timed_out = 0;
    int n = SSL_read(c->ssl, buf, want);
    c->tls_deadline_ms = saved;
    if (n <= 0 && c->tls_timed_out) {
        /* part of a record was taken: the stream cannot be resumed */
        c->tls_timed_out = 0;
        c->link_broken = 1;
        QV_TRACE(c, LOG_DETAIL, "Timeout");
        return -2;
    }
    if (n <= 0) {
        c->net_errno = errno;
        if (n == 0 || SSL_get_error(c->ssl, n) == SSL_ERROR_ZERO_RETURN)
            post_error(c, ST_08S01, 0, "read failed (peer shutdown)");
        else
            post_error(c, ST_08S01, 0, "read failed");
        return -1;
    }
    QV_TRACE(c, LOG_DETAIL, "Read %d (SSL) bytes, requested %d", n, want);
    return n;
}

/* SSL_write goes through OpenSSL's socket BIO, which uses write() and so
 * raises SIGPIPE on a dead peer; that would kill the application. Block the
 * signal on this thread for the call and swallow one it left pending (the way
 * libpq does). */
static int tls_write_once(my_connection *c, const unsigned char *bytes, int n)
{
    sigset_t pipe_only, old;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigset_t pending_before;
    sigpending(&pending_before);
    int was_pending = sigismember(&pending_before, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, &old);

    int rc = SSL_write(c->ssl, bytes, n);
    int err = errno;

    if (!was_pending) {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE)) {
            struct timespec zero = {0, 0};
            sigtimedwait(&pipe_only, nullptr, &zero);
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = err;
    return rc;
}

static int tls_write(my_connection *c, const unsigned char *bytes, size_t count)
{
    size_t done = 0;
    while (done < count) {
        size_t rest = count - done;
        int chunk = rest > (size_t)INT_MAX ? INT_MAX : (int)rest;
        int n = tls_write_once(c, bytes + done, chunk);
        if (n <= 0) {
            c->net_errno = errno;
            post_error(c, ST_08S01, 0, "send failed");
            return -1;
        }
        QV_TRACE(c, LOG_DETAIL, "Sent %d (SSL) bytes", n);
        done += (size_t)n;
    }
    return (int)count;
}

/* ------------------------------------------------------ moving bytes */

static void post_read_failed(my_connection *c, int err)
{
    c->net_errno = err;
    post_error(c, ST_08S01, 0, "read failed %d %s", err, system_error_text(err));
}

int net_read(my_connection *c, unsigned char *buf, size_t want, size_t *got, int64_t deadline_ms)
{
    if (got)
        *got = 0;
    int ask = want > (size_t)INT_MAX ? INT_MAX : (int)want;
    int n;
    if (c->ssl_active && c->ssl) {
        n = tls_read(c, buf, ask, deadline_ms);
        if (n > 0 && got)
            *got = (size_t)n;
        return n;
    }
    if (c->sock < 0) {
        /* poll() ignores negative descriptors and would wait out the time-out */
        post_read_failed(c, EBADF);
        return -1;
    }
    for (;;) {
        if (deadline_ms > 0) {
            int left = wait_left_ms(deadline_ms);
            QV_TRACE(c, LOG_DETAIL, "Setting timeout to %u msec", (unsigned)left);
            int w = net_wait(c->sock, POLLIN, left);
            if (w == 0) {
                QV_TRACE(c, LOG_DETAIL, "Timeout");
                return -2;
            }
            if (w < 0) {
                post_read_failed(c, errno);
                return -1;
            }
        }
        ssize_t r = recv(c->sock, buf, (size_t)ask, 0);
        if (r > 0) {
            n = (int)r;
            break;
        }
        if (r == 0) {
            c->net_errno = 0;
            post_error(c, ST_08S01, 0, "read failed (peer shutdown)");
            return -1;
        }
        if (errno == EINTR) {
            QV_TRACE(c, LOG_DETAIL, "Recieved EINTR");
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            /* back to the wait rather than spinning on recv */
            QV_TRACE(c, LOG_DETAIL, "Recieved EAGAIN");
            if (deadline_ms <= 0 && net_wait(c->sock, POLLIN, -1) < 0) {
                post_read_failed(c, errno);
                return -1;
            }
            continue;
        }
        post_read_failed(c, errno);
        return -1;
    }
    QV_DUMP_WIRE(c, LOG_PKTDUMP, buf, (size_t)n, "Read %d bytes, requested %d", n, ask);
    if (got)
        *got = (size_t)n;
    return n;
}

int net_write(my_connection *c, const unsigned char *bytes, size_t count)
{
    if (c->ssl_active && c->ssl)
        return tls_write(c, bytes, count);
    size_t done = 0;
    while (done < count) {
        if (c->sock < 0) {
            c->net_errno = EBADF;
            post_error(c, ST_08S01, 0, "send failed");
            return -1;
        }
        /* MSG_NOSIGNAL: a dead peer must give an error, not a SIGPIPE that
         * ends the application */
        ssize_t n = send(c->sock, bytes + done, count - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            c->net_errno = n < 0 ? errno : 0;
            post_error(c, ST_08S01, 0, "send failed");
            c->link_broken = 1;
            return -1;
        }
        QV_TRACE(c, LOG_DETAIL, "Sent %d bytes", (int)n);
        done += (size_t)n;
    }
    return count > (size_t)INT_MAX ? INT_MAX : (int)count;
}

/* ------------------------------------------------ the receive buffer */

static int rbuf_alloc(my_connection *c)
{
    if (c->rbuf)
        return 0;
    c->rbuf = (unsigned char *)malloc(NET_RBUF_SIZE);
    if (!c->rbuf) {
        post_error(c, ST_HY001, 0, nullptr);
        return -1;
    }
    c->rbuf_cap = NET_RBUF_SIZE;
    c->rbuf_len = c->rbuf_off = 0;
    return 0;
}

const unsigned char *net_peek(my_connection *c, size_t n, int64_t deadline_ms, int *rc)
{
    *rc = -1;
    if (n > NET_RBUF_SIZE || rbuf_alloc(c) != 0)
        return nullptr;
    if (c->rbuf_off == c->rbuf_len)
        c->rbuf_off = c->rbuf_len = 0;
    if (c->rbuf_off + n > c->rbuf_cap) {
        /* the wanted bytes would run past the end: move the rest to the front */
        memmove(c->rbuf, c->rbuf + c->rbuf_off, c->rbuf_len - c->rbuf_off);
        c->rbuf_len -= c->rbuf_off;
        c->rbuf_off = 0;
    }
    while (c->rbuf_len - c->rbuf_off < n) {
        int got = net_read(c, c->rbuf + c->rbuf_len, c->rbuf_cap - c->rbuf_len, nullptr,
                           deadline_ms);
        if (got < 1) {
            *rc = got;
            return nullptr;
        }
        c->rbuf_len += (uint32_t)got;
    }
    *rc = (int)n;
    return c->rbuf + c->rbuf_off;
}

void net_consume(my_connection *c, size_t n)
{
    size_t held = c->rbuf_len - c->rbuf_off;
    c->rbuf_off += (uint32_t)(n < held ? n : held);
}

int net_read_exact(my_connection *c, unsigned char *dst, size_t n, int64_t deadline_ms)
{
    if (rbuf_alloc(c) != 0)
        return -1;
    size_t done = 0;
    while (done < n) {
        size_t held = c->rbuf_len - c->rbuf_off;
        size_t rest = n - done;
        if (held > 0) {
            size_t take = rest < held ? rest : held;
            memcpy(dst + done, c->rbuf + c->rbuf_off, take);
            c->rbuf_off += (uint32_t)take;
            done += take;
            continue;
        }
        int got;
        if (rest >= NET_RBUF_SIZE) {
            /* a large payload goes straight into its destination */
            got = net_read(c, dst + done, rest, nullptr, deadline_ms);
            if (got > 0)
                done += (size_t)got;
        } else {
            c->rbuf_off = c->rbuf_len = 0;
            got = net_read(c, c->rbuf, c->rbuf_cap, nullptr, deadline_ms);
            if (got > 0)
                c->rbuf_len = (uint32_t)got;
        }
        if (got < 1)
            return got;
    }
    return n > (size_t)INT_MAX ? INT_MAX : (int)n;
}

static void drop_buffered(my_connection *c)
{
    c->rbuf_len = c->rbuf_off = 0;
    c->comp_len = c->comp_off = 0;
}

void net_close(my_connection *c)
{
    if (c->sock >= 0) {
        close(c->sock);
        c->sock = -1;
        c->closed = 1;
    }
    /* bytes of the old conversation must never reach a new one */
    drop_buffered(c);
}

/* ---------------------------------------------------------- connecting */

/* A failed attempt: 08001 with the system's text, socket closed. */
static int connect_failed(my_connection *c, int err)
{
    c->net_errno = err;
    post_error(c, ST_08001, 0, "OS Error: '%s'", system_error_text(err));
    net_close(c);
    return -3;
}

static int set_blocking(int fd, int blocking)
{
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        return -1;
    flags = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
    return fcntl(fd, F_SETFL, flags);
}

/* The pending error of a connect that finished in the background. */
static int socket_error(int fd)
{
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return errno;
    return err;
}

/* The connect time-out in milliseconds: LogonTimeout (already in effect)
 * wins over the login-timeout attribute; 0 connects without limit. */
static int connect_timeout_ms(my_connection *c)
{
    if (c->effective_logon_timeout > 0) {
        QV_TRACE(c, LOG_DETAIL, "Setting timeout to %u msec", (unsigned)c->effective_logon_timeout);
        return c->effective_logon_timeout;
    }
    if (c->login_timeout > 0) {
        QV_TRACE(c, LOG_DETAIL, "Setting timeout to %d sec", c->login_timeout);
        return ms_from_seconds(c->login_timeout);
    }
    return 0;
}

/* Connects c->sock to addr, within the logon time-out when one is set.
 * 0, or -3 with diagnostics posted and the socket closed. */
static int connect_socket(my_connection *c, const struct sockaddr *addr, socklen_t len)
{
    int fd = c->sock;
    int timeout_ms = connect_timeout_ms(c);
    if (timeout_ms > 0 && set_blocking(fd, 0) != 0)
        return connect_failed(c, errno);
    if (connect(fd, addr, len) == 0)
        return set_blocking(fd, 1) == 0 ? 0 : connect_failed(c, errno);
    /* EINTR: the connect carries on in the background, as EINPROGRESS does */
    if (errno != EINPROGRESS && errno != EINTR)
        return connect_failed(c, errno);
    int w = net_wait(fd, POLLOUT, timeout_ms > 0 ? timeout_ms : -1);
    if (w == 0) {
        QV_TRACE(c, LOG_DETAIL, "Timeout on connecting");
        post_error(c, ST_HYT01, 0, nullptr);
        net_close(c);
        return -3;
    }
    if (w < 0)
        return connect_failed(c, errno);
    int err = socket_error(fd);
    if (err != 0)
        return connect_failed(c, err);
    return set_blocking(fd, 1) == 0 ? 0 : connect_failed(c, errno);
}

static void set_socket_options(my_connection *c)
{
    int fd = c->sock, one = 1;
    if (c->RCVBUFFER > 0 &&
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &c->RCVBUFFER, sizeof c->RCVBUFFER) != 0)
        QV_TRACE(c, LOG_DETAIL, "setting SO_RCVBUF - FAILED!!!");
    if (c->SOKEEPALIVE && setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) != 0)
        QV_TRACE(c, LOG_DETAIL, "setting SO_KEEPALIVE - FAILED!!!");
    QV_TRACE(c, LOG_DETAIL, "setting TCP_NODELAY");
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0)
        QV_TRACE(c, LOG_DETAIL, "setting TCP_NODELAY - FAILED!!!");
}

/* Creates the stream socket for family; 0 or -3 (posted). */
static int open_socket(my_connection *c, int family)
{
    if (c->sock >= 0)
        net_close(c);
    int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        c->net_errno = errno;
        post_error(c, ST_08001, 0, "Failed to create socket");
        return -3;
    }
    c->sock = fd;
    c->closed = 0;
    c->link_broken = 0;
    drop_buffered(c);
    return 0;
}

/* The parts of one server entry: host text and port. */
struct server_address {
    char *text;        /* owned narrow copy of the entry; host and port point into it */
    const char *host;
    const char *port_text;   /* null when the entry names no port */
};

static char *trim_blanks(char *s)
{
    while (*s == ' ' || *s == '\t')
        s++;
    size_t n = strlen(s);
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t'))
        s[--n] = 0;
    return s;
}

/* Splits an entry at the first separator found among seps, tried in order
 * (IPv4: ':' then '*'; IPv6 only '*', since colons belong to the address).
 * Blanks around the host and port are ignored so that "a, b" lists work. */
static int split_entry(my_connection *c, const my_string *entry, const char *seps,
                       server_address *out)
{
    out->text = ms_to_narrow(entry, c);
    if (!out->text) {
        out->text = strdup("");
        if (!out->text) {
            post_error(c, ST_HY001, 0, nullptr);
            return -1;
        }
    }
    out->port_text = nullptr;
    char *cut = nullptr;
    for (const char *sep = seps; *sep && !cut; sep++)
        cut = strchr(out->text, *sep);
    if (cut) {
        *cut = 0;
        out->port_text = trim_blanks(cut + 1);
        QV_TRACE(c, LOG_DETAIL, "found port");
    }
    out->host = trim_blanks(out->text);
    if (cut)
        QV_TRACE(c, LOG_DETAIL, "server: '%s' port '%s'", out->host, out->port_text);
    return 0;
}

char *net_entry_host(my_connection *c, const my_string *entry)
{
    server_address a;
    if (split_entry(c, entry, c->IPV6 ? "*" : ":*", &a) != 0)
        return nullptr;
    char *host = strdup(a.host);
    free(a.text);
    if (!host)
        post_error(c, ST_HY001, 0, nullptr);
    return host;
}

/* A port text is all digits and names a TCP port; anything else (empty,
 * trailing junk, 0, beyond 65535) is rejected rather than half-parsed. */
static int parse_port(const char *s)
{
    if (!s || !*s)
        return 0;
    long v = 0;
    for (; *s; s++) {
        if (*s < '0' || *s > '9')
            return 0;
        v = v * 10 + (*s - '0');
        if (v > 65535)
            return 0;
    }
    return (int)v;
}

/* The port for an entry: a non-zero port argument wins over the entry's own;
 * without either, 3306. 0 when the entry's port text is not a number. */
static int choose_port(my_connection *c, const server_address *a, int port)
{
    if (port == 0 && a->port_text) {
        port = parse_port(a->port_text);
        if (port == 0)
            post_error(c, ST_08001, 0, "Failed to extract numeric port from '%s'", a->port_text);
        return port;
    }
    return port != 0 ? port : DEFAULT_PORT;
}

/* Resolves host for family; the first stream address is copied into addr.
 * 0 found; otherwise the getaddrinfo result (EAI_*) or 1 when no address of
 * the family was returned. */
static int resolve(my_connection *c, const char *host, int family, struct sockaddr_storage *addr,
                   socklen_t *len)
{
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo *list = nullptr;
    int rc = getaddrinfo(host, nullptr, &hints, &list);
    if (family == AF_INET6)
        QV_TRACE(c, LOG_DETAIL, "getaddrinfo returns %d", rc);
    if (rc != 0)
        return rc;
    int found = 1;
    for (struct addrinfo *ai = list; ai; ai = ai->ai_next) {
        if (family == AF_INET6)
            QV_TRACE(c, LOG_DETAIL, "Addrinfo member %d,%d,%d", ai->ai_family, ai->ai_socktype,
                     ai->ai_protocol);
        if (ai->ai_family == family && ai->ai_socktype == SOCK_STREAM &&
            ai->ai_addrlen <= sizeof *addr) {
            if (family == AF_INET6)
                QV_TRACE(c, LOG_DETAIL, "Found addr match");
            memcpy(addr, ai->ai_addr, ai->ai_addrlen);
            *len = (socklen_t)ai->ai_addrlen;
            found = 0;
            break;
        }
    }
    freeaddrinfo(list);
    return found;
}

/* One server entry over IPv4 or IPv6 (family). The two differ only in the
 * port separators (colons belong to an IPv6 address, so it splits only at
 * '*'), their log line and what a failed look-up says. */
static int connect_entry(my_connection *c, const my_string *server, int port, int family)
{
    int v6 = family == AF_INET6;
    if (v6)
        QV_TRACE(c, LOG_DETAIL, "Open IPv6 connection to '%S', %d", server, port);
    else
        QV_TRACE(c, LOG_DETAIL, "Open connection to '%S', %d", server, port);
    server_address a;
    if (split_entry(c, server, v6 ? "*" : ":*", &a) != 0)
        return -3;
    int rc = -3;
    port = choose_port(c, &a, port);
    if (port != 0) {
        c->port_in_use = port;
        /* getaddrinfo rather than gethostbyname: the latter returns a static
         * buffer that another thread's connect may overwrite */
        struct sockaddr_storage addr;
        socklen_t len = 0;
        int found = resolve(c, a.host, family, &addr, &len);
        if (v6 && found == EAI_FAMILY) {
            post_error(c, ST_08001, 0, "AF_INET6 family not supported");
        } else if (v6 && found == 1) {
            post_error(c, ST_08001, 0, "Failed to find host address '%s' of required type", a.host);
        } else if (found != 0) {
            post_error(c, ST_08001, 0, "Failed to find host address '%s'", a.host);
        } else if (open_socket(c, family) == 0) {
            if (v6) {
                struct sockaddr_in6 *sa = (struct sockaddr_in6 *)&addr;
                sa->sin6_port = htons((uint16_t)port);
                sa->sin6_flowinfo = 0;
                sa->sin6_scope_id = 0;
            } else {
                ((struct sockaddr_in *)&addr)->sin_port = htons((uint16_t)port);
            }
            /* the same options for both: keep-alive and the receive buffer
             * are the user's settings, and without TCP_NODELAY a small
             * command waits for the peer's delayed ACK */
            set_socket_options(c);
            rc = connect_socket(c, (struct sockaddr *)&addr, len);
        }
    }
    free(a.text);
    return rc;
}

int net_connect_ipv4(my_connection *c, const my_string *server, int port)
{
    return connect_entry(c, server, port, AF_INET);
}

int net_connect_ipv6(my_connection *c, const my_string *server, int port)
{
    return connect_entry(c, server, port, AF_INET6);
}

/* ------------------------------------------------------- server list */

/* The entries of a comma-separated list, untrimmed. Empty on no memory. */
static std::vector<my_string *> split_servers(const my_string *list)
{
    std::vector<my_string *> out;
    uint32_t n = list ? list->length : 0;
    uint32_t start = 0;
    for (uint32_t i = 0; i <= n; i++) {
        if (i < n && list->data[i] != ',')
            continue;
        my_string *e = n ? ms_substr(list, start, (int64_t)(i - start)) : ms_from_latin1("");
        if (!e) {
            for (my_string *s : out)
                ms_free(s);
            out.clear();
            return out;
        }
        out.push_back(e);
        start = i + 1;
    }
    return out;
}

int net_open(my_connection *c, const my_string *servers, int port)
{
    QV_TRACE(c, LOG_DETAIL, "opening connection to '%S'", servers);
    std::vector<my_string *> list = split_servers(servers);
    if (list.empty()) {
        QV_TRACE(c, LOG_DETAIL, "failed to allocate server array");
        post_error(c, ST_HY000, 0, nullptr);
        return -3;
    }
    QV_TRACE(c, LOG_DETAIL, "found %d servers", (int)list.size());
    for (size_t i = 0; i < list.size(); i++)
        QV_TRACE(c, LOG_DETAIL, "Server (%d) = '%S'", (int)i, list[i]);

    int rc = -3;
    for (size_t i = 0; i < list.size(); i++) {
        if (i > 0)
            clear_diagnostics(c);   /* only the last failure's records stay */
        rc = c->IPV6 ? net_connect_ipv6(c, list[i], port) : net_connect_ipv4(c, list[i], port);
        if (rc == 0) {
            ms_free(c->server_in_use);
            c->server_in_use = ms_copy(list[i]);
            break;
        }
    }
    for (my_string *s : list)
        ms_free(s);
    return rc;
}
