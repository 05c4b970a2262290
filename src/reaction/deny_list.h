// The deny list the filter driver is given: which addresses go in, and the
// bytes that carry them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

namespace outlinkwatch {

// The driver's deny buffer has room for 50 entries; a deny list fills at
// most one less, and stops there.
constexpr size_t kDenyBufferBytes = 200;
constexpr size_t kDenyEntryLimit = kDenyBufferBytes / 4;

struct DenyList {
    std::vector<uint32_t> entries;  // host order, as sent
    std::vector<uint8_t> bytes;     // each entry stored little-endian, whatever the machine's byte order
    bool full = false;              // stopped at the limit: the last entry is the one that reached it

    // How many entries the logs name: all but the one that reached the limit.
    size_t named() const { return entries.size() - (full ? 1 : 0); }
};

// The addresses (host order) not among the allowed ones (host order), in
// their order, up to the limit.
DenyList DenyListBytes(const std::list<uint32_t>& addresses, const std::list<uint32_t>& allowed);

}  // namespace outlinkwatch
