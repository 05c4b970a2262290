// The route watcher against a real kernel: requests are armed inside named
// network namespaces made by the test, and routes are changed with `ip -n`,
// the way an administrator (or a VPN client) changes them. The machine's
// own namespace is never changed.
#include "platform/linux/net_linux.h"
#include "fakes/event_recorder.h"
#include "fakes/test_netns.h"

#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

namespace outlinkwatch {
namespace linuxnet {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kEventBound{10000};
// How long a change elsewhere is given to (wrongly) set the event. The
// kernel delivers the notification before `ip` returns, so this is ample.
constexpr milliseconds kQuietBound{1000};

class RouteWatchNetnsTest : public testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0 || !Shell("command -v ip")) GTEST_SKIP() << "needs root and the ip tool";
    }
    // Arm from a thread inside ns, so the request watches that namespace.
    bool ArmIn(const TestNetns& ns) {
        bool armed = false;
        return ns.RunInside([&] { armed = watcher_.Arm(event_); }) && armed;
    }

    EventRecorder rec_;
    RouteWatcher watcher_{rec_.Callback()};
    int tag_ = 0;
    Handle event_ = &tag_;
};

TEST_F(RouteWatchNetnsTest, RouteAddedInTheArmingNamespaceSetsTheEvent) {
    TestNetns ns("a");
    ASSERT_TRUE(ns.ok()) << "cannot make " << ns.name();
    // A pending request sleeps without a time-out: Cancel must wake it.
    ASSERT_TRUE(ArmIn(ns));
    watcher_.Cancel(event_);
    ASSERT_TRUE(ArmIn(ns));
    ASSERT_TRUE(ArmIn(ns)) << "armed twice: one request";
    ASSERT_TRUE(ns.Ip("route add 198.51.100.0/24 dev lo"));
    ASSERT_TRUE(rec_.WaitForCalls(1, kEventBound)) << "no set after a route was added in " << ns.name();

    // Armed again, a removal is a change just the same.
    ASSERT_TRUE(ArmIn(ns));
    ASSERT_TRUE(ns.Ip("route del 198.51.100.0/24 dev lo"));
    ASSERT_TRUE(rec_.WaitForCalls(2, kEventBound)) << "no set after a route was removed";
    watcher_.Cancel(event_);
    EXPECT_EQ(rec_.Count(), 2u);
}

TEST_F(RouteWatchNetnsTest, RouteChangeInAnotherNamespaceDoesNotSetTheEvent) {
    TestNetns armed("a"), other("b");
    ASSERT_TRUE(armed.ok() && other.ok()) << "cannot make " << armed.name() << " and " << other.name();
    ASSERT_TRUE(ArmIn(armed));
    ASSERT_TRUE(other.Ip("route add 198.51.100.0/24 dev lo"));
    EXPECT_FALSE(rec_.WaitForCalls(1, kQuietBound)) << "a change in " << other.name() << " set the event";

    // The request was live all along: its own namespace still reaches it.
    ASSERT_TRUE(armed.Ip("route add 203.0.113.0/24 dev lo"));
    EXPECT_TRUE(rec_.WaitForCalls(1, kEventBound)) << "no set after a route was added in " << armed.name();
    watcher_.Cancel(event_);
    EXPECT_EQ(rec_.Count(), 1u);

    // One left pending: the watcher's destructor must cancel and join it.
    ASSERT_TRUE(ArmIn(armed));
}

}  // namespace
}  // namespace linuxnet
}  // namespace outlinkwatch
