// The plug-in frame as an agent drives it: entry points, the two interface
// tables, reference counting, parameter look-ups and the log layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fakes/fake_os.h"
#include "fakes/params.h"
#include "fakes/recording_agent.h"
#include "fakes/temp_dir.h"
#include "lumenutil/langmap.h"
#include "outlinkwatch/plugin.h"
#include "plugin/policy.h"

namespace outlinkwatch {
namespace {

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override { previous_ = SetOsForTesting(&os_); }
    void TearDown() override { SetOsForTesting(previous_); }

    FakeOs os_;
    Os* previous_ = nullptr;
};

TEST_F(FrameTest, CreateObjectAcceptsOnlyTheExactName) {
    struct Case {
        const char* name;
        bool created;
    } cases[] = {{"IPolicy", true}, {"ipolicy", false}, {"IPolicy ", false}, {"", false}, {"ICommonControl", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ICommonControl* control = reinterpret_cast<ICommonControl*>(0x1);
        IPolicy* policy = CreateObject(c.name, &control, nullptr);
        EXPECT_EQ(policy != nullptr, c.created);
        if (policy == nullptr) {
            EXPECT_EQ(control, reinterpret_cast<ICommonControl*>(0x1)) << "untouched on refusal";
            continue;
        }
        EXPECT_EQ(control->AddRef(), 1u);
        EXPECT_EQ(policy->AddRef(), 2u);
        EXPECT_EQ(policy->Release(), 1u);
        EXPECT_EQ(policy->Release(), 0u);
    }
    EXPECT_EQ(CreateObject(nullptr, nullptr, nullptr), nullptr);
}

TEST_F(FrameTest, EntryOfCreateObjectIsRegisteredUnder0x100) {
    RecordingAgent agent;
    InterfaceEntry entry{7, 8, &agent, 9};
    ICommonControl* control = nullptr;
    IPolicy* policy = CreateObject("IPolicy", &control, &entry);
    ASSERT_NE(policy, nullptr);
    EXPECT_EQ(control->AddRef(), 1u) << "handing out ICommonControl does not count";
    EXPECT_EQ(control->RegisterInterface(0x100, nullptr, 0), -1) << "known id, null pointer";
    policy->Release();
    EXPECT_TRUE(agent.Logs().empty()) << "the registered interface is never called";
}

TEST_F(FrameTest, StaticEntryPoints) {
    ComponentInfo* first = nullptr;
    ComponentInfo* second = nullptr;
    EXPECT_EQ(GetInterfaceList(&first), 1);
    EXPECT_EQ(GetInterfaceList(&second), 1);
    ASSERT_EQ(first, second);
    EXPECT_STREQ(first->pszInterfaceName, "IPolicy");
    EXPECT_STREQ(first->pszInterfaceVersion, "1.0.0.0");
    EXPECT_EQ(first->pszReserved, nullptr);
    EXPECT_STREQ(first->pszClassId, "{6A1D2C44-3B7E-4F19-A2C5-0D8E91B47F36}");
    EXPECT_STREQ(first->pszDescription, "Tessel Vanta Security Policy.");
    // "Mmm d yyyy": three words, one blank between each.
    const std::string date = first->pszBuildDate;
    EXPECT_EQ(date.find("  "), std::string::npos) << date;
    EXPECT_EQ(std::count(date.begin(), date.end(), ' '), 2) << date;
    for (const char* cmd : {"", "anything", "Exec"}) EXPECT_EQ(QuerySupportedCommand(cmd), -1);
}

TEST_F(FrameTest, ReleaseDestroysOnceAndTellsTheDebugger) {
    ICommonControl* control = nullptr;
    IPolicy* policy = CreateObject("IPolicy", &control, nullptr);
    EXPECT_EQ(control->Release(), 1u);
    EXPECT_EQ(control->Release(), 1u) << "ICommonControl never destroys";
    EXPECT_TRUE(os_.DebugLines().empty());
    EXPECT_EQ(policy->Release(), 0u);
    EXPECT_EQ(os_.DebugLines(), std::vector<std::string>{"A CPolicy object was deleted!\n"});
}

TEST_F(FrameTest, InterfaceRegistrationTable) {
    CPolicy policy;
    RecordingAgent a, b;
    struct Step {
        uint32_t id;
        IUnknown* p;
        int result;
    } steps[] = {{0x100, &a, 0}, {0x1100, &b, 0}, {0x1300, &a, 0}, {0x200, nullptr, -1}, {0x0, &a, 0}};
    for (const Step& s : steps) EXPECT_EQ(policy.RegisterInterface(s.id, s.p, 0), s.result) << std::hex << s.id;
    EXPECT_EQ(policy.GetRegisteredInterface(0x100), &a);
    EXPECT_EQ(policy.GetRegisteredInterface(0x1100), &b);
    EXPECT_EQ(policy.GetRegisteredInterface(0x200), nullptr);
    EXPECT_EQ(policy.GetRegisteredInterface(0x1300), nullptr) << "unknown ids store nothing";

    EXPECT_EQ(policy.UnregisterInterface(0x100, 0), 0);
    EXPECT_EQ(policy.GetRegisteredInterface(0x100), nullptr);
    EXPECT_EQ(policy.GetRegisteredInterface(0x1100), &b) << "only the given id is cleared";
    EXPECT_EQ(policy.UnregisterInterface(0x4242, 0), 0);
    EXPECT_EQ(policy.RegisterInterface(0x100, &b, 0), 0);
    EXPECT_EQ(policy.GetRegisteredInterface(0x100), &b);
}

TEST_F(FrameTest, ComputerNameTable) {
    struct Case {
        const char* dns;
        bool netbiosOk;
        const char* netbios;
        const char* expected;
    } cases[] = {
        {"desk-7.corp.example.test", true, "NB", "desk-7"},
        {"plainname", true, "NB", "plainname"},
        {"", true, "NBNAME", "NBNAME"},
        {"", false, "NBNAME", ""},
        {".leadingdot", true, "NB", "NB"},  // nothing before the first dot: the NetBIOS name
    };
    CPolicy policy;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dns);
        os_.SetDnsName(c.dns);
        os_.SetNetbiosName(c.netbiosOk, c.netbios);
        EXPECT_EQ(policy.GetComputerNameText(), c.expected);
    }
}

