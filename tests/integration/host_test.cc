// The reference host run as the user runs it: a child process with its
// output in pipes, read with a deadline, killed if it overstays.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct RunResult {
    bool timedOut = false;
    int exitCode = -1;  // -1 when it did not exit by itself
    std::string out, err;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// Where the whole line stands in the text's lines, or -1.
int LineIndex(const std::string& text, const std::string& line) {
    const std::vector<std::string> lines = Lines(text);
    const auto it = std::find(lines.begin(), lines.end(), line);
    return it == lines.end() ? -1 : static_cast<int>(it - lines.begin());
}

// Runs the host; sends `signal` once stdout has the line `after`. A child
// still there after 30 s (a loaded machine under a sanitizer) is killed.
RunResult RunHost(std::vector<std::string> args, int signal = 0, const std::string& after = "") {
    RunResult r;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return r;
    args.insert(args.begin(), OW_HOST_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    // The signal state a shell would give it, whatever the test runner's is.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGTERM, SIGPIPE}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const bool started = posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(err[1]);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    while (started && (fds[0].fd >= 0 || fds[1].fd >= 0)) {  // until the child has closed both
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if ((r.timedOut = left <= 0)) break;
        if (poll(fds, 2, static_cast<int>(left)) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (pollfd& p : fds) {
            char buf[4096];
            const ssize_t got = p.revents != 0 ? read(p.fd, buf, sizeof(buf)) : -1;
            if (got > 0) (&p == fds ? r.out : r.err).append(buf, static_cast<size_t>(got));
            if (got == 0 || (got < 0 && p.revents != 0 && errno != EINTR)) p.fd = -1;
        }
        if (signal != 0 && LineIndex(r.out, after) >= 0) {
            kill(pid, signal);
            signal = 0;  // once
        }
    }
    int status = 0;
    if (started && (fds[0].fd >= 0 || fds[1].fd >= 0)) kill(pid, SIGKILL);  // overstayed
    if (started && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    close(out[0]);
    close(err[0]);
    return r;
}

std::string Describe(const RunResult& r) {
    return "exit " + std::to_string(r.exitCode) + (r.timedOut ? ", TIMED OUT" : "") + "\n--- stdout\n" + r.out +
           "--- stderr\n" + r.err;
}

class HostTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::string(OW_HOST_PATH).empty()) GTEST_SKIP() << "the host is not built (OW_BUILD_HOST=OFF)";
        char pattern[] = "/tmp/owhost-it-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
        return Path(name);
    }
    std::string dir_;
};

// A run that started the policy and took it down cleanly, its lines in order.
void ExpectCleanRun(const RunResult& r, const std::string& stopLine) {
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
    int last = -1;
    for (const std::string& line : {std::string("interface: IPolicy"), std::string("version: 1.0.0.0"),
                                    std::string("Initialize: 200"), std::string("Exec: 0"), std::string("running"),
                                    stopLine, std::string("done: 0"), std::string("released")}) {
        const int at = LineIndex(r.out, line);
        EXPECT_GT(at, last) << "\"" << line << "\" missing or out of order\n" << Describe(r);
        last = std::max(last, at);
    }
}

TEST_F(HostTest, DemoPolicyPrintsTheRecordRunsForItsDurationAndStopsCleanly) {
    const RunResult r = RunHost({"--duration", "1"});
    ExpectCleanRun(r, "stop: duration elapsed");
    for (const char* field : {"reserved: ", "class id: {", "description: ", "author: ", "build date: "}) {
        EXPECT_NE(r.out.find(std::string("\n") + field), std::string::npos) << field << "\n" << Describe(r);
    }
    EXPECT_NE(r.err.find("[2] OutlinkWatch: [CPolicy::Exec]"), std::string::npos) << Describe(r);
    EXPECT_NE(r.err.find("Done out"), std::string::npos) << Describe(r);
}

TEST_F(HostTest, StopSignalEndsTheRunCleanly) {
    for (const auto& [signal, stopLine] :
         {std::pair<int, const char*>{SIGINT, "stop: SIGINT"}, {SIGTERM, "stop: SIGTERM"}}) {
        SCOPED_TRACE(stopLine);
        const RunResult r = RunHost({}, signal, "running");
        ExpectCleanRun(r, stopLine);
        EXPECT_NE(r.err.find("Done out"), std::string::npos) << Describe(r);
    }
}

TEST_F(HostTest, PolicyThatRefusesItsParametersIsStillTakenDown) {
    const std::string policy = Write("refused.xml", R"(<policy type="policy.win.outlink.watch">
  <param name="Type" value="0"/><param name="TrancertAddr" value=""/><param name="ConnectAddr" value=""/>
  <param name="Proxy" value=""/><param name="Route" value="198.51.100.0/24"/>
</policy>)");
    const RunResult r = RunHost({"--policy", policy, "--duration", "30"});
    EXPECT_EQ(r.exitCode, 3) << Describe(r);
    for (const char* line : {"Initialize: 200", "Exec: 1", "done: 0", "released"}) {
        EXPECT_GE(LineIndex(r.out, line), 0) << line << "\n" << Describe(r);
    }
    EXPECT_LT(LineIndex(r.out, "running"), 0) << Describe(r);  // nor does it wait for the 30 s
    EXPECT_NE(r.err.find("Invalid parameters Exit!"), std::string::npos) << Describe(r);
}

TEST_F(HostTest, DebugLogReceivesThePluginsDebuggerOutput) {
    const RunResult r = RunHost({"--duration", "0", "--debug-log", Path("debug.log")});
    ExpectCleanRun(r, "stop: duration elapsed");
    std::ifstream in(Path("debug.log"));
    const std::string logged{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(logged.find("A CPolicy object was deleted!\n"), std::string::npos) << logged;
}

TEST_F(HostTest, BadInputIsRefusedBeforeAnythingStarts) {
    const std::string malformed = Write("malformed.xml", "<policy>\n  <param name=\"Type\" value=\"0\">\n</policy>\n");
    ASSERT_EQ(mkfifo(Path("fifo.xml").c_str(), 0600), 0);  // opening it to read would wait for a writer
    Dl_info libc{};  // a library that certainly lacks the plug-in's entry points
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::printf), &libc), 0);
    const struct { const char* what; std::vector<std::string> args; const char* hint; } cases[] = {
        {"missing library", {"--plugin", Path("missing.so")}, "cannot load plug-in"},
        {"library without the entry points", {"--plugin", libc.dli_fname}, "does not export GetInterfaceList"},
        {"missing policy file", {"--policy", Path("missing.xml")}, "missing.xml"},
        {"policy file is a FIFO", {"--policy", Path("fifo.xml")}, "not a regular file"},
        {"malformed XML", {"--policy", malformed}, "line 3: malformed XML"},
        {"unknown option", {"--frobnicate"}, "--frobnicate"},
        {"non-numeric duration", {"--duration", "soon"}, "--duration"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = c.args;
        if (args.front() != "--duration") args.insert(args.end(), {"--duration", "5"});  // a run that got through
        const RunResult r = RunHost(args);
        EXPECT_EQ(r.exitCode, 2) << Describe(r);
        const std::vector<std::string> lines = Lines(r.err);
        ASSERT_EQ(lines.size(), 1u) << Describe(r);
        EXPECT_EQ(lines[0].rfind("outlinkwatch: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(c.hint), std::string::npos) << lines[0];
        EXPECT_EQ(r.out.find("interface:"), std::string::npos) << Describe(r);
    }
}

}  // namespace
