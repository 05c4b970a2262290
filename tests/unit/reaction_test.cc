// The reaction to a finding: the notification record, the decision of
// HandleResult and the filter-driver buffers, on the fake device; and the
// device frame reader of the Linux backend and its stand-in.
#include <gtest/gtest.h>

#include <functional>

#include "config/address_parsing.h"
#include "fakes/fake_os.h"
#include "fakes/recording_agent.h"
#include "platform/linux/nfw_frame.h"
#include "plugin/policy.h"
#include "reaction/notify.h"

namespace outlinkwatch {
namespace {

constexpr uint32_t kDeny = 0x804D21DC;
constexpr uint32_t kCut = 0x804D21BC;
const std::string kNfwUpper = "\\\\.\\NFW";
const std::string kNfwLower = "\\\\.\\nfw";

class ReactionTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = SetOsForTesting(&fake_);
        policy_ = std::make_unique<CPolicy>();
        policy_->SetAgent(&agent_);
        for (const char* key : {"rsSecInfo", "rsMFProxy", "rsProxydisable", "rsProxyNotify", "rsBlock", "rsRoute",
                                "rsConNotity", "rsTitle"}) {
            agent_.SetLangText(key, std::string(key + 2) + "|");
        }
    }
    void TearDown() override {
        policy_.reset();
        SetOsForTesting(previous_);
    }
    std::vector<FakeOs::DeviceCall> Calls() { return fake_.DeviceCalls(); }

    FakeOs fake_;
    Os* previous_ = nullptr;
    RecordingAgent agent_;
    std::unique_ptr<CPolicy> policy_;
};

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> b) { return b; }

TEST_F(ReactionTest, HandleResultFollowsTheBlockValue) {
    struct Case {
        const char* block;
        const char* kind;
        int same;
        bool device;
        int result;
        const char* prompt;             // nullptr: none
        std::vector<uint32_t> codes;    // commands the device received
    } cases[] = {
        {"0", "Proxy", 1, true, 0, nullptr, {}},
        {"0", "conn", 0, true, 0, nullptr, {}},
        {"0", "route", 0, true, 0, nullptr, {}},
        {"1", "Proxy", 1, true, 0, nullptr, {}},
        {"1", "Proxy", 0, true, 1, "SecInfo|MFProxy|ProxyNotify|", {}},
        {"1", "route", 1, true, 1, "SecInfo|Route|ConNotity|", {}},
        {"7", "Proxy", 1, true, 1, "SecInfo|MFProxy|ProxyNotify|", {}},
        {"", "conn", 0, true, 1, "SecInfo|Route|ConNotity|", {}},
        {"2", "route", 0, false, 0, nullptr, {}},
        {"2", "Proxy", 0, true, 1, "SecInfo|MFProxy|ProxyNotify|Block|", {kCut}},
        {"2", "conn", 1, true, 1, "SecInfo|Route|ConNotity|Block|", {kCut}},
        {"3", "route", 1, true, 1, nullptr, {kDeny}},
        {"3", "conn", 0, true, 1, "SecInfo|Route|ConNotity|", {kDeny}},
        {"3", "conn", 1, true, 1, nullptr, {kDeny, kDeny}},
        {"3", "Proxy", 0, true, 1, "SecInfo|MFProxy|Proxydisable|", {kDeny}},
        {"3", "Proxy", 0, false, 0, nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("block \"") + c.block + "\" kind " + c.kind + " same " + std::to_string(c.same) +
                     (c.device ? "" : " no device"));
        FakeOs fake;
        Os* previous = SetOsForTesting(&fake);
        RecordingAgent agent;
        for (const char* key : {"rsSecInfo", "rsMFProxy", "rsProxydisable", "rsProxyNotify", "rsBlock", "rsRoute",
                                "rsConNotity"}) {
            agent.SetLangText(key, std::string(key + 2) + "|");
        }
        fake.SetDevicePresent(c.device);
        {
            CPolicy policy;
            policy.SetAgent(&agent);
            policy.m_strBlock = c.block;
            policy.m_bSameInvalidProxy.store(c.same);
            policy.m_lstDenyAddr = {"192.0.2.1", "192.0.2.2"};
            policy.m_lstIEProxyIP = {InetAddr("203.0.113.9")};

            EXPECT_EQ(policy.HandleResult(c.kind), c.result);
            const std::vector<RecordingAgent::Prompt> prompts = agent.Prompts();
            ASSERT_EQ(prompts.size(), c.prompt != nullptr ? 1u : 0u);
            if (c.prompt != nullptr) {
                EXPECT_EQ(prompts[0].text, c.prompt);
                EXPECT_EQ(prompts[0].kind, 2);
            }
            std::vector<uint32_t> codes;
            for (const FakeOs::DeviceCall& call : fake.DeviceCalls()) codes.push_back(call.code);
            EXPECT_EQ(codes, c.codes);
            if (std::string(c.block) == "0") {
                EXPECT_TRUE(fake.DeviceOpens().empty());
            }
            fake.SetDevicePresent(false);  // the destructor's EnableProxy is not the subject
        }
        SetOsForTesting(previous);
    }
}

