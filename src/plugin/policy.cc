// The policy object's life: construction, identity, start, stop, destruction.
#include "plugin/policy.h"

#include "engine/check_mutex.h"
#include "lumenutil/system_info.h"
#include "platform/os.h"
#include "probes/ace_session.h"

using outlinkwatch::CheckMutexHold;
using outlinkwatch::Handle;

std::atomic<CPolicy*> g_pPolicy{nullptr};
std::atomic<int32_t> g_bExit{0};
std::atomic<int32_t> g_bRouteThreadStopped{1};
std::atomic<int32_t> g_bProxyThreadStopped{1};
std::atomic<int32_t> g_nOSCode{0};
std::atomic<int> CPolicy::s_nLive{0};

// The socket library is started by the OS backend itself.
CPolicy::CPolicy() : m_timer(os()) {
    outlinkwatch::AceStart();
    ++s_nLive;
    m_timer.RegeditMyTimer(Timer_CallBack);
    g_pPolicy.store(this);
    g_bExit.store(0);
    g_bRouteThreadStopped.store(1);
    g_bProxyThreadStopped.store(1);
}

CPolicy::~CPolicy() {
    StopChecks(true);
    CloseAndNull(m_hConnMutex);
    CloseAndNull(m_hProxyMutex);
    CloseAndNull(m_hConnExitEvent);
    CloseAndNull(m_hProxyExitEvent);
    CloseAndNull(m_hProxyChangeEvent);
    CloseAndNull(m_hCheckCycleEvent);
    CloseAndNull(m_hConnRearmEvent);
    CloseAndNull(m_hProxyRearmEvent);
    m_hRouteThread = nullptr;
    m_hProxyThread = nullptr;
    // The timer callback finds the policy through this pointer; both timers
    // are stopped, so no tick is under way any more.
    CPolicy* self = this;
    g_pPolicy.compare_exchange_strong(self, nullptr);
    --s_nLive;
    outlinkwatch::AceStop();
}

void CPolicy::CloseAndNull(Handle& h) {
    if (h != nullptr) {
        m_pOs->Kernel()->CloseObject(h);
        h = nullptr;
    }
}

void CPolicy::CloseAndNull(std::atomic<Handle>& h) {
    Handle old = h.exchange(nullptr);
    if (old != nullptr) m_pOs->Kernel()->CloseObject(old);
}

int CPolicy::Initialize(std::string policyType) {
    int osCode = -1;
    int servicePack = -1;
    lumenutil::OSCodeFromFacts(m_pOs->System()->VersionFacts(), 0, osCode, servicePack);
    g_nOSCode.store(osCode);
    SetModuleName(kModuleName);
    return policyType == kPolicyType ? 200 : -1;
}

int CPolicy::Reserved17(uint32_t, uint32_t) { return 0; }
std::string CPolicy::GetInfo(uint32_t) { return std::string(); }
int CPolicy::Reserved22() { return 0; }
int CPolicy::Reserved23() { return 0; }
int CPolicy::Reserved32() { return 1; }

bool CPolicy::ThreadsRunning() const {
    return g_bRouteThreadStopped.load() == 0 || g_bProxyThreadStopped.load() == 0;
}

int CPolicy::Exec(uint32_t) {
    g_bExit.store(0);
    if (ThreadsRunning()) return ExecWhileRunning();
    m_bParamsPending.store(0);
    CreateNamedEvents();
    if (ReadParams() == 0) return 1;
    if (!CreateCheckMutexes()) return 1;
    m_timer.KillMyTimer(kProxyTimerId);
    m_timer.KillMyTimer(kConnTimerId);
    StartMonitorThreads();
    return 0;
}

