// Feeds arbitrary bytes to %name% expansion: a text before the first NUL,
// the value every name up to 4 bytes long has after it.
#include "fuzz_input.h"

#include "emulation/expand_vars.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace outlinkwatch;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const std::string text = input.substr(0, nul), value = nul == std::string::npos ? "" : input.substr(nul + 1);
    // Without known names the text stays as written, or is refused when too long.
    std::string out = "unchanged";
    const bool fits = ExpandPercentVariables(text, 64, [](const std::string&, std::string*) { return false; }, &out);
    if (fits != (text.size() <= 64) || out != (fits ? text : "unchanged")) __builtin_trap();
    size_t names = 0;
    auto lookup = [&](const std::string& upper, std::string* v) {
        for (char c : upper) Check(c < 'a' || c > 'z');  // looked up in upper case
        return upper.size() <= 4 && (++names, *v = value, true);
    };
    out = "unchanged";
    // A value is never expanded again: each known name adds its value once, within the cap.
    if (ExpandPercentVariables(text, 259, lookup, &out)) {
        Check(out.size() <= 259 && out.size() <= text.size() + names * value.size());
    } else {
        Check(out == "unchanged");
    }
    return 0;
}
