// Feeds arbitrary bytes through the ini reader. Byte 0 picks the buffer
// size and whether the section or the key is null; the rest is the file.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "emulation/ini_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint32_t bufSize = data[0] & 0x3F;
    const bool nullSection = (data[0] & 0x40) != 0;
    const bool nullKey = (data[0] & 0x80) != 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

    // An exact-size heap buffer, so that a write past its end shows.
    std::unique_ptr<char[]> buf(bufSize > 0 ? new char[bufSize] : nullptr);
    const uint32_t n = outlinkwatch::IniGetString(text, nullSection ? nullptr : "Main", nullKey ? nullptr : "Key",
                                                  "default", buf.get(), bufSize);
    if (bufSize == 0 ? n != 0 : n >= bufSize) __builtin_trap();
    if (bufSize > 0 && buf[n] != '\0') __builtin_trap();
    return 0;
}
