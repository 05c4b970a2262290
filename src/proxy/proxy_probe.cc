// The reachability test both browsers share, and the name resolution of
// their proxy hosts: the TCP/HTTP probe's own.
#include <ace/INET_Addr.h>

#include "probes/invalid_socket.h"
#include "proxy/deal_my_proxy.h"

namespace {

constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

// The address of a proxy host as written: a dotted address as it is, a
// name through the resolver, its first address; kNoAddress when it has none.
// A name is looked up once in a judgement; lookUp false answers only from
// what is known without a look-up. False when the answer is not known.
bool EndpointAddress(outlinkwatch::Os* os, outlinkwatch::ProxyTaskBudget* budget, const std::string& host,
                     bool lookUp, uint32_t* net) {
    *net = outlinkwatch::InetAddr(host);
    if (*net != kNoAddress || host == "255.255.255.255") return true;
    if (budget->KnownEndpoint(host, net)) return true;
    if (!lookUp) return false;
    std::vector<uint32_t> resolved;
    *net = os->Network()->ResolveHostIPv4(host, &resolved) && !resolved.empty() ? resolved.front() : kNoAddress;
    budget->RecordEndpoint(host, *net);
    return true;
}

}  // namespace

int CDealMyProxy::CheckProxyIsValid(const std::list<outlinkwatch::ConnectAddrRecord>& configured,
                                    const std::list<std::string>& imageIPs) {
    static const char* const kFunction = "CDealMyProxy::CheckProxyIsValid";
    outlinkwatch::LogSink* const log = m_pLog;
    if (log == nullptr) return 0;
    for (const outlinkwatch::ConnectAddrRecord& record : configured) {
        if (record.strPort.empty() || record.strAddr.empty()) continue;
        const std::string description = record.strAddr + ":" + record.strPort;
        const uint16_t port = outlinkwatch::AtoiPort(record.strPort);
        // Proxy texts are outside data: passed as text, never as the format.
        int result = PROBE_FAILED;
        uint32_t net = kNoAddress;
        // An endpoint probed before in this task, or earlier in an
        // unfinished judgement of the same setting, answers as it did.
        const bool known = EndpointAddress(m_pOs, m_pBudget, record.strAddr, false, &net) &&
                           m_pBudget->Known(net, port, &result);
        if (Exiting()) {
            result = PROBE_FAILED;  // as the probe itself answers once a stop is asked for
        } else if (known) {
        } else if (!m_pBudget->TimeLeft()) {
            OW_LOG(log, 4, kFunction, "%s", ("Proxy not probed, the time of the check is up:" + description).c_str());
            continue;
        } else if (EndpointAddress(m_pOs, m_pBudget, record.strAddr, true, &net) && net != kNoAddress &&
                   !m_pBudget->Known(net, port, &result)) {
            ACE_INET_Addr endpoint;
            result = endpoint.set(port, outlinkwatch::HostFromNet(net)) == 0
                         ? CInvalidSocket(m_pOs, log, m_pStop).connect(endpoint, imageIPs)
                         : PROBE_FAILED;
            m_pBudget->Record(net, port, result);
        }
        if (result == PROBE_FAILED) {
            OW_LOG(log, 4, kFunction, "%s", ("Proxy Connect fail:" + description).c_str());
        } else if (result == PROBE_REDIRECTED) {
            OW_LOG(log, 4, kFunction, "%s", ("Connect redirectional:" + description).c_str());
        } else if (result == PROBE_CONNECTED) {
            OW_LOG(log, 4, kFunction, "%s", ("Proxy Connect succ:" + description).c_str());
            return 1;
        }
    }
    return 0;
}

bool CDealMyProxy::MayResolve(const std::string& host, const char* function) {
    if (host.empty()) return true;  // resolves to nothing without the resolver
    if (Exiting()) return false;
    std::list<std::string> known;
    if (m_pBudget->KnownNames(host, &known) || m_pBudget->TimeLeft()) return true;
    Log(4, __LINE__, function, ("Proxy not resolved, the time of the check is up:" + host).c_str());
    return false;
}

std::list<std::string> CDealMyProxy::ResolveHost(const std::string& host) {
    std::list<std::string> out;
    if (m_pBudget->KnownNames(host, &out)) return out;
    CInvalidSocket(m_pOs).ResolveHost(host, out);
    m_pBudget->RecordNames(host, out);
    return out;
}
