// The connection check: probes the configured outside addresses in order
// and reports the first one this terminal can really reach.
#include <ace/INET_Addr.h>

#include <cstdint>

#include "config/address_parsing.h"
#include "probes/conn_check.h"
#include "probes/invalid_socket.h"

namespace outlinkwatch {

int ConnCheck::TCPCheckOutlink(const PolicySettings& settings) {
    const char* fn = "CPolicy::TCPCheckOutlink";
    if (settings.m_lstConnectAddr.empty()) return 1;
    m_lstDenyAddr.clear();

    for (const ConnectAddrRecord& record : settings.m_lstConnectAddr) {
        const std::string endpoint = record.strAddr + ":" + record.strPort;
        if (m_stop.Exiting()) {
            OW_LOG(m_pLog, 2, fn, "g_bExit is true when Telnet:%s", endpoint.c_str());
            return 0;
        }
        // A repeated Exec waits for this check: the rest of the list is
        // probed with the new parameters, by the next check.
        if (m_stop.ParamsPending()) return 0;

        const uint32_t ip = HostFromNet(InetAddr(record.strAddr));
        const ACE_INET_Addr target(AtoiPort(record.strPort), ip);
        const int result = CInvalidSocket(m_pOs, m_pLog, &m_stop).connect(target, settings.m_lstImageIP);
        if (result == PROBE_REDIRECTED) {
            OW_LOG(m_pLog, 2, fn, "Connect redirectional:%s", endpoint.c_str());
            continue;
        }
        if (result != PROBE_CONNECTED) {
            OW_LOG(m_pLog, 2, fn, "Connect fail:%s", endpoint.c_str());
            continue;
        }
        OW_LOG(m_pLog, 2, fn, "Connect succ:%s", endpoint.c_str());

        // The route is traced for the log only.
        PrintTracert(settings, record.strAddr, 0);
        const std::string info = record.strHost + m_reporter.GetLangString("rsSuccess");
        const std::string describe = "3";
        const std::string key = std::string(1, '\x02') + record.strHost;
        if (info == m_strConnInfo) return 1;  // reported before
        m_reporter.PackNotifyMsg("", info, describe, key);
        m_lstDenyAddr.push_back(record.strAddr);
        m_reporter.HandleResult("conn");
        m_strConnInfo = info;
        return 1;
    }
    return 0;
}

}  // namespace outlinkwatch
