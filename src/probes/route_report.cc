// The route report of one trace destination: traces it, logs the route and,
// when asked, reports a route that passes no allowed address.
#include "plugin/policy.h"

namespace {

constexpr const char* kFn = "CPolicy::PrintTracert";

// The agent's own server address, from its "Communication" component; false
// without one. Both operations are reached by their slots on what the agent
// handed in, without the checked cast, so the sanitizer's type check is left
// out here as in the log call. The component belongs to the agent and is not
// released.
#if defined(__GNUC__)
__attribute__((no_sanitize("vptr")))
#endif
bool CommunicationAddress(IUnknown* agent, std::string* address) {
    if (agent == nullptr) return false;
    IUnknown* component = static_cast<IAgent*>(agent)->GetComponent("Communication");
    if (component == nullptr) return false;
    std::string other;
    static_cast<ICommunication*>(component)->GetServerAddress(address, &other);
    return true;
}

}  // namespace

int CPolicy::PrintTracert(const std::string& destination, int report) {
    if (destination == "127.0.0.1") {
        OW_LOG(this, 2, kFn, "The tracert IP is 127.0.0.1, don't need tracert.");
        return 1;
    }
    // The agent's own server is not traced.
    std::string server;
    if (CommunicationAddress(GetAgent(), &server) && server == destination) return 0;

    const std::string destinationLine = "Tracert destination: " + destination;
    OW_LOG(this, 2, kFn, "%s", destinationLine.c_str());
    if (g_bExit.load() != 0) {
        OW_LOG(this, 2, kFn, "g_bExit is true when tracert");
        return 0;
    }
    // A trace still waiting on another thread sees the flag within one poll
    // and stops; give it that time before starting the next one.
    uint8_t running = 0;
    if (m_tracer.m_bRouteChanged.compare_exchange_strong(running, 1)) os()->Clock()->SleepMs(kTraceSettleMs);

    std::string route;
    const int result = m_tracer.Trace(os(), destination, m_settings.m_lstValidRouteIP, route);
    if (result == TRACE_NO_RESPONSE) {
        OW_LOG(this, 2, kFn, "No Response when tracert: %s", destinationLine.c_str());
        return 0;
    }
    if (result != TRACE_RESPONSES) return 0;

    OW_LOG(this, 2, kFn, "No valid responses when tracert : %s", destinationLine.c_str());
    OW_LOG(this, 2, kFn, "Tracert success, trace info:%s", route.c_str());
    if (report != 0) {
        const std::string info = GetLangString("rsRouteAdrr") + destination + GetLangString("rsRouteInfo") + route;
        // The same route reported before is not reported again.
        if (info != m_strTracertInfo) {
            PackNotifyMsg("", info, "3", "3" + destination + "4" + route);
            HandleResult("route");
            m_strTracertInfo = info;
        }
    }
    return 1;
}
