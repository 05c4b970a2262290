// The Win32 backend of the OS seam: each method is the plain Windows call,
// its result handed back as it came. Nothing here logs and nothing here
// decides; the shared code does both.
#include "platform/win32/win32_api.h"

#include <io.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "platform/os.h"

namespace outlinkwatch {
namespace {

// The structure sizes the version query is made with: the extended form
// first, the basic one on systems that refuse it.
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA layout");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA layout");

// Buffer sizes of the identity queries.
constexpr DWORD kDnsNameWideChars = 1024;
constexpr int kDnsNameBytes = 256;
constexpr DWORD kNetbiosNameBytes = 256;
constexpr DWORD kModulePathBytes = 260;  // MAX_PATH
constexpr DWORD kKeyNameBytes = 260;
constexpr DWORD kUserNameBytes = 256;
constexpr DWORD kMaxExpandedBytes = 32768;

// Largest buffer the temporary-directory query is made with.
constexpr uint32_t kMaxTempPathBuffer = 32768;

// An adapter list larger than this is not a list we asked for.
constexpr uint32_t kMaxAdapterBufferBytes = 16u * 1024u * 1024u;

using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);

template <typename Text>
bool HasEmbeddedNul(const Text& s) {
    return s.find(typename Text::value_type()) != Text::npos;
}
// A path the file calls can take: neither empty nor cut short by a NUL.
template <typename Text>
bool Usable(const Text& path) {
    return !path.empty() && !HasEmbeddedNul(path);
}

// GetPrivateProfileStringA or W (read) into a buffer of size characters:
// what it copies, without the terminator.
template <typename Char, typename Read>
std::basic_string<Char> ProfileString(uint32_t size, Read read) {
    if (size > kMaxProfileBuffer) size = kMaxProfileBuffer;
    std::basic_string<Char> buf(size, Char());
    const DWORD n = read(&buf[0], size);
    buf.resize(n < size ? n : size);
    return buf;
}

// A fixed-size text field of a Windows structure, read no further than
// the field even when the terminator is missing.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// CreateThread wants a WINAPI function of one pointer; the seam's thread
// functions are plain ones, so each start carries the pair on the heap.
struct ThreadStart {
    ThreadFunction fn;
    void* arg;
};

DWORD WINAPI ThreadTrampoline(LPVOID param) {
    ThreadStart start = *static_cast<ThreadStart*>(param);
    delete static_cast<ThreadStart*>(param);
    return start.fn(start.arg);
}

// Reads at most cap bytes with read (bytes read, 0 at the end, -1 on
// failure). The buffer grows with what arrives, doubling from 4 KiB, so a
// small file costs a small buffer whatever the cap: the proxy task reads
// prefs.js twice every 70 s with a cap of megabytes.
template <typename Read>
bool ReadGrowing(size_t cap, std::string* text, Read read) {
    constexpr size_t kFirstChunk = 4096;
    constexpr size_t kMaxChunk = 1u << 20;  // one ReadFile call
    text->clear();
    while (text->size() < cap) {
        const size_t got = text->size();
        const size_t room = std::min({cap - got, std::max(kFirstChunk, got), kMaxChunk});
        text->resize(got + room);
        const int64_t n = read(&(*text)[got], room);
        text->resize(got + (n > 0 ? static_cast<size_t>(n) : 0));
        if (n < 0) return false;
        if (n == 0) break;
    }
    return true;
}

class Win32Kernel final : public KernelObjects {
public:
    Handle CreateEventObject(const char* name, bool manualReset, bool initialState) override {
        const char* objectName = (name != nullptr && *name != '\0') ? name : nullptr;
        return CreateEventA(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, objectName);
    }

    bool SetEventObject(Handle event) override { return event != nullptr && SetEvent(event) != FALSE; }

    bool ResetEventObject(Handle event) override { return event != nullptr && ResetEvent(event) != FALSE; }

    Handle CreateMutexObject(bool initiallyOwned) override {
        return CreateMutexA(nullptr, initiallyOwned ? TRUE : FALSE, nullptr);
    }

    bool ReleaseMutexObject(Handle mutex) override { return mutex != nullptr && ReleaseMutex(mutex) != FALSE; }

    uint32_t WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) override {
        if (handles == nullptr || count == 0 || count > MAXIMUM_WAIT_OBJECTS) return kWaitFailed;
        DWORD r = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
        if (r < WAIT_OBJECT_0 + count) return kWaitObject0 + (r - WAIT_OBJECT_0);
        // An abandoned mutex is still acquired by this wait; the seam knows
        // only "acquired", so it reads as a plain success.
        if (r >= WAIT_ABANDONED_0 && r < WAIT_ABANDONED_0 + count) return kWaitObject0 + (r - WAIT_ABANDONED_0);
        if (r == WAIT_TIMEOUT) return kWaitTimeout;
        return kWaitFailed;
    }

    bool CloseObject(Handle object) override {
        if (object == nullptr) return false;
        // A thread handle: give the thread a bounded time to end first, so
        // that none outlives its owner by accident. GetThreadId answers 0
        // for anything that is not a thread; a thread never waits on itself.
        DWORD threadId = GetThreadId(object);
        if (threadId != 0 && threadId != GetCurrentThreadId()) {
            WaitForSingleObject(object, win32::kThreadCloseWaitMs);
        }
        return CloseHandle(object) != FALSE;
    }

    Handle StartThread(ThreadFunction fn, void* arg) override {
        if (fn == nullptr) return nullptr;
        auto* start = new (std::nothrow) ThreadStart{fn, arg};
        if (start == nullptr) return nullptr;
        HANDLE thread = CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
        if (thread == nullptr) delete start;
        return thread;
    }
};

