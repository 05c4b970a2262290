#include "lang_file.h"
#include "base/text.h"

#include <cctype>
#include <optional>

#include "bounded_file.h"

namespace owhost {
namespace {

std::string Trim(const std::string& s) {
    const char* blanks = " \t\r";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    const size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

std::pair<std::string, std::string> Key(const std::string& module, const std::string& key) {
    return {outlinkwatch::AsciiStrToLower(module), outlinkwatch::AsciiStrToLower(key)};
}

// What one line of the file says.
struct IniLine {
    enum Kind { kNothing, kSection, kText } kind = kNothing;
    std::string name;  // the section, or the key
    std::string text;
};

// Reads one line (without its line end); the reason when it makes no sense.
std::string ReadIniLine(const std::string& raw, IniLine* out) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') return std::string();
    if (line[0] == '[') {
        if (line.back() != ']') return "section header without ']'";
        out->kind = IniLine::kSection;
        out->name = Trim(line.substr(1, line.size() - 2));
        return out->name.empty() ? "empty section name" : "";
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return "expected key = text";
    out->kind = IniLine::kText;
    out->name = Trim(line.substr(0, eq));
    out->text = Trim(line.substr(eq + 1));
    if (out->text.size() >= 2 && out->text.front() == '"' && out->text.back() == '"') {
        out->text = out->text.substr(1, out->text.size() - 2);
    }
    return out->name.empty() ? "empty key" : "";
}

}  // namespace

bool LangTable::Parse(const std::string& text, std::string* error, const LangLimits& limits) {
    texts_.clear();
    std::map<std::pair<std::string, std::string>, std::string> texts;
    std::optional<std::string> section;  // none before the first [section]
    size_t lineNo = 0;
    // A byte-order mark is not part of the first line.
    for (size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; pos < text.size(); ++lineNo) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        IniLine line;
        std::string why = end - pos > limits.maxLineBytes
                              ? "longer than " + std::to_string(limits.maxLineBytes) + " bytes"
                              : ReadIniLine(text.substr(pos, end - pos), &line);
        if (why.empty() && line.kind == IniLine::kText) {
            if (!section) why = "key before the first [section]";
            if (texts.size() >= limits.maxEntries) why = "more than " + std::to_string(limits.maxEntries) + " texts";
        }
        if (!why.empty()) {
            *error = "line " + std::to_string(lineNo + 1) + ": " + why;
            return false;
        }
        if (line.kind == IniLine::kSection) section = line.name;
        if (line.kind == IniLine::kText) texts.emplace(Key(*section, line.name), line.text);  // the first one stays
        pos = end + 1;
    }
    texts_ = std::move(texts);
    return true;
}

bool LangTable::Load(const std::string& path, std::string* error, const LangLimits& limits) {
    texts_.clear();
    std::string text;
    if (!ReadBoundedFile(path, limits.maxFileBytes, &text, error)) {
        *error = "language file: " + *error;
        return false;
    }
    std::string why;
    if (!Parse(text, &why, limits)) {
        *error = "language file " + OneLine(path, 512) + ": " + why;
        return false;
    }
    return true;
}

bool LangTable::Find(const std::string& module, const std::string& key, std::string* text) const {
    const auto it = texts_.find(Key(module, key));
    if (it == texts_.end()) return false;
    *text = it->second;
    return true;
}

}  // namespace owhost
