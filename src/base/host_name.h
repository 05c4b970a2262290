// The parts of a computer's name, as Windows derives them from its fully
// qualified DNS name.
#pragma once

#include <string>

#include "base/text.h"

namespace outlinkwatch {

// The host part of a fully qualified name: everything before its first dot.
inline std::string HostOfFqdn(const std::string& fqdn) { return fqdn.substr(0, fqdn.find('.')); }

// The NetBIOS form of a name: its host part, upper case, at most 15 characters.
inline std::string NetbiosForm(const std::string& name) { return AsciiStrToUpper(HostOfFqdn(name).substr(0, 15)); }

}  // namespace outlinkwatch
