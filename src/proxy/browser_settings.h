// The OS-facing readers of the interactive user's browser proxy settings:
// the Internet Explorer setting in the registry and the Firefox profile's
// files. They read and parse; they neither resolve nor probe (that is the
// proxy check's, deal_my_proxy.h). Below them are only the text readers
// (ie_proxy.h, firefox_proxy.h).
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "base/log_sink.h"
#include "config/address_parsing.h"
#include "platform/os.h"
#include "proxy/firefox_proxy.h"

namespace outlinkwatch {

// One reading of the Internet Explorer setting: what the change check
// compares and what the judgement judges, so that it is read once a task.
struct IESetting {
    bool user = false;     // the interactive user's key was found
    std::string keyPath;   // that user's settings key, relative to HKEY_USERS
    uint32_t enabled = 0;  // "ProxyEnable" reads as 1
    std::string raw;       // "ProxyServer" as read; empty when it could not be
    std::list<ConnectAddrRecord> configured;  // raw, parsed
};

// One reading of the Firefox profile's prefs.js.
struct FirefoxSetting {
    bool found = false;      // a prefs.js to read was found
    std::string prefsPath;
    uint32_t enabled = 0;    // a manual proxy is switched on
    std::string raw;         // every stored proxy text, without separators
    std::list<ConnectAddrRecord> configured;  // http, ftp, ssl, socks, gopher
};

class BrowserSettingsReader {
public:
    // os: the policy's own; null means the process-wide one. log: where the
    // readers' lines go; null writes none.
    explicit BrowserSettingsReader(Os* os = nullptr, LogSink* log = nullptr);
    virtual ~BrowserSettingsReader() = default;

    // Preference names looked for in prefs.js (FirefoxPrefKeys).
    std::map<int, std::string> m_mapFireFoxKey;

    // The whole reading of each browser's setting, into *setting (its
    // buffers reused).
    void ReadIESetting(IESetting* setting);
    void ReadFirefoxSetting(FirefoxSetting* setting);
    // Both, the interactive user looked up once for the two.
    void ReadSettings(IESetting* ie, FirefoxSetting* ff);

    // --- Internet Explorer
    // The interactive user's key name under HKEY_USERS into a buffer of
    // kUserKeyNameBytes; 0 when the user is not found or keyName is null.
    int GetUIUserKeyName(char* keyName);
    // The settings key of a user's key name, relative to HKEY_USERS.
    static std::string IESettingsPath(const char* keyName);
    // 1 when the DWORD valueName under HKEY_USERS\keyPath reads as 1.
    int IsIEProxyEnable(const std::string& keyPath, const std::string& valueName);
    // Reads and parses the proxy server text; rawValue is the text as read.
    void GetIEProxyInfoFromReg(const std::string& keyPath, const std::string& valueName,
                               std::list<ConnectAddrRecord>& configured, std::string& rawValue);

    // --- Firefox
    // 1 with the prefs.js path of the interactive user's first profile.
    int GetFireFoxConfigPath(std::string& prefsPath);
    // 1 when a segment of prefs.js holds the proxy type key and a "1".
    int IsFireFoxProxyEnable(const std::string& prefsPath);
    // Appends the five configured records (http, ftp, ssl, socks, gopher).
    void GetFireFoxProxyInfoFromFile(const std::string& prefsPath, std::list<ConnectAddrRecord>& configured,
                                     std::string& rawValues);

protected:
    static void ClearIE(IESetting* setting);
    static void ClearFirefox(FirefoxSetting* setting);
    // The IE setting under the user's key name.
    void ReadIEOfUser(const char* keyName, IESetting* setting);
    // GetFireFoxConfigPath for the user of an open token.
    int FirefoxPrefsOfUser(Handle token, std::string& prefsPath);
    // Scans setting->prefsPath once for the switch and the records.
    void ReadFirefoxPrefs(FirefoxSetting* setting);
    // Feeds prefs.js to scanner; false when it could not be read whole.
    bool ScanPrefs(const std::string& prefsPath, PrefsScanner* scanner);
    // A log line of the readers; the text is data, never a format.
    void Log(int level, int line, const char* function, const char* text);

    Os* const m_pOs;
    LogSink* const m_pLog;
    // SID text of the interactive user, once GetFireFoxConfigPath found it:
    // the owner its files must have.
    std::string m_strUserSid;
};

}  // namespace outlinkwatch
