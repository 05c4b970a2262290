#include "engine/active_network.h"

#include <string>

namespace outlinkwatch {

bool HasUsableAddress(const std::vector<AdapterInfo>& adapters) {
    for (const AdapterInfo& adapter : adapters) {
        for (const std::string& ip : adapter.ipv4) {
            if (ip != "0.0.0.0" && ip != "127.0.0.1") return true;
        }
    }
    return false;
}

}  // namespace outlinkwatch
