// The reference host run as the user runs it: a child process with its
// output in pipes, read with a deadline, killed if it overstays.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Generous: a loaded CI machine under a sanitizer is slow to start threads.
constexpr milliseconds kRunBound{30000};

struct RunResult {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;   // when it exited
    int termSignal = 0;  // when a signal ended it
    std::string out;
    std::string err;
};

struct RunOptions {
    // Sent once, when stdout holds a line equal to afterLine.
    int signal = 0;
    std::string afterLine;
    milliseconds bound = kRunBound;
};

bool HasLine(const std::string& text, const std::string& line) {
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        if (l == line) return true;
    }
    return false;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        if (!l.empty()) lines.push_back(l);
    }
    return lines;
}

// The position of the line in text, or npos.
size_t LinePos(const std::string& text, const std::string& line) {
    size_t pos = 0;
    for (;;) {
        pos = text.find(line, pos);
        if (pos == std::string::npos) return pos;
        const bool startsLine = pos == 0 || text[pos - 1] == '\n';
        const size_t end = pos + line.size();
        if (startsLine && (end == text.size() || text[end] == '\n')) return pos;
        ++pos;
    }
}

RunResult RunHost(const std::vector<std::string>& args, const RunOptions& opt = RunOptions()) {
    RunResult r;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return r;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return r;
    }
    std::vector<std::string> argStore{OW_HOST_PATH};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
    // The child starts with the signal state a shell would give it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(outPipe[1]);
    close(errPipe[1]);
    if (rc != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return r;
    }
    r.started = true;

    // Becomes readable when the child exits, so the wait needs no polling.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    const Clock::time_point deadline = Clock::now() + opt.bound;
    bool outOpen = true, errOpen = true, exited = false, signalled = false;
    int status = 0;
    while (outOpen || errOpen || !exited) {
        if (pidfd < 0 && !outOpen && !errOpen) {
            // No pidfd (an old kernel): with both pipes closed the child is exiting.
            exited = waitpid(pid, &status, 0) == pid;
            break;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            r.timedOut = true;
            break;
        }
        pollfd fds[3];
        nfds_t n = 0;
        if (outOpen) fds[n++] = {outPipe[0], POLLIN, 0};
        if (errOpen) fds[n++] = {errPipe[0], POLLIN, 0};
        if (!exited && pidfd >= 0) fds[n++] = {pidfd, POLLIN, 0};
        const int ready = poll(fds, n, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) break;
        for (nfds_t i = 0; i < n && ready > 0; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == pidfd) {
                if (waitpid(pid, &status, WNOHANG) == pid) exited = true;
                continue;
            }
            char buf[4096];
            const ssize_t got = read(fds[i].fd, buf, sizeof(buf));
            if (got > 0) {
                (fds[i].fd == outPipe[0] ? r.out : r.err).append(buf, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                (fds[i].fd == outPipe[0] ? outOpen : errOpen) = false;
            }
        }
        if (opt.signal != 0 && !signalled && HasLine(r.out, opt.afterLine)) {
            kill(pid, opt.signal);
            signalled = true;
        }
    }
    if (!exited) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    if (pidfd >= 0) close(pidfd);
    close(outPipe[0]);
    close(errPipe[0]);
    if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.termSignal = WTERMSIG(status);
    return r;
}

std::string Describe(const RunResult& r) {
    return "exit " + std::to_string(r.exitCode) + ", signal " + std::to_string(r.termSignal) +
           (r.timedOut ? ", TIMED OUT" : "") + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
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
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    static std::string Example(const std::string& name) {
        return std::string(OW_SOURCE_DIR) + "/tools/host/examples/" + name;
    }

    std::string dir_;
};

// The lines of the start, the record included, in this order.
void ExpectCleanRun(const RunResult& r, const std::string& stopLine) {
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut) << Describe(r);
    EXPECT_EQ(r.exitCode, 0) << Describe(r);
    const char* ordered[] = {"interface: IPolicy", "version: 1.0.0.0", "Initialize: 200", "Exec: 0",
                             "running",            stopLine.c_str(),   "done: 0",         "released"};
    size_t last = 0;
    for (const char* line : ordered) {
        const size_t pos = LinePos(r.out, line);
        ASSERT_NE(pos, std::string::npos) << "missing \"" << line << "\"\n" << Describe(r);
        EXPECT_GE(pos, last) << "\"" << line << "\" out of order\n" << Describe(r);
        last = pos;
    }
}

