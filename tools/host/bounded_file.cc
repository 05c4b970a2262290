#include "bounded_file.h"

namespace owhost {

size_t LineOfOffset(const std::string& text, size_t offset) {
    if (offset > text.size()) offset = text.size();
    size_t line = 1;
    for (size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') ++line;
    }
    return line;
}

std::string OneLine(const std::string& text, size_t maxBytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    const size_t n = text.size() < maxBytes ? text.size() : maxBytes;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (n < text.size()) out += "...";
    return out;
}

}  // namespace owhost
