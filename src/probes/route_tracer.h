// The route tracer: runs the platform's route-trace command and reads its
// hops. Its one piece of state is the flag that cancels a trace in progress
// when the routes may have changed.
#pragma once

#include <atomic>
#include <cstdint>

class CRouteTracer {
public:
    // Set whenever the routes may have changed; written and read on
    // different threads.
    std::atomic<uint8_t> m_bRouteChanged{1};
};
