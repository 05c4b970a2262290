// The interactive user's token and key under HKEY_USERS, on the fake and on
// the Linux backend's /proc scan.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <tuple>

#include "fakes/fake_os.h"
#include "fakes/libc_faults.h"
#include "fakes/open_descriptors.h"
#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"
#include "lumenutil/system_info.h"
#include "platform/linux/hidden_command.h"
#include "platform/linux/users_linux.h"

namespace outlinkwatch {
namespace {

using namespace lumenutil;

TEST(SidTextTest, Table) {
    const struct {
        const char* text;
        bool ok;
        std::vector<uint32_t> subs;  // the authority is 5 in every text that reads
    } cases[] = {
        {"S-1-5-18", true, {18}}, {"S-1-5-21-1-2-3-1001", true, {21, 1, 2, 3, 1001}},
        {"S-1-5-18_Classes", true, {18}}, {"S-1-5-21-x-7", true, {21}},  // reading stops at a field that does not fit
        {"S-1-5-1-2-3-4-5-6-7-8-9", true, {1, 2, 3, 4, 5, 6, 7, 8}}, {"S-1-5-4294967295", true, {4294967295u}},
        {"S-1-5-4294967296", false, {}}, {"S-1-5", false, {}}, {"S-1-5--3", false, {}}, {"s-1-5-18", false, {}},
        {".DEFAULT", false, {}}, {"", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SidValue sid;
        ASSERT_EQ(ParseSidText(c.text, &sid), c.ok);
        if (c.ok) { EXPECT_EQ(std::make_pair(sid.authority, sid.subAuthorities), std::make_pair(uint64_t{5}, c.subs)); }
    }
}

TEST(CurrentUserSidTest, OnTheFake) {
    const std::string alice = "S-1-5-21-7-8-9-1001", bob = "S-1-5-21-7-8-9-1002", ui = "AGENTUI.exe";
    const std::vector<std::string> keys = {".DEFAULT", "S-1-5-18", alice + "_Classes", bob, alice};
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> processes;  // image, user SID
        bool listFails, keysOk;
        std::vector<std::string> keys;
        std::string asked;
        uint32_t tokenCode, code;
        std::string key;  // "untouched" when not written
    } cases[] = {
        {"found, case ignored", {{"agentui.EXE", alice}}, false, true, keys, ui, UTIL_OK, UTIL_OK, alice},
        {"first process decides", {{ui, bob}, {ui, alice}}, false, true, keys, ui, UTIL_OK, UTIL_OK, bob},
        {"keys compare as SIDs", {{ui, alice}}, false, true, {"S-1-5-0021-7-8-9-1001"}, ui, UTIL_OK, UTIL_OK,
         "S-1-5-0021-7-8-9-1001"},
        {"the last match wins", {{ui, alice}}, false, true, {alice, "S-1-9-21-7-8-9-1001", alice + "-"}, ui, UTIL_OK,
         UTIL_OK, alice + "-"},
        {"not running", {{"other.exe", alice}}, false, true, keys, ui, UTIL_E_NOPROCESS, UTIL_E_NOPROCESS, "untouched"},
        {"no process list", {{ui, alice}}, true, true, keys, ui, UTIL_E_SNAPSHOT, UTIL_E_NOPROCESS, "untouched"},
        {"empty name", {{ui, alice}}, false, true, keys, "", UTIL_E_INVALIDARG, UTIL_E_NOPROCESS, "untouched"},
        {"no HKEY_USERS", {{ui, alice}}, false, false, keys, ui, UTIL_OK, UTIL_E_OPENKEY, "untouched"},
        {"only class keys", {{ui, alice}}, false, true, {alice + "_Classes", ".default"}, ui, UTIL_OK, UTIL_E_NOUSERSID,
         "untouched"},
        {"token user unreadable", {{ui, ""}}, false, true, keys, ui, UTIL_OK, UTIL_E_NOUSERSID, "untouched"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs fake;
        Os* previous = SetOsForTesting(&fake);
        for (const auto& p : c.processes) fake.processes.push_back({p.first, p.second, "user", "/home/user", 3});
        fake.processListFails = c.listFails;
        fake.userKeysOk = c.keysOk;
        fake.userKeys = c.keys;
        Handle token = nullptr;
        uint32_t session = 0;
        EXPECT_EQ(LumenSystemInfo::GetTokenByName(c.asked, token, session), c.tokenCode);
        EXPECT_EQ(session, c.tokenCode == UTIL_OK ? 3u : 0u);
        EXPECT_EQ(fake.OpenTokens(), c.tokenCode == UTIL_OK ? 1u : 0u);
        { CAutoCloseHandle guard(token); }
        EXPECT_EQ(token, nullptr);
        std::string key = "untouched";
        EXPECT_EQ(LumenSystemInfo::GetCurrentUserSID(c.asked, key), c.code);
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(fake.OpenTokens(), 0u) << "the token is closed on every path";
        SetOsForTesting(previous);
    }
}

// The /proc scan finds this very test process by its own name, whatever
// the case and with or without ".exe", and names its user's key. The name
// is one no other process has (other test processes run meanwhile).
TEST(LinuxUsersTest, FindsItselfInProc) {
    std::unique_ptr<Os> os(NewDefaultOs());
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string self = "ow-self-" + std::to_string(getpid() % 10000000);
    char own[16] = {};
    ASSERT_EQ(prctl(PR_GET_NAME, own) | prctl(PR_SET_NAME, self.c_str()), 0);
    std::string key, user, home;
    EXPECT_TRUE(CurrentUserSid(os.get(), self + ".EXE", key) == UTIL_OK && key == "S-1-22-1-" + std::to_string(getuid())) << key;
    Handle token = nullptr;
    uint32_t session = ~0u;  // the session of whichever process of that name comes first: written, whatever it is
    ASSERT_TRUE(TokenByName(os.get(), self, token, session) == UTIL_OK && session != ~0u);
    EXPECT_TRUE(os->Users()->ImpersonatedUserName(token, &user));
    const std::string callerHome = getenv("HOME") ? getenv("HOME") : "";
    setenv("OW_EXPAND_TEST", "x:y", 1), setenv("HOME", "relative", 1);  // no full path: the password database's home
    EXPECT_TRUE(os->Users()->ExpandForUser(token, "%UserProfile%|%APPDATA%|%nosuch%|%ow_expand_test%", &home));
    callerHome.empty() ? unsetenv("HOME") : setenv("HOME", callerHome.c_str(), 1);
    const struct passwd* pw = getpwuid(getuid());
    EXPECT_EQ(user + ":" + home,
              std::string(pw->pw_name) + ":" + pw->pw_dir + "|" + pw->pw_dir + "|%nosuch%|x:y");
    EXPECT_TRUE(os->Users()->ExpandEnvironment("%nosuch%|%OW_expand_test%", &home) && home == "%nosuch%|x:y") << home;
    std::vector<std::string> keys;  // the two every system has, then each user with a process, once
    EXPECT_TRUE(os->Users()->UserKeyNames(&keys) && keys.size() > 2 && keys[0] == ".DEFAULT" && keys[1] == "S-1-5-18" &&
                std::count(keys.begin(), keys.end(), key) == 1);
    std::vector<DirEntry> entries;
    EXPECT_FALSE(os->Users()->ImpersonatedUserName(nullptr, &user) || os->Users()->ExpandForUser(nullptr, "", &home) ||
                 os->Files()->ListUserDirectory(key, exe, 8, &entries) || os->System()->UnloadModule(nullptr) ||
                 os->Users()->UserKeyNames(nullptr));
    TempDir listed;  // a folder and a file in it, each judged itself, and no more entries than asked for
    ASSERT_TRUE(std::filesystem::create_directory(listed.path() + "/d") && std::ofstream(listed.path() + "/f"));
    std::string kinds;
    EXPECT_TRUE(os->Files()->ListUserDirectory(key, listed.path(), 8, &entries));
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    for (const DirEntry& e : entries) kinds += e.name + (e.isDirectory ? "/ " : " ");
    EXPECT_EQ(kinds, "./ ../ d/ f ");
    EXPECT_TRUE(os->Files()->ListUserDirectory(key, listed.path(), 3, &entries) && entries.size() == 3);
    EXPECT_EQ(os->Kernel()->WaitForObjects(&token, 1, 0), kWaitFailed) << "a token is no waitable object";
    const long fds = OpenDescriptors();  // reads (one stopped early) leave no descriptor behind
    EXPECT_EQ(os->Files()->ReadUserFile(key, exe, [](std::string_view) { return false; }), UserFileRead::kRead);
    for (const int error : {EINTR, EIO}) {  // an interrupted read is made again, a failed one fails the reading
        std::string text;
        libcfaults::Fail(libcfaults::kRead, error);
        EXPECT_EQ(os->Files()->ReadUserFile(key, exe, [](std::string_view) { return false; }),
                  error == EINTR ? UserFileRead::kRead : UserFileRead::kFailed);
        libcfaults::Fail(libcfaults::kRead, error);
        EXPECT_EQ(linuxusers::ReadWholeFile(exe, 16, &text), error == EINTR);
        EXPECT_EQ(text.size(), error == EINTR ? 16u : 0u);
        libcfaults::Reset();
    }
    EXPECT_FALSE(os->Files()->FileVersionItem(exe, "FileVersion", &user)) << "an ELF file has no version resource";
    EXPECT_EQ(OpenDescriptors(), fds);
    EXPECT_TRUE(os->Kernel()->CloseObject(token));
    prctl(PR_SET_NAME, own);
}

// A hidden command gets the host's environment with the executable's folder
// first on PATH, no signal ignored, only the standard descriptors, /dev/null's.
TEST(LinuxUsersTest, HiddenCommandStartsClean) {
    TempDir dir;
    const std::string out = dir.path() + "/out", exe = std::filesystem::read_symlink("/proc/self/exe").string();
    const ScopedEnv hidden("OW_HIDDEN", "kept");
    const int leaked = open("/dev/null", O_RDONLY);
    const auto hup = signal(SIGHUP, SIG_IGN);
    EXPECT_TRUE(Os::Default()->Users()->StartHiddenCommand("cmd /C (grep ^SigIgn /proc/self/status; ls /proc/self/fd; "
                                                           "echo $OW_HIDDEN $PATH; readlink /proc/self/fd/2) >" + out +
                                                           "~; mv " + out + "~ " + out));
    signal(SIGHUP, hup), close(leaked);
    EXPECT_FALSE(Os::Default()->Users()->StartHiddenCommand("cmd /C ")) << "nothing to run";
    std::string text;
    for (int i = 0; i < 1000 && !linuxusers::ReadWholeFile(out, 4096, &text); ++i) usleep(10000);
    EXPECT_EQ(text, "SigIgn:\t0000000000000000\n0\n1\n2\n3\nkept " + exe.substr(0, exe.rfind('/')) + ":" + getenv("PATH") +
                        "\n/dev/null\n");
}

// The command's start through failing system calls: a refused fork (ours,
// or the one that gives the command a group of its own) is a failed start;
// an interrupted wait is waited again; a child the system reaped itself
// (SIGCHLD ignored) started; any other failed wait did not.
TEST(LinuxUsersTest, HiddenCommandThroughFailingCalls) {
    using namespace libcfaults;
    const struct {
        Call call;
        int error, pass;
        bool started, ok;
    } rows[] = {
        {kFork, EAGAIN, 0, false, false},   {kFork, EAGAIN, 1, true, false},    {kWaitpid, EINTR, 0, true, true},
        {kWaitpid, ECHILD, 0, true, true}, {kWaitpid, EINVAL, 0, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.call) + " fails with " + strerror(row.error) + " after " +
                     std::to_string(row.pass));
        pid_t group = 0;
        Fail(row.call, row.error, 1, row.pass);
        EXPECT_EQ(linuxcmd::StartHiddenCommand("cmd /C true", "/usr/bin", [&](pid_t g) { group = g; }), row.ok);
        Reset();
        EXPECT_EQ(group != 0, row.started);
        if (group != 0) waitpid(group, nullptr, 0);  // a failed wait left it
    }
}

// The finder returns the process it found last while that one answers to
// the name, else scans. The processes: this one, renamed at will, and a
// child that starts with its name.
TEST(LinuxUsersTest, FinderRemembersWhileTheProcessAnswers) {
    char own[16] = {};
    ASSERT_EQ(prctl(PR_GET_NAME, own) | prctl(PR_SET_NAME, "ow-memo-a"), 0);
    pid_t child = fork();
    if (child == 0) for (;;) pause();
    const auto endChild = [&child] {
        if (child > 0 && kill(child, SIGKILL) == 0) waitpid(child, nullptr, 0);
        child = -1;
    };
    const std::shared_ptr<void> restore(nullptr, [&](void*) { endChild(), prctl(PR_SET_NAME, own); });
    if (child < getpid()) GTEST_SKIP() << "pids came round: the child is listed first";
    const uint32_t pids[] = {static_cast<uint32_t>(getpid()), static_cast<uint32_t>(child)};
    const struct {
        const char* step;
        const char* rename;  // this process's new name, nullptr to keep it
        bool endChild;
        const char* asked;
        int found;  // index in pids, -1 none
    } steps[] = {
        {"the scan finds the first in /proc order", nullptr, false, "ow-memo-a", 0},
        {"the one found took another name", "ow-memo-b", false, "ow-memo-a", 1},
        {"the one found stays while it answers", "ow-memo-a", false, "OW-MEMO-A.exe", 1},
        {"the one found ended", nullptr, true, "ow-memo-a", 0},
        {"nothing answers", "ow-memo-b", false, "ow-memo-a", -1},
    };
    linuxusers::ProcessFinder finder;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        ASSERT_EQ(s.rename != nullptr ? prctl(PR_SET_NAME, s.rename) : 0, 0);
        if (s.endChild) endChild();
        linuxusers::ProcessIds ids;
        EXPECT_EQ(finder.Find(s.asked, &ids), s.found < 0 ? UserStatus::kNoProcess : UserStatus::kOk);
        if (s.found >= 0) {
            EXPECT_EQ(std::make_tuple(ids.pid, ids.uid, ids.gid), std::make_tuple(pids[s.found], getuid(), getgid()));
        }
    }
}

// A process's names and ids from its /proc texts (exe link, cmdline, comm,
// status), and whether it answers to a name. The kernel's name holds 15
// bytes; the full names win when they are known.
TEST(LinuxUsersTest, ProcTexts) {
    const std::string rows[][6] = {
        {"/usr/bin/wine64-preloader (deleted)", std::string("C:\\ui\\AGENTUI.EXE\0-x", 20), "AGENTUI.exe\n",
         "Name:\tx\nUid:\t1000\t0\nGid:100\n", "AGENTUI.exe", "wine64-preloader|AGENTUI.EXE|AGENTUI.exe|1000|100|1 settled"},
        {" (deleted)", "/bin/sh", std::string("a\0b\n", 4), "Uid:\t1\nGid:\t2", "a", " (deleted)|sh|a|no|1"},
        {"/x/", "", "", "Name:\nUid:\t42949672950\nGid:\t209", "", "|||no|0"},
        {"", "", "\n", "Name:\nUid:\t4294967295\nGid:\tx", "x", "|||no|0 settled"},
        {"", "", "", "Name:\nGid: 7\nUid: 4294967295z", "x", "|||4294967295|7|0 settled"},
        {"", "", "ow_integration_\n", "", "OW_INTEGRATION_TESTS.EXE", "||ow_integration_|no|1"},
        {"", "", "ow_integratio.e\n", "", "OW_INTEGRATIO.EXE", "||ow_integratio.e|no|1"},  // only with ".exe" is it cut
        {"/x/other", "", "ow_integration_", "", "ow_integration_tests", "other||ow_integration_|no|0"},
        {"/opt/agentui", "/opt/agentui", "agentui", "", "agent", "agentui|agentui|agentui|no|0"},
        {"/x/.exe", "", "", "", ".exe", ".exe|||no|0"},  // no name is asked for
    };
    for (const auto& r : rows) {
        const linuxusers::ProcessNames n = linuxusers::NamesFromProcTexts(r[0], r[1], r[2]);
        linuxusers::ProcessIds ids;
        const bool ok = linuxusers::IdsFromStatus(r[3], &ids);
        EXPECT_EQ(n.exeBase + "|" + n.argv0Base + "|" + n.comm + "|" +
                      (ok ? std::to_string(ids.uid) + "|" + std::to_string(ids.gid) : "no") + "|" +
                      (linuxusers::ImageNameMatches(r[4], n) ? "1" : "0") +
                      (linuxusers::IdsSettledIn(r[3]) ? " settled" : ""),
                  r[5]) << r[3];
    }
}

}  // namespace
}  // namespace outlinkwatch
