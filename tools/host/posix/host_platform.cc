// The host on Linux (and other POSIX systems): signals, dlopen,
// /proc/self/exe.
#include "host_platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bounded_file.h"

namespace owhost {

const char* const kPluginFileName = "libOutlinkWatch.so";

bool StartPlatform(std::string*) { return true; }

std::string ExecutableDirectory() {
    char path[PATH_MAX] = {0};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(path) - 1) return std::string();
    const std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

std::string PluginPathFromOption(const std::string& value) {
    // A bare file name would make dlopen search the library path instead
    // of loading the file the user named.
    return value.find('/') == std::string::npos ? "./" + value : value;
}

void SetEnvironment(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

FILE* OpenForAppend(const std::string& path, std::string* error) {
    const std::string shown = "\"" + OneLine(path, 512) + "\"";
    // Checked on the open descriptor, never by name first: no final link,
    // and O_NONBLOCK so that a FIFO cannot hold the open up.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        *error = errno == ELOOP ? "refused " + shown + ": it is a symbolic link"
                                : "cannot open " + shown + " for appending: " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    AppendTarget target;
    if (::fstat(fd, &st) == 0) {
        target.regular = S_ISREG(st.st_mode);
        target.charDevice = S_ISCHR(st.st_mode);
        target.otherOwner = st.st_uid != ::geteuid() && st.st_uid != 0;
    }
    const char* refusal = AppendTargetRefusal(target);
    FILE* f = refusal == nullptr ? ::fdopen(fd, "a") : nullptr;
    if (f == nullptr) {
        *error = refusal != nullptr ? "refused " + shown + ": " + refusal
                                    : "cannot open " + shown + " for appending: " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    // Writes wait again, as on any ordinary stream.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return f;
}

bool ReadBoundedFile(const std::string& path, size_t maxBytes, std::string* text, std::string* error) {
    const std::string shown = OneLine(path, 512);
    // O_NONBLOCK so that opening a FIFO cannot hang before fstat refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = "cannot open " + shown + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = shown + " is not a regular file";
        return false;
    }
    const bool ok = ReadOpenedFile(static_cast<unsigned long long>(st.st_size), maxBytes, shown,
                                   [fd](char* buffer, size_t want, size_t* got, std::string* reason) {
                                       ssize_t n;
                                       do {
                                           n = ::read(fd, buffer, want);
                                       } while (n < 0 && errno == EINTR);
                                       if (n < 0) {
                                           *reason = std::strerror(errno);
                                           return false;
                                       }
                                       *got = static_cast<size_t>(n);
                                       return true;
                                   },
                                   text, error);
    ::close(fd);
    return ok;
}

// ---------------------------------------------------------------- stop requests
// SIGINT and SIGTERM are blocked in every thread and taken by the main
// thread with sigtimedwait. Blocking happens before the plug-in is loaded,
// so the threads it starts inherit the mask and a stop request can never
// interrupt one of their system calls.

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void PrepareForStopRequests() {
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A reader that goes away must not kill the host mid-shutdown.
    ::signal(SIGPIPE, SIG_IGN);
}

std::string WaitForStopRequest(bool bounded, double seconds) {
    const sigset_t set = StopSignals();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int signo = -1;
        if (bounded) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero()) return "duration elapsed";
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            struct timespec ts;
            ts.tv_sec = static_cast<time_t>(ns / 1000000000);
            ts.tv_nsec = static_cast<long>(ns % 1000000000);
            signo = sigtimedwait(&set, nullptr, &ts);
        } else {
            signo = sigwaitinfo(&set, nullptr);
        }
        if (signo == SIGINT) return "SIGINT";
        if (signo == SIGTERM) return "SIGTERM";
        // EAGAIN (time is up) and EINTR both go round and re-check the clock.
    }
}

void LetNextStopRequestEndHost() {
    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
}

// ---------------------------------------------------------------- the plug-in

PluginLibrary::~PluginLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
}

bool PluginLibrary::Open(const std::string& path, std::string* error) {
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ != nullptr) return true;
    const char* why = ::dlerror();
    *error = why != nullptr ? why : path;
    return false;
}

void* PluginLibrary::Find(const char* name) const {
    ::dlerror();
    return ::dlsym(handle_, name);
}

void PluginLibrary::Close() {
    if (handle_ == nullptr) return;
    if (::dlclose(handle_) != 0) {
        const char* why = ::dlerror();
        std::fprintf(stderr, "outlinkwatch: warning: dlclose: %s\n", OneLine(why ? why : "?").c_str());
    }
    handle_ = nullptr;
}

}  // namespace owhost
