// Initialisation-file look-ups with the semantics of the Windows profile
// reader, for backends that have no such reader: case-insensitive section
// and key names, the first occurrence wins, values trimmed and unquoted,
// NUL-separated lists for a null section or key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os.h"

namespace outlinkwatch {

// Looks up in the text of an ini file, into a buffer of size bytes as the
// Windows profile reader fills it; returns the number of characters copied.
uint32_t IniGetString(const std::string& text, const char* section, const char* key, const char* defaultValue,
                      char* buf, uint32_t size);

// The same as the characters it copies (without the terminator); size is
// capped at kMaxProfileBuffer. This is FileService::ReadProfileString over a text.
std::string IniProfileString(const std::string& text, const char* section, const char* key,
                             const char* defaultValue, uint32_t size);

// Files larger than this are read only up to this size.
constexpr size_t kMaxIniFileBytes = 4u << 20;

}  // namespace outlinkwatch
