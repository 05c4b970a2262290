// Feeds arbitrary bytes to the registry file parser. Whatever parses must
// write back within the file bound and parse again into a tree that writes
// the same file.
#include "fuzz_input.h"
#include "emulation/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace outlinkwatch::regfile;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Key first, second;
    std::string error, file, again;
    if (!Parse(bytes, &first, &error)) {
        return Check(!error.empty() && first.subkeys.empty()), 0;
    }
    if (!Write(first, &file)) return 0;  // implied parent keys can outgrow the bound
    Check(Parse(file, &second, &error) && Write(second, &again) && again == file);
    return 0;
}
