// The host on Windows: a console control handler instead of signals,
// LoadLibrary instead of dlopen, GetModuleFileName instead of /proc/self/exe.
#include "host_platform.h"

#include "win32/platform_api.h"
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "bounded_file.h"

namespace owhost {

const char* const kPluginFileName = "OutlinkWatch.dll";

std::string SystemError(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n != 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                                message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) message = "system error";
    return OneLine(message, 512) + " (error " + std::to_string(code) + ")";
}

namespace {

bool HasSeparator(const std::string& path) { return path.find_first_of("/\\") != std::string::npos; }

}  // namespace

bool StartPlatform(std::string* error) {
    WSADATA data;
    const int rc = WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) {
        *error = "cannot start the socket library: " + SystemError(static_cast<DWORD>(rc));
        return false;
    }
    // Lines end in "\n" as on Linux: what reads the output (jq, a log
    // reader) sees the same bytes on both.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // The policy runs "cmd /C tracert ...": the tracert shipped beside the
    // host (there is none in Wine) must be found first, as on Linux.
    const std::string dir = ExecutableDirectory();
    if (!dir.empty()) {
        char path[32767];
        const DWORD n = GetEnvironmentVariableA("PATH", path, sizeof path);
        const std::string rest = n > 0 && n < sizeof path ? ";" + std::string(path, n) : std::string();
        SetEnvironment("PATH", dir + rest);
    }
    return true;
}

std::string ExecutableDirectory() {
    char path[MAX_PATH + 1] = {0};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    // A full buffer means a cut path.
    if (n == 0 || n >= MAX_PATH) return std::string();
    const std::string exe(path, n);
    const size_t cut = exe.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : exe.substr(0, cut);
}

std::string PluginPathFromOption(const std::string& value) {
    return HasSeparator(value) ? value : ".\\" + value;
}

void SetEnvironment(const std::string& name, const std::string& value) {
    // Through the C library, so that both its copy and the process's
    // environment (what child processes get) change.
    _putenv_s(name.c_str(), value.c_str());
}

FILE* OpenForAppend(const std::string& path, std::string* error) {
    const std::string shown = "\"" + OneLine(path, 512) + "\"";
    // The name itself is opened, not what a link or junction points to, and
    // checked on the handle; no security attributes: not inherited.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = "cannot open " + shown + " for appending: " + SystemError(GetLastError());
        return nullptr;
    }
    const DWORD type = GetFileType(file);
    BY_HANDLE_FILE_INFORMATION info{};
    AppendTarget target;
    target.charDevice = type == FILE_TYPE_CHAR;
    if (type == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info)) {
        target.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        target.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    const char* refusal = AppendTargetRefusal(target);
    const int fd = refusal == nullptr ? _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_WRONLY) : -1;
    FILE* f = fd >= 0 ? _fdopen(fd, "a") : nullptr;
    if (f == nullptr) {
        *error = refusal != nullptr ? "refused " + shown + ": " + refusal : "cannot open " + shown + " for appending";
        if (fd >= 0) {
            _close(fd);
        } else {
            CloseHandle(file);
        }
    }
    return f;
}

bool ReadBoundedFile(const std::string& path, size_t maxBytes, std::string* text, std::string* error) {
    const std::string shown = OneLine(path, 512);
    // Directories do not open without backup semantics; pipes and devices
    // open but are refused by their type before anything is read.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        const DWORD attributes = GetFileAttributesA(path.c_str());
        *error = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                     ? shown + " is not a regular file"
                     : "cannot open " + shown + ": " + SystemError(code);
        return false;
    }
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        *error = shown + " is not a regular file";
        return false;
    }
    const bool ok = ReadOpenedFile(static_cast<unsigned long long>(size.QuadPart), maxBytes, shown,
                                   [file](char* buffer, size_t want, size_t* got, std::string* reason) {
                                       DWORD n = 0;
                                       const DWORD ask = want > 0x10000000 ? 0x10000000 : static_cast<DWORD>(want);
                                       if (!ReadFile(file, buffer, ask, &n, nullptr)) {
                                           *reason = SystemError(GetLastError());
                                           return false;
                                       }
                                       *got = n;
                                       return true;
                                   },
                                   text, error);
    CloseHandle(file);
    return ok;
}

// ---------------------------------------------------------------- stop requests
// The console control handler runs on a thread the system starts for it;
// it only records the request and wakes the main thread, which waits on
// an event. Once the host is shutting down, the handler declines the next
// request and the system's default handling ends the process.

namespace {

constexpr DWORD kCloseGraceMs = 4000;
HANDLE g_stopEvent = nullptr;
std::atomic<DWORD> g_stopKind{0};
std::atomic<bool> g_endNow{false};

BOOL WINAPI OnConsoleControl(DWORD kind) {
    if (g_endNow.load()) return FALSE;
    switch (kind) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            g_stopKind.store(kind);
            SetEvent(g_stopEvent);
            // A closed console ends the process as soon as the handler
            // returns: hold it back for the shutdown, within the few
            // seconds the system allows.
            if (kind == CTRL_CLOSE_EVENT) Sleep(kCloseGraceMs);
            return TRUE;
        default:
            return FALSE;
    }
}

std::string StopKindName(DWORD kind) {
    switch (kind) {
        case CTRL_C_EVENT: return "Ctrl-C";
        case CTRL_BREAK_EVENT: return "Ctrl-Break";
        default: return "console closed";
    }
}

}  // namespace

void PrepareForStopRequests() {
    g_stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (g_stopEvent != nullptr) SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::string WaitForStopRequest(bool bounded, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        DWORD waitMs = INFINITE;
        if (bounded) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero()) return "duration elapsed";
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
            waitMs = ms >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
        }
        if (g_stopEvent == nullptr) {
            // No event to wait on: only the duration can end the run.
            if (!bounded) return "no way to wait for Ctrl-C";
            Sleep(waitMs);
            continue;
        }
        if (WaitForSingleObject(g_stopEvent, waitMs) == WAIT_OBJECT_0) return StopKindName(g_stopKind.load());
    }
}

void LetNextStopRequestEndHost() { g_endNow.store(true); }

// ---------------------------------------------------------------- the plug-in

PluginLibrary::~PluginLibrary() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

bool PluginLibrary::Open(const std::string& path, std::string* error) {
    // A full path with the system's separators, so that the library's own
    // dependencies are looked for in its directory first.
    std::string native = path;
    for (char& c : native) {
        if (c == '/') c = '\\';
    }
    char full[MAX_PATH + 1] = {0};
    const DWORD n = GetFullPathNameA(native.c_str(), MAX_PATH, full, nullptr);
    if (n > 0 && n < MAX_PATH) native.assign(full, n);
    handle_ = LoadLibraryExA(native.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (handle_ != nullptr) return true;
    *error = OneLine(path, 1024) + ": " + SystemError(GetLastError());
    return false;
}

void* PluginLibrary::Find(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void PluginLibrary::Close() {
    if (handle_ == nullptr) return;
    if (!FreeLibrary(static_cast<HMODULE>(handle_))) {
        std::fprintf(stderr, "outlinkwatch: warning: FreeLibrary: %s\n", SystemError(GetLastError()).c_str());
    }
    handle_ = nullptr;
}

}  // namespace owhost