class Win32Registry final : public RegistryService {
public:
    uint32_t OpenKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override {
        return static_cast<uint32_t>(RegOpenKeyExA(parent, subkey.c_str(), 0, access, key));
    }

    uint32_t CreateKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override {
        return static_cast<uint32_t>(RegCreateKeyExA(parent, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                     access, nullptr, key, nullptr));
    }

    uint32_t QueryValue(HKEY key, const std::string& name, uint32_t* type, uint8_t* data,
                                uint32_t* size) override {
        DWORD t = 0;
        DWORD n = size != nullptr ? *size : 0;
        const LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &t, data, size != nullptr ? &n : nullptr);
        if (type != nullptr) *type = t;
        if (size != nullptr) *size = n;
        return static_cast<uint32_t>(rc);
    }

    uint32_t SetValue(HKEY key, const std::string& name, uint32_t type, const uint8_t* data,
                              uint32_t size) override {
        return static_cast<uint32_t>(RegSetValueExA(key, name.c_str(), 0, type, data, size));
    }

    uint32_t DeleteValue(HKEY key, const std::string& name) override {
        return static_cast<uint32_t>(RegDeleteValueA(key, name.c_str()));
    }

    uint32_t DeleteKey(HKEY parent, const std::string& subkey, uint32_t viewFlag) override {
        // RegDeleteKeyExA is not on every system; without it the plain call
        // deletes in the process's own view.
        using RegDeleteKeyExAFn = LONG(WINAPI*)(HKEY, LPCSTR, REGSAM, DWORD);
        LONG rc;
        HMODULE advapi = LoadLibraryA("Advapi32.dll");
        const auto deleteEx =
            advapi != nullptr ? win32::ProcAs<RegDeleteKeyExAFn>(GetProcAddress(advapi, "RegDeleteKeyExA")) : nullptr;
        if (deleteEx != nullptr) rc = deleteEx(parent, subkey.c_str(), viewFlag, 0);
        else rc = RegDeleteKeyA(parent, subkey.c_str());
        if (advapi != nullptr) FreeLibrary(advapi);
        return static_cast<uint32_t>(rc);
    }

    uint32_t KeyWriteDate(HKEY key, LocalDate* date) override {
        char className[260];
        DWORD classLength = sizeof className;
        FILETIME written;
        const LONG rc = RegQueryInfoKeyA(key, className, &classLength, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, &written);
        if (rc != ERROR_SUCCESS) return static_cast<uint32_t>(rc);
        SYSTEMTIME utc, local;
        std::memset(&local, 0, sizeof local);
        if (FileTimeToSystemTime(&written, &utc)) SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
        date->year = local.wYear;
        date->month = local.wMonth;
        date->day = local.wDay;
        return ERROR_SUCCESS;
    }

    uint32_t CloseKey(HKEY key) override { return static_cast<uint32_t>(RegCloseKey(key)); }
};

// A user's file (or folder) opened for reading without following a
// reparse point, and kept only when the handle passes AcceptUserHandle.
HANDLE OpenUserObject(const std::string& path, bool directory, UserFileRead* why) {
    *why = UserFileRead::kFailed;
    if (!Usable(path)) return INVALID_HANDLE_VALUE;
    const DWORD access = directory ? FILE_LIST_DIRECTORY : GENERIC_READ;
    const DWORD share = directory ? (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) : FILE_SHARE_READ;
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (directory ? FILE_FLAG_BACKUP_SEMANTICS : FILE_FLAG_SEQUENTIAL_SCAN);
    HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) *why = UserFileRead::kMissing;
        // A folder opened as a file, or the other way round.
        if (error == ERROR_ACCESS_DENIED || error == ERROR_DIRECTORY) *why = UserFileRead::kRefused;
        return h;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) ||
        !win32::AcceptUserHandle(GetFileType(h), info.dwFileAttributes, directory)) {
        CloseHandle(h);
        *why = UserFileRead::kRefused;
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// A file name as the ANSI calls would give it.
std::string AnsiOf(const WCHAR* name, size_t chars) {
    if (chars == 0) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, name, static_cast<int>(chars), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, name, static_cast<int>(chars), &out[0], n, nullptr, nullptr);
    return out;
}

class Win32Files final : public FileService {
public:
    char PathSeparator() override { return '\\'; }

    bool FileExists(const FileText& path) override {
        if (path.wide()) return Usable(path.wideText()) && _waccess(path.wideText().c_str(), 0) == 0;
        return Usable(path.ansi()) && _access(path.ansi().c_str(), 0) == 0;
    }

    bool ReadFileBytes(const std::string& path, size_t cap, std::string* text) override {
        if (text == nullptr || !Usable(path)) return false;
        // Others may read meanwhile, but not write.
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool ok = ReadGrowing(cap, text, [file](char* at, size_t room) {
            DWORD n = 0;
            return ReadFile(file, at, static_cast<DWORD>(room), &n, nullptr) ? static_cast<int64_t>(n) : -1;
        });
        CloseHandle(file);
        return ok;
    }

