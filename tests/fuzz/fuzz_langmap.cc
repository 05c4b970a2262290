// Feeds arbitrary bytes to the language-map reader and its look-ups.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "lumenutil/langmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> copy(new char[size + 1]);
    std::memcpy(copy.get(), data, size);
    const std::string text(copy.get(), size);

    lumenutil::LangMap map;
    map.LoadText(text);
    const int id = map.GetLangID(text.substr(0, 32));
    if (!map.loaded() && id != -1) __builtin_trap();  // a loaded map may hold id -1 itself
    const std::string abbr = map.GetLangAbbr(id);
    if (map.loaded() && map.GetLangNameByAbbr(abbr).empty()) __builtin_trap();
    map.Print();
    return 0;
}
