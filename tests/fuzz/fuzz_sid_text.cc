// Feeds arbitrary bytes as a key name under HKEY_USERS through the SID reader.
#include "fuzz_input.h"

#include "lumenutil/system_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    lumenutil::SidValue sid;
    if (!lumenutil::ParseSidText(text, &sid)) return 0;
    // What a SID can be built from: one to eight sub-authorities, an
    // authority that fits the low four of its six bytes.
    Check(text[0] == 'S' && !sid.subAuthorities.empty() && sid.subAuthorities.size() <= lumenutil::kMaxSubAuthorities &&
          sid.authority <= 0xFFFFFFFFu);
    return 0;
}
