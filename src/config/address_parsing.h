// Address texts of the policy configuration: expanding "address/len"
// ranges, port texts and turning host names into addresses (the splitting,
// trimming and inet_addr-style conversion they build on are in
// base/address_text.h, included here for the callers). Everything here is pure: the name resolver and
// the logger come in as callbacks, so the same code runs in the plug-in, in
// the unit tests and in the fuzz harness, on Windows and on Linux alike.
//
// All parameters are untrusted policy text. None of it is ever used as a
// printf format, nothing recurses, and embedded NUL or non-text bytes are
// just bytes.
//
// Memory cost of range expansion: ParseIPSec turns every accepted /24 into
// 256 separate address texts, one list node each. On 64-bit Linux a node
// costs 64 bytes with the allocator's overhead (the texts fit the string's
// inline buffer), so 10,000 "/24" entries make 2,560,000 texts and about
// 164 MB of heap (measured). Masks shorter than 24 are refused so that a
// single entry cannot cost more than those 256 texts.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "base/address_text.h"

namespace outlinkwatch {

// One "host:port" entry resolved to one address.
struct ConnectAddrRecord {
    std::string strAddr;   // dotted address text
    std::string strPort;   // port text as configured, not checked
    std::string strHost;   // host as configured, trimmed
    std::string strSpare;  // unused, always empty
};

// Resolves a host name like gethostbyname: IPv4 addresses in network byte
// order, in the resolver's order. Returns false if the name does not resolve.
using ResolveFn = std::function<bool(const std::string& host, std::vector<uint32_t>* addrsNetOrder)>;

// Receives a plain message, never a format.
using LogFn = std::function<void(const char* message)>;

// Appends each entry to out: an entry without '/' unchanged, an entry
// "address/len" (split at the last '/') as every address of its network, in
// ascending order. len is read like atol and must be 24..32; otherwise
// log("uMask is invalid.") is called and the entry is dropped. An address
// that InetAddr refuses counts as 255.255.255.255.
void ParseIPSec(const std::list<std::string>& in, std::list<std::string>& out, const LogFn& log);

// The port text as atoi reads it (blanks, a sign, leading digits; 0 when
// there are none), kept in 16 bits. Counted modulo 65536 all the way, so a
// long run of digits cannot overflow.
uint16_t AtoiPort(const std::string& text);

// Resolves a list of host names (withPort == 0) or "host:port" entries
// (withPort != 0, split at the last ':'; entries without ':' are skipped).
// If in is empty, nothing happens and the outputs keep what they held;
// otherwise all four outputs are cleared first. For each entry the host is
// trimmed with TrimText and passed to resolve. If it resolves, each address
// (at most kMaxAddrsPerHost) goes to outText as text and, with a port, to
// outRecords as {text, port, host, ""}, without a port to outIP in host
// order (first dotted number in the most significant byte). A name that
// resolves to no address adds nothing. If it does not resolve, the entry as
// it stood in the input goes to outUnresolved.
void ResolveAddrList(const std::list<std::string>& in, int withPort, std::list<uint32_t>& outIP,
                     std::list<std::string>& outText, std::list<ConnectAddrRecord>& outRecords,
                     std::list<std::string>& outUnresolved, const ResolveFn& resolve);

}  // namespace outlinkwatch
