// A starting point for the agent's "Communication" component: every
// reserved operation answers 0 and the reference operations report a fixed
// count, so a component overrides only GetServerAddress.
#pragma once

#include "outlinkwatch/interfaces.h"

class CommunicationBase : public ICommunication {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppvObject) override {
        if (ppvObject == nullptr) return -1;
        *ppvObject = static_cast<ICommunication*>(this);
        return 0;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    int CommReserved4() override { return 0; }
    int CommReserved5() override { return 0; }
    int CommReserved6() override { return 0; }
    int CommReserved7() override { return 0; }
    int CommReserved8() override { return 0; }
    int CommReserved9() override { return 0; }
    int CommReserved10() override { return 0; }
    int CommReserved11() override { return 0; }
    int CommReserved12() override { return 0; }
    int CommReserved13() override { return 0; }
};
