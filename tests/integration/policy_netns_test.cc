// A policy on the real Linux backend, running inside a network namespace
// the test made: a route added there wakes its route thread at once.
#include <gtest/gtest.h>
#include <unistd.h>

#include "fakes/fault_os.h"
#include "fakes/params.h"
#include "fakes/recording_agent.h"
#include "fakes/test_netns.h"
#include "outlinkwatch/plugin.h"

namespace outlinkwatch {
namespace {

TEST(PolicyNetnsTest, RouteAddedInTheNamespaceWakesTheRouteThread) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
    if (!Shell("command -v ip")) GTEST_SKIP() << "needs the ip tool";
    TestNetns ns("policy");
    // A usable address in a documentation range, so the check is not skipped.
    ASSERT_TRUE(ns.ok() && ns.Ip("link add ow0 type veth peer name ow1") && ns.Ip("addr add 192.0.2.10/24 dev ow0") &&
                ns.Ip("link set ow0 up") && ns.Ip("link set ow1 up"));

    RecordingAgent agent;
    ArmSignallingOs os(Os::Default());
    Os* previous = SetOsForTesting(&os);
    IPolicy* policy = nullptr;
    ICommonControl* control = nullptr;
    // Threads inherit the namespace of the thread that starts them, so the
    // policy is made and started from inside it, through the exported
    // factory as an agent does; the test thread stays outside.
    ASSERT_TRUE(ns.RunInside([&] {
        policy = CreateObject("IPolicy", &control, nullptr);
        ASSERT_NE(policy, nullptr);
        policy->SetAgent(&agent);
        EXPECT_EQ(control->Initialize("policy.win.outlink.watch"), 200);
        // 127.0.0.1 is never traced, so each check ends at once.
        policy->SetPolicyParams({Param("Type", "0"), Param("TrancertAddr", "127.0.0.1"), Param("checkcyc", "1")});
        EXPECT_EQ(policy->Exec(0), 0);
    }));
    ASSERT_NE(policy, nullptr);
    ASSERT_TRUE(agent.WaitForLogs("Set Connection check Task", 1));
    EXPECT_EQ(agent.CountLogs("Network is invalid"), 0) << "the namespace's own adapters are seen";

    ASSERT_TRUE(os.WaitArmed(1));
    ASSERT_TRUE(ns.Ip("route add 198.51.100.1/32 dev ow0"));
    EXPECT_TRUE(agent.WaitForLogs("the route changed", 1));
    EXPECT_TRUE(agent.WaitForLogs("Set Connection check Task", 2)) << "checked and re-armed";

    EXPECT_EQ(control->done(""), 0);
    EXPECT_EQ(policy->Release(), 0u);
    SetOsForTesting(previous);
}

}  // namespace
}  // namespace outlinkwatch
