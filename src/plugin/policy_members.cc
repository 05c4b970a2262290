// The policy's operations that its parts carry out: each forwards to the
// part that owns the state, handing it what it needs.
#include "plugin/policy.h"

#include "config/params_plan.h"
#include "config/settings_builder.h"
#include "platform/check_mutex.h"
#include "reaction/reactor.h"

// --- settings

namespace {

outlinkwatch::ResolveFn HostResolver(outlinkwatch::Os* os) {
    return [os](const std::string& host, std::vector<uint32_t>* addrs) {
        return os->Network()->ResolveHostIPv4(host, addrs);
    };
}

}  // namespace

// The caller holds both check mutexes (or no check runs): the new settings
// replace the old ones whole.
int CPolicy::GetPolicyParams() {
    const outlinkwatch::SettingsTexts texts =
        outlinkwatch::ReadSettingsTexts([this](const char* name) { return GetPolicyParamValue(name); });
    const auto local = [this] {
        std::list<uint32_t> addresses;
        GetLocalIPList(addresses);
        return addresses;
    };
    outlinkwatch::SettingsRead read =
        outlinkwatch::BuildPolicySettings(texts, m_settings, HostResolver(m_pOs), local, this);
    m_settings = std::move(read.settings);
    m_monitor.SetCheckCycle(read.checkCycle);
    return read.usable ? 1 : 0;
}

void CPolicy::ParseIPSec(const std::list<std::string>& in, std::list<std::string>& out) {
    outlinkwatch::ExpandAddrRanges(in, out, this);
}

void CPolicy::ResolveAddrList(const std::list<std::string>& in, int withPort, std::list<uint32_t>& outIP,
                              std::list<std::string>& outText, std::list<outlinkwatch::ConnectAddrRecord>& outRecords,
                              std::list<std::string>& outUnresolved) {
    outlinkwatch::ResolveAddrList(in, withPort, outIP, outText, outRecords, outUnresolved, HostResolver(m_pOs));
}

void CPolicy::GetLocalIPList(std::list<uint32_t>& out) { outlinkwatch::GetLocalIPList(m_pOs, out); }

// The caller holds the group's check mutex.
int CPolicy::RetryUnresolved(const std::string& group) {
    return outlinkwatch::RetryUnresolved(m_settings, group, HostResolver(m_pOs),
                                         outlinkwatch::StopToken(g_bExit, m_bParamsPending));
}

// --- connection check

namespace {

// The agent's "Communication" component is reached by its slot on what the
// agent handed in, without the checked cast, so the sanitizer's type check
// is left out here as in the log call. The component belongs to the agent
// and is not released.
#if defined(__GNUC__)
__attribute__((no_sanitize("vptr")))
#endif
bool CommunicationAddress(IUnknown* agent, std::string* address) {
    if (agent == nullptr) return false;
    IUnknown* component = static_cast<IAgent*>(agent)->GetComponent("Communication");
    if (component == nullptr) return false;
    std::string other;
    static_cast<ICommunication*>(component)->GetServerAddress(address, &other);
    return true;
}

}  // namespace

bool CPolicy::AgentServerAddress(std::string* address) { return CommunicationAddress(GetAgent(), address); }

void CPolicy::TracertCallback() {
    outlinkwatch::CheckMutexHold hold(m_pOs, m_monitor.ConnMutex(), outlinkwatch::kInfinite);
    try {
        // Parameters a repeated Exec could not read at once: the proxy
        // thread never waits for this mutex, so waiting for its mutex here
        // cannot deadlock.
        ApplyPendingParams(m_monitor.ProxyMutex(), outlinkwatch::kInfinite);
        if (IsActivedNetwork() == 0) {
            OW_LOG(this, 2, "CPolicy::TracertCallback", "Network is invalid. Cancel tracerting!");
        } else {
            RunConnCheck();
        }
    } catch (...) {
        OW_LOG(this, 2, "CPolicy::TracertCallback", "Catch an exception when calling TracertCallback.");
    }
}

int CPolicy::IsActivedNetwork() { return m_connCheck.IsActivedNetwork(); }

int CPolicy::RunConnCheck() {
    RetryUnresolved("Conn");
    return m_connCheck.Run(m_settings);
}

