// Registry access: the export-file parser and writer, LumenReg's result
// codes over the in-memory fake and over the file-backed Linux stand-in
// alike, and the stand-in's own promises (atomic writes, concurrent writers,
// damaged files left alone).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <numeric>

#include "emulation/wide_text.h"
#include "fakes/fake_os.h"
#include "fakes/libc_faults.h"
#include "fakes/other_user.h"
#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"
#include "lumenutil/registry.h"
#include "platform/linux/registry_files.h"
#include "emulation/reg_file.h"

namespace outlinkwatch {
namespace {

namespace fs = std::filesystem;
using namespace lumenutil;

// A tree in its written form, as narrow text without CRs, blank lines and header.
std::string Dump(const regfile::Key& root) {
    std::string file, out;
    EXPECT_TRUE(regfile::Write(root, &file));
    for (char c : regfile::Utf16ToNarrow(file.substr(2))) {
        if (c != '\r' && !(c == '\n' && !out.empty() && out.back() == '\n')) out.push_back(c);
    }
    return out.substr(out.find('\n') + 1);
}

std::string Utf16File(const std::string& narrow) { return "\xFF\xFE" + regfile::NarrowToUtf16(narrow); }

TEST(RegFileTest, ParseTable) {
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n";
    // The bounds: the longest names, the deepest key, the largest values.
    const std::string name(regfile::kMaxNameBytes, 'n'), big(regfile::kMaxValueBytes, 'x');
    std::string deep = "k", deepDump = "[k]\n";
    for (size_t i = 0; i < regfile::kMaxKeyDepth; ++i) deepDump += "[" + (deep += "\\k") + "]\n";
    std::string hex, bytes23;
    for (size_t i = 0; i <= regfile::kMaxValueBytes; ++i) hex += i == 0 ? "00" : ",00";
    for (int i = 0; i < 23; ++i) bytes23 += "00,";
    const struct {
        const char* what;
        std::string bytes;
        std::string dump;  // the tree as written, or the error's text
    } cases[] = {
        {"escapes and default", v5 + "[HKEY_USERS\\S]\r\n@=\"d\"\r\n\"a\\\\b\\\"c\"=\"x\\\\y\\\"z\\q\"\r\n",
         "[HKEY_USERS]\n[HKEY_USERS\\S]\n@=\"d\"\n\"a\\\\b\\\"c\"=\"x\\\\y\\\"z\\\\q\"\n"},
        {"dword, hex forms, continuation",
         "REGEDIT4\n; comment\n\n[A]\n\"d\"=DWORD:0000012c\n\"b\"=hex:01,02,\\\n   03\n\"q\"=hex(b):01,00,00,00,00,00,00,00\n"
         "\"e\"=hex(2):25,41,25,00\n\"n\" = hex:\n\"t\"=hex(1):61,0d,0a,00\n\"z\"=hex(1A):07\n",  // not a plain quoted text
         "[A]\n\"b\"=hex:01,02,03\n\"d\"=dword:0000012c\n\"e\"=hex(2):25,00,41,00,25,00,00,00\n\"n\"=hex:\n"
         "\"q\"=hex(b):01,00,00,00,00,00,00,00\n\"t\"=hex(1):61,00,0d,00,0a,00,00,00\n\"z\"=hex(1a):07\n"},
        {"a line wraps at 79 characters", "REGEDIT4\n[A]\n\"ab\"=hex:" + bytes23 + "00\n", "[A]\n\"ab\"=hex:" + bytes23 + "\\\n  00\n"},
        {"hex(2) of a 5.00 file is UTF-16", v5 + "[A]\r\n\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n", "[A]\n\"e\"=hex(2):25,00,41,00,25,00,00,00\n"},
        {"UTF-16 with BOM", Utf16File(v5 + "[HKEY_USERS\\Caf\xC3\xA9]\r\n\"ProxyServer\"=\"1.2.3.4:80\"\r\n"),
         "[HKEY_USERS]\n[HKEY_USERS\\Caf\xC3\xA9]\n\"ProxyServer\"=\"1.2.3.4:80\"\n"},
        {"names without case, last wins", "REGEDIT4\n[A\\B]\n\"X\"=\"1\"\n[a\\b]\n\"x\"=\"2\"\n", "[A]\n[A\\B]\n\"X\"=\"2\"\n"},
        {"deletion lines", "REGEDIT4\n[A\\B]\n\"x\"=\"1\"\n\"y\"=\"2\"\n[A\\C]\n[-A\\B]\n[A\\C]\n\"z\"=\"3\"\n\"z\"=-\n", "[A]\n[A\\C]\n"},
        {"bad hex", "REGEDIT4\n[A]\n\"x\"=hex:0g\n", "line 3: bad hex byte"},
        {"odd hex", "REGEDIT4\n[A]\n\"x\"=hex:012\n", "line 3: bad hex byte"},
        {"short dword", "REGEDIT4\n[A]\n\"x\"=dword:0000\n", "line 3: dword needs eight hex digits"},
        {"key line without ]", "REGEDIT4\n[A\\B\n", "line 2: key line without ']'"},
        {"empty key part", "REGEDIT4\n[A\\\\B]\n", "line 2: empty key name"},
        {"value before any key", "REGEDIT4\n\"x\"=\"1\"\n", "line 2: value outside a key"},
        {"cut inside a continuation", "REGEDIT4\n[A]\n\"x\"=hex:01,\\\n", "line 3: file ends inside a value"},
        {"cut after a comma", "REGEDIT4\n[A]\n\"x\"=hex:01,", "line 3: bad hex byte"},
        {"text after a value", "REGEDIT4\n[A]\n\"x\"=\"1\" 2\n", "line 3: text after the closing quote"},
        {"no header", "[A]\n", "line 1: not a registry file (header missing)"},
        {"UTF-16 cut mid-character", Utf16File("REGEDIT4\n") + "A", "file cut inside a UTF-16 character"},
        {"UTF-8 with BOM", "\xEF\xBB\xBFREGEDIT4\n[A]\n", "[A]\n"},
        {"big-endian UTF-16", "\xFE\xFFR", "big-endian UTF-16 is not read"},
        {"file too large", std::string(regfile::kMaxFileBytes + 1, ';'), "file larger than 16777216 bytes"},
        {"value name without its closing quote", "REGEDIT4\n[A]\n\"x=1\n", "line 3: unterminated quote"},
        {"longest names", "REGEDIT4\n[" + name + "]\n\"" + name + "\"=\"1\"\n", "[" + name + "]\n\"" + name + "\"=\"1\"\n"},
        {"key name too long", "REGEDIT4\n[" + name + "n]\n", "line 2: key name too long"},
        {"value name too long", "REGEDIT4\n[A]\n\"" + name + "n\"=\"1\"\n", "line 3: value name too long"},
        {"deepest key", "REGEDIT4\n[" + deep + "]\n", deepDump},
        {"key nested too deep", "REGEDIT4\n[" + deep + "\\k]\n", "line 2: keys nested too deep"},
        {"text too large", "REGEDIT4\n[A]\n\"x\"=\"" + big + "\"\n", "line 3: value too large"},
        {"largest text", "REGEDIT4\n[A]\n\"x\"=\"" + big.substr(1) + "\"\n", "[A]\n\"x\"=\"" + big.substr(1) + "\"\n"},
        {"hex too large", "REGEDIT4\n[A]\n\"x\"=hex:" + hex + "\n", "line 3: value too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        regfile::Key root, again;
        std::string error, file;
        const bool ok = regfile::Parse(c.bytes, &root, &error);
        EXPECT_EQ(ok ? Dump(root) : error, c.dump);
        if (!ok) {
            EXPECT_TRUE(root.subkeys.empty());
            continue;
        }
        ASSERT_TRUE(regfile::Write(root, &file));
        EXPECT_EQ(file.compare(0, 2, "\xFF\xFE"), 0);
        ASSERT_TRUE(regfile::Parse(file, &again, &error)) << error;
        EXPECT_EQ(Dump(again), c.dump);
    }
}

// The one UTF-8 decoder under its two readers: wide texts put U+FFFD for
// a byte that begins nothing or a cut sequence and one U+FFFD for a whole
// overlong, surrogate or out-of-range one; the registry files keep each
// byte of those as a unit of its own (0xDC00 + byte), so it comes back.
TEST(Utf8DecoderTest, WideTextAndRegistryUnits) {
    const char32_t R = 0xFFFD;
    const struct {
        std::string utf8;
        std::u32string wide;
        std::vector<uint16_t> units;
    } rows[] = {
        {"\x7F" "A\xC3\xA9", {0x7F, 'A', 0xE9}, {0x7F, 'A', 0xE9}},
        {"\xC2\x80\xDF\xBF", {0x80, 0x7FF}, {0x80, 0x7FF}},
        {"\xC1\xBF", {R, R}, {0xDCC1, 0xDCBF}},
        {"\xE0\xA0\x80\xEF\xBF\xBF", {0x800, 0xFFFF}, {0x800, 0xFFFF}},
        {"\xE0\x9F\xBF", {R}, {0xDCE0, 0xDC9F, 0xDCBF}},
        {"\xED\x9F\xBF\xEE\x80\x80", {0xD7FF, 0xE000}, {0xD7FF, 0xE000}},
        {"\xED\xA0\x80", {R}, {0xDCED, 0xDCA0, 0xDC80}},
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", {0x10000, 0x10FFFF}, {0xD800, 0xDC00, 0xDBFF, 0xDFFF}},
        {"\xF0\x8F\xBF\xBF", {R}, {0xDCF0, 0xDC8F, 0xDCBF, 0xDCBF}},
        {"\xF4\x90\x80\x80", {R}, {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},
        {"\xF5\x80", {R, R}, {0xDCF5, 0xDC80}},
        {"\xE2\x28\xA1", {R, '(', R}, {0xDCE2, '(', 0xDCA1}},
        {"x\xE2\x82", {'x', R, R}, {'x', 0xDCE2, 0xDC82}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.utf8));
        EXPECT_EQ(Utf8ToWide(r.utf8), std::wstring(r.wide.begin(), r.wide.end()));
        std::string le;
        for (uint16_t u : r.units) le += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        EXPECT_EQ(regfile::NarrowToUtf16(r.utf8), le);
        EXPECT_EQ(regfile::Utf16ToNarrow(le), r.utf8);
    }
    // And back: a pair is one character; a lone half is none (U+FFFD in
    // a wide text, '?' in a registry file unless it stands for a byte).
    const std::pair<std::u32string, std::string> wide[] = {
        {{0xD83D, 0xDE00, 0x10FFFF}, "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {{0xD800, 'A', 0xDC00, 0x110000, 0xD800}, "\xEF\xBF\xBD" "A\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& [w, utf8] : wide) EXPECT_EQ(WideToUtf8(std::wstring(w.begin(), w.end())), utf8);
    EXPECT_EQ(regfile::Utf16ToNarrow(std::string("\x3D\xD8\x00\xDE\x7F\xDC\x80\xDC\xFF\xDC\x00\xD8" "A", 13)),
              "\xF0\x9F\x98\x80?\x80\xFF?A");
}

// LumenReg over a backend: the same table runs on the in-memory fake and on
// the files of the Linux stand-in.
struct MemoryBackend {
    FakeOs os;
    TreeRegistry* reg = &os.registry();
};

struct FileBackend {
    TempDir dir;
    FileRegistry files{dir.path()};
    FakeOs os;
    TreeRegistry* reg = (os.UseRegistry(&files), &files);
};

template <typename Backend>
class LumenRegTest : public testing::Test {
protected:
    void SetUp() override { previous_ = SetOsForTesting(&b_.os); }
    void TearDown() override { SetOsForTesting(previous_); }
    // Fills through the seam, as another program would.
    void Put(const std::string& path, const std::string& name, uint32_t type, const std::string& data) {
        HKEY key;
        ASSERT_EQ(b_.os.Registry()->CreateKey(HKEY_USERS, path, kRegAccessCreate, &key), kErrorSuccess);
        ASSERT_EQ(b_.os.Registry()->SetValue(key, name, type, reinterpret_cast<const uint8_t*>(data.data()),
                                         static_cast<uint32_t>(data.size())),
                  kErrorSuccess);
        b_.os.Registry()->CloseKey(key);
    }
    Backend b_;
    Os* previous_ = nullptr;
};

using Backends = testing::Types<MemoryBackend, FileBackend>;
TYPED_TEST_SUITE(LumenRegTest, Backends);

TYPED_TEST(LumenRegTest, ResultCodes) {
    const std::string ie = "S-1-5-21-7\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    this->Put(ie, "ProxyEnable", 4, std::string("\x01\0\0\0", 4));
    this->Put(ie, "ProxyServer", 1, std::string("http=10.1.2.3:8080;ftp=proxy:21\0", 33));
    this->Put(ie, "", 1, std::string("default\0", 8));
    this->Put(ie, "Eight", 3, "12345678");
    this->Put(ie, "Bare", 1, "abcd");  // stored without a terminator
    this->Put("S-1-5-21-7\\Parent\\Child", "v", 4, std::string(4, '\0'));

    const std::string sid = "S-1-5-21-7\\";
    uint32_t dword = 0, size = 0;
    std::string text;
    uint8_t bytes[8] = {0};
    const auto dw = [&](const std::string& path, const std::string& name) {
        return LumenReg::QueryRegKeyValue(HKEY_USERS, path, name, dword, OSTYPE_X86);
    };
    const auto str = [&](const std::string& name, uint32_t n) {
        size = n;
        text = "junk";
        return LumenReg::QueryRegKeyValue(HKEY_USERS, ie, name, size, text, OSTYPE_X86);
    };
    const auto raw = [&](uint32_t n) {
        size = n;
        return LumenReg::QueryRegKeyValue(HKEY_USERS, ie, "Eight", size, bytes, OSTYPE_X86);
    };
    const auto none = [] { return true; };
    const struct {
        const char* what;
        std::function<uint32_t()> call;
        uint32_t code;
        std::function<bool()> after;
    } cases[] = {
        {"dword", [&] { return dw(ie, "proxyenable"); }, UTIL_OK, [&] { return dword == 1; }},
        {"dword of a missing value", [&] { return dw(ie, "Nothing"); }, UTIL_E_QUERYVALUE, none},
        {"dword under a missing subkey", [&] { return dw(ie + "\\Nope", "ProxyEnable"); }, UTIL_E_OPENKEY, none},
        {"dword of a longer value", [&] { return dw(ie, "Eight"); }, UTIL_E_QUERYVALUE, none},
        {"dword with an empty name", [&] { return dw(ie, ""); }, UTIL_E_INVALIDARG, none},
        {"string", [&] { return str("ProxyServer", 1024); }, UTIL_OK,
         [&] { return text == "http=10.1.2.3:8080;ftp=proxy:21" && size == 33; }},
        {"string longer than size", [&] { return str("ProxyServer", 10); }, UTIL_E_MOREDATA,
         [&] { return text.empty() && size == 33; }},
        {"string size 0", [&] { return str("ProxyServer", 0); }, UTIL_E_INVALIDARG, [&] { return text == "junk"; }},
        {"empty name reads the default", [&] { return str("", 64); }, UTIL_OK, [&] { return text == "default"; }},
        {"exact size without terminator", [&] { return str("Bare", 4); }, UTIL_OK, [&] { return text == "abcd"; }},
        {"raw", [&] { return raw(8); }, UTIL_OK, [&] { return size == 8 && bytes[7] == '8'; }},
        {"raw too small", [&] { return raw(2); }, UTIL_E_MOREDATA, [&] { return size == 8; }},
        {"set on a missing key", [&] { return LumenReg::SetRegKeyValue(HKEY_USERS, sid + "New", "x", 1u, OSTYPE_X86); },
         UTIL_E_OPENKEY, [&] { return dw(sid + "New", "x") == UTIL_E_OPENKEY; }},
        {"set text", [&] { return LumenReg::SetRegKeyValue(HKEY_USERS, ie, "T", std::string("a b"), false, OSTYPE_X64); },
         UTIL_OK, [&] { return str("T", 3) == UTIL_OK && text == "a b" && size == 3; }},
        {"binary and text write the default value",
         [&] {
             return LumenReg::SetRegKeyValue(HKEY_USERS, ie, "", bytes, 2, OSTYPE_X86) |
                    LumenReg::CreateRegKeyValue(HKEY_USERS, ie, "", bytes, 2, OSTYPE_X86) |
                    LumenReg::CreateRegKeyValue(HKEY_USERS, ie, "", std::string("d1"), false, OSTYPE_X86) |
                    LumenReg::SetRegKeyValue(HKEY_USERS, ie, "", std::string("d2"), true, OSTYPE_X86);
         },
         UTIL_OK, [&] { return str("", 64) == UTIL_OK && text == "d2"; }},
        {"create makes the keys",
         [&] { return LumenReg::CreateRegKeyValue(HKEY_USERS, sid + "New\\Deep", "x", 7u, OSTYPE_X86); }, UTIL_OK,
         [&] { return dw("s-1-5-21-7\\NEW\\deep", "X") == UTIL_OK && dword == 7; }},
        {"create on a bad path", [&] { return LumenReg::CreateRegKeyValue(HKEY_USERS, "\\Lead", "x", 7u, OSTYPE_X86); },
         UTIL_E_CREATEKEY, none},
        {"delete a missing value", [&] { return LumenReg::DeleteRegKeyValue(HKEY_USERS, ie, "Nothing", OSTYPE_X86); },
         UTIL_E_DELETEVALUE, none},
        {"delete a value", [&] { return LumenReg::DeleteRegKeyValue(HKEY_USERS, ie, "Bare", OSTYPE_X86); }, UTIL_OK,
         [&] { return str("Bare", 8) == UTIL_E_QUERYVALUE; }},
        {"delete a key with subkeys", [&] { return LumenReg::DeleteRegKey(HKEY_USERS, sid + "Parent", OSTYPE_X86); },
         UTIL_E_DELETEKEY, none},
        {"delete a key", [&] { return LumenReg::DeleteRegKey(HKEY_USERS, sid + "Parent\\Child", OSTYPE_X64); }, UTIL_OK,
         [&] { return dw(sid + "Parent\\Child", "v") == UTIL_E_OPENKEY; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.code);
        EXPECT_TRUE(c.after());
        EXPECT_EQ(this->b_.reg->OpenHandles(), 0u) << "a key was left open";
    }
    char day[16] = "unchanged", cut[16] = "unchanged";
    EXPECT_EQ(LumenReg::QueryRegKeyModifyTime(HKEY_USERS, ie, day, sizeof day, OSTYPE_X86), UTIL_OK);
    EXPECT_EQ(LumenReg::QueryRegKeyModifyTime(HKEY_USERS, ie, cut, 5, OSTYPE_X86), UTIL_OK);
    EXPECT_TRUE(std::strlen(day) == 10 && std::string(day, 4) == cut) << day << " " << cut;
    EXPECT_EQ(LumenReg::QueryRegKeyModifyTime(HKEY_USERS, ie + "\\Nope", day, 16, OSTYPE_X86), UTIL_E_OPENKEY);
    // The deepest key and the longest names an export file holds below its
    // hive are made; one level or one byte more is refused.
    const std::string longest(regfile::kMaxNameBytes, 'n');
    std::string deep = "S";
    for (size_t i = 2; i < regfile::kMaxKeyDepth; ++i) deep += "\\k";
    deep += "\\" + longest;
    HKEY key = nullptr;
    EXPECT_EQ(this->b_.reg->CreateKey(HKEY_USERS, "S\\" + longest + "n", kRegAccessCreate, &key), kErrorInvalidParameter);
    ASSERT_EQ(this->b_.reg->CreateKey(HKEY_USERS, deep, kRegAccessCreate, &key), kErrorSuccess);
    uint32_t type = 0, one = 1;
    const auto* data = reinterpret_cast<const uint8_t*>(&one);
    EXPECT_EQ(this->b_.reg->SetValue(key, longest + "n", 4, data, 4), kErrorInvalidParameter);
    ASSERT_EQ(this->b_.reg->SetValue(key, longest, 4, data, 4), kErrorSuccess);
    size = 0;  // asked without a buffer: its size alone
    EXPECT_EQ(this->b_.reg->QueryValue(key, longest, &type, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(type * 10 + size, 44u) << "a value's type and size come back with it";
    this->b_.reg->CloseKey(key);
    EXPECT_EQ(this->b_.reg->CreateKey(HKEY_USERS, deep + "\\k", kRegAccessCreate, &key), kErrorInvalidParameter);
    // One trailing backslash names the key before it; an empty name anywhere else is no path.
    for (const std::string path : {"S\\", "S\\\\", "S\\\\k", "\\S"}) {
        const uint32_t rc = this->b_.reg->CreateKey(HKEY_USERS, path, kRegAccessCreate, &key);
        EXPECT_EQ(rc, path == "S\\" ? kErrorSuccess : kErrorBadPathname) << path;
        if (rc == kErrorSuccess) this->b_.reg->CloseKey(key);
    }
    EXPECT_EQ(this->b_.reg->OpenHandles(), 0u);
}

TYPED_TEST(LumenRegTest, ViewsMasksAndFailures) {
    FakeOs& os = this->b_.os;
    this->Put("S\\K", "v", 4, std::string(4, '\0'));
    const auto access = [&](size_t i) { return os.RegistryCalls()[i].access; };
    uint32_t v = 0;
    LumenReg::QueryRegKeyValue(HKEY_USERS, "S\\K", "v", v, OSTYPE_X64);
    EXPECT_EQ(access(2), 0x20119u) << "the 64-bit view for OSTYPE_X64";
    LumenReg::SetRegKeyValue(HKEY_USERS, "S\\K", "v", 6u, static_cast<OSTYPE>(7));
    EXPECT_EQ(access(4), 0x20006u) << "no view flag for any other value";

    // A null root or buffer, an empty key path, a size of 0 or, for a
    // DWORD, an empty value name: refused before any registry call.
    std::string text;
    uint32_t size = 0;
    BYTE* const none = nullptr;
    const std::string t = "t";
    const std::function<uint32_t()> refused[] = {
        [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, "S\\K", "", size, text, OSTYPE_X86); },
        [&] { return LumenReg::QueryRegKeyValue(nullptr, "S\\K", "v", v, OSTYPE_X86); },
        [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, "", "v", v, OSTYPE_X86); },
        [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, "S\\K", "", v, OSTYPE_X86); },
        [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, "S\\K", "v", size = 4, none, OSTYPE_X86); },
        [&] { return LumenReg::SetRegKeyValue(HKEY_USERS, "", "v", 1u, OSTYPE_X86); },
        [&] { return LumenReg::SetRegKeyValue(HKEY_USERS, "S\\K", "", 1u, OSTYPE_X86); },
        [&] { return LumenReg::SetRegKeyValue(HKEY_USERS, "S\\K", "v", none, 2, OSTYPE_X86); },
        [&] { return LumenReg::SetRegKeyValue(nullptr, "S\\K", "v", t, false, OSTYPE_X86); },
        [&] { return LumenReg::CreateRegKeyValue(HKEY_USERS, "S\\K", "v", none, 2, OSTYPE_X86); },
        [&] { return LumenReg::CreateRegKeyValue(HKEY_USERS, "", "v", t, false, OSTYPE_X86); },
        [&] { return LumenReg::CreateRegKeyValue(HKEY_USERS, "S\\K", "", 1u, OSTYPE_X86); },
        [&] { return LumenReg::DeleteRegKeyValue(HKEY_USERS, "", "v", OSTYPE_X86); },
        [&] { return LumenReg::DeleteRegKey(nullptr, "S\\K", OSTYPE_X86); },
        [&] { return LumenReg::QueryRegKeyModifyTime(HKEY_USERS, "S\\K", nullptr, 16, OSTYPE_X86); },
    };
    for (const auto& call : refused) EXPECT_EQ(call(), UTIL_E_INVALIDARG) << &call - refused;
    EXPECT_EQ(os.RegistryCalls().size(), 6u) << "arguments are checked before any call";

    os.FailRegistryCall("set", 5);
    EXPECT_EQ(LumenReg::SetRegKeyValue(HKEY_USERS, "S\\K", "v", 1u, OSTYPE_X86), UTIL_E_SETVALUE);
    os.FailRegistryCall("date", 1018);
    char day[16] = "unchanged";
    EXPECT_EQ(LumenReg::QueryRegKeyModifyTime(HKEY_USERS, "S\\K", day, 16, OSTYPE_X86), 1018u);
    EXPECT_STREQ(day, "unchanged");
    EXPECT_EQ(this->b_.reg->OpenHandles(), 0u) << "keys are closed after failed calls too";
}

class FileRegistryTest : public testing::Test {
protected:
    std::string Read() {
        std::ifstream in(dir_ / "HKEY_USERS.reg", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void Write(const std::string& bytes) { std::ofstream(dir_ / "HKEY_USERS.reg", std::ios::binary) << bytes; }
    TempDir temp_;
    fs::path dir_ = temp_.path();
};

TEST_F(FileRegistryTest, ExportedFileLoadsAndChangesAreWrittenWhole) {
    Write(Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\S-1-5-21-9\\Software\\Microsoft\\Windows\\"
                        "CurrentVersion\\Internet Settings]\r\n\"ProxyEnable\"=dword:00000001\r\n"
                        "\"ProxyServer\"=\"10.9.8.7:3128\"\r\n"));
    const ScopedEnv registry("OUTLINKWATCH_REGISTRY_DIR", dir_.string());  // the build's own backend reads it
    const std::string ie = "S-1-5-21-9\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    uint32_t enable = 0;
    EXPECT_EQ(LumenReg::QueryRegKeyValue(HKEY_USERS, ie, "ProxyEnable", enable, OSTYPE_X86), UTIL_OK);
    EXPECT_EQ(enable, 1u);
    EXPECT_EQ(LumenReg::SetRegKeyValue(HKEY_USERS, ie, "ProxyEnable", 0u, OSTYPE_X64), UTIL_OK);

    const std::string text = regfile::Utf16ToNarrow(Read().substr(2));
    EXPECT_NE(text.find("\"ProxyEnable\"=dword:00000000\r\n\"ProxyServer\"=\"10.9.8.7:3128\"\r\n"), std::string::npos)
        << text;
    EXPECT_TRUE(fs::exists(dir_ / "HKEY_USERS.reg.lock"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2) << "the hive and its lock; no temporary file left";
}

TEST_F(FileRegistryTest, DamagedFileIsRefusedAndLeftAlone) {
    const std::string damaged = "REGEDIT4\n\n[HKEY_USERS\\S]\n\"x\"=\"cut";
    Write(damaged);
    std::string reports;
    FileRegistry files(dir_.string(), [&](const std::string& line) { reports += line; });
    FakeOs os;
    os.UseRegistry(&files);
    Os* previous = SetOsForTesting(&os);
    uint32_t v = 0;
    EXPECT_EQ(LumenReg::QueryRegKeyValue(HKEY_USERS, "S", "x", v, OSTYPE_X86), UTIL_E_OPENKEY);
    EXPECT_EQ(LumenReg::CreateRegKeyValue(HKEY_USERS, "S", "y", 1u, OSTYPE_X86), UTIL_E_CREATEKEY);
    EXPECT_EQ(LumenReg::CreateRegKeyValue(HKEY_LOCAL_MACHINE, "S", "y", 1u, OSTYPE_X86), UTIL_OK) << "other hives work";
    SetOsForTesting(previous);
    EXPECT_EQ(Read(), damaged);
    // A link in the directory's place is not followed, even to a directory of ours.
    ASSERT_EQ(symlink(dir_.c_str(), (dir_ / "link").c_str()), 0);
    FileRegistry linked((dir_ / "link").string(), [&](const std::string& line) { reports += line; });
    HKEY key;
    EXPECT_EQ(linked.OpenKey(HKEY_USERS, "S", kKeyQueryValue, &key), kErrorAccessDenied);
    EXPECT_NE(reports.find("HKEY_USERS.reg refused: line 4: unterminated quote"), std::string::npos) << reports;
    const std::string refusal = "registry directory " + (dir_ / "link").string() + " refused: a link or not a directory";
    EXPECT_NE(reports.find(refusal), std::string::npos) << reports;
}

// Another user can neither read nor write what the stand-in makes, and what
// they plant is refused: in a directory they can write, and their own file
// in one they cannot. Nothing is written through their links.
TEST_F(FileRegistryTest, AnotherUsersHivesAreRefused) {
    OW_SKIP_UNLESS_ROOT();
    const fs::path own = dir_ / "own", shared = dir_ / "shared";
    std::string reports;
    FileRegistry mine(own.string()), planted(shared.string(), [&](const std::string& line) { reports += line; });
    HKEY key;
    ASSERT_EQ(mine.CreateKey(HKEY_USERS, "S", kRegAccessCreate, &key), kErrorSuccess);
    ASSERT_EQ(mine.SetValue(key, "v", 3, reinterpret_cast<const uint8_t*>("x"), 1), kErrorSuccess);
    ASSERT_TRUE(fs::create_directory(shared) && chmod(shared.c_str(), 01777) == 0);
    EXPECT_EQ(AsOtherUser([&] {
                  std::ofstream(shared / "HKEY_USERS.reg") << "REGEDIT4\n\n[HKEY_USERS\\S]\n\"v\"=\"forged\"\n";
                  return (open((own / "HKEY_USERS.reg").c_str(), O_RDONLY) >= 0) +
                         (open((own / "x").c_str(), O_CREAT | O_WRONLY, 0666) >= 0) +
                         symlink((dir_ / "victim").c_str(), (shared / "HKEY_USERS.reg.lock").c_str());
              }),
              0);
    for (mode_t mode : {01777, 0755}) {
        ASSERT_EQ(chmod(shared.c_str(), mode), 0);
        EXPECT_EQ(planted.OpenKey(HKEY_USERS, "S", kKeyQueryValue, &key), kErrorAccessDenied) << mode;
        EXPECT_EQ(planted.CreateKey(HKEY_USERS, "T", kRegAccessCreate, &key), kErrorAccessDenied) << mode;
    }
    EXPECT_FALSE(fs::exists(dir_ / "victim"));
    EXPECT_NE(reports.find("shared refused: writable by other users"), std::string::npos) << reports;
    EXPECT_NE(reports.find("HKEY_USERS.reg refused: owned by uid 65534"), std::string::npos) << reports;
}

// The system calls under the stand-in, failing: one interrupted is made
// again; one that fails refuses the call and leaves the hive as it was; a
// lock held elsewhere is waited for with pauses of 1, 2, 4, 8, then 16 ms,
// 10 s in all (recorded, not slept).
TEST_F(FileRegistryTest, FailingSystemCalls) {
    using namespace libcfaults;
    constexpr long long ms = 1000000;
    const struct {
        Call call;
        int error, fail;
        bool write;
        uint32_t rc;
        std::vector<long long> pauses;  // the first ones
        size_t count;
        long long total;
    } rows[] = {
        {kRead, EINTR, 1, false, kErrorSuccess, {}, 0, 0},
        {kRead, EIO, 1, false, kErrorAccessDenied, {}, 0, 0},
        {kWrite, EINTR, 1, true, kErrorSuccess, {}, 0, 0},
        {kWrite, EIO, 1, true, kErrorWriteFault, {}, 0, 0},
        {kFlock, EINTR, 1, true, kErrorSuccess, {ms}, 1, ms},
        {kFlock, EWOULDBLOCK, 3, true, kErrorSuccess, {ms, 2 * ms, 4 * ms}, 3, 7 * ms},
        {kFlock, ENOLCK, 1, true, kErrorTimeout, {}, 0, 0},
        {kFlock, EWOULDBLOCK, 1 << 20, true, kErrorTimeout, {ms, 2 * ms, 4 * ms, 8 * ms, 16 * ms}, 629, 10000 * ms},
    };
    const std::string hive = "REGEDIT4\n\n[HKEY_USERS\\S]\n";
    FileRegistry files(dir_.string());
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.call) + " failing " + std::to_string(row.fail) + " times with " +
                     strerror(row.error) + (row.write ? ", writing" : ""));
        Write(hive);
        RecordPauses(true);
        Fail(row.call, row.error, row.fail);
        HKEY key;
        const uint32_t rc = row.write ? files.CreateKey(HKEY_USERS, "T", kRegAccessCreate, &key)
                                      : files.OpenKey(HKEY_USERS, "S", kKeyQueryValue, &key);
        std::vector<long long> pauses = Pauses();
        Reset();
        EXPECT_EQ(rc, row.rc);
        EXPECT_EQ(Read() == hive, !row.write || rc != kErrorSuccess);
        EXPECT_EQ(pauses.size(), row.count);
        EXPECT_EQ(std::accumulate(pauses.begin(), pauses.end(), 0LL), row.total);
        pauses.resize(std::min(pauses.size(), row.pauses.size()));
        EXPECT_EQ(pauses, row.pauses);
    }
}

TEST_F(FileRegistryTest, ConcurrentWritersKeepEachOthersValues) {
    constexpr int kValues = 50;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            alarm(60);  // a child that hangs is killed rather than waited for forever
            FileRegistry files(dir_.string());
            HKEY key;
            int failures = files.CreateKey(HKEY_USERS, "S\\Shared", kRegAccessCreate, &key) != kErrorSuccess;
            for (int i = 0; i < kValues && failures == 0; ++i) {  // each Set reads, changes and writes the hive
                const std::string name = "c" + std::to_string(c) + "_" + std::to_string(i);
                failures += files.SetValue(key, name, 3, reinterpret_cast<const uint8_t*>("x"), 1) != kErrorSuccess;
            }
            _exit(failures);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    regfile::Key root;
    std::string error;
    ASSERT_TRUE(regfile::Parse(Read(), &root, &error)) << error;
    const regfile::Key* shared = root.Find("HKEY_USERS")->Find("S")->Find("Shared");
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->values.size(), 2u * kValues) << "a writer lost another's change";
}

}  // namespace
}  // namespace outlinkwatch
