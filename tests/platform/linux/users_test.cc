// The interactive user's token and key under HKEY_USERS, on the fake and on
// the Linux backend's /proc scan.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <filesystem>

#include "fakes/fake_os.h"
#include "lumenutil/system_info.h"
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
        if (c.ok) {
            EXPECT_EQ(sid.subAuthorities, c.subs);
            EXPECT_EQ(sid.authority, 5u);
        }
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
// the case and with or without ".exe", and names its user's key.
TEST(LinuxUsersTest, FindsItselfInProc) {
    std::unique_ptr<Os> os(NewDefaultOs());
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    std::string upper = self;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const std::string& name : {self, upper, self + ".exe", upper + ".EXE"}) {
        std::string key;
        EXPECT_EQ(CurrentUserSid(os.get(), name, key), UTIL_OK) << name;
        EXPECT_EQ(key, "S-1-22-1-" + std::to_string(getuid())) << name;
    }
    // Renamed, it answers to its kernel name too, though no file is so named.
    char own[16] = {};
    ASSERT_EQ(prctl(PR_GET_NAME, own), 0);
    ASSERT_EQ(prctl(PR_SET_NAME, "ow-renamed"), 0);
    std::string renamedKey;
    EXPECT_EQ(CurrentUserSid(os.get(), "OW-Renamed.exe", renamedKey), UTIL_OK);
    prctl(PR_SET_NAME, own);
    Handle token = nullptr;
    uint32_t session = 0;
    ASSERT_EQ(TokenByName(os.get(), self, token, session), UTIL_OK);
    std::string user, home;
    EXPECT_TRUE(os->Users()->ImpersonatedUserName(token, &user));
    EXPECT_TRUE(os->Users()->ExpandForUser(token, "%UserProfile%|%APPDATA%|%nosuch%", &home));
    const struct passwd* pw = getpwuid(getuid());
    EXPECT_EQ(user + ":" + home, std::string(pw->pw_name) + ":" + pw->pw_dir + "|" + pw->pw_dir + "|%nosuch%");
    EXPECT_EQ(os->Kernel()->WaitForObjects(&token, 1, 0), kWaitFailed) << "a token is no waitable object";
    EXPECT_TRUE(os->Kernel()->CloseObject(token));
    std::string none = "untouched";
    EXPECT_EQ(CurrentUserSid(os.get(), "no-such-program-here.exe", none), UTIL_E_NOPROCESS);
    EXPECT_EQ(none, "untouched");
    // A user id without an account has no name and no home.
    std::string name = "untouched";
    EXPECT_FALSE(linuxusers::PasswdEntry(4000000000u, &name, &home));
    EXPECT_EQ(name, "untouched");
}

// The kernel's name holds 15 bytes; the full names win when they are known.
TEST(LinuxUsersTest, ImageNameMatching) {
    const struct {
        const char* asked;
        linuxusers::ProcessNames names;  // executable, first argument, kernel's name
        bool match;
    } cases[] = {
        {"OW_INTEGRATION_TESTS.EXE", {"", "", "ow_integration_"}, true},
        {"ow_integration_tests", {"other", "", "ow_integration_"}, false},
        {"AGENTUI.exe", {"wine64-preloader", "C:\\agent\\AGENTUI.EXE", "AGENTUI.exe"}, true},
        {"agent", {"agentui", "/opt/agentui", "agentui"}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(linuxusers::ImageNameMatches(c.asked, c.names), c.match) << c.asked;
}

// A process's names and ids from its /proc texts: exe link, cmdline, comm, status.
TEST(LinuxUsersTest, ProcTexts) {
    const std::string rows[][5] = {
        {"/usr/bin/agentui (deleted)", std::string("C:\\ui\\AGENTUI.EXE\0-x", 20), "AGENTUI.exe\n",
         "Name:\tx\nUid:\t1000\t0\nGid: 100\n", "agentui|AGENTUI.EXE|AGENTUI.exe|1000|100"},
        {" (deleted)", "/bin/sh", std::string("a\0b\n", 4), "Uid:\t1\nGid:\t2", " (deleted)|sh|a|no"},
        {"/x/", "", "", "Name:\nUid:\t4294967296\nGid:\t2", "|||no"},
        {"", "", "\n", "Name:\nUid:\t4294967295\nGid:\tx", "|||no"},
        {"", "", "", "Name:\nGid: 7\nUid: 4294967295z", "|||4294967295|7"},
    };
    for (const auto& r : rows) {
        const linuxusers::ProcessNames n = linuxusers::NamesFromProcTexts(r[0], r[1], r[2]);
        linuxusers::ProcessIds ids;
        const bool ok = linuxusers::IdsFromStatus(r[3], &ids);
        EXPECT_EQ(n.exeBase + "|" + n.argv0Base + "|" + n.comm + "|" +
                      (ok ? std::to_string(ids.uid) + "|" + std::to_string(ids.gid) : "no"), r[4]) << r[3];
    }
}

}  // namespace
}  // namespace outlinkwatch
