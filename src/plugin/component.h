// The component classes of the agent framework: CCommon -> CIAComponent ->
// CPolicyBase. The agent never sees these classes, only the IPolicy and
// ICommonControl interfaces that CPolicyBase implements as nested objects.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>

#include "base/log_sink.h"
#include "outlinkwatch/interfaces.h"
#include "outlinkwatch/records.h"

namespace outlinkwatch {
class Os;
}

class CCommon {
public:
    virtual IPolicy* GetPolicyInterface() = 0;
    virtual ICommonControl* GetCommonControlInterface() = 0;

protected:
    ~CCommon() = default;
};

class CIAComponent : public CCommon {
public:
    // Identifiers under which the agent may register interfaces, in table order.
    static constexpr uint32_t kInterfaceIds[12] = {0x100, 0x200, 0x300, 0x400, 0x500,  0x600,
                                                   0x700, 0x800, 0x900, 0x1000, 0x1200, 0x1100};

    CIAComponent();
    virtual ~CIAComponent();

    virtual std::string GetName();
    virtual int SetLanguage(uint32_t nLanguage);
    virtual uint32_t GetState();
    virtual int RegisterInterface(uint32_t nId, IUnknown* p, uint32_t nCompanion);
    virtual int UnregisterInterface(uint32_t nId, uint32_t nIgnored);
    virtual int Reserved8();
    virtual int Reserved9(uint32_t a, uint32_t b);
    virtual uint32_t GetLanguage();
    virtual int SetState(uint32_t nState);
    virtual int QueryCommand(std::string command);
    virtual int SetComponentId(uint32_t nId);
    virtual std::string GetComputerNameText();

    // The pointer registered under an identifier; null when none or unknown.
    IUnknown* GetRegisteredInterface(uint32_t nId) const;

    // The OS seam this object was created with; kept so that a test's
    // replacement cannot change under a running object.
    outlinkwatch::Os* os() const { return m_pOs; }

protected:
    // Only IPolicy counts references; the agent's threads may call AddRef and
    // Release concurrently, so the count is atomic.
    std::atomic<uint32_t> m_nRefCount{0};
    uint32_t m_nComponentId = 0;
    std::string m_strComponentName;
    uint32_t m_nUnused[3] = {0, 0, 0};
    uint32_t m_nLanguage = 0;
    uint32_t m_nComponentState = 0;
    IUnknown* m_pInterfaces[12] = {};
    outlinkwatch::Os* const m_pOs;

private:
    static int SlotOf(uint32_t nId);
};

class CPolicyBase : public CIAComponent, public outlinkwatch::LogSink {
public:
    CPolicyBase();
    ~CPolicyBase() override;

    IPolicy* GetPolicyInterface() override;
    ICommonControl* GetCommonControlInterface() override;

    virtual int Initialize(std::string policyType);
    virtual int done(std::string reason);
    virtual int Reserved17(uint32_t a, uint32_t b);
    virtual std::string GetInfo(uint32_t nWhat);
    virtual const char* GetResultText(int nIndex);
    virtual int SetAgent(IUnknown* pAgent);
    virtual int Exec(uint32_t nArg);
    virtual int Reserved22();
    virtual int Reserved23();
    virtual int Reserved24(uint32_t nArg);
    virtual int Reserved25(std::string s1, std::string s2, std::string s3, std::string s4, std::string s5);
    virtual int SetPolicyLabel(const char* pszLabel);
    virtual int SetPolicyLabels(const char* pszLabel2, const char* pszLabel3);
    virtual int RemoveParamTriple(const char* pszTag);
    virtual int AddParamTriple(const char* pszTag, const char* pszName, const char* pszValue);
    virtual std::string GetParamTriple(std::string tag, std::string name);
    virtual void GetParamTriples(std::string tag, std::string name, std::list<std::string>& out);
    virtual int Reserved32();
    virtual void SetMark();
    virtual int SetFlag(uint8_t bFlag);
    virtual void SetPolicyParams(const std::list<PolicyParam>& params);
    virtual void SetCommParams(const std::list<PolicyParam>& params);
    virtual void GetPolicyParamList(std::list<PolicyParam>& out);
    virtual void GetCommParamList(std::list<PolicyParam>& out);
    virtual void ClearPolicyParams();
    virtual void ClearCommParams();
    virtual std::string FindParamValue(std::string name, const std::list<PolicyParam>& params);
    virtual std::string GetPolicyParamValue(std::string name);
    virtual std::string GetCommParamValue(std::string name);
    virtual std::string FindGroupValue(std::string name, const std::list<ParamTriple>& triples);
    virtual int FindTriple(std::string name, const std::list<ParamTriple>& triples, std::string& tag,
                           std::string& value);
    virtual int FindParamGroup(std::string key, std::list<std::list<PolicyParam>>& out,
                               const std::list<PolicyParam>& params);
    virtual int GetPolicyParamGroup(std::string key, std::list<std::list<PolicyParam>>& out);
    virtual int GetCommParamGroup(std::string key, std::list<std::list<PolicyParam>>& out);
    virtual void GetCommonParams(CommonParams& out);
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    void WriteLog(int32_t nLevel, const char* pszFunction, int32_t nLine, const char* pszFormat, ...) override;
    virtual void SetModuleName(const char* pszName);

