#include "plugin/component.h"

#include <cstring>

#include "base/host_name.h"
#include "platform/os.h"

// ---------------------------------------------------------------- CIAComponent

constexpr uint32_t CIAComponent::kInterfaceIds[12];

CIAComponent::CIAComponent() : m_pOs(outlinkwatch::CurrentOs()) {}
CIAComponent::~CIAComponent() = default;

int CIAComponent::SlotOf(uint32_t nId) {
    for (int i = 0; i < 12; ++i) {
        if (kInterfaceIds[i] == nId) return i;
    }
    return -1;
}

std::string CIAComponent::GetName() { return std::string(); }

int CIAComponent::SetLanguage(uint32_t nLanguage) {
    m_nLanguage = nLanguage;
    return 0;
}

uint32_t CIAComponent::GetState() { return m_nComponentState; }

int CIAComponent::RegisterInterface(uint32_t nId, IUnknown* p, uint32_t /*nCompanion*/) {
    const int slot = SlotOf(nId);
    if (slot < 0) return 0;
    if (p == nullptr) return -1;
    m_pInterfaces[slot] = p;
    return 0;
}

int CIAComponent::UnregisterInterface(uint32_t nId, uint32_t /*nIgnored*/) {
    const int slot = SlotOf(nId);
    if (slot >= 0) m_pInterfaces[slot] = nullptr;
    return 0;
}

IUnknown* CIAComponent::GetRegisteredInterface(uint32_t nId) const {
    const int slot = SlotOf(nId);
    return slot < 0 ? nullptr : m_pInterfaces[slot];
}

int CIAComponent::Reserved8() { return 0; }
int CIAComponent::Reserved9(uint32_t, uint32_t) { return 0; }
uint32_t CIAComponent::GetLanguage() { return m_nLanguage; }

int CIAComponent::SetState(uint32_t nState) {
    m_nComponentState = nState;
    return 0;
}

int CIAComponent::QueryCommand(std::string /*command*/) { return -1; }

int CIAComponent::SetComponentId(uint32_t nId) {
    m_nComponentId = nId;
    return 0;
}

std::string CIAComponent::GetComputerNameText() {
    outlinkwatch::Os* os = m_pOs;
    // The DNS name arrives converted and cut to the 255 bytes of its buffer.
    std::string name;
    if (!os->System()->ComputerDnsName(&name)) name.clear();
    const size_t nul = name.find('\0');
    if (nul != std::string::npos) name.resize(nul);
    if (name.size() > 255) name.resize(255);
    name = outlinkwatch::HostOfFqdn(name);
    if (name.empty()) {
        std::string netbios;
        if (os->System()->ComputerNetbiosName(&netbios)) {
            const size_t end = netbios.find('\0');
            if (end != std::string::npos) netbios.resize(end);
            if (netbios.size() > 255) netbios.resize(255);
            name = netbios;
        }
    }
    return name;
}

// ----------------------------------------------------------------- CPolicyBase

CPolicyBase::CPolicyBase() = default;
CPolicyBase::~CPolicyBase() = default;

IPolicy* CPolicyBase::GetPolicyInterface() {
    m_xPolicy.AddRef();
    return &m_xPolicy;
}

ICommonControl* CPolicyBase::GetCommonControlInterface() {
    m_xCommonControl.AddRef();
    return &m_xCommonControl;
}

int CPolicyBase::Initialize(std::string) { return 0; }
int CPolicyBase::done(std::string) { return 0; }
int CPolicyBase::Reserved17(uint32_t, uint32_t) { return 0; }
std::string CPolicyBase::GetInfo(uint32_t) { return std::string(); }
const char* CPolicyBase::GetResultText(int) { return nullptr; }

int CPolicyBase::SetAgent(IUnknown* pAgent) {
    m_pAgent.store(pAgent, std::memory_order_release);
    return 0;
}

int CPolicyBase::Exec(uint32_t) { return 0; }
int CPolicyBase::Reserved22() { return 0; }
int CPolicyBase::Reserved23() { return 0; }
int CPolicyBase::Reserved24(uint32_t) { return 0; }
int CPolicyBase::Reserved25(std::string, std::string, std::string, std::string, std::string) { return 0; }

int CPolicyBase::SetPolicyLabel(const char* pszLabel) {
    m_strPolicyLabel = pszLabel != nullptr ? pszLabel : "";
    return 0;
}

int CPolicyBase::SetPolicyLabels(const char* pszLabel2, const char* pszLabel3) {
    m_strPolicyLabel2 = pszLabel2 != nullptr ? pszLabel2 : "";
    m_strPolicyLabel3 = pszLabel3 != nullptr ? pszLabel3 : "";
    return 0;
}

int CPolicyBase::RemoveParamTriple(const char* pszTag) {
    const std::string tag = pszTag != nullptr ? pszTag : "";
    std::lock_guard<std::mutex> lock(m_csParams);
    m_lstParamTriples.remove_if([&](const ParamTriple& t) { return t.tag == tag; });
    return 0;
}

