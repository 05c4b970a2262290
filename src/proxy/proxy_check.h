// ProxyCheck: the proxy check task - the interactive user's browser proxy
// settings read, compared with the last ones seen, judged against the
// allowed proxies and reported - and everything it keeps between tasks.
//
// Synchronisation: the task runs on the proxy thread with the proxy check
// mutex held; that mutex is the monitor's (the policy's), not this
// object's. A repeated Exec empties the remembered state while it holds
// both check mutexes (or before any thread runs). The reaction, on the
// route thread too, reads the deny addresses only while it holds the proxy
// check mutex, and the same-finding flag at any time (hence atomic).
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
#include "platform/os.h"
#include "proxy/browser_settings.h"
#include "proxy/proxy_budget.h"
#include "proxy/proxy_record.h"
#include "reaction/finding_reporter.h"

namespace outlinkwatch {

class ProxyCheck {
    // Sockets need ACE started, first in and last out.
    AceSession m_ace;

public:
    // Each reference outlives this object; settings is read only while the
    // proxy check mutex is held.
    ProxyCheck(Os* os, LogSink* log, StopToken stop, const PolicySettings& settings, FindingReporter& reporter);

    // The task; the caller holds the proxy check mutex. applyPending reads
    // parameters left by a repeated Exec, refreshAllowed brings the allowed
    // proxies' addresses up to date before a judgement (both the settings
    // owner's). 1 when a browser has an invalid proxy (new or known) or
    // nothing changed; 0 when nothing is invalid or no proxies are allowed.
    int CheckProxyConfig(const std::function<void()>& applyPending, const std::function<void()>& refreshAllowed);

    // Read (once a task: the task's own reading, otherwise a fresh one)
    // and judge one browser's setting.
    int ReadIEProxy();
    int ReadFireFoxProxy();
    int CheckIEProxy();
    int checkFireFoxProxy();
    // 1 when a record's address is not among the allowed proxies; browser
    // is "IE" or "FIREFOX".
    int CheckProxyIsInvalid(const std::list<ProxyRecord>& records, const std::string& browser);
    // Reads both browsers' settings; 1 when a raw setting differs from the
    // last one seen, which is then kept.
    int IsProxyConfigChanged();

    // A repeated Exec: the last seen settings and reported findings go, so
    // that the next task judges afresh.
    void ForgetLastSeen();
    // As ForgetLastSeen, and the texts of the findings being reported.
    void ForgetFindings();

    // The addresses the deny list is built from (IE's, then Firefox's);
    // read with the proxy check mutex held.
    const std::list<uint32_t>& IEProxyIPs() const { return m_lstIEProxyIP; }
    // Whether the last finding was one already reported.
    bool SameInvalidProxy() const { return m_bSameInvalidProxy.load() != 0; }

    // --- constant after construction
    Os* const m_pOs;
    LogSink* const m_pLog;
    const StopToken m_stop;
    const PolicySettings& m_settings;
    FindingReporter& m_reporter;

    // --- protected by the proxy check mutex
    // Where each browser's setting was read: the IE key path, prefs.js.
    std::string m_strIEProxy;
    std::string m_strFireFoxProxy;
    // The deny list's addresses: IE's, then (once judged) Firefox's. Read by
    // the reaction on either thread.
    std::list<uint32_t> m_lstIEProxyIP;
    std::list<uint32_t> m_lstFireFoxProxyIP;
    // The last findings reported, without addresses.
    std::string m_strIEInvalidMsg;
    std::string m_strFireFoxInvalidMsg;
    // The findings of this task that are new, with addresses.
    std::string m_strIEProxyInfo;
    std::string m_strFireFoxProxyInfo;
    // The raw settings last seen.
    std::string m_strLastFireFoxProxy;
    std::string m_strLastIEProxyServer;
    uint32_t m_nLastIEProxyEnable = 0;
    uint32_t m_nLastFireFoxProxyEnable = 0;
    // Each browser's proxies as judged.
    std::list<ProxyRecord> m_lstIEProxy;
    std::list<ProxyRecord> m_lstFireFoxProxy;
    // What the running task may still spend on the settings, and what an
    // unfinished judgement left to the next.
    ProxyTaskBudget m_proxyBudget;

    // --- atomic: read by the reaction without the mutex
    std::atomic<int32_t> m_bSameInvalidProxy{0};

private:
    // This task's reading of each browser's setting (buffers kept between
    // tasks); valid while m_bReadingTaken.
    IESetting m_ieSetting;
    FirefoxSetting m_ffSetting;
    bool m_bReadingTaken = false;
};

}  // namespace outlinkwatch
