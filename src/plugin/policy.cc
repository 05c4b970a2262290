// The policy object's life: construction, identity, start, stop, destruction.
#include "plugin/policy.h"

#include "lumenutil/system_info.h"
#include "platform/check_mutex.h"
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
CPolicy::CPolicy() : m_monitor(os(), this, {g_bExit, g_bRouteThreadStopped, g_bProxyThreadStopped}) {
    outlinkwatch::AceStart();
    ++s_nLive;
    m_monitor.m_timer.RegeditMyTimer(Timer_CallBack);
    g_pPolicy.store(this);
    g_bExit.store(0);
    g_bRouteThreadStopped.store(1);
    g_bProxyThreadStopped.store(1);
}

CPolicy::~CPolicy() {
    StopChecks(true);
    m_monitor.CloseHandles();
    // The timer callback finds the policy through this pointer; both timers
    // are stopped, so no tick is under way any more.
    CPolicy* self = this;
    g_pPolicy.compare_exchange_strong(self, nullptr);
    --s_nLive;
    outlinkwatch::AceStop();
}

int CPolicy::Initialize(std::string policyType) {
    int osCode = 0, servicePack = 0;  // both set by OSCodeFromFacts, -1 when unknown
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

bool CPolicy::ThreadsRunning() const { return m_monitor.ThreadsRunning(); }

int CPolicy::Exec(uint32_t) {
    g_bExit.store(0);
    if (ThreadsRunning()) return ExecWhileRunning();
    m_bParamsPending.store(0);
    m_monitor.CreateNamedEvents();
    if (ReadParams() == 0) return 1;
    if (!m_monitor.CreateCheckMutexes()) return 1;
    m_monitor.KillTimers();
    m_monitor.StartThreads(MonitorRouteThread, MonitorProxyThread, this);
    return 0;
}

// A repeated Exec while the threads run: no second pair of threads, the
// parameters read again while no check runs, and both timers running
// afterwards. The agent's thread waits for a check only as long as a trace
// takes to stop; a check that runs longer leaves the reading to the next.
int CPolicy::ExecWhileRunning() {
    m_bParamsPending.store(1);
    m_connCheck.CancelTrace();
    m_monitor.CreateNamedEvents();
    int result = 0;
    {
        CheckMutexHold conn(m_pOs, m_monitor.ConnMutex(), kExecCheckWaitMs);
        CheckMutexHold proxy(m_pOs, conn.held() ? m_monitor.ProxyMutex() : nullptr, kExecCheckWaitMs);
        if (conn.held() && proxy.held()) {
            m_bParamsPending.store(0);
            result = ReadParams() == 0 ? 1 : 0;
        } else {
            OW_LOG(this, 2, "CPolicy::Exec", "A check is running; the parameters are read before the next one.");
        }
    }
    // The monitor threads sleep without time limit while their timers were
    // armed, so an arm that fails here has them try again.
    if (!SetCheckConnTask()) m_monitor.WakeConnRearm();
    if (!SetCheckProxyTask()) m_monitor.WakeProxyRearm();
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
    m_proxyCheck.ForgetLastSeen();
    m_connCheck.ForgetFindings();
}

void CPolicy::ForgetFindings() {
    m_proxyCheck.ForgetFindings();
    m_connCheck.ForgetFindings();
}

void CPolicy::StopRouteThread() { m_monitor.StopRouteThread(); }
void CPolicy::StopProxyThread() { m_monitor.StopProxyThread(); }

void CPolicy::StopChecks(bool releasing) {
    EnableProxy();
    m_monitor.KillTimers();
    if (releasing) OW_LOG(this, 2, "CPolicy::~CPolicy", "Begin to release resourse.");
    m_connCheck.CancelTrace();

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

    m_monitor.CloseHandles();

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

// --- the monitor's threads and timer, handed the policy as their argument

uint32_t MonitorRouteThread(void* policy) {
    CPolicy* self = static_cast<CPolicy*>(policy);
    return self->m_monitor.RunRouteThread(*self);
}

uint32_t MonitorProxyThread(void* policy) {
    CPolicy* self = static_cast<CPolicy*>(policy);
    return self->m_monitor.RunProxyThread(*self);
}

void Timer_CallBack(uint32_t, uint32_t, uint32_t id, uint32_t, uint32_t) {
    CPolicy* policy = g_pPolicy.load();
    // Before any policy exists there is only the process-wide OS to tell.
    outlinkwatch::Os* os = policy != nullptr ? policy->os() : outlinkwatch::CurrentOs();
    if (id == kProxyTimerId) os->System()->DebugOutput("PROXY_SLEEPONEMIN_ID");
    if (id == kConnTimerId) os->System()->DebugOutput("CONN_SLEEPONEMIN_ID");
    if (policy != nullptr) policy->m_monitor.OnTimer(id);
}

bool CPolicy::SetCheckConnTask() { return m_monitor.ArmConnTask(); }
bool CPolicy::SetCheckProxyTask() { return m_monitor.ArmProxyTask(); }
void CPolicy::MarkRouteChanged() { m_connCheck.CancelTrace(); }