TEST_F(ReactionTest, HandleResultWithoutAnAgentPromptsNothingButBlocks) {
    fake_.SetDevicePresent(true);
    policy_->SetAgent(nullptr);
    policy_->m_strBlock = "3";
    policy_->m_lstDenyAddr = {"192.0.2.1"};
    EXPECT_EQ(policy_->HandleResult("conn"), 0);
    ASSERT_EQ(Calls().size(), 1u);
    EXPECT_EQ(Calls()[0].input, Bytes({1, 2, 0, 192}));
}

TEST_F(ReactionTest, NotificationRecordKeyAndCut) {
    const std::string longInfo(2000, 'x');
    struct Case {
        std::string info, describe, key, wantInformation, wantKey;
    } cases[] = {
        {longInfo, "3", "", longInfo.substr(0, 1023), "R7" + longInfo + "3"},
        {"proxy 100% on", "1", "", "proxy 100% on", "R7proxy 100% on1"},
        {"host.test reached", "3", std::string(1, '\2') + "host.test", "host.test reached", "R7\2host.test3"},
    };
    policy_->m_strRank = "R7";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.info.substr(0, 20));
        RecordingAgent agent;
        agent.SetLangText("rsTitle", "Outbound");
        policy_->SetAgent(&agent);
        policy_->PackNotifyMsg("Proxy", c.info, c.describe, c.key);

        const auto sent = agent.Notifications();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].first, "policy.win.outlink.watch");
        ASSERT_EQ(sent[0].second.size(), 1u);
        const NotifyMsg& m = sent[0].second.front();
        EXPECT_EQ(m.strTag + "|" + m.strTitle + "|" + m.strPolicyInfo + "|" + m.strRank, "test|Outbound|test policy|R7");
        EXPECT_EQ(m.nMsgCode, 101);
        EXPECT_EQ(m.nReserved1, 1);
        EXPECT_EQ(m.strEventKey, c.wantKey);
        std::vector<std::string> items;
        for (const CNotifyInfo& i : m.lstInfo) items.push_back(i.m_strName + "=" + i.m_strValue);
        EXPECT_EQ(items, (std::vector<std::string>{"Describe=" + c.describe, "Information=" + c.wantInformation,
                                                   "checktime=2023-11-14 22:13:20"}));
        // The summary line is written as it is, '%' included (cut by the log's own bound).
        const std::string line = "Send Invalid Connection:test policy,R7," + c.describe + "," + c.wantInformation +
                                 ".2023-11-14 22:13:20,";
        EXPECT_EQ(agent.CountLogs(line.substr(0, 900)), 1);
        policy_->SetAgent(&agent_);
    }
}

