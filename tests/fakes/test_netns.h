// Test hosts of our own: named network namespaces made and removed by the
// tests, so that route changes and traffic never touch the machine's own.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace outlinkwatch {

inline bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A named network namespace with its loopback up, removed again however the
// test ends.
class TestNetns {
public:
    explicit TestNetns(const std::string& suffix)
        : name_("owtest-" + std::to_string(getpid()) + "-" + suffix) {
        Shell("ip netns del " + name_);  // left over from a killed run with the same pid
        ok_ = Shell("ip netns add " + name_) && Shell("ip -n " + name_ + " link set lo up");
    }
    ~TestNetns() { Shell("ip netns del " + name_); }
    TestNetns(const TestNetns&) = delete;
    TestNetns& operator=(const TestNetns&) = delete;

    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }
    bool Ip(const std::string& args) const { return Shell("ip -n " + name_ + " " + args); }

    // Runs fn on a thread of its own that has entered this namespace, so the
    // calling thread (and the rest of the process) stays where it is.
    bool RunInside(const std::function<void()>& fn) const {
        bool entered = false;
        std::thread t([&] {
            int fd = open(("/var/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) return;
            entered = setns(fd, CLONE_NEWNET) == 0;
            close(fd);
            if (entered) fn();
        });
        t.join();
        return entered;
    }

private:
    std::string name_;
    bool ok_ = false;
};

}  // namespace outlinkwatch
