// The proxy check task end to end on the fake OS with compressed time: the
// interactive user's IE setting in the fake registry, a Firefox profile in
// a temporary home, both naming a listener on a loopback address; each
// proxy tick is 70 s of the fake clock.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>

#include "fakes/params.h"
#include "fakes/policy_rig.h"
#include "fakes/proxy_check_rig.h"
#include "fakes/temp_dir.h"
#include "proxy/proxy_budget.h"
#include "proxy/ie_proxy.h"
#include "proxy/proxy_verdict.h"

namespace outlinkwatch {
namespace {

constexpr const char* kSid = "S-1-5-21-7";
constexpr uint32_t kSetDenyList = 0x804D21DC;

// Accepts connections into its backlog and never serves them: enough for
// a probe on a port other than 80. Not listening, it refuses them.
struct Listener {
    explicit Listener(bool listens = true) {
        sockaddr_in a{AF_INET, 0, {htonl(0x7F000002)}, {}};  // 127.0.0.2
        socklen_t len = sizeof a;
        ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
             getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 && (!listens || listen(fd, 16) == 0);
        port = std::to_string(ntohs(a.sin_port));
    }
    ~Listener() { close(fd); }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = false;
    std::string port;
};

TEST(ProxyVerdictTest, Table) {
    const std::list<ProxyRecord> records = {{"http:", "a.test", "192.0.2.1"}, {"ftp:", "b.test", ""}, {"", "C.test", "Ab::1"}};
    const struct { std::list<std::string> allowed; const char* found; } rows[] = {
        {{}, "http:a.test;IP Address:192.0.2.1\nC.test;IP Address:Ab::1\n|http:a.test\nC.test\n"},
        {{" 192.0.2.1\r\n", "aB::1"}, "|"},
        {{"192.0.2.10", "ab::1"}, "http:a.test;IP Address:192.0.2.1\n|http:a.test\n"}};
    for (const auto& row : rows) {
        const InvalidProxies found = FindInvalidProxies(records, row.allowed);
        EXPECT_EQ(found.info + "|" + found.msg, row.found);
    }
}

// The interactive user's IE setting, and the Firefox profile's prefs.js.
void PutIE(FakeOs& fake, uint32_t on, const std::string& server) {
    const std::string key = std::string(kSid) + "\\" + kIESettingsKey;
    fake.registry().PutValue(HKEY_USERS, key, "ProxyEnable", 4, std::string(reinterpret_cast<char*>(&on), 4));
    fake.registry().PutValue(HKEY_USERS, key, "ProxyServer", 1, server + '\0');
}
void PutFirefox(const TempDir& home, int type, const std::string& host, const std::string& port) {
    std::ofstream(home.path() + "/.mozilla/firefox/ab.default/prefs.js")
        << "// prefs\n;\nuser_pref(\"network.proxy.http\", \"" << host << "\");\nuser_pref(\"network.proxy.http_port\", "
        << port << ");\nuser_pref(\"network.proxy.type\", " << type << ");\n";
}

class ProxyTaskTest : public ::testing::Test, protected PolicyRig {
protected:
    void SetUp() override {
        ASSERT_TRUE(listener_.ok);
        ASSERT_TRUE(home_.MakeSubdir(".mozilla/firefox/ab.default"));
        fake.processes.push_back({"AGENTUI.exe", kSid, "alice", home_.path()});
        fake.userKeys = {kSid};
        fake.resolutions["ff.test"] = {"127.0.0.2"};
        fake.devicePresent = true;
        SetIE(1);
        SetFirefox(1);
        policy->SetPolicyParams({Param("Type", "0"), Param("Proxy", " 192.0.2.80 "), Param("block", "3")});
        ASSERT_EQ(policy->Exec(0), 0);
        ASSERT_TRUE(fake.WaitForWaits(3, 1));
    }
    void TearDown() override { policy.reset(); }  // while the listener and the home are still there
    void SetIE(uint32_t on) { PutIE(fake, on, "http=127.0.0.2:" + listener_.port); }
    void SetFirefox(int type, const std::string& host = "ff.test") { PutFirefox(home_, type, host, listener_.port); }
    // One proxy tick; waits until the proxy thread sleeps again.
    void Tick(int waits) {
        fake.AdvanceTime(70000);
        ASSERT_TRUE(fake.WaitForWaits(3, waits));
    }
    // The deny-list commands so far: "lift" or the entry count.
    std::vector<std::string> DenyCommands() {
        std::vector<std::string> out;
        for (const auto& call : fake.DeviceCalls()) {
            if (call.code != kSetDenyList) continue;
            out.push_back(call.input == std::vector<uint8_t>(200, 0) ? "lift" : std::to_string(call.input.size() / 4));
        }
        return out;
    }

