// Building the policy's settings from its parameter texts, and the retry of
// names that did not resolve, on the fake resolver and adapters.
#include <gtest/gtest.h>

#include <cstdlib>

#include "config/settings_builder.h"
#include "fakes/params.h"
#include "fakes/policy_rig.h"
#include "fakes/recording_sink.h"

namespace outlinkwatch {
namespace {

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return (uint32_t{a} << 24) | (uint32_t{b} << 16) | (uint32_t{c} << 8) | d;
}

void UseTestNames(FakeOs& fake) {
    fake.adapters = {{"lo", {"127.0.0.1"}}, {"eth0", {"192.0.2.10", "192.0.2.10"}}, {"wlan0", {"0.0.0.0"}}};
    fake.resolutions["proxy.test"] = {"192.0.2.10", "198.51.100.7"};
    fake.resolutions["multi.test"] = {"203.0.113.1", "203.0.113.2", "203.0.113.3"};
}

// The settings built on the fake resolver and adapters, each reading from
// the value the last one left.
class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() { UseTestNames(fake); }
    // texts: type, checkcyc, tracert, route, proxy, connect, image.
    bool Read(const PolicyParamTexts& plan, const std::string& block = "", const std::string& rank = "") {
        const LocalAddressesFn local = [this] { std::list<uint32_t> l{1}; return GetLocalIPList(&fake, l), l; };  // filled afresh
        SettingsRead read = BuildPolicySettings({plan, block, rank}, s, resolve, local, &sink);
        s = std::move(read.settings);
        cycle = read.checkCycle;
        return read.usable;
    }
    int Retry(const std::string& group) { return RetryUnresolved(s, group, resolve, StopToken(exit, pending)); }
    FakeOs fake;
    RecordingSink sink;
    ResolveFn resolve = [this](const std::string& h, std::vector<uint32_t>* a) {
        return fake.Network()->ResolveHostIPv4(h, a);
    };
    PolicySettings s;
    int32_t cycle = -1;
    std::atomic<int32_t> exit{0}, pending{0};
};

