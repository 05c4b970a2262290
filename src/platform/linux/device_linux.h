// The filter device on Linux: each open device is a connection to the
// device's Unix stream socket (see nfw_frame.h), each control call one frame
// and its answer. A device that nobody serves cannot be opened.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/os.h"

namespace outlinkwatch {
namespace linuxdev {

// How long one send or receive on the device socket may take.
constexpr int kDeviceIoTimeoutMs = 5000;

class DeviceTable {
public:
    ~DeviceTable();

    // Connects to the socket of the device the path names, in the
    // directory OUTLINKWATCH_DEVICE_DIR names (else the default one). Both
    // dispositions open an existing device: a socket cannot be created by
    // its client.
    DeviceHandle Open(const std::string& path, uint32_t disposition);
    int32_t Control(DeviceHandle device, uint32_t code, const void* input, uint32_t inputLength, uint32_t* returned);
    bool Close(DeviceHandle device);

private:
    int FdOf(DeviceHandle device);

    std::mutex mu_;
    std::map<std::uintptr_t, int> fds_;
    std::uintptr_t next_ = 1;
};

}  // namespace linuxdev
}  // namespace outlinkwatch
