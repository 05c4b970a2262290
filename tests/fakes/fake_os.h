// An Os for tests: kernel objects are real (emulated) but their time-outs
// and sleeps run 1000 times faster, timers run on a virtual clock that the
// test advances, and names, adapters and route changes are set by the test.
// Files are the real file system, so tests write what they need to a
// temporary directory and point the executable's path there.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_registry.h"
#include "emulation/kobjects.h"
#include "platform/os.h"
#include "emulation/pe_version.h"
#include "emulation/wide_text.h"

namespace outlinkwatch {

class FakeTimerHost;
class FakeOs;

// The emulated kernel objects with their time-outs and sleeps 1000 times
// faster; each wait is counted for FakeOs::WaitForWaits.
class FakeKernel : public EmulatedKernelObjects {
public:
    explicit FakeKernel(FakeOs* os) : EmulatedKernelObjects(1000), os_(os) {}
    uint32_t WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) override;
    // A close of no open handle (null, invalid, closed twice) is a fault of the caller.
    bool CloseObject(Handle h) override { return EmulatedKernelObjects::CloseObject(h) || (++badCloses, false); }
    std::atomic<int> badCloses{0};

private:
    FakeOs* os_;
};

// The fake is every service but the kernel objects itself, so that a test
// sets what the services answer on the fake.
class FakeOs : public SelfServedOs, public RegistryService {
public:
    KernelObjects* Kernel() override { return &objects_; }
    RegistryService* Registry() override { return this; }

    // --- what the test sets before the policy starts (read under mu_ later)
    std::string exePath = "/nonexistent/outlinkwatch";
    // A name resolves to these dotted addresses; an empty list makes it fail.
    std::map<std::string, std::vector<std::string>> resolutions;
    std::function<void(const std::string& host)> resolveHook;  // called before each resolution
    std::vector<AdapterInfo> adapters{AdapterInfo{"eth0", {"192.0.2.10"}}};
    std::vector<AdapterInfo> growBy;  // added to the list right after the next query answers
    uint32_t adapterError = 0;        // the adapter list fails with this code (0 = normal behaviour)
    bool routeNotifyArms = true;      // whether NotifyRouteChange arms a request
    std::atomic<bool> timerArmsFail{false};  // every timer host's Arm fails while set
    uint32_t networkTimeScale = 1000; // network time-outs are divided by this, like the waits

    // Sets the event of every pending route-change request (each request once).
    // Returns how many were pending.
    int FireRouteChange();
    int PendingRouteRequests() { return Locked([&] { return static_cast<int>(routeRequests_.size()); }); }

    // Runs the virtual clock forward, delivering every timer tick due on the way.
    void AdvanceTime(uint32_t ms);
    // Whether a timer with this id is armed on any timer host.
    bool TimerArmed(uint32_t id) { return WaitForArmed(id, std::chrono::milliseconds(0)); }
    bool WaitForArmed(uint32_t id, std::chrono::milliseconds bound = std::chrono::seconds(10));

    // Waits until WaitForObjects has been entered count times with this many
    // handles (the route thread waits on 4, the proxy thread on 3).
    bool WaitForWaits(uint32_t handles, int count, std::chrono::milliseconds bound = std::chrono::seconds(20));

    std::vector<std::string> DebugLines() { return Locked([&] { return debugLines_; }); }

