// CPolicy: the policy object. It keeps the lifecycle (policy.cc) and owns
// its parts: the monitor, the connection check, the settings and the proxy
// check; the reactor is made for each call. Its named operations forward to
// the part that owns the state (policy_members.cc).
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <string>

#include "config/address_parsing.h"
#include "config/policy_settings.h"
#include "engine/monitor.h"
#include "platform/os.h"
#include "plugin/component.h"
#include "probes/conn_check.h"
#include "proxy/proxy_check.h"
#include "proxy/proxy_record.h"
#include "reaction/finding_reporter.h"

class CPolicy;

// Process-wide state; one policy object per loaded library. The flags are
// written by one thread and polled by another, hence atomic.
extern std::atomic<CPolicy*> g_pPolicy;
extern std::atomic<int32_t> g_bExit;
extern std::atomic<int32_t> g_bRouteThreadStopped;
extern std::atomic<int32_t> g_bProxyThreadStopped;
extern std::atomic<int32_t> g_nOSCode;

constexpr const char* kPolicyType = "policy.win.outlink.watch";
constexpr const char* kModuleName = "OutlinkWatch";

using outlinkwatch::kConnTimerId;
using outlinkwatch::kProxyTimerId;

// How long a repeated Exec waits for each check mutex: a trace asked to
// stop gives its mutex back within one poll and the settle wait. A check
// that takes longer gets the new parameters at its next start.
constexpr uint32_t kExecCheckWaitMs = kTracePollMs + kTraceSettleMs;

uint32_t MonitorRouteThread(void* policy);
uint32_t MonitorProxyThread(void* policy);
void Timer_CallBack(uint32_t, uint32_t, uint32_t id, uint32_t, uint32_t);

class CPolicy : public CPolicyBase, public outlinkwatch::FindingReporter, public outlinkwatch::MonitorTasks {
public:
    CPolicy();
    ~CPolicy() override;

    // The agent's interfaces of this object.
    IPolicy& Policy() { return m_xPolicy; }
    ICommonControl& CommonControl() { return m_xCommonControl; }

    int Initialize(std::string policyType) override;
    int done(std::string reason) override;
    int Reserved17(uint32_t a, uint32_t b) override;
    std::string GetInfo(uint32_t nWhat) override;
    int Exec(uint32_t nArg) override;
    int Reserved22() override;
    int Reserved23() override;
    int Reserved32() override;

    void StopRouteThread();
    void StopProxyThread();
    // Whether a monitor thread is running (or starting).
    bool ThreadsRunning() const;

    // Language text of a key, from the agent; the caller's own copy.
    std::string GetLangString(const std::string& key) override;

    // Configuration.
    int GetPolicyParams();
    void ParseIPSec(const std::list<std::string>& in, std::list<std::string>& out);
    void ResolveAddrList(const std::list<std::string>& in, int withPort, std::list<uint32_t>& outIP,
                         std::list<std::string>& outText, std::list<outlinkwatch::ConnectAddrRecord>& outRecords,
                         std::list<std::string>& outUnresolved);
    void GetLocalIPList(std::list<uint32_t>& out);
    int RetryUnresolved(const std::string& group);
    // Re-reads the parameters that a repeated Exec could not apply at once;
    // the caller holds otherMutex's counterpart. False when it has to wait
    // for a later check.
    void ApplyPendingParams(outlinkwatch::Handle otherMutex, uint32_t waitMs);

    // Monitoring engine.
    // Each answers whether its timer is armed.
    bool SetCheckConnTask();
    bool SetCheckProxyTask();
    void TracertCallback() override;
    void MarkRouteChanged() override;
    int IsActivedNetwork();
    int RunConnCheck();
    int TraceRouteAddrs();

    // Checks that the engine dispatches to.
    int PrintTracert(const std::string& destination, int report);
    int TCPCheckOutlink();
    // The agent's own server address, from its "Communication" component;
    // false without one.
    bool AgentServerAddress(std::string* address);
    // The proxy check task: 1 when a browser has an invalid proxy (new or
    // known) or nothing changed; 0 when nothing is invalid, no proxies are
    // allowed, or after an error.
    int CheckProxyConfig() override;
    // Proxy inspection: the interactive user's browser proxies.
    int ReadIEProxy();
    int ReadFireFoxProxy();
    int CheckIEProxy();
    int checkFireFoxProxy();
    // 1 when a record's address is not among the allowed proxies; browser
    // is "IE" or "FIREFOX".
    int CheckProxyIsInvalid(std::list<ProxyRecord>& records, std::string browser);
    // 1 when a raw browser setting differs from the last one seen, which
    // is then kept.
    int IsProxyConfigChanged();

    // Reaction to a finding: notification, prompt, filter driver.
    void PackNotifyMsg(const std::string& kind, const std::string& info, const std::string& describe,
                       const std::string& key) override;
    int HandleResult(std::string kind) override;
    int SendNfwCommand(uint32_t code, const void* buffer, uint32_t length);
    int DenyProxyConfig();
    int DenyProxySerer();
    int EnableProxy() override;
    int BlockNetwork();

    // How many policy objects exist; the library frees its process-wide
    // objects at unload only when none is left.
    static int LiveCount() { return s_nLive.load(); }

    // --- the parts it owns
    // The threads, their events and timers, and the check mutexes.
    outlinkwatch::Monitor m_monitor;
    // The connection check's tracer, last findings and servers to deny;
    // protected by m_hConnMutex, but for the tracer's cancel flag, which is
    // atomic (probes/conn_check.h says which member is read where).
    outlinkwatch::ConnCheck m_connCheck{os(), this, *this, outlinkwatch::StopToken(g_bExit, m_bParamsPending),
                                        g_nOSCode, [this](std::string* address) { return AgentServerAddress(address); }};

    // What the parameters say. Replaced whole by GetPolicyParams while both
    // check mutexes are held (or before the checks start); RetryUnresolved
    // extends one group's lists under that group's check mutex.
    outlinkwatch::PolicySettings m_settings;

    // 1 from a repeated Exec until its parameters are read: a running check
    // stops at its next target, and the next check reads them first.
    std::atomic<int32_t> m_bParamsPending{0};

    // The proxy check: the last seen settings, each browser's records and
    // addresses, the findings and the task's budget. Its lists are
    // protected by m_hProxyMutex; its same-finding flag is atomic.
    outlinkwatch::ProxyCheck m_proxyCheck{os(), this, outlinkwatch::StopToken(g_bExit, m_bParamsPending), m_settings,
                                          *this};

private:
    // The stop of done and of the destructor: the deny list lifted, the
    // timers and threads stopped, the list lifted again after a check that
    // ran; releasing adds the destructor's log line.
    void StopChecks(bool releasing);

    // The steps of Exec.
    int ExecWhileRunning();
    void ResetCheckState();
    // Empties the last-seen settings and the last-reported texts.
    void ForgetFindings();
    // Empties what the last parameters left and reads them again; the
    // caller holds both check mutexes (or no thread runs).
    int ReadParams();

    static std::atomic<int> s_nLive;
};
