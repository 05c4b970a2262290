#include "demo/nfw_child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bounded_file.h"

extern char** environ;

namespace owhost {

bool NfwChild::Start(const std::string& executable, std::string* error) {
    if (::access(executable.c_str(), X_OK) != 0) {
        *error = "--nfw: cannot run " + executable + ": " + std::strerror(errno);
        return false;
    }
    char pattern[] = "/tmp/outlinkwatch-nfw-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        *error = std::string("--nfw: cannot make a device directory: ") + std::strerror(errno);
        return false;
    }
    dir_ = pattern;
    ::setenv("OUTLINKWATCH_DEVICE_DIR", dir_.c_str(), 1);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        *error = std::string("--nfw: pipe: ") + std::strerror(errno);
        Stop();
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    // A plain signal state, and a process group of its own: a Ctrl-C meant
    // for the host must not take the device away before the policy is done.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGTERM, SIGPIPE}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    std::vector<std::string> args = {executable, "--dry-run", "--device-dir", dir_};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, executable.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(out[1]);
    if (rc != 0) {
        pid_ = -1;
        ::close(out[0]);
        *error = "--nfw: cannot start " + executable + ": " + std::strerror(rc);
        Stop();
        return false;
    }
    relay_ = std::thread(&NfwChild::Relay, this, out[0]);

    std::unique_lock<std::mutex> lock(mu_);
    const bool up = cv_.wait_for(lock, std::chrono::milliseconds(kStartWaitMs), [&] { return listening_ || ended_; });
    if (up && listening_) return true;
    lock.unlock();
    *error = "--nfw: the device stand-in did not start listening";
    Stop();
    return false;
}

void NfwChild::Relay(int fd) {
    std::string pending;
    char chunk[512];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(chunk, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const std::string line = pending.substr(0, end);
            status_->Write("nfw: " + OneLine(line, 1024));
            if (line.compare(0, 13, "listening on ") == 0) {
                std::lock_guard<std::mutex> lock(mu_);
                listening_ = true;
                cv_.notify_all();
            }
        }
        if (pending.size() > 4096) pending.clear();  // not the stand-in's kind of output
    }
    ::close(fd);
    std::lock_guard<std::mutex> lock(mu_);
    ended_ = true;
    cv_.notify_all();
}

void NfwChild::Stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        bool exited = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
        {
            std::unique_lock<std::mutex> lock(mu_);
            cv_.wait_until(lock, deadline, [&] { return ended_; });
        }
        while (!exited && std::chrono::steady_clock::now() < deadline) {
            const pid_t done = ::waitpid(pid_, nullptr, WNOHANG);
            exited = done == pid_ || done < 0;
            if (!exited) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!exited) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }
    if (relay_.joinable()) relay_.join();  // the output is closed: the stand-in is gone
    if (!dir_.empty()) {
        ::unlink((dir_ + "/nfw").c_str());  // left only if the stand-in was killed
        ::rmdir(dir_.c_str());
        dir_.clear();
    }
}

}  // namespace owhost