    // --- the services
    bool ComputerDnsName(std::string* name) override { return *name = "fakehost.example.test", true; }
    bool ComputerNetbiosName(std::string* name) override { return *name = "FAKEHOST", true; }
    void DebugOutput(const char* text) override;
    char PathSeparator() override { return '/'; }
    bool FileExists(const FileText& path) override;
    bool ReadFileBytes(const std::string& path, size_t cap, std::string* bytes) override;
    bool ReadProfileString(const FileText& section, const FileText& key, const FileText& defaultValue,
                           const FileText& path, uint32_t size, FileText* value) override {
        return Utf8ProfileString(this, section, key, defaultValue, path, size, value);
    }
    OsVersionFacts VersionFacts() override { return versionFacts; }
    void SleepMs(uint32_t ms) override;
    bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) override;
    bool Adapters(AdapterDetail detail, std::vector<AdapterInfo>* out, uint32_t* error) override;
    bool NotifyRouteChange(Handle event) override;
    void CancelRouteChange(Handle event) override;
    std::unique_ptr<TimerHost> CreateTimerHost() override;

    std::atomic<int> networkTimeouts{0};  // asked for: one a probe, three on port 80
    // Called with each time-out asked for, before it is shortened: a test
    // may let the clock pass as the full time-out would.
    std::function<void(uint64_t us)> networkTimeoutHook;
    uint64_t NetworkTimeoutUs(uint64_t us) override {
        ++networkTimeouts;
        if (networkTimeoutHook) networkTimeoutHook(us);
        return us / (networkTimeScale == 0 ? 1 : networkTimeScale);
    }
    uint64_t MonotonicMs() override { return Locked([&] { return nowMs_; }); }  // the timers' clock

    // --- route tracer
    // The temporary directory it reports (empty: the query fails). The
    // scripted command runner: a started command writes commandOutput (none:
    // no file at all) to the file its line redirects to ('>"path"'), at once
    // or during the commandDelay-th SleepMs from then on. sleepHook is called
    // at every SleepMs with its milliseconds, before the output due then is written.
    std::string tempDir;
    std::optional<std::string> commandOutput;
    int commandDelay = 0;
    std::function<void(uint32_t ms)> sleepHook;
    std::vector<std::string> CommandLines() { return Locked([&] { return commandLines_; }); }

    bool TempDirectory(uint32_t bufferSize, std::string* path) override;
    uint32_t UnixTime32() override { return 1700000000; }
    bool StartHiddenCommand(const std::string& commandLine) override;
    // An ended command writes nothing more.
    void EndHiddenCommands() override { Locked([&] { return pendingSleeps_ = 0, ++endedCommands_; }); }
    int EndedCommands() { return Locked([&] { return endedCommands_; }); }
    bool FileSize(const std::string& path, uint64_t* size) override;
    bool RemoveFile(const std::string& path) override { return std::remove(path.c_str()) == 0; }

private:
    void WriteDueOutput();  // mu_ not held
    template <typename F>
    auto Locked(F read) -> decltype(read()) {
        std::lock_guard<std::mutex> lock(mu_);
        return read();
    }

    std::vector<std::string> commandLines_;
    std::string pendingPath_;
    int pendingSleeps_ = 0;  // the sleeps until the output is due, 0 when none is
    int endedCommands_ = 0;  // EndHiddenCommands calls

