// The utility library: ini look-ups, the language map, language files with
// their override files, the file utilities and the system-information table,
// on files the tests make and on facts set in the fake.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "fakes/fake_os.h"
#include "fakes/temp_dir.h"
#include "emulation/ini_reader.h"
#include "lumenutil/file_util.h"
#include "lumenutil/langmap.h"
#include "lumenutil/system_info.h"

#if defined(_WIN32)
#  include "platform/win32/win32_api.h"  // SYSTEMTIME
#endif

namespace outlinkwatch {
namespace {

using lumenutil::LumenFile;
using lumenutil::LumenSystemInfo;
namespace fs = std::filesystem;

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class UtilTableTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        previous_ = SetOsForTesting(&fake_);
    }
    void TearDown() override {
        SetOsForTesting(previous_);
        lumenutil::ReloadLangMapForTesting();
    }
    std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }

    TempDir dir_;
    FakeOs fake_;
    Os* previous_ = nullptr;
};

TEST_F(UtilTableTest, LanguageTextsWithTheOverrideFile) {
    ASSERT_TRUE(dir_.MakeSubdir("language"));
    fake_.exePath = Path("agent.exe");
    const auto lang = [&](const std::string& name, const std::string& text) { Write(Path("language/" + name), text); };
    lang("UniLang_en.ini", "[S]\nplain=base\n");
    lumenutil::ReloadLangMapForTesting();
    EXPECT_EQ(lumenutil::getStringFromLangIni("S", "plain", 1), "") << "no map file";
    lang("langmap.ini", "1 English en\n");  // looked for again while none was read
    lang("UniLang_en.ini",
          "[S]\nplain=base\nquoted=\"hello\"\nboth=base-both\nonlybase=b\nemptycust=base-empty\n");
    lang("UniLang_en_cust.ini", "[S]\nboth=custom\nemptycust=\n");
    const std::pair<const char*, const char*> cases[] = {
        {"plain", "base"}, {"quoted", "hello"}, {"both", "custom"}, {"emptycust", "base-empty"},
        {"missing", ""},   {"onlybase", "b"}};
    for (const auto& c : cases) EXPECT_EQ(lumenutil::getStringFromLangIni("S", c.first, 1), c.second) << c.first;
    testing::internal::CaptureStdout();
    lumenutil::PrintLangMap();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ID:1, Name:English, Abbr:en\n");
    // The ini reader already drops one pair of quotes; a value written as
    // two pairs keeps its inner pair only when longer than two characters.
    lang("UniLang_en.ini", "[S]\nq=\"\"x\"\"\ntwo=\"\"\"\"\n");
    EXPECT_EQ(lumenutil::getStringFromLangIni("S", "q", 1), "x");
    EXPECT_EQ(lumenutil::getStringFromLangIni("S", "two", 1), "\"\"");

    // The narrow and the wide call alike: the override file first, then the
    // default; the copy is cut to size - 1, gets a second terminator where
    // there is room and nothing at or past size; without a buffer or a path
    // nothing is read.
    // A path is read to its 259th character: the override of one whose dot is the last of those is found.
    const std::string base = dir_.path() + "/language/UniLang_en.ini";
    const std::string name(258 - Path("language/").size(), 'u'), paths[] = {"", base, Path("language/" + name + "..ini")};
    lang(name + "_cust.ini", "[S]\nboth=custom\n");
    const struct { const char* key; uint32_t size; bool buffer; int path; const char* want; } rows[] = {
        {"nokey", 32, true, 1, "def"}, {"both", 32, true, 1, "custom"}, {"both", 7, true, 1, "custom"},
        {"both", 6, true, 1, "custo"}, {"both", 1, true, 1, ""},        {"both", 0, true, 1, ""},
        {"both", 32, false, 1, ""},    {"both", 32, true, 0, ""},       {"both", 32, true, 2, "custom"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.key) + " " + std::to_string(r.size) + (r.buffer ? "" : " no buffer") + " path " +
                     std::to_string(r.path));
#ifdef _WIN32
        if (r.path == 2) continue;  // longer than the system's own file calls take
#endif
        char narrow[40];
        wchar_t wide[40];
        std::fill(std::begin(narrow), std::end(narrow), 'Z');
        std::fill(std::begin(wide), std::end(wide), L'Z');
        const std::wstring key(r.key, r.key + std::strlen(r.key));
        const size_t n = std::strlen(r.want);
        const std::wstring widePath(paths[r.path].begin(), paths[r.path].end());
        EXPECT_EQ(lumenutil::LumenFile::GetInifileStringA("S", r.key, "def", r.buffer ? narrow : nullptr, r.size,
                                                          r.path ? paths[r.path].c_str() : nullptr), n);
        EXPECT_EQ(lumenutil::LumenFile::GetInifileStringW(L"S", key.c_str(), L"def", r.buffer ? wide : nullptr, r.size,
                                                          r.path ? widePath.c_str() : nullptr), n);
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

// Every code of the attribute family, on the fake and on this build's
// backend. Read-only is the file's own: no write bit for anyone, whatever
// the caller (root included) may do.
TEST_F(UtilTableTest, FileAttributeCodes) {
    Write(Path("plain.txt"), "12345");
    Write(Path("readonly.txt"), "ro");
    fs::permissions(Path("readonly.txt"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    Write(Path("otherswrite.txt"), "ow");
#if defined(_WIN32)
    const fs::perms othersOnly = fs::perms::owner_write;  // the runtime maps only the owner's bit
#else
    const fs::perms othersOnly = fs::perms::others_write | fs::perms::owner_read;
#endif
    fs::permissions(Path("otherswrite.txt"), othersOnly);
    ASSERT_TRUE(dir_.MakeSubdir("sub"));
    using namespace lumenutil;
    struct Row {
        const char* name;  // null: a null path
        uint32_t exist, dir, readOnly, writable, size;
    };
    const Row rows[] = {
        {"plain.txt", UTIL_OK, UTIL_E_NOTDIR, UTIL_E_NOTREADONLY, UTIL_S_WRITABLE, 5},
        {"readonly.txt", UTIL_OK, UTIL_E_NOTDIR, UTIL_S_READONLY, UTIL_E_NOTWRITABLE, 2},
        {"otherswrite.txt", UTIL_OK, UTIL_E_NOTDIR, UTIL_E_NOTREADONLY, UTIL_S_WRITABLE, 2},
        {"sub", UTIL_OK, UTIL_S_ISDIR, UTIL_E_NOTREADONLY, UTIL_S_WRITABLE, 0},
        {"missing", UTIL_E_NOFILE, UTIL_E_NOFILE, UTIL_E_NOFILE, UTIL_E_NOFILE, 0xFFFFFFFFu},
        {nullptr, UTIL_E_INVALIDARG, UTIL_E_INVALIDARG, UTIL_E_INVALIDARG, UTIL_E_INVALIDARG, 0xFFFFFFFFu},
    };
    std::unique_ptr<Os> backend(NewDefaultOs());
    for (Os* os : {static_cast<Os*>(&fake_), backend.get()}) {
        SetOsForTesting(os);
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(os == &fake_ ? "fake " : "backend ") + (r.name ? r.name : "(null)"));
            const std::string path = r.name ? Path(r.name) : std::string();
            const char* p = r.name ? path.c_str() : nullptr;
            EXPECT_EQ(LumenFile::IsFileExist(p), r.exist);
            EXPECT_EQ(LumenFile::IsDirectory(p), r.dir);
            EXPECT_EQ(LumenFile::IsReadOnly(p), r.readOnly);
            EXPECT_EQ(LumenFile::IsWritableFile(p), r.writable);
            if (r.dir != UTIL_S_ISDIR) { EXPECT_EQ(LumenFile::GetFileSize(p), r.size); }
            SYSTEMTIME st{};
            const bool exists = r.exist == UTIL_OK;
            EXPECT_EQ(LumenFile::GetFileTime(r.name ? path : std::string(), st),
                      exists ? UTIL_S_FILETIME : UTIL_E_FILETIME);
            EXPECT_TRUE(!exists || (st.wYear >= 2020 && st.wMonth >= 1 && st.wMonth <= 12 && st.wDay >= 1)) << st.wYear;
            // No version resource (or no file): the output stays as it was.
            std::string out = "unchanged";
            EXPECT_EQ(LumenFile::GetFileVerInfo(p, "FileVersion", out),
                      r.name == nullptr ? UTIL_E_INVALIDARG : exists ? UTIL_OK : UTIL_E_NOFILE);
            EXPECT_EQ(out, "unchanged");
        }
    }
    SetOsForTesting(&fake_);
    fs::permissions(Path("readonly.txt"), fs::perms::owner_write, fs::perm_options::add);
}

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

// The guards release a real handle, never null or the invalid marker, and leave their variable null.
TEST_F(UtilTableTest, GuardsReleaseOnlyRealHandles) {
    const Handle event = fake_.Kernel()->CreateEventObject(nullptr, true, false);
    int module = 0;
    for (Handle h : {event, lumenutil::InvalidHandleValue(), Handle{}}) {
        HANDLE held = h;
        HMODULE lib = static_cast<HMODULE>(h == event ? &module : h);
        { lumenutil::CAutoCloseHandle a(held); lumenutil::CAutoFreeLibrary b(lib); }
        EXPECT_TRUE(held == nullptr && lib == nullptr);
    }
    EXPECT_FALSE(fake_.Kernel()->CloseObject(event)) << "closed by the guard";
    EXPECT_EQ(fake_.unloadedModules, std::vector<Handle>{&module});
}

TEST(UtilDecisionTest, VirtualMachineFromFirmwareTexts) {
    struct Row {
        FirmwareFacts f;
        uint32_t kind;
    };
    const Row rows[] = {
        {{"VMware, Inc.", "VMware Virtual Platform", "Phoenix Technologies LTD", "6.00", "Intel Corporation"}, 1},
        {{"Phoenix", "x", "VMWARE", "", ""}, 1},
        {{"Microsoft Corporation", "Virtual Machine", "American Megatrends Inc.", "VRTUAL - 1", ""}, 2},
        {{"Microsoft Corporation", "Surface Pro", "Microsoft Corporation", "", ""}, 0},
        {{"innotek GmbH", "VirtualBox", "innotek GmbH", "VirtualBox", "Oracle Corporation"}, 3},
        {{"Oracle Corporation", "VirtualBox", "", "", ""}, 3},
        {{"QEMU", "Standard PC (Q35 + ICH9, 2009)", "SeaBIOS", "1.16", ""}, 0},
        {{"Dell Inc.", "OptiPlex 7090", "Dell Inc.", "1.2.0", "Dell Inc."}, 0},
        {{}, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.f.systemVendor + "/" + r.f.productName);
        EXPECT_EQ(lumenutil::VirtualMachineKind(r.f), r.kind);
    }
    DWORD kind = 99;  // the process's own machine, read once
    const bool vm = LumenSystemInfo::isVirtualMachine(kind);
    EXPECT_EQ(vm, kind != 0);
}

// The account of a SID, answered by the fake as a system would, and the
// domain: only the configured value, never the name the host resolves
// under; the user's falls back to the machine's only when it cannot be read.
TEST_F(UtilTableTest, AccountAndDomain) {
    EXPECT_EQ(LumenSystemInfo::GetSystemEveryoneAccountName(), "") << "a system without the account";
    fake_.accountNames["S-1-1-0"] = "Jeder";
    EXPECT_EQ(LumenSystemInfo::GetSystemEveryoneAccountName(), "Jeder");

    struct Row {
        const char* registry;  // null: no value
        const char* user;
        bool found, userFound;
        const char* domain;
        const char* userDomain;
    };
    const Row rows[] = {
        {nullptr, nullptr, false, false, "", ""},
        {"", nullptr, false, false, "", ""},
        {"ad.example", nullptr, true, true, "ad.example", "ad.example"},
        {"ad.example", "users.example", true, true, "ad.example", "users.example"},
        {"ad.example", "", true, false, "ad.example", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.registry ? r.registry : "(none)") + " " + (r.user ? r.user : "(none)"));
        MemoryRegistry reg;
        fake_.UseRegistry(&reg);
        if (r.registry) {
            reg.PutValue(PredefinedRegKey(0x80000002u), "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters",
                                      "Domain", 1, r.registry);
        }
        if (r.user) reg.PutValue(PredefinedRegKey(0x80000001u), "Volatile Environment", "USERDNSDOMAIN", 1, r.user);
        std::string d = "", u = "";
        EXPECT_EQ(LumenSystemInfo::GetCurrentDomainInfo(d), r.found);
        EXPECT_EQ(LumenSystemInfo::GetCurrentUserDomainInfo(u), r.userFound);
        EXPECT_EQ(d + "|" + u, std::string(r.domain) + "|" + r.userDomain);
        fake_.UseRegistry(nullptr);
    }
}

