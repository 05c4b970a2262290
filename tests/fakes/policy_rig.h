// A policy with the recording agent, on a fake OS of its own that is the
// process-wide seam while the rig lives.
#pragma once

#include <memory>

#include "fakes/fake_os.h"
#include "fakes/recording_agent.h"
#include "plugin/policy.h"

namespace outlinkwatch {

struct PolicyRig {
    PolicyRig() { policy->SetAgent(&agent); }
    ~PolicyRig() {
        policy.reset();  // it logs and lifts the deny list on its way out
        SetOsForTesting(previous);
    }
    FakeOs fake;
    Os* previous = SetOsForTesting(&fake);
    RecordingAgent agent;
    std::unique_ptr<CPolicy> policy = std::make_unique<CPolicy>();
};

}  // namespace outlinkwatch
