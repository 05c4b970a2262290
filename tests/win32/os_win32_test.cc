// The Win32 backend against the system it was built for: Windows, or Wine
// in the cross build (.ci/cross-build.sh). What every backend keeps (profile
// strings among it) is the contract test's; these are answers that come
// from Windows itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/win32_api.h"

namespace ow = outlinkwatch;

namespace {

TEST(Win32OsTest, ResolutionIsNotCutAtAnEmbeddedNul) {
    ow::Os* os = ow::Os::Default();
    std::vector<uint32_t> got{0xDEADBEEFu};
    EXPECT_FALSE(os->ResolveHostIPv4(std::string("127.0.0.1\0.evil", 15), &got));
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(os->ResolveHostIPv4("10.1.2.3", &got));
    EXPECT_EQ(got, std::vector<uint32_t>{htonl(0x0A010203u)});
}

// The utility library's calls as Windows (or Wine) answers them.
TEST(Win32OsTest, SystemFilesAndAccounts) {
    ow::Os* os = ow::Os::Default();
    char sys[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryA(sys, sizeof sys), 0u);
    const std::string kernel32 = std::string(sys) + "\\kernel32.dll";
    std::string value;
    EXPECT_TRUE(os->FileVersionItem(kernel32, "FileVersion", &value));
    EXPECT_FALSE(value.empty());
    ow::FileFacts facts;
    ASSERT_TRUE(os->FileAttributes(sys, &facts));
    EXPECT_TRUE(facts.isDirectory);
    ow::CalendarTime t;
    EXPECT_TRUE(os->FileAccessTime(sys, &t)) << "directories open too";
    EXPECT_GE(t.year, 1980);

    const ow::SystemFacts f = os->SystemInfoFacts();
    EXPECT_TRUE(f.nativeVersion);
    EXPECT_EQ(f.processorArchitecture, ow::kArchAMD64);
    EXPECT_EQ(f.systemDirectory, sys);
    std::string name, exe;
    EXPECT_TRUE(os->AccountNameOfSid("S-1-1-0", &name));
    EXPECT_FALSE(name.empty());
    EXPECT_FALSE(os->AccountNameOfSid("S-1-x", &name));
    ASSERT_TRUE(os->ModuleFileName(nullptr, &exe));
    EXPECT_NE(exe.find(".exe"), std::string::npos) << exe;
    std::vector<ow::InterfaceFacts> adapters;
    EXPECT_TRUE(os->NetworkInterfaces(&adapters));
    os->ProcessIsAdministrator();  // either answer; the token walk must hold
}

}  // namespace
