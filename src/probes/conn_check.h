// The connection check: what it keeps between checks (the route tracer, the
// last route and connection findings it reported, the addresses a reached
// server is denied by) and its operations. The policy owns one and forwards
// its members to it.
//
// The class sits with the probes because all of its state is theirs: the
// route report (route_report.cc) and the connection probe (conn_probe.cc)
// write it. The engine adds the dispatch and the adapter query
// (engine/conn_check.cc) on top, so the probes never need the engine.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <string>

#include "base/log_sink.h"
#include "base/stop_token.h"
#include "probes/ace_session.h"
#include "config/policy_settings.h"
#include "probes/route_tracer.h"
#include "reaction/finding_reporter.h"

namespace outlinkwatch {

class Os;

class ConnCheck {
    // Sockets need ACE started, first in and last out.
    AceSession m_ace;

public:
    // The agent's own server address; false when the agent has none. That
    // server is never traced.
    using ServerAddress = std::function<bool(std::string* address)>;

    // Everything given outlives the check. osCode is the operating-system
    // code, known only once the policy is initialised, so it is read at
    // each trace.
    ConnCheck(Os* os, LogSink* log, FindingReporter& reporter, StopToken stop, const std::atomic<int32_t>& osCode,
              ServerAddress serverAddress)
        : m_pOs(os),
          m_pLog(log),
          m_reporter(reporter),
          m_stop(stop),
          m_osCode(osCode),
          m_serverAddress(std::move(serverAddress)) {}
    ConnCheck(const ConnCheck&) = delete;
    ConnCheck& operator=(const ConnCheck&) = delete;

    // The operations run on the route thread, each under the connection
    // mutex its caller holds; settings are read only while it is held.

    // 1 when some adapter has a usable IPv4 address (not 0.0.0.0 nor
    // 127.0.0.1); 0 otherwise or when the adapter list cannot be had.
    int IsActivedNetwork();
    // The check of the settings' mode: route mode (type 0) traces, any
    // other probes. Names that did not resolve are retried by the caller
    // first.
    int Run(const PolicySettings& settings);
    // 1 when a trace reported a route or there is nothing to trace.
    int TraceRouteAddrs(const PolicySettings& settings);
    // Traces the route to destination (dotted text) and, with report
    // non-zero, reports a route that passes no allowed address once.
    int PrintTracert(const PolicySettings& settings, const std::string& destination, int report);
    // Probes the connect addresses in order and reports the first reached.
    int TCPCheckOutlink(const PolicySettings& settings);

    // Asks a trace under way to stop; any thread.
    void CancelTrace() { m_tracer.m_bRouteChanged.store(1); }
    // Forgets the findings reported, so the next one is reported again.
    // Only while no check runs (or its caller holds the connection mutex).
    void ForgetFindings() {
        m_strTracertInfo.clear();
        m_strConnInfo.clear();
    }

    // The servers the last connection check reached, to deny; read by the
    // reaction to a connection finding, which that check itself raises.
    const std::list<std::string>& DenyAddrs() const { return m_lstDenyAddr; }
    const std::string& TracertInfo() const { return m_strTracertInfo; }
    const std::string& ConnInfo() const { return m_strConnInfo; }

    // For tests that need the state a check in progress leaves.
    CRouteTracer& TracerForTesting() { return m_tracer; }
    std::list<std::string>& DenyAddrsForTesting() { return m_lstDenyAddr; }

private:
    // Constant after construction.
    Os* const m_pOs;
    LogSink* const m_pLog;
    FindingReporter& m_reporter;
    const StopToken m_stop;
    const std::atomic<int32_t>& m_osCode;
    const ServerAddress m_serverAddress;

    // Its one flag is atomic: set from any thread to cancel a trace, which
    // runs on the route thread.
    CRouteTracer m_tracer;
    // Protected by the connection mutex: written by the checks; cleared by
    // the policy while it holds both check mutexes or no check thread runs.
    std::string m_strTracertInfo;
    std::string m_strConnInfo;
    // Protected by the connection mutex: written by TCPCheckOutlink and
    // read by the reaction to the "conn" finding that the same check raises
    // on the same thread. The proxy thread's reaction ("Proxy") never reads
    // it: the reaction looks at the kind before the list.
    std::list<std::string> m_lstDenyAddr;
};

}  // namespace outlinkwatch
