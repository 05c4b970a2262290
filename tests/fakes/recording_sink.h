// A log sink for a part tested without the policy object: each line as
// "level:text" (cut at 1024 bytes, as the policy's log cuts it) and its
// function. Read only when the writers are done.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "base/log_sink.h"

namespace outlinkwatch {

struct RecordingSink : LogSink {
    void WriteLog(int32_t level, const char* function, int32_t, const char* format, ...) override {
        char text[1025] = {0};
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof(text), format, args);
        va_end(args);
        lines.push_back(std::to_string(level) + ":" + text);
        functions.push_back(function);
    }
    std::vector<std::string> lines, functions;
};

}  // namespace outlinkwatch
