// The TCP/HTTP probe: can this terminal open a connection to one endpoint,
// and, for a web server on port 80, does its answer come from the real
// outside or redirect to the managed network's image servers?
//
// What reads the answer text lives in http_answer.h, apart from the sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

#include "base/log_sink.h"
#include "base/stop_token.h"
#include "probes/http_answer.h"

class ACE_INET_Addr;
class ACE_Message_Block;

namespace outlinkwatch {
class Os;
}  // namespace outlinkwatch

constexpr int PROBE_CONNECTED = 0;
constexpr int PROBE_FAILED = -1;
constexpr int PROBE_REDIRECTED = -2;

class CInvalidSocket {
public:
    // The Os resolves names and scales the network time-outs; the probe's
    // lines go to log and it gives up when stop says the library stops.
    // All are the caller's own; without log there are no lines, without
    // stop the probe is never cut short.
    explicit CInvalidSocket(outlinkwatch::Os* os, outlinkwatch::LogSink* log = nullptr,
                            const outlinkwatch::StopToken* stop = nullptr)
        : m_pOs(os), m_pLog(log), m_pStop(stop) {}

    // One probe: PROBE_CONNECTED, PROBE_FAILED or PROBE_REDIRECTED.
    int connect(const ACE_INET_Addr& endpoint, const std::list<std::string>& imageIPs);

    int GetResponseCode(const ACE_Message_Block& block);
    std::string GetLocationHost(const ACE_Message_Block& block);
    // Appends the host's IPv4 addresses, except 127.0.0.1 and 0.0.0.0, as
    // dotted texts; false for an empty host or one that does not resolve.
    bool ResolveHost(const std::string& host, std::list<std::string>& addrs);
    static bool IsImageIP(const std::list<std::string>& addrs, const std::list<std::string>& imageIPs);

private:
    outlinkwatch::Os* const m_pOs;
    outlinkwatch::LogSink* const m_pLog;
    const outlinkwatch::StopToken* const m_pStop;
};
