// The utility library: ini look-ups, the language map, language files with
// their override files, and the operating-system code table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "fakes/fake_os.h"
#include "fakes/temp_dir.h"
#include "lumenutil/langmap.h"
#include "lumenutil/system_info.h"
#include "emulation/ini_reader.h"

namespace outlinkwatch {
namespace {

std::string Ini(const std::string& text, const char* section, const char* key, const char* def, uint32_t size = 64) {
    std::vector<char> buf(size + 1, 'Z');
    const uint32_t n = IniGetString(text, section, key, def, buf.data(), size);
    EXPECT_EQ(buf[size], 'Z') << "wrote past the buffer";
    return std::string(buf.data(), n) + "|" + std::to_string(n);
}

TEST(IniReaderTest, LookupTable) {
    const std::string text =
        "; comment\n[Main]\nName = Value  \n  quoted=\"a b\"\nsingle='x'\nhalf=\"open\nempty=\n"
        "dup=first\ndup=second\n[main]\nlater=1\n[ Other ]\nKey=v;not a comment\r\nnoequals\n";
    const struct { const char *section, *key, *def; uint32_t size; std::string expected; } cases[] = {
        {"MAIN", "name", "d", 64, "Value|5"}, {"Main", "quoted", "d", 64, "a b|3"}, {"Main", "single", "d", 64, "x|1"},
        {"Main", "half", "d", 64, "\"open|5"}, {"Main", "empty", "d", 64, "|0"}, {"Main", "dup", "d", 64, "first|5"},
        {"Main", "later", "dflt  ", 64, "dflt|4"},  // only the first section of a name; default loses trailing blanks
        {"Other", "Key", "d", 64, "v;not a comment|15"}, {"Other", "noequals", nullptr, 64, "|0"},
        {"Missing", "Name", "fallback", 64, "fallback|8"}, {"Main", "Name", "d", 3, "Va|2"},  // cut to the buffer
        {"Main", "Name", "d", 1, "|0"}, {"Main", "Name", "d", 0, "|0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key + "/" + std::to_string(c.size));
        EXPECT_EQ(Ini(text, c.section, c.key, c.def, c.size), c.expected);
    }
    const std::string lists = "[a]\nk1=1\nk2=2\n[b]\n";  // a null section or key lists the names
    EXPECT_EQ(Ini(lists, nullptr, nullptr, ""), std::string("a\0b\0|4", 6));
    EXPECT_EQ(Ini(lists, "a", nullptr, ""), std::string("k1\0k2\0|6", 8));
    // Cut lists report size - 2 and end in two NULs within size.
    const std::pair<uint32_t, std::string> cuts[] = {
        {7, std::string("k1\0k2\0|6", 8)}, {6, std::string("k1\0k|4", 6)}, {5, std::string("k1\0|3", 5)},
        {4, "k1|2"}, {3, "k|1"}, {2, "|0"}, {1, "|0"}};
    for (const auto& [size, want] : cuts) EXPECT_EQ(Ini(lists, "a", nullptr, "", size), want) << size;
    char two[2] = {'Z', 'Z'};
    EXPECT_EQ(IniGetString(lists, "a", nullptr, "", two, 2), 0u);
    EXPECT_EQ(std::string(two, 2), std::string(2, '\0')) << "the shortest cut list is its two NULs";
    // Only the first 4 MiB of a file are read; a profile string is at most 64 KiB.
    std::string large = ";" + std::string(kMaxIniFileBytes - 9, 'x') + "\n[S]\nk=vw";
    EXPECT_EQ(Ini(large, "S", "k", "d"), "v|1");
    EXPECT_EQ(IniProfileString("[S]\nk=" + std::string(kMaxProfileBuffer + 9, 'y'), "S", "k", "", 1u << 20),
              std::string(kMaxProfileBuffer - 1, 'y'));
    EXPECT_EQ(IniProfileString("[S]\nk=v", "S", "k", "", 0), "");
}

TEST(LangMapTest, Lookups) {
    lumenutil::LangMap map;
    map.LoadText("2 English en\n1 Chinese ch extra columns\nbad line\n3 Broken\n 5  Deutsch de \n");
    EXPECT_EQ(map.GetLangAbbr(2), "en");
    EXPECT_EQ(map.GetLangAbbr(7), "ch") << "unknown id: the first entry";
    EXPECT_EQ(map.GetLangName(5), "Deutsch");
    EXPECT_EQ(map.GetLangNameByAbbr("de"), "Deutsch");
    EXPECT_EQ(map.GetLangNameByAbbr("EN"), "Chinese") << "abbreviations compare exactly";
    const std::pair<const char*, int> ids[] = {{"english", 2}, {" Eng lish\t", 2}, {"DEUTSCH", 5}, {"nobody", 1}};
    for (const auto& c : ids) EXPECT_EQ(map.GetLangID(c.first), c.second) << c.first;
    EXPECT_EQ(map.Print(), "ID:1, Name:Chinese, Abbr:ch\nID:2, Name:English, Abbr:en\nID:5, Name:Deutsch, Abbr:de\n");
    for (const char* text : {"1 English\n2 Chinese\n", ""}) {  // no complete line: not loaded
        lumenutil::LangMap empty;
        empty.LoadText(text);
        EXPECT_FALSE(empty.loaded());
        EXPECT_EQ(empty.GetLangAbbr(1) + empty.GetLangNameByAbbr("en"), "");
        EXPECT_EQ(empty.GetLangID("English"), -1);
    }
}

class LanguageFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.MakeSubdir("language"));
        fake_.exePath = dir_.path() + "/agent.exe";
        previous_ = SetOsForTesting(&fake_);
    }
    void TearDown() override {
        SetOsForTesting(previous_);
        lumenutil::ReloadLangMapForTesting();
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_.path() + "/language/" + name, std::ios::binary) << text;
    }

    TempDir dir_;
    FakeOs fake_;
    Os* previous_ = nullptr;
};

