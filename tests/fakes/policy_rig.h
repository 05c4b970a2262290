// The policy, given the recording agent and initialised, on a fake OS of its
// own (plain or through a fault wrapper) that is the process-wide seam while
// the rig lives; its threads run on the fake's compressed time.
#pragma once

#include <memory>

#include "fakes/fake_os.h"
#include "fakes/fault_os.h"
#include "fakes/params.h"
#include "fakes/recording_agent.h"
#include "plugin/policy.h"

namespace outlinkwatch {

enum class Wrap { kNone, kFault, kBusyTimer };

struct PolicyRig {
    explicit PolicyRig(Wrap wrap = Wrap::kNone) {
        Os* const os[] = {&fake, &fault, &busy};
        previous = SetOsForTesting(os[static_cast<int>(wrap)]);
        policy = std::make_unique<CPolicy>();
        policy->SetAgent(&agent);
        EXPECT_EQ(policy->Initialize(kPolicyType), 200);
    }
    ~PolicyRig() {
        policy.reset();  // it logs and lifts the deny list on its way out
        SetOsForTesting(previous);
        EXPECT_EQ(fake.BadCloses(), 0);
    }
    // Route mode towards a documentation address, a check every `cycle` minutes.
    static std::list<PolicyParam> Params(const std::string& cycle = "1") {
        return {Param("Type", "0"), Param("TrancertAddr", "192.0.2.1"), Param("checkcyc", cycle)};
    }
    void Start(const std::string& cycle = "1") {
        policy->SetPolicyParams(Params(cycle));
        ASSERT_EQ(policy->Exec(0), 0);
        WaitIdle(1, 1);
    }
    // Until the route and proxy threads have slept n and m times (each re-armed its timer).
    void WaitIdle(int routeWaits, int proxyWaits) {
        ASSERT_TRUE(fake.WaitForWaits(4, routeWaits));
        ASSERT_TRUE(fake.WaitForWaits(3, proxyWaits));
    }
    // A connection check is visible by the adapter size line it logs.
    int Checks() { return agent.CountLogs("[CPolicy::IsActivedNetwork]"); }

    FakeOs fake;
    FaultOs fault{&fake};
    BusyTimerOs busy{&fake};
    RecordingAgent agent;
    Os* previous = nullptr;
    std::unique_ptr<CPolicy> policy;
};

}  // namespace outlinkwatch
