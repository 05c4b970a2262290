#include "proxy/proxy_check.h"

#include "proxy/deal_my_proxy.h"
#include "proxy/proxy_verdict.h"

namespace outlinkwatch {

ProxyCheck::ProxyCheck(Os* os, LogSink* log, StopToken stop, const PolicySettings& settings,
                       FindingReporter& reporter)
    : m_pOs(os), m_pLog(log), m_stop(stop), m_settings(settings), m_reporter(reporter) {}

int ProxyCheck::ReadIEProxy() {
    CDealMyProxy proxy(m_pOs, m_proxyBudget.Active() ? &m_proxyBudget : nullptr, m_pLog, &m_stop);
    if (!m_bReadingTaken) proxy.ReadIESetting(&m_ieSetting);
    return proxy.JudgeIEProxy(m_ieSetting, m_strIEProxy, m_settings.m_lstImageIP, m_lstIEProxy, m_lstIEProxyIP);
}

int ProxyCheck::ReadFireFoxProxy() {
    CDealMyProxy proxy(m_pOs, m_proxyBudget.Active() ? &m_proxyBudget : nullptr, m_pLog, &m_stop);
    if (!m_bReadingTaken) proxy.ReadFirefoxSetting(&m_ffSetting);
    return proxy.JudgeFirefoxProxy(m_ffSetting, m_strFireFoxProxy, m_settings.m_lstImageIP, m_lstFireFoxProxy,
                                   m_lstFireFoxProxyIP);
}

int ProxyCheck::CheckIEProxy() {
    if (ReadIEProxy() == 0) {
        OW_LOG(m_pLog, 4, "CPolicy::CheckIEProxy", "The IE does not set valid proxy!");
        return 0;
    }
    OW_LOG(m_pLog, 2, "CPolicy::CheckIEProxy", "The IE set proxy!");
    return CheckProxyIsInvalid(m_lstIEProxy, "IE");
}

int ProxyCheck::checkFireFoxProxy() {
    if (ReadFireFoxProxy() == 0) {
        OW_LOG(m_pLog, 4, "CPolicy::checkFireFoxProxy", "The FireFox does not set valid proxy!");
        return 0;
    }
    OW_LOG(m_pLog, 2, "CPolicy::checkFireFoxProxy", "The FireFox set proxy!");
    return CheckProxyIsInvalid(m_lstFireFoxProxy, "FIREFOX");
}

int ProxyCheck::CheckProxyIsInvalid(const std::list<ProxyRecord>& records, const std::string& browser) {
    static const char* const kFunction = "CPolicy::CheckProxyIsInvalid";
    const InvalidProxies found = FindInvalidProxies(records, m_settings.m_lstValidProxyStr);
    const std::string& info = found.info;
    const std::string& msg = found.msg;
    if (info.empty()) {
        OW_LOG(m_pLog, 4, kFunction, "The proxy configration is valid!");
        return 0;
    }
    m_bSameInvalidProxy.store(0);
    // Compared without addresses: a host that now resolves elsewhere is the
    // same finding, a new label or host a new one.
    if (browser == "IE" && msg != m_strIEInvalidMsg) {
        OW_LOG(m_pLog, 2, kFunction, "IE set invalid proxy send msg");
        m_strIEProxyInfo = info;
        m_strIEInvalidMsg = msg;
        return 1;
    }
    if (browser == "FIREFOX" && msg != m_strFireFoxInvalidMsg) {
        OW_LOG(m_pLog, 2, kFunction, "FireFox set invalid proxy send msg");
        m_strFireFoxProxyInfo = info;
        m_strFireFoxInvalidMsg = msg;
        return 1;
    }
    m_bSameInvalidProxy.store(1);
    return 1;
}

int ProxyCheck::IsProxyConfigChanged() {
    {
        // The task's only reading of each setting: the judgement takes it.
        CDealMyProxy proxy(m_pOs, nullptr, m_pLog, &m_stop);
        proxy.ReadSettings(&m_ieSetting, &m_ffSetting);
    }
    const IESetting& ie = m_ieSetting;
    const FirefoxSetting& ff = m_ffSetting;
    if (ie.raw == m_strLastIEProxyServer && ff.raw == m_strLastFireFoxProxy && ie.enabled == m_nLastIEProxyEnable &&
        ff.enabled == m_nLastFireFoxProxyEnable) {
        return 0;
    }
    m_strLastIEProxyServer = ie.raw;
    m_strLastFireFoxProxy = ff.raw;
    m_nLastIEProxyEnable = ie.enabled;
    m_nLastFireFoxProxyEnable = ff.enabled;
    return 1;
}

void ProxyCheck::ForgetLastSeen() {
    m_strIEInvalidMsg.clear();
    m_strFireFoxInvalidMsg.clear();
    m_strLastIEProxyServer.clear();
    m_strLastFireFoxProxy.clear();
    m_nLastIEProxyEnable = 0;
    m_nLastFireFoxProxyEnable = 0;
    m_proxyBudget.Forget();
}

void ProxyCheck::ForgetFindings() {
    ForgetLastSeen();
    m_strIEProxyInfo.clear();
    m_strFireFoxProxyInfo.clear();
}

int ProxyCheck::CheckProxyConfig(const std::function<void()>& applyPending,
                                 const std::function<void()>& refreshAllowed) {
    struct TaskScope {
        ProxyTaskBudget& budget;
        bool& readingTaken;
        ~TaskScope() {
            budget.End();
            readingTaken = false;
        }
    } taskScope{m_proxyBudget, m_bReadingTaken};
    m_proxyBudget.Begin(m_pOs);
    // The route thread may be in a long check: parameters left by a
    // repeated Exec are read here only if that can be done at once.
    applyPending();
    // A judgement an earlier task left unfinished goes on with the same
    // raw setting: it is no change, so the block in force stays, and
    // only what it finds new is handled and notified.
    const bool continued = IsProxyConfigChanged() == 0;
    m_bReadingTaken = true;
    if (continued && !m_proxyBudget.Unfinished()) return 1;

    // A changed setting starts over: the block of an earlier task goes.
    if (!continued) m_reporter.EnableProxy();
    // The allowed list changes only with the parameters, and reading them
    // forgets an unfinished judgement too.
    if (m_settings.m_lstValidProxyStr.empty()) return 0;
    const int32_t sameBefore = m_bSameInvalidProxy.load();

    refreshAllowed();
    int found = 0;

    m_strIEProxyInfo.clear();
    m_strFireFoxProxyInfo.clear();

    m_proxyBudget.BeginBrowser(kProxyIE, std::to_string(m_nLastIEProxyEnable) + m_strLastIEProxyServer);
    if (CheckIEProxy() == 1) {
        found = 1;
    } else {
        m_lstIEProxyIP.clear();  // the reading may have filled it
    }
    m_proxyBudget.BeginBrowser(kProxyFirefox, std::to_string(m_nLastFireFoxProxyEnable) + m_strLastFireFoxProxy);
    if (checkFireFoxProxy() == 1) {
        found = 1;
        m_lstIEProxyIP.insert(m_lstIEProxyIP.end(), m_lstFireFoxProxyIP.begin(), m_lstFireFoxProxyIP.end());
    }
    // A new IE finding is reported in full, whatever Firefox said.
    if (!m_strIEProxyInfo.empty()) m_bSameInvalidProxy.store(0);

    const bool news = !m_strIEProxyInfo.empty() || !m_strFireFoxProxyInfo.empty();
    // Going on, what was known is handled already: the block in force and
    // the reaction's memory of it stay as an unchanged setting leaves them.
    if (continued && !news) m_bSameInvalidProxy.store(sameBefore);

    int handled = 0;
    if (found == 1 && (news || !continued)) handled = m_reporter.HandleResult("Proxy");
    const std::string describe = m_settings.m_strBlock == "3" && handled != 0 ? "2" : "1";
    // Only new findings carry text; an empty one sends nothing.
    m_reporter.PackNotifyMsg("Proxy", m_strFireFoxProxyInfo, describe, "");
    m_reporter.PackNotifyMsg("Proxy", m_strIEProxyInfo, describe, "");
    return found;
}

}  // namespace outlinkwatch
