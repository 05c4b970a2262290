// The registry stand-in's data: a tree of keys and values, and its text
// form, the registry editor's export format. Parsing and writing are pure
// functions of bytes, so they are tested and fuzzed without a file system.
//
// Read: "Windows Registry Editor Version 5.00" files (UTF-16LE with a
// byte-order mark, as the registry editor writes them, or plain bytes) and
// "REGEDIT4" files (bytes of the ANSI code page, kept as they are).
// Written: always the version-5.00 form, UTF-16LE with BOM and CRLF.
//
// Text in the tree is narrow, as the ANSI registry calls return it. On this
// side the narrow code page is UTF-8; bytes that are not UTF-8 travel through
// UTF-16 as lone surrogates U+DC80..U+DCFF, so any narrow text survives a
// write and a read unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace outlinkwatch {
namespace regfile {

// Bounds on hostile input.
constexpr size_t kMaxFileBytes = 16u * 1024u * 1024u;  // one hive file
constexpr size_t kMaxValueBytes = 1024u * 1024u;       // one value's data
constexpr size_t kMaxKeyDepth = 512;                    // levels below the file's top
constexpr size_t kMaxNameBytes = 16384;                 // one key or value name

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

// Names compare as the registry compares them: without regard to case
// (ASCII letters only).
bool SameName(const std::string& a, const std::string& b);
struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

struct Value {
    std::string name;  // as written; empty for the default value
    uint32_t type = kRegNone;
    std::string data;  // string types: narrow text with its terminator, as the ANSI calls see it
};

struct Key {
    std::string name;
    std::map<std::string, Value, NameLess> values;
    std::map<std::string, std::unique_ptr<Key>, NameLess> subkeys;

    Key* Find(const std::string& child) const;
    // The child of that name, made when missing.
    Key* Child(const std::string& child);
    // Stores a value; one already there keeps its name as first written.
    void Put(Value value);
};

// Whether a key or value name can be stored in the file: within the bound
// and without line breaks (a key name also without a backslash and not empty).
bool StorableKeyName(const std::string& name);
bool StorableValueName(const std::string& name);

// Parses a whole file into root, whose subkeys are the top keys of the file
// (the hives). On failure root is left empty and error says where and why
// ("line 7: unterminated quote").
bool Parse(const std::string& bytes, Key* root, std::string* error);

// The version-5.00 text of a tree: UTF-16LE bytes with BOM, CRLF line ends.
// False when it would not fit in kMaxFileBytes (file is then of no use).
bool Write(const Key& root, std::string* file);

// Narrow text to UTF-16LE bytes and back (see above for bytes that are not
// UTF-8). An odd trailing byte of the UTF-16 side is kept as it is.
std::string NarrowToUtf16(const std::string& narrow);
std::string Utf16ToNarrow(const std::string& utf16);

}  // namespace regfile
}  // namespace outlinkwatch
