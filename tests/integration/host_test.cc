// The reference host run as the user runs it: a child process with its
// stderr in a pipe read with a deadline, killed if it overstays.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fakes/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;  // -1 when it did not exit by itself
    std::string out, err;
};

// Where the first line at or after byte `from` that starts with prefix begins, or npos.
size_t LineStarting(const std::string& text, const std::string& prefix, size_t from = 0) {
    return ("\n" + text).find("\n" + prefix, from);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a host with stdout going to outFile; sends stopSignal once stderr has
// the line "running". A child still there after 30 s (a loaded machine under
// a sanitizer) is killed.
RunResult RunHost(std::vector<std::string> args, int stopSignal, const std::string& outFile) {
    RunResult r;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int err[2];
    const pid_t pid = pipe2(err, O_CLOEXEC) == 0 ? fork() : -1;
    if (pid == 0) {  // the signal state a shell would give it, whatever the test runner's is
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGINT, SIGTERM, SIGPIPE}) signal(s, SIG_DFL);
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(err[1], 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0) return r;
    close(err[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool closed = false;  // the child closed stderr: it has ended
    while (!closed) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{err[0], POLLIN, 0};
        if (left.count() <= 0 || (poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)) break;
        char buf[4096];
        const ssize_t got = p.revents != 0 ? read(err[0], buf, sizeof(buf)) : -1;
        if (got > 0) r.err.append(buf, static_cast<size_t>(got));
        closed = got == 0 || (got < 0 && p.revents != 0 && errno != EINTR);
        if (stopSignal != 0 && LineStarting(r.err, "running") != std::string::npos) {
            kill(pid, std::exchange(stopSignal, 0));
        }
    }
    if (!closed) kill(pid, SIGKILL);  // overstayed
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    close(err[0]);
    r.out = ReadFile(outFile);
    return r;
}

const std::string kHost = OW_HOST_PATH;

class HostTest : public testing::Test {
protected:
    void SetUp() override {
        if (kHost.empty()) GTEST_SKIP() << "the host is not built (OW_BUILD_HOST=OFF)";
    }
    std::string Path(const std::string& name) const { return tmp_.path() + "/" + name; }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name)) << text;
        return Path(name);
    }
    // The host as an installation has it: a directory of its own with the
    // language texts and, if asked for, the plug-in beside it.
    std::string CopyHost(const std::string& name, bool withPlugin) const {
        fs::create_directories(Path(name + "/lang"));
        fs::copy_file(fs::path(kHost).parent_path() / "lang/en.ini", Path(name + "/lang/en.ini"));
        if (withPlugin) fs::copy_file(OW_PLUGIN_PATH, Path(name + "/libOutlinkWatch.so"));
        fs::copy_file(kHost, Path(name + "/outlinkwatch"));
        return Path(name + "/outlinkwatch");
    }
    TempDir tmp_;
};

// What stderr shows of a clean run, in order.
std::vector<std::string> CleanRun(const std::string& host, const std::string& stop) {
    return {"interface: IPolicy", "version: 1.0.0.0", "class id: {",
            "plug-in: " + fs::path(host).parent_path().string() + "/libOutlinkWatch.so", "Initialize: 200", "Exec: 0",
            "running", stop, "done: 0", "released"};
}

