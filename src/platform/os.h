// The operating-system seam. Every Windows service the plug-in uses is
// reached through one Os object, so that the Linux backend, the Win32
// backend and the test fake can stand in for each other. Backends turn an
// OS call into a plain result; decisions stay in the shared code.
//
// Method names stay clear of the Win32 macros (CreateEvent, GetObject...).
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/hkey.h"

namespace outlinkwatch {

// An opaque kernel object (event, mutex or thread). Null means none.
using Handle = void*;

// Wait results and error codes, with their Windows values.
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorBufferOverflow = 111;
constexpr uint32_t kErrorNoData = 232;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorIoPending = 997;
constexpr uint32_t kErrorNotSupported = 50;

// The size of one adapter record in the Windows adapter list; buffers for
// the list are sized in whole records.
constexpr uint32_t kAdapterRecordSize = 640;

// Largest profile-string buffer the backends fill.
constexpr uint32_t kMaxProfileBuffer = 64u * 1024u;

struct AdapterInfo {
    std::string name;
    std::vector<std::string> ipv4;  // dotted texts, "0.0.0.0" for an adapter without one
};

// Facts behind the operating-system code; the code itself is worked out in
// shared code from these.
struct OsVersionFacts {
    bool versionExOk = false;       // GetVersionExA answered (either structure size)
    bool ntNumbersOk = false;       // RtlGetNtVersionNumbers was available
    uint32_t platformId = 0;
    uint32_t major = 0, minor = 0;  // from GetVersionExA
    uint32_t ntMajor = 0, ntMinor = 0, ntBuild = 0;
    uint8_t productType = 0;        // 1 = workstation
    int servicePackMajor = 0;
    bool equalsMajor6 = false;      // VerifyVersionInfo: major == 6
    bool equalsMinor3 = false;      // VerifyVersionInfo: minor == 3
    bool is64bit = false;           // AMD64 or IA64 processor
};

// Receives the ticks of a TimerHost, on the host's own thread.
class TimerSink {
public:
    virtual ~TimerSink() = default;
    virtual void OnTimer(uint32_t id) = 0;
};

// The platform half of the task timer: a thread that owns numbered platform
// timers and reports their ticks. Win32: a hidden window and its message
// loop; elsewhere a timer thread.
class TimerHost {
public:
    virtual ~TimerHost() = default;
    // Starts the owning thread; false when it cannot be started.
    virtual bool Start(TimerSink* sink) = 0;
    // Arms (or re-arms) a platform timer; waits, with a bound, for the
    // thread to be ready first. False when the platform refuses.
    virtual bool Arm(uint32_t id, uint32_t elapseMs) = 0;
    virtual void Disarm(uint32_t id) = 0;
    // Ends the thread, waiting at most waitMs for it. A tick under way is
    // always waited out: no tick reaches the sink after Stop returns.
    virtual void Stop(uint32_t waitMs) = 0;
};

// --- users and profiles
// One entry of a directory listing, in the file system's own order.
struct DirEntry {
    std::string name;
    bool isDirectory = false;
};

// How the search for a process by its image name ended.
enum class ProcessTokenStatus {
    kOpened,          // the process was opened; the token may still be null
    kSnapshotFailed,  // the process list could not be taken
    kNoProcess,       // no process of that name, or it could not be opened
};

// How reading the user of a token ended.
enum class TokenSidStatus {
    kOk,
    kNoMemory,  // no heap block for the token information
    kFailed,    // the token information could not be read
};

// Bounds of the user and profile look-ups.
constexpr size_t kMaxDirEntries = 4096;
constexpr size_t kMaxUserKeys = 4096;

using ThreadFunction = uint32_t (*)(void*);

// An open device, a kind of handle of its own: it cannot be waited on,
// closed as a kernel object or passed where an event is wanted, and an
// event cannot be passed where it is wanted. Empty means none.
class DeviceHandle {
public:
    DeviceHandle() = default;
    explicit DeviceHandle(std::uintptr_t value) : value_(value) {}
    std::uintptr_t value() const { return value_; }
    explicit operator bool() const { return value_ != 0; }
    bool operator==(const DeviceHandle& other) const { return value_ == other.value_; }
    bool operator!=(const DeviceHandle& other) const { return value_ != other.value_; }

private:
    std::uintptr_t value_ = 0;
};

// Creation dispositions of a device open, with their Windows values.
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;

// The last Unix time the Windows local-time conversion accepts
// (3000-12-31 23:59:59 UTC); earlier than 1970 it refuses as well.
constexpr int64_t kMaxLocalTime = 32535215999;

// --- registry: error codes (Windows values) and the key date.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorBadDb = 1009;       // the registry store is damaged
constexpr uint32_t kErrorKeyDeleted = 1018;  // the key of an open handle is gone

// A calendar day in local time.
struct LocalDate {
    int year = 0, month = 0, day = 0;
};

// --- utility library: files, system information, adapters
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

// Processor architectures in the Windows numbering.
constexpr uint16_t kArchX86 = 0, kArchArm = 5, kArchIA64 = 6, kArchAMD64 = 9, kArchArm64 = 12;
constexpr uint16_t kArchUnknown = 0xFFFF;

// The facts behind the system-information table beyond the version facts.
struct SystemFacts {
    // Whether the version facts are the system's own (Windows); elsewhere
    // they stand in for the newest workstation family and say nothing
    // about the running system.
    bool nativeVersion = false;
    uint16_t processorArchitecture = kArchUnknown;  // of the machine, not of the process
    uint16_t uiLanguage = 0;   // LANGID of the user's interface language (2052 simplified Chinese)
    uint32_t oemCodePage = 0;  // 936 and 950 are the Chinese ones
    uint16_t suiteMask = 0;    // wSuiteMask of the version query
    uint32_t productInfo = 0;  // GetProductInfo's product type; 0 unknown
    bool serverR2 = false;     // GetSystemMetrics(SM_SERVERR2)
    uint32_t buildNumber = 0;
    std::string systemDirectory;  // GetSystemDirectoryA into 64 bytes; empty when it fails
    // Not Windows: the system's own name and kernel release.
    std::string ownName;
    std::string ownRelease;
};

// The firmware's identity texts (SMBIOS / DMI).
struct FirmwareFacts {
    std::string systemVendor, productName, biosVendor, biosVersion, boardVendor;
};

// One network adapter, loopback left out, in the platform's order.
struct InterfaceFacts {
    std::string name;                   // Windows: the adapter's GUID name; Linux: the interface name
    std::string description;
    std::vector<uint8_t> mac;           // current hardware address
    std::vector<uint8_t> permanentMac;  // burned-in address where the system tells it
    bool up = false;                    // operationally up
    bool hasIPv4 = false;
    bool wireless = false;
};
constexpr size_t kMaxInterfaces = 256;

class Os {
public:
    virtual ~Os() = default;

