// Runs the Win32 backend against the system it was built for: Windows, or
// Wine on a Linux build machine (.ci/cross-build.sh does that). It is a
// program of its own, outside the plug-in, linked with the backend sources
// only. Ends with "N passed, N failed"; exit status 0 only when all passed.
//
// Nothing here sleeps to wait: every wait is on an event the code under
// test sets, bounded so that a fault shows as a failure, not a hang.
#include "platform/win32/win32_api.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/os.h"

namespace ow = outlinkwatch;

namespace {

constexpr uint32_t kTickWaitMs = 5000;

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what) {
    if (ok) {
        ++g_passed;
        return;
    }
    ++g_failed;
    std::fputs("FAILED: ", stdout);
    std::fputs(what.c_str(), stdout);
    std::fputs("\n", stdout);
}

void Note(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputs("\n", stdout);
}

struct Case {
    const char* name;
    std::function<bool()> run;
};

void RunTable(const char* group, const std::vector<Case>& cases) {
    for (const Case& c : cases) Check(c.run(), std::string(group) + ": " + c.name);
}

bool EndsWithNoCase(const std::string& s, const char* tail) {
    size_t n = std::strlen(tail);
    return s.size() >= n && _stricmp(s.c_str() + (s.size() - n), tail) == 0;
}

// ---------------------------------------------------------------- kernel objects

struct CloseWaitArg {
    ow::Os* os;
    ow::Handle never;  // never set: the thread lives for its time-out
    std::atomic<bool> finished{false};
};

uint32_t ReturnSeven(void* arg) {
    static_cast<ow::Os*>(arg)->SleepMs(0);
    return 7;
}

uint32_t FinishAfterTimeout(void* param) {
    auto* a = static_cast<CloseWaitArg*>(param);
    ow::Handle never = a->never;
    a->os->WaitForObjects(&never, 1, 300);
    a->finished.store(true);
    return 0;
}

struct MutexProbeArg {
    ow::Os* os;
    ow::Handle mutex;
    uint32_t result = 0;
};

uint32_t ProbeMutex(void* param) {
    auto* a = static_cast<MutexProbeArg*>(param);
    ow::Handle m = a->mutex;
    a->result = a->os->WaitForObjects(&m, 1, 0);
    if (a->result == ow::kWaitObject0) a->os->ReleaseMutexObject(m);
    return 0;
}

// Waits a probe thread out and gives back what it saw.
uint32_t MutexSeenFromOtherThread(ow::Os* os, ow::Handle mutex) {
    MutexProbeArg arg{os, mutex};
    ow::Handle t = os->StartThread(ProbeMutex, &arg);
    if (t == nullptr) return ow::kWaitFailed;
    uint32_t r = os->WaitForObjects(&t, 1, kTickWaitMs);
    os->CloseObject(t);
    return r == ow::kWaitObject0 ? arg.result : ow::kWaitFailed;
}

