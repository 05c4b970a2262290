// The Windows names that the host's code written once for every platform
// (host_platform_common.cc) and the demo's Windows parts use.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>

namespace owhost {

// "text of the system's message (error N)", on one line.
std::string SystemError(DWORD code);

}  // namespace owhost
