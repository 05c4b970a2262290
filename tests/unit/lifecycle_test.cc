// Start, stop and the monitor threads on the fake OS with compressed time:
// a minute of the task timer passes in a call, waits are bounded.
#include <gtest/gtest.h>


#include "fakes/fake_os.h"
#include "fakes/fault_os.h"
#include "fakes/params.h"
#include "fakes/recording_agent.h"
#include "plugin/policy.h"

namespace outlinkwatch {
namespace {

// A connection check is visible by the adapter size line it logs.
constexpr const char* kCheckLine = "[CPolicy::IsActivedNetwork]";

enum class Wrap { kNone, kGated, kFailing, kBusyTimer };

// A fake OS (plain, or seen through a fault wrapper), an agent and a policy on them.
struct Rig {
    explicit Rig(Wrap wrap = Wrap::kNone) {
        Os* const os[] = {&fake, &gate, &failing, &busy};
        previous = SetOsForTesting(os[static_cast<int>(wrap)]);
        policy = new CPolicy();
        policy->SetAgent(&agent);
        EXPECT_EQ(policy->Initialize("policy.win.outlink.watch"), 200);
    }
    ~Rig() {
        delete policy;
        SetOsForTesting(previous);
    }
    void Start(const std::string& cycle = "1") {
        policy->SetPolicyParams(Params(cycle));
        ASSERT_EQ(policy->Exec(0), 0);
        WaitIdle(1, 1);
    }
    static std::list<PolicyParam> Params(const std::string& cycle) {
        return {Param("Type", "0"), Param("TrancertAddr", "192.0.2.1"), Param("checkcyc", cycle)};
    }
    // Until the route thread has slept on its events n times and the proxy
    // thread m times; by then each has re-armed its timer.
    void WaitIdle(int routeWaits, int proxyWaits) {
        ASSERT_TRUE(fake.WaitForWaits(4, routeWaits));
        ASSERT_TRUE(fake.WaitForWaits(3, proxyWaits));
    }
    int Checks() { return agent.CountLogs(kCheckLine); }

