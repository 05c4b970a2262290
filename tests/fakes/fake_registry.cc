#include "fakes/fake_registry.h"

namespace outlinkwatch {

regfile::Key* MemoryRegistry::Find(HKEY root, const std::string& path, bool create) {
    const std::string hive = HiveName(root);
    if (hive.empty()) return nullptr;
    regfile::Key* key = &hives_[hive];
    size_t start = 0;
    while (key != nullptr && start <= path.size() && !path.empty()) {
        const size_t sep = path.find('\\', start);
        const std::string part = path.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
        key = create ? key->Child(part) : key->Find(part);
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
    return key;
}

regfile::Key* MemoryRegistry::PutKey(HKEY root, const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    return Find(root, path, true);
}

void MemoryRegistry::PutValue(HKEY root, const std::string& path, const std::string& name, uint32_t type,
                              const std::string& data) {
    std::lock_guard<std::mutex> lock(mu_);
    regfile::Key* key = Find(root, path, true);
    if (key != nullptr) key->values[name] = regfile::Value{name, type, data};
}

void MemoryRegistry::PutDword(HKEY root, const std::string& path, const std::string& name, uint32_t value) {
    std::string data;
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    PutValue(root, path, name, regfile::kRegDword, data);
}

void MemoryRegistry::PutString(HKEY root, const std::string& path, const std::string& name, const std::string& text) {
    PutValue(root, path, name, regfile::kRegSz, text + '\0');
}

bool MemoryRegistry::GetValue(HKEY root, const std::string& path, const std::string& name, regfile::Value* out) {
    std::lock_guard<std::mutex> lock(mu_);
    const regfile::Key* key = Find(root, path, false);
    if (key == nullptr) return false;
    const auto it = key->values.find(name);
    if (it == key->values.end()) return false;
    *out = it->second;
    return true;
}

bool MemoryRegistry::HasKey(HKEY root, const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    return Find(root, path, false) != nullptr;
}

void MemoryRegistry::SetWriteDate(const LocalDate& date) {
    std::lock_guard<std::mutex> lock(mu_);
    date_ = date;
}

uint32_t MemoryRegistry::WithHive(const std::string& hive, bool, const HiveFn& fn) {
    std::lock_guard<std::mutex> lock(mu_);
    bool changed = false;
    return fn(&hives_[hive], &changed);
}

uint32_t MemoryRegistry::HiveDate(const std::string&, LocalDate* date) {
    std::lock_guard<std::mutex> lock(mu_);
    *date = date_;
    return kErrorSuccess;
}

}  // namespace outlinkwatch
