// System information of the utility library.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "lumenutil/result_codes.h"
#include "outlinkwatch/export.h"
#include "outlinkwatch/win_types.h"
#include "platform/os.h"

namespace lumenutil {

constexpr uint32_t UTIL_E_OSVERSION = 0x3000000F;

// --- users and profiles (the argument and registry codes: result_codes.h)
constexpr uint32_t UTIL_E_SNAPSHOT = 0x30000019;
constexpr uint32_t UTIL_E_NOPROCESS = 0x3000001A;
constexpr uint32_t UTIL_E_NOMEMORY = 0x3000001B;
constexpr uint32_t UTIL_E_NOUSERSID = 0x30000020;
constexpr uint32_t UTIL_E_MODULENAME = 0x30000021;

// The marker of a failed handle-returning call, next to null.
inline outlinkwatch::Handle InvalidHandleValue() { return reinterpret_cast<outlinkwatch::Handle>(~uintptr_t{0}); }

// Closes the handle held in a variable through os when the guard goes,
// unless it is null or the invalid-handle marker.
struct OsHandleGuard {
    outlinkwatch::Os* os;
    outlinkwatch::Handle& handle;
    ~OsHandleGuard() {
        if (handle != nullptr && handle != InvalidHandleValue()) os->Kernel()->CloseObject(handle);
    }
};

// Closes the handle held in a variable when the guard goes, unless it is
// null or the invalid-handle marker, and then sets the variable to null.
class OW_EXPORT CAutoCloseHandle {
public:
    explicit CAutoCloseHandle(HANDLE& handle) : m_handle(handle) {}
    virtual ~CAutoCloseHandle();
    CAutoCloseHandle(const CAutoCloseHandle&) = delete;
    CAutoCloseHandle& operator=(const CAutoCloseHandle&) = delete;

private:
    HANDLE& m_handle;
};

// The same for a module handle, released with FreeLibrary.
class OW_EXPORT CAutoFreeLibrary {
public:
    explicit CAutoFreeLibrary(HMODULE& module) : m_module(module) {}
    virtual ~CAutoFreeLibrary();
    CAutoFreeLibrary(const CAutoFreeLibrary&) = delete;
    CAutoFreeLibrary& operator=(const CAutoFreeLibrary&) = delete;

private:
    HMODULE& m_module;
};

class OW_EXPORT LumenSystemInfo {
public:
    // The operating-system code (100 Win32s ... 122 Windows 10, -1 unknown)
    // and the service-pack major number; with want64 on a 64-bit processor
    // the 64-bit counterpart of the code.
    static DWORD GetOSVersionInfo(int& osCode, int& servicePackMajor, int want64);
    static int Transform32To64(const int& code);

    // --- users and profiles
    // Opens the access token of the first process, in the system's order,
    // whose image name is imageName (case ignored). The caller closes token.
    // sessionId is written only when the process's session is known; token
    // stays as it was when the process gives none.
    static DWORD GetTokenByName(const std::string& imageName, HANDLE& token, DWORD& sessionId);
    // The name of the key under HKEY_USERS that belongs to that process's
    // user; userKeyName is written only on success.
    static DWORD GetCurrentUserSID(const std::string& imageName, std::string& userKeyName);

