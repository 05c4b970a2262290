#include "fakes/fake_os.h"
#include "base/text.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "base/address_text.h"
#include "emulation/expand_vars.h"
#include "emulation/trace_files.h"

namespace outlinkwatch {

class FakeTimerHost : public TimerHost {
public:
    explicit FakeTimerHost(FakeOs* os) : os_(os) {
        os_->Locked([&] { return os_->timerHosts_.push_back(this); });
    }
    ~FakeTimerHost() override { Stop(0); }

    bool Start(TimerSink* sink) override {
        std::lock_guard<std::mutex> lock(os_->mu_);
        if (started_ || stopped_) return false;
        sink_ = sink;
        started_ = true;
        return true;
    }
    bool Arm(uint32_t id, uint32_t elapseMs) override {
        std::lock_guard<std::mutex> lock(os_->mu_);
        if (!started_ || stopped_ || os_->timerArmsFail.load()) return false;
        const uint64_t period = elapseMs == 0 ? 1 : elapseMs;
        timers_[id] = Timer{os_->nowMs_ + period, period};
        os_->waitsCv_.notify_all();
        return true;
    }
    void Disarm(uint32_t id) override {
        std::lock_guard<std::mutex> lock(os_->mu_);
        timers_.erase(id);
    }
    void Stop(uint32_t) override {
        {
            std::lock_guard<std::mutex> lock(os_->mu_);
            if (stopped_) return;
            stopped_ = true;
            timers_.clear();
        }
        // Waits for a tick being delivered by AdvanceTime to finish.
        std::lock_guard<std::mutex> wait(os_->advanceMu_);
        std::vector<FakeTimerHost*>& hosts = os_->timerHosts_;
        os_->Locked([&] { return hosts.erase(std::remove(hosts.begin(), hosts.end(), this), hosts.end()); });
    }

    struct Timer {
        uint64_t due;
        uint64_t period;
    };
    FakeOs* os_;
    TimerSink* sink_ = nullptr;
    bool started_ = false;
    bool stopped_ = false;
    std::map<uint32_t, Timer> timers_;
};

int FakeOs::FireRouteChange() {
    std::vector<Handle> pending;
    {
        std::lock_guard<std::mutex> lock(mu_);
        pending.swap(routeRequests_);
    }
    for (Handle h : pending) objects_.SetEventObject(h);
    return static_cast<int>(pending.size());
}

void FakeOs::AdvanceTime(uint32_t ms) {
    std::lock_guard<std::mutex> serial(advanceMu_);
    uint64_t target;
    {
        std::lock_guard<std::mutex> lock(mu_);
        target = nowMs_ + ms;
    }
    for (;;) {
        FakeTimerHost* host = nullptr;
        uint32_t id = 0;
        TimerSink* sink = nullptr;
        {
            std::lock_guard<std::mutex> lock(mu_);
            uint64_t best = target + 1;
            for (FakeTimerHost* h : timerHosts_) {
                for (auto& kv : h->timers_) {
                    if (kv.second.due < best) {
                        best = kv.second.due;
                        host = h;
                        id = kv.first;
                    }
                }
            }
            if (host == nullptr) {
                nowMs_ = target;
                return;
            }
            nowMs_ = best;
            auto& t = host->timers_[id];
            t.due = nowMs_ + t.period;
            sink = host->sink_;
        }
        if (sink != nullptr) sink->OnTimer(id);
    }
}

bool FakeOs::WaitForArmed(uint32_t id, std::chrono::milliseconds bound) {
    const auto armed = [&](FakeTimerHost* h) { return h->timers_.count(id) != 0; };
    std::unique_lock<std::mutex> lock(mu_);
    return waitsCv_.wait_for(lock, bound, [&] { return std::any_of(timerHosts_.begin(), timerHosts_.end(), armed); });
}

bool FakeOs::WaitForWaits(uint32_t handles, int count, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mu_);
    return waitsCv_.wait_for(lock, bound, [&] { return waitsEntered_[handles] >= count; });
}

void FakeOs::DebugOutput(const char* text) {
    std::lock_guard<std::mutex> lock(mu_);
    debugLines_.push_back(text != nullptr ? text : "");
}

bool FakeOs::FileExists(const FileText& path) {
    struct stat st;
    return stat(Utf8Of(path).c_str(), &st) == 0;
}

