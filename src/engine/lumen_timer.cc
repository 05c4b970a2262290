#include "engine/lumen_timer.h"

#include <algorithm>

namespace lumenutil {

CLumenTimer::CLumenTimer(outlinkwatch::Os* os)
    : m_host((os != nullptr ? os : outlinkwatch::CurrentOs())->Clock()->CreateTimerHost()) {}

CLumenTimer::~CLumenTimer() {
    if (m_host) m_host->Stop(kStopWaitMs);
    std::lock_guard<std::recursive_mutex> lock(m_csLock);
    m_mapTimers.clear();
}

void CLumenTimer::RegeditMyTimer(TimerCallback callback) {
    {
        std::lock_guard<std::recursive_mutex> lock(m_csLock);
        m_pfnCallback = callback;
    }
    CreateTimerWindows();
}

// Under the platform lock, not m_csLock: the host takes its own delivery
// lock to start, and a tick holds that one while it takes m_csLock.
bool CLumenTimer::CreateTimerWindows() {
    std::lock_guard<std::mutex> platform(m_platformLock);
    if (!m_host) return false;
    if (m_bStarted) return true;
    m_bStarted = m_host->Start(this);
    return m_bStarted;
}

uint32_t CLumenTimer::SetMyTimer(uint32_t id, int32_t elapseMs, int32_t repeat) {
    std::lock_guard<std::mutex> platform(m_platformLock);
    {
        std::lock_guard<std::recursive_mutex> lock(m_csLock);
        if (m_pfnCallback == nullptr) return kTimerArmFailed;
        if (m_mapTimers.count(id) != 0) return kTimerAlreadyArmed;
        if (!m_host || !m_bStarted) return kTimerArmFailed;
        // In the map before the platform timer exists, so that its first
        // tick, however soon, finds it.
        m_mapTimers[id] = repeat;
    }
    if (m_host->Arm(id, static_cast<uint32_t>(std::max(elapseMs, 0)))) return kTimerArmed;
    std::lock_guard<std::recursive_mutex> lock(m_csLock);
    m_mapTimers.erase(id);
    return kTimerArmFailed;
}

uint32_t CLumenTimer::KillMyTimer(uint32_t id) {
    std::lock_guard<std::mutex> platform(m_platformLock);
    {
        std::lock_guard<std::recursive_mutex> lock(m_csLock);
        auto it = m_mapTimers.find(id);
        if (it == m_mapTimers.end()) return kTimerNotArmed;
        m_mapTimers.erase(it);
    }
    // A tick that comes before this no longer finds the id and stops the
    // platform timer itself.
    m_host->Disarm(id);
    return kTimerStopped;
}

// Runs on the timer's own thread, so the platform calls here do not wait
// for another thread.
void CLumenTimer::OnTimer(uint32_t id) {
    std::lock_guard<std::recursive_mutex> lock(m_csLock);
    if (m_pfnCallback == nullptr) return;
    auto it = m_mapTimers.find(id);
    if (it == m_mapTimers.end()) {
        // A tick of a timer we no longer know: stop it at the platform.
        if (m_host) m_host->Disarm(id);
        return;
    }
    if (it->second == 0) {
        if (m_host) m_host->Disarm(id);
        m_mapTimers.erase(it);
    }
    m_pfnCallback(0, 0, id, 0, 0);
}

bool CLumenTimer::IsArmed(uint32_t id) {
    std::lock_guard<std::recursive_mutex> lock(m_csLock);
    return m_mapTimers.count(id) != 0;
}

}  // namespace lumenutil
