// The route report over the real Linux backend and the real tracert
// stand-in: a terminal reaches an outside network through a router, all in
// network namespaces the test makes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "fakes/conn_check_rig.h"
#include "fakes/test_netns.h"

namespace outlinkwatch {
namespace {

TEST(RouteTraceNetnsTest, RouteThroughAnAllowedHopIsLegalOtherwiseReportedOnce) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
    if (!Shell("command -v ip") || !Shell("command -v traceroute")) GTEST_SKIP() << "needs ip and traceroute";
    // terminal 192.0.2.2 --- 192.0.2.1 router 198.51.100.1 --- 198.51.100.2 outside
    TestNetns terminal("term"), router("rtr"), outside("out");
    ASSERT_TRUE(terminal.ok() && router.ok() && outside.ok() &&
                terminal.Ip("link add owt0 type veth peer name owr0 netns " + router.name()) &&
                outside.Ip("link add owo0 type veth peer name owr1 netns " + router.name()) &&
                terminal.Ip("addr add 192.0.2.2/24 dev owt0") && terminal.Ip("link set owt0 up") &&
                router.Ip("addr add 192.0.2.1/24 dev owr0") && router.Ip("link set owr0 up") &&
                router.Ip("addr add 198.51.100.1/24 dev owr1") && router.Ip("link set owr1 up") &&
                outside.Ip("addr add 198.51.100.2/24 dev owo0") && outside.Ip("link set owo0 up") &&
                terminal.Ip("route add default via 192.0.2.1") && outside.Ip("route add default via 198.51.100.1") &&
                Shell("ip netns exec " + router.name() + " sysctl -qw net.ipv4.ip_forward=1"));
    // Output files are named by the second they start in; a directory of
    // our own keeps another test's trace in the same second from taking ours.
    char tmp[] = "/tmp/owtrace-XXXXXX";
    ASSERT_NE(mkdtemp(tmp), nullptr);
    ASSERT_EQ(setenv("TMPDIR", tmp, 1), 0);

    ConnCheckRig rig(Os::Default());  // its trace command starts in the terminal's namespace
    rig.texts = {{"rsRouteAdrr", "route to "}, {"rsRouteInfo", ":"}};
    const std::string route = "\n1 192.0.2.1;\n2 198.51.100.2;\n";
    std::string results;  // each trace's result and the findings so far
    ASSERT_TRUE(terminal.RunInside([&] {
        for (int i = 0; i < 3; ++i) {
            rig.settings.m_lstValidRouteIP = i == 0 ? std::list<uint32_t>{0xC0000201u} : std::list<uint32_t>{};  // the router
            results += std::to_string(rig.check.PrintTracert(rig.settings, "198.51.100.2", 1));
            results += std::to_string(rig.findings.size());
        }
    }));
    EXPECT_EQ(results, "001111") << "legal through the allowed router, then reported once";
    EXPECT_EQ(rig.findings, std::vector<std::string>{"route to 198.51.100.2:" + route + "|3|3198.51.100.24" + route});
    EXPECT_EQ(rig.sink.CountLogs("Tracert success, trace info:" + route), 2);
    EXPECT_EQ(rig.check.TracertInfo(), "route to 198.51.100.2:" + route);
    unsetenv("TMPDIR");
    EXPECT_EQ(rmdir((tmp + std::string("/outlinkwatch-0")).c_str()) + rmdir(tmp), 0) << "no output file is left behind";
}

}  // namespace
}  // namespace outlinkwatch
