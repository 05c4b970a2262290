// Feeds arbitrary bytes to the language-map reader and its look-ups.
#include "fuzz_input.h"
#include "lumenutil/langmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = ExactCopy(data, size).Text();
    lumenutil::LangMap map;
    map.LoadText(text);
    const int id = map.GetLangID(text.substr(0, 32));
    Check(map.loaded() || id == -1);  // a loaded map may hold id -1 itself
    const std::string abbr = map.GetLangAbbr(id);
    Check(!map.loaded() || !map.GetLangNameByAbbr(abbr).empty());
    map.Print();
    return 0;
}