void KernelObjectCases(ow::Os* os) {
    const std::string unique = std::to_string(GetCurrentProcessId());
    RunTable(
        "kernel objects",
        {
            {"auto-reset event is consumed by one wait",
             [&] {
                 ow::Handle e = os->CreateEventObject(nullptr, false, true);
                 bool ok = e != nullptr && os->WaitForObjects(&e, 1, 0) == ow::kWaitObject0 &&
                           os->WaitForObjects(&e, 1, 0) == ow::kWaitTimeout;
                 return os->CloseObject(e) && ok;
             }},
            {"manual-reset event stays set until reset",
             [&] {
                 ow::Handle e = os->CreateEventObject("", true, false);
                 bool ok = e != nullptr && os->WaitForObjects(&e, 1, 0) == ow::kWaitTimeout &&
                           os->SetEventObject(e) && os->WaitForObjects(&e, 1, 0) == ow::kWaitObject0 &&
                           os->WaitForObjects(&e, 1, 0) == ow::kWaitObject0 && os->ResetEventObject(e) &&
                           os->WaitForObjects(&e, 1, 0) == ow::kWaitTimeout;
                 return os->CloseObject(e) && ok;
             }},
            {"a second creation under a name opens the first",
             [&] {
                 std::string name = "ow-smoke-event-" + unique;
                 ow::Handle a = os->CreateEventObject(name.c_str(), false, false);
                 ow::Handle b = os->CreateEventObject(name.c_str(), false, false);
                 bool ok = a != nullptr && b != nullptr && a != b && os->SetEventObject(b) &&
                           os->WaitForObjects(&a, 1, 0) == ow::kWaitObject0;
                 os->CloseObject(b);
                 return os->CloseObject(a) && ok;
             }},
            {"wait-any answers the index of the signalled object",
             [&] {
                 ow::Handle hs[3] = {os->CreateEventObject(nullptr, true, false),
                                     os->CreateEventObject(nullptr, true, false),
                                     os->CreateEventObject(nullptr, true, true)};
                 bool ok = os->WaitForObjects(hs, 3, 0) == ow::kWaitObject0 + 2 && os->SetEventObject(hs[1]) &&
                           os->WaitForObjects(hs, 3, 0) == ow::kWaitObject0 + 1;
                 for (ow::Handle h : hs) os->CloseObject(h);
                 return ok;
             }},
            {"wait with no objects or more than 64 fails",
             [&] {
                 ow::Handle hs[65] = {};
                 return os->WaitForObjects(hs, 0, 0) == ow::kWaitFailed &&
                        os->WaitForObjects(hs, 65, 0) == ow::kWaitFailed &&
                        os->WaitForObjects(nullptr, 1, 0) == ow::kWaitFailed;
             }},
            {"owned mutex keeps other threads out until released",
             [&] {
                 ow::Handle m = os->CreateMutexObject(true);
                 bool ok = m != nullptr && MutexSeenFromOtherThread(os, m) == ow::kWaitTimeout &&
                           os->ReleaseMutexObject(m) && MutexSeenFromOtherThread(os, m) == ow::kWaitObject0;
                 return os->CloseObject(m) && ok;
             }},
            {"releasing a mutex not owned fails",
             [&] {
                 ow::Handle m = os->CreateMutexObject(false);
                 bool ok = m != nullptr && !os->ReleaseMutexObject(m);
                 return os->CloseObject(m) && ok;
             }},
            {"thread runs, its handle signals at its end, exit code is its result",
             [&] {
                 ow::Handle t = os->StartThread(ReturnSeven, os);
                 DWORD code = 0;
                 bool ok = t != nullptr && os->WaitForObjects(&t, 1, kTickWaitMs) == ow::kWaitObject0 &&
                           GetExitCodeThread(t, &code) && code == 7;
                 return os->CloseObject(t) && ok;
             }},
            {"closing a thread handle waits for the thread to end",
             [&] {
                 CloseWaitArg arg;
                 arg.os = os;
                 arg.never = os->CreateEventObject(nullptr, true, false);
                 ow::Handle t = os->StartThread(FinishAfterTimeout, &arg);
                 // Closed while the thread is still well within its 300 ms.
                 bool ok = t != nullptr && os->CloseObject(t) && arg.finished.load();
                 os->CloseObject(arg.never);
                 return ok;
             }},
            {"null handles are refused",
             [&] {
                 return !os->CloseObject(nullptr) && !os->SetEventObject(nullptr) &&
                        !os->ResetEventObject(nullptr) && !os->ReleaseMutexObject(nullptr) &&
                        os->StartThread(nullptr, nullptr) == nullptr;
             }},
        });
}

// ---------------------------------------------------------------- identity, files

