// The file utilities and the system-information table of the utility
// library, on files the tests make and on facts set in the fake.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_os.h"
#include "fakes/temp_dir.h"
#include "lumenutil/file_util.h"
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
    void TearDown() override { SetOsForTesting(previous_); }
    std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }

    TempDir dir_;
    FakeOs fake_;
    Os* previous_ = nullptr;
};

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

// The guards release a real handle, never null or the invalid marker, and
// leave their variable null.
TEST_F(UtilTableTest, GuardsReleaseOnlyRealHandles) {
    const Handle event = fake_.Kernel()->CreateEventObject(nullptr, true, false);
    int module = 0;
    for (Handle h : {event, lumenutil::InvalidHandleValue(), Handle{}}) {
        HANDLE held = h;
        HMODULE lib = h == event ? reinterpret_cast<HMODULE>(&module) : reinterpret_cast<HMODULE>(h);
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
    std::string name, sp;
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
        {"eth0", {"192.0.2.1"}, "", {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}, {0, 0x1a, 0x2b, 0, 0, 1}, true, false},
        {"wlan0", {"192.0.2.2"}, "", {0x10, 0x20, 0x30, 0x40, 0x50, 0x60}, {}, true, true},
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
    Write(Path("ExtCustomized.ini"), "[VirtualAdapter]\nAdapterNumber=4\nVirtualAdapter_1=7\nVirtualAdapter_2=x\nVirtualAdapter_4= 0X5\n");
    Write(Path("ExtCustomized_cust.ini"), "[VirtualAdapter]\nVirtualAdapter_3=0x9\n");
    EXPECT_EQ(LumenSystemInfo::GetVirtualAdapterCharacteristicsFromIniFile(listed), 0);
    EXPECT_EQ(listed, (std::list<DWORD>{7, 9, 5}));
    EXPECT_FALSE(LumenSystemInfo::IsVirtualAdapter("tun0")) << "its number is listed";
    EXPECT_TRUE(LumenSystemInfo::GetActivePhyIntf(physical));
    EXPECT_EQ(physical, (std::list<std::string>{"eth0", "wlan0", "tun0"}));

    // The burned-in address, else the current one where the system does not tell.
    std::string mac, wlan, tun = "none", conn;
    EXPECT_TRUE(LumenSystemInfo::GetPhyMacAddress("eth0", mac) && LumenSystemInfo::GetPhyMacAddress("wlan0", wlan));
    EXPECT_FALSE(LumenSystemInfo::GetPhyMacAddress("tun0", tun) || LumenSystemInfo::GetPhyMacAddress("unknown0", tun));
    EXPECT_TRUE(LumenSystemInfo::GetCurrConnRealMac(conn));
    EXPECT_EQ(mac + " " + wlan + " " + tun + " " + conn, "00-1A-2B-00-00-01 10-20-30-40-50-60 none 00-1A-2B-00-00-01");

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
