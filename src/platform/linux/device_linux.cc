#include "platform/linux/device_linux.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "nfw/nfw_frame.h"

namespace outlinkwatch {
namespace linuxdev {
namespace {

bool SetTimeouts(int fd) {
    using namespace std::chrono;
    const milliseconds timeout(kDeviceIoTimeoutMs);
    const seconds whole = duration_cast<seconds>(timeout);
    struct timeval tv;
    tv.tv_sec = static_cast<time_t>(whole.count());
    tv.tv_usec = static_cast<suseconds_t>(duration_cast<microseconds>(timeout - whole).count());
    return setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) == 0;
}

// All of size bytes through io (a send or a recv). Each call is bounded by
// the socket's time-outs; a time-out, like an end of stream, ends the transfer.
template <typename Byte, typename Io>
bool TransferAll(Byte* data, size_t size, Io io) {
    while (size > 0) {
        const ssize_t n = io(data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The device is served by root or by this process's own user; a socket that
// another user put in its place is no device, whatever it answers.
bool ServedByTrustedUser(int fd) {
    struct ucred server;
    socklen_t len = sizeof(server);
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &server, &len) == 0 && len == sizeof(server) &&
           (server.uid == 0 || server.uid == geteuid());
}

}  // namespace

DeviceTable::~DeviceTable() {
    for (const auto& entry : fds_) ::close(entry.second);
}

DeviceHandle DeviceTable::Open(const std::string& path, uint32_t disposition) {
    if (disposition != kCreateAlways && disposition != kOpenExisting) return DeviceHandle();
    const std::string name = nfw::DeviceFileName(path);
    if (name.empty()) return DeviceHandle();
    const char* dir = std::getenv(nfw::kDeviceDirVariable);
    const std::string socketPath = nfw::DeviceSocketPath(dir != nullptr ? dir : "", name);

    struct sockaddr_un addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof(addr.sun_path)) return DeviceHandle();
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size());

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return DeviceHandle();
    // The send time-out also bounds a connect to a listener whose queue is full.
    if (!SetTimeouts(fd) || connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) != 0 ||
        !ServedByTrustedUser(fd)) {
        ::close(fd);
        return DeviceHandle();
    }
    std::lock_guard<std::mutex> lock(mu_);
    const std::uintptr_t id = next_++;
    fds_[id] = fd;
    return DeviceHandle(id);
}

int DeviceTable::FdOf(DeviceHandle device) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = fds_.find(device.value());
    return it == fds_.end() ? -1 : it->second;
}

int32_t DeviceTable::Control(DeviceHandle device, uint32_t code, const void* input, uint32_t inputLength,
                             uint32_t* returned) {
    if (returned != nullptr) *returned = 0;
    const int fd = FdOf(device);
    if (fd < 0 || (input == nullptr && inputLength != 0)) return 0;
    const std::vector<uint8_t> frame = nfw::EncodeFrame(code, input, inputLength);
    uint8_t answer[nfw::kAnswerBytes] = {0};
    const auto sendTo = [fd](const uint8_t* p, size_t n) { return send(fd, p, n, MSG_NOSIGNAL); };
    const auto receiveFrom = [fd](uint8_t* p, size_t n) { return recv(fd, p, n, 0); };
    if (!TransferAll(frame.data(), frame.size(), sendTo) || !TransferAll(answer, sizeof(answer), receiveFrom)) return 0;
    return nfw::GetU32(answer) != 0;
}

bool DeviceTable::Close(DeviceHandle device) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = fds_.find(device.value());
    if (it == fds_.end()) return false;
    const int fd = it->second;
    fds_.erase(it);
    return ::close(fd) == 0;
}

}  // namespace linuxdev
}  // namespace outlinkwatch
