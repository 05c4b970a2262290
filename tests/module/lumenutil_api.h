// The utility functions as an agent declares them from their published
// signatures alone; on Linux with the 32-bit DWORD the README gives.
#pragma once

#include <list>
#include <string>

#if defined(_WIN32)
#  include <windows.h>
#  define LUMEN_API __declspec(dllimport)
#else
#  include <cstdint>
#  define LUMEN_API
typedef uint32_t DWORD;
typedef unsigned char BYTE;
typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef struct HKEY__* HKEY;
typedef struct _SYSTEMTIME {
    uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} SYSTEMTIME;
#  define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(0x80000001u))))
#endif

namespace lumenutil {
enum OSTYPE { OSTYPE_X64 = 0, OSTYPE_X86 = 1 };
class LUMEN_API LumenReg {
public:
    static DWORD CreateRegKeyValue(HKEY, const std::string&, const std::string&, DWORD value, OSTYPE);
    static DWORD QueryRegKeyValue(HKEY, const std::string&, const std::string&, DWORD& size, BYTE* data, OSTYPE);
    static DWORD DeleteRegKey(HKEY, const std::string&, OSTYPE);
};
class LUMEN_API LumenSystemInfo {
public:
    static DWORD GetTokenByName(const std::string& imageName, HANDLE& token, DWORD& sessionId);
    static DWORD GetCurrentModuleFileName(HINSTANCE, std::string& fileName, std::string& directory);
    static int GetVirtualAdapterCharacteristicsFromIniFile(std::list<DWORD>& characteristics);
};
class LUMEN_API LumenFile {
public:
    static DWORD GetFileTime(const std::string& path, SYSTEMTIME& out);
    static DWORD GetInifileStringA(const char* section, const char* key, const char* defaultValue, char* buffer,
                                   DWORD size, const char* path);
};
}  // namespace lumenutil
