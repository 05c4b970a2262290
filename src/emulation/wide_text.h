// Wide texts to UTF-8 and back, for backends whose narrow texts are UTF-8.
// wchar_t is UTF-32 on Linux and UTF-16 on Windows; both are handled.
// Invalid sequences become U+FFFD rather than failing.
#pragma once

#include <cstdint>
#include <string>

namespace outlinkwatch {

constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& text);

class FileService;
class FileText;
// A file call's text as UTF-8: the bytes as they are, wide text converted.
std::string Utf8Of(const FileText& text);

// FileService::ReadProfileString for backends whose ANSI texts are UTF-8:
// the file is read with ReadFileBytes and parsed as the Windows reader
// does. Wide texts pass through UTF-8, and the answer is cut to size
// characters as the wide Windows reader cuts it.
bool Utf8ProfileString(FileService* files, const FileText& section, const FileText& key,
                       const FileText& defaultValue, const FileText& path, uint32_t size, FileText* value);

}  // namespace outlinkwatch