public:
    // --- reaction (local time, filter device)
    // Local time is UTC. The device: whether it opens (its control calls
    // then succeed), every control call made on it, the open attempts and
    // the devices opened and not closed yet.
    struct DeviceCall {
        std::string path;  // of the open the call went through
        uint32_t disposition = 0, code = 0;
        std::vector<uint8_t> input;
    };
    bool devicePresent = false;
    std::vector<DeviceCall> DeviceCalls() { return Locked([&] { return deviceCalls_; }); }
    int DeviceOpenAttempts() { return Locked([&] { return deviceOpenAttempts_; }); }
    int OpenDevices() { return Locked([&] { return static_cast<int>(openDevices_.size()); }); }
    bool LocalTime(int64_t unixTime, std::tm* out) override;
    bool OpenDevice(const std::string& path, uint32_t disposition, DeviceHandle* device) override;
    bool DeviceControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputLength,
                       uint32_t* returned) override;
    bool CloseDevice(DeviceHandle device) override;

    // --- users and profiles (set by the test before the look-ups run)
    // A process's user; an empty sid or name makes that look-up fail.
    // profileDir is %USERPROFILE% and %APPDATA%; files are the real ones.
    struct FakeProcess {
        std::string image;  // found in list order, case ignored
        std::string sid, name, profileDir;
        uint32_t sessionId = 1;
    };
    std::vector<FakeProcess> processes;
    bool processListFails = false;
    bool userKeysOk = true;  // whether HKEY_USERS opens
    std::vector<std::string> userKeys;
    size_t OpenTokens() { return objects_.HandleCount(true); }
    size_t OpenHandles() { return objects_.HandleCount(false); }
    int BadCloses() { return objects_.badCloses.load(); }
    int impersonations = 0;  // begun and not yet ended

    UserStatus OpenProcessTokenByImage(const std::string& imageName, Handle* token, uint32_t* session) override;
    UserStatus TokenUserSid(Handle token, std::string* sidText) override {
        return ProcessText(token, &FakeProcess::sid, sidText) ? UserStatus::kOk : UserStatus::kFailed;
    }
    bool UserKeyNames(std::vector<std::string>* names) override { return *names = userKeys, userKeysOk; }
    bool ImpersonateToken(Handle token) override { return ProcessOf(token) != nullptr && ++impersonations > 0; }
    void RevertImpersonation() override { --impersonations; }
    bool ImpersonatedUserName(Handle token, std::string* name) override {
        return ProcessText(token, &FakeProcess::name, name);
    }
    bool ExpandForUser(Handle token, const std::string& text, std::string* out) override;
    bool ExpandEnvironment(const std::string& text, std::string* out) override { return *out = text, true; }
    UserFileRead ReadUserFile(const std::string& ownerSid, const std::string& path,
                              const std::function<bool(std::string_view)>& piece) override;
    bool ListUserDirectory(const std::string& ownerSid, const std::string& dir, size_t cap,
                           std::vector<DirEntry>* entries) override;
    bool UnloadModule(Handle module) override { return unloadedModules.push_back(module), module != nullptr; }
    std::vector<Handle> unloadedModules;
    // Only the executable has a path.
    bool ModuleFileName(Handle module, std::string* path) override {
        return module == nullptr && (*path = Locked([&] { return exePath; }), true);
    }
    bool ProcessIsAdministrator() override { return false; }

private:
    friend class FakeTimerHost;
    friend class FakeKernel;
    void Register(FakeTimerHost* host);
    void Unregister(FakeTimerHost* host);

    FakeKernel objects_{this};
    std::mutex mu_;
    std::vector<Handle> routeRequests_;
    std::vector<std::string> debugLines_;
    uint64_t nowMs_ = 0;
    std::vector<FakeTimerHost*> timerHosts_;
    std::mutex advanceMu_;
    std::condition_variable waitsCv_;
    std::map<uint32_t, int> waitsEntered_;  // one AdvanceTime at a time

    // --- reaction (local time, filter device)
    int deviceOpenAttempts_ = 0;
    std::vector<DeviceCall> deviceCalls_;
    std::map<std::uintptr_t, DeviceCall> openDevices_;
    std::uintptr_t nextDevice_ = 1;

    // --- users and profiles
    const FakeProcess* ProcessOf(Handle token);
    // The token's process's field; false without the process or when empty.
    bool ProcessText(Handle token, std::string FakeProcess::*field, std::string* out);

