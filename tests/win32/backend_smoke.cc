// The Win32 behaviours the shared code relies on, checked on the system the
// backend was built for: Windows, or Wine (.ci/cross-build.sh). Linked with
// the backend sources only. Ends with "N passed, N failed"; exit status 0
// only when all passed. Every wait is bounded and on an event the code under
// test sets, so a fault shows as a failure, not a hang.
#include "platform/win32/win32_api.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ow = outlinkwatch;

namespace {

constexpr uint32_t kTickWaitMs = 5000;

int g_passed = 0, g_failed = 0;

void Check(bool ok, const std::string& what) {
    ++(ok ? g_passed : g_failed);
    if (!ok) std::printf("FAILED: %s\n", what.c_str());
}

uint32_t ReturnSeven(void*) { return 7; }

// What a wait on the mutex from another thread sees.
uint32_t MutexSeenFromOtherThread(ow::Os* os, ow::Handle mutex) {
    struct Probe { ow::Os* os; ow::Handle mutex; uint32_t result; } probe{os, mutex, ow::kWaitFailed};
    auto probeMutex = [](void* param) -> uint32_t {
        auto* p = static_cast<Probe*>(param);
        p->result = p->os->WaitForObjects(&p->mutex, 1, 0);
        if (p->result == ow::kWaitObject0) p->os->ReleaseMutexObject(p->mutex);
        return 0;
    };
    ow::Handle t = os->StartThread(probeMutex, &probe);
    bool ended = t != nullptr && os->WaitForObjects(&t, 1, kTickWaitMs) == ow::kWaitObject0;
    os->CloseObject(t);
    return ended ? probe.result : ow::kWaitFailed;
}

void KernelObjectCases(ow::Os* os) {
    const std::string name = "ow-smoke-event-" + std::to_string(GetCurrentProcessId());
    const std::vector<std::pair<const char*, std::function<bool()>>> cases = {
        {"auto-reset event is consumed by one wait", [&] {
            ow::Handle e = os->CreateEventObject(nullptr, false, true);
            bool ok = e != nullptr && os->WaitForObjects(&e, 1, 0) == ow::kWaitObject0 &&
                      os->WaitForObjects(&e, 1, 0) == ow::kWaitTimeout;
            return os->CloseObject(e) && ok;
        }},
        {"manual-reset event stays set until reset", [&] {
            ow::Handle e = os->CreateEventObject("", true, false);
            bool ok = e != nullptr && os->WaitForObjects(&e, 1, 0) == ow::kWaitTimeout && os->SetEventObject(e) &&
                      os->WaitForObjects(&e, 1, 0) == ow::kWaitObject0 &&
                      os->WaitForObjects(&e, 1, 0) == ow::kWaitObject0 && os->ResetEventObject(e) &&
                      os->WaitForObjects(&e, 1, 0) == ow::kWaitTimeout;
            return os->CloseObject(e) && ok;
        }},
        {"a second creation under a name opens the first", [&] {
            ow::Handle a = os->CreateEventObject(name.c_str(), false, false);
            ow::Handle b = os->CreateEventObject(name.c_str(), false, false);
            bool ok = a != nullptr && b != nullptr && a != b && os->SetEventObject(b) &&
                      os->WaitForObjects(&a, 1, 0) == ow::kWaitObject0;
            os->CloseObject(b);
            return os->CloseObject(a) && ok;
        }},
        {"wait-any answers the lowest signalled index", [&] {
            ow::Handle hs[3];
            for (int i = 0; i < 3; ++i) hs[i] = os->CreateEventObject(nullptr, true, i == 2);
            bool ok = os->WaitForObjects(hs, 3, 0) == ow::kWaitObject0 + 2 && os->SetEventObject(hs[1]) &&
                      os->WaitForObjects(hs, 3, 0) == ow::kWaitObject0 + 1;
            for (ow::Handle h : hs) os->CloseObject(h);
            return ok;
        }},
        {"owned mutex keeps other threads out until released", [&] {
            ow::Handle m = os->CreateMutexObject(true);
            bool ok = m != nullptr && MutexSeenFromOtherThread(os, m) == ow::kWaitTimeout &&
                      os->ReleaseMutexObject(m) && MutexSeenFromOtherThread(os, m) == ow::kWaitObject0;
            return os->CloseObject(m) && ok;
        }},
        {"thread handle signals at the thread's end, exit code is its result", [&] {
            ow::Handle t = os->StartThread(ReturnSeven, nullptr);
            DWORD code = 0;
            bool ok = t != nullptr && os->WaitForObjects(&t, 1, kTickWaitMs) == ow::kWaitObject0 &&
                      GetExitCodeThread(t, &code) && code == 7;
            return os->CloseObject(t) && ok;
        }},
    };
    for (const auto& c : cases) Check(c.second(), std::string("kernel objects: ") + c.first);
}

void IniCases(ow::Os* os) {
    char dir[MAX_PATH + 1], path[MAX_PATH] = {};
    Check(GetTempPathA(sizeof dir, dir) != 0 && GetTempFileNameA(dir, "ows", 0, path) != 0, "ini: temporary file");
    std::ofstream(path, std::ios::binary) << "[Main]\r\nProxy=10.0.0.1:8080\r\n[Other]\r\nRoute=1\r\n";
    struct IniCase { const char *section, *key, *def; uint32_t size; const char* want; };
    const IniCase ini[] = {
        {"Main", "Proxy", "none", 64, "10.0.0.1:8080"},
        {"Main", "Missing", "fallback", 64, "fallback"},
        {"Other", "Proxy", "", 64, ""},
        {"Main", "Proxy", "", 5, "10.0"},  // cut to the buffer, still terminated
    };
    for (const IniCase& c : ini) {
        std::string buf(64, 'x');  // a byte left unwritten shows as 'x'
        uint32_t n = os->ReadIniString(c.section, c.key, c.def, &buf[0], c.size, path);
        Check(std::strcmp(buf.c_str(), c.want) == 0 && n == std::strlen(c.want),
              std::string("ini: [") + c.section + "] " + c.key + " size " + std::to_string(c.size));
    }
    DeleteFileA(path);
}

void NetworkCases(ow::Os* os) {
    Check(os->StartSockets(), "sockets: start");
    const std::vector<std::pair<std::string, std::vector<uint32_t>>> resolve = {
        {"127.0.0.1", {htonl(0x7F000001u)}}, {"10.1.2.3", {htonl(0x0A010203u)}},
        {"", {}},                            {std::string("127.0.0.1\0.evil", 15), {}},
    };
    for (const auto& c : resolve) {
        std::vector<uint32_t> got{0xDEADBEEFu};
        Check(os->ResolveHostIPv4(c.first, &got) == !c.second.empty() && got == c.second,
              "resolve: " + std::to_string(c.first.size()) + " bytes");
    }

    Check(os->GetAdapters(nullptr, nullptr) == ERROR_INVALID_PARAMETER, "adapters: null size refused");
    uint32_t need = 0;
    uint32_t rc = os->GetAdapters(nullptr, &need);
    Check(rc == ow::kErrorBufferOverflow || rc == ow::kErrorNoData, "adapters: size query answers overflow or no data");
    if (rc == ow::kErrorBufferOverflow) {
        Check(need >= ow::kAdapterRecordSize, "adapters: size query names a need");
        std::vector<ow::AdapterInfo> list;
        uint32_t size = need;
        Check(os->GetAdapters(&list, &size) == ow::kErrorSuccess && !list.empty(), "adapters: list with that size");
        for (const ow::AdapterInfo& a : list) {
            bool ok = !a.name.empty() && !a.ipv4.empty();
            for (const std::string& ip : a.ipv4) ok = ok && inet_addr(ip.c_str()) != INADDR_NONE;
            Check(ok, "adapters: " + a.name + " has a name and dotted addresses");
        }
        uint32_t small = 1;
        list.clear();
        rc = os->GetAdapters(&list, &small);
        const bool roomForOne = rc == ow::kErrorSuccess && !list.empty();
        Check(roomForOne || (rc == ow::kErrorBufferOverflow && small == need && list.empty()),
              "adapters: a small size gets one record's room, or the need");
    }
    os->StopSockets();
}

constexpr uint32_t kIds = 4;

struct RecordingSink : ow::TimerSink {
    explicit RecordingSink(ow::Os* o) : os(o) {
        for (auto& e : ticked) e = os->CreateEventObject(nullptr, false, false);
    }
    ~RecordingSink() override { for (auto& e : ticked) os->CloseObject(e); }
    void OnTimer(uint32_t id) override {
        if (stopped.load()) late.fetch_add(1);
        if (id >= kIds) return;
        counts[id].fetch_add(1);
        if (hook) hook(id);
        os->SetEventObject(ticked[id]);
    }
    bool WaitTick(uint32_t id) { return os->WaitForObjects(&ticked[id], 1, kTickWaitMs) == ow::kWaitObject0; }

