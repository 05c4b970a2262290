// The filter device on Linux: a Unix stream socket that takes the driver's
// control commands as frames. A frame is the control code (u32,
// little-endian), the input length (u32, little-endian) and that many input
// bytes; the answer is one u32 (little-endian), non-zero for success.
//
// Shared by the Linux backend (which writes frames) and the device stand-in
// (which reads them). Everything here is pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace outlinkwatch {
namespace nfw {

// The driver's two commands.
constexpr uint32_t kSetDenyList = 0x804D21DC;
constexpr uint32_t kCutNetwork = 0x804D21BC;
// The largest deny list the driver takes: 50 entries of 4 bytes.
constexpr uint32_t kMaxDenyListBytes = 200;
constexpr size_t kHeaderBytes = 8;
constexpr size_t kAnswerBytes = 4;

// Where the device sockets live unless OUTLINKWATCH_DEVICE_DIR names
// another directory.
constexpr const char* kDefaultDeviceDir = "/run/outlinkwatch";
constexpr const char* kDeviceDirVariable = "OUTLINKWATCH_DEVICE_DIR";

void PutU32(uint32_t value, uint8_t* out);
uint32_t GetU32(const uint8_t* in);

// One frame ready to send.
std::vector<uint8_t> EncodeFrame(uint32_t code, const void* input, uint32_t length);

// A device path as the policy writes it (\\.\NAME) -> the socket's file
// name: NAME in lower case, since device names are not case-sensitive.
// Empty for anything that is not a plain device name.
std::string DeviceFileName(const std::string& devicePath);

// The socket path of a device in dir (empty: the default directory).
std::string DeviceSocketPath(const std::string& dir, const std::string& fileName);

enum class FrameStatus {
    kIncomplete,  // more bytes are needed
    kComplete,    // a well-formed command; consumed bytes were used
    kMalformed,   // the stream cannot be read on; error says why
};

// A command the device understands. For a deny list the entries are the
// addresses in host order (first dotted number most significant), zero
// entries left out.
struct Command {
    uint32_t code = 0;
    std::vector<uint32_t> denied;
};

struct FrameResult {
    FrameStatus status = FrameStatus::kIncomplete;
    size_t consumed = 0;
    Command command;
    std::string error;
};

// Reads the first frame of data. A frame is refused as soon as its header
// shows that it cannot be a command: an unknown code, a deny list longer
// than kMaxDenyListBytes or not a whole number of entries, a network cut
// with input.
FrameResult ReadFrame(const uint8_t* data, size_t size);

// Dotted text of a host-order address.
std::string DottedAddress(uint32_t hostOrder);

}  // namespace nfw
}  // namespace outlinkwatch
