// The test registry: the seam's registry calls over trees in memory, which
// the test fills directly. Every key was last written on 2024-02-29.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "emulation/reg_tree_registry.h"

namespace outlinkwatch {

class MemoryRegistry : public TreeRegistry {
public:
    // Stores a value (REG_SZ data with its terminator), making its key and
    // parents under a predefined root.
    void PutValue(HKEY root, const std::string& path, const std::string& name, uint32_t type, const std::string& data) {
        HKEY key = nullptr;
        if (CreateKey(root, path, kKeySetValue, &key) != kErrorSuccess) return;
        SetValue(key, name, type, reinterpret_cast<const uint8_t*>(data.data()), static_cast<uint32_t>(data.size()));
        CloseKey(key);
    }

protected:
    uint32_t WithHive(const std::string& hive, bool, const HiveFn& fn) override {
        std::lock_guard<std::mutex> lock(mu_);
        bool changed = false;
        return fn(&hives_[hive], &changed);
    }
    uint32_t HiveDate(const std::string&, LocalDate* date) override {
        return *date = LocalDate{2024, 2, 29}, kErrorSuccess;
    }

private:
    std::mutex mu_;
    std::map<std::string, regfile::Key> hives_;
};

}  // namespace outlinkwatch