    // --- the rest of the table (not used by the policy)
    // The platform id of the version query; UTIL_E_OSVERSION where the
    // system has none (not Windows).
    static DWORD GetOSPlatForm(int& platformId);
    // The system's name ("Windows 7", "UNKNOWN" ...; elsewhere the system's
    // own name), " X64 Edition" added for a 64-bit machine when want64 is
    // set, and the service pack ("sp1"; empty for none).
    static DWORD GetOSVersionInfo(std::string& name, std::string& servicePack, int want64);
    static std::string GetOSDetailInformation();
    static DWORD GetOSLanguage(std::string& language);
    static DWORD GetOSLocaleLanguage(std::string& language);
    static DWORD GetOSSystemDir(std::string& directory);
    static bool OSIs64bit(bool& isIA64, bool& isAMD64);
    static bool OSIs64bit();
    // The true version numbers; false where the system has none.
    static bool GetNtVersionNumbers(DWORD& major, DWORD& minor, DWORD& build);
    static BOOL IsAdminUser();
    // The module's file name and its directory (the path split at its last
    // separator); a null module is the host executable.
    static DWORD GetCurrentModuleFileName(HINSTANCE module, std::string& fileName, std::string& directory);
    static bool GetCurrentDomainInfo(std::string& domain);
    static bool GetCurrentUserDomainInfo(std::string& domain);
    static std::string GetSystemEveryoneAccountName();
    // 1 VMware, 2 Virtual PC, 3 VirtualBox, 0 none; worked out once.
    static bool isVirtualMachine(DWORD& kind);
    static bool IsVirtualAdapter(const std::string& adapter);
    // The characteristics numbers listed in ExtCustomized.ini beside the host
    // executable; 1 when none was read, 0 otherwise.
    static int GetVirtualAdapterCharacteristicsFromIniFile(std::list<DWORD>& characteristics);

    // Adapters and MAC addresses, loopback left out; MAC texts "%02X-%02X-...".
    static bool GetAllMacAddr(std::list<std::string>& macs);
    static bool GetAllWirelessMacAddr(std::list<std::string>& macs);
    // The burned-in address of an adapter, its current one where the system
    // does not tell.
    static bool GetPhyMacAddress(const std::string& adapter, std::string& mac);
    // The burned-in address of the first active physical adapter.
    static bool GetCurrConnRealMac(std::string& mac);
    // Adapters that are up with an IPv4 address; the physical ones among them.
    static bool GetActiveIntf(std::list<std::string>& adapters);
    static bool GetActivePhyIntf(std::list<std::string>& adapters);
    static bool IsWirelessMACAddress(const std::string& mac);
    static bool IsWirelessAdapter(const std::string& adapter);
};

// The decisions behind the table, on the facts an Os gave.
std::string OSNameFromCode(int osCode);
std::string MacText(const std::vector<uint8_t>& mac);
// The virtual-machine kind the firmware's texts reveal.
uint32_t VirtualMachineKind(const outlinkwatch::FirmwareFacts& firmware);
int VirtualAdapterCharacteristics(outlinkwatch::Os* os, std::list<DWORD>& characteristics);
bool VirtualAdapter(outlinkwatch::Os* os, const std::string& adapter);

// The two look-ups above on a given Os (the policy's own).
uint32_t TokenByName(outlinkwatch::Os* os, const std::string& imageName, outlinkwatch::Handle& token,
                     uint32_t& sessionId);
uint32_t CurrentUserSid(outlinkwatch::Os* os, const std::string& imageName, std::string& userKeyName);
// CurrentUserSid's answer for a token already opened (the caller's to close).
uint32_t UserKeyNameOfToken(outlinkwatch::Os* os, outlinkwatch::Handle token, std::string& userKeyName);

// A SID as its text form gives it: the identifier authority and the
// sub-authorities (the revision is read but not kept: a SID built from
// these has revision 1).
struct SidValue {
    uint64_t authority = 0;
    std::vector<uint32_t> subAuthorities;
};
constexpr size_t kMaxSubAuthorities = 8;

// Reads "S-<revision>-<authority>-<sub>..." field by field, each field a
// "-" and a decimal number of 32 bits, stopping at the first field that
// does not fit that form; fields after the eighth sub-authority are
// ignored. False when fewer than three fields were read.
bool ParseSidText(const std::string& text, SidValue* sid);

// The decision table behind GetOSVersionInfo, on the facts the OS gave.
uint32_t OSCodeFromFacts(const outlinkwatch::OsVersionFacts& facts, int want64, int& osCode, int& servicePackMajor);

}  // namespace lumenutil
