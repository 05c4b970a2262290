// The device service of the OS seam: the filter driver's device.
//
// Result convention: true on success and false on failure.
#pragma once

#include <cstdint>
#include <string>

namespace outlinkwatch {

// An open device, a kind of handle of its own: it cannot be waited on,
// closed as a kernel object or passed where an event is wanted, and an
// event cannot be passed where it is wanted. Empty means none.
class DeviceHandle {
public:
    DeviceHandle() = default;
    explicit DeviceHandle(std::uintptr_t value) : value_(value) {}
    std::uintptr_t value() const { return value_; }
    explicit operator bool() const { return value_ != 0; }
    bool operator==(const DeviceHandle& other) const { return value_ == other.value_; }
    bool operator!=(const DeviceHandle& other) const { return value_ != other.value_; }

private:
    std::uintptr_t value_ = 0;
};

// Creation dispositions of a device open, with their Windows values.
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;

class DeviceService {
public:
    virtual ~DeviceService() = default;

    // CreateFileA of a device path (\\.\NFW): read and write access, no
    // sharing, normal attributes, the given creation disposition
    // (kCreateAlways, kOpenExisting).
    virtual bool OpenDevice(const std::string& path, uint32_t disposition, DeviceHandle* device) = 0;
    // DeviceIoControl with an input buffer and no output buffer; *returned
    // gets the output byte count.
    virtual bool DeviceControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputLength,
                               uint32_t* returned) = 0;
    virtual bool CloseDevice(DeviceHandle device) = 0;
};

}  // namespace outlinkwatch
