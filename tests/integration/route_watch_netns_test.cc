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

// A request armed twice is one; a pending request sleeps without a time-out,
// so Cancel (and at the end the destructor) must wake it.
TEST(RouteWatchNetnsTest, OnlyTheArmingNamespaceSetsTheEvent) {
    if (geteuid() != 0 || !Shell("command -v ip")) GTEST_SKIP() << "needs root and the ip tool";
    TestNetns armed("a"), other("b");
    ASSERT_TRUE(armed.ok() && other.ok()) << "cannot make " << armed.name() << " and " << other.name();
    EventRecorder rec;
    RouteWatcher watcher(rec.Callback());
    int tag = 0;
    // Armed from a thread inside the namespace, the request watches that one.
    const auto arm = [&] {
        bool ok = false;
        return armed.RunInside([&] { ok = watcher.Arm(&tag); }) && ok;
    };
    ASSERT_TRUE(arm());
    watcher.Cancel(&tag);
    ASSERT_TRUE(arm());
    ASSERT_TRUE(arm());
    ASSERT_TRUE(other.Ip("route add 198.51.100.0/24 dev lo"));
    EXPECT_FALSE(rec.WaitForCalls(1, kQuietBound)) << "a change in " << other.name() << " set the event";
    ASSERT_TRUE(armed.Ip("route add 198.51.100.0/24 dev lo"));
    ASSERT_TRUE(rec.WaitForCalls(1, kEventBound)) << "no set after a route was added";

    ASSERT_TRUE(arm());  // armed again, a removal is a change just the same
    ASSERT_TRUE(armed.Ip("route del 198.51.100.0/24 dev lo"));
    ASSERT_TRUE(rec.WaitForCalls(2, kEventBound)) << "no set after a route was removed";
    watcher.Cancel(&tag);
    EXPECT_EQ(rec.Count(), 2u);
    ASSERT_TRUE(arm());  // left pending for the destructor
}

}  // namespace
}  // namespace linuxnet
}  // namespace outlinkwatch
