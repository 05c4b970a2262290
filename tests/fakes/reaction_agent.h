// The reactor's view of a recording agent: language texts from it, and
// common parameters that name one user.
#pragma once

#include <string>

#include "fakes/recording_agent.h"
#include "reaction/reactor.h"

namespace outlinkwatch {

struct RecordingReactionAgent : ReactionAgent {
    explicit RecordingReactionAgent(RecordingAgent* a) : agent(a) {}
    IAgent* Agent() override { return agent; }
    std::string GetLangString(const std::string& key) override {
        std::string text;
        if (agent != nullptr) agent->GetLangString("OutlinkWatch", key, &text);
        return text;
    }
    void GetCommonParams(CommonParams& out) override { out.strUserName = "user"; }
    RecordingAgent* agent;  // null: no agent
};

}  // namespace outlinkwatch
