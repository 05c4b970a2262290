// Numbered one-shot and periodic timers that call one registered callback
// on a thread of their own. The platform half (a hidden window on Windows,
// a timer thread elsewhere) sits behind the OS seam's TimerHost.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "outlinkwatch/export.h"
#include "platform/os.h"

namespace lumenutil {

// Status codes of SetMyTimer and KillMyTimer.
constexpr uint32_t kTimerArmed = 41;
constexpr uint32_t kTimerStopped = 42;
constexpr uint32_t kTimerArmFailed = 0x30000027;
constexpr uint32_t kTimerAlreadyArmed = 0x30000028;
constexpr uint32_t kTimerNotArmed = 0x3000002B;

// Called as (0, 0, timer id, 0, 0).
using TimerCallback = void (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);

class CLumenTimer : private outlinkwatch::TimerSink {
public:
    // Timers on the given OS; null means the process-wide one.
    explicit CLumenTimer(outlinkwatch::Os* os = nullptr);
    ~CLumenTimer() override;
    CLumenTimer(const CLumenTimer&) = delete;
    CLumenTimer& operator=(const CLumenTimer&) = delete;

    void RegeditMyTimer(TimerCallback callback);
    bool CreateTimerWindows();
    uint32_t SetMyTimer(uint32_t id, int32_t elapseMs, int32_t repeat);
    uint32_t KillMyTimer(uint32_t id);
    void OnTimer(uint32_t id) override;

    bool IsArmed(uint32_t id);

    // How long the destructor waits for the timer thread to end.
    static constexpr uint32_t kStopWaitMs = 2000;

private:
    std::map<uint32_t, int32_t> m_mapTimers;
    TimerCallback m_pfnCallback = nullptr;
    // Recursive, like the critical section it stands for: the callback runs
    // under it and may arm or kill timers of this same object on this thread.
    // No call that waits for the timer thread is made under it, since a tick
    // under way holds it: that wait would only end at its time-out.
    std::recursive_mutex m_csLock;
    // Serialises starting the host, SetMyTimer and KillMyTimer around their platform calls;
    // a tick never takes it.
    std::mutex m_platformLock;
    std::unique_ptr<outlinkwatch::TimerHost> m_host;
    bool m_bStarted = false;  // guarded by m_platformLock
};

}  // namespace lumenutil
