// The connection check on its own: a fake OS, a log and a reporter that
// record what the check hands them, and the flags its stop token reads.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "probes/conn_check.h"

namespace outlinkwatch {

struct SinkLine {
    int32_t level;
    std::string function, text;
};

class RecordingSink : public LogSink {
public:
    void WriteLog(int32_t nLevel, const char* pszFunction, int32_t, const char* pszFormat, ...) override {
        char text[4096];
        va_list args;
        va_start(args, pszFormat);
        std::vsnprintf(text, sizeof(text), pszFormat, args);
        va_end(args);
        lines.push_back({nLevel, pszFunction, text});
    }
    // The texts of one function's lines, in order.
    std::vector<std::string> Texts(const std::string& function) const {
        std::vector<std::string> out;
        for (const SinkLine& l : lines) {
            if (l.function == function) out.push_back(l.text);
        }
        return out;
    }
    std::vector<SinkLine> lines;
};

class RecordingReporter : public FindingReporter {
public:
    struct Finding {
        std::string info, describe, key;
    };
    std::string GetLangString(const std::string& key) override { return texts[key]; }
    void PackNotifyMsg(const std::string& kind, const std::string& info, const std::string& describe,
                       const std::string& key) override {
        EXPECT_EQ(kind, "");
        findings.push_back({info, describe, key});
    }
    // The kind, and the servers to deny the reaction finds at that moment.
    int HandleResult(std::string kind) override {
        for (const std::string& addr : check->DenyAddrs()) kind += " " + addr;
        reactions.push_back(kind);
        return 0;
    }
    int EnableProxy() override { return 0; }

    std::map<std::string, std::string> texts;
    std::vector<Finding> findings;
    std::vector<std::string> reactions;
    const ConnCheck* check = nullptr;
};

struct ConnCheckRig {
    ConnCheckRig() { reporter.check = &check; }
    FakeOs fake;
    RecordingSink sink;
    RecordingReporter reporter;
    std::atomic<int32_t> exiting{0}, pending{0}, osCode{122};
    std::string server;  // the agent's own server; "" for an agent without one
    PolicySettings settings;
    ConnCheck check{&fake, &sink, reporter, StopToken(exiting, pending), osCode, [this](std::string* address) {
                        if (server.empty()) return false;
                        *address = server;
                        return true;
                    }};
};

}  // namespace outlinkwatch
