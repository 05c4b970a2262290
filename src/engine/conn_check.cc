// One connection check: serialised by the connection mutex, skipped while
// the computer has no usable IPv4 address, then the mode's check.
#include <cstdio>
#include <exception>

#include "plugin/policy.h"

using outlinkwatch::AdapterInfo;
using outlinkwatch::kAdapterRecordSize;
using outlinkwatch::kErrorBufferOverflow;
using outlinkwatch::kErrorSuccess;

void CPolicy::TracertCallback() {
    m_pOs->WaitForObjects(&m_hConnMutex, 1, outlinkwatch::kInfinite);
    try {
        if (IsActivedNetwork() == 0) {
            OW_LOG(this, 2, "CPolicy::TracertCallback", "Network is invalid. Cancel tracerting!");
        } else {
            RunConnCheck();
        }
    } catch (...) {
        OW_LOG(this, 2, "CPolicy::TracertCallback", "Catch an exception when calling TracertCallback.");
    }
    m_pOs->ReleaseMutexObject(m_hConnMutex);
}

int CPolicy::IsActivedNetwork() {
    const char* fn = "CPolicy::IsActivedNetwork";
    uint32_t size = 0;
    uint32_t rc = m_pOs->GetAdapters(nullptr, &size);
    if (rc != kErrorSuccess && rc != kErrorBufferOverflow) {
        OW_LOG(this, 2, fn, "GetAdaptersInfo size error!");
        return 0;
    }
    // The platform figure is the byte size of the adapter list; the buffer
    // is counted in whole 640-byte records with one to spare.
    uint32_t capacity = (size / kAdapterRecordSize + 1) * kAdapterRecordSize;
    std::vector<AdapterInfo> adapters;
    rc = m_pOs->GetAdapters(&adapters, &capacity);
    OW_LOG(this, 2, fn, "%u", size);
    if (rc == kErrorBufferOverflow) {
        OW_LOG(this, 2, fn, "ERROR_BUFFER_OVERFLOW ");
        size += kAdapterRecordSize;
        capacity = (size / kAdapterRecordSize + 1) * kAdapterRecordSize;
        OW_LOG(this, 2, fn, "%u", size);
        adapters.clear();
        rc = m_pOs->GetAdapters(&adapters, &capacity);
    }
    if (rc != kErrorSuccess) return 0;
    for (const AdapterInfo& adapter : adapters) {
        for (const std::string& ip : adapter.ipv4) {
            if (ip != "0.0.0.0" && ip != "127.0.0.1") return 1;
        }
    }
    OW_LOG(this, 2, fn, "return FALSE;");
    return 0;
}

int CPolicy::RunConnCheck() {
    RetryUnresolved("Conn");
    if (m_nCheckType == 0) return TraceRouteAddrs();
    return TCPCheckOutlink();
}

int CPolicy::TraceRouteAddrs() {
    if (m_lstTracertIP.empty()) return 1;
    for (uint32_t ip : m_lstTracertIP) {
        // Host order to dotted text: the first number is the top byte.
        char text[16];
        std::snprintf(text, sizeof(text), "%u.%u.%u.%u", (ip >> 24) & 0xFF, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF,
                      ip & 0xFF);
        if (PrintTracert(text, 1) != 0) return 1;
    }
    return 0;
}
