// What one proxy check task may spend on the browsers' settings, and what a
// judgement cut short leaves to the next task. The settings are outside
// data: a "ProxyServer" value of 1024 bytes holds up to 204 endpoints
// ("=a:1;" is five bytes), a name may take the resolver's whole time-out
// and a probe lasts up to about 26 s, while the task holds the proxy mutex
// and a stop waits for it. So each browser's judgement has its own share of
// the task's time: once its share has passed, it starts no further name
// resolution or probe, and one browser's setting cannot starve the other's.
// A judgement stopped there is unfinished: the next task goes on with it,
// keeping the names looked up and the endpoints probed for the same raw
// setting, so that the size of a setting limits time, never what is seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <utility>

#include "platform/os.h"

namespace outlinkwatch {

constexpr uint64_t kProxyTaskTimeMs = 5u * 60u * 1000u;
enum ProxyBrowser { kProxyIE = 0, kProxyFirefox = 1, kProxyReading = 2 };  // the last: a reading of its own
constexpr uint64_t kProxyBrowserShareMs = kProxyTaskTimeMs / 2;
// The most endpoints a setting holds, and the longest one probe lasts.
constexpr uint32_t kMaxProxySettingEndpoints = 204;
constexpr uint64_t kProxyProbeWorstMs = 26000;
// A probe starts while the share has not passed, so a task that is cut
// short has made at least this many probes of the browser's setting...
constexpr uint32_t kProxyProbesPerShare =
    static_cast<uint32_t>((kProxyBrowserShareMs + kProxyProbeWorstMs - 1) / kProxyProbeWorstMs);
// ...and every endpoint of any setting of addresses is probed within this
// many tasks (34). Names add their look-ups, each at most once a setting.
constexpr uint32_t kProxyTasksForAnySetting =
    (kMaxProxySettingEndpoints + kProxyProbesPerShare - 1) / kProxyProbesPerShare;

class ProxyTaskBudget {
public:
    // Starts the account of a task on the Os's clock; what unfinished
    // judgements left stays for BeginBrowser.
    void Begin(Os* os);
    void End() { active_ = false; }
    bool Active() const { return active_; }
    // A browser's judgement of this raw setting starts: its share of the
    // time begins. What an unfinished judgement of the same setting left is
    // kept, anything else forgotten.
    void BeginBrowser(ProxyBrowser browser, const std::string& setting);
    // Whether the running judgement's share has not passed; when it has,
    // that judgement is left unfinished.
    bool TimeLeft();
    // Whether a judgement stopped at its share and waits for the next task.
    bool Unfinished() const { return slots_[kProxyIE].unfinished || slots_[kProxyFirefox].unfinished; }
    // Every judgement starts afresh.
    void Forget();

    // The result of a probe of this endpoint, in this task or earlier in the
    // running judgement, if any.
    bool Known(uint32_t address, uint16_t port, int* result) const;
    void Record(uint32_t address, uint16_t port, int result);
    // Name look-ups of the running judgement: the proxy list's (addresses)
    // and the probe's (its first address, 0xFFFFFFFF for none).
    bool KnownNames(const std::string& host, std::list<std::string>* addresses) const;
    void RecordNames(const std::string& host, const std::list<std::string>& addresses);
    bool KnownEndpoint(const std::string& host, uint32_t* net) const;
    void RecordEndpoint(const std::string& host, uint32_t net) { slot().endpoints[host] = net; }

private:
    using Endpoint = std::pair<uint32_t, uint16_t>;
    struct Slot {
        std::string setting;
        bool unfinished = false;
        std::map<Endpoint, int> probed;
        std::map<std::string, std::list<std::string>> names;
        std::map<std::string, uint32_t> endpoints;
    };
    Slot& slot() { return slots_[current_]; }
    const Slot& slot() const { return slots_[current_]; }

    Os* os_ = nullptr;
    uint64_t shareStartMs_ = 0;
    bool active_ = false;
    ProxyBrowser current_ = kProxyReading;
    Slot slots_[3];
    std::map<Endpoint, int> probedInTask_;  // both browsers' probes of this task
};

}  // namespace outlinkwatch
