#include "proxy/proxy_verdict.h"

#include <algorithm>

#include "config/address_parsing.h"
#include "base/text.h"

namespace outlinkwatch {

InvalidProxies FindInvalidProxies(const std::list<ProxyRecord>& records, const std::list<std::string>& allowed) {
    InvalidProxies found;
    for (const ProxyRecord& record : records) {
        if (record.strAddr.empty()) continue;
        const bool ok = std::any_of(allowed.begin(), allowed.end(), [&](const std::string& valid) {
            return EqualsIgnoreAsciiCase(TrimText(valid), record.strAddr);
        });
        if (ok) continue;
        found.info += record.strProtocol + record.strHost + ";IP Address:" + record.strAddr + "\n";
        found.msg += record.strProtocol + record.strHost + "\n";
    }
    return found;
}

}  // namespace outlinkwatch
