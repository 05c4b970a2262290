// The system's own stores (Wine's, in the cross build) as a 32-bit or a
// 64-bit agent meets them: the registry's views, and a Firefox profile in
// the user's folders. Reading the interactive user's Internet Explorer
// setting from the registry is the Windows proxy demos' check in CI
// (.ci/run), for the 64-bit and the 32-bit build.
#include <gtest/gtest.h>

#include "fakes/loopback_server.h"  // ACE's Winsock headers before windows.h

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fakes/params.h"
#include "fakes/recording_agent.h"
#include "lumenutil/registry.h"
#include "plugin/policy.h"
#include "proxy/deal_my_proxy.h"

namespace outlinkwatch {
namespace {

// HKLM\Software has a 32-bit view of its own, where a 32-bit process on
// 64-bit Windows lands unless it asks for the 64-bit view (OSTYPE_X64); a
// 64-bit process has that view as its own. DeleteRegKey names the 32-bit
// view for OSTYPE_X86 in either process.
TEST(RegistryWin32Test, OsTypeChoosesTheView) {
    using namespace lumenutil;
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    if (sizeof(void*) == 4 && !wow64) GTEST_SKIP() << "32-bit Windows: one registry view";
    const uint32_t own = sizeof(void*) == 8 ? 64 : 32;  // the view OSTYPE_X86 reaches
    const char* path = "Software\\OutlinkWatch view test";
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path, view, 0);
    const auto put = [&](REGSAM view, DWORD value) {  // as a program of that view writes it
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr), 0);
        EXPECT_EQ(RegSetValueExA(key, "View", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof value), 0);
        RegCloseKey(key);
    };
    const auto seen = [&](OSTYPE type) {  // 0: no such key
        DWORD v = 0;
        return LumenReg::QueryRegKeyValue(HKEY_LOCAL_MACHINE, path, "View", v, type) == UTIL_OK ? v : 0;
    };
    put(KEY_WOW64_64KEY, 64);
    EXPECT_EQ(seen(OSTYPE_X64), 64u);
    EXPECT_EQ(seen(OSTYPE_X86), own == 64 ? 64u : 0u);
    put(KEY_WOW64_32KEY, 32);
    EXPECT_EQ(seen(OSTYPE_X86), own);
    EXPECT_EQ(LumenReg::DeleteRegKey(HKEY_LOCAL_MACHINE, path, OSTYPE_X86), UTIL_OK);
    EXPECT_EQ(LumenReg::DeleteRegKey(HKEY_LOCAL_MACHINE, path, OSTYPE_X86), UTIL_E_DELETEKEY);
    EXPECT_EQ(LumenReg::DeleteRegKey(HKEY_LOCAL_MACHINE, path, OSTYPE_X64), UTIL_OK) << "the 64-bit view's key stays";
    EXPECT_EQ(seen(OSTYPE_X64), 0u);
}

// The user-interface process: a suspended copy of this program under its
// name, ended again with the test.
struct UiProcess {
    UiProcess() {
        char self[MAX_PATH] = {0};
        ok = GetModuleFileNameA(nullptr, self, MAX_PATH) > 0 && GetTempPathA(MAX_PATH, temp) > 0;
        path = std::string(temp) + "AGENTUI.EXE";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        ok = ok && CopyFileA(self, path.c_str(), FALSE) &&
             CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi);
    }
    ~UiProcess() {
        if (pi.hProcess != nullptr) {
            TerminateProcess(pi.hProcess, 0);
            WaitForSingleObject(pi.hProcess, 5000);
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
        DeleteFileA(path.c_str());
    }
    char temp[MAX_PATH] = {0};
    std::string path;
    PROCESS_INFORMATION pi{};
    bool ok = false;
};

