// Policy files of the reference host: a small XML format turned into the
// PolicyParam records an agent hands to the policy. The format is described
// in README.md beside this file.
//
// A policy file comes from whoever runs the host and is treated as hostile:
// its size, the length of every name and value, the number of records and
// the nesting of groups are all capped, and anything the format does not
// know is refused with one message naming the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>

#include "outlinkwatch/records.h"

namespace owhost {

// The policy type this host serves; a file may name it, but no other.
constexpr const char* kPolicyType = "policy.win.outlink.watch";

struct PolicyLimits {
    size_t maxFileBytes = 16u << 20;
    size_t maxNameBytes = 256;
    size_t maxValueBytes = 64u << 10;
    size_t maxRecords = 65536;  // parameters, groups and occurrences together
    int maxGroupDepth = 4;      // a group inside an occurrence inside a group ...
};

struct PolicyDocument {
    // What SetPolicyParams receives (the "PolicyCommParam" group included).
    std::list<PolicyParam> policyParams;
    // What SetCommParams receives: the contents of <common>.
    std::list<PolicyParam> commParams;
    // The language attribute of <policy>, if it has one.
    std::optional<uint32_t> language;
};

// Parses the text of a policy file. On failure returns false and sets error
// to one line without the file name ("line 3: ...").
bool ParsePolicyText(const std::string& text, PolicyDocument* out, std::string* error,
                     const PolicyLimits& limits = PolicyLimits());

// Reads and parses a file; the error names the file.
bool LoadPolicyFile(const std::string& path, PolicyDocument* out, std::string* error,
                    const PolicyLimits& limits = PolicyLimits());

// The built-in demonstration policy, in the file format: connection mode
// against one loopback port (the demo's own "outside" server), blocking
// what it reaches. It needs no network beyond loopback. With allowed
// proxies it also checks the browsers' proxy settings against them.
std::string DemoPolicyText(uint16_t outsidePort, const std::string& allowedProxies = std::string());
// The built-in proxy demonstration policy: route mode with one allowed
// proxy (a documentation address) and nothing to trace, blocking the
// browser proxies that are not allowed.
std::string DemoProxyPolicyText();

// Strict decimal numbers as the command line and the files write them: no
// sign, no blanks, no exponent. False if the text is not one or is too big.
bool ParseUint32(const std::string& text, uint32_t* value);

}  // namespace owhost
