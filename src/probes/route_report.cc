// The route report of one trace destination: traces it, logs the route and,
// when asked, reports a route that passes no allowed address.
#include "platform/os.h"
#include "probes/conn_check.h"

namespace outlinkwatch {

namespace {

constexpr const char* kFn = "CPolicy::PrintTracert";

}  // namespace

int ConnCheck::PrintTracert(const PolicySettings& settings, const std::string& destination, int report) {
    if (destination == "127.0.0.1") {
        OW_LOG(m_pLog, 2, kFn, "The tracert IP is 127.0.0.1, don't need tracert.");
        return 1;
    }
    // The agent's own server is not traced.
    std::string server;
    if (m_serverAddress && m_serverAddress(&server) && server == destination) return 0;

    const std::string destinationLine = "Tracert destination: " + destination;
    OW_LOG(m_pLog, 2, kFn, "%s", destinationLine.c_str());
    if (m_stop.Exiting()) {
        OW_LOG(m_pLog, 2, kFn, "g_bExit is true when tracert");
        return 0;
    }
    // A trace still waiting on another thread sees the flag within one poll
    // and stops; give it that time before starting the next one.
    uint8_t running = 0;
    if (m_tracer.m_bRouteChanged.compare_exchange_strong(running, 1)) m_pOs->Clock()->SleepMs(kTraceSettleMs);

    std::string route;
    const int result =
        m_tracer.Trace(m_pOs, m_stop, m_osCode.load(), destination, settings.m_lstValidRouteIP, route);
    if (result == TRACE_NO_RESPONSE) {
        OW_LOG(m_pLog, 2, kFn, "No Response when tracert: %s", destinationLine.c_str());
        return 0;
    }
    if (result != TRACE_RESPONSES) return 0;

    OW_LOG(m_pLog, 2, kFn, "No valid responses when tracert : %s", destinationLine.c_str());
    OW_LOG(m_pLog, 2, kFn, "Tracert success, trace info:%s", route.c_str());
    if (report != 0) {
        const std::string info =
            m_reporter.GetLangString("rsRouteAdrr") + destination + m_reporter.GetLangString("rsRouteInfo") + route;
        // The same route reported before is not reported again.
        if (info != m_strTracertInfo) {
            m_reporter.PackNotifyMsg("", info, "3", "3" + destination + "4" + route);
            m_reporter.HandleResult("route");
            m_strTracertInfo = info;
        }
    }
    return 1;
}

}  // namespace outlinkwatch
