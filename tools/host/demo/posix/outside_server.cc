#include "demo/outside_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace owhost {

struct OutsideServer::Sockets {
    int listenFd = -1;
    int stopFd = -1;  // eventfd that ends the thread's wait
};

OutsideServer::OutsideServer() : sockets_(new Sockets) {}
OutsideServer::~OutsideServer() { Stop(); }

bool OutsideServer::Listen(std::string* error, const char* address) {
    int& fd = sockets_->listenFd;
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    socklen_t len = sizeof addr;
    if (inet_pton(AF_INET, address, &addr.sin_addr) != 1) {
        *error = std::string("demo outside server: not an IPv4 address");
        return false;
    }
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        *error = std::string("demo outside server: ") + std::strerror(errno);
        return false;
    }
    port_ = ntohs(addr.sin_port);
    return true;
}

bool OutsideServer::PrepareWait() {
    sockets_->stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return sockets_->stopFd >= 0 && sockets_->listenFd >= 0;
}

void OutsideServer::Stop() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        if (write(sockets_->stopFd, &one, sizeof one) == sizeof one) thread_.join();
    }
    for (int* fd : {&sockets_->listenFd, &sockets_->stopFd}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

void OutsideServer::Serve() {
    for (;;) {
        pollfd fds[2] = {{sockets_->listenFd, POLLIN, 0}, {sockets_->stopFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
        if (fds[0].revents & POLLIN) {
            const int conn = accept4(sockets_->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (conn >= 0) close(conn);
        }
    }
}

}  // namespace owhost
