// Feeds arbitrary bytes as the profile folder's listing (entries split at
// NUL, '/' and '\\', which no entry name holds; a first byte 'd' makes a
// directory, the rest is the name, never empty) on either system family,
// then the profile's prefs.js choice.
#include "fuzz_input.h"
#include "proxy/firefox_proxy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace outlinkwatch;
    if (size == 0) return 0;
    const char sep = (data[0] & 1) != 0 ? '\\' : '/';
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<DirEntry> entries;
    for (size_t at = 0; at <= text.size();) {
        const size_t end = std::min(text.find_first_of(std::string("\0/\\", 3), at), text.size());
        if (end > at + 1) entries.push_back({text.substr(at + 1, end - at - 1), text[at] == 'd'});
        at = end + 1;
    }
    const std::string profile = FirefoxProfileIn(sep, "F", entries);
    std::string first;  // the first entry that can be a profile
    for (const DirEntry& e : entries) {
        if (first.empty() && IsFirefoxProfileEntry(sep, e)) first = std::string("F") + sep + e.name;
    }
    Check(profile == first);
    if (profile.empty()) return 0;
    // One folder below, never "." or "..", never beside the profiles on Unix-like systems.
    const std::string name = profile.substr(2);
    Check(!name.empty() && name != "." && name != ".." && name.find(sep) == std::string::npos);
    Check(sep != '/' || (name != "Crash Reports" && name != "Pending Pings"));
    const FirefoxPrefsChoice choice = ChooseFirefoxPrefs(sep, profile, true, true);
    Check(choice.path == profile + sep + "prefs.js");
    return 0;
}
