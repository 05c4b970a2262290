#include "emulation/reg_file.h"
#include "base/text.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace outlinkwatch {
namespace regfile {
namespace {

const char kHeader5[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = AsciiToLower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void AppendUnit(std::string* out, uint32_t unit) {
    out->push_back(static_cast<char>(unit & 0xFF));
    out->push_back(static_cast<char>((unit >> 8) & 0xFF));
}

class Parser {
public:
    Parser(const std::string& text, bool wideStrings, Key* root)
        : text_(text), wide_(wideStrings), root_(root) {}

    bool Run(std::string* error) {
        std::string line;
        NextLine(&line);  // the header, checked by the caller
        while (NextLine(&line)) {
            if (line.empty() || line[0] == ';') continue;
            bool ok;
            if (line[0] == '[') ok = KeyLine(line);
            else if (line[0] == '"' || line[0] == '@') ok = ValueLine(line);
            else ok = Fail("unexpected text");
            if (!ok) {
                *error = "line " + std::to_string(lineNo_) + ": " + error_;
                return false;
            }
        }
        return true;
    }

private:
    // The next line without its line end and the blanks around it.
    bool NextLine(std::string* line) {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string::npos) end = text_.size();
        size_t b = pos_, e = end;
        pos_ = end + 1;
        ++lineNo_;
        while (b < e && IsBlank(text_[b])) ++b;
        while (e > b && (IsBlank(text_[e - 1]) || text_[e - 1] == '\r')) --e;
        line->assign(text_, b, e - b);
        return true;
    }

    bool Fail(const char* why) {
        error_ = why;
        return false;
    }

    bool KeyLine(const std::string& line) {
        if (line.size() < 2 || line.back() != ']') return Fail("key line without ']'");
        std::string path = line.substr(1, line.size() - 2);
        const bool remove = !path.empty() && path[0] == '-';
        if (remove) path.erase(0, 1);
        std::vector<std::string> parts;
        size_t start = 0;
        for (;;) {
            const size_t sep = path.find('\\', start);
            const std::string part = path.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
            if (part.empty()) return Fail("empty key name");
            if (part.size() > kMaxNameBytes) return Fail("key name too long");
            parts.push_back(part);
            if (parts.size() > kMaxKeyDepth + 1) return Fail("keys nested too deep");
            if (sep == std::string::npos) break;
            start = sep + 1;
        }
        if (remove) {
            // An import line that removes a key and everything below it.
            Key* parent = root_;
            for (size_t i = 0; parent != nullptr && i + 1 < parts.size(); ++i) parent = parent->Find(parts[i]);
            if (parent != nullptr) parent->subkeys.erase(parts.back());
            current_ = nullptr;
            return true;
        }
        Key* key = root_;
        for (const std::string& part : parts) key = key->Child(part);
        current_ = key;
        return true;
    }

    // A quoted text starting at line[*pos] == '"'; *pos ends after the closing quote.
    bool Quoted(const std::string& line, size_t* pos, std::string* out) {
        size_t i = *pos + 1;
        out->clear();
        while (i < line.size()) {
            const char c = line[i];
            if (c == '"') {
                *pos = i + 1;
                return true;
            }
            if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) {
                out->push_back(line[i + 1]);
                i += 2;
                continue;
            }
            out->push_back(c);  // any other backslash stands for itself
            ++i;
        }
        return Fail("unterminated quote");
    }

    bool ValueLine(const std::string& first) {
        if (current_ == nullptr) return Fail("value outside a key");
        std::string line = first;
        Value value;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!Quoted(line, &pos, &value.name)) {
            return false;
        }
        if (value.name.size() > kMaxNameBytes) return Fail("value name too long");
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        // pos stays within the line or just past it, where the string's terminator is read.
        if (line[pos] != '=') return Fail("'=' missing after the value name");
        ++pos;
        while (pos < line.size() && IsBlank(line[pos])) ++pos;