// A repeated Exec while the threads run: no second pair of threads, the
// parameters read again while no check runs, and both timers running
// afterwards. The agent's thread waits for a check only as long as a trace
// takes to stop; a check that runs longer leaves the reading to the next.
int CPolicy::ExecWhileRunning() {
    m_bParamsPending.store(1);
    m_tracer.m_bRouteChanged.store(1);
    CreateNamedEvents();
    int result = 0;
    {
        CheckMutexHold conn(m_pOs, m_hConnMutex, kExecCheckWaitMs);
        CheckMutexHold proxy(m_pOs, conn.held() ? m_hProxyMutex : nullptr, kExecCheckWaitMs);
        if (conn.held() && proxy.held()) {
            m_bParamsPending.store(0);
            result = ReadParams() == 0 ? 1 : 0;
        } else {
            OW_LOG(this, 2, "CPolicy::Exec", "A check is running; the parameters are read before the next one.");
        }
    }
    // The monitor threads sleep without time limit while their timers were
    // armed, so an arm that fails here has them try again.
    if (!SetCheckConnTask()) m_pOs->Kernel()->SetEventObject(m_hConnRearmEvent);
    if (!SetCheckProxyTask()) m_pOs->Kernel()->SetEventObject(m_hProxyRearmEvent);
    return result;
}

void CPolicy::ApplyPendingParams(Handle otherMutex, uint32_t waitMs) {
    if (m_bParamsPending.load() == 0) return;
    CheckMutexHold other(m_pOs, otherMutex, waitMs);
    if (!other.held()) return;
    if (m_bParamsPending.exchange(0) != 0) ReadParams();
}

int CPolicy::ReadParams() {
    ResetCheckState();
    return GetPolicyParams();
}

void CPolicy::ResetCheckState() {
    m_strIEInvalidMsg.clear();
    m_strFireFoxInvalidMsg.clear();
    m_strTracertInfo.clear();
    m_strConnInfo.clear();
    m_strLastIEProxyServer.clear();
    m_strLastFireFoxProxy.clear();
    m_nLastIEProxyEnable = 0;
    m_nLastFireFoxProxyEnable = 0;
    m_proxyBudget.Forget();
}

void CPolicy::CreateNamedEvents() {
    // The message is written whether or not the creation succeeded; a
    // thread that needs a missing event reports it.
    if (m_hConnExitEvent == nullptr) {
        m_hConnExitEvent = m_pOs->Kernel()->CreateEventObject("OUTLINKEXIT", false, false);
        OW_LOG(this, 2, "CPolicy::Exec", "Create Exit Event");
    }
    if (m_hProxyExitEvent == nullptr) {
        m_hProxyExitEvent = m_pOs->Kernel()->CreateEventObject("INVALIDPROXYEXIT", false, false);
        OW_LOG(this, 2, "CPolicy::Exec", "Create Proxy Exit Event");
    }
    if (m_hProxyChangeEvent.load() == nullptr) {
        m_hProxyChangeEvent = m_pOs->Kernel()->CreateEventObject("PROXY_CHANGE", false, false);
        OW_LOG(this, 2, "CPolicy::Exec", "Create proxy change event!");
    }
    if (m_hCheckCycleEvent.load() == nullptr) {
        m_hCheckCycleEvent = m_pOs->Kernel()->CreateEventObject("CHECK_CYC", false, false);
        OW_LOG(this, 2, "CPolicy::Exec", "Create check cycle event!");
    }
    if (m_hConnRearmEvent == nullptr) m_hConnRearmEvent = m_pOs->Kernel()->CreateEventObject(nullptr, false, false);
    if (m_hProxyRearmEvent == nullptr) m_hProxyRearmEvent = m_pOs->Kernel()->CreateEventObject(nullptr, false, false);
}

