#include "demo/outside_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

namespace owhost {

// The listener is tied to an event by WSAEventSelect; the thread waits on
// that event and a second one that Stop sets.
struct OutsideServer::Sockets {
    SOCKET listener = INVALID_SOCKET;
    HANDLE acceptable = nullptr;
    HANDLE stop = nullptr;
};

OutsideServer::OutsideServer() : sockets_(new Sockets) {}
OutsideServer::~OutsideServer() { Stop(); }

bool OutsideServer::Listen(std::string* error, const char* address) {
    SOCKET& s = sockets_->listener;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (inet_pton(AF_INET, address, &addr.sin_addr) != 1) {
        *error = "demo outside server: not an IPv4 address";
        return false;
    }
    s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    int len = sizeof addr;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 16) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        *error = "demo outside server: socket error " + std::to_string(WSAGetLastError());
        return false;
    }
    port_ = ntohs(addr.sin_port);
    return true;
}

bool OutsideServer::PrepareWait() {
    Sockets& s = *sockets_;
    s.acceptable = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    s.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return s.listener != INVALID_SOCKET && s.acceptable != nullptr && s.stop != nullptr &&
           WSAEventSelect(s.listener, s.acceptable, FD_ACCEPT) == 0;
}

void OutsideServer::Stop() {
    Sockets& s = *sockets_;
    if (thread_.joinable() && SetEvent(s.stop)) thread_.join();
    if (s.listener != INVALID_SOCKET) closesocket(s.listener);
    s.listener = INVALID_SOCKET;
    for (HANDLE* h : {&s.acceptable, &s.stop}) {
        if (*h != nullptr) CloseHandle(*h);
        *h = nullptr;
    }
}

void OutsideServer::Serve() {
    const HANDLE events[2] = {sockets_->acceptable, sockets_->stop};
    for (;;) {
        const DWORD which = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (which != WAIT_OBJECT_0) return;  // Stop, or the wait itself failed
        // Accepted sockets inherit the event selection; take every waiting
        // connection, each closed at once.
        for (;;) {
            const SOCKET conn = accept(sockets_->listener, nullptr, nullptr);
            if (conn == INVALID_SOCKET) break;
            closesocket(conn);
        }
    }
}

}  // namespace owhost
