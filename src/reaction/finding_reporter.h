// What a check does with a finding: the texts it reports are in the user's
// language, the report goes to the agent, and the reaction (prompt, filter
// driver) follows the policy's "block" setting. The policy object answers
// these; a check holds only this view of it.
#pragma once

#include <string>

namespace outlinkwatch {

class FindingReporter {
public:
    virtual ~FindingReporter() = default;
    // Language text of a key, from the agent.
    virtual std::string GetLangString(const std::string& key) = 0;
    // Sends one finding to the agent; nothing when info is empty.
    virtual void PackNotifyMsg(const std::string& kind, const std::string& info, const std::string& describe,
                               const std::string& key) = 0;
    // Reacts to a finding of kind "route", "conn" or "Proxy"; 1 when the
    // user was prompted.
    virtual int HandleResult(std::string kind) = 0;
    // Lifts the filter driver's deny list.
    virtual int EnableProxy() = 0;
};

}  // namespace outlinkwatch
