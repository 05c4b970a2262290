#include "proxy/firefox_proxy.h"

#include "lumenutil/system_info.h"
#include "plugin/policy.h"
#include "proxy/deal_my_proxy.h"

namespace outlinkwatch {

std::map<int, std::string> FirefoxPrefKeys() {
    return {
        {0, "\"network.proxy.ftp\""},      {1, "\"network.proxy.http\""},        {2, "\"network.proxy.ssl\""},
        {3, "\"network.proxy.gopher\""},   {4, "\"network.proxy.socks\""},       {5, "\"network.proxy.http_port\""},
        {6, "\"network.proxy.ftp_port\""}, {7, "\"network.proxy.gopher_port\""}, {8, "\"network.proxy.socks_port\""},
        {9, "\"network.proxy.ssl_port\""},
    };
}

void ForEachPrefsSegment(std::string_view text, const std::function<void(std::string_view)>& visit) {
    text = text.substr(0, text.find('\0'));
    const size_t semicolon = text.find(';');
    visit(semicolon == std::string_view::npos ? std::string_view() : text.substr(0, semicolon));
    size_t pos = semicolon == std::string_view::npos ? 0 : semicolon + 1;
    for (size_t lf = text.find('\n', pos); lf != std::string_view::npos; lf = text.find('\n', pos)) {
        visit(text.substr(pos, lf - pos));
        pos = lf + 1;
    }
}

bool PrefsProxyEnabled(std::string_view text) {
    bool on = false;
    ForEachPrefsSegment(text, [&](std::string_view segment) {
        if (segment.find("\"network.proxy.type\"") != std::string_view::npos && segment.find('1') != std::string_view::npos) {
            on = true;
        }
    });
    return on;
}

void PrefsProxyRecords(std::string_view text, const std::map<int, std::string>& keys,
                       std::list<ConnectAddrRecord>& configured, std::string& raw) {
    // Position of each key's record: http, ftp, ssl, socks, gopher.
    static const std::map<int, size_t> kRecordOfKey = {{1, 0}, {5, 0}, {0, 1}, {6, 1}, {2, 2},
                                                       {9, 2}, {4, 3}, {8, 3}, {3, 4}, {7, 4}};
    ConnectAddrRecord records[5];
    ForEachPrefsSegment(text, [&](std::string_view segment) {
        auto key = keys.begin();
        while (key != keys.end() && segment.find(key->second) == std::string_view::npos) ++key;
        if (key == keys.end()) return;
        const auto record = kRecordOfKey.find(key->first);
        if (record == kRecordOfKey.end()) return;
        const size_t comma = segment.find(',');
        std::string_view value = comma == std::string_view::npos ? std::string_view() : segment.substr(comma + 1);
        std::string stored;
        if (key->first <= 4) {
            size_t quote = value.find('"');
            if (quote != std::string_view::npos) value = value.substr(quote + 1);
            quote = value.find('"');
            if (quote != std::string_view::npos) value = value.substr(0, quote);
            stored = TrimText(std::string(value));
            records[record->second].strAddr = stored;
        } else {
            // The rest of the line stays: "80);" is read as 80 by the probe.
            stored = TrimText(std::string(value));
            records[record->second].strPort = stored;
        }
        raw += stored;
    });
    for (ConnectAddrRecord& r : records) configured.push_back(std::move(r));
}

std::vector<std::string> FirefoxProfileFolders(char sep, const std::string& drive, const std::string& userName,
                                               const std::string& profileDir) {
    if (sep != '\\') return {profileDir + "/.mozilla/firefox"};
    const std::string appData = "\\Application Data\\Mozilla\\Firefox\\Profiles";
    return {drive + "\\Documents and Settings\\" + userName + appData,
            drive + "\\Documents and Settings\\" + "Administrator" + appData, profileDir + appData};
}

bool IsFirefoxProfileEntry(char sep, const DirEntry& entry) {
    if (!entry.isDirectory || entry.name == "." || entry.name == "..") return false;
    return sep == '\\' || (entry.name != "Crash Reports" && entry.name != "Pending Pings");
}

std::vector<std::string> FirefoxPrograms(char sep, const std::string& platformDir) {
    if (sep == '\\') return {platformDir + "\\firefox.exe"};
    return {platformDir + "/firefox-esr", platformDir + "/firefox"};
}

std::string FirefoxProfileIn(char sep, const std::string& folder, const std::vector<DirEntry>& entries) {
    for (const DirEntry& entry : entries) {
        if (IsFirefoxProfileEntry(sep, entry)) return folder + sep + entry.name;
    }
    return std::string();
}

FirefoxPrefsChoice ChooseFirefoxPrefs(char sep, const std::string& profile, bool compatibilityFound, bool installed) {
    const std::string prefs = profile + sep + "prefs.js";
    if (!compatibilityFound) return {prefs, "Can not find compatibility.ini."};
    if (!installed) return {std::string(), "Firefox is not installed."};
    return {prefs, "Firefox is installed."};
}

std::string DriveOf(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    return std::string();
}

}  // namespace outlinkwatch

using outlinkwatch::ConnectAddrRecord;

