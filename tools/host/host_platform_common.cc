// The parts of host_platform.h that are the same calls on every platform,
// over the names the platform's own header (posix/ or win32/platform_api.h,
// on the include path of this build) gives them.
#include "host_platform.h"

#include "platform_api.h"

#include <cerrno>
#include <cstring>

#include "bounded_file.h"

namespace owhost {

bool IsIpAddress(const std::string& text) {
    unsigned char buf[sizeof(struct in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buf) == 1 || inet_pton(AF_INET6, text.c_str(), buf) == 1;
}

const char* AppendTargetRefusal(const AppendTarget& t) {
    if (t.link) return "it is a symbolic link";
    if (!t.regular && !t.charDevice) return "not a regular file";
    return t.regular && t.otherOwner ? "owned by another user" : nullptr;
}

}  // namespace owhost