void IdentityCases(ow::Os* os, const std::string& iniPath) {
    const std::string exe = os->ExecutablePath();
    RunTable("identity",
             {
                 {"executable path is a full .exe path that exists",
                  [&] { return exe.size() > 3 && exe[1] == ':' && EndsWithNoCase(exe, ".exe") && os->FileExists(exe); }},
                 {"path separator is a backslash", [&] { return os->PathSeparator() == '\\'; }},
                 {"missing file does not exist", [&] { return !os->FileExists("C:\\ow-smoke\\no\\such\\file.ini"); }},
                 {"a path with a NUL inside does not exist",
                  [&] { return !os->FileExists(exe + std::string(1, '\0') + "x"); }},
                 {"NetBIOS name is there",
                  [&] {
                      std::string n;
                      return os->ComputerNetbiosName(&n) && !n.empty() && n.size() <= 255 &&
                             !os->ComputerNetbiosName(nullptr);
                  }},
                 {"DNS name is there and bounded",
                  [&] {
                      std::string n = os->ComputerDnsName();
                      return !n.empty() && n.size() <= 255 && n.find('\0') == std::string::npos;
                  }},
                 {"debugger output takes format characters as text",
                  [&] {
                      os->DebugOutput("%s%s%n%x");
                      os->DebugOutput(nullptr);
                      return true;
                  }},
             });

    struct IniCase {
        const char* section;
        const char* key;
        const char* def;
        uint32_t size;
        const char* want;
    };
    const IniCase ini[] = {
        {"Main", "Proxy", "none", 64, "10.0.0.1:8080"},
        {"Main", "Missing", "fallback", 64, "fallback"},
        {"Other", "Proxy", "", 64, ""},
        {"Main", "Proxy", "", 5, "10.0"},  // cut to the buffer, still terminated
    };
    for (const IniCase& c : ini) {
        char buf[64];
        std::memset(buf, 'x', sizeof buf);
        uint32_t n = os->ReadIniString(c.section, c.key, c.def, buf, c.size, iniPath.c_str());
        Check(std::strcmp(buf, c.want) == 0 && n == std::strlen(c.want),
              std::string("ini: [") + c.section + "] " + c.key + " size " + std::to_string(c.size));
    }
    Check(os->ReadIniString("Main", "Proxy", "", nullptr, 10, iniPath.c_str()) == 0, "ini: null buffer");
}

void VersionCases(ow::Os* os) {
    ow::OsVersionFacts f = os->VersionFacts();
    RunTable("version facts",
             {
                 {"GetVersionExA answered", [&] { return f.versionExOk && f.major >= 5 && f.platformId == 2; }},
                 {"ntdll numbers are there, build cut to 16 bits",
                  [&] { return f.ntNumbersOk && f.ntMajor >= 5 && f.ntBuild > 0 && f.ntBuild <= 0xFFFF; }},
                 // VerifyVersionInfoA and GetVersionExA see the same
                 // (manifest-dependent) version, so they must agree.
                 {"major == 6 agrees with GetVersionExA", [&] { return f.equalsMajor6 == (f.major == 6); }},
                 {"minor == 3 agrees with GetVersionExA", [&] { return f.equalsMinor3 == (f.minor == 3); }},
                 {"a 64-bit process runs on a 64-bit system", [&] { return f.is64bit; }},
             });
}

// ---------------------------------------------------------------- network

void NetworkCases(ow::Os* os) {
    Check(os->StartSockets(), "sockets: start");

    struct ResolveCase {
        std::string host;
        bool ok;
        std::vector<uint32_t> want;
    };
    const ResolveCase resolve[] = {
        {"127.0.0.1", true, {htonl(0x7F000001u)}},
        {"10.1.2.3", true, {htonl(0x0A010203u)}},
        {"", false, {}},
        {std::string("127.0.0.1\0.evil", 15), false, {}},
    };
    for (const ResolveCase& c : resolve) {
        std::vector<uint32_t> got{0xDEADBEEFu};
        bool ok = os->ResolveHostIPv4(c.host, &got);
        Check(ok == c.ok && got == c.want, "resolve: case of " + std::to_string(c.host.size()) + " bytes");
    }
    Check(!os->ResolveHostIPv4("127.0.0.1", nullptr), "resolve: null output");

    uint32_t need = 0;
    uint32_t rc = os->GetAdapters(nullptr, &need);
    Check(rc == ow::kErrorBufferOverflow || rc == ow::kErrorNoData, "adapters: size query answers overflow or no data");
    if (rc == ow::kErrorBufferOverflow) {
        Check(need >= sizeof(IP_ADAPTER_INFO), "adapters: size query names a need");
        std::vector<ow::AdapterInfo> list;
        uint32_t size = need;
        Check(os->GetAdapters(&list, &size) == ow::kErrorSuccess && !list.empty(), "adapters: list with that size");
        for (const ow::AdapterInfo& a : list) {
            Check(!a.name.empty() && a.name.size() < 260 && !a.ipv4.empty(), "adapters: " + a.name + " has name and address");
            for (const std::string& ip : a.ipv4) {
                Check(!ip.empty() && ip.size() <= 15 && inet_addr(ip.c_str()) != INADDR_NONE, "adapters: address " + ip);
            }
        }
        uint32_t small = 1;
        std::vector<ow::AdapterInfo> none;
        uint32_t r = os->GetAdapters(&none, &small);
        Check((r == ow::kErrorSuccess && !none.empty()) || (r == ow::kErrorBufferOverflow && small > 1 && none.empty()),
              "adapters: a small size gets one record's room, or the need");
    }
    Check(os->GetAdapters(nullptr, nullptr) != ow::kErrorSuccess, "adapters: null size refused");

    ow::Handle ev = os->CreateEventObject(nullptr, false, false);
    uint32_t first = os->NotifyRouteChange(ev);
    if (first == ow::kErrorIoPending) {
        Check(os->NotifyRouteChange(ev) == ow::kErrorIoPending, "route change: a pending request is reused");
        os->CancelRouteChange(ev);
        Check(os->NotifyRouteChange(ev) == ow::kErrorIoPending, "route change: re-armed after cancel");
        os->CancelRouteChange(ev);
        os->CancelRouteChange(ev);  // nothing left to cancel
    } else {
        Note("route change: not available here (code " + std::to_string(first) + "), not checked");
    }
    Check(os->NotifyRouteChange(nullptr) != ow::kErrorIoPending, "route change: null event refused");
    os->CloseObject(ev);
    os->StopSockets();
}