    // The backend this build was made for (chosen by CMake).
    static Os* Default();

    // --- identity, files, debugger output
    // Physical fully qualified DNS name in the system code page, at most 255 bytes.
    virtual std::string ComputerDnsName() = 0;
    virtual bool ComputerNetbiosName(std::string* name) = 0;
    virtual void DebugOutput(const char* text) = 0;
    // Full path of the host executable (at most 259 bytes); empty on failure.
    virtual std::string ExecutablePath() = 0;
    // The directory separator of the paths above ('\\' on Windows).
    virtual char PathSeparator() = 0;
    virtual bool FileExists(const std::string& path) = 0;
    // The first cap bytes of a file, as they are; false when it cannot be read.
    virtual bool ReadFileText(const std::string& path, size_t cap, std::string* text) = 0;
    // GetPrivateProfileStringA into a buffer of size bytes: the characters it
    // would copy, without the terminator (NUL-separated names for a null
    // section or key). size is capped at kMaxProfileBuffer.
    virtual std::string ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                          const std::string& path, uint32_t size) = 0;
    virtual OsVersionFacts VersionFacts() = 0;

    // --- kernel objects and threads
    // Named events are process-wide: a second creation under a name opens the first.
    virtual Handle CreateEventObject(const char* name, bool manualReset, bool initialState) = 0;
    virtual bool SetEventObject(Handle event) = 0;
    virtual bool ResetEventObject(Handle event) = 0;
    virtual Handle CreateMutexObject(bool initiallyOwned) = 0;
    virtual bool ReleaseMutexObject(Handle mutex) = 0;
    // Wait-any: kWaitObject0 + index of the first signalled object, kWaitTimeout
    // or kWaitFailed. An auto-reset event is consumed, a mutex acquired.
    virtual uint32_t WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) = 0;
    virtual bool CloseObject(Handle object) = 0;
    virtual Handle StartThread(ThreadFunction fn, void* arg) = 0;
    virtual void SleepMs(uint32_t ms) = 0;

    // --- network (the backend starts its socket library itself)
    // gethostbyname: the host's IPv4 addresses in network order, resolver
    // order; a dotted address resolves to itself. False when it does not resolve.
    virtual bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) = 0;
    // GetAdaptersInfo: the adapters in the platform's order, each with its
    // IPv4 addresses ("0.0.0.0" for an adapter without one, or down); no
    // loopback adapter. kErrorSuccess with the list, kErrorNoData without
    // adapters, or the platform's error code. The shared code works out the
    // record sizes of the Windows call from the count.
    virtual uint32_t GetAdapters(std::vector<AdapterInfo>* out) = 0;
    // NotifyRouteChange with an overlapped event: arms one request that sets
    // the event at the next IPv4 routing-table change. False when no
    // notification can be had (the request is not pending). The event is
    // manual-reset; while a change it reported is still set, the call
    // leaves it so (the caller resets it once it has seen the change).
    virtual bool NotifyRouteChange(Handle event) = 0;
    // Withdraws a pending request of NotifyRouteChange for this event.
    virtual void CancelRouteChange(Handle event) = 0;

    // --- task timer
    virtual std::unique_ptr<TimerHost> CreateTimerHost() = 0;

    // --- probe
    // A network time-out (connect, send, receive) in microseconds, as it is
    // to be applied: the real backends return it unchanged, the test fake
    // shortens it as it does its waits.
    virtual uint64_t NetworkTimeoutUs(uint64_t us) = 0;
    // GetTickCount64: milliseconds of a clock that only goes forward, from
    // an arbitrary start. The test fake answers its virtual clock.
    virtual uint64_t MonotonicMs() = 0;

    // --- route tracer
    // GetTempPathA with a buffer of bufferSize bytes: the directory, ending in
    // the separator, and its length; when it does not fit, the size it needs
    // (terminator included) and no text; 0 on failure.
    virtual uint32_t TempDirectory(uint32_t bufferSize, std::string* path) = 0;
    // _time32: seconds since 1970-01-01 UTC.
    virtual uint32_t UnixTime32() = 0;
    // WinExec of a "cmd /C ..." line with the window hidden: starts it and
    // returns at once, never waiting for the command. False when it could
    // not be started.
    virtual bool StartHiddenCommand(const std::string& commandLine) = 0;
    // _stat32: the file's size; false when it has no status (missing).
    virtual bool FileSize(const std::string& path, uint64_t* size) = 0;
    // The path canonicalized into 260 bytes, opened in text mode ("r") and
    // read for at most maxBytes bytes: each CR LF arrives as LF, and a
    // Ctrl-Z ends the text. False when the path or the file cannot be used.
    virtual bool ReadTextFile(const std::string& path, size_t maxBytes, std::string* text) = 0;
    // DeleteFileA.
    virtual bool RemoveFile(const std::string& path) = 0;

    // --- reaction (local time, filter device)
    // _localtime64_s: the local calendar time of a Unix time. False when the
    // time cannot be converted (before 1970 or after kMaxLocalTime).
    virtual bool LocalTime(int64_t unixTime, std::tm* out) = 0;
    // CreateFileA of a device path (\\.\NFW): read and write
    // access, no sharing, normal attributes, the given creation disposition
    // (kCreateAlways, kOpenExisting). Empty when it cannot be opened.
    virtual DeviceHandle OpenDevice(const std::string& path, uint32_t disposition) = 0;
    // DeviceIoControl with an input buffer and no output buffer; *returned
    // gets the output byte count. Non-zero on success, 0 on failure.
    virtual int32_t DeviceControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputLength,
                                  uint32_t* returned) = 0;
    virtual bool CloseDevice(DeviceHandle device) = 0;

    // --- users and profiles
    // Finds the first process, in the system's order, whose image name is
    // imageName (case ignored) and opens its user's access token, closed
    // with CloseObject. sessionId is written only when it is known; token
    // only when the token could be opened.
    virtual ProcessTokenStatus OpenProcessTokenByImage(const std::string& imageName, Handle* token,
                                                       uint32_t* sessionId) = 0;
    // The token's user as SID text ("S-1-5-21-...").
    virtual TokenSidStatus TokenUserSid(Handle token, std::string* sidText) = 0;
    // The names of the keys under HKEY_USERS, in enumeration order, at most
    // kMaxUserKeys. False when HKEY_USERS cannot be opened.
    virtual bool UserKeyNames(std::vector<std::string>* names) = 0;
    // Makes the calling thread act as the token's user until
    // RevertImpersonation.
    virtual bool ImpersonateToken(Handle token) = 0;
    virtual void RevertImpersonation() = 0;
    // The name of the user the thread acts as (the token's user while
    // impersonating), at most 255 bytes.
    virtual bool ImpersonatedUserName(Handle token, std::string* name) = 0;
    // Expands %name% variables in the token user's environment; the result
    // holds at most 259 bytes.
    virtual bool ExpandForUser(Handle token, const std::string& text, std::string* out) = 0;
    // Expands %name% variables in this process's environment; unknown ones stay.
    virtual bool ExpandEnvironment(const std::string& text, std::string* out) = 0;
    // The entries of a directory ("." and ".." as the system gives them), at
    // most cap. False when it is no directory or cannot be read.
    virtual bool ListDirectory(const std::string& dir, size_t cap, std::vector<DirEntry>* entries) = 0;
    // Reads a file from its start while others are kept from writing it; a
    // file longer than cap is cut at cap bytes.
    virtual bool ReadWholeFile(const std::string& path, size_t cap, std::string* text) = 0;
    // Unloads a module handle (FreeLibrary).
    virtual bool UnloadModule(Handle module) = 0;

    // --- registry
    // The ADVAPI32 calls, each answering a Windows error code. parent is a
    // predefined root or a key opened here; access may carry the view flag
    // (0x100 the 64-bit view, 0x200 the 32-bit view).
    virtual uint32_t OpenRegistryKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) = 0;
    // Opens the key, creating it and its missing parents.
    virtual uint32_t CreateRegistryKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) = 0;
    // RegQueryValueExA: *size is the buffer size in, the value's size out;
    // kErrorMoreData when data is too small (nothing is copied then); a
    // null data only asks for the size. type may be null.
    virtual uint32_t QueryRegistryValue(HKEY key, const std::string& name, uint32_t* type, uint8_t* data,
                                        uint32_t* size) = 0;
    virtual uint32_t SetRegistryValue(HKEY key, const std::string& name, uint32_t type, const uint8_t* data,
                                      uint32_t size) = 0;
    virtual uint32_t DeleteRegistryValue(HKEY key, const std::string& name) = 0;
    // Deletes a key without subkeys; viewFlag is 0x100 or 0x200.
    virtual uint32_t DeleteRegistryKey(HKEY parent, const std::string& subkey, uint32_t viewFlag) = 0;
    // The day the key was last written, in the local time zone.
    virtual uint32_t RegistryKeyWriteDate(HKEY key, LocalDate* date) = 0;
    virtual uint32_t CloseRegistryKey(HKEY key) = 0;

    // --- utility library: files, system information, adapters
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
    virtual std::wstring ReadProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                                            const std::wstring& path, uint32_t size) = 0;
    virtual SystemFacts SystemInfoFacts() = 0;
    // GetModuleFileNameA (260 bytes) of a module handle, null for the executable.
    virtual bool ModuleFileName(Handle module, std::string* path) = 0;
    // Whether this process runs with the rights of the system's administrators.
    virtual bool ProcessIsAdministrator() = 0;
    // The account name of a SID given as text, in the system's language.
    virtual bool AccountNameOfSid(const std::string& sidText, std::string* name) = 0;
    virtual FirmwareFacts Firmware() = 0;
    // The characteristics number of an adapter (NCF_VIRTUAL 0x1 ...); false
    // for an adapter the system does not know.
    virtual bool AdapterCharacteristics(const std::string& adapter, uint32_t* characteristics) = 0;
    // The adapters, at most kMaxInterfaces; false when they cannot be listed.
    virtual bool NetworkInterfaces(std::vector<InterfaceFacts>* out) = 0;
};

