// A log sink that keeps each line's text, and a finding reporter that keeps
// what a check reported, for tests that build a check without a policy.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "reaction/finding_reporter.h"

namespace outlinkwatch {

class RecordingSink : public LogSink {
public:
    void WriteLog(int32_t, const char*, int32_t, const char* format, ...) override {
        char text[4096];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        std::lock_guard<std::mutex> lock(mu_);
        lines_.push_back(text);
    }
    int CountLogs(const std::string& fragment) {
        std::lock_guard<std::mutex> lock(mu_);
        int n = 0;
        for (const std::string& line : lines_) n += line.find(fragment) != std::string::npos ? 1 : 0;
        return n;
    }

private:
    std::mutex mu_;
    std::vector<std::string> lines_;
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
        return handled;
    }
    int EnableProxy() override {
        calls.push_back("lift");
        return 1;
    }
    int handled = 1;
    std::vector<std::string> calls;
};

}  // namespace outlinkwatch
