// Reading a whole file that someone else wrote, with a size cap.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace owhost {

// Reads a regular file of at most maxBytes into text. On failure returns
// false with a one-line reason that names the file. Non-regular files
// (directories, FIFOs, devices) are refused: a FIFO would block the host
// before the plug-in is even loaded.
bool ReadBoundedFile(const std::string& path, size_t maxBytes, std::string* text, std::string* error);

// What ReadBoundedFile does once the platform has opened a regular file of
// the given size: refuse it when it is larger than maxBytes, else read it
// whole but never more than maxBytes + 1 bytes, since it may grow meanwhile.
// readSome reads at most want bytes into buffer and sets got (0 at the
// end), or answers false with the system's reason. shown is the file's name
// as the error texts show it.
using ReadSome = std::function<bool(char* buffer, size_t want, size_t* got, std::string* reason)>;
bool ReadOpenedFile(unsigned long long size, size_t maxBytes, const std::string& shown, const ReadSome& readSome,
                    std::string* text, std::string* error);

// The 1-based line of a byte offset into text.
size_t LineOfOffset(const std::string& text, size_t offset);

// Text fit for one line of a terminal or log file: control characters
// (line ends included) become \xNN escapes so that neither a hostile
// parameter nor a plug-in message can start a fake line or send escape
// sequences; at most maxBytes of the input are kept.
std::string OneLine(const std::string& text, size_t maxBytes = 16384);

}  // namespace owhost
