// The plug-in frame as an agent drives it: entry points, the two interface
// tables, reference counting, parameter look-ups and the log layout.
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "fakes/fake_os.h"
#include "fakes/params.h"
#include "fakes/recording_agent.h"
#include "fakes/temp_dir.h"
#include "lumenutil/langmap.h"
#include "outlinkwatch/plugin.h"
#include "plugin/component.h"

namespace outlinkwatch {
namespace {

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override { previous_ = SetOsForTesting(&os_); }
    void TearDown() override { SetOsForTesting(previous_); }

    FakeOs os_;
    Os* previous_ = nullptr;
};

TEST_F(FrameTest, CreateObjectAndReferenceCounts) {
    for (const char* name : {"ipolicy", "IPolicy ", "", "ICommonControl"}) {
        ICommonControl* control = reinterpret_cast<ICommonControl*>(0x1);
        EXPECT_EQ(CreateObject(name, &control, nullptr), nullptr) << name;
        EXPECT_EQ(control, reinterpret_cast<ICommonControl*>(0x1)) << "untouched on refusal";
    }
    EXPECT_EQ(CreateObject(nullptr, nullptr, nullptr), nullptr);

    RecordingAgent agent;
    InterfaceEntry entry{7, 8, &agent, 9};
    ICommonControl* control = nullptr;
    IPolicy* policy = CreateObject("IPolicy", &control, &entry);
    ASSERT_NE(policy, nullptr);
    EXPECT_EQ(std::to_string(policy->Reserved22()) + std::to_string(policy->Reserved23()) +
                  std::to_string(policy->Reserved32()),
              "001")
        << "the reserved operations' fixed answers";
    // Both interfaces forward to the one object.
    void* asked[2] = {};
    EXPECT_EQ(policy->QueryInterface(IID{}, &asked[0]) + control->QueryInterface(IID{}, &asked[1]), 0);
    EXPECT_TRUE(asked[0] == policy && asked[1] == control);
    policy->SetPolicyParams({Param("a", "1")});
    policy->SetCommParams({Param("b", "2"), Param("c", "3")});
    std::list<PolicyParam> params, comm;
    policy->GetPolicyParamList(params);
    policy->ClearCommParams();
    policy->GetCommParamList(comm);
    EXPECT_EQ(params.size() * 10 + comm.size(), 10u);
    policy->ClearPolicyParams();
    policy->GetPolicyParamList(params);
    EXPECT_TRUE(params.empty());
    EXPECT_EQ(control->RegisterInterface(0x200, nullptr, 0), -1) << "a known slot takes no null";
    EXPECT_EQ(control->RegisterInterface(0x201, nullptr, 0) + control->UnregisterInterface(0x200, 0), 0);
    EXPECT_EQ(control->QueryCommand("x"), -1);
    EXPECT_EQ(control->AddRef(), 1u) << "handing out ICommonControl does not count";
    EXPECT_EQ(control->Release(), 1u) << "ICommonControl never destroys";
    EXPECT_EQ(policy->AddRef(), 2u);
    EXPECT_EQ(policy->Release(), 1u);
    EXPECT_TRUE(os_.DebugLines().empty());
    EXPECT_EQ(policy->Release(), 0u);
    EXPECT_EQ(os_.DebugLines(), std::vector<std::string>{"A CPolicy object was deleted!\n"});
    EXPECT_TRUE(agent.Logs().empty()) << "the entry's interface is registered, never called";
}

// What the base keeps for the agent and answers on its own, where the
// policy does not override it: the labels (a null one as empty), the mark
// and the flag, and the reserved operation's fixed answer.
TEST_F(FrameTest, BaseKeepsWhatTheAgentHandsIn) {
    struct Base : CPolicyBase {
        std::string Kept() const {
            return m_strPolicyLabel + "|" + m_strPolicyLabel2 + "|" + m_strPolicyLabel3 + "|" + std::to_string(m_nMark) +
                   std::to_string(m_bFlag);
        }
    } base;
    EXPECT_EQ(base.Kept(), "|||00");
    EXPECT_EQ(base.SetPolicyLabel("a") + base.SetPolicyLabels("b", "c") + base.SetFlag(7), 0);
    base.SetMark();
    EXPECT_EQ(base.Kept(), "a|b|c|17");
    EXPECT_EQ(base.SetPolicyLabel(nullptr) + base.SetPolicyLabels(nullptr, nullptr), 0);
    EXPECT_EQ(base.Kept(), "|||17");
    EXPECT_EQ(base.Reserved32(), 1);
}

// An exception thrown inside an operation stops at the interface, and the
// agent gets that operation's answer for a fault.
TEST_F(FrameTest, ExceptionsStopAtTheInterface) {
    struct Throwing : CPolicyBase {
        int Initialize(std::string) override { throw std::runtime_error("Initialize"); }
        int Exec(uint32_t) override { throw std::runtime_error("Exec"); }
        int Reserved32() override { throw std::runtime_error("Reserved32"); }
        int RegisterInterface(uint32_t, IUnknown*, uint32_t) override { throw std::runtime_error("Register"); }
        int QueryCommand(std::string) override { throw std::runtime_error("QueryCommand"); }
        void SetMark() override { throw std::runtime_error("SetMark"); }
    } base;
    IPolicy* policy = base.GetPolicyInterface();
    ICommonControl* control = base.GetCommonControlInterface();
    policy->SetMark();
    EXPECT_EQ(std::to_string(policy->Exec(0)) + " " + std::to_string(policy->Reserved32()) + " " +
                  std::to_string(control->Initialize("x")) + " " + std::to_string(control->RegisterInterface(1, nullptr, 0)) +
                  " " + std::to_string(control->QueryCommand("x")),
              "1 1 -1 -1 -1");
}

TEST_F(FrameTest, ParameterLookups) {
    CPolicyBase policy;
    for (const char* v : {"v1", "v2"}) policy.AddParamTriple("t", "n", v);
    policy.AddParamTriple("T", "n", "v3");
    EXPECT_EQ(policy.GetParamTriple("t", "n") + policy.GetParamTriple("t", "N"), "v1") << "exact comparison";
    std::list<std::string> values;
    policy.GetParamTriples("t", "n", values);
    EXPECT_EQ(values, (std::list<std::string>{"v1", "v2"}));
    policy.RemoveParamTriple("t");
    EXPECT_EQ(policy.GetParamTriple("t", "n") + policy.GetParamTriple("T", "n"), "v3");

    std::list<PolicyParam> params = {Param("checkcyc", "group", 1), Param("Other", "x"), Param("CheckCyc", "5"),
                                     Param("checkcyc", "6"), Param("odd", "kind2", 2)};
    const std::pair<const char*, const char*> cases[] = {
        {"checkcyc", "5"}, {"CHECKCYC", "5"}, {"other", "x"}, {"missing", ""}, {"odd", ""}};
    for (const auto& c : cases) EXPECT_EQ(policy.FindParamValue(c.first, params), c.second) << c.first;

    std::list<ParamTriple> triples = {{"t1", "Key", "v1"}, {"t2", "key", "v2"}};
    EXPECT_EQ(policy.FindGroupValue("KEY", triples), "v1");
    std::string tag = "keep", value = "keep";
    EXPECT_EQ(policy.FindTriple("none", triples, tag, value), 0);
    EXPECT_EQ(tag, "keep");
    EXPECT_EQ(policy.FindTriple("key", triples, tag, value), 0);
    EXPECT_EQ(tag + value, "t1v1");

    // The first group record holding the key gives its occurrences.
    params = {Param("PolicyCommParam", "plain"), Group("Other", {{Param("a", "1")}}),
              Group("PolicyCommParam", {{Param("a", "1")}, {Param("b", "2")}}),
              Group("PolicyCommParam", {{Param("c", "3")}})};
    std::list<std::list<PolicyParam>> out = {{Param("stale", "")}};
    EXPECT_EQ(policy.FindParamGroup("PolicyCommParam", out, params), 2);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out.back().front().name, "b");
    EXPECT_EQ(policy.FindParamGroup("policycommparam", out, params), 0) << "keys compare exactly";
    EXPECT_TRUE(out.empty());
}

