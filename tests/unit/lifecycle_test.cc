// Start, stop and the monitor threads on the fake OS with compressed time:
// a minute of the task timer passes in a call, waits are bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <memory>

#include "fakes/fake_os.h"
#include "fakes/fault_os.h"
#include "fakes/params.h"
#include "fakes/recording_agent.h"
#include "plugin/policy.h"

namespace outlinkwatch {
namespace {

// A connection check is visible by the adapter size line it logs.
constexpr const char* kCheckLine = "[CPolicy::IsActivedNetwork]";

// A fake OS, an agent and a policy on them, made fresh for every case.
struct Rig {
    explicit Rig(bool gated = false) {
        if (gated) gate = std::make_unique<GatedOs>(&fake);
        previous = SetOsForTesting(gated ? static_cast<Os*>(gate.get()) : &fake);
        policy = new CPolicy();
        policy->SetAgent(&agent);
        EXPECT_EQ(policy->Initialize("policy.win.outlink.watch"), 200);
    }
    ~Rig() {
        delete policy;
        SetOsForTesting(previous);
    }

    void Start(std::list<PolicyParam> params) {
        policy->SetPolicyParams(params);
        ASSERT_EQ(policy->Exec(0), 0);
        WaitIdle(1, 1);
    }

    // Waits until the route thread has gone to sleep on its events for the
    // n-th time and the proxy thread for the m-th time; by then each has
    // re-armed its timer.
    void WaitIdle(int routeWaits, int proxyWaits) {
        ASSERT_TRUE(fake.WaitForWaits(3, routeWaits));
        ASSERT_TRUE(fake.WaitForWaits(2, proxyWaits));
    }

    int Checks() { return agent.CountLogs(kCheckLine); }
    int ConnTicks() {
        const std::vector<std::string> lines = fake.DebugLines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), "CONN_SLEEPONEMIN_ID"));
    }

    FakeOs fake;
    std::unique_ptr<GatedOs> gate;
    RecordingAgent agent;
    Os* previous = nullptr;
    CPolicy* policy = nullptr;
};

class LifecycleTest : public ::testing::Test {
protected:
    void SetUp() override { rig_ = std::make_unique<Rig>(); }
    void TearDown() override { rig_.reset(); }
    void Fresh() {
        rig_.reset();
        rig_ = std::make_unique<Rig>();
    }

    std::unique_ptr<Rig> rig_;
};

std::list<PolicyParam> RouteParams(const std::string& cycle) {
    return {Param("Type", "0"), Param("TrancertAddr", "192.0.2.1"), Param("checkcyc", cycle)};
}

TEST_F(LifecycleTest, InitializeChecksTheTypeAndRecordsTheOsCode) {
    struct Case {
        const char* type;
        int result;
    } cases[] = {{"policy.win.outlink.watch", 200}, {"policy.win.outlink.watch ", -1}, {"", -1}};
    for (const Case& c : cases) {
        CPolicy policy;
        policy.SetModuleName("x");
        EXPECT_EQ(policy.Initialize(c.type), c.result) << c.type;
        EXPECT_EQ(policy.GetModuleName(), "OutlinkWatch") << "set in either case";
    }
    EXPECT_EQ(g_nOSCode.load(), 122) << "the fake answers as the newest NT family";
}

TEST_F(LifecycleTest, ExecRefusesUnusableParametersAndStartsNothing) {
    rig_->policy->SetPolicyParams({Param("Route", "198.51.100.0/24"), Param("Type", "0")});
    EXPECT_EQ(rig_->policy->Exec(0), 1);
    EXPECT_EQ(rig_->agent.CountLogs("Invalid parameters Exit!"), 1);
    EXPECT_EQ(rig_->agent.CountLogs("Create Exit Event"), 1) << "events come before the parameters";
    EXPECT_EQ(rig_->policy->m_hRouteThread, nullptr);
    EXPECT_EQ(rig_->policy->m_hProxyThread, nullptr);
    EXPECT_EQ(rig_->policy->m_hConnMutex, nullptr);
    EXPECT_EQ(rig_->policy->done(""), 0);
}

