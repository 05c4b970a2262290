// tracert.exe for Windows systems that have none (Wine): the route-trace
// command the policy runs, in the output shape it reads, made with ICMP
// echo requests of growing TTL (IcmpSendEcho).
//   tracert [-d] [-h max_hops] [-w timeout_ms] destination
// Prints a header naming the destination, one numbered line per hop whose
// last word is the hop's address ("Request timed out." for a silent hop),
// and "Trace complete." after the destination answered or the hop limit
// was reached. Addresses are always numeric. Where ICMP cannot be used
// (no privileges), every hop is reported as timed out, so the output still
// completes. Bad arguments give a message on stderr, no completion line
// and exit code 2.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Usage() {
    std::fputs("usage: tracert [-d] [-h max_hops] [-w timeout_ms] destination\n", stderr);
    return 2;
}

// A decimal number of at most nine digits.
bool ParseNumber(const char* text, unsigned long* value) {
    const size_t n = std::strlen(text);
    if (n == 0 || n > 9 || std::strspn(text, "0123456789") != n) return false;
    *value = std::strtoul(text, nullptr, 10);
    return true;
}

// Only host names and addresses.
bool PlainDestination(const std::string& d) {
    if (d.empty() || d.size() > 255 || d[0] == '-') return false;
    return d.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.:_-") ==
           std::string::npos;
}

// The destination's first IPv4 address, in network byte order; 0 if none.
IPAddr Resolve(const std::string& destination) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(destination.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return 0;
    const IPAddr addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return addr;
}

std::string Dotted(IPAddr addr) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&addr);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

}  // namespace

int main(int argc, char** argv) {
    unsigned long waitMs = 4000, maxHops = 30;
    std::string destination;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-d") continue;
        if (arg == "-w" || arg == "-h") {
            if (i + 1 >= argc || !ParseNumber(argv[i + 1], arg == "-w" ? &waitMs : &maxHops)) return Usage();
            ++i;
        } else if (arg[0] == '-' || !destination.empty()) {
            return Usage();
        } else {
            destination = arg;
        }
    }
    if (destination.empty() || maxHops < 1 || maxHops > 255) return Usage();
    if (!PlainDestination(destination)) {
        std::fputs("tracert: bad destination\n", stderr);
        return 2;
    }
    if (waitMs == 0) waitMs = 1;

    WSADATA wsa;
    const bool sockets = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    const IPAddr target = sockets ? Resolve(destination) : 0;
    std::printf("\nTracing route to %s over a maximum of %lu hops\n\n", destination.c_str(), maxHops);
    std::fflush(stdout);

    HANDLE icmp = target != 0 ? IcmpCreateFile() : INVALID_HANDLE_VALUE;
    if (target == 0) {
        std::fprintf(stderr, "tracert: cannot resolve %s\n", destination.c_str());
    } else if (icmp == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "tracert: no ICMP here (error %lu); every hop times out\n", GetLastError());
    }
    char payload[32];
    std::memset(payload, 'a', sizeof payload);
    // The reply, the echoed data and room for the quoted header of an
    // ICMP error.
    alignas(ICMP_ECHO_REPLY) unsigned char reply[sizeof(ICMP_ECHO_REPLY) + sizeof payload + 8 + 128];
    for (unsigned long hop = 1; target != 0 && hop <= maxHops; ++hop) {
        DWORD status = IP_REQ_TIMED_OUT;
        IPAddr from = 0;
        ULONG rtt = 0;
        if (icmp != INVALID_HANDLE_VALUE) {
            IP_OPTION_INFORMATION options{};
            options.Ttl = static_cast<UCHAR>(hop);
            std::memset(reply, 0, sizeof reply);
            const DWORD replies = IcmpSendEcho(icmp, target, payload, sizeof payload, &options, reply, sizeof reply,
                                               waitMs);
            const ICMP_ECHO_REPLY* r = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply);
            // A TTL that ran out comes back as a failed call on some
            // systems, with the reply filled in all the same.
            if (replies > 0 || r->Address != 0) {
                status = r->Status;
                from = r->Address;
                rtt = r->RoundTripTime;
            }
        }
        if (from == 0 || (status != IP_SUCCESS && status != IP_TTL_EXPIRED_TRANSIT &&
                          status != IP_TTL_EXPIRED_REASSEM && status != IP_DEST_HOST_UNREACHABLE &&
                          status != IP_DEST_NET_UNREACHABLE && status != IP_DEST_PORT_UNREACHABLE &&
                          status != IP_DEST_PROT_UNREACHABLE)) {
            std::printf("%3lu     *        Request timed out.\n", hop);
        } else {
            const std::string ms = rtt < 1 ? std::string("<1") : std::to_string(rtt);
            std::printf("%3lu  %5s ms  %s\n", hop, ms.c_str(), Dotted(from).c_str());
            // The destination, or a router that says it is unreachable,
            // ends the trace.
            if (status != IP_TTL_EXPIRED_TRANSIT && status != IP_TTL_EXPIRED_REASSEM) hop = maxHops;
        }
        std::fflush(stdout);
    }
    std::printf("\nTrace complete.\n");
    if (icmp != INVALID_HANDLE_VALUE) IcmpCloseHandle(icmp);
    if (sockets) WSACleanup();
    return 0;
}