// Names, language and architecture from the facts: Windows names only on
// Windows, the system's own name elsewhere, "UNKNOWN" without one.
TEST_F(UtilTableTest, SystemNamesAndLanguage) {
    SystemFacts& s = fake_.systemFacts;
    s.processorArchitecture = kArchAMD64;
    std::string name, sp = "stale";
    int platform = -1;
    EXPECT_EQ(LumenSystemInfo::GetOSVersionInfo(name, sp, 1), lumenutil::UTIL_OK);
    EXPECT_EQ(name, "UNKNOWN");
    s.ownName = "Debian GNU/Linux 12 (bookworm)";
    s.ownRelease = "6.1.0-18-amd64";
    EXPECT_EQ(LumenSystemInfo::GetOSVersionInfo(name, sp, 1), lumenutil::UTIL_OK);
    EXPECT_EQ(name + "|" + sp, "Debian GNU/Linux 12 (bookworm) X64 Edition|");
    EXPECT_EQ(LumenSystemInfo::GetOSDetailInformation(), "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0-18-amd64), 64-bit");
    EXPECT_EQ(LumenSystemInfo::GetOSPlatForm(platform), lumenutil::UTIL_E_OSVERSION);
    DWORD major = 0, minor = 0, build = 0;
    EXPECT_FALSE(LumenSystemInfo::GetNtVersionNumbers(major, minor, build));

    s.nativeVersion = true;
    s.productInfo = 0x04;
    EXPECT_EQ(LumenSystemInfo::GetOSVersionInfo(name, sp, 0), lumenutil::UTIL_OK);
    EXPECT_EQ(name + "|" + sp, "Windows 10|");
    EXPECT_EQ(LumenSystemInfo::GetOSVersionInfo(name, sp, 1), lumenutil::UTIL_OK);
    EXPECT_EQ(name, "Windows 10 X64 Edition");
    EXPECT_EQ(LumenSystemInfo::GetOSDetailInformation(), "Microsoft Windows 10 Enterprise Edition (build 0), 64-bit");
    major = minor = build = 7;
    EXPECT_TRUE(LumenSystemInfo::GetNtVersionNumbers(major, minor, build));
    EXPECT_EQ(major * 10000 + minor * 100 + build, 100000u);
    // Only Server 2003 takes the R2 mark; the NT build number, when known, wins.
    OsVersionFacts& v = fake_.versionFacts;
    s.serverR2 = true, s.productInfo = 0, s.buildNumber = 9;
    v.ntMajor = 5, v.ntMinor = 2, v.productType = 3, v.ntBuild = 3790;
    EXPECT_EQ(LumenSystemInfo::GetOSDetailInformation(), "Microsoft Windows Server 2003 R2 Standard Edition (build 3790), 64-bit");
    v.ntMajor = 6, v.ntMinor = 0, v.productType = 1, v.ntBuild = 0;
    EXPECT_EQ(LumenSystemInfo::GetOSDetailInformation(), "Microsoft Windows Vista Professional Edition (build 9), 64-bit");
    s.processorArchitecture = kArchArm64;
    EXPECT_FALSE(LumenSystemInfo::OSIs64bit()) << "as Windows counts: AMD64 and IA64 only";

    const struct {
        uint16_t ui;
        uint32_t cp;
        const char *lang, *locale;
    } langs[] = {{2052, 936, "zh-cn", "zh-cn"}, {1033, 950, "en", "zh-cn"}, {0, 1252, "en", "en"}};
    for (const auto& l : langs) {
        s.uiLanguage = l.ui;
        s.oemCodePage = l.cp;
        std::string a, b;
        EXPECT_EQ(LumenSystemInfo::GetOSLanguage(a), lumenutil::UTIL_OK);
        EXPECT_EQ(LumenSystemInfo::GetOSLocaleLanguage(b), lumenutil::UTIL_OK);
        EXPECT_EQ(a + "/" + b, std::string(l.lang) + "/" + l.locale);
    }
}

