// A starting point for agents: every operation of IAgent answers 0 (or
// nothing), the reference operations report a fixed count. An agent derives
// from it and overrides what it serves.
#pragma once

#include "outlinkwatch/interfaces.h"

class AgentBase : public IAgent {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppvObject) override {
        if (ppvObject != nullptr) *ppvObject = static_cast<IAgent*>(this);
        return 0;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    int GetPolicyInfo(std::string, std::string*) override { return 0; }
    IUnknown* GetComponent(const char*) override { return nullptr; }
    int AgentReserved6() override { return 0; }
    int AgentReserved7() override { return 0; }
    int AgentReserved8() override { return 0; }
    void WriteLog(int32_t, const char*, const char*) override {}
    int AgentReserved10() override { return 0; }
    int AgentReserved11() override { return 0; }
    int SendNotify(std::string, std::list<NotifyMsg>*) override { return 0; }
    int AgentReserved13() override { return 0; }
    int AgentReserved14() override { return 0; }
    int ShowPrompt(std::string, int32_t) override { return 0; }
    int AgentReserved16() override { return 0; }
    int32_t GetAgentTime() override { return 0; }
    int AgentReserved18() override { return 0; }
    int AgentReserved19() override { return 0; }
    int AgentReserved20() override { return 0; }
    int AgentReserved21() override { return 0; }
    int AgentReserved22() override { return 0; }
    int AgentReserved23() override { return 0; }
    int AgentReserved24() override { return 0; }
    int AgentReserved25() override { return 0; }
    int GetLangString(const std::string&, const std::string&, std::string*) override { return 0; }
};
