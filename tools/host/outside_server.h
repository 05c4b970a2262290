// The demo's stand-in for a server outside the managed network: a TCP
// listener on a loopback port that accepts every connection and closes it
// again. The built-in demo policy names it as a connect address, so the
// connection check has something real to reach without leaving the machine.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace owhost {

class OutsideServer {
public:
    OutsideServer() = default;
    ~OutsideServer() { Stop(); }
    OutsideServer(const OutsideServer&) = delete;
    OutsideServer& operator=(const OutsideServer&) = delete;

    // Binds a loopback address (127.0.0.1 unless told) on a port the
    // system chooses; false with a reason.
    bool Listen(std::string* error, uint32_t loopbackHostOrder = 0x7F000001u);
    uint16_t port() const { return port_; }
    // Accepts on a thread of its own until Stop; the thread sleeps in poll
    // without a time-out, so an idle server costs no wake-ups.
    bool Start(std::string* error);
    void Stop();

private:
    void Serve();

    int listenFd_ = -1;
    int stopFd_ = -1;  // eventfd that ends the thread's wait
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace owhost
