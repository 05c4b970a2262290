// The monitor: the two threads that run the checks, the events that wake
// them, the timers that set those events, and the two check mutexes that
// keep a check and a reading of the parameters apart.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/log_sink.h"
#include "engine/lumen_timer.h"
#include "platform/os.h"

namespace outlinkwatch {

// Timer ids and periods of the two periodic tasks.
constexpr uint32_t kProxyTimerId = 100;
constexpr uint32_t kConnTimerId = 101;
constexpr int32_t kProxyTimerMs = 70000;
constexpr int32_t kConnTimerMs = 60000;
// How long a monitor thread sleeps before it tries again to arm a timer
// that could not be armed (a busy timer thread, say); with its timer armed
// it sleeps until woken.
constexpr uint32_t kTimerRetryMs = 1000;

// What the monitor threads run; the policy answers.
class MonitorTasks {
public:
    virtual ~MonitorTasks() = default;
    // The connection check task (route trace or probe).
    virtual void TracertCallback() = 0;
    virtual int CheckProxyConfig() = 0;
    // A route change or a cycle's end: the next trace reports afresh.
    virtual void MarkRouteChanged() = 0;
};

// The process-wide flags the threads share with the library's unload.
struct MonitorFlags {
    std::atomic<int32_t>& exit;
    std::atomic<int32_t>& routeThreadStopped;
    std::atomic<int32_t>& proxyThreadStopped;
};

class Monitor {
public:
    Monitor(Os* os, LogSink* log, MonitorFlags flags);
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // The named events; each made once and kept across Execs.
    void CreateNamedEvents();
    // Both mutexes made free; one left from an earlier Exec is kept.
    bool CreateCheckMutexes();
    // A thread counts as running from here, not only once it has begun.
    // arg is what each thread function is handed.
    void StartThreads(ThreadFunction routeThread, ThreadFunction proxyThread, void* arg);
    bool ThreadsRunning() const;
    // Each waits without time limit: a thread in the middle of a check
    // must end before the objects it uses go.
    void StopRouteThread();
    void StopProxyThread();
    // Closes every handle; the threads have stopped.
    void CloseHandles();

    // Each (re)starts its task's timer and answers whether it is armed.
    bool ArmConnTask();
    bool ArmProxyTask();
    void KillTimers();
    // Wakes a thread whose timer did not arm on another thread.
    void WakeConnRearm();
    void WakeProxyRearm();

    // The threads' bodies.
    uint32_t RunRouteThread(MonitorTasks& tasks);
    uint32_t RunProxyThread(MonitorTasks& tasks);
    // A timer's tick: sets the event of a task that is due.
    void OnTimer(uint32_t id);

    void SetCheckCycle(int32_t minutes) { m_nCheckCycle.store(minutes); }
    int32_t CheckCycle() const { return m_nCheckCycle.load(); }
    Handle ConnMutex() const { return m_hConnMutex; }
    Handle ProxyMutex() const { return m_hProxyMutex; }

    // --- Constant after construction.
    Os* const m_pOs;
    LogSink* const m_pLog;
    const MonitorFlags m_flags;

    // --- Made and closed by the agent's thread while no monitor thread
    // runs; the threads only wait on them.
    Handle m_hConnExitEvent = nullptr;
    Handle m_hProxyExitEvent = nullptr;
    Handle m_hConnMutex = nullptr;
    Handle m_hProxyMutex = nullptr;
    // Unnamed; set when an arm made on another thread failed, so that the
    // monitor thread, asleep without time limit, wakes to try again.
    Handle m_hConnRearmEvent = nullptr;
    Handle m_hProxyRearmEvent = nullptr;
    Handle m_hRouteThread = nullptr;
    Handle m_hProxyThread = nullptr;
    // The timer thread sets these two while the agent's thread may close them.
    std::atomic<Handle> m_hProxyChangeEvent{nullptr};
    std::atomic<Handle> m_hCheckCycleEvent{nullptr};

    // --- Internally synchronised.
    lumenutil::CLumenTimer m_timer;
    // The connection check's period in minutes; written by the parameters'
    // reading, read by the timer thread.
    std::atomic<int32_t> m_nCheckCycle{0};

    // --- The timer thread's own.
    int32_t m_nCycleMinutes = 1;

private:
    void CloseAndNull(Handle& h);
    void CloseAndNull(std::atomic<Handle>& h);
};

}  // namespace outlinkwatch
