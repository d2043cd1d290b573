// The scripted fake server (tests/fake/) as a peer of the driver loaded by
// the driver manager, for the cases the test MariaDB cannot play: a server
// that asks for files nobody named, one that switches to clear-text
// authentication, certificates for other names. A logon script (greeting,
// TLS when asked, the client's response, an optional auth switch, OK) and a
// loop that answers commands until the client quits.
#ifndef QV_FAKE_PEER_H
#define QV_FAKE_PEER_H

#include <stdint.h>

#include <functional>
#include <string>

#include "fake/fake_server.h"
#include "support/qv_support.h"

namespace peer {

using fake::bytes;

enum : uint8_t { COM_QUIT = 0x01, COM_QUERY = 0x03 };

// TLS on offer: the certificate chain and key the server answers with.
struct tls_identity {
    std::string cert_chain, key;
};

struct logon_script {
    const tls_identity *tls = nullptr;   // null: no TLS offered
    bytes auth_switch;                   // sent after the response when not empty
    const fake::greeting_info *greeting = nullptr;   // null: the default one
};

struct logon_seen {
    uint32_t client_flags = 0;
    std::string sni;       // the name the client asked for in TLS (SNI)
    bool answered = false; // the client answered the auth switch
    bytes answer;          // its answer
};

inline uint32_t get_u32(const bytes &b)
{
    return b.size() < 4 ? 0
                        : (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 |
                              (uint32_t)b[3] << 24;
}

// Runs the logon; false when the client gave up (refused the certificate or
// the switch) or the exchange broke.
inline bool logon(fake::session &s, const logon_script &how, logon_seen *seen)
{
    fake::greeting_info g = how.greeting ? *how.greeting : fake::greeting_info();
    if (how.tls)
        g.capabilities |= fake::CAP_SSL;
    if (!s.send_packet(0, fake::greeting(g)))
        return false;
    uint8_t seq = 0;
    bytes p;
    if (!s.read_packet(&seq, &p))
        return false;
    if (how.tls) {
        seen->client_flags = get_u32(p);
        if (!s.start_tls(how.tls->cert_chain, how.tls->key, &seen->sni) || !s.read_packet(&seq, &p))
            return false;
    }
    seen->client_flags = get_u32(p);
    if (!how.auth_switch.empty()) {
        if (!s.send_packet((uint8_t)(seq + 1), how.auth_switch))
            return false;
        if (!s.read_packet(&seq, &seen->answer, 2000))
            return false;
        seen->answered = true;
    }
    return s.send_packet((uint8_t)(seq + 1), fake::ok_packet());
}

// A command the handler may answer itself: true when it did. Anything it
// leaves is answered with OK.
using command_handler = std::function<bool(fake::session &, const bytes &command)>;

using fake::query_text;

// Answers commands until the client quits or goes away.
inline void serve(fake::session &s, const command_handler &handler = nullptr)
{
    uint8_t seq;
    bytes command;
    while (s.read_packet(&seq, &command, 10000)) {
        if (!command.empty() && command[0] == COM_QUIT)
            return;
        if (handler && handler(s, command))
            continue;
        if (!s.send_packet(1, fake::ok_packet()))
            return;
    }
}

// A connection string for the fake server on port.
inline std::string conn_str(int port, const std::string &extra = "",
                            const std::string &server = "127.0.0.1")
{
    return "DRIVER={" + qv::server().driver_name + "};SERVER=" + server +
           ";PORT=" + std::to_string(port) + ";UID=qvpeer;PWD=secret;DATABASE=test;" + extra;
}

} // namespace peer

#endif
