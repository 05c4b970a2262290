// Feeds arbitrary bytes as the host's language file, under small limits.
#include <algorithm>

#include "fuzz_input.h"
#include "lang_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const owhost::LangLimits limits{4096, 64, 8};
    owhost::LangTable table;
    std::string error, found;
    if (!table.Parse(text, &error, limits)) {
        // One line naming a line of the text; nothing kept.
        const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        Check(error.compare(0, 5, "line ") == 0 && std::stoul(error.substr(5)) <= lines && table.size() == 0);
        return 0;
    }
    Check(table.size() <= limits.maxEntries);
    // A well-formed table put ahead of it answers for its own first key, whatever follows.
    Check(table.Parse("[M]\nK = \" a \"\n" + text, &error, limits) || error.compare(0, 7, "line 1:") != 0);
    Check(table.size() == 0 || (table.Find("m", "k", &found) && found == " a "));
    return 0;
}
