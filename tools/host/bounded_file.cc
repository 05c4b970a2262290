#include "bounded_file.h"

namespace owhost {

bool ReadOpenedFile(unsigned long long size, size_t maxBytes, const std::string& shown, const ReadSome& readSome,
                    std::string* text, std::string* error) {
    const std::string tooLarge = shown + " is larger than " + std::to_string(maxBytes) + " bytes";
    if (size > maxBytes) {
        *error = tooLarge;
        return false;
    }
    std::string data(maxBytes < 65536 ? maxBytes + 1 : 65536, '\0');
    size_t used = 0;
    for (;;) {
        if (used == data.size()) {
            if (data.size() > maxBytes) break;
            data.resize(data.size() * 2 > maxBytes + 1 ? maxBytes + 1 : data.size() * 2);
        }
        size_t got = 0;
        std::string reason;
        if (!readSome(&data[used], data.size() - used, &got, &reason)) {
            *error = "cannot read " + shown + ": " + reason;
            return false;
        }
        if (got == 0) break;
        used += got;
    }
    if (used > maxBytes) {
        *error = tooLarge;
        return false;
    }
    data.resize(used);
    *text = std::move(data);
    return true;
}

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
