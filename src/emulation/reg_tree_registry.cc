#include "emulation/reg_tree_registry.h"

#include <cstring>

namespace outlinkwatch {
namespace {

const struct {
    uint32_t value;
    const char* name;
} kRoots[] = {
    {0x80000000u, "HKEY_CLASSES_ROOT"},
    {0x80000001u, "HKEY_CURRENT_USER"},
    {0x80000002u, "HKEY_LOCAL_MACHINE"},
    {0x80000003u, "HKEY_USERS"},
};

// The key at path below the hive key, or null.
regfile::Key* Walk(regfile::Key* hive, const std::vector<std::string>& path) {
    regfile::Key* key = hive;
    for (size_t i = 0; key != nullptr && i < path.size(); ++i) key = key->Find(path[i]);
    return key;
}

}  // namespace

std::string HiveName(HKEY root) {
    for (const auto& r : kRoots) {
        if (root == PredefinedRegKey(r.value)) return r.name;
    }
    return std::string();
}

uint32_t TreeRegistry::Lookup(HKEY key, KeyRef* ref) {
    const std::string hive = HiveName(key);
    if (!hive.empty()) {
        *ref = KeyRef{hive, {}, 0xFFFFFFFFu};
        return kErrorSuccess;
    }
    std::lock_guard<std::mutex> lock(mu_);
    const auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
    if (it == handles_.end()) return kErrorInvalidHandle;
    *ref = it->second;
    return kErrorSuccess;
}

uint32_t TreeRegistry::Resolve(HKEY parent, const std::string& subkey, KeyRef* ref) {
    const uint32_t rc = Lookup(parent, ref);
    if (rc != kErrorSuccess) return rc;
    if (subkey.empty()) return kErrorSuccess;
    size_t start = 0;
    for (;;) {
        const size_t sep = subkey.find('\\', start);
        const std::string part = subkey.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
        if (part.empty()) {
            if (sep == std::string::npos) break;  // one trailing backslash is allowed
            return kErrorBadPathname;
        }
        if (!regfile::StorableKeyName(part) || ref->path.size() >= regfile::kMaxKeyDepth) return kErrorInvalidParameter;
        ref->path.push_back(part);
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
    return kErrorSuccess;
}

HKEY TreeRegistry::AddHandle(const KeyRef& ref) {
    std::lock_guard<std::mutex> lock(mu_);
    const uintptr_t id = nextHandle_;
    nextHandle_ += 0x10;  // far below the roots' values for any realistic run
    handles_[id] = ref;
    return reinterpret_cast<HKEY>(id);
}

uint32_t TreeRegistry::OpenKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) {
    return OpenOrCreate(parent, subkey, access, false, key);
}

uint32_t TreeRegistry::CreateKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) {
    return OpenOrCreate(parent, subkey, access, true, key);
}

uint32_t TreeRegistry::OpenOrCreate(HKEY parent, const std::string& subkey, uint32_t access, bool create,
                                    HKEY* key) {
    if (key == nullptr) return kErrorInvalidParameter;
    KeyRef ref;
    uint32_t rc = Resolve(parent, subkey, &ref);
    if (rc != kErrorSuccess) return rc;
    ref.access = access;
    rc = WithHive(ref.hive, create, [&](regfile::Key* hive, bool* changed) {
        if (!create) return Walk(hive, ref.path) != nullptr ? kErrorSuccess : kErrorFileNotFound;
        regfile::Key* k = hive;
        for (const std::string& part : ref.path) {
            regfile::Key* next = k->Find(part);
            if (next == nullptr) {
                next = k->Child(part);
                *changed = true;
            }
            k = next;
        }
        return kErrorSuccess;
    });
    if (rc == kErrorSuccess) *key = AddHandle(ref);
    return rc;
}

