// The proxy check task, run by the proxy thread at start and every 70 s.
#include "plugin/policy.h"

void CPolicy::CheckProxyConfig() {
    m_pOs->WaitForObjects(&m_hProxyMutex, 1, outlinkwatch::kInfinite);
    try {
        // The route thread may be in a long check: parameters left by a
        // repeated Exec are read here only if that can be done at once.
        ApplyPendingParams(m_hConnMutex, 0);
        RetryUnresolved("Proxy");
    } catch (...) {
        OW_LOG(this, 2, "CPolicy::CheckProxyConfig", "Check proxy configuration catch an exception");
    }
    m_pOs->ReleaseMutexObject(m_hProxyMutex);
}
