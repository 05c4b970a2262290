// The test registry: the seam's registry calls over trees in memory, which
// the test fills directly. Every key was last written on 2024-02-29.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/reg_tree_registry.h"

namespace outlinkwatch {

class MemoryRegistry : public TreeRegistry {
public:
    // Stores a value (REG_SZ data with its terminator), making its key and
    // parents under a predefined root.
    void PutValue(HKEY root, const std::string& path, const std::string& name, uint32_t type, const std::string& data);

protected:
    uint32_t WithHive(const std::string& hive, bool write, const HiveFn& fn) override;
    uint32_t HiveDate(const std::string& hive, LocalDate* date) override;

private:
    std::mutex mu_;
    std::map<std::string, regfile::Key> hives_;
};

}  // namespace outlinkwatch
