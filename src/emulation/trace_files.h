// File and directory answers shared by the backends that have no Windows
// call to make them: the Linux backend and the test fake give the route
// tracer the same answers the Windows calls would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace outlinkwatch {

// Longest path the Windows path calls take, terminator included.
constexpr size_t kMaxWindowsPath = 260;

// GetTempPathA's answer for a directory: the directory with one separator
// at the end; false, with no text, for an empty one or one that does not
// fit bufferSize bytes with its terminator.
bool TempPathAnswer(std::string dir, char separator, uint32_t bufferSize, std::string* path);

}  // namespace outlinkwatch
