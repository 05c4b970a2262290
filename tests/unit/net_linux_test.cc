// The Linux network services behind the OS seam. Tests that need a routing
// or interface change make it in a private network namespace of their own
// (one thread unshared from the process), never in the machine's.
#include "platform/linux/net_linux.h"
#include "fakes/event_recorder.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace outlinkwatch {
namespace linuxnet {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kEventBound{10000};

uint32_t Ipv4(const char* text) {
    in_addr a{};
    EXPECT_EQ(inet_pton(AF_INET, text, &a), 1) << text;
    return a.s_addr;
}


bool HaveIpTool() { return std::system("command -v ip >/dev/null 2>&1") == 0; }

// Runs an `ip` command in the calling thread's network namespace.
bool Ip(const std::string& args) { return std::system(("ip " + args + " >/dev/null 2>&1").c_str()) == 0; }

// Runs body on a thread of its own inside a new, empty network namespace; the
// namespace ends with that thread and the sockets made in it. False when no
// namespace could be made (not root, or no namespaces in this kernel).
bool InPrivateNetns(const std::function<void()>& body) {
    bool made = false;
    std::thread t([&] {
        if (unshare(CLONE_NEWNET) != 0) return;
        made = true;
        body();
    });
    t.join();
    return made;
}

#define SKIP_WITHOUT_NETNS_TOOLS()                                           \
    do {                                                                     \
        if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace"; \
        if (!HaveIpTool()) GTEST_SKIP() << "needs the ip tool";              \
    } while (0)

// ---------------------------------------------------------------- GetAdapters

TEST(GetAdaptersTest, WithoutSizeIsInvalidParameter) {
    std::vector<AdapterInfo> out;
    EXPECT_EQ(GetAdapters(&out, nullptr), kErrorInvalidParameter);
    EXPECT_EQ(GetAdapters(nullptr, nullptr), kErrorInvalidParameter);
}

TEST(GetAdaptersTest, NullListAsksForWholeRecords) {
    uint32_t size = 123456789;  // large enough, but there is nowhere to write
    ASSERT_EQ(GetAdapters(nullptr, &size), kErrorBufferOverflow);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size % kAdapterRecordSize, 0u);
}

TEST(GetAdaptersTest, TooSmallSizeAsksForTheNeedAndLeavesTheListAlone) {
    uint32_t need = 0;
    ASSERT_EQ(GetAdapters(nullptr, &need), kErrorBufferOverflow);
    for (uint32_t given : {0u, 1u, need - 1}) {
        SCOPED_TRACE(given);
        std::vector<AdapterInfo> out{{"sentinel", {"203.0.113.1"}}};
        uint32_t size = given;
        EXPECT_EQ(GetAdapters(&out, &size), kErrorBufferOverflow);
        EXPECT_EQ(size, need);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].name, "sentinel");
    }
}

TEST(GetAdaptersTest, ExactSizeFillsOneRecordPerAdapter) {
    uint32_t need = 0;
    ASSERT_EQ(GetAdapters(nullptr, &need), kErrorBufferOverflow);
    std::vector<AdapterInfo> out{{"sentinel", {}}};
    uint32_t size = need;
    ASSERT_EQ(GetAdapters(&out, &size), kErrorSuccess);
    EXPECT_EQ(size, need);
    EXPECT_EQ(out.size() * kAdapterRecordSize, need);
    std::set<std::string> names;
    for (const AdapterInfo& a : out) {
        SCOPED_TRACE(a.name);
        EXPECT_FALSE(a.name.empty());
        EXPECT_EQ(a.name.find(':'), std::string::npos) << "an alias label leaked as an adapter";
        EXPECT_TRUE(names.insert(a.name).second) << "adapter listed twice";
        ASSERT_FALSE(a.ipv4.empty());
        for (const std::string& ip : a.ipv4) {
            in_addr parsed{};
            EXPECT_EQ(inet_pton(AF_INET, ip.c_str(), &parsed), 1) << ip;
        }
    }
}

