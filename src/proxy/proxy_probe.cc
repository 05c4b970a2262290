// The reachability test both browsers share, and the name resolution of
// their proxy hosts: the TCP/HTTP probe's own.
#include <ace/INET_Addr.h>

#include "plugin/policy.h"
#include "probes/invalid_socket.h"
#include "proxy/deal_my_proxy.h"

namespace {

// The endpoint of a proxy host as written: a dotted address as it is, a
// name through the resolver, its first address. False when it has none.
bool Endpoint(outlinkwatch::Os* os, const std::string& host, uint16_t port, ACE_INET_Addr* endpoint) {
    uint32_t net = outlinkwatch::InetAddr(host);
    if (net == 0xFFFFFFFFu && host != "255.255.255.255") {
        std::vector<uint32_t> resolved;
        if (!os->ResolveHostIPv4(host, &resolved) || resolved.empty()) return false;
        net = resolved.front();
    }
    return endpoint->set(port, outlinkwatch::HostFromNet(net)) == 0;
}

}  // namespace

int CDealMyProxy::CheckProxyIsValid(std::list<outlinkwatch::ConnectAddrRecord>& configured,
                                    std::list<std::string>& imageIPs) {
    static const char* const kFunction = "CDealMyProxy::CheckProxyIsValid";
    CPolicy* policy = g_pPolicy.load();
    if (policy == nullptr) return 0;
    for (const outlinkwatch::ConnectAddrRecord& record : configured) {
        if (record.strPort.empty() || record.strAddr.empty()) continue;
        const std::string description = record.strAddr + ":" + record.strPort;
        ACE_INET_Addr endpoint;
        const int result = Endpoint(m_pOs, record.strAddr, outlinkwatch::AtoiPort(record.strPort), &endpoint)
                               ? CInvalidSocket(m_pOs).connect(endpoint, imageIPs)
                               : PROBE_FAILED;
        // Proxy texts are outside data: passed as text, never as the format.
        if (result == PROBE_FAILED) {
            OW_LOG(policy, 4, kFunction, "%s", ("Proxy Connect fail:" + description).c_str());
        } else if (result == PROBE_REDIRECTED) {
            OW_LOG(policy, 4, kFunction, "%s", ("Connect redirectional:" + description).c_str());
        } else if (result == PROBE_CONNECTED) {
            OW_LOG(policy, 4, kFunction, "%s", ("Proxy Connect succ:" + description).c_str());
            return 1;
        }
    }
    return 0;
}

std::list<std::string> CDealMyProxy::ResolveHost(const std::string& host) {
    std::list<std::string> out;
    CInvalidSocket(m_pOs).ResolveHost(host, out);
    return out;
}