// Through the policy object: the parameter names (in any case), the log
// lines at the agent, the cycle for the monitor.
TEST(PolicyParamsTest, RouteModeThroughThePolicy) {
    PolicyRig rig;
    UseTestNames(rig.fake);
    rig.policy->SetPolicyParams({Param("type", "0"), Param("TrancertAddr", "multi.test;;nowhere.test"),
                                 Param("Route", "198.51.100.7/31;gone.test;10.0.0.1/23"), Param("rank", "high"),
                                 Param("Proxy", "proxy.test; 127.0.0.1"), Param("checkcyc", "7"), Param("block", "2"),
                                 Param("ImageIP", "192.0.2.9"), Param("ConnectAddr", "c.test:1")});
    ASSERT_EQ(rig.policy->GetPolicyParams(), 1);
    const PolicySettings& s = rig.policy->m_settings;
    EXPECT_EQ(s.m_strBlock + s.m_strRank + std::to_string(s.m_nCheckType), "2high0");
    EXPECT_EQ(rig.policy->m_monitor.CheckCycle(), 7);
    EXPECT_EQ(s.m_lstTracertIP, (std::list<uint32_t>{Ip(203, 0, 113, 1), Ip(203, 0, 113, 2), Ip(203, 0, 113, 3)}));
    EXPECT_EQ(s.m_lstUnresolvedTracert, std::list<std::string>{"nowhere.test"});
    EXPECT_EQ(s.m_lstValidRouteIP, (std::list<uint32_t>{Ip(198, 51, 100, 6), Ip(198, 51, 100, 7)}));
    EXPECT_EQ(s.m_lstUnresolvedRoute, std::list<std::string>{"gone.test"});
    EXPECT_EQ(rig.agent.CountLogs("[CPolicy::ParseIPSec] [line="), 1) << "uMask is invalid.";
    // Proxies first, then each local address not yet listed.
    EXPECT_EQ(s.m_lstValidProxyIP, (std::list<uint32_t>{Ip(192, 0, 2, 10), Ip(198, 51, 100, 7), Ip(127, 0, 0, 1), 0}));
    EXPECT_EQ(s.m_lstValidProxyStr, (std::list<std::string>{"192.0.2.10", "198.51.100.7", "127.0.0.1"}));
    EXPECT_TRUE(s.m_lstConnectAddr.empty() && s.m_lstImageIP.empty()) << "route mode reads no image addresses";
    for (const char* line : {"]ValidProxy proxy.test; 127.0.0.1", "]ImageIP 192.0.2.9", "]ConnectAddr c.test:1"})
        EXPECT_EQ(rig.agent.CountLogs(line), 1) << line;
    // The named members reach the same parsers, on the policy's own resolver.
    std::list<std::string> expanded, texts, unresolved;
    std::list<uint32_t> ips;
    std::list<ConnectAddrRecord> records;
    rig.policy->ParseIPSec({"10.0.0.1/31"}, expanded);
    rig.policy->ResolveAddrList({"multi.test", "nowhere.test"}, 0, ips, texts, records, unresolved);
    EXPECT_EQ(expanded, (std::list<std::string>{"10.0.0.0", "10.0.0.1"}));
    EXPECT_EQ(texts, (std::list<std::string>{"203.0.113.1", "203.0.113.2", "203.0.113.3"}));
    EXPECT_EQ(unresolved, std::list<std::string>{"nowhere.test"});
    std::string server;  // the agent's own server, from its "Communication" component
    EXPECT_FALSE(rig.policy->AgentServerAddress(&server));
    rig.agent.SetCommunicationAddress("203.0.113.4");
    EXPECT_TRUE(rig.policy->AgentServerAddress(&server) && server == "203.0.113.4");
    // A check first retries the names that did not resolve.
    rig.fake.resolutions["nowhere.test"] = {"203.0.113.4"};
    rig.policy->RunConnCheck();
    EXPECT_EQ(s.m_lstTracertIP.back(), Ip(203, 0, 113, 4));
    EXPECT_TRUE(s.m_lstUnresolvedTracert.empty());
}

TEST_F(SettingsTest, ConnectionMode) {
    ASSERT_TRUE(Read({"2", " 3", "", "", "", "multi.test:80;noport;[::1]:x:443; gone.test :8080",
                      " 192.0.2.50 ;;192.0.2.51"}));
    EXPECT_EQ(s.m_nCheckType * 10 + cycle, 23);
    ASSERT_EQ(s.m_lstConnectAddr.size(), 3u);
    const ConnectAddrRecord& first = s.m_lstConnectAddr.front();
    EXPECT_EQ(first.strAddr + "|" + first.strPort + "|" + first.strHost + "|" + first.strSpare, "203.0.113.1|80|multi.test|");
    EXPECT_EQ(s.m_lstUnresolvedConnect, (std::list<std::string>{"[::1]:x:443", " gone.test :8080"}));
    EXPECT_EQ(s.m_lstImageIP, (std::list<std::string>{" 192.0.2.50 ", "192.0.2.51"}));
    EXPECT_EQ(s.m_lstValidProxyIP, (std::list<uint32_t>{Ip(127, 0, 0, 1), Ip(192, 0, 2, 10), Ip(192, 0, 2, 10), 0}))
        << "connection mode keeps repeats";
}