// ---------------------------------------------------------------- timer host

constexpr uint32_t kIds = 8;

class RecordingSink : public ow::TimerSink {
public:
    explicit RecordingSink(ow::Os* os) : os_(os) {
        for (auto& e : ticked_) e = os_->CreateEventObject(nullptr, false, false);
    }
    ~RecordingSink() override {
        for (auto& e : ticked_) os_->CloseObject(e);
    }

    void OnTimer(uint32_t id) override {
        if (closed_.load()) late_.fetch_add(1);
        if (id >= kIds) return;
        counts_[id].fetch_add(1);
        if (hook) hook(id);
        os_->SetEventObject(ticked_[id]);
    }

    bool WaitTick(uint32_t id) { return os_->WaitForObjects(&ticked_[id], 1, kTickWaitMs) == ow::kWaitObject0; }
    int Count(uint32_t id) const { return counts_[id].load(); }
    // From here on any tick is one too many.
    void Close() { closed_.store(true); }
    int Late() const { return late_.load(); }

    std::function<void(uint32_t)> hook;  // runs on the window thread

private:
    ow::Os* os_;
    ow::Handle ticked_[kIds];
    std::atomic<int> counts_[kIds] = {};
    std::atomic<bool> closed_{false};
    std::atomic<int> late_{0};
};

