// One connection check: serialised by the connection mutex, skipped while
// the computer has no usable IPv4 address, then the mode's check.
#include <exception>

#include "engine/active_network.h"
#include "engine/adapter_query.h"
#include "engine/check_mutex.h"
#include "plugin/policy.h"

using outlinkwatch::AdapterBuffer;
using outlinkwatch::kAdapterRecordSize;
using outlinkwatch::kErrorBufferOverflow;
using outlinkwatch::kErrorSuccess;
using outlinkwatch::QueryAdapters;

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

int CPolicy::IsActivedNetwork() {
    const char* fn = "CPolicy::IsActivedNetwork";
    uint32_t size = 0;
    uint32_t rc = QueryAdapters(m_pOs, nullptr, &size);
    if (rc != kErrorSuccess && rc != kErrorBufferOverflow) {
        OW_LOG(this, 2, fn, "GetAdaptersInfo size error!");
        return 0;
    }
    AdapterBuffer buffer;
    if (!buffer.Allocate(size)) {
        OW_LOG(this, 2, fn, "pAdapterListBuffer == NULL!");
        return 0;
    }
    rc = QueryAdapters(m_pOs, &buffer, &size);
    OW_LOG(this, 2, fn, "%u", size);
    if (rc == kErrorBufferOverflow) {
        // The list grew since the size was asked for: size is now what the
        // failing call reported.
        OW_LOG(this, 2, fn, "ERROR_BUFFER_OVERFLOW ");
        size += kAdapterRecordSize;
        const bool allocated = buffer.Allocate(size);
        OW_LOG(this, 2, fn, "%u", size);
        if (!allocated) {
            OW_LOG(this, 2, fn, "pAdapterListBuffer == NULL!");
            return 0;
        }
        rc = QueryAdapters(m_pOs, &buffer, &size);
    }
    if (rc != kErrorSuccess) return 0;
    if (outlinkwatch::HasUsableAddress(buffer.adapters())) return 1;
    OW_LOG(this, 2, fn, "return FALSE;");
    return 0;
}

int CPolicy::RunConnCheck() {
    RetryUnresolved("Conn");
    if (m_settings.m_nCheckType == 0) return TraceRouteAddrs();
    return TCPCheckOutlink();
}

int CPolicy::TraceRouteAddrs() {
    if (m_settings.m_lstTracertIP.empty()) return 1;
    for (uint32_t ip : m_settings.m_lstTracertIP) {
        // A repeated Exec waits for this check: the rest of the list is
        // traced with the new parameters.
        if (m_bParamsPending.load() != 0) return 0;
        if (PrintTracert(outlinkwatch::AddressText(outlinkwatch::NetFromHost(ip)), 1) != 0) return 1;
    }
    return 0;
}
