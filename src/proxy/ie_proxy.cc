#include "proxy/ie_proxy.h"

#include <cstring>

#include "lumenutil/registry.h"
#include "lumenutil/system_info.h"
#include "plugin/policy.h"
#include "proxy/deal_my_proxy.h"

namespace outlinkwatch {
namespace {

// One "protocol=host:port" item; the label is the protocol and a ':'.
ConnectAddrRecord ProtocolItem(const std::string& item) {
    std::string protocol, rest;
    const size_t eq = item.find('=');
    if (eq != std::string::npos) {
        protocol = item.substr(0, eq);
        rest = item.substr(eq + 1);
    }
    std::string host = rest, port;
    const size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    ConnectAddrRecord record;
    record.strAddr = TrimText(host);
    record.strPort = TrimText(port);
    record.strSpare = protocol + ":";
    return record;
}

}  // namespace

void ParseProxyServer(const std::string& raw, std::list<ConnectAddrRecord>& configured) {
    std::string rest = TrimText(raw);
    size_t start = 0;
    for (size_t semicolon = rest.find(';'); semicolon != std::string::npos; semicolon = rest.find(';', start)) {
        configured.push_back(ProtocolItem(rest.substr(start, semicolon - start)));
        start = semicolon + 1;
    }
    rest.erase(0, start);
    if (rest.find('=') != std::string::npos) {
        configured.push_back(ProtocolItem(rest));
        return;
    }
    const size_t colon = rest.find(':');
    if (colon == std::string::npos) return;
    ConnectAddrRecord record;
    record.strAddr = TrimText(rest.substr(0, colon));
    record.strPort = TrimText(rest.substr(colon + 1));
    record.strSpare = kAllProtocols;
    configured.push_back(std::move(record));
}

}  // namespace outlinkwatch

using outlinkwatch::ConnectAddrRecord;

int CDealMyProxy::GetUIUserKeyName(char* keyName) {
    if (keyName == nullptr) return 0;
    std::string name;
    if (lumenutil::CurrentUserSid(m_pOs, outlinkwatch::kAgentUiImage, name) != lumenutil::UTIL_OK) return 0;
    const size_t n = std::min(name.size(), outlinkwatch::kUserKeyNameBytes - 1);
    std::memcpy(keyName, name.data(), n);
    keyName[n] = '\0';
    return 1;
}

std::string CDealMyProxy::IESettingsPath(const char* keyName) {
    return std::string(keyName) + "\\" + outlinkwatch::kIESettingsKey;
}

int CDealMyProxy::GetIEProxy(std::string& keyPath, std::list<std::string>& imageIPs, std::list<ProxyRecord>& records,
                             std::list<uint32_t>& addresses) {
    static const char* const kFunction = "CDealMyProxy::GetIEProxy";
    char keyName[outlinkwatch::kUserKeyNameBytes] = {0};
    if (GetUIUserKeyName(keyName) == 0) return 0;
    if (g_pPolicy.load() == nullptr) return 0;
    keyPath = IESettingsPath(keyName);
    if (IsIEProxyEnable(keyPath, "ProxyEnable") == 0) {
        ProxyLog(4, __LINE__, kFunction, "IE Proxy is Disable!");
        return 0;
    }
    std::list<ConnectAddrRecord> configured;
    if (GetIEProxyServer(keyPath, "ProxyServer", records, configured, addresses) == 0) {
        ProxyLog(4, __LINE__, kFunction, "Get IE Proxy server info failed!");
        return 0;
    }
    return CheckProxyIsValid(configured, imageIPs);
}

int CDealMyProxy::IsIEProxyEnable(std::string keyPath, std::string valueName) {
    DWORD value = 0;
    const uint32_t rc = lumenutil::LumenReg::QueryRegKeyValue(HKEY_USERS, keyPath, valueName, value,
                                                              lumenutil::OSTYPE_X86);
    return rc == lumenutil::UTIL_OK && value == 1 ? 1 : 0;
}

void CDealMyProxy::GetIEProxyInfoFromReg(std::string keyPath, std::string valueName,
                                         std::list<ConnectAddrRecord>& configured, std::string& rawValue) {
    DWORD size = outlinkwatch::kProxyServerBytes;
    std::string text;
    if (lumenutil::LumenReg::QueryRegKeyValue(HKEY_USERS, keyPath, valueName, size, text, lumenutil::OSTYPE_X86) !=
        lumenutil::UTIL_OK) {
        ProxyLog(4, __LINE__, "CDealMyProxy::GetIEProxyInfoFromReg", "QueryRegKeyValue failed!");
        return;
    }
    rawValue = text;
    outlinkwatch::ParseProxyServer(text, configured);
}

int CDealMyProxy::GetIEProxyServer(std::string keyPath, std::string valueName, std::list<ProxyRecord>& records,
                                   std::list<ConnectAddrRecord>& configured, std::list<uint32_t>& addresses) {
    records.clear();
    addresses.clear();
    std::string raw;
    GetIEProxyInfoFromReg(keyPath, valueName, configured, raw);
    int result = 0;
    for (const ConnectAddrRecord& record : configured) {
        if (!MayResolve(record.strAddr, "CDealMyProxy::GetIEProxyServer")) continue;
        for (const std::string& address : ResolveHost(record.strAddr)) {
            if (record.strSpare == outlinkwatch::kAllProtocols) {
                for (const auto& label : m_mapProtocol) records.push_back(ProxyRecord{label.second, record.strAddr, address});
            } else {
                records.push_back(ProxyRecord{record.strSpare, record.strAddr, address});
            }
            addresses.push_back(outlinkwatch::InetAddr(address));
            result = 1;
        }
    }
    return result;
}

int CPolicy::ReadIEProxy() {
    CDealMyProxy proxy(os(), m_proxyBudget.Active() ? &m_proxyBudget : nullptr);
    m_lstIEProxy.clear();
    return proxy.GetIEProxy(m_strIEProxy, m_settings.m_lstImageIP, m_lstIEProxy, m_lstIEProxyIP);
}
