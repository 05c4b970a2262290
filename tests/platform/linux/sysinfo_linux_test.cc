// The Linux answers behind the system-information table: account names of
// SIDs, the administrators' groups, adapter names, DMI texts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "fakes/temp_dir.h"
#include "platform/linux/sysinfo_linux.h"
#include "platform/os.h"

namespace outlinkwatch {
namespace {

TEST(SysinfoLinuxTest, AccountNamesOfSids) {
    const std::pair<const char*, const char*> rows[] = {
        {"S-1-22-1-0", "root"}, {"S-1-5-18", "root"}, {"S-1-22-2-0", "root"},
        {"S-1-1-0", nullptr},   // Everyone: no such account here
        {"S-1-22-1-", nullptr}, {"S-1-22-1-0x", nullptr}, {"S-1-22-1-99999999999", nullptr},
        {"S-1-22-1-4294967290", nullptr},  // no such user
        {"", nullptr},
    };
    for (const auto& r : rows) {
        std::string name = "unchanged";
        EXPECT_EQ(linuxsys::AccountNameOfSid(r.first, &name), r.second != nullptr) << r.first;
        EXPECT_EQ(name, r.second ? r.second : "unchanged") << r.first;
    }
}

TEST(SysinfoLinuxTest, AdministratorsGroupsAndAdapterNames) {
    for (const char* g : {"sudo", "wheel"}) EXPECT_TRUE(linuxsys::IsAdministratorsGroup(g)) << g;
    for (const char* g : {"adm", "root", "staff", "Sudo"}) EXPECT_FALSE(linuxsys::IsAdministratorsGroup(g)) << g;
    uint32_t c = 0;
    for (const char* bad : {"lo/../..", "..", "", "no-such-if0"}) EXPECT_FALSE(linuxsys::AdapterCharacteristics(bad, &c));
}

TEST(SysinfoLinuxTest, FirmwareTextsFromDmiFiles) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    for (const auto& f : {std::make_pair("sys_vendor", "innotek GmbH\n"), std::make_pair("product_name", "VirtualBox\n"),
                          std::make_pair("bios_vendor", "innotek GmbH\n")}) {
        std::ofstream(dir.path() + "/" + f.first) << f.second;
    }
    const FirmwareFacts f = linuxsys::Firmware(dir.path());
    EXPECT_EQ(f.systemVendor + "|" + f.productName + "|" + f.biosVersion, "innotek GmbH|VirtualBox|");
}

// The debugger channel opens its file by name for every line: a link
// planted under that name since is not followed.
TEST(SysinfoLinuxTest, DebugChannelWritesItsFileButNotThroughALink) {
    TempDir dir;
    const std::string file = dir.path() + "/debug", link = dir.path() + "/link", victim = dir.path() + "/victim";
    std::ofstream(victim).flush();
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    std::unique_ptr<Os> os(NewDefaultOs());
    for (const std::string& path : {file, link}) {
        setenv("OUTLINKWATCH_DEBUG_LOG", path.c_str(), 1);
        os->System()->DebugOutput("line\n");
    }
    unsetenv("OUTLINKWATCH_DEBUG_LOG");
    const auto text = [](const std::string& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(text(file) + "|" + text(victim), "line\n|");
}

// The system's name in os-release text, and the end trimmed off DMI texts.
TEST(SysinfoLinuxTest, OsReleaseAndDmiTexts) {
    const std::pair<const char*, const char*> names[] = {
        {"NAME=\"Debian\"\nPRETTY_NAME='Debian 12'\nID=debian\n", "Debian 12"}, {"NAME=Fedora\nPRETTY_NAME=\"\"", "Fedora"},
        {"PRETTY_NAME=\"a'\nNAME=\"\nNAMES=x", "\"a'"}, {"NAME=\"b\nPRETTY_NAME", "\"b"}, {"=x\nNAME=\"\"\n", ""},
    };
    for (const auto& n : names) EXPECT_EQ(linuxsys::OsReleaseNameOf(n.first), n.second) << n.first;
    EXPECT_EQ(linuxsys::TrimmedSysText(" Virtual Box \r\n \n") + "|" + linuxsys::TrimmedSysText("\n\r"), " Virtual Box|");
}

}  // namespace
}  // namespace outlinkwatch
