// The route tracer and the route report on the fake OS: its scripted
// command runner writes the trace output, its sleeps are compressed.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <dirent.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "fakes/other_user.h"
#include "fakes/conn_check_rig.h"
#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"

namespace outlinkwatch {
namespace {

const std::string kDest = "198.51.100.7";
// An English trace as the command writes it (CR LF line ends).
const std::string kEnglish =
    "\r\nTracing route to 198.51.100.7 over a maximum of 30 hops\r\n\r\n"
    "  1    <1 ms    <1 ms    <1 ms  192.0.2.1\r\n"
    "  2     *        *        *     Request timed out.\r\n"
    "  3    12 ms    11 ms    12 ms  edge.example.net [203.0.113.9]\r\n"
    "  4    14 ms    13 ms    13 ms  198.51.100.7\r\n"
    "\r\nTrace complete.\r\n";
const std::string kEnglishRoute = "\n1 192.0.2.1;\n2 *;\n3 [203.0.113.9];\n4 198.51.100.7;\n";
const std::string kSilent =
    "Tracing route to 198.51.100.7\r\n  1  *  *  *  Request timed out.\r\n  2  *  Request timed out.\r\n"
    "Trace complete.\r\n";

TEST(TraceOutputTest, ParsesHopsByTable) {
    const std::string lf = CRouteTracer::WindowsTextMode(kEnglish);
    const struct {
        const char* name;
        std::string output, destination;
        int32_t osCode;
        std::list<std::string> hops;
        bool answered;
    } cases[] = {
        {"CR LF output, code 108", kEnglish, kDest, 108, {"192.0.2.1", "*", "[203.0.113.9]", kDest}, true},
        {"LF output, code 108: one line, no digit first", lf, kDest, 108, {}, false},
        {"CR LF output, code 109 splits at LF", kEnglish, kDest, 109,
         {"192.0.2.1\r", "*", "[203.0.113.9]\r", kDest}, true},
        {"destination a prefix of an earlier hop", "1 <1 ms 10.0.0.15\n2 1 ms 10.0.0.1\n", "10.0.0.1", 122,
         {"10.0.0.1"}, true},
        {"only silent hops", CRouteTracer::WindowsTextMode(kSilent), kDest, 122, {"*", "*"}, false},
        {"no blank in a digit line, tab-separated", "12345\n1\t192.0.2.1\n \t2 x 192.0.2.9 \t\n", kDest, 122,
         {"192.0.2.9"}, true},
        {"three or five dotted parts", "1 a 1.2.3\n2 a 1.2.3.4.5\n3 a 1..2.3.4\n", kDest, 122, {"*", "*", "1..2.3.4"},
         true},
        {"hop nine; a line led by ':' is no hop", "9 1 ms 192.0.2.9\n:0 1 ms 192.0.2.8\n", kDest, 122, {"192.0.2.9"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::list<std::string> hops;
        bool answered = false;
        EXPECT_EQ(CRouteTracer::ParseTraceOutput(c.output, c.destination, hops, answered, c.osCode), 0);
        EXPECT_EQ(hops, c.hops);
        EXPECT_EQ(answered, c.answered);
    }
}

TEST(TraceOutputTest, CompletionMarkersByTable) {
    const struct { const char* name; std::string bytes, text; } cases[] = {
        {"English, any case", "1 A.B\nTRACE Complete.\n", "1 a.b\ntrace complete.\n"},
        {"GBK words", "X\n\xB8\xFA\xD7\xD9\xCD\xEA\xB3\xC9\xA1\xA3\n", "x\n\xB8\xFA\xD7\xD9\xCD\xEA\xB3\xC9\xA1\xA3\n"},
        {"no marker yet", "Tracing route to x\n  1  192.0.2.1\n", ""},
        {"marker behind a NUL", std::string("1\0trace complete", 16), ""},
        {"marker split by a line end", "trace\ncomplete", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CRouteTracer::CompletedTraceText(c.bytes), c.text);
    }
}

// A fresh temporary directory, and the name a trace's output file takes in it.
class TraceTest : public ::testing::Test {
protected:
    bool FileLeft() { return std::filesystem::exists(file_); }
    TempDir dir_;
    std::string file_ = dir_.path() + "/1700000000";
};

TEST_F(TraceTest, TraceByTable) {
    enum Stop { kNone, kCancel, kExit };
    const std::string unfinished = "\r\nTracing route to 198.51.100.7\r\n  1  <1 ms  192.0.2.1\r\n";
    const struct {
        const char* name;
        bool tempDir;
        uint8_t flag;
        const char* output;  // null: the command writes nothing
        int afterSleeps;
        std::list<uint32_t> allowed;
        Stop stop;
        int stopAt;
        int result, sleeps;
        std::string route;
        uint8_t flagAfter;
        bool started;
    } cases[] = {
        {"output after five polls", true, 1, kEnglish.c_str(), 5, {}, kNone, 0, 3, 5, kEnglishRoute, 1, true},
        {"the first hop allowed", true, 1, kEnglish.c_str(), 0, {0xCB000001u, 0xC0000201u}, kNone, 0, 1, 1,
         "\n1 192.0.2.1;\n", 0, true},
        {"the destination allowed", true, 1, kEnglish.c_str(), 0, {0xC6336407u}, kNone, 0, 1, 1, kEnglishRoute, 0, true},
        {"brackets never match", true, 1, kEnglish.c_str(), 0, {0xCB007109u}, kNone, 0, 3, 1, kEnglishRoute, 1, true},
        {"no hop answers", true, 1, kSilent.c_str(), 0, {0xFFFFFFFFu - 1}, kNone, 0, 4, 1, "\n1 *;\n2 *;\n", 1, true},
        {"never complete: 600 polls", true, 1, unfinished.c_str(), 0, {}, kNone, 0, -2, 600, "", 0, true},
        {"no file at all", true, 1, nullptr, 0, {}, kNone, 0, -2, 600, "", 0, true},
        {"cancelled in the third poll", true, 1, unfinished.c_str(), 0, {}, kCancel, 3, -2, 3, "", 1, true},
        {"stop flag in the second poll", true, 1, unfinished.c_str(), 0, {}, kExit, 2, -2, 2, "", 0, true},
        {"another trace runs", true, 0, kEnglish.c_str(), 0, {}, kNone, 0, -2, 0, "", 0, false},
        {"no temporary directory", false, 1, kEnglish.c_str(), 0, {}, kNone, 0, -2, 0, "", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs fake;
        fake.tempDir = c.tempDir ? dir_.path() : "";
        if (c.output != nullptr) fake.commandOutput = c.output;
        fake.commandDelay = c.afterSleeps;
        CRouteTracer tracer;
        tracer.m_bRouteChanged.store(c.flag);
        std::atomic<int32_t> exiting{0}, pending{0};
        std::vector<uint32_t> slept;
        fake.sleepHook = [&](uint32_t ms) {
            slept.push_back(ms);
            if (static_cast<int>(slept.size()) != c.stopAt) return;
            if (c.stop == kCancel) tracer.m_bRouteChanged.store(1);
            if (c.stop == kExit) exiting.store(1);
        };
        std::string route;
        EXPECT_EQ(tracer.Trace(&fake, StopToken(exiting, pending), 122, kDest, c.allowed, route), c.result);
        EXPECT_EQ(route, c.route);
        EXPECT_EQ(static_cast<int>(slept.size()), c.sleeps);
        for (uint32_t ms : slept) EXPECT_EQ(ms, kTracePollMs);
        EXPECT_EQ(tracer.m_bRouteChanged.load(), c.flagAfter);
        const std::string command = "cmd /C tracert -w 1000 198.51.100.7 >\"" + file_ + "\"";
        EXPECT_EQ(fake.CommandLines(), std::vector<std::string>(c.started ? 1 : 0, command));
        EXPECT_EQ(fake.EndedCommands(), c.started ? 1 : 0) << "the command is ended on every way out";
        EXPECT_FALSE(FileLeft()) << "the output file is deleted on every way out";
    }
}

TEST_F(TraceTest, PrintTracertByTable) {
    const std::string destLine = "Tracert destination: " + kDest;
    const std::string success = "Tracert success, trace info:" + kEnglishRoute;
    const std::string noValid = "No valid responses when tracert : " + destLine;
    const struct {
        const char* name;
        std::string destination, comm, output;
        int report;
        uint8_t flag;
        bool exiting;
        int result;
        std::vector<std::string> logs;
        bool traced = false, settled = false;
    } cases[] = {
        {"loopback", "127.0.0.1", "", kEnglish, 1, 1, false, 1, {"The tracert IP is 127.0.0.1, don't need tracert."}},
        {"the agent's own server", kDest, kDest, kEnglish, 1, 1, false, 0, {}},
        {"no hop answers", kDest, "", kSilent, 1, 1, false, 0, {destLine, "No Response when tracert: " + destLine},
         true},
        {"another server address; an earlier trace ended early", kDest, "192.0.2.200", kEnglish, 0, 0, false, 1,
         {destLine, noValid, success}, true, true},
        {"stopping", kDest, "", kEnglish, 1, 1, true, 0, {destLine, "g_bExit is true when tracert"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConnCheckRig rig;
        rig.fake.tempDir = dir_.path();
        rig.server = c.comm;
        rig.fake.commandOutput = c.output;
        std::vector<uint32_t> slept;
        rig.fake.sleepHook = [&](uint32_t ms) { slept.push_back(ms); };
        rig.check.TracerForTesting().m_bRouteChanged.store(c.flag);
        rig.exiting = c.exiting ? 1 : 0;
        EXPECT_EQ(rig.check.PrintTracert(rig.settings, c.destination, c.report), c.result);
        EXPECT_EQ(rig.sink.tagged, ConnCheckRig::Lines("CPolicy::PrintTracert", c.logs));
        EXPECT_EQ(rig.fake.CommandLines().size(), c.traced ? 1u : 0u);
        EXPECT_EQ(!slept.empty() && slept[0] == kTraceSettleMs, c.settled);
        EXPECT_EQ(rig.check.TracertInfo(), "") << "no row reports a route";
        EXPECT_TRUE(rig.findings.empty() && !FileLeft());
    }
}

// A route passing no allowed hop is reported once, with the texts and key
// of its destination and hops; the list stops at a repeated Exec.
TEST_F(TraceTest, RouteModeReportsOnceAndStopsForNewParameters) {
    ConnCheckRig rig;
    rig.fake.tempDir = dir_.path();
    rig.fake.commandOutput = kEnglish;
    rig.texts = {{"rsRouteAdrr", "Route to "}, {"rsRouteInfo", " passes:"}};
    rig.settings.m_nCheckType = 0;
    rig.settings.m_lstTracertIP = {0xC6336407u};
    EXPECT_EQ(rig.check.Run(rig.settings), 1);
    EXPECT_EQ(rig.check.Run(rig.settings), 1);
    const std::string info = "Route to " + kDest + " passes:" + kEnglishRoute;
    EXPECT_EQ(rig.findings, std::vector<std::string>{info + "|3|3" + kDest + "4" + kEnglishRoute});
    EXPECT_EQ(rig.reactions, std::vector<std::string>{"route"});
    EXPECT_EQ(rig.check.TracertInfo(), info);
    rig.check.ForgetFindings();
    EXPECT_EQ(rig.check.TracertInfo() + rig.check.ConnInfo(), "");
    rig.pending = 1;
    EXPECT_EQ(rig.check.Run(rig.settings), 0);
    EXPECT_EQ(rig.fake.CommandLines().size(), 2u) << "no trace once parameters are pending";
    rig.settings.m_lstTracertIP.clear();
    EXPECT_EQ(rig.check.TraceRouteAddrs(rig.settings), 1) << "nothing to trace";
}

// The Linux backend's directory for the output file, against another user
// who takes its names first in a shared /tmp: its own name, then the seconds.
TEST(TraceTempDirTest, AnotherUserTakesNoNameOfTheTrace) {
    OW_SKIP_UNLESS_ROOT();
    TempDir shared;
    const std::string own = shared.path() + "/outlinkwatch-0", theirs = shared.path() + "/theirs";
    ASSERT_EQ(chmod(shared.path().c_str(), 01777), 0);
    const ScopedEnv tmp("TMPDIR", shared.path());
    for (const std::string squat : {"nothing", "directory", "link", "file"}) {
        SCOPED_TRACE(squat);
        std::filesystem::remove_all(own);
        ASSERT_EQ(AsOtherUser([&] {
                      if (squat == "link") return mkdir(theirs.c_str(), 0777) + symlink(theirs.c_str(), own.c_str());
                      if (squat == "file") return creat(own.c_str(), 0666) < 0 ? 1 : 0;
                      return squat == "directory" ? mkdir(own.c_str(), 0777) : 0;
                  }),
                  0);
        std::string dir;
        ASSERT_TRUE(Os::Default()->Files()->TempDirectory(260, &dir));
        const std::string next = dir + std::to_string(Os::Default()->Clock()->UnixTime32() + 1);
        EXPECT_EQ(AsOtherUser([&] { return mkdir(next.c_str(), 0777) + 1; }), 0) << dir;
        struct stat st;
        EXPECT_TRUE(lstat(dir.substr(0, dir.size() - 1).c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == 0 &&
                    (st.st_mode & 0777) == 0700);
    }
}

// The Linux backend's sleeps returning at once, each after a hook.
class QuickSleepOs : public OsWrapper, ClockWrapper {
public:
    explicit QuickSleepOs(Os* target) : OsWrapper(target), ClockWrapper(target->Clock()) {}
    ClockService* Clock() override { return this; }
    void SleepMs(uint32_t) override { hook(); }
    std::function<void()> hook;
};

// Live processes whose environment holds this entry.
int ProcessesWith(const std::string& entry) {
    int n = 0;
    DIR* proc = opendir("/proc");
    for (dirent* e = proc != nullptr ? readdir(proc) : nullptr; e != nullptr; e = readdir(proc)) {
        std::ifstream in(std::string("/proc/") + e->d_name + "/environ", std::ios::binary);
        for (std::string var; std::getline(in, var, '\0');) n += var == entry;
    }
    if (proc != nullptr) closedir(proc);
    return n;
}

// A tracer that never finishes, on the Linux backend: a trace that gives up
// waiting (stop, cancel, the last poll) ends it with all it started.
TEST(TraceCommandTest, AnAbandonedTraceLeavesNoProcessOfItsCommand) {
    TempDir dir;
    const std::string hang = dir.path() + "/traceroute";
    std::ofstream(hang) << "#!/bin/sh\nexec sleep 1000\n";
    ASSERT_EQ(chmod(hang.c_str(), 0755), 0);
    {
        // Behind the tracert stand-in beside the tests; the mark is inherited
        // by every process of the command.
        const ScopedEnv path("PATH", dir.path() + ":" + (getenv("PATH") != nullptr ? getenv("PATH") : "")),
            mark("OW_HANGING_TRACE", dir.path()), tmp("TMPDIR", dir.path());
        std::unique_ptr<Os> backend(NewDefaultOs());
        QuickSleepOs os(backend.get());
        for (int way = 0; way < 3; ++way) {  // stop, cancel, the last poll
            CRouteTracer tracer;
            tracer.m_bRouteChanged.store(1);
            os.hook = [&] { tracer.m_bRouteChanged.store(way == 1 ? 1 : 0); };
            std::atomic<int32_t> exiting{way == 0 ? 1 : 0}, pending{0};
            std::string route;
            EXPECT_EQ(tracer.Trace(&os, StopToken(exiting, pending), 122, kDest, {}, route), TRACE_ABORTED) << way;
        }
    }
    const std::string entry = "OW_HANGING_TRACE=" + dir.path();
    // A killed process leaves /proc (or its environment empties) soon after.
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ProcessesWith(entry) != 0 && std::chrono::steady_clock::now() < bound) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(ProcessesWith(entry), 0);
}

}  // namespace
}  // namespace outlinkwatch
