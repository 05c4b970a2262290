// The utility library: ini look-ups, the language map, language files with
// their override files, and the operating-system code table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "fakes/fake_os.h"
#include "fakes/temp_dir.h"
#include "lumenutil/langmap.h"
#include "lumenutil/system_info.h"
#include "platform/ini_reader.h"

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
    struct Case {
        const char* section;
        const char* key;
        const char* def;
        uint32_t size;
        std::string expected;
    } cases[] = {
        {"Main", "Name", "d", 64, "Value|5"},
        {"MAIN", "name", "d", 64, "Value|5"},
        {"Main", "quoted", "d", 64, "a b|3"},
        {"Main", "single", "d", 64, "x|1"},
        {"Main", "half", "d", 64, "\"open|5"},
        {"Main", "empty", "d", 64, "|0"},
        {"Main", "dup", "d", 64, "first|5"},
        {"Main", "later", "dflt  ", 64, "dflt|4"},  // only the first section of a name; default loses trailing blanks
        {"Other", "Key", "d", 64, "v;not a comment|15"},
        {"Other", "noequals", nullptr, 64, "|0"},
        {"Missing", "Name", "fallback", 64, "fallback|8"},
        {"Main", "Name", "d", 3, "Va|2"},  // cut to the buffer
        {"Main", "Name", "d", 1, "|0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(Ini(text, c.section, c.key, c.def, c.size), c.expected);
    }
}

TEST(IniReaderTest, NullSectionOrKeyListsNames) {
    const std::string text = "[a]\nk1=1\nk2=2\n[b]\n";
    EXPECT_EQ(Ini(text, nullptr, nullptr, ""), std::string("a\0b\0|4", 6));
    EXPECT_EQ(Ini(text, "a", nullptr, ""), std::string("k1\0k2\0|6", 8));
    EXPECT_EQ(Ini(text, "a", nullptr, "", 5), std::string("k1\0|3", 5)) << "cut lists report size - 2";
    char none[1];
    EXPECT_EQ(IniGetString(text, "a", "k1", "", none, 0), 0u);
}

class LanguageFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        ASSERT_TRUE(dir_.MakeSubdir("language"));
        fake_.SetExecutablePath(dir_.path() + "/agent.exe");
        previous_ = SetOsForTesting(&fake_);
    }
    void TearDown() override {
        SetOsForTesting(previous_);
        lumenutil::ReloadLangMapForTesting();
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_.path() + "/" + name, std::ios::binary) << text;
    }

    TempDir dir_;
    FakeOs fake_;
    Os* previous_ = nullptr;
};

TEST_F(LanguageFilesTest, MapLookups) {
    Write("language/langmap.ini", "2 English en\n1 Chinese ch extra columns\nbad line\n3 Broken\n 5  Deutsch de \n");
    lumenutil::ReloadLangMapForTesting();
    EXPECT_EQ(lumenutil::GetLangAbbr(2), "en");
    EXPECT_EQ(lumenutil::GetLangAbbr(7), "ch") << "unknown id: the first entry";
    EXPECT_EQ(lumenutil::GetLangName(5), "Deutsch");
    EXPECT_EQ(lumenutil::GetLangStdName(2), "");
    EXPECT_EQ(lumenutil::GetLangNameByAbbr("de"), "Deutsch");
    EXPECT_EQ(lumenutil::GetLangNameByAbbr("EN"), "Chinese") << "abbreviations compare exactly";
    struct Case {
        const char* name;
        int id;
    } ids[] = {{"english", 2}, {" Eng lish\t", 2}, {"DEUTSCH", 5}, {"nobody", 1}, {"", 1}};
    for (const Case& c : ids) EXPECT_EQ(lumenutil::GetLangID(c.name), c.id) << c.name;
    EXPECT_EQ(lumenutil::GlobalLangMap().Print(),
              "ID:1, Name:Chinese, Abbr:ch\nID:2, Name:English, Abbr:en\nID:5, Name:Deutsch, Abbr:de\n");
}

TEST_F(LanguageFilesTest, MapWithoutCompleteLinesIsNotLoaded) {
    for (const char* text : {"1 English\n2 Chinese\n", ""}) {
        Write("language/langmap.ini", text);
        lumenutil::ReloadLangMapForTesting();
        EXPECT_FALSE(lumenutil::GlobalLangMap().loaded());
        EXPECT_EQ(lumenutil::GetLangAbbr(1), "");
        EXPECT_EQ(lumenutil::GetLangNameByAbbr("en"), "");
        EXPECT_EQ(lumenutil::GetLangID("English"), -1);
    }
    ASSERT_EQ(std::remove((dir_.path() + "/language/langmap.ini").c_str()), 0);
    lumenutil::ReloadLangMapForTesting();
    EXPECT_FALSE(lumenutil::GlobalLangMap().loaded());
}

