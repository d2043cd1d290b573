// A loopback TCP proxy between the driver and a server, for tests of what
// the driver does when the link stalls. It forwards both ways until told to
// stall; from then on it forwards nothing on any link it carries and holds
// every new connection it accepts without passing it on (unless new links
// are still let through). One thread serves every link with poll(); it and
// every socket end with the object.
#ifndef QV_PROXY_H
#define QV_PROXY_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qv {

class stall_proxy {
public:
    // Listens on 127.0.0.1 at a free port; links go to host:port.
    stall_proxy(const std::string &host, int port);
    ~stall_proxy();
    stall_proxy(const stall_proxy &) = delete;
    stall_proxy &operator=(const stall_proxy &) = delete;

    int port() const { return port_; }
    // From now on forward nothing more, on existing links, once
    // answer_bytes more bytes went from the server to the client of each
    // (0: at once); with drip_ms, one more byte every drip_ms after that.
    // New links are held unless new_links_pass is true; those are then
    // forwarded as usual.
    void stall(int64_t answer_bytes = 0, bool new_links_pass = false, int drip_ms = 0);
    // Bytes forwarded from the server to clients so far.
    int64_t answered() const { return answered_; }

private:
    struct link {
        int client = -1, server = -1;
        bool held = false;        // forwards nothing, ever
        int64_t answer_left = -1; // bytes still to pass to the client; -1 unlimited
        int64_t next_drip = 0;    // when the next single byte may pass
    };
    void run();
    void close_all();

    std::string host_;
    int upstream_port_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> answered_{0};
    std::mutex m_;
    bool stalled_ = false, new_links_pass_ = false;
    int64_t stall_answer_bytes_ = 0;
    int drip_ms_ = 0;
    bool stall_pending_ = false;
    std::vector<link> links_;
    std::thread thread_;
};

} // namespace qv

#endif
