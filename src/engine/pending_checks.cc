// The checks the engine dispatches to, until the probes, the proxy
// inspection and the filter-driver reaction are built: each reports that it
// has nothing to check.
#include "plugin/policy.h"

int CPolicy::PrintTracert(const std::string&, int) { return 0; }

int CPolicy::TCPCheckOutlink() { return 0; }

void CPolicy::CheckProxyConfig() {
    m_pOs->WaitForObjects(&m_hProxyMutex, 1, outlinkwatch::kInfinite);
    try {
        RetryUnresolved("Proxy");
    } catch (...) {
        OW_LOG(this, 2, "CPolicy::CheckProxyConfig", "Check proxy configuration catch an exception");
    }
    m_pOs->ReleaseMutexObject(m_hProxyMutex);
}

int CPolicy::EnableProxy() { return 1; }
