// The policy's operations that its parts carry out: each forwards to the
// part that owns the state, handing it what it needs.
#include "plugin/policy.h"

#include "config/settings_builder.h"
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
    m_nCheckCycle.store(read.checkCycle);
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

// --- proxy check

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
    const outlinkwatch::ReactionInputs in{m_settings,         m_lstDenyAddr,  m_lstIEProxyIP,
                                          m_bSameInvalidProxy.load() != 0, m_hProxyMutex,
                                          outlinkwatch::StopToken(g_bExit, m_bParamsPending)};
    return PolicyReactor(*this).reactor.HandleResult(kind, in);
}

int CPolicy::SendNfwCommand(uint32_t code, const void* buffer, uint32_t length) {
    return PolicyReactor(*this).reactor.SendNfwCommand(code, buffer, length);
}

int CPolicy::DenyProxyConfig() {
    return PolicyReactor(*this).reactor.DenyProxyConfig(m_lstIEProxyIP, m_settings.m_lstValidProxyIP);
}

int CPolicy::DenyProxySerer() { return PolicyReactor(*this).reactor.DenyProxySerer(m_lstDenyAddr); }

int CPolicy::EnableProxy() { return PolicyReactor(*this).reactor.EnableProxy(); }

int CPolicy::BlockNetwork() { return PolicyReactor(*this).reactor.BlockNetwork(); }
