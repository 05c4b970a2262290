// The policy's settings: what its parameters say, resolved. A value: reading
// the parameters builds a new one, which replaces the old one whole while
// both check mutexes are held; the checks read it only while they hold
// their own.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "config/address_parsing.h"

namespace outlinkwatch {

struct PolicySettings {
    // "Route": the addresses a traced route may pass through.
    std::list<uint32_t> m_lstValidRouteIP;
    // "Proxy": the allowed proxies as configured ("host:port" texts) and
    // resolved.
    std::list<std::string> m_lstValidProxyStr;
    std::list<uint32_t> m_lstValidProxyIP;
    // "IPSec" expanded: addresses that count as inside the managed network.
    std::list<std::string> m_lstImageIP;
    // "Tracert": the destinations whose route is traced.
    std::list<uint32_t> m_lstTracertIP;
    // "Connect": the outside endpoints that must not answer.
    std::list<ConnectAddrRecord> m_lstConnectAddr;
    std::string m_strRank;
    std::string m_strBlock;
    // Configured names that did not resolve yet; retried at each check.
    std::list<std::string> m_lstUnresolvedProxy;
    std::list<std::string> m_lstUnresolvedTracert;
    std::list<std::string> m_lstUnresolvedConnect;
    std::list<std::string> m_lstUnresolvedRoute;
    int32_t m_nCheckType = -1;
};

}  // namespace outlinkwatch
