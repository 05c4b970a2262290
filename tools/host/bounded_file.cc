#include "bounded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace owhost {

bool ReadBoundedFile(const std::string& path, size_t maxBytes, std::string* text, std::string* error) {
    const std::string shown = OneLine(path, 512);
    // O_NONBLOCK so that opening a FIFO cannot hang before fstat refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = "cannot open " + shown + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = shown + " is not a regular file";
        return false;
    }
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        ::close(fd);
        *error = shown + " is larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    // The size may change while reading; never read more than the cap + 1.
    std::string data;
    data.resize(maxBytes < 65536 ? maxBytes + 1 : 65536);
    size_t used = 0;
    for (;;) {
        if (used == data.size()) {
            if (data.size() > maxBytes) break;
            data.resize(data.size() * 2 > maxBytes + 1 ? maxBytes + 1 : data.size() * 2);
        }
        const ssize_t n = ::read(fd, &data[used], data.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int saved = errno;
            ::close(fd);
            *error = "cannot read " + shown + ": " + std::strerror(saved);
            return false;
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    ::close(fd);
    if (used > maxBytes) {
        *error = shown + " is larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    data.resize(used);
    *text = std::move(data);
    return true;
}

size_t LineOfOffset(const std::string& text, size_t offset) {
    if (offset > text.size()) offset = text.size();
    size_t line = 1;
    for (size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') ++line;
    }
    return line;
}

std::string OneLine(const std::string& text, size_t maxBytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    const size_t n = text.size() < maxBytes ? text.size() : maxBytes;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (n < text.size()) out += "...";
    return out;
}

}  // namespace owhost
