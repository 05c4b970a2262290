// File utilities of the utility library: existence, attributes, size,
// version-resource items, the last-access time and ini-file reads with the
// customer override file. Results are the library's codes; nothing logs.
#pragma once

#include <cstdint>
#include <string>

#include "lumenutil/result_codes.h"
#include "outlinkwatch/export.h"
#include "outlinkwatch/win_types.h"

namespace outlinkwatch {
class Os;
}

namespace lumenutil {

constexpr uint32_t UTIL_E_NOFILE = 0x30000010;
constexpr uint32_t UTIL_S_ISDIR = 17;
constexpr uint32_t UTIL_E_NOTDIR = 0x20000012;
constexpr uint32_t UTIL_S_READONLY = 19;
constexpr uint32_t UTIL_E_NOTREADONLY = 0x20000014;
constexpr uint32_t UTIL_S_WRITABLE = 21;
constexpr uint32_t UTIL_E_NOTWRITABLE = 0x20000016;
constexpr uint32_t UTIL_S_FILETIME = 35;
constexpr uint32_t UTIL_E_FILETIME = 0x30000024;

class OW_EXPORT LumenFile {
public:
    // 0 when the path exists (file or directory), UTIL_E_NOFILE when not.
    static DWORD IsFileExist(const char* path);
    static DWORD IsDirectory(const char* path);
    static DWORD IsReadOnly(const char* path);
    static DWORD IsWritableFile(const char* path);
    // The size in bytes; all bits set for a null or missing path, and for a
    // file of 4 GiB or more (whose size does not fit).
    static DWORD GetFileSize(const char* path);
    // An item ("FileVersion", "ProductName" ...) of the file's version
    // resource in its first translation. 0 also when there is none (out is
    // then left as it was); UTIL_E_NOFILE for a missing file.
    static DWORD GetFileVerInfo(const char* path, const char* item, std::string& out);
    // The last-access time in local time: UTIL_S_FILETIME, or UTIL_E_FILETIME.
    static DWORD GetFileTime(const std::string& path, SYSTEMTIME& out);
    // A key of an ini file, preferring a non-empty value of the "_cust.ini"
    // file beside it; the characters copied, as the profile reader counts them.
    static DWORD GetInifileStringA(const char* section, const char* key, const char* defaultValue, char* buffer,
                                   DWORD size, const char* path);
    static DWORD GetInifileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                                   wchar_t* buffer, DWORD size, const wchar_t* path);
};

// The wide override rule on a given Os.
uint32_t ReadIniWithOverrideW(outlinkwatch::Os* os, const wchar_t* section, const wchar_t* key,
                              const wchar_t* defaultValue, wchar_t* buffer, uint32_t size, const wchar_t* path);

}  // namespace lumenutil