// Forwards every call to another Os, so a test overrides only what it needs.
class OsWrapper : public Os {
public:
    explicit OsWrapper(Os* target) : target_(target) {}
    Os* target() const { return target_; }

    std::string ComputerDnsName() override { return target_->ComputerDnsName(); }
    bool ComputerNetbiosName(std::string* name) override { return target_->ComputerNetbiosName(name); }
    void DebugOutput(const char* text) override { target_->DebugOutput(text); }
    std::string ExecutablePath() override { return target_->ExecutablePath(); }
    char PathSeparator() override { return target_->PathSeparator(); }
    bool FileExists(const std::string& path) override { return target_->FileExists(path); }
    bool ReadFileText(const std::string& path, size_t cap, std::string* text) override {
        return target_->ReadFileText(path, cap, text);
    }
    std::string ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                  const std::string& path, uint32_t size) override {
        return target_->ReadProfileString(section, key, defaultValue, path, size);
    }
    OsVersionFacts VersionFacts() override { return target_->VersionFacts(); }
    Handle CreateEventObject(const char* name, bool manualReset, bool initialState) override {
        return target_->CreateEventObject(name, manualReset, initialState);
    }
    bool SetEventObject(Handle event) override { return target_->SetEventObject(event); }
    bool ResetEventObject(Handle event) override { return target_->ResetEventObject(event); }
    Handle CreateMutexObject(bool initiallyOwned) override { return target_->CreateMutexObject(initiallyOwned); }
    bool ReleaseMutexObject(Handle mutex) override { return target_->ReleaseMutexObject(mutex); }
    uint32_t WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) override {
        return target_->WaitForObjects(handles, count, timeoutMs);
    }
    bool CloseObject(Handle object) override { return target_->CloseObject(object); }
    Handle StartThread(ThreadFunction fn, void* arg) override { return target_->StartThread(fn, arg); }
    void SleepMs(uint32_t ms) override { target_->SleepMs(ms); }
    bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) override {
        return target_->ResolveHostIPv4(host, addrs);
    }
    uint32_t GetAdapters(std::vector<AdapterInfo>* out) override { return target_->GetAdapters(out); }
    bool NotifyRouteChange(Handle event) override { return target_->NotifyRouteChange(event); }
    void CancelRouteChange(Handle event) override { target_->CancelRouteChange(event); }
    std::unique_ptr<TimerHost> CreateTimerHost() override { return target_->CreateTimerHost(); }

    // --- probe
    uint64_t NetworkTimeoutUs(uint64_t us) override { return target_->NetworkTimeoutUs(us); }
    uint64_t MonotonicMs() override { return target_->MonotonicMs(); }

    // --- route tracer
    uint32_t TempDirectory(uint32_t bufferSize, std::string* path) override {
        return target_->TempDirectory(bufferSize, path);
    }
    uint32_t UnixTime32() override { return target_->UnixTime32(); }
    bool StartHiddenCommand(const std::string& commandLine) override {
        return target_->StartHiddenCommand(commandLine);
    }
    bool FileSize(const std::string& path, uint64_t* size) override { return target_->FileSize(path, size); }
    bool ReadTextFile(const std::string& path, size_t maxBytes, std::string* text) override {
        return target_->ReadTextFile(path, maxBytes, text);
    }
    bool RemoveFile(const std::string& path) override { return target_->RemoveFile(path); }

    // --- reaction (local time, filter device)
    bool LocalTime(int64_t unixTime, std::tm* out) override { return target_->LocalTime(unixTime, out); }
    DeviceHandle OpenDevice(const std::string& path, uint32_t disposition) override {
        return target_->OpenDevice(path, disposition);
    }
    int32_t DeviceControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputLength,
                          uint32_t* returned) override {
        return target_->DeviceControl(device, code, input, inputLength, returned);
    }
    bool CloseDevice(DeviceHandle device) override { return target_->CloseDevice(device); }

    // --- users and profiles
    ProcessTokenStatus OpenProcessTokenByImage(const std::string& imageName, Handle* token,
                                               uint32_t* sessionId) override {
        return target_->OpenProcessTokenByImage(imageName, token, sessionId);
    }
    TokenSidStatus TokenUserSid(Handle token, std::string* sidText) override {
        return target_->TokenUserSid(token, sidText);
    }
    bool UserKeyNames(std::vector<std::string>* names) override { return target_->UserKeyNames(names); }
    bool ImpersonateToken(Handle token) override { return target_->ImpersonateToken(token); }
    void RevertImpersonation() override { target_->RevertImpersonation(); }
    bool ImpersonatedUserName(Handle token, std::string* name) override {
        return target_->ImpersonatedUserName(token, name);
    }
    bool ExpandForUser(Handle token, const std::string& text, std::string* out) override {
        return target_->ExpandForUser(token, text, out);
    }
    bool ExpandEnvironment(const std::string& text, std::string* out) override {
        return target_->ExpandEnvironment(text, out);
    }
    bool ListDirectory(const std::string& dir, size_t cap, std::vector<DirEntry>* entries) override {
        return target_->ListDirectory(dir, cap, entries);
    }
    bool ReadWholeFile(const std::string& path, size_t cap, std::string* text) override {
        return target_->ReadWholeFile(path, cap, text);
    }
    bool UnloadModule(Handle module) override { return target_->UnloadModule(module); }

    // --- registry
    uint32_t OpenRegistryKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override {
        return target_->OpenRegistryKey(parent, subkey, access, key);
    }
    uint32_t CreateRegistryKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override {
        return target_->CreateRegistryKey(parent, subkey, access, key);
    }
    uint32_t QueryRegistryValue(HKEY key, const std::string& name, uint32_t* type, uint8_t* data,
                                uint32_t* size) override {
        return target_->QueryRegistryValue(key, name, type, data, size);
    }
    uint32_t SetRegistryValue(HKEY key, const std::string& name, uint32_t type, const uint8_t* data,
                              uint32_t size) override {
        return target_->SetRegistryValue(key, name, type, data, size);
    }
    uint32_t DeleteRegistryValue(HKEY key, const std::string& name) override {
        return target_->DeleteRegistryValue(key, name);
    }
    uint32_t DeleteRegistryKey(HKEY parent, const std::string& subkey, uint32_t viewFlag) override {
        return target_->DeleteRegistryKey(parent, subkey, viewFlag);
    }
    uint32_t RegistryKeyWriteDate(HKEY key, LocalDate* date) override { return target_->RegistryKeyWriteDate(key, date); }
    uint32_t CloseRegistryKey(HKEY key) override { return target_->CloseRegistryKey(key); }

    // --- utility library: files, system information, adapters
    bool FileAttributes(const std::string& path, FileFacts* facts) override {
        return target_->FileAttributes(path, facts);
    }
    bool FileAccessTime(const std::string& path, CalendarTime* local) override {
        return target_->FileAccessTime(path, local);
    }
    bool FileVersionItem(const std::string& path, const std::string& item, std::string* value) override {
        return target_->FileVersionItem(path, item, value);
    }
    bool FileExistsW(const std::wstring& path) override { return target_->FileExistsW(path); }
    std::wstring ReadProfileStringW(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue,
                                    const std::wstring& path, uint32_t size) override {
        return target_->ReadProfileStringW(section, key, defaultValue, path, size);
    }
    SystemFacts SystemInfoFacts() override { return target_->SystemInfoFacts(); }
    bool ModuleFileName(Handle module, std::string* path) override { return target_->ModuleFileName(module, path); }
    bool ProcessIsAdministrator() override { return target_->ProcessIsAdministrator(); }
    bool AccountNameOfSid(const std::string& sidText, std::string* name) override {
        return target_->AccountNameOfSid(sidText, name);
    }
    FirmwareFacts Firmware() override { return target_->Firmware(); }
    bool AdapterCharacteristics(const std::string& adapter, uint32_t* characteristics) override {
        return target_->AdapterCharacteristics(adapter, characteristics);
    }
    bool NetworkInterfaces(std::vector<InterfaceFacts>* out) override { return target_->NetworkInterfaces(out); }

private:
    Os* target_;
};

// The Os the plug-in uses. Os::Default() unless a test replaced it (before
// CreateObject; the factory takes no options).
Os* CurrentOs();
// Replaces the process-wide Os; null restores the default. Returns the previous one.
Os* SetOsForTesting(Os* os);
// Frees the default Os when the library is unloaded with no policy left.
void ReleaseDefaultOs();
// Made by the backend of this build; Os::Default() keeps the one instance.
Os* NewDefaultOs();

}  // namespace outlinkwatch
