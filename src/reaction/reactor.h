// The reaction to a finding: the notification to the agent, what the
// "block" value asks for (a prompt, a deny list, a cut of the network) and
// the filter device's commands. It keeps no state: what it reads of the
// policy comes in with each call, so a reactor is made wherever one is
// needed.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "base/log_sink.h"
#include "base/stop_token.h"
#include "config/policy_settings.h"
#include "outlinkwatch/interfaces.h"
#include "outlinkwatch/records.h"
#include "platform/os.h"
#include "reaction/deny_list.h"

namespace outlinkwatch {

// What the reactor asks of the agent; the policy object answers it.
class ReactionAgent {
public:
    virtual ~ReactionAgent() = default;
    // The agent; null when there is none, and then nothing is sent or prompted.
    virtual IAgent* Agent() = 0;
    // Language text of a key.
    virtual std::string GetLangString(const std::string& key) = 0;
    // The terminal's common parameters that a notification carries.
    virtual void GetCommonParams(CommonParams& out) = 0;
};

// What a reaction reads of the policy's state, for the length of one call.
struct ReactionInputs {
    // "block", and the allowed proxies that a deny list leaves out.
    const PolicySettings& settings;
    // The servers the connection check reached, as address texts.
    const std::list<std::string>& denyAddr;
    // The invalid proxies' addresses (network order): the proxy check's,
    // changed by it while it holds proxyMutex.
    const std::list<uint32_t>& ieProxyIP;
    // Whether the proxy finding is the one already reported.
    bool sameInvalidProxy;
    // The proxy check's mutex; null before the checks started.
    Handle proxyMutex;
    StopToken stop;
};

class Reactor {
public:
    // policyType: the policy's identity towards the agent.
    Reactor(Os* os, LogSink* log, ReactionAgent* agent, const char* policyType)
        : os_(os), log_(log), agent_(agent), policyType_(policyType) {}

    // Sends one finding to the agent, with the policy's "rank"; nothing
    // when info is empty or there is no agent. Throws InvalidTimeError for
    // an agent time the platform cannot show, before anything is sent.
    void PackNotifyMsg(const std::string& rank, const std::string& info, const std::string& describe,
                       const std::string& key);
    // Reacts to a finding of kind "route", "conn" or "Proxy" as "block"
    // asks; 1 when the user was prompted, or, without a prompt, the result
    // of the deny command.
    int HandleResult(const std::string& kind, const ReactionInputs& in);

    // One control call to the filter device; 1 when it succeeded.
    int SendNfwCommand(uint32_t code, const void* buffer, uint32_t length);
    // Denies the invalid proxies (network order) but the allowed ones (host order).
    int DenyProxyConfig(const std::list<uint32_t>& ieProxyIP, const std::list<uint32_t>& validProxyIP);
    // Denies the servers a connection check reached.
    int DenyProxySerer(const std::list<std::string>& denyAddr);
    // Lifts the deny list.
    int EnableProxy();
    // Cuts the network off; not lifted by this system.
    int BlockNetwork();

private:
    int SendDenyList(const DenyList& deny);

    // Constant after construction.
    Os* const os_;
    LogSink* const log_;
    ReactionAgent* const agent_;
    const char* const policyType_;
};

}  // namespace outlinkwatch
