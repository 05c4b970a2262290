// Version resources of Windows executables (PE images), read without the
// Windows loader, so that a backend without one can still tell a Windows
// file's version. Everything here treats the file as hostile: every offset
// and length is checked against what was read, and every walk is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace outlinkwatch {

// Reads exactly length bytes at offset into out; false when they are not there.
using ReadAtFn = std::function<bool(uint64_t offset, size_t length, std::string* out)>;

// Largest version resource taken (real ones are a few KiB).
constexpr size_t kMaxVersionBlockBytes = 256u * 1024u;

// The data of the image's version resource (type 16, name 1 or else the
// first one, first language): a VS_VERSIONINFO block. False when the input
// is no PE image or has no such resource.
bool PeVersionBlock(const ReadAtFn& read, std::string* block);

// What VerQueryValue answers for "\\VarFileInfo\\Translation" and then
// "\\StringFileInfo\\%04x%04x\\<item>" with the first translation: the
// item's text (UTF-16 turned into UTF-8). False when either is missing.
bool VersionBlockItem(const std::string& block, const std::string& item, std::string* value);

// Both on an image; false for one that cannot be read, is no PE image (an
// ELF file, say) or lacks the item.
bool PeVersionItem(const ReadAtFn& read, const std::string& item, std::string* value);

}  // namespace outlinkwatch
