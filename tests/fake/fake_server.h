// A scripted fake MySQL server for tests. It speaks raw bytes and knows
// nothing of the driver: it listens on 127.0.0.1 on an ephemeral port and runs
// a script (a callback) for every accepted connection on its own thread.
//
// Nothing here may hang a test: every read has a time-out, sleeps end early
// when the server stops, and the destructor shuts the sockets down (which
// unblocks a script stuck in send) and joins every thread.
#ifndef QV_FAKE_SERVER_H
#define QV_FAKE_SERVER_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct ssl_st;

namespace fake {

using bytes = std::vector<uint8_t>;

// One compressed frame header as the client sent it.
struct frame_info {
    uint32_t comp_len;
    uint8_t seq;
    uint32_t uncomp_len;   // 0: the body was sent as it is
};

// One accepted client connection; the script's handle on it.
class session {
public:
    explicit session(int fd, const std::atomic<bool> *stop) : fd_(fd), stop_(stop) {}
    ~session();
    session(const session &) = delete;
    session &operator=(const session &) = delete;

    // One physical client packet (header decoded). False on time-out, close or
    // a broken frame. In compressed mode the packet is taken from the frames.
    bool read_packet(uint8_t *seq, bytes *payload, int timeout_ms = 5000);
    // Exactly n raw bytes off the socket (no framing at all).
    bool read_raw(bytes *out, size_t n, int timeout_ms = 5000);
    // One physical packet: 3-byte length, seq, payload (framed when compressed).
    bool send_packet(uint8_t seq, const bytes &payload);
    // Bytes as they are, whatever the mode: for truncated or hostile input.
    bool send_raw(const bytes &raw);
    // Frames data the way a server does (chunks of at most 0x800000 bytes;
    // 50 bytes or fewer, or data that does not shrink, sent as they are).
    // Several packets given at once share frames, as real servers do.
    bool send_compressed(const bytes &data);
    // From now on packets go both ways inside compressed frames.
    void set_compressed(bool on) { compressed_ = on; }
    // Answers the client's TLS handshake with a certificate chain and key
    // (PEM files); from then on every byte goes through TLS. False when the
    // handshake fails. sni receives the name the client asked for, if any.
    bool start_tls(const std::string &cert_chain_file, const std::string &key_file,
                   std::string *sni = nullptr, int timeout_ms = 5000);
    void sleep_ms(int ms);   // ends early when the server stops
    void close();            // closes the client's socket
    void shutdown_socket();  // unblocks a blocked call (used by the server)

    const std::vector<frame_info> &frames_seen() const { return frames_; }
    int fd() const { return fd_; }

private:
    bool wait_readable(int64_t deadline_ms);
    bool read_exact(uint8_t *dst, size_t n, int64_t deadline_ms);
    bool read_stream(uint8_t *dst, size_t n, int64_t deadline_ms);
    bool read_frame(int64_t deadline_ms);

    bool write_all(const uint8_t *p, size_t n);

    int fd_;
    const std::atomic<bool> *stop_;
    ssl_st *ssl_ = nullptr;    // TLS once start_tls succeeded
    bool compressed_ = false;
    uint8_t comp_seq_ = 0;
    bytes pending_;            // decompressed bytes not yet taken
    size_t pending_off_ = 0;
    std::vector<frame_info> frames_;
    std::mutex fd_lock_;       // close() against shutdown_socket()
};

class server {
public:
    using script = std::function<void(session &)>;

    explicit server(script s);
    ~server();
    server(const server &) = delete;
    server &operator=(const server &) = delete;

    int port() const { return port_; }
    bool ok() const { return listen_fd_ >= 0; }
    int accepted() const { return accepted_.load(); }
    // Waits until the scripts of this many connections have returned (the
    // connections need not have been accepted yet when it is called).
    bool wait_done(int timeout_ms = 5000, int connections = 1);

    // A port on 127.0.0.1 where nothing listens: connecting is refused.
    static int refusing_port();

private:
    void accept_loop();
    void run(session *s);

