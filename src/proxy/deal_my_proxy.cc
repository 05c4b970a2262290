#include "proxy/deal_my_proxy.h"

#include "plugin/policy.h"
#include "proxy/firefox_proxy.h"

CDealMyProxy::CDealMyProxy(outlinkwatch::Os* os, outlinkwatch::ProxyTaskBudget* budget)
    : m_pOs(os != nullptr ? os : outlinkwatch::CurrentOs()), m_pBudget(budget != nullptr ? budget : &m_ownBudget) {
    if (budget == nullptr) m_ownBudget.Begin(m_pOs);
    m_mapProtocol = {{0, "ftp:"}, {1, "http:"}, {2, "https:"}, {3, "gopher:"}, {4, "socks:"}};
    m_mapFireFoxKey = outlinkwatch::FirefoxPrefKeys();
}

void ProxyLog(int level, int line, const char* function, const char* text) {
    if (CPolicy* policy = g_pPolicy.load()) policy->WriteLog(level, function, line, "%s", text);
}