TEST_F(LanguageFilesTest, TextsWithTheOverrideFile) {
    Write("language/langmap.ini", "1 English en\n");
    Write("language/UniLang_en.ini",
          "[S]\nplain=base\nquoted=\"hello\"\npair=\"\"\nboth=base-both\nonlybase=b\nemptycust=base-empty\n");
    Write("language/UniLang_en_cust.ini", "[S]\nboth=custom\nemptycust=\n");
    lumenutil::ReloadLangMapForTesting();
    struct Case {
        const char* key;
        const char* expected;
    } cases[] = {{"plain", "base"},          {"quoted", "hello"},  {"both", "custom"},
                 {"emptycust", "base-empty"}, {"missing", ""},     {"onlybase", "b"}};
    for (const Case& c : cases) EXPECT_EQ(lumenutil::getStringFromLangIni("S", c.key, 1), c.expected) << c.key;
    // The ini reader already drops one pair of quotes; a value written as
    // two pairs keeps its inner pair only when longer than two characters.
    Write("language/UniLang_en.ini", "[S]\nq=\"\"x\"\"\ntwo=\"\"\"\"\n");
    EXPECT_EQ(lumenutil::getStringFromLangIni("S", "q", 1), "x");
    EXPECT_EQ(lumenutil::getStringFromLangIni("S", "two", 1), "\"\"");

    char buf[32];
    const std::string base = dir_.path() + "/language/UniLang_en.ini";
    Write("language/UniLang_en.ini", "[S]\nk=base\n");
    EXPECT_EQ(lumenutil::LumenFile::GetInifileStringA("S", "k", "def", buf, sizeof(buf), base.c_str()), 4u);
    EXPECT_STREQ(buf, "base");
    EXPECT_EQ(lumenutil::LumenFile::GetInifileStringA("S", "nokey", "def", buf, sizeof(buf), base.c_str()), 3u);
    EXPECT_STREQ(buf, "def");
    EXPECT_EQ(lumenutil::LumenFile::GetInifileStringA("S", "both", "def", buf, sizeof(buf), base.c_str()), 6u);
    EXPECT_STREQ(buf, "custom");
}

TEST_F(LanguageFilesTest, MissingLanguageFileGivesEmptyTexts) {
    Write("language/langmap.ini", "1 English en\n");
    lumenutil::ReloadLangMapForTesting();
    EXPECT_EQ(lumenutil::getStringFromLangIni("S", "k", 1), "");
}

TEST(SystemInfoTest, OsCodeTable) {
    struct Case {
        uint32_t platform, major, minor;
        uint8_t product;
        bool equals63, is64;
        int want64, code;
    } cases[] = {
        {0, 3, 1, 0, false, false, 0, 100}, {1, 4, 0, 0, false, false, 0, 101}, {1, 4, 10, 0, false, false, 0, 102},
        {1, 4, 90, 0, false, false, 0, 103}, {1, 5, 0, 0, false, false, 0, -1}, {2, 4, 0, 1, false, false, 0, 104},
        {2, 5, 0, 1, false, false, 0, 105}, {2, 5, 1, 3, false, false, 0, 106}, {2, 5, 2, 1, false, false, 0, 106},
        {2, 5, 2, 3, false, false, 0, 107}, {2, 6, 0, 1, false, false, 0, 108}, {2, 6, 0, 3, false, false, 0, 110},
        {2, 6, 1, 1, false, true, 0, 109},  {2, 6, 1, 3, false, false, 0, 111}, {2, 6, 2, 1, false, false, 0, 118},
        {2, 6, 3, 1, true, false, 0, 120},  {2, 6, 4, 1, false, false, 0, 118}, {2, 10, 0, 1, false, false, 0, 122},
        {2, 11, 5, 3, false, false, 0, 122}, {2, 6, 1, 1, false, true, 1, 115}, {2, 10, 0, 1, false, true, 1, 123},
        {2, 5, 0, 1, false, true, 1, 105},  {3, 6, 1, 1, false, false, 0, -1},
    };
    for (const Case& c : cases) {
        OsVersionFacts f;
        f.versionExOk = f.ntNumbersOk = true;
        f.platformId = c.platform;
        f.major = f.ntMajor = c.major;
        f.minor = f.ntMinor = c.minor;
        f.productType = c.product;
        f.equalsMajor6 = f.equalsMinor3 = c.equals63;
        f.is64bit = c.is64;
        f.servicePackMajor = 2;
        int code = 0, sp = 0;
        EXPECT_EQ(lumenutil::OSCodeFromFacts(f, c.want64, code, sp), lumenutil::UTIL_OK);
        EXPECT_EQ(code, c.code) << c.platform << " " << c.major << "." << c.minor << " type " << int(c.product);
        EXPECT_EQ(sp, 2);
    }
    OsVersionFacts broken;
    int code = 0, sp = 0;
    EXPECT_EQ(lumenutil::OSCodeFromFacts(broken, 0, code, sp), lumenutil::UTIL_E_OSVERSION);
    EXPECT_EQ(code, -1);
    EXPECT_EQ(sp, -1);
    for (int c : {100, 112, 124, -1}) EXPECT_EQ(lumenutil::LumenSystemInfo::Transform32To64(c), -1) << c;
}

}  // namespace
}  // namespace outlinkwatch
