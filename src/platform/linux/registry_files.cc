#include "platform/linux/registry_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace outlinkwatch {
namespace {

// How long a writer waits for another process to finish with a hive.
constexpr long kLockWaitMs = 10000;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// mkdir -p; the parts that exist are left as they are.
bool MakeDirs(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string part = dir.substr(0, pos);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

// flock with a bound: polls with a growing pause, at most kLockWaitMs.
bool LockExclusive(int fd) {
    long waited = 0, pause = 1;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (waited >= kLockWaitMs) return false;
        struct timespec ts = {0, pause * 1000000L};
        nanosleep(&ts, nullptr);
        waited += pause;
        if (pause < 16) pause *= 2;
    }
}

}  // namespace

FileRegistry::FileRegistry(std::string dir, std::function<void(const std::string&)> report)
    : dir_(std::move(dir)), report_(std::move(report)) {}

std::string FileRegistry::Directory() const {
    if (!dir_.empty()) return dir_;
    const char* env = std::getenv("OUTLINKWATCH_REGISTRY_DIR");
    return (env != nullptr && *env != '\0') ? std::string(env) : std::string(kDefaultRegistryDir);
}

uint32_t FileRegistry::Load(const std::string& path, regfile::Key* root) {
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return errno == ENOENT ? kErrorSuccess : kErrorAccessDenied;
    std::string bytes;
    std::string error;
    // One byte past the bound tells an oversized file from one that fits.
    // The buffer grows with what arrives (doubling from 64 KiB): a hive is
    // loaded for every call, so a small one must cost a small buffer.
    const size_t cap = regfile::kMaxFileBytes + 1;
    while (bytes.size() < cap) {
        const size_t got = bytes.size();
        const size_t room = std::min(cap - got, std::max<size_t>(64 * 1024, got));
        bytes.resize(got + room);
        const ssize_t n = read(fd.get(), &bytes[got], room);
        bytes.resize(got + (n > 0 ? static_cast<size_t>(n) : 0));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return kErrorAccessDenied;
        if (n == 0) break;
    }
    if (regfile::Parse(bytes, root, &error)) return kErrorSuccess;
    if (report_) report_("registry file " + path + " refused: " + error + "\n");
    return kErrorBadDb;
}

uint32_t FileRegistry::Store(const std::string& dir, const std::string& path, const regfile::Key& root) {
    std::string bytes;
    if (!regfile::Write(root, &bytes)) return kErrorInvalidParameter;  // would pass the file bound
    std::string temp = path + ".XXXXXX";
    Fd fd(mkostemp(&temp[0], O_CLOEXEC));
    if (fd.get() < 0) return kErrorWriteFault;
    const bool written = fchmod(fd.get(), 0644) == 0 && WriteAll(fd.get(), bytes) && fsync(fd.get()) == 0;
    const bool closed = close(fd.release()) == 0;
    if (!written || !closed || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return kErrorWriteFault;
    }
    // The rename itself lasts once the directory is on disk.
    Fd dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) fsync(dirFd.get());
    return kErrorSuccess;
}

uint32_t FileRegistry::WithHive(const std::string& hive, bool write, const HiveFn& fn) {
    const std::string dir = Directory();
    const std::string path = dir + "/" + hive + ".reg";
    if (write && !MakeDirs(dir)) return kErrorAccessDenied;
    Fd lock(write ? open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644) : -1);
    if (write) {
        if (lock.get() < 0) return kErrorAccessDenied;
        if (!LockExclusive(lock.get())) return kErrorTimeout;
    }
    regfile::Key root;
    uint32_t rc = Load(path, &root);
    if (rc != kErrorSuccess) return rc;
    bool changed = false;
    rc = fn(root.Child(hive), &changed);
    if (rc == kErrorSuccess && write && changed) rc = Store(dir, path, root);
    return rc;  // the lock goes with its descriptor
}

uint32_t FileRegistry::HiveDate(const std::string& hive, LocalDate* date) {
    struct stat st;
    const std::string path = Directory() + "/" + hive + ".reg";
    const time_t when = stat(path.c_str(), &st) == 0 ? st.st_mtime : time(nullptr);
    struct tm local;
    if (localtime_r(&when, &local) == nullptr) return kErrorInvalidParameter;
    date->year = local.tm_year + 1900;
    date->month = local.tm_mon + 1;
    date->day = local.tm_mday;
    return kErrorSuccess;
}

}  // namespace outlinkwatch
