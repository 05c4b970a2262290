// Registry access: the export-file parser and writer, LumenReg's result
// codes over the in-memory fake and over the file-backed Linux stand-in
// alike, and the stand-in's own promises (atomic writes, concurrent writers,
// damaged files left alone).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "fakes/fake_os.h"
#include "lumenutil/registry.h"
#include "platform/linux/registry_files.h"
#include "platform/reg_file.h"

namespace outlinkwatch {
namespace {

namespace fs = std::filesystem;
using namespace lumenutil;

// A tree as one line per value: "path|name|type|hex data".
std::string Dump(const regfile::Key& root) {
    std::string out;
    std::vector<std::pair<std::string, const regfile::Key*>> stack{{"", &root}};
    while (!stack.empty()) {
        auto [path, key] = stack.back();
        stack.pop_back();
        if (!path.empty() && key->values.empty()) out += path + "\n";
        for (const auto& v : key->values) {
            std::ostringstream hex;
            for (unsigned char c : v.second.data) hex << "0123456789abcdef"[c >> 4] << "0123456789abcdef"[c & 15];
            out += path + "|" + v.second.name + "|" + std::to_string(v.second.type) + "|" + hex.str() + "\n";
        }
        for (auto it = key->subkeys.rbegin(); it != key->subkeys.rend(); ++it)
            stack.emplace_back(path.empty() ? it->second->name : path + "\\" + it->second->name, it->second.get());
    }
    return out;
}

std::string Utf16File(const std::string& narrow) { return "\xFF\xFE" + regfile::NarrowToUtf16(narrow); }

TEST(RegFileTest, ParseTable) {
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n";
    const struct {
        const char* what;
        std::string bytes;
        std::string dump;  // or the error's text
    } cases[] = {
        {"escapes and default", v5 + "[HKEY_USERS\\S]\r\n@=\"d\"\r\n\"a\\\\b\\\"c\"=\"x\\\\y\\\"z\\q\"\r\n",
         "HKEY_USERS\nHKEY_USERS\\S||1|6400\nHKEY_USERS\\S|a\\b\"c|1|785c79227a5c7100\n"},
        {"dword, hex forms, continuation",
         "REGEDIT4\n; comment\n\n[A]\n\"d\"=DWORD:0000012c\n\"b\"=hex:01,02,\\\n   03\n\"q\"=hex(b):01,00,00,00,00,00,00,00\n"
         "\"e\"=hex(2):25,41,25,00\n\"n\" = hex:\n",
         "A|b|3|010203\nA|d|4|2c010000\nA|e|2|25412500\nA|n|3|\nA|q|11|0100000000000000\n"},
        {"hex(2) of a 5.00 file is UTF-16", v5 + "[A]\r\n\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n", "A|e|2|25412500\n"},
        {"UTF-16 with BOM", Utf16File(v5 + "[HKEY_USERS\\Caf\xC3\xA9]\r\n\"ProxyServer\"=\"1.2.3.4:80\"\r\n"),
         "HKEY_USERS\nHKEY_USERS\\Caf\xC3\xA9|ProxyServer|1|312e322e332e343a383000\n"},
        {"names without case, last wins", "REGEDIT4\n[A\\B]\n\"X\"=\"1\"\n[a\\b]\n\"x\"=\"2\"\n", "A\nA\\B|X|1|3200\n"},
        {"deletion lines", "REGEDIT4\n[A\\B]\n\"x\"=\"1\"\n\"y\"=\"2\"\n[A\\C]\n[-A\\B]\n[A\\C]\n\"z\"=\"3\"\n\"z\"=-\n", "A\nA\\C\n"},
        {"unterminated quote", "REGEDIT4\n[A]\n\"x\"=\"abc\n", "line 3: unterminated quote"},
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
        {"empty file", "", "line 1: not a registry file (header missing)"},
        {"UTF-16 cut mid-character", Utf16File("REGEDIT4\n") + "A", "file cut inside a UTF-16 character"},
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
        EXPECT_TRUE(regfile::SameTree(root, again)) << Dump(again);
    }
}

TEST(RegFileTest, WrittenFormAndNarrowText) {
    regfile::Key root;
    regfile::Key* key = root.Child("HKEY_USERS")->Child("S");
    key->values["t"] = {"t", regfile::kRegSz, "two\r\nlines\0"};  // no plain quoted form
    key->values["m"] = {"m", regfile::kRegMultiSz, std::string("a\0b\0\0", 5)};
    std::string file, error;
    ASSERT_TRUE(regfile::Write(root, &file));
    const std::string text = regfile::Utf16ToNarrow(file.substr(2));
    EXPECT_EQ(text,
              "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS]\r\n\r\n[HKEY_USERS\\S]\r\n"
              "\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
              "\"t\"=hex(1):74,00,77,00,6f,00,0d,00,0a,00,6c,00,69,00,6e,00,65,00,73,00\r\n\r\n");
    // Narrow text that is not UTF-8 survives the UTF-16 form unchanged.
    const std::string odd = "\xFF\x80 ok \xC3\xA9 \xED\xA0\x80 \xF0\x9F\x98\x80 \xC3";
    EXPECT_EQ(regfile::Utf16ToNarrow(regfile::NarrowToUtf16(odd)), odd);
}

// LumenReg over a backend; the same table runs on the fake and on the files.
struct MemoryBackend {
    FakeOs os;
    size_t OpenHandles() { return os.registry().OpenHandles(); }
};

class FileBackedOs : public FakeOs {
public:
    explicit FileBackedOs(const std::string& dir) : files(dir, [this](const std::string& l) { reports += l; }) {}
    uint32_t OpenRegistryKey(HKEY p, const std::string& s, uint32_t a, HKEY* k) override { return files.Open(p, s, a, k); }
    uint32_t CreateRegistryKey(HKEY p, const std::string& s, uint32_t a, HKEY* k) override {
        return files.Create(p, s, a, k);
    }
    uint32_t QueryRegistryValue(HKEY k, const std::string& n, uint32_t* t, uint8_t* d, uint32_t* s) override {
        return files.Query(k, n, t, d, s);
    }
    uint32_t SetRegistryValue(HKEY k, const std::string& n, uint32_t t, const uint8_t* d, uint32_t s) override {
        return files.Set(k, n, t, d, s);
    }
    uint32_t DeleteRegistryValue(HKEY k, const std::string& n) override { return files.DeleteValue(k, n); }
    uint32_t DeleteRegistryKey(HKEY p, const std::string& s, uint32_t v) override { return files.DeleteKey(p, s, v); }
    uint32_t RegistryKeyWriteDate(HKEY k, LocalDate* d) override { return files.WriteDate(k, d); }
    uint32_t CloseRegistryKey(HKEY k) override { return files.Close(k); }
    FileRegistry files;
    std::string reports;
};

struct FileBackend {
    fs::path dir = fs::temp_directory_path() / ("ow_reg_" + std::to_string(getpid()) + "_" +
                                                testing::UnitTest::GetInstance()->current_test_info()->name());
    FileBackedOs os{(fs::remove_all(dir), fs::create_directories(dir), dir.string())};
    ~FileBackend() { fs::remove_all(dir); }
    size_t OpenHandles() { return os.files.OpenHandles(); }
};

template <typename Backend>
class LumenRegTest : public testing::Test {
protected:
    void SetUp() override { previous_ = SetOsForTesting(&b_.os); }
    void TearDown() override { SetOsForTesting(previous_); }
    // Fills through the seam, as another program would.
    void Put(const std::string& path, const std::string& name, uint32_t type, const std::string& data) {
        HKEY key;
        ASSERT_EQ(b_.os.CreateRegistryKey(HKEY_USERS, path, kRegAccessCreate, &key), kErrorSuccess);
        ASSERT_EQ(b_.os.SetRegistryValue(key, name, type, reinterpret_cast<const uint8_t*>(data.data()),
                                         static_cast<uint32_t>(data.size())),
                  kErrorSuccess);
        b_.os.CloseRegistryKey(key);
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

    uint32_t dword = 0, size = 0;
    std::string text;
    const auto str = [&](const std::string& name, uint32_t n) {
        size = n;
        text = "junk";
        return LumenReg::QueryRegKeyValue(HKEY_USERS, ie, name, size, text, OSTYPE_X86);
    };
    uint8_t bytes[8] = {0};
    const struct {
        const char* what;
        std::function<uint32_t()> call;
        uint32_t code;
        std::function<bool()> after;
    } cases[] = {
        {"dword", [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, ie, "proxyenable", dword, OSTYPE_X86); }, UTIL_OK,
         [&] { return dword == 1; }},
        {"dword of a missing value",
         [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, ie, "Nothing", dword, OSTYPE_X86); }, UTIL_E_QUERYVALUE, nullptr},
        {"dword under a missing subkey",
         [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, ie + "\\Nope", "ProxyEnable", dword, OSTYPE_X86); },
         UTIL_E_OPENKEY, nullptr},
        {"dword of a longer value",
         [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, ie, "Eight", dword, OSTYPE_X86); }, UTIL_E_QUERYVALUE, nullptr},
        {"dword with an empty name", [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, ie, "", dword, OSTYPE_X86); },
         UTIL_E_INVALIDARG, nullptr},
        {"dword with a null root", [&] { return LumenReg::QueryRegKeyValue(nullptr, ie, "x", dword, OSTYPE_X86); },
         UTIL_E_INVALIDARG, nullptr},
        {"string", [&] { return str("ProxyServer", 1024); }, UTIL_OK,
         [&] { return text == "http=10.1.2.3:8080;ftp=proxy:21" && size == 33; }},
        {"string longer than size", [&] { return str("ProxyServer", 10); }, UTIL_E_MOREDATA,
         [&] { return text.empty() && size == 33; }},
        {"string size 0", [&] { return str("ProxyServer", 0); }, UTIL_E_INVALIDARG, [&] { return text == "junk"; }},
        {"empty name reads the default", [&] { return str("", 64); }, UTIL_OK, [&] { return text == "default"; }},
        {"exact size without terminator", [&] { return str("Bare", 4); }, UTIL_OK, [&] { return text == "abcd"; }},
        {"string of a missing value", [&] { return str("Nothing", 64); }, UTIL_E_QUERYVALUE, nullptr},
        {"raw", [&] { size = 8; return LumenReg::QueryRegKeyValue(HKEY_USERS, ie, "Eight", size, bytes, OSTYPE_X86); },
         UTIL_OK, [&] { return size == 8 && bytes[7] == '8'; }},
        {"raw too small", [&] { size = 2; return LumenReg::QueryRegKeyValue(HKEY_USERS, ie, "Eight", size, bytes, OSTYPE_X86); },
         UTIL_E_MOREDATA, [&] { return size == 8; }},
        {"set on a missing key", [&] { return LumenReg::SetRegKeyValue(HKEY_USERS, "S-1-5-21-7\\New", "x", 1u, OSTYPE_X86); },
         UTIL_E_OPENKEY, nullptr},
        {"set", [&] { return LumenReg::SetRegKeyValue(HKEY_USERS, ie, "ProxyEnable", 0u, OSTYPE_X86); }, UTIL_OK,
         [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, ie, "ProxyEnable", dword, OSTYPE_X86) == 0 && dword == 0; }},
        {"set text", [&] { return LumenReg::SetRegKeyValue(HKEY_USERS, ie, "T", std::string("a b"), false, OSTYPE_X64); },
         UTIL_OK, [&] { return str("T", 3) == UTIL_OK && text == "a b" && size == 3; }},
        {"create makes the keys", [&] { return LumenReg::CreateRegKeyValue(HKEY_USERS, "S-1-5-21-7\\New\\Deep", "x", 7u, OSTYPE_X86); },
         UTIL_OK, [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, "s-1-5-21-7\\NEW\\deep", "X", dword, OSTYPE_X64) == 0 && dword == 7; }},
        {"create on a bad path", [&] { return LumenReg::CreateRegKeyValue(HKEY_USERS, "\\Lead", "x", 7u, OSTYPE_X86); },
         UTIL_E_CREATEKEY, nullptr},
        {"delete a missing value", [&] { return LumenReg::DeleteRegKeyValue(HKEY_USERS, ie, "Nothing", OSTYPE_X86); },
         UTIL_E_DELETEVALUE, nullptr},
        {"delete a value", [&] { return LumenReg::DeleteRegKeyValue(HKEY_USERS, ie, "Bare", OSTYPE_X86); }, UTIL_OK,
         [&] { return str("Bare", 8) == UTIL_E_QUERYVALUE; }},
        {"delete a key with subkeys", [&] { return LumenReg::DeleteRegKey(HKEY_USERS, "S-1-5-21-7\\Parent", OSTYPE_X86); },
         UTIL_E_DELETEKEY, nullptr},
        {"delete a key", [&] { return LumenReg::DeleteRegKey(HKEY_USERS, "S-1-5-21-7\\Parent\\Child", OSTYPE_X64); },
         UTIL_OK, [&] { return LumenReg::QueryRegKeyValue(HKEY_USERS, "S-1-5-21-7\\Parent\\Child", "v", dword, OSTYPE_X86) == UTIL_E_OPENKEY; }},
        {"delete a missing key", [&] { return LumenReg::DeleteRegKey(HKEY_USERS, "S-1-5-21-7\\Gone", OSTYPE_X86); },
         UTIL_E_DELETEKEY, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.code);
        if (c.after) {
            EXPECT_TRUE(c.after());
        }
        EXPECT_EQ(this->b_.OpenHandles(), 0u) << "a key was left open";
    }
    char day[16] = "unchanged";
    ASSERT_EQ(LumenReg::QueryRegKeyModifyTime(HKEY_USERS, ie, day, sizeof day, OSTYPE_X86), UTIL_OK);
    EXPECT_EQ(std::strlen(day), 10u) << day;
    EXPECT_EQ(LumenReg::QueryRegKeyModifyTime(HKEY_USERS, ie, day, 5, OSTYPE_X86), UTIL_OK);
    EXPECT_EQ(std::strlen(day), 4u) << "cut to the buffer";
    EXPECT_EQ(LumenReg::QueryRegKeyModifyTime(HKEY_USERS, ie + "\\Nope", day, 16, OSTYPE_X86), UTIL_E_OPENKEY);
    EXPECT_EQ(this->b_.OpenHandles(), 0u);
}

