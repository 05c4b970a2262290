#include "emulation/expand_vars.h"
#include "base/text.h"

namespace outlinkwatch {

bool ExpandPercentVariables(const std::string& text, size_t cap,
                            const std::function<bool(const std::string&, std::string*)>& lookup, std::string* out) {
    std::string result;
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find('%', i);
        const size_t close = open == std::string::npos ? std::string::npos : text.find('%', open + 1);
        if (close == std::string::npos) {
            result.append(text, i, std::string::npos);
            break;
        }
        result.append(text, i, open - i);
        std::string value;
        if (close != open + 1 && lookup(AsciiStrToUpper(text.substr(open + 1, close - open - 1)), &value)) {
            result += value;
        } else {
            result.append(text, open, close + 1 - open);  // unknown: stays as written
        }
        i = close + 1;
        if (result.size() > cap) return false;
    }
    if (result.size() > cap) return false;
    *out = std::move(result);
    return true;
}

}  // namespace outlinkwatch
