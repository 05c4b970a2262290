// Debian's firefox-esr writes the proxy set in a throwaway profile's
// user.js into prefs.js at exit; the reader must find that profile beside
// the folders that are no profiles and read back the same hosts and ports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fakes/recording_sink.h"
#include "fakes/this_user_os.h"
#include "proxy/deal_my_proxy.h"

namespace outlinkwatch {
namespace {

namespace fs = std::filesystem;


TEST(FirefoxEsrTest, ReadsWhatFirefoxWrote) {
    if (!fs::exists("/usr/bin/firefox-esr")) GTEST_SKIP() << "firefox-esr is not installed (apt-get install firefox-esr)";
    const fs::path root = fs::temp_directory_path() / ("ow_firefox_esr_" + std::to_string(getpid()));
    const fs::path home = root / "home", firefox = home / ".mozilla" / "firefox", profile = firefox / "q7w8.default-esr";
    fs::remove_all(root);
    for (const char* dir : {"Crash Reports", "Pending Pings", "q7w8.default-esr"}) fs::create_directories(firefox / dir);
    std::ofstream js(profile / "user.js");
    for (const char* p : {"type\", 1", "http\", \"192.0.2.11\"", "ssl\", \"192.0.2.12\"", "ftp\", \"192.0.2.13\"",
                          "socks\", \"192.0.2.14\"", "http_port\", 3128", "ssl_port\", 3129", "ftp_port\", 2121",
                          "socks_port\", 1080"})
        js << "user_pref(\"network.proxy." << p << ");\n";
    js.close();
    // A headless screenshot run loads the page and quits, writing prefs.js
    // on the way out; timeout bounds it if it does not.
    const std::string command = "cd '" + root.string() + "' && HOME='" + home.string() +
                                "' MOZ_CRASHREPORTER_DISABLE=1 timeout -k 5 120 /usr/bin/firefox-esr --headless "
                                "--no-remote --profile '" + profile.string() + "' --screenshot '" +
                                (root / "shot.png").string() + "' about:blank >firefox.log 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "see " << (root / "firefox.log");

    std::unique_ptr<Os> real(NewDefaultOs());
    ThisUserOs os(real.get(), home.string());
    Os* previous = SetOsForTesting(&os);
    RecordingSink agent;
    {
        CDealMyProxy proxy(&os, nullptr, &agent);
        std::string path, raw, got;
        std::list<ConnectAddrRecord> configured;
        EXPECT_EQ(proxy.GetFireFoxConfigPath(path), 1);
        EXPECT_EQ(agent.CountLogs("Firefox is installed."), 1) << "compatibility.ini names /usr/lib/firefox-esr";
        EXPECT_EQ(proxy.IsFireFoxProxyEnable(path), 1);
        proxy.GetFireFoxProxyInfoFromFile(path, configured, raw);
        for (const auto& r : configured) got += r.strAddr + ":" + std::to_string(std::atoi(r.strPort.c_str())) + " ";
        EXPECT_EQ(path + " " + got,
                  (profile / "prefs.js").string() + " 192.0.2.11:3128 192.0.2.13:2121 192.0.2.12:3129 192.0.2.14:1080 :0 ");
    }
    SetOsForTesting(previous);
    fs::remove_all(root);
}

}  // namespace
}  // namespace outlinkwatch
