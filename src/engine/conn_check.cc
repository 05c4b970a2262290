// One connection check once the connection mutex is held: skipped while the
// computer has no usable IPv4 address, otherwise the mode's check.
#include "probes/conn_check.h"

#include <vector>

#include "config/address_parsing.h"
#include "engine/active_network.h"
#include "platform/adapter_query.h"

namespace outlinkwatch {

int ConnCheck::IsActivedNetwork() {
    const char* fn = "CPolicy::IsActivedNetwork";
    std::vector<AdapterInfo> adapters;
    if (!ReadAdapterList(m_pOs, AdapterSizeProtocol::kAskAgainWhenGrown, m_pLog, fn, &adapters)) return 0;
    if (HasUsableAddress(adapters)) return 1;
    OW_LOG(m_pLog, 2, fn, "return FALSE;");
    return 0;
}

int ConnCheck::Run(const PolicySettings& settings) {
    if (settings.m_nCheckType == 0) return TraceRouteAddrs(settings);
    return TCPCheckOutlink(settings);
}

int ConnCheck::TraceRouteAddrs(const PolicySettings& settings) {
    if (settings.m_lstTracertIP.empty()) return 1;
    for (uint32_t ip : settings.m_lstTracertIP) {
        // A repeated Exec waits for this check: the rest of the list is
        // traced with the new parameters.
        if (m_stop.ParamsPending()) return 0;
        if (PrintTracert(settings, AddressText(NetFromHost(ip)), 1) != 0) return 1;
    }
    return 0;
}

}  // namespace outlinkwatch
