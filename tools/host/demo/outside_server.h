// The demo's stand-in for a server outside the managed network: a TCP
// listener on a loopback port that accepts every connection and closes it
// again. The built-in demo policy names it as a connect address, so the
// connection check has something real to reach without leaving the machine.
// The sockets are the platform's (demo/posix/, demo/win32/); starting the
// thread is written once (demo/outside_server.cc).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace owhost {

class OutsideServer {
public:
    OutsideServer();
    ~OutsideServer();
    OutsideServer(const OutsideServer&) = delete;
    OutsideServer& operator=(const OutsideServer&) = delete;

    // Binds a loopback IPv4 address on a port the system chooses; false
    // with a reason.
    bool Listen(std::string* error, const char* address = "127.0.0.1");
    uint16_t port() const { return port_; }
    // Accepts on a thread of its own until Stop; the thread sleeps without
    // a time-out until a connection or Stop comes, so an idle server costs
    // no wake-ups.
    bool Start(std::string* error);
    void Stop();

    struct Sockets;  // the platform's listener and stop signal

private:
    // Makes the stop signal the serving thread waits on beside the
    // listener; false if either is missing.
    bool PrepareWait();
    void Serve();

    std::unique_ptr<Sockets> sockets_;
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace owhost
