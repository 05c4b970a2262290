#include "host_agent.h"

#include <cstring>
#include <ctime>

#include <nlohmann/json.hpp>

#include "bounded_file.h"
#include "host_platform.h"

namespace owhost {

// ---------------------------------------------------------------- LineSink

LineSink::~LineSink() {
    if (owned_ && stream_ != nullptr) std::fclose(stream_);
}

std::unique_ptr<LineSink> LineSink::OpenAppend(const std::string& path, std::string* error) {
    FILE* f = OpenForAppend(path, error);
    if (f == nullptr) return nullptr;
    return std::unique_ptr<LineSink>(new LineSink(f, true));
}

void LineSink::Write(const std::string& line) {
    std::lock_guard<std::mutex> lock(mu_);
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fputc('\n', stream_);
    std::fflush(stream_);
}

// ---------------------------------------------------------------- formatting

std::string FormatLogLine(int32_t level, const char* module, const char* text) {
    std::string line = "[" + std::to_string(level) + "] ";
    line += (module != nullptr && *module != '\0') ? OneLine(module, 256) : std::string("-");
    line += ": ";
    line += text != nullptr ? OneLine(text) : std::string("(null)");
    return line;
}

std::string NotifyJsonLine(const std::string& policyType, const NotifyMsg& msg) {
    // Field order as in the record, so a reader can compare with a dump.
    nlohmann::ordered_json j;
    j["policyType"] = policyType;
    j["strTag"] = msg.strTag;
    j["strTitle"] = msg.strTitle;
    j["strPolicyInfo"] = msg.strPolicyInfo;
    j["strReserved1"] = msg.strReserved1;
    j["strRank"] = msg.strRank;
    j["strReserved2"] = msg.strReserved2;
    j["strReserved3"] = msg.strReserved3;
    j["strReserved4"] = msg.strReserved4;
    j["nReserved1"] = msg.nReserved1;
    j["nMsgCode"] = msg.nMsgCode;
    j["nReserved2"] = msg.nReserved2;
    j["strEventKey"] = msg.strEventKey;
    j["strReserved5"] = msg.strReserved5;
    j["strReserved6"] = msg.strReserved6;
    j["strReserved7"] = msg.strReserved7;
    j["strReserved8"] = msg.strReserved8;
    j["strReserved9"] = msg.strReserved9;
    const CommonParams& c = msg.common;
    j["strPolicyParamVersion"] = c.strPolicyParamVersion;
    j["strAccount"] = c.strAccount;
    j["strAccountId"] = c.strAccountId;
    j["strOrgId"] = c.strOrgId;
    j["strOrgName"] = c.strOrgName;
    j["strUserName"] = c.strUserName;
    j["strUserId"] = c.strUserId;
    j["strAuthType"] = c.strAuthType;
    j["strBsid"] = c.strBsid;
    j["strLocationId"] = c.strLocationId;
    j["strLocationName"] = c.strLocationName;
    j["strCommonReserved1"] = c.strReserved1;
    j["strCommonReserved2"] = c.strReserved2;
    j["nLocationOnlineState"] = c.nLocationOnlineState;
    nlohmann::ordered_json info = nlohmann::ordered_json::array();
    for (const CNotifyInfo& item : msg.lstInfo) {
        nlohmann::ordered_json pair;
        pair["name"] = item.m_strName;
        pair["value"] = item.m_strValue;
        info.push_back(std::move(pair));
    }
    j["lstInfo"] = std::move(info);
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// ---------------------------------------------------------------- HostCommunication

int HostCommunication::GetServerAddress(std::string* pAddress, std::string*) {
    if (pAddress == nullptr) return -1;
    *pAddress = address_;
    return 0;
}

// ---------------------------------------------------------------- HostAgent

int HostAgent::GetPolicyInfo(std::string, std::string* pInfo) {
    if (pInfo == nullptr) return -1;
    *pInfo = kPolicyInfo;
    return 0;
}

IUnknown* HostAgent::GetComponent(const char* pszName) {
    if (pszName == nullptr || comm_ == nullptr) return nullptr;
    if (std::strncmp(pszName, "Communication", sizeof("Communication")) != 0) return nullptr;
    return comm_;
}

void HostAgent::WriteLog(int32_t nLevel, const char* pszModule, const char* pszText) {
    if (out_.log != nullptr) out_.log->Write(FormatLogLine(nLevel, pszModule, pszText));
}

int HostAgent::SendNotify(std::string policyType, std::list<NotifyMsg>* pMsgs) {
    if (pMsgs == nullptr) return -1;
    if (out_.events == nullptr) return 0;
    for (const NotifyMsg& msg : *pMsgs) out_.events->Write(NotifyJsonLine(policyType, msg));
    return 0;
}

int HostAgent::ShowPrompt(std::string text, int32_t) {
    // The agent's prompt is a window the user closes; here it is a line on
    // the terminal, so the policy's thread never waits for anyone.
    if (out_.prompts != nullptr) out_.prompts->Write("PROMPT: " + OneLine(text));
    return 0;
}

int32_t HostAgent::GetAgentTime() { return static_cast<int32_t>(std::time(nullptr)); }

int HostAgent::GetLangString(const std::string& module, const std::string& key, std::string* pText) {
    if (pText == nullptr) return -1;
    pText->clear();
    if (lang_ == nullptr || !lang_->Find(module, key, pText)) return -1;
    return 0;
}

}  // namespace owhost
