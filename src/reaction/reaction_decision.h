// What a finding leads to, as the policy's "block" value asks: decided on
// plain values, carried out by CPolicy::HandleResult.
#pragma once

#include <string>

namespace outlinkwatch {

struct Reaction {
    // Sends the deny list of the servers a connection check reached, first.
    bool denyServers = false;
    // Denies the invalid proxies' addresses. Without a prompt the proxy
    // lists are read under the proxy check's mutex, and the result is that
    // of the deny command.
    bool denyProxies = false;
    // Cuts the network off.
    bool blockNetwork = false;
    // Whether the user is told, and with which of the two prompts (the
    // proxy prompt or the route prompt). A prompt needs the agent, and the
    // reaction succeeds (1) only if its deny or block command did.
    enum class Prompt { kNone, kProxy, kRoute };
    Prompt prompt = Prompt::kNone;
};

// block: "0" nothing, "1" prompt, "2" prompt and cut the network, "3" deny
// the proxies (or the reached servers); any other value prompts. kind is
// "Proxy" for a proxy finding, anything else for a connection finding;
// same is whether the proxy finding is the one already reported.
Reaction DecideReaction(const std::string& block, const std::string& kind, bool same);

}  // namespace outlinkwatch
