// Feeds arbitrary bytes through the route tracer's output reading: the
// text-mode conversion, the completion check and the hop parser.
// Input layout: byte 0 picks the operating-system code (bit 0: 108 or 122)
// and the destination's length (bits 1-4, up to 15 bytes); the destination
// follows, then the file's bytes. Broken invariants trap.
#include <list>

#include "fuzz_input.h"
#include "probes/route_tracer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const unsigned flags = data[0];
    const int32_t osCode = (flags & 1) != 0 ? 122 : 108;
    const size_t destLen = (flags >> 1) & 15;
    if (size < 1 + destLen) return 0;
    const ExactCopy in(data, size);
    const std::string destination = in.Text(1, destLen), bytes = in.Text(1 + destLen);

    const std::string text = CRouteTracer::WindowsTextMode(bytes);
    Check(text.size() <= bytes.size() && text.find('\x1a') == std::string::npos);

    const std::string complete = CRouteTracer::CompletedTraceText(text);
    Check(complete.empty() || complete.find('\0') == std::string::npos);

    // Complete or not, the parser must hold up on any text.
    for (const std::string* input : {&text, &complete, &bytes}) {
        std::list<std::string> hops;
        bool answered = false;
        Check(CRouteTracer::ParseTraceOutput(*input, destination, hops, answered, osCode) == 0);
        Check(hops.size() <= input->size());
        for (const std::string& hop : hops) {
            Check(hop == "*" || hop == destination || hop.find(' ') == std::string::npos);
            if (hop != "*") Check(answered);
        }
    }
    const std::string trimmed = CRouteTracer::TrimBlank(text);
    Check(trimmed.empty() || (trimmed.front() != ' ' && trimmed.front() != '\t' && trimmed.back() != ' ' &&
                              trimmed.back() != '\t'));
    return 0;
}
