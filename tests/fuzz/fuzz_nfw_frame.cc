// Feeds arbitrary bytes to the filter device's frame reader, as a client of
// the stand-in could send them, and reads frame after frame as it does.
#include <cstdint>
#include <vector>

#include "nfw/nfw_frame.h"

using namespace outlinkwatch::nfw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the end shows.
    std::vector<uint8_t> bytes(data, data + size);
    size_t offset = 0;
    for (;;) {
        const FrameResult r = ReadFrame(bytes.data() + offset, bytes.size() - offset);
        if (r.status != FrameStatus::kComplete) {
            if (r.consumed != 0) __builtin_trap();
            if (r.status == FrameStatus::kMalformed && r.error.empty()) __builtin_trap();
            break;
        }
        if (r.consumed < kHeaderBytes || r.consumed > bytes.size() - offset) __builtin_trap();
        if (r.consumed > kHeaderBytes + kMaxDenyListBytes) __builtin_trap();
        if (r.command.code == kCutNetwork && !r.command.denied.empty()) __builtin_trap();
        for (uint32_t a : r.command.denied) {
            if (a == 0) __builtin_trap();
        }
        offset += r.consumed;
    }
    return 0;
}