TEST_F(HostTest, RunsStopsOrRefusesWithItsExitCodeAndOnlyJsonOnStdout) {
    const std::string refused = Write("refused.xml", R"(<policy><param name="Type" value="0"/>
  <param name="TrancertAddr" value=""/><param name="ConnectAddr" value=""/><param name="Proxy" value=""/></policy>)");
    const std::string malformed = Write("bad.xml", "<policy>\n  <param name=\"Type\" value=\"0\">\n</policy>\n");
    ASSERT_EQ(mkfifo(Path("fifo.xml").c_str(), 0600), 0);  // opening it to read would wait for a writer
    Dl_info libc{};  // a library that certainly lacks the plug-in's entry points
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::printf), &libc), 0);
    const std::string copied = CopyHost("installed", true), alone = CopyHost("alone", false);
    const std::string debugLog = Path("debug.log");
    // Another user's links in a folder everyone may write, to a file of ours.
    const std::string victim = Write("victim", ""), shared = Path("shared");
    ASSERT_TRUE(fs::create_directory(shared) && chmod(shared.c_str(), 01777) == 0);
    for (const char* name : {"/events", "/log", "/debug"}) {
        ASSERT_EQ(symlink(victim.c_str(), (shared + name).c_str()), 0);
    }
    // Exit code 2 is one line on stderr and nothing started; the others are runs.
    const struct { const char* what; std::vector<std::string> args; int signal, code; std::vector<std::string> err; }
        cases[] = {
            {"SIGINT", {kHost, "--duration", "20"}, SIGINT, 0, CleanRun(kHost, "stop: SIGINT")},
            {"with the device stand-in", {kHost, "--duration", "0", "--nfw"}, 0, 0,
             {"nfw: listening on /tmp/outlinkwatch-nfw-", "interface: IPolicy", "running", "nfw: deny list lifted",
              "nfw: stopping on SIGTERM"}},
            {"copied host finds the plug-in beside it", {copied, "--duration", "1", "--debug-log", debugLog}, 0, 0,
             CleanRun(copied, "stop: duration elapsed")},
            {"policy refuses its parameters", {kHost, "--policy", refused, "--duration", "1"}, 0, 3,
             {"Initialize: 200", "Exec: 1", "done: 0", "released"}},
            {"copied host without the plug-in", {alone, "--duration", "1"}, 0, 2,
             {"outlinkwatch: cannot load plug-in: " + Path("alone/libOutlinkWatch.so")}},
            {"no entry points", {kHost, "--plugin", libc.dli_fname}, 0, 2, {"outlinkwatch: plug-in "}},
            {"missing policy file", {kHost, "--policy", Path("no.xml")}, 0, 2, {"outlinkwatch: policy file: cannot"}},
            {"FIFO policy file", {kHost, "--policy", Path("fifo.xml")}, 0, 2, {"outlinkwatch: policy file: /"}},
            {"malformed XML", {kHost, "--policy", malformed}, 0, 2,
             {"outlinkwatch: policy file " + malformed + ": line 3: malformed XML"}},
            {"unknown option", {kHost, "--frobnicate"}, 0, 2, {"outlinkwatch: The following argument was not"}},
            {"events through a link", {kHost, "--events", shared + "/events"}, 0, 2,
             {"outlinkwatch: --events: refused \"" + shared + "/events\": it is a symbolic link"}},
            {"log through a link", {kHost, "--log", shared + "/log"}, 0, 2, {"outlinkwatch: --log: refused \""}},
            {"debug log through a link", {kHost, "--debug-log", shared + "/debug"}, 0, 2,
             {"outlinkwatch: --debug-log: refused \""}},
            {"log into a FIFO", {kHost, "--log", Path("fifo.xml")}, 0, 2, {"outlinkwatch: --log: cannot open \""}},
        };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RunResult r = RunHost(c.args, c.signal, Path("stdout"));
        const std::string shown = "exit " + std::to_string(r.exitCode) + "\n-- out\n" + r.out + "-- err\n" + r.err;
        EXPECT_EQ(r.exitCode, c.code) << shown;
        std::istringstream out(r.out);
        for (std::string line; std::getline(out, line);) EXPECT_TRUE(nlohmann::json::accept(line)) << line;
        size_t at = 0;
        for (const std::string& prefix : c.err) {
            at = LineStarting(r.err, prefix, at);
            ASSERT_NE(at, std::string::npos) << "\"" << prefix << "\" missing or out of order\n" << shown;
            ++at;
        }
        EXPECT_EQ(c.code == 2, std::count(r.err.begin(), r.err.end(), '\n') == 1) << shown;
        EXPECT_EQ(c.code == 0, LineStarting(r.err, "running") != std::string::npos) << shown;
    }
    EXPECT_NE(ReadFile(debugLog).find("A CPolicy object was deleted!\n"), std::string::npos);
    EXPECT_EQ(ReadFile(victim), "") << "nothing written through a link";
}

}  // namespace
