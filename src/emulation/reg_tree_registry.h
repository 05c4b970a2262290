// The registry service of the seam over trees of keys (emulation/reg_file.h):
// the key handles, path walks, access checks and the value-buffer rules of
// the ANSI registry calls. Where the trees live is up to the subclass: the
// Linux backend keeps one file per hive, the test fake keeps them in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "emulation/reg_file.h"
#include "platform/os_registry.h"

namespace outlinkwatch {

// Access bits the backends check (Windows values).
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;

// Windows error codes the tree registry answers besides those of os_registry.h.
constexpr uint32_t kErrorNoAccess = 998;        // a null buffer with a size
constexpr uint32_t kErrorBadPathname = 161;     // an empty part in a key path
constexpr uint32_t kErrorWriteFault = 29;       // the store could not be written
constexpr uint32_t kErrorTimeout = 1460;        // the store stayed locked

// The hive file name of a predefined root ("HKEY_USERS"), empty for any other key.
std::string HiveName(HKEY root);

class TreeRegistry : public RegistryService {
public:
    uint32_t OpenKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override;
    uint32_t CreateKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override;
    uint32_t QueryValue(HKEY key, const std::string& name, uint32_t* type, uint8_t* data, uint32_t* size) override;
    uint32_t SetValue(HKEY key, const std::string& name, uint32_t type, const uint8_t* data, uint32_t size) override;
    uint32_t DeleteValue(HKEY key, const std::string& name) override;
    uint32_t DeleteKey(HKEY parent, const std::string& subkey, uint32_t viewFlag) override;
    uint32_t KeyWriteDate(HKEY key, LocalDate* date) override;
    uint32_t CloseKey(HKEY key) override;

    // Handles handed out and not yet closed.
    size_t OpenHandles();

protected:
    // Runs fn on the key of the hive (made when missing). With write, the
    // caller holds the hive against other writers, and the hive is stored
    // when fn answers 0 and says it changed something. Answers fn's code, or
    // the load's or store's failure.
    using HiveFn = std::function<uint32_t(regfile::Key* hive, bool* changed)>;
    virtual uint32_t WithHive(const std::string& hive, bool write, const HiveFn& fn) = 0;
    // The day the hive was last written.
    virtual uint32_t HiveDate(const std::string& hive, LocalDate* date) = 0;

private:
    struct KeyRef {
        std::string hive;
        std::vector<std::string> path;
        uint32_t access = 0;
    };
    // A root or an open handle, joined with a subkey path.
    uint32_t Resolve(HKEY parent, const std::string& subkey, KeyRef* ref);
    // Opens the key; with create, makes it and its missing parents first.
    uint32_t OpenOrCreate(HKEY parent, const std::string& subkey, uint32_t access, bool create, HKEY* key);
    uint32_t Lookup(HKEY key, KeyRef* ref);
    HKEY AddHandle(const KeyRef& ref);

    std::mutex mu_;
    std::map<uintptr_t, KeyRef> handles_;
    uintptr_t nextHandle_ = 0x10;
};

}  // namespace outlinkwatch