TEST_F(ReactionTest, NotificationNeedsInfoAndAConvertibleTime) {
    policy_->PackNotifyMsg("", "", "3", "key");
    EXPECT_TRUE(agent_.Notifications().empty());
    EXPECT_TRUE(agent_.Logs().empty());

    agent_.SetAgentTime(-1);
    try {
        policy_->PackNotifyMsg("", "info", "3", "");
        FAIL() << "no error for a negative time";
    } catch (const InvalidTimeError& e) {
        EXPECT_EQ(e.code(), 0x80070057u);
    }
    EXPECT_TRUE(agent_.Notifications().empty());

    fake_.SetLocalOffsetSeconds(3600);
    EXPECT_EQ(FormatTime(&fake_, 0, "%Y-%m-%d %X"), "1970-01-01 01:00:00");
    EXPECT_EQ(FormatTime(&fake_, 0, std::string(130, 'y').c_str()), "") << "longer than 127 bytes";
    EXPECT_THROW(FormatTime(&fake_, kMaxLocalTime + 1, "%Y"), std::invalid_argument);
}

TEST_F(ReactionTest, FilterDriverBuffers) {
    std::list<std::string> sixty;
    for (int i = 1; i <= 60; ++i) sixty.push_back("198.51.100." + std::to_string(i));
    std::vector<uint8_t> first196;
    for (int i = 1; i <= 49; ++i) first196.insert(first196.end(), {static_cast<uint8_t>(i), 100, 51, 198});

    struct Case {
        const char* name;
        std::function<int(CPolicy&)> op;
        std::string path;
        uint32_t code;
        std::vector<uint8_t> input;
        std::vector<std::string> logs;
    } cases[] = {
        {"config, one allowed",
         [](CPolicy& p) {
             p.m_lstIEProxyIP = {InetAddr("10.0.0.5"), InetAddr("10.0.0.6")};
             p.m_lstValidProxyIP = {HostFromNet(InetAddr("10.0.0.6"))};
             return p.DenyProxyConfig();
         },
         kNfwUpper, kDeny, Bytes({5, 0, 0, 10}),
         {"Start DenyProxyConfig", "index:1, " + std::to_string(InetAddr("10.0.0.5"))}},
        {"server, three texts",
         [](CPolicy& p) {
             p.m_lstDenyAddr = {"192.0.2.1", "198.51.100.7", "10.1.2.3"};
             return p.DenyProxySerer();
         },
         kNfwUpper, kDeny, Bytes({1, 2, 0, 192, 7, 100, 51, 198, 3, 2, 1, 10}),
         {"addr: 192.0.2.1,198.51.100.7,10.1.2.3"}},
        {"server, not an address",
         [](CPolicy& p) {
             p.m_lstDenyAddr = {"no.such.host"};
             return p.DenyProxySerer();
         },
         kNfwUpper, kDeny, Bytes({255, 255, 255, 255}), {"addr: no.such.host"}},
        {"server, sixty",
         [&](CPolicy& p) {
             p.m_lstDenyAddr = sixty;
             return p.DenyProxySerer();
         },
         kNfwUpper, kDeny, first196, {"Deny ip much max limit."}},
        {"enable", [](CPolicy& p) { return p.EnableProxy(); }, kNfwUpper, kDeny, std::vector<uint8_t>(200, 0),
         {"Start EnableProxy"}},
        {"block", [](CPolicy& p) { return p.BlockNetwork(); }, kNfwLower, kCut, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs fake;
        Os* previous = SetOsForTesting(&fake);
        RecordingAgent agent;
        fake.SetDevicePresent(true);
        fake.SetDeviceAnswer(5);
        {
            CPolicy policy;
            policy.SetAgent(&agent);
            EXPECT_EQ(c.op(policy), 5) << "the device's answer";
            const std::vector<FakeOs::DeviceCall> calls = fake.DeviceCalls();
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].path, c.path);
            EXPECT_EQ(calls[0].disposition, c.path == kNfwUpper ? kCreateAlways : kOpenExisting);
            EXPECT_EQ(calls[0].code, c.code);
            EXPECT_EQ(calls[0].input, c.input);
            EXPECT_EQ(fake.OpenDevices(), 0);
            for (const std::string& line : c.logs) EXPECT_EQ(agent.CountLogs(line), 1) << line;
            fake.SetDevicePresent(false);
        }
        SetOsForTesting(previous);
    }
}

