#include "platform/linux/sysinfo_linux.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <ifaddrs.h>
#include <limits.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>

#include "base/address_text.h"
#include "platform/linux/users_linux.h"

namespace outlinkwatch {
namespace linuxsys {
namespace {

constexpr size_t kMaxOsReleaseBytes = 64 * 1024;
constexpr size_t kMaxDmiBytes = 256;
constexpr size_t kGroupBuffer = 16384;
constexpr uint32_t kNcfVirtual = 0x1, kNcfPhysical = 0x4;
constexpr size_t kMaxModulePath = 259;

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string ReadSmall(const std::string& path, size_t cap) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string();
    std::string text(cap, '\0');
    in.read(&text[0], static_cast<std::streamsize>(cap));
    text.resize(static_cast<size_t>(in.gcount()));
    return TrimmedSysText(std::move(text));
}

// The locale category's value as the C library picks it.
std::string LocaleOf(const char* category) {
    for (const char* name : {"LC_ALL", category, "LANG"}) {
        const char* v = std::getenv(name);
        if (v != nullptr && *v != '\0') return v;
    }
    return std::string();
}

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

// PRETTY_NAME of os-release, else NAME, unquoted.
std::string OsReleaseName() {
    std::string text;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        text = ReadSmall(path, kMaxOsReleaseBytes);
        if (!text.empty()) break;
    }
    return OsReleaseNameOf(text);
}

bool GroupName(gid_t gid, std::string* name) {
    struct group gr, *result = nullptr;
    std::unique_ptr<char[]> buf(new char[kGroupBuffer]);
    if (getgrgid_r(gid, &gr, buf.get(), kGroupBuffer, &result) != 0 || result == nullptr || gr.gr_name == nullptr) {
        return false;
    }
    *name = gr.gr_name;
    return true;
}

// A name that stays in /sys/class/net. Its length needs no check: no
// longer name than the kernel's 15 bytes is found there.
bool ValidInterfaceName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::vector<uint8_t> PermanentAddress(int sock, const std::string& name) {
    // The request's header, then room for the address it fills in.
    constexpr size_t kRoom = 32;
    alignas(ethtool_perm_addr) uint8_t req[sizeof(ethtool_perm_addr) + kRoom];
    std::memset(req, 0, sizeof req);
    ethtool_perm_addr head{};
    head.cmd = ETHTOOL_GPERMADDR;
    head.size = kRoom;
    std::memcpy(req, &head, sizeof head);
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::memcpy(ifr.ifr_name, name.data(), std::min(name.size(), sizeof ifr.ifr_name - 1));
    ifr.ifr_data = reinterpret_cast<char*>(req);
    if (sock < 0 || ioctl(sock, SIOCETHTOOL, &ifr) != 0) return {};
    std::memcpy(&head, req, sizeof head);
    if (head.size > kRoom) return {};
    const uint8_t* data = req + sizeof(ethtool_perm_addr);
    return std::vector<uint8_t>(data, data + head.size);
}

}  // namespace

uint16_t ArchitectureOf(const std::string& machine) {
    if (machine == "x86_64") return kArchAMD64;
    if (machine == "ia64") return kArchIA64;
    if (machine == "aarch64" || machine == "arm64") return kArchArm64;
    if (StartsWith(machine, "arm")) return kArchArm;
    if (machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0) return kArchX86;
    return kArchUnknown;
}

std::string TrimmedSysText(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string OsReleaseNameOf(const std::string& text) {
    std::string pretty, name;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        if (line.compare(0, eq, "PRETTY_NAME") == 0) pretty = value;
        else if (line.compare(0, eq, "NAME") == 0) name = value;
    }
    return !pretty.empty() ? pretty : name;
}

bool FileAttributes(const std::string& path, FileFacts* facts) {
    struct stat st;
    if (facts == nullptr || path.empty() || path.find('\0') != std::string::npos || stat(path.c_str(), &st) != 0) {
        return false;
    }
    facts->isDirectory = S_ISDIR(st.st_mode);
    // Like the Windows attribute, a property of the file, not of the caller's
    // rights (root may write anything): read-only when no one has a write bit.
    facts->readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    facts->size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    return true;
}

