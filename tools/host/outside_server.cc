#include "outside_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace owhost {

bool OutsideServer::Listen(std::string* error, uint32_t loopbackHostOrder) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(loopbackHostOrder);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listenFd_, 16) != 0 || getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        *error = std::string("demo outside server: ") + std::strerror(errno);
        return false;
    }
    port_ = ntohs(addr.sin_port);
    return true;
}

bool OutsideServer::Start(std::string* error) {
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0 || listenFd_ < 0) {
        *error = "demo outside server: cannot start";
        return false;
    }
    try {
        thread_ = std::thread([this] { Serve(); });
    } catch (const std::system_error& e) {
        *error = std::string("demo outside server: ") + e.what();
        return false;
    }
    return true;
}

void OutsideServer::Stop() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        if (write(stopFd_, &one, sizeof one) == sizeof one) thread_.join();
    }
    for (int* fd : {&listenFd_, &stopFd_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

void OutsideServer::Serve() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
        if (fds[0].revents & POLLIN) {
            const int conn = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (conn >= 0) close(conn);
        }
    }
}

}  // namespace owhost
