// Reading the policy's parameters into its typed fields, and the retry of
// names that did not resolve, on the fake resolver and adapters.
#include <gtest/gtest.h>

#include "config/params_plan.h"
#include "fakes/params.h"
#include "fakes/policy_rig.h"

namespace outlinkwatch {
namespace {

// "type/cycle/usable" and each mode's lists as "tracert|routes|proxies|connect|image|",
// each piece followed by ','.
TEST(ParamsPlanTest, Table) {
    const struct { PolicyParamTexts texts; const char* want; } rows[] = {
        {{"", "", "192.0.2.1", "", "", "", ""}, "0/0/1 192.0.2.1,|||||"},
        {{"0", "x5", "multi.test;;nowhere.test", "10.0.0.1/23;gone.test", " p; q", "", ""},
         "0/0/1 multi.test,nowhere.test,|10.0.0.1/23,gone.test,| p, q,|||"},
        {{"", "", "", "198.51.100.0/24", "", "", "192.0.2.1"}, "0/0/0 |||||"},
        {{"", "", "", "", "proxy.test", "", ""}, "0/0/1 ||proxy.test,|||"},
        {{"2", " 3", "t", "r", "p", "a:80;noport", " 192.0.2.50 ;;192.0.2.51"},
         "2/3/1 |||a:80,noport,| 192.0.2.50 ,192.0.2.51,|"},
        {{"-1", "-4", "", "", "", "c:1", ""}, "-1/-4/1 |||c:1,||"},
    };
    for (const auto& row : rows) {
        const PolicyParamsPlan plan = PlanPolicyParams(row.texts);
        std::string got = std::to_string(plan.checkType) + "/" + std::to_string(plan.checkCycle) + "/";
        got += std::to_string(plan.usable) + " ";
        for (const auto* list : {&plan.tracert, &plan.routes, &plan.proxies, &plan.connect, &plan.imageIPs}) {
            for (const std::string& piece : *list) got += piece + ",";
            got += "|";
        }
        EXPECT_EQ(got, row.want);
    }
}

class PolicyParamsTest : public ::testing::Test, protected PolicyRig {
protected:
    void SetUp() override {
        fake.adapters = {{"lo", {"127.0.0.1"}}, {"eth0", {"192.0.2.10", "192.0.2.10"}}, {"wlan0", {"0.0.0.0"}}};
        fake.resolutions["proxy.test"] = {"192.0.2.10", "198.51.100.7"};
        fake.resolutions["multi.test"] = {"203.0.113.1", "203.0.113.2", "203.0.113.3"};
    }
    int Read(std::list<PolicyParam> params) {
        policy->SetPolicyParams(params);
        return policy->GetPolicyParams();
    }
};

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return (uint32_t{a} << 24) | (uint32_t{b} << 16) | (uint32_t{c} << 8) | d;
}

TEST_F(PolicyParamsTest, RouteMode) {
    ASSERT_EQ(Read({Param("type", "0"), Param("TrancertAddr", "multi.test;;nowhere.test"),
                    Param("Route", "198.51.100.7/31;gone.test;10.0.0.1/23"), Param("Proxy", "proxy.test; 127.0.0.1"),
                    Param("checkcyc", "x5"), Param("block", "2"), Param("rank", "high")}),
              1);
    EXPECT_EQ(policy->m_settings.m_strBlock + policy->m_settings.m_strRank, "2high");
    EXPECT_EQ(policy->m_settings.m_lstTracertIP, (std::list<uint32_t>{Ip(203, 0, 113, 1), Ip(203, 0, 113, 2), Ip(203, 0, 113, 3)}));
    EXPECT_EQ(policy->m_settings.m_lstUnresolvedTracert, std::list<std::string>{"nowhere.test"});
    EXPECT_EQ(policy->m_settings.m_lstValidRouteIP, (std::list<uint32_t>{Ip(198, 51, 100, 6), Ip(198, 51, 100, 7)}));
    EXPECT_EQ(policy->m_settings.m_lstUnresolvedRoute, std::list<std::string>{"gone.test"});
    EXPECT_EQ(agent.CountLogs("uMask is invalid."), 1);
    // Proxies first, then each local address not yet listed.
    EXPECT_EQ(policy->m_settings.m_lstValidProxyIP,
              (std::list<uint32_t>{Ip(192, 0, 2, 10), Ip(198, 51, 100, 7), Ip(127, 0, 0, 1), 0}));
    EXPECT_EQ(policy->m_settings.m_lstValidProxyStr, (std::list<std::string>{"192.0.2.10", "198.51.100.7", "127.0.0.1"}));
    EXPECT_TRUE(policy->m_settings.m_lstConnectAddr.empty());

    for (const char* line : {"ValidProxy proxy.test; 127.0.0.1", "ValidRoute 198.51.100.7/31;gone.test;10.0.0.1/23"})
        EXPECT_EQ(agent.CountLogs(line), 1) << line;
}

TEST_F(PolicyParamsTest, ConnectionMode) {
    ASSERT_EQ(Read({Param("Type", "2"), Param("ConnectAddr", "multi.test:80;noport;[::1]:x:443; gone.test :8080"),
                    Param("ImageIP", " 192.0.2.50 ;;192.0.2.51"), Param("checkcyc", " 3")}),
              1);
    EXPECT_EQ(policy->m_settings.m_nCheckType * 10 + policy->m_monitor.CheckCycle(), 23);
    ASSERT_EQ(policy->m_settings.m_lstConnectAddr.size(), 3u);
    const ConnectAddrRecord& first = policy->m_settings.m_lstConnectAddr.front();
    EXPECT_EQ(first.strAddr + "|" + first.strPort + "|" + first.strHost, "203.0.113.1|80|multi.test");
    EXPECT_EQ(policy->m_settings.m_lstUnresolvedConnect, (std::list<std::string>{"[::1]:x:443", " gone.test :8080"}));
    EXPECT_EQ(policy->m_settings.m_lstImageIP.size(), 2u);
    EXPECT_EQ(policy->m_settings.m_lstValidProxyIP, (std::list<uint32_t>{Ip(127, 0, 0, 1), Ip(192, 0, 2, 10), Ip(192, 0, 2, 10), 0}))
        << "connection mode keeps repeats";
}

TEST_F(PolicyParamsTest, UnusableParametersAreRefused) {
    EXPECT_EQ(Read({Param("Route", "198.51.100.0/24"), Param("ImageIP", "192.0.2.1"), Param("rank", "r")}), 0);
    EXPECT_EQ(agent.CountLogs("Invalid parameters Exit!"), 1);
    EXPECT_EQ(agent.Logs().back().level, 4);
    EXPECT_EQ(policy->m_settings.m_strRank, "r") << "fields read before the test keep their values";
}

TEST_F(PolicyParamsTest, NamesThatResolveLaterAreRetried) {
    ASSERT_EQ(Read({Param("Type", "0"), Param("TrancertAddr", "late.test"), Param("Route", "later.test"),
                    Param("Proxy", "late.test")}),
              1);
    EXPECT_TRUE(policy->m_settings.m_lstTracertIP.empty());
    EXPECT_EQ(policy->RetryUnresolved("Conn"), 1) << "something to retry, though it fails again";
    EXPECT_EQ(policy->m_settings.m_lstUnresolvedTracert, std::list<std::string>{"late.test"});

    fake.resolutions["late.test"] = {"192.0.2.77"};
    EXPECT_EQ(policy->RetryUnresolved("conn"), 0) << "group names compare exactly";
    EXPECT_EQ(policy->RetryUnresolved("Conn"), 1);
    EXPECT_EQ(policy->m_settings.m_lstTracertIP, std::list<uint32_t>{Ip(192, 0, 2, 77)});
    EXPECT_TRUE(policy->m_settings.m_lstUnresolvedTracert.empty());
    EXPECT_EQ(policy->m_settings.m_lstUnresolvedRoute, std::list<std::string>{"later.test"});
    EXPECT_EQ(policy->RetryUnresolved("Proxy"), 1);
    EXPECT_EQ(policy->m_settings.m_lstValidProxyStr.back(), "192.0.2.77");
    EXPECT_TRUE(policy->m_settings.m_lstUnresolvedProxy.empty());
    EXPECT_EQ(policy->RetryUnresolved("Proxy"), 0);

    // A stop while the first name is asked: the rest are not, and all stay
    // unresolved for the next try.
    ASSERT_EQ(Read({Param("Type", "0"), Param("TrancertAddr", "a.test;b.test;c.test"), Param("Route", "d.test"),
                    Param("Proxy", "e.test;f.test")}),
              1);
    std::vector<std::string> asked;
    fake.resolveHook = [&asked](const std::string& host) { asked.push_back(host), g_bExit.store(1); };
    EXPECT_EQ(policy->RetryUnresolved("Conn") + policy->RetryUnresolved("Proxy"), 2);
    g_bExit.store(0);
    fake.resolveHook = nullptr;
    EXPECT_EQ(asked, std::vector<std::string>{"a.test"});
    EXPECT_EQ(policy->m_settings.m_lstUnresolvedTracert, (std::list<std::string>{"a.test", "b.test", "c.test"}));
    EXPECT_EQ(policy->m_settings.m_lstUnresolvedRoute, std::list<std::string>{"d.test"});
    EXPECT_EQ(policy->m_settings.m_lstUnresolvedProxy, (std::list<std::string>{"e.test", "f.test"}));

    // Connection entries are retried for Type 1 only.
    for (const char* type : {"1", "2"}) {
        ASSERT_EQ(Read({Param("Type", type), Param("ConnectAddr", "conn.test:443")}), 1);
        fake.resolutions["conn.test"] = {"203.0.113.9"};
        const bool retried = type[0] == '1';
        EXPECT_EQ(policy->RetryUnresolved("Conn"), retried ? 1 : 0) << type;
        EXPECT_EQ(policy->m_settings.m_lstConnectAddr.size(), retried ? 1u : 0u) << type;
        fake.resolutions["conn.test"] = {};
    }
}

// Hostile parameter texts: large, many, not text. They must be taken or
// refused without a crash; the time they take is the benchmark's concern.
TEST_F(PolicyParamsTest, HostileParameterTexts) {
    std::string many;
    for (int i = 0; i < 10000; ++i) many += "n" + std::to_string(i) + ".invalid;";
    std::string ranges;
    for (int i = 0; i < 200; ++i) ranges += "10.1." + std::to_string(i) + ".0/24;";
    const std::string huge(100 * 1024, 'h');
    const std::string binary("\x01\xff\x00\x80;:\x00/\xfe", 9);
    ASSERT_EQ(Read({Param("TrancertAddr", many), Param("Route", ranges + huge + ";" + binary), Param("Proxy", binary)}), 1);
    EXPECT_EQ(policy->m_settings.m_lstUnresolvedTracert.size(), 10000u);
    EXPECT_EQ(policy->m_settings.m_lstValidRouteIP.size(), 200u * 256u);
    for (const LogLine& l : agent.Logs()) EXPECT_LE(l.text.size(), 1024u + 64u);
    ASSERT_EQ(Read({Param("Type", "1"), Param("ConnectAddr", huge + ":" + huge + ";" + binary)}), 1);
    EXPECT_EQ(policy->m_settings.m_lstUnresolvedConnect.size(), 2u);
}

}  // namespace
}  // namespace outlinkwatch