        if (pos < line.size() && line[pos] == '"') {
            std::string text;
            if (!Quoted(line, &pos, &text)) return false;
            if (pos != line.size()) return Fail("text after the closing quote");
            if (text.size() >= kMaxValueBytes) return Fail("value too large");
            value.type = kRegSz;
            value.data = text + '\0';
        } else if (line.compare(pos, std::string::npos, "-") == 0) {
            current_->values.erase(value.name);
            return true;
        } else if (StartsWithIgnoreAsciiCase(std::string_view(line).substr(pos), "dword:")) {
            pos += 6;
            if (line.size() - pos != 8) return Fail("dword needs eight hex digits");
            uint32_t v = 0;
            for (; pos < line.size(); ++pos) {
                const int d = HexDigit(line[pos]);
                if (d < 0) return Fail("bad hex digit");
                v = (v << 4) | static_cast<uint32_t>(d);
            }
            value.type = kRegDword;
            for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        } else if (StartsWithIgnoreAsciiCase(std::string_view(line).substr(pos), "hex")) {
            pos += 3;
            value.type = kRegBinary;
            if (pos < line.size() && line[pos] == '(') {
                const size_t close = line.find(')', pos);
                if (close == std::string::npos || close == pos + 1 || close - pos - 1 > 8) return Fail("bad value type");
                uint32_t t = 0;
                for (size_t i = pos + 1; i < close; ++i) {
                    const int d = HexDigit(line[i]);
                    if (d < 0) return Fail("bad value type");
                    t = (t << 4) | static_cast<uint32_t>(d);
                }
                value.type = t;
                pos = close + 1;
            }
            if (line[pos] != ':') return Fail("':' missing after hex");
            ++pos;
            if (!HexList(&line, pos, &value.data)) return false;
            if (wide_ && (value.type == kRegSz || value.type == kRegExpandSz || value.type == kRegMultiSz)) {
                value.data = Utf16ToNarrow(value.data);
            }
        } else {
            return Fail("unknown value form");
        }
        current_->Put(std::move(value));
        return true;
    }

    // Comma-separated byte pairs from pos, continued over lines ending in '\'.
    bool HexList(std::string* line, size_t pos, std::string* out) {
        std::string next;
        for (;;) {
            size_t end = line->size();
            const bool more = end > pos && (*line)[end - 1] == '\\';
            if (more) --end;
            while (pos < end) {
                while (pos < end && IsBlank((*line)[pos])) ++pos;
                if (pos >= end) break;
                if (end - pos < 2) return Fail("bad hex byte");
                const int hi = HexDigit((*line)[pos]), lo = HexDigit((*line)[pos + 1]);
                if (hi < 0 || lo < 0) return Fail("bad hex byte");
                if (out->size() >= kMaxValueBytes) return Fail("value too large");
                out->push_back(static_cast<char>(hi * 16 + lo));
                pos += 2;
                while (pos < end && IsBlank((*line)[pos])) ++pos;
                if (pos < end) {
                    if ((*line)[pos] != ',') return Fail("bad hex byte");
                    ++pos;
                    // a comma must be followed by a byte, on this line or the next
                    if (pos >= end && !more) return Fail("bad hex byte");
                }
            }
            if (!more) return true;
            if (!NextLine(&next)) return Fail("file ends inside a value");
            *line = next;
            pos = 0;
        }
    }

    const std::string& text_;
    const bool wide_;
    Key* root_;
    Key* current_ = nullptr;
    size_t pos_ = 0;
    size_t lineNo_ = 0;
    std::string error_;
};

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

bool PlainString(const Value& v) {
    if (v.type != kRegSz || v.data.empty() || v.data.back() != '\0') return false;
    return v.data.find_first_of(std::string("\0\r\n", 3)) == v.data.size() - 1;
}

const char kDigits[] = "0123456789abcdef";

// n in lower-case hex, at least minDigits digits.
std::string Hex(uint32_t n, int minDigits) {
    std::string s;
    for (int i = 0; i < minDigits || n != 0; ++i, n >>= 4) s.insert(s.begin(), kDigits[n & 15]);
    return s;
}

void WriteValue(const Value& v, std::string* out) {
    *out += v.name.empty() ? std::string("@") : Quote(v.name);
    out->push_back('=');
    if (PlainString(v)) {
        *out += Quote(v.data.substr(0, v.data.size() - 1));
    } else if (v.type == kRegDword && v.data.size() == 4) {
        uint32_t n = 0;
        for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(i)]);
        *out += "dword:" + Hex(n, 8);
    } else {
        *out += v.type == kRegBinary ? std::string("hex:") : "hex(" + Hex(v.type, 1) + "):";
        const bool text = v.type == kRegSz || v.type == kRegExpandSz || v.type == kRegMultiSz;
        const std::string bytes = text ? NarrowToUtf16(v.data) : v.data;
        size_t column = out->size() - out->rfind('\n');
        for (size_t i = 0; i < bytes.size(); ++i) {
            const unsigned char b = static_cast<unsigned char>(bytes[i]);
            out->push_back(kDigits[b >> 4]);
            out->push_back(kDigits[b & 15]);
            column += 2;
            if (i + 1 < bytes.size()) {
                out->push_back(',');
                ++column;
                if (column > 76) {  // wrapped as the registry editor does
                    *out += "\\\n  ";
                    column = 2;
                }
            }
        }
    }
    out->push_back('\n');
}

// Every key below root in pre-order, with its path, while fn returns true;
// no recursion.
template <typename Fn>
bool ForEachKey(const Key& root, Fn fn) {
    struct Frame {
        const Key* key;
        std::string path;
    };
    std::vector<Frame> stack;
    for (auto it = root.subkeys.rbegin(); it != root.subkeys.rend(); ++it) stack.push_back({it->second.get(), it->second->name});
    while (!stack.empty()) {
        Frame f = std::move(stack.back());
        stack.pop_back();
        if (!fn(*f.key, f.path)) return false;
        for (auto it = f.key->subkeys.rbegin(); it != f.key->subkeys.rend(); ++it) {
            stack.push_back({it->second.get(), f.path + "\\" + it->second->name});
        }
    }
    return true;
}

}  // namespace

