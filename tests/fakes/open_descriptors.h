// How many descriptors this process has open (Linux), for tests that hold
// that what a call opens, it closes.
#pragma once

#include <filesystem>
#include <iterator>

namespace outlinkwatch {

inline long OpenDescriptors() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

}  // namespace outlinkwatch
