#include "reaction/reaction_decision.h"

namespace outlinkwatch {

Reaction DecideReaction(const std::string& block, const std::string& kind, bool same) {
    Reaction r;
    if (block == "0") return r;
    const bool proxy = kind == "Proxy";
    r.denyServers = block == "3" && kind == "conn";
    if (same && block == "3") {
        // A known proxy finding is denied again, quietly.
        r.denyProxies = true;
        return r;
    }
    if (proxy && same && block == "1") return r;

    if (block == "3" && proxy) {
        r.denyProxies = true;
        r.prompt = Reaction::Prompt::kProxy;
        return r;
    }
    r.prompt = proxy ? Reaction::Prompt::kProxy : Reaction::Prompt::kRoute;
    r.blockNetwork = block == "2";
    return r;
}

}  // namespace outlinkwatch
