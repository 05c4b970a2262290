// Wide texts to UTF-8 and back, for backends whose narrow texts are UTF-8.
// wchar_t is UTF-32 on Linux and UTF-16 on Windows; both are handled.
// Invalid sequences become U+FFFD rather than failing.
#pragma once

#include <cstdint>
#include <string>

namespace outlinkwatch {

std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& text);

class FileService;
// The profile reader on wide texts, for backends whose narrow one reads
// UTF-8: the texts pass through the narrow reader and the answer is cut to
// size characters as the wide Windows reader cuts it.
bool WideProfileString(FileService* files, const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                       const std::wstring& path, uint32_t size, std::wstring* value);

}  // namespace outlinkwatch
