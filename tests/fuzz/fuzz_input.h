// What the harnesses share: an exact-size heap copy of the input, so that a
// read past its end lands in the sanitizer's red zone instead of in the
// fuzzer's own, larger buffer (new[] keeps any header's alignment); and the
// check that traps when an invariant breaks.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

struct ExactCopy {
    ExactCopy(const uint8_t* data, size_t n) : bytes(new char[n == 0 ? 1 : n]), size(n) {
        if (n != 0) std::memcpy(bytes.get(), data, n);
    }
    std::string Text(size_t from = 0, size_t length = std::string::npos) const {
        return std::string(bytes.get() + from, std::min(length, size - from));
    }
    std::unique_ptr<char[]> bytes;
    size_t size;
};

inline void Check(bool ok) {
    if (!ok) __builtin_trap();
}
