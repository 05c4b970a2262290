// One route trace through the policy's tracer on the real backend, timed:
//   ow_route_trace_bench <destination> <rounds>
// Prints one line per round: the result and the milliseconds it took. Run it
// inside the namespace whose route is measured (bench/route_trace_ratio.sh).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/os.h"
#include "probes/route_tracer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ow_route_trace_bench destination rounds\n");
        return 2;
    }
    const std::string destination = argv[1];
    const int rounds = std::atoi(argv[2]);
    const int32_t osCode = 122;  // the Linux backend's code: lines end in "\n"
    outlinkwatch::Os* os = outlinkwatch::Os::Default();
    std::atomic<int32_t> exiting{0}, pending{0};
    const outlinkwatch::StopToken stop(exiting, pending);
    CRouteTracer tracer;
    for (int i = 0; i < rounds; ++i) {
        std::string route;
        const auto start = std::chrono::steady_clock::now();
        const int result = tracer.Trace(os, stop, osCode, destination, {}, route);
        const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("%d %.1f\n", result, ms);
        // A file name is one second: the next trace starts in a new one.
        os->Clock()->SleepMs(1000);
    }
    return 0;
}