bool FakeOs::ReadFileBytes(const std::string& path, size_t cap, std::string* text) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text->assign(cap, '\0');
    in.read(&(*text)[0], static_cast<std::streamsize>(cap));
    text->resize(static_cast<size_t>(in.gcount()));
    return true;
}

// The newest NT family, as the agent's own machines run.
uint32_t FakeKernel::WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) {
    {
        std::lock_guard<std::mutex> lock(os_->mu_);
        ++os_->waitsEntered_[count];
        os_->waitsCv_.notify_all();
    }
    return EmulatedKernelObjects::WaitForObjects(handles, count, timeoutMs);
}
void FakeOs::SleepMs(uint32_t ms) {
    if (sleepHook) sleepHook(ms);
    objects_.Sleep(ms);
    WriteDueOutput();
}

bool FakeOs::ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) {
    if (resolveHook) resolveHook(host);
    std::lock_guard<std::mutex> lock(mu_);
    addrs->clear();
    auto it = resolutions.find(host);
    if (it != resolutions.end()) {
        for (const std::string& d : it->second) addrs->push_back(InetAddr(d));
        return !addrs->empty();
    }
    // A dotted address resolves to itself; any other name fails.
    const uint32_t a = InetAddr(host);
    if (AddressText(a) != host) return false;
    *addrs = {a};
    return true;
}

bool FakeOs::Adapters(AdapterDetail, std::vector<AdapterInfo>* out, uint32_t* error) {
    std::lock_guard<std::mutex> lock(mu_);
    if (adapterError != 0) return *error = adapterError, false;
    *out = adapters;
    adapters.insert(adapters.end(), growBy.begin(), growBy.end());
    growBy.clear();
    return true;
}

bool FakeOs::NotifyRouteChange(Handle event) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!routeNotifyArms) return false;
    if (std::find(routeRequests_.begin(), routeRequests_.end(), event) == routeRequests_.end()) {
        routeRequests_.push_back(event);
    }
    return true;
}

void FakeOs::CancelRouteChange(Handle event) {
    std::lock_guard<std::mutex> lock(mu_);
    routeRequests_.erase(std::remove(routeRequests_.begin(), routeRequests_.end(), event), routeRequests_.end());
}

std::unique_ptr<TimerHost> FakeOs::CreateTimerHost() { return std::make_unique<FakeTimerHost>(this); }

// --- route tracer

bool FakeOs::TempDirectory(uint32_t bufferSize, std::string* path) {
    std::lock_guard<std::mutex> lock(mu_);
    return TempPathAnswer(tempDir, '/', bufferSize, path);
}

bool FakeOs::StartHiddenCommand(const std::string& commandLine) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        commandLines_.push_back(commandLine);
        const size_t open = commandLine.find(">\"");
        const size_t close = open == std::string::npos ? open : commandLine.find('"', open + 2);
        if (!commandOutput || close == std::string::npos) return true;
        pendingPath_ = commandLine.substr(open + 2, close - open - 2);
        pendingSleeps_ = std::max(commandDelay, 0) + 1;
    }
    WriteDueOutput();
    return true;
}

// Written under the lock, so that the output due at the start is there
// when StartHiddenCommand returns, whichever thread wrote it.
void FakeOs::WriteDueOutput() {
    std::lock_guard<std::mutex> lock(mu_);
    if (pendingSleeps_ > 0 && --pendingSleeps_ == 0) std::ofstream(pendingPath_, std::ios::binary) << *commandOutput;
}

