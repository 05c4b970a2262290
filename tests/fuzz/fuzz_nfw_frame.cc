// Feeds arbitrary bytes to the filter device's frame reader, as a client of
// the stand-in could send them, and reads frame after frame as it does.
#include <vector>

#include "fuzz_input.h"

#include "nfw/nfw_frame.h"

using namespace outlinkwatch::nfw;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the end shows.
    std::vector<uint8_t> bytes(data, data + size);
    size_t offset = 0;
    for (;;) {
        const FrameResult r = ReadFrame(bytes.data() + offset, bytes.size() - offset);
        if (r.status != FrameStatus::kComplete) {
            Check(r.consumed == 0 && (r.status != FrameStatus::kMalformed || !r.error.empty()));
            break;
        }
        Check(r.consumed >= kHeaderBytes && r.consumed <= bytes.size() - offset &&
              r.consumed <= kHeaderBytes + kMaxDenyListBytes);
        Check(r.command.code != kCutNetwork || r.command.denied.empty());
        for (uint32_t a : r.command.denied) Check(a != 0);
        offset += r.consumed;
    }
    return 0;
}
