// The connection check on its own: a fake OS (or the one given), a log and a
// reporter that record what the check hands them, and the flags its stop
// token reads.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "fakes/fake_os.h"
#include "fakes/recording_sink.h"
#include "probes/conn_check.h"

namespace outlinkwatch {

struct ConnCheckRig : FindingReporter {
    explicit ConnCheckRig(Os* given = nullptr) : os(given != nullptr ? given : &fake) {}
    std::string GetLangString(const std::string& key) override { return texts[key]; }
    // Each finding as "<info>|<describe>|<key>".
    void PackNotifyMsg(const std::string& kind, const std::string& info, const std::string& describe,
                       const std::string& key) override {
        EXPECT_EQ(kind, "");
        findings.push_back(info + "|" + describe + "|" + key);
    }
    // The kind, and the servers to deny the reaction finds at that moment.
    int HandleResult(std::string kind) override {
        for (const std::string& addr : check.DenyAddrs()) kind += " " + addr;
        reactions.push_back(kind);
        return 0;
    }
    int EnableProxy() override { return 0; }
    // The lines "2|<function>|<text>" expects, from texts.
    static std::vector<std::string> Lines(const std::string& function, const std::vector<std::string>& texts) {
        std::vector<std::string> out;
        for (const std::string& t : texts) out.push_back("2|" + function + "|" + t);
        return out;
    }

    FakeOs fake;
    Os* os;
    RecordingSink sink;
    std::map<std::string, std::string> texts;
    std::vector<std::string> findings, reactions;
    std::atomic<int32_t> exiting{0}, pending{0}, osCode{122};
    std::string server;  // the agent's own server; "" for an agent without one
    PolicySettings settings;
    ConnCheck check{os, &sink, *this, StopToken(exiting, pending), osCode, [this](std::string* address) {
                        *address = server;
                        return !server.empty();
                    }};
};

}  // namespace outlinkwatch
