#include "lumenutil/file_util.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "platform/os.h"

namespace lumenutil {
namespace {

constexpr size_t kMaxPathChars = 260;
constexpr uint32_t kNoSize = 0xFFFFFFFFu;

uint32_t CopyProfileStringW(const std::wstring& value, wchar_t* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    const size_t n = std::min<size_t>(value.size(), size - 1);  // the reader cut it already; the buffer decides
    if (n > 0) std::wmemcpy(buffer, value.data(), n);
    buffer[n] = L'\0';
    if (n + 1 < size) buffer[n + 1] = L'\0';
    return static_cast<uint32_t>(n);
}

}  // namespace

DWORD LumenFile::IsFileExist(const char* path) {
    if (path == nullptr) return UTIL_E_INVALIDARG;
    return outlinkwatch::CurrentOs()->Files()->FileExists(path) ? UTIL_OK : UTIL_E_NOFILE;
}

DWORD LumenFile::IsDirectory(const char* path) {
    if (path == nullptr) return UTIL_E_INVALIDARG;
    outlinkwatch::FileFacts facts;
    if (!outlinkwatch::CurrentOs()->Files()->FileAttributes(path, &facts)) return UTIL_E_NOFILE;
    return facts.isDirectory ? UTIL_S_ISDIR : UTIL_E_NOTDIR;
}

DWORD LumenFile::IsReadOnly(const char* path) {
    if (path == nullptr) return UTIL_E_INVALIDARG;
    outlinkwatch::FileFacts facts;
    if (!outlinkwatch::CurrentOs()->Files()->FileAttributes(path, &facts)) return UTIL_E_NOFILE;
    return facts.readOnly ? UTIL_S_READONLY : UTIL_E_NOTREADONLY;
}

DWORD LumenFile::IsWritableFile(const char* path) {
    const DWORD readOnly = IsReadOnly(path);
    if (readOnly == UTIL_E_INVALIDARG || readOnly == UTIL_E_NOFILE) return readOnly;
    return readOnly == UTIL_E_NOTREADONLY ? UTIL_S_WRITABLE : UTIL_E_NOTWRITABLE;
}

DWORD LumenFile::GetFileSize(const char* path) {
    outlinkwatch::FileFacts facts;
    if (path == nullptr || !outlinkwatch::CurrentOs()->Files()->FileAttributes(path, &facts)) return kNoSize;
    return facts.size >= kNoSize ? kNoSize : static_cast<uint32_t>(facts.size);
}

DWORD LumenFile::GetFileVerInfo(const char* path, const char* item, std::string& out) {
    if (path == nullptr) return UTIL_E_INVALIDARG;
    outlinkwatch::Os* os = outlinkwatch::CurrentOs();
    if (!os->Files()->FileExists(path)) return UTIL_E_NOFILE;
    std::string value;
    if (item != nullptr && os->Files()->FileVersionItem(path, item, &value)) out = value;
    return UTIL_OK;
}

DWORD LumenFile::GetFileTime(const std::string& path, SYSTEMTIME& out) {
    outlinkwatch::CalendarTime t;
    if (path.empty() || !outlinkwatch::CurrentOs()->Files()->FileAccessTime(path, &t)) return UTIL_E_FILETIME;
    // SYSTEMTIME is these eight WORDs in this order on every Windows. Its
    // definition is an operating-system header's there, so it is filled as
    // the bytes it is.
    const uint16_t fields[8] = {t.year, t.month, t.dayOfWeek, t.day, t.hour, t.minute, t.second, t.milliseconds};
    std::memcpy(&out, fields, sizeof fields);
    return UTIL_S_FILETIME;
}

uint32_t ReadIniWithOverrideW(outlinkwatch::Os* os, const wchar_t* section, const wchar_t* key,
                              const wchar_t* defaultValue, wchar_t* buffer, uint32_t size, const wchar_t* path) {
    if (path == nullptr) return 0;
    size_t length = 0;
    while (length < kMaxPathChars - 1 && path[length] != L'\0') ++length;
    std::wstring custom(path, length);
    const size_t dot = custom.rfind(L'.');
    if (dot != std::wstring::npos) {
        custom.replace(dot, std::wstring::npos, L"_cust.ini");
        if (os->Files()->FileExists(custom) && buffer != nullptr && size > 0) {
            outlinkwatch::FileText value;
            os->Files()->ReadProfileString(section, key, L"", custom, size, &value);
            if (!value.wideText().empty() && value.wideText()[0] != L'\0') {
                return CopyProfileStringW(value.wideText(), buffer, size);
            }
        }
    }
    outlinkwatch::FileText value;
    os->Files()->ReadProfileString(section, key, defaultValue, path, size, &value);
    return CopyProfileStringW(value.wideText(), buffer, size);
}

DWORD LumenFile::GetInifileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                                   wchar_t* buffer, DWORD size, const wchar_t* path) {
    return ReadIniWithOverrideW(outlinkwatch::CurrentOs(), section, key, defaultValue, buffer, size, path);
}

}  // namespace lumenutil
