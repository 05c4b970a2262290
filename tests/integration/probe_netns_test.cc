// The connection check's probes in network namespaces the test makes (root
// only): the probe against hostile web servers on port 80 (the other ports
// are covered by the connection check's table), the fake Os shortening its
// network time-outs; and the route report over the real Linux backend.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <ace/INET_Addr.h>

#include "fakes/conn_check_rig.h"
#include "fakes/loopback_server.h"
#include "fakes/open_descriptors.h"
#include "fakes/policy_rig.h"
#include "fakes/scoped_env.h"
#include "fakes/test_netns.h"
#include "probes/invalid_socket.h"

namespace outlinkwatch {
namespace {

constexpr const char* kRequest =
    "GET / HTTP/1.1\r\nAccept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\nAccept-Language: zh-cn\r\n"
    "Accept-Encoding: gzip, deflate\r\nUserAgent: Orvex\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n";

std::string Redirect(const char* status, const char* location) {
    return std::string("HTTP/1.1 ") + status + " Moved\r\nLocation: " + location + "\r\n\r\n";
}

struct Row {
    const char* name;
    Serve serve;
    std::string answer;
    int result;
    const char* log = nullptr;  // a line the probe must have written
};

const Row kRows[] = {
    {"200", Serve::Answer, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", PROBE_CONNECTED, "***successful ***"},
    {"301 to an image host", Serve::Answer, Redirect("301", "http://127.0.0.2/x"), PROBE_REDIRECTED},
    {"307 elsewhere", Serve::Answer, Redirect("307", "http://127.0.0.3/"), PROBE_CONNECTED,
     "The IP does not belong to the image IP aggregation."},
    {"302 to 127.0.0.1", Serve::Answer, Redirect("302", "http://127.0.0.1/"), PROBE_CONNECTED},
    {"302 to a name that does not resolve", Serve::Answer, Redirect("302", "http://nowhere.invalid/"),
     PROBE_REDIRECTED},
    {"303", Serve::Answer, Redirect("303", "http://127.0.0.2/"), PROBE_CONNECTED},
    {"308", Serve::Answer, Redirect("308", "http://127.0.0.2/"), PROBE_CONNECTED},
    {"never answers", Serve::Silent, "", PROBE_CONNECTED, "The HTTP connection response code is : -1"},
    {"1 GB body", Serve::Flood, "HTTP/1.1 302 Found\r\nContent-Length: 1073741824\r\nLocation: http://127.0.0.2/\r\n\r\n",
     PROBE_REDIRECTED},
    {"closes at once", Serve::CloseAtOnce, "", PROBE_CONNECTED},
    {"slow drip", Serve::Drip, Redirect("302", "http://127.0.0.2/"), PROBE_CONNECTED,
     "The HTTP connection response code is : 1"},
};

TEST(ProbeServerTest, HttpRowsOnPort80InANamespace) {
    if (geteuid() != 0 || !Shell("ip -V")) GTEST_SKIP() << "needs root and the ip tool";
    TestNetns ns("probe");
    // Packets to 198.51.100.2 go to a MAC address nobody has: a connect that never completes.
    ASSERT_TRUE(ns.ok() && ns.Ip("link add ow0 type veth peer name ow1") && ns.Ip("addr add 198.51.100.1/24 dev ow0") &&
                ns.Ip("link set ow0 up") && ns.Ip("link set ow1 up") &&
                ns.Ip("neigh add 198.51.100.2 lladdr 02:00:00:00:00:02 dev ow0"));
    PolicyRig rig;
    rig.fake.networkTimeScale = 40;  // 200 ms a connect attempt, 125 ms a send or receive
    RecordingAgent& agent = rig.agent;
    const std::list<std::string> images{"192.0.2.1", " 127.0.0.2\r\n"};
    const auto probe = [&](const char* ip, uint16_t port = 80) {
        return CInvalidSocket(rig.policy->os(), rig.policy.get()).connect(ACE_INET_Addr(port, ip, AF_INET), images);
    };
    ASSERT_TRUE(ns.RunInside([&] {
        for (const Row& row : kRows) {
            SCOPED_TRACE(row.name);
            const std::string log = row.log != nullptr ? row.log : "";  // "": any line
            const int before = agent.CountLogs(log);
            const long fds = OpenDescriptors();
            LoopbackServer server(row.serve, row.answer, 80);
            ASSERT_TRUE(server.ok());
            EXPECT_EQ(probe("127.0.0.1"), row.result);
            EXPECT_EQ(server.received(), row.serve == Serve::CloseAtOnce ? "" : kRequest);
            EXPECT_GT(agent.CountLogs(log), before) << log;
            EXPECT_EQ(OpenDescriptors(), fds + 1) << "the listener's alone: the probe closed its socket";
        }
        const long fds = OpenDescriptors();
        {
            LoopbackServer other(Serve::Accept, "", 81);
            ASSERT_TRUE(other.ok());
            EXPECT_EQ(probe("127.0.0.1", 81), PROBE_CONNECTED);
            EXPECT_EQ(other.received(), "") << "no request to a port other than 80";
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(probe("198.51.100.2"), PROBE_FAILED);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "time-outs compressed";
        EXPECT_EQ(OpenDescriptors(), fds) << "no socket is left open";
    }));
}

// The route report over the real tracert stand-in: a terminal reaches an
// outside network through a router.
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
    const ScopedEnv tmpdir("TMPDIR", tmp);

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
    EXPECT_EQ(rmdir((tmp + std::string("/outlinkwatch-0")).c_str()) + rmdir(tmp), 0) << "no output file is left behind";
}

}  // namespace
}  // namespace outlinkwatch