TEST(GetAdaptersTest, LoopbackShowsAs127001) {
    uint32_t size = 0;
    ASSERT_EQ(GetAdapters(nullptr, &size), kErrorBufferOverflow);
    std::vector<AdapterInfo> out;
    ASSERT_EQ(GetAdapters(&out, &size), kErrorSuccess);
    auto lo = std::find_if(out.begin(), out.end(), [](const AdapterInfo& a) { return a.name == "lo"; });
    ASSERT_NE(lo, out.end());
    EXPECT_NE(std::find(lo->ipv4.begin(), lo->ipv4.end(), "127.0.0.1"), lo->ipv4.end());
}

// Which interfaces count, step by step in a namespace of known content.
TEST(GetAdaptersTest, ListFollowsInterfaceStateInPrivateNamespace) {
    SKIP_WITHOUT_NETNS_TOOLS();
    struct Step {
        const char* what;
        const char* ipArgs;  // applied before the check; null for none
        uint32_t rc;
        std::vector<AdapterInfo> want;
    };
    const std::vector<Step> steps = {
        {"fresh namespace: lo is down, nothing is up", nullptr, kErrorNoData, {}},
        {"loopback up", "link set lo up", kErrorSuccess, {{"lo", {"127.0.0.1"}}}},
        {"a pair of down interfaces does not count", "link add owv0 type veth peer name owv1", kErrorSuccess,
         {{"lo", {"127.0.0.1"}}}},
        {"up without carrier or address shows 0.0.0.0", "link set owv0 up", kErrorSuccess,
         {{"lo", {"127.0.0.1"}}, {"owv0", {"0.0.0.0"}}}},
        {"first address", "addr add 198.51.100.7/24 dev owv0", kErrorSuccess,
         {{"lo", {"127.0.0.1"}}, {"owv0", {"198.51.100.7"}}}},
        {"an alias label belongs to its device", "addr add 198.51.100.8/24 dev owv0 label owv0:1", kErrorSuccess,
         {{"lo", {"127.0.0.1"}}, {"owv0", {"198.51.100.7", "198.51.100.8"}}}},
        {"down is disabled, addresses or not", "link set owv0 down", kErrorSuccess, {{"lo", {"127.0.0.1"}}}},
        {"loopback down too: no adapters at all", "link set lo down", kErrorNoData, {}},
    };
    ASSERT_TRUE(InPrivateNetns([&] {
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            if (step.ipArgs != nullptr) {
                ASSERT_TRUE(Ip(step.ipArgs)) << step.ipArgs;
            }
            uint32_t size = 0;
            std::vector<AdapterInfo> out;
            uint32_t rc = GetAdapters(nullptr, &size);
            if (step.rc == kErrorNoData) {
                EXPECT_EQ(rc, kErrorNoData);
                EXPECT_EQ(GetAdapters(&out, &size), kErrorNoData);
                continue;
            }
            ASSERT_EQ(rc, kErrorBufferOverflow);
            EXPECT_EQ(size, step.want.size() * kAdapterRecordSize);
            ASSERT_EQ(GetAdapters(&out, &size), kErrorSuccess);
            ASSERT_EQ(out.size(), step.want.size());
            for (size_t i = 0; i < out.size(); ++i) {
                EXPECT_EQ(out[i].name, step.want[i].name);
                EXPECT_EQ(out[i].ipv4, step.want[i].ipv4) << out[i].name;
            }
        }
    })) << "no private network namespace";
}

// ------------------------------------------------------------ ResolveHostIPv4