    ow::Os* os;
    ow::Handle ticked[kIds];
    std::atomic<int> counts[kIds] = {};
    std::function<void(uint32_t)> hook;  // runs on the host's thread
    std::atomic<bool> stopped{false};    // from here on any tick is one too many
    std::atomic<int> late{0};
};

void TimerCases(ow::Os* os) {
    RecordingSink first(os), second(os);  // both kept to the end for the late-tick count
    {
        std::unique_ptr<ow::TimerHost> host = os->CreateTimerHost();
        Check(host->Start(&first) && host->Arm(1, 10) && host->Ready(), "timer: Start, then Arm from another thread");
        Check(first.WaitTick(1) && first.WaitTick(1), "timer: 1 ticks, and ticks again");
        host->Disarm(1);
        const int ones = first.counts[1].load();
        bool twoTicked = host->Arm(2, 10);
        for (int i = 0; i < 6; ++i) twoTicked = twoTicked && first.WaitTick(2);
        // Six ticks of 2 outlast several periods of 1; a disarmed timer may
        // have had at most one tick on its way.
        Check(twoTicked && first.counts[1].load() <= ones + 1, "timer: Disarm stops ticks");
        host->Stop(2000);
        first.stopped.store(true);
        Check(!host->Ready() && !host->Arm(1, 10), "timer: not ready, and Arm refused, after Stop");
    }
    {
        std::unique_ptr<ow::TimerHost> host = os->CreateTimerHost();
        second.hook = [&](uint32_t) {
            host->Stop(4 * kTickWaitMs);  // one waiting for its own thread would outlast WaitTick
            second.stopped.store(true);
        };
        Check(host->Start(&second) && host->Arm(1, 10) && second.WaitTick(1), "timer: Stop from inside a tick returns");
    }
    // Everything above has run since the first Stop: time enough for a tick
    // that should not have come.
    Check(first.late.load() + second.late.load() == 0, "timer: no tick after Stop returned");
}

// The registry calls against a scratch key of the current user.
void RegistryCases(ow::Os* os) {
    const std::string top = "Software\\OutlinkWatchSmoke", path = top + "\\Deep";
    HKEY key = nullptr;
    Check(os->OpenRegistryKey(HKEY_CURRENT_USER, path, KEY_READ, &key) == ERROR_FILE_NOT_FOUND, "registry: open missing");
    Check(os->CreateRegistryKey(HKEY_CURRENT_USER, path, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY, &key) == 0 &&
              os->SetRegistryValue(key, "t", REG_SZ, reinterpret_cast<const uint8_t*>("ten bytes"), 10) == 0,
          "registry: create with parents, set");
    uint8_t buf[16] = {0};
    uint32_t type = 0, size = 4;
    Check(os->QueryRegistryValue(key, "t", &type, buf, &size) == ERROR_MORE_DATA && size == 10, "registry: more data");
    size = sizeof buf;
    Check(os->QueryRegistryValue(key, "t", &type, buf, &size) == 0 && type == REG_SZ && size == 10, "registry: query");
    ow::LocalDate date;
    Check(os->RegistryKeyWriteDate(key, &date) == 0 && date.year >= 2020, "registry: write date");
    Check(os->DeleteRegistryValue(key, "t") == 0 && os->CloseRegistryKey(key) == 0, "registry: delete value, close");
    Check(os->DeleteRegistryKey(HKEY_CURRENT_USER, top, KEY_WOW64_64KEY) != 0 &&
              os->DeleteRegistryKey(HKEY_CURRENT_USER, path, KEY_WOW64_64KEY) == 0 &&
              os->DeleteRegistryKey(HKEY_CURRENT_USER, top, KEY_WOW64_64KEY) == 0,
          "registry: only a key without subkeys is deleted");
}

}  // namespace

int main() {
    ow::Os* os = ow::Os::Default();
    Check(os != nullptr && os == ow::Os::Default(), "one default Os");

    KernelObjectCases(os);
    IniCases(os);
    NetworkCases(os);
    TimerCases(os);
    RegistryCases(os);

    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
