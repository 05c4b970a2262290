#include "proxy/browser_settings.h"

#include <algorithm>
#include <cstring>

#include "emulation/ini_reader.h"
#include "lumenutil/registry.h"
#include "lumenutil/system_info.h"
#include "platform/hkey.h"
#include "proxy/ie_proxy.h"

namespace outlinkwatch {

namespace {

// HKEY_USERS as the Windows headers give it, which only the OS seam includes.
HKEY UsersRoot() { return PredefinedRegKey(0x80000003u); }

}  // namespace

BrowserSettingsReader::BrowserSettingsReader(Os* os, LogSink* log)
    : m_mapFireFoxKey(FirefoxPrefKeys()), m_pOs(os != nullptr ? os : CurrentOs()), m_pLog(log) {}

void BrowserSettingsReader::Log(int level, int line, const char* function, const char* text) {
    if (m_pLog != nullptr) m_pLog->WriteLog(level, function, line, "%s", text);
}

void BrowserSettingsReader::ReadIESetting(IESetting* setting) {
    ClearIE(setting);
    char keyName[kUserKeyNameBytes] = {0};
    if (GetUIUserKeyName(keyName) != 0) ReadIEOfUser(keyName, setting);
}

void BrowserSettingsReader::ReadIEOfUser(const char* keyName, IESetting* setting) {
    setting->user = true;
    setting->keyPath = IESettingsPath(keyName);
    setting->enabled = static_cast<uint32_t>(IsIEProxyEnable(setting->keyPath, "ProxyEnable"));
    GetIEProxyInfoFromReg(setting->keyPath, "ProxyServer", setting->configured, setting->raw);
}

void BrowserSettingsReader::ReadSettings(IESetting* ie, FirefoxSetting* ff) {
    ClearIE(ie);
    ClearFirefox(ff);
    // One look-up of the interactive user serves both browsers.
    Handle token = nullptr;
    const lumenutil::OsHandleGuard closer{m_pOs, token};
    uint32_t sessionId = 0;
    if (lumenutil::TokenByName(m_pOs, kAgentUiImage, token, sessionId) != lumenutil::UTIL_OK) return;
    std::string keyName;
    if (lumenutil::UserKeyNameOfToken(m_pOs, token, keyName) == lumenutil::UTIL_OK) {
        keyName.resize(std::min(keyName.size(), kUserKeyNameBytes - 1));
        ReadIEOfUser(keyName.c_str(), ie);
    }
    if (FirefoxPrefsOfUser(token, ff->prefsPath) != 0) ReadFirefoxPrefs(ff);
}

void BrowserSettingsReader::ReadFirefoxSetting(FirefoxSetting* setting) {
    ClearFirefox(setting);
    if (GetFireFoxConfigPath(setting->prefsPath) != 0) ReadFirefoxPrefs(setting);
}

void BrowserSettingsReader::ClearIE(IESetting* setting) {
    setting->user = false;
    setting->keyPath.clear();
    setting->enabled = 0;
    setting->raw.clear();
    setting->configured.clear();
}

void BrowserSettingsReader::ClearFirefox(FirefoxSetting* setting) {
    setting->found = false;
    setting->enabled = 0;
    setting->raw.clear();
    setting->configured.clear();
}

void BrowserSettingsReader::ReadFirefoxPrefs(FirefoxSetting* setting) {
    setting->found = true;
    // One pass over prefs.js answers both the switch and the records.
    PrefsScanner scanner(m_mapFireFoxKey);
    if (!ScanPrefs(setting->prefsPath, &scanner)) return;
    setting->enabled = scanner.Enabled() ? 1 : 0;
    scanner.Records(setting->configured, setting->raw);
}

// --- Internet Explorer

int BrowserSettingsReader::GetUIUserKeyName(char* keyName) {
    if (keyName == nullptr) return 0;
    std::string name;
    if (lumenutil::CurrentUserSid(m_pOs, kAgentUiImage, name) != lumenutil::UTIL_OK) return 0;
    const size_t n = std::min(name.size(), kUserKeyNameBytes - 1);
    std::memcpy(keyName, name.data(), n);
    keyName[n] = '\0';
    return 1;
}

std::string BrowserSettingsReader::IESettingsPath(const char* keyName) {
    return std::string(keyName) + "\\" + kIESettingsKey;
}

int BrowserSettingsReader::IsIEProxyEnable(const std::string& keyPath, const std::string& valueName) {
    DWORD value = 0;
    const uint32_t rc = lumenutil::LumenReg::QueryRegKeyValue(UsersRoot(), keyPath, valueName, value,
                                                              lumenutil::OSTYPE_X86);
    return rc == lumenutil::UTIL_OK && value == 1 ? 1 : 0;
}

void BrowserSettingsReader::GetIEProxyInfoFromReg(const std::string& keyPath, const std::string& valueName,
                                                  std::list<ConnectAddrRecord>& configured, std::string& rawValue) {
    DWORD size = kProxyServerBytes;
    std::string text;
    if (lumenutil::LumenReg::QueryRegKeyValue(UsersRoot(), keyPath, valueName, size, text, lumenutil::OSTYPE_X86) !=
        lumenutil::UTIL_OK) {
        Log(4, __LINE__, "CDealMyProxy::GetIEProxyInfoFromReg", "QueryRegKeyValue failed!");
        return;
    }
    rawValue = text;
    ParseProxyServer(text, configured);
}

// --- Firefox

int BrowserSettingsReader::GetFireFoxConfigPath(std::string& prefsPath) {
    Handle token = nullptr;
    const lumenutil::OsHandleGuard closer{m_pOs, token};
    uint32_t sessionId = 0;
    if (lumenutil::TokenByName(m_pOs, "AGENTUI.EXE", token, sessionId) != lumenutil::UTIL_OK) return 0;
    return FirefoxPrefsOfUser(token, prefsPath);
}

int BrowserSettingsReader::FirefoxPrefsOfUser(Handle token, std::string& prefsPath) {
    static const char* const kFunction = "CDealMyProxy::GetFireFoxConfigPath";
    Os* const os = m_pOs;
    // The user's name and profile directory, looked up as that user.
    os->Users()->ImpersonateToken(token);  // failing, the lookups answer for this process's own account
    std::string userName;
    if (!os->Users()->ImpersonatedUserName(token, &userName)) {
        os->Users()->RevertImpersonation();
        return 0;
    }
    std::string profileDir;
    if (!os->Users()->ExpandForUser(token, "%userprofile%", &profileDir)) profileDir.clear();
    // The files below are that user's; without the user, only root's pass.
    if (os->Users()->TokenUserSid(token, &m_strUserSid) != UserStatus::kOk) m_strUserSid.clear();
    os->Users()->RevertImpersonation();

    const char sep = os->Files()->PathSeparator();
    std::string windir;
    if (!os->Users()->ExpandEnvironment("%windir%", &windir)) windir.clear();
    std::vector<DirEntry> entries;
    bool found = false;
    std::string folder;
    for (const std::string& candidate :
         FirefoxProfileFolders(sep, DriveOf(windir), userName, profileDir)) {
        if (os->Files()->ListUserDirectory(m_strUserSid, candidate, kMaxDirEntries, &entries)) {
            folder = candidate;
            found = true;
            break;
        }
    }
    if (!found) return 0;
    const std::string profile = FirefoxProfileIn(sep, folder, entries);
    if (profile.empty()) return 0;

    const std::string compatibility = profile + sep + "compatibility.ini";
    // Read as an ini file is read, up to the same size; something there
    // that is no file of the user's counts as found but names no program.
    std::string ini;
    const UserFileRead read =
        ReadUserText(os, m_strUserSid, compatibility, [&ini](std::string_view piece) {
            ini.append(piece.substr(0, kMaxIniFileBytes - ini.size()));
            return ini.size() < kMaxIniFileBytes;
        });
    const bool compatibilityFound = read != UserFileRead::kMissing;
    bool installed = false;
    if (read == UserFileRead::kRead) {
        const std::string platformDir = IniProfileString(ini, "Compatibility", "LastPlatformDir", "",
                                                                       kPlatformDirBytes);
        for (const std::string& program : FirefoxPrograms(sep, platformDir)) {
            installed = installed || os->Files()->FileExists(program);
        }
    }
    const FirefoxPrefsChoice choice =
        ChooseFirefoxPrefs(sep, profile, compatibilityFound, installed);
    Log(2, __LINE__, kFunction, choice.log);
    if (choice.path.empty()) return 0;
    prefsPath = choice.path;
    return 1;
}

bool BrowserSettingsReader::ScanPrefs(const std::string& prefsPath, PrefsScanner* scanner) {
    return ReadUserText(m_pOs, m_strUserSid, prefsPath, [scanner](std::string_view piece) {
               scanner->Feed(piece);
               return !scanner->Ended();
           }) == UserFileRead::kRead;
}

int BrowserSettingsReader::IsFireFoxProxyEnable(const std::string& prefsPath) {
    PrefsScanner scanner(m_mapFireFoxKey);
    return ScanPrefs(prefsPath, &scanner) && scanner.Enabled() ? 1 : 0;
}

void BrowserSettingsReader::GetFireFoxProxyInfoFromFile(const std::string& prefsPath, std::list<ConnectAddrRecord>& configured,
                                               std::string& rawValues) {
    rawValues.clear();
    PrefsScanner scanner(m_mapFireFoxKey);
    if (ScanPrefs(prefsPath, &scanner)) scanner.Records(configured, rawValues);
}

}  // namespace outlinkwatch
