// The task timer's status codes and ticks, on the fake clock.
#include <gtest/gtest.h>

#include <mutex>
#include <utility>
#include <vector>

#include "engine/lumen_timer.h"
#include "fakes/fake_os.h"

namespace outlinkwatch {
namespace {

std::mutex g_ticksMu;
std::vector<uint32_t> g_ticks;
void Record(uint32_t a, uint32_t b, uint32_t id, uint32_t c, uint32_t d) {
    EXPECT_EQ(a | b | c | d, 0u);
    std::lock_guard<std::mutex> lock(g_ticksMu);
    g_ticks.push_back(id);
}
std::vector<uint32_t> Ticks() {  // the ticks since the last call
    std::lock_guard<std::mutex> lock(g_ticksMu);
    return std::exchange(g_ticks, {});
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
        EXPECT_FALSE(timer.IsArmed(7) || fake.TimerArmed(7));
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

}  // namespace
}  // namespace outlinkwatch
