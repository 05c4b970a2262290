// The Linux answers behind the system-information table: account names of
// SIDs, the administrators' groups, adapter names, DMI texts.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <time.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "fakes/open_descriptors.h"
#include "fakes/other_user.h"
#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"
#include "platform/linux/private_temp.h"
#include "platform/linux/sysinfo_linux.h"
#include "platform/os.h"

namespace outlinkwatch {
namespace {

TEST(SysinfoLinuxTest, AccountsGroupsAdaptersAndModules) {
    const std::pair<const char*, const char*> rows[] = {
        {"S-1-22-1-0", "root"}, {"S-1-5-18", "root"}, {"S-1-22-2-0", "root"}, {"S-1-22-1-65534", "nobody"},
        {"S-1-1-0", nullptr},   // Everyone: no such account here
        {"S-1-22-1-", nullptr}, {"S-1-22-1-0x", nullptr}, {"S-1-22-1-99999999999", nullptr},
        {"S-1-22-1-4294967290", nullptr}, {"S-1-22-2-4294967290", nullptr},  // no such user or group
        {"", nullptr},
    };
    for (const auto& r : rows) {
        std::string name = "unchanged";
        EXPECT_EQ(linuxsys::AccountNameOfSid(r.first, &name), r.second != nullptr) << r.first;
        EXPECT_EQ(name, r.second ? r.second : "unchanged") << r.first;
    }
    for (const char* g : {"sudo", "wheel"}) EXPECT_TRUE(linuxsys::IsAdministratorsGroup(g)) << g;
    for (const char* g : {"adm", "root", "staff", "Sudo"}) EXPECT_FALSE(linuxsys::IsAdministratorsGroup(g)) << g;
    uint32_t c = 0;
    for (const char* bad : {"lo/../..", "..", "", "no-such-if0"}) EXPECT_FALSE(linuxsys::AdapterCharacteristics(bad, &c));
    EXPECT_TRUE(linuxsys::AdapterCharacteristics("lo", &c) && c == 1) << "virtual: no device behind it";
    static int inThisProgram;  // the main program's name is the one it was started by
    std::string path = "unchanged";
    EXPECT_FALSE(linuxsys::ModuleFileName(reinterpret_cast<Handle>(8), &path) || linuxsys::ModuleFileName(nullptr, nullptr));
    EXPECT_TRUE(linuxsys::ModuleFileName(&inThisProgram, &path) && path == program_invocation_name) << path;
    EXPECT_TRUE(Os::Default()->System()->UnloadModule(dlopen(nullptr, RTLD_NOW)));
    if (geteuid() != 0) return;
    const auto admin = [] { return linuxsys::ProcessIsAdministrator() ? 1 : 0; };
    const gid_t g = getgrnam("sudo") ? getgrnam("sudo")->gr_gid : getgrnam("wheel") ? getgrnam("wheel")->gr_gid : 65534;
    EXPECT_EQ(admin() * 1000 + AsOtherUser(admin) * 100 + AsOtherUser(admin, g) * 10 + AsOtherUser(admin, 65534, &g),
              g != 65534 ? 1011 : 1000) << "root; nobody; nobody in that group as its own; as a supplementary one";
}

// uname's machine as a Windows architecture number, and the locale (as the
// C library picks it: LC_ALL, the category, LANG) as the Chinese UI language
// and OEM code pages.
TEST(SysinfoLinuxTest, ArchitectureAndLocale) {
    const std::pair<const char*, uint16_t> machines[] = {
        {"x86_64", kArchAMD64}, {"ia64", kArchIA64}, {"aarch64", kArchArm64}, {"arm64", kArchArm64},
        {"armv7l", kArchArm}, {"i686", kArchX86}, {"i386", kArchX86}, {"i68", kArchUnknown}, {"i6866", kArchUnknown},
        {"x686", kArchUnknown}, {"i6x6", kArchUnknown}, {"", kArchUnknown}};
    for (const auto& [machine, arch] : machines) EXPECT_EQ(linuxsys::ArchitectureOf(machine), arch) << machine;
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LANG"};
    const struct { const char* values[4]; uint32_t languageAndCodePage; } rows[] = {
        {{"", "zh_CN.UTF-8", "zh_TW.Big5", "C"}, 2052950}, {{"zh_SG", "en_US", "en_US", "C"}, 2052936},
        {{"en_US", "zh_CN", "zh_CN", "zh_CN"}, 0}, {{"", "", "", "zh_CN.GBK"}, 2052936},
        {{"", "", "zh_HK", ""}, 950}, {{"", "", "zh_MO", ""}, 950}, {{"", "", "", "zh"}, 0}};
    for (const auto& r : rows) {
        for (int i = 0; i < 4; ++i) setenv(names[i], r.values[i], 1);
        const SystemFacts f = linuxsys::SystemInfoFacts();
        EXPECT_EQ(f.uiLanguage * 1000u + f.oemCodePage, r.languageAndCodePage) << r.values[1] << " " << r.values[2];
    }
    for (const char* name : names) unsetenv(name);
    struct utsname u;
    ASSERT_EQ(uname(&u), 0);
    const SystemFacts f = linuxsys::SystemInfoFacts();
    const OsVersionFacts v = Os::Default()->System()->VersionFacts();  // as the newest NT workstation, of this width
    EXPECT_EQ(std::to_string(f.processorArchitecture) + " " + f.ownRelease + " " + std::to_string(v.platformId) + " " +
                  std::to_string(v.major * 10 + v.minor) + " " + std::to_string(v.productType * 10 + v.is64bit),
              std::to_string(linuxsys::ArchitectureOf(u.machine)) + " " + u.release + " 2 100 1" + "01"[sizeof(void*) / 8]);
}

// The debugger channel opens its file by name for every line: a link
// planted under that name since is not followed. The trace's directory is
// private whatever bits the umask takes.
TEST(SysinfoLinuxTest, DebugChannelAndTraceDirectoryAreOurOwn) {
    TempDir dir;
    const mode_t umasked = umask(0277);
    EXPECT_EQ(linuxtmp::PrivateTempDir().Get(dir.path() + "//"), dir.path() + "/outlinkwatch-" + std::to_string(geteuid()));
    umask(umasked);
    const std::string file = dir.path() + "/debug", link = dir.path() + "/link", victim = dir.path() + "/victim";
    std::ofstream(victim).flush();
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    std::unique_ptr<Os> os(NewDefaultOs());
    const ScopedEnv debugLog("OUTLINKWATCH_DEBUG_LOG", nullptr);  // set below
    const long fds = OpenDescriptors();  // what each call opens, it closes
    for (const std::string& path : {file, link}) {
        setenv("OUTLINKWATCH_DEBUG_LOG", path.c_str(), 1);
        os->System()->DebugOutput(std::string(40000, 'x').c_str());  // a line is cut where Windows cuts it
    }
    const auto text = [](const std::string& p) {
        return std::string(std::istreambuf_iterator<char>(std::ifstream(p).rdbuf()), {});
    };
    EXPECT_EQ(text(file) + "|" + text(victim), std::string(32767, 'x') + "|");
    if (geteuid() == 0) {  // another user's file is not written to, but by that user
        ASSERT_EQ(chown(victim.c_str(), 65534, 65534) | chmod(victim.c_str(), 0666) | chmod(dir.path().c_str(), 0755), 0);
        setenv("OUTLINKWATCH_DEBUG_LOG", victim.c_str(), 1);
        os->System()->DebugOutput("root\n");
        EXPECT_EQ(AsOtherUser([] { return std::unique_ptr<Os>(NewDefaultOs())->System()->DebugOutput("nobody\n"), 0; }), 0);
        EXPECT_EQ(text(victim), "nobody\n");
    }
    // A file's access time in local calendar time, here UTC; none before 1970.
    const std::optional<std::string> callerTz = getenv("TZ") ? std::optional<std::string>(getenv("TZ")) : std::nullopt;
    setenv("TZ", "UTC", 1), tzset();
    for (const auto& [atime, want] : {std::pair<timespec, std::string>{{1700000000, 987000000}, "2023 11 14 2 22:13:20.987"},
                                      {{0, 0}, "1970 1 1 4 0:0:0.0"}, {{-1, 0}, "none"}}) {
        const timespec times[2] = {atime, {0, UTIME_OMIT}};
        ASSERT_EQ(utimensat(AT_FDCWD, victim.c_str(), times, 0), 0);
        CalendarTime t;
        char got[64] = "none";
        if (linuxsys::FileAccessTime(victim, &t)) {
            std::snprintf(got, sizeof got, "%u %u %u %u %u:%u:%u.%u", t.year, t.month, t.day, t.dayOfWeek, t.hour,
                          t.minute, t.second, t.milliseconds);
        }
        EXPECT_EQ(got, want);
    }
    EXPECT_EQ(OpenDescriptors(), fds);
    (callerTz ? setenv("TZ", callerTz->c_str(), 1) : unsetenv("TZ")), tzset();
}

// The DNS name is the resolver's canonical name of the node name (at most
// 255 bytes); the NetBIOS name is the node name's; the system's name is
// read from the first 64 KiB of os-release. In a child with its own files.
TEST(SysinfoLinuxTest, NamesOfTheHostAndTheSystem) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a node name and files of its own";
    TempDir dir;
    const std::string hosts = dir.path() + "/hosts", fqdn = "ow-node." + std::string(250, 'n') + ".test";
    std::ofstream(hosts) << "192.0.2.7 " << fqdn << " ow-node\n";
    std::ofstream(dir.path() + "/os-release") << "NAME=early\n#" << std::string(65523, 'x') << "\nPRETTY_NAME=past 64 KiB\n";
    const pid_t pid = fork();
    if (pid == 0) {
        std::string dns, netbios;
        _exit(unshare(CLONE_NEWUTS | CLONE_NEWNS) || sethostname("ow-node", 7) ||
                      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
                      mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) ||
                      mount((dir.path() + "/os-release").c_str(), "/etc/os-release", nullptr, MS_BIND, nullptr) ? 2
              : Os::Default()->System()->ComputerDnsName(&dns) && Os::Default()->System()->ComputerNetbiosName(&netbios) &&
                      dns + "|" + netbios + "|" + linuxsys::SystemInfoFacts().ownName ==
                          fqdn.substr(0, 255) + "|OW-NODE|early" ? 0 : 1);
    }
    int status = -1;
    EXPECT_TRUE(waitpid(pid, &status, 0) == pid && status == 0) << status << " (256: other names; 512: no namespace)";
}

