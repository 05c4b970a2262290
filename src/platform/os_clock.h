// The clock service of the OS seam: time, sleeps, timers and the scale of
// network time-outs.
//
// Result convention: every call answers its value directly and cannot
// fail, except LocalTime, which answers false for a time it cannot convert.
// A timer host tells its own failures from Start and Arm.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>

namespace outlinkwatch {

// The last Unix time the Windows local-time conversion accepts
// (3000-12-31 23:59:59 UTC); earlier than 1970 it refuses as well.
constexpr int64_t kMaxLocalTime = 32535215999;

// Receives the ticks of a TimerHost, on the host's own thread.
class TimerSink {
public:
    virtual ~TimerSink() = default;
    virtual void OnTimer(uint32_t id) = 0;
};

// The platform half of the task timer: a thread that owns numbered platform
// timers and reports their ticks. Win32: a hidden window and its message
// loop; elsewhere a timer thread.
class TimerHost {
public:
    virtual ~TimerHost() = default;
    // Starts the owning thread; false when it cannot be started.
    virtual bool Start(TimerSink* sink) = 0;
    // Arms (or re-arms) a platform timer; waits, with a bound, for the
    // thread to be ready first. False when the platform refuses.
    virtual bool Arm(uint32_t id, uint32_t elapseMs) = 0;
    virtual void Disarm(uint32_t id) = 0;
    // Ends the thread, waiting at most waitMs for it. A tick under way is
    // always waited out: no tick reaches the sink after Stop returns.
    virtual void Stop(uint32_t waitMs) = 0;
};

class ClockService {
public:
    virtual ~ClockService() = default;

    virtual void SleepMs(uint32_t ms) = 0;
    // GetTickCount64: milliseconds of a clock that only goes forward, from
    // an arbitrary start. The test fake answers its virtual clock.
    virtual uint64_t MonotonicMs() = 0;
    // _time32: seconds since 1970-01-01 UTC.
    virtual uint32_t UnixTime32() = 0;
    // _localtime64_s: the local calendar time of a Unix time. False when the
    // time cannot be converted (before 1970 or after kMaxLocalTime).
    virtual bool LocalTime(int64_t unixTime, std::tm* out) = 0;
    // A network time-out (connect, send, receive) in microseconds, as it is
    // to be applied: the real backends return it unchanged, the test fake
    // shortens it as it does its waits.
    virtual uint64_t NetworkTimeoutUs(uint64_t us) = 0;
    virtual std::unique_ptr<TimerHost> CreateTimerHost() = 0;
};

// Forwards every call to another ClockService, so a test overrides only what it needs.
class ClockWrapper : public ClockService {
public:
    explicit ClockWrapper(ClockService* target) : target_(target) {}

    void SleepMs(uint32_t ms) override { target_->SleepMs(ms); }
    uint64_t MonotonicMs() override { return target_->MonotonicMs(); }
    uint32_t UnixTime32() override { return target_->UnixTime32(); }
    bool LocalTime(int64_t unixTime, std::tm* out) override { return target_->LocalTime(unixTime, out); }
    uint64_t NetworkTimeoutUs(uint64_t us) override { return target_->NetworkTimeoutUs(us); }
    std::unique_ptr<TimerHost> CreateTimerHost() override { return target_->CreateTimerHost(); }

private:
    ClockService* target_;
};

}  // namespace outlinkwatch