TEST_F(FrameTest, TriplesAndParameterLists) {
    CPolicy policy;
    policy.AddParamTriple("t", "n", "v1");
    policy.AddParamTriple("t", "n", "v2");
    policy.AddParamTriple("T", "n", "v3");
    EXPECT_EQ(policy.GetParamTriple("t", "n"), "v1");
    EXPECT_EQ(policy.GetParamTriple("t", "N"), "") << "exact comparison";
    std::list<std::string> values;
    policy.GetParamTriples("t", "n", values);
    EXPECT_EQ(values, (std::list<std::string>{"v1", "v2"}));
    policy.RemoveParamTriple("t");
    EXPECT_EQ(policy.GetParamTriple("t", "n"), "");
    EXPECT_EQ(policy.GetParamTriple("T", "n"), "v3");

    std::list<PolicyParam> params(2), out;
    policy.Policy().SetPolicyParams(params);
    policy.Policy().SetPolicyParams(params);
    policy.Policy().GetPolicyParamList(out);
    EXPECT_EQ(out.size(), 2u) << "setting replaces, never appends";
}

TEST_F(FrameTest, FindParamValueTable) {
    std::list<PolicyParam> params = {Param("checkcyc", "group", 1), Param("Other", "x"), Param("CheckCyc", "5"),
                                     Param("checkcyc", "6"), Param("odd", "kind2", 2)};
    CPolicy policy;
    struct Case {
        const char* name;
        const char* value;
    } cases[] = {{"checkcyc", "5"}, {"CHECKCYC", "5"}, {"other", "x"}, {"missing", ""}, {"odd", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(policy.FindParamValue(c.name, params), c.value);
    }
    std::list<ParamTriple> triples = {{"t1", "Key", "v1"}, {"t2", "key", "v2"}};
    EXPECT_EQ(policy.FindGroupValue("KEY", triples), "v1");
    std::string tag = "keep", value = "keep";
    EXPECT_EQ(policy.FindTriple("none", triples, tag, value), 0);
    EXPECT_EQ(tag, "keep");
    EXPECT_EQ(policy.FindTriple("key", triples, tag, value), 0);
    EXPECT_EQ(tag + value, "t1v1");
}

TEST_F(FrameTest, FindParamGroupTakesTheFirstGroupHoldingTheKey) {
    CPolicy policy;
    std::list<PolicyParam> params = {Param("PolicyCommParam", "plain"), Group("Other", {{Param("a", "1")}}),
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
    struct Case {
        const char* name;
        std::string langMap;  // map file text; empty = no map
        std::list<std::list<PolicyParam>> group;
        bool withGroup;
        CommonParams expected;
    };
    CommonParams untouched;
    untouched.strAccount = "before";
    untouched.nLocationOnlineState = 9;

    CommonParams fallback = untouched;
    fallback.strAccount = "alice";
    fallback.strAccountId = "42";
    fallback.strUserName = "alice";
    fallback.strUserId = "42";
    fallback.nLocationOnlineState = 0;

    CommonParams chinese = untouched;
    chinese.strLocationName = "zh-site";
    chinese.strUserName = "before";

    CommonParams later = untouched;
    later.strOrgName = "second";
    later.strUserName = "before";
    later.nLocationOnlineState = 3;

    const Case cases[] = {
        {"no group", "", {}, false, untouched},
        {"account fills user", "", {{Param("Account", "alice"), Param("AccountID", "42"), Param("LocationOnlineState", "x")}},
         true, fallback},
        {"ch reads the zh location", "1 Chinese ch\n2 English en\n",
         {{Param("LocationName_ch", "ch-site"), Param("LocationName_zh", "zh-site")}}, true, chinese},
        {"later record wins", "", {{Param("OrgName", "first"), Param("OrgName", "second"), Param("LocationOnlineState", "3")}},
         true, later},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string& base = dir.path();
        ASSERT_FALSE(base.empty());
        if (!c.langMap.empty()) {
            ASSERT_TRUE(dir.MakeSubdir("language"));
            FILE* f = fopen((base + "/language/langmap.ini").c_str(), "w");
            fputs(c.langMap.c_str(), f);
            fclose(f);
        }
        os_.SetExecutablePath(base + "/agent");
        lumenutil::ReloadLangMapForTesting();

        CPolicy policy;
        policy.SetLanguage(1);
        if (c.withGroup) policy.SetPolicyParams({Group("PolicyCommParam", c.group)});
        CommonParams got = untouched;
        policy.GetCommonParams(got);
        EXPECT_EQ(got.strAccount, c.expected.strAccount);
        EXPECT_EQ(got.strAccountId, c.expected.strAccountId);
        EXPECT_EQ(got.strUserName, c.expected.strUserName);
        EXPECT_EQ(got.strUserId, c.expected.strUserId);
        EXPECT_EQ(got.strOrgName, c.expected.strOrgName);
        EXPECT_EQ(got.strLocationName, c.expected.strLocationName);
        EXPECT_EQ(got.nLocationOnlineState, c.expected.nLocationOnlineState);
    }
    lumenutil::ReloadLangMapForTesting();
}

TEST_F(FrameTest, LogLineLayout) {
    RecordingAgent agent;  // outlives the policy, which logs when destroyed
    CPolicy policy;
    policy.WriteLog(2, "CPolicy::done", 341, "Done out");  // no agent yet: dropped
    policy.SetAgent(&agent);
    policy.WriteLog(2, "CPolicy::done", 341, "Done out");
    policy.Initialize("policy.win.outlink.watch");
    policy.WriteLog(4, "F", -7, "%s|%d", "a%sb", 5);
    const std::string longMessage(2000, 'x');
    policy.WriteLog(2, "Long", 1, "%s", longMessage.c_str());

    const std::vector<LogLine> logs = agent.Logs();
    ASSERT_EQ(logs.size(), 3u);
    EXPECT_EQ(logs[0].level, 2);
    EXPECT_EQ(logs[0].module, "") << "no module name before Initialize";
    EXPECT_EQ(logs[0].text, "[CPolicy::done] [line=341]Done out");
    EXPECT_EQ(logs[1].level, 4);
    EXPECT_EQ(logs[1].module, "OutlinkWatch");
    EXPECT_EQ(logs[1].text, "[F] [line=-7]a%sb|5");
    EXPECT_EQ(logs[2].text, "[Long] [line=1]" + std::string(1024, 'x'));
}

}  // namespace
}  // namespace outlinkwatch