    script script_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::mutex lock_;
    std::condition_variable done_cv_;
    int finished_ = 0;
    std::vector<std::unique_ptr<session>> sessions_;
    std::vector<std::thread> workers_;
};

// A listener that never accepts and whose queue is full, so a new connect
// stays unanswered: a connect time-out can be tested without a network.
class stalled_listener {
public:
    stalled_listener();
    ~stalled_listener();
    stalled_listener(const stalled_listener &) = delete;
    stalled_listener &operator=(const stalled_listener &) = delete;
    int port() const { return port_; }
    // False when the queue could not be filled (a connect would still succeed).
    bool ok() const { return full_; }

private:
    int listen_fd_ = -1;
    int port_ = 0;
    bool full_ = false;
    std::vector<int> fillers_;
};

// ---- building blocks ----------------------------------------------------

void put_u16(bytes &b, uint16_t v);
void put_u24(bytes &b, uint32_t v);
void put_u32(bytes &b, uint32_t v);
void put_lenenc(bytes &b, uint64_t v);
void put_lenenc_str(bytes &b, const std::string &s);
void put_str(bytes &b, const std::string &s);           // no terminator
bytes operator+(bytes a, const bytes &b);

// Header (3-byte length, seq) followed by the payload, unframed.
bytes packet_bytes(uint8_t seq, const bytes &payload);
// One compressed-protocol frame with frame sequence seq carrying n bytes of
// data: compressed when that pays (more than 50 bytes and smaller after
// compression), as a server frames it.
bytes compressed_frame(const uint8_t *data, size_t n, uint8_t seq);
inline bytes compressed_frame(const bytes &data, uint8_t seq)
{
    return compressed_frame(data.data(), data.size(), seq);
}
// s as UTF-16LE, one unit per byte of s (ASCII text).
bytes utf16(const std::string &s);

enum : uint32_t {
    CAP_LONG_PASSWORD = 0x1,
    CAP_CONNECT_WITH_DB = 0x8,
    CAP_COMPRESS = 0x20,
    CAP_PROTOCOL_41 = 0x200,
    CAP_SSL = 0x800,
    CAP_TRANSACTIONS = 0x2000,
    CAP_SECURE_CONNECTION = 0x8000,
    CAP_MULTI_STATEMENTS = 0x10000,
    CAP_MULTI_RESULTS = 0x20000,
    CAP_PLUGIN_AUTH = 0x80000,
};

struct greeting_info {
    std::string server_version = "5.7.30-fake";
    uint32_t connection_id = 7;
    std::string scramble = "abcdefghijklmnopqrst";   // 20 bytes
    uint32_t capabilities = CAP_LONG_PASSWORD | CAP_CONNECT_WITH_DB | CAP_COMPRESS |
                            CAP_PROTOCOL_41 | CAP_TRANSACTIONS | CAP_SECURE_CONNECTION |
                            CAP_MULTI_STATEMENTS | CAP_MULTI_RESULTS | CAP_PLUGIN_AUTH;
    uint8_t charset = 33;
    uint16_t status = 2;   // autocommit
    std::string auth_plugin = "mysql_native_password";
};
// A protocol-10 initial handshake payload.
bytes greeting(const greeting_info &g = greeting_info());

bytes ok_packet(uint64_t affected_rows = 0, uint64_t insert_id = 0, uint16_t status = 2,
                uint16_t warnings = 0, const std::string &info = "");
// sqlstate empty: the old form without the '#' marker.
bytes err_packet(uint16_t code, const std::string &sqlstate, const std::string &message);
bytes eof_packet(uint16_t warnings = 0, uint16_t status = 2);

struct column_info {
    std::string name;
    uint8_t type = 253;        // VAR_STRING
    uint32_t length = 255;
    uint16_t flags = 0;
    uint8_t decimals = 0;
    uint16_t charset = 33;
    std::string table = "t";
    std::string org_table = "t";
    std::string org_name;      // empty: same as name
    std::string schema = "test";
};
// A column of a result: the fields tests vary, the rest as in column_info.
column_info column(const std::string &name, uint8_t type, uint16_t charset = 33,
                   uint16_t flags = 0, uint8_t decimals = 0, uint32_t length = 255);
// A protocol-41 column definition payload.
bytes column_def(const column_info &c);
// A text-protocol row: length-encoded cells, NULL (nullopt) as 0xFB.
bytes text_row(const std::vector<std::optional<std::string>> &cells);
// A binary-protocol result of four columns (INT, VAR_STRING, DATETIME,
// DOUBLE) and its two rows (second: the text NULL, the integer 0xFFFFFFFF),
// as the seed corpora and the hostile-server tests play it.
std::vector<column_info> binary_columns();
bytes binary_row(bool second);
// The answer to preparing its query: statement 1 with those four columns
// and one VAR_STRING parameter, definitions and EOFs (payloads).
std::vector<bytes> prepare_answer();
// Its execution: column count, definitions, EOF, both rows, EOF (payloads).
std::vector<bytes> binary_result();
// The text of a COM_QUERY command payload (the trailing 0 byte of a text
// execution dropped); "" for any other command.
std::string query_text(const bytes &command);

} // namespace fake

#endif