TEST(LumenRegFakeTest, ViewsMasksAndFailures) {
    FakeOs os;
    Os* previous = SetOsForTesting(&os);
    os.registry().PutDword(HKEY_LOCAL_MACHINE, "Software\\K", "v", 5);
    uint32_t v = 0;
    const auto opened = [&] { return os.RegistryCalls().back().access; };
    LumenReg::QueryRegKeyValue(HKEY_LOCAL_MACHINE, "Software\\K", "v", v, OSTYPE_X64);
    EXPECT_EQ(os.RegistryCalls().front().access, 0x20119u) << "the 64-bit view for OSTYPE_X64";
    LumenReg::SetRegKeyValue(HKEY_LOCAL_MACHINE, "Software\\K", "v", 6u, static_cast<OSTYPE>(7));
    EXPECT_EQ(os.RegistryCalls()[2].access, 0x20006u) << "no view flag for any other value";
    LumenReg::CreateRegKeyValue(HKEY_LOCAL_MACHINE, "Software\\K", "v", 6u, OSTYPE_X86);
    EXPECT_EQ(os.RegistryCalls()[4].access, 0x2001Fu);
    LumenReg::DeleteRegKeyValue(HKEY_LOCAL_MACHINE, "Software\\K", "v", OSTYPE_X64);
    EXPECT_EQ(os.RegistryCalls()[6].access, 0xF013Fu);
    LumenReg::DeleteRegKey(HKEY_LOCAL_MACHINE, "Software\\K", OSTYPE_X86);
    EXPECT_EQ(opened(), 0x200u);
    LumenReg::DeleteRegKey(HKEY_LOCAL_MACHINE, "Software\\K", OSTYPE_X64);
    EXPECT_EQ(opened(), 0x100u);

    const size_t calls = os.RegistryCalls().size();
    std::string text;
    uint32_t size = 0;
    EXPECT_EQ(LumenReg::QueryRegKeyValue(HKEY_LOCAL_MACHINE, "Software\\K", "", size, text, OSTYPE_X86), UTIL_E_INVALIDARG);
    EXPECT_EQ(LumenReg::SetRegKeyValue(HKEY_LOCAL_MACHINE, "", "v", 1u, OSTYPE_X86), UTIL_E_INVALIDARG);
    EXPECT_EQ(os.RegistryCalls().size(), calls) << "arguments are checked before any call";

    os.registry().PutDword(HKEY_LOCAL_MACHINE, "Software\\K", "v", 5);
    os.FailRegistryCall("set", 5);
    EXPECT_EQ(LumenReg::SetRegKeyValue(HKEY_LOCAL_MACHINE, "Software\\K", "v", 1u, OSTYPE_X86), UTIL_E_SETVALUE);
    os.FailRegistryCall("date", 1018);
    char day[16] = "unchanged";
    EXPECT_EQ(LumenReg::QueryRegKeyModifyTime(HKEY_LOCAL_MACHINE, "Software\\K", day, 16, OSTYPE_X86), 1018u);
    EXPECT_STREQ(day, "unchanged");
    EXPECT_EQ(os.registry().OpenHandles(), 0u);
    SetOsForTesting(previous);
}

class FileRegistryTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("ow_regfiles_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Read(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void WriteFile(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    fs::path dir_;
};

TEST_F(FileRegistryTest, ExportedFileLoadsAndChangesAreWrittenWhole) {
    WriteFile("HKEY_USERS.reg",
              Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\S-1-5-21-9\\Software\\Microsoft\\Windows\\"
                        "CurrentVersion\\Internet Settings]\r\n\"ProxyEnable\"=dword:00000001\r\n"
                        "\"ProxyServer\"=\"10.9.8.7:3128\"\r\n"));
    setenv("OUTLINKWATCH_REGISTRY_DIR", dir_.c_str(), 1);  // the build's own backend reads it
    const std::string ie = "S-1-5-21-9\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    uint32_t enable = 0, size = 1024;
    std::string server;
    EXPECT_EQ(LumenReg::QueryRegKeyValue(HKEY_USERS, ie, "ProxyEnable", enable, OSTYPE_X86), UTIL_OK);
    EXPECT_EQ(LumenReg::QueryRegKeyValue(HKEY_USERS, ie, "ProxyServer", size, server, OSTYPE_X64), UTIL_OK);
    EXPECT_EQ(enable, 1u);
    EXPECT_EQ(server, "10.9.8.7:3128");
    EXPECT_EQ(LumenReg::SetRegKeyValue(HKEY_USERS, ie, "ProxyEnable", 0u, OSTYPE_X64), UTIL_OK);
    unsetenv("OUTLINKWATCH_REGISTRY_DIR");

    const std::string text = regfile::Utf16ToNarrow(Read("HKEY_USERS.reg").substr(2));
    EXPECT_NE(text.find("\"ProxyEnable\"=dword:00000000\r\n\"ProxyServer\"=\"10.9.8.7:3128\"\r\n"), std::string::npos)
        << text;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"HKEY_USERS.reg", "HKEY_USERS.reg.lock"})) << "no temporary file left";
}

