// The Linux filter device's frames (what the stand-in reads off its
// socket) and the plug-in's table of open devices.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"
#include "nfw/nfw_frame.h"
#include "platform/linux/device_linux.h"

namespace outlinkwatch {
namespace {

constexpr uint32_t kDeny = 0x804D21DC;
constexpr uint32_t kCut = 0x804D21BC;

TEST(NfwFrameTest, ReadFrameTable) {
    auto frame = [](uint32_t code, uint32_t length, std::vector<uint8_t> body) {
        std::vector<uint8_t> f(8);
        nfw::PutU32(code, f.data());
        nfw::PutU32(length, f.data() + 4);
        f.insert(f.end(), body.begin(), body.end());
        return f;
    };
    using S = nfw::FrameStatus;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        S status;
        size_t consumed;
        const char* error;
    } cases[] = {
        {"half a header", {0xDC, 0x21, 0x4D}, S::kIncomplete, 0, ""},
        {"deny, body short", frame(kDeny, 8, {3, 2, 1, 10}), S::kIncomplete, 0, ""},
        {"cut and more", frame(kCut, 0, {1, 2}), S::kComplete, 8, ""},
        {"deny 204 bytes", frame(kDeny, 204, {}), S::kMalformed, 0, "at most 200"},
        {"deny 6 bytes", frame(kDeny, 6, {}), S::kMalformed, 0, "not a multiple of 4"},
        {"cut with input", frame(kCut, 4, {0, 0, 0, 0}), S::kMalformed, 0, "input bytes"},
        {"unknown code", frame(0x12345678, 0, {}), S::kMalformed, 0, "0x12345678"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const nfw::FrameResult r = nfw::ReadFrame(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.consumed, c.consumed);
        EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
    }
    // Anything but a plain name is no device (the namespace test opens both cases of one).
    for (const char* bad : {"NFW", "\\\\.\\", "\\\\.\\..", "\\\\.\\a/b", "\\\\?\\NFW"}) {
        EXPECT_EQ(nfw::DeviceFileName(bad), "") << bad;
    }
    // Every kind of plain character at its range's ends, folded to lower case.
    EXPECT_EQ(nfw::DeviceFileName("\\\\.\\azAZ09_-"), "azaz09_-");
    const std::string longest(64, 'n');
    EXPECT_EQ(nfw::DeviceFileName("\\\\.\\" + longest) + "|" + nfw::DeviceFileName("\\\\.\\n" + longest), longest + "|");
}

// A closed device leaves the table: its handle closes nothing opened after
// it, though that connection may get the same descriptor.
TEST(NfwDeviceTableTest, AClosedHandleReachesNoLaterDevice) {
    TempDir dir;
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un at = {AF_UNIX, {}};
    nfw::DeviceSocketPath(dir.path(), "nfw").copy(at.sun_path, sizeof(at.sun_path) - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof(at)) + listen(listener, 4), 0);
    const ScopedEnv devices(nfw::kDeviceDirVariable, dir.path());
    linuxdev::DeviceTable table;
    const DeviceHandle first = table.Open("\\\\.\\nfw", kOpenExisting);
    EXPECT_TRUE(table.Close(first));
    const DeviceHandle second = table.Open("\\\\.\\NFW", kCreateAlways);
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(table.Close(first));
    EXPECT_TRUE(table.Close(second));
    close(listener);
}

}  // namespace
}  // namespace outlinkwatch
