// Reading the route-trace command's output. Pure text work, kept apart from
// the trace itself so that it can be tested and fuzzed on its own.
#include <cstring>

#include "config/address_parsing.h"
#include "base/text.h"
#include "probes/route_tracer.h"

namespace {

// "trace complete" in the Chinese of the GBK code page.
constexpr char kGbkTraceComplete[] = "\xB8\xFA\xD7\xD9\xCD\xEA\xB3\xC9";
constexpr char kTraceComplete[] = "trace complete";

}  // namespace

std::string CRouteTracer::WindowsTextMode(const std::string& raw) {
    std::string text;
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\x1a') break;
        if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        text += c;
    }
    return text;
}

std::string CRouteTracer::CompletedTraceText(const std::string& bytes) {
    std::string text(bytes.c_str(), strnlen(bytes.c_str(), bytes.size()));
    text = outlinkwatch::AsciiStrToLower(text);
    if (text.find(kGbkTraceComplete) != std::string::npos || text.find(kTraceComplete) != std::string::npos) {
        return text;
    }
    return std::string();
}

std::string CRouteTracer::TrimBlank(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

int CRouteTracer::ParseTraceOutput(const std::string& output, const std::string& destination,
                                   std::list<std::string>& hops, bool& answered, int32_t osCode) {
    std::list<std::string> lines;
    outlinkwatch::SplitString(output, osCode < kTraceLfOsCode ? "\r\n" : "\n", false, lines);
    for (const std::string& raw : lines) {
        const std::string line = TrimBlank(raw);
        // Headers, blank lines and the completion line do not start with a digit.
        if (line.empty() || line[0] < '0' || line[0] > '9') continue;
        if (line.find(destination) != std::string::npos) {
            hops.push_back(destination);
            answered = true;
            break;
        }
        const size_t space = line.rfind(' ');
        if (space == std::string::npos) continue;
        const std::string word = line.substr(space + 1);
        std::list<std::string> parts;
        outlinkwatch::SplitString(word, ".", false, parts);
        if (parts.size() == 4) {
            hops.push_back(word);
            answered = true;
        } else {
            hops.push_back("*");
        }
    }
    return 0;
}