// Adapters: MAC lists, wireless ones, the physical ones with ExtCustomized.ini
// (and its override file) naming characteristics that do not count as virtual.
TEST_F(UtilTableTest, AdaptersAndVirtualCharacteristics) {
    fake_.exePath = Path("agent");
    fake_.adapters = {
        {"eth0", {"192.0.2.1"}, "", {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}, {2, 0x1a, 0x2b, 3, 4, 1}, true, false},
        {"wlan0", {"192.0.2.2"}, "", {0x10, 0x20, 0x30, 0x40, 0x50, 0x60}, {0, 0, 0, 0, 0, 0}, true, true},
        {"tun0", {"192.0.2.3"}, "", {}, {}, true, false},
        {"br0", {"192.0.2.4"}, "", {2, 0, 0, 0, 0, 9}, {}, true, false},
        {"eth1", {"0.0.0.0"}, "", {0, 0, 0, 0, 0, 7}, {}, false, false},
    };
    fake_.adapterCharacteristics = {{"eth0", 0x84}, {"wlan0", 0x84}, {"br0", 0x1}, {"tun0", 0x9}, {"eth1", 0x84}};
    std::list<std::string> macs, wireless, active, physical;
    EXPECT_TRUE(LumenSystemInfo::GetAllMacAddr(macs));
    EXPECT_EQ(macs, (std::list<std::string>{"00-1A-2B-3C-4D-5E", "10-20-30-40-50-60", "02-00-00-00-00-09",
                                            "00-00-00-00-00-07"}));
    EXPECT_TRUE(LumenSystemInfo::GetAllWirelessMacAddr(wireless));
    EXPECT_EQ(wireless, std::list<std::string>{"10-20-30-40-50-60"});
    EXPECT_TRUE(LumenSystemInfo::IsWirelessMACAddress("10:20:30:40:50:60") && LumenSystemInfo::IsWirelessAdapter("wlan0"));
    EXPECT_FALSE(LumenSystemInfo::IsWirelessMACAddress("00-1A-2B-3C-4D-5E") || LumenSystemInfo::IsWirelessAdapter("eth0"));
    EXPECT_TRUE(LumenSystemInfo::GetActiveIntf(active));
    EXPECT_EQ(active, (std::list<std::string>{"eth0", "wlan0", "tun0", "br0"}));

    std::list<DWORD> listed;
    EXPECT_EQ(LumenSystemInfo::GetVirtualAdapterCharacteristicsFromIniFile(listed), 1) << "no ini file";
    EXPECT_TRUE(LumenSystemInfo::IsVirtualAdapter("br0") && LumenSystemInfo::IsVirtualAdapter("tun0"));
    EXPECT_FALSE(LumenSystemInfo::IsVirtualAdapter("unknown0") || LumenSystemInfo::IsWirelessAdapter("unknown0"));
    Write(Path("ExtCustomized.ini"), "[VirtualAdapter]\nAdapterNumber=7\nVirtualAdapter_1=7\nVirtualAdapter_2=x\nVirtualAdapter_4= 0X5\nVirtualAdapter_5=0xFa\nVirtualAdapter_6=0xFFFFFFFF\nVirtualAdapter_7=00000000007\n");
    Write(Path("ExtCustomized_cust.ini"), "[VirtualAdapter]\nVirtualAdapter_3=0x9\n");
    EXPECT_EQ(LumenSystemInfo::GetVirtualAdapterCharacteristicsFromIniFile(listed), 0);
    EXPECT_EQ(listed, (std::list<DWORD>{7, 9, 5, 250, 0xFFFFFFFFu}));
    EXPECT_FALSE(LumenSystemInfo::IsVirtualAdapter("tun0")) << "its number is listed";
    EXPECT_TRUE(LumenSystemInfo::GetActivePhyIntf(physical));
    EXPECT_EQ(physical, (std::list<std::string>{"eth0", "wlan0", "tun0"}));

    // The burned-in address, else the current one where the system tells none (or all zeros).
    std::string mac, wlan, tun = "none", conn;
    EXPECT_TRUE(LumenSystemInfo::GetPhyMacAddress("eth0", mac) && LumenSystemInfo::GetPhyMacAddress("wlan0", wlan));
    EXPECT_FALSE(LumenSystemInfo::GetPhyMacAddress("tun0", tun) || LumenSystemInfo::GetPhyMacAddress("unknown0", tun));
    EXPECT_TRUE(LumenSystemInfo::GetCurrConnRealMac(conn));
    EXPECT_EQ(mac + " " + wlan + " " + tun + " " + conn, "02-1A-2B-03-04-01 10-20-30-40-50-60 none 02-1A-2B-03-04-01");
    fake_.adapters.erase(fake_.adapters.begin(), fake_.adapters.begin() + 2);  // tun0, left physical, has no address
    EXPECT_FALSE(LumenSystemInfo::GetCurrConnRealMac(conn));
    fake_.adapters.assign(257, AdapterInfo{"eth0", {"192.0.2.10"}, "", {}, {}, true});
    active.clear();
    EXPECT_TRUE(LumenSystemInfo::GetActiveIntf(active) && active.size() == 256u) << "the table lists 256 adapters";

    // A module path without a folder is all file name.
    std::string file, folder = "stale";
    fake_.exePath = "agent";
    EXPECT_EQ(LumenSystemInfo::GetCurrentModuleFileName(nullptr, file, folder), lumenutil::UTIL_OK);
    EXPECT_EQ(file + "|" + folder, "agent|");
    fake_.adapterError = kErrorNotSupported;
    EXPECT_FALSE(LumenSystemInfo::GetAllMacAddr(macs));
}

}  // namespace
}  // namespace outlinkwatch
