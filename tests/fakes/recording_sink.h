// A log sink for tests of a part built without the policy object: keeps
// each line's level, function and text (formatted, cut at 1024 bytes as
// the policy's log cuts it).
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "base/log_sink.h"

namespace outlinkwatch {

class RecordingSink : public LogSink {
public:
    struct Line {
        int32_t level;
        std::string function;
        std::string text;
    };
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    void WriteLog(int32_t level, const char* function, int32_t, const char* format, ...) override {
        char text[1025] = {0};
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof(text), format, args);
        va_end(args);
        std::lock_guard<std::mutex> lock(mu_);
        lines_.push_back(Line{level, function, text});
    }
    std::vector<Line> Lines() {
        std::lock_guard<std::mutex> lock(mu_);
        return lines_;
    }
    // Lines whose text contains the fragment.
    int Count(const std::string& fragment) {
        std::lock_guard<std::mutex> lock(mu_);
        int n = 0;
        for (const Line& l : lines_) n += l.text.find(fragment) != std::string::npos;
        return n;
    }

private:
    std::mutex mu_;
    std::vector<Line> lines_;
};

}  // namespace outlinkwatch
