#include "config/address_parsing.h"

#include <climits>
#include <cstring>

#include "base/text.h"

namespace outlinkwatch {
namespace {

// atol over untrusted text: saturates instead of overflowing.
long ReadLong(const char* p) {
    while (IsAsciiSpace(*p)) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    long v = 0;
    for (; IsAsciiDigit(*p); ++p) {
        const int d = *p - '0';
        if (negative) {
            v = (v < (LONG_MIN + d) / 10) ? LONG_MIN : v * 10 - d;
        } else {
            v = (v > (LONG_MAX - d) / 10) ? LONG_MAX : v * 10 + d;
        }
    }
    return v;
}

}  // namespace

void ParseIPSec(const std::list<std::string>& in, std::list<std::string>& out, const LogFn& log) {
    for (const std::string& entry : in) {
        const size_t slash = entry.rfind('/');
        if (slash == std::string::npos) {
            out.push_back(entry);
            continue;
        }
        const long len = ReadLong(entry.c_str() + slash + 1);
        if (len < 24 || len > 32) {
            // Shorter masks would expand one entry into tens of thousands of
            // addresses; they are refused rather than silently truncated.
            if (log) {
                log("uMask is invalid.");
            }
            continue;
        }
        const unsigned hostBits = static_cast<unsigned>(32 - len);
        const uint32_t netmask = 0xFFFFFFFFu << hostBits;
        const uint32_t network = HostFromNet(InetAddr(entry.substr(0, slash))) & netmask;
        const uint32_t count = uint32_t{1} << hostBits;
        // The host bits all lie in the last byte (len >= 24), so adding i to
        // the network never carries into the third number.
        for (uint32_t i = 0; i < count; ++i) {
            out.push_back(AddressText(NetFromHost(network + i)));
        }
    }
}

void ResolveAddrList(const std::list<std::string>& in, int withPort, std::list<uint32_t>& outIP,
                     std::list<std::string>& outText, std::list<ConnectAddrRecord>& outRecords,
                     std::list<std::string>& outUnresolved, const ResolveFn& resolve) {
    if (in.empty()) {
        return;
    }
    outIP.clear();
    outText.clear();
    outRecords.clear();
    outUnresolved.clear();
    std::vector<uint32_t> addrs;
    for (const std::string& entry : in) {
        std::string host = entry;
        std::string port;
        if (withPort != 0) {
            const size_t colon = entry.rfind(':');
            if (colon == std::string::npos) {
                continue;
            }
            host = entry.substr(0, colon);
            port = entry.substr(colon + 1);
        }
        host = TrimText(host);
        addrs.clear();
        if (!resolve || !resolve(host, &addrs)) {
            outUnresolved.push_back(entry);
            continue;
        }
        const size_t taken = addrs.size() < kMaxAddrsPerHost ? addrs.size() : kMaxAddrsPerHost;
        for (size_t i = 0; i < taken; ++i) {
            outText.push_back(AddressText(addrs[i]));
            if (withPort != 0) {
                outRecords.push_back(ConnectAddrRecord{outText.back(), port, host, std::string()});
            } else {
                outIP.push_back(HostFromNet(addrs[i]));
            }
        }
    }
}

uint16_t AtoiPort(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = (value * 10 + (text[i] - '0')) & 0xFFFFu;
    return static_cast<uint16_t>(negative ? (0x10000u - value) & 0xFFFFu : value);
}

}  // namespace outlinkwatch
