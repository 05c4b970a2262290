// The host's parts without a plug-in: the policy file reader, the language
// texts and the outputs of the agent object the policy calls.
#include <cstdio>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host_agent.h"
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
            s += key == p.name ? "" : "<key " + key + ">";
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
         Wrap(R"(<param name="Type" value="0"/><param name="b" value=" x;&lt;&amp;&#65;&quot;"/>)"
              R"(<param name="e" value=""/>)"),
         true, "param:Type=0 param:b= x;<&A\" param:e= | "},
        {"group with two occurrences",
         Wrap(R"(<group name="PolicyCommParam"><occurrence><param name="Account" value="alice"/></occurrence>)"
              R"(<occurrence><param name="Account" value="bob"/><param name="Bsid" value="7"/></occurrence></group>)"),
         true, "group:PolicyCommParam{[param:Account=alice][param:Account=bob param:Bsid=7]} | "},
        {"common set, nested and empty groups, type and language",
         R"(<policy type="policy.win.outlink.watch" language="2052"><group name="A"><occurrence><group name="B">)"
         R"(<occurrence/></group></occurrence></group><common><param name="c" value="2"/><group name="A"/>)"
         R"(</common></policy>)",
         true, "group:A{[group:B{[]}]} | param:c=2 group:A{} #2052"},
        {"declaration, comments and bytes that are not UTF-8",
         "<?xml version=\"1.0\"?>\n<!-- c -->\n<policy>\n  <param name=\"a\" value=\"\xff\xfe\"/>\n</policy>\n", true,
         "param:a=\xff\xfe | "},
        {"empty text", "", false, "line 1: no <policy> element"},
        {"malformed XML", "<policy>\n<param name=\"a\" value=\"1\">\n</policy>", false, "line 3: malformed XML"},
        {"two roots", "<policy/>\n<policy/>", false, "line 2: a second top-level element <policy>"},
        {"wrong root", "<policies/>", false, "not <policy>"},
        {"unknown element", Wrap("\n\n<parm name=\"a\" value=\"1\"/>"), false, "line 3: unexpected element <parm>"},
        {"unknown policy attribute", R"(<policy mode="x"/>)", false, "unknown attribute \"mode\""},
        {"misspelt attribute", Wrap(R"(<param name="a" value="" valeu="1"/>)"), false, "unknown attribute \"valeu\""},
        {"hostile name", Wrap(R"(<param name="a&#10;b&#27;[31m" value="1" x="1"/>)"), false, "a\\x0ab\\x1b[31m"},
        {"other policy type", R"(<policy type="policy.win.other"/>)", false, "is not served here"},
        {"language not a number", R"(<policy language="en"/>)", false, "language \"en\" is not a number"},
        {"parameter without value", Wrap(R"(<param name="a"/>)"), false, "has no value attribute"},
        {"text in a parameter", Wrap(R"(<param name="a" value="1">x</param>)"), false, "unexpected text \"x\""},
        {"param in group", Wrap(R"(<group name="G"><param name="a" value=""/></group>)"), false, "only <occurrence>"},
        {"group given twice", Wrap(R"(<group name="G"/><group name="G"/>)"), false, "group \"G\" given twice"},
        {"common twice", Wrap("<common/><common/>"), false, "<common> given twice"},
        {"name too long", Wrap(R"(<param name="12345678901234567" value="1"/>)"), false, "longer than 16 bytes"},
        {"value too long", Wrap(R"(<param name="a" value="12345678901234567"/>)"), false, "longer than 16 bytes"},
        {"too many records", Wrap(R"(<group name="G"><occurrence/><occurrence/><occurrence/><occurrence/><occurrence/>)"
                                  R"(<occurrence/></group>)"), false, "more than 6 parameters"},
        {"groups nested too deep", Wrap(R"(<group name="A"><occurrence><group name="B"><occurrence><group name="C"/>)"
                                        R"(</occurrence></group></occurrence></group>)"), false, "deeper than 2"},
    };
    for (const auto& c : cases) {
        PolicyDocument doc;
        std::string error;
        ASSERT_EQ(ParsePolicyText(c.xml, &doc, &error, limits), c.ok) << c.what << ": " << error;
        if (c.ok) {
            const std::string language = doc.language ? " #" + std::to_string(*doc.language) : "";
            EXPECT_EQ(Describe(doc.policyParams) + " | " + Describe(doc.commParams) + language, c.expect) << c.what;
            continue;
        }
        EXPECT_NE(error.find(c.expect), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(error.rfind("line ", 0), 0u) << c.what << ": " << error;
        EXPECT_EQ(error.find_first_of("\n\x1b"), std::string::npos) << c.what << ": " << error;
    }
}

TEST(LangTableTest, ReadsTextsByModuleAndKeyAndRefusesDamagedFiles) {
    const std::string ini =
        "\xEF\xBB\xBF; comment\r\n# comment\n[OutlinkWatch]\r\nrsTitle = Illegal outbound\r\n"
        "rsSuccess = \" can be reached.\"\nrsQuote = \"\nrsEmpty =\nrsTwice = first\nRSTWICE = second\n"
        "rsEquals = a=b\n  [ Other ]  \nrsTitle = other module\n";
    const LangLimits limits{1024, 40, 8};  // file and line bytes, texts
    // expect: the text found (null: none) when parsed, else a part of the error.
    const struct { const char* what; std::string text; const char *module, *key; bool parsed; const char* expect; }
        cases[] = {
        {"BOM, CRLF and any case", ini, "outlinkwatch", "RSTITLE", true, "Illegal outbound"},
        {"quotes keep the blanks", ini, "OutlinkWatch", "rsSuccess", true, " can be reached."},
        {"a lone quote is text", ini, "OutlinkWatch", "rsQuote", true, "\""},
        {"empty text", ini, "OutlinkWatch", "rsEmpty", true, ""},
        {"the first of two wins", ini, "OutlinkWatch", "rsTwice", true, "first"},
        {"'=' in the text", ini, "OutlinkWatch", "rsEquals", true, "a=b"},
        {"section with blanks", ini, "Other", "rsTitle", true, "other module"},
        {"missing key", ini, "OutlinkWatch", "missing", true, nullptr},
        {"missing module", ini, "Missing", "rsTitle", true, nullptr},
        {"key before section", "a = b\n[S]\n", "", "", false, "line 1: key before the first [section]"},
        {"no equals sign", "[S]\njust words\n", "", "", false, "line 2: expected key = text"},
        {"open section", "[S\n", "", "", false, "line 1: section header without ']'"},
        {"empty key", "[S]\n = x\n", "", "", false, "line 2: empty key"},
        {"line too long", "[S]\nk = " + std::string(40, 'x') + "\n", "", "", false, "line 2: longer than 40 bytes"},
        {"too many texts", "[S]\na=1\nb=2\nc=3\nd=4\ne=5\nf=6\ng=7\nh=8\ni=9\n", "", "", false, "line 10: more than 8"},
    };
    for (const auto& c : cases) {
        LangTable t;
        std::string error, text;
        ASSERT_EQ(t.Parse(c.text, &error, limits), c.parsed) << c.what << ": " << error;
        if (!c.parsed) {
            EXPECT_NE(error.find(c.expect), std::string::npos) << c.what << ": " << error;
            EXPECT_EQ(t.size(), 0u) << c.what;
            continue;
        }
        EXPECT_EQ(t.Find(c.module, c.key, &text) ? text : "(none)", c.expect ? c.expect : "(none)") << c.what;
    }
}

// The lines written to a sink over a temporary file.
struct Captured {
    FILE* file = std::tmpfile();
    LineSink sink{file};
    ~Captured() { std::fclose(file); }
    std::string Text() {
        std::fflush(file);
        std::rewind(file);
        std::string s;
        for (int c; (c = std::fgetc(file)) != EOF;) s += static_cast<char>(c);
        return s;
    }
};

TEST(HostAgentTest, NotificationIsOneJsonLineWithEveryFieldAndBadBytesReplaced) {
    // Each text its own value, so two fields swapped cannot go unnoticed.
#define OW_FIELD(type, json, member) std::pair<const char*, std::string type::*>{#json, &type::member}
#define OW_MSG(name) OW_FIELD(NotifyMsg, name, name)
#define OW_COMMON(name) OW_FIELD(CommonParams, name, name)
    const std::pair<const char*, std::string NotifyMsg::*> texts[] = {
        OW_MSG(strTag),       OW_MSG(strTitle),     OW_MSG(strPolicyInfo), OW_MSG(strReserved1), OW_MSG(strRank),
        OW_MSG(strReserved2), OW_MSG(strReserved3), OW_MSG(strReserved4),  OW_MSG(strEventKey),  OW_MSG(strReserved5),
        OW_MSG(strReserved6), OW_MSG(strReserved7), OW_MSG(strReserved8),  OW_MSG(strReserved9)};
    const std::pair<const char*, std::string CommonParams::*> common[] = {
        OW_COMMON(strPolicyParamVersion), OW_COMMON(strAccount), OW_COMMON(strAccountId), OW_COMMON(strOrgId),
        OW_COMMON(strOrgName), OW_COMMON(strUserName), OW_COMMON(strUserId), OW_COMMON(strAuthType), OW_COMMON(strBsid),
        OW_COMMON(strLocationId), OW_COMMON(strLocationName), OW_FIELD(CommonParams, strCommonReserved1, strReserved1),
        OW_FIELD(CommonParams, strCommonReserved2, strReserved2)};
#undef OW_COMMON
#undef OW_MSG
#undef OW_FIELD
    NotifyMsg m;
    for (const auto& [name, field] : texts) m.*field = name + std::string("\xff\n");
    for (const auto& [name, field] : common) m.common.*field = name + std::string("\xff\n");
    m.nReserved1 = 5, m.nMsgCode = 101, m.nReserved2 = -7, m.common.nLocationOnlineState = 1;
    for (const char* name : {"Route", "n\xc3", "Route"}) m.lstInfo.emplace_back().m_strName = name;
    Captured events;
    HostAgent agent(AgentOutputs{nullptr, &events.sink, nullptr}, nullptr, nullptr);
    std::list<NotifyMsg> msgs{m};
    ASSERT_EQ(agent.SendNotify("policy.win.outlink.watch", &msgs), 0);

    const std::string text = events.Text();
    ASSERT_EQ(text.find('\n'), text.size() - 1) << text;
    const nlohmann::json j = nlohmann::json::parse(text);
    for (const auto& [name, field] : texts) EXPECT_EQ(j.at(name), name + std::string("\uFFFD\n"));
    for (const auto& [name, field] : common) EXPECT_EQ(j.at(name), name + std::string("\uFFFD\n"));
    const std::pair<const char*, nlohmann::json> others[] = {
        {"policyType", "policy.win.outlink.watch"}, {"nReserved1", 5}, {"nMsgCode", 101}, {"nReserved2", -7},
        {"nLocationOnlineState", 1},
        {"lstInfo", nlohmann::json::parse(R"([{"name":"Route","value":""},{"name":"n\uFFFD","value":""},)"
                                          R"({"name":"Route","value":""}])")}};
    for (const auto& [name, value] : others) EXPECT_EQ(j.at(name), value) << name;
    EXPECT_EQ(j.size(), std::size(texts) + std::size(common) + std::size(others));
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
    std::vector<int> next(kThreads, 0);
    int lines = 0;
    const std::string text = log.Text();
    for (size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1, ++lines) {
        int t = -1, i = -1;
        const std::string line = text.substr(pos, end - pos);
        ASSERT_EQ(std::sscanf(line.c_str(), "[%d] M: t%d ", &t, &i), 2) << line;
        EXPECT_EQ(i, next.at(t)++) << "one thread's lines out of order: " << line;
        EXPECT_EQ(line, "[" + std::to_string(t) + "] M: t" + std::to_string(i) + " " + filler) << "torn line";
    }
    EXPECT_EQ(lines, kThreads * kLines);
}

}  // namespace
}  // namespace owhost
