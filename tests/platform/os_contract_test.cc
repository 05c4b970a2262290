// What the shared code relies on from the OS seam, checked on the test fake
// and on the backend of this build alike (Linux here, Win32 under Wine): a
// test on the fake says something about the product only while the two
// agree.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>

#include "fakes/fake_os.h"
#include "fakes/fault_os.h"
#include "fakes/temp_dir.h"
#include "platform/os.h"
#include "platform/private_dir_rule.h"

namespace outlinkwatch {
namespace {

using std::chrono::milliseconds;

struct FakeBackend {
    static std::unique_ptr<Os> Make() { return std::make_unique<FakeOs>(); }
    // Time on the fake passes only when the test moves it.
    static void Advance(Os* os, uint32_t ms) { static_cast<FakeOs*>(os)->AdvanceTime(ms); }
};

struct BuildBackend {
    static std::unique_ptr<Os> Make() { return std::unique_ptr<Os>(NewDefaultOs()); }
    static void Advance(Os*, uint32_t) {}
};

template <typename Backend>
class OsContractTest : public testing::Test {
protected:
    std::unique_ptr<Os> os_ = Backend::Make();
};

using Backends = testing::Types<FakeBackend, BuildBackend>;
TYPED_TEST_SUITE(OsContractTest, Backends);

TYPED_TEST(OsContractTest, EventsAndWaits) {
    Os* os = this->os_.get();
    Handle autoEv = os->Kernel()->CreateEventObject("OwContractA", false, false);
    Handle manual = os->Kernel()->CreateEventObject(nullptr, true, true);
    Handle again = os->Kernel()->CreateEventObject("OwContractA", false, false);  // the same event
    ASSERT_TRUE(autoEv && manual && again);
    Handle set[2] = {autoEv, manual};

    EXPECT_EQ(os->Kernel()->WaitForObjects(set, 2, 0), kWaitObject0 + 1) << "manual event starts signalled";
    EXPECT_EQ(os->Kernel()->WaitForObjects(set, 2, 0), kWaitObject0 + 1) << "and stays so";
    ASSERT_TRUE(os->Kernel()->ResetEventObject(manual));
    EXPECT_EQ(os->Kernel()->WaitForObjects(set, 2, 20), kWaitTimeout);
    ASSERT_TRUE(os->Kernel()->SetEventObject(again));
    ASSERT_TRUE(os->Kernel()->SetEventObject(manual));
    EXPECT_EQ(os->Kernel()->WaitForObjects(set, 2, 0), kWaitObject0) << "the lowest signalled index wins";
    EXPECT_EQ(os->Kernel()->WaitForObjects(set, 2, 0), kWaitObject0 + 1) << "the auto-reset event was consumed";
    EXPECT_EQ(os->Kernel()->WaitForObjects(set, 0, 0), kWaitFailed);

    // Handles of one kind do not pass for another.
    Handle mutex = os->Kernel()->CreateMutexObject(false);
    ASSERT_NE(mutex, nullptr);
    EXPECT_FALSE(os->Kernel()->SetEventObject(mutex));
    EXPECT_FALSE(os->Kernel()->ResetEventObject(mutex));
    EXPECT_FALSE(os->Kernel()->ReleaseMutexObject(autoEv));
    for (Handle h : {autoEv, manual, again, mutex}) EXPECT_TRUE(os->Kernel()->CloseObject(h));
}

TYPED_TEST(OsContractTest, MutexOwnershipAndThreads) {
    Os* os = this->os_.get();
    Handle m = os->Kernel()->CreateMutexObject(true);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(os->Kernel()->WaitForObjects(&m, 1, 0), kWaitObject0) << "recursive for its owner";

    struct Arg { Os* os; Handle m; uint32_t early = 0, late = 0; bool foreignRelease = true; } arg{os, m};
    auto body = [](void* p) -> uint32_t {
        Arg* a = static_cast<Arg*>(p);
        a->early = a->os->Kernel()->WaitForObjects(&a->m, 1, 0);
        a->foreignRelease = a->os->Kernel()->ReleaseMutexObject(a->m);
        return 0;
    };
    Handle t = os->Kernel()->StartThread(body, &arg);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(os->Kernel()->WaitForObjects(&t, 1, kInfinite), kWaitObject0) << "a thread handle signals at its end";
    EXPECT_EQ(arg.early, kWaitTimeout);
    EXPECT_FALSE(arg.foreignRelease) << "only the owner releases";
    EXPECT_TRUE(os->Kernel()->CloseObject(t));

    EXPECT_TRUE(os->Kernel()->ReleaseMutexObject(m));
    EXPECT_TRUE(os->Kernel()->ReleaseMutexObject(m));
    EXPECT_FALSE(os->Kernel()->ReleaseMutexObject(m)) << "released as often as taken";
    t = os->Kernel()->StartThread(
        [](void* p) -> uint32_t {
            Arg* a = static_cast<Arg*>(p);
            a->late = a->os->Kernel()->WaitForObjects(&a->m, 1, kInfinite);
            a->os->Kernel()->ReleaseMutexObject(a->m);
            return 0;
        },
        &arg);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(os->Kernel()->WaitForObjects(&t, 1, kInfinite), kWaitObject0);
    EXPECT_EQ(arg.late, kWaitObject0);
    EXPECT_TRUE(os->Kernel()->CloseObject(t));
    EXPECT_TRUE(os->Kernel()->CloseObject(m));
}

// The shape of the adapter list the shared code sizes its records from.
TYPED_TEST(OsContractTest, AdapterList) {
    Os* os = this->os_.get();
    std::vector<AdapterInfo> list{{"stale", {"203.0.113.1"}}};
    uint32_t error = kErrorSuccess;
    ASSERT_TRUE(os->Network()->Adapters(AdapterDetail::kAll, &list, &error)) << error;
    for (const AdapterInfo& a : list) {
        SCOPED_TRACE(a.name);
        EXPECT_NE(a.name, "stale");
        ASSERT_FALSE(a.ipv4.empty()) << "an adapter without an address shows 0.0.0.0";
        for (const std::string& ip : a.ipv4) EXPECT_NE(ip, "127.0.0.1") << "no loopback adapter";
    }
}

TYPED_TEST(OsContractTest, Resolution) {
    Os* os = this->os_.get();
    std::vector<uint32_t> addrs{7};
    ASSERT_TRUE(os->Network()->ResolveHostIPv4("192.0.2.33", &addrs));
    const unsigned char want[4] = {192, 0, 2, 33};
    ASSERT_EQ(addrs.size(), 1u);
    EXPECT_EQ(std::memcmp(&addrs[0], want, 4), 0) << "network order";
    addrs = {7};
    EXPECT_FALSE(os->Network()->ResolveHostIPv4("", &addrs));
    EXPECT_TRUE(addrs.empty()) << "a failed resolution leaves nothing behind";
}

TYPED_TEST(OsContractTest, ProfileStringsAndFiles) {
    Os* os = this->os_.get();
    TempDir dir;
    const std::string path = dir.path() + "/test.ini";
    std::ofstream(path, std::ios::binary) << "[Main]\r\nKey = \"quoted value\"\r\nOther=1\r\n[main]\r\nKey=second\r\n";
    const struct { const char* section; const char* key; uint32_t size; std::string want; } rows[] = {
        {"MAIN", "key", 64, "quoted value"},
        {"Main", "missing", 64, "dflt"},
        {"Main", "Key", 7, "quoted"},
        {"Main", nullptr, 64, std::string("Key\0Other\0", 10)},
        {"Nowhere", "Key", 64, "dflt"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.section) + "/" + (r.key ? r.key : "(all)"));
        FileText value;
        EXPECT_TRUE(os->Files()->ReadProfileString(r.section, r.key, "dflt", path, r.size, &value));
        std::string got = value.ansi();
        // A name list may carry its closing NUL or not; the names are what count.
        if (r.key == nullptr && got.size() == r.want.size() - 1) got.push_back('\0');
        EXPECT_EQ(got, r.want);
    }
    std::string text, whole;
    ASSERT_TRUE(os->Files()->ReadFileBytes(path, 8, &text) && os->Files()->ReadFileBytes(path, 4097, &whole));
    EXPECT_EQ(text + std::to_string(whole.size()), "[Main]\r\n59") << "the bytes as they are, cut at the cap";
    EXPECT_FALSE(os->Files()->ReadFileBytes(dir.path() + "/absent.ini", 6, &text));
    EXPECT_FALSE(os->Files()->ReadFileBytes(dir.path(), 6, &text)) << "a directory";
    EXPECT_TRUE(os->Files()->FileExists(path));
    const std::wstring widePath(path.begin(), path.end());  // the same call on a wide path answers wide text
    EXPECT_TRUE(os->Files()->FileExists(widePath));
    FileText wide;
    EXPECT_TRUE(os->Files()->ReadProfileString(L"main", L"OTHER", L"", widePath, 64, &wide));
    EXPECT_TRUE(wide.wide() && wide.wideText() == L"1");
}

// Route-change requests: armed and withdrawn; a withdrawn request sets
// nothing. Where the system has no such notification (Wine answers "not
// supported"), the policy's retry path covers it: see the lifecycle tests.
TYPED_TEST(OsContractTest, RouteChangeRequest) {
    Os* os = this->os_.get();
    Handle ev = os->Kernel()->CreateEventObject(nullptr, true, false);
    ASSERT_NE(ev, nullptr);
    if (!os->Network()->NotifyRouteChange(ev)) {
        os->Kernel()->CloseObject(ev);
        GTEST_SKIP() << "route-change notification is not supported on this system";
    }
    EXPECT_TRUE(os->Network()->NotifyRouteChange(ev)) << "a second request for the same event is still pending";
    os->Network()->CancelRouteChange(ev);
    os->Network()->CancelRouteChange(ev);
    EXPECT_EQ(os->Kernel()->WaitForObjects(&ev, 1, 0), kWaitTimeout);
    EXPECT_TRUE(os->Kernel()->CloseObject(ev));
}

// A timer repeats until disarmed, and Stop waits out a tick under way,
// however short its own bound: no tick reaches the sink after it. On the
// fake each tick is a step of its clock; the backend ticks in real time.
TYPED_TEST(OsContractTest, TimerHostTicksAndStops) {
    Os* os = this->os_.get();
    std::unique_ptr<TimerHost> host = os->Clock()->CreateTimerHost();
    CountingSink sink;
    const uint64_t startMs = os->Clock()->MonotonicMs();
    std::tm tm{};
    EXPECT_TRUE(os->Clock()->LocalTime(0, &tm) && os->Clock()->LocalTime(kMaxLocalTime, &tm)) << "the first and last";
    EXPECT_FALSE(os->Clock()->LocalTime(-1, &tm)) << "before 1970";
    EXPECT_FALSE(os->Clock()->LocalTime(kMaxLocalTime + 86400, &tm)) << "a day past the last";
    EXPECT_FALSE(host->Arm(1, 5)) << "not started";
    ASSERT_TRUE(host->Start(&sink));
    EXPECT_FALSE(host->Start(&sink)) << "started once";
    ASSERT_TRUE(host->Arm(3, 5));
    for (int i = 0; i < 3; ++i) TypeParam::Advance(os, 5);
    EXPECT_TRUE(sink.WaitFor([&] { return sink.ticks >= 3; }));

    sink.Hold(true);
    std::thread clock([&] { TypeParam::Advance(os, 5); });  // the next tick, held in the sink
    EXPECT_TRUE(sink.WaitFor([&] { return sink.inTick; }));
    bool stopping = false, stopped = false;  // guarded by the sink's lock
    std::thread release([&] {
        sink.WaitFor([&] { return stopping; });
        // A Stop that returned during the tick ends this bounded wait early
        // and is caught below; a right one is still waiting when it ends.
        sink.WaitFor([&] { return stopped; }, milliseconds(50));
        sink.Hold(false);
    });
    sink.Notify([&] { stopping = true; });
    host->Stop(0);
    bool inTick = true;
    sink.Notify([&] { inTick = sink.inTick, stopped = true; });
    EXPECT_FALSE(inTick) << "Stop returned during a tick";
    const int after = sink.Locked([&] { return sink.ticks; });
    release.join();
    clock.join();
    TypeParam::Advance(os, 20);
    EXPECT_EQ(sink.Locked([&] { return sink.ticks; }), after) << "a tick after Stop";
    EXPECT_EQ(sink.last, 3u);
    EXPECT_GE(os->Clock()->MonotonicMs() - startMs, 15u) << "the clock went on through three ticks of 5 ms";
    EXPECT_FALSE(host->Arm(3, 5) || host->Start(&sink)) << "stopped for good";
}

// The route trace's directory on Windows is judged on facts read from its
// open handle; the judgement is the same on every build.
TEST(PrivateDirectoryRuleTest, OnlyTheSystemAdministratorsAndSelfMayWrite) {
    using T = Trustee;
    const AccessEntry sys{T::kSystem, true, false}, admins{T::kAdministrators, true, false}, self{T::kSelf, true, false};
    const std::vector<AccessEntry> made{sys, admins, self};
    auto with = [&](std::vector<AccessEntry> more) {
        more.insert(more.begin(), made.begin(), made.end());
        return more;
    };
    const struct {
        const char* name;
        DirectoryFacts facts;
        bool fit;
    } rows[] = {
        {"as made", {true, false, true, T::kSelf, made}, true},
        {"owned by the system", {true, false, true, T::kSystem, made}, true},
        {"owned by the administrators", {true, false, true, T::kAdministrators, made}, true},
        {"owned by another account", {true, false, true, T::kOther, made}, false},
        {"empty access list", {true, false, true, T::kSelf, {}}, true},
        {"null access list", {true, false, false, T::kSelf, {}}, false},
        {"a file", {false, false, true, T::kSelf, made}, false},
        {"a junction", {true, true, true, T::kSelf, made}, false},
        {"others may read", {true, false, true, T::kSelf, with({{T::kOther, false, false}})}, true},
        {"others may write", {true, false, true, T::kSelf, with({{T::kOther, true, false}})}, false},
        {"inherited, even the system's", {true, false, true, T::kSelf, with({{T::kSystem, true, true}})}, false},
        {"inherited read for others", {true, false, true, T::kSelf, with({{T::kOther, false, true}})}, false},
    };
    for (const auto& row : rows) EXPECT_EQ(IsPrivateDirectory(row.facts), row.fit) << row.name;

    // Read, list, traverse, read attributes and permissions, synchronize,
    // generic read and execute; then each right of the write type alone.
    for (uint32_t mask : {0x0u, 0x1u, 0x8u, 0x20u, 0x80u, 0x20000u, 0x100000u, 0x1200a9u, 0x80000000u, 0x20000000u}) {
        EXPECT_FALSE(GrantsWriteType(mask)) << std::hex << mask;
    }
    for (uint32_t mask : {0x2u, 0x4u, 0x10u, 0x40u, 0x100u, 0x10000u, 0x40000u, 0x80000u, 0x1000000u, 0x2000000u,
                          0x10000000u, 0x40000000u, 0x1301ffu, 0x1f01ffu}) {
        EXPECT_TRUE(GrantsWriteType(mask)) << std::hex << mask;
    }
}

}  // namespace
}  // namespace outlinkwatch
