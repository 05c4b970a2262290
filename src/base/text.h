// Small text helpers: ASCII case and classes, UTF-8 encoding and decoding. ASCII only on purpose:
// names, keys and protocol words compare the same whatever the locale, and
// bytes outside A-Z/a-z (UTF-8 included) are never changed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace outlinkwatch {

inline char AsciiToLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char AsciiToUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Character classes of the "C" locale, so that results do not depend on
// whatever locale the process runs in.
inline bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
inline bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

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

// UTF-16 surrogate halves, and the code point a high and a low half make.
inline bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u < 0xDC00; }
inline bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u < 0xE000; }
inline char32_t CombineSurrogates(char32_t high, char32_t low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }

// Passes c to put as UTF-16 units: one below U+10000, else a surrogate pair.
template <typename Put>
inline void EncodeUtf16(char32_t c, Put put) {
    if (c < 0x10000) {
        put(c);
        return;
    }
    c -= 0x10000;
    put(0xD800 + (c >> 10));
    put(0xDC00 + (c & 0x3FF));
}

// One UTF-8 sequence of text at pos (pos < text.size()), read with bounds.
// length is 0 when the byte at pos cannot begin a sequence (0x80..0xC1,
// 0xF5..0xFF) or a continuation byte is missing; otherwise it counts the
// sequence's bytes, and wellFormed says whether its value is a character:
// not an overlong form, not a surrogate, at most U+10FFFF.
struct Utf8Sequence {
    size_t length = 0;
    char32_t codePoint = 0;
    bool wellFormed = false;
};

inline Utf8Sequence DecodeUtf8(std::string_view text, size_t pos) {
    const unsigned char lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) return {1, lead, true};
    size_t extra;
    char32_t c;
    if (lead >= 0xC2 && lead < 0xE0) {
        extra = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        extra = 2;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        extra = 3;
        c = lead & 0x07;
    } else {
        return {};
    }
    if (extra >= text.size() - pos) return {};
    for (size_t k = 1; k <= extra; ++k) {
        const unsigned char cont = static_cast<unsigned char>(text[pos + k]);
        if ((cont & 0xC0) != 0x80) return {};
        c = (c << 6) | (cont & 0x3F);
    }
    const char32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    return {extra + 1, c, c >= minimum && c <= 0x10FFFF && !(c >= 0xD800 && c < 0xE000)};
}

}  // namespace outlinkwatch
