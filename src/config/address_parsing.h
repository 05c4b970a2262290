// Address texts of the policy configuration: splitting and trimming lists,
// expanding "address/len" ranges, inet_addr-style conversion and turning
// host names into addresses. Everything here is pure: the name resolver and
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

// Most addresses taken from one resolver answer. A real answer for one name
// holds a handful; a broken or hostile resolver must not be able to blow up
// the lists built from a single configuration entry.
constexpr size_t kMaxAddrsPerHost = 64;

// Strips, from both ends, first every '\r' and '\n', then blanks, then tabs,
// then blanks again. One pass per set, so a line feed behind a leading blank
// survives: " \nx" gives "\nx".
std::string TrimText(const std::string& s);

// Appends to out (never clears) the pieces of text between occurrences of
// sep, searched from the start. Empty pieces are kept only if keepEmpty; an
// empty piece behind a trailing separator is never appended. Pieces are not
// trimmed. An empty sep appends text as one piece. sep is expected to be a
// short caller constant: the search costs up to length(text) * length(sep).
void SplitString(const std::string& text, const std::string& sep, bool keepEmpty, std::list<std::string>& out);

// Appends each entry to out: an entry without '/' unchanged, an entry
// "address/len" (split at the last '/') as every address of its network, in
// ascending order. len is read like atol and must be 24..32; otherwise
// log("uMask is invalid.") is called and the entry is dropped. An address
// that InetAddr refuses counts as 255.255.255.255.
void ParseIPSec(const std::list<std::string>& in, std::list<std::string>& out, const LogFn& log);

// Between network order (the bytes as they travel) and host order (the
// first dotted number in the most significant bits), on any host.
uint32_t NetFromHost(uint32_t host);
uint32_t HostFromNet(uint32_t net);

// The port text as atoi reads it (blanks, a sign, leading digits; 0 when
// there are none), kept in 16 bits. Counted modulo 65536 all the way, so a
// long run of digits cannot overflow.
uint16_t AtoiPort(const std::string& text);

// "a.b.c.d" of the four bytes of an address in network order.
std::string AddressText(uint32_t addrNetOrder);

// The address in network order, read as glibc's inet_addr does: one to four
// dot-separated parts, each decimal, octal (leading 0) or hex (0x); the last
// part fills the remaining bytes; anything after a white-space character is
// ignored. Returns 0xFFFFFFFF (INADDR_NONE) for invalid text - which is also
// what "255.255.255.255" gives. Differences from the library call: white
// space is classified as in the "C" locale whatever the process locale is,
// and the result is the same on every platform (the Windows library call
// reads some forms differently). As with the C call, an embedded NUL ends
// the text.
uint32_t InetAddr(const std::string& text);

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
