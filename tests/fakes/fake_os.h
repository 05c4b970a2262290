// An Os for tests: kernel objects are real (emulated) but their time-outs
// and sleeps run 1000 times faster, timers run on a virtual clock that the
// test advances, and names, adapters and route changes are set by the test.
// Files are the real file system, so tests write what they need to a
// temporary directory and point ExecutablePath there.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/fake_registry.h"
#include "platform/kobjects.h"
#include "platform/os.h"

namespace outlinkwatch {

class FakeTimerHost;

class FakeOs : public Os {
public:
    FakeOs();
    ~FakeOs() override;

    // --- what the test sets
    void SetDnsName(const std::string& name);
    void SetNetbiosName(bool ok, const std::string& name);
    void SetExecutablePath(const std::string& path);
    // A name resolves to these addresses (dotted texts); an empty list makes it fail.
    void SetResolution(const std::string& host, const std::vector<std::string>& dotted);
    void SetAdapters(const std::vector<AdapterInfo>& adapters);
    // The list grows by this adapter right after the next query answers.
    void GrowAdaptersAfterNextQuery(const AdapterInfo& extra);
    // Forces GetAdapters to answer this code (0 = normal behaviour).
    void SetAdapterError(uint32_t code);
    // Whether NotifyRouteChange arms a request.
    void SetRouteNotifyArms(bool arms);

    // Sets the event of every pending route-change request (each request once).
    // Returns how many were pending.
    int FireRouteChange();
    int PendingRouteRequests();

    // Runs the virtual clock forward, delivering every timer tick due on the way.
    void AdvanceTime(uint32_t ms);
    // Whether a timer with this id is armed on any timer host.
    bool TimerArmed(uint32_t id);

    // Waits until WaitForObjects has been entered count times with this many
    // handles (the route thread waits on 3, the proxy thread on 2).
    bool WaitForWaits(uint32_t handles, int count, std::chrono::milliseconds bound = std::chrono::seconds(20));

    std::vector<std::string> DebugLines();

    // --- Os
    std::string ComputerDnsName() override;
    bool ComputerNetbiosName(std::string* name) override;
    void DebugOutput(const char* text) override;
    std::string ExecutablePath() override;
    char PathSeparator() override { return '/'; }
    bool FileExists(const std::string& path) override;
    bool ReadFileText(const std::string& path, size_t cap, std::string* text) override;
    std::string ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                  const std::string& path, uint32_t size) override;
    OsVersionFacts VersionFacts() override;
    Handle CreateEventObject(const char* name, bool manualReset, bool initialState) override;
    bool SetEventObject(Handle event) override;
    bool ResetEventObject(Handle event) override;
    Handle CreateMutexObject(bool initiallyOwned) override;
    bool ReleaseMutexObject(Handle mutex) override;
    uint32_t WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) override;
    bool CloseObject(Handle object) override;
    Handle StartThread(ThreadFunction fn, void* arg) override;
    void SleepMs(uint32_t ms) override;
    bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) override;
    uint32_t GetAdapters(std::vector<AdapterInfo>* out) override;
    bool NotifyRouteChange(Handle event) override;
    void CancelRouteChange(Handle event) override;
    std::unique_ptr<TimerHost> CreateTimerHost() override;

private:
    friend class FakeTimerHost;
    void Register(FakeTimerHost* host);
    void Unregister(FakeTimerHost* host);

    KernelObjects objects_{1000};
    std::mutex mu_;
    std::string dnsName_ = "fakehost.example.test";
    bool netbiosOk_ = true;
    std::string netbiosName_ = "FAKEHOST";
    std::string exePath_ = "/nonexistent/outlinkwatch";
    OsVersionFacts facts_;
    std::map<std::string, std::vector<uint32_t>> names_;
    std::vector<AdapterInfo> adapters_;
    std::vector<AdapterInfo> growBy_;
    uint32_t adapterError_ = 0;
    bool routeNotifyArms_ = true;
    std::vector<Handle> routeRequests_;
    std::vector<std::string> debugLines_;
    uint64_t nowMs_ = 0;
    std::vector<FakeTimerHost*> timerHosts_;
    std::mutex advanceMu_;
    std::condition_variable waitsCv_;
    std::map<uint32_t, int> waitsEntered_;  // one AdvanceTime at a time

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
    std::vector<RegistryCall> RegistryCalls();
    void FailRegistryCall(const std::string& op, uint32_t code);

    uint32_t OpenRegistryKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override;
    uint32_t CreateRegistryKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override;
    uint32_t QueryRegistryValue(HKEY key, const std::string& name, uint32_t* type, uint8_t* data,
                                uint32_t* size) override;
    uint32_t SetRegistryValue(HKEY key, const std::string& name, uint32_t type, const uint8_t* data,
                              uint32_t size) override;
    uint32_t DeleteRegistryValue(HKEY key, const std::string& name) override;
    uint32_t DeleteRegistryKey(HKEY parent, const std::string& subkey, uint32_t viewFlag) override;
    uint32_t RegistryKeyWriteDate(HKEY key, LocalDate* date) override;
    uint32_t CloseRegistryKey(HKEY key) override;

private:
    // The injected failure of op, or 0 (the call is recorded either way).
    uint32_t RegistryFailure(const std::string& op, uint32_t access = 0);

    MemoryRegistry registry_;
    TreeRegistry* backend_ = &registry_;
    std::mutex registryMu_;
    std::vector<RegistryCall> registryCalls_;
    std::map<std::string, uint32_t> registryFailures_;
};

}  // namespace outlinkwatch
