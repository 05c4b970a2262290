// The Win32 backend against the system it was built for: Windows, or Wine
// in the cross build (.ci/cross-build.sh). What every backend keeps (profile
// strings among it) is the contract test's; these are answers that come
// from Windows itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/win32_api.h"

namespace {

TEST(Win32OsTest, ResolutionIsNotCutAtAnEmbeddedNul) {
    outlinkwatch::Os* os = outlinkwatch::Os::Default();
    std::vector<uint32_t> got{0xDEADBEEFu};
    EXPECT_FALSE(os->ResolveHostIPv4(std::string("127.0.0.1\0.evil", 15), &got));
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(os->ResolveHostIPv4("10.1.2.3", &got));
    EXPECT_EQ(got, std::vector<uint32_t>{htonl(0x0A010203u)});
}

}  // namespace
