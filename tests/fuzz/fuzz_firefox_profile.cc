// Feeds arbitrary bytes as the profile folder's listing (entries split at
// NUL, '/' and '\\', which no entry name holds; a first byte 'd' makes a
// directory, the rest is the name, never empty) on either system family,
// then the profile's prefs.js choice.
#include <cstdint>
#include <string>

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
    if (profile != first) __builtin_trap();
    if (profile.empty()) return 0;
    // One folder below, never "." or "..", never beside the profiles on Unix-like systems.
    const std::string name = profile.substr(2);
    if (name.empty() || name == "." || name == ".." || name.find(sep) != std::string::npos) __builtin_trap();
    if (sep == '/' && (name == "Crash Reports" || name == "Pending Pings")) __builtin_trap();
    const FirefoxPrefsChoice choice = ChooseFirefoxPrefs(sep, profile, true, true);
    if (choice.path != profile + sep + "prefs.js") __builtin_trap();
    return 0;
}
