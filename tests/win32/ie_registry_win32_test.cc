// The browsers' settings where the system keeps them (Wine's, in the cross
// build): the Internet Explorer values under this process's user key in
// HKEY_USERS, and a Firefox profile in the user's folders.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fakes/recording_agent.h"
#include "lumenutil/registry.h"
#include "lumenutil/system_info.h"
#include "plugin/policy.h"
#include "proxy/deal_my_proxy.h"

namespace outlinkwatch {
namespace {

TEST(IERegistryWin32Test, WrittenUnderTheUsersKeyAndReadBack) {
    char image[MAX_PATH] = {0};
    ASSERT_GT(GetModuleFileNameA(nullptr, image, MAX_PATH), 0u);
    const std::string self = std::string(image).substr(std::string(image).find_last_of("\\/") + 1);
    std::string sid;
    ASSERT_EQ(lumenutil::LumenSystemInfo::GetCurrentUserSID(self, sid), lumenutil::UTIL_OK);
    const std::string key = CDealMyProxy::IESettingsPath(sid.c_str());
    using lumenutil::LumenReg;
    ASSERT_EQ(LumenReg::CreateRegKeyValue(HKEY_USERS, key, "ProxyEnable", 1u, lumenutil::OSTYPE_X86), lumenutil::UTIL_OK);
    ASSERT_EQ(LumenReg::CreateRegKeyValue(HKEY_USERS, key, "ProxyServer", "http=192.0.2.5:8080; https=192.0.2.6:443",
                                          false, lumenutil::OSTYPE_X86),
              lumenutil::UTIL_OK);
    RecordingAgent agent;
    {
        CPolicy policy;
        policy.SetAgent(&agent);
        CDealMyProxy proxy;
        EXPECT_EQ(proxy.IsIEProxyEnable(key, "ProxyEnable"), 1);
        std::list<ProxyRecord> records;
        std::list<ConnectAddrRecord> configured;
        std::list<uint32_t> addresses;
        EXPECT_EQ(proxy.GetIEProxyServer(key, "ProxyServer", records, configured, addresses), 1);
        std::string shown;
        for (const ProxyRecord& r : records) shown += r.strProtocol + r.strHost + "=" + r.strAddr + " ";
        EXPECT_EQ(shown, "http:192.0.2.5=192.0.2.5  https:192.0.2.6=192.0.2.6 ");
        EXPECT_EQ(addresses.size(), 2u);
    }
    EXPECT_EQ(LumenReg::DeleteRegKeyValue(HKEY_USERS, key, "ProxyServer", lumenutil::OSTYPE_X86), lumenutil::UTIL_OK);
    EXPECT_EQ(LumenReg::DeleteRegKeyValue(HKEY_USERS, key, "ProxyEnable", lumenutil::OSTYPE_X86), lumenutil::UTIL_OK);
}

// The UI process is a suspended copy of this program under its name; the
// profile is found through that process's user (impersonated), the user's
// profile directory and its profiles folder in the Windows layout.
TEST(FirefoxWin32Test, ProfileOfTheUiProcessUser) {
    char self[MAX_PATH] = {0}, temp[MAX_PATH] = {0}, home[MAX_PATH] = {0};
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    ASSERT_GT(ExpandEnvironmentStringsA("%USERPROFILE%", home, MAX_PATH), 0u);
    const std::string ui = std::string(temp) + "AGENTUI.EXE", mozilla = std::string(home) + "\\Application Data\\Mozilla";
    const std::string profile = mozilla + "\\Firefox\\Profiles\\x1.default";
    ASSERT_TRUE(CopyFileA(self, ui.c_str(), FALSE));
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(ui.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi));
    std::filesystem::create_directories(profile);
    std::ofstream(std::string(temp) + "firefox.exe") << "";
    const std::string compatibility = profile + "\\compatibility.ini";
    std::ofstream(compatibility) << "[Compatibility]\nLastPlatformDir=" << std::string(temp, strlen(temp) - 1);
    std::ofstream(profile + "\\prefs.js") << "user_pref(\"network.proxy.http\", \"10.1.1.1\");\n"
                                            "user_pref(\"network.proxy.type\", 1);\n";
    RecordingAgent agent;
    {
        CPolicy policy;
        policy.SetAgent(&agent);
        CDealMyProxy proxy;
        std::string prefs;
        std::list<ProxyRecord> records;
        std::list<uint32_t> addresses;
        EXPECT_EQ(proxy.GetFirFoxProxy(prefs, policy.m_lstImageIP, records, addresses), 0) << "no port: not probed";
        EXPECT_EQ(prefs, profile + "\\prefs.js");
        EXPECT_EQ(agent.CountLogs("Firefox is installed."), 1);
        EXPECT_EQ(addresses.size(), 1u) << "prefs.js read, the proxy on, its host resolved";
        // Wine has no filter device either: no cut, and so no prompt.
        policy.m_strBlock = "2";
        EXPECT_EQ(policy.HandleResult("route") + policy.BlockNetwork() + policy.SendNfwCommand(0x804D21DC, "", 0), 0);
        EXPECT_TRUE(agent.Prompts().empty());
    }
    const std::wstring ini(compatibility.begin(), compatibility.end());  // the wide reading of the same file
    EXPECT_TRUE(Os::Default()->FileExistsW(ini));
    EXPECT_EQ(Os::Default()->ReadProfileStringW(L"Compatibility", L"LastPlatformDir", L"", ini, 260).size(),
              strlen(temp) - 1);
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DeleteFileA(ui.c_str());
    std::filesystem::remove_all(mozilla);
}

}  // namespace
}  // namespace outlinkwatch