    bool ReadProfileString(const FileText& section, const FileText& key, const FileText& defaultValue,
                           const FileText& path, uint32_t size, FileText* value) override {
        const bool wide = path.wide();
        *value = wide ? FileText(std::wstring()) : FileText(std::string());
        if (size == 0 || (wide ? HasEmbeddedNul(path.wideText()) : HasEmbeddedNul(path.ansi()))) return false;
        if (wide) {
            *value = ProfileString<wchar_t>(size, [&](wchar_t* buf, DWORD room) {
                return GetPrivateProfileStringW(section.WideOrNull(), key.WideOrNull(), defaultValue.WideOrNull(), buf,
                                                room, path.wideText().c_str());
            });
        } else {
            *value = ProfileString<char>(size, [&](char* buf, DWORD room) {
                return GetPrivateProfileStringA(section.AnsiOrNull(), key.AnsiOrNull(), defaultValue.AnsiOrNull(), buf,
                                                room, path.ansi().c_str());
            });
        }
        return true;
    }

    bool FileSize(const std::string& path, uint64_t* size) override {
        if (size == nullptr || !Usable(path)) return false;
        struct _stat64 st;
        if (_stat64(path.c_str(), &st) != 0) return false;
        *size = static_cast<uint64_t>(st.st_size);
        return true;
    }

    bool RemoveFile(const std::string& path) override {
        if (!Usable(path)) return false;
        return DeleteFileA(path.c_str()) != FALSE;
    }

    // Judged on the handle: a reparse point is opened as itself (and then
    // refused), a pipe or device is no disk file. Nobody may write while
    // it is read. The owner is not looked at here.
    UserFileRead ReadUserFile(const std::string&, const std::string& path,
                              const std::function<bool(std::string_view)>& piece) override {
        UserFileRead why = UserFileRead::kFailed;
        HANDLE file = OpenUserObject(path, false, &why);
        if (file == INVALID_HANDLE_VALUE) return why;
        std::vector<char> buf(kUserFilePieceBytes);
        UserFileRead result = UserFileRead::kRead;
        for (;;) {
            DWORD n = 0;
            if (!ReadFile(file, buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr)) result = UserFileRead::kFailed;
            if (result != UserFileRead::kRead || n == 0 || !piece(std::string_view(buf.data(), n))) break;
        }
        CloseHandle(file);
        return result;
    }

    // The listing is read from the folder's own handle, so the folder
    // judged is the folder listed.
    bool ListUserDirectory(const std::string&, const std::string& dir, size_t cap,
                           std::vector<DirEntry>* entries) override {
        if (entries == nullptr) return false;
        UserFileRead why = UserFileRead::kFailed;
        HANDLE folder = OpenUserObject(dir, true, &why);
        if (folder == INVALID_HANDLE_VALUE) return false;
        entries->clear();
        std::vector<char> buf(kUserFilePieceBytes);
        bool ok = true;
        for (FILE_INFO_BY_HANDLE_CLASS cls = FileIdBothDirectoryRestartInfo; entries->size() < cap;
             cls = FileIdBothDirectoryInfo) {
            if (!GetFileInformationByHandleEx(folder, cls, buf.data(), static_cast<DWORD>(buf.size()))) {
                ok = GetLastError() == ERROR_NO_MORE_FILES;
                break;
            }
            for (size_t at = 0; entries->size() < cap;) {
                const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buf.data() + at);
                const size_t chars = std::min<size_t>(info->FileNameLength / sizeof(WCHAR),
                                                      (buf.size() - at - offsetof(FILE_ID_BOTH_DIR_INFO, FileName)) /
                                                          sizeof(WCHAR));
                DirEntry entry;
                entry.name = AnsiOf(info->FileName, chars);
                // A junction or folder link is no folder of the user's own.
                entry.isDirectory = (info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                    (info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
                entries->push_back(std::move(entry));
                if (info->NextEntryOffset == 0 || at + info->NextEntryOffset >= buf.size()) break;
                at += info->NextEntryOffset;
            }
        }
        CloseHandle(folder);
        return ok;
    }

    bool TempDirectory(uint32_t bufferSize, std::string* path) override {
        if (path == nullptr || bufferSize == 0 || bufferSize > kMaxTempPathBuffer) return false;
        // Not the shared temporary directory: see temp_dir_win32.cc.
        return win32::PrivateTempDirectory(bufferSize, path);
    }

    bool FileAttributes(const std::string& path, FileFacts* facts) override {
        if (facts == nullptr || !Usable(path)) return false;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
        facts->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        facts->readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        facts->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        return true;
    }

    bool FileAccessTime(const std::string& path, CalendarTime* local) override {
        if (local == nullptr || !Usable(path)) return false;
        // Backup semantics let directories open as well.
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        FILETIME accessed, localTime;
        SYSTEMTIME st;
        const bool ok = GetFileTime(file, nullptr, &accessed, nullptr) && FileTimeToLocalFileTime(&accessed, &localTime) &&
                        FileTimeToSystemTime(&localTime, &st);
        CloseHandle(file);
        if (!ok) return false;
        *local = CalendarTime{st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour, st.wMinute, st.wSecond,
                              st.wMilliseconds};
        return true;
    }

    bool FileVersionItem(const std::string& path, const std::string& item, std::string* value) override {
        if (value == nullptr || !Usable(path) || HasEmbeddedNul(item)) return false;
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        if (size == 0) return false;
        std::vector<char> block(size, 0);
        if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return false;
        void* translation = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &translation, &length) || length < 4) {
            return false;
        }
        const WORD* words = static_cast<const WORD*>(translation);
        char query[260];
        std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", words[0], words[1], item.c_str());
        void* text = nullptr;
        if (!VerQueryValueA(block.data(), query, &text, &length) || text == nullptr) return false;
        value->assign(static_cast<const char*>(text), strnlen(static_cast<const char*>(text), length));
        return true;
    }

};

