// Records that cross the agent boundary. Field order and types are part of
// the contract with agents built separately: do not reorder, do not insert.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "outlinkwatch/unknown.h"

// One parameter (kind 0) or one group of parameters (kind 1).
struct PolicyParam {
    std::string tag;
    std::string name;
    std::string value;
    // For a group: under each child name, one list of records per occurrence.
    std::map<std::string, std::list<std::list<PolicyParam>>> children;
    int32_t kind = 0;
};

struct ParamTriple {
    std::string tag;
    std::string name;
    std::string value;
};

// The terminal's common parameters as the notification carries them.
struct CommonParams {
    std::string strPolicyParamVersion;
    std::string strAccount;
    std::string strAccountId;
    std::string strOrgId;
    std::string strOrgName;
    std::string strUserName;
    std::string strUserId;
    std::string strAuthType;
    std::string strBsid;
    std::string strLocationId;
    std::string strLocationName;
    std::string strReserved1;
    std::string strReserved2;
    int32_t nLocationOnlineState = 0;
};

// One named item of a notification.
class CNotifyInfo {
public:
    virtual ~CNotifyInfo() {}
    std::string m_strName;
    std::string m_strValue;
};

// The notification record handed to the agent (inside a one-element list).
struct NotifyMsg {
    std::string strTag;
    std::string strTitle;
    std::string strPolicyInfo;
    std::string strReserved1;
    std::string strRank;
    std::string strReserved2;
    std::string strReserved3;
    std::string strReserved4;
    int32_t nReserved1 = 1;
    int32_t nMsgCode = 100;
    int32_t nReserved2 = 0;
    std::string strEventKey;
    std::string strReserved5;
    std::string strReserved6;
    std::string strReserved7;
    std::string strReserved8;
    std::string strReserved9;
    // The thirteen texts and the online state follow each other directly in
    // the record, which is exactly the layout of CommonParams.
    CommonParams common;
    std::list<CNotifyInfo> lstInfo;
};

// The static descriptor that GetInterfaceList hands out.
struct ComponentInfo {
    const char* pszInterfaceName;
    const char* pszInterfaceVersion;
    const char* pszReserved;
    const char* pszClassId;
    const char* pszDescription;
    const char* pszAuthor;
    const char* pszBuildDate;
};

// What the agent passes as the third argument of CreateObject.
struct InterfaceEntry {
    uint32_t nWord1;
    uint32_t nWord2;
    IUnknown* pInterface;
    uint32_t nCompanion;
};

// Layout checks: an agent built separately relies on these positions.
#if defined(__GNUC__)
#  pragma GCC diagnostic push
#  pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
namespace outlinkwatch_layout {
constexpr std::size_t kStr = sizeof(std::string);
constexpr std::size_t kPtr = sizeof(void*);
constexpr std::size_t Align(std::size_t n, std::size_t a) { return (n + a - 1) / a * a; }

static_assert(sizeof(ComponentInfo) == 7 * kPtr, "ComponentInfo is seven pointers");
static_assert(offsetof(ComponentInfo, pszBuildDate) == 6 * kPtr, "ComponentInfo field order");
static_assert(offsetof(InterfaceEntry, pInterface) == Align(8, kPtr), "InterfaceEntry pointer");
static_assert(offsetof(InterfaceEntry, nCompanion) == Align(8, kPtr) + kPtr, "InterfaceEntry word");

static_assert(offsetof(ParamTriple, value) == 2 * kStr, "ParamTriple field order");
static_assert(sizeof(ParamTriple) == 3 * kStr, "ParamTriple is three texts");
static_assert(offsetof(PolicyParam, value) == 2 * kStr, "PolicyParam shares ParamTriple's head");
static_assert(offsetof(PolicyParam, children) == 3 * kStr, "PolicyParam children");
static_assert(offsetof(PolicyParam, kind) ==
                  3 * kStr + sizeof(std::map<std::string, std::list<std::list<PolicyParam>>>),
              "PolicyParam kind");

static_assert(offsetof(CommonParams, nLocationOnlineState) == 13 * kStr, "CommonParams texts");
static_assert(offsetof(CNotifyInfo, m_strName) == kPtr, "CNotifyInfo table pointer first");
static_assert(offsetof(CNotifyInfo, m_strValue) == kPtr + kStr, "CNotifyInfo field order");

static_assert(offsetof(NotifyMsg, nReserved1) == 8 * kStr, "NotifyMsg integers after 8 texts");
static_assert(offsetof(NotifyMsg, nMsgCode) == 8 * kStr + 4, "NotifyMsg nMsgCode");
static_assert(offsetof(NotifyMsg, nReserved2) == 8 * kStr + 8, "NotifyMsg nReserved2");
static_assert(offsetof(NotifyMsg, strEventKey) == Align(8 * kStr + 12, alignof(std::string)),
              "NotifyMsg strEventKey");
static_assert(offsetof(NotifyMsg, common) == offsetof(NotifyMsg, strEventKey) + 6 * kStr,
              "NotifyMsg common texts");
static_assert(offsetof(NotifyMsg, lstInfo) ==
                  Align(offsetof(NotifyMsg, common) + 13 * kStr + 4, alignof(std::list<CNotifyInfo>)),
              "NotifyMsg item list after the online state");
}  // namespace outlinkwatch_layout
#if defined(__GNUC__)
#  pragma GCC diagnostic pop
#endif
