#include "base/address_text.h"

#include <cstring>

#include "base/text.h"

namespace outlinkwatch {
namespace {

constexpr uint32_t kAddrNone = 0xFFFFFFFFu;

// Value of c as a digit of base, or -1.
int DigitValue(char c, unsigned base) {
    int v = -1;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
    }
    return (v >= 0 && static_cast<unsigned>(v) < base) ? v : -1;
}

// One number the way strtoul(p, &end, 0) reads it when p starts with a
// digit: "0x" followed by a hex digit is hex, another leading '0' octal,
// else decimal. Returns false if the value exceeds 32 bits; the digits are
// still consumed so that the caller sees where the number ended.
bool ReadNumber(const char*& p, uint32_t& value) {
    unsigned base = 10;
    if (*p == '0') {
        base = 8;
        if ((p[1] == 'x' || p[1] == 'X') && DigitValue(p[2], 16) >= 0) {
            base = 16;
            p += 2;
        }
    }
    uint64_t v = 0;
    bool fits = true;
    for (int d; (d = DigitValue(*p, base)) >= 0; ++p) {
        if (fits) {
            v = v * base + static_cast<unsigned>(d);
            fits = (v >> 32) == 0;
        }
    }
    value = static_cast<uint32_t>(v);
    return fits;
}

// Removes every character of set from both ends of s.
void StripBoth(std::string& s, const char* set) {
    const size_t first = s.find_first_not_of(set);
    if (first == std::string::npos) {
        s.clear();
        return;
    }
    const size_t last = s.find_last_not_of(set);
    s = s.substr(first, last - first + 1);
}

}  // namespace

// By shifting and copying bytes, not by library calls, so this builds the
// same with mingw-w64 and on any host byte order.
uint32_t NetFromHost(uint32_t host) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(host >> 24), static_cast<unsigned char>(host >> 16),
        static_cast<unsigned char>(host >> 8), static_cast<unsigned char>(host)};
    uint32_t net;
    std::memcpy(&net, bytes, sizeof net);
    return net;
}

uint32_t HostFromNet(uint32_t net) {
    unsigned char bytes[4];
    std::memcpy(bytes, &net, sizeof bytes);
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}


std::string TrimText(const std::string& s) {
    std::string out = s;
    StripBoth(out, "\r\n");
    StripBoth(out, " ");
    StripBoth(out, "\t");
    StripBoth(out, " ");
    return out;
}

void SplitString(const std::string& text, const std::string& sep, bool keepEmpty, std::list<std::string>& out) {
    if (text.empty()) {
        return;
    }
    if (sep.empty()) {
        // Searching for "" would match at every position without advancing.
        out.push_back(text);
        return;
    }
    size_t pos = 0;
    for (size_t hit; (hit = text.find(sep, pos)) != std::string::npos; pos = hit + sep.size()) {
        if (hit > pos || keepEmpty) {
            out.push_back(text.substr(pos, hit - pos));
        }
    }
    if (pos < text.size()) {
        out.push_back(text.substr(pos));
    }
}

std::string AddressText(uint32_t addrNetOrder) {
    unsigned char bytes[4];
    std::memcpy(bytes, &addrNetOrder, sizeof bytes);
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            text += '.';
        }
        text += std::to_string(static_cast<unsigned>(bytes[i]));
    }
    return text;
}

uint32_t InetAddr(const std::string& text) {
    // The last part may fill all the bytes the earlier parts left over.
    static const uint32_t kLastPartMax[4] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
    // c_str() so that, as with the C call, an embedded NUL ends the text.
    const char* p = text.c_str();
    uint32_t leading = 0;  // the parts before the last, in host order
    int parts = 0;
    uint32_t value = 0;
    for (;;) {
        if (!IsAsciiDigit(*p) || !ReadNumber(p, value)) {
            return kAddrNone;
        }
        if (*p != '.') {
            break;
        }
        if (parts == 3 || value > 0xFFu) {
            return kAddrNone;
        }
        leading |= value << (24 - 8 * parts);
        ++parts;
        ++p;
    }
    if (*p != '\0' && !IsAsciiSpace(*p)) {
        return kAddrNone;
    }
    if (value > kLastPartMax[parts]) {
        return kAddrNone;
    }
    return NetFromHost(leading | value);
}

}  // namespace outlinkwatch
