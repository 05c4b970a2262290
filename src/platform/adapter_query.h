// The Windows adapter query, GetAdaptersInfo(buffer, &size), over the
// seam's plain adapter list. The shared code keeps the two-step size
// protocol of that call (ask for the size, allocate whole 640-byte records,
// ask again) and its log lines; this works out the sizes from the count of
// adapters, so every backend answers the same.
#pragma once

#include <cstdint>
#include <vector>

#include "base/log_sink.h"
#include "platform/os.h"

namespace outlinkwatch {

// Room for the adapter list, counted in whole records.
class AdapterBuffer {
public:
    // Makes room for (size / 640 + 1) records; false when that much cannot
    // be had (beyond kMaxAdapterListBytes, or out of memory).
    bool Allocate(uint32_t size);
    uint32_t capacity() const { return capacity_; }
    std::vector<AdapterInfo>& adapters() { return adapters_; }

private:
    uint32_t capacity_ = 0;
    std::vector<AdapterInfo> adapters_;
};

// Larger adapter lists than this are refused, as no machine has them.
constexpr uint32_t kMaxAdapterListBytes = 16u * 1024u * 1024u;

// buffer null stands for the call without a buffer. Answers kErrorSuccess
// with the list in buffer; kErrorBufferOverflow with *size set to the need
// when the list does not fit (or there is no buffer); kErrorNoData without
// adapters; or the platform's error.
uint32_t QueryAdapters(Os* os, AdapterBuffer* buffer, uint32_t* size);

// The two ways the callers run the size protocol.
enum class AdapterSizeProtocol {
    // The local address list: the sizing call must answer buffer overflow;
    // one call with the buffer, whose failure ends the query.
    kAskTwice,
    // The active-network check: the sizing call may also answer success;
    // the size is logged after the call with the buffer, and a list that
    // grew since the sizing is asked for once more with one record more
    // than the failing call reported.
    kAskAgainWhenGrown,
};

// The adapter list, asked for by the size protocol. Each step's failure is
// logged (level 2, function fn) when log is given, and answers false with
// adapters empty.
bool ReadAdapterList(Os* os, AdapterSizeProtocol protocol, LogSink* log, const char* fn,
                     std::vector<AdapterInfo>* adapters);

}  // namespace outlinkwatch
