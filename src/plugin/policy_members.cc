// The policy's operations that its parts carry out: each forwards to the
// part that owns the state, handing it what it needs.
#include "plugin/policy.h"

#include "config/params_plan.h"
#include "engine/check_mutex.h"

// --- settings

// --- connection check

namespace {

// The agent's "Communication" component is reached by its slot on what the
// agent handed in, without the checked cast, so the sanitizer's type check
// is left out here as in the log call. The component belongs to the agent
// and is not released.
#if defined(__GNUC__)
__attribute__((no_sanitize("vptr")))
#endif
bool CommunicationAddress(IUnknown* agent, std::string* address) {
    if (agent == nullptr) return false;
    IUnknown* component = static_cast<IAgent*>(agent)->GetComponent("Communication");
    if (component == nullptr) return false;
    std::string other;
    static_cast<ICommunication*>(component)->GetServerAddress(address, &other);
    return true;
}

}  // namespace

bool CPolicy::AgentServerAddress(std::string* address) { return CommunicationAddress(GetAgent(), address); }

void CPolicy::TracertCallback() {
    outlinkwatch::CheckMutexHold hold(m_pOs, m_monitor.ConnMutex(), outlinkwatch::kInfinite);
    try {
        // Parameters a repeated Exec could not read at once: the proxy
        // thread never waits for this mutex, so waiting for its mutex here
        // cannot deadlock.
        ApplyPendingParams(m_monitor.ProxyMutex(), outlinkwatch::kInfinite);
        if (IsActivedNetwork() == 0) {
            OW_LOG(this, 2, "CPolicy::TracertCallback", "Network is invalid. Cancel tracerting!");
        } else {
            RunConnCheck();
        }
    } catch (...) {
        OW_LOG(this, 2, "CPolicy::TracertCallback", "Catch an exception when calling TracertCallback.");
    }
}

int CPolicy::IsActivedNetwork() { return m_connCheck.IsActivedNetwork(); }

int CPolicy::RunConnCheck() {
    RetryUnresolved("Conn");
    return m_connCheck.Run(m_settings);
}

int CPolicy::TraceRouteAddrs() { return m_connCheck.TraceRouteAddrs(m_settings); }

int CPolicy::PrintTracert(const std::string& destination, int report) {
    return m_connCheck.PrintTracert(m_settings, destination, report);
}

int CPolicy::TCPCheckOutlink() { return m_connCheck.TCPCheckOutlink(m_settings); }

// --- proxy check

int CPolicy::CheckProxyConfig() {
    outlinkwatch::CheckMutexHold hold(m_pOs, m_monitor.ProxyMutex(), outlinkwatch::kInfinite);
    try {
        return m_proxyCheck.CheckProxyConfig([this] { ApplyPendingParams(m_monitor.ConnMutex(), 0); },
                                             [this] {
                                                 std::list<uint32_t> local;
                                                 GetLocalIPList(local);
                                                 outlinkwatch::AppendMissing(m_settings.m_lstValidProxyIP, local);
                                                 RetryUnresolved("Proxy");
                                             });
    } catch (...) {
        hold.Release();
        OW_LOG(this, 2, "CPolicy::CheckProxyConfig", "Check proxy configuration catch an exception");
        return 0;
    }
}
int CPolicy::ReadIEProxy() { return m_proxyCheck.ReadIEProxy(); }
int CPolicy::ReadFireFoxProxy() { return m_proxyCheck.ReadFireFoxProxy(); }
int CPolicy::CheckIEProxy() { return m_proxyCheck.CheckIEProxy(); }
int CPolicy::checkFireFoxProxy() { return m_proxyCheck.checkFireFoxProxy(); }
int CPolicy::CheckProxyIsInvalid(std::list<ProxyRecord>& records, std::string browser) {
    return m_proxyCheck.CheckProxyIsInvalid(records, browser);
}
int CPolicy::IsProxyConfigChanged() { return m_proxyCheck.IsProxyConfigChanged(); }

// --- reaction
