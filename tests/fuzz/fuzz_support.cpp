#include "fuzz/fuzz_support.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sql.h>
#include <sqlext.h>

#include "frame/my_handle.h"
#include "protocol/my_proto.h"

namespace qvfuzz {

my_environment *environment()
{
    static my_environment *env = [] {
        my_environment *e = env_create();
        if (!e)
            abort();
        e->odbc_version = SQL_OV_ODBC3;
        return e;
    }();
    return env;
}

uint32_t session_caps()
{
    return CLIENT_LONG_PASSWORD | CLIENT_LONG_FLAG | CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS |
           CLIENT_SECURE_CONNECTION | CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS |
           CLIENT_PS_MULTI_RESULTS | CLIENT_PLUGIN_AUTH;
}

static void write_all(int fd, const uint8_t *data, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, data, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            abort();   // the buffer holds INPUT_LIMIT bytes: this never blocks
        data += w;
        n -= (size_t)w;
    }
}

link::link(const uint8_t *data, size_t n, bool in_session)
{
    c = conn_create(environment(), 3);
    if (!c)
        abort();
    // QV_FUZZ_TRACE=1 traces what the driver makes of an input (standard error)
    static const bool traced = getenv("QV_FUZZ_TRACE") != nullptr;
    if (traced)
        c->hdr.log_flags = LOG_ENTRY | LOG_EXIT | LOG_DETAIL | LOG_ERROR;
    c->ConnectionTimeout = 1000;   // never waited out: the peer's end of stream comes first
    if (data) {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
            abort();
        // Room for the input and for everything the driver sends back.
        int size = 1 << 20;
        setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        write_all(sv[1], data, n < (size_t)INPUT_LIMIT ? n : (size_t)INPUT_LIMIT);
        shutdown(sv[1], SHUT_WR);
        c->sock = sv[0];
        peer = sv[1];
    }
    if (in_session) {
        c->server_caps = c->client_caps = session_caps();
        c->charset = 33;
        c->protocol_version = 10;
        c->connected = 1;
    }
}

link::~link()
{
    conn_release(c, 0);   // its statements and descriptors, the session, the socket
    if (peer >= 0)
        close(peer);
}

void put_packet(std::vector<uint8_t> &wire, uint8_t seq, const std::vector<uint8_t> &payload)
{
    size_t n = payload.size();
    wire.push_back((uint8_t)n);
    wire.push_back((uint8_t)(n >> 8));
    wire.push_back((uint8_t)(n >> 16));
    wire.push_back(seq);
    wire.insert(wire.end(), payload.begin(), payload.end());
}

} // namespace qvfuzz
