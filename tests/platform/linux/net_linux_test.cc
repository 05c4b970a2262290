// The Linux network services behind the OS seam. Route changes are made in
// network namespaces the tests create (with `ip -n`, as an administrator or
// a VPN client makes them), never in the machine's own.
#include "platform/linux/net_linux.h"
#include "platform/linux/sysinfo_linux.h"
#include "fakes/event_recorder.h"
#include "fakes/test_netns.h"
#include "platform/os.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace outlinkwatch {
namespace linuxnet {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kEventBound{10000};

bool NetnsReady() { return geteuid() == 0 && Shell("ip -V"); }

// "owv0 66u 198.51.100.7": each adapter with the sizes of its current and
// permanent addresses, whether it is up (and wireless), and its addresses.
std::string Text(const std::vector<AdapterInfo>& list) {
    std::string s;
    for (const AdapterInfo& a : list) {
        s += (s.empty() ? "" : ", ") + a.name + " " + std::to_string(a.mac.size() * 10 + a.permanentMac.size()) +
             (a.up ? "u" : "") + (a.wireless ? "w" : "");
        for (const std::string& ip : a.ipv4) s += " " + ip;
    }
    return s;
}

// As GetAdaptersInfo lists them, at each step: no loopback, an alias label
// under its device, a down adapter (or one without an address) as "0.0.0.0",
// up only with a carrier; one name takes all 15 bytes a name may have.
TEST(GetAdaptersTest, ListFollowsTheInterfaces) {
    if (!NetnsReady()) GTEST_SKIP() << "needs root and the ip tool";
    TestNetns ns("adapters");
    ASSERT_TRUE(ns.ok()) << "cannot make " << ns.name();
    const std::vector<std::pair<const char*, std::string>> steps = {
        {"link add owv0 type veth peer name owv1-15-bytes-x", "owv1-15-bytes-x 66 0.0.0.0, owv0 66 0.0.0.0"},
        {"addr add 198.51.100.9/24 dev owv1-15-bytes-x", "owv1-15-bytes-x 66 0.0.0.0, owv0 66 0.0.0.0"},
        {"link set owv0 up", "owv1-15-bytes-x 66 0.0.0.0, owv0 66 0.0.0.0"},
        {"addr add 198.51.100.7/24 dev owv0 label owv0:1", "owv1-15-bytes-x 66 0.0.0.0, owv0 66 198.51.100.7"},
        {"addr add 198.51.100.8/24 dev owv0", "owv1-15-bytes-x 66 0.0.0.0, owv0 66 198.51.100.7 198.51.100.8"},
        {"link set owv1-15-bytes-x up", "owv1-15-bytes-x 66u 198.51.100.9, owv0 66u 198.51.100.7 198.51.100.8"},
        {"link set owv0 down", "owv1-15-bytes-x 66 198.51.100.9, owv0 66 0.0.0.0"},
        {"link del owv0", ""},
    };
    ASSERT_TRUE(ns.RunInside([&] {
        // A carrier change settles after the command returns: the kernel applies
        // it later and announces it as a link message. So a step reads again on
        // each link message until the list matches, for at most kEventBound.
        const int links = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        sockaddr_nl group{};
        group.nl_family = AF_NETLINK;
        group.nl_groups = RTMGRP_LINK;
        ASSERT_EQ(bind(links, reinterpret_cast<const sockaddr*>(&group), sizeof group), 0);
        for (const auto& [cmd, want] : steps) {
            ASSERT_TRUE(ns.Ip(cmd)) << cmd;
            const auto bound = std::chrono::steady_clock::now() + kEventBound;
            std::string got;
            for (;;) {
                std::vector<AdapterInfo> out{{"stale", {}}};
                uint32_t error = kErrorSuccess;
                EXPECT_TRUE(linuxsys::Adapters(AdapterDetail::kAll, &out, &error)) << cmd;
                got = Text(out);
                const auto left = std::chrono::ceil<milliseconds>(bound - std::chrono::steady_clock::now());
                pollfd p{links, POLLIN, 0};
                char message[8192];
                if (got == want || left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1 ||
                    recv(links, message, sizeof message, MSG_DONTWAIT) < 0)
                    break;
            }
            EXPECT_EQ(got, want) << cmd;
        }
        close(links);
    }));
}

// Every row is answered without a name server.
TEST(ResolveHostIPv4Test, Table) {
    const std::string maxNumeric = std::string(248, '0') + "1.2.3.4";  // 255 bytes, octal first part
    const std::vector<std::pair<std::string, const char*>> rows = {  // host, first address or null: refused
        {"198.51.100.7", "198.51.100.7"}, {"127.1", "127.0.0.1"}, {"0x7f.0.0.1", "127.0.0.1"},
        {maxNumeric, "1.2.3.4"}, {"localhost", "127.0.0.1"}, {"", nullptr}, {std::string(300, 'a'), nullptr},
        {"0" + maxNumeric, nullptr}, {"1.2.3.4.5", nullptr}, {"host.123", nullptr}, {"host\x01", nullptr},
        {"1.2.3.4 ", nullptr}, {std::string("127.0.0.1\0evil", 14), nullptr}, {"host..", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("host '" + row.first + "' (" + std::to_string(row.first.size()) + " bytes)");
        std::vector<uint32_t> addrs{0xdeadbeef};  // must be replaced, not appended to
        ASSERT_EQ(ResolveHostIPv4(row.first, &addrs), row.second != nullptr);
        if (row.first == "localhost") addrs.resize(1);  // the hosts file may list more
        EXPECT_EQ(addrs, row.second ? std::vector<uint32_t>{inet_addr(row.second)} : std::vector<uint32_t>{});
    }
    EXPECT_FALSE(ResolveHostIPv4("127.0.0.1", nullptr));
}

// An rtnetlink message with a whole route body, claiming len bytes, cut to keep.
constexpr uint32_t kFull = NLMSG_LENGTH(sizeof(rtmsg));
std::vector<char> Msg(uint16_t type, uint8_t family, uint32_t len = kFull, size_t keep = NLMSG_SPACE(sizeof(rtmsg))) {
    const struct { nlmsghdr nh; rtmsg rt; } m{{len, type, 0, 0, 0}, {family, 0, 0, 0, 0, 0, 0, 0, 0}};
    const char* p = reinterpret_cast<const char*>(&m);
    return std::vector<char>(p, p + keep);
}
std::vector<char> Cat(std::vector<char> a, const std::vector<char>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(HoldsIPv4RouteChangeTest, Table) {
    const std::vector<char> route = Msg(RTM_NEWROUTE, AF_INET), link = Msg(RTM_NEWLINK, AF_INET);
    // Malformed rows carry a whole IPv4 route body: only the bounds checks stand between them and "changed".
    const std::vector<std::tuple<const char*, std::vector<char>, bool>> rows = {
        {"new IPv4 route", route, true},
        {"IPv6 route", Msg(RTM_NEWROUTE, AF_INET6), false},
        {"link change", link, false},
        {"overrun report", Msg(NLMSG_OVERRUN, 0, NLMSG_HDRLEN, NLMSG_HDRLEN), true},
        {"route behind another message", Cat(link, Msg(RTM_DELROUTE, AF_INET)), true},
        {"second message cut short", Cat(link, Msg(RTM_NEWROUTE, AF_INET, kFull, 8)), false},
        {"part of a header", Msg(RTM_NEWROUTE, AF_INET, kFull, NLMSG_HDRLEN - 1), false},
        {"header without its body", Msg(RTM_NEWROUTE, AF_INET, kFull, NLMSG_HDRLEN), false},
        {"length beyond the datagram", Msg(RTM_NEWROUTE, AF_INET, kFull + 4), false},
        {"length too short for a route", Msg(RTM_NEWROUTE, AF_INET, kFull - 1), false},
        {"zero length", Msg(RTM_NEWROUTE, AF_INET, 0), false},
    };
    for (const auto& row : rows) {  // vector storage is aligned, as the kernel's datagrams are
        SCOPED_TRACE(std::get<0>(row));
        EXPECT_EQ(HoldsIPv4RouteChange(std::get<1>(row).data(), std::get<1>(row).size()), std::get<2>(row));
    }
    const std::vector<char> shifted = Cat({0}, route);
    EXPECT_FALSE(HoldsIPv4RouteChange(nullptr, 64) || HoldsIPv4RouteChange(shifted.data() + 1, route.size()));  // misaligned
}

// A request armed from a thread inside a namespace watches that one (the
// watcher's and the backend's): a request armed twice is one; a pending
// request sleeps without a time-out, so Cancel (and at the end the
// destructor) must wake it.
TEST(RouteWatcherTest, OnlyTheArmingNamespaceSetsTheEvent) {
    if (!NetnsReady()) GTEST_SKIP() << "needs root and the ip tool";
    TestNetns armed("a"), other("b");
    ASSERT_TRUE(armed.ok() && other.ok()) << "cannot make " << armed.name() << " and " << other.name();
    EventRecorder rec;
    RouteWatcher watcher(rec.Callback());
    int tag = 0;
    const auto arm = [&] {
        bool ok = false;
        return armed.RunInside([&] { ok = watcher.Arm(&tag); }) && ok;
    };
    ASSERT_TRUE(arm());
    watcher.Cancel(&tag);
    ASSERT_TRUE(arm() && arm());
    ASSERT_TRUE(other.Ip("route add 198.51.100.0/24 dev lo"));
    // The kernel delivers the notification before `ip` returns, so a second is ample.
    EXPECT_FALSE(rec.WaitForCalls(1, milliseconds(1000))) << "a change in " << other.name() << " set the event";
    ASSERT_TRUE(armed.Ip("route add 198.51.100.0/24 dev lo"));
    ASSERT_TRUE(rec.WaitForCalls(1, kEventBound)) << "no set after a route was added";
    ASSERT_TRUE(arm());  // armed again, a removal is a change just the same
    ASSERT_TRUE(armed.Ip("route del 198.51.100.0/24 dev lo"));
    ASSERT_TRUE(rec.WaitForCalls(2, kEventBound)) << "no set after a route was removed";
    watcher.Cancel(&tag);
    EXPECT_EQ(rec.Count(), 2u);
    ASSERT_TRUE(arm());  // left pending for the destructor
    // The backend's request sets its event: what wakes the policy's route thread.
    std::unique_ptr<Os> os(NewDefaultOs());
    Handle ev = os->Kernel()->CreateEventObject(nullptr, true, false);
    ASSERT_TRUE(armed.RunInside([&] { ASSERT_TRUE(os->Network()->NotifyRouteChange(ev)); }));
    ASSERT_TRUE(armed.Ip("route add 198.51.100.0/24 dev lo"));
    EXPECT_EQ(os->Kernel()->WaitForObjects(&ev, 1, 10000), kWaitObject0);
    os->Network()->CancelRouteChange(ev);
    EXPECT_TRUE(os->Kernel()->CloseObject(ev));
}

// After Cancel returns no setEvent for that event is still running, so a
// caller may close the event right away.
TEST(RouteWatcherTest, CancelWaitsForASetEventUnderWay) {
    if (!NetnsReady()) GTEST_SKIP() << "needs root and the ip tool";
    TestNetns ns("unit");
    ASSERT_TRUE(ns.ok()) << "cannot make " << ns.name();
    int tag = 0;
    EventRecorder entered, released;
    std::atomic<bool> callbackDone{false};
    ASSERT_TRUE(ns.RunInside([&] {
        RouteWatcher watcher([&](Handle h) {
            entered.Set(h);
            released.WaitForCalls(1, kEventBound);
            callbackDone = true;
            return true;
        });
        ASSERT_TRUE(watcher.Arm(&tag));
        ASSERT_TRUE(ns.Ip("route add 198.51.100.0/24 dev lo"));
        ASSERT_TRUE(entered.WaitForCalls(1, kEventBound));
        std::future<bool> doneAtReturn = std::async(std::launch::async, [&] {
            watcher.Cancel(&tag);
            return callbackDone.load();
        });
        doneAtReturn.wait_for(milliseconds(300));  // a Cancel that does not wait may return meanwhile
        released.Set(nullptr);
        EXPECT_TRUE(doneAtReturn.get()) << "Cancel returned while setEvent was still running";
    }));
}

}  // namespace
}  // namespace linuxnet
}  // namespace outlinkwatch
