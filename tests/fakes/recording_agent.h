// An agent for tests: records what the policy hands it and lets a test wait,
// with a bound, until a log line shows up.
#pragma once

#include <atomic>
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

    // --- route tracer
    // Serves a "Communication" component whose server address is this one.
    void SetCommunicationAddress(const std::string& address);
    // How many notification calls the agent received.
    int NotifyCount();
    // --- reaction: the agent's clock, and what the policy prompted and sent
    // (each SendNotify call: the policy type and the list as handed over)
    int32_t GetAgentTime() override { return time_.load(); }
    void SetAgentTime(int32_t time) { time_.store(time); }
    struct Prompt {
        std::string text;
        int32_t kind;
    };
    std::vector<Prompt> Prompts() { std::lock_guard<std::mutex> l(mu_); return prompts_; }
    using Notification = std::pair<std::string, std::list<NotifyMsg>>;
    std::vector<Notification> Notifications() { std::lock_guard<std::mutex> l(mu_); return notifications_; }

    std::vector<LogLine> Logs();
    // Lines whose text contains the fragment.
    int CountLogs(const std::string& fragment);
    // Waits until at least count lines contain the fragment; false at the bound.
    bool WaitForLogs(const std::string& fragment, int count,
                     std::chrono::milliseconds bound = std::chrono::seconds(20));

private:
    class Communication : public ICommunication {
    public:
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
            if (ppv != nullptr) *ppv = this;
            return 0;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
        ULONG STDMETHODCALLTYPE Release() override { return 1; }
        int CommReserved4() override { return 0; }
        int CommReserved5() override { return 0; }
        int CommReserved6() override { return 0; }
        int CommReserved7() override { return 0; }
        int CommReserved8() override { return 0; }
        int CommReserved9() override { return 0; }
        int CommReserved10() override { return 0; }
        int CommReserved11() override { return 0; }
        int CommReserved12() override { return 0; }
        int CommReserved13() override { return 0; }
        int GetServerAddress(std::string* pAddress, std::string* pOther) override {
            if (pAddress != nullptr) *pAddress = address;
            if (pOther != nullptr) *pOther = "other";
            return 0;
        }
        std::string address;
    };

    int CountLocked(const std::string& fragment);

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<LogLine> logs_;
    std::map<std::string, std::string> texts_;
    bool hasCommunication_ = false;
    Communication communication_;

    // --- reaction
    std::atomic<int32_t> time_{1700000000};
    std::vector<Prompt> prompts_;
    std::vector<Notification> notifications_;
};

}  // namespace outlinkwatch
