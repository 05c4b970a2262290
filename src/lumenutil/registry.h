// Registry access of the utility library. Every operation opens (or
// creates) its key itself, does one thing, closes the key on every path and
// answers a result code (lumenutil/result_codes.h); callers never hold a key.
// Names are narrow strings of the ANSI code page.
//
// The registry view: OSTYPE_X64 opens keys with KEY_WOW64_64KEY, so a 32-bit
// process reaches the 64-bit view; any other value uses the process's own view.
#pragma once

#include <cstdint>
#include <string>

#include "lumenutil/result_codes.h"
#include "outlinkwatch/export.h"
#include "outlinkwatch/win_types.h"
#include "platform/hkey.h"

namespace lumenutil {

enum OSTYPE { OSTYPE_X64 = 0, OSTYPE_X86 = 1 };

// Access masks before the view flag is added.
constexpr uint32_t kRegAccessQuery = 0x20019;    // KEY_READ
constexpr uint32_t kRegAccessSet = 0x20006;      // KEY_WRITE
constexpr uint32_t kRegAccessCreate = 0x2001F;   // KEY_READ | KEY_WRITE
constexpr uint32_t kRegAccessDelete = 0xF003F;   // KEY_ALL_ACCESS
constexpr uint32_t kRegView64 = 0x100;           // KEY_WOW64_64KEY
constexpr uint32_t kRegView32 = 0x200;           // KEY_WOW64_32KEY

class OW_EXPORT LumenReg {
public:
    LumenReg() = default;
    LumenReg(const LumenReg&) = default;
    LumenReg& operator=(const LumenReg&) { return *this; }
    LumenReg& operator=(LumenReg&&) { return *this; }

    // A 4-byte value, read into value as it is stored (the type is not compared).
    static DWORD QueryRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                  DWORD& value, OSTYPE osType);
    // A text value read through a buffer of size bytes (size 0 is refused);
    // an empty name reads the key's default value. size becomes the byte
    // count the system reported; value stays empty unless the read succeeds.
    static DWORD QueryRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                  DWORD& size, std::string& value, OSTYPE osType);
    // Raw bytes into data, size in/out.
    static DWORD QueryRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                  DWORD& size, BYTE* data, OSTYPE osType);

    // The Set operations write into an existing key; they never create one.
    static DWORD SetRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                DWORD value, OSTYPE osType);
    static DWORD SetRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                const BYTE* data, long length, OSTYPE osType);
    // REG_MULTI_SZ when multi, else REG_SZ; the text's characters without a terminator.
    static DWORD SetRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                const std::string& text, bool multi, OSTYPE osType);

    // The Create operations make the key (and its parents) when missing, then set.
    static DWORD CreateRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                   BYTE* data, long length, OSTYPE osType);
    static DWORD CreateRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                   const std::string& text, bool multi, OSTYPE osType);
    static DWORD CreateRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                   DWORD value, OSTYPE osType);

    static DWORD DeleteRegKeyValue(HKEY root, const std::string& subkey, const std::string& valueName,
                                   OSTYPE osType);
    // Deletes a key without subkeys, in the 64-bit view for OSTYPE_X64 and
    // the 32-bit view otherwise.
    static DWORD DeleteRegKey(HKEY root, const std::string& subkey, OSTYPE osType);

    // The key's last-write day in local time as "YYYY-MM-DD", cut to outSize
    // bytes with its terminator. When the key information cannot be read the
    // system's error code is returned as it is and out is left alone.
    static DWORD QueryRegKeyModifyTime(HKEY root, const std::string& subkey, char* out, DWORD outSize,
                                       OSTYPE osType);
};

}  // namespace lumenutil
