// System information of the utility library.
#pragma once

#include <cstdint>

#include "lumenutil/result_codes.h"
#include "outlinkwatch/export.h"
#include "platform/os.h"

namespace lumenutil {

constexpr uint32_t UTIL_E_OSVERSION = 0x3000000F;

class OW_EXPORT LumenSystemInfo {
public:
    // The operating-system code (100 Win32s ... 122 Windows 10, -1 unknown)
    // and the service-pack major number; with want64 on a 64-bit processor
    // the 64-bit counterpart of the code.
    static uint32_t GetOSVersionInfo(int& osCode, int& servicePackMajor, int want64);
    static int Transform32To64(const int& code);
};

// The decision table behind GetOSVersionInfo, on the facts the OS gave.
uint32_t OSCodeFromFacts(const outlinkwatch::OsVersionFacts& facts, int want64, int& osCode, int& servicePackMajor);

}  // namespace lumenutil