    IUnknown* GetAgent() const { return m_pAgent.load(std::memory_order_acquire); }
    // The agent as IAgent (run-time checked); null when absent or of another type.
    IAgent* GetCheckedAgent() const;
    const std::string& GetModuleName() const { return m_strModuleName; }

    // IPolicy for the agent; every operation from 4 on forwards to the outer object.
    class XPolicy : public IPolicy {
    public:
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
        int SetAgent(IUnknown* pAgent) override;
        int Exec(uint32_t nArg) override;
        int Reserved22() override;
        int Reserved23() override;
        int SetPolicyLabel(const char* pszLabel) override;
        int SetPolicyLabels(const char* pszLabel2, const char* pszLabel3) override;
        int RemoveParamTriple(const char* pszTag) override;
        int AddParamTriple(const char* pszTag, const char* pszName, const char* pszValue) override;
        int Reserved32() override;
        void SetMark() override;
        int SetFlag(uint8_t bFlag) override;
        void SetPolicyParams(const std::list<PolicyParam>& params) override;
        void SetCommParams(const std::list<PolicyParam>& params) override;
        void GetPolicyParamList(std::list<PolicyParam>& out) override;
        void GetCommParamList(std::list<PolicyParam>& out) override;
        void ClearPolicyParams() override;
        void ClearCommParams() override;
        int Reserved24(uint32_t nArg) override;
        int Reserved25(std::string s1, std::string s2, std::string s3, std::string s4,
                       std::string s5) override;

    private:
        CPolicyBase* Outer();
    };

    // ICommonControl for the agent; reports the reference count, never changes it.
    class XCommonControl : public ICommonControl {
    public:
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
        int Initialize(std::string policyType) override;
        int done(std::string reason) override;
        int Reserved17(uint32_t a, uint32_t b) override;
        uint32_t GetState() override;
        std::string GetInfo(uint32_t nWhat) override;
        std::string GetName() override;
        int SetLanguage(uint32_t nLanguage) override;
        int RegisterInterface(uint32_t nId, IUnknown* p, uint32_t nCompanion) override;
        int UnregisterInterface(uint32_t nId, uint32_t nIgnored) override;
        int QueryCommand(std::string command) override;
        int SetComponentId(uint32_t nId) override;
        std::string GetComputerNameText() override;

    private:
        CPolicyBase* Outer();
    };

protected:
    // Set by SetAgent on the agent's thread, read by every thread that logs.
    std::atomic<IUnknown*> m_pAgent{nullptr};
    std::string m_strPolicyLabel;
    std::string m_strPolicyLabel2;
    std::string m_strPolicyLabel3;
    std::string m_strModuleName;
    uint32_t m_nMark = 0;
    uint8_t m_bFlag = 0;
    // The agent's thread hands parameters in while the monitor threads read
    // them: every access to the three lists below takes this lock.
    mutable std::mutex m_csParams;
    std::list<ParamTriple> m_lstParamTriples;
    std::list<PolicyParam> m_lstCommParams;
    std::list<PolicyParam> m_lstPolicyParams;
    XCommonControl m_xCommonControl;
    XPolicy m_xPolicy;
};