TEST_F(LanguageFilesTest, TextsWithTheOverrideFile) {
    Write("UniLang_en.ini", "[S]\nplain=base\n");
    lumenutil::ReloadLangMapForTesting();
    EXPECT_EQ(lumenutil::getStringFromLangIni("S", "plain", 1), "") << "no map file";
    Write("langmap.ini", "1 English en\n");  // looked for again while none was read
    Write("UniLang_en.ini",
          "[S]\nplain=base\nquoted=\"hello\"\nboth=base-both\nonlybase=b\nemptycust=base-empty\n");
    Write("UniLang_en_cust.ini", "[S]\nboth=custom\nemptycust=\n");
    const std::pair<const char*, const char*> cases[] = {
        {"plain", "base"}, {"quoted", "hello"}, {"both", "custom"}, {"emptycust", "base-empty"},
        {"missing", ""},   {"onlybase", "b"}};
    for (const auto& c : cases) EXPECT_EQ(lumenutil::getStringFromLangIni("S", c.first, 1), c.second) << c.first;
    testing::internal::CaptureStdout();
    lumenutil::PrintLangMap();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ID:1, Name:English, Abbr:en\n");
    // The ini reader already drops one pair of quotes; a value written as
    // two pairs keeps its inner pair only when longer than two characters.
    Write("UniLang_en.ini", "[S]\nq=\"\"x\"\"\ntwo=\"\"\"\"\n");
    EXPECT_EQ(lumenutil::getStringFromLangIni("S", "q", 1), "x");
    EXPECT_EQ(lumenutil::getStringFromLangIni("S", "two", 1), "\"\"");

    // The narrow and the wide call alike: the override file first, then the
    // default; the copy is cut to size - 1, gets a second terminator where
    // there is room and nothing at or past size; without a buffer or a path
    // nothing is read.
    const std::string base = dir_.path() + "/language/UniLang_en.ini";
    const std::wstring wideBase(base.begin(), base.end());
    const struct { const char* key; uint32_t size; bool buffer, path; const char* want; } rows[] = {
        {"nokey", 32, true, true, "def"}, {"both", 32, true, true, "custom"}, {"both", 7, true, true, "custom"},
        {"both", 6, true, true, "custo"}, {"both", 1, true, true, ""},        {"both", 0, true, true, ""},
        {"both", 32, false, true, ""},    {"both", 32, true, false, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.key) + " " + std::to_string(r.size) + (r.buffer ? "" : " no buffer") +
                     (r.path ? "" : " no path"));
        char narrow[40];
        wchar_t wide[40];
        std::fill(std::begin(narrow), std::end(narrow), 'Z');
        std::fill(std::begin(wide), std::end(wide), L'Z');
        const std::wstring key(r.key, r.key + std::strlen(r.key));
        const size_t n = std::strlen(r.want);
        EXPECT_EQ(lumenutil::LumenFile::GetInifileStringA("S", r.key, "def", r.buffer ? narrow : nullptr, r.size,
                                                          r.path ? base.c_str() : nullptr), n);
        EXPECT_EQ(lumenutil::LumenFile::GetInifileStringW(L"S", key.c_str(), L"def", r.buffer ? wide : nullptr, r.size,
                                                          r.path ? wideBase.c_str() : nullptr), n);
        const bool written = r.buffer && r.path && r.size > 0;
        EXPECT_EQ(std::string(narrow, written ? n + 1 : 1), written ? std::string(r.want, n + 1) : "Z");
        EXPECT_EQ(std::wstring(wide, written ? n + 1 : 1),
                  written ? std::wstring(r.want, r.want + n) + L'\0' : std::wstring(L"Z"));
        EXPECT_EQ(narrow[n + 1], written && n + 1 < r.size ? '\0' : 'Z');
        EXPECT_EQ(wide[n + 1], written && n + 1 < r.size ? L'\0' : L'Z');
    }
    std::filesystem::remove(base);
    EXPECT_EQ(lumenutil::getStringFromLangIni("S", "both", 1), "") << "no language file: no override either";
}