TEST_F(LifecycleTest, DoneOnAPolicyThatNeverRan) {
    EXPECT_EQ(rig_->policy->done(""), 0);
    EXPECT_EQ(rig_->agent.CountLogs("Done out"), 1);
    EXPECT_EQ(rig_->agent.CountLogs("Stop monitor"), 0) << "no exit event, no wait";
    EXPECT_EQ(g_bExit.load(), 1);
}

TEST_F(LifecycleTest, RunAndStopInOrder) {
    rig_->Start(RouteParams("1"));
    EXPECT_EQ(rig_->agent.CountLogs("[MonitorRouteThread] [line="), 1);
    EXPECT_EQ(rig_->Checks(), 1) << "one check at start";
    EXPECT_EQ(g_bRouteThreadStopped.load(), 0);
    EXPECT_EQ(g_bProxyThreadStopped.load(), 0);

    EXPECT_EQ(rig_->policy->done(""), 0);
    EXPECT_EQ(g_bRouteThreadStopped.load(), 1);
    EXPECT_EQ(g_bProxyThreadStopped.load(), 1);
    EXPECT_EQ(g_bExit.load(), 1);
    EXPECT_EQ(rig_->policy->m_hConnExitEvent, nullptr);
    EXPECT_EQ(rig_->policy->m_hCheckCycleEvent.load(), nullptr);
    EXPECT_EQ(rig_->fake.PendingRouteRequests(), 0) << "the route request is withdrawn";

    // The stop messages come in the documented order.
    std::vector<std::string> order;
    for (const LogLine& l : rig_->agent.Logs()) {
        for (const char* m : {"Stop monitor Route thread.", "The Routethread is stopped.", "Stop monitor proxy thread.",
                              "The Proxythread is stopped.", "Done out"}) {
            if (l.text.find(m) != std::string::npos) order.push_back(m);
        }
    }
    const std::vector<std::string> expected = {"Stop monitor Route thread.", "The Routethread is stopped.",
                                               "Stop monitor proxy thread.", "The Proxythread is stopped.", "Done out"};
    EXPECT_EQ(order, expected);

    // And it starts again.
    ASSERT_EQ(rig_->policy->Exec(0), 0);
    EXPECT_EQ(g_bExit.load(), 0);
    ASSERT_TRUE(rig_->agent.WaitForLogs("Begin!!", 4));
}

TEST_F(LifecycleTest, StopRightAfterExecWaitsForTheThreads) {
    for (int round = 0; round < 20; ++round) {
        rig_->policy->SetPolicyParams(RouteParams("1"));
        ASSERT_EQ(rig_->policy->Exec(0), 0);
        ASSERT_EQ(rig_->policy->done(""), 0);
        EXPECT_EQ(g_bRouteThreadStopped.load(), 1);
        EXPECT_EQ(g_bProxyThreadStopped.load(), 1);
    }
    // Every thread that began has also ended before done returned.
    EXPECT_EQ(rig_->agent.CountLogs("Begin!!"), 40);
}

TEST_F(LifecycleTest, ExecTwiceKeepsTheEventsAndTheThreads) {
    rig_->Start(RouteParams("1"));
    const Handle exitEvent = rig_->policy->m_hConnExitEvent;
    const Handle routeThread = rig_->policy->m_hRouteThread;
    ASSERT_EQ(rig_->policy->Exec(0), 0);
    EXPECT_EQ(rig_->policy->m_hConnExitEvent, exitEvent);
    EXPECT_EQ(rig_->policy->m_hRouteThread, routeThread);
    EXPECT_EQ(rig_->agent.CountLogs("Create Exit Event"), 1);
    EXPECT_EQ(rig_->agent.CountLogs("Begin!!"), 2) << "no second pair of threads";
    EXPECT_EQ(rig_->agent.CountLogs("ValidProxy"), 2) << "parameters read again";
    // Both timers run on: the proxy check comes 70 s later.
    EXPECT_TRUE(rig_->fake.TimerArmed(kProxyTimerId));
    EXPECT_TRUE(rig_->fake.TimerArmed(kConnTimerId));
    rig_->fake.AdvanceTime(70000);
    EXPECT_TRUE(rig_->agent.WaitForLogs("check proxy", 1));
}