public:
    // --- registry: an in-memory registry, or another the test hands over;
    // every call is recorded, and a call ("open", "create", "query", "set",
    // "deletevalue", "deletekey", "date") can be made to answer an error.
    struct RegistryCall {
        std::string op;
        uint32_t access;  // open, create; the view flag for deletekey
    };
    MemoryRegistry& registry() { return registry_; }
    void UseRegistry(TreeRegistry* other) { backend_ = other != nullptr ? other : &registry_; }
    std::vector<RegistryCall> RegistryCalls() { return Locked([&] { return registryCalls_; }); }
    void FailRegistryCall(const std::string& op, uint32_t code) {
        Locked([&] { return registryFailures_[op] = code; });
    }

    uint32_t OpenKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override {
        return Registry("open", access, [&] { return backend_->OpenKey(parent, subkey, access, key); });
    }
    uint32_t CreateKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override {
        return Registry("create", access, [&] { return backend_->CreateKey(parent, subkey, access, key); });
    }
    uint32_t QueryValue(HKEY key, const std::string& name, uint32_t* type, uint8_t* data,
                                uint32_t* size) override {
        return Registry("query", 0, [&] { return backend_->QueryValue(key, name, type, data, size); });
    }
    uint32_t SetValue(HKEY key, const std::string& name, uint32_t type, const uint8_t* data,
                              uint32_t size) override {
        return Registry("set", 0, [&] { return backend_->SetValue(key, name, type, data, size); });
    }
    uint32_t DeleteValue(HKEY key, const std::string& name) override {
        return Registry("deletevalue", 0, [&] { return backend_->DeleteValue(key, name); });
    }
    uint32_t DeleteKey(HKEY parent, const std::string& subkey, uint32_t viewFlag) override {
        return Registry("deletekey", viewFlag, [&] { return backend_->DeleteKey(parent, subkey, viewFlag); });
    }
    uint32_t KeyWriteDate(HKEY key, LocalDate* date) override {
        return Registry("date", 0, [&] { return backend_->KeyWriteDate(key, date); });
    }
    uint32_t CloseKey(HKEY key) override { return backend_->CloseKey(key); }

private:
    // Records the call; answers op's injected failure, or else the call's own code.
    template <typename F>
    uint32_t Registry(const std::string& op, uint32_t access, F call) {
        const uint32_t rc = Locked([&] {
            registryCalls_.push_back({op, access});
            const auto it = registryFailures_.find(op);
            return it == registryFailures_.end() ? kErrorSuccess : it->second;
        });
        return rc != kErrorSuccess ? rc : call();
    }

    MemoryRegistry registry_;
    TreeRegistry* backend_ = &registry_;
    std::vector<RegistryCall> registryCalls_;
    std::map<std::string, uint32_t> registryFailures_;

public:
    // --- utility library: files, system information, adapters
    // Files are the real ones; read-only is the owner's write bit, as a
    // Windows attribute is a property of the file and not of the caller.
    // The rest is set by the test.
    SystemFacts systemFacts;
    OsVersionFacts versionFacts{true, true, 2, 10, 0, 10, 0, 0, 1};  // Windows 10, a workstation
    std::map<std::string, uint32_t> adapterCharacteristics;
    std::map<std::string, std::string> accountNames;  // SID text -> name

    bool FileAttributes(const std::string& path, FileFacts* facts) override;
    // Every file there is was last read on 2024-02-29 (a Thursday) at noon.
    bool FileAccessTime(const std::string& path, CalendarTime* local) override {
        return FileExists(path) && (*local = CalendarTime{2024, 2, 4, 29, 12, 0, 0, 0}, true);
    }
    bool FileVersionItem(const std::string& path, const std::string& item, std::string* value) override {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) return false;
        std::ifstream in(path, std::ios::binary);
        const std::string image((std::istreambuf_iterator<char>(in)), {});
        return PeVersionItem([&](uint64_t at, size_t n, std::string* out) {
            return at <= image.size() && n <= image.size() - at && (*out = image.substr(at, n), true);
        }, item, value);
    }
    SystemFacts SystemInfoFacts() override { return systemFacts; }
    bool AccountNameOfSid(const std::string& sidText, std::string* name) override {
        return Find(accountNames, sidText, name);
    }
    FirmwareFacts Firmware() override { return {}; }
    bool AdapterCharacteristics(const std::string& adapter, uint32_t* characteristics) override {
        return Find(adapterCharacteristics, adapter, characteristics);
    }

private:
    template <typename V>
    static bool Find(const std::map<std::string, V>& map, const std::string& key, V* out) {
        const auto it = map.find(key);
        return it != map.end() && (*out = it->second, true);
    }
};

}  // namespace outlinkwatch
