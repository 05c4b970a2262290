#include "emulation/ini_reader.h"
#include "base/text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <vector>

namespace outlinkwatch {
namespace {

std::string_view Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// Copies one text; returns the count of characters copied.
uint32_t CopyText(std::string_view value, char* buf, uint32_t size) {
    const uint32_t n = static_cast<uint32_t>(value.size() < size - 1 ? value.size() : size - 1);
    if (n > 0) std::memcpy(buf, value.data(), n);
    buf[n] = '\0';
    return n;
}

// Copies NUL-separated names ending in a double NUL. When they do not fit,
// the list is cut and the count is size - 2, as the Windows reader reports.
uint32_t CopyList(const std::vector<std::string_view>& names, char* buf, uint32_t size) {
    if (size < 2) {
        buf[0] = '\0';
        return 0;
    }
    uint32_t pos = 0;
    for (std::string_view name : names) {
        if (pos + name.size() + 1 > size - 1) {
            const uint32_t room = size - 1 - pos;
            if (room > 0) {
                if (room > 1) std::memcpy(buf + pos, name.data(), room - 1);
                buf[pos + room - 1] = '\0';
            }
            buf[size - 1] = '\0';
            return size - 2;
        }
        if (!name.empty()) std::memcpy(buf + pos, name.data(), name.size());
        pos += static_cast<uint32_t>(name.size());
        buf[pos++] = '\0';
    }
    buf[pos] = '\0';
    return pos;
}

struct Line {
    enum Kind { kOther, kSection, kEntry } kind = kOther;
    std::string_view name;
    std::string_view value;
};

Line ParseLine(std::string_view raw) {
    Line line;
    std::string_view s = Trim(raw);
    if (s.empty() || s[0] == ';') return line;
    if (s[0] == '[') {
        const size_t close = s.find(']');
        line.kind = Line::kSection;
        line.name = Trim(s.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return line;
    }
    const size_t eq = s.find('=');
    if (eq == std::string_view::npos) return line;
    line.kind = Line::kEntry;
    line.name = Trim(s.substr(0, eq));
    std::string_view v = Trim(s.substr(eq + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    line.value = v;
    return line;
}

}  // namespace

std::string IniProfileString(const std::string& text, const char* section, const char* key,
                             const char* defaultValue, uint32_t size) {
    if (size == 0) return std::string();
    if (size > kMaxProfileBuffer) size = kMaxProfileBuffer;
    std::string buf(size, '\0');
    const uint32_t n = IniGetString(text, section, key, defaultValue, &buf[0], size);
    buf.resize(n < size ? n : size);
    return buf;
}

uint32_t IniGetString(const std::string& text, const char* section, const char* key, const char* defaultValue,
                      char* buf, uint32_t size) {
    if (buf == nullptr || size == 0) return 0;
    std::string_view all(text.data(), std::min(text.size(), kMaxIniFileBytes));

    std::vector<std::string_view> names;
    bool inSection = false;
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string_view::npos) end = all.size();
        const Line line = ParseLine(all.substr(start, end - start));
        start = end + 1;
        if (line.kind == Line::kSection) {
            if (section == nullptr) {
                names.push_back(line.name);
                continue;
            }
            // Only the first section of a name is read.
            if (inSection) break;
            inSection = EqualsIgnoreAsciiCase(line.name, section);
        } else if (line.kind == Line::kEntry && inSection) {
            if (key == nullptr) {
                names.push_back(line.name);
            } else if (EqualsIgnoreAsciiCase(line.name, key)) {
                return CopyText(line.value, buf, size);
            }
        }
        if (end == all.size()) break;
    }
    if (section == nullptr || key == nullptr) return CopyList(names, buf, size);

    std::string_view def = defaultValue != nullptr ? std::string_view(defaultValue) : std::string_view();
    while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
    return CopyText(def, buf, size);
}

}  // namespace outlinkwatch
