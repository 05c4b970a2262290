// The registry service of the OS seam: the ADVAPI32 key and value calls.
//
// Result convention: every call answers a Windows error code
// (kErrorSuccess on success).
#pragma once

#include <cstdint>
#include <string>

#include "platform/hkey.h"
#include "platform/os_kernel.h"

namespace outlinkwatch {

// Error codes (Windows values) the registry answers besides those of os_kernel.h.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorBadDb = 1009;       // the registry store is damaged
constexpr uint32_t kErrorKeyDeleted = 1018;  // the key of an open handle is gone

// A calendar day in local time.
struct LocalDate {
    int year = 0, month = 0, day = 0;
};

// parent is a predefined root or a key opened here; access may carry the
// view flag (0x100 the 64-bit view, 0x200 the 32-bit view).
class RegistryService {
public:
    virtual ~RegistryService() = default;

    virtual uint32_t OpenKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) = 0;
    // Opens the key, creating it and its missing parents.
    virtual uint32_t CreateKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) = 0;
    // RegQueryValueExA: *size is the buffer size in, the value's size out;
    // kErrorMoreData when data is too small (nothing is copied then); a
    // null data only asks for the size. type may be null.
    virtual uint32_t QueryValue(HKEY key, const std::string& name, uint32_t* type, uint8_t* data,
                                uint32_t* size) = 0;
    virtual uint32_t SetValue(HKEY key, const std::string& name, uint32_t type, const uint8_t* data,
                              uint32_t size) = 0;
    virtual uint32_t DeleteValue(HKEY key, const std::string& name) = 0;
    // Deletes a key without subkeys; viewFlag is 0x100 or 0x200.
    virtual uint32_t DeleteKey(HKEY parent, const std::string& subkey, uint32_t viewFlag) = 0;
    // The day the key was last written, in the local time zone.
    virtual uint32_t KeyWriteDate(HKEY key, LocalDate* date) = 0;
    virtual uint32_t CloseKey(HKEY key) = 0;
};

}  // namespace outlinkwatch
