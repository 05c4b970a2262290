#include "platform/linux/registry_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <random>
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

// mkdir -p: the parts leading to the registry 0755, the registry itself
// 0700; the parts that exist are left as they are.
bool MakeDirs(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string part = dir.substr(0, pos);
            if (mkdir(part.c_str(), pos == dir.size() ? 0700 : 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

// The registry holds what the plug-in trusts (the proxy settings it judges),
// so it reads only what no other user can have written: files and the
// directory that are this process's user's or root's, writable by no one
// else. Empty when st passes, else why not.
std::string Distrust(const struct stat& st) {
    if (st.st_uid != geteuid() && st.st_uid != 0) return "owned by uid " + std::to_string(st.st_uid);
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "writable by other users";
    return std::string();
}

// flock with a bound: polls with a pause growing to 16 ms, kLockWaitMs in all.
bool LockExclusive(int fd) {
    long waited = 0, pause = 1;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (waited == kLockWaitMs) return false;
        const long now = std::min(pause, kLockWaitMs - waited);
        const struct timespec ts = {0, now * 1000000L};
        nanosleep(&ts, nullptr);
        waited += now;
        pause = std::min(pause * 2, 16L);
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

uint32_t FileRegistry::Refuse(const std::string& what, const std::string& why) {
    if (report_) report_("registry " + what + " refused: " + why + "\n");
    return kErrorAccessDenied;
}

uint32_t FileRegistry::Load(int dirFd, const std::string& name, const std::string& path, regfile::Key* root) {
    // Never through a link, and no waiting on a FIFO put in a hive's place.
    Fd fd(openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 && errno == ELOOP) return Refuse("file " + path, "a link");
    if (fd.get() < 0) return errno == ENOENT ? kErrorSuccess : kErrorAccessDenied;
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return kErrorAccessDenied;
    if (!S_ISREG(st.st_mode)) return Refuse("file " + path, "not a regular file");
    const std::string why = Distrust(st);
    if (!why.empty()) return Refuse("file " + path, why);
    std::string bytes;
    std::string error;
    // One byte past the bound tells an oversized file from one that fits.
    // A hive is loaded for every call, so the buffer is one byte past the
    // size the file has now, and one read meets the end. Hives are replaced
    // by a rename, never written in place; should one grow all the same,
    // the buffer takes the bound at once (where a read of nothing ends it).
    const size_t cap = regfile::kMaxFileBytes + 1;
    bytes.resize(std::min(cap, static_cast<size_t>(std::max<off_t>(st.st_size, 0)) + 1));
    size_t got = 0;
    for (;;) {
        if (got == bytes.size()) bytes.resize(cap);
        const ssize_t n = read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return kErrorAccessDenied;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    if (regfile::Parse(bytes, root, &error)) return kErrorSuccess;
    if (report_) report_("registry file " + path + " refused: " + error + "\n");
    return kErrorBadDb;
}

uint32_t FileRegistry::Store(int dirFd, const std::string& name, const regfile::Key& root) {
    std::string bytes;
    if (!regfile::Write(root, &bytes)) return kErrorInvalidParameter;  // would pass the file bound
    // A new file of a name nobody can have chosen before (a random one, in
    // a directory no other user may write), made here (not through a link)
    // and readable by this user only.
    std::random_device random;
    const std::string temp = name + "." + std::to_string(random());
    Fd fd(openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) return kErrorWriteFault;
    const bool written = fchmod(fd.get(), 0600) == 0 && WriteAll(fd.get(), bytes) && fsync(fd.get()) == 0;
    const bool closed = close(fd.release()) == 0;
    // A rename replaces whatever has the name, a link included, and follows nothing.
    if (!written || !closed || renameat(dirFd, temp.c_str(), dirFd, name.c_str()) != 0) {
        unlinkat(dirFd, temp.c_str(), 0);
        return kErrorWriteFault;
    }
    // The rename itself lasts once the directory is on disk.
    fsync(dirFd);
    return kErrorSuccess;
}

uint32_t FileRegistry::WithHive(const std::string& hive, bool write, const HiveFn& fn) {
    const std::string dir = Directory();
    const std::string name = hive + ".reg";
    const std::string path = dir + "/" + name;
    if (write && !MakeDirs(dir)) return kErrorAccessDenied;
    // Everything below goes through this descriptor: the directory checked
    // is the directory used, whatever becomes of its path meanwhile.
    Fd dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    regfile::Key root;
    if (dirFd.get() < 0) {
        // O_DIRECTORY answers a link with ENOTDIR before O_NOFOLLOW's ELOOP.
        if (errno == ENOTDIR || errno == ELOOP) return Refuse("directory " + dir, "a link or not a directory");
        if (errno != ENOENT) return kErrorAccessDenied;
        // No registry yet: every hive is empty.
        bool changed = false;
        return fn(root.Child(hive), &changed);
    }
    struct stat st;
    if (fstat(dirFd.get(), &st) != 0) return kErrorAccessDenied;
    const std::string why = Distrust(st);
    if (!why.empty()) return Refuse("directory " + dir, why);
    Fd lock(write ? openat(dirFd.get(), (name + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)
                  : -1);
    if (write) {
        if (lock.get() < 0) return kErrorAccessDenied;
        if (!LockExclusive(lock.get())) return kErrorTimeout;
    }
    uint32_t rc = Load(dirFd.get(), name, path, &root);
    if (rc != kErrorSuccess) return rc;
    bool changed = false;
    rc = fn(root.Child(hive), &changed);
    if (rc == kErrorSuccess && write && changed) rc = Store(dirFd.get(), name, root);
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