int CDealMyProxy::GetFireFoxConfigPath(std::string& prefsPath) {
    static const char* const kFunction = "CDealMyProxy::GetFireFoxConfigPath";
    if (g_pPolicy.load() == nullptr) return 0;
    outlinkwatch::Os* const os = m_pOs;

    // The user's name and profile directory, looked up as that user.
    outlinkwatch::Handle token = nullptr;
    struct TokenCloser {
        outlinkwatch::Os* os;
        outlinkwatch::Handle& token;
        void Close() {
            if (token != nullptr && token != lumenutil::InvalidHandleValue()) os->Kernel()->CloseObject(token);
            token = nullptr;
        }
        ~TokenCloser() { Close(); }
    } closer{os, token};
    uint32_t sessionId = 0;
    if (lumenutil::TokenByName(os, "AGENTUI.EXE", token, sessionId) != lumenutil::UTIL_OK) return 0;
    os->Users()->ImpersonateToken(token);  // failing, the lookups answer for this process's own account
    std::string userName;
    if (!os->Users()->ImpersonatedUserName(token, &userName)) {
        closer.Close();
        os->Users()->RevertImpersonation();
        return 0;
    }
    std::string profileDir;
    if (!os->Users()->ExpandForUser(token, "%userprofile%", &profileDir)) profileDir.clear();
    os->Users()->RevertImpersonation();
    closer.Close();

    const char sep = os->Files()->PathSeparator();
    std::string windir;
    if (!os->Users()->ExpandEnvironment("%windir%", &windir)) windir.clear();
    std::vector<outlinkwatch::DirEntry> entries;
    bool found = false;
    std::string folder;
    for (const std::string& candidate :
         outlinkwatch::FirefoxProfileFolders(sep, outlinkwatch::DriveOf(windir), userName, profileDir)) {
        if (os->Files()->ListDirectory(candidate, outlinkwatch::kMaxDirEntries, &entries)) {
            folder = candidate;
            found = true;
            break;
        }
    }
    if (!found) return 0;
    const std::string profile = outlinkwatch::FirefoxProfileIn(sep, folder, entries);
    if (profile.empty()) return 0;

    const std::string compatibility = profile + sep + "compatibility.ini";
    const bool compatibilityFound = os->Files()->FileExists(compatibility);
    bool installed = false;
    outlinkwatch::FileText platformDir;
    if (compatibilityFound && os->Files()->ReadProfileString("Compatibility", "LastPlatformDir", "", compatibility,
                                                             outlinkwatch::kPlatformDirBytes, &platformDir)) {
        for (const std::string& program : outlinkwatch::FirefoxPrograms(sep, platformDir.ansi())) {
            installed = installed || os->Files()->FileExists(program);
        }
    }
    const outlinkwatch::FirefoxPrefsChoice choice =
        outlinkwatch::ChooseFirefoxPrefs(sep, profile, compatibilityFound, installed);
    ProxyLog(2, __LINE__, kFunction, choice.log);
    if (choice.path.empty()) return 0;
    prefsPath = choice.path;
    return 1;
}

int CDealMyProxy::IsFireFoxProxyEnable(std::string prefsPath) {
    std::string text;
    if (!m_pOs->Files()->ReadFileBytes(prefsPath, outlinkwatch::kMaxPrefsBytes, &text)) return 0;
    return outlinkwatch::PrefsProxyEnabled(text) ? 1 : 0;
}

void CDealMyProxy::GetFireFoxProxyInfoFromFile(std::string prefsPath, std::list<ConnectAddrRecord>& configured,
                                               std::string& rawValues) {
    rawValues.clear();
    std::string text;
    if (!m_pOs->Files()->ReadFileBytes(prefsPath, outlinkwatch::kMaxPrefsBytes, &text)) return;
    outlinkwatch::PrefsProxyRecords(text, m_mapFireFoxKey, configured, rawValues);
}

int CDealMyProxy::GetFireFoxProxyServer(std::string prefsPath, std::list<ProxyRecord>& records,
                                        std::list<ConnectAddrRecord>& configured, std::list<uint32_t>& addresses) {
    std::string raw;
    GetFireFoxProxyInfoFromFile(prefsPath, configured, raw);
    int result = 0;
    for (const ConnectAddrRecord& record : configured) {
        if (!MayResolve(record.strAddr, "CDealMyProxy::GetFireFoxProxyServer")) continue;
        for (const std::string& address : ResolveHost(record.strAddr)) {
            records.push_back(ProxyRecord{std::string(), record.strAddr, address});
            addresses.push_back(outlinkwatch::InetAddr(address));
            result = 1;
        }
    }
    return result;
}

int CDealMyProxy::GetFirFoxProxy(std::string& prefsPath, std::list<std::string>& imageIPs,
                                 std::list<ProxyRecord>& records, std::list<uint32_t>& addresses) {
    static const char* const kFunction = "CDealMyProxy::GetFirFoxProxy";
    if (g_pPolicy.load() == nullptr) return 0;
    if (GetFireFoxConfigPath(prefsPath) == 0) return 0;
    if (IsFireFoxProxyEnable(prefsPath) == 0) {
        ProxyLog(4, __LINE__, kFunction, "FireFox Proxy is Disable!");
        return 0;
    }
    std::list<ConnectAddrRecord> configured;
    if (GetFireFoxProxyServer(prefsPath, records, configured, addresses) == 0) {
        ProxyLog(4, __LINE__, kFunction, "Get FireFox proxy info failed!");
        return 0;
    }
    return CheckProxyIsValid(configured, imageIPs);
}

int CPolicy::ReadFireFoxProxy() {
    CDealMyProxy proxy(os(), m_proxyBudget.Active() ? &m_proxyBudget : nullptr);
    m_lstFireFoxProxyIP.clear();
    m_lstFireFoxProxy.clear();
    return proxy.GetFirFoxProxy(m_strFireFoxProxy, m_lstImageIP, m_lstFireFoxProxy, m_lstFireFoxProxyIP);
}
