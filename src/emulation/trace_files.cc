#include "emulation/trace_files.h"

#include <fstream>

namespace outlinkwatch {

bool TempPathAnswer(std::string dir, char separator, uint32_t bufferSize, std::string* path) {
    if (dir.empty() || path == nullptr) return false;
    if (dir.back() != separator) dir += separator;
    if (dir.size() + 1 > bufferSize) return false;
    *path = dir;
    return true;
}

std::string WindowsTextMode(const std::string& raw) {
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

bool ReadTextModeFile(const std::string& path, size_t maxBytes, std::string* text) {
    if (text == nullptr || path.empty() || path.size() >= kMaxWindowsPath) return false;
    if (path.find('\0') != std::string::npos) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string raw(maxBytes, '\0');
    if (maxBytes > 0) in.read(&raw[0], static_cast<std::streamsize>(maxBytes));
    if (in.bad()) return false;
    raw.resize(static_cast<size_t>(in.gcount()));
    *text = WindowsTextMode(raw);
    return true;
}

}  // namespace outlinkwatch