TEST_F(HostTest, DemoPolicyRunsForItsDurationAndStopsCleanly) {
    const RunResult r = RunHost({"--duration", "1"});
    ExpectCleanRun(r, "stop: duration elapsed");
    // All seven fields of the component record, one per line.
    for (const char* prefix : {"interface: IPolicy\n", "version: 1.0.0.0\n", "reserved: ", "class id: {",
                               "description: ", "author: ", "build date: "}) {
        EXPECT_NE(r.out.find(prefix), std::string::npos) << prefix << "\n" << Describe(r);
    }
    EXPECT_NE(r.out.find("policy: built-in demo\n"), std::string::npos);
    for (const char* logged : {"[2] OutlinkWatch: [CPolicy::Exec]", "TracertAddr 192.0.2.1", "Done out"}) {
        EXPECT_NE(r.err.find(logged), std::string::npos) << logged << "\n" << Describe(r);
    }
    // Nothing but log lines on stderr: every one "[level] module: text".
    for (const std::string& line : Lines(r.err)) {
        EXPECT_TRUE(line.size() > 4 && line[0] == '[' && line.find("] ") != std::string::npos &&
                    line.find(": ") != std::string::npos)
            << "stray stderr line: " << line;
    }
}

TEST_F(HostTest, ExamplePolicyFilesReachThePlugin) {
    const struct {
        const char* file;
        const char* logged;  // a value of the file, as the policy logs it
    } cases[] = {
        {"route-policy.xml", "TracertAddr 192.0.2.1;192.0.2.2"},
        {"route-policy.xml", "ValidRoute 198.51.100.0/24;203.0.113.1"},
        {"connection-policy.xml", "ConnectAddr 192.0.2.10:443;198.51.100.7:80"},
        {"connection-policy.xml", "ImageIP 203.0.113.5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string log = Path(std::string(c.file) + ".log");
        const RunResult r = RunHost({"--policy", Example(c.file), "--duration", "0.2", "--log", log});
        ExpectCleanRun(r, "stop: duration elapsed");
        const std::string logged = ReadFile(log);
        EXPECT_NE(logged.find(c.logged), std::string::npos) << logged;
        // With --log the lines go to the file only.
        EXPECT_EQ(r.err.find("[CPolicy::Exec]"), std::string::npos) << r.err;
        EXPECT_NE(logged.find("[2] OutlinkWatch: [CPolicy::done]"), std::string::npos) << logged;
    }
}

TEST_F(HostTest, ValidOptionsAreAccepted) {
    const std::string lang = std::string(OW_SOURCE_DIR) + "/tools/host/lang/en.ini";
    const std::vector<std::vector<std::string>> cases = {
        {"--comm-address", "192.0.2.53"},
        {"--comm-address", "2001:db8::1"},
        {"--language", "2052"},
        {"--lang", lang},
        {"--events", Path("events.jsonl")},
        {"--duration=0"},
        {"--plugin", OW_PLUGIN_PATH},
    };
    for (std::vector<std::string> args : cases) {
        SCOPED_TRACE(args.front());
        if (args.front().rfind("--duration", 0) != 0) {
            args.push_back("--duration");
            args.push_back("0");
        }
        ExpectCleanRun(RunHost(args), "stop: duration elapsed");
    }
}

TEST_F(HostTest, DebugLogReceivesThePluginsDebuggerOutput) {
    const std::string debugLog = Path("debug.log");
    const RunResult r = RunHost({"--duration", "0", "--debug-log", debugLog});
    ExpectCleanRun(r, "stop: duration elapsed");
    EXPECT_NE(ReadFile(debugLog).find("A CPolicy object was deleted!\n"), std::string::npos) << ReadFile(debugLog);
}

TEST_F(HostTest, StopSignalEndsTheRunCleanly) {
    const struct {
        int signal;
        const char* stopLine;
    } cases[] = {{SIGINT, "stop: SIGINT"}, {SIGTERM, "stop: SIGTERM"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopLine);
        RunOptions opt;
        opt.signal = c.signal;
        opt.afterLine = "running";
        const auto started = Clock::now();
        const RunResult r = RunHost({}, opt);
        ExpectCleanRun(r, c.stopLine);
        EXPECT_NE(r.err.find("Done out"), std::string::npos) << Describe(r);
        // The route thread is polled every 200 ms on the way out; seconds
        // more would mean the signal waited for something else.
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
    }
}

TEST_F(HostTest, PolicyThatRefusesItsParametersIsStillTakenDown) {
    const std::string policy = Write("refused.xml", R"(<policy type="policy.win.outlink.watch">
  <param name="Type" value="0"/>
  <param name="TrancertAddr" value=""/>
  <param name="ConnectAddr" value=""/>
  <param name="Proxy" value=""/>
  <param name="Route" value="198.51.100.0/24"/>
</policy>
)");
    const RunResult r = RunHost({"--policy", policy, "--duration", "30"});
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut) << Describe(r);
    EXPECT_EQ(r.exitCode, 3) << Describe(r);
    for (const char* line : {"Initialize: 200", "Exec: 1", "done: 0", "released"}) {
        EXPECT_NE(LinePos(r.out, line), std::string::npos) << line << "\n" << Describe(r);
    }
    // It does not wait for the 30 seconds: nothing runs.
    EXPECT_EQ(LinePos(r.out, "running"), std::string::npos) << Describe(r);
    EXPECT_NE(r.err.find("[4] OutlinkWatch: [CPolicy::GetPolicyParams]"), std::string::npos) << Describe(r);
    EXPECT_NE(r.err.find("Invalid parameters Exit!"), std::string::npos) << Describe(r);
    EXPECT_NE(r.err.find("Done out"), std::string::npos) << Describe(r);
}

