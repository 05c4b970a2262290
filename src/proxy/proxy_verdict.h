// The judgement of a browser's proxies against the allowed ones.
#pragma once

#include <list>
#include <string>

#include "proxy/proxy_record.h"

namespace outlinkwatch {

// What a browser's proxies show; both texts are empty when none is invalid.
struct InvalidProxies {
    std::string info;  // "<protocol><host>;IP Address:<address>\n" of each invalid record
    std::string msg;   // "<protocol><host>\n" of each: the finding without addresses
};

// A record without an address is passed over. One is allowed when some
// allowed text, trimmed, equals its address but for ASCII case.
InvalidProxies FindInvalidProxies(const std::list<ProxyRecord>& records, const std::list<std::string>& allowed);

}  // namespace outlinkwatch
