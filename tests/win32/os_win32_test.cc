// The Win32 backend against the system it was built for: Windows, or Wine
// in the cross build (.ci/cross-build.sh). What every backend must do with
// kernel objects and timers is checked over all of them elsewhere; these
// are the services whose answers come from Windows itself.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/win32_api.h"

namespace ow = outlinkwatch;

namespace {

class Win32OsTest : public ::testing::Test {
protected:
    ow::Os* os_ = ow::Os::Default();
};

TEST_F(Win32OsTest, ReadIniStringCopiesCutsAndFallsBack) {
    char dir[MAX_PATH + 1], path[MAX_PATH] = {};
    ASSERT_NE(GetTempPathA(sizeof dir, dir), 0u);
    ASSERT_NE(GetTempFileNameA(dir, "ows", 0, path), 0u);
    std::ofstream(path, std::ios::binary) << "[Main]\r\nProxy=10.0.0.1:8080\r\n[Other]\r\nRoute=1\r\n";
    struct Case {
        const char *section, *key, *def;
        uint32_t size;
        const char* want;
    };
    const Case cases[] = {
        {"Main", "Proxy", "none", 64, "10.0.0.1:8080"},
        {"Main", "Missing", "fallback", 64, "fallback"},
        {"Other", "Proxy", "", 64, ""},
        {"Main", "Proxy", "", 5, "10.0"},  // cut to the buffer, still terminated
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key + " size " + std::to_string(c.size));
        std::string buf(64, 'x');  // a byte left unwritten shows as 'x'
        const uint32_t n = os_->ReadIniString(c.section, c.key, c.def, &buf[0], c.size, path);
        EXPECT_STREQ(buf.c_str(), c.want);
        EXPECT_EQ(n, std::strlen(c.want));
    }
    DeleteFileA(path);
}

TEST_F(Win32OsTest, ResolveTakesDottedAddressesAndRefusesTheRest) {
    ASSERT_TRUE(os_->StartSockets());
    const std::vector<std::pair<std::string, std::vector<uint32_t>>> cases = {
        {"127.0.0.1", {htonl(0x7F000001u)}},
        {"10.1.2.3", {htonl(0x0A010203u)}},
        {"", {}},
        {std::string("127.0.0.1\0.evil", 15), {}},  // not cut at the NUL
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.first.size()) + " bytes");
        std::vector<uint32_t> got{0xDEADBEEFu};
        EXPECT_EQ(os_->ResolveHostIPv4(c.first, &got), !c.second.empty());
        EXPECT_EQ(got, c.second);
    }
    os_->StopSockets();
}

TEST_F(Win32OsTest, AdapterListIsSizedInWholeRecords) {
    EXPECT_EQ(os_->GetAdapters(nullptr, nullptr), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    uint32_t need = 0;
    const uint32_t rc = os_->GetAdapters(nullptr, &need);
    if (rc == ow::kErrorNoData) GTEST_SKIP() << "this system lists no adapter";
    ASSERT_EQ(rc, ow::kErrorBufferOverflow);
    ASSERT_GE(need, ow::kAdapterRecordSize);

    std::vector<ow::AdapterInfo> list;
    uint32_t size = need;
    ASSERT_EQ(os_->GetAdapters(&list, &size), ow::kErrorSuccess);
    ASSERT_FALSE(list.empty());
    for (const ow::AdapterInfo& a : list) {
        SCOPED_TRACE(a.name);
        EXPECT_FALSE(a.name.empty());
        ASSERT_FALSE(a.ipv4.empty());
        for (const std::string& ip : a.ipv4) EXPECT_NE(inet_addr(ip.c_str()), INADDR_NONE) << ip;
    }

    // Room for one record: either the first record, or the need again.
    uint32_t small = 1;
    list.clear();
    const uint32_t smallRc = os_->GetAdapters(&list, &small);
    if (smallRc == ow::kErrorSuccess) {
        EXPECT_FALSE(list.empty());
    } else {
        EXPECT_EQ(smallRc, ow::kErrorBufferOverflow);
        EXPECT_EQ(small, need);
        EXPECT_TRUE(list.empty());
    }
}

TEST_F(Win32OsTest, RouteChangeRequestIsArmedOrRefusedAsNotSupported) {
    ow::Handle event = os_->CreateEventObject(nullptr, true, false);
    ASSERT_NE(event, nullptr);
    const uint32_t rc = os_->NotifyRouteChange(event);
    if (rc == ow::kErrorIoPending) {
        // A second request while the first is out answers the same.
        EXPECT_EQ(os_->NotifyRouteChange(event), ow::kErrorIoPending);
        os_->CancelRouteChange(event);
    }
    os_->CloseObject(event);
    ASSERT_TRUE(rc == ow::kErrorIoPending || rc == ow::kErrorNotSupported) << "answer " << rc;
    if (rc == ow::kErrorNotSupported) {
        // Wine has none: the route monitor asks again once a second and
        // never hears of a change.
        GTEST_SKIP() << "NotifyRouteChange: not supported on this system (error 50)";
    }
}

}  // namespace
