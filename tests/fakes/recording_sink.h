// A log sink and a finding reporter that record, for a part tested without
// the policy object. The sink keeps each line as "level:text" (cut at 1024
// bytes, as the policy's log cuts it), its function, and both together as
// "level|function|text"; read the vectors only when the writers are done.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "reaction/finding_reporter.h"

namespace outlinkwatch {

struct RecordingSink : LogSink {
    void WriteLog(int32_t level, const char* function, int32_t, const char* format, ...) override {
        char text[1025] = {0};
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof(text), format, args);
        va_end(args);
        std::lock_guard<std::mutex> lock(mu);
        lines.push_back(std::to_string(level) + ":" + text);
        functions.push_back(function);
        tagged.push_back(std::to_string(level) + "|" + function + "|" + text);
    }
    // How many lines so far hold the fragment; safe while writers run.
    int CountLogs(const std::string& fragment) {
        std::lock_guard<std::mutex> lock(mu);
        int n = 0;
        for (const std::string& line : lines) n += line.find(fragment) != std::string::npos ? 1 : 0;
        return n;
    }
    std::mutex mu;
    std::vector<std::string> lines, functions, tagged;
};

// Each call as "Kind:info|describe" (notifications with text only),
// "handle:Kind" and "lift".
class RecordingReporter : public FindingReporter {
public:
    std::string GetLangString(const std::string& key) override { return key; }
    void PackNotifyMsg(const std::string& kind, const std::string& info, const std::string& describe,
                       const std::string&) override {
        if (!info.empty()) calls.push_back(kind + ":" + info + "|" + describe);
    }
    int HandleResult(std::string kind) override {
        calls.push_back("handle:" + kind);
        return 1;
    }
    int EnableProxy() override {
        calls.push_back("lift");
        return 1;
    }
    std::vector<std::string> calls;
};

}  // namespace outlinkwatch
