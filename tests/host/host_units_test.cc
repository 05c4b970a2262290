// The host's parts without a plug-in: the policy file reader, the language
// texts, the output formats and the agent object the policy calls.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "bounded_file.h"
#include "host_agent.h"
#include "lang_file.h"
#include "policy_file.h"

namespace owhost {
namespace {

// A compact picture of records: name=value for parameters,
// name{[..][..]} for a group with its occurrences.
std::string Describe(const std::list<PolicyParam>& params) {
    std::string s;
    for (const PolicyParam& p : params) {
        if (!s.empty()) s += ' ';
        if (p.kind == 0) {
            s += p.tag + ":" + p.name + "=" + p.value;
            continue;
        }
        s += p.tag + ":" + p.name + "{";
        for (const auto& [key, occurrences] : p.children) {
            if (key != p.name) s += "<key " + key + ">";
            for (const auto& occurrence : occurrences) s += "[" + Describe(occurrence) + "]";
        }
        s += "}";
    }
    return s;
}

std::string Wrap(const std::string& body) { return "<policy>" + body + "</policy>"; }

struct GoodCase {
    const char* what;
    std::string xml;
    std::string policy;
    std::string common;
    int language;  // -1: none
};

TEST(PolicyFileTest, AcceptsTheFormat) {
    const GoodCase cases[] = {
        {"empty policy", "<policy/>", "", "", -1},
        {"plain parameters keep order and bytes", Wrap(R"(<param name="Type" value="0"/><param name="b" value=" x;y "/>)"),
         "param:Type=0 param:b= x;y ", "", -1},
        {"empty value", Wrap(R"(<param name="ConnectAddr" value=""/>)"), "param:ConnectAddr=", "", -1},
        {"escapes", Wrap(R"(<param name="a" value="&lt;&amp;&#65;&quot;"/>)"), "param:a=<&A\"", "", -1},
        {"group with two occurrences",
         Wrap(R"(<group name="PolicyCommParam"><occurrence><param name="Account" value="alice"/></occurrence>)"
              R"(<occurrence><param name="Account" value="bob"/><param name="Bsid" value="7"/></occurrence></group>)"),
         "group:PolicyCommParam{[param:Account=alice][param:Account=bob param:Bsid=7]}", "", -1},
        {"empty group and empty occurrence", Wrap(R"(<group name="G"/><group name="H"><occurrence/></group>)"),
         "group:G{} group:H{[]}", "", -1},
        {"common list goes to the other set",
         Wrap(R"(<param name="a" value="1"/><common><param name="c" value="2"/></common>)"), "param:a=1",
         "param:c=2", -1},
        {"group inside common", Wrap(R"(<common><group name="G"><occurrence><param name="x" value="1"/>)"
                                     R"(</occurrence></group></common>)"),
         "", "group:G{[param:x=1]}", -1},
        {"nested group", Wrap(R"(<group name="A"><occurrence><group name="B"><occurrence><param name="x" value="1"/>)"
                              R"(</occurrence></group></occurrence></group>)"),
         "group:A{[group:B{[param:x=1]}]}", "", -1},
        {"same group name in different lists",
         Wrap(R"(<group name="G"/><common><group name="G"/></common>)"), "group:G{}", "group:G{}", -1},
        {"type and language attributes",
         R"(<policy type="policy.win.outlink.watch" language="2052"><param name="a" value="1"/></policy>)",
         "param:a=1", "", 2052},
        {"declaration, comments and white space",
         "<?xml version=\"1.0\"?>\n<!-- c -->\n<policy>\n  <!-- c -->\n  <param name=\"a\" value=\"1\"/>\n</policy>\n",
         "param:a=1", "", -1},
        {"non-UTF-8 bytes are kept as bytes", Wrap("<param name=\"a\" value=\"\xff\xfe\"/>"), "param:a=\xff\xfe", "", -1},
    };
    for (const GoodCase& c : cases) {
        PolicyDocument doc;
        std::string error;
        ASSERT_TRUE(ParsePolicyText(c.xml, &doc, &error)) << c.what << ": " << error;
        EXPECT_EQ(Describe(doc.policyParams), c.policy) << c.what;
        EXPECT_EQ(Describe(doc.commParams), c.common) << c.what;
        EXPECT_EQ(doc.language.has_value() ? static_cast<int>(*doc.language) : -1, c.language) << c.what;
    }
}

struct BadCase {
    const char* what;
    std::string xml;
    const char* message;  // expected part of the error
};

TEST(PolicyFileTest, RefusesWithOneLineNamingTheLine) {
    PolicyLimits small;
    small.maxNameBytes = 8;
    small.maxValueBytes = 16;
    small.maxRecords = 6;
    small.maxGroupDepth = 2;
    const std::string nested3 =
        R"(<group name="A"><occurrence><group name="B"><occurrence><group name="C"/></occurrence></group>)"
        R"(</occurrence></group>)";
    const BadCase cases[] = {
        {"empty text", "", "line 1: no <policy> element"},
        {"unclosed tag", "<policy>\n<param name=\"a\" value=\"1\">\n</policy>", "line 3: malformed XML"},
        {"bad attribute quoting", "<policy><param name=a value=\"1\"/></policy>", "malformed XML"},
        {"two roots", "<policy/>\n<policy/>", "line 2: a second top-level element <policy>"},
        {"text after the root", "<policy/>trailing", "text outside <policy>"},
        {"only a comment", "<!-- nothing -->", "no <policy> element"},
        {"wrong root", "<policies/>", "not <policy>"},
        {"unknown element", Wrap("\n\n<parm name=\"a\" value=\"1\"/>"), "line 3: unexpected element <parm>"},
        {"unknown policy attribute", R"(<policy mode="x"/>)", "unknown attribute \"mode\""},
        {"other policy type", R"(<policy type="policy.win.other"/>)", "is not served here"},
        {"language not a number", R"(<policy language="en"/>)", "language \"en\" is not a number"},
        {"negative language", R"(<policy language="-1"/>)", "is not a number"},
        {"parameter without name", Wrap(R"(<param value="1"/>)"), "<param> has no name"},
        {"parameter with empty name", Wrap(R"(<param name="" value="1"/>)"), "has an empty name"},
        {"parameter without value", Wrap(R"(<param name="a"/>)"), "has no value attribute"},
        {"misspelt value attribute", Wrap(R"(<param name="a" value="" valeu="1"/>)"), "unknown attribute \"valeu\""},
        {"text in a parameter", Wrap(R"(<param name="a" value="1">x</param>)"), "unexpected text \"x\""},
        {"element in a parameter", Wrap(R"(<param name="a" value="1"><b/></param>)"), "cannot contain elements"},
        {"text in policy", Wrap("hello"), "unexpected text \"hello\""},
        {"CDATA in policy", Wrap("<![CDATA[x]]>"), "unexpected text"},
        {"group given twice", Wrap(R"(<group name="G"/><group name="G"/>)"), "group \"G\" given twice"},
        {"group without name", Wrap("<group/>"), "<group> has no name"},
        {"parameter directly in a group", Wrap(R"(<group name="G"><param name="a" value="1"/></group>)"),
         "only <occurrence>"},
        {"attribute on occurrence", Wrap(R"(<group name="G"><occurrence n="1"/></group>)"), "unknown attribute \"n\""},
        {"unknown group attribute", Wrap(R"(<group name="G" kind="1"/>)"), "unknown attribute \"kind\""},
        {"common twice", Wrap("<common/><common/>"), "<common> given twice"},
        {"common with attribute", Wrap(R"(<common x="1"/>)"), "unknown attribute \"x\""},
        {"common inside common", Wrap("<common><common/></common>"), "unexpected element <common> in <common>"},
        {"name too long", Wrap(R"(<param name="123456789" value="1"/>)"), "name longer than 8 bytes"},
        {"value too long", Wrap(R"(<param name="a" value="12345678901234567"/>)"), "longer than 16 bytes"},
        {"too many records", Wrap(R"(<param name="a" value="1"/><param name="b" value="1"/>)"
                                  R"(<group name="G"><occurrence><param name="c" value="1"/></occurrence>)"
                                  R"(<occurrence/></group><param name="d" value="1"/>)"),
         "more than 6 parameters"},
        {"groups nested too deep", Wrap(nested3), "nested deeper than 2"},
    };
    for (const BadCase& c : cases) {
        PolicyDocument doc;
        std::string error;
        EXPECT_FALSE(ParsePolicyText(c.xml, &doc, &error, small)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(error.rfind("line ", 0), 0u) << c.what << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.what << ": " << error;
    }
}

TEST(PolicyFileTest, AHostileNameIsShownOnOneLine) {
    PolicyDocument doc;
    std::string error;
    ASSERT_FALSE(ParsePolicyText(Wrap("<param name=\"a&#10;b&#27;[31m\" value=\"1\" x=\"1\"/>"), &doc, &error));
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(error.find('\x1b'), std::string::npos) << error;
    EXPECT_NE(error.find("a\\x0ab\\x1b[31m"), std::string::npos) << error;
}

TEST(PolicyFileTest, DemoPolicyIsTheDocumentedRouteModePolicy) {
    PolicyDocument doc;
    std::string error;
    ASSERT_TRUE(ParsePolicyText(DemoPolicyText(), &doc, &error)) << error;
    const std::string d = Describe(doc.policyParams);
    for (const char* expected : {"param:Type=0", "param:TrancertAddr=192.0.2.1", "param:Route=198.51.100.0/24",
                                 "param:Proxy=127.0.0.1", "param:checkcyc=1", "param:block=0", "param:rank=1",
                                 "group:PolicyCommParam{[param:PolicyParamVesion=1 param:Account=demo.user"}) {
        EXPECT_NE(d.find(expected), std::string::npos) << expected << " in " << d;
    }
    EXPECT_TRUE(doc.commParams.empty());
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/owhost-unit-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~TempDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    std::string Write(const std::string& name, const std::string& text) const {
        const std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(PolicyFileTest, LoadingAFileNamesItAndCapsItsSize) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    PolicyLimits limits;
    limits.maxFileBytes = 64;
    const std::string fits = dir.Write("fits.xml", Wrap(R"(<param name="a" value="1"/>)"));
    const std::string big = dir.Write("big.xml", Wrap(std::string(80, ' ')));
    const std::string bad = dir.Write("bad.xml", "<policy>");
    // Opening a FIFO for reading would block until a writer comes.
    const std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        bool ok;
        const char* message;
    } cases[] = {
        {fits, true, ""},
        {big, false, "is larger than 64 bytes"},
        {bad, false, "bad.xml: line 1: malformed XML"},
        {dir.path() + "/missing.xml", false, "cannot open"},
        {dir.path(), false, "is not a regular file"},
        {fifo, false, "is not a regular file"},
    };
    for (const Case& c : cases) {
        PolicyDocument doc;
        std::string error;
        EXPECT_EQ(LoadPolicyFile(c.path, &doc, &error, limits), c.ok) << c.path << ": " << error;
        if (!c.ok) {
            EXPECT_NE(error.find(c.message), std::string::npos) << error;
            EXPECT_EQ(error.rfind("policy file", 0), 0u) << error;
        }
    }
}

TEST(ParseUint32Test, StrictDecimal) {
    const struct {
        const char* text;
        bool ok;
        uint32_t value;
    } cases[] = {
        {"0", true, 0},          {"1", true, 1},       {"4294967295", true, 4294967295u},
        {"4294967296", false, 0}, {"", false, 0},       {"-1", false, 0},
        {"+1", false, 0},        {" 1", false, 0},     {"1 ", false, 0},
        {"0x10", false, 0},      {"1e3", false, 0},    {"00000000001", false, 0},
    };
    for (const auto& c : cases) {
        uint32_t v = 77;
        EXPECT_EQ(ParseUint32(c.text, &v), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(LangTableTest, ReadsTextsByModuleAndKey) {
    const std::string text =
        "\xEF\xBB\xBF; comment\r\n"
        "# another comment\n"
        "[OutlinkWatch]\r\n"
        "rsTitle = Illegal outbound connection\r\n"
        "rsSuccess = \" can be reached.\"\n"
        "rsQuote = \"\n"
        "rsEmpty =\n"
        "rsTwice = first\n"
        "RSTWICE = second\n"
        "rsEquals = a=b\n"
        "  [ Other ]  \n"
        "rsTitle = other module\n";
    LangTable t;
    std::string error;
    ASSERT_TRUE(t.Parse(text, &error)) << error;
    const struct {
        const char* module;
        const char* key;
        bool found;
        const char* text;
    } cases[] = {
        {"OutlinkWatch", "rsTitle", true, "Illegal outbound connection"},
        {"outlinkwatch", "RSTITLE", true, "Illegal outbound connection"},
        {"OutlinkWatch", "rsSuccess", true, " can be reached."},
        {"OutlinkWatch", "rsQuote", true, "\""},
        {"OutlinkWatch", "rsEmpty", true, ""},
        {"OutlinkWatch", "rsTwice", true, "first"},
        {"OutlinkWatch", "rsEquals", true, "a=b"},
        {"Other", "rsTitle", true, "other module"},
        {"OutlinkWatch", "missing", false, ""},
        {"Missing", "rsTitle", false, ""},
        {"OutlinkWatch\nrsTitle", "", false, ""},
    };
    for (const auto& c : cases) {
        std::string out = "unchanged";
        EXPECT_EQ(t.Find(c.module, c.key, &out), c.found) << c.module << "/" << c.key;
        if (c.found) {
            EXPECT_EQ(out, c.text) << c.module << "/" << c.key;
        }
    }
}

TEST(LangTableTest, RefusesDamagedFiles) {
    LangLimits limits;
    limits.maxLineBytes = 32;
    limits.maxEntries = 2;
    const struct {
        const char* what;
        std::string text;
        const char* message;
    } cases[] = {
        {"key before section", "a = b\n[S]\n", "line 1: key before the first [section]"},
        {"no equals sign", "[S]\njust words\n", "line 2: expected key = text"},
        {"open section", "[S\n", "line 1: section header without ']'"},
        {"empty section", "[ ]\n", "empty section name"},
        {"empty key", "[S]\n = x\n", "line 2: empty key"},
        {"line too long", "[S]\nk = " + std::string(40, 'x') + "\n", "line 2: longer than 32 bytes"},
        {"too many texts", "[S]\na=1\nb=2\nc=3\n", "line 4: more than 2 texts"},
    };
    for (const auto& c : cases) {
        LangTable t;
        std::string error;
        EXPECT_FALSE(t.Parse(c.text, &error, limits)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(t.size(), 0u) << c.what;
    }
}

TEST(LangTableTest, ShippedEnglishFileHasEveryKeyThePolicyAsksFor) {
    LangTable t;
    std::string error;
    ASSERT_TRUE(t.Load(std::string(OW_HOST_SOURCE_DIR) + "/lang/en.ini", &error)) << error;
    for (const char* key : {"rsTitle", "rsSecInfo", "rsMFProxy", "rsRoute", "rsConNotity", "rsProxydisable",
                            "rsProxyNotify", "rsBlock", "rsRouteAdrr", "rsRouteInfo", "rsSuccess"}) {
        std::string text;
        EXPECT_TRUE(t.Find("OutlinkWatch", key, &text)) << key;
        EXPECT_FALSE(text.empty()) << key;
    }
    // Texts that are joined with addresses keep the blanks at their joints.
    const struct {
        const char* key;
        const char* text;
    } joints[] = {
        {"rsRouteAdrr", "The route to "},
        {"rsRouteInfo", " leaves the managed network: "},
        {"rsSuccess", " can be reached from this computer."},
        {"rsProxyNotify", "A browser proxy that is not allowed is in use: "},
    };
    for (const auto& j : joints) {
        std::string text;
        t.Find("OutlinkWatch", j.key, &text);
        EXPECT_EQ(text, j.text) << j.key;
    }
}

TEST(OneLineTest, EscapesControlCharactersAndCuts) {
    const struct {
        std::string in;
        size_t max;
        std::string out;
    } cases[] = {
        {"plain text", 100, "plain text"},
        {"a\nb\r\n", 100, "a\\x0ab\\x0d\\x0a"},
        {"\x1b[2J", 100, "\\x1b[2J"},
        {std::string("a\0b", 3), 100, "a\\x00b"},
        {"tab\there", 100, "tab\\x09here"},
        {"\x7f", 100, "\\x7f"},
        {"caf\xc3\xa9", 100, "caf\xc3\xa9"},
        {"abcdef", 3, "abc..."},
    };
    for (const auto& c : cases) EXPECT_EQ(OneLine(c.in, c.max), c.out) << c.in;
}

TEST(FormatLogLineTest, LevelModuleAndTextOnOneLine) {
    const struct {
        int32_t level;
        const char* module;
        const char* text;
        std::string line;
    } cases[] = {
        {2, "OutlinkWatch", "[CPolicy::Exec] [line=1]Create Exit Event",
         "[2] OutlinkWatch: [CPolicy::Exec] [line=1]Create Exit Event"},
        {4, "", "x", "[4] -: x"},
        {0, nullptr, "x", "[0] -: x"},
        {-1, "M", nullptr, "[-1] M: (null)"},
        {2, "M", "100%s%n%d", "[2] M: 100%s%n%d"},
        {2, "M", "one\nfake [2] line", "[2] M: one\\x0afake [2] line"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatLogLine(c.level, c.module, c.text), c.line);
}

// Every text field of the record under its JSON name; each gets a value of
// its own so that two fields swapped in the output cannot go unnoticed.
const struct {
    const char* name;
    std::string NotifyMsg::*field;
} kMsgTexts[] = {
    {"strTag", &NotifyMsg::strTag},           {"strTitle", &NotifyMsg::strTitle},
    {"strPolicyInfo", &NotifyMsg::strPolicyInfo}, {"strReserved1", &NotifyMsg::strReserved1},
    {"strRank", &NotifyMsg::strRank},         {"strReserved2", &NotifyMsg::strReserved2},
    {"strReserved3", &NotifyMsg::strReserved3}, {"strReserved4", &NotifyMsg::strReserved4},
    {"strEventKey", &NotifyMsg::strEventKey}, {"strReserved5", &NotifyMsg::strReserved5},
    {"strReserved6", &NotifyMsg::strReserved6}, {"strReserved7", &NotifyMsg::strReserved7},
    {"strReserved8", &NotifyMsg::strReserved8}, {"strReserved9", &NotifyMsg::strReserved9},
};
const struct {
    const char* name;
    std::string CommonParams::*field;
} kCommonTexts[] = {
    {"strPolicyParamVersion", &CommonParams::strPolicyParamVersion}, {"strAccount", &CommonParams::strAccount},
    {"strAccountId", &CommonParams::strAccountId},   {"strOrgId", &CommonParams::strOrgId},
    {"strOrgName", &CommonParams::strOrgName},       {"strUserName", &CommonParams::strUserName},
    {"strUserId", &CommonParams::strUserId},         {"strAuthType", &CommonParams::strAuthType},
    {"strBsid", &CommonParams::strBsid},             {"strLocationId", &CommonParams::strLocationId},
    {"strLocationName", &CommonParams::strLocationName}, {"strCommonReserved1", &CommonParams::strReserved1},
    {"strCommonReserved2", &CommonParams::strReserved2},
};

NotifyMsg SampleMessage() {
    NotifyMsg m;
    for (const auto& t : kMsgTexts) m.*t.field = std::string("value of ") + t.name;
    for (const auto& t : kCommonTexts) m.common.*t.field = std::string("value of ") + t.name;
    m.nReserved1 = 5;
    m.nMsgCode = 101;
    m.nReserved2 = -7;
    m.common.nLocationOnlineState = 1;
    for (const auto& [n, v] : {std::pair<const char*, const char*>{"Route", "192.0.2.1"}, {"Proxy", "a\nb"},
                               {"Route", "second"}}) {
        CNotifyInfo item;
        item.m_strName = n;
        item.m_strValue = v;
        m.lstInfo.push_back(item);
    }
    return m;
}

TEST(NotifyJsonLineTest, EveryFieldByNameAndItemsInOrder) {
    const std::string line = NotifyJsonLine("policy.win.outlink.watch", SampleMessage());
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const nlohmann::json j = nlohmann::json::parse(line);
    for (const auto& t : kMsgTexts) EXPECT_EQ(j.at(t.name), std::string("value of ") + t.name);
    for (const auto& t : kCommonTexts) EXPECT_EQ(j.at(t.name), std::string("value of ") + t.name);
    const std::pair<const char*, nlohmann::json> others[] = {
        {"policyType", "policy.win.outlink.watch"}, {"nReserved1", 5}, {"nMsgCode", 101}, {"nReserved2", -7},
        {"nLocationOnlineState", 1},
        {"lstInfo", nlohmann::json::parse(R"([{"name":"Route","value":"192.0.2.1"},)"
                                          R"({"name":"Proxy","value":"a\nb"},{"name":"Route","value":"second"}])")},
    };
    for (const auto& [name, value] : others) EXPECT_EQ(j.at(name), value) << name;
    EXPECT_EQ(j.size(), std::size(kMsgTexts) + std::size(kCommonTexts) + std::size(others));
}

TEST(NotifyJsonLineTest, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    NotifyMsg m;
    m.strTitle = "bad \xff\xfe end";
    CNotifyInfo item;
    item.m_strName = "n\xc3";
    m.lstInfo.push_back(item);
    std::string line;
    ASSERT_NO_THROW(line = NotifyJsonLine("t", m));
    const nlohmann::json j = nlohmann::json::parse(line);
    EXPECT_EQ(j.at("strTitle"), "bad \xEF\xBF\xBD\xEF\xBF\xBD end");
    EXPECT_EQ(j.at("lstInfo").at(0).at("name"), "n\xEF\xBF\xBD");
    EXPECT_EQ(j.at("nMsgCode"), 100);  // the record's own default
}

// A sink over a temporary file, read back after the calls.
class CapturedSink {
public:
    CapturedSink() : file_(std::tmpfile()), sink_(file_) {}
    ~CapturedSink() { std::fclose(file_); }
    LineSink* sink() { return &sink_; }
    std::vector<std::string> Lines() {
        std::fflush(file_);
        std::rewind(file_);
        std::vector<std::string> lines;
        std::string cur;
        for (int c; (c = std::fgetc(file_)) != EOF;) {
            if (c == '\n') {
                lines.push_back(cur);
                cur.clear();
            } else {
                cur += static_cast<char>(c);
            }
        }
        if (!cur.empty()) lines.push_back(cur + "<no line end>");
        return lines;
    }

private:
    FILE* file_;
    LineSink sink_;
};

TEST(HostAgentTest, ComponentsAndServerAddress) {
    HostCommunication comm("192.0.2.53");
    HostAgent with(AgentOutputs{}, nullptr, &comm);
    HostAgent without(AgentOutputs{}, nullptr, nullptr);
    const struct {
        IAgent* agent;
        const char* name;
        bool found;
    } cases[] = {
        {&with, "Communication", true}, {&with, "communication", false}, {&with, "CommunicationX", false},
        {&with, "Comm", false},         {&with, "", false},              {&with, nullptr, false},
        {&without, "Communication", false},
    };
    for (const auto& c : cases) {
        IUnknown* got = c.agent->GetComponent(c.name);
        EXPECT_EQ(got != nullptr, c.found) << (c.name ? c.name : "(null)");
    }
    auto* server = static_cast<ICommunication*>(with.GetComponent("Communication"));
    std::string address = "old", other = "kept";
    EXPECT_EQ(server->GetServerAddress(&address, &other), 0);
    EXPECT_EQ(address, "192.0.2.53");
    EXPECT_EQ(other, "kept");
    EXPECT_EQ(server->GetServerAddress(nullptr, &other), -1);
}

TEST(HostAgentTest, LanguageTextsInfoAndTime) {
    LangTable lang;
    std::string error;
    ASSERT_TRUE(lang.Parse("[OutlinkWatch]\nrsBlock = The network has been blocked.\n", &error)) << error;
    HostAgent agent(AgentOutputs{}, &lang, nullptr);
    IAgent* a = &agent;
    const struct {
        const char* module;
        const char* key;
        int result;
        const char* text;
    } cases[] = {
        {"OutlinkWatch", "rsBlock", 0, "The network has been blocked."},
        {"OutlinkWatch", "rsNothing", -1, ""},
        {"Other", "rsBlock", -1, ""},
    };
    for (const auto& c : cases) {
        std::string text = "stale";
        EXPECT_EQ(a->GetLangString(c.module, c.key, &text), c.result) << c.key;
        EXPECT_EQ(text, c.text) << c.key;
    }
    EXPECT_EQ(a->GetLangString("OutlinkWatch", "rsBlock", nullptr), -1);

    std::string info;
    EXPECT_EQ(a->GetPolicyInfo("policy.win.outlink.watch", &info), 0);
    EXPECT_EQ(info, HostAgent::kPolicyInfo);
    EXPECT_EQ(a->GetPolicyInfo("policy.win.outlink.watch", nullptr), -1);

    const int32_t before = static_cast<int32_t>(std::time(nullptr));
    const int32_t now = a->GetAgentTime();
    EXPECT_GE(now, before);
    EXPECT_LE(now, before + 5);
}

TEST(HostAgentTest, LogNotifyAndPromptGoToTheirOutputs) {
    CapturedSink log, events, prompts;
    HostAgent agent(AgentOutputs{log.sink(), events.sink(), prompts.sink()}, nullptr, nullptr);
    IAgent* a = &agent;
    a->WriteLog(2, "OutlinkWatch", "[CPolicy::done] [line=1]Done out");
    std::list<NotifyMsg> msgs{SampleMessage(), NotifyMsg()};
    EXPECT_EQ(a->SendNotify("policy.win.outlink.watch", &msgs), 0);
    EXPECT_EQ(a->SendNotify("policy.win.outlink.watch", nullptr), -1);
    EXPECT_EQ(a->ShowPrompt("Blocked\nnow", 1), 0);

    EXPECT_EQ(log.Lines(), std::vector<std::string>{"[2] OutlinkWatch: [CPolicy::done] [line=1]Done out"});
    const std::vector<std::string> ev = events.Lines();
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0], NotifyJsonLine("policy.win.outlink.watch", msgs.front()));
    EXPECT_EQ(nlohmann::json::parse(ev[1]).at("lstInfo"), nlohmann::json::array());
    EXPECT_EQ(prompts.Lines(), std::vector<std::string>{"PROMPT: Blocked\\x0anow"});
}

TEST(HostAgentTest, ConcurrentLogCallsGiveWholeLines) {
    constexpr int kThreads = 8;
    constexpr int kLines = 500;
    CapturedSink log;
    HostAgent agent(AgentOutputs{log.sink(), nullptr, nullptr}, nullptr, nullptr);
    // Long texts make a torn write likely if the lines were not serialised.
    const std::string filler(300, 'x');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                const std::string text = "t" + std::to_string(t) + " n" + std::to_string(i) + " " + filler;
                agent.WriteLog(t, "OutlinkWatch", text.c_str());
            }
        });
    }
    for (std::thread& th : threads) th.join();

    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines) {
        int t = -1, i = -1, level = -1;
        char rest[8] = {0};
        ASSERT_EQ(std::sscanf(line.c_str(), "[%d] OutlinkWatch: t%d n%d %7s", &level, &t, &i, rest), 4) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        EXPECT_EQ(level, t) << line;
        EXPECT_EQ(i, next[t]++) << "lines of one thread out of order: " << line;
        EXPECT_EQ(line, "[" + std::to_string(t) + "] OutlinkWatch: t" + std::to_string(t) + " n" + std::to_string(i) +
                            " " + filler)
            << "torn line";
    }
}

}  // namespace
}  // namespace owhost