// A repeated Exec during a long check does not wait for it: the check is
// asked to stop, and the next check reads the new parameters first.
TEST(LifecycleGatedTest, ExecDuringACheckReturnsAndTheNextCheckReadsTheParameters) {
    Rig rig(/*gated=*/true);
    rig.Start(RouteParams("1"));
    rig.gate->Close();
    rig.fake.AdvanceTime(60000);
    ASSERT_TRUE(rig.gate->WaitHeld());

    rig.policy->SetPolicyParams({Param("Type", "0"), Param("TrancertAddr", "192.0.2.77")});
    EXPECT_EQ(rig.policy->Exec(0), 0);
    EXPECT_EQ(rig.policy->m_tracer.m_bRouteChanged.load(), 1) << "the running trace is asked to stop";
    EXPECT_EQ(rig.policy->m_bParamsPending.load(), 1);
    EXPECT_EQ(rig.agent.CountLogs("TracertAddr 192.0.2.77"), 0);

    rig.gate->Open();
    rig.WaitIdle(2, 1);
    ASSERT_EQ(rig.fake.FireRouteChange(), 1);
    ASSERT_TRUE(rig.agent.WaitForLogs("TracertAddr 192.0.2.77", 1));
    EXPECT_EQ(rig.policy->m_bParamsPending.load(), 0);
    EXPECT_TRUE(rig.fake.TimerArmed(kProxyTimerId));
}

// The adapter query keeps the two-step size protocol: a list that grows
// between the two steps is asked for again with the size the failing step
// reported, and a list too large to hold is refused.
TEST_F(LifecycleTest, AdapterListSizeProtocol) {
    struct Case {
        const char* name;
        size_t adapters;
        size_t growBy;
        std::vector<std::string> sizeLines;
        const char* last;
    } cases[] = {
        {"steady", 1, 0, {"640"}, nullptr},
        {"one more fits the spare record", 1, 1, {"640"}, nullptr},
        {"grows by two", 1, 2, {"1920", "ERROR_BUFFER_OVERFLOW ", "2560"}, nullptr},
        {"too large to hold", 30000, 0, {}, "pAdapterListBuffer == NULL!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        std::vector<AdapterInfo> list(c.adapters, AdapterInfo{"eth", {"0.0.0.0"}});
        list.back().ipv4 = {"192.0.2.10"};
        rig_->fake.SetAdapters(list);
        CPolicy& policy = *rig_->policy;
        for (size_t i = 0; i < c.growBy; ++i) rig_->fake.GrowAdaptersAfterNextQuery(AdapterInfo{"new", {"0.0.0.0"}});
        EXPECT_EQ(policy.IsActivedNetwork(), c.last == nullptr ? 1 : 0);
        std::vector<std::string> lines;
        for (const LogLine& l : rig_->agent.Logs()) {
            const size_t at = l.text.rfind(']');
            if (l.text.find("IsActivedNetwork") != std::string::npos && at != std::string::npos)
                lines.push_back(l.text.substr(at + 1));
        }
        if (c.last != nullptr) {
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back(), c.last);
        } else {
            EXPECT_EQ(lines, c.sizeLines);
        }
    }
}

// Everything the policy asks of the OS goes to the seam it was made with,
// even when the process-wide one is replaced later.
TEST_F(LifecycleTest, ThePolicyKeepsItsOwnOs) {
    FakeOs other;
    Os* outer = SetOsForTesting(&other);
    rig_->Start(RouteParams("1"));
    rig_->fake.AdvanceTime(60000);
    EXPECT_EQ(rig_->ConnTicks(), 1);
    EXPECT_TRUE(other.DebugLines().empty());
    SetOsForTesting(outer);
}

// The agent may hand parameters in while the threads read them.
TEST_F(LifecycleTest, ParametersChangeWhileChecksRun) {
    rig_->Start(RouteParams("1"));
    for (int i = 0; i < 50; ++i) {
        rig_->policy->SetPolicyParams(RouteParams(std::to_string(i % 3)));
        if (i % 10 == 0) rig_->fake.FireRouteChange();
        rig_->policy->ClearPolicyParams();
    }
    EXPECT_EQ(rig_->policy->done(""), 0);
}