int CPolicy::TraceRouteAddrs() { return m_connCheck.TraceRouteAddrs(m_settings); }

int CPolicy::PrintTracert(const std::string& destination, int report) {
    return m_connCheck.PrintTracert(m_settings, destination, report);
}

int CPolicy::TCPCheckOutlink() { return m_connCheck.TCPCheckOutlink(m_settings); }

// --- proxy check

int CPolicy::CheckProxyConfig() {
    outlinkwatch::CheckMutexHold hold(m_pOs, m_monitor.ProxyMutex(), outlinkwatch::kInfinite);
    try {
        return m_proxyCheck.CheckProxyConfig([this] { ApplyPendingParams(m_monitor.ConnMutex(), 0); },
                                             [this] {
                                                 std::list<uint32_t> local;
                                                 GetLocalIPList(local);
                                                 outlinkwatch::AppendMissing(m_settings.m_lstValidProxyIP, local);
                                                 RetryUnresolved("Proxy");
                                             });
    } catch (...) {  // the hold gives the mutex back on its way out
        OW_LOG(this, 2, "CPolicy::CheckProxyConfig", "Check proxy configuration catch an exception");
        return 0;
    }
}
int CPolicy::ReadIEProxy() { return m_proxyCheck.ReadIEProxy(); }
int CPolicy::ReadFireFoxProxy() { return m_proxyCheck.ReadFireFoxProxy(); }
int CPolicy::CheckIEProxy() { return m_proxyCheck.CheckIEProxy(); }
int CPolicy::checkFireFoxProxy() { return m_proxyCheck.checkFireFoxProxy(); }
int CPolicy::CheckProxyIsInvalid(std::list<ProxyRecord>& records, std::string browser) {
    return m_proxyCheck.CheckProxyIsInvalid(records, browser);
}
int CPolicy::IsProxyConfigChanged() { return m_proxyCheck.IsProxyConfigChanged(); }

// --- reaction

namespace {

// The agent as the reactor asks it, through the policy.
class PolicyAgent final : public outlinkwatch::ReactionAgent {
public:
    explicit PolicyAgent(CPolicy& policy) : policy_(policy) {}
    IAgent* Agent() override { return policy_.GetCheckedAgent(); }
    std::string GetLangString(const std::string& key) override { return policy_.GetLangString(key); }
    void GetCommonParams(CommonParams& out) override { policy_.GetCommonParams(out); }

private:
    CPolicy& policy_;
};

// A reactor for one call; it keeps no state of its own.
struct PolicyReactor {
    explicit PolicyReactor(CPolicy& policy) : agent(policy), reactor(policy.os(), &policy, &agent, kPolicyType) {}
    PolicyAgent agent;
    outlinkwatch::Reactor reactor;
};

}  // namespace

void CPolicy::PackNotifyMsg(const std::string&, const std::string& info, const std::string& describe,
                            const std::string& key) {
    PolicyReactor(*this).reactor.PackNotifyMsg(m_settings.m_strRank, info, describe, key);
}

int CPolicy::HandleResult(std::string kind) {
    const outlinkwatch::ReactionInputs in{m_settings,
                                          m_connCheck.DenyAddrs(),
                                          m_proxyCheck.IEProxyIPs(),
                                          m_proxyCheck.SameInvalidProxy(),
                                          m_monitor.ProxyMutex(),
                                          outlinkwatch::StopToken(g_bExit, m_bParamsPending)};
    return PolicyReactor(*this).reactor.HandleResult(kind, in);
}

int CPolicy::SendNfwCommand(uint32_t code, const void* buffer, uint32_t length) {
    return PolicyReactor(*this).reactor.SendNfwCommand(code, buffer, length);
}

int CPolicy::DenyProxyConfig() {
    return PolicyReactor(*this).reactor.DenyProxyConfig(m_proxyCheck.IEProxyIPs(), m_settings.m_lstValidProxyIP);
}

int CPolicy::DenyProxySerer() { return PolicyReactor(*this).reactor.DenyProxySerer(m_connCheck.DenyAddrs()); }

int CPolicy::EnableProxy() { return PolicyReactor(*this).reactor.EnableProxy(); }

int CPolicy::BlockNetwork() { return PolicyReactor(*this).reactor.BlockNetwork(); }
