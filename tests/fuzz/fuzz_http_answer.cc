// Feeds arbitrary bytes, as a server's answer, to both answer parsers and
// traps when a result breaks what the probe relies on.
#include "fuzz_input.h"
#include "probes/http_answer.h"

using namespace outlinkwatch;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ExactCopy in(data, size);
    std::string codeText;
    const int code = ParseResponseCode(in.bytes.get(), size, &codeText);
    Check(code >= -1 && (code < 0 || (!codeText.empty() && codeText.size() < kStatusCodeMax)));
    Check(codeText.find(' ') == std::string::npos);
    const std::string host = ParseLocationHost(in.bytes.get(), size);
    Check(host.size() <= kProbeReceiveMax && host.find_first_of(" /:") == std::string::npos);
    for (char c : host) Check(c < 'a' || c > 'z');
    return 0;
}
