// The system-information operations that the policy itself does not use:
// names, language, architecture, rights, domain, accounts, virtual machines
// and network adapters. Each asks the Os for facts and decides here.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "lumenutil/langmap.h"
#include "base/text.h"
#include "lumenutil/registry.h"
#include "lumenutil/system_info.h"

namespace lumenutil {
namespace {

using outlinkwatch::CurrentOs;
using outlinkwatch::AdapterInfo;

constexpr uint32_t kDomainValueBytes = 1024;
// The two roots by their values, so this file needs no windows.h.
HKEY LocalMachine() { return outlinkwatch::PredefinedRegKey(0x80000002u); }
HKEY CurrentUser() { return outlinkwatch::PredefinedRegKey(0x80000001u); }
constexpr uint32_t kNcfVirtual = 0x1;
// More listed numbers than this is not a hand-written ini file.
constexpr long kMaxListedAdapters = 256;
constexpr uint32_t kIniValueBytes = 260;

bool Contains(const std::string& haystack, const char* needle) { return outlinkwatch::AsciiStrToLower(haystack).find(needle) != std::string::npos; }

// A MAC text in one form: upper case, '-' between the bytes.
std::string NormalMac(const std::string& mac) {
    std::string out = mac;
    for (char& c : out) c = c == ':' ? '-' : outlinkwatch::AsciiToUpper(c);
    return out;
}

// The table lists at most this many adapters.
constexpr size_t kMaxInterfaces = 256;

bool Interfaces(std::vector<AdapterInfo>* list) {
    uint32_t error = 0;
    if (!CurrentOs()->Network()->Adapters(outlinkwatch::AdapterDetail::kAll, list, &error)) return false;
    if (list->size() > kMaxInterfaces) list->resize(kMaxInterfaces);
    return !list->empty();
}

bool Active(const AdapterInfo& i) { return i.up && i.HasIPv4(); }

// "0x" followed by hex digits, or decimal digits; anything else is no number.
bool ParseListedNumber(const std::string& text, uint32_t* value) {
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    int base = 10;
    if (e - b > 2 && text[b] == '0' && (text[b + 1] == 'x' || text[b + 1] == 'X')) {
        base = 16;
        b += 2;
    }
    if (b == e || e - b > 10) return false;
    uint64_t v = 0;
    for (size_t i = b; i < e; ++i) {
        const char c = outlinkwatch::AsciiToLower(text[i]);
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    if (v > 0xFFFFFFFFu) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

std::string Edition(const outlinkwatch::SystemFacts& s, bool workstation) {
    switch (s.productInfo) {
        case 0x01: return "Ultimate Edition";
        case 0x02: return "Home Basic Edition";
        case 0x03: return "Home Premium Edition";
        case 0x04: return "Enterprise Edition";
        case 0x06: return "Business Edition";
        case 0x07: return "Standard Edition";
        case 0x08: return "Datacenter Edition";
        case 0x0A: return "Enterprise Edition";
        case 0x30: return "Professional Edition";
        case 0x65: return "Home Edition";
        case 0x79: return "Education Edition";
        default: break;
    }
    if (s.suiteMask & 0x0080) return "Datacenter Edition";
    if (s.suiteMask & 0x0002) return "Enterprise Edition";
    if (s.suiteMask & 0x0200) return "Home Edition";
    return workstation ? "Professional Edition" : "Standard Edition";
}

}  // namespace

std::string OSNameFromCode(int osCode) {
    switch (osCode) {
        case 100: return "Win32s";
        case 101: return "Windows 95";
        case 102: return "Windows 98";
        case 103: return "Windows ME";
        case 104: return "Windows NT";
        case 105: return "Windows 2000";
        case 106: return "Windows XP";
        case 107: return "Windows Server 2003";
        case 108: return "Windows Vista";
        case 109: return "Windows 7";
        case 110: return "Windows Server 2008";
        case 111: return "Windows Server 2008 R2";
        case 118: return "Windows 8";
        case 120: return "Windows 8.1";
        case 122: return "Windows 10";
        default: return "UNKNOWN";
    }
}

std::string MacText(const std::vector<uint8_t>& mac) {
    if (mac.size() < 6) return std::string();
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

uint32_t VirtualMachineKind(const outlinkwatch::FirmwareFacts& f) {
    const std::string all = f.systemVendor + "\n" + f.productName + "\n" + f.biosVendor + "\n" + f.biosVersion + "\n" +
                            f.boardVendor;
    if (Contains(all, "vmware")) return 1;
    // Virtual PC and its successor describe themselves alike.
    if (Contains(f.systemVendor, "microsoft corporation") && Contains(f.productName, "virtual machine")) return 2;
    if (Contains(all, "virtualbox") || Contains(f.systemVendor, "innotek gmbh") || Contains(f.biosVendor, "innotek gmbh")) {
        return 3;
    }
    return 0;
}

DWORD LumenSystemInfo::GetOSPlatForm(int& platformId) {
    outlinkwatch::Os* os = CurrentOs();
    const outlinkwatch::OsVersionFacts facts = os->System()->VersionFacts();
    if (!os->System()->SystemInfoFacts().nativeVersion || !facts.versionExOk) return UTIL_E_OSVERSION;
    platformId = static_cast<int>(facts.platformId);
    return UTIL_OK;
}

DWORD LumenSystemInfo::GetOSVersionInfo(std::string& name, std::string& servicePack, int want64) {
    outlinkwatch::Os* os = CurrentOs();
    const outlinkwatch::SystemFacts sys = os->System()->SystemInfoFacts();
    const bool wide = want64 != 0 && OSIs64bit();
    if (!sys.nativeVersion) {
        name = sys.ownName.empty() ? "UNKNOWN" : sys.ownName;
        if (wide && !sys.ownName.empty()) name += " X64 Edition";
        servicePack.clear();
        return UTIL_OK;
    }
    int code = -1, spMajor = -1;
    const uint32_t rc = OSCodeFromFacts(os->System()->VersionFacts(), 0, code, spMajor);
    if (rc != UTIL_OK) return rc;
    name = OSNameFromCode(code);
    if (wide && code != -1) name += " X64 Edition";
    servicePack = spMajor > 0 ? "sp" + std::to_string(spMajor) : std::string();
    return UTIL_OK;
}

std::string LumenSystemInfo::GetOSDetailInformation() {
    outlinkwatch::Os* os = CurrentOs();
    const outlinkwatch::SystemFacts sys = os->System()->SystemInfoFacts();
    const char* bits = OSIs64bit() ? ", 64-bit" : ", 32-bit";
    if (!sys.nativeVersion) {
        if (sys.ownName.empty()) return "UNKNOWN";
        std::string text = sys.ownName;
        if (!sys.ownRelease.empty()) text += " (kernel " + sys.ownRelease + ")";
        return text + bits;
    }
    const outlinkwatch::OsVersionFacts facts = os->System()->VersionFacts();
    int code = -1, spMajor = -1;
    if (OSCodeFromFacts(facts, 0, code, spMajor) != UTIL_OK || code == -1) return "UNKNOWN";
    std::string product = OSNameFromCode(code);
    if (code == 107 && sys.serverR2) product += " R2";
    return "Microsoft " + product + " " + Edition(sys, facts.productType == 1) + " (build " +
           std::to_string(facts.ntBuild != 0 ? facts.ntBuild : sys.buildNumber) + ")" + bits;
}

DWORD LumenSystemInfo::GetOSLanguage(std::string& language) {
    language = CurrentOs()->System()->SystemInfoFacts().uiLanguage == 2052 ? "zh-cn" : "en";
    return UTIL_OK;
}

DWORD LumenSystemInfo::GetOSLocaleLanguage(std::string& language) {
    const uint32_t cp = CurrentOs()->System()->SystemInfoFacts().oemCodePage;
    language = cp == 936 || cp == 950 ? "zh-cn" : "en";
    return UTIL_OK;
}

DWORD LumenSystemInfo::GetOSSystemDir(std::string& directory) {
    directory = CurrentOs()->System()->SystemInfoFacts().systemDirectory;
    return UTIL_OK;
}

bool LumenSystemInfo::OSIs64bit(bool& isIA64, bool& isAMD64) {
    const uint16_t arch = CurrentOs()->System()->SystemInfoFacts().processorArchitecture;
    isIA64 = arch == outlinkwatch::kArchIA64;
    isAMD64 = arch == outlinkwatch::kArchAMD64;
    return isIA64 || isAMD64;
}

bool LumenSystemInfo::OSIs64bit() {
    bool ia64 = false, amd64 = false;
    return OSIs64bit(ia64, amd64);
}

bool LumenSystemInfo::GetNtVersionNumbers(DWORD& major, DWORD& minor, DWORD& build) {
    outlinkwatch::Os* os = CurrentOs();
    const outlinkwatch::OsVersionFacts facts = os->System()->VersionFacts();
    if (!os->System()->SystemInfoFacts().nativeVersion || !facts.ntNumbersOk) return false;
    major = facts.ntMajor;
    minor = facts.ntMinor;
    build = facts.ntBuild;
    return true;
}

BOOL LumenSystemInfo::IsAdminUser() { return CurrentOs()->Users()->ProcessIsAdministrator() ? 1 : 0; }

DWORD LumenSystemInfo::GetCurrentModuleFileName(HINSTANCE module, std::string& fileName, std::string& directory) {
    outlinkwatch::Os* os = CurrentOs();
    std::string path;
    if (!os->System()->ModuleFileName(module, &path) || path.empty()) return UTIL_E_MODULENAME;
    const size_t sep = path.rfind(os->Files()->PathSeparator());
    if (sep == std::string::npos) {
        directory.clear();
        fileName = path;
    } else {
        directory = path.substr(0, sep);
        fileName = path.substr(sep + 1);
    }
    return UTIL_OK;
}

// The domain is the configured one: without a (non-empty) setting there is
// none, whatever name the machine resolves itself under.
bool LumenSystemInfo::GetCurrentDomainInfo(std::string& domain) {
    DWORD size = kDomainValueBytes;
    std::string value;
    if (LumenReg::QueryRegKeyValue(LocalMachine(), "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                                   "Domain", size, value, OSTYPE_X86) != UTIL_OK ||
        value.empty()) {
        return false;
    }
    domain = value;
    return true;
}

// The machine's domain only when the user's own value cannot be read; one
// read empty means no domain.
bool LumenSystemInfo::GetCurrentUserDomainInfo(std::string& domain) {
    DWORD size = kDomainValueBytes;
    std::string value;
    if (LumenReg::QueryRegKeyValue(CurrentUser(), "Volatile Environment", "USERDNSDOMAIN", size, value,
                                   OSTYPE_X86) != UTIL_OK) {
        return GetCurrentDomainInfo(domain);
    }
    if (value.empty()) return false;
    domain = value;
    return true;
}

std::string LumenSystemInfo::GetSystemEveryoneAccountName() {
    std::string name;
    return CurrentOs()->Users()->AccountNameOfSid("S-1-1-0", &name) ? name : std::string();
}

bool LumenSystemInfo::isVirtualMachine(DWORD& kind) {
    static std::once_flag once;
    static uint32_t cached = 0;
    std::call_once(once, [] { cached = VirtualMachineKind(CurrentOs()->System()->Firmware()); });
    kind = cached;
    return kind != 0;
}

int VirtualAdapterCharacteristics(outlinkwatch::Os* os, std::list<DWORD>& characteristics) {
    std::string exe;
    if (!os->System()->ModuleFileName(nullptr, &exe)) exe.clear();
    const size_t sep = exe.rfind(os->Files()->PathSeparator());
    const std::string dir = sep == std::string::npos ? exe : exe.substr(0, sep);
    const std::string file = dir + os->Files()->PathSeparator() + "ExtCustomized.ini";
    char value[kIniValueBytes] = {0};
    ReadIniWithOverride(os, "VirtualAdapter", "AdapterNumber", "", value, sizeof value, file.c_str());
    uint32_t count = 0;
    if (!ParseListedNumber(value, &count)) return 1;
    if (count > kMaxListedAdapters) count = kMaxListedAdapters;
    bool any = false;
    for (uint32_t i = 1; i <= count; ++i) {
        const std::string key = "VirtualAdapter_" + std::to_string(i);
        value[0] = '\0';
        ReadIniWithOverride(os, "VirtualAdapter", key.c_str(), "", value, sizeof value, file.c_str());
        uint32_t number = 0;
        if (ParseListedNumber(value, &number)) {
            characteristics.push_back(number);
            any = true;
        }
    }
    return any ? 0 : 1;
}

int LumenSystemInfo::GetVirtualAdapterCharacteristicsFromIniFile(std::list<DWORD>& characteristics) {
    return VirtualAdapterCharacteristics(CurrentOs(), characteristics);
}

bool VirtualAdapter(outlinkwatch::Os* os, const std::string& adapter) {
    uint32_t number = 0;
    if (!os->Network()->AdapterCharacteristics(adapter, &number)) return false;
    std::list<DWORD> listed;
    VirtualAdapterCharacteristics(os, listed);
    for (DWORD n : listed) {
        if (n == number) return false;
    }
    return (number & kNcfVirtual) != 0;
}

bool LumenSystemInfo::IsVirtualAdapter(const std::string& adapter) { return VirtualAdapter(CurrentOs(), adapter); }

bool LumenSystemInfo::GetAllMacAddr(std::list<std::string>& macs) {
    std::vector<AdapterInfo> list;
    if (!Interfaces(&list)) return false;
    const size_t before = macs.size();
    for (const AdapterInfo& i : list) {
        if (i.mac.size() == 6) macs.push_back(MacText(i.mac));
    }
    return macs.size() > before;
}

bool LumenSystemInfo::GetAllWirelessMacAddr(std::list<std::string>& macs) {
    std::vector<AdapterInfo> list;
    if (!Interfaces(&list)) return false;
    const size_t before = macs.size();
    for (const AdapterInfo& i : list) {
        if (i.wireless && i.mac.size() == 6) macs.push_back(MacText(i.mac));
    }
    return macs.size() > before;
}

bool LumenSystemInfo::GetPhyMacAddress(const std::string& adapter, std::string& mac) {
    std::vector<AdapterInfo> list;
    if (!Interfaces(&list)) return false;
    for (const AdapterInfo& i : list) {
        if (i.name != adapter) continue;
        bool burnedIn = i.permanentMac.size() == 6;
        if (burnedIn) {
            burnedIn = false;
            for (uint8_t b : i.permanentMac) burnedIn = burnedIn || b != 0;
        }
        const std::string text = MacText(burnedIn ? i.permanentMac : i.mac);
        if (text.empty()) return false;
        mac = text;
        return true;
    }
    return false;
}

bool LumenSystemInfo::GetActiveIntf(std::list<std::string>& adapters) {
    std::vector<AdapterInfo> list;
    if (!Interfaces(&list)) return false;
    const size_t before = adapters.size();
    for (const AdapterInfo& i : list) {
        if (Active(i)) adapters.push_back(i.name);
    }
    return adapters.size() > before;
}

bool LumenSystemInfo::GetActivePhyIntf(std::list<std::string>& adapters) {
    outlinkwatch::Os* os = CurrentOs();
    std::vector<AdapterInfo> list;
    if (!Interfaces(&list)) return false;
    const size_t before = adapters.size();
    for (const AdapterInfo& i : list) {
        if (Active(i) && !VirtualAdapter(os, i.name)) adapters.push_back(i.name);
    }
    return adapters.size() > before;
}

bool LumenSystemInfo::GetCurrConnRealMac(std::string& mac) {
    std::list<std::string> active;
    if (!GetActivePhyIntf(active)) return false;
    for (const std::string& name : active) {
        if (GetPhyMacAddress(name, mac)) return true;
    }
    return false;
}

bool LumenSystemInfo::IsWirelessMACAddress(const std::string& mac) {
    std::vector<AdapterInfo> list;
    if (mac.empty() || !Interfaces(&list)) return false;
    const std::string wanted = NormalMac(mac);
    for (const AdapterInfo& i : list) {
        if (i.wireless && MacText(i.mac) == wanted) return true;
    }
    return false;
}

bool LumenSystemInfo::IsWirelessAdapter(const std::string& adapter) {
    std::vector<AdapterInfo> list;
    if (!Interfaces(&list)) return false;
    for (const AdapterInfo& i : list) {
        if (i.name == adapter) return i.wireless;
    }
    return false;
}

}  // namespace lumenutil
