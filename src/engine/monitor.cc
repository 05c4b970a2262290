#include "engine/monitor.h"

namespace outlinkwatch {

Monitor::Monitor(Os* os, LogSink* log, MonitorFlags flags) : m_pOs(os), m_pLog(log), m_flags(flags), m_timer(os) {}

void Monitor::CloseAndNull(Handle& h) {
    if (h != nullptr) {
        m_pOs->Kernel()->CloseObject(h);
        h = nullptr;
    }
}

void Monitor::CloseAndNull(std::atomic<Handle>& h) {
    Handle old = h.exchange(nullptr);
    if (old != nullptr) m_pOs->Kernel()->CloseObject(old);
}

void Monitor::CreateNamedEvents() {
    // The message is written whether or not the creation succeeded; a
    // thread that needs a missing event reports it.
    if (m_hConnExitEvent == nullptr) {
        m_hConnExitEvent = m_pOs->Kernel()->CreateEventObject("OUTLINKEXIT", false, false);
        OW_LOG(m_pLog, 2, "CPolicy::Exec", "Create Exit Event");
    }
    if (m_hProxyExitEvent == nullptr) {
        m_hProxyExitEvent = m_pOs->Kernel()->CreateEventObject("INVALIDPROXYEXIT", false, false);
        OW_LOG(m_pLog, 2, "CPolicy::Exec", "Create Proxy Exit Event");
    }
    if (m_hProxyChangeEvent.load() == nullptr) {
        m_hProxyChangeEvent = m_pOs->Kernel()->CreateEventObject("PROXY_CHANGE", false, false);
        OW_LOG(m_pLog, 2, "CPolicy::Exec", "Create proxy change event!");
    }
    if (m_hCheckCycleEvent.load() == nullptr) {
        m_hCheckCycleEvent = m_pOs->Kernel()->CreateEventObject("CHECK_CYC", false, false);
        OW_LOG(m_pLog, 2, "CPolicy::Exec", "Create check cycle event!");
    }
    if (m_hConnRearmEvent == nullptr) m_hConnRearmEvent = m_pOs->Kernel()->CreateEventObject(nullptr, false, false);
    if (m_hProxyRearmEvent == nullptr) m_hProxyRearmEvent = m_pOs->Kernel()->CreateEventObject(nullptr, false, false);
}

// Each missing mutex is made, owned and then released, so both start free.
bool Monitor::CreateCheckMutexes() {
    const bool newConn = m_hConnMutex == nullptr;
    if (newConn) {
        m_hConnMutex = m_pOs->Kernel()->CreateMutexObject(true);
        if (m_hConnMutex == nullptr) return false;
    }
    const bool newProxy = m_hProxyMutex == nullptr;
    if (newProxy) {
        m_hProxyMutex = m_pOs->Kernel()->CreateMutexObject(true);
        if (m_hProxyMutex == nullptr) {
            if (newConn) m_pOs->Kernel()->ReleaseMutexObject(m_hConnMutex);
            return false;
        }
    }
    if (newConn) m_pOs->Kernel()->ReleaseMutexObject(m_hConnMutex);
    if (newProxy) m_pOs->Kernel()->ReleaseMutexObject(m_hProxyMutex);
    return true;
}

void Monitor::StartThreads(ThreadFunction routeThread, ThreadFunction proxyThread, void* arg) {
    struct Start {
        ThreadFunction fn;
        Handle& thread;
        std::atomic<int32_t>& stopped;
        const char* failure;
    } starts[] = {
        {routeThread, m_hRouteThread, m_flags.routeThreadStopped, "MonitorRouteThread create failed!"},
        {proxyThread, m_hProxyThread, m_flags.proxyThreadStopped, "MonitorProxyThread create failed!"},
    };
    for (Start& s : starts) {
        CloseAndNull(s.thread);
        s.stopped.store(0);
        s.thread = m_pOs->Kernel()->StartThread(s.fn, arg);
        if (s.thread == nullptr) {
            s.stopped.store(1);
            OW_LOG(m_pLog, 2, "CPolicy::Exec", "%s", s.failure);
        }
    }
}

bool Monitor::ThreadsRunning() const {
    return m_flags.routeThreadStopped.load() == 0 || m_flags.proxyThreadStopped.load() == 0;
}

void Monitor::StopRouteThread() {
    m_flags.exit.store(1);
    if (m_hConnExitEvent != nullptr) {
        m_pOs->Kernel()->SetEventObject(m_hConnExitEvent);
        OW_LOG(m_pLog, 2, "CPolicy::StopRouteThread", "Stop monitor Route thread.");
        while (m_flags.routeThreadStopped.load() == 0) m_pOs->Clock()->SleepMs(200);
    }
    CloseAndNull(m_hRouteThread);
    OW_LOG(m_pLog, 2, "CPolicy::StopRouteThread", "The Routethread is stopped.");
}

void Monitor::StopProxyThread() {
    m_flags.exit.store(1);
    if (m_hProxyExitEvent != nullptr) {
        OW_LOG(m_pLog, 2, "CPolicy::StopProxyThread", "Stop monitor proxy thread.");
        m_pOs->Kernel()->SetEventObject(m_hProxyExitEvent);
        while (m_flags.proxyThreadStopped.load() == 0) m_pOs->Clock()->SleepMs(100);
    }
    CloseAndNull(m_hProxyThread);
    OW_LOG(m_pLog, 2, "CPolicy::StopProxyThread", "The Proxythread is stopped.");
}

void Monitor::CloseHandles() {
    CloseAndNull(m_hConnExitEvent);
    CloseAndNull(m_hProxyExitEvent);
    CloseAndNull(m_hConnMutex);
    CloseAndNull(m_hProxyMutex);
    CloseAndNull(m_hProxyChangeEvent);
    CloseAndNull(m_hCheckCycleEvent);
    CloseAndNull(m_hConnRearmEvent);
    CloseAndNull(m_hProxyRearmEvent);
}

bool Monitor::ArmConnTask() {
    OW_LOG(m_pLog, 2, "CPolicy::SetCheckConnTask", "Set Connection check Task");
    m_timer.KillMyTimer(kConnTimerId);
    if (m_timer.SetMyTimer(kConnTimerId, kConnTimerMs, 1) == lumenutil::kTimerArmed) return true;
    OW_LOG(m_pLog, 4, "CPolicy::SetCheckConnTask", "Set Connection check Task failed, will retry");
    return false;
}

bool Monitor::ArmProxyTask() {
    OW_LOG(m_pLog, 2, "CPolicy::SetCheckProxyTask", "Set Proxy check Task");
    m_timer.KillMyTimer(kProxyTimerId);
    if (m_timer.SetMyTimer(kProxyTimerId, kProxyTimerMs, 1) == lumenutil::kTimerArmed) return true;
    OW_LOG(m_pLog, 4, "CPolicy::SetCheckProxyTask", "Set Proxy check Task failed, will retry");
    return false;
}

void Monitor::KillTimers() {
    m_timer.KillMyTimer(kProxyTimerId);
    m_timer.KillMyTimer(kConnTimerId);
}

void Monitor::WakeConnRearm() { m_pOs->Kernel()->SetEventObject(m_hConnRearmEvent); }
void Monitor::WakeProxyRearm() { m_pOs->Kernel()->SetEventObject(m_hProxyRearmEvent); }

namespace {

// A monitor thread sleeps until woken while its timer is armed; one that
// could not be armed is tried again after a pause. An arm that failed on
// another thread while this one slept wakes it through its re-arm event.
uint32_t RetryWaitMs(lumenutil::CLumenTimer& timer, uint32_t timerId) {
    return timer.IsArmed(timerId) ? kInfinite : kTimerRetryMs;
}

}  // namespace

uint32_t Monitor::RunRouteThread(MonitorTasks& tasks) {
    m_flags.routeThreadStopped.store(0);
    OW_LOG(m_pLog, 2, "MonitorRouteThread", "Begin!!");

    tasks.TracertCallback();
    ArmConnTask();

    Handle routeChange = m_pOs->Kernel()->CreateEventObject("Routechange", true, false);
    if (routeChange == nullptr) {
        OW_LOG(m_pLog, 4, "MonitorRouteThread", "CreateEvent Routechange Fail");
        m_flags.routeThreadStopped.store(1);
        return 0;
    }
    const Handle waitSet[4] = {m_hConnExitEvent, routeChange, m_hCheckCycleEvent.load(), m_hConnRearmEvent};
    const uint32_t waitCount = waitSet[3] != nullptr ? 4 : 3;  // without it, the pause alone retries

    while (m_flags.exit.load() == 0) {
        if (!m_pOs->Network()->NotifyRouteChange(routeChange)) {
            m_pOs->Clock()->SleepMs(1000);
            OW_LOG(m_pLog, 4, "MonitorRouteThread", "Fail!!");
            continue;
        }
        const uint32_t wait = m_pOs->Kernel()->WaitForObjects(waitSet, waitCount, RetryWaitMs(m_timer, kConnTimerId));
        if (wait == kWaitObject0) {
            OW_LOG(m_pLog, 2, "MonitorRouteThread", "WaitForMultipleObjects Exit");
            m_flags.exit.store(1);
        } else if (wait == kWaitObject0 + 1) {
            OW_LOG(m_pLog, 2, "MonitorRouteThread", "the route changed");
            tasks.MarkRouteChanged();
            tasks.TracertCallback();
            m_pOs->Kernel()->ResetEventObject(routeChange);
            m_pOs->Clock()->SleepMs(100);
        } else if (wait == kWaitObject0 + 2) {
            OW_LOG(m_pLog, 2, "MonitorRouteThread", "conn cyc event active!");
            tasks.MarkRouteChanged();
            tasks.TracertCallback();
            m_pOs->Clock()->SleepMs(100);
        } else if (wait != kWaitTimeout && wait != kWaitObject0 + 3) {
            // A time-out or the re-arm event only tries the timer again.
            m_pOs->Clock()->SleepMs(1000);
            OW_LOG(m_pLog, 2, "MonitorRouteThread", "WaitForMultipleObjects Default Error");
        }
        // The 60 s period of the minute count restarts after every wake-up.
        ArmConnTask();
    }

    // No platform request may outlive the event it would set.
    m_pOs->Network()->CancelRouteChange(routeChange);
    m_pOs->Kernel()->CloseObject(routeChange);
    m_flags.routeThreadStopped.store(1);
    return 0;
}

uint32_t Monitor::RunProxyThread(MonitorTasks& tasks) {
    m_flags.proxyThreadStopped.store(0);
    OW_LOG(m_pLog, 2, "MonitorProxyThread", "Begin!!");

    (void)tasks.CheckProxyConfig();
    ArmProxyTask();

    const Handle waitSet[3] = {m_hProxyExitEvent, m_hProxyChangeEvent.load(), m_hProxyRearmEvent};
    const uint32_t waitCount = waitSet[2] != nullptr ? 3 : 2;
    while (m_flags.exit.load() == 0) {
        const uint32_t wait = m_pOs->Kernel()->WaitForObjects(waitSet, waitCount, RetryWaitMs(m_timer, kProxyTimerId));
        if (wait == kWaitObject0) {
            OW_LOG(m_pLog, 2, "MonitorProxyThread", "WaitForMultipleObjects Exit");
            m_flags.exit.store(1);
        } else if (wait == kWaitObject0 + 1) {
            (void)tasks.CheckProxyConfig();
            m_pOs->Clock()->SleepMs(100);
        } else if (wait != kWaitTimeout && wait != kWaitObject0 + 2) {
            m_pOs->Clock()->SleepMs(1000);
            OW_LOG(m_pLog, 2, "MonitorProxyThread", "WaitForMultipleObjects Default Error");
        }
        ArmProxyTask();
    }

    m_flags.proxyThreadStopped.store(1);
    return 0;
}

void Monitor::OnTimer(uint32_t id) {
    if (id == kProxyTimerId) {
        OW_LOG(m_pLog, 4, "Timer_CallBack", "check proxy");
        if (Handle h = m_hProxyChangeEvent.load()) m_pOs->Kernel()->SetEventObject(h);
    } else if (id == kConnTimerId) {
        if (m_nCycleMinutes < m_nCheckCycle.load()) {
            ++m_nCycleMinutes;
            return;
        }
        OW_LOG(m_pLog, 4, "Timer_CallBack", "Conn Task");
        m_nCycleMinutes = 1;
        if (Handle h = m_hCheckCycleEvent.load()) m_pOs->Kernel()->SetEventObject(h);
    }
}

}  // namespace outlinkwatch
