// One proxy task on an unchanged setting, on the real Linux backend: the
// /proc scans for the user-interface process, the registry file and the
// Firefox profile read back, nothing judged. It runs every 70 s for the
// life of a desktop. Allocations are counted by replacing operator new.
// The check is built on its own (the policy's part of a task is taking
// the proxy mutex and looking at a flag).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>

#include "config/policy_settings.h"
#include "proxy/proxy_check.h"

namespace {
std::atomic<uint64_t> g_allocations{0};
std::atomic<uint64_t> g_bytes{0};
}  // namespace

void* operator new(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    g_bytes.fetch_add(size, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

extern char** environ;

namespace {

class NullSink : public outlinkwatch::LogSink {
public:
    void WriteLog(int32_t, const char*, int32_t, const char* format, ...) override { benchmark::DoNotOptimize(format); }
};

class NullReporter : public outlinkwatch::FindingReporter {
public:
    std::string GetLangString(const std::string&) override { return std::string(); }
    void PackNotifyMsg(const std::string&, const std::string&, const std::string&, const std::string&) override {}
    int HandleResult(std::string) override { return 0; }
    int EnableProxy() override { return 1; }
};

bool ShowsArgument(pid_t pid, const std::string& arg0) {
    std::string cmdline;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/cmdline"), cmdline, '\0');
    return cmdline == arg0;
}

void BM_ProxyTaskUnchanged(benchmark::State& state) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("ow_proxy_bench_" + std::to_string(getpid()));
    const fs::path profile = dir / "home/.mozilla/firefox/b.default";
    fs::create_directories(dir / "registry");
    fs::create_directories(profile);
    const std::string sid = "S-1-22-1-" + std::to_string(getuid());
    std::ofstream(dir / "registry/HKEY_USERS.reg")
        << "REGEDIT4\n\n[HKEY_USERS\\" << sid << "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\n"
        << "\"ProxyEnable\"=dword:00000001\n\"ProxyServer\"=\"http=127.0.0.2:1;https=127.0.0.2:1\"\n";
    std::ofstream(profile / "prefs.js") << "// x\n;\nuser_pref(\"network.proxy.http\", \"127.0.0.2\");\n"
                                        << "user_pref(\"network.proxy.http_port\", 1);\nuser_pref(\"network.proxy.type\", 1);\n";
    setenv("OUTLINKWATCH_REGISTRY_DIR", (dir / "registry").c_str(), 1);
    setenv("HOME", (dir / "home").c_str(), 1);
    pid_t ui = -1;
    char* argv[] = {const_cast<char*>("AGENTUI"), const_cast<char*>("-"), nullptr};
    int fds[2];
    if (pipe(fds) != 0) return state.SkipWithError("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn(&ui, "/bin/cat", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    // Until the new program has its arguments in place, /proc shows none.
    for (int i = 0; i < 200 && !ShowsArgument(ui, "AGENTUI"); ++i) usleep(10000);
    {
        NullSink sink;
        NullReporter reporter;
        outlinkwatch::PolicySettings settings;
        settings.m_lstValidProxyStr = {"192.0.2.80"};
        settings.m_strBlock = "0";
        std::atomic<int32_t> exiting{0}, pending{0};
        outlinkwatch::ProxyCheck check(outlinkwatch::CurrentOs(), &sink, outlinkwatch::StopToken(exiting, pending),
                                       settings, reporter);
        const auto task = [&check] { return check.CheckProxyConfig([] {}, [] {}); };
        // The first task reads everything; nothing listens on port 1, so nothing is judged.
        const int first = task();
        if (first != 0 || check.m_lstIEProxy.empty() || task() != 1) state.SkipWithError("setting not seen");
        const uint64_t allocations = g_allocations.load(), bytes = g_bytes.load();
        for (auto _ : state) benchmark::DoNotOptimize(task());
        state.counters["allocs"] = benchmark::Counter(static_cast<double>(g_allocations.load() - allocations),
                                                      benchmark::Counter::kAvgIterations);
        state.counters["alloc_bytes"] = benchmark::Counter(static_cast<double>(g_bytes.load() - bytes),
                                                           benchmark::Counter::kAvgIterations);
    }
    close(fds[1]);
    kill(ui, SIGTERM);
    waitpid(ui, nullptr, 0);
    fs::remove_all(dir);
}
BENCHMARK(BM_ProxyTaskUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
