// The test registry: the seam's registry calls over trees in memory, which
// the test fills and reads back directly.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/reg_tree_registry.h"

namespace outlinkwatch {

class MemoryRegistry : public TreeRegistry {
public:
    // Makes the key (and its parents) under a predefined root.
    regfile::Key* PutKey(HKEY root, const std::string& path);
    void PutValue(HKEY root, const std::string& path, const std::string& name, uint32_t type, const std::string& data);
    void PutDword(HKEY root, const std::string& path, const std::string& name, uint32_t value);
    // A REG_SZ with its terminator.
    void PutString(HKEY root, const std::string& path, const std::string& name, const std::string& text);
    // False when the key or value is missing.
    bool GetValue(HKEY root, const std::string& path, const std::string& name, regfile::Value* out);
    bool HasKey(HKEY root, const std::string& path);
    void SetWriteDate(const LocalDate& date);

protected:
    uint32_t WithHive(const std::string& hive, bool write, const HiveFn& fn) override;
    uint32_t HiveDate(const std::string& hive, LocalDate* date) override;

private:
    regfile::Key* Find(HKEY root, const std::string& path, bool create);  // mu_ held

    std::mutex mu_;
    std::map<std::string, regfile::Key> hives_;
    LocalDate date_{2024, 2, 29};
};

}  // namespace outlinkwatch
