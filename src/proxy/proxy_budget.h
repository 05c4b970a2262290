// What one proxy check task may spend on the browsers' settings. They are
// outside data: a "ProxyServer" value of 1024 bytes holds some 170
// proxies, each name may resolve to 64 addresses and each probe lasts up to
// about 26 s, while the task holds the proxy mutex and a stop waits for it.
// So one task probes each distinct endpoint once, at most
// kMaxProxyEndpointsPerTask of them, and starts no resolution or probe once
// kProxyTaskTimeMs have passed. A browser offers five protocols, so a real
// setting has a handful of endpoints and is read in full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>

#include "platform/os.h"

namespace outlinkwatch {

constexpr size_t kMaxProxyEndpointsPerTask = 32;
constexpr uint64_t kProxyTaskTimeMs = 5u * 60u * 1000u;

class ProxyTaskBudget {
public:
    // Starts the account of a task on the Os's clock, with nothing probed.
    void Begin(Os* os);
    void End() { active_ = false; }
    bool Active() const { return active_; }
    // Whether the task's time is not up yet.
    bool TimeLeft() const;
    // The result of a probe of this endpoint earlier in the task, if any.
    bool Known(uint32_t address, uint16_t port, int* result) const;
    // Whether one more endpoint may be probed.
    bool RoomForEndpoint() const { return probed_.size() < kMaxProxyEndpointsPerTask; }
    void Record(uint32_t address, uint16_t port, int result) { probed_[{address, port}] = result; }

private:
    Os* os_ = nullptr;
    uint64_t startMs_ = 0;
    bool active_ = false;
    std::map<std::pair<uint32_t, uint16_t>, int> probed_;
};

}  // namespace outlinkwatch