int CPolicyBase::AddParamTriple(const char* pszTag, const char* pszName, const char* pszValue) {
    ParamTriple triple{pszTag != nullptr ? pszTag : "", pszName != nullptr ? pszName : "",
                       pszValue != nullptr ? pszValue : ""};
    std::lock_guard<std::mutex> lock(m_csParams);
    m_lstParamTriples.push_back(std::move(triple));
    return 0;
}

std::string CPolicyBase::GetParamTriple(std::string tag, std::string name) {
    std::lock_guard<std::mutex> lock(m_csParams);
    for (const ParamTriple& t : m_lstParamTriples) {
        if (t.tag == tag && t.name == name) return t.value;
    }
    return std::string();
}

void CPolicyBase::GetParamTriples(std::string tag, std::string name, std::list<std::string>& out) {
    std::lock_guard<std::mutex> lock(m_csParams);
    for (const ParamTriple& t : m_lstParamTriples) {
        if (t.tag == tag && t.name == name) out.push_back(t.value);
    }
}

int CPolicyBase::Reserved32() { return 1; }
void CPolicyBase::SetMark() { m_nMark = 1; }

int CPolicyBase::SetFlag(uint8_t bFlag) {
    m_bFlag = bFlag;
    return 0;
}

// The copies are made outside the lock, so a reader waits only for a swap.
void CPolicyBase::SetPolicyParams(const std::list<PolicyParam>& params) {
    std::list<PolicyParam> copy(params);
    std::lock_guard<std::mutex> lock(m_csParams);
    m_lstPolicyParams.swap(copy);
}

void CPolicyBase::SetCommParams(const std::list<PolicyParam>& params) {
    std::list<PolicyParam> copy(params);
    std::lock_guard<std::mutex> lock(m_csParams);
    m_lstCommParams.swap(copy);
}

void CPolicyBase::GetPolicyParamList(std::list<PolicyParam>& out) {
    std::lock_guard<std::mutex> lock(m_csParams);
    out = m_lstPolicyParams;
}

void CPolicyBase::GetCommParamList(std::list<PolicyParam>& out) {
    std::lock_guard<std::mutex> lock(m_csParams);
    out = m_lstCommParams;
}

void CPolicyBase::ClearPolicyParams() {
    std::list<PolicyParam> old;
    std::lock_guard<std::mutex> lock(m_csParams);
    m_lstPolicyParams.swap(old);
}

void CPolicyBase::ClearCommParams() {
    std::list<PolicyParam> old;
    std::lock_guard<std::mutex> lock(m_csParams);
    m_lstCommParams.swap(old);
}

void CPolicyBase::SetModuleName(const char* pszName) { m_strModuleName = pszName != nullptr ? pszName : ""; }

IAgent* CPolicyBase::GetCheckedAgent() const {
    IUnknown* agent = GetAgent();
    return agent != nullptr ? dynamic_cast<IAgent*>(agent) : nullptr;
}

// ----------------------------------------------- nested interface objects

namespace {

template <typename R, typename F>
R Guarded(R onFault, F&& call) noexcept {
    try {
        return call();
    } catch (...) {
        return onFault;
    }
}

template <typename F>
void GuardedVoid(F&& call) noexcept {
    try {
        call();
    } catch (...) {
    }
}

}  // namespace

// Each nested object sits at a fixed place inside the outer object.
#if defined(__GNUC__)
#  pragma GCC diagnostic push
#  pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
CPolicyBase* CPolicyBase::XPolicy::Outer() {
    return reinterpret_cast<CPolicyBase*>(reinterpret_cast<char*>(this) - offsetof(CPolicyBase, m_xPolicy));
}
CPolicyBase* CPolicyBase::XCommonControl::Outer() {
    return reinterpret_cast<CPolicyBase*>(reinterpret_cast<char*>(this) -
                                          offsetof(CPolicyBase, m_xCommonControl));
}
#if defined(__GNUC__)
#  pragma GCC diagnostic pop
#endif

HRESULT STDMETHODCALLTYPE CPolicyBase::XPolicy::QueryInterface(REFIID, void** ppv) {
    if (ppv != nullptr) *ppv = static_cast<IPolicy*>(this);
    return 0;
}

ULONG STDMETHODCALLTYPE CPolicyBase::XPolicy::AddRef() { return ++Outer()->m_nRefCount; }

ULONG STDMETHODCALLTYPE CPolicyBase::XPolicy::Release() {
    CPolicyBase* outer = Outer();
    const uint32_t count = --outer->m_nRefCount;
    if (count != 0) return count;
    outlinkwatch::Os* os = outer->os();
    delete outer;
    os->System()->DebugOutput("A CPolicy object was deleted!\n");
    return 0;
}

