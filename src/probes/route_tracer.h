// The route tracer: runs the platform's route-trace command and reads its
// hops. Its one piece of state is the flag that cancels a trace in progress
// when the routes may have changed. The OS comes in with each trace rather
// than being kept, so the tracer stays that one flag.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

#include "base/stop_token.h"

namespace outlinkwatch {
class Os;
}

// A running trace looks at its output, and at the cancel flag, once per
// poll; after a cancelled trace the next one waits the settle time first.
constexpr uint32_t kTracePollMs = 1000;
constexpr uint32_t kTraceSettleMs = 1500;
// Polls before a trace whose output never completes is given up (10 minutes).
constexpr int kTraceMaxPolls = 600;
// The buffer the temporary directory is asked for with.
constexpr uint32_t kTraceTempPathBuffer = 260;
// Most bytes of the output file read at one poll. A whole trace is a few
// kilobytes; a larger file is read only up to here, and a completion line
// beyond this never counts.
constexpr size_t kMaxTraceFileBytes = 1024 * 1024;
// Longest path of the output file, terminator included (MAX_PATH).
constexpr size_t kTracePathBytes = 260;

// Results of Trace.
constexpr int TRACE_ALLOWED_ROUTE = 1;
constexpr int TRACE_RESPONSES = 3;
constexpr int TRACE_NO_RESPONSE = 4;
constexpr int TRACE_ABORTED = -2;

// Operating-system codes below this one end the trace output's lines with
// "\r\n"; later ones with "\n".
constexpr int32_t kTraceLfOsCode = 109;

class CRouteTracer {
public:
    // Traces the route to destination (dotted text) and judges it against
    // the allowed route addresses (host order). Appends "\n" and one
    // "<n> <hop>;\n" line per hop examined to route. Blocks for up to
    // kTraceMaxPolls polls, fewer when stop says the library stops; osCode
    // picks the output's line ends (see ParseTraceOutput). Returns one of
    // the TRACE_ results.
    int Trace(outlinkwatch::Os* os, const outlinkwatch::StopToken& stop, int32_t osCode,
              const std::string& destination, const std::list<uint32_t>& allowedRoutes, std::string& route);

    // The output file's text, lower-cased, once it holds a completion
    // marker; empty before that (or when it cannot be read).
    static std::string ReadTraceFile(outlinkwatch::Os* os, const std::string& path);

    // What a read in Windows text mode makes of raw bytes: each CR LF
    // becomes LF (a lone CR stays), and the first Ctrl-Z ends the text.
    static std::string WindowsTextMode(const std::string& raw);

    // What ReadTraceFile makes of the text read: up to the first NUL,
    // lower-cased (A-Z only), and empty unless it holds a completion marker.
    static std::string CompletedTraceText(const std::string& bytes);

    // Appends the hops of a complete output to hops and sets answered when a
    // hop answered with an address or the destination was reached. Lines
    // are split at "\r\n" for osCode below kTraceLfOsCode, else at "\n".
    // Depends on nothing but its arguments; returns 0.
    static int ParseTraceOutput(const std::string& output, const std::string& destination,
                                std::list<std::string>& hops, bool& answered, int32_t osCode);

    // The text without spaces and tabs at either end.
    static std::string TrimBlank(const std::string& text);

    // 1: no trace runs, or the running one is to stop. 0: a trace runs.
    // Written and read on different threads.
    std::atomic<uint8_t> m_bRouteChanged{1};
};
