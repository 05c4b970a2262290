// What the policy's parameter texts ask for, decided before any name is
// resolved or any adapter asked: the mode, the cycle, whether the texts
// are usable at all, and the lists each mode reads.
#pragma once

#include <cstdint>
#include <list>
#include <string>

namespace outlinkwatch {

// The parameter texts that decide, by their parameter names.
struct PolicyParamTexts {
    std::string type;      // "Type"
    std::string checkcyc;  // "checkcyc"
    std::string tracert;   // "TrancertAddr"
    std::string route;     // "Route"
    std::string proxy;     // "Proxy"
    std::string connect;   // "ConnectAddr"
    std::string image;     // "ImageIP"
};

struct PolicyParamsPlan {
    int checkType = 0;   // Type as atoi reads it: 0 (also when missing) is route mode, anything else connection mode
    int checkCycle = 0;  // checkcyc as atoi reads it
    bool usable = false;  // some addresses to check: traced, connected to, or allowed proxies
    // Route mode: the lists split at ';', empty pieces dropped, pieces not
    // trimmed; the route entries are still to be expanded.
    std::list<std::string> tracert, routes, proxies;
    // Connection mode: the "host:port" entries and the image addresses, split the same way.
    std::list<std::string> connect, imageIPs;
};

PolicyParamsPlan PlanPolicyParams(const PolicyParamTexts& texts);

// Appends each address of from that to does not hold yet, in from's order.
void AppendMissing(std::list<uint32_t>& to, const std::list<uint32_t>& from);

}  // namespace outlinkwatch
