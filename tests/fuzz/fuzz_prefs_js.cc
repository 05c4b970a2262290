// Feeds arbitrary bytes as prefs.js through both readers.
#include <cstdint>
#include <string_view>

#include "proxy/firefox_proxy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::map<int, std::string> keys = outlinkwatch::FirefoxPrefKeys();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    outlinkwatch::PrefsScanner scanner(keys);
    scanner.Feed(text);
    const bool on = scanner.Enabled();
    if (on && text.find("\"network.proxy.type\"") == std::string_view::npos) __builtin_trap();
    std::list<outlinkwatch::ConnectAddrRecord> records;
    std::string raw;
    outlinkwatch::PrefsProxyRecords(text, keys, records, raw);
    // Five records always; every stored text is a piece of its own segment.
    if (records.size() != 5 || raw.size() > size) __builtin_trap();
    for (const auto& r : records) {
        if (r.strAddr.size() + r.strPort.size() > size || !(r.strHost + r.strSpare).empty()) __builtin_trap();
    }
    return 0;
}