bool SameName(const std::string& a, const std::string& b) { return EqualsIgnoreAsciiCase(a, b); }

bool NameLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(AsciiToLower(x)) < static_cast<unsigned char>(AsciiToLower(y));
    });
}

Key* Key::Find(const std::string& child) const {
    const auto it = subkeys.find(child);
    return it == subkeys.end() ? nullptr : it->second.get();
}

Key* Key::Child(const std::string& child) {
    std::unique_ptr<Key>& slot = subkeys[child];
    if (!slot) {
        slot = std::make_unique<Key>();
        slot->name = child;
    }
    return slot.get();
}

void Key::Put(Value value) {
    const auto it = values.find(value.name);
    if (it != values.end()) {
        value.name = it->second.name;
        it->second = std::move(value);
    } else {
        std::string name = value.name;
        values.emplace(std::move(name), std::move(value));
    }
}

bool StorableKeyName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxNameBytes && name.find_first_of("\\\r\n") == std::string::npos;
}

bool StorableValueName(const std::string& name) {
    return name.size() <= kMaxNameBytes && name.find_first_of("\r\n") == std::string::npos;
}

std::string NarrowToUtf16(const std::string& narrow) {
    std::string out;
    for (size_t i = 0; i < narrow.size();) {
        const Utf8Sequence seq = DecodeUtf8(narrow, i);
        if (seq.length == 0 || !seq.wellFormed) {
            AppendUnit(&out, 0xDC00u + static_cast<unsigned char>(narrow[i]));
            ++i;
            continue;
        }
        i += seq.length;
        EncodeUtf16(seq.codePoint, [&out](char32_t unit) { AppendUnit(&out, unit); });
    }
    return out;
}

std::string Utf16ToNarrow(const std::string& utf16) {
    std::string out;
    const size_t units = utf16.size() / 2;
    const auto unit = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(utf16[2 * i])) |
               (static_cast<uint32_t>(static_cast<unsigned char>(utf16[2 * i + 1])) << 8);
    };
    for (size_t i = 0; i < units; ++i) {
        const uint32_t u = unit(i);
        if (IsHighSurrogate(u) && i + 1 < units && IsLowSurrogate(unit(i + 1))) {
            AppendUtf8(CombineSurrogates(u, unit(i + 1)), &out);
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out.push_back(static_cast<char>(u - 0xDC00));  // a byte that was not UTF-8
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back('?');  // as the ANSI conversion shows what it cannot map
        } else {
            AppendUtf8(u, &out);
        }
    }
    if (utf16.size() % 2 != 0) out.push_back(utf16.back());
    return out;
}

bool Parse(const std::string& bytes, Key* root, std::string* error) {
    root->values.clear();
    root->subkeys.clear();
    if (bytes.size() > kMaxFileBytes) {
        *error = "file larger than " + std::to_string(kMaxFileBytes) + " bytes";
        return false;
    }
    std::string text;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        if (bytes.size() % 2 != 0) {
            *error = "file cut inside a UTF-16 character";
            return false;
        }
        text = Utf16ToNarrow(bytes.substr(2));
    } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
               static_cast<unsigned char>(bytes[1]) == 0xFF) {
        *error = "big-endian UTF-16 is not read";
        return false;
    } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = bytes.substr(3);
    } else {
        text = bytes;
    }
    size_t end = text.find('\n');
    std::string header = text.substr(0, end);
    while (!header.empty() && (header.back() == '\r' || IsBlank(header.back()))) header.pop_back();
    bool wide;
    if (header == kHeader5) wide = true;
    else if (header == kHeader4) wide = false;
    else {
        *error = "line 1: not a registry file (header missing)";
        return false;
    }
    Parser parser(text, wide, root);
    if (!parser.Run(error)) {
        root->subkeys.clear();
        return false;
    }
    return true;
}

bool Write(const Key& root, std::string* file) {
    // The text is narrow until the end; a UTF-16 file is at most twice as long.
    const size_t cap = kMaxFileBytes / 2 - 1;
    std::string text = std::string(kHeader5) + "\n\n";
    const bool fits = ForEachKey(root, [&](const Key& key, const std::string& path) {
        text += "[" + path + "]\n";
        for (const auto& entry : key.values) {
            WriteValue(entry.second, &text);
            if (text.size() > cap) return false;
        }
        text += "\n";
        return text.size() <= cap;
    });
    if (!fits) return false;
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf.push_back('\r');
        crlf.push_back(c);
    }
    *file = "\xFF\xFE" + NarrowToUtf16(crlf);
    return file->size() <= kMaxFileBytes;
}

}  // namespace regfile
}  // namespace outlinkwatch
