// Helpers of the notification record.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/os.h"

// What FormatTime raises for a time the platform cannot convert to local
// time; code() is the Windows invalid-argument result, 0x80070057.
class InvalidTimeError : public std::invalid_argument {
public:
    static constexpr uint32_t kCode = 0x80070057u;
    explicit InvalidTimeError(int64_t time);
    uint32_t code() const { return kCode; }
};

// Unix time -> local time (through the OS) -> strftime(format) into 128
// bytes. A text that does not fit gives an empty result.
std::string FormatTime(outlinkwatch::Os* os, int64_t time, const char* format);
