// The reaction to a finding: the decision and HandleResult carrying it out
// on the fake device, the notification record, the filter-driver buffers.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "config/address_parsing.h"
#include "fakes/policy_rig.h"
#include "reaction/deny_list.h"
#include "reaction/notify.h"
#include "reaction/reaction_decision.h"

namespace outlinkwatch {
namespace {

constexpr uint32_t kDeny = 0x804D21DC;
constexpr uint32_t kCut = 0x804D21BC;
const std::string kNfwUpper = "\\\\.\\NFW";

// Language texts are the key without "rs".
struct Rig : PolicyRig {
    explicit Rig(bool device = true) {
        fake.devicePresent = device;
        for (const char* key : {"rsSecInfo", "rsMFProxy", "rsProxydisable", "rsProxyNotify", "rsBlock", "rsRoute",
                                "rsConNotity", "rsTitle"}) {
            agent.SetLangText(key, std::string(key + 2) + "|");
        }
    }
    ~Rig() { fake.devicePresent = false; }  // the destructor's EnableProxy is no case's subject
};

// What each block value asks for: the commands, then the prompt's language keys.
TEST(ReactionTest, DecisionFollowsTheBlockValue) {
    const struct { const char* block; const char* kind; bool same; const char* want; } rows[] = {
        {"0", "conn", false, ""}, {"1", "Proxy", true, ""},
        {"1", "Proxy", false, "proxy prompt"}, {"1", "route", true, "route prompt"},
        {"7", "Proxy", true, "proxy prompt"}, {"", "conn", false, "route prompt"},
        {"2", "Proxy", false, "block proxy prompt"}, {"2", "conn", true, "block route prompt"},
        {"3", "route", true, "proxies "}, {"3", "Proxy", true, "proxies "}, {"3", "conn", true, "servers proxies "},
        {"3", "conn", false, "servers route prompt"}, {"3", "Proxy", false, "proxies proxy prompt"},
    };
    for (const auto& row : rows) {
        const Reaction r = DecideReaction(row.block, row.kind, row.same);
        std::string got = std::string(r.denyServers ? "servers " : "") + (r.denyProxies ? "proxies " : "");
        got += r.blockNetwork ? "block " : "";
        if (r.prompt != Reaction::Prompt::kNone) got += r.prompt == Reaction::Prompt::kProxy ? "proxy prompt" : "route prompt";
        EXPECT_EQ(got, row.want) << row.block << "/" << row.kind << "/" << row.same;
    }
}

// The decision carried out: the prompt, the commands and the wait for the proxy lists.
TEST(ReactionTest, HandleResultCarriesOutTheDecision) {
    // prompt nullptr: none. held, the proxy lists: 0 free, 1 held by the
    // proxy check for a minute (waited for), 2 held at a stop.
    struct Case { const char *block, *kind; int same; bool device; int result; const char* prompt;
                  std::vector<uint32_t> codes; int held = 0; } cases[] = {
        {"2", "route", 0, false, 0, nullptr, {}},
        {"2", "Proxy", 0, true, 1, "SecInfo|MFProxy|ProxyNotify|Block|", {kCut}},
        {"3", "route", 1, true, 1, nullptr, {kDeny}, 1},
        {"3", "route", 1, true, 0, nullptr, {}, 2},
        {"3", "conn", 1, true, 1, nullptr, {kDeny, kDeny}},
        {"3", "Proxy", 0, true, 1, "SecInfo|MFProxy|Proxydisable|", {kDeny}},
        {"3", "Proxy", 0, false, 0, nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.block) + "/" + c.kind + "/" + std::to_string(c.same * 10 + c.held) + (c.device ? "" : "/no device"));
        Rig rig(c.device);
        rig.policy->m_settings.m_strBlock = c.block;
        rig.policy->m_proxyCheck.m_bSameInvalidProxy.store(c.same);
        rig.policy->m_connCheck.DenyAddrsForTesting() = {"192.0.2.1", "192.0.2.2"};
        rig.policy->m_proxyCheck.m_lstIEProxyIP = {InetAddr("203.0.113.9")};

        Handle lists = c.held == 0 ? nullptr : (rig.policy->m_monitor.m_hProxyMutex = rig.fake.Kernel()->CreateMutexObject(true));
        g_bExit.store(c.held == 2 ? 1 : 0);
        int result = -1;
        std::thread check([&] { result = rig.policy->HandleResult(c.kind); });
        if (c.held == 1) { EXPECT_TRUE(rig.fake.WaitForWaits(1, 300)); rig.fake.Kernel()->ReleaseMutexObject(lists); }
        check.join();
        EXPECT_EQ(result, c.result);
        std::string prompts;
        for (const RecordingAgent::Prompt& p : rig.agent.Prompts()) prompts += p.text + "/" + std::to_string(p.kind);
        EXPECT_EQ(prompts, c.prompt != nullptr ? c.prompt + std::string("/2") : "");
        std::vector<uint32_t> codes;
        for (const FakeOs::DeviceCall& call : rig.fake.DeviceCalls()) codes.push_back(call.code);
        EXPECT_EQ(codes, c.codes);
        EXPECT_EQ(rig.fake.DeviceOpenAttempts() == 0, c.held == 2);
    }
}

TEST(ReactionTest, NotificationRecordKeyAndCut) {
    const std::string longInfo(2000, 'x');
    struct Case {
        std::string info, describe, key, wantInformation, wantKey;
    } cases[] = {
        {longInfo, "3", "", longInfo.substr(0, 1023), "R7" + longInfo + "3"},
        {"proxy 100% on", "1", "", "proxy 100% on", "R7proxy 100% on1"},
        {"host.test reached", "3", "\2host.test", "host.test reached", "R7\2host.test3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.info.substr(0, 20));
        Rig rig;
        rig.policy->m_settings.m_strRank = "R7";
        rig.policy->PackNotifyMsg("Proxy", c.info, c.describe, c.key);

        const auto sent = rig.agent.Notifications();
        ASSERT_EQ(sent.size(), 1u);
        ASSERT_EQ(sent[0].second.size(), 1u);
        const NotifyMsg& m = sent[0].second.front();
        EXPECT_EQ(sent[0].first + "|" + m.strTag + "|" + m.strTitle + "|" + m.strPolicyInfo + "|" + m.strRank,
                  "policy.win.outlink.watch|test|Title||test policy|R7");
        EXPECT_EQ(m.nMsgCode * 10 + m.nReserved1, 1011);
        EXPECT_EQ(m.strEventKey, c.wantKey);
        std::vector<std::string> items;
        for (const CNotifyInfo& i : m.lstInfo) items.push_back(i.m_strName + "=" + i.m_strValue);
        EXPECT_EQ(items, (std::vector<std::string>{"Describe=" + c.describe, "Information=" + c.wantInformation,
                                                   "checktime=2023-11-14 22:13:20"}));
        // Written as it is, '%' included (and cut by the log's own bound).
        const std::string line = "Send Invalid Connection:test policy,R7," + c.describe + "," + c.wantInformation +
                                  ".2023-11-14 22:13:20,";
        EXPECT_EQ(rig.agent.CountLogs(line.substr(0, 900)), 1);
    }
}

TEST(ReactionTest, NotificationNeedsInfoAndAConvertibleTime) {
    Rig rig;
    rig.policy->PackNotifyMsg("", "", "3", "key");
    rig.agent.SetAgentTime(-1);
    try {
        rig.policy->PackNotifyMsg("", "info", "3", "");
        ADD_FAILURE() << "no error for a negative time";
    } catch (const InvalidTimeError& e) {
        EXPECT_EQ(e.code(), 0x80070057u);
    }
    EXPECT_TRUE(rig.agent.Notifications().empty());
    EXPECT_TRUE(rig.agent.Logs().empty());
    EXPECT_EQ(FormatTime(&rig.fake, 0, std::string(130, 'y').c_str()), "") << "longer than 127 bytes";
    EXPECT_THROW(FormatTime(&rig.fake, kMaxLocalTime + 1, "%Y"), std::invalid_argument);
}

TEST(ReactionTest, FilterDriverBuffers) {
    std::list<std::string> sixty;
    std::vector<uint8_t> first196;
    for (int i = 1; i <= 60; ++i) sixty.push_back("198.51.100." + std::to_string(i));
    for (int i = 1; i <= 49; ++i) first196.insert(first196.end(), {static_cast<uint8_t>(i), 100, 51, 198});
    struct Case {
        const char* name;
        std::function<int(CPolicy&)> op;
        uint32_t code;
        std::vector<uint8_t> input;
        std::vector<std::string> logs;
    } cases[] = {
        {"config, one allowed",
         [](CPolicy& p) {
             p.m_proxyCheck.m_lstIEProxyIP = {InetAddr("10.0.0.5"), InetAddr("10.0.0.6")};
             p.m_settings.m_lstValidProxyIP = {HostFromNet(InetAddr("10.0.0.6"))};
             return p.DenyProxyConfig();
         },
         kDeny, {5, 0, 0, 10}, {"Start DenyProxyConfig", "index:1, " + std::to_string(InetAddr("10.0.0.5"))}},
        {"server, three texts, one not an address",
         [](CPolicy& p) {
             p.m_connCheck.DenyAddrsForTesting() = {"192.0.2.1", "no.such.host", "10.1.2.3"};
             return p.DenyProxySerer();
         },
         kDeny, {1, 2, 0, 192, 255, 255, 255, 255, 3, 2, 1, 10}, {"addr: 192.0.2.1,no.such.host,10.1.2.3"}},
        {"server, sixty",
         [&](CPolicy& p) {
             p.m_connCheck.DenyAddrsForTesting() = sixty;
             return p.DenyProxySerer();
         },
         kDeny, first196, {"Deny ip much max limit."}},
        {"enable", [](CPolicy& p) { return p.EnableProxy(); }, kDeny, std::vector<uint8_t>(200, 0),
         {"Start EnableProxy"}},
        {"block", [](CPolicy& p) { return p.BlockNetwork(); }, kCut, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        EXPECT_EQ(c.op(*rig.policy), 1) << "the device's answer";
        const std::vector<FakeOs::DeviceCall> calls = rig.fake.DeviceCalls();
        ASSERT_EQ(calls.size(), 1u);
        const bool cut = c.code == kCut;
        EXPECT_EQ(calls[0].path, cut ? "\\\\.\\nfw" : kNfwUpper);
        EXPECT_EQ(calls[0].disposition, cut ? kOpenExisting : kCreateAlways);
        EXPECT_EQ(calls[0].code, c.code);
        EXPECT_EQ(calls[0].input, c.input);
        EXPECT_EQ(rig.fake.OpenDevices(), 0);
        for (const std::string& line : c.logs) EXPECT_EQ(rig.agent.CountLogs(line), 1) << line;
    }
}

// The entries past the allowed ones, little-endian, and the limit of 49.
TEST(ReactionTest, DenyListBytes) {
    const struct { std::list<uint32_t> addresses, allowed; size_t entries; bool full; std::vector<uint8_t> head; } rows[] = {
        {{0x0A000005, 0x0A000006}, {0x0A000006}, 1, false, {5, 0, 0, 10}}, {{0x0A000005}, {0x0A000005}, 0, false, {}},
        {std::list<uint32_t>(48, 0x01020304), {}, 48, false, {4, 3, 2, 1}},
        {std::list<uint32_t>(60, 7), {}, 49, true, {7, 0, 0, 0, 7}}};
    for (const auto& row : rows) {
        const DenyList list = DenyListBytes(row.addresses, row.allowed);
        EXPECT_EQ(list.named() * 10 + list.full, (row.entries - row.full) * 10 + row.full) << "named in the logs, full";
        ASSERT_EQ(list.bytes.size(), 4 * row.entries);
        EXPECT_EQ(std::vector<uint8_t>(list.bytes.begin(), list.bytes.begin() + row.head.size()), row.head);
    }
}

TEST(ReactionTest, FilterDriverWithoutAddresses) {
    Rig rig(false);
    EXPECT_EQ(rig.policy->DenyProxyConfig() + rig.policy->DenyProxySerer(), 0);
    const LogLine last = rig.agent.Logs().back();
    EXPECT_NE(last.text.find("The deny ip address list is empty!"), std::string::npos);
    EXPECT_EQ(last.level, 4);
    EXPECT_EQ(rig.fake.DeviceOpenAttempts(), 0) << "nothing to deny opens nothing";
}

}  // namespace
}  // namespace outlinkwatch
