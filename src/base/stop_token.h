// What a running check polls to know it should give up: the library's stop
// (the agent's done or the unload) and parameters that a repeated Exec
// could not apply at once. Both flags outlive every check that holds the
// token.
#pragma once

#include <atomic>
#include <cstdint>

namespace outlinkwatch {

class StopToken {
public:
    StopToken(const std::atomic<int32_t>& exit, const std::atomic<int32_t>& paramsPending)
        : exit_(&exit), paramsPending_(&paramsPending) {}

    bool Exiting() const { return exit_->load() != 0; }
    bool ParamsPending() const { return paramsPending_->load() != 0; }

private:
    const std::atomic<int32_t>* exit_;
    const std::atomic<int32_t>* paramsPending_;
};

}  // namespace outlinkwatch
