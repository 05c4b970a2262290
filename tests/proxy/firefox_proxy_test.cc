// The Firefox proxy reading: the prefs.js and compatibility.ini readers on
// text, and the profile walk over a profile folder on disk.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fakes/proxy_check_rig.h"
#include "fakes/temp_dir.h"
#include "fakes/this_user_os.h"
#include "emulation/ini_reader.h"
#include "proxy/deal_my_proxy.h"
#include "proxy/firefox_proxy.h"

namespace outlinkwatch {
namespace {

namespace fs = std::filesystem;

// The records as "host|port " in the order http, ftp, ssl, socks, gopher.
std::string Summary(const std::list<ConnectAddrRecord>& records) {
    std::string s;
    for (const auto& r : records) s += r.strAddr + "|" + r.strPort + (r.strHost + r.strSpare) + " ";
    return s;
}

std::string Pref(const std::string& name, const std::string& value) {
    return "user_pref(\"network.proxy." + name + "\", " + value + ");\n";
}

// Lines of other preferences, as many as fill bytes.
std::string Padding(size_t bytes) {
    const std::string line = "user_pref(\"app.padding\", 1);\n";
    std::string out;
    while (out.size() + line.size() <= bytes) out += line;
    return out;
}

TEST(PrefsJsTest, Table) {
    const std::string header = "// Mozilla User Preferences\n\n// If you make changes, they are lost\n";
    std::string all = header + "user_pref(\"app.first\", true);\n";
    for (const char* p : {"ftp", "gopher", "http", "socks", "ssl"}) all += Pref(p, std::string("\"") + p[0] + ".test\"");
    for (const char* p : {"ftp_port\", 21", "gopher_port\", 70", "http_port\", 80", "socks_port\", 1080", "ssl_port\", 443"}) {
        all += "user_pref(\"network.proxy." + std::string(p) + ");\n";
    }
    const std::string none = "| | | | | ";
    const struct { const char* name; std::string text; bool on; std::string records, raw; } cases[] = {
        {"every protocol", all + Pref("type", "1"), true, "h.test|80); f.test|21); s.test|443); s.test|1080); g.test|70); ",
         "f.testg.testh.tests.tests.test21);70);80);1080);443);"},
        {"automatic detection is off", "x;\n" + Pref("type", "4"), false, none, ""},
        {"any 1 on the type line", "x;\n" + Pref("type", "5) // 1"), true, none, ""},
        {"the last line without line feed", "x;\n" + Pref("http", "\"h\"") + Pref("type", "1").substr(0, 35), false,
         "h| | | | | ", "h"},
        {"quotes, blanks and CR LF",
         "a;\r\nuser_pref( \"network.proxy.ssl\" ,  \" t.test \" );\r\nuser_pref(\"network.proxy.ssl_port\",\t443 );\r\n",
         false, "| | t.test|443 ); | | ", "t.test443 );"},
        {"a later line wins", "a;\n" + Pref("http", "\"one\"") + Pref("http", "\"two\""), false, "two| | | | | ", "onetwo"},
        {"no comma, no quotes", "a;\nuser_pref(\"network.proxy.http\")\n" + Pref("socks", "bare"), false,
         "| | | bare);| | ", "bare);"},
        {"the first segment, header and all", header + Pref("socks", "\"s\""), false, "| | | network.proxy.socks| | ",
         "network.proxy.socks"},
        {"text ends at a NUL", "a;\n" + std::string("\0", 1) + Pref("type", "1"), false, none, ""},
        {"no ';' at all", "\"network.proxy.type\" 1\n", true, none, ""},
        {"no ';', lines are segments", "\"network.proxy.type\" 0\n" + Pref("ssl", "\"s\""), false, "| | s| | | ", "s"},
        // A segment of any length is judged whole.
        {"a key behind 100 KiB of one line", "a;\n" + std::string(100000, 'x') + "\"network.proxy.http\", \"h\"\n", false,
         "h| | | | | ", "h"},
        {"a port behind 100 KiB of blanks", "a;\n" + Pref("http_port", std::string(100000, ' ') + "81"), false,
         "|81); | | | | ", "81);"},
        {"the type line after a 100 KiB first segment", std::string(100000, 'y') + ";\n" + Pref("type", "1"), true, none, ""},
        {"trimmed as TrimText trims", "a;\n" + Pref("socks_port", " \r 5 \t") + Pref("gopher", "\"\r \t g\t \r\""), false,
         "| | | |\r 5 \t); g| ", "\r 5 \t);g"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Whole, and in pieces that cut keys, lines and values anywhere.
        for (const size_t pieceBytes : {c.text.size() + 1, size_t{1}, size_t{7}}) {
            PrefsScanner scanner(FirefoxPrefKeys());
            for (size_t at = 0; at < c.text.size(); at += pieceBytes) scanner.Feed(std::string_view(c.text).substr(at, pieceBytes));
            EXPECT_EQ(scanner.Enabled(), c.on) << pieceBytes;
            std::list<ConnectAddrRecord> records;
            std::string raw;
            scanner.Records(records, raw);
            EXPECT_EQ(Summary(records), c.records) << pieceBytes;
            EXPECT_EQ(raw, c.raw) << pieceBytes;
        }
    }
    // Longer than kept: its head, then a fingerprint of all of it.
    std::string records[2], raws[2];
    for (int i = 0; i < 2; ++i) {
        std::list<ConnectAddrRecord> got;
        PrefsProxyRecords("a;\n" + Pref("ftp", "\"" + std::string(kMaxPrefsValueBytes + 9, 'f') + char('a' + i) + "\""),
                          FirefoxPrefKeys(), got, raws[i]);
        records[i] = std::next(got.begin())->strAddr;
    }
    EXPECT_EQ(records[0].size(), kMaxPrefsValueBytes + 17);
    EXPECT_EQ(records[0].substr(kMaxPrefsValueBytes - 1, 2), "f#");
    EXPECT_NE(records[0], records[1]);
    EXPECT_EQ(raws[0], records[0]);
}

// The path choice from plain facts: the profile folders, the profile among
// a folder's entries, the program compatibility.ini names, prefs.js or none.
TEST(FirefoxPathTest, Choices) {
    EXPECT_EQ(FirefoxProfileFolders('\\', DriveOf("D:\\WINDOWS"), "bob", "C:\\Users\\bob")[1],
              "D:\\Documents and Settings\\Administrator\\Application Data\\Mozilla\\Firefox\\Profiles");
    const DirEntry crash{"Crash Reports", true}, dot{".", true}, file{"ab.default", false}, profile{"ab.default", true};
    const struct { char sep; std::vector<DirEntry> entries; const char* profile; } profiles[] = {
        {'/', {dot, crash, {"Pending Pings", true}, file, profile}, "f/ab.default"},
        {'\\', {{"..", true}, file, crash, profile}, "f\\Crash Reports"}, {'/', {dot, crash, file}, ""}};
    for (const auto& row : profiles) EXPECT_EQ(FirefoxProfileIn(row.sep, "f", row.entries), row.profile) << row.sep;
    const struct { const char* ini; const char* program; } programs[] = {
        {"[Compatibility]\r\nLastPlatformDir=C:\\Mozilla Firefox\r\n", "C:\\Mozilla Firefox\\firefox.exe"},
        {"[Compatibility]\nLastVersion=3.6\n", "\\firefox.exe"}};
    for (const auto& row : programs) {
        const std::string dir = IniProfileString(row.ini, "Compatibility", "LastPlatformDir", "", kPlatformDirBytes);
        EXPECT_EQ(FirefoxPrograms('\\', dir).front(), row.program) << row.ini;
    }
    const struct { bool compatibility, installed; const char* choice; } choices[] = {
        {false, false, "p/prefs.js|Can not find compatibility.ini."}, {true, false, "|Firefox is not installed."},
        {true, true, "p/prefs.js|Firefox is installed."}};
    for (const auto& row : choices) {
        const FirefoxPrefsChoice choice = ChooseFirefoxPrefs('/', "p", row.compatibility, row.installed);
        EXPECT_EQ(choice.path + "|" + choice.log, row.choice);
    }
}

TEST(FirefoxProfileTest, Walk) {
    TempDir dir;
    const fs::path root = dir.path();
    const fs::path firefox = root / "home" / ".mozilla" / "firefox", profile = firefox / "ab12.default-esr";
    const std::string on = "a;\n" + Pref("http", "\"proxy.test\"") + Pref("http_port", "1") +
                           Pref("ssl", "\"proxy.test\"") + Pref("type", "1");
    const struct {
        const char* name;
        bool ui, compat, program;
        std::string prefs;
        bool records;  // nothing listens on port 1 of the proxy address: 0 throughout
        const char* log;
    } cases[] = {
        {"proxy on", true, true, true, on, true, "Firefox is installed."},
        {"found after 64 MiB of other preferences", true, true, true, "a;\n" + Padding(64u << 20) + on.substr(3), true,
         "Firefox is installed."},
        {"proxy off", true, true, true, "a;\n" + Pref("type", "0"), false, "FireFox Proxy is Disable!"},
        {"nothing resolves", true, true, true, "a;\n" + Pref("type", "1"), false, "Get FireFox proxy info failed!"},
        {"no UI process", false, true, true, on, false, "Firefox"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root);
        for (const char* dir : {"Crash Reports", "Pending Pings", "ab12.default-esr"}) fs::create_directories(firefox / dir);
        std::ofstream(profile / "prefs.js") << c.prefs;
        if (c.compat) std::ofstream(profile / "compatibility.ini") << "[Compatibility]\nLastPlatformDir=" << root.string();
        if (c.program) std::ofstream(root / "firefox-esr") << "";
        ProxyCheckRig rig;
        FakeOs& fake = rig.fake;
        if (c.ui) fake.processes.push_back({"AGENTUI.exe", "S-1-5-18", "alice", (root / "home").string()});
        fake.resolutions["proxy.test"] = {"127.0.0.7", "127.0.0.1"};
        CDealMyProxy proxy(&fake, nullptr, &rig.log);
        std::string path;
        std::list<ProxyRecord> records;
        std::list<uint32_t> addresses;
        EXPECT_EQ(proxy.GetFirFoxProxy(path, rig.settings.m_lstImageIP, records, addresses), 0);
        EXPECT_EQ(rig.log.CountLogs(c.log), c.ui ? 1 : 0);
        if (c.records) {
            EXPECT_EQ(path, (profile / "prefs.js").string());
            ASSERT_EQ(records.size(), 2u);
            EXPECT_EQ(records.back().strProtocol + "|" + records.back().strHost + "|" + records.back().strAddr,
                      "|proxy.test|127.0.0.7");
            EXPECT_EQ(addresses, std::list<uint32_t>(2, InetAddr("127.0.0.7")));
        }
        EXPECT_EQ(fake.impersonations, 0);
        EXPECT_EQ(fake.OpenTokens(), 0u);
    }
}

// What a user can put in place of prefs.js, of compatibility.ini or of the
// profiles folder: each is refused at once on the Linux backend, never
// waited on, followed or taken from another user.
TEST(FirefoxPlantedFilesTest, LinuxBackend) {
    if (geteuid() != 0) GTEST_SKIP() << "planting device nodes and other users' files needs root";
    TempDir dir;
    const std::string home = dir.path() + "/home", firefox = home + "/.mozilla/firefox", profile = firefox + "/ab";
    const std::string elsewhere = dir.path() + "/root-only";
    const auto write = [](const std::string& at, const std::string& text) { return !(std::ofstream(at) << text) ? -1 : 0; };
    const char* const kinds[] = {"a regular file of the user's", "a FIFO", "a link to a FIFO", "a link to a root-only file",
                                 "a device node", "a folder", "another user's file", "a link to the profiles folder",
                                 "another user's profiles folder"};
    const auto plant = [&](size_t kind, const std::string& at, const std::string& text) {
        const std::string fifo = elsewhere + "/fifo", file = elsewhere + "/file", ff = elsewhere + "/ff";
        switch (kind) {
            case 0: return write(at, text);
            case 1: return mkfifo(at.c_str(), 0644);
            case 2: return mkfifo(fifo.c_str(), 0644) | symlink(fifo.c_str(), at.c_str());
            case 3: return write(file, text) | symlink(file.c_str(), at.c_str());
            case 4: return mknod(at.c_str(), S_IFCHR | 0644, makedev(1, 3));
            case 5: return mkdir(at.c_str(), 0755);
            case 6: return write(at, text) | chown(at.c_str(), 4321, 4321);
            case 7: return symlink(ff.c_str(), at.c_str());
            default: return mkdir(at.c_str(), 0755) | chown(at.c_str(), 4321, 4321);
        }
    };
    const std::string prefs = "a;\n" + Pref("http", "\"proxy.test\"") + Pref("type", "1");
    const std::string ini = "[Compatibility]\nLastPlatformDir=" + dir.path() + "\n";
    std::unique_ptr<Os> real(NewDefaultOs());
    ThisUserOs os(real.get(), home);
    Os* previous = SetOsForTesting(&os);
    RecordingSink log;
    for (size_t kind = 0; kind < std::size(kinds); ++kind) {
        const bool folderKind = std::string(kinds[kind]).find("folder") != std::string::npos, read = kind == 0;
        for (const std::string& target : {std::string("prefs.js"), std::string("compatibility.ini"), std::string()}) {
            if (folderKind != target.empty()) continue;
            SCOPED_TRACE(std::string(kinds[kind]) + " as " + (target.empty() ? "the profiles folder" : target));
            fs::remove_all(home);
            fs::remove_all(elsewhere);
            fs::create_directories(elsewhere + "/ff/ab");
            chmod(elsewhere.c_str(), 0700);
            ASSERT_TRUE(write(dir.path() + "/firefox-esr", "") == 0 && write(elsewhere + "/ff/ab/prefs.js", prefs) == 0);
            ASSERT_TRUE(fs::create_directories(target.empty() ? home + "/.mozilla" : profile));
            for (const char* name : {"prefs.js", "compatibility.ini"}) {
                const std::string at = profile + "/" + name, text = name[0] == 'p' ? prefs : ini;
                ASSERT_EQ(target.empty() ? 0 : name == target ? plant(kind, at, text) : write(at, text), 0);
            }
            if (target.empty()) { ASSERT_EQ(plant(kind, firefox, ""), 0); }
            const int installed = log.CountLogs("Firefox is installed."), not_ = log.CountLogs("Firefox is not installed.");
            CDealMyProxy proxy(&os, nullptr, &log);
            std::string path, raw;
            std::list<ConnectAddrRecord> configured;
            const int found = proxy.GetFireFoxConfigPath(path);
            const bool prefsRead = proxy.IsFireFoxProxyEnable(path) == 1;
            proxy.GetFireFoxProxyInfoFromFile(path, configured, raw);
            EXPECT_EQ(found, target.empty() || (target[0] == 'c' && !read) ? 0 : 1);
            EXPECT_EQ(prefsRead, read || target[0] == 'c' ? found == 1 : false);
            EXPECT_EQ(raw, prefsRead ? "proxy.test" : "");
            EXPECT_EQ(log.CountLogs("Firefox is installed.") - installed, found);
            EXPECT_EQ(log.CountLogs("Firefox is not installed.") - not_, !target.empty() && target[0] == 'c' && !read);
        }
    }
    SetOsForTesting(previous);
}

}  // namespace
}  // namespace outlinkwatch
