// Wrappers around an Os that let a test catch the policy at a given point
// or make a call fail, each with a bounded wait.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "platform/os.h"

namespace outlinkwatch {

constexpr std::chrono::seconds kFaultWaitBound{20};

// Holds adapter queries while closed, so a check can be caught in the middle.
class GatedOs : public OsWrapper {
public:
    using OsWrapper::OsWrapper;
    void Close() { SetClosed(true); }
    void Open() { SetClosed(false); }
    bool WaitHeld() {  // until a query is held
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, kFaultWaitBound, [&] { return held_ > 0; });
    }
    uint32_t GetAdapters(std::vector<AdapterInfo>* out) override {
        std::unique_lock<std::mutex> lock(mu_);
        held_ += closed_ ? 1 : 0;
        cv_.notify_all();
        cv_.wait_for(lock, kFaultWaitBound, [&] { return !closed_; });
        lock.unlock();
        return OsWrapper::GetAdapters(out);
    }

private:
    void SetClosed(bool closed) {
        std::lock_guard<std::mutex> lock(mu_);
        closed_ = closed;
        cv_.notify_all();
    }
    std::mutex mu_;
    std::condition_variable cv_;
    bool closed_ = false;
    int held_ = 0;
};

// Throws from the n-th adapter query, and makes the n-th mutex creation fail.
class FailingOs : public OsWrapper {
public:
    using OsWrapper::OsWrapper;
    std::atomic<int> throwOnAdapterQuery{0};
    std::atomic<int> failOnMutex{0};

    uint32_t GetAdapters(std::vector<AdapterInfo>* out) override {
        if (++adapterQueries_ == throwOnAdapterQuery.load()) throw std::runtime_error("adapter query failed");
        return OsWrapper::GetAdapters(out);
    }
    Handle CreateMutexObject(bool owned) override {
        return ++mutexes_ == failOnMutex.load() ? nullptr : OsWrapper::CreateMutexObject(owned);
    }

private:
    std::atomic<int> adapterQueries_{0};
    std::atomic<int> mutexes_{0};
};

// Tells the test when a route-change request has been armed.
class ArmSignallingOs : public OsWrapper {
public:
    using OsWrapper::OsWrapper;
    bool NotifyRouteChange(Handle event) override {
        const bool armed = OsWrapper::NotifyRouteChange(event);
        std::lock_guard<std::mutex> lock(mu_);
        if (armed) ++armed_;
        cv_.notify_all();
        return armed;
    }
    bool WaitArmed(int count) {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, kFaultWaitBound, [&] { return armed_ >= count; });
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    int armed_ = 0;
};

}  // namespace outlinkwatch