TEST_F(FrameTest, CommonParamsFromTheGroup) {
    TempDir dir;
    ASSERT_TRUE(dir.MakeSubdir("language"));
    std::ofstream(dir.path() + "/language/langmap.ini") << "1 Chinese ch\n2 English en\n";
    os_.exePath = dir.path() + "/agent";
    lumenutil::ReloadLangMapForTesting();

    const struct {
        const char* name;
        std::list<std::list<PolicyParam>> group;  // empty: no group record at all
        std::string expected;  // account|id|user|user id|org|location|online state
    } cases[] = {
        {"no group", {}, "before||||||9"},
        {"account fills user",
         {{Param("Account", "alice"), Param("AccountID", "42"), Param("LocationOnlineState", "x")}},
         "alice|42|alice|42|||0"},
        {"ch reads the zh location", {{Param("LocationName_ch", "ch-site"), Param("LocationName_zh", "zh-site")}},
         "before||before|||zh-site|9"},
        {"later record wins",
         {{Param("OrgName", "first"), Param("OrgName", "second"), Param("LocationOnlineState", "3")}},
         "before||before||second||3"},
    };
    for (const auto& c : cases) {
        CPolicyBase policy;
        policy.SetLanguage(1);
        if (!c.group.empty()) policy.SetPolicyParams({Group("PolicyCommParam", c.group)});
        CommonParams p;
        p.strAccount = "before";
        p.nLocationOnlineState = 9;
        policy.GetCommonParams(p);
        EXPECT_EQ(p.strAccount + "|" + p.strAccountId + "|" + p.strUserName + "|" + p.strUserId + "|" + p.strOrgName +
                      "|" + p.strLocationName + "|" + std::to_string(p.nLocationOnlineState),
                  c.expected)
            << c.name;
    }
    lumenutil::ReloadLangMapForTesting();
}