TEST_F(LifecycleTest, CheckCycleCountsMinutes) {
    struct Case {
        const char* cycle;
        int ticksPerCheck;
    } cases[] = {{"1", 1}, {"3", 3}, {"0", 1}, {"-4", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cycle);
        Fresh();
        rig_->Start(RouteParams(c.cycle));
        for (int check = 1; check <= 2; ++check) {
            for (int tick = 1; tick < c.ticksPerCheck; ++tick) {
                rig_->fake.AdvanceTime(60000);
                EXPECT_EQ(rig_->agent.CountLogs("conn cyc event active!"), check - 1);
            }
            rig_->fake.AdvanceTime(60000);
            ASSERT_TRUE(rig_->agent.WaitForLogs("conn cyc event active!", check));
            rig_->WaitIdle(1 + check, 1);
        }
        EXPECT_EQ(rig_->agent.CountLogs("Conn Task"), 2);
        EXPECT_EQ(rig_->Checks(), 3);
        rig_->policy->done("");
    }
}

TEST_F(LifecycleTest, RouteChangeRestartsThePeriodButNotTheMinuteCount) {
    rig_->Start(RouteParams("3"));
    rig_->fake.AdvanceTime(60000);  // tick 1
    rig_->fake.AdvanceTime(50000);
    ASSERT_EQ(rig_->fake.FireRouteChange(), 1);
    rig_->WaitIdle(2, 1);  // timer 101 re-armed: its next tick is 60 s from now
    rig_->fake.AdvanceTime(59999);
    EXPECT_EQ(rig_->ConnTicks(), 1);
    rig_->fake.AdvanceTime(1);  // tick 2
    EXPECT_EQ(rig_->ConnTicks(), 2);
    EXPECT_EQ(rig_->agent.CountLogs("conn cyc event active!"), 0);
    rig_->fake.AdvanceTime(60000);  // tick 3: the third minute is due
    ASSERT_TRUE(rig_->agent.WaitForLogs("conn cyc event active!", 1));
}

TEST_F(LifecycleTest, ProxyTimerWakesTheProxyThread) {
    rig_->Start(RouteParams("1"));
    rig_->fake.AdvanceTime(69999);
    EXPECT_EQ(rig_->agent.CountLogs("check proxy"), 0);
    rig_->fake.AdvanceTime(1);
    ASSERT_TRUE(rig_->agent.WaitForLogs("check proxy", 1));
    rig_->WaitIdle(2, 2);
    const std::vector<std::string> debug = rig_->fake.DebugLines();
    EXPECT_NE(std::find(debug.begin(), debug.end(), "PROXY_SLEEPONEMIN_ID"), debug.end());
}

TEST_F(LifecycleTest, TimerTickBeforeExecSetsNothing) {
    Timer_CallBack(0, 0, kProxyTimerId, 0, 0);
    Timer_CallBack(0, 0, kConnTimerId, 0, 0);
    Timer_CallBack(0, 0, 7, 0, 0);
    EXPECT_EQ(rig_->agent.CountLogs("check proxy"), 1);
    EXPECT_EQ(rig_->agent.CountLogs("Conn Task"), 1) << "a cycle of 0 fires on every tick";
    EXPECT_EQ(rig_->policy->m_hProxyChangeEvent.load(), nullptr);
}

TEST(LifecycleGatedTest, RouteChangeDuringACheckGivesExactlyOneMoreCheck) {
    Rig rig(/*gated=*/true);
    FakeOs& fake = rig.fake;
    GatedOs& gated = *rig.gate;
    rig.Start(RouteParams("1"));

    gated.Close();
    fake.AdvanceTime(60000);  // a cycle check starts and is held
    ASSERT_TRUE(gated.WaitHeld());
    EXPECT_EQ(fake.FireRouteChange(), 1) << "the request armed before the wait";
    EXPECT_EQ(fake.FireRouteChange(), 0) << "no request while the check runs";
    gated.Open();

    ASSERT_TRUE(rig.agent.WaitForLogs("the route changed", 1));
    rig.WaitIdle(3, 1);
    EXPECT_EQ(rig.Checks(), 3) << "start, cycle, one for the change";
    EXPECT_EQ(rig.agent.CountLogs("the route changed"), 1);
    EXPECT_EQ(rig.agent.CountLogs("conn cyc event active!"), 1);
}

