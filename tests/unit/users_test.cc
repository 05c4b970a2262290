// The interactive user's token and key under HKEY_USERS, on the fake and on
// the Linux backend's /proc scan.
#include <gtest/gtest.h>
#include <pwd.h>
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
        uint64_t authority;
        std::vector<uint32_t> subs;
    } cases[] = {
        {"S-1-5-18", true, 5, {18}},
        {"S-1-5-21-1-2-3-1001", true, 5, {21, 1, 2, 3, 1001}},
        {"S-1-22-1-1000", true, 22, {1, 1000}},
        {"S-1-5-18_Classes", true, 5, {18}},  // reading stops at the first field that does not fit
        {"S-1-5-21-x-7", true, 5, {21}},
        {"S-1-5-1-2-3-4-5-6-7-8-9", true, 5, {1, 2, 3, 4, 5, 6, 7, 8}},  // past the eighth: ignored
        {"S-1-5-4294967295", true, 5, {4294967295u}},
        {"S-1-5-4294967296", false, 0, {}},  // 33 bits
        {"S-1-5", false, 0, {}},
        {"S-1-5--3", false, 0, {}},
        {"s-1-5-18", false, 0, {}},
        {".DEFAULT", false, 0, {}},
        {"", false, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SidValue sid;
        ASSERT_EQ(ParseSidText(c.text, &sid), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(sid.authority, c.authority);
        EXPECT_EQ(sid.subAuthorities, c.subs);
    }
}

TEST(CurrentUserSidTest, OnTheFake) {
    const std::string alice = "S-1-5-21-7-8-9-1001", bob = "S-1-5-21-7-8-9-1002";
    const std::vector<std::string> keys = {".DEFAULT", "S-1-5-18", alice + "_Classes", bob, alice};
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> processes;  // image, user SID
        bool listFails, keysOk;
        std::vector<std::string> keys;
        const char* asked;
        uint32_t code;
        std::string key;  // "untouched" when not written
    } cases[] = {
        {"found, case ignored", {{"agentui.EXE", alice}}, false, true, keys, "AGENTUI.exe", UTIL_OK, alice},
        {"first process decides", {{"AGENTUI.exe", bob}, {"AGENTUI.exe", alice}}, false, true, keys, "AGENTUI.exe", UTIL_OK, bob},
        {"keys compare as SIDs", {{"AGENTUI.exe", alice}}, false, true, {"S-1-5-0021-7-8-9-1001"}, "AGENTUI.exe", UTIL_OK,
         "S-1-5-0021-7-8-9-1001"},
        {"the last match wins", {{"AGENTUI.exe", alice}}, false, true, {alice, "S-1-9-21-7-8-9-1001", alice + "-"},
         "AGENTUI.exe", UTIL_OK, alice + "-"},
        {"system account", {{"AGENTUI.exe", "S-1-5-18"}}, false, true, keys, "AGENTUI.exe", UTIL_OK, "S-1-5-18"},
        {"not running", {{"other.exe", alice}}, false, true, keys, "AGENTUI.exe", UTIL_E_NOPROCESS, "untouched"},
        {"no process list", {{"AGENTUI.exe", alice}}, true, true, keys, "AGENTUI.exe", UTIL_E_NOPROCESS, "untouched"},
        {"empty name", {{"AGENTUI.exe", alice}}, false, true, keys, "", UTIL_E_NOPROCESS, "untouched"},
        {"no HKEY_USERS", {{"AGENTUI.exe", alice}}, false, false, keys, "AGENTUI.exe", UTIL_E_OPENKEY, "untouched"},
        {"only a class key", {{"AGENTUI.exe", alice}}, false, true, {alice + "_Classes", ".default"}, "AGENTUI.exe",
         UTIL_E_NOUSERSID, "untouched"},
        {"token user unreadable", {{"AGENTUI.exe", ""}}, false, true, keys, "AGENTUI.exe", UTIL_E_NOUSERSID, "untouched"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs fake;
        for (const auto& p : c.processes) fake.AddProcess(p.first, FakeOs::FakeUser{p.second, "user", "/home/user"});
        fake.SetProcessListFails(c.listFails);
        fake.SetUserKeys(c.keysOk, c.keys);
        std::string key = "untouched";
        EXPECT_EQ(CurrentUserSid(&fake, c.asked, key), c.code);
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(fake.OpenTokens(), 0u) << "the token is closed on every path";
    }
}

TEST(CurrentUserSidTest, TokenByNameCodesAndGuards) {
    FakeOs fake;
    Os* previous = SetOsForTesting(&fake);
    fake.AddProcess("AGENTUI.exe", FakeOs::FakeUser{"S-1-5-18", "SYSTEM", "C:"}, 3);
    Handle token = nullptr;
    uint32_t session = 99;
    EXPECT_EQ(LumenSystemInfo::GetTokenByName("", token, session), UTIL_E_INVALIDARG);
    EXPECT_EQ(LumenSystemInfo::GetTokenByName("AGENTUI.exe", token, session), UTIL_OK);
    EXPECT_EQ(session, 3u);
    {
        CAutoCloseHandle guard(token);
        Handle invalid = InvalidHandleValue();
        CAutoCloseHandle untouched(invalid);  // nothing to close, but the variable is cleared
    }
    EXPECT_EQ(token, nullptr);
    EXPECT_EQ(fake.OpenTokens(), 0u);
    fake.SetProcessListFails(true);
    EXPECT_EQ(LumenSystemInfo::GetTokenByName("AGENTUI.exe", token, session), UTIL_E_SNAPSHOT);
    SetOsForTesting(previous);
}

// The /proc scan finds this very test process by its own name, whatever
// the case and with or without ".exe", and names its user's key.
TEST(LinuxUsersTest, FindsItselfInProc) {
    std::unique_ptr<Os> os(NewDefaultOs());
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    std::string upper = self;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const std::string sid = "S-1-22-1-" + std::to_string(getuid());
    for (const std::string& name : {self, upper, self + ".exe", upper + ".EXE"}) {
        SCOPED_TRACE(name);
        std::string key;
        EXPECT_EQ(CurrentUserSid(os.get(), name, key), UTIL_OK);
        EXPECT_EQ(key, sid);
    }
    Handle token = nullptr;
    uint32_t session = 0;
    ASSERT_EQ(TokenByName(os.get(), self, token, session), UTIL_OK);
    EXPECT_EQ(session, static_cast<uint32_t>(getsid(0)));
    std::string user, home;
    EXPECT_TRUE(os->ImpersonatedUserName(token, &user));
    EXPECT_TRUE(os->ExpandForUser(token, "%UserProfile%|%APPDATA%|%nosuch%", &home));
    const struct passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(user, pw->pw_name);
    EXPECT_EQ(home, std::string(pw->pw_dir) + "|" + pw->pw_dir + "|%nosuch%");
    Handle wait[1] = {token};
    EXPECT_EQ(os->WaitForObjects(wait, 1, 0), kWaitFailed) << "a token is no waitable object";
    EXPECT_FALSE(os->SetEventObject(token));
    EXPECT_TRUE(os->CloseObject(token));
    std::string none = "untouched";
    EXPECT_EQ(CurrentUserSid(os.get(), "no-such-program-here.exe", none), UTIL_E_NOPROCESS);
    EXPECT_EQ(none, "untouched");
}

// The kernel's name holds 15 bytes; the full names win when they are known.
TEST(LinuxUsersTest, ImageNameMatching) {
    const struct {
        const char* asked;
        linuxusers::ProcessNames names;
        bool match;
    } cases[] = {
        {"ow_integration_tests", {"", "", "ow_integration_"}, true},
        {"OW_INTEGRATION_TESTS.EXE", {"", "", "ow_integration_"}, true},
        {"ow_integration_tests", {"other", "", "ow_integration_"}, false},
        {"AGENTUI.exe", {"wine64-preloader", "C:\\agent\\AGENTUI.EXE", "AGENTUI.exe"}, true},
        {"agent", {"agentui", "/opt/agentui", "agentui"}, false},
        {".exe", {"", "", ""}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        EXPECT_EQ(linuxusers::ImageNameMatches(c.asked, c.names), c.match);
    }
}

}  // namespace
}  // namespace outlinkwatch