TEST_F(FileRegistryTest, DamagedFileIsRefusedAndLeftAlone) {
    const std::string damaged = "REGEDIT4\n\n[HKEY_USERS\\S]\n\"x\"=\"cut";
    WriteFile("HKEY_USERS.reg", damaged);
    FakeOs base;
    FileBackedOs os(dir_.string());
    Os* previous = SetOsForTesting(&os);
    uint32_t v = 0;
    EXPECT_EQ(LumenReg::QueryRegKeyValue(HKEY_USERS, "S", "x", v, OSTYPE_X86), UTIL_E_OPENKEY);
    EXPECT_EQ(LumenReg::CreateRegKeyValue(HKEY_USERS, "S", "y", 1u, OSTYPE_X86), UTIL_E_CREATEKEY);
    EXPECT_EQ(LumenReg::CreateRegKeyValue(HKEY_LOCAL_MACHINE, "S", "y", 1u, OSTYPE_X86), UTIL_OK) << "other hives work";
    SetOsForTesting(previous);
    EXPECT_EQ(Read("HKEY_USERS.reg"), damaged);
    EXPECT_NE(os.reports.find("HKEY_USERS.reg refused: line 4: unterminated quote"), std::string::npos) << os.reports;
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
            int failures = 0;
            for (int i = 0; i < kValues; ++i) {
                HKEY key;
                if (files.Create(HKEY_USERS, "S\\Shared", kRegAccessCreate, &key) != kErrorSuccess) {
                    ++failures;
                    continue;
                }
                const uint32_t v = static_cast<uint32_t>(c * 1000 + i);
                const std::string name = "c" + std::to_string(c) + "_" + std::to_string(i);
                failures += files.Set(key, name, 4, reinterpret_cast<const uint8_t*>(&v), 4) != kErrorSuccess;
                files.Close(key);
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    regfile::Key root;
    std::string error;
    ASSERT_TRUE(regfile::Parse(Read("HKEY_USERS.reg"), &root, &error)) << error;
    const regfile::Key* shared = root.Find("HKEY_USERS")->Find("S")->Find("Shared");
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->values.size(), 2u * kValues) << "a writer lost another's change";
}

}  // namespace
}  // namespace outlinkwatch
