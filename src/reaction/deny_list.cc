#include "reaction/deny_list.h"

#include <algorithm>

namespace outlinkwatch {

DenyList DenyListBytes(const std::list<uint32_t>& addresses, const std::list<uint32_t>& allowed) {
    DenyList list;
    for (const uint32_t host : addresses) {
        if (std::find(allowed.begin(), allowed.end(), host) != allowed.end()) continue;
        list.entries.push_back(host);
        for (int shift = 0; shift < 32; shift += 8) list.bytes.push_back(static_cast<uint8_t>(host >> shift));
        if (list.entries.size() + 1 >= kDenyEntryLimit) {
            list.full = true;
            break;
        }
    }
    return list;
}

}  // namespace outlinkwatch
