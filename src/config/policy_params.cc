// Turning the policy's parameter records into its typed fields and address
// lists, and retrying the names that did not resolve.
#include "config/params_plan.h"
#include "engine/adapter_query.h"
#include "plugin/policy.h"

using outlinkwatch::ConnectAddrRecord;

namespace {

// The retry during a check: a name that never answers can hold a resolution
// for many seconds, so a stop does not wait for the names not yet asked;
// they stay unresolved for the next try.
void RetryAddrList(outlinkwatch::Os* os, const std::list<std::string>& in, int withPort, std::list<uint32_t>& outIP,
                   std::list<std::string>& outText, std::list<ConnectAddrRecord>& outRecords,
                   std::list<std::string>& outUnresolved) {
    outlinkwatch::ResolveAddrList(in, withPort, outIP, outText, outRecords, outUnresolved,
                                  [os](const std::string& host, std::vector<uint32_t>* addrs) {
                                      return g_bExit.load() == 0 && os->Network()->ResolveHostIPv4(host, addrs);
                                  });
}

}  // namespace

void CPolicy::ParseIPSec(const std::list<std::string>& in, std::list<std::string>& out) {
    outlinkwatch::ParseIPSec(in, out, [this](const char* message) {
        OW_LOG(this, 2, "CPolicy::ParseIPSec", "%s", message);
    });
}

void CPolicy::ResolveAddrList(const std::list<std::string>& in, int withPort, std::list<uint32_t>& outIP,
                              std::list<std::string>& outText, std::list<ConnectAddrRecord>& outRecords,
                              std::list<std::string>& outUnresolved) {
    outlinkwatch::Os* os = m_pOs;
    outlinkwatch::ResolveAddrList(in, withPort, outIP, outText, outRecords, outUnresolved,
                                  [os](const std::string& host, std::vector<uint32_t>* addrs) {
                                      return os->Network()->ResolveHostIPv4(host, addrs);
                                  });
}

void CPolicy::GetLocalIPList(std::list<uint32_t>& out) {
    out.clear();
    std::vector<outlinkwatch::AdapterInfo> adapters;
    if (!outlinkwatch::ReadAdapterList(m_pOs, outlinkwatch::AdapterSizeProtocol::kAskTwice, nullptr, nullptr, &adapters))
        return;
    for (const auto& adapter : adapters) {
        for (const std::string& ip : adapter.ipv4) {
            out.push_back(outlinkwatch::HostFromNet(outlinkwatch::InetAddr(ip)));
        }
    }
}

int CPolicy::GetPolicyParams() {
    outlinkwatch::PolicyParamTexts texts;
    texts.route = GetPolicyParamValue("Route");
    texts.proxy = GetPolicyParamValue("Proxy");
    texts.tracert = GetPolicyParamValue("TrancertAddr");
    texts.connect = GetPolicyParamValue("ConnectAddr");
    texts.type = GetPolicyParamValue("Type");
    texts.image = GetPolicyParamValue("ImageIP");
    texts.checkcyc = GetPolicyParamValue("checkcyc");
    const outlinkwatch::PolicyParamsPlan plan = outlinkwatch::PlanPolicyParams(texts);
    m_settings.m_nCheckType = plan.checkType;
    m_settings.m_strBlock = GetPolicyParamValue("block");
    m_monitor.SetCheckCycle(plan.checkCycle);

    OW_LOG(this, 2, "CPolicy::GetPolicyParams", "ValidProxy %s", texts.proxy.c_str());
    OW_LOG(this, 2, "CPolicy::GetPolicyParams", "TracertAddr %s", texts.tracert.c_str());
    OW_LOG(this, 2, "CPolicy::GetPolicyParams", "ValidRoute %s", texts.route.c_str());
    OW_LOG(this, 2, "CPolicy::GetPolicyParams", "ConnectAddr %s", texts.connect.c_str());
    OW_LOG(this, 2, "CPolicy::GetPolicyParams", "ImageIP %s", texts.image.c_str());

    m_settings.m_strRank = GetPolicyParamValue("rank");

    if (!plan.usable) {
        OW_LOG(this, 4, "CPolicy::GetPolicyParams", "Invalid parameters Exit!");
        return 0;
    }

    std::list<uint32_t> unusedIP;
    std::list<std::string> unusedText;
    std::list<ConnectAddrRecord> unusedRecords;

    if (m_settings.m_nCheckType == 0) {
        ResolveAddrList(plan.tracert, 0, m_settings.m_lstTracertIP, unusedText, unusedRecords, m_settings.m_lstUnresolvedTracert);

        std::list<std::string> expanded;
        ParseIPSec(plan.routes, expanded);
        ResolveAddrList(expanded, 0, m_settings.m_lstValidRouteIP, unusedText, unusedRecords, m_settings.m_lstUnresolvedRoute);

        m_settings.m_lstValidProxyStr.clear();
        m_settings.m_lstValidProxyIP.clear();
        ResolveAddrList(plan.proxies, 0, m_settings.m_lstValidProxyIP, m_settings.m_lstValidProxyStr, unusedRecords, m_settings.m_lstUnresolvedProxy);

        std::list<uint32_t> local;
        GetLocalIPList(local);
        outlinkwatch::AppendMissing(m_settings.m_lstValidProxyIP, local);
    } else {
        m_settings.m_lstValidProxyStr.clear();
        m_settings.m_lstValidProxyIP.clear();
        m_settings.m_lstImageIP.clear();
        GetLocalIPList(m_settings.m_lstValidProxyIP);

        ResolveAddrList(plan.connect, 1, unusedIP, unusedText, m_settings.m_lstConnectAddr, m_settings.m_lstUnresolvedConnect);
        m_settings.m_lstImageIP = plan.imageIPs;
    }
    return 1;
}

