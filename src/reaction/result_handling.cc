// What a finding leads to: the notification and the reaction "block" asks for.
#include <list>

#include "platform/check_mutex.h"
#include "reaction/notify.h"
#include "reaction/reaction_decision.h"
#include "reaction/reactor.h"

namespace {

// Longest "Information" value the agent takes, in bytes.
constexpr size_t kMaxInformationBytes = 1023;
constexpr size_t kTimeBufferBytes = 128;
// The steps in which the route thread waits for the proxy check to hand
// over the proxy lists, looking between them whether the policy stops.
constexpr uint32_t kProxyListPollMs = 200;

CNotifyInfo Item(const char* name, const std::string& value) {
    CNotifyInfo item;
    item.m_strName = name;
    item.m_strValue = value;
    return item;
}

}  // namespace

InvalidTimeError::InvalidTimeError(int64_t time)
    : std::invalid_argument("time " + std::to_string(time) + " cannot be converted to local time") {}

std::string FormatTime(outlinkwatch::Os* os, int64_t time, const char* format) {
    std::tm local{};
    if (os == nullptr || !os->Clock()->LocalTime(time, &local)) throw InvalidTimeError(time);
    char text[kTimeBufferBytes] = {0};
    const size_t n = std::strftime(text, sizeof(text), format != nullptr ? format : "", &local);
    return std::string(text, n);
}

namespace outlinkwatch {

void Reactor::PackNotifyMsg(const std::string& rank, const std::string& info, const std::string& describe,
                            const std::string& key) {
    if (info.empty()) return;
    IAgent* agent = agent_->Agent();
    if (agent == nullptr) return;

    std::string logText = "Send Invalid Connection:";

    NotifyMsg msg;  // its two reserved texts stay empty
    msg.strTitle = agent_->GetLangString("rsTitle");
    msg.strTag = "test";
    agent->GetPolicyInfo(policyType_, &msg.strPolicyInfo);
    msg.strRank = rank;
    msg.nMsgCode = 101;
    logText += msg.strPolicyInfo + "," + msg.strRank + ",";

    msg.lstInfo.push_back(Item("Describe", describe));
    logText += describe + ",";

    const std::string information = info.substr(0, kMaxInformationBytes);
    msg.lstInfo.push_back(Item("Information", information));
    logText += information + ".";

    // The key is made of the whole information text, not the cut one.
    msg.strEventKey = rank + (key.empty() ? info : key) + describe;

    // The agent's time is signed; a time before 1970 cannot be shown and
    // the error ends the report here, before anything is sent.
    const int64_t now = static_cast<int64_t>(agent->GetAgentTime());
    const std::string checkTime = FormatTime(os_, now, "%Y-%m-%d %X");
    logText += checkTime + ",";
    msg.lstInfo.push_back(Item("checktime", checkTime));

    agent_->GetCommonParams(msg.common);

    std::list<NotifyMsg> msgs;
    msgs.push_back(std::move(msg));
    agent->SendNotify(policyType_, &msgs);
    msgs.clear();

    // Proxy and host texts may hold '%': the line is data, not a format.
    OW_LOG(log_, 2, "CPolicy::PackNotifyMsg", "%s", logText.c_str());
}

int Reactor::HandleResult(const std::string& kind, const ReactionInputs& in) {
    const Reaction reaction = DecideReaction(in.settings.m_strBlock, kind, in.sameInvalidProxy);
    if (reaction.denyServers && !in.denyAddr.empty()) DenyProxySerer(in.denyAddr);

    if (reaction.prompt == Reaction::Prompt::kNone) {
        if (!reaction.denyProxies) return 0;
        // The proxy lists belong to the proxy check; the route thread gets
        // here too and must not read them while that check changes them.
        // The proxy thread already holds the mutex, and holding it again is
        // allowed to its owner. The proxy check's own work is bounded; a
        // stop ends the wait, and with it this finding's reaction.
        if (in.proxyMutex == nullptr) return DenyProxyConfig(in.ieProxyIP, in.settings.m_lstValidProxyIP);
        CheckMutexHold lists(os_, in.proxyMutex, kProxyListPollMs, [&in] { return !in.stop.Exiting(); });
        return lists.held() ? DenyProxyConfig(in.ieProxyIP, in.settings.m_lstValidProxyIP) : 0;
    }

    IAgent* agent = agent_->Agent();
    if (agent == nullptr) return 0;
    // The agent is asked for the texts of both prompts before any driver
    // command, and for the closing ones in the order the prompt reads.
    std::string proxyPrompt = agent_->GetLangString("rsSecInfo") + agent_->GetLangString("rsMFProxy");
    std::string routePrompt =
        agent_->GetLangString("rsSecInfo") + agent_->GetLangString("rsRoute") + agent_->GetLangString("rsConNotity");
    if (reaction.denyProxies) {
        proxyPrompt += agent_->GetLangString("rsProxydisable");
        if (DenyProxyConfig(in.ieProxyIP, in.settings.m_lstValidProxyIP) == 0) return 0;
        agent->ShowPrompt(proxyPrompt, 2);
        return 1;
    }
    proxyPrompt += agent_->GetLangString("rsProxyNotify");
    if (reaction.blockNetwork) {
        if (BlockNetwork() == 0) return 0;
        routePrompt += agent_->GetLangString("rsBlock");
        proxyPrompt += agent_->GetLangString("rsBlock");
    }
    agent->ShowPrompt(reaction.prompt == Reaction::Prompt::kProxy ? proxyPrompt : routePrompt, 2);
    return 1;
}

}  // namespace outlinkwatch
