#include "fakes/recording_agent.h"

namespace outlinkwatch {

int RecordingAgent::GetPolicyInfo(std::string, std::string* pInfo) {
    if (pInfo != nullptr) *pInfo = "test policy";
    return 0;
}

IUnknown* RecordingAgent::GetComponent(const char* pszName) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!hasCommunication_ || pszName == nullptr || std::string(pszName) != "Communication") return nullptr;
    return &communication_;
}

void RecordingAgent::WriteLog(int32_t nLevel, const char* pszModule, const char* pszText) {
    std::lock_guard<std::mutex> lock(mu_);
    logs_.push_back(LogLine{nLevel, pszModule != nullptr ? pszModule : "", pszText != nullptr ? pszText : ""});
    cv_.notify_all();
}

int RecordingAgent::SendNotify(std::string policyType, std::list<NotifyMsg>* pMsgs) {
    std::lock_guard<std::mutex> lock(mu_);
    notifications_.emplace_back(policyType, pMsgs != nullptr ? *pMsgs : std::list<NotifyMsg>());
    return 0;
}

int RecordingAgent::ShowPrompt(std::string text, int32_t nKind) {
    std::lock_guard<std::mutex> lock(mu_);
    prompts_.push_back(Prompt{text, nKind});
    return 0;
}

int RecordingAgent::GetLangString(const std::string&, const std::string& key, std::string* pText) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = texts_.find(key);
    if (pText != nullptr && it != texts_.end()) *pText = it->second;
    return 0;
}

void RecordingAgent::SetLangText(const std::string& key, const std::string& text) {
    std::lock_guard<std::mutex> lock(mu_);
    texts_[key] = text;
}

std::vector<LogLine> RecordingAgent::Logs() {
    std::lock_guard<std::mutex> lock(mu_);
    return logs_;
}

int RecordingAgent::CountLocked(const std::string& fragment) {
    int n = 0;
    for (const LogLine& l : logs_) {
        if (l.text.find(fragment) != std::string::npos) ++n;
    }
    return n;
}

int RecordingAgent::CountLogs(const std::string& fragment) {
    std::lock_guard<std::mutex> lock(mu_);
    return CountLocked(fragment);
}

bool RecordingAgent::WaitForLogs(const std::string& fragment, int count, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, bound, [&] { return CountLocked(fragment) >= count; });
}


// --- route tracer

void RecordingAgent::SetCommunicationAddress(const std::string& address) {
    std::lock_guard<std::mutex> lock(mu_);
    hasCommunication_ = true;
    communication_.address = address;
}

int RecordingAgent::NotifyCount() {
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<int>(notifications_.size());
}

}  // namespace outlinkwatch