int CPolicy::RetryUnresolved(const std::string& group) {
    std::list<uint32_t> newIP;
    std::list<std::string> newText;
    std::list<ConnectAddrRecord> newRecords;
    std::list<std::string> stillUnresolved;

    if (group == "Proxy" && m_settings.m_nCheckType == 0 && !m_settings.m_lstUnresolvedProxy.empty()) {
        RetryAddrList(m_pOs, m_settings.m_lstUnresolvedProxy, 0, newIP, newText, newRecords, stillUnresolved);
        m_settings.m_lstValidProxyIP.insert(m_settings.m_lstValidProxyIP.end(), newIP.begin(), newIP.end());
        m_settings.m_lstValidProxyStr.insert(m_settings.m_lstValidProxyStr.end(), newText.begin(), newText.end());
        m_settings.m_lstUnresolvedProxy.swap(stillUnresolved);
        return 1;
    }
    if (group == "Conn" && m_settings.m_nCheckType == 0 &&
        (!m_settings.m_lstUnresolvedTracert.empty() || !m_settings.m_lstUnresolvedRoute.empty())) {
        RetryAddrList(m_pOs, m_settings.m_lstUnresolvedTracert, 0, newIP, newText, newRecords, stillUnresolved);
        m_settings.m_lstTracertIP.insert(m_settings.m_lstTracertIP.end(), newIP.begin(), newIP.end());
        // An empty input leaves the outputs as they were: nothing to keep then.
        if (!m_settings.m_lstUnresolvedTracert.empty()) m_settings.m_lstUnresolvedTracert.swap(stillUnresolved);

        newIP.clear();
        newText.clear();
        stillUnresolved.clear();
        RetryAddrList(m_pOs, m_settings.m_lstUnresolvedRoute, 0, newIP, newText, newRecords, stillUnresolved);
        m_settings.m_lstValidRouteIP.insert(m_settings.m_lstValidRouteIP.end(), newIP.begin(), newIP.end());
        if (!m_settings.m_lstUnresolvedRoute.empty()) m_settings.m_lstUnresolvedRoute.swap(stillUnresolved);
        return 1;
    }
    if (group == "Conn" && m_settings.m_nCheckType == 1 && !m_settings.m_lstUnresolvedConnect.empty()) {
        RetryAddrList(m_pOs, m_settings.m_lstUnresolvedConnect, 1, newIP, newText, newRecords, stillUnresolved);
        m_settings.m_lstConnectAddr.insert(m_settings.m_lstConnectAddr.end(), newRecords.begin(), newRecords.end());
        m_settings.m_lstUnresolvedConnect.swap(stillUnresolved);
        return 1;
    }
    return 0;
}
