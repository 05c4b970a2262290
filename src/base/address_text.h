// Text helpers of lists and IPv4 addresses that several layers share: the
// configuration, the checks and the host. Pure and locale-free; all input is
// untrusted text, never used as a printf format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

namespace outlinkwatch {

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

// Between network order (the bytes as they travel) and host order (the
// first dotted number in the most significant bits), on any host.
uint32_t NetFromHost(uint32_t host);
uint32_t HostFromNet(uint32_t net);

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

}  // namespace outlinkwatch