// Platform id 1 reads GetVersionExA's numbers, platform id 2 the true NT
// numbers (GetVersionExA answers 6.2 to a program without a manifest); the
// rows make the two pairs decide differently.
TEST(SystemInfoTest, OsCodeTable) {
    enum { kMajor6 = 1, kMinor3 = 2 };  // which VerifyVersionInfo checks say equal
    const struct {
        uint32_t platform, major, minor, ntMajor, ntMinor;
        uint8_t product;
        int equals;
        bool is64;
        int want64, code;
        bool versionExOk = true, ntNumbersOk = true;
    } cases[] = {
        {0, 3, 1, 6, 1, 1, 0, false, 0, 100},       {1, 4, 0, 4, 10, 0, 0, false, 0, 101},
        {1, 4, 10, 4, 0, 0, 0, false, 0, 102},      {1, 4, 90, 4, 0, 0, 0, false, 0, 103},
        {1, 5, 0, 4, 0, 0, 0, false, 0, -1},        {2, 6, 2, 3, 51, 1, 0, false, 0, 104},
        {2, 6, 2, 4, 0, 1, 0, false, 0, 104},       {2, 6, 2, 5, 0, 1, 0, false, 0, 105},
        {2, 6, 2, 5, 1, 3, 0, false, 0, 106},       {2, 6, 2, 5, 2, 1, 0, false, 0, 106},
        {2, 6, 2, 5, 2, 3, 0, false, 0, 107},       {2, 6, 2, 6, 0, 1, 0, false, 0, 108},
        {2, 6, 2, 6, 0, 3, 0, false, 0, 110},       {2, 6, 2, 6, 1, 1, 0, true, 0, 109},
        {2, 6, 2, 6, 1, 2, 0, false, 0, 111},       {2, 6, 1, 6, 2, 1, 0, false, 0, 118},
        {2, 6, 2, 6, 3, 1, kMajor6 | kMinor3, false, 0, 120},
        {2, 6, 2, 6, 3, 1, kMajor6, false, 0, 118}, {2, 6, 2, 6, 3, 1, kMinor3, false, 0, 118},
        {2, 6, 0, 6, 4, 1, 0, false, 0, 118},       {2, 6, 2, 10, 0, 1, 0, false, 0, 122},
        {2, 6, 2, 11, 5, 3, 0, false, 0, 122},      {3, 6, 1, 6, 1, 1, 0, false, 0, -1},
        // 64-bit counterparts only on a 64-bit processor, when asked for, in 106..122.
        {2, 6, 2, 6, 1, 1, 0, true, 1, 115},        {2, 6, 2, 5, 1, 1, 0, true, 1, 112},
        {2, 6, 2, 10, 0, 1, 0, true, 1, 123},       {2, 6, 2, 5, 0, 1, 0, true, 1, 105},
        {2, 6, 2, 6, 1, 1, 0, false, 1, 109},
        // Either source of numbers missing is a failure.
        {2, 6, 2, 6, 1, 1, 0, false, 0, -1, false}, {2, 6, 2, 6, 1, 1, 0, false, 0, -1, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        const OsVersionFacts f{c.versionExOk, c.ntNumbersOk, c.platform, c.major, c.minor, c.ntMajor, c.ntMinor, 0,
                               c.product, 2, (c.equals & kMajor6) != 0, (c.equals & kMinor3) != 0, c.is64};
        const bool ok = c.versionExOk && c.ntNumbersOk;
        int code = 0, sp = 0;
        EXPECT_EQ(lumenutil::OSCodeFromFacts(f, c.want64, code, sp), ok ? lumenutil::UTIL_OK : lumenutil::UTIL_E_OSVERSION);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(sp, ok ? 2 : -1);
    }
    // Each code's name and 64-bit counterpart.
    const struct { int code, code64; const char* name; } codes[] = {
        {100, -1, "Win32s"}, {101, -1, "Windows 95"}, {102, -1, "Windows 98"}, {103, -1, "Windows ME"},
        {104, -1, "Windows NT"}, {105, -1, "Windows 2000"}, {106, 112, "Windows XP"}, {107, 113, "Windows Server 2003"},
        {108, 114, "Windows Vista"}, {109, 115, "Windows 7"}, {110, 116, "Windows Server 2008"},
        {111, 117, "Windows Server 2008 R2"}, {118, 119, "Windows 8"}, {120, 121, "Windows 8.1"},
        {122, 123, "Windows 10"}, {112, -1, "UNKNOWN"}, {124, -1, "UNKNOWN"}, {-1, -1, "UNKNOWN"}};
    for (const auto& c : codes) {
        EXPECT_EQ(lumenutil::LumenSystemInfo::Transform32To64(c.code), c.code64) << c.code;
        EXPECT_EQ(lumenutil::OSNameFromCode(c.code), c.name) << c.code;
    }
}

}  // namespace
}  // namespace outlinkwatch
