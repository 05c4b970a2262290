#include "proxy/deal_my_proxy.h"

#include "proxy/ie_proxy.h"

using outlinkwatch::ConnectAddrRecord;

CDealMyProxy::CDealMyProxy(outlinkwatch::Os* os, outlinkwatch::ProxyTaskBudget* budget, outlinkwatch::LogSink* log,
                           const outlinkwatch::StopToken* stop)
    : outlinkwatch::BrowserSettingsReader(os, log),
      m_pBudget(budget != nullptr ? budget : &m_ownBudget),
      m_pStop(stop) {
    if (budget == nullptr) m_ownBudget.Begin(m_pOs);
    m_mapProtocol = {{0, "ftp:"}, {1, "http:"}, {2, "https:"}, {3, "gopher:"}, {4, "socks:"}};
}

bool CDealMyProxy::ResolveConfigured(const std::list<ConnectAddrRecord>& configured, bool ie,
                                     std::list<ProxyRecord>& records, std::list<uint32_t>& addresses) {
    const char* const function = ie ? "CDealMyProxy::GetIEProxyServer" : "CDealMyProxy::GetFireFoxProxyServer";
    bool found = false;
    for (const ConnectAddrRecord& record : configured) {
        if (!MayResolve(record.strAddr, function)) continue;
        for (const std::string& address : ResolveHost(record.strAddr)) {
            if (!ie) {
                records.push_back(ProxyRecord{std::string(), record.strAddr, address});
            } else if (record.strSpare == outlinkwatch::kAllProtocols) {
                for (const auto& label : m_mapProtocol) records.push_back(ProxyRecord{label.second, record.strAddr, address});
            } else {
                records.push_back(ProxyRecord{record.strSpare, record.strAddr, address});
            }
            addresses.push_back(outlinkwatch::InetAddr(address));
            found = true;
        }
    }
    return found;
}

int CDealMyProxy::GetIEProxy(std::string& keyPath, const std::list<std::string>& imageIPs, std::list<ProxyRecord>& records,
                             std::list<uint32_t>& addresses) {
    outlinkwatch::IESetting setting;
    ReadIESetting(&setting);
    return JudgeIEProxy(setting, keyPath, imageIPs, records, addresses);
}

int CDealMyProxy::JudgeIEProxy(const outlinkwatch::IESetting& setting, std::string& keyPath,
                               const std::list<std::string>& imageIPs, std::list<ProxyRecord>& records,
                               std::list<uint32_t>& addresses) {
    static const char* const kFunction = "CDealMyProxy::GetIEProxy";
    records.clear();
    addresses.clear();
    if (!setting.user) return 0;
    keyPath = setting.keyPath;
    if (setting.enabled == 0) {
        Log(4, __LINE__, kFunction, "IE Proxy is Disable!");
        return 0;
    }
    if (!ResolveConfigured(setting.configured, true, records, addresses)) {
        Log(4, __LINE__, kFunction, "Get IE Proxy server info failed!");
        return 0;
    }
    return CheckProxyIsValid(setting.configured, imageIPs);
}

int CDealMyProxy::GetFirFoxProxy(std::string& prefsPath, const std::list<std::string>& imageIPs,
                                 std::list<ProxyRecord>& records, std::list<uint32_t>& addresses) {
    outlinkwatch::FirefoxSetting setting;
    ReadFirefoxSetting(&setting);
    return JudgeFirefoxProxy(setting, prefsPath, imageIPs, records, addresses);
}

int CDealMyProxy::JudgeFirefoxProxy(const outlinkwatch::FirefoxSetting& setting, std::string& prefsPath,
                                    const std::list<std::string>& imageIPs, std::list<ProxyRecord>& records,
                                    std::list<uint32_t>& addresses) {
    static const char* const kFunction = "CDealMyProxy::GetFirFoxProxy";
    records.clear();
    addresses.clear();
    if (!setting.found) return 0;
    prefsPath = setting.prefsPath;
    if (setting.enabled == 0) {
        Log(4, __LINE__, kFunction, "FireFox Proxy is Disable!");
        return 0;
    }
    if (!ResolveConfigured(setting.configured, false, records, addresses)) {
        Log(4, __LINE__, kFunction, "Get FireFox proxy info failed!");
        return 0;
    }
    return CheckProxyIsValid(setting.configured, imageIPs);
}
