#include "emulation/trace_files.h"

namespace outlinkwatch {

bool TempPathAnswer(std::string dir, char separator, uint32_t bufferSize, std::string* path) {
    if (dir.empty() || path == nullptr) return false;
    if (dir.back() != separator) dir += separator;
    if (dir.size() + 1 > bufferSize) return false;
    *path = dir;
    return true;
}

}  // namespace outlinkwatch