TEST(ResolveHostIPv4Test, Table) {
    // Every row resolves without a name server: texts that are addresses,
    // hosts-file names, and texts refused before any query.
    const std::string maxNumeric = std::string(248, '0') + "1.2.3.4";  // 255 bytes, octal first part
    struct Row {
        std::string host;
        bool ok;
        std::vector<uint32_t> want;  // exact answer; empty: only the first below
        const char* first;           // the first address, when ok
    };
    const std::vector<Row> rows = {
        {"127.0.0.1", true, {Ipv4("127.0.0.1")}, "127.0.0.1"},
        {"198.51.100.7", true, {Ipv4("198.51.100.7")}, "198.51.100.7"},
        {"0.0.0.0", true, {Ipv4("0.0.0.0")}, "0.0.0.0"},
        {"255.255.255.255", true, {Ipv4("255.255.255.255")}, "255.255.255.255"},
        {"127.1", true, {Ipv4("127.0.0.1")}, "127.0.0.1"},
        {"0x7f.0.0.1", true, {Ipv4("127.0.0.1")}, "127.0.0.1"},
        {maxNumeric, true, {Ipv4("1.2.3.4")}, "1.2.3.4"},
        {"localhost", true, {}, "127.0.0.1"},
        {"", false, {}, nullptr},
        {"0" + maxNumeric, false, {}, nullptr},
        {std::string(300, 'a'), false, {}, nullptr},
        {"1.2.3.4.5", false, {}, nullptr},
        {"1.2.3.256", false, {}, nullptr},
        {"999.1.1.1", false, {}, nullptr},
        {"1.2.3.4.", false, {}, nullptr},
        {"host.123", false, {}, nullptr},
        {"host\x01", false, {}, nullptr},
        {"local host", false, {}, nullptr},
        {"1.2.3.4 ", false, {}, nullptr},
        {"tab\there", false, {}, nullptr},
        {"del\x7f", false, {}, nullptr},
        {std::string("127.0.0.1\0evil", 14), false, {}, nullptr},
        {std::string("localhost\0", 10), false, {}, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("host '" + row.host + "' (" + std::to_string(row.host.size()) + " bytes)");
        std::vector<uint32_t> addrs{0xdeadbeef};  // must be replaced, not appended to
        ASSERT_EQ(ResolveHostIPv4(row.host, &addrs), row.ok);
        if (!row.ok) {
            EXPECT_TRUE(addrs.empty());
            continue;
        }
        ASSERT_FALSE(addrs.empty());
        EXPECT_EQ(addrs[0], Ipv4(row.first));
        if (!row.want.empty()) {
            EXPECT_EQ(addrs, row.want);
        }
        EXPECT_LE(addrs.size(), kMaxHostAddresses);
        EXPECT_EQ(std::set<uint32_t>(addrs.begin(), addrs.end()).size(), addrs.size()) << "duplicate address";
    }
}

TEST(ResolveHostIPv4Test, NullListIsRefused) { EXPECT_FALSE(ResolveHostIPv4("127.0.0.1", nullptr)); }

// ------------------------------------------------------- HoldsIPv4RouteChange

// Builds rtnetlink datagrams for the parser table.
class Datagram {
public:
    // A complete route message of the given family.
    Datagram& Route(uint16_t type, uint8_t family) {
        last_ = bytes_.size();
        uint32_t len = NLMSG_LENGTH(sizeof(rtmsg));
        bytes_.resize(last_ + NLMSG_ALIGN(len));
        nlmsghdr nh{};
        nh.nlmsg_len = len;
        nh.nlmsg_type = type;
        rtmsg rt{};
        rt.rtm_family = family;
        std::memcpy(&bytes_[last_], &nh, sizeof nh);
        std::memcpy(&bytes_[last_ + NLMSG_HDRLEN], &rt, sizeof rt);
        return *this;
    }
    // A header alone.
    Datagram& Header(uint16_t type) {
        last_ = bytes_.size();
        bytes_.resize(last_ + NLMSG_HDRLEN);
        nlmsghdr nh{};
        nh.nlmsg_len = NLMSG_HDRLEN;
        nh.nlmsg_type = type;
        std::memcpy(&bytes_[last_], &nh, sizeof nh);
        return *this;
    }
    // Overwrites the length the last message claims, leaving its bytes.
    Datagram& ClaimLength(uint32_t len) {
        nlmsghdr nh;
        std::memcpy(&nh, &bytes_[last_], sizeof nh);
        nh.nlmsg_len = len;
        std::memcpy(&bytes_[last_], &nh, sizeof nh);
        return *this;
    }
    Datagram& Cut(size_t n) {
        bytes_.resize(std::min(n, bytes_.size()));
        return *this;
    }
    const std::vector<char>& bytes() const { return bytes_; }

private:
    std::vector<char> bytes_;
    size_t last_ = 0;
};

TEST(HoldsIPv4RouteChangeTest, Table) {
    const uint32_t full = NLMSG_LENGTH(sizeof(rtmsg));
    // The malformed rows carry a complete IPv4 route body, so only the bounds
    // checks stand between them and a wrong "changed".
    struct Row {
        const char* what;
        Datagram dg;
        bool want;
    };
    const std::vector<Row> rows = {
        {"empty", Datagram(), false},
        {"new IPv4 route", Datagram().Route(RTM_NEWROUTE, AF_INET), true},
        {"removed IPv4 route", Datagram().Route(RTM_DELROUTE, AF_INET), true},
        {"IPv6 route", Datagram().Route(RTM_NEWROUTE, AF_INET6), false},
        {"link change", Datagram().Route(RTM_NEWLINK, AF_INET), false},
        {"address change", Datagram().Route(RTM_NEWADDR, AF_INET), false},
        {"route behind another message", Datagram().Route(RTM_NEWLINK, AF_INET).Route(RTM_DELROUTE, AF_INET),
         true},
        {"overrun report", Datagram().Header(NLMSG_OVERRUN), true},
        {"only part of a header", Datagram().Route(RTM_NEWROUTE, AF_INET).Cut(NLMSG_HDRLEN - 1), false},
        {"header without its body", Datagram().Route(RTM_NEWROUTE, AF_INET).Cut(NLMSG_HDRLEN), false},
        {"length beyond the datagram", Datagram().Route(RTM_NEWROUTE, AF_INET).ClaimLength(full + 4), false},
        {"length too short for a route", Datagram().Route(RTM_NEWROUTE, AF_INET).ClaimLength(full - 1), false},
        {"length shorter than a header", Datagram().Route(RTM_NEWROUTE, AF_INET).ClaimLength(NLMSG_HDRLEN - 1),
         false},
        {"zero length", Datagram().Route(RTM_NEWROUTE, AF_INET).ClaimLength(0), false},
        {"huge length", Datagram().Route(RTM_NEWROUTE, AF_INET).ClaimLength(0xFFFFFFF0u), false},
        {"second message cut short",
         Datagram().Route(RTM_NEWLINK, AF_INET).Route(RTM_NEWROUTE, AF_INET).Cut(NLMSG_ALIGN(full) + 8), false},
        {"bad first message hides the rest",
         Datagram().Route(RTM_NEWLINK, AF_INET).ClaimLength(0).Route(RTM_NEWROUTE, AF_INET), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // Copied into an aligned buffer, as the kernel's datagrams arrive.
        alignas(nlmsghdr) char buf[512] = {};
        ASSERT_LE(row.dg.bytes().size(), sizeof buf);
        std::copy(row.dg.bytes().begin(), row.dg.bytes().end(), buf);
        EXPECT_EQ(HoldsIPv4RouteChange(buf, row.dg.bytes().size()), row.want);
    }
}

TEST(HoldsIPv4RouteChangeTest, RefusesNullAndMisalignedBuffers) {
    Datagram dg;
    dg.Route(RTM_NEWROUTE, AF_INET);
    alignas(nlmsghdr) char buf[128] = {};
    std::copy(dg.bytes().begin(), dg.bytes().end(), buf + 1);
    EXPECT_FALSE(HoldsIPv4RouteChange(nullptr, 64));
    EXPECT_FALSE(HoldsIPv4RouteChange(buf + 1, dg.bytes().size()));
}

// ---------------------------------------------------------------- RouteWatcher

TEST(RouteWatcherTest, ArmThenCancelWithoutChangeJoinsPromptly) {
    EventRecorder rec;
    int eventTag = 0;
    Handle event = &eventTag;
    auto check = [&](bool quietNamespace) {
        RouteWatcher watcher(rec.Callback());
        ASSERT_EQ(watcher.Arm(event), kErrorIoPending);
        auto start = steady_clock::now();
        watcher.Cancel(event);
        // The watcher is woken, not left to its poll timeout.
        EXPECT_LT(steady_clock::now() - start, milliseconds(RouteWatcher::kPollMs * 5));
        if (quietNamespace) {
            EXPECT_TRUE(rec.Calls().empty());
        }
        // A second cancel, and a cancel of an event never armed, do nothing.
        watcher.Cancel(event);
        int otherTag = 0;
        watcher.Cancel(&otherTag);
    };
    // In a namespace nobody else touches, when one can be made; otherwise the
    // machine's, where a route change by someone else is not ruled out.
    if (geteuid() != 0 || !InPrivateNetns([&] { check(true); })) check(false);
}

TEST(RouteWatcherTest, DestructorCancelsEveryRequestPromptly) {
    EventRecorder rec;
    int tags[8] = {};
    auto start = steady_clock::now();
    {
        RouteWatcher watcher(rec.Callback());
        for (int& t : tags) ASSERT_EQ(watcher.Arm(&t), kErrorIoPending);
    }
    EXPECT_LT(steady_clock::now() - start, milliseconds(2000));
}

TEST(RouteWatcherTest, DoubleArmReturnsPendingAndYieldsOneSet) {
    SKIP_WITHOUT_NETNS_TOOLS();
    EventRecorder rec;
    int eventTag = 0;
    Handle event = &eventTag;
    ASSERT_TRUE(InPrivateNetns([&] {
        ASSERT_TRUE(Ip("link set lo up"));
        RouteWatcher watcher(rec.Callback());
        ASSERT_EQ(watcher.Arm(event), kErrorIoPending);
        ASSERT_EQ(watcher.Arm(event), kErrorIoPending);
        ASSERT_TRUE(Ip("route add 198.51.100.0/24 dev lo"));
        ASSERT_TRUE(rec.WaitForCalls(1, kEventBound)) << "no set after a route was added";
        // After Cancel nothing can still be on its way: the count is final.
        watcher.Cancel(event);
        EXPECT_EQ(rec.Calls(), std::vector<Handle>{event});
    }));
}

TEST(RouteWatcherTest, RequestIsUsedUpAndCanBeArmedAgain) {
    SKIP_WITHOUT_NETNS_TOOLS();
    EventRecorder rec;
    int aTag = 0, bTag = 0;
    Handle a = &aTag, b = &bTag;
    ASSERT_TRUE(InPrivateNetns([&] {
        ASSERT_TRUE(Ip("link set lo up"));
        RouteWatcher watcher(rec.Callback());
        ASSERT_EQ(watcher.Arm(a), kErrorIoPending);
        ASSERT_TRUE(Ip("route add 198.51.100.0/24 dev lo"));
        ASSERT_TRUE(rec.WaitForCalls(1, kEventBound));
        // The first request is spent: further changes set nothing until re-armed.
        ASSERT_TRUE(Ip("route add 203.0.113.0/24 dev lo"));
        watcher.Cancel(a);
        EXPECT_EQ(rec.Calls().size(), 1u);

        ASSERT_EQ(watcher.Arm(a), kErrorIoPending);
        ASSERT_EQ(watcher.Arm(b), kErrorIoPending);
        ASSERT_TRUE(Ip("route del 198.51.100.0/24 dev lo"));
        ASSERT_TRUE(rec.WaitForCalls(3, kEventBound)) << "a removal must set both armed events";
        watcher.Cancel(a);
        watcher.Cancel(b);
        std::vector<Handle> calls = rec.Calls();
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_EQ(calls[0], a);
        EXPECT_EQ(std::count(calls.begin() + 1, calls.end(), a), 1);
        EXPECT_EQ(std::count(calls.begin() + 1, calls.end(), b), 1);
    }));
}

TEST(RouteWatcherTest, SetEventMayReArm) {
    SKIP_WITHOUT_NETNS_TOOLS();
    int eventTag = 0;
    Handle event = &eventTag;
    EventRecorder rec;
    std::mutex mu;
    std::vector<uint32_t> rearmResults;
    RouteWatcher* self = nullptr;
    auto onSet = [&](Handle h) {
        uint32_t rc = self->Arm(h);  // from the watcher thread, as a re-arming caller does
        {
            std::lock_guard<std::mutex> lock(mu);
            rearmResults.push_back(rc);
        }
        return rec.Set(h);
    };
    ASSERT_TRUE(InPrivateNetns([&] {
        ASSERT_TRUE(Ip("link set lo up"));
        RouteWatcher watcher(onSet);
        self = &watcher;
        ASSERT_EQ(watcher.Arm(event), kErrorIoPending);
        ASSERT_TRUE(Ip("route add 198.51.100.0/24 dev lo"));
        ASSERT_TRUE(rec.WaitForCalls(1, kEventBound));
        ASSERT_TRUE(Ip("route add 203.0.113.0/24 dev lo"));
        ASSERT_TRUE(rec.WaitForCalls(2, kEventBound)) << "the request armed inside setEvent did not fire";
        watcher.Cancel(event);
        std::lock_guard<std::mutex> lock(mu);
        ASSERT_GE(rearmResults.size(), 2u);
        for (uint32_t rc : rearmResults) EXPECT_EQ(rc, kErrorIoPending);
    }));
}

// After Cancel returns, no setEvent for that event is still running, so a
// caller may close the event right away.
TEST(RouteWatcherTest, CancelWaitsForASetEventUnderWay) {
    SKIP_WITHOUT_NETNS_TOOLS();
    int eventTag = 0;
    Handle event = &eventTag;
    std::mutex mu;
    std::condition_variable cv;
    bool entered = false, release = false, callbackDone = false;
    auto onSet = [&](Handle) {
        std::unique_lock<std::mutex> lock(mu);
        entered = true;
        cv.notify_all();
        cv.wait_for(lock, kEventBound, [&] { return release; });
        callbackDone = true;
        return true;
    };
    ASSERT_TRUE(InPrivateNetns([&] {
        ASSERT_TRUE(Ip("link set lo up"));
        RouteWatcher watcher(onSet);
        ASSERT_EQ(watcher.Arm(event), kErrorIoPending);
        ASSERT_TRUE(Ip("route add 198.51.100.0/24 dev lo"));
        {
            std::unique_lock<std::mutex> lock(mu);
            ASSERT_TRUE(cv.wait_for(lock, kEventBound, [&] { return entered; }));
        }
        bool cancelReturned = false, doneAtReturn = false;
        std::thread canceller([&] {
            watcher.Cancel(event);
            std::lock_guard<std::mutex> lock(mu);
            cancelReturned = true;
            doneAtReturn = callbackDone;
            cv.notify_all();
        });
        {
            // Gives a Cancel that does not wait the chance to return early.
            std::unique_lock<std::mutex> lock(mu);
            cv.wait_for(lock, milliseconds(300), [&] { return cancelReturned; });
            release = true;
            cv.notify_all();
        }
        canceller.join();
        EXPECT_TRUE(doneAtReturn) << "Cancel returned while setEvent was still running";
    }));
}

size_t ThreadCount() {
    size_t n = 0;
    DIR* d = opendir("/proc/self/task");
    if (d == nullptr) return 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
    return n;
}

// Arm, with no descriptor to be had: an error other than pending, no thread.
int ArmWithoutDescriptors() {
    RouteWatcher watcher([](Handle) { return true; });
    int tag = 0;
    size_t before = ThreadCount();
    rlimit saved{};
    if (getrlimit(RLIMIT_NOFILE, &saved) != 0) return 2;
    rlimit none = saved;
    none.rlim_cur = 0;
    if (setrlimit(RLIMIT_NOFILE, &none) != 0) return 3;
    uint32_t rc = watcher.Arm(&tag);
    setrlimit(RLIMIT_NOFILE, &saved);
    if (rc == kErrorIoPending) return 4;
    if (rc != kErrorNotSupported) return 5;
    if (ThreadCount() != before) return 6;
    return 0;
}

TEST(RouteWatcherDeathTest, ArmWithoutSocketFailsAndStartsNothing) {
    // A fresh process for the descriptor limit, so no other thread sees it.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(ArmWithoutDescriptors()), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace linuxnet
}  // namespace outlinkwatch