class Win32Users final : public UserService {
public:
    UserStatus OpenProcessTokenByImage(const std::string& imageName, Handle* token,
                                               uint32_t* sessionId) override {
        if (HasEmbeddedNul(imageName)) return UserStatus::kNoProcess;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return UserStatus::kSnapshotFailed;
        PROCESSENTRY32 entry;
        std::memset(&entry, 0, sizeof entry);
        entry.dwSize = sizeof entry;
        bool found = false;
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
            if (_stricmp(FieldText(entry.szExeFile).c_str(), imageName.c_str()) == 0) {
                found = true;
                break;
            }
        }
        CloseHandle(snapshot);
        if (!found) return UserStatus::kNoProcess;
        DWORD session = 0;
        if (ProcessIdToSessionId(entry.th32ProcessID, &session) && sessionId != nullptr) *sessionId = session;
        HANDLE process = OpenProcess(MAXIMUM_ALLOWED, FALSE, entry.th32ProcessID);
        if (process == nullptr) return UserStatus::kNoProcess;
        HANDLE opened = nullptr;
        if (OpenProcessToken(process, TOKEN_ALL_ACCESS, &opened) && token != nullptr) *token = opened;
        CloseHandle(process);
        return UserStatus::kOk;
    }

    UserStatus TokenUserSid(Handle token, std::string* sidText) override {
        if (token == nullptr || sidText == nullptr) return UserStatus::kFailed;
        DWORD size = 0;
        // The first call only asks for the size; its success would be a surprise.
        if (GetTokenInformation(token, TokenUser, nullptr, 0, &size) || size == 0) return UserStatus::kFailed;
        HANDLE heap = GetProcessHeap();
        if (heap == nullptr) return UserStatus::kNoMemory;
        void* block = HeapAlloc(heap, 0, size);
        if (block == nullptr) return UserStatus::kNoMemory;
        UserStatus status = UserStatus::kFailed;
        char* text = nullptr;
        if (GetTokenInformation(token, TokenUser, block, size, &size) &&
            ConvertSidToStringSidA(static_cast<TOKEN_USER*>(block)->User.Sid, &text) && text != nullptr) {
            *sidText = text;
            status = UserStatus::kOk;
        }
        if (text != nullptr) LocalFree(text);
        HeapFree(heap, 0, block);
        return status;
    }

    bool UserKeyNames(std::vector<std::string>* names) override {
        if (names == nullptr) return false;
        HKEY users = nullptr;
        if (RegOpenKeyA(HKEY_USERS, nullptr, &users) != ERROR_SUCCESS) return false;
        names->clear();
        for (DWORD index = 0; names->size() < kMaxUserKeys; ++index) {
            char name[kKeyNameBytes];
            DWORD len = kKeyNameBytes;
            if (RegEnumKeyExA(users, index, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names->emplace_back(name, strnlen(name, std::min<DWORD>(len, kKeyNameBytes - 1)));
        }
        RegCloseKey(users);
        return true;
    }

    bool ImpersonateToken(Handle token) override {
        return token != nullptr && ImpersonateLoggedOnUser(token) != FALSE;
    }

    void RevertImpersonation() override { RevertToSelf(); }

    bool ImpersonatedUserName(Handle, std::string* name) override {
        if (name == nullptr) return false;
        char buf[kUserNameBytes];
        std::memset(buf, 0, sizeof buf);
        DWORD len = kUserNameBytes;
        if (!GetUserNameA(buf, &len)) return false;
        *name = FieldText(buf);
        return true;
    }

    bool ExpandForUser(Handle token, const std::string& text, std::string* out) override {
        if (out == nullptr || HasEmbeddedNul(text)) return false;
        char buf[kModulePathBytes];
        std::memset(buf, 0, sizeof buf);
        if (!ExpandEnvironmentStringsForUserA(token, text.c_str(), buf, kModulePathBytes)) return false;
        *out = FieldText(buf);
        return true;
    }

    bool ExpandEnvironment(const std::string& text, std::string* out) override {
        if (out == nullptr || HasEmbeddedNul(text)) return false;
        const DWORD need = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
        if (need == 0 || need > kMaxExpandedBytes) return false;
        std::string buf(need, '\0');
        const DWORD n = ExpandEnvironmentStringsA(text.c_str(), &buf[0], need);
        if (n == 0 || n > need) return false;
        *out = std::string(buf.c_str());
        return true;
    }

    bool AccountNameOfSid(const std::string& sidText, std::string* name) override {
        if (name == nullptr || sidText.empty() || HasEmbeddedNul(sidText)) return false;
        PSID sid = nullptr;
        if (!ConvertStringSidToSidA(sidText.c_str(), &sid)) return false;
        char account[kUserNameBytes], domain[kUserNameBytes];
        DWORD accountLen = sizeof account, domainLen = sizeof domain;
        SID_NAME_USE use;
        const bool ok = LookupAccountSidA(nullptr, sid, account, &accountLen, domain, &domainLen, &use) != FALSE;
        LocalFree(sid);
        if (ok) *name = FieldText(account);
        return ok;
    }

    // The token's groups hold the built-in Administrators group (also when
    // it is there for deny only).
    bool ProcessIsAdministrator() override {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
        DWORD need = 0;
        GetTokenInformation(token, TokenGroups, nullptr, 0, &need);
        std::vector<uint64_t> storage((need + 7) / 8 + 1);
        bool admin = false;
        PSID admins = nullptr;
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        if (need > 0 && GetTokenInformation(token, TokenGroups, storage.data(), need, &need) &&
            AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                     &admins)) {
            const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(storage.data());
            for (DWORD i = 0; i < groups->GroupCount && !admin; ++i) admin = EqualSid(groups->Groups[i].Sid, admins);
            FreeSid(admins);
        }
        CloseHandle(token);
        return admin;
    }

    bool StartHiddenCommand(const std::string& commandLine) override {
        if (commandLine.empty() || HasEmbeddedNul(commandLine)) return false;
        return WinExec(commandLine.c_str(), SW_HIDE) > 31;
    }
    // WinExec answers no process handle, so a command left running cannot be
    // found again to end it.
    void EndHiddenCommands() override {}
};

