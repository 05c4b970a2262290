// Whether a directory is fit to hold the route trace's output file: its
// name is the current second, so anyone who can create in the directory
// can take the coming names first (a folder stalls the trace, a file
// forges its route). The facts come from the open directory handle; the
// decision is plain data in, one answer out, the same on every build.
#pragma once

#include <cstdint>
#include <vector>

namespace outlinkwatch {

// Who an owner or an access entry names, as far as the directory cares.
enum class Trustee : uint8_t { kSystem, kAdministrators, kSelf, kOther };

struct AccessEntry {
    Trustee trustee = Trustee::kOther;
    // An allowing entry with any right that creates, changes, removes or
    // re-permissions (GrantsWriteType); a denying entry grants nothing.
    bool grantsWrite = false;
    bool inherited = false;
};

struct DirectoryFacts {
    bool isDirectory = false;
    bool isReparsePoint = false;
    // False for a null access list, which lets everyone do everything.
    bool hasAccessList = false;
    Trustee owner = Trustee::kOther;
    std::vector<AccessEntry> entries;
};

// True when an access mask holds any right of the write type: write or
// append data (add file, add folder), write attributes or extended
// attributes, delete, delete child, change permissions or owner, and the
// generic rights that include them.
bool GrantsWriteType(uint32_t accessMask);

// A directory itself (no reparse point), owned by the system, the
// administrators or this process's own account, with an access list of
// its own (nothing inherited) in which no one else may write.
bool IsPrivateDirectory(const DirectoryFacts& facts);

}  // namespace outlinkwatch
