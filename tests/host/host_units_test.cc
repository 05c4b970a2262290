// The host's parts without a plug-in: the policy file reader, the language
// texts and the outputs of the agent object the policy calls.
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host_agent.h"
#include "host_platform.h"
#include "lang_file.h"
#include "policy_file.h"

namespace owhost {
namespace {

// name=value for parameters, name{[..][..]} for a group with its occurrences.
std::string Describe(const std::list<PolicyParam>& params) {
    std::string s;
    for (const PolicyParam& p : params) {
        s += (s.empty() ? "" : " ") + p.tag + ":" + p.name + (p.kind == 0 ? "=" + p.value : "{");
        for (const auto& [key, occurrences] : p.children) {
            s += key == p.name ? "" : "<key " + key + ">";  // the policy looks a group up by its name
            for (const auto& occurrence : occurrences) s += "[" + Describe(occurrence) + "]";
        }
        s += p.kind == 0 ? "" : "}";
    }
    return s;
}

std::string Wrap(const std::string& body) { return "<policy>" + body + "</policy>"; }

TEST(PolicyFileTest, ReadsTheFormatAndRefusesWithOneLineNamingTheLine) {
    const PolicyLimits limits{1024, 16, 16, 6, 2};  // file, name and value bytes, records, group depth
    // expect: "policy list | common list #language" when ok, else a part of the error.
    const struct { const char* what; std::string xml; bool ok; std::string expect; } cases[] = {
        {"parameters keep order, bytes and escapes",
         "<?xml version=\"1.0\"?><!-- c --><policy><param name=\"Type\" value=\"0\"/><param name=\"b\" "
         "value=\" x;&lt;&#65;\xff\"/><param name=\"e\" value=\"\"/></policy>",
         true, "param:Type=0 param:b= x;<A\xff param:e= | "},
        {"groups, occurrences, the common set, type and language",
         R"(<policy type="policy.win.outlink.watch" language="2052"><group name="A"><occurrence/><occurrence>)"
         R"(<group name="B"><occurrence/></group></occurrence></group>)"
         R"(<common><param name="c" value="2"/></common></policy>)",
         true, "group:A{[][group:B{[]}]} | param:c=2 #2052"},
        {"two roots", "<policy/>\n<policy/>", false, "line 2: a second top-level element <policy>"},
        {"unknown element", Wrap("\n\n<parm name=\"a\" value=\"1\"/>"), false, "line 3: unexpected element <parm>"},
        {"hostile name", Wrap(R"(<param name="a&#10;b&#27;[31m" value="1" x="1"/>)"), false, "a\\x0ab\\x1b[31m"},
        {"other policy type", R"(<policy type="policy.win.other"/>)", false, "is not served here"},
        {"parameter without value", Wrap(R"(<param name="a"/>)"), false, "has no value attribute"},
        {"group given twice", Wrap(R"(<group name="G"/><group name="G"/>)"), false, "group \"G\" given twice"},
        {"value too long", Wrap(R"(<param name="a" value="12345678901234567"/>)"), false, "longer than 16 bytes"},
        {"too many records", Wrap(R"(<group name="G"><occurrence/><occurrence/><occurrence/><occurrence/><occurrence/>)"
                                  R"(<occurrence/></group>)"), false, "more than 6 parameters"},
        {"groups nested too deep", Wrap(R"(<group name="A"><occurrence><group name="B"><occurrence><group name="C"/>)"
                                        R"(</occurrence></group></occurrence></group>)"), false, "deeper than 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PolicyDocument doc;
        std::string error;
        ASSERT_EQ(ParsePolicyText(c.xml, &doc, &error, limits), c.ok) << error;
        if (c.ok) {
            const std::string language = doc.language ? " #" + std::to_string(*doc.language) : "";
            EXPECT_EQ(Describe(doc.policyParams) + " | " + Describe(doc.commParams) + language, c.expect);
            continue;
        }
        EXPECT_NE(error.find(c.expect), std::string::npos) << error;
        EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
        EXPECT_EQ(error.find_first_of("\n\x1b"), std::string::npos) << error;
    }
}

TEST(LangTableTest, ReadsTextsByModuleAndKeyAndRefusesDamagedFiles) {
    const std::string ini = "\xEF\xBB\xBF; comment\r\n[OutlinkWatch]\r\nrsTitle = Illegal outbound\r\n"
                            "rsSuccess = \" can be reached.\"\nrsTwice = first\nRSTWICE = second\n";
    const LangLimits limits{1024, 40, 8};  // file and line bytes, texts
    // expect: the text found ("(none)": none) when parsed, else a part of the error.
    const struct { const char* what; std::string text; const char *module, *key; bool parsed; const char* expect; }
        cases[] = {
            {"BOM, CRLF and any case", ini, "outlinkwatch", "RSTITLE", true, "Illegal outbound"},
            {"quotes keep the blanks", ini, "OutlinkWatch", "rsSuccess", true, " can be reached."},
            {"the first of two wins", ini, "OutlinkWatch", "rsTwice", true, "first"},
            {"missing key", ini, "OutlinkWatch", "missing", true, "(none)"},
            {"key before section", "a = b\n[S]\n", "", "", false, "line 1: key before the first [section]"},
            {"no equals sign", "[S]\njust words\n", "", "", false, "line 2: expected key = text"},
            {"line too long", "[S]\nk = " + std::string(40, 'x'), "", "", false, "line 2: longer than 40 bytes"},
            {"too many texts", "[S]\na=1\nb=2\nc=3\nd=4\ne=5\nf=6\ng=7\nh=8\ni=9\n", "", "", false, "line 10: more"},
        };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LangTable t;
        std::string error, text;
        ASSERT_EQ(t.Parse(c.text, &error, limits), c.parsed) << error;
        const std::string got = !c.parsed ? error : t.Find(c.module, c.key, &text) ? text : "(none)";
        EXPECT_EQ(c.parsed ? got : got.substr(0, std::strlen(c.expect)), c.expect);
    }
}

// The lines written to a sink over a temporary file.
struct Captured {
    FILE* file = std::tmpfile();
    LineSink sink{file};
    ~Captured() { std::fclose(file); }
    std::string Text() {  // the sink flushes after each line
        std::string s(static_cast<size_t>(std::ftell(file)), '\0');
        std::rewind(file);
        s.resize(std::fread(s.data(), 1, s.size(), file));
        return s;
    }
};

// The output files' decision on what was opened (Wine does not show a
// link as a reparse point, so the Windows half rests on this table).
TEST(AppendTargetTest, RefusesLinksOtherFilesAndOtherUsersFiles) {
    const struct { AppendTarget t; const char* want; } rows[] = {
        {{true, false, false, false}, ""},
        {{false, true, false, true}, ""},
        {{true, false, true, false}, "it is a symbolic link"},
        {{false, true, true, false}, "it is a symbolic link"},
        {{false, false, false, false}, "not a regular file"},
        {{true, false, false, true}, "owned by another user"},
    };
    for (const auto& r : rows) {
        const char* got = AppendTargetRefusal(r.t);
        EXPECT_STREQ(got != nullptr ? got : "", r.want) << &r - rows;
    }
}

TEST(HostAgentTest, NotificationIsOneJsonLineWithEveryFieldByNameInRecordOrder) {
    using M = NotifyMsg;
    using C = CommonParams;
    NotifyMsg m;
    char value = 'a';  // each text its own value, so two fields swapped cannot go unnoticed
    for (auto f : {&M::strTag, &M::strTitle, &M::strPolicyInfo, &M::strReserved1, &M::strRank, &M::strReserved2,
                   &M::strReserved3, &M::strReserved4, &M::strEventKey, &M::strReserved5, &M::strReserved6,
                   &M::strReserved7, &M::strReserved8, &M::strReserved9}) m.*f = std::string(1, value++);
    value = 'A';
    for (auto f : {&C::strPolicyParamVersion, &C::strAccount, &C::strAccountId, &C::strOrgId, &C::strOrgName,
                   &C::strUserName, &C::strUserId, &C::strAuthType, &C::strBsid, &C::strLocationId,
                   &C::strLocationName, &C::strReserved1, &C::strReserved2}) m.common.*f = std::string(1, value++);
    m.strTag += "\xff\n";  // not UTF-8, and a line end
    m.nReserved1 = 5, m.nMsgCode = 101, m.nReserved2 = -7, m.common.nLocationOnlineState = 1;
    for (const char* name : {"Route", "n"}) m.lstInfo.emplace_back().m_strName = name;
    m.lstInfo.front().m_strValue = "198.51.100.0/24";
    Captured events;
    HostAgent agent(AgentOutputs{nullptr, &events.sink, nullptr}, nullptr, nullptr);
    std::list<NotifyMsg> msgs{m};
    ASSERT_EQ(agent.SendNotify("policy.win.outlink.watch", &msgs), 0);
    EXPECT_EQ(events.Text(),
              R"({"policyType":"policy.win.outlink.watch","strTag":"a)" "\xEF\xBF\xBD" R"(\n","strTitle":"b",)"
              R"("strPolicyInfo":"c","strReserved1":"d","strRank":"e","strReserved2":"f","strReserved3":"g",)"
              R"("strReserved4":"h","nReserved1":5,"nMsgCode":101,"nReserved2":-7,"strEventKey":"i",)"
              R"("strReserved5":"j","strReserved6":"k","strReserved7":"l","strReserved8":"m","strReserved9":"n",)"
              R"("strPolicyParamVersion":"A","strAccount":"B","strAccountId":"C","strOrgId":"D","strOrgName":"E",)"
              R"("strUserName":"F","strUserId":"G","strAuthType":"H","strBsid":"I","strLocationId":"J",)"
              R"("strLocationName":"K","strCommonReserved1":"L","strCommonReserved2":"M","nLocationOnlineState":1,)"
              R"("lstInfo":[{"name":"Route","value":"198.51.100.0/24"},{"name":"n","value":""}]})" "\n");
}

TEST(HostAgentTest, ConcurrentLogCallsGiveWholeLinesInOrder) {
    constexpr int kThreads = 8, kLines = 500;
    Captured log;
    HostAgent agent(AgentOutputs{&log.sink, nullptr, nullptr}, nullptr, nullptr);
    const std::string filler(300, 'x');  // long lines make a torn write likely
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) agent.WriteLog(t, "M", ("t" + std::to_string(i) + " " + filler).c_str());
        });
    }
    for (std::thread& th : threads) th.join();
    std::vector<int> next(kThreads, 0);  // each thread's lines in its order, none torn or lost
    std::istringstream in(log.Text());
    for (std::string line; std::getline(in, line);) {
        const int t = line.size() > 1 ? line[1] - '0' : -1;
        EXPECT_EQ(line, "[" + std::to_string(t) + "] M: t" + std::to_string(next.at(t)++) + " " + filler);
    }
    EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
}

}  // namespace
}  // namespace owhost
