// An agent for tests: records what the policy hands it and lets a test wait,
// with a bound, until a log line shows up.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "outlinkwatch/agent_base.h"
#include "outlinkwatch/communication_base.h"

namespace outlinkwatch {

struct LogLine {
    int32_t level;
    std::string module, text;
};

class RecordingAgent : public AgentBase {
public:
    struct Prompt {
        std::string text;
        int32_t kind;
    };
    // Each SendNotify call: the policy type and the list as handed over.
    using Notification = std::pair<std::string, std::list<NotifyMsg>>;

    int GetPolicyInfo(std::string, std::string* pInfo) override {
        if (pInfo != nullptr) *pInfo = "test policy";
        return 0;
    }
    IUnknown* GetComponent(const char* pszName) override {
        std::lock_guard<std::mutex> lock(mu_);
        const bool asked = hasCommunication_ && pszName != nullptr && std::string(pszName) == "Communication";
        return asked ? &communication_ : nullptr;
    }
    void WriteLog(int32_t nLevel, const char* pszModule, const char* pszText) override {
        std::lock_guard<std::mutex> lock(mu_);
        logs_.push_back(LogLine{nLevel, pszModule != nullptr ? pszModule : "", pszText != nullptr ? pszText : ""});
        cv_.notify_all();
    }
    int SendNotify(std::string policyType, std::list<NotifyMsg>* pMsgs) override {
        std::lock_guard<std::mutex> lock(mu_);
        notifications_.emplace_back(policyType, pMsgs != nullptr ? *pMsgs : std::list<NotifyMsg>());
        return 0;
    }
    int ShowPrompt(std::string text, int32_t nKind) override {
        std::lock_guard<std::mutex> lock(mu_);
        prompts_.push_back(Prompt{text, nKind});
        return 0;
    }
    int GetLangString(const std::string&, const std::string& key, std::string* pText) override {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = texts_.find(key);
        if (pText != nullptr && it != texts_.end()) *pText = it->second;
        return 0;
    }
    int32_t GetAgentTime() override { return time_.load(); }

    void SetAgentTime(int32_t time) { time_.store(time); }
    void SetLangText(const std::string& key, const std::string& text) { Locked([&] { texts_[key] = text; }); }
    // Serves a "Communication" component whose server address is this one.
    void SetCommunicationAddress(const std::string& address) {
        Locked([&] {
            hasCommunication_ = true;
            communication_.address = address;
        });
    }
    std::vector<Prompt> Prompts() { return Locked([&] { return prompts_; }); }
    std::vector<Notification> Notifications() { return Locked([&] { return notifications_; }); }
    std::vector<LogLine> Logs() { return Locked([&] { return logs_; }); }
    // Lines whose text contains the fragment.
    int CountLogs(const std::string& fragment) { return Locked([&] { return CountLocked(fragment); }); }
    // Waits until at least count lines contain the fragment; false at the bound.
    bool WaitForLogs(const std::string& fragment, int count, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, bound, [&] { return CountLocked(fragment) >= count; });
    }

private:
    struct Communication : CommunicationBase {
        int GetServerAddress(std::string* pAddress, std::string* pOther) override {
            if (pAddress != nullptr) *pAddress = address;
            if (pOther != nullptr) *pOther = "other";
            return 0;
        }
        std::string address;
    };

    template <typename F>
    auto Locked(F f) -> decltype(f()) {
        std::lock_guard<std::mutex> lock(mu_);
        return f();
    }
    int CountLocked(const std::string& fragment) {
        int n = 0;
        for (const LogLine& l : logs_) n += l.text.find(fragment) != std::string::npos;
        return n;
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<LogLine> logs_;
    std::map<std::string, std::string> texts_;
    bool hasCommunication_ = false;
    Communication communication_;
    std::atomic<int32_t> time_{1700000000};
    std::vector<Prompt> prompts_;
    std::vector<Notification> notifications_;
};

}  // namespace outlinkwatch
