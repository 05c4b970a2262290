// Where a subsystem's log lines go. The policy object is the sink in the
// plug-in (its lines reach the agent); tests hand in a recorder.
#pragma once

#include <cstdint>

namespace outlinkwatch {

class LogSink {
public:
    virtual ~LogSink() = default;
    // pszFormat is always a literal of ours; outside text goes in as a "%s"
    // argument, never as the format.
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    virtual void WriteLog(int32_t nLevel, const char* pszFunction, int32_t nLine, const char* pszFormat, ...) = 0;
};

}  // namespace outlinkwatch

// Logs through a sink with the call site's line.
#define OW_LOG(sink, level, function, ...) (sink)->WriteLog((level), (function), __LINE__, __VA_ARGS__)