// The UI process's user owns the settings; the profile is found through
// that user (impersonated), the user's profile directory and its profiles
// folder in the Windows layout.
TEST(FirefoxWin32Test, ProfileOfTheUiProcessUser) {
    char home[MAX_PATH] = {0};
    UiProcess ui;
    ASSERT_TRUE(ui.ok);
    const char* temp = ui.temp;
    ASSERT_GT(ExpandEnvironmentStringsA("%USERPROFILE%", home, MAX_PATH), 0u);
    const std::string mozilla = std::string(home) + "\\Application Data\\Mozilla";
    const std::string profile = mozilla + "\\Firefox\\Profiles\\x1.default";
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
        CDealMyProxy proxy(nullptr, nullptr, &policy);
        std::string prefs;
        std::list<ProxyRecord> records;
        std::list<uint32_t> addresses;
        EXPECT_EQ(proxy.GetFirFoxProxy(prefs, policy.m_settings.m_lstImageIP, records, addresses), 0) << "no port: not probed";
        EXPECT_EQ(prefs, profile + "\\prefs.js");
        EXPECT_EQ(agent.CountLogs("Firefox is installed."), 1);
        EXPECT_EQ(addresses.size(), 1u) << "prefs.js read, the proxy on, its host resolved";
        // Wine has no filter device either: no cut, and so no prompt.
        policy.SetPolicyParams({Param("block", "2"), Param("TrancertAddr", "192.0.2.1")});
        ASSERT_EQ(policy.GetPolicyParams(), 1);
        EXPECT_EQ(policy.HandleResult("route") + policy.BlockNetwork() + policy.SendNfwCommand(0x804D21DC, "", 0), 0);
        EXPECT_TRUE(agent.Prompts().empty());
    }
    const std::wstring ini(compatibility.begin(), compatibility.end());  // the wide reading of the same file
    EXPECT_TRUE(Os::Default()->Files()->FileExists(ini));
    FileText platformDir;
    EXPECT_TRUE(Os::Default()->Files()->ReadProfileString(L"Compatibility", L"LastPlatformDir", L"", ini, 260, &platformDir));
    EXPECT_EQ(platformDir.wideText().size(), strlen(temp) - 1);
    std::filesystem::remove_all(mozilla);
}

// The user's Internet Explorer setting in the registry names forty
// loopback endpoints that refuse ahead of one that answers: the answering
// one is probed in the one reading, so the setting is judged.
TEST(IEProxyWin32Test, RefusingEndpointsAheadOfALiveProxy) {
    UiProcess ui;
    ASSERT_TRUE(ui.ok);
    LoopbackServer closed(Serve::Accept, "", 0, false), live(Serve::Accept);
    ASSERT_TRUE(closed.ok() && live.ok());
    std::string server;
    for (int i = 10; i < 50; ++i) server += "ftp=127.0.0." + std::to_string(i) + ":" + std::to_string(closed.port()) + ";";
    server += "http=127.0.0.1:" + std::to_string(live.port());
    RecordingAgent agent;
    CPolicy policy;
    policy.SetAgent(&agent);
    CDealMyProxy proxy(nullptr, nullptr, &policy);
    char user[260] = {0};
    ASSERT_EQ(proxy.GetUIUserKeyName(user), 1);
    const std::string path = CDealMyProxy::IESettingsPath(user);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_USERS, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr), 0);
    const DWORD on = 1;
    EXPECT_EQ(RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on), 0);
    EXPECT_EQ(RegSetValueExA(key, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                             static_cast<DWORD>(server.size() + 1)),
              0);
    std::string keyPath;
    std::list<ProxyRecord> records;
    std::list<uint32_t> addresses;
    EXPECT_EQ(proxy.GetIEProxy(keyPath, policy.m_settings.m_lstImageIP, records, addresses), 1);
    EXPECT_EQ(addresses.size(), 40u);
    EXPECT_EQ(agent.CountLogs("Proxy Connect fail:127.0.0."), 40);
    EXPECT_EQ(agent.CountLogs("Proxy Connect succ:127.0.0.1:" + std::to_string(live.port())), 1);
    // The test's own Wine prefix: the setting goes again.
    RegDeleteValueA(key, "ProxyServer");
    RegDeleteValueA(key, "ProxyEnable");
    RegCloseKey(key);
}

}  // namespace
}  // namespace outlinkwatch
