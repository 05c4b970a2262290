// The file service of the OS seam: files, directories, profile (.ini) files
// and the temporary directory.
//
// Result convention: every call answers true on success and false on
// failure, its answer in out-parameters. PathSeparator is no call but a
// constant of the backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace outlinkwatch {

// Largest profile-string buffer the backends fill.
constexpr uint32_t kMaxProfileBuffer = 64u * 1024u;

// One entry of a directory listing, in the file system's own order.
struct DirEntry {
    std::string name;
    bool isDirectory = false;
};
constexpr size_t kMaxDirEntries = 4096;

// What a file's attributes tell (GetFileAttributesExA).
struct FileFacts {
    bool isDirectory = false;
    bool readOnly = false;
    uint64_t size = 0;
};

// A calendar time with the fields of the Windows SYSTEMTIME.
struct CalendarTime {
    uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0;
    uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

class FileService {
public:
    virtual ~FileService() = default;

    // The directory separator of the paths ('\\' on Windows).
    virtual char PathSeparator() = 0;
    virtual bool FileExists(const std::string& path) = 0;
    // At most the first cap bytes of a file, as they are, read while others
    // are kept from writing it. False for a missing file or a directory.
    virtual bool ReadFileBytes(const std::string& path, size_t cap, std::string* bytes) = 0;
    // GetPrivateProfileStringA into a buffer of size bytes: the characters it
    // would copy, without the terminator (NUL-separated names for a null
    // section or key). size is capped at kMaxProfileBuffer. False, with an
    // empty value, for a zero size or a path the system cannot take.
    virtual bool ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                   const std::string& path, uint32_t size, std::string* value) = 0;
    // _stat32: the file's size; false when it has no status (missing).
    virtual bool FileSize(const std::string& path, uint64_t* size) = 0;
    // DeleteFileA.
    virtual bool RemoveFile(const std::string& path) = 0;
    // The entries of a directory ("." and ".." as the system gives them), at
    // most cap. False when it is no directory or cannot be read.
    virtual bool ListDirectory(const std::string& dir, size_t cap, std::vector<DirEntry>* entries) = 0;
    // GetTempPathA with a buffer of bufferSize bytes: the directory, ending in
    // the separator. False when there is none or it does not fit the buffer.
    virtual bool TempDirectory(uint32_t bufferSize, std::string* path) = 0;
    // The attributes of a path; false when it has none (missing, unreadable).
    virtual bool FileAttributes(const std::string& path, FileFacts* facts) = 0;
    // Opens the path for reading (directories too) and gives its last-access
    // time in local time; false when it cannot be opened or read.
    virtual bool FileAccessTime(const std::string& path, CalendarTime* local) = 0;
    // The text of an item of the file's version resource, in its first
    // translation ("\\StringFileInfo\\<lang><codepage>\\<item>"); false
    // when the file has no version resource or not that item.
    virtual bool FileVersionItem(const std::string& path, const std::string& item, std::string* value) = 0;
    // The wide twins of FileExists and ReadProfileString.
    virtual bool FileExistsW(const std::wstring& path) = 0;
    virtual bool ReadProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                                    const std::wstring& path, uint32_t size, std::wstring* value) = 0;
};

}  // namespace outlinkwatch
