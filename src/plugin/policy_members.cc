// The policy's operations that its parts carry out: each forwards to the
// part that owns the state, handing it what it needs.
#include "plugin/policy.h"

#include "config/params_plan.h"
#include "engine/check_mutex.h"

// --- settings

// --- connection check

// --- proxy check

int CPolicy::CheckProxyConfig() {
    outlinkwatch::CheckMutexHold hold(m_pOs, m_hProxyMutex, outlinkwatch::kInfinite);
    try {
        return m_proxyCheck.CheckProxyConfig([this] { ApplyPendingParams(m_hConnMutex, 0); },
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