    FakeOs fake;
    GatedOs gate{&fake};
    FailingOs failing{&fake};
    BusyTimerOs busy{&fake};
    RecordingAgent agent;
    Os* previous = nullptr;
    CPolicy* policy = nullptr;
};

TEST(LifecycleTest, ExecRefusesUnusableParametersAndStartsNothing) {
    Rig rig;
    rig.policy->SetPolicyParams({Param("Route", "198.51.100.0/24"), Param("Type", "0")});
    EXPECT_EQ(rig.policy->Exec(0), 1);
    EXPECT_EQ(rig.policy->m_monitor.m_hRouteThread, nullptr);
    EXPECT_EQ(rig.policy->m_monitor.m_hProxyThread, nullptr);
    EXPECT_EQ(rig.policy->m_monitor.m_hConnMutex, nullptr);
    EXPECT_EQ(rig.policy->done(""), 0);
    EXPECT_EQ(g_bExit.load(), 1);
}

TEST(LifecycleTest, RunAndStopInOrder) {
    Rig rig;
    rig.Start();
    EXPECT_EQ(g_bRouteThreadStopped.load() + g_bProxyThreadStopped.load(), 0);

    EXPECT_EQ(rig.policy->done(""), 0);
    EXPECT_EQ(g_bRouteThreadStopped.load() + g_bProxyThreadStopped.load() + g_bExit.load(), 3);
    EXPECT_EQ(rig.policy->m_monitor.m_hConnExitEvent, nullptr);
    EXPECT_EQ(rig.policy->m_monitor.m_hCheckCycleEvent.load(), nullptr);
    EXPECT_EQ(rig.fake.PendingRouteRequests(), 0) << "the route request is withdrawn";
    const std::vector<std::string> expected = {"Stop monitor Route thread.", "The Routethread is stopped.",
                                               "Stop monitor proxy thread.", "The Proxythread is stopped.", "Done out"};
    std::vector<std::string> order;
    for (const LogLine& l : rig.agent.Logs()) {
        for (const std::string& m : expected) {
            if (l.text.find(m) != std::string::npos) order.push_back(m);
        }
    }
    EXPECT_EQ(order, expected);

    ASSERT_EQ(rig.policy->Exec(0), 0) << "and it starts again";
    EXPECT_EQ(g_bExit.load(), 0);
    ASSERT_TRUE(rig.agent.WaitForLogs("Begin!!", 4));
}

TEST(LifecycleTest, StopRightAfterExecWaitsForTheThreads) {
    Rig rig;
    for (int round = 0; round < 20; ++round) {
        rig.policy->SetPolicyParams(Rig::Params("1"));
        ASSERT_EQ(rig.policy->Exec(0), 0);
        ASSERT_EQ(rig.policy->done(""), 0);
        EXPECT_EQ(g_bRouteThreadStopped.load() + g_bProxyThreadStopped.load(), 2);
    }
    EXPECT_EQ(rig.agent.CountLogs("Begin!!"), 40) << "every thread that began has ended before done returned";
}

// A second Exec keeps the events, the threads and both timers: the proxy
// check still comes 70 s after the start.
TEST(LifecycleTest, ExecTwiceKeepsTheEventsThreadsAndTimers) {
    Rig rig;
    rig.Start();
    const Handle exitEvent = rig.policy->m_monitor.m_hConnExitEvent;
    ASSERT_EQ(rig.policy->Exec(0), 0);
    EXPECT_EQ(rig.policy->m_monitor.m_hConnExitEvent, exitEvent);
    EXPECT_EQ(rig.agent.CountLogs("Begin!!"), 2) << "no second pair of threads";
    EXPECT_EQ(rig.agent.CountLogs("ValidProxy"), 2) << "parameters read again";
    EXPECT_TRUE(rig.fake.TimerArmed(kConnTimerId));
    rig.fake.AdvanceTime(69999);
    EXPECT_EQ(rig.agent.CountLogs("check proxy"), 0);
    rig.fake.AdvanceTime(1);
    EXPECT_TRUE(rig.agent.WaitForLogs("check proxy", 1));
}

// A repeated Exec whose re-arm fails, while both threads sleep without
// time limit: they wake and go on trying until the timers are armed.
TEST(LifecycleTest, ExecWhoseRearmFailsIsRetriedByTheThreads) {
    Rig rig;
    rig.Start();
    rig.fake.timerArmsFail = true;
    ASSERT_EQ(rig.policy->Exec(0), 0);
    EXPECT_FALSE(rig.fake.TimerArmed(kConnTimerId) || rig.fake.TimerArmed(kProxyTimerId));
    rig.WaitIdle(3, 3);  // woken, tried, and at least once more after a pause
    rig.fake.timerArmsFail = false;
    ASSERT_TRUE(rig.fake.WaitForArmed(kConnTimerId));
    ASSERT_TRUE(rig.fake.WaitForArmed(kProxyTimerId));
    rig.fake.AdvanceTime(70000);
    EXPECT_TRUE(rig.agent.WaitForLogs("conn cyc event active!", 1));
    EXPECT_TRUE(rig.agent.WaitForLogs("check proxy", 1));
    EXPECT_EQ(rig.agent.CountLogs("WaitForMultipleObjects Default Error"), 0) << "a re-arm wake is no error";
}

// A repeated Exec during a long check does not wait for it: the check is
// asked to stop, and the next check reads the new parameters first.
TEST(LifecycleTest, ExecDuringACheckReturnsAndTheNextCheckReadsTheParameters) {
    Rig rig(Wrap::kGated);
    rig.Start();
    rig.gate.SetClosed(true);
    rig.fake.AdvanceTime(60000);
    ASSERT_TRUE(rig.gate.WaitHeld());

    rig.policy->SetPolicyParams({Param("Type", "0"), Param("TrancertAddr", "192.0.2.77")});
    CRouteTracer& tracer = rig.policy->m_connCheck.TracerForTesting();
    tracer.m_bRouteChanged.store(0);  // as a trace under way holds it
    EXPECT_EQ(rig.policy->Exec(0), 0);
    EXPECT_EQ(tracer.m_bRouteChanged.load(), 1) << "the running trace is asked to stop";
    EXPECT_EQ(rig.policy->m_bParamsPending.load(), 1);

    rig.gate.SetClosed(false);
    rig.WaitIdle(2, 1);
    ASSERT_EQ(rig.fake.FireRouteChange(), 1);
    ASSERT_TRUE(rig.agent.WaitForLogs("TracertAddr 192.0.2.77", 1));
    EXPECT_EQ(rig.policy->m_bParamsPending.load(), 0);
    EXPECT_TRUE(rig.fake.TimerArmed(kProxyTimerId));
}

// Everything the policy asks of the OS goes to the seam it was made with,
// even when the process-wide one is replaced later: its adapters have no
// usable address, so the check is skipped.
TEST(LifecycleTest, ThePolicyKeepsItsOwnOs) {
    Rig rig;
    FakeOs other;
    Os* outer = SetOsForTesting(&other);
    rig.fake.adapters = {{"lo", {"127.0.0.1"}}};
    rig.Start();
    EXPECT_EQ(rig.agent.CountLogs("Network is invalid. Cancel tracerting!"), 1);
    rig.fake.AdvanceTime(60000);
    EXPECT_EQ(rig.fake.DebugLines(), std::vector<std::string>{"CONN_SLEEPONEMIN_ID"}) << "one tick";
    EXPECT_TRUE(other.DebugLines().empty());
    SetOsForTesting(outer);
}

TEST(LifecycleTest, CheckCycleCountsMinutes) {
    const std::pair<const char*, int> cases[] = {{"1", 1}, {"3", 3}, {"0", 1}, {"-4", 1}};  // cycle, ticks a check
    for (const auto& [cycle, ticksPerCheck] : cases) {
        SCOPED_TRACE(cycle);
        Rig rig;
        rig.Start(cycle);
        for (int check = 1; check <= 2; ++check) {
            for (int tick = 1; tick < ticksPerCheck; ++tick) {
                rig.fake.AdvanceTime(60000);
                EXPECT_EQ(rig.agent.CountLogs("conn cyc event active!"), check - 1);
            }
            rig.fake.AdvanceTime(60000);
            ASSERT_TRUE(rig.agent.WaitForLogs("conn cyc event active!", check));
            rig.WaitIdle(1 + check, 1);
        }
        EXPECT_EQ(rig.agent.CountLogs("Conn Task"), 2);
        EXPECT_EQ(rig.Checks(), 3);
        EXPECT_EQ(rig.agent.CountLogs("Set Connection check Task"), 3) << "armed timers: no wake-up but the checks";
    }
}

TEST(LifecycleTest, TimerTickBeforeExecSetsNothing) {
    Rig rig;
    for (uint32_t id : {kProxyTimerId, kConnTimerId, 7u}) Timer_CallBack(0, 0, id, 0, 0);
    EXPECT_EQ(rig.agent.CountLogs("check proxy"), 1);
    EXPECT_EQ(rig.agent.CountLogs("Conn Task"), 1) << "a cycle of 0 fires on every tick";
    EXPECT_EQ(rig.policy->m_monitor.m_hProxyChangeEvent.load(), nullptr);
}

TEST(LifecycleTest, RouteChangeDuringACheckGivesExactlyOneMoreCheck) {
    Rig rig(Wrap::kGated);
    rig.Start();
    rig.gate.SetClosed(true);
    rig.fake.AdvanceTime(60000);  // a cycle check starts and is held
    ASSERT_TRUE(rig.gate.WaitHeld());
    EXPECT_EQ(rig.fake.FireRouteChange(), 1) << "the request armed before the wait";
    EXPECT_EQ(rig.fake.FireRouteChange(), 0) << "no request while the check runs";
    rig.gate.SetClosed(false);

    ASSERT_TRUE(rig.agent.WaitForLogs("the route changed", 1));
    rig.WaitIdle(3, 1);
    EXPECT_EQ(rig.Checks(), 3) << "start, cycle, one for the change";
    EXPECT_EQ(rig.agent.CountLogs("the route changed"), 1);
}

// Timers armed while the timer's thread is busy (on Windows the window
// thread, which an arm has to reach) tick once it is free again.
TEST(LifecycleTest, TimersArmedWhileTheTimerThreadIsBusyStillTick) {
    Rig rig(Wrap::kBusyTimer);
    ASSERT_TRUE(rig.busy.Hold());
    rig.Start();  // both threads have tried their timers
    rig.busy.Release();
    EXPECT_TRUE(rig.agent.WaitForLogs("conn cyc event active!", 1));
    EXPECT_TRUE(rig.agent.WaitForLogs("check proxy", 1));
#ifdef _WIN32
    EXPECT_GE(rig.agent.CountLogs("Set Connection check Task failed, will retry"), 1);
#endif
}

TEST(LifecycleTest, RouteNotificationFailureIsRetried) {
    Rig rig;
    rig.fake.routeNotifyArms = false;
    rig.policy->SetPolicyParams(Rig::Params("1"));
    ASSERT_EQ(rig.policy->Exec(0), 0);
    ASSERT_TRUE(rig.agent.WaitForLogs("Fail!!", 3));
    for (const LogLine& l : rig.agent.Logs()) {
        EXPECT_TRUE(l.text.find("Fail!!") == std::string::npos || l.level == 4) << l.text;
    }
}

TEST(LifecycleTest, ExceptionsStayInside) {
    Rig rig(Wrap::kFailing);
    rig.policy->SetPolicyParams(Rig::Params("1"));
    // Exec's own list of local addresses takes the first query: the agent
    // gets the failure answer, not the exception.
    rig.failing.throwOnAdapterQuery = 1;
    EXPECT_EQ(rig.policy->Policy().Exec(0), 1);
    // The first check's query throws (Exec's own take the next two):
    // logged, and the mutex released for the next check.
    rig.failing.throwOnAdapterQuery = 4;
    ASSERT_EQ(rig.policy->Policy().Exec(0), 0);
    ASSERT_TRUE(rig.agent.WaitForLogs("Catch an exception when calling TracertCallback.", 1));
    ASSERT_TRUE(rig.fake.WaitForWaits(4, 1));
    ASSERT_EQ(rig.fake.FireRouteChange(), 1);
    ASSERT_TRUE(rig.fake.WaitForWaits(4, 2));
    EXPECT_EQ(rig.Checks(), 1) << "the next check ran";
}

// An Exec that got the first mutex and not the second: the next Exec makes
// the missing one, so the proxy check is serialised again.
TEST(LifecycleTest, ExecMakesEachMissingMutex) {
    Rig rig(Wrap::kFailing);
    rig.policy->SetPolicyParams(Rig::Params("1"));
    rig.failing.failOnMutex = 2;
    EXPECT_EQ(rig.policy->Exec(0), 1);
    EXPECT_NE(rig.policy->m_monitor.m_hConnMutex, nullptr);
    EXPECT_EQ(rig.policy->m_monitor.m_hProxyMutex, nullptr);
    EXPECT_EQ(rig.policy->Exec(0), 0);
    EXPECT_NE(rig.policy->m_monitor.m_hProxyMutex, nullptr);
}

TEST(LifecycleTest, DestructorStopsARunningPolicy) {
    Rig rig;
    rig.Start();
    delete rig.policy;
    rig.policy = nullptr;
    EXPECT_EQ(rig.agent.CountLogs("Begin to release resourse."), 1);
    EXPECT_EQ(g_bRouteThreadStopped.load() + g_bProxyThreadStopped.load(), 2);
    EXPECT_EQ(g_pPolicy.load(), nullptr);
}

}  // namespace
}  // namespace outlinkwatch
