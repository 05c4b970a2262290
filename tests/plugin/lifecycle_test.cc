// Start, stop and the monitor threads on the fake OS with compressed time:
// a minute of the task timer passes in a call, waits are bounded.
#include <gtest/gtest.h>

#include "fakes/policy_rig.h"

namespace outlinkwatch {
namespace {

// Each way Exec fails starts no thread and answers the agent 1 (an
// exception stays inside); a later Exec makes what is missing and starts.
TEST(LifecycleTest, ExecFailurePathsStartNothing) {
    const struct {
        const char* name;
        std::list<PolicyParam> params;
        int throwOnAdapterQuery, failOnMutex;
        bool connMutex, startsLater;
    } rows[] = {
        {"unusable parameters", {Param("Route", "198.51.100.0/24"), Param("Type", "0")}, 0, 0, false, false},
        {"Exec's address query throws", PolicyRig::Params(), 1, 0, false, true},
        {"the second mutex cannot be made", PolicyRig::Params(), 0, 2, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PolicyRig rig(Wrap::kFault);
        rig.policy->SetPolicyParams(row.params);
        rig.fault.throwOnAdapterQuery = row.throwOnAdapterQuery;
        rig.fault.failOnMutex = row.failOnMutex;
        const Monitor& m = rig.policy->m_monitor;
        EXPECT_EQ(rig.policy->Policy().Exec(0), 1);
        EXPECT_TRUE(m.m_hRouteThread == nullptr && m.m_hProxyThread == nullptr && m.m_hProxyMutex == nullptr);
        EXPECT_EQ(m.m_hConnMutex != nullptr, row.connMutex);
        EXPECT_EQ(rig.agent.CountLogs("Begin!!"), 0);
        EXPECT_EQ(rig.policy->Exec(0), row.startsLater ? 0 : 1);
        EXPECT_EQ(m.m_hProxyMutex != nullptr, row.startsLater);
        EXPECT_EQ(rig.policy->done(""), 0);
        EXPECT_EQ(g_bExit.load(), 1);
    }
}

// A monitor thread that could not start leaves the policy running with the
// other: a repeated Exec starts no second one, and done stops the one.
TEST(LifecycleTest, AThreadThatCouldNotStartLeavesTheOtherRunning) {
    PolicyRig rig(Wrap::kFault);
    rig.fault.failOnThread = 2;  // the proxy thread
    rig.policy->SetPolicyParams(PolicyRig::Params());
    ASSERT_EQ(rig.policy->Exec(0), 0);
    ASSERT_TRUE(rig.agent.WaitForLogs("Begin!!", 1));
    EXPECT_EQ(rig.agent.CountLogs("MonitorProxyThread create failed!"), 1);
    EXPECT_EQ(rig.policy->Exec(0), 0);
    EXPECT_EQ(rig.policy->done(""), 0);
    EXPECT_EQ(rig.agent.CountLogs("Begin!!"), 1) << "one route thread, started once";
}

// Past the kernel calls that fail: without the unnamed re-arm events each
// thread waits on the events it has; a failed wait is logged and, after a
// pause, waited again; without its route-change event the route thread
// ends at once and the proxy thread goes on.
TEST(LifecycleTest, ThreadsGoOnPastFailedEventsAndWaits) {
    const struct {
        const char* name;
        bool unnamedEvents;
        const char* failEvent;
        uint32_t failWaits;                   // bit n: the first wait over n handles fails
        uint32_t routeHandles, proxyHandles;  // routeHandles 0: no route thread waits
        int errors;                           // failed waits logged, each after a pause
    } rows[] = {
        {"no re-arm events", false, "", 0, 3, 2, 0},
        {"a failed wait in each thread", true, "", 1u << 3 | 1u << 4, 4, 3, 2},
        {"no route-change event", true, "Routechange", 1u << 3, 0, 3, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PolicyRig rig(Wrap::kFault);
        std::atomic<int> pauses{0};
        rig.fake.sleepHook = [&pauses](uint32_t ms) { pauses += ms == 1000; };
        rig.fault.failUnnamedEvents = !row.unnamedEvents;
        rig.fault.failEventNamed = row.failEvent;
        rig.fault.failNextWaitOver = row.failWaits;
        rig.policy->SetPolicyParams(PolicyRig::Params());
        ASSERT_EQ(rig.policy->Exec(0), 0);
        ASSERT_TRUE(rig.fake.WaitForWaits(row.proxyHandles, 1));
        ASSERT_TRUE(row.routeHandles == 0 || rig.fake.WaitForWaits(row.routeHandles, 1));
        ASSERT_EQ(rig.fake.FireRouteChange(), row.routeHandles == 0 ? 0 : 1);
        EXPECT_TRUE(rig.agent.WaitForLogs("the route changed", row.routeHandles == 0 ? 0 : 1));
        EXPECT_EQ(rig.policy->done(""), 0);
        EXPECT_EQ(rig.agent.CountLogs("CreateEvent Routechange Fail"), row.routeHandles == 0 ? 1 : 0);
        EXPECT_EQ(rig.agent.CountLogs("WaitForMultipleObjects Default Error"), row.errors);
        EXPECT_EQ(pauses.load(), row.errors);
    }
}

// Each way to stop waits for every thread that began, withdraws the route
// request and logs the stop in order; a policy stopped by done starts again.
TEST(LifecycleTest, StopPaths) {
    const struct {
        const char* name;
        bool settled, destroy;
        int rounds;
    } rows[] = {
        {"done after the threads settled", true, false, 1},
        {"done right after Exec", false, false, 20},
        {"the destructor of a running policy", true, true, 1},
    };
    const std::vector<std::string> stops = {"Stop monitor Route thread.", "The Routethread is stopped.",
                                            "Stop monitor proxy thread.", "The Proxythread is stopped.", "Done out"};
    // The process starts, as every policy ends, with neither thread running.
    EXPECT_EQ(g_bRouteThreadStopped.load() + g_bProxyThreadStopped.load(), 2);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PolicyRig rig;
        std::vector<std::string> expected;
        for (int round = 0; round < row.rounds; ++round) {
            if (row.settled) {
                rig.Start();
                EXPECT_EQ(g_bRouteThreadStopped.load() + g_bProxyThreadStopped.load(), 0);
            } else {
                rig.policy->SetPolicyParams(PolicyRig::Params());
                ASSERT_EQ(rig.policy->Exec(0), 0);
            }
            if (row.destroy) {
                rig.policy.reset();
            } else {
                ASSERT_EQ(rig.policy->done(""), 0);
                EXPECT_EQ(rig.fake.OpenHandles(), 0u) << "every event, mutex and thread is closed";
            }
            EXPECT_EQ(g_bRouteThreadStopped.load() + g_bProxyThreadStopped.load() + g_bExit.load(), 3);
            expected.insert(expected.end(), stops.begin(), stops.end() - (row.destroy ? 1 : 0));  // no "Done out"
        }
        EXPECT_EQ(rig.agent.CountLogs("Begin!!"), 2 * row.rounds) << "every thread that began has ended";
        EXPECT_EQ(rig.fake.PendingRouteRequests(), 0) << "the route request is withdrawn";
        std::vector<std::string> order;
        for (const LogLine& l : rig.agent.Logs()) {
            for (const std::string& m : stops) {
                if (l.text.find(m) != std::string::npos) order.push_back(m);
            }
        }
        EXPECT_EQ(order, expected);
        EXPECT_EQ(rig.agent.Logs().front().module, "OutlinkWatch") << "Initialize names the module";
        if (row.destroy) {
            EXPECT_EQ(rig.agent.CountLogs("Begin to release resourse."), 1);
            EXPECT_EQ(g_pPolicy.load(), nullptr);
            rig.policy = std::make_unique<CPolicy>();
            EXPECT_TRUE(g_pPolicy.load() == rig.policy.get() && g_bExit.load() == 0 && g_bRouteThreadStopped.load() == 1 &&
                        g_bProxyThreadStopped.load() == 1) << "a new policy takes over";
            continue;
        }
        ASSERT_EQ(rig.policy->Exec(0), 0) << "and it starts again";
        EXPECT_EQ(g_bExit.load(), 0);
        ASSERT_TRUE(rig.agent.WaitForLogs("Begin!!", 2 * row.rounds + 2));
    }
}

// Set from outside, a named exit event ends its thread and tells the other to end.
TEST(LifecycleTest, ANamedExitEventEndsItsThread) {
    for (const char* name : {"OUTLINKEXIT", "INVALIDPROXYEXIT"}) {
        SCOPED_TRACE(name);
        PolicyRig rig;
        rig.Start();
        const Handle exit = rig.fake.Kernel()->CreateEventObject(name, false, false);
        ASSERT_TRUE(exit != nullptr && rig.fake.Kernel()->SetEventObject(exit));
        const Handle thread = name[0] == 'O' ? rig.policy->m_monitor.m_hRouteThread : rig.policy->m_monitor.m_hProxyThread;
        EXPECT_EQ(rig.fake.Kernel()->WaitForObjects(&thread, 1, 20000000), kWaitObject0) << "the thread ended";
        EXPECT_EQ(g_bExit.load(), 1);
        EXPECT_EQ(rig.policy->done(""), 0);
        EXPECT_EQ(rig.agent.CountLogs("WaitForMultipleObjects Exit"), 2) << "done woke the other thread only";
        rig.fake.Kernel()->CloseObject(exit);
    }
}

// A second Exec keeps the events, the threads and both timers: the proxy
// check still comes 70 s after the start.
TEST(LifecycleTest, ExecTwiceKeepsTheEventsThreadsAndTimers) {
    PolicyRig rig;
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
    PolicyRig rig;
    rig.Start();
    rig.fake.timerArmsFail = true;
    ASSERT_EQ(rig.policy->Exec(0), 0);
    EXPECT_FALSE(rig.fake.TimerArmed(kConnTimerId) || rig.fake.TimerArmed(kProxyTimerId));
    rig.WaitIdle(3, 3);  // woken, tried, and at least once more after a pause
    rig.fake.timerArmsFail = false;
    ASSERT_TRUE(rig.fake.WaitForArmed(kConnTimerId) && rig.fake.WaitForArmed(kProxyTimerId));
    rig.fake.AdvanceTime(70000);
    EXPECT_TRUE(rig.agent.WaitForLogs("conn cyc event active!", 1) && rig.agent.WaitForLogs("check proxy", 1));
    EXPECT_EQ(rig.agent.CountLogs("WaitForMultipleObjects Default Error"), 0) << "a re-arm wake is no error";
}

// A repeated Exec during a long check does not wait for it: the check is
// asked to stop, and the next check reads the new parameters first.
TEST(LifecycleTest, ExecDuringACheckReturnsAndTheNextCheckReadsTheParameters) {
    PolicyRig rig(Wrap::kFault);
    std::atomic<int> polls{0};  // done's looks at the route thread's flag; the first lets the check go on
    rig.fake.sleepHook = [&](uint32_t ms) { (ms == 200 && polls++ == 0) ? rig.fault.SetClosed(false) : void(); };
    rig.Start();
    rig.fault.SetClosed(true);
    rig.fake.AdvanceTime(60000);
    ASSERT_TRUE(rig.fault.WaitHeld());

    rig.policy->SetPolicyParams({Param("Type", "0"), Param("TrancertAddr", "192.0.2.77")});
    CRouteTracer& tracer = rig.policy->m_connCheck.TracerForTesting();
    tracer.m_bRouteChanged.store(0);  // as a trace under way holds it
    EXPECT_EQ(rig.policy->Exec(0), 0);
    EXPECT_EQ(tracer.m_bRouteChanged.load(), 1) << "the running trace is asked to stop";
    EXPECT_EQ(rig.policy->m_bParamsPending.load(), 1);

    rig.fault.SetClosed(false);
    rig.WaitIdle(2, 1);
    ASSERT_EQ(rig.fake.FireRouteChange(), 1);
    ASSERT_TRUE(rig.agent.WaitForLogs("TracertAddr 192.0.2.77", 1));
    EXPECT_EQ(rig.policy->m_bParamsPending.load(), 0);
    EXPECT_TRUE(rig.fake.TimerArmed(kProxyTimerId));

    // done waits for a check under way, looking every 200 ms.
    ASSERT_TRUE(rig.fake.WaitForWaits(4, 3));
    rig.fault.SetClosed(true);
    ASSERT_EQ(rig.fake.FireRouteChange(), 1);
    ASSERT_TRUE(rig.fault.WaitHeld(2));
    EXPECT_EQ(rig.policy->done(""), 0);
    EXPECT_GE(polls.load(), 1);
}

// Everything the policy asks of the OS goes to the seam it was made with,
// even when the process-wide one is replaced later: its adapters have no
// usable address, so the check is skipped.
TEST(LifecycleTest, ThePolicyKeepsItsOwnOs) {
    PolicyRig rig;
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
        PolicyRig rig;
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
    PolicyRig rig;
    for (uint32_t id : {kProxyTimerId, kConnTimerId, 7u}) Timer_CallBack(0, 0, id, 0, 0);
    EXPECT_EQ(rig.agent.CountLogs("check proxy"), 1);
    EXPECT_EQ(rig.agent.CountLogs("Conn Task"), 1) << "a cycle of 0 fires on every tick";
    EXPECT_EQ(rig.policy->m_monitor.m_hProxyChangeEvent.load(), nullptr);
}

TEST(LifecycleTest, RouteChangeDuringACheckGivesExactlyOneMoreCheck) {
    std::atomic<int> pauses{0};  // outlives the rig's threads
    PolicyRig rig(Wrap::kFault);
    rig.fake.sleepHook = [&pauses](uint32_t ms) { pauses += ms == 100 ? 1 : 0; };
    rig.Start();
    rig.fault.SetClosed(true);
    rig.fake.AdvanceTime(60000);  // a cycle check starts and is held
    ASSERT_TRUE(rig.fault.WaitHeld());
    EXPECT_EQ(rig.fake.FireRouteChange(), 1) << "the request armed before the wait";
    EXPECT_EQ(rig.fake.FireRouteChange(), 0) << "no request while the check runs";
    rig.fault.SetClosed(false);

    ASSERT_TRUE(rig.agent.WaitForLogs("the route changed", 1));
    rig.WaitIdle(3, 1);
    EXPECT_EQ(rig.Checks(), 3) << "start, cycle, one for the change";
    EXPECT_EQ(rig.agent.CountLogs("the route changed"), 1);
    EXPECT_EQ(pauses.load(), 2) << "a pause after the cycle check and after the change's";
}

// Timers armed while the timer's thread is busy (on Windows the window
// thread, which an arm has to reach) tick once it is free again.
TEST(LifecycleTest, TimersArmedWhileTheTimerThreadIsBusyStillTick) {
    PolicyRig rig(Wrap::kBusyTimer);
    ASSERT_TRUE(rig.busy.Hold());
    rig.Start();  // both threads have tried their timers
    rig.busy.Release();
    EXPECT_TRUE(rig.agent.WaitForLogs("conn cyc event active!", 1) && rig.agent.WaitForLogs("check proxy", 1));
#ifdef _WIN32
    EXPECT_GE(rig.agent.CountLogs("Set Connection check Task failed, will retry"), 1);
#endif
}

TEST(LifecycleTest, RouteNotificationFailureIsRetried) {
    PolicyRig rig;
    std::atomic<int> pauses{0};
    rig.fake.sleepHook = [&pauses](uint32_t ms) { pauses += ms == 1000; };
    rig.fake.routeNotifyArms = false;
    rig.policy->SetPolicyParams(PolicyRig::Params("1"));
    ASSERT_EQ(rig.policy->Exec(0), 0);
    ASSERT_TRUE(rig.agent.WaitForLogs("Fail!!", 3));
    EXPECT_GE(pauses.load(), 3) << "a pause before each";
    for (const LogLine& l : rig.agent.Logs()) {
        EXPECT_TRUE(l.text.find("Fail!!") == std::string::npos || l.level == 4) << l.text;
    }
}

// An exception in a check is logged and the mutex released for the next
// check (Exec's own address queries take the first three).
TEST(LifecycleTest, ExceptionInACheckStaysInside) {
    PolicyRig rig(Wrap::kFault);
    rig.policy->SetPolicyParams(PolicyRig::Params());
    rig.fault.throwOnAdapterQuery = 3;
    ASSERT_EQ(rig.policy->Policy().Exec(0), 0);
    ASSERT_TRUE(rig.agent.WaitForLogs("Catch an exception when calling TracertCallback.", 1));
    ASSERT_TRUE(rig.fake.WaitForWaits(4, 1));
    ASSERT_EQ(rig.fake.FireRouteChange(), 1);
    ASSERT_TRUE(rig.fake.WaitForWaits(4, 2));
    EXPECT_EQ(rig.Checks(), 1) << "the next check ran";
}

}  // namespace
}  // namespace outlinkwatch
