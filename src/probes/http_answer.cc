// The parsers of the probe's answer.
#include "probes/http_answer.h"
#include "base/text.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace outlinkwatch {
namespace {

// What a zero-filled buffer of kProbeReceiveMax + 1 bytes would hold as a
// C text: the first kProbeReceiveMax bytes at most, ended by the first NUL.
std::string_view BoundedText(const char* data, size_t len) {
    if (data == nullptr) return {};
    len = std::min(len, kProbeReceiveMax);
    const void* nul = std::memchr(data, '\0', len);
    if (nul != nullptr) len = static_cast<size_t>(static_cast<const char*>(nul) - data);
    return std::string_view(data, len);
}

int LeadingDigitsValue(std::string_view text) {
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = std::min<int64_t>(value * 10 + (c - '0'), INT32_MAX);
    }
    return static_cast<int>(value);
}

std::string TrimSet(const std::string& text, const char* set) {
    const size_t first = text.find_first_not_of(set);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(set) - first + 1);
}

}  // namespace

int ParseResponseCode(const char* data, size_t len, std::string* codeText) {
    const std::string_view text = BoundedText(data, len);
    const size_t crlf = text.find("\r\n");
    if (crlf == std::string_view::npos || crlf >= kStatusLineMax) return -1;
    const std::string_view line = text.substr(0, crlf);
    const size_t firstSpace = line.find(' ');
    if (firstSpace == std::string_view::npos) return -1;
    size_t start = line.find_first_not_of(' ', firstSpace);
    if (start == std::string_view::npos) return -1;
    const size_t end = line.find(' ', start);
    if (end == std::string_view::npos) return -1;
    const std::string_view code = line.substr(start, end - start);
    if (code.size() >= kStatusCodeMax) return -1;
    if (codeText != nullptr) codeText->assign(code.data(), code.size());
    return LeadingDigitsValue(code);
}

std::string ParseLocationHost(const char* data, size_t len) {
    const std::string_view text = BoundedText(data, len);
    const std::string upper = outlinkwatch::AsciiStrToUpper(std::string(text));
    const size_t at = upper.find("LOCATION:");
    if (at == std::string::npos) return std::string();
    const size_t crlf = upper.find("\r\n", at);
    if (crlf == std::string::npos) return std::string();
    std::string value = upper.substr(at, crlf - at);
    value.erase(std::remove(value.begin(), value.end(), ' '), value.end());
    // "LOCATION:" and "HTTP://" are 16 characters, whatever the scheme
    // really is; a line too short to hold more names no host.
    constexpr size_t kPrefix = 16;
    if (value.size() <= kPrefix) return std::string();
    value.erase(0, kPrefix);
    const size_t slash = value.find('/');
    if (slash != std::string::npos) value.erase(slash);
    const size_t colon = value.find(':');
    if (colon != std::string::npos) value.erase(colon);
    return value;
}

std::string TrimProbeText(const std::string& text) {
    return TrimSet(TrimSet(TrimSet(text, " "), "\r\n"), " ");
}

}  // namespace outlinkwatch
