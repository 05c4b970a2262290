#include "emulation/pe_version.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/text.h"

namespace outlinkwatch {
namespace {

constexpr uint16_t kResourceTypeVersion = 16;
constexpr size_t kMaxSections = 96;
// No entry has this id (ids have the top bit clear): take the first.
constexpr uint32_t kAnyEntry = 0xFFFFFFFFu;
constexpr uint32_t kMaxDirectoryEntries = 4096;
constexpr size_t kQueryBufferBytes = 260;  // the query with its terminator

uint16_t Le16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t Le32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(Le16(b, at)) | static_cast<uint32_t>(Le16(b, at + 2)) << 16;
}

struct Section {
    uint32_t va, virtualSize, rawSize, rawOffset;
};

// A file offset for an address inside the image; returns how many bytes
// follow it in the same section, 0 when no section backs it with file bytes.
uint64_t RvaToOffset(const std::vector<Section>& sections, uint32_t rva, uint64_t* offset) {
    for (const Section& s : sections) {
        const uint64_t span = std::max(s.virtualSize, s.rawSize);
        if (rva < s.va || rva - s.va >= span) continue;
        const uint32_t delta = rva - s.va;
        *offset = static_cast<uint64_t>(s.rawOffset) + delta;
        return s.rawSize - std::min(delta, s.rawSize);
    }
    return 0;
}

// The entry of a resource directory to follow: the one with wantId when
// present, else the first (never for the version type). Returns its OffsetToData field.
bool PickEntry(const ReadAtFn& read, uint64_t dirOffset, uint32_t wantId, uint32_t* target) {
    std::string head;
    if (!read(dirOffset, 16, &head)) return false;
    uint32_t count = static_cast<uint32_t>(Le16(head, 12)) + Le16(head, 14);
    if (count == 0) return false;
    if (count > kMaxDirectoryEntries) count = kMaxDirectoryEntries;
    std::string entries;
    if (!read(dirOffset + 16, count * 8u, &entries)) return false;
    bool found = false;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t name = Le32(entries, i * 8);
        const uint32_t data = Le32(entries, i * 8 + 4);
        const bool isId = (name & 0x80000000u) == 0;
        if (isId && name == wantId) {
            *target = data;
            return true;
        }
        if (!found && wantId != kResourceTypeVersion) {
            *target = data;
            found = true;
        }
    }
    return found;
}

struct Node {
    size_t end = 0;
    std::u16string key;
    uint16_t valueLength = 0, type = 0;
    size_t valueStart = 0, valueEnd = 0, childrenStart = 0;
};

size_t Align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

// One VS_VERSIONINFO-style node at pos, inside [pos, limit).
bool ParseNode(const std::string& b, size_t pos, size_t limit, Node* n) {
    if (pos + 6 > limit) return false;
    const uint16_t length = Le16(b, pos);
    if (length > limit - pos) return false;  // one shorter than its header fails at the key below
    n->end = pos + length;
    n->valueLength = Le16(b, pos + 2);
    n->type = Le16(b, pos + 4);
    size_t p = pos + 6;
    n->key.clear();
    for (;;) {
        if (p + 2 > n->end) return false;
        const char16_t c = static_cast<char16_t>(Le16(b, p));
        p += 2;
        if (c == 0) break;
        n->key.push_back(c);
    }
    n->valueStart = std::min(Align4(p), n->end);
    const size_t valueBytes = n->type == 1 ? size_t{n->valueLength} * 2 : n->valueLength;
    n->valueEnd = n->valueStart + std::min(valueBytes, n->end - n->valueStart);
    n->childrenStart = std::min(Align4(n->valueEnd), n->end);
    return true;
}

bool KeyEquals(const std::u16string& key, const std::string& name) {
    return std::equal(key.begin(), key.end(), name.begin(), name.end(), [](char16_t a, char b) {
        if (a >= 'A' && a <= 'Z') a = static_cast<char16_t>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        return a == static_cast<unsigned char>(b);
    });
}

// Follows a "\\a\\b" path from the root node, each step a child by name.
bool FindPath(const std::string& block, const std::string& path, Node* out) {
    Node node;
    if (!ParseNode(block, 0, block.size(), &node)) return false;
    size_t start = 0;
    while (start < path.size()) {
        if (path[start] == '\\') {
            ++start;
            continue;
        }
        size_t stop = path.find('\\', start);
        if (stop == std::string::npos) stop = path.size();
        const std::string part = path.substr(start, stop - start);
        start = stop;
        bool found = false;
        // A child that parses holds its header and a key, so the walk ends.
        for (size_t pos = node.childrenStart; pos < node.end;) {
            Node child;
            if (!ParseNode(block, pos, node.end, &child)) break;
            if (KeyEquals(child.key, part)) {
                node = child;
                found = true;
                break;
            }
            pos = Align4(child.end);
        }
        if (!found) return false;
    }
    *out = node;
    return true;
}

}  // namespace