bool FileAccessTime(const std::string& path, CalendarTime* local) {
    if (local == nullptr || path.empty() || path.find('\0') != std::string::npos) return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    const bool statted = fstat(fd, &st) == 0;
    close(fd);
    if (!statted || st.st_atim.tv_sec < 0 || st.st_atim.tv_sec > kMaxLocalTime) return false;
    std::tm tm;
    const time_t t = st.st_atim.tv_sec;
    if (localtime_r(&t, &tm) == nullptr) return false;
    local->year = static_cast<uint16_t>(tm.tm_year + 1900);
    local->month = static_cast<uint16_t>(tm.tm_mon + 1);
    local->dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    local->day = static_cast<uint16_t>(tm.tm_mday);
    local->hour = static_cast<uint16_t>(tm.tm_hour);
    local->minute = static_cast<uint16_t>(tm.tm_min);
    local->second = static_cast<uint16_t>(std::min(tm.tm_sec, 59));  // a leap second as the one before
    local->milliseconds = static_cast<uint16_t>(st.st_atim.tv_nsec / 1000000);
    return true;
}

SystemFacts SystemInfoFacts() {
    SystemFacts f;
    f.nativeVersion = false;
    struct utsname u;
    if (uname(&u) == 0) {
        f.processorArchitecture = ArchitectureOf(std::string(u.machine, strnlen(u.machine, sizeof u.machine)));
        f.ownRelease.assign(u.release, strnlen(u.release, sizeof u.release));
        f.ownName.assign(u.sysname, strnlen(u.sysname, sizeof u.sysname));
    }
    const std::string release = OsReleaseName();
    if (!release.empty()) f.ownName = release;
    // The locale's language in the Windows numbers the decisions know:
    // simplified Chinese messages, and the two Chinese character sets.
    const std::string messages = LocaleOf("LC_MESSAGES");
    if (StartsWith(messages, "zh_CN") || StartsWith(messages, "zh_SG")) f.uiLanguage = 2052;
    const std::string ctype = LocaleOf("LC_CTYPE");
    if (StartsWith(ctype, "zh_CN") || StartsWith(ctype, "zh_SG")) f.oemCodePage = 936;
    else if (StartsWith(ctype, "zh_TW") || StartsWith(ctype, "zh_HK") || StartsWith(ctype, "zh_MO")) f.oemCodePage = 950;
    return f;
}

bool ModuleFileName(Handle module, std::string* path) {
    if (path == nullptr) return false;
    std::string result;
    if (module == nullptr) {
        char buf[PATH_MAX];  // the length is readlink's answer; no NUL is written
        result.assign(buf, static_cast<size_t>(std::max<ssize_t>(readlink("/proc/self/exe", buf, sizeof buf), 0)));
    } else {
        Dl_info info;
        if (dladdr(module, &info) == 0 || info.dli_fname == nullptr) return false;
        result = info.dli_fname;
    }
    if (result.empty() || result.size() > kMaxModulePath) return false;
    *path = result;
    return true;
}

bool IsAdministratorsGroup(const std::string& groupName) { return groupName == "sudo" || groupName == "wheel"; }