class Win32Network final : public NetworkService {
public:
    // The socket library is this service's own business: started with it,
    // shut down with it.
    Win32Network() {
        WSADATA data;
        socketsStarted_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Win32Network() override {
        if (socketsStarted_) WSACleanup();
    }
    Win32Network(const Win32Network&) = delete;
    Win32Network& operator=(const Win32Network&) = delete;

    bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) override {
        if (addrs == nullptr) return false;
        addrs->clear();
        // A name with a NUL inside would be looked up as its first part.
        if (host.empty() || HasEmbeddedNul(host)) return false;
        const hostent* he = gethostbyname(host.c_str());
        if (he == nullptr || he->h_addrtype != AF_INET || he->h_length != 4 || he->h_addr_list == nullptr) {
            return false;
        }
        for (char** p = he->h_addr_list; *p != nullptr; ++p) {
            uint32_t addr;  // stays in network order
            std::memcpy(&addr, *p, sizeof addr);
            addrs->push_back(addr);
        }
        return !addrs->empty();
    }

    // The addresses as GetAdaptersInfo gives them; the rest per adapter from
    // its interface row, its connection key and its device.
    bool Adapters(AdapterDetail detail, std::vector<AdapterInfo>* out, uint32_t* error) override {
        if (out == nullptr || error == nullptr) return false;
        ULONG need = 0;
        DWORD rc = GetAdaptersInfo(nullptr, &need);
        if (rc == ERROR_NO_DATA || (rc == ERROR_SUCCESS && need == 0)) {
            out->clear();
            return true;
        }
        if (rc != ERROR_BUFFER_OVERFLOW) return *error = rc, false;
        // The list may grow between the two calls: one more try with the
        // size the second call reports.
        std::unique_ptr<uint64_t[]> storage;
        ULONG len = 0;
        for (int attempt = 0; attempt < 2; ++attempt) {
            len = std::min<ULONG>(std::max<ULONG>(need, kAdapterRecordSize), kMaxAdapterBufferBytes);
            // Whole 8-byte words keep the records aligned as the structure needs.
            storage.reset(new (std::nothrow) uint64_t[(len + 7) / 8]);
            if (!storage) return *error = ERROR_NOT_ENOUGH_MEMORY, false;
            std::memset(storage.get(), 0, len);
            need = len;
            rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(storage.get()), &need);
            if (rc != ERROR_BUFFER_OVERFLOW) break;
        }
        if (rc != ERROR_SUCCESS) return *error = rc, false;
        auto* base = reinterpret_cast<IP_ADAPTER_INFO*>(storage.get());

        // Every record of the answer lies inside the buffer; a link that
        // leads outside it ends the walk rather than being followed.
        const char* lo = reinterpret_cast<const char*>(base);
        const char* hi = lo + len;
        auto inside = [lo, hi](const void* p, size_t n) {
            const char* c = static_cast<const char*>(p);
            return c >= lo && c <= hi && static_cast<size_t>(hi - c) >= n;
        };

