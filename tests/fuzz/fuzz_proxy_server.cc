// Feeds arbitrary bytes as an Internet Explorer "ProxyServer" value.
#include <list>

#include "fuzz_input.h"
#include "proxy/ie_proxy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The value is read through a buffer of this size, as a C string.
    if (size > outlinkwatch::kProxyServerBytes) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    std::list<outlinkwatch::ConnectAddrRecord> records;
    outlinkwatch::ParseProxyServer(text, records);
    // At most one record per item, none holding a separator, and every label
    // a protocol with ':' - except the last, which may serve every protocol.
    Check(records.size() <= static_cast<size_t>(std::count(text.begin(), text.end(), ';')) + 1);
    size_t i = 0;
    for (const auto& r : records) {
        ++i;
        const bool all = r.strSpare == outlinkwatch::kAllProtocols;
        Check(r.strAddr.find_first_of(";:") == std::string::npos && r.strPort.find(';') == std::string::npos &&
              r.strHost.empty() && (!all || i == records.size()) && (all || (!r.strSpare.empty() && r.strSpare.back() == ':')));
    }
    return 0;
}
