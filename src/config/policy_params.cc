// Turning the policy's parameter texts into its settings, and retrying the
// names that did not resolve.
#include "config/params_plan.h"
#include "config/settings_builder.h"
#include "platform/adapter_query.h"
#include "platform/os.h"

namespace outlinkwatch {

void ExpandAddrRanges(const std::list<std::string>& in, std::list<std::string>& out, LogSink* log) {
    ParseIPSec(in, out, [log](const char* message) { OW_LOG(log, 2, "CPolicy::ParseIPSec", "%s", message); });
}

SettingsTexts ReadSettingsTexts(const std::function<std::string(const char* name)>& lookup) {
    SettingsTexts texts;
    texts.plan.route = lookup("Route");
    texts.plan.proxy = lookup("Proxy");
    texts.plan.tracert = lookup("TrancertAddr");
    texts.plan.connect = lookup("ConnectAddr");
    texts.plan.type = lookup("Type");
    texts.plan.image = lookup("ImageIP");
    texts.plan.checkcyc = lookup("checkcyc");
    texts.block = lookup("block");
    texts.rank = lookup("rank");
    return texts;
}

SettingsRead BuildPolicySettings(const SettingsTexts& texts, const PolicySettings& previous,
                                 const ResolveFn& resolve, const LocalAddressesFn& localAddresses, LogSink* log) {
    const PolicyParamTexts& t = texts.plan;
    const PolicyParamsPlan plan = PlanPolicyParams(t);
    SettingsRead read;
    read.checkCycle = plan.checkCycle;
    read.usable = plan.usable;
    PolicySettings& s = read.settings;
    s.m_nCheckType = plan.checkType;
    s.m_strBlock = texts.block;
    s.m_strRank = texts.rank;
    // What a mode leaves unread, or an empty input leaves unresolved, stays
    // as it was; nothing else outlives a reading.
    s.m_lstValidRouteIP = previous.m_lstValidRouteIP;
    s.m_lstConnectAddr = previous.m_lstConnectAddr;
    s.m_lstImageIP = previous.m_lstImageIP;

    OW_LOG(log, 2, "CPolicy::GetPolicyParams", "ValidProxy %s", t.proxy.c_str());
    OW_LOG(log, 2, "CPolicy::GetPolicyParams", "TracertAddr %s", t.tracert.c_str());
    OW_LOG(log, 2, "CPolicy::GetPolicyParams", "ValidRoute %s", t.route.c_str());
    OW_LOG(log, 2, "CPolicy::GetPolicyParams", "ConnectAddr %s", t.connect.c_str());
    OW_LOG(log, 2, "CPolicy::GetPolicyParams", "ImageIP %s", t.image.c_str());

    if (!plan.usable) {
        OW_LOG(log, 4, "CPolicy::GetPolicyParams", "Invalid parameters Exit!");
        return read;
    }

    std::list<uint32_t> unusedIP;
    std::list<std::string> unusedText;
    std::list<ConnectAddrRecord> unusedRecords;

    if (s.m_nCheckType == 0) {
        ResolveAddrList(plan.tracert, 0, s.m_lstTracertIP, unusedText, unusedRecords, s.m_lstUnresolvedTracert,
                        resolve);

        std::list<std::string> expanded;
        ExpandAddrRanges(plan.routes, expanded, log);
        ResolveAddrList(expanded, 0, s.m_lstValidRouteIP, unusedText, unusedRecords, s.m_lstUnresolvedRoute, resolve);

        ResolveAddrList(plan.proxies, 0, s.m_lstValidProxyIP, s.m_lstValidProxyStr, unusedRecords,
                        s.m_lstUnresolvedProxy, resolve);
        AppendMissing(s.m_lstValidProxyIP, localAddresses());
    } else {
        s.m_lstValidProxyIP = localAddresses();
        ResolveAddrList(plan.connect, 1, unusedIP, unusedText, s.m_lstConnectAddr, s.m_lstUnresolvedConnect, resolve);
        s.m_lstImageIP = plan.imageIPs;
    }
    return read;
}

int RetryUnresolved(PolicySettings& s, const std::string& group, const ResolveFn& resolve, const StopToken& stop) {
    // A name that never answers can hold a resolution for many seconds, so
    // a stop does not wait for the names not yet asked.
    const ResolveFn retry = [&resolve, &stop](const std::string& host, std::vector<uint32_t>* addrs) {
        return !stop.Exiting() && resolve(host, addrs);
    };
    std::list<uint32_t> newIP;
    std::list<std::string> newText;
    std::list<ConnectAddrRecord> newRecords;
    std::list<std::string> stillUnresolved;

    if (group == "Proxy" && s.m_nCheckType == 0 && !s.m_lstUnresolvedProxy.empty()) {
        ResolveAddrList(s.m_lstUnresolvedProxy, 0, newIP, newText, newRecords, stillUnresolved, retry);
        s.m_lstValidProxyIP.insert(s.m_lstValidProxyIP.end(), newIP.begin(), newIP.end());
        s.m_lstValidProxyStr.insert(s.m_lstValidProxyStr.end(), newText.begin(), newText.end());
        s.m_lstUnresolvedProxy.swap(stillUnresolved);
        return 1;
    }
    if (group == "Conn" && s.m_nCheckType == 0 &&
        (!s.m_lstUnresolvedTracert.empty() || !s.m_lstUnresolvedRoute.empty())) {
        ResolveAddrList(s.m_lstUnresolvedTracert, 0, newIP, newText, newRecords, stillUnresolved, retry);
        s.m_lstTracertIP.insert(s.m_lstTracertIP.end(), newIP.begin(), newIP.end());
        // An empty input leaves the outputs as they were: nothing to keep then.
        if (!s.m_lstUnresolvedTracert.empty()) s.m_lstUnresolvedTracert.swap(stillUnresolved);

        newIP.clear();
        newText.clear();
        stillUnresolved.clear();
        ResolveAddrList(s.m_lstUnresolvedRoute, 0, newIP, newText, newRecords, stillUnresolved, retry);
        s.m_lstValidRouteIP.insert(s.m_lstValidRouteIP.end(), newIP.begin(), newIP.end());
        if (!s.m_lstUnresolvedRoute.empty()) s.m_lstUnresolvedRoute.swap(stillUnresolved);
        return 1;
    }
    if (group == "Conn" && s.m_nCheckType == 1 && !s.m_lstUnresolvedConnect.empty()) {
        ResolveAddrList(s.m_lstUnresolvedConnect, 1, newIP, newText, newRecords, stillUnresolved, retry);
        s.m_lstConnectAddr.insert(s.m_lstConnectAddr.end(), newRecords.begin(), newRecords.end());
        s.m_lstUnresolvedConnect.swap(stillUnresolved);
        return 1;
    }
    return 0;
}

void GetLocalIPList(Os* os, std::list<uint32_t>& out) {
    out.clear();
    std::vector<outlinkwatch::AdapterInfo> adapters;
    if (!outlinkwatch::ReadAdapterList(os, outlinkwatch::AdapterSizeProtocol::kAskTwice, nullptr, nullptr, &adapters))
        return;
    for (const auto& adapter : adapters) {
        for (const std::string& ip : adapter.ipv4) {
            out.push_back(outlinkwatch::HostFromNet(outlinkwatch::InetAddr(ip)));
        }
    }
}

}  // namespace outlinkwatch