// A reading over settings that hold something in every list: which lists it
// keeps (K), leaves empty (-) or fills anew (their size). Lists in the order
// route, proxy texts, proxy addresses, image, tracert, connect, then the
// unresolved proxy, tracert, connect and route names.
TEST_F(SettingsTest, ReadingAgainKeepsOnlyWhatAnEmptyInputLeaves) {
    const struct { PolicyParamTexts texts; bool usable; const char* want; } rows[] = {
        {{"", "", "", "198.51.100.0/24", "", "", "192.0.2.1"}, false, "K - - K - K - - - -"},
        {{"0", "", "192.0.2.1", "", "", "", ""}, true, "K - 3 K 1 K - - - -"},
        {{"0", "", "", "gone.test", "proxy.test", "", "192.0.2.1"}, true, "- 2 4 K - K - - - 1"},
        {{"0", "", "x.test", "198.51.100.0/23", "", "c:1", ""}, true, "K - 3 K - K - 1 - -"},
        {{"-1", "", "", "", "p.test", "", "192.0.2.5"}, true, "K - 4 1 - K - - - -"},
        {{"1", "", "", "", "", "multi.test:80;gone.test:1", ""}, true, "K - 4 - - 3 - - 1 -"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.want);
        s.m_lstValidRouteIP = {1};
        s.m_lstValidProxyStr = s.m_lstImageIP = s.m_lstUnresolvedProxy = s.m_lstUnresolvedTracert =
            s.m_lstUnresolvedConnect = s.m_lstUnresolvedRoute = {"stale"};
        s.m_lstValidProxyIP = s.m_lstTracertIP = {2};
        s.m_lstConnectAddr = {{"stale", "1", "stale", ""}};
        const PolicySettings before = s;
        EXPECT_EQ(Read(row.texts, "b", "r"), row.usable);
        EXPECT_EQ(s.m_strBlock + s.m_strRank + std::to_string(s.m_nCheckType),
                  "br" + std::to_string(std::atoi(row.texts.type.c_str())));
        std::string got;
        auto put = [&got](bool kept, size_t size) { got += (kept ? "K" : size == 0 ? "-" : std::to_string(size)) + " "; };
        put(s.m_lstValidRouteIP == before.m_lstValidRouteIP, s.m_lstValidRouteIP.size());
        put(s.m_lstValidProxyStr == before.m_lstValidProxyStr, s.m_lstValidProxyStr.size());
        put(s.m_lstValidProxyIP == before.m_lstValidProxyIP, s.m_lstValidProxyIP.size());
        put(s.m_lstImageIP == before.m_lstImageIP, s.m_lstImageIP.size());
        put(s.m_lstTracertIP == before.m_lstTracertIP, s.m_lstTracertIP.size());
        put(s.m_lstConnectAddr.size() == 1 && s.m_lstConnectAddr.front().strAddr == "stale", s.m_lstConnectAddr.size());
        for (const auto* names : {&s.m_lstUnresolvedProxy, &s.m_lstUnresolvedTracert, &s.m_lstUnresolvedConnect,
                                  &s.m_lstUnresolvedRoute}) {
            put(*names == std::list<std::string>{"stale"}, names->size());
        }
        got.pop_back();
        EXPECT_EQ(got, row.want);
    }
    ASSERT_EQ(sink.lines.size(), 6u * 5 + 2) << "five texts each, the refusal, the range refused";
    EXPECT_EQ(sink.lines[5] + sink.lines[21], "4:Invalid parameters Exit!2:uMask is invalid.");
    EXPECT_EQ(sink.functions[20] + sink.functions[21], "CPolicy::GetPolicyParamsCPolicy::ParseIPSec");
}

