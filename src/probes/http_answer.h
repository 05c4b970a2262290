// The parsers of a web server's answer to the probe. Each is a pure
// function of a bounded byte buffer, so tests and the fuzzer can feed them
// anything without a socket. The answer is hostile text: at most
// kProbeReceiveMax bytes of it are ever looked at, and none of it reaches a
// log as a format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace outlinkwatch {

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