    Listener listener_;
    TempDir home_;
};

TEST_F(ProxyTaskTest, AChangeIsSeenOnceAndAChangeBackLiftsTheDenyList) {
    // First task: the block is lifted, both findings denied, prompted and
    // notified, Firefox first, with describe "2".
    EXPECT_EQ(DenyCommands(), (std::vector<std::string>{"lift", "2"}));
    std::string items;  // each record's first two items, Describe and Information
    for (const auto& note : agent.Notifications()) {
        for (const auto& item : note.second.front().lstInfo) items += item.m_strName + "=" + item.m_strValue + "|";
    }
    EXPECT_EQ(items, "Describe=2|Information=ff.test;IP Address:127.0.0.2\n|checktime=2023-11-14 22:13:20|"
                     "Describe=2|Information=http:127.0.0.2;IP Address:127.0.0.2\n|checktime=2023-11-14 22:13:20|");
    EXPECT_EQ(agent.Prompts().size(), 1u);
    EXPECT_EQ(policy->m_proxyCheck.IEProxyIPs(), std::list<uint32_t>(2, InetAddr("127.0.0.2"))) << "IE, then Firefox";
    EXPECT_EQ(fake.networkTimeouts.load(), 1) << "the one endpoint of both browsers is probed once";
    EXPECT_EQ(agent.CountLogs("Can not find compatibility.ini."), 1) << "each setting is read once a task";

    // Unchanged: nothing is read beyond the raw settings, nothing sent.
    Tick(2);
    EXPECT_EQ(DenyCommands().size(), 2u);
    EXPECT_EQ(agent.Notifications().size(), 2u);
    EXPECT_EQ(agent.CountLogs("Proxy Connect succ:"), 2);
    EXPECT_EQ(agent.CountLogs("Can not find compatibility.ini."), 2);

    // Both switched off: the deny list is lifted and nothing is judged.
    SetIE(0);
    SetFirefox(0);
    Tick(3);
    EXPECT_EQ(DenyCommands(), (std::vector<std::string>{"lift", "2", "lift"}));
    EXPECT_EQ(agent.Notifications().size(), 2u);

    // Back on: the same findings are known, so they are denied again but
    // neither notified nor prompted.
    SetIE(1);
    SetFirefox(1);
    Tick(4);
    EXPECT_EQ(DenyCommands(), (std::vector<std::string>{"lift", "2", "lift", "lift", "2"}));
    EXPECT_EQ(agent.Notifications().size(), 2u);
    EXPECT_EQ(agent.Prompts().size(), 1u);
    EXPECT_TRUE(policy->m_proxyCheck.SameInvalidProxy());

    // Another host is a new finding again.
    fake.resolutions["ff3.test"] = {"127.0.0.2"};
    SetFirefox(1, "ff3.test");
    Tick(5);
    EXPECT_FALSE(policy->m_proxyCheck.SameInvalidProxy());
    EXPECT_EQ(agent.Notifications().size(), 3u);

    // Exec again forgets what was reported: both findings are notified anew.
    ASSERT_EQ(policy->Exec(0), 0);
    Tick(6);
    EXPECT_EQ(agent.Notifications().size(), 5u);
}

TEST_F(ProxyTaskTest, DoneLiftsTheDenyListThatATaskUnderWaySetsAfterTheFirstLift) {
    // The next task, the IE finding made, waits at Firefox's name until done has lifted the list; the known
    // IE finding is then denied again, and lifted at last.
    fake.resolveHook = [this](const std::string& host) {
        if (host == "ff2.test") agent.WaitForLogs("Stop monitor proxy thread.", 1);
    };
    SetFirefox(1, "ff2.test");
    fake.AdvanceTime(70000);
    ASSERT_TRUE(agent.WaitForLogs("The IE set proxy!", 2));
    policy->done("");
    EXPECT_EQ(DenyCommands(), (std::vector<std::string>{"lift", "2", "lift", "lift", "1", "lift"}));
}

TEST_F(ProxyTaskTest, AFifoAsPrefsJsHoldsNeitherTheTaskNorDone) {
    const std::string prefs = home_.path() + "/.mozilla/firefox/ab.default/prefs.js";
    ASSERT_TRUE(unlink(prefs.c_str()) == 0 && mkfifo(prefs.c_str(), 0644) == 0);
    Tick(2);  // the task ends, with IE's finding alone
    EXPECT_EQ(DenyCommands(), (std::vector<std::string>{"lift", "2", "lift", "1"}));
    auto done = std::async(std::launch::async, [this] { policy->done(""); });
    EXPECT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready);
}

TEST_F(ProxyTaskTest, AnAllowedProxyIsNoFindingAndNoAllowedListChecksNothing) {
    policy->m_settings.m_lstValidProxyStr = {"192.0.2.80", "127.0.0.2\r\n"};
    SetFirefox(4);
    Tick(2);
    EXPECT_EQ(agent.CountLogs("The proxy configration is valid!"), 1);
    EXPECT_EQ(DenyCommands().back(), "lift");
    EXPECT_EQ(policy->CheckProxyConfig(), 1) << "unchanged";
    policy->m_settings.m_lstValidProxyStr.clear();
    SetIE(0);
    EXPECT_EQ(policy->CheckProxyConfig(), 0);
    EXPECT_EQ(agent.CountLogs("The IE set proxy!"), 2) << "no check without allowed proxies";
}

// IE names forty endpoints that refuse, each probe taking a dropped SYN's
// 16 s of the clock, ahead of a live one that Firefox names. Firefox's
// finding comes in the first task; IE's judgement goes on, ten probes a
// task, with nothing lifted, applied or notified, until the fifth task.
TEST(ProxyBudgetTest, ADeadSettingNeitherStarvesTheOtherNorHidesItsLiveProxy) {
    ProxyCheckRig rig;
    FakeOs& fake = rig.fake;
    TempDir home;
    Listener live, closed(false);
    ASSERT_TRUE(live.ok && closed.ok && home.MakeSubdir(".mozilla/firefox/ab.default"));
    fake.processes.push_back({"AGENTUI.exe", kSid, "alice", home.path()});
    fake.userKeys = {kSid};
    fake.networkTimeoutHook = [&fake](uint64_t us) { fake.AdvanceTime(static_cast<uint32_t>(2 * us / 1000)); };
    std::string server;
    for (int i = 10; i < 50; ++i) server += "ftp=127.0.0." + std::to_string(i) + ":" + closed.port + ";";
    PutIE(fake, 1, server + "http=127.0.0.2:" + live.port);
    PutFirefox(home, 1, "127.0.0.2", live.port);
    rig.settings.m_lstValidProxyStr = {"192.0.2.80"};
    rig.settings.m_strBlock = "3";
    std::string tasks;  // each task's probes, then what it reported: "-" a lift, "h" a reaction to the
                        // deny addresses then known, "n" a notification (the first letter of its text)
    for (int task = 1; task <= 6; ++task) {
        const int probes = fake.networkTimeouts.load();
        rig.reporter.calls.clear();
        rig.Task();
        tasks += std::to_string(fake.networkTimeouts.load() - probes) + ":";
        for (const std::string& call : rig.reporter.calls) {
            if (call == "lift") tasks += "-";
            if (call == "handle:Proxy") tasks += "h" + std::to_string(rig.check.IEProxyIPs().size());
            if (call.rfind("Proxy:", 0) == 0) tasks += "n" + call.substr(6, 1) + call.substr(call.size() - 1);
        }
        tasks += " ";
    }
    EXPECT_EQ(tasks, "11:-h1n12 11: 11: 11: 1:h42nf2 0: ");
    EXPECT_EQ(rig.log.CountLogs("Proxy not probed, the time of the check is up:"), 31 + 21 + 11 + 1);
    EXPECT_EQ(rig.log.CountLogs("IE set invalid proxy send msg"), 1);
    EXPECT_LE(5u, kProxyTasksForAnySetting);
}

}  // namespace
}  // namespace outlinkwatch
