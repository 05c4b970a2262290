// The file service of the OS seam: files, directories, profile (.ini) files
// and the temporary directory.
//
// Result convention: every call answers true on success and false on
// failure, its answer in out-parameters. PathSeparator is no call but a
// constant of the backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
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

// How a read of a file that a user controls ended (FileService::ReadUserFile).
enum class UserFileRead {
    kRead,     // every piece was handed over, or the reader stopped early
    kMissing,  // nothing has that name (or a part of its folder is missing)
    kRefused,  // something is there, but not a regular file of that user's (or root's)
    kFailed,   // it could not be opened or read
};
// The largest piece ReadUserFile hands over at once.
constexpr size_t kUserFilePieceBytes = 64u * 1024u;

// What a file's attributes tell (GetFileAttributesExA).
struct FileFacts {
    bool isDirectory = false;
    bool readOnly = false;
    uint64_t size = 0;
};

// A text handed to a file call as its caller has it, ANSI bytes or wide
// text (or none, for a profile read's null section or key). The Win32
// backend calls the A or the W function accordingly; the others take the
// bytes as UTF-8 and convert wide text to it.
class FileText {
public:
    FileText() = default;
    FileText(const char* text) : none_(text == nullptr), ansi_(text != nullptr ? text : "") {}
    FileText(std::string text) : none_(false), ansi_(std::move(text)) {}
    FileText(const wchar_t* text) : none_(text == nullptr), wide_(true), wideText_(text != nullptr ? text : L"") {}
    FileText(std::wstring text) : none_(false), wide_(true), wideText_(std::move(text)) {}

    bool none() const { return none_; }
    bool wide() const { return wide_; }
    const std::string& ansi() const { return ansi_; }
    const std::wstring& wideText() const { return wideText_; }
    const char* AnsiOrNull() const { return none_ ? nullptr : ansi_.c_str(); }
    const wchar_t* WideOrNull() const { return none_ ? nullptr : wideText_.c_str(); }

private:
    bool none_ = true;
    bool wide_ = false;
    std::string ansi_;
    std::wstring wideText_;
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
    virtual bool FileExists(const FileText& path) = 0;
    // At most the first cap bytes of a file, as they are, read while others
    // are kept from writing it. False for a missing file or a directory.
    virtual bool ReadFileBytes(const std::string& path, size_t cap, std::string* bytes) = 0;
    // GetPrivateProfileString into a buffer of size characters: the
    // characters it would copy, without the terminator (NUL-separated names
    // for a null section or key). size is capped at kMaxProfileBuffer. The
    // call is made in the path's form, ANSI or wide, and so is the value;
    // the other texts are to be of that form. False, with an empty value,
    // for a zero size or a path the system cannot take.
    virtual bool ReadProfileString(const FileText& section, const FileText& key, const FileText& defaultValue,
                                   const FileText& path, uint32_t size, FileText* value) = 0;
    // _stat32: the file's size; false when it has no status (missing).
    virtual bool FileSize(const std::string& path, uint64_t* size) = 0;
    // DeleteFileA.
    virtual bool RemoveFile(const std::string& path) = 0;
    // Files a user controls (a browser's settings in that user's profile)
    // are opened first and judged on the open handle, never by their name:
    // a final link (reparse point) is not followed, no open waits (a FIFO
    // put in a file's place is refused, not waited on), and what is opened
    // must be a regular file (a disk file) - on Linux owned by the user
    // whose SID text is ownerSid ("S-1-22-1-<uid>") or by root.
    //
    // The file in pieces of at most kUserFilePieceBytes, in order, each
    // handed to piece until it answers false (which is how the caller bounds
    // the time and the amount it reads).
    virtual UserFileRead ReadUserFile(const std::string& ownerSid, const std::string& path,
                                      const std::function<bool(std::string_view)>& piece) = 0;
    // The entries of a user's directory, opened as ReadUserFile opens a file
    // but a directory ("." and ".." as the system gives them), at most cap;
    // an entry is a directory only as itself, not through a link. False when
    // it is no such directory or cannot be read.
    virtual bool ListUserDirectory(const std::string& ownerSid, const std::string& dir, size_t cap,
                                   std::vector<DirEntry>* entries) = 0;
    // The temporary directory for the route trace's output, as GetTempPathA
    // with a buffer of bufferSize bytes answers: the directory, ending in the
    // separator. Not the shared one: a directory no other user can write
    // (the backends say how). False when there is none or it does not fit
    // the buffer.
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
};

}  // namespace outlinkwatch
