// An agent for tests: records what the policy hands it and lets a test wait,
// with a bound, until a log line shows up.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "outlinkwatch/agent_base.h"

namespace outlinkwatch {

struct LogLine {
    int32_t level;
    std::string module;
    std::string text;
};

class RecordingAgent : public AgentBase {
public:
    int GetPolicyInfo(std::string policyType, std::string* pInfo) override;
    IUnknown* GetComponent(const char* pszName) override;
    void WriteLog(int32_t nLevel, const char* pszModule, const char* pszText) override;
    int SendNotify(std::string policyType, std::list<NotifyMsg>* pMsgs) override;
    int ShowPrompt(std::string text, int32_t nKind) override;
    int GetLangString(const std::string& module, const std::string& key, std::string* pText) override;

    void SetLangText(const std::string& key, const std::string& text);

    // --- reaction: what the policy sent and prompted, and the agent's clock
    int32_t GetAgentTime() override;
    void SetAgentTime(int32_t time);
    struct Prompt {
        std::string text;
        int32_t kind;
    };
    std::vector<Prompt> Prompts();
    // Each SendNotify call: the policy type and the list as it was handed over.
    std::vector<std::pair<std::string, std::list<NotifyMsg>>> Notifications();

    std::vector<LogLine> Logs();
    // Lines whose text contains the fragment.
    int CountLogs(const std::string& fragment);
    // Waits until at least count lines contain the fragment; false at the bound.
    bool WaitForLogs(const std::string& fragment, int count,
                     std::chrono::milliseconds bound = std::chrono::seconds(20));

private:
    int CountLocked(const std::string& fragment);

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<LogLine> logs_;
    std::map<std::string, std::string> texts_;

    // --- reaction
    int32_t time_ = 1700000000;
    std::vector<Prompt> prompts_;
    std::vector<std::pair<std::string, std::list<NotifyMsg>>> notifications_;
};

}  // namespace outlinkwatch