bool ProcessIsAdministrator() {
    if (geteuid() == 0) return true;
    // Sized by the first call, so no count of groups is too many.
    std::vector<gid_t> groups(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
    groups.resize(static_cast<size_t>(std::max(getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    groups.push_back(getegid());
    for (gid_t gid : groups) {
        std::string name;
        if (GroupName(gid, &name) && IsAdministratorsGroup(name)) return true;
    }
    return false;
}

// Unix users and groups carry the SIDs their Samba mapping gives them; the
// local system account is root. Everyone (S-1-1-0) has no account here.
bool AccountNameOfSid(const std::string& sidText, std::string* name) {
    if (name == nullptr) return false;
    uint32_t id = 0;
    if (sidText == "S-1-5-18") return linuxusers::PasswdEntry(0, name, nullptr);
    if (linuxusers::IdOfSid(sidText, "S-1-22-1-", &id)) return linuxusers::PasswdEntry(id, name, nullptr);
    if (linuxusers::IdOfSid(sidText, "S-1-22-2-", &id)) return GroupName(static_cast<gid_t>(id), name);
    return false;
}

FirmwareFacts Firmware(const std::string& dmiDir) {
    FirmwareFacts f;
    f.systemVendor = ReadSmall(dmiDir + "/sys_vendor", kMaxDmiBytes);
    f.productName = ReadSmall(dmiDir + "/product_name", kMaxDmiBytes);
    f.biosVendor = ReadSmall(dmiDir + "/bios_vendor", kMaxDmiBytes);
    f.biosVersion = ReadSmall(dmiDir + "/bios_version", kMaxDmiBytes);
    f.boardVendor = ReadSmall(dmiDir + "/board_vendor", kMaxDmiBytes);
    return f;
}

// An interface backed by a device is physical; the kernel's virtual ones
// (bridges, tunnels, veth, bonds) have none.
bool AdapterCharacteristics(const std::string& adapter, uint32_t* characteristics) {
    if (characteristics == nullptr || !ValidInterfaceName(adapter)) return false;
    const std::string dir = "/sys/class/net/" + adapter;
    if (!Exists(dir)) return false;
    *characteristics = Exists(dir + "/device") ? kNcfPhysical : kNcfVirtual;
    return true;
}

bool Adapters(AdapterDetail detail, std::vector<AdapterInfo>* out, uint32_t* error) {
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) return *error = kErrorNotSupported, false;
    std::vector<AdapterInfo> list;
    std::vector<bool> enabled;  // IFF_UP, beside list
    for (const ifaddrs* ifa = raw; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_name == nullptr || (ifa->ifa_flags & IFF_LOOPBACK) != 0) continue;
        std::string name(ifa->ifa_name, strnlen(ifa->ifa_name, IFNAMSIZ));
        const size_t colon = name.find(':');  // an address label, not an interface
        if (colon != std::string::npos) name.resize(colon);
        if (!ValidInterfaceName(name)) continue;
        auto it = std::find_if(list.begin(), list.end(), [&](const AdapterInfo& a) { return a.name == name; });
        if (it == list.end()) {
            list.emplace_back();
            enabled.push_back(false);
            it = list.end() - 1;
            it->name = it->description = name;
        }
        const size_t index = static_cast<size_t>(it - list.begin());
        if (ifa->ifa_flags & IFF_UP) enabled[index] = true;
        if ((ifa->ifa_flags & IFF_UP) && (ifa->ifa_flags & IFF_RUNNING)) it->up = true;
        if (ifa->ifa_addr == nullptr) continue;
        if (ifa->ifa_addr->sa_family == AF_INET) {
            sockaddr_in sin;
            std::memcpy(&sin, ifa->ifa_addr, sizeof sin);
            it->ipv4.push_back(AddressText(sin.sin_addr.s_addr));
        } else if (ifa->ifa_addr->sa_family == AF_PACKET) {
            sockaddr_ll ll;
            std::memcpy(&ll, ifa->ifa_addr, sizeof ll);
            const size_t len = std::min<size_t>(ll.sll_halen, sizeof ll.sll_addr);
            it->mac.assign(ll.sll_addr, ll.sll_addr + len);
        }
    }
    freeifaddrs(raw);
    const int sock = detail == AdapterDetail::kAll ? socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
    for (size_t i = 0; i < list.size(); ++i) {
        AdapterInfo& a = list[i];
        // Windows shows a disconnected adapter without its address.
        if (!enabled[i]) a.ipv4.clear();
        if (a.ipv4.empty()) a.ipv4.push_back("0.0.0.0");
        if (detail != AdapterDetail::kAll) continue;
        const std::string dir = "/sys/class/net/" + a.name;
        a.wireless = Exists(dir + "/wireless") || Exists(dir + "/phy80211");
        if (a.mac.size() == 6) a.permanentMac = PermanentAddress(sock, a.name);
    }
    if (sock >= 0) close(sock);
    *out = std::move(list);
    return true;
}

}  // namespace linuxsys
}  // namespace outlinkwatch
