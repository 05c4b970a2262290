// CDealMyProxy: the judgement of the interactive user's browser proxy
// settings as read (browser_settings.h): each configured host resolved and
// the proxies probed. One is made for each task (or reading); it keeps
// nothing but two constant tables and the user found.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "base/log_sink.h"
#include "base/stop_token.h"
#include "config/address_parsing.h"
#include "platform/os.h"
#include "proxy/browser_settings.h"
#include "proxy/proxy_budget.h"
#include "proxy/proxy_record.h"

class CDealMyProxy : public outlinkwatch::BrowserSettingsReader {
public:
    // os: the policy's own; null means the process-wide one. budget: that
    // of the running proxy check task; null gives the reading one of its own.
    // log: where its lines go (null: none, and nothing is probed). stop: a
    // stop asked for there ends resolution and probing; null asks none.
    explicit CDealMyProxy(outlinkwatch::Os* os = nullptr, outlinkwatch::ProxyTaskBudget* budget = nullptr,
                          outlinkwatch::LogSink* log = nullptr, const outlinkwatch::StopToken* stop = nullptr);

    // Protocol labels for a proxy that serves every protocol.
    std::map<int, std::string> m_mapProtocol;

    // 1 when one configured proxy answers. An endpoint probed before in the
    // task gives the same answer again without a probe.
    virtual int CheckProxyIsValid(const std::list<outlinkwatch::ConnectAddrRecord>& configured,
                                  const std::list<std::string>& imageIPs);

    // Each reading fills records and addresses afresh (empty when the proxy
    // is off or not found).

    // --- Internet Explorer
    // The whole reading: 1 only when the proxy is switched on, parsed,
    // resolved and one of its servers answers. keyPath becomes the user's
    // settings key under HKEY_USERS.
    int GetIEProxy(std::string& keyPath, const std::list<std::string>& imageIPs, std::list<ProxyRecord>& records,
                   std::list<uint32_t>& addresses);
    // The same judgement of a setting already read.
    int JudgeIEProxy(const outlinkwatch::IESetting& setting, std::string& keyPath, const std::list<std::string>& imageIPs,
                     std::list<ProxyRecord>& records, std::list<uint32_t>& addresses);

    // --- Firefox
    // The whole reading: 1 only when a manual proxy is on, its hosts
    // resolve and one of them answers.
    int GetFirFoxProxy(std::string& prefsPath, const std::list<std::string>& imageIPs, std::list<ProxyRecord>& records,
                       std::list<uint32_t>& addresses);
    // The same judgement of a setting already read.
    int JudgeFirefoxProxy(const outlinkwatch::FirefoxSetting& setting, std::string& prefsPath,
                          const std::list<std::string>& imageIPs, std::list<ProxyRecord>& records,
                          std::list<uint32_t>& addresses);

protected:
    bool Exiting() const { return m_pStop != nullptr && m_pStop->Exiting(); }
    // Resolves each configured host into records (labelled by label) and
    // addresses; whether at least one address was found.
    bool ResolveConfigured(const std::list<outlinkwatch::ConnectAddrRecord>& configured, bool ie,
                          std::list<ProxyRecord>& records, std::list<uint32_t>& addresses);
    // The probe's name resolution: dotted IPv4 texts in resolver order,
    // without "127.0.0.1" and "0.0.0.0"; none for an empty host.
    virtual std::list<std::string> ResolveHost(const std::string& host);
    // Whether a configured host may still be resolved in this task; one
    // left out is logged under function.
    bool MayResolve(const std::string& host, const char* function);

    outlinkwatch::ProxyTaskBudget m_ownBudget;
    outlinkwatch::ProxyTaskBudget* const m_pBudget;
    const outlinkwatch::StopToken* const m_pStop;
};