uint32_t TreeRegistry::QueryValue(HKEY key, const std::string& name, uint32_t* type, uint8_t* data, uint32_t* size) {
    KeyRef ref;
    uint32_t rc = Lookup(key, &ref);
    if (rc != kErrorSuccess) return rc;
    if ((ref.access & kKeyQueryValue) == 0) return kErrorAccessDenied;
    if (size == nullptr && data != nullptr) return kErrorInvalidParameter;
    return WithHive(ref.hive, false, [&](regfile::Key* hive, bool*) {
        const regfile::Key* k = Walk(hive, ref.path);
        if (k == nullptr) return kErrorKeyDeleted;
        const auto it = k->values.find(name);
        if (it == k->values.end()) return kErrorFileNotFound;
        const std::string& bytes = it->second.data;
        const uint32_t length = static_cast<uint32_t>(bytes.size());
        if (type != nullptr) *type = it->second.type;
        if (size == nullptr) return kErrorSuccess;
        if (data != nullptr && *size < length) {
            *size = length;
            return kErrorMoreData;
        }
        if (data != nullptr && length > 0) std::memcpy(data, bytes.data(), length);
        *size = length;
        return kErrorSuccess;
    });
}

uint32_t TreeRegistry::SetValue(HKEY key, const std::string& name, uint32_t type, const uint8_t* data, uint32_t size) {
    KeyRef ref;
    uint32_t rc = Lookup(key, &ref);
    if (rc != kErrorSuccess) return rc;
    if ((ref.access & kKeySetValue) == 0) return kErrorAccessDenied;
    if (!regfile::StorableValueName(name) || size > regfile::kMaxValueBytes) return kErrorInvalidParameter;
    if (data == nullptr && size > 0) return kErrorNoAccess;
    return WithHive(ref.hive, true, [&](regfile::Key* hive, bool* changed) {
        regfile::Key* k = Walk(hive, ref.path);
        if (k == nullptr) return kErrorKeyDeleted;
        regfile::Value value;
        value.name = name;
        value.type = type;
        if (size > 0) value.data.assign(reinterpret_cast<const char*>(data), size);
        k->Put(std::move(value));
        *changed = true;
        return kErrorSuccess;
    });
}

uint32_t TreeRegistry::DeleteValue(HKEY key, const std::string& name) {
    KeyRef ref;
    uint32_t rc = Lookup(key, &ref);
    if (rc != kErrorSuccess) return rc;
    if ((ref.access & kKeySetValue) == 0) return kErrorAccessDenied;
    return WithHive(ref.hive, true, [&](regfile::Key* hive, bool* changed) {
        regfile::Key* k = Walk(hive, ref.path);
        if (k == nullptr) return kErrorKeyDeleted;
        if (k->values.erase(name) == 0) return kErrorFileNotFound;
        *changed = true;
        return kErrorSuccess;
    });
}

uint32_t TreeRegistry::DeleteKey(HKEY parent, const std::string& subkey, uint32_t /*viewFlag*/) {
    KeyRef ref;
    uint32_t rc = Resolve(parent, subkey, &ref);
    if (rc != kErrorSuccess) return rc;
    if (ref.path.empty()) return kErrorInvalidParameter;  // not the root itself
    return WithHive(ref.hive, true, [&](regfile::Key* hive, bool* changed) {
        const std::string leaf = ref.path.back();
        ref.path.pop_back();
        regfile::Key* up = Walk(hive, ref.path);
        regfile::Key* k = up != nullptr ? up->Find(leaf) : nullptr;
        if (k == nullptr) return kErrorFileNotFound;
        if (!k->subkeys.empty()) return kErrorAccessDenied;  // as Windows: only a key without subkeys
        up->subkeys.erase(leaf);
        *changed = true;
        return kErrorSuccess;
    });
}

uint32_t TreeRegistry::KeyWriteDate(HKEY key, LocalDate* date) {
    KeyRef ref;
    uint32_t rc = Lookup(key, &ref);
    if (rc != kErrorSuccess) return rc;
    if (date == nullptr) return kErrorInvalidParameter;
    rc = WithHive(ref.hive, false, [&](regfile::Key* hive, bool*) {
        return Walk(hive, ref.path) != nullptr ? kErrorSuccess : kErrorKeyDeleted;
    });
    return rc == kErrorSuccess ? HiveDate(ref.hive, date) : rc;
}

uint32_t TreeRegistry::CloseKey(HKEY key) {
    if (!HiveName(key).empty()) return kErrorSuccess;
    std::lock_guard<std::mutex> lock(mu_);
    return handles_.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? kErrorSuccess : kErrorInvalidHandle;
}

size_t TreeRegistry::OpenHandles() {
    std::lock_guard<std::mutex> lock(mu_);
    return handles_.size();
}

}  // namespace outlinkwatch
