// Feeds arbitrary bytes as a key path of the registry stand-in: the key is
// made, opened again, given a value, stored and read back, then deleted.
#include "fuzz_input.h"
#include "emulation/reg_tree_registry.h"

namespace {
using namespace outlinkwatch;
class Hives : public TreeRegistry {
public:
    regfile::Key root;  // the hives are its subkeys, as in a file
protected:
    uint32_t WithHive(const std::string& hive, bool, const HiveFn& fn) override {
        bool changed = false;
        return fn(root.Child(hive), &changed);
    }
    uint32_t HiveDate(const std::string&, LocalDate*) override { return kErrorSuccess; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    Hives reg;
    HKEY made = nullptr, opened = nullptr;
    const uint32_t rc = reg.CreateKey(HKEY_USERS, path, kKeyQueryValue | kKeySetValue, &made);
    // A path is refused alike by both calls, and a key made opens.
    Check(reg.OpenKey(HKEY_USERS, path, kKeyQueryValue, &opened) == rc);
    if (rc != kErrorSuccess) return Check(reg.OpenHandles() == 0), 0;
    uint8_t out[4] = {};
    uint32_t got = sizeof out;
    if (reg.SetValue(made, "v", regfile::kRegSz, reinterpret_cast<const uint8_t*>("ab"), 3) != kErrorSuccess ||
        reg.QueryValue(opened, "v", nullptr, out, &got) != kErrorSuccess || got != 3 || out[1] != 'b') __builtin_trap();
    std::string file, error, again;
    regfile::Key back;
    Check(!regfile::Write(reg.root, &file) || (regfile::Parse(file, &back, &error) && regfile::Write(back, &again) && again == file));
    Check(reg.CloseKey(made) == kErrorSuccess && reg.CloseKey(opened) == kErrorSuccess && reg.OpenHandles() == 0);
    // The key itself goes (not the hive's root); then it no longer opens.
    if (reg.DeleteKey(HKEY_USERS, path, 0) != (path.empty() ? kErrorInvalidParameter : kErrorSuccess)) __builtin_trap();
    if (!path.empty() && reg.OpenKey(HKEY_USERS, path, kKeyQueryValue, &opened) != kErrorFileNotFound) __builtin_trap();
    return 0;
}
