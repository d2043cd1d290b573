#include "support/qv_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <stdexcept>

#include "support/qv_support.h"

namespace qv {

static int64_t now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

stall_proxy::stall_proxy(const std::string &host, int port) : host_(host), upstream_port_(port)
{
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listen_fd_ < 0)
        throw std::runtime_error("stall_proxy: socket failed");
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (bind(listen_fd_, (sockaddr *)&a, sizeof a) != 0 || listen(listen_fd_, 16) != 0 ||
        getsockname(listen_fd_, (sockaddr *)&a, &len) != 0) {
        close(listen_fd_);
        throw std::runtime_error("stall_proxy: cannot listen");
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
}

stall_proxy::~stall_proxy()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    close_all();
}

void stall_proxy::stall(int64_t answer_bytes, bool new_links_pass, int drip_ms)
{
    std::lock_guard<std::mutex> g(m_);
    stalled_ = true;
    drip_ms_ = drip_ms;
    new_links_pass_ = new_links_pass;
    stall_answer_bytes_ = answer_bytes;
    stall_pending_ = true;
}

void stall_proxy::close_all()
{
    for (link &l : links_) {
        if (l.client >= 0)
            close(l.client);
        if (l.server >= 0)
            close(l.server);
    }
    links_.clear();
    if (listen_fd_ >= 0)
        close(listen_fd_);
    listen_fd_ = -1;
}

// Moves what one end has to the other; false when the link ended.
static bool pass(int from, int to, int64_t *budget, std::atomic<int64_t> *count)
{
    char buf[16384];
    size_t want = sizeof buf;
    if (budget && *budget >= 0 && (int64_t)want > *budget)
        want = (size_t)*budget;
    if (want == 0)
        return true;
    ssize_t n = recv(from, buf, want, 0);
    if (n <= 0)
        return false;
    if (budget && *budget >= 0)
        *budget -= n;
    if (count)
        *count += n;
    for (ssize_t done = 0; done < n;) {
        ssize_t w = send(to, buf + done, (size_t)(n - done), MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        done += w;
    }
    return true;
}

void stall_proxy::run()
{
    while (!stop_) {
        bool stalled, new_pass;
        int drip;
        {
            std::lock_guard<std::mutex> g(m_);
            if (stall_pending_) {
                for (link &l : links_)
                    l.answer_left = stall_answer_bytes_;
                stall_pending_ = false;
            }
            stalled = stalled_;
            new_pass = new_links_pass_;
            drip = drip_ms_;
        }
        int64_t now = now_ms();
        for (link &l : links_)
            if (drip > 0 && l.answer_left == 0 && now >= l.next_drip) {
                l.answer_left = 1;
                l.next_drip = now + drip;
            }
        std::vector<pollfd> fds;
        fds.push_back({listen_fd_, POLLIN, 0});
        // for each live link: its client end, then its server end
        std::vector<size_t> owner;
        for (size_t i = 0; i < links_.size(); i++) {
            link &l = links_[i];
            if (l.held || l.client < 0)
                continue;
            fds.push_back({l.client, POLLIN, 0});
            owner.push_back(i);
            // a link that has given all the answer it may give reads nothing more
            if (l.answer_left != 0) {
                fds.push_back({l.server, POLLIN, 0});
                owner.push_back(i);
            }
        }
        if (poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            int c = accept(listen_fd_, nullptr, nullptr);
            if (c >= 0) {
                link l;
                l.client = c;
                if (stalled && !new_pass) {
                    l.held = true;
                } else {
                    l.server = tcp_connect(host_, upstream_port_);
                    if (l.server < 0) {
                        close(c);
                        l.client = -1;
                    }
                }
                if (l.client >= 0)
                    links_.push_back(l);
            }
        }
        for (size_t k = 1; k < fds.size(); k++) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            link &l = links_[owner[k - 1]];
            if (l.client < 0)
                continue;
            bool ok;
            if (fds[k].fd == l.client) {
                // once the link stalled the client's bytes go nowhere
                if (l.answer_left != 0) {
                    ok = pass(l.client, l.server, nullptr, nullptr);
                } else {
                    char sink[4096];
                    ok = recv(l.client, sink, sizeof sink, MSG_DONTWAIT) != 0;
                }
            } else {
                ok = pass(l.server, l.client, &l.answer_left, &answered_);
            }
            if (!ok) {
                close(l.client);
                close(l.server);
                l.client = l.server = -1;
            }
        }
    }
}

} // namespace qv