bool FakeOs::FileSize(const std::string& path, uint64_t* size) {
    struct stat st;
    if (size == nullptr || stat(path.c_str(), &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

// --- reaction (local time, filter device)

bool FakeOs::LocalTime(int64_t unixTime, std::tm* out) {
    if (out == nullptr || unixTime < 0 || unixTime > kMaxLocalTime) return false;
    const time_t t = static_cast<time_t>(unixTime);
#ifdef _WIN32
    return gmtime_s(out, &t) == 0;
#else
    return gmtime_r(&t, out) != nullptr;
#endif
}

bool FakeOs::OpenDevice(const std::string& path, uint32_t disposition, DeviceHandle* device) {
    std::lock_guard<std::mutex> lock(mu_);
    ++deviceOpenAttempts_;
    if (!devicePresent) return false;
    const std::uintptr_t id = nextDevice_++;
    openDevices_[id] = DeviceCall{path, disposition, 0, {}};
    *device = DeviceHandle(id);
    return true;
}

bool FakeOs::DeviceControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputLength,
                              uint32_t* returned) {
    std::lock_guard<std::mutex> lock(mu_);
    if (returned != nullptr) *returned = 0;
    auto it = openDevices_.find(device.value());
    if (it == openDevices_.end()) return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(input);
    deviceCalls_.push_back(it->second);
    deviceCalls_.back().code = code;
    if (bytes != nullptr) deviceCalls_.back().input.assign(bytes, bytes + inputLength);
    return true;
}

bool FakeOs::CloseDevice(DeviceHandle device) {
    std::lock_guard<std::mutex> lock(mu_);
    return openDevices_.erase(device.value()) == 1;
}

// --- users and profiles

const FakeOs::FakeProcess* FakeOs::ProcessOf(Handle token) {
    uint32_t index = 0;
    return objects_.TokenIds(token, &index, nullptr) && index < processes.size() ? &processes[index] : nullptr;
}

UserStatus FakeOs::OpenProcessTokenByImage(const std::string& imageName, Handle* token, uint32_t* session) {
    if (processListFails) return UserStatus::kSnapshotFailed;
    for (size_t i = 0; i < processes.size(); ++i) {
        if (!EqualsIgnoreAsciiCase(processes[i].image, imageName)) continue;
        *session = processes[i].sessionId;
        *token = objects_.CreateToken(static_cast<uint32_t>(i), 0);
        return UserStatus::kOk;
    }
    return UserStatus::kNoProcess;
}

bool FakeOs::ProcessText(Handle token, std::string FakeProcess::*field, std::string* out) {
    const FakeProcess* p = ProcessOf(token);
    return p != nullptr && !(p->*field).empty() && (*out = p->*field, true);
}

bool FakeOs::ExpandForUser(Handle token, const std::string& text, std::string* out) {
    const FakeProcess* p = ProcessOf(token);
    auto lookup = [&](const std::string& var, std::string* value) {
        return (var == "USERPROFILE" || var == "APPDATA") && (*value = p->profileDir, true);
    };
    return p != nullptr && ExpandPercentVariables(text, kMaxWindowsPath - 1, lookup, out);
}

// The real file system, on every platform the tests run on. Every user of
// the fake is this process's user, so ownership is not looked at; a link or
// anything but a regular file (a directory) is refused as the backends do.
UserFileRead FakeOs::ReadUserFile(const std::string&, const std::string& path,
                                  const std::function<bool(std::string_view)>& piece) {
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::symlink_status(path, ec);
    if (!std::filesystem::exists(st)) return UserFileRead::kMissing;
    if (!std::filesystem::is_regular_file(st)) return UserFileRead::kRefused;
    std::ifstream in(path, std::ios::binary);
    if (!in) return UserFileRead::kFailed;
    std::string buf(kUserFilePieceBytes, '\0');
    while (in.read(&buf[0], static_cast<std::streamsize>(buf.size())) || in.gcount() > 0) {
        if (!piece(std::string_view(buf.data(), static_cast<size_t>(in.gcount())))) break;
    }
    return UserFileRead::kRead;
}

bool FakeOs::ListUserDirectory(const std::string&, const std::string& dir, size_t cap, std::vector<DirEntry>* entries) {
    std::error_code ec;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(dir, ec))) return false;
    std::filesystem::directory_iterator it(dir, ec);
    if (ec) return false;
    entries->clear();
    for (; it != std::filesystem::directory_iterator() && entries->size() < cap; it.increment(ec)) {
        if (ec) break;
        entries->push_back(DirEntry{it->path().filename().string(),
                                    std::filesystem::is_directory(it->symlink_status(ec))});
    }
    return true;
}

// --- utility library: files, system information, adapters

bool FakeOs::FileAttributes(const std::string& path, FileFacts* facts) {
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(st)) return false;
    facts->isDirectory = std::filesystem::is_directory(st);
    using std::filesystem::perms;
    const perms anyWrite = perms::owner_write | perms::group_write | perms::others_write;
    facts->readOnly = (st.permissions() & anyWrite) == perms::none;
    facts->size = std::filesystem::is_regular_file(st) ? std::filesystem::file_size(path, ec) : 0;
    return !ec;
}


}  // namespace outlinkwatch
