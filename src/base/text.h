// Small text helpers: ASCII case and UTF-8 encoding. ASCII only on purpose:
// names, keys and protocol words compare the same whatever the locale, and
// bytes outside A-Z/a-z (UTF-8 included) are never changed.
#pragma once

#include <string>
#include <string_view>

namespace outlinkwatch {

inline char AsciiToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char AsciiToUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string AsciiStrToLower(std::string s) {
    for (char& c : s) c = AsciiToLower(c);
    return s;
}

inline std::string AsciiStrToUpper(std::string s) {
    for (char& c : s) c = AsciiToUpper(c);
    return s;
}

// Same length and the same bytes once A-Z are folded; embedded NULs count.
inline bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
    }
    return true;
}

inline bool StartsWithIgnoreAsciiCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

// Appends c as UTF-8, for the readers of wide (UTF-16) texts; a code point outside Unicode, or a lone surrogate,
// becomes U+FFFD.
inline void AppendUtf8(char32_t c, std::string* out) {
    if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace outlinkwatch
