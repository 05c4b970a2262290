// What a finding leads to: the notification and the reaction "block" asks for.
#include <list>

#include "engine/check_mutex.h"
#include "plugin/policy.h"
#include "reaction/notify.h"
#include "reaction/reaction_decision.h"

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

void CPolicy::PackNotifyMsg(const std::string&, const std::string& info, const std::string& describe,
                            const std::string& key) {
    if (info.empty()) return;
    IAgent* agent = GetCheckedAgent();
    if (agent == nullptr) return;

    std::string logText = "Send Invalid Connection:";

    NotifyMsg msg;
    msg.strTitle = GetLangString("rsTitle");
    msg.strTag = "test";
    agent->GetPolicyInfo(kPolicyType, &msg.strPolicyInfo);
    msg.strReserved1.clear();
    msg.strRank = m_settings.m_strRank;
    msg.nMsgCode = 101;
    logText += msg.strPolicyInfo + "," + msg.strRank + ",";

    msg.lstInfo.push_back(Item("Describe", describe));
    logText += describe + ",";

    const std::string information = info.substr(0, kMaxInformationBytes);
    msg.lstInfo.push_back(Item("Information", information));
    logText += information + ".";

    // The key is made of the whole information text, not the cut one.
    msg.strEventKey = m_settings.m_strRank + (key.empty() ? info : key) + describe;

    // The agent's time is signed; a time before 1970 cannot be shown and
    // the error ends the report here, before anything is sent.
    const int64_t now = static_cast<int64_t>(agent->GetAgentTime());
    const std::string checkTime = FormatTime(m_pOs, now, "%Y-%m-%d %X");
    logText += checkTime + ",";
    msg.lstInfo.push_back(Item("checktime", checkTime));

    msg.strReserved2.clear();
    GetCommonParams(msg.common);

    std::list<NotifyMsg> msgs;
    msgs.push_back(std::move(msg));
    agent->SendNotify(kPolicyType, &msgs);
    msgs.clear();

    // Proxy and host texts may hold '%': the line is data, not a format.
    OW_LOG(this, 2, "CPolicy::PackNotifyMsg", "%s", logText.c_str());
}

int CPolicy::HandleResult(std::string kind) {
    const outlinkwatch::Reaction reaction = outlinkwatch::DecideReaction(m_settings.m_strBlock, kind, m_proxyCheck.SameInvalidProxy());
    if (reaction.denyServers && !m_connCheck.DenyAddrs().empty()) DenyProxySerer();

    if (reaction.prompt == outlinkwatch::Reaction::Prompt::kNone) {
        if (!reaction.denyProxies) return 0;
        // The proxy lists belong to the proxy check; the route thread gets
        // here too and must not read them while that check changes them.
        // The proxy thread already holds the mutex, and holding it again is
        // allowed to its owner. The proxy check's own work is bounded; a
        // stop ends the wait, and with it this finding's reaction.
        const outlinkwatch::Handle proxyMutex = m_monitor.ProxyMutex();
        if (proxyMutex == nullptr) return DenyProxyConfig();
        outlinkwatch::CheckMutexHold lists(m_pOs, proxyMutex, kProxyListPollMs,
                                           [] { return g_bExit.load() == 0; });
        return lists.held() ? DenyProxyConfig() : 0;
    }

    IAgent* agent = GetCheckedAgent();
    if (agent == nullptr) return 0;
    // The agent is asked for the texts of both prompts before any driver
    // command, and for the closing ones in the order the prompt reads.
    std::string proxyPrompt = GetLangString("rsSecInfo") + GetLangString("rsMFProxy");
    std::string routePrompt = GetLangString("rsSecInfo") + GetLangString("rsRoute") + GetLangString("rsConNotity");
    if (reaction.denyProxies) {
        proxyPrompt += GetLangString("rsProxydisable");
        if (DenyProxyConfig() == 0) return 0;
        agent->ShowPrompt(proxyPrompt, 2);
        return 1;
    }
    proxyPrompt += GetLangString("rsProxyNotify");
    if (reaction.blockNetwork) {
        if (BlockNetwork() == 0) return 0;
        routePrompt += GetLangString("rsBlock");
        proxyPrompt += GetLangString("rsBlock");
    }
    agent->ShowPrompt(reaction.prompt == outlinkwatch::Reaction::Prompt::kProxy ? proxyPrompt : routePrompt, 2);
    return 1;
}
