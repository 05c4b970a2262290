// Whether the computer is on a network a connection check can use.
#pragma once

#include <vector>

#include "platform/os.h"

namespace outlinkwatch {

// True when some adapter has an IPv4 address other than 0.0.0.0 (none
// assigned) and 127.0.0.1 (loopback).
bool HasUsableAddress(const std::vector<AdapterInfo>& adapters);

}  // namespace outlinkwatch
