// The POSIX names that the host's code written once for every platform
// (host_platform_common.cc) uses.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

namespace owhost {

// fopen's mode for appending through a descriptor that the programs started
// later do not inherit ("e": close on exec).
constexpr const char* kAppendNotInherited = "ae";

}  // namespace owhost
