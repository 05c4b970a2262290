// The TCP/HTTP probe: can this terminal open a connection to one endpoint,
// and, for a web server on port 80, does its answer come from the real
// outside or redirect to the managed network's image servers?
//
// Everything that reads answer text is a pure function of a bounded byte
// buffer (the Parse* functions below), so the parsers can be fed anything
// by tests and the fuzzer without a socket. The answer is hostile text: at
// most kProbeReceiveMax bytes of it are ever read, and none of it reaches a
// log as a format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

class ACE_INET_Addr;
class ACE_Message_Block;

namespace outlinkwatch {
class Os;

// Bounds of one probe.
constexpr size_t kProbeRequestMax = 1024;   // request buffer, zero terminator included
constexpr size_t kProbeBlockSize = 1025;    // send and receive blocks
constexpr size_t kProbeReceiveMax = 1024;   // the one receive reads at most this much
constexpr size_t kStatusLineMax = 256;      // a status line this long or longer is refused
constexpr size_t kStatusCodeMax = 32;       // so is a code text this long or longer
constexpr size_t kHostTextMax = 32;         // the endpoint's dotted text, terminator included

// Network time-outs, in microseconds, before the Os has scaled them.
constexpr uint64_t kConnectTimeoutUs = 8000001;  // 8 s and 1 µs per attempt
constexpr uint64_t kSendTimeoutUs = 5000000;
constexpr uint64_t kReceiveTimeoutUs = 5000000;

// The HTTP status code of an answer: the text between the first space of
// the status line (and any spaces after it) and the next space. -1 when
// there is no CR LF, the status line is kStatusLineMax bytes or longer,
// a space is missing, or the code text is kStatusCodeMax bytes or longer.
// Otherwise the value of the code text's leading digits (0 without any,
// saturated at INT32_MAX); *codeText, if given, receives the code text.
// Only the first min(len, kProbeReceiveMax) bytes count, and a NUL ends the
// text, as it would in a zero-filled buffer.
int ParseResponseCode(const char* data, size_t len, std::string* codeText);

// The host of the first "LOCATION:" (any letter case, header or body) up to
// the next CR LF: upper-cased, blanks (code 32 only) removed, the first 16
// characters ("LOCATION:" and a seven-character scheme) dropped, then cut
// at the first '/' and then at the first ':'. Empty when there is no such
// line or it is too short to hold a host. Same bounds as above.
std::string ParseLocationHost(const char* data, size_t len);

// The text trimmed at both ends of blanks, then CR and LF, then blanks again.
std::string TrimProbeText(const std::string& text);

}  // namespace outlinkwatch

constexpr int PROBE_CONNECTED = 0;
constexpr int PROBE_FAILED = -1;
constexpr int PROBE_REDIRECTED = -2;

class CInvalidSocket {
public:
    // The Os resolves names and scales the network time-outs; the caller's own.
    explicit CInvalidSocket(outlinkwatch::Os* os) : m_pOs(os) {}

    // One probe: PROBE_CONNECTED, PROBE_FAILED or PROBE_REDIRECTED.
    int connect(const ACE_INET_Addr& endpoint, const std::list<std::string>& imageIPs);

    int GetResponseCode(const ACE_Message_Block& block);
    std::string GetLocationHost(const ACE_Message_Block& block);
    // Appends the host's IPv4 addresses, except 127.0.0.1 and 0.0.0.0, as
    // dotted texts; false for an empty host or one that does not resolve.
    bool ResolveHost(const std::string& host, std::list<std::string>& addrs);
    static bool IsImageIP(const std::list<std::string>& addrs, const std::list<std::string>& imageIPs);

private:
    outlinkwatch::Os* const m_pOs;
};
