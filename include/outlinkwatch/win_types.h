// The Windows types in the signatures of the exported utility functions
// (lumenutil), without <windows.h>.
//
// On Windows these are the very typedefs <windows.h> declares (DWORD is
// unsigned long there), so the two headers go together in any order - a
// typedef that differed would not compile - and a module compiled against
// <windows.h> links to the same decorated names.
//
// Elsewhere DWORD is uint32_t: 32 bits, as the registry and the result codes
// need, where the 64-bit unsigned long of LP64 would not do. The other types
// are spelled as on Windows (the handles are pointers, HINSTANCE a pointer to
// struct HINSTANCE__, SYSTEMTIME the struct _SYSTEMTIME), so only DWORD
// mangles differently between the two.
#pragma once

#include <cstdint>

#if defined(_WIN32)
typedef unsigned long DWORD;
typedef unsigned short WORD;
#else
typedef uint32_t DWORD;
typedef uint16_t WORD;
#endif
static_assert(sizeof(DWORD) == 4, "a DWORD is 32 bits on every platform");
typedef unsigned char BYTE;
typedef int BOOL;
typedef void* HANDLE;
struct HINSTANCE__;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;

#if defined(_WIN32)
struct _SYSTEMTIME;
typedef struct _SYSTEMTIME SYSTEMTIME;
#else
// The calendar time of the Windows API, field for field.
struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
typedef struct _SYSTEMTIME SYSTEMTIME;
static_assert(sizeof(SYSTEMTIME) == 16, "eight WORDs, as on Windows");
#endif
