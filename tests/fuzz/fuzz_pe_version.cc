// Feeds arbitrary bytes as a Windows image through the version-resource
// reader, and the same bytes as a bare version block through the item query.
#include <cstdint>
#include <string>

#include "emulation/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const outlinkwatch::ReadAtFn read = [&bytes](uint64_t offset, size_t length, std::string* out) {
        if (offset > bytes.size() || length > bytes.size() - offset) return false;
        *out = bytes.substr(static_cast<size_t>(offset), length);
        return true;
    };
    std::string block, value;
    if (outlinkwatch::PeVersionBlock(read, &block)) {
        if (block.size() > outlinkwatch::kMaxVersionBlockBytes) __builtin_trap();
        outlinkwatch::VersionBlockItem(block, "FileVersion", &value);
    }
    outlinkwatch::VersionBlockItem(bytes, "FileVersion", &value);
    return 0;
}
