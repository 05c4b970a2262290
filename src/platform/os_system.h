// The system service of the OS seam: the machine's identity and facts, the
// modules of this process and the debugger channel.
//
// Result convention: true on success and false on failure, the answer in
// out-parameters. The fact sheets (VersionFacts, SystemInfoFacts, Firmware)
// cannot fail and answer their structure: what the system does not tell
// keeps its default. DebugOutput has no result.
#pragma once

#include <cstdint>
#include <string>

#include "platform/os_kernel.h"

namespace outlinkwatch {

// Facts behind the operating-system code; the code itself is worked out in
// shared code from these.
struct OsVersionFacts {
    bool versionExOk = false;       // GetVersionExA answered (either structure size)
    bool ntNumbersOk = false;       // RtlGetNtVersionNumbers was available
    uint32_t platformId = 0;
    uint32_t major = 0, minor = 0;  // from GetVersionExA
    uint32_t ntMajor = 0, ntMinor = 0, ntBuild = 0;
    uint8_t productType = 0;        // 1 = workstation
    int servicePackMajor = 0;
    bool equalsMajor6 = false;      // VerifyVersionInfo: major == 6
    bool equalsMinor3 = false;      // VerifyVersionInfo: minor == 3
    bool is64bit = false;           // AMD64 or IA64 processor
};

// Processor architectures in the Windows numbering.
constexpr uint16_t kArchX86 = 0, kArchArm = 5, kArchIA64 = 6, kArchAMD64 = 9, kArchArm64 = 12;
constexpr uint16_t kArchUnknown = 0xFFFF;

// The facts behind the system-information table beyond the version facts.
struct SystemFacts {
    // Whether the version facts are the system's own (Windows); elsewhere
    // they stand in for the newest workstation family and say nothing
    // about the running system.
    bool nativeVersion = false;
    uint16_t processorArchitecture = kArchUnknown;  // of the machine, not of the process
    uint16_t uiLanguage = 0;   // LANGID of the user's interface language (2052 simplified Chinese)
    uint32_t oemCodePage = 0;  // 936 and 950 are the Chinese ones
    uint16_t suiteMask = 0;    // wSuiteMask of the version query
    uint32_t productInfo = 0;  // GetProductInfo's product type; 0 unknown
    bool serverR2 = false;     // GetSystemMetrics(SM_SERVERR2)
    uint32_t buildNumber = 0;
    std::string systemDirectory;  // GetSystemDirectoryA into 64 bytes; empty when it fails
    // Not Windows: the system's own name and kernel release.
    std::string ownName;
    std::string ownRelease;
};

// The firmware's identity texts (SMBIOS / DMI).
struct FirmwareFacts {
    std::string systemVendor, productName, biosVendor, biosVersion, boardVendor;
};

class SystemService {
public:
    virtual ~SystemService() = default;

    // Physical fully qualified DNS name in the system code page, at most 255 bytes.
    virtual bool ComputerDnsName(std::string* name) = 0;
    virtual bool ComputerNetbiosName(std::string* name) = 0;
    virtual void DebugOutput(const char* text) = 0;
    // GetModuleFileNameA (260 bytes) of a module handle, null for the host
    // executable: false when the path does not fit 259 bytes.
    virtual bool ModuleFileName(Handle module, std::string* path) = 0;
    // Unloads a module handle (FreeLibrary).
    virtual bool UnloadModule(Handle module) = 0;
    virtual OsVersionFacts VersionFacts() = 0;
    virtual SystemFacts SystemInfoFacts() = 0;
    virtual FirmwareFacts Firmware() = 0;
};

}  // namespace outlinkwatch
