// Kernel-object emulation and the task timer: the Windows semantics the
// monitor threads rely on.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/lumen_timer.h"
#include "fakes/fake_os.h"
#include "platform/kobjects.h"
#include "platform/thread_timer_host.h"

namespace outlinkwatch {
namespace {

TEST(KernelObjectsTest, EventsAndWaitAny) {
    KernelObjects k(1000);
    Handle autoEv = k.CreateEvent("A", false, false);
    Handle manual = k.CreateEvent(nullptr, true, true);
    Handle again = k.CreateEvent("A", true, true);  // opens the existing one, keeps its kind
    Handle set[2] = {autoEv, manual};

    EXPECT_EQ(k.WaitAny(set, 2, 0), kWaitObject0 + 1) << "manual event starts signalled";
    EXPECT_EQ(k.WaitAny(set, 2, 0), kWaitObject0 + 1) << "and stays so";
    ASSERT_TRUE(k.ResetEvent(manual));
    EXPECT_EQ(k.WaitAny(set, 2, 10), kWaitTimeout);
    ASSERT_TRUE(k.SetEvent(again));
    ASSERT_TRUE(k.SetEvent(manual));
    EXPECT_EQ(k.WaitAny(set, 2, 0), kWaitObject0) << "the lowest signalled index wins";
    EXPECT_EQ(k.WaitAny(set, 2, 0), kWaitObject0 + 1) << "the auto-reset event was consumed";
    ASSERT_TRUE(k.ResetEvent(manual));
    EXPECT_EQ(k.WaitAny(set, 2, 0), kWaitTimeout);

    EXPECT_TRUE(k.Close(again));
    EXPECT_FALSE(k.Close(again)) << "a handle closes once";
    Handle stale[1] = {again};
    EXPECT_EQ(k.WaitAny(stale, 1, 0), kWaitFailed);
    EXPECT_FALSE(k.SetEvent(again));
    EXPECT_EQ(k.WaitAny(set, 0, 0), kWaitFailed);
    EXPECT_TRUE(k.Close(autoEv));
    Handle fresh = k.CreateEvent("A", true, false);  // the name was released: a new event
    Handle f[1] = {fresh};
    EXPECT_EQ(k.WaitAny(f, 1, 0), kWaitTimeout);
    k.Close(fresh);
    k.Close(manual);
}

TEST(KernelObjectsTest, MutexOwnershipAndThreads) {
    KernelObjects k(1000);
    Handle m = k.CreateMutex(true);
    Handle mm[1] = {m};
    EXPECT_EQ(k.WaitAny(mm, 1, 0), kWaitObject0) << "recursive for the owner";
    std::atomic<uint32_t> otherResult{1234};
    std::thread other([&] {
        otherResult = k.WaitAny(mm, 1, 0);
        EXPECT_FALSE(k.ReleaseMutex(m)) << "only the owner releases";
    });
    other.join();
    EXPECT_EQ(otherResult.load(), kWaitTimeout);
    EXPECT_TRUE(k.ReleaseMutex(m));
    EXPECT_TRUE(k.ReleaseMutex(m));
    EXPECT_FALSE(k.ReleaseMutex(m));

    struct Arg {
        KernelObjects* k;
        Handle m;
        uint32_t got;
    } arg{&k, m, 0};
    Handle t = k.StartThread(
        [](void* p) -> uint32_t {
            Arg* a = static_cast<Arg*>(p);
            a->got = a->k->WaitAny(&a->m, 1, kInfinite);
            a->k->ReleaseMutex(a->m);
            return 0;
        },
        &arg);
    ASSERT_NE(t, nullptr);
    Handle tt[1] = {t};
    EXPECT_EQ(k.WaitAny(tt, 1, kInfinite), kWaitObject0) << "a thread handle signals at its end";
    EXPECT_EQ(arg.got, kWaitObject0);
    EXPECT_TRUE(k.Close(t));
    EXPECT_TRUE(k.Close(m));
}

std::mutex g_ticksMu;
std::vector<uint32_t> g_ticks;
void Record(uint32_t a, uint32_t b, uint32_t id, uint32_t c, uint32_t d) {
    EXPECT_EQ(a | b | c | d, 0u);
    std::lock_guard<std::mutex> lock(g_ticksMu);
    g_ticks.push_back(id);
}
std::vector<uint32_t> Ticks() {
    std::lock_guard<std::mutex> lock(g_ticksMu);
    std::vector<uint32_t> t;
    t.swap(g_ticks);
    return t;
}

TEST(LumenTimerTest, StatusCodesAndTicks) {
    FakeOs fake;
    Os* previous = SetOsForTesting(&fake);
    {
        lumenutil::CLumenTimer timer;
        EXPECT_EQ(timer.SetMyTimer(5, 100, 1), lumenutil::kTimerArmFailed) << "no callback yet";
        timer.RegeditMyTimer(Record);
        EXPECT_EQ(timer.SetMyTimer(101, 60000, 1), lumenutil::kTimerArmed);
        EXPECT_EQ(timer.SetMyTimer(101, 1000, 1), lumenutil::kTimerAlreadyArmed);
        EXPECT_EQ(timer.SetMyTimer(7, 1000, 0), lumenutil::kTimerArmed);
        EXPECT_EQ(timer.KillMyTimer(100), lumenutil::kTimerNotArmed);

        fake.AdvanceTime(3000);
        EXPECT_EQ(Ticks(), std::vector<uint32_t>{7}) << "one-shot: once";
        EXPECT_FALSE(timer.IsArmed(7));
        EXPECT_FALSE(fake.TimerArmed(7));
        fake.AdvanceTime(57000);
        EXPECT_EQ(Ticks(), std::vector<uint32_t>{101}) << "the first arming keeps its period";
        fake.AdvanceTime(120000);
        EXPECT_EQ(Ticks(), (std::vector<uint32_t>{101, 101}));
        EXPECT_EQ(timer.KillMyTimer(101), lumenutil::kTimerStopped);
        EXPECT_EQ(timer.KillMyTimer(101), lumenutil::kTimerNotArmed);
        fake.AdvanceTime(120000);
        EXPECT_TRUE(Ticks().empty());
        EXPECT_EQ(timer.SetMyTimer(101, 10, 1), lumenutil::kTimerArmed);
    }
    fake.AdvanceTime(1000);
    EXPECT_TRUE(Ticks().empty()) << "no tick after the timer is gone";
    SetOsForTesting(previous);
}

// The real timer thread: a short timer ticks, and destruction ends the
// thread with timers still armed.
TEST(LumenTimerTest, ThreadHostTicksAndStops) {
    auto host = std::make_unique<ThreadTimerHost>();
    struct Sink : TimerSink {
        std::mutex mu;
        std::condition_variable cv;
        int ticks = 0;
        void OnTimer(uint32_t) override {
            std::lock_guard<std::mutex> lock(mu);
            ++ticks;
            cv.notify_all();
        }
    } sink;
    EXPECT_FALSE(host->Arm(1, 1)) << "not started";
    ASSERT_TRUE(host->Start(&sink));
    EXPECT_FALSE(host->Start(&sink));
    ASSERT_TRUE(host->Arm(1, 1));
    {
        std::unique_lock<std::mutex> lock(sink.mu);
        ASSERT_TRUE(sink.cv.wait_for(lock, std::chrono::seconds(10), [&] { return sink.ticks >= 3; }));
    }
    host->Stop(2000);
    int after;
    {
        std::lock_guard<std::mutex> lock(sink.mu);
        after = sink.ticks;
    }
    EXPECT_FALSE(host->Arm(1, 1));
    host.reset();
    std::lock_guard<std::mutex> lock(sink.mu);
    EXPECT_EQ(sink.ticks, after);
}

}  // namespace
}  // namespace outlinkwatch
