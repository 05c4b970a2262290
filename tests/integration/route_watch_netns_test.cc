// The route watcher against a real kernel: requests are armed inside named
// network namespaces made by the test, and routes are changed with `ip -n`,
// the way an administrator (or a VPN client) changes them. The machine's
// own namespace is never changed.
#include "platform/linux/net_linux.h"
#include "fakes/event_recorder.h"
#include "fakes/test_netns.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace outlinkwatch {
namespace linuxnet {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kEventBound{10000};
// How long a change elsewhere is given to (wrongly) set the event. The
// kernel delivers the notification before `ip` returns, so this is ample.
constexpr milliseconds kQuietBound{1000};



ino_t OwnNetnsInode() {
    struct stat st {};
    return stat("/proc/self/ns/net", &st) == 0 ? st.st_ino : 0;
}

class RouteWatchNetnsTest : public testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
        if (!Shell("command -v ip")) GTEST_SKIP() << "needs the ip tool";
        ownNetns_ = OwnNetnsInode();
    }
    void TearDown() override {
        if (ownNetns_ != 0) {
            EXPECT_EQ(OwnNetnsInode(), ownNetns_) << "the process left its own namespace";
        }
    }

    ino_t ownNetns_ = 0;
};

TEST_F(RouteWatchNetnsTest, RouteAddedInTheArmingNamespaceSetsTheEvent) {
    TestNetns ns("a");
    ASSERT_TRUE(ns.ok()) << "cannot make " << ns.name();
    EventRecorder rec;
    RouteWatcher watcher([&](Handle h) { return rec.Set(h); });
    int eventTag = 0;
    Handle event = &eventTag;

    uint32_t rc = 0;
    ASSERT_TRUE(ns.RunInside([&] { rc = watcher.Arm(event); }));
    ASSERT_EQ(rc, kErrorIoPending);

    ASSERT_TRUE(ns.Ip("route add 198.51.100.0/24 dev lo"));
    ASSERT_TRUE(rec.WaitForCalls(1, kEventBound)) << "no set after a route was added in " << ns.name();
    watcher.Cancel(event);
    EXPECT_EQ(rec.Count(), 1u);

    // Armed again, a removal is a change just the same.
    ASSERT_TRUE(ns.RunInside([&] { rc = watcher.Arm(event); }));
    ASSERT_EQ(rc, kErrorIoPending);
    ASSERT_TRUE(ns.Ip("route del 198.51.100.0/24 dev lo"));
    ASSERT_TRUE(rec.WaitForCalls(2, kEventBound)) << "no set after a route was removed";
    watcher.Cancel(event);
    EXPECT_EQ(rec.Count(), 2u);
}

TEST_F(RouteWatchNetnsTest, RouteChangeInAnotherNamespaceDoesNotSetTheEvent) {
    TestNetns armed("a");
    TestNetns other("b");
    ASSERT_TRUE(armed.ok()) << "cannot make " << armed.name();
    ASSERT_TRUE(other.ok()) << "cannot make " << other.name();
    EventRecorder rec;
    RouteWatcher watcher([&](Handle h) { return rec.Set(h); });
    int eventTag = 0;
    Handle event = &eventTag;

    uint32_t rc = 0;
    ASSERT_TRUE(armed.RunInside([&] { rc = watcher.Arm(event); }));
    ASSERT_EQ(rc, kErrorIoPending);

    ASSERT_TRUE(other.Ip("route add 198.51.100.0/24 dev lo"));
    EXPECT_FALSE(rec.WaitForCalls(1, kQuietBound)) << "a change in " << other.name() << " set the event";

    // The request was live all along: its own namespace still reaches it.
    ASSERT_TRUE(armed.Ip("route add 203.0.113.0/24 dev lo"));
    EXPECT_TRUE(rec.WaitForCalls(1, kEventBound)) << "no set after a route was added in " << armed.name();
    watcher.Cancel(event);
    EXPECT_EQ(rec.Count(), 1u);
}

TEST_F(RouteWatchNetnsTest, DestroyingTheWatcherWithAPendingRequestJoinsIt) {
    TestNetns ns("a");
    ASSERT_TRUE(ns.ok()) << "cannot make " << ns.name();
    EventRecorder rec;
    int eventTag = 0;
    auto start = std::chrono::steady_clock::now();
    {
        RouteWatcher watcher([&](Handle h) { return rec.Set(h); });
        uint32_t rc = 0;
        ASSERT_TRUE(ns.RunInside([&] { rc = watcher.Arm(&eventTag); }));
        ASSERT_EQ(rc, kErrorIoPending);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2000));
    // No watcher is left to see this.
    ASSERT_TRUE(ns.Ip("route add 198.51.100.0/24 dev lo"));
    EXPECT_EQ(rec.Count(), 0u);
}

}  // namespace
}  // namespace linuxnet
}  // namespace outlinkwatch