// No exception crosses the interface: each operation answers its failure
// value (or nothing) when its own code throws.
int CPolicyBase::XPolicy::SetAgent(IUnknown* pAgent) {
    return Guarded(0, [&] { return Outer()->SetAgent(pAgent); });
}
int CPolicyBase::XPolicy::Exec(uint32_t nArg) {
    return Guarded(1, [&] { return Outer()->Exec(nArg); });
}
int CPolicyBase::XPolicy::Reserved22() {
    return Guarded(0, [&] { return Outer()->Reserved22(); });
}
int CPolicyBase::XPolicy::Reserved23() {
    return Guarded(0, [&] { return Outer()->Reserved23(); });
}
int CPolicyBase::XPolicy::SetPolicyLabel(const char* p) {
    return Guarded(0, [&] { return Outer()->SetPolicyLabel(p); });
}
int CPolicyBase::XPolicy::SetPolicyLabels(const char* a, const char* b) {
    return Guarded(0, [&] { return Outer()->SetPolicyLabels(a, b); });
}
int CPolicyBase::XPolicy::RemoveParamTriple(const char* t) {
    return Guarded(0, [&] { return Outer()->RemoveParamTriple(t); });
}
int CPolicyBase::XPolicy::AddParamTriple(const char* t, const char* n, const char* v) {
    return Guarded(0, [&] { return Outer()->AddParamTriple(t, n, v); });
}
int CPolicyBase::XPolicy::Reserved32() {
    return Guarded(1, [&] { return Outer()->Reserved32(); });
}
void CPolicyBase::XPolicy::SetMark() {
    GuardedVoid([&] { Outer()->SetMark(); });
}
int CPolicyBase::XPolicy::SetFlag(uint8_t b) {
    return Guarded(0, [&] { return Outer()->SetFlag(b); });
}
void CPolicyBase::XPolicy::SetPolicyParams(const std::list<PolicyParam>& p) {
    GuardedVoid([&] { Outer()->SetPolicyParams(p); });
}
void CPolicyBase::XPolicy::SetCommParams(const std::list<PolicyParam>& p) {
    GuardedVoid([&] { Outer()->SetCommParams(p); });
}
void CPolicyBase::XPolicy::GetPolicyParamList(std::list<PolicyParam>& o) {
    GuardedVoid([&] { Outer()->GetPolicyParamList(o); });
}
void CPolicyBase::XPolicy::GetCommParamList(std::list<PolicyParam>& o) {
    GuardedVoid([&] { Outer()->GetCommParamList(o); });
}
void CPolicyBase::XPolicy::ClearPolicyParams() {
    GuardedVoid([&] { Outer()->ClearPolicyParams(); });
}
void CPolicyBase::XPolicy::ClearCommParams() {
    GuardedVoid([&] { Outer()->ClearCommParams(); });
}
int CPolicyBase::XPolicy::Reserved24(uint32_t n) {
    return Guarded(0, [&] { return Outer()->Reserved24(n); });
}
int CPolicyBase::XPolicy::Reserved25(std::string s1, std::string s2, std::string s3, std::string s4,
                                     std::string s5) {
    return Guarded(0, [&] { return Outer()->Reserved25(s1, s2, s3, s4, s5); });
}

HRESULT STDMETHODCALLTYPE CPolicyBase::XCommonControl::QueryInterface(REFIID, void** ppv) {
    if (ppv != nullptr) *ppv = static_cast<ICommonControl*>(this);
    return 0;
}
ULONG STDMETHODCALLTYPE CPolicyBase::XCommonControl::AddRef() { return Outer()->m_nRefCount.load(); }
ULONG STDMETHODCALLTYPE CPolicyBase::XCommonControl::Release() { return Outer()->m_nRefCount.load(); }
int CPolicyBase::XCommonControl::Initialize(std::string t) {
    return Guarded(-1, [&] { return Outer()->Initialize(t); });
}
int CPolicyBase::XCommonControl::done(std::string r) {
    return Guarded(0, [&] { return Outer()->done(r); });
}
int CPolicyBase::XCommonControl::Reserved17(uint32_t a, uint32_t b) {
    return Guarded(0, [&] { return Outer()->Reserved17(a, b); });
}
uint32_t CPolicyBase::XCommonControl::GetState() {
    return Guarded(0u, [&] { return Outer()->GetState(); });
}
std::string CPolicyBase::XCommonControl::GetInfo(uint32_t n) {
    return Guarded(std::string(), [&] { return Outer()->GetInfo(n); });
}
std::string CPolicyBase::XCommonControl::GetName() {
    return Guarded(std::string(), [&] { return Outer()->GetName(); });
}
int CPolicyBase::XCommonControl::SetLanguage(uint32_t n) {
    return Guarded(0, [&] { return Outer()->SetLanguage(n); });
}
int CPolicyBase::XCommonControl::RegisterInterface(uint32_t id, IUnknown* p, uint32_t c) {
    return Guarded(-1, [&] { return Outer()->RegisterInterface(id, p, c); });
}
int CPolicyBase::XCommonControl::UnregisterInterface(uint32_t id, uint32_t c) {
    return Guarded(0, [&] { return Outer()->UnregisterInterface(id, c); });
}
int CPolicyBase::XCommonControl::QueryCommand(std::string c) {
    return Guarded(-1, [&] { return Outer()->QueryCommand(c); });
}
int CPolicyBase::XCommonControl::SetComponentId(uint32_t n) {
    return Guarded(0, [&] { return Outer()->SetComponentId(n); });
}
std::string CPolicyBase::XCommonControl::GetComputerNameText() {
    return Guarded(std::string(), [&] { return Outer()->GetComputerNameText(); });
}
