// The built-in proxy demo's user: a private temporary directory holding a
// registry (OUTLINKWATCH_REGISTRY_DIR) and a home (HOME) in which this
// host's own user has an Internet Explorer setting and a Firefox profile,
// both naming a loopback proxy the demo runs; a stand-in for the agent's
// user-interface process, through which the policy finds that user; and,
// a while after the start, the user switching both proxies off.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "host_agent.h"

namespace owhost {

// The loopback address of the demo's proxy. Not 127.0.0.1: the policy
// takes that address for no proxy at all.
constexpr uint32_t kDemoProxyAddress = 0x7F000002u;
constexpr const char* kDemoProxyText = "127.0.0.2";

// The key under HKEY_USERS of a Unix user, as the plug-in's Linux backend names it.
std::string UnixUserSid(uint32_t uid);
// The registry file with the user's Internet Explorer proxy setting.
std::string DemoRegistryText(const std::string& sid, bool on, uint16_t port);
// prefs.js with a manual proxy (type 1) or none (type 0).
std::string DemoPrefsText(bool on, uint16_t port);

class ProxyDemo {
public:
    // How long after the start the user switches the proxies off.
    static constexpr int kSwitchOffSeconds = 10;

    explicit ProxyDemo(LineSink* status) : status_(status) {}
    ~ProxyDemo() { Stop(); }
    ProxyDemo(const ProxyDemo&) = delete;
    ProxyDemo& operator=(const ProxyDemo&) = delete;

    // Makes the directory and the settings, sets OUTLINKWATCH_REGISTRY_DIR
    // and HOME (call while the host has no other thread) and starts the
    // user-interface stand-in. False with a one-line reason.
    bool Prepare(uint16_t proxyPort, std::string* error);
    // Switches both proxies off kSwitchOffSeconds from now, unless stopped first.
    bool StartSwitchOff(std::string* error);
    // Ends the stand-in and the timer, removes the directory. Safe twice.
    void Stop();

private:
    bool WriteSettings(bool on, std::string* error);

    LineSink* status_;
    std::string dir_, sid_;
    uint16_t port_ = 0;
    pid_t ui_ = -1;
    int uiPipe_ = -1;  // the stand-in ends when this closes
    std::thread switcher_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool stopping_ = false;
};

}  // namespace owhost
