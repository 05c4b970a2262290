// The host's language texts: an ini file with one section per module
// ("[OutlinkWatch]") and key = text lines. Read once at start, then only
// looked up, so the plug-in's threads may read it at the same time.
//
// Rules, as the agent's own profile reader has them: section and key names
// are compared without regard to case, the first occurrence of a key wins,
// blanks around names and texts are dropped, and a text in double quotes
// keeps its inner blanks (" can be reached." keeps its leading blank).
// Lines starting with ';' or '#' are comments.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>

namespace owhost {

struct LangLimits {
    size_t maxFileBytes = 1u << 20;
    size_t maxLineBytes = 4096;
    size_t maxEntries = 10000;
};

class LangTable {
public:
    // Replaces the contents with those of the text. On failure returns false
    // with a one-line reason ("line 7: ...") and leaves the table empty.
    bool Parse(const std::string& text, std::string* error, const LangLimits& limits = LangLimits());

    // Reads a file; the error names it.
    bool Load(const std::string& path, std::string* error, const LangLimits& limits = LangLimits());

    // The text of a key of a module; false if there is none.
    bool Find(const std::string& module, const std::string& key, std::string* text) const;

    size_t size() const { return texts_.size(); }

private:
    // Keyed by lower-case module and key.
    std::map<std::pair<std::string, std::string>, std::string> texts_;
};

}  // namespace owhost
