#include "platform/thread_timer_host.h"

#include <system_error>

namespace outlinkwatch {

ThreadTimerHost::~ThreadTimerHost() { Stop(2000); }

bool ThreadTimerHost::Start(TimerSink* sink) {
    std::lock_guard<std::mutex> lock(mu_);
    if (thread_.joinable() || stop_) return false;
    sink_ = sink;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool ThreadTimerHost::Ready() {
    std::lock_guard<std::mutex> lock(mu_);
    return thread_.joinable() && !stop_;
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

void ThreadTimerHost::Stop(uint32_t waitMs) {
    std::unique_lock<std::mutex> lock(mu_);
    stop_ = true;
    cv_.notify_all();
    if (!thread_.joinable()) return;
    const bool ended = cv_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return finished_; });
    lock.unlock();
    // A tick still running past the bound is let go rather than waited for.
    if (ended) {
        thread_.join();
    } else {
        thread_.detach();
    }
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
        TimerSink* sink = sink_;
        lock.unlock();
        if (sink != nullptr) sink->OnTimer(id);
        lock.lock();
    }
    finished_ = true;
    cv_.notify_all();
}

}  // namespace outlinkwatch