// The computer's name: the DNS name's host part, up to a NUL and within 255
// bytes; without one the NetBIOS name, cut alike; else nothing.
TEST(ComputerNameTest, DnsHostPartElseNetbios) {
    struct NamedOs : FakeOs {
        bool ComputerDnsName(std::string* n) override { return *n = dns, dnsOk; }
        bool ComputerNetbiosName(std::string* n) override { return *n = netbios, netbiosOk; }
        std::string dns, netbios;
        bool dnsOk, netbiosOk;
    };
    const std::string longName(256, 'h'), cut(255, 'h');
    const struct { std::string dns; bool dnsOk; std::string netbios; bool netbiosOk; std::string want; } rows[] = {
        {"pc1.corp.example", true, "NB", true, "pc1"}, {std::string("pc2\0.x", 6), true, "NB", true, "pc2"},
        {longName, true, "NB", true, cut},            {".corp", true, std::string("NB1\0x", 5), true, "NB1"},
        {"pc3", false, longName, true, cut},            {"", true, "NB", false, ""},
    };
    for (const auto& r : rows) {
        NamedOs os;
        os.dns = r.dns, os.dnsOk = r.dnsOk, os.netbios = r.netbios, os.netbiosOk = r.netbiosOk;
        Os* previous = SetOsForTesting(&os);
        EXPECT_EQ(CPolicyBase().GetComputerNameText(), r.want) << r.dns.substr(0, 20);
        SetOsForTesting(previous);
    }
}

TEST_F(FrameTest, LogLineLayout) {
    RecordingAgent agent;
    CPolicyBase policy;
    policy.WriteLog(2, "CPolicy::done", 341, "Done out");  // no agent yet: dropped
    policy.SetAgent(&agent);
    policy.WriteLog(2, "CPolicy::done", 341, "Done out");
    policy.SetModuleName("OutlinkWatch");
    policy.WriteLog(4, "F", -7, "%s|%d", "a%sb", 5);
    policy.WriteLog(2, "Long", 1, "%s", std::string(2000, 'x').c_str());

    std::vector<std::string> got;
    for (const LogLine& l : agent.Logs()) got.push_back(std::to_string(l.level) + "|" + l.module + "|" + l.text);
    EXPECT_EQ(got, (std::vector<std::string>{"2||[CPolicy::done] [line=341]Done out",  // no module before it is named
                                             "4|OutlinkWatch|[F] [line=-7]a%sb|5",
                                             "2|OutlinkWatch|[Long] [line=1]" + std::string(1024, 'x')}));
}

}  // namespace
}  // namespace outlinkwatch
