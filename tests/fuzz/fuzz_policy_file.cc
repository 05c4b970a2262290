// Feeds arbitrary bytes as the host's policy file, under small limits so
// that each one is reached: what parses keeps within them, what does not
// gets one line naming where.
#include <cstdint>
#include <string>

#include "policy_file.h"

namespace {
const owhost::PolicyLimits kLimits{4096, 8, 16, 12, 2};

// Records, groups and their occurrences in a list; false past a limit.
bool Within(const std::list<PolicyParam>& list, int depth, size_t* records) {
    for (const PolicyParam& p : list) {
        if (p.name.empty() || p.name.size() > kLimits.maxNameBytes || p.value.size() > kLimits.maxValueBytes) return false;
        if (p.kind == 1 && depth + 1 > kLimits.maxGroupDepth) return false;
        ++*records;
        for (const auto& child : p.children) {
            for (const auto& occurrence : child.second) {
                ++*records;
                if (!Within(occurrence, depth + 1, records)) return false;
            }
        }
    }
    return *records <= kLimits.maxRecords;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    owhost::PolicyDocument doc;
    std::string error;
    size_t records = 0;
    if (!owhost::ParsePolicyText(text, &doc, &error, kLimits)) {
        if (error.compare(0, 5, "line ") != 0 || error.find('\n') != std::string::npos) __builtin_trap();
        return 0;
    }
    if (!Within(doc.policyParams, 0, &records) || !Within(doc.commParams, 0, &records)) __builtin_trap();
    return 0;
}
