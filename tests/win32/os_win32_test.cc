// The Win32 backend against the system it was built for: Windows, or Wine
// in the cross build (.ci/cross-build.sh). What every backend keeps is the
// contract test's; these are answers that come from Windows itself.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/win32_api.h"

namespace ow = outlinkwatch;

namespace {

TEST(Win32OsTest, ProfileStringsAsTheSystemReaderGivesThem) {
    ow::Os* os = ow::Os::Default();
    char dir[MAX_PATH + 1], path[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(sizeof dir, dir), 0u);
    ASSERT_NE(GetTempFileNameA(dir, "ows", 0, path), 0u);
    std::ofstream(path, std::ios::binary) << "[Main]\r\nProxy=10.0.0.1:8080\r\n[Other]\r\nRoute=1\r\n";
    const struct {
        const char *section, *key, *def;
        uint32_t size;
        const char* want;
    } cases[] = {
        {"Main", "Proxy", "none", 64, "10.0.0.1:8080"},
        {"Main", "Missing", "fallback", 64, "fallback"},
        {"Other", "Proxy", "", 64, ""},
        {"Main", "Proxy", "", 5, "10.0"},  // cut to the buffer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key + " size " + std::to_string(c.size));
        EXPECT_EQ(os->ReadProfileString(c.section, c.key, c.def, path, c.size), c.want);
    }
    DeleteFileA(path);
}

TEST(Win32OsTest, ResolutionIsNotCutAtAnEmbeddedNul) {
    std::vector<uint32_t> got{0xDEADBEEFu};
    EXPECT_FALSE(ow::Os::Default()->ResolveHostIPv4(std::string("127.0.0.1\0.evil", 15), &got));
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(ow::Os::Default()->ResolveHostIPv4("10.1.2.3", &got));
    EXPECT_EQ(got, std::vector<uint32_t>{htonl(0x0A010203u)});
}

}  // namespace
