// CDealMyProxy: reads the interactive user's browser proxy settings. One is
// made on the stack for each reading; it keeps nothing but two constant
// tables.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "config/address_parsing.h"
#include "platform/os.h"
#include "proxy/firefox_proxy.h"
#include "proxy/proxy_budget.h"
#include "proxy/proxy_record.h"

class CDealMyProxy {
public:
    // os: the policy's own; null means the process-wide one. budget: that
    // of the running proxy check task; null gives the reading one of its own.
    explicit CDealMyProxy(outlinkwatch::Os* os = nullptr, outlinkwatch::ProxyTaskBudget* budget = nullptr);
    virtual ~CDealMyProxy() = default;

    // Protocol labels for a proxy that serves every protocol.
    std::map<int, std::string> m_mapProtocol;
    // Preference names looked for in prefs.js (FirefoxPrefKeys).
    std::map<int, std::string> m_mapFireFoxKey;

    // 1 when one configured proxy answers. An endpoint probed before in the
    // task gives the same answer again without a probe.
    virtual int CheckProxyIsValid(std::list<outlinkwatch::ConnectAddrRecord>& configured,
                                  std::list<std::string>& imageIPs);

    // --- Internet Explorer
    // The whole reading: 1 only when the proxy is switched on, parsed,
    // resolved and one of its servers answers. keyPath becomes the user's
    // settings key under HKEY_USERS.
    int GetIEProxy(std::string& keyPath, std::list<std::string>& imageIPs, std::list<ProxyRecord>& records,
                   std::list<uint32_t>& addresses);
    // The interactive user's key name under HKEY_USERS into a buffer of
    // kUserKeyNameBytes; 0 when the user is not found or keyName is null.
    int GetUIUserKeyName(char* keyName);
    // The settings key of a user's key name, relative to HKEY_USERS.
    static std::string IESettingsPath(const char* keyName);
    // 1 when the DWORD valueName under HKEY_USERS\keyPath reads as 1.
    int IsIEProxyEnable(std::string keyPath, std::string valueName);
    // Reads and parses the proxy server text; rawValue is the text as read.
    void GetIEProxyInfoFromReg(std::string keyPath, std::string valueName,
                               std::list<outlinkwatch::ConnectAddrRecord>& configured, std::string& rawValue);
    // Parse and resolution; 1 when at least one address was found.
    int GetIEProxyServer(std::string keyPath, std::string valueName, std::list<ProxyRecord>& records,
                         std::list<outlinkwatch::ConnectAddrRecord>& configured, std::list<uint32_t>& addresses);

    // --- Firefox
    // The whole reading: 1 only when a manual proxy is on, its hosts
    // resolve and one of them answers.
    int GetFirFoxProxy(std::string& prefsPath, std::list<std::string>& imageIPs, std::list<ProxyRecord>& records,
                       std::list<uint32_t>& addresses);
    // 1 with the prefs.js path of the interactive user's first profile.
    int GetFireFoxConfigPath(std::string& prefsPath);
    // 1 when a segment of prefs.js holds the proxy type key and a "1".
    int IsFireFoxProxyEnable(std::string prefsPath);
    // Appends the five configured records (http, ftp, ssl, socks, gopher).
    void GetFireFoxProxyInfoFromFile(std::string prefsPath, std::list<outlinkwatch::ConnectAddrRecord>& configured,
                                     std::string& rawValues);
    // 1 when at least one configured host resolved.
    int GetFireFoxProxyServer(std::string prefsPath, std::list<ProxyRecord>& records,
                              std::list<outlinkwatch::ConnectAddrRecord>& configured, std::list<uint32_t>& addresses);

protected:
    // Feeds prefs.js to scanner; false when it could not be read whole.
    bool ScanPrefs(const std::string& prefsPath, outlinkwatch::PrefsScanner* scanner);
    // The probe's name resolution: dotted IPv4 texts in resolver order,
    // without "127.0.0.1" and "0.0.0.0"; none for an empty host.
    virtual std::list<std::string> ResolveHost(const std::string& host);
    // Whether a configured host may still be resolved in this task; one
    // left out is logged under function.
    bool MayResolve(const std::string& host, const char* function);

    outlinkwatch::Os* const m_pOs;
    outlinkwatch::ProxyTaskBudget m_ownBudget;
    outlinkwatch::ProxyTaskBudget* const m_pBudget;
    // SID text of the interactive user, once GetFireFoxConfigPath found it:
    // the owner its files must have.
    std::string m_strUserSid;
};

// A log line of the proxy readers through the policy, when there is one;
// the text is data, never a format.
void ProxyLog(int level, int line, const char* function, const char* text);

