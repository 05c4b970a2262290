#include "fakes/fake_registry.h"

#include <algorithm>

namespace outlinkwatch {

void MemoryRegistry::PutValue(HKEY root, const std::string& path, const std::string& name, uint32_t type,
                              const std::string& data) {
    std::lock_guard<std::mutex> lock(mu_);
    regfile::Key* key = &hives_[HiveName(root)];
    for (size_t start = 0; start < path.size();) {
        const size_t sep = std::min(path.find('\\', start), path.size());
        key = key->Child(path.substr(start, sep - start));
        start = sep + 1;
    }
    key->Put(regfile::Value{name, type, data});
}

uint32_t MemoryRegistry::WithHive(const std::string& hive, bool, const HiveFn& fn) {
    std::lock_guard<std::mutex> lock(mu_);
    bool changed = false;
    return fn(&hives_[hive], &changed);
}

uint32_t MemoryRegistry::HiveDate(const std::string&, LocalDate* date) {
    *date = LocalDate{2024, 2, 29};
    return kErrorSuccess;
}

}  // namespace outlinkwatch
