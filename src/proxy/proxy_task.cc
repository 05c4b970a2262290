// The proxy check task, run by the proxy thread at start and every 70 s,
// and the judgement of the browsers' proxies against the allowed ones.
#include "config/params_plan.h"
#include "engine/check_mutex.h"
#include "lumenutil/registry.h"
#include "plugin/policy.h"
#include "proxy/deal_my_proxy.h"
#include "proxy/ie_proxy.h"
#include "proxy/proxy_verdict.h"

int CPolicy::CheckIEProxy() {
    if (ReadIEProxy() == 0) {
        OW_LOG(this, 4, "CPolicy::CheckIEProxy", "The IE does not set valid proxy!");
        return 0;
    }
    OW_LOG(this, 2, "CPolicy::CheckIEProxy", "The IE set proxy!");
    return CheckProxyIsInvalid(m_lstIEProxy, "IE");
}

int CPolicy::checkFireFoxProxy() {
    if (ReadFireFoxProxy() == 0) {
        OW_LOG(this, 4, "CPolicy::checkFireFoxProxy", "The FireFox does not set valid proxy!");
        return 0;
    }
    OW_LOG(this, 2, "CPolicy::checkFireFoxProxy", "The FireFox set proxy!");
    return CheckProxyIsInvalid(m_lstFireFoxProxy, "FIREFOX");
}

int CPolicy::CheckProxyIsInvalid(std::list<ProxyRecord>& records, std::string browser) {
    static const char* const kFunction = "CPolicy::CheckProxyIsInvalid";
    const outlinkwatch::InvalidProxies found = outlinkwatch::FindInvalidProxies(records, m_settings.m_lstValidProxyStr);
    const std::string& info = found.info;
    const std::string& msg = found.msg;
    if (info.empty()) {
        OW_LOG(this, 4, kFunction, "The proxy configration is valid!");
        return 0;
    }
    m_bSameInvalidProxy.store(0);
    // Compared without addresses: a host that now resolves elsewhere is the
    // same finding, a new label or host a new one.
    if (browser == "IE" && msg != m_strIEInvalidMsg) {
        OW_LOG(this, 2, kFunction, "IE set invalid proxy send msg");
        m_strIEProxyInfo = info;
        m_strIEInvalidMsg = msg;
        return 1;
    }
    if (browser == "FIREFOX" && msg != m_strFireFoxInvalidMsg) {
        OW_LOG(this, 2, kFunction, "FireFox set invalid proxy send msg");
        m_strFireFoxProxyInfo = info;
        m_strFireFoxInvalidMsg = msg;
        return 1;
    }
    m_bSameInvalidProxy.store(1);
    return 1;
}

int CPolicy::IsProxyConfigChanged() {
    std::string ieText, ffText;
    uint32_t ieOn = 0, ffOn = 0;
    CDealMyProxy proxy(os());

    char keyName[outlinkwatch::kUserKeyNameBytes] = {0};
    if (proxy.GetUIUserKeyName(keyName) != 0) {
        const std::string keyPath = CDealMyProxy::IESettingsPath(keyName);
        ieOn = static_cast<uint32_t>(proxy.IsIEProxyEnable(keyPath, "ProxyEnable"));
        std::list<outlinkwatch::ConnectAddrRecord> dropped;
        proxy.GetIEProxyInfoFromReg(keyPath, "ProxyServer", dropped, ieText);
    }
    std::string prefsPath;
    if (proxy.GetFireFoxConfigPath(prefsPath) != 0) {
        ffOn = static_cast<uint32_t>(proxy.IsFireFoxProxyEnable(prefsPath));
        std::list<outlinkwatch::ConnectAddrRecord> dropped;
        proxy.GetFireFoxProxyInfoFromFile(prefsPath, dropped, ffText);
    }

    if (ieText == m_strLastIEProxyServer && ffText == m_strLastFireFoxProxy && ieOn == m_nLastIEProxyEnable &&
        ffOn == m_nLastFireFoxProxyEnable) {
        return 0;
    }
    m_strLastIEProxyServer = ieText;
    m_strLastFireFoxProxy = ffText;
    m_nLastIEProxyEnable = ieOn;
    m_nLastFireFoxProxyEnable = ffOn;
    return 1;
}

int CPolicy::CheckProxyConfig() {
    outlinkwatch::CheckMutexHold hold(m_pOs, m_monitor.ProxyMutex(), outlinkwatch::kInfinite);
    struct BudgetScope {
        outlinkwatch::ProxyTaskBudget& budget;
        ~BudgetScope() { budget.End(); }
    } budgetScope{m_proxyBudget};
    m_proxyBudget.Begin(m_pOs);
    try {
        // The route thread may be in a long check: parameters left by a
        // repeated Exec are read here only if that can be done at once.
        ApplyPendingParams(m_monitor.ConnMutex(), 0);
        // A judgement an earlier task left unfinished goes on with the same
        // raw setting: it is no change, so the block in force stays, and
        // only what it finds new is handled and notified.
        const bool continued = IsProxyConfigChanged() == 0;
        if (continued && !m_proxyBudget.Unfinished()) return 1;

        // A changed setting starts over: the block of an earlier task goes.
        if (!continued) EnableProxy();
        if (m_settings.m_lstValidProxyStr.empty()) {
            m_proxyBudget.Forget();
            return 0;
        }
        const int32_t sameBefore = m_bSameInvalidProxy.load();

        std::list<uint32_t> local;
        GetLocalIPList(local);
        outlinkwatch::AppendMissing(m_settings.m_lstValidProxyIP, local);
        m_lstIEProxyIP.clear();
        int found = 0;
        RetryUnresolved("Proxy");

        m_strIEProxyInfo.clear();
        m_strFireFoxProxyInfo.clear();
        m_lstIEProxy.clear();
        m_lstFireFoxProxy.clear();

        m_proxyBudget.BeginBrowser(outlinkwatch::kProxyIE, std::to_string(m_nLastIEProxyEnable) + m_strLastIEProxyServer);
        if (CheckIEProxy() == 1) {
            found = 1;
        } else {
            m_lstIEProxyIP.clear();  // the reading may have filled it
        }
        m_proxyBudget.BeginBrowser(outlinkwatch::kProxyFirefox,
                                   std::to_string(m_nLastFireFoxProxyEnable) + m_strLastFireFoxProxy);
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
        if (found == 1 && (news || !continued)) handled = HandleResult("Proxy");
        const std::string describe = m_settings.m_strBlock == "3" && handled != 0 ? "2" : "1";
        // Only new findings carry text; an empty one sends nothing.
        PackNotifyMsg("Proxy", m_strFireFoxProxyInfo, describe, "");
        PackNotifyMsg("Proxy", m_strIEProxyInfo, describe, "");
        return found;
    } catch (...) {
        hold.Release();
        OW_LOG(this, 2, "CPolicy::CheckProxyConfig", "Check proxy configuration catch an exception");
        return 0;
    }
}
