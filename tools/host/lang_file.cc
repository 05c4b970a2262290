#include "lang_file.h"

#include <cctype>

#include "bounded_file.h"

namespace owhost {
namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    const char* blanks = " \t\r";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    const size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

std::pair<std::string, std::string> Key(const std::string& module, const std::string& key) {
    return {Lower(module), Lower(key)};
}

}  // namespace

bool LangTable::Parse(const std::string& text, std::string* error, const LangLimits& limits) {
    texts_.clear();
    std::map<std::pair<std::string, std::string>, std::string> texts;
    std::string section;
    bool inSection = false;
    size_t lineNo = 0;
    size_t pos = 0;
    // A byte-order mark is not part of the first line.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    auto fail = [&](const std::string& what) {
        *error = "line " + std::to_string(lineNo) + ": " + what;
        return false;
    };
    while (pos < text.size()) {
        ++lineNo;
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        if (end - pos > limits.maxLineBytes) {
            return fail("longer than " + std::to_string(limits.maxLineBytes) + " bytes");
        }
        const std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return fail("section header without ']'");
            section = Trim(line.substr(1, line.size() - 2));
            if (section.empty()) return fail("empty section name");
            inSection = true;
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return fail("expected key = text");
        if (!inSection) return fail("key before the first [section]");
        const std::string key = Trim(line.substr(0, eq));
        if (key.empty()) return fail("empty key");
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (texts.size() >= limits.maxEntries) {
            return fail("more than " + std::to_string(limits.maxEntries) + " texts");
        }
        texts.emplace(Key(section, key), value);  // the first one stays
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