TEST_F(SettingsTest, NamesThatResolveLaterAreRetried) {
    ASSERT_TRUE(Read({"0", "", "late.test", "later.test", "late.test", "", ""}));
    EXPECT_TRUE(s.m_lstTracertIP.empty());
    EXPECT_EQ(Retry("Conn"), 1) << "something to retry, though it fails again";
    EXPECT_EQ(s.m_lstUnresolvedTracert, std::list<std::string>{"late.test"});

    fake.resolutions["late.test"] = {"192.0.2.77"};
    EXPECT_EQ(Retry("conn"), 0) << "group names compare exactly";
    EXPECT_EQ(Retry("Conn"), 1);
    EXPECT_EQ(s.m_lstTracertIP, std::list<uint32_t>{Ip(192, 0, 2, 77)});
    EXPECT_TRUE(s.m_lstUnresolvedTracert.empty());
    EXPECT_EQ(s.m_lstUnresolvedRoute, std::list<std::string>{"later.test"});
    EXPECT_EQ(Retry("Proxy"), 1);
    EXPECT_EQ(s.m_lstValidProxyStr, std::list<std::string>{"192.0.2.77"});
    EXPECT_EQ(s.m_lstValidProxyIP, (std::list<uint32_t>{Ip(127, 0, 0, 1), Ip(192, 0, 2, 10), 0, Ip(192, 0, 2, 77)}));
    EXPECT_TRUE(s.m_lstUnresolvedProxy.empty());
    EXPECT_EQ(Retry("Proxy"), 0);
    fake.resolutions["later.test"] = {"192.0.2.78"};
    EXPECT_EQ(Retry("Conn"), 1) << "the route names alone";
    EXPECT_EQ(s.m_lstValidRouteIP, std::list<uint32_t>{Ip(192, 0, 2, 78)});
    EXPECT_EQ(s.m_lstTracertIP, std::list<uint32_t>{Ip(192, 0, 2, 77)});
    EXPECT_EQ(Retry("Conn"), 0);

    // A stop while the first name is asked: the rest are not, and all stay
    // unresolved for the next try.
    ASSERT_TRUE(Read({"0", "", "a.test;b.test;c.test", "d.test", "e.test;f.test", "", ""}));
    std::vector<std::string> asked;
    fake.resolveHook = [&](const std::string& host) { asked.push_back(host), exit.store(1); };
    EXPECT_EQ(Retry("Conn") + Retry("Proxy"), 2);
    exit.store(0);
    fake.resolveHook = nullptr;
    EXPECT_EQ(asked, std::vector<std::string>{"a.test"});
    EXPECT_EQ(s.m_lstUnresolvedTracert, (std::list<std::string>{"a.test", "b.test", "c.test"}));
    EXPECT_EQ(s.m_lstUnresolvedRoute, std::list<std::string>{"d.test"});
    EXPECT_EQ(s.m_lstUnresolvedProxy, (std::list<std::string>{"e.test", "f.test"}));

    // Connection entries are retried for Type 1 only.
    for (const char* type : {"1", "2"}) {
        ASSERT_TRUE(Read({type, "", "", "", "", "conn.test:443", ""}));
        fake.resolutions["conn.test"] = {"203.0.113.9"};
        const bool retried = type[0] == '1';
        EXPECT_EQ(Retry("Conn"), retried ? 1 : 0) << type;
        EXPECT_EQ(s.m_lstConnectAddr.size(), retried ? 1u : 0u) << type;
        EXPECT_EQ(s.m_lstUnresolvedConnect.size(), retried ? 0u : 1u) << type;
        fake.resolutions["conn.test"] = {};
    }
}

// Hostile parameter texts: large, many, not text. They must be taken or
// refused without a crash; the time they take is the benchmark's concern.
TEST_F(SettingsTest, HostileParameterTexts) {
    std::string many;
    for (int i = 0; i < 10000; ++i) many += "n" + std::to_string(i) + ".invalid;";
    std::string ranges;
    for (int i = 0; i < 200; ++i) ranges += "10.1." + std::to_string(i) + ".0/24;";
    const std::string huge(100 * 1024, 'h');
    const std::string binary("\x01\xff\x00\x80;:\x00/\xfe", 9);
    ASSERT_TRUE(Read({"", "", many, ranges + huge + ";" + binary, binary, "", ""}));
    EXPECT_EQ(s.m_lstUnresolvedTracert.size(), 10000u);
    EXPECT_EQ(s.m_lstValidRouteIP.size(), 200u * 256u);
    ASSERT_TRUE(Read({"1", "", "", "", "", huge + ":" + huge + ";" + binary, ""}));
    EXPECT_EQ(s.m_lstUnresolvedConnect.size(), 2u);
}

}  // namespace
}  // namespace outlinkwatch
