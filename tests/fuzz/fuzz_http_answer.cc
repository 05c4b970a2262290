// Feeds arbitrary bytes, as a server's answer, to both answer parsers and
// traps when a result breaks what the probe relies on.
#include <cstdint>
#include <cstring>
#include <memory>

#include "probes/http_answer.h"

using namespace outlinkwatch;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy, so that a read past the end lands in the
    // sanitizer's red zone instead of in the fuzzer's own, larger buffer.
    std::unique_ptr<char[]> buf(new char[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(buf.get(), data, size);

    std::string codeText;
    const int code = ParseResponseCode(buf.get(), size, &codeText);
    if (code < -1) __builtin_trap();
    if (code >= 0 && (codeText.empty() || codeText.size() >= kStatusCodeMax)) __builtin_trap();
    if (codeText.find(' ') != std::string::npos) __builtin_trap();

    const std::string host = ParseLocationHost(buf.get(), size);
    if (host.size() > kProbeReceiveMax) __builtin_trap();
    if (host.find_first_of(" /:") != std::string::npos) __builtin_trap();
    for (char c : host) {
        if (c >= 'a' && c <= 'z') __builtin_trap();
    }
    return 0;
}
