// What the built-in demo puts around the policy to stand for the agent's
// desktop, where the platform has something to show: on Windows the
// agent's user-interface process and the Internet Explorer proxy setting
// of its user (demo/win32/); on Linux nothing (demo/posix/).
#pragma once

#include <memory>
#include <string>

namespace owhost {

class LineSink;

// Allowed proxy addresses of the built-in demo policy; empty where the demo
// has no proxy setting to judge.
extern const char* const kDemoAllowedProxy;

// Everything it changed is put back by Stop.
class DemoDesktop {
public:
    explicit DemoDesktop(LineSink* status);
    ~DemoDesktop();
    DemoDesktop(const DemoDesktop&) = delete;
    DemoDesktop& operator=(const DemoDesktop&) = delete;

    // Sets it up from the host's directory; what could not be done is said
    // in a status line and left out. Call while the host has one thread.
    void Start(const std::string& hostDir);
    void Stop();

    struct State;

private:
    LineSink* status_;
    std::unique_ptr<State> state_;
};

}  // namespace owhost
