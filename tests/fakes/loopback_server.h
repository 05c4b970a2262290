// One-connection TCP servers on loopback with a chosen (mis)behaviour, for
// the probe. Every wait is a poll with a bound; nothing sleeps.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

namespace outlinkwatch {

enum class Serve { Accept, Answer, Silent, Flood, CloseAtOnce, Drip };

// Made in the calling thread's network namespace; port 0 picks a free one.
// With listen false the port stays bound but refuses connections.
class LoopbackServer {
public:
    LoopbackServer(Serve how, std::string answer = "", uint16_t port = 0, bool listen = true)
        : how_(how), answer_(std::move(answer)) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ok_ = bind(fd_, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
              getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0 && (!listen || ::listen(fd_, 4) == 0);
        port_ = ntohs(a.sin_port);
        if (ok_ && listen) thread_ = std::thread([this] { Run(); });
    }
    ~LoopbackServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        close(fd_);
    }
    bool ok() const { return ok_; }
    uint16_t port() const { return port_; }
    int connections() const { return connections_; }
    // What the client sent, as far as it was read (all of it for Accept);
    // call when the client is done. A server nobody connected to gives "".
    std::string received() {
        noMoreClients_ = true;
        if (thread_.joinable()) thread_.join();
        return received_;
    }

private:
    // Waits for events on fd, in short slices so a destructor is not held up.
    bool Ready(int fd, short events, int boundMs = 10000) {
        for (int waited = 0; waited < boundMs && !stop_ && !(fd == fd_ && noMoreClients_); waited += 20) {
            pollfd p{fd, events, 0};
            if (poll(&p, 1, 20) > 0) return true;
        }
        return false;
    }
    // Reads until the request's blank line (or, with whole, until the end).
    void Read(int c, bool whole) {
        char buf[4096];
        while (Ready(c, POLLIN)) {
            const ssize_t n = recv(c, buf, sizeof buf, 0);
            if (n <= 0) return;
            received_.append(buf, static_cast<size_t>(n));
            if (!whole && received_.find("\r\n\r\n") != std::string::npos) return;
        }
    }
    void Run() {
        if (!Ready(fd_, POLLIN)) return;
        const int c = accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        ++connections_;
        if (how_ != Serve::CloseAtOnce) Read(c, how_ == Serve::Accept);
        if (how_ == Serve::Answer || how_ == Serve::Flood) send(c, answer_.data(), answer_.size(), MSG_NOSIGNAL);
        if (how_ == Serve::Flood) {  // body bytes until the client goes, at most 256 MB
            const std::string chunk(64 * 1024, 'x');
            for (int i = 0; i < 4096 && Ready(c, POLLOUT, 2000); ++i) {
                if (send(c, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
            }
        }
        for (size_t i = 0; how_ == Serve::Drip && i < answer_.size(); ++i) {  // a byte per 100 ms until it goes
            if (send(c, &answer_[i], 1, MSG_NOSIGNAL) != 1 || Ready(c, POLLIN, 100)) break;
        }
        if (how_ != Serve::Accept && how_ != Serve::CloseAtOnce) {
            std::string rest;
            rest.swap(received_);
            Read(c, true);  // until the client closes
            received_.swap(rest);
        }
        close(c);
    }

    Serve how_;
    std::string answer_;
    int fd_ = -1;
    bool ok_ = false;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> noMoreClients_{false};
    std::atomic<int> connections_{0};
    std::string received_;
    std::thread thread_;
};

}  // namespace outlinkwatch
