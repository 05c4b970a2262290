// Feeds arbitrary bytes as a datagram of the route socket. The walk must
// agree with one written with the kernel's own header macros.
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include "fuzz_input.h"
#include "platform/linux/net_linux.h"

#pragma clang diagnostic ignored "-Wsign-compare"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    const ExactCopy in(data, size);
    bool expected = false;
    int len = static_cast<int>(size);
    for (const nlmsghdr* nh = reinterpret_cast<const nlmsghdr*>(in.bytes.get()); NLMSG_OK(nh, len) && !expected;
         nh = NLMSG_NEXT(nh, len)) {
        const bool route = nh->nlmsg_type == RTM_NEWROUTE || nh->nlmsg_type == RTM_DELROUTE;
        expected = nh->nlmsg_type == NLMSG_OVERRUN ||
                   (route && nh->nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg)) &&
                    static_cast<const rtmsg*>(NLMSG_DATA(nh))->rtm_family == AF_INET);
    }
    Check(outlinkwatch::linuxnet::HoldsIPv4RouteChange(in.bytes.get(), size) == expected);
    return 0;
}