// Each missing mutex is made, owned and then released, so both start free;
// one left from an earlier Exec is kept.
bool CPolicy::CreateCheckMutexes() {
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

// A thread counts as running from here, not only once it has begun: a
// stop that comes before the thread's first step must still wait for it.
void CPolicy::StartMonitorThreads() {
    struct Monitor {
        outlinkwatch::ThreadFunction fn;
        Handle& thread;
        std::atomic<int32_t>& stopped;
        const char* failure;
    } monitors[] = {
        {MonitorRouteThread, m_hRouteThread, g_bRouteThreadStopped, "MonitorRouteThread create failed!"},
        {MonitorProxyThread, m_hProxyThread, g_bProxyThreadStopped, "MonitorProxyThread create failed!"},
    };
    for (Monitor& m : monitors) {
        CloseAndNull(m.thread);
        m.stopped.store(0);
        m.thread = m_pOs->Kernel()->StartThread(m.fn, this);
        if (m.thread == nullptr) {
            m.stopped.store(1);
            OW_LOG(this, 2, "CPolicy::Exec", "%s", m.failure);
        }
    }
}

void CPolicy::ForgetFindings() {
    m_strLastIEProxyServer.clear();
    m_strLastFireFoxProxy.clear();
    m_nLastIEProxyEnable = 0;
    m_nLastFireFoxProxyEnable = 0;
    m_proxyBudget.Forget();
    m_strIEInvalidMsg.clear();
    m_strFireFoxInvalidMsg.clear();
    m_strIEProxyInfo.clear();
    m_strFireFoxProxyInfo.clear();
    m_strTracertInfo.clear();
    m_strConnInfo.clear();
}

void CPolicy::StopRouteThread() {
    g_bExit.store(1);
    if (m_hConnExitEvent != nullptr) {
        m_pOs->Kernel()->SetEventObject(m_hConnExitEvent);
        OW_LOG(this, 2, "CPolicy::StopRouteThread", "Stop monitor Route thread.");
        // No time limit: the thread may be in the middle of a check, and the
        // object must outlive it.
        while (g_bRouteThreadStopped.load() == 0) m_pOs->Clock()->SleepMs(200);
    }
    CloseAndNull(m_hRouteThread);
    OW_LOG(this, 2, "CPolicy::StopRouteThread", "The Routethread is stopped.");
}

void CPolicy::StopProxyThread() {
    g_bExit.store(1);
    if (m_hProxyExitEvent != nullptr) {
        OW_LOG(this, 2, "CPolicy::StopProxyThread", "Stop monitor proxy thread.");
        m_pOs->Kernel()->SetEventObject(m_hProxyExitEvent);
        while (g_bProxyThreadStopped.load() == 0) m_pOs->Clock()->SleepMs(100);
    }
    CloseAndNull(m_hProxyThread);
    OW_LOG(this, 2, "CPolicy::StopProxyThread", "The Proxythread is stopped.");
}

void CPolicy::StopChecks(bool releasing) {
    EnableProxy();
    m_timer.KillMyTimer(kProxyTimerId);
    m_timer.KillMyTimer(kConnTimerId);
    if (releasing) OW_LOG(this, 2, "CPolicy::~CPolicy", "Begin to release resourse.");
    m_tracer.m_bRouteChanged.store(1);

    // A check under way may set a deny list after the lift above; it is
    // lifted once more when the threads have stopped.
    const bool checksRan = ThreadsRunning();
    StopRouteThread();
    StopProxyThread();
    if (checksRan) EnableProxy();
}

int CPolicy::done(std::string) {
    StopChecks(false);

    // The checks read and write these texts while they run, so they are
    // forgotten once the threads have stopped rather than before.
    ForgetFindings();

    CloseAndNull(m_hConnExitEvent);
    CloseAndNull(m_hProxyExitEvent);
    CloseAndNull(m_hConnMutex);
    CloseAndNull(m_hProxyMutex);
    CloseAndNull(m_hProxyChangeEvent);
    CloseAndNull(m_hCheckCycleEvent);
    CloseAndNull(m_hConnRearmEvent);
    CloseAndNull(m_hProxyRearmEvent);

    OW_LOG(this, 2, "CPolicy::done", "Done out");
    return 0;
}

std::string CPolicy::GetLangString(const std::string& key) {
    std::string text;
    if (IAgent* agent = GetCheckedAgent()) {
        const std::string module = kModuleName;
        agent->GetLangString(module, key, &text);
    }
    return text;
}