        std::vector<AdapterInfo> list;
        size_t budget = len / sizeof(IP_ADDR_STRING) + 1;  // no chain can be longer than this
        for (const IP_ADAPTER_INFO* a = base; a != nullptr && budget > 0 && inside(a, sizeof *a); a = a->Next) {
            --budget;
            if (a->Type == MIB_IF_TYPE_LOOPBACK) continue;
            AdapterInfo info;
            info.name = FieldText(a->AdapterName);
            for (const IP_ADDR_STRING* ip = &a->IpAddressList; ip != nullptr && budget > 0; ip = ip->Next) {
                --budget;
                if (ip != &a->IpAddressList && !inside(ip, sizeof *ip)) break;
                info.ipv4.push_back(FieldText(ip->IpAddress.String));
            }
            info.description = FieldText(a->Description);
            info.mac.assign(a->Address, a->Address + std::min<UINT>(a->AddressLength, MAX_ADAPTER_ADDRESS_LENGTH));
            if (detail != AdapterDetail::kAll) {
                list.push_back(std::move(info));
                continue;
            }
            MIB_IFROW row;
            std::memset(&row, 0, sizeof row);
            row.dwIndex = a->Index;
            info.up = GetIfEntry(&row) == NO_ERROR && (row.dwOperStatus == IF_OPER_STATUS_OPERATIONAL ||
                                                       row.dwOperStatus == IF_OPER_STATUS_CONNECTED);
            info.wireless = a->Type == IF_TYPE_IEEE80211 || MediaSubType(info.name) == 2;
            info.permanentMac = PermanentAddress(info.name);
            list.push_back(std::move(info));
        }
        *out = std::move(list);
        return true;
    }

    bool AdapterCharacteristics(const std::string& adapter, uint32_t* characteristics) override {
        if (characteristics == nullptr || adapter.empty()) return false;
        HKEY cls = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNetClassKey, 0, KEY_READ, &cls) != ERROR_SUCCESS) return false;
        bool found = false;
        for (DWORD i = 0; i < kMaxClassSubkeys && !found; ++i) {
            char sub[kKeyNameBytes];
            DWORD subLen = sizeof sub;
            if (RegEnumKeyExA(cls, i, sub, &subLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            HKEY key = nullptr;
            if (RegOpenKeyExA(cls, sub, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
            char id[kKeyNameBytes];
            DWORD type = 0, size = sizeof id - 1;
            std::memset(id, 0, sizeof id);
            DWORD number = 0, numberSize = sizeof number;
            if (RegQueryValueExA(key, "NetCfgInstanceId", nullptr, &type, reinterpret_cast<BYTE*>(id), &size) ==
                    ERROR_SUCCESS &&
                type == REG_SZ && _stricmp(FieldText(id).c_str(), adapter.c_str()) == 0 &&
                RegQueryValueExA(key, "Characteristics", nullptr, &type, reinterpret_cast<BYTE*>(&number),
                                 &numberSize) == ERROR_SUCCESS &&
                type == REG_DWORD) {
                *characteristics = number;
                found = true;
            }
            RegCloseKey(key);
        }
        RegCloseKey(cls);
        return found;
    }

    bool NotifyRouteChange(Handle event) override {
        if (event == nullptr) return false;
        win32::SrwGuard guard(&routeLock_);
        PruneRetired();
        std::unique_ptr<OVERLAPPED>& slot = routeRequests_[event];
        const bool completed = slot && HasOverlappedIoCompleted(slot.get());
        // The event is manual-reset: looking at it does not consume it.
        const bool eventSet = completed && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
        if (win32::NextRouteRequest(slot != nullptr, completed, eventSet) == win32::RouteRequestStep::kKeep) return true;
        if (!slot) {
            slot.reset(new (std::nothrow) OVERLAPPED);
            if (!slot) {
                routeRequests_.erase(event);
                return false;
            }
        }
        std::memset(slot.get(), 0, sizeof(OVERLAPPED));
        slot->hEvent = event;
        // The handle belongs to the IP helper; it must not be closed.
        HANDLE notifyHandle = nullptr;
        return ::NotifyRouteChange(&notifyHandle, slot.get()) == ERROR_IO_PENDING;
    }

    void CancelRouteChange(Handle event) override {
        if (event == nullptr) return;
        win32::SrwGuard guard(&routeLock_);
        auto it = routeRequests_.find(event);
        if (it == routeRequests_.end()) return;
        std::unique_ptr<OVERLAPPED> ov = std::move(it->second);
        routeRequests_.erase(it);
        if (!HasOverlappedIoCompleted(ov.get())) CancelIPChangeNotify(ov.get());
        // The system writes the cancelled request's status into the
        // structure when it gets round to it; until then it must stay alive.
        if (!HasOverlappedIoCompleted(ov.get())) retiredRequests_.push_back(std::move(ov));
        PruneRetired();
    }

private:
    static constexpr const char* kNetClassKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
    static constexpr DWORD kMaxClassSubkeys = 4096;

    // The connection's medium: 2 is wireless.
    static DWORD MediaSubType(const std::string& adapter) {
        const std::string path = "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\" +
                                 adapter + "\\Connection";
        HKEY key = nullptr;
        DWORD value = 0, size = sizeof value, type = 0;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
        if (RegQueryValueExA(key, "MediaSubType", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                ERROR_SUCCESS ||
            type != REG_DWORD) {
            value = 0;
        }
        RegCloseKey(key);
        return value;
    }

    // The burned-in address, asked of the adapter's device.
    static std::vector<uint8_t> PermanentAddress(const std::string& adapter) {
        constexpr DWORD kQueryGlobalStats = 0x00170002;  // IOCTL_NDIS_QUERY_GLOBAL_STATS
        constexpr DWORD kPermanentAddress = 0x01010101;  // OID_802_3_PERMANENT_ADDRESS
        const std::string device = "\\\\.\\" + adapter;
        HANDLE h = CreateFileA(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return {};
        DWORD oid = kPermanentAddress;
        uint8_t mac[32] = {0};
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(h, kQueryGlobalStats, &oid, sizeof oid, mac, sizeof mac, &returned, nullptr);
        CloseHandle(h);
        if (!ok || returned == 0 || returned > sizeof mac) return {};
        return std::vector<uint8_t>(mac, mac + returned);
    }

    void PruneRetired() {  // routeLock_ held
        retiredRequests_.erase(std::remove_if(retiredRequests_.begin(), retiredRequests_.end(),
                                              [](const std::unique_ptr<OVERLAPPED>& ov) {
                                                  return HasOverlappedIoCompleted(ov.get());
                                              }),
                               retiredRequests_.end());
    }

    bool socketsStarted_ = false;
    SRWLOCK routeLock_ = SRWLOCK_INIT;
    std::map<HANDLE, std::unique_ptr<OVERLAPPED>> routeRequests_;
    std::vector<std::unique_ptr<OVERLAPPED>> retiredRequests_;
};

class Win32Clock final : public ClockService {
public:
    void SleepMs(uint32_t ms) override { Sleep(ms); }

    uint64_t MonotonicMs() override { return GetTickCount64(); }

    // The system C library exports no _time32/_stat32 here; the 64-bit
    // forms give the same values for every time and size the tracer sees.
    uint32_t UnixTime32() override { return static_cast<uint32_t>(_time64(nullptr)); }

    bool LocalTime(int64_t unixTime, std::tm* out) override {
        if (out == nullptr) return false;
        const __time64_t t = static_cast<__time64_t>(unixTime);
        return _localtime64_s(out, &t) == 0;
    }

    // The socket calls wait for exactly the time they are given.
    uint64_t NetworkTimeoutUs(uint64_t us) override { return us; }

    std::unique_ptr<TimerHost> CreateTimerHost() override { return win32::NewTimerHost(); }
};

class Win32Device final : public DeviceService {
public:
    bool OpenDevice(const std::string& path, uint32_t disposition, DeviceHandle* device) override {
        if (HasEmbeddedNul(path)) return false;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
        *device = DeviceHandle(reinterpret_cast<std::uintptr_t>(h));
        return true;
    }

    bool DeviceControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputLength,
                       uint32_t* returned) override {
        DWORD bytes = 0;
        const BOOL ok = DeviceIoControl(reinterpret_cast<HANDLE>(device.value()), code, const_cast<void*>(input),
                                        inputLength, nullptr, 0, &bytes, nullptr);
        if (returned != nullptr) *returned = bytes;
        return ok != FALSE;
    }

    bool CloseDevice(DeviceHandle device) override {
        return CloseHandle(reinterpret_cast<HANDLE>(device.value())) != FALSE;
    }
};

class Win32System final : public SystemService {
public:
    bool ComputerDnsName(std::string* name) override {
        if (name == nullptr) return false;
        wchar_t wide[kDnsNameWideChars];
        DWORD wideLen = kDnsNameWideChars;
        if (!GetComputerNameExW(ComputerNamePhysicalDnsFullyQualified, wide, &wideLen)) return false;
        char narrow[kDnsNameBytes];
        std::memset(narrow, 0, sizeof narrow);
        // The source is NUL-terminated (-1), so a successful conversion
        // includes the terminator and fits the 256 bytes.
        if (WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, kDnsNameBytes, nullptr, nullptr) == 0) return false;
        name->assign(narrow, strnlen(narrow, sizeof narrow - 1));
        return true;
    }

    bool ComputerNetbiosName(std::string* name) override {
        if (name == nullptr) return false;
        char buf[kNetbiosNameBytes];
        DWORD len = kNetbiosNameBytes;
        if (!GetComputerNameA(buf, &len)) return false;
        name->assign(buf, strnlen(buf, std::min<DWORD>(len, kNetbiosNameBytes - 1)));
        return true;
    }

    void DebugOutput(const char* text) override {
        if (text != nullptr) OutputDebugStringA(text);
    }

    bool ModuleFileName(Handle module, std::string* path) override {
        if (path == nullptr) return false;
        char buf[kModulePathBytes];
        const DWORD len = GetModuleFileNameA(static_cast<HMODULE>(module), buf, kModulePathBytes);
        if (len == 0 || len >= kModulePathBytes) return false;
        path->assign(buf, len);
        return true;
    }

    bool UnloadModule(Handle module) override {
        return module != nullptr && FreeLibrary(static_cast<HMODULE>(module)) != FALSE;
    }

    OsVersionFacts VersionFacts() override {
        OsVersionFacts facts;

        OSVERSIONINFOEXA ex;
        std::memset(&ex, 0, sizeof ex);
        ex.dwOSVersionInfoSize = sizeof ex;
        if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex))) {
            facts.versionExOk = true;
            facts.platformId = ex.dwPlatformId;
            facts.major = ex.dwMajorVersion;
            facts.minor = ex.dwMinorVersion;
            facts.productType = ex.wProductType;
            facts.servicePackMajor = ex.wServicePackMajor;
        } else {
            OSVERSIONINFOA basic;
            std::memset(&basic, 0, sizeof basic);
            basic.dwOSVersionInfoSize = sizeof basic;
            if (GetVersionExA(&basic)) {
                facts.versionExOk = true;
                facts.platformId = basic.dwPlatformId;
                facts.major = basic.dwMajorVersion;
                facts.minor = basic.dwMinorVersion;
            }
        }

        // The true numbers: GetVersionExA and VerifyVersionInfoA answer what
        // the host executable's manifest lets them, ntdll does not.
        if (HMODULE ntdll = LoadLibraryA("ntdll.dll")) {
            auto fn = win32::ProcAs<RtlGetNtVersionNumbersFn>(GetProcAddress(ntdll, "RtlGetNtVersionNumbers"));
            if (fn != nullptr) {
                DWORD major = 0, minor = 0, build = 0;
                fn(&major, &minor, &build);
                facts.ntNumbersOk = true;
                facts.ntMajor = major;
                facts.ntMinor = minor;
                facts.ntBuild = build & 0xFFFFu;  // the high bits flag checked/free builds
            }
            FreeLibrary(ntdll);
        }

        facts.equalsMajor6 = VersionEquals(VER_MAJORVERSION, 6);
        facts.equalsMinor3 = VersionEquals(VER_MINORVERSION, 3);

        SYSTEM_INFO si;
        std::memset(&si, 0, sizeof si);
        GetNativeSystemInfoFn native = nullptr;
        if (HMODULE kernel32 = GetModuleHandleA("kernel32.dll")) {
            native = win32::ProcAs<GetNativeSystemInfoFn>(GetProcAddress(kernel32, "GetNativeSystemInfo"));
        }
        if (native != nullptr) {
            native(&si);
        } else {
            GetSystemInfo(&si);
        }
        facts.is64bit = si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                        si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
        return facts;
    }

    SystemFacts SystemInfoFacts() override {
        SystemFacts f;
        f.nativeVersion = true;
        SYSTEM_INFO si;
        std::memset(&si, 0, sizeof si);
        GetNativeSystemInfoFn native = nullptr;
        if (HMODULE kernel32 = GetModuleHandleA("kernel32.dll")) {
            native = win32::ProcAs<GetNativeSystemInfoFn>(GetProcAddress(kernel32, "GetNativeSystemInfo"));
        }
        if (native != nullptr) native(&si);
        else GetSystemInfo(&si);
        f.processorArchitecture = si.wProcessorArchitecture;
        f.uiLanguage = GetUserDefaultUILanguage();
        f.oemCodePage = GetOEMCP();
        OSVERSIONINFOEXA ex;
        std::memset(&ex, 0, sizeof ex);
        ex.dwOSVersionInfoSize = sizeof ex;
        if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex))) {
            f.suiteMask = ex.wSuiteMask;
            f.buildNumber = ex.dwBuildNumber & 0xFFFFu;
            DWORD type = 0;
            if (ex.dwMajorVersion >= 6 &&
                GetProductInfo(ex.dwMajorVersion, ex.dwMinorVersion, ex.wServicePackMajor, ex.wServicePackMinor, &type)) {
                f.productInfo = type;
            }
        }
        f.serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
        char dir[64];
        const UINT n = GetSystemDirectoryA(dir, sizeof dir);
        if (n > 0 && n < sizeof dir) f.systemDirectory.assign(dir, n);
        return f;
    }

    // The firmware's texts as the system keeps them from SMBIOS.
    FirmwareFacts Firmware() override {
        FirmwareFacts f;
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\BIOS", 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return f;
        }
        auto text = [key](const char* name) {
            char buf[256];
            DWORD type = 0, size = sizeof buf - 1;
            std::memset(buf, 0, sizeof buf);
            if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS ||
                type != REG_SZ) {
                return std::string();
            }
            return FieldText(buf);
        };
        f.systemVendor = text("SystemManufacturer");
        f.productName = text("SystemProductName");
        f.biosVendor = text("BIOSVendor");
        f.biosVersion = text("BIOSVersion");
        f.boardVendor = text("BaseBoardManufacturer");
        RegCloseKey(key);
        return f;
    }

