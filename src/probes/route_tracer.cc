// The route trace: the platform's tracert, run hidden with its output in a
// temporary file that is polled until the command has finished.
#include "probes/route_tracer.h"

#include <cstdio>

#include "config/address_parsing.h"
#include "platform/os.h"

namespace {

// On every way out once the command was started: ends the command, which a
// trace that stopped waiting (a stop, a cancel, the last poll) would
// otherwise leave running for good, then deletes the output file. A delete
// that fails (the command still holds the file) leaves it behind.
class TraceFileRemover {
public:
    TraceFileRemover(outlinkwatch::Os* os, const std::string& path) : os_(os), path_(path) {}
    ~TraceFileRemover() {
        os_->Users()->EndHiddenCommands();
        os_->Files()->RemoveFile(path_);
    }
    TraceFileRemover(const TraceFileRemover&) = delete;
    TraceFileRemover& operator=(const TraceFileRemover&) = delete;

private:
    outlinkwatch::Os* os_;
    const std::string& path_;
};

}  // namespace

int CRouteTracer::Trace(outlinkwatch::Os* os, const outlinkwatch::StopToken& stop, int32_t osCode,
                        const std::string& destination, const std::list<uint32_t>& allowedRoutes,
                        std::string& route) {
    // The flag is not a lock: it only tells a waiting trace to stop.
    if (m_bRouteChanged.exchange(0) == 0) return TRACE_ABORTED;

    std::string tempDir;
    if (!os->Files()->TempDirectory(kTraceTempPathBuffer, &tempDir) || tempDir.empty()) return TRACE_ABORTED;

    char stamp[16] = {0};
    std::snprintf(stamp, sizeof(stamp), "%u", static_cast<unsigned>(os->Clock()->UnixTime32()));
    const std::string path = tempDir + stamp;
    const std::string command = "cmd /C tracert -w 1000 " + destination + " >\"" + path + "\"";
    // A command that fails to start shows only as output that never completes.
    os->Users()->StartHiddenCommand(command);

    std::string output;
    {
        TraceFileRemover remover(os, path);
        for (int poll = 0; poll < kTraceMaxPolls; ++poll) {
            if (stop.Exiting()) return TRACE_ABORTED;
            os->Clock()->SleepMs(kTracePollMs);
            output = ReadTraceFile(os, path);
            if (!output.empty()) break;
            if (m_bRouteChanged.load() == 1) return TRACE_ABORTED;
        }
        if (output.empty()) return TRACE_ABORTED;
    }

    std::list<std::string> hops;
    bool answered = false;
    ParseTraceOutput(output, destination, hops, answered, osCode);

    route += "\n";
    int number = 0;
    for (const std::string& hop : hops) {
        route += std::to_string(++number) + " " + hop + ";\n";
        // A hop that is not a plain dotted address reads as 255.255.255.255.
        const uint32_t hopAddr = outlinkwatch::InetAddr(hop);
        for (uint32_t allowed : allowedRoutes) {
            if (hopAddr == outlinkwatch::NetFromHost(allowed)) return TRACE_ALLOWED_ROUTE;
        }
    }
    m_bRouteChanged.store(1);
    return answered ? TRACE_RESPONSES : TRACE_NO_RESPONSE;
}

std::string CRouteTracer::ReadTraceFile(outlinkwatch::Os* os, const std::string& path) {
    // The file is opened by a path the Windows calls take, read as text.
    if (path.empty() || path.size() >= kTracePathBytes) return std::string();
    uint64_t size = 0;
    if (!os->Files()->FileSize(path, &size)) return std::string();
    const size_t cap = size < kMaxTraceFileBytes ? static_cast<size_t>(size) : kMaxTraceFileBytes;
    // cap bytes of text come from at most twice as many raw bytes (each
    // CR LF gives one), and one more tells whether a last CR goes with an LF.
    std::string raw;
    if (!os->Files()->ReadFileBytes(path, 2 * cap + 1, &raw)) return std::string();
    std::string bytes = WindowsTextMode(raw);
    if (bytes.size() > cap) bytes.resize(cap);
    if (bytes.empty()) return std::string();
    return CompletedTraceText(bytes);
}
