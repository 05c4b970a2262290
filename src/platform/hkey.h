// The registry key type without <windows.h>. On Windows this is the very
// type windows.h declares (a pointer to struct HKEY__), so both headers can
// be included in any order. Elsewhere it is an opaque handle of our own, and
// the predefined roots carry their Windows values (sign-extended, as the
// Windows macros produce them on a 64-bit build).
#pragma once

#include <cstdint>

struct HKEY__;
typedef struct HKEY__* HKEY;

namespace outlinkwatch {

inline HKEY PredefinedRegKey(uint32_t value) {
    return reinterpret_cast<HKEY>(static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(value))));
}

}  // namespace outlinkwatch

#if !defined(_WIN32)
#  define HKEY_CLASSES_ROOT (::outlinkwatch::PredefinedRegKey(0x80000000u))
#  define HKEY_CURRENT_USER (::outlinkwatch::PredefinedRegKey(0x80000001u))
#  define HKEY_LOCAL_MACHINE (::outlinkwatch::PredefinedRegKey(0x80000002u))
#  define HKEY_USERS (::outlinkwatch::PredefinedRegKey(0x80000003u))
#endif