// Some shared library that certainly lacks the plug-in's entry points.
std::string SomeOtherLibrary() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&std::printf), &info) == 0 || info.dli_fname == nullptr) return "";
    return info.dli_fname;
}

TEST_F(HostTest, BadInputIsRefusedBeforeAnythingStarts) {
    const std::string malformed = Write("malformed.xml", "<policy>\n  <param name=\"Type\" value=\"0\">\n</policy>\n");
    const std::string wrongRoot = Write("wrong-root.xml", "<settings/>\n");
    const std::string unknownElement = Write("unknown.xml", "<policy><parameter name=\"a\" value=\"1\"/></policy>");
    const std::string badLang = Write("bad.ini", "no section here\n");
    const std::string otherLib = SomeOtherLibrary();
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* hint;
    } cases[] = {
        {"missing library", {"--plugin", Path("missing.so")}, "cannot load plug-in"},
        {"not a library", {"--plugin", malformed}, "cannot load plug-in"},
        {"library without the entry points", {"--plugin", otherLib}, "does not export GetInterfaceList"},
        {"missing policy file", {"--policy", Path("missing.xml")}, "missing.xml"},
        {"policy file is a directory", {"--policy", dir_}, "not a regular file"},
        {"malformed XML", {"--policy", malformed}, "line 3: malformed XML"},
        {"wrong root element", {"--policy", wrongRoot}, "not <policy>"},
        {"unknown element", {"--policy", unknownElement}, "unexpected element <parameter>"},
        {"unknown option", {"--frobnicate"}, "--frobnicate"},
        {"stray argument", {"extra"}, "extra"},
        {"non-numeric duration", {"--duration", "soon"}, "--duration"},
        {"negative duration", {"--duration", "-1"}, "--duration"},
        {"duration without value", {"--duration"}, "--duration"},
        {"non-numeric language", {"--language", "en"}, "--language"},
        {"bad server address", {"--comm-address", "192.0.2"}, "--comm-address"},
        {"missing language file", {"--lang", Path("missing.ini")}, "missing.ini"},
        {"damaged language file", {"--lang", badLang}, "line 1"},
        {"log in a missing directory", {"--log", Path("no/such/dir/log")}, "--log"},
        {"events in a missing directory", {"--events", Path("no/such/dir/ev")}, "--events"},
        {"debug log in a missing directory", {"--debug-log", Path("no/such/dir/dbg")}, "--debug-log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.args.size() > 1 && c.args[1].empty()) {
            ADD_FAILURE() << "no path for this case on this machine";
            continue;
        }
        std::vector<std::string> args = c.args;
        // A run that got through would otherwise not end by itself.
        if (args.front() != "--duration") {
            args.push_back("--duration");
            args.push_back("5");
        }
        const RunResult r = RunHost(args);
        ASSERT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut) << Describe(r);
        EXPECT_EQ(r.exitCode, 2) << Describe(r);
        const std::vector<std::string> lines = Lines(r.err);
        ASSERT_EQ(lines.size(), 1u) << Describe(r);
        EXPECT_EQ(lines[0].rfind("outlinkwatch: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(c.hint), std::string::npos) << lines[0];
        EXPECT_EQ(r.out.find("interface:"), std::string::npos) << Describe(r);
        EXPECT_EQ(r.out.find("Exec"), std::string::npos) << Describe(r);
    }
}

TEST_F(HostTest, HelpAndVersionPrintAndExit) {
    const struct {
        const char* option;
        const char* expected;
    } cases[] = {{"--help", "--policy FILE"}, {"-h", "--duration SECONDS"}, {"--version", "outlinkwatch "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const RunResult r = RunHost({c.option});
        EXPECT_EQ(r.exitCode, 0) << Describe(r);
        EXPECT_NE(r.out.find(c.expected), std::string::npos) << Describe(r);
        EXPECT_EQ(r.out.find("interface:"), std::string::npos) << Describe(r);
        EXPECT_TRUE(r.err.empty()) << Describe(r);
    }
}

}  // namespace
