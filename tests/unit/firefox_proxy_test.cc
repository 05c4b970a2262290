// The Firefox proxy reading: the prefs.js and compatibility.ini readers on
// text, and the profile walk over a profile folder on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_os.h"
#include "fakes/recording_agent.h"
#include "platform/ini_reader.h"
#include "plugin/policy.h"
#include "proxy/deal_my_proxy.h"
#include "proxy/firefox_proxy.h"

namespace outlinkwatch {
namespace {

namespace fs = std::filesystem;

// The five records as "host|port" in the order http, ftp, ssl, socks, gopher.
std::string Summary(const std::list<ConnectAddrRecord>& records) {
    std::string s;
    for (const auto& r : records) s += r.strAddr + "|" + r.strPort + (r.strHost + r.strSpare) + " ";
    return s;
}

std::string Pref(const std::string& name, const std::string& value) {
    return "user_pref(\"network.proxy." + name + "\", " + value + ");\n";
}

TEST(PrefsJsTest, Table) {
    const std::string header = "// Mozilla User Preferences\n\n// If you make changes, they are lost\n";
    const std::string all = header + "user_pref(\"app.first\", true);\n" + Pref("ftp", "\"f.test\"") +
                            Pref("ftp_port", "21") + Pref("gopher", "\"g.test\"") + Pref("gopher_port", "70") +
                            Pref("http", "\"h.test\"") + Pref("http_port", "80") + Pref("socks", "\"s.test\"") +
                            Pref("socks_port", "1080") + Pref("ssl", "\"t.test\"") + Pref("ssl_port", "443") +
                            Pref("type", "1");
    const struct {
        const char* name;
        std::string text;
        bool on;
        std::string records, raw;
    } cases[] = {
        {"every protocol", all, true, "h.test|80); f.test|21); t.test|443); s.test|1080); g.test|70); ",
         "f.test21);g.test70);h.test80);s.test1080);t.test443);"},
        {"automatic detection is off", header + "x;\n" + Pref("type", "4"), false, "| | | | | ", ""},
        {"any 1 on the type line", header + "x;\n" + Pref("type", "5) // 1"), true, "| | | | | ", ""},
        {"a last line without line feed", header + "x;\n" + Pref("http", "\"h.test\"") + Pref("type", "1").substr(0, 35),
         false, "h.test| | | | | ", "h.test"},
        {"quotes, blanks and CR LF", "a;\r\nuser_pref( \"network.proxy.ssl\" ,  \" t.test \" );\r\n"
                                     "user_pref(\"network.proxy.ssl_port\",\t443 );\r\n", false, "| | t.test|443 ); | | ",
         "t.test443 );"},
        {"a later line wins", "a;\n" + Pref("http", "\"one\"") + Pref("http", "\"two\""), false, "two| | | | | ", "onetwo"},
        {"no comma, no quotes", "a;\nuser_pref(\"network.proxy.http\")\n" + Pref("socks", "bare"), false,
         "| | | bare);| | ", "bare);"},
        {"the first segment, header and all, up to the first ';'", header + Pref("socks", "\"s.test\""), false,
         "| | | network.proxy.socks| | ", "network.proxy.socks"},
        {"text ends at a NUL", "a;\n" + std::string("\0", 1) + Pref("type", "1"), false, "| | | | | ", ""},
        {"no ';' at all", "\"network.proxy.type\" 1\n", true, "| | | | | ", ""},
        {"empty", "", false, "| | | | | ", ""},
    };
    CDealMyProxy proxy;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PrefsProxyEnabled(c.text), c.on);
        std::list<ConnectAddrRecord> records;
        std::string raw;
        PrefsProxyRecords(c.text, proxy.m_mapFireFoxKey, records, raw);
        EXPECT_EQ(Summary(records), c.records);
        EXPECT_EQ(raw, c.raw);
    }
}

