#include "lumenutil/system_info.h"

namespace lumenutil {

int LumenSystemInfo::Transform32To64(const int& code) {
    switch (code) {
        case 106: return 112;
        case 107: return 113;
        case 108: return 114;
        case 109: return 115;
        case 110: return 116;
        case 111: return 117;
        case 118: return 119;
        case 120: return 121;
        case 122: return 123;
        default: return -1;
    }
}

uint32_t OSCodeFromFacts(const outlinkwatch::OsVersionFacts& f, int want64, int& osCode,
                                          int& servicePackMajor) {
    osCode = -1;
    servicePackMajor = -1;
    if (!f.versionExOk || !f.ntNumbersOk) return UTIL_E_OSVERSION;
    servicePackMajor = f.servicePackMajor;

    const bool workstation = f.productType == 1;
    if (f.platformId == 0) {
        osCode = 100;
    } else if (f.platformId == 1) {
        if (f.major == 4 && f.minor == 0) osCode = 101;
        else if (f.major == 4 && f.minor == 10) osCode = 102;
        else if (f.major == 4 && f.minor == 90) osCode = 103;
    } else if (f.platformId == 2) {
        const uint32_t major = f.ntMajor, minor = f.ntMinor;
        if (major <= 4) osCode = 104;
        else if (major == 5 && minor == 0) osCode = 105;
        else if (major == 5 && minor == 1) osCode = 106;
        else if (major == 5 && minor == 2) osCode = workstation ? 106 : 107;
        else if (major == 6 && minor == 0) osCode = workstation ? 108 : 110;
        else if (major == 6 && minor == 1) osCode = workstation ? 109 : 111;
        else if (major == 6 && minor >= 2) osCode = (f.equalsMajor6 && f.equalsMinor3) ? 120 : 118;
        else osCode = 122;
    }
    if (f.is64bit && want64 != 0 && osCode >= 106 && osCode <= 122) osCode = LumenSystemInfo::Transform32To64(osCode);
    return UTIL_OK;
}

uint32_t LumenSystemInfo::GetOSVersionInfo(int& osCode, int& servicePackMajor, int want64) {
    return OSCodeFromFacts(outlinkwatch::CurrentOs()->VersionFacts(), want64, osCode, servicePackMajor);
}

}  // namespace lumenutil
