// The agent side of the boundary as the reference host implements it: the
// IAgent object the policy calls back into, the optional "Communication"
// component, and the line outputs they write to.
//
// The policy calls from its own threads, several at once, so every output
// is serialised per line; the agent's other state is fixed before the
// policy is created.
#pragma once

#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "lang_file.h"
#include "outlinkwatch/agent_base.h"
#include "outlinkwatch/communication_base.h"
#include "outlinkwatch/interfaces.h"
#include "outlinkwatch/records.h"

namespace owhost {

// One output that whole lines are written to, flushed after each line.
class LineSink {
public:
    // Takes a stream the caller keeps open (stdout, stderr).
    explicit LineSink(FILE* stream) : stream_(stream), owned_(false) {}
    ~LineSink();
    LineSink(const LineSink&) = delete;
    LineSink& operator=(const LineSink&) = delete;

    // Opens a file for appending; null with a one-line reason on failure.
    static std::unique_ptr<LineSink> OpenAppend(const std::string& path, std::string* error);

    // Writes line and a line end as one unit. Write errors (a closed pipe,
    // a full disk) are ignored: the policy must not stall on its log.
    void Write(const std::string& line);

private:
    LineSink(FILE* stream, bool owned) : stream_(stream), owned_(owned) {}

    std::mutex mu_;
    FILE* stream_;
    bool owned_;
};

// The log line of one WriteLog call: "[level] module: text", on one line.
std::string FormatLogLine(int32_t level, const char* module, const char* text);

// One notification as one JSON object on one line (no line end). Bytes that
// are not UTF-8 become U+FFFD instead of failing the whole line.
std::string NotifyJsonLine(const std::string& policyType, const NotifyMsg& msg);

// The agent's "Communication" component: reports the management server's
// address.
class HostCommunication final : public CommunicationBase {
public:
    explicit HostCommunication(std::string address) : address_(std::move(address)) {}

    // Fills the first text with the server address; the second is left as
    // the caller had it. Returns 0, or -1 without a place to write to.
    int GetServerAddress(std::string* pAddress, std::string* pOther) override;

private:
    const std::string address_;
};

struct AgentOutputs {
    LineSink* log = nullptr;      // WriteLog lines
    LineSink* events = nullptr;   // SendNotify JSON lines
    LineSink* prompts = nullptr;  // ShowPrompt lines
};

// The agent object. It lives for the whole run, so reference counting is
// trivial; everything it reads after construction is immutable.
class HostAgent final : public AgentBase {
public:
    static constexpr const char* kPolicyInfo = "OutlinkWatch policy (reference host)";

    // lang and comm must outlive the agent; comm may be null (no server).
    HostAgent(AgentOutputs outputs, const LangTable* lang, HostCommunication* comm)
        : out_(outputs), lang_(lang), comm_(comm) {}

    int GetPolicyInfo(std::string policyType, std::string* pInfo) override;
    IUnknown* GetComponent(const char* pszName) override;
    void WriteLog(int32_t nLevel, const char* pszModule, const char* pszText) override;
    int SendNotify(std::string policyType, std::list<NotifyMsg>* pMsgs) override;
    int ShowPrompt(std::string text, int32_t nKind) override;
    int32_t GetAgentTime() override;
    // 0 and the text when the module has the key; -1 and an empty text otherwise.
    int GetLangString(const std::string& module, const std::string& key, std::string* pText) override;

private:
    const AgentOutputs out_;
    const LangTable* const lang_;
    HostCommunication* const comm_;
};

}  // namespace owhost
