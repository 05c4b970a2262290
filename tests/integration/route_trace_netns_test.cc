// The route report over the real Linux backend and the real tracert
// stand-in: a terminal reaches an outside network through a router, all in
// network namespaces the test makes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "fakes/recording_agent.h"
#include "fakes/test_netns.h"
#include "plugin/policy.h"

namespace outlinkwatch {
namespace {

// terminal 192.0.2.2 --- 192.0.2.1 router 198.51.100.1 --- 198.51.100.2 outside
struct ThreeNamespaces {
    ThreeNamespaces() : terminal("term"), router("rtr"), outside("out") {}
    bool Build() {
        return terminal.ok() && router.ok() && outside.ok() &&
               terminal.Ip("link add owt0 type veth peer name owr0 netns " + router.name()) &&
               outside.Ip("link add owo0 type veth peer name owr1 netns " + router.name()) &&
               terminal.Ip("addr add 192.0.2.2/24 dev owt0") && terminal.Ip("link set owt0 up") &&
               router.Ip("addr add 192.0.2.1/24 dev owr0") && router.Ip("link set owr0 up") &&
               router.Ip("addr add 198.51.100.1/24 dev owr1") && router.Ip("link set owr1 up") &&
               outside.Ip("addr add 198.51.100.2/24 dev owo0") && outside.Ip("link set owo0 up") &&
               terminal.Ip("route add default via 192.0.2.1") && outside.Ip("route add default via 198.51.100.1") &&
               Shell("ip netns exec " + router.name() + " sysctl -qw net.ipv4.ip_forward=1");
    }
    TestNetns terminal, router, outside;
};

TEST(RouteTraceNetnsTest, RouteThroughAnAllowedHopIsLegalOtherwiseReportedOnce) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
    if (!Shell("command -v ip") || !Shell("command -v traceroute")) GTEST_SKIP() << "needs ip and traceroute";
    ThreeNamespaces net;
    ASSERT_TRUE(net.Build());
    // Output files are named by the second they start in; a directory of
    // our own keeps another test's trace in the same second from taking ours.
    char tmp[] = "/tmp/owtrace-XXXXXX";
    ASSERT_NE(mkdtemp(tmp), nullptr);
    ASSERT_EQ(setenv("TMPDIR", tmp, 1), 0);

    RecordingAgent agent;
    agent.SetLangText("rsRouteAdrr", "route to ");
    agent.SetLangText("rsRouteInfo", ":");
    CPolicy policy;  // on the Linux backend; its trace command starts in the terminal's namespace
    policy.SetAgent(&agent);
    ASSERT_EQ(policy.Initialize("policy.win.outlink.watch"), 200);
    const std::string route = "\n1 192.0.2.1;\n2 198.51.100.2;\n";

    int results[3] = {-1, -1, -1};
    int notifies[3] = {0, 0, 0};
    ASSERT_TRUE(net.terminal.RunInside([&] {
        policy.m_lstValidRouteIP = {0xC0000201u};  // the router, 192.0.2.1
        results[0] = policy.PrintTracert("198.51.100.2", 1);
        notifies[0] = agent.NotifyCount();
        policy.m_lstValidRouteIP.clear();
        for (int i = 1; i < 3; ++i) {
            results[i] = policy.PrintTracert("198.51.100.2", 1);
            notifies[i] = agent.NotifyCount();
        }
    }));
    EXPECT_EQ(results[0], 0) << "the route passes the allowed router";
    EXPECT_EQ(results[1], 1);
    EXPECT_EQ(results[2], 1);
    EXPECT_EQ(agent.CountLogs("Tracert success, trace info:" + route), 2);
    EXPECT_EQ(policy.m_strTracertInfo, "route to 198.51.100.2:" + route);
    EXPECT_EQ(notifies[0], 0);
    EXPECT_EQ(notifies[2], notifies[1]) << "the same route is reported once";
    EXPECT_EQ(agent.CountLogs("No Response"), 0);
    unsetenv("TMPDIR");
    EXPECT_EQ(rmdir(tmp), 0) << "no output file is left behind";
}

}  // namespace
}  // namespace outlinkwatch