void TimerCases(ow::Os* os) {
    std::vector<std::unique_ptr<RecordingSink>> sinks;  // kept to the end for the late-tick count
    auto newSink = [&] {
        sinks.push_back(std::unique_ptr<RecordingSink>(new RecordingSink(os)));
        return sinks.back().get();
    };

    {
        std::unique_ptr<ow::TimerHost> host = os->CreateTimerHost();
        RecordingSink* sink = newSink();
        Check(!host->Ready() && !host->Arm(1, 10), "timer: nothing before Start");
        Check(host->Start(sink), "timer: Start");
        Check(!host->Start(sink), "timer: a second Start is refused");
        Check(host->Arm(1, 10) && host->Ready(), "timer: Arm from another thread");
        Check(sink->WaitTick(1), "timer: tick of 1 reaches the sink");

        std::atomic<int> armedInTick{-1};
        sink->hook = [&](uint32_t id) {
            if (id == 2) {
                host->Disarm(2);
                armedInTick.store(host->Arm(3, 10) ? 1 : 0);
            }
        };
        Check(host->Arm(2, 10) && sink->WaitTick(3) && armedInTick.load() == 1, "timer: Arm from inside a tick");

        host->Disarm(1);
        host->Disarm(3);
        const int ones = sink->Count(1);
        const int threes = sink->Count(3);
        Check(host->Arm(5, 10), "timer: Arm 5");
        bool fiveTicked = true;
        for (int i = 0; i < 6; ++i) fiveTicked = fiveTicked && sink->WaitTick(5);
        // Six ticks of 5 outlast several periods of 1 and 3; a disarmed
        // timer may have had at most one tick on its way.
        Check(fiveTicked && sink->Count(1) <= ones + 1 && sink->Count(3) <= threes + 1, "timer: Disarm stops ticks");

        host->Stop(2000);
        sink->Close();
        Check(!host->Ready(), "timer: not ready after Stop");
        Check(!host->Arm(1, 10), "timer: Arm refused after Stop");
        host->Stop(2000);  // twice is harmless
    }

    {
        // Stop called by the sink itself, on the window thread.
        std::unique_ptr<ow::TimerHost> host = os->CreateTimerHost();
        RecordingSink* sink = newSink();
        sink->hook = [&](uint32_t) {
            host->Stop(1000);
            sink->Close();
        };
        Check(host->Start(sink) && host->Arm(1, 10) && sink->WaitTick(1), "timer: Stop from inside a tick returns");
    }

    {
        // Stop while a tick is being delivered: the thread cannot end within
        // the short wait, and Stop must still not return before the tick has.
        std::unique_ptr<ow::TimerHost> host = os->CreateTimerHost();
        RecordingSink* sink = newSink();
        ow::Handle inTick = os->CreateEventObject(nullptr, true, false);
        ow::Handle never = os->CreateEventObject(nullptr, true, false);
        std::atomic<bool> tickReturned{false};
        sink->hook = [&](uint32_t id) {
            if (id != 6 || os->WaitForObjects(&inTick, 1, 0) == ow::kWaitObject0) return;
            os->SetEventObject(inTick);
            os->WaitForObjects(&never, 1, 300);  // a long tick
            tickReturned.store(true);
        };
        Check(host->Start(sink) && host->Arm(6, 10) && os->WaitForObjects(&inTick, 1, kTickWaitMs) == ow::kWaitObject0,
              "timer: a long tick has begun");
        host->Stop(20);
        const bool returnedFirst = tickReturned.load();
        sink->Close();
        Check(returnedFirst, "timer: Stop returns only after the tick in delivery");
        os->CloseObject(inTick);
        os->CloseObject(never);
    }

    {
        // Two hosts at once share the window class; the first one ending
        // must not take it from the second, and a later host gets it again.
        std::unique_ptr<ow::TimerHost> a = os->CreateTimerHost();
        std::unique_ptr<ow::TimerHost> b = os->CreateTimerHost();
        RecordingSink* sa = newSink();
        RecordingSink* sb = newSink();
        Check(a->Start(sa) && b->Start(sb) && a->Arm(1, 10) && b->Arm(1, 10) && sa->WaitTick(1) && sb->WaitTick(1),
              "timer: two hosts tick side by side");
        a->Stop(2000);
        sa->Close();
        Check(b->Arm(2, 10) && sb->WaitTick(2), "timer: second host goes on after the first stopped");
        b->Stop(2000);
        sb->Close();

        std::unique_ptr<ow::TimerHost> c = os->CreateTimerHost();
        RecordingSink* sc = newSink();
        Check(c->Start(sc) && c->Arm(4, 10) && sc->WaitTick(4), "timer: a later host registers the class again");
        // Left to the destructor, which stops it.
        c.reset();
        sc->Close();
    }

    // Everything above has run since the first Stop: time enough for a
    // tick that should not have come.
    int late = 0;
    for (const auto& s : sinks) late += s->Late();
    Check(late == 0, "timer: no tick after Stop returned");
}

std::string WriteIni() {
    char dir[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > MAX_PATH) return std::string();
    std::string path = std::string(dir, n) + "ow-smoke-" + std::to_string(GetCurrentProcessId()) + ".ini";
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << "[Main]\r\nProxy=10.0.0.1:8080\r\n[Other]\r\nRoute=1\r\n";
    return out ? path : std::string();
}

}  // namespace

int main() {
    ow::Os* os = ow::Os::Default();
    Check(os != nullptr && os == ow::Os::Default(), "one default Os");

    const std::string iniPath = WriteIni();
    Check(!iniPath.empty(), "temporary ini written");

    KernelObjectCases(os);
    IdentityCases(os, iniPath);
    VersionCases(os);
    NetworkCases(os);
    TimerCases(os);

    if (!iniPath.empty()) DeleteFileA(iniPath.c_str());
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
