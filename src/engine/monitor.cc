// The two monitor threads and the timer callback that wakes them.
#include "plugin/policy.h"

using outlinkwatch::Handle;
using outlinkwatch::kInfinite;
using outlinkwatch::kWaitObject0;

namespace {

// A monitor thread sleeps until woken while its timer is armed; one that
// could not be armed is tried again after a pause. An arm that failed on
// another thread while this one slept wakes it through its re-arm event.
uint32_t RetryWaitMs(CPolicy* policy, uint32_t timerId) {
    return policy->m_timer.IsArmed(timerId) ? kInfinite : kTimerRetryMs;
}

}  // namespace

uint32_t MonitorRouteThread(void* arg) {
    CPolicy* policy = static_cast<CPolicy*>(arg);
    outlinkwatch::Os* os = policy->os();
    g_bRouteThreadStopped.store(0);
    OW_LOG(policy, 2, "MonitorRouteThread", "Begin!!");

    policy->TracertCallback();
    policy->SetCheckConnTask();

    Handle routeChange = os->Kernel()->CreateEventObject("Routechange", true, false);
    if (routeChange == nullptr) {
        OW_LOG(policy, 4, "MonitorRouteThread", "CreateEvent Routechange Fail");
        g_bRouteThreadStopped.store(1);
        return 0;
    }
    const Handle waitSet[4] = {policy->m_hConnExitEvent, routeChange, policy->m_hCheckCycleEvent.load(),
                               policy->m_hConnRearmEvent};
    const uint32_t waitCount = waitSet[3] != nullptr ? 4 : 3;  // without it, the pause alone retries

    while (g_bExit.load() == 0) {
        if (!os->Network()->NotifyRouteChange(routeChange)) {
            os->Clock()->SleepMs(1000);
            OW_LOG(policy, 4, "MonitorRouteThread", "Fail!!");
            continue;
        }
        const uint32_t wait = os->Kernel()->WaitForObjects(waitSet, waitCount, RetryWaitMs(policy, kConnTimerId));
        if (wait == kWaitObject0) {
            OW_LOG(policy, 2, "MonitorRouteThread", "WaitForMultipleObjects Exit");
            g_bExit.store(1);
        } else if (wait == kWaitObject0 + 1) {
            OW_LOG(policy, 2, "MonitorRouteThread", "the route changed");
            policy->m_connCheck.CancelTrace();
            policy->TracertCallback();
            os->Kernel()->ResetEventObject(routeChange);
            os->Clock()->SleepMs(100);
        } else if (wait == kWaitObject0 + 2) {
            OW_LOG(policy, 2, "MonitorRouteThread", "conn cyc event active!");
            policy->m_connCheck.CancelTrace();
            policy->TracertCallback();
            os->Clock()->SleepMs(100);
        } else if (wait != outlinkwatch::kWaitTimeout && wait != kWaitObject0 + 3) {
            // A time-out or the re-arm event only tries the timer again.
            os->Clock()->SleepMs(1000);
            OW_LOG(policy, 2, "MonitorRouteThread", "WaitForMultipleObjects Default Error");
        }
        // The 60 s period of the minute count restarts after every wake-up.
        policy->SetCheckConnTask();
    }

    // No platform request may outlive the event it would set.
    os->Network()->CancelRouteChange(routeChange);
    os->Kernel()->CloseObject(routeChange);
    g_bRouteThreadStopped.store(1);
    return 0;
}

uint32_t MonitorProxyThread(void* arg) {
    CPolicy* policy = static_cast<CPolicy*>(arg);
    outlinkwatch::Os* os = policy->os();
    g_bProxyThreadStopped.store(0);
    OW_LOG(policy, 2, "MonitorProxyThread", "Begin!!");

    (void)policy->CheckProxyConfig();
    policy->SetCheckProxyTask();

    const Handle waitSet[3] = {policy->m_hProxyExitEvent, policy->m_hProxyChangeEvent.load(),
                               policy->m_hProxyRearmEvent};
    const uint32_t waitCount = waitSet[2] != nullptr ? 3 : 2;
    while (g_bExit.load() == 0) {
        const uint32_t wait = os->Kernel()->WaitForObjects(waitSet, waitCount, RetryWaitMs(policy, kProxyTimerId));
        if (wait == kWaitObject0) {
            OW_LOG(policy, 2, "MonitorProxyThread", "WaitForMultipleObjects Exit");
            g_bExit.store(1);
        } else if (wait == kWaitObject0 + 1) {
            (void)policy->CheckProxyConfig();
            os->Clock()->SleepMs(100);
        } else if (wait != outlinkwatch::kWaitTimeout && wait != kWaitObject0 + 2) {
            os->Clock()->SleepMs(1000);
            OW_LOG(policy, 2, "MonitorProxyThread", "WaitForMultipleObjects Default Error");
        }
        policy->SetCheckProxyTask();
    }

    g_bProxyThreadStopped.store(1);
    return 0;
}

bool CPolicy::SetCheckConnTask() {
    OW_LOG(this, 2, "CPolicy::SetCheckConnTask", "Set Connection check Task");
    m_timer.KillMyTimer(kConnTimerId);
    if (m_timer.SetMyTimer(kConnTimerId, kConnTimerMs, 1) == lumenutil::kTimerArmed) return true;
    OW_LOG(this, 4, "CPolicy::SetCheckConnTask", "Set Connection check Task failed, will retry");
    return false;
}

bool CPolicy::SetCheckProxyTask() {
    OW_LOG(this, 2, "CPolicy::SetCheckProxyTask", "Set Proxy check Task");
    m_timer.KillMyTimer(kProxyTimerId);
    if (m_timer.SetMyTimer(kProxyTimerId, kProxyTimerMs, 1) == lumenutil::kTimerArmed) return true;
    OW_LOG(this, 4, "CPolicy::SetCheckProxyTask", "Set Proxy check Task failed, will retry");
    return false;
}

void Timer_CallBack(uint32_t, uint32_t, uint32_t id, uint32_t, uint32_t) {
    CPolicy* policy = g_pPolicy.load();
    // Before any policy exists there is only the process-wide OS to tell.
    outlinkwatch::Os* os = policy != nullptr ? policy->os() : outlinkwatch::CurrentOs();
    if (id == kProxyTimerId) {
        os->System()->DebugOutput("PROXY_SLEEPONEMIN_ID");
        if (policy == nullptr) return;
        OW_LOG(policy, 4, "Timer_CallBack", "check proxy");
        if (Handle h = policy->m_hProxyChangeEvent.load()) os->Kernel()->SetEventObject(h);
    } else if (id == kConnTimerId) {
        os->System()->DebugOutput("CONN_SLEEPONEMIN_ID");
        if (policy == nullptr) return;
        if (policy->m_nCycleMinutes < policy->m_nCheckCycle.load()) {
            ++policy->m_nCycleMinutes;
            return;
        }
        OW_LOG(policy, 4, "Timer_CallBack", "Conn Task");
        policy->m_nCycleMinutes = 1;
        if (Handle h = policy->m_hCheckCycleEvent.load()) os->Kernel()->SetEventObject(h);
    }
}
