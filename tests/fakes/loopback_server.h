// One-connection TCP servers on 127.0.0.1 with a chosen (mis)behaviour, for
// the probe. Every wait is a poll with a bound; nothing sleeps.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

namespace outlinkwatch {

// Accept: read all; Answer: read the request, send the answer; Silent: read
// it, send nothing; Flood: the answer and then body until the client goes;
// CloseAtOnce; Drip: the answer a byte per 100 ms. All but CloseAtOnce then
// read until the client closes.
enum class Serve { Accept, Answer, Silent, Flood, CloseAtOnce, Drip };

// Made in the calling thread's network namespace; port 0 picks a free one.
// Without listen the port stays bound but refuses connections.
class LoopbackServer {
public:
    LoopbackServer(Serve how, std::string answer = "", uint16_t port = 0, bool listen = true)
        : how_(how), answer_(std::move(answer)), fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        ok_ = bind(fd_, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
              getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0 && (!listen || ::listen(fd_, 4) == 0);
        port_ = ntohs(a.sin_port);
        if (ok_ && listen) thread_ = std::thread([this] { Run(); });
    }
    ~LoopbackServer() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        close(fd_);
    }
    bool ok() const { return ok_; }
    uint16_t port() const { return port_; }
    // The request as read, once the client is done; "" if nobody came.
    std::string received() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        return received_;
    }

private:
    bool Ready(int fd, short events, int boundMs) {
        for (int waited = 0; waited < boundMs && !(fd == fd_ && done_); waited += 20) {
            pollfd p{fd, events, 0};
            if (poll(&p, 1, 20) > 0) return true;
        }
        return false;
    }
    void Read(int c, std::string* into, bool whole) {
        char buf[4096];
        ssize_t n = 0;
        while (Ready(c, POLLIN, 10000) && (n = recv(c, buf, sizeof buf, 0)) > 0) {
            into->append(buf, static_cast<size_t>(n));
            if (!whole && into->find("\r\n\r\n") != std::string::npos) return;
        }
    }
    void Run() {
        const int c = Ready(fd_, POLLIN, 10000) ? accept(fd_, nullptr, nullptr) : -1;
        if (c < 0) return;
        if (how_ != Serve::CloseAtOnce) Read(c, &received_, how_ == Serve::Accept);
        if (how_ == Serve::Answer || how_ == Serve::Flood) send(c, answer_.data(), answer_.size(), MSG_NOSIGNAL);
        const std::string chunk(how_ == Serve::Flood ? 64 * 1024 : 0, 'x');  // at most 256 MB
        for (int i = 0; i < 4096 && !chunk.empty() && Ready(c, POLLOUT, 2000); ++i) {
            if (send(c, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
        }
        for (size_t i = 0; how_ == Serve::Drip && i < answer_.size(); ++i) {
            if (send(c, &answer_[i], 1, MSG_NOSIGNAL) != 1 || Ready(c, POLLIN, 100)) break;
        }
        std::string rest;
        if (how_ != Serve::CloseAtOnce) Read(c, &rest, true);
        close(c);
    }

    Serve how_;
    std::string answer_;
    int fd_;
    bool ok_ = false;
    uint16_t port_ = 0;
    std::atomic<bool> done_{false};
    std::string received_;
    std::thread thread_;
};

}  // namespace outlinkwatch
