// Records the events a route-change watcher sets, and lets a test wait for
// them with a bound.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/os.h"

namespace outlinkwatch {

class EventRecorder {
public:
    bool Set(Handle h) {
        std::lock_guard<std::mutex> lock(mu_);
        calls_.push_back(h);
        cv_.notify_all();
        return true;
    }
    bool WaitForCalls(size_t n, std::chrono::milliseconds bound) {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, bound, [&] { return calls_.size() >= n; });
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mu_);
        return calls_.size();
    }
    std::function<bool(Handle)> Callback() { return [this](Handle h) { return Set(h); }; }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Handle> calls_;
};

}  // namespace outlinkwatch