bool PeVersionBlock(const ReadAtFn& read, std::string* block) {
    std::string dos;
    if (!read(0, 64, &dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint32_t peOffset = Le32(dos, 0x3C);
    std::string coff;
    if (!read(peOffset, 24, &coff) || coff.compare(0, 4, std::string("PE\0\0", 4)) != 0) return false;
    const uint16_t sectionCount = Le16(coff, 6);
    const uint16_t optionalSize = Le16(coff, 20);
    if (sectionCount == 0 || sectionCount > kMaxSections) return false;
    std::string opt;
    if (optionalSize < 2 || !read(uint64_t{peOffset} + 24, optionalSize, &opt)) return false;
    // PE32 and PE32+ differ in where the data directories begin.
    size_t countAt;
    const uint16_t magic = Le16(opt, 0);
    if (magic == 0x10B) countAt = 92;
    else if (magic == 0x20B) countAt = 108;
    else return false;
    const size_t resourceDirAt = countAt + 4 + 2 * 8;  // the third directory
    if (resourceDirAt + 8 > opt.size() || Le32(opt, countAt) < 3) return false;
    const uint32_t resourceRva = Le32(opt, resourceDirAt);
    if (resourceRva == 0 || Le32(opt, resourceDirAt + 4) == 0) return false;

    std::string table;
    if (!read(uint64_t{peOffset} + 24 + optionalSize, size_t{sectionCount} * 40, &table)) return false;
    std::vector<Section> sections;
    for (size_t i = 0; i < sectionCount; ++i) {
        const size_t at = i * 40;
        sections.push_back(Section{Le32(table, at + 12), Le32(table, at + 8), Le32(table, at + 16), Le32(table, at + 20)});
    }
    uint64_t root = 0;
    const uint64_t rootAvail = RvaToOffset(sections, resourceRva, &root);
    if (rootAvail == 0) return false;

    // Type, then name, then language; offsets below the leaf are relative
    // to the directory's start and must stay inside its section.
    uint32_t target = 0;
    uint64_t dir = root;
    const uint32_t wanted[3] = {kResourceTypeVersion, 1, kAnyEntry};
    for (int level = 0; level < 3; ++level) {
        if (!PickEntry(read, dir, wanted[level], &target)) return false;
        const bool subdirectory = (target & 0x80000000u) != 0;
        if (subdirectory != (level < 2)) return false;
        const uint32_t rel = target & 0x7FFFFFFFu;
        if (rel >= rootAvail) return false;
        dir = root + rel;
    }
    std::string leaf;
    if (!read(dir, 16, &leaf)) return false;
    const uint32_t dataRva = Le32(leaf, 0);
    const uint32_t dataSize = Le32(leaf, 4);
    uint64_t dataOffset = 0;
    if (dataSize == 0 || dataSize > kMaxVersionBlockBytes || dataSize > RvaToOffset(sections, dataRva, &dataOffset)) {
        return false;
    }
    return read(dataOffset, dataSize, block);
}

bool VersionBlockItem(const std::string& block, const std::string& item, std::string* value) {
    Node translation;
    if (!FindPath(block, "\\VarFileInfo\\Translation", &translation) ||
        translation.valueEnd - translation.valueStart < 4) {
        return false;
    }
    char query[kQueryBufferBytes];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", Le16(block, translation.valueStart),
                  Le16(block, translation.valueStart + 2), item.c_str());
    Node text;
    if (!FindPath(block, query, &text)) return false;
    // The text runs to its terminator, or to the end of its node.
    std::string result;
    for (size_t p = text.valueStart; p + 2 <= text.end; p += 2) {
        char32_t c = Le16(block, p);
        if (c == 0) break;
        if (IsHighSurrogate(c) && p + 4 <= text.end) {
            const char32_t low = Le16(block, p + 2);
            if (IsLowSurrogate(low)) {
                c = CombineSurrogates(c, low);
                p += 2;
            }
        }
        AppendUtf8(c, &result);
    }
    *value = result;
    return true;
}

bool PeVersionItem(const ReadAtFn& read, const std::string& item, std::string* value) {
    std::string block;
    return PeVersionBlock(read, &block) && VersionBlockItem(block, item, value);
}

}  // namespace outlinkwatch
