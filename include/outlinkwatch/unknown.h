// The three-operation base of every interface at the agent boundary. On
// Windows it is the platform's own IUnknown; elsewhere an identical table.
#pragma once

#if defined(_WIN32)
#  include <unknwn.h>
#else
#  include <cstdint>

typedef long HRESULT;
typedef uint32_t ULONG;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef const IID& REFIID;

#  define STDMETHODCALLTYPE

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
#endif
