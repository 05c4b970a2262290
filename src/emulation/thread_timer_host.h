// A TimerHost on a plain thread: every armed timer repeats until disarmed,
// like a platform window timer. Ticks are delivered without the timer lock
// held, so the sink may arm and disarm from its callback, but under a
// delivery lock that Stop takes, so no tick outlives Stop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/os.h"

namespace outlinkwatch {

class ThreadTimerHost : public TimerHost {
public:
    ThreadTimerHost() = default;
    ~ThreadTimerHost() override;

    bool Start(TimerSink* sink) override;
    bool Arm(uint32_t id, uint32_t elapseMs) override;
    void Disarm(uint32_t id) override;
    void Stop(uint32_t waitMs) override;

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        Clock::time_point due;
        std::chrono::milliseconds period;
    };
    void Run();

    std::mutex mu_;
    std::condition_variable cv_;
    std::map<uint32_t, Timer> timers_;
    bool stop_ = false;
    // Held while a tick is handed to the sink; guards sink_.
    std::mutex deliveryMu_;
    TimerSink* sink_ = nullptr;
    std::thread thread_;
};

}  // namespace outlinkwatch
