// The reaction to a finding: the decision and the reactor carrying it out
// on the fake device, the notification record, the filter-driver buffers.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "config/address_parsing.h"
#include "fakes/fake_os.h"
#include "fakes/recording_agent.h"
#include "fakes/recording_sink.h"
#include "reaction/deny_list.h"
#include "reaction/notify.h"
#include "reaction/reaction_decision.h"
#include "reaction/reactor.h"

namespace outlinkwatch {
namespace {

constexpr uint32_t kDeny = 0x804D21DC;
constexpr uint32_t kCut = 0x804D21BC;

// A reactor on the fake OS, a recording agent and sink. Language texts are
// the key without "rs"; the common parameters name one user.
struct Rig : ReactionAgent {
    explicit Rig(bool device = true) {
        fake.devicePresent = device;
        for (const char* key : {"rsSecInfo", "rsMFProxy", "rsProxydisable", "rsProxyNotify", "rsBlock", "rsRoute",
                                "rsConNotity", "rsTitle"}) {
            agent.SetLangText(key, std::string(key + 2) + "|");
        }
    }
    IAgent* Agent() override { return withAgent ? &agent : nullptr; }
    std::string GetLangString(const std::string& key) override {
        std::string text;
        return agent.GetLangString("OutlinkWatch", key, &text), text;
    }
    void GetCommonParams(CommonParams& out) override { out.strUserName = "user"; }
    FakeOs fake;
    RecordingAgent agent;
    bool withAgent = true;
    RecordingSink sink;
    Reactor reactor{&fake, &sink, this, "policy.win.outlink.watch"};
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
    // prompt nullptr: none. held, the proxy lists: 0 no mutex yet, 1 held by
    // the proxy check for a while (waited for), 2 held at a stop.
    struct Case { const char *block, *kind; int same; bool device; int result; const char* prompt;
                  std::vector<uint32_t> codes; int held = 0; bool agent = true; } cases[] = {
        {"2", "route", 0, false, 0, nullptr, {}},
        {"2", "Proxy", 0, true, 1, "SecInfo|MFProxy|ProxyNotify|Block|", {kCut}},
        {"1", "route", 0, true, 1, "SecInfo|Route|ConNotity|", {}},
        {"2", "conn", 0, true, 0, nullptr, {}, 0, false},
        {"3", "route", 1, true, 1, nullptr, {kDeny}, 1},
        {"3", "route", 1, true, 0, nullptr, {}, 2},
        {"3", "conn", 1, true, 1, nullptr, {kDeny, kDeny}},
        {"3", "Proxy", 0, true, 1, "SecInfo|MFProxy|Proxydisable|", {kDeny}},
        {"3", "Proxy", 0, false, 0, nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.block) + "/" + c.kind + "/" + std::to_string(c.same * 10 + c.held) +
                     (c.device ? "" : "/no device") + (c.agent ? "" : "/no agent"));
        Rig rig(c.device);
        rig.withAgent = c.agent;
        PolicySettings settings;
        settings.m_strBlock = c.block;
        const std::list<std::string> deny = {"192.0.2.1", "192.0.2.2"};
        const std::list<uint32_t> proxies = {InetAddr("203.0.113.9")};
        std::atomic<int32_t> exit{c.held == 2 ? 1 : 0}, pending{0};
        const Handle lists = c.held == 0 ? nullptr : rig.fake.Kernel()->CreateMutexObject(true);
        const ReactionInputs in{settings, deny, proxies, c.same != 0, lists, StopToken(exit, pending)};
        int result = -1;
        std::thread check([&] { result = rig.reactor.HandleResult(c.kind, in); });
        if (c.held == 1) { EXPECT_TRUE(rig.fake.WaitForWaits(1, 300)); rig.fake.Kernel()->ReleaseMutexObject(lists); }
        check.join();
        EXPECT_EQ(result, c.result);
        std::string prompts;
        for (const RecordingAgent::Prompt& p : rig.agent.Prompts()) prompts += p.text + "/" + std::to_string(p.kind);
        EXPECT_EQ(prompts, c.prompt != nullptr ? c.prompt + std::string("/2") : "");
        std::vector<uint32_t> codes;
        for (const FakeOs::DeviceCall& call : rig.fake.DeviceCalls()) codes.push_back(call.code);
        EXPECT_EQ(codes, c.codes);
        EXPECT_EQ(rig.fake.DeviceOpenAttempts(), static_cast<int>(c.codes.size()) + (c.device ? 0 : 1));
    }
}

TEST(ReactionTest, NotificationRecordKeyAndCut) {
    const std::string longInfo(2000, 'x');
    struct Case { std::string info, describe, key, wantInformation, wantKey; } cases[] = {
        {longInfo, "3", "", longInfo.substr(0, 1023), "R7" + longInfo + "3"},
        {"proxy 100% on", "1", "", "proxy 100% on", "R7proxy 100% on1"},
        {"host.test reached", "3", "\2host.test", "host.test reached", "R7\2host.test3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.info.substr(0, 20));
        Rig rig;
        rig.reactor.PackNotifyMsg("R7", c.info, c.describe, c.key);

        const auto sent = rig.agent.Notifications();
        ASSERT_TRUE(sent.size() == 1 && sent[0].second.size() == 1);
        const NotifyMsg& m = sent[0].second.front();
        EXPECT_EQ(sent[0].first + "|" + m.strTag + "|" + m.strTitle + "|" + m.strPolicyInfo + "|" + m.strRank + "|" +
                      m.common.strUserName,
                  "policy.win.outlink.watch|test|Title||test policy|R7|user");
        EXPECT_EQ(m.nMsgCode * 10 + m.nReserved1, 1011);
        EXPECT_EQ(m.strEventKey, c.wantKey);
        std::vector<std::string> items;
        for (const CNotifyInfo& i : m.lstInfo) items.push_back(i.m_strName + "=" + i.m_strValue);
        EXPECT_EQ(items, (std::vector<std::string>{"Describe=" + c.describe, "Information=" + c.wantInformation,
                                                   "checktime=2023-11-14 22:13:20"}));
        // Written as it is, '%' included (and cut by the log's own bound).
        const std::string line = "Send Invalid Connection:test policy,R7," + c.describe + "," + c.wantInformation +
                                  ".2023-11-14 22:13:20,";
        EXPECT_EQ(rig.sink.lines, std::vector<std::string>{"2:" + line.substr(0, 1024)});
        EXPECT_EQ(rig.sink.functions, std::vector<std::string>{"CPolicy::PackNotifyMsg"});
    }
}

TEST(ReactionTest, NotificationNeedsInfoAnAgentAndAConvertibleTime) {
    Rig rig;
    rig.reactor.PackNotifyMsg("", "", "3", "key");
    rig.agent.SetAgentTime(-1);
    try {
        rig.reactor.PackNotifyMsg("", "info", "3", "");
        ADD_FAILURE() << "no error for a negative time";
    } catch (const InvalidTimeError& e) {
        EXPECT_EQ(e.code(), 0x80070057u);
    }
    rig.withAgent = false;
    rig.reactor.PackNotifyMsg("", "info", "3", "");
    EXPECT_TRUE(rig.agent.Notifications().empty() && rig.sink.lines.empty());
    EXPECT_EQ(FormatTime(&rig.fake, 0, std::string(128, 'y').c_str()), "") << "longer than 127 bytes";
    EXPECT_THROW(FormatTime(&rig.fake, kMaxLocalTime + 1, "%Y"), std::invalid_argument);
}

// The deny list's bytes as the filter driver receives them: the entries
// past the allowed ones, little-endian, up to the limit of 49 (the logs
// name one less), and each command's device, code and log lines.
TEST(ReactionTest, FilterDriverBuffers) {
    std::list<std::string> sixty, fortyEight;
    std::vector<uint8_t> first196;
    std::string namedText;
    for (int i = 1; i <= 60; ++i) {
        const std::string text = "198.51.100." + std::to_string(i);
        sixty.push_back(text);
        if (i <= 48) fortyEight.push_back(text), namedText += (i > 1 ? "," : "") + text;
        if (i <= 49) first196.insert(first196.end(), {static_cast<uint8_t>(i), 100, 51, 198});
    }
    const std::vector<uint8_t> first192(first196.begin(), first196.end() - 4);
    // code 0: no command.
    struct Case { const char* name; std::function<int(Reactor&)> op; bool device; int result; uint32_t code;
                  std::vector<uint8_t> input; std::vector<std::string> logs; } cases[] = {
        {"config, one allowed",
         [](Reactor& r) {
             return r.DenyProxyConfig({InetAddr("10.0.0.5"), InetAddr("10.0.0.6")}, {HostFromNet(InetAddr("10.0.0.6"))});
         },
         true, 1, kDeny, {5, 0, 0, 10},
         {"2:Start DenyProxyConfig", "2:index:1, " + std::to_string(InetAddr("10.0.0.5"))}},
        {"config, all allowed",
         [](Reactor& r) { return r.DenyProxyConfig({InetAddr("10.0.0.5")}, {HostFromNet(InetAddr("10.0.0.5"))}); },
         true, 1, kDeny, {}, {"2:Start DenyProxyConfig"}},
        {"config, empty", [](Reactor& r) { return r.DenyProxyConfig({}, {}); }, true, 0, 0, {},
         {"2:Start DenyProxyConfig", "4:The deny ip address list is empty!"}},
        {"server, three texts, one not an address",
         [](Reactor& r) { return r.DenyProxySerer({"192.0.2.1", "no.such.host", "10.1.2.3"}); }, true, 1, kDeny,
         {1, 2, 0, 192, 255, 255, 255, 255, 3, 2, 1, 10}, {"2:addr: 192.0.2.1,no.such.host,10.1.2.3"}},
        {"server, forty-eight", [&](Reactor& r) { return r.DenyProxySerer(fortyEight); }, true, 1, kDeny, first192,
         {"2:addr: " + namedText}},
        {"server, sixty", [&](Reactor& r) { return r.DenyProxySerer(sixty); }, true, 1, kDeny, first196,
         {"2:Deny ip much max limit.", "2:addr: " + namedText}},
        {"server, empty", [](Reactor& r) { return r.DenyProxySerer({}); }, true, 0, 0, {}, {}},
        {"server, no device", [](Reactor& r) { return r.DenyProxySerer({"192.0.2.1"}); }, false, 0, 0, {},
         {"2:addr: 192.0.2.1"}},
        {"enable", [](Reactor& r) { return r.EnableProxy(); }, true, 1, kDeny, std::vector<uint8_t>(200, 0),
         {"2:Start EnableProxy"}},
        {"block", [](Reactor& r) { return r.BlockNetwork(); }, true, 1, kCut, {}, {}},
        {"block, no device", [](Reactor& r) { return r.BlockNetwork(); }, false, 0, 0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.device);
        EXPECT_EQ(c.op(rig.reactor), c.result) << "the device's answer";
        EXPECT_EQ(rig.sink.lines, c.logs);
        EXPECT_EQ(rig.fake.OpenDevices(), 0);
        const std::vector<FakeOs::DeviceCall> calls = rig.fake.DeviceCalls();
        ASSERT_EQ(calls.size(), c.code != 0 ? 1u : 0u);
        EXPECT_EQ(rig.fake.DeviceOpenAttempts(), c.code != 0 || !c.device ? 1 : 0) << "nothing to deny opens nothing";
        if (c.code == 0) continue;
        const bool cut = c.code == kCut;
        EXPECT_EQ(calls[0].path, cut ? "\\\\.\\nfw" : "\\\\.\\NFW");
        EXPECT_EQ(calls[0].disposition, cut ? kOpenExisting : kCreateAlways);
        EXPECT_EQ(calls[0].code, c.code);
        EXPECT_EQ(calls[0].input, c.input);
    }
}

}  // namespace
}  // namespace outlinkwatch