TEST_F(LifecycleTest, RouteNotificationFailureIsRetried) {
    rig_->fake.SetRouteNotifyArms(false);
    rig_->policy->SetPolicyParams(RouteParams("1"));
    ASSERT_EQ(rig_->policy->Exec(0), 0);
    ASSERT_TRUE(rig_->agent.WaitForLogs("Fail!!", 3));
    for (const LogLine& l : rig_->agent.Logs()) {
        if (l.text.find("Fail!!") != std::string::npos) {
            EXPECT_EQ(l.level, 4);
        }
    }
    EXPECT_EQ(rig_->policy->done(""), 0);
}

TEST_F(LifecycleTest, NoUsableAddressSkipsTheCheck) {
    struct Case {
        const char* name;
        std::vector<AdapterInfo> adapters;
        uint32_t error;
        const char* line;
    } cases[] = {
        {"loopback and empty", {{"lo", {"127.0.0.1"}}, {"eth0", {"0.0.0.0"}}}, 0, "return FALSE;"},
        {"no adapters", {}, 0, "GetAdaptersInfo size error!"},
        {"query fails", {{"eth0", {"192.0.2.4"}}}, 31, "GetAdaptersInfo size error!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        rig_->fake.SetAdapters(c.adapters);
        rig_->fake.SetAdapterError(c.error);
        rig_->Start(RouteParams("1"));
        EXPECT_EQ(rig_->agent.CountLogs(c.line), 1);
        EXPECT_EQ(rig_->agent.CountLogs("Network is invalid. Cancel tracerting!"), 1);
    }
}

// A policy on a fake OS whose calls can be made to fail.
class LifecycleFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = SetOsForTesting(&failing_);
        policy_ = std::make_unique<CPolicy>();
        policy_->SetAgent(&agent_);
        policy_->SetPolicyParams(RouteParams("1"));
    }
    void TearDown() override {
        policy_->done("");
        policy_.reset();
        SetOsForTesting(previous_);
    }

    FakeOs fake_;
    FailingOs failing_{&fake_};
    RecordingAgent agent_;
    std::unique_ptr<CPolicy> policy_;
    Os* previous_ = nullptr;
};

TEST_F(LifecycleFaultTest, ExceptionsStayInside) {
    // Exec's own list of local addresses takes the first query: the agent
    // gets the failure answer, not the exception.
    failing_.throwOnAdapterQuery = 1;
    EXPECT_EQ(policy_->Policy().Exec(0), 1);
    // The first check's query throws (Exec's own take the next two):
    // logged, and the mutex released for the next check.
    failing_.throwOnAdapterQuery = 4;
    ASSERT_EQ(policy_->Policy().Exec(0), 0);
    ASSERT_TRUE(agent_.WaitForLogs("Catch an exception when calling TracertCallback.", 1));
    ASSERT_TRUE(fake_.WaitForWaits(3, 1));
    ASSERT_EQ(fake_.FireRouteChange(), 1);
    ASSERT_TRUE(fake_.WaitForWaits(3, 2));
    EXPECT_EQ(agent_.CountLogs("[CPolicy::IsActivedNetwork]"), 1) << "the next check ran";
}

// An Exec that got the first mutex and not the second: the next Exec makes
// the missing one, so the proxy check is serialised again.
TEST_F(LifecycleFaultTest, ExecMakesEachMissingMutex) {
    failing_.failOnMutex = 2;
    EXPECT_EQ(policy_->Exec(0), 1);
    EXPECT_NE(policy_->m_hConnMutex, nullptr);
    EXPECT_EQ(policy_->m_hProxyMutex, nullptr);
    EXPECT_EQ(policy_->Exec(0), 0);
    EXPECT_NE(policy_->m_hProxyMutex, nullptr);
}

TEST_F(LifecycleTest, DestructorStopsARunningPolicy) {
    rig_->Start(RouteParams("1"));
    delete rig_->policy;
    rig_->policy = nullptr;
    EXPECT_EQ(rig_->agent.CountLogs("Begin to release resourse."), 1);
    EXPECT_EQ(g_bRouteThreadStopped.load(), 1);
    EXPECT_EQ(g_bProxyThreadStopped.load(), 1);
    EXPECT_EQ(g_pPolicy.load(), nullptr);
}

}  // namespace
}  // namespace outlinkwatch
