#include "emulation/thread_timer_host.h"

#include <system_error>

namespace outlinkwatch {

// A host is never destroyed from inside its own tick: the thread would
// return into an object that is gone.
ThreadTimerHost::~ThreadTimerHost() { Stop(0); }

bool ThreadTimerHost::Start(TimerSink* sink) {
    std::lock_guard<std::mutex> lock(mu_);
    if (thread_.joinable() || stop_) return false;
    {
        std::lock_guard<std::mutex> delivery(deliveryMu_);
        sink_ = sink;
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool ThreadTimerHost::Arm(uint32_t id, uint32_t elapseMs) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!thread_.joinable() || stop_) return false;
    // A zero elapse fires as soon as possible, as the platform timers do.
    const auto period = std::chrono::milliseconds(elapseMs == 0 ? 1 : elapseMs);
    timers_[id] = Timer{Clock::now() + period, period};
    cv_.notify_all();
    return true;
}

void ThreadTimerHost::Disarm(uint32_t id) {
    std::lock_guard<std::mutex> lock(mu_);
    timers_.erase(id);
    cv_.notify_all();
}

// waitMs is not needed here: once the sink is detached the thread has
// nothing left to do but leave its loop, so joining it cannot hang.
void ThreadTimerHost::Stop(uint32_t) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
        cv_.notify_all();
    }
    const bool self = thread_.joinable() && thread_.get_id() == std::this_thread::get_id();
    if (!self) {
        // Waits out a tick being delivered; none comes after this.
        std::lock_guard<std::mutex> delivery(deliveryMu_);
        sink_ = nullptr;
    }
    // Stopped from inside its own tick, the thread ends when the tick
    // returns; it is joined by the next Stop from another thread.
    if (thread_.joinable() && !self) thread_.join();
}

void ThreadTimerHost::Run() {
    std::unique_lock<std::mutex> lock(mu_);
    while (!stop_) {
        if (timers_.empty()) {
            cv_.wait(lock);
            continue;
        }
        auto next = timers_.begin();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.due < next->second.due) next = it;
        }
        const auto due = next->second.due;
        if (Clock::now() < due) {
            cv_.wait_until(lock, due);
            continue;
        }
        const uint32_t id = next->first;
        // Missed periods are not made up, as with window timers.
        next->second.due = Clock::now() + next->second.period;
        lock.unlock();
        {
            std::lock_guard<std::mutex> delivery(deliveryMu_);
            if (sink_ != nullptr) sink_->OnTimer(id);
        }
        lock.lock();
    }
}

}  // namespace outlinkwatch
