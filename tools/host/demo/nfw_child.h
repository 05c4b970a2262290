// The filter device's stand-in (outlinkwatch-nfw) as a child of the host,
// for demonstrations: started in dry-run mode on a socket in a private
// temporary directory, which the plug-in is pointed at through
// OUTLINKWATCH_DEVICE_DIR; its lines are relayed to the host's stderr as
// "nfw: ...". Stopped, and the directory removed, when the host ends.
//
// On Windows the plug-in opens the driver's device \\.\NFW itself and there
// is no stand-in: Start only tells whether the device is there (posix/ and
// win32/nfw_child.cc).
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "host_agent.h"

namespace owhost {

class NfwChild {
public:
    // How long the stand-in may take to listen, and to stop.
    static constexpr int kStartWaitMs = 5000;
    static constexpr int kStopWaitMs = 5000;

    explicit NfwChild(LineSink* status) : status_(status) {}
    ~NfwChild() { Stop(); }
    NfwChild(const NfwChild&) = delete;
    NfwChild& operator=(const NfwChild&) = delete;

    // Makes the directory, sets OUTLINKWATCH_DEVICE_DIR (call while the
    // host has no other thread), starts the stand-in and waits until it
    // listens. False with a one-line reason.
    bool Start(const std::string& executable, std::string* error);
    // Ends the stand-in (SIGTERM, SIGKILL when it overstays) and removes
    // the directory. Safe to call twice.
    void Stop();

private:
    void Relay(int fd);

    LineSink* status_;
    pid_t pid_ = -1;
    std::string dir_;
    std::thread relay_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool listening_ = false;
    bool ended_ = false;  // the stand-in closed its output
};

}  // namespace owhost
