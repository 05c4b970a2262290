#include "platform/adapter_query.h"

#include <iterator>
#include <new>

namespace outlinkwatch {

bool AdapterBuffer::Allocate(uint32_t size) {
    const uint64_t records = uint64_t{size} / kAdapterRecordSize + 1;
    const uint64_t bytes = records * kAdapterRecordSize;
    adapters_.clear();
    capacity_ = 0;
    if (bytes > kMaxAdapterListBytes) return false;
    try {
        adapters_.reserve(static_cast<size_t>(records));
    } catch (const std::bad_alloc&) {
        return false;
    }
    capacity_ = static_cast<uint32_t>(bytes);
    return true;
}

uint32_t QueryAdapters(Os* os, AdapterBuffer* buffer, uint32_t* size) {
    std::vector<AdapterInfo> list;
    uint32_t error = kErrorSuccess;
    if (!os->Network()->Adapters(AdapterDetail::kAddresses, &list, &error)) return error;
    if (list.empty()) return kErrorNoData;
    const uint64_t need64 = uint64_t{list.size()} * kAdapterRecordSize;
    const uint32_t need = need64 > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(need64);
    if (buffer == nullptr || buffer->capacity() < need) {
        *size = need;
        return kErrorBufferOverflow;
    }
    buffer->adapters().assign(std::make_move_iterator(list.begin()), std::make_move_iterator(list.end()));
    return kErrorSuccess;
}

}  // namespace outlinkwatch

namespace outlinkwatch {

namespace {

// Where the steps go when the caller keeps no log.
class NoLog : public LogSink {
public:
    void WriteLog(int32_t, const char*, int32_t, const char*, ...) override {}
};

}  // namespace

bool ReadAdapterList(Os* os, AdapterSizeProtocol protocol, LogSink* log, const char* fn,
                     std::vector<AdapterInfo>* adapters) {
    NoLog noLog;
    LogSink* const out = log != nullptr ? log : &noLog;
    adapters->clear();
    const bool again = protocol == AdapterSizeProtocol::kAskAgainWhenGrown;
    uint32_t size = 0;
    uint32_t rc = QueryAdapters(os, nullptr, &size);
    if (rc != kErrorBufferOverflow && !(again && rc == kErrorSuccess)) {
        OW_LOG(out, 2, fn, "GetAdaptersInfo size error!");
        return false;
    }
    AdapterBuffer buffer;
    if (!buffer.Allocate(size)) {
        OW_LOG(out, 2, fn, "pAdapterListBuffer == NULL!");
        return false;
    }
    rc = QueryAdapters(os, &buffer, &size);
    if (again) {
        OW_LOG(out, 2, fn, "%u", size);
        if (rc == kErrorBufferOverflow) {
            // The list grew since the size was asked for: size is now what
            // the failing call reported.
            OW_LOG(out, 2, fn, "ERROR_BUFFER_OVERFLOW ");
            size += kAdapterRecordSize;
            const bool allocated = buffer.Allocate(size);
            OW_LOG(out, 2, fn, "%u", size);
            if (!allocated) {
                OW_LOG(out, 2, fn, "pAdapterListBuffer == NULL!");
                return false;
            }
            rc = QueryAdapters(os, &buffer, &size);
        }
    }
    if (rc != kErrorSuccess) return false;
    adapters->swap(buffer.adapters());
    return true;
}

}  // namespace outlinkwatch
