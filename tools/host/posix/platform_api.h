// The POSIX names that the host's code written once for every platform
// (host_platform_common.cc) uses.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

namespace owhost {

}  // namespace owhost