TEST_F(ReactionTest, FilterDriverWithoutDeviceOrAddresses) {
    EXPECT_EQ(policy_->DenyProxyConfig(), 0);
    EXPECT_EQ(agent_.CountLogs("The deny ip address list is empty!"), 1);
    EXPECT_EQ(agent_.Logs().back().level, 4);
    EXPECT_EQ(policy_->DenyProxySerer(), 0);
    EXPECT_TRUE(fake_.DeviceOpens().empty()) << "nothing to deny opens nothing";

    policy_->m_lstDenyAddr = {"192.0.2.1"};
    EXPECT_EQ(policy_->DenyProxySerer(), 0);
    EXPECT_EQ(policy_->BlockNetwork(), 0);
    EXPECT_EQ(fake_.DeviceOpens().size(), 2u);
    EXPECT_TRUE(fake_.DeviceCalls().empty());
}

TEST(NfwFrameTest, ReadFrameTable) {
    auto frame = [](uint32_t code, uint32_t length, std::vector<uint8_t> body) {
        std::vector<uint8_t> f(8);
        nfw::PutU32(code, f.data());
        nfw::PutU32(length, f.data() + 4);
        f.insert(f.end(), body.begin(), body.end());
        return f;
    };
    std::vector<uint8_t> lift = frame(kDeny, 200, std::vector<uint8_t>(200, 0));
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        nfw::FrameStatus status;
        size_t consumed;
        std::vector<uint32_t> denied;
        const char* error;
    } cases[] = {
        {"empty", {}, nfw::FrameStatus::kIncomplete, 0, {}, ""},
        {"half a header", {0xDC, 0x21, 0x4D}, nfw::FrameStatus::kIncomplete, 0, {}, ""},
        {"deny two", frame(kDeny, 8, {3, 2, 1, 10, 7, 100, 51, 198}), nfw::FrameStatus::kComplete, 16,
         {0x0A010203, 0xC6336407}, ""},
        {"deny, body short", frame(kDeny, 8, {3, 2, 1, 10}), nfw::FrameStatus::kIncomplete, 0, {}, ""},
        {"lift: zero entries left out", lift, nfw::FrameStatus::kComplete, 208, {}, ""},
        {"cut and more", frame(kCut, 0, {1, 2}), nfw::FrameStatus::kComplete, 8, {}, ""},
        {"deny 204 bytes", frame(kDeny, 204, {}), nfw::FrameStatus::kMalformed, 0, {}, "at most 200"},
        {"deny 6 bytes", frame(kDeny, 6, {}), nfw::FrameStatus::kMalformed, 0, {}, "not a multiple of 4"},
        {"cut with input", frame(kCut, 4, {0, 0, 0, 0}), nfw::FrameStatus::kMalformed, 0, {}, "input bytes"},
        {"unknown code", frame(0x12345678, 0, {}), nfw::FrameStatus::kMalformed, 0, {}, "0x12345678"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const nfw::FrameResult r = nfw::ReadFrame(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.consumed, c.consumed);
        EXPECT_EQ(r.command.denied, c.denied);
        EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
    }
    // Device names are not case-sensitive; anything but a plain name is no device.
    EXPECT_EQ(nfw::DeviceFileName("\\\\.\\NFW"), "nfw");
    EXPECT_EQ(nfw::DeviceFileName("\\\\.\\nfw"), "nfw");
    for (const char* bad : {"NFW", "\\\\.\\", "\\\\.\\..", "\\\\.\\a/b", "\\\\?\\NFW"}) {
        EXPECT_EQ(nfw::DeviceFileName(bad), "") << bad;
    }
}

}  // namespace
}  // namespace outlinkwatch
