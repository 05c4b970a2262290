// One-connection TCP servers on 127.0.0.1 with a chosen (mis)behaviour, for
// the probe; over ACE, so the same servers run on Linux and under Wine.
// Every wait has a bound; nothing sleeps.
#pragma once

#include <ace/INET_Addr.h>
#include <ace/SOCK_Acceptor.h>
#include <ace/SOCK_Stream.h>
#include <ace/Time_Value.h>

#include <atomic>
#include <string>
#include <thread>

#include "probes/ace_session.h"

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0  // Windows raises no signal for a closed peer
#endif

namespace outlinkwatch {

// Accept: read all; Answer: read the request, send the answer; Silent: read
// it, send nothing; Flood: the answer and then body until the client goes;
// CloseAtOnce; Drip: the answer a byte per 100 ms. All but CloseAtOnce then
// read until the client closes.
enum class Serve { Accept, Answer, Silent, Flood, CloseAtOnce, Drip };

// Made in the calling thread's network namespace; port 0 picks a free one.
// Without listen the port is bound by a socket that never listens.
class LoopbackServer {
public:
    LoopbackServer(Serve how, std::string answer = "", uint16_t port = 0, bool listen = true)
        : how_(how), answer_(std::move(answer)) {
        ACE_INET_Addr addr(port, "127.0.0.1");
        if (listen) {
            ok_ = acceptor_.open(addr, 1) == 0 && acceptor_.get_local_addr(addr) == 0;
        } else {
            // Bound, not listening: connections to it are refused.
            ok_ = idle_.open(SOCK_STREAM, AF_INET, 0, 1) == 0 &&
                  ACE_OS::bind(idle_.get_handle(), static_cast<sockaddr*>(addr.get_addr()), addr.get_size()) == 0 &&
                  idle_.get_local_addr(addr) == 0;
        }
        port_ = addr.get_port_number();
        if (ok_ && listen) thread_ = std::thread([this] { Run(); });
    }
    ~LoopbackServer() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        acceptor_.close();
        idle_.close();
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
    // Sockets need ACE started (on Windows, the socket library) before the
    // listener opens, whoever else holds a start.
    AceSession ace_;

    // Reads until the client closes (or, unless whole, the end of the
    // request head); each wait at most 10 s.
    void Read(ACE_SOCK_Stream& c, std::string* into, bool whole) {
        char buf[4096];
        const ACE_Time_Value wait(10);
        ssize_t n = 0;
        while ((n = c.recv(buf, sizeof buf, &wait)) > 0) {
            into->append(buf, static_cast<size_t>(n));
            if (!whole && into->find("\r\n\r\n") != std::string::npos) return;
        }
    }
    void Run() {
        ACE_SOCK_Stream c;
        ACE_Time_Value wait(0, 20000);
        bool accepted = false;
        for (int i = 0; i < 500 && !accepted && !done_; ++i) accepted = acceptor_.accept(c, nullptr, &wait) == 0;
        if (!accepted) return;
        if (how_ != Serve::CloseAtOnce) Read(c, &received_, how_ == Serve::Accept);
        const ACE_Time_Value sendWait(2);
        if (how_ == Serve::Answer || how_ == Serve::Flood) c.send(answer_.data(), answer_.size(), MSG_NOSIGNAL, &sendWait);
        const std::string chunk(how_ == Serve::Flood ? 64 * 1024 : 0, 'x');  // at most 256 MB
        for (int i = 0; i < 4096 && !chunk.empty(); ++i) {
            if (c.send(chunk.data(), chunk.size(), MSG_NOSIGNAL, &sendWait) <= 0) break;
        }
        const ACE_Time_Value drip(0, 100000);
        char probe;
        for (size_t i = 0; how_ == Serve::Drip && i < answer_.size(); ++i) {
            // The pause between bytes is a bounded wait for the client, which
            // ends it early by closing.
            if (c.send(&answer_[i], 1, MSG_NOSIGNAL, &sendWait) != 1 || c.recv(&probe, 1, &drip) >= 0) break;
        }
        std::string rest;
        if (how_ != Serve::CloseAtOnce) Read(c, &rest, true);
        c.close();
    }

    Serve how_;
    std::string answer_;
    ACE_SOCK_Acceptor acceptor_;
    ACE_SOCK_Stream idle_;
    bool ok_ = false;
    uint16_t port_ = 0;
    std::atomic<bool> done_{false};
    std::string received_;
    std::thread thread_;
};

}  // namespace outlinkwatch