// The system's name in os-release text, and the DMI files' texts without
// the end of line.
TEST(SysinfoLinuxTest, OsReleaseAndDmiTexts) {
    TempDir dir;
    for (const char* f : {"sys_vendor", "product_name", "bios_vendor", "board_vendor"}) {
        std::ofstream(dir.path() + "/" + f) << f << " 1 \n";
    }
    std::ofstream(dir.path() + "/bios_version") << std::string(300, 'v');  // cut at 256 bytes
    const FirmwareFacts f = linuxsys::Firmware(dir.path());
    EXPECT_EQ(f.systemVendor + "|" + f.productName + "|" + f.biosVendor + "|" + f.biosVersion + "|" + f.boardVendor,
              "sys_vendor 1|product_name 1|bios_vendor 1|" + std::string(256, 'v') + "|board_vendor 1");
    const std::pair<const char*, const char*> names[] = {
        {"NAME=\"Debian\"\nPRETTY_NAME='Debian 12'\nID=debian\n", "Debian 12"}, {"NAME=Fedora\nPRETTY_NAME=\"\"", "Fedora"},
        {"PRETTY_NAME=\"a'\nNAME=\"\nNAMES=x", "\"a'"}, {"NAME=\"b\nPRETTY_NAME", "\"b"}, {"=x\nNAME=\"\"\n", ""},
    };
    for (const auto& n : names) EXPECT_EQ(linuxsys::OsReleaseNameOf(n.first), n.second) << n.first;
    EXPECT_EQ(linuxsys::TrimmedSysText(" Virtual Box \r\n \n") + "|" + linuxsys::TrimmedSysText("\n\r"), " Virtual Box|");
}

}  // namespace
}  // namespace outlinkwatch