private:
    bool VersionEquals(DWORD typeMask, DWORD value) {
        OSVERSIONINFOEXA want;
        std::memset(&want, 0, sizeof want);
        want.dwOSVersionInfoSize = sizeof want;
        if (typeMask == VER_MAJORVERSION) want.dwMajorVersion = value;
        if (typeMask == VER_MINORVERSION) want.dwMinorVersion = value;
        ULONGLONG condition = VerSetConditionMask(0, typeMask, VER_EQUAL);
        return VerifyVersionInfoA(&want, typeMask, condition) != FALSE;
    }
};

// Each service is its own object; the Os hands them out.
class Win32Os final : public Os {
public:
    KernelObjects* Kernel() override { return &kernel_; }
    RegistryService* Registry() override { return &registry_; }
    FileService* Files() override { return &files_; }
    UserService* Users() override { return &users_; }
    NetworkService* Network() override { return &network_; }
    ClockService* Clock() override { return &clock_; }
    DeviceService* Device() override { return &device_; }
    SystemService* System() override { return &system_; }

private:
    Win32Kernel kernel_;
    Win32Registry registry_;
    Win32Files files_;
    Win32Users users_;
    Win32Network network_;
    Win32Clock clock_;
    Win32Device device_;
    Win32System system_;
};

}  // namespace

namespace win32 {

bool AcceptUserHandle(DWORD fileType, DWORD attributes, bool wantDirectory) {
    if (fileType != FILE_TYPE_DISK || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    return ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == wantDirectory;
}

RouteRequestStep NextRouteRequest(bool requestOut, bool completed, bool eventSet) {
    if (!requestOut) return RouteRequestStep::kIssue;
    // Still out: a second request would be refused, and the first one
    // already does what is asked.
    if (!completed) return RouteRequestStep::kKeep;
    return eventSet ? RouteRequestStep::kKeep : RouteRequestStep::kIssue;
}

}  // namespace win32

Os* NewDefaultOs() { return new Win32Os(); }

}  // namespace outlinkwatch
