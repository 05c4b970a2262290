// The route tracer: runs the platform's route-trace command and reads its
// hops. Its one piece of state is the flag that cancels a trace in progress
// when the routes may have changed.
#pragma once

#include <atomic>
#include <cstdint>

// A running trace looks at its output, and at the cancel flag, once per
// poll; after a cancelled trace the next one waits the settle time first.
constexpr uint32_t kTracePollMs = 1000;
constexpr uint32_t kTraceSettleMs = 1500;

class CRouteTracer {
public:
    // Set whenever the routes may have changed; written and read on
    // different threads.
    std::atomic<uint8_t> m_bRouteChanged{1};
};