TEST(CompatibilityIniTest, ProgramAndFolders) {
    const struct {
        char sep;
        const char* ini;
        const char* program;
    } cases[] = {
        {'/', "[Compatibility]\nLastVersion=153.8.0\nLastPlatformDir=/usr/lib/firefox-esr\n",
         "/usr/lib/firefox-esr/firefox-esr"},
        {'\\', "[Compatibility]\r\nLastPlatformDir=C:\\Program Files\\Mozilla Firefox\r\n",
         "C:\\Program Files\\Mozilla Firefox\\firefox.exe"},
        {'\\', "[Compatibility]\nLastVersion=3.6\n", "\\firefox.exe"},
        {'/', "[compatibility]\nlastplatformdir = /opt/ff \n[Compatibility]\nLastPlatformDir=/x\n", "/opt/ff/firefox-esr"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        const std::string dir = IniProfileString(c.ini, "Compatibility", "LastPlatformDir", "", kPlatformDirBytes);
        EXPECT_EQ(FirefoxPrograms(c.sep, dir).front(), c.program);
    }
    EXPECT_EQ(FirefoxProfileFolders('\\', DriveOf("D:\\WINDOWS"), "bob", "C:\\Users\\bob"),
              (std::vector<std::string>{"D:\\Documents and Settings\\bob\\Application Data\\Mozilla\\Firefox\\Profiles",
                                        "D:\\Documents and Settings\\Administrator\\Application Data\\Mozilla\\Firefox\\Profiles",
                                        "C:\\Users\\bob\\Application Data\\Mozilla\\Firefox\\Profiles"}));
    EXPECT_EQ(FirefoxProfileFolders('/', "", "bob", "/home/bob"), std::vector<std::string>{"/home/bob/.mozilla/firefox"});
}

// Probes nothing: records what it was asked and answers as told.
class RecordingProxy : public CDealMyProxy {
public:
    using CDealMyProxy::CDealMyProxy;
    int CheckProxyIsValid(std::list<ConnectAddrRecord>& configured, std::list<std::string>&) override {
        probed = configured;
        return 1;
    }
    std::list<ConnectAddrRecord> probed;
};

TEST(FirefoxProfileTest, Walk) {
    const fs::path root = fs::temp_directory_path() / ("ow_firefox_" + std::to_string(getpid()));
    const std::string on = "a;\n" + Pref("http", "\"proxy.test\"") + Pref("http_port", "8080") +
                           Pref("ssl", "\"proxy.test\"") + Pref("type", "1");
    const struct {
        const char* name;
        bool ui, compat, program;
        std::string prefs;
        int result;
        const char* log;
        size_t records;
    } cases[] = {
        {"proxy on", true, true, true, on, 1, "Firefox is installed.", 4},
        {"no compatibility.ini", true, false, false, on, 1, "Can not find compatibility.ini.", 4},
        {"program missing", true, true, false, on, 0, "Firefox is not installed.", 0},
        {"proxy off", true, true, true, "a;\n" + Pref("type", "0"), 0, "FireFox Proxy is Disable!", 0},
        {"nothing resolves", true, true, true, "a;\n" + Pref("type", "1"), 0, "Get FireFox proxy info failed!", 0},
        {"no UI process", false, true, true, on, 0, nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root);
        const fs::path firefox = root / "home" / ".mozilla" / "firefox";
        for (const char* dir : {"Crash Reports", "Pending Pings", "ab12.default-esr"}) fs::create_directories(firefox / dir);
        std::ofstream(firefox / "profiles.ini") << "[General]\n";
        const fs::path profile = firefox / "ab12.default-esr";
        std::ofstream(profile / "prefs.js") << c.prefs;
        if (c.compat) std::ofstream(profile / "compatibility.ini") << "[Compatibility]\nLastPlatformDir=" << root.string() << "\n";
        if (c.program) std::ofstream(root / "firefox-esr") << "";

        FakeOs fake;
        Os* previous = SetOsForTesting(&fake);
        if (c.ui) fake.AddProcess("AGENTUI.exe", FakeOs::FakeUser{"S-1-5-18", "alice", (root / "home").string()});
        fake.SetResolution("proxy.test", {"192.0.2.7", "127.0.0.1", "192.0.2.8"});
        RecordingAgent agent;
        {
            CPolicy policy;
            policy.SetAgent(&agent);
            RecordingProxy proxy(&fake);
            std::string path;
            std::list<std::string> images;
            std::list<ProxyRecord> records;
            std::list<uint32_t> addresses;
            EXPECT_EQ(proxy.GetFirFoxProxy(path, images, records, addresses), c.result);
            if (c.log != nullptr) {
                EXPECT_EQ(agent.CountLogs(c.log), 1);
            }
            EXPECT_EQ(records.size(), c.records);
            EXPECT_EQ(addresses.size(), c.records);
            if (c.records > 0) {
                EXPECT_EQ(path, (profile / "prefs.js").string());
                EXPECT_EQ(records.front().strProtocol + "|" + records.front().strHost + "|" + records.front().strAddr,
                          "|proxy.test|192.0.2.7");
                EXPECT_EQ(Summary(proxy.probed), "proxy.test|8080); | proxy.test| | | ");
            }
            EXPECT_EQ(fake.ImpersonationDepth(), 0);
            EXPECT_EQ(fake.OpenTokens(), 0u);
        }
        SetOsForTesting(previous);
    }
    fs::remove_all(root);
}

}  // namespace
}  // namespace outlinkwatch
