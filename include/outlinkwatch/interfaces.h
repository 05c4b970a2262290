// The interfaces of the agent framework, in table order. No virtual
// destructor: the tables are exactly the operations listed, and an agent
// built separately calls them by slot position.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "outlinkwatch/records.h"
#include "outlinkwatch/unknown.h"

// The policy's main interface; counts references.
struct IPolicy : public IUnknown {
    virtual int SetAgent(IUnknown* pAgent) = 0;                               // 4
    virtual int Exec(uint32_t nArg) = 0;                                      // 5
    virtual int Reserved22() = 0;                                             // 6
    virtual int Reserved23() = 0;                                             // 7
    virtual int SetPolicyLabel(const char* pszLabel) = 0;                     // 8
    virtual int SetPolicyLabels(const char* pszLabel2, const char* pszLabel3) = 0;  // 9
    virtual int RemoveParamTriple(const char* pszTag) = 0;                    // 10
    virtual int AddParamTriple(const char* pszTag, const char* pszName,
                               const char* pszValue) = 0;                     // 11
    virtual int Reserved32() = 0;                                             // 12
    virtual void SetMark() = 0;                                               // 13
    virtual int SetFlag(uint8_t bFlag) = 0;                                   // 14
    virtual void SetPolicyParams(const std::list<PolicyParam>& params) = 0;   // 15
    virtual void SetCommParams(const std::list<PolicyParam>& params) = 0;     // 16
    virtual void GetPolicyParamList(std::list<PolicyParam>& out) = 0;         // 17
    virtual void GetCommParamList(std::list<PolicyParam>& out) = 0;           // 18
    virtual void ClearPolicyParams() = 0;                                     // 19
    virtual void ClearCommParams() = 0;                                       // 20
    virtual int Reserved24(uint32_t nArg) = 0;                                // 21
    virtual int Reserved25(std::string s1, std::string s2, std::string s3, std::string s4,
                           std::string s5) = 0;                               // 22
};

// Control operations; reports the IPolicy count but never changes it.
struct ICommonControl : public IUnknown {
    virtual int Initialize(std::string policyType) = 0;                       // 4
    virtual int done(std::string reason) = 0;                                 // 5
    virtual int Reserved17(uint32_t a, uint32_t b) = 0;                       // 6
    virtual uint32_t GetState() = 0;                                          // 7
    virtual std::string GetInfo(uint32_t nWhat) = 0;                          // 8
    virtual std::string GetName() = 0;                                        // 9
    virtual int SetLanguage(uint32_t nLanguage) = 0;                          // 10
    virtual int RegisterInterface(uint32_t nId, IUnknown* p, uint32_t nCompanion) = 0;  // 11
    virtual int UnregisterInterface(uint32_t nId, uint32_t nIgnored) = 0;    // 12
    virtual int QueryCommand(std::string command) = 0;                        // 13
    virtual int SetComponentId(uint32_t nId) = 0;                             // 14
    virtual std::string GetComputerNameText() = 0;                            // 15
};

// The agent's own interface as the policy uses it. Only the operations at
// positions 4, 5, 9, 12, 15, 17 and 26 are called; the others hold their
// places in the table.
struct IAgent : public IUnknown {
    virtual int GetPolicyInfo(std::string policyType, std::string* pInfo) = 0;  // 4
    virtual IUnknown* GetComponent(const char* pszName) = 0;                    // 5
    virtual int AgentReserved6() = 0;                                           // 6
    virtual int AgentReserved7() = 0;                                           // 7
    virtual int AgentReserved8() = 0;                                           // 8
    virtual void WriteLog(int32_t nLevel, const char* pszModule, const char* pszText) = 0;  // 9
    virtual int AgentReserved10() = 0;                                          // 10
    virtual int AgentReserved11() = 0;                                          // 11
    virtual int SendNotify(std::string policyType, std::list<NotifyMsg>* pMsgs) = 0;  // 12
    virtual int AgentReserved13() = 0;                                          // 13
    virtual int AgentReserved14() = 0;                                          // 14
    virtual int ShowPrompt(std::string text, int32_t nKind) = 0;                // 15
    virtual int AgentReserved16() = 0;                                          // 16
    virtual int32_t GetAgentTime() = 0;                                         // 17
    virtual int AgentReserved18() = 0;                                          // 18
    virtual int AgentReserved19() = 0;                                          // 19
    virtual int AgentReserved20() = 0;                                          // 20
    virtual int AgentReserved21() = 0;                                          // 21
    virtual int AgentReserved22() = 0;                                          // 22
    virtual int AgentReserved23() = 0;                                          // 23
    virtual int AgentReserved24() = 0;                                          // 24
    virtual int AgentReserved25() = 0;                                          // 25
    virtual int GetLangString(const std::string& module, const std::string& key,
                              std::string* pText) = 0;                          // 26
};

// The agent's "Communication" component; the policy calls position 14 only.
struct ICommunication : public IUnknown {
    virtual int CommReserved4() = 0;                                            // 4
    virtual int CommReserved5() = 0;                                            // 5
    virtual int CommReserved6() = 0;                                            // 6
    virtual int CommReserved7() = 0;                                            // 7
    virtual int CommReserved8() = 0;                                            // 8
    virtual int CommReserved9() = 0;                                            // 9
    virtual int CommReserved10() = 0;                                           // 10
    virtual int CommReserved11() = 0;                                           // 11
    virtual int CommReserved12() = 0;                                           // 12
    virtual int CommReserved13() = 0;                                           // 13
    virtual int GetServerAddress(std::string* pAddress, std::string* pOther) = 0;  // 14
};
