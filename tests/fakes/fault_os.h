// Wrappers around an Os that let a test catch the policy at a given point
// or make a call fail, each with a bounded wait.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/os.h"

namespace outlinkwatch {

constexpr std::chrono::seconds kFaultWaitBound{20};

// Holds adapter queries while closed, so a check can be caught in the
// middle; throws from the n-th adapter query, and makes the n-th mutex
// creation and the n-th thread start fail.
class FaultOs : public OsWrapper, NetworkWrapper, KernelWrapper {
public:
    explicit FaultOs(Os* target)
        : OsWrapper(target), NetworkWrapper(target->Network()), KernelWrapper(target->Kernel()) {}
    std::atomic<int> throwOnAdapterQuery{0};
    std::atomic<int> failOnMutex{0};
    std::atomic<int> failOnThread{0};
    std::atomic<bool> failUnnamedEvents{false};
    std::string failEventNamed;  // set before the threads start
    // Bit n: the next wait over n handles fails (the route thread waits on 4, the proxy thread on 3).
    std::atomic<uint32_t> failNextWaitOver{0};

    NetworkService* Network() override { return this; }
    KernelObjects* Kernel() override { return this; }
    void SetClosed(bool closed) {
        std::lock_guard<std::mutex> lock(mu_);
        closed_ = closed;
        cv_.notify_all();
    }
    bool WaitHeld(int queries = 1) {  // until this many queries were held
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, kFaultWaitBound, [&] { return held_ >= queries; });
    }
    bool Adapters(AdapterDetail detail, std::vector<AdapterInfo>* out, uint32_t* error) override {
        std::unique_lock<std::mutex> lock(mu_);
        held_ += closed_ ? 1 : 0;
        cv_.notify_all();
        cv_.wait_for(lock, kFaultWaitBound, [&] { return !closed_; });
        lock.unlock();
        if (++adapterQueries_ == throwOnAdapterQuery.load()) throw std::runtime_error("adapter query failed");
        return NetworkWrapper::Adapters(detail, out, error);
    }
    Handle CreateMutexObject(bool owned) override {
        return ++mutexes_ == failOnMutex.load() ? nullptr : KernelWrapper::CreateMutexObject(owned);
    }
    Handle StartThread(ThreadFunction fn, void* arg) override {
        return ++threads_ == failOnThread.load() ? nullptr : KernelWrapper::StartThread(fn, arg);
    }
    Handle CreateEventObject(const char* name, bool manualReset, bool initialState) override {
        if (name == nullptr ? failUnnamedEvents.load() : failEventNamed == name) return nullptr;
        return KernelWrapper::CreateEventObject(name, manualReset, initialState);
    }
    uint32_t WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) override {
        const uint32_t bit = count < 32 ? 1u << count : 0;
        if ((failNextWaitOver.fetch_and(~bit) & bit) != 0) return kWaitFailed;
        return KernelWrapper::WaitForObjects(handles, count, timeoutMs);
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool closed_ = false;
    int held_ = 0;
    std::atomic<int> adapterQueries_{0};
    std::atomic<int> mutexes_{0};
    std::atomic<int> threads_{0};
};

// Counts ticks; while held, a tick waits (bounded) inside the sink.
struct CountingSink : TimerSink {
    void OnTimer(uint32_t id) override {
        std::unique_lock<std::mutex> lock(mu);
        ++ticks;
        last = id;
        inTick = hold;
        cv.notify_all();
        cv.wait_for(lock, std::chrono::seconds(10), [&] { return !hold; });
        inTick = false;
    }
    template <typename F>
    bool WaitFor(F pred, std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, bound, pred);
    }
    // Runs change under the lock and wakes every waiter.
    template <typename F>
    void Notify(F change) {
        Locked(change);
        cv.notify_all();
    }
    template <typename F>
    auto Locked(F read) {
        std::lock_guard<std::mutex> lock(mu);
        return read();
    }
    void Hold(bool on) {
        Locked([&] { return hold = on; });
        cv.notify_all();
    }
    std::mutex mu;
    std::condition_variable cv;
    int ticks = 0;
    uint32_t last = 0;
    bool hold = false, inTick = false;
};

// Gives the policy this build's own timer host with its periods cut a
// hundredfold, and can keep the host's thread busy: Hold arms a timer of its
// own whose tick waits (bounded) in the sink above until Release.
class BusyTimerOs : public OsWrapper, ClockWrapper {
public:
    explicit BusyTimerOs(Os* target) : OsWrapper(target), ClockWrapper(target->Clock()) {}
    ClockService* Clock() override { return this; }
    std::unique_ptr<TimerHost> CreateTimerHost() override {
        auto host = std::make_unique<Host>(&holder_, Os::Default()->Clock()->CreateTimerHost());
        host_ = host.get();
        return host;
    }
    bool Hold() {  // until the timer thread is held
        holder_.Hold(true);
        host_->real->Arm(kHoldId, 1);
        return holder_.WaitFor([&] { return holder_.inTick; });
    }
    void Release() {
        holder_.Hold(false);
        host_->real->Disarm(kHoldId);
    }

private:
    static constexpr uint32_t kHoldId = 999;
    struct Host : TimerHost, TimerSink {
        Host(TimerSink* h, std::unique_ptr<TimerHost> r) : holder(h), real(std::move(r)) {}
        bool Start(TimerSink* s) override { return sink = s, real->Start(this); }
        bool Arm(uint32_t id, uint32_t ms) override { return real->Arm(id, ms / 100); }
        void Disarm(uint32_t id) override { real->Disarm(id); }
        void Stop(uint32_t waitMs) override { real->Stop(waitMs); }
        void OnTimer(uint32_t id) override { (id == kHoldId ? holder : sink)->OnTimer(id); }
        TimerSink* holder;
        std::unique_ptr<TimerHost> real;
        TimerSink* sink = nullptr;
    };
    CountingSink holder_;
    Host* host_ = nullptr;  // the last one made
};

}  // namespace outlinkwatch
