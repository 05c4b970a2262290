// The Linux backend: real services where Linux has a counterpart, stand-ins
// where it has none.
#include <netdb.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <strings.h>

#include "emulation/kobjects.h"
#include "platform/linux/hidden_command.h"
#include "platform/linux/device_linux.h"
#include "platform/linux/net_linux.h"
#include "platform/linux/private_temp.h"
#include "platform/linux/users_linux.h"
#include "platform/linux/registry_files.h"
#include "platform/linux/sysinfo_linux.h"
#include "base/host_name.h"
#include "platform/os.h"
#include "emulation/pe_version.h"
#include "emulation/thread_timer_host.h"
#include "emulation/trace_files.h"
#include "emulation/wide_text.h"

namespace outlinkwatch {
namespace {

// The canonical (fully qualified) name the resolver gives for a host name.
std::string CanonicalHostName(const char* host) {
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    struct addrinfo* res = nullptr;
    // An answer holds at least one entry.
    if (getaddrinfo(host, nullptr, &hints, &res) != 0) return std::string();
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(res, &freeaddrinfo);
    return res->ai_canonname != nullptr ? res->ai_canonname : "";
}

// The SID form of a Unix user, as Samba maps it.
std::string UnixUserSid(uint32_t uid) { return "S-1-22-1-" + std::to_string(uid); }

// Windows's limit on an expanded environment string, which is also
// OutputDebugStringA's own limit on one line.
constexpr size_t kMaxExpandedEnvBytes = 32767;
constexpr size_t kMaxDebugLine = kMaxExpandedEnvBytes;

// The environment holds names as written; Windows compares them without case.
bool EnvValue(const std::string& upperName, std::string* value) {
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq == nullptr || static_cast<size_t>(eq - *e) != upperName.size()) continue;
        if (strncasecmp(*e, upperName.c_str(), upperName.size()) == 0) {
            *value = eq + 1;
            return true;
        }
    }
    return false;
}

// The kernel objects and the registry are the emulation's.
class LinuxOs : public SelfServedOs {
public:
    LinuxOs()
        : routes_([this](Handle h) { return objects_.SetEventObject(h); }),
          registry_(std::string(), [this](const std::string& line) { DebugOutput(line.c_str()); }) {}

    KernelObjects* Kernel() override { return &objects_; }
    RegistryService* Registry() override { return &registry_; }

    bool ComputerDnsName(std::string* name) override {
        // The fully qualified name: the resolver's canonical name of this host.
        // The node name is what gethostname answers, bounded by its field;
        // uname fails only for a bad buffer.
        struct utsname u;
        uname(&u);
        const std::string host(u.nodename, strnlen(u.nodename, sizeof(u.nodename)));
        std::string fqdn = CanonicalHostName(host.c_str());
        if (fqdn.empty()) fqdn = host;
        fqdn.resize(std::min<size_t>(fqdn.size(), 255));
        *name = fqdn;
        return true;
    }

    bool ComputerNetbiosName(std::string* name) override {
        struct utsname u;
        uname(&u);
        *name = NetbiosForm(std::string(u.nodename, strnlen(u.nodename, sizeof(u.nodename))));
        return !name->empty();
    }

    void DebugOutput(const char* text) override {
        // The debugger channel: a file named by the environment, else nowhere.
        const char* path = std::getenv("OUTLINKWATCH_DEBUG_LOG");
        if (path == nullptr || *path == '\0' || text == nullptr) return;
        // Opened anew for each line, so never through a link or into a FIFO
        // someone planted under that name since, nor into another user's file.
        const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (fd < 0) return;
        struct stat st;
        const bool statted = fstat(fd, &st) == 0;
        const bool ours = statted && S_ISREG(st.st_mode) && (st.st_uid == geteuid() || st.st_uid == 0);
        if (ours || (statted && S_ISCHR(st.st_mode))) {
            // Lost when it fails, as a line no debugger listens to is.
            [[maybe_unused]] const ssize_t written = write(fd, text, strnlen(text, kMaxDebugLine));
        }
        close(fd);
    }

    char PathSeparator() override { return '/'; }

    bool FileExists(const FileText& path) override {
        struct stat st;
        return stat(Utf8Of(path).c_str(), &st) == 0;
    }

    // Nothing here keeps others from writing: Linux has no sharing modes.
    bool ReadFileBytes(const std::string& path, size_t cap, std::string* bytes) override {
        return bytes != nullptr && linuxusers::ReadWholeFile(path, cap, bytes);
    }

    bool ReadProfileString(const FileText& section, const FileText& key, const FileText& defaultValue,
                           const FileText& path, uint32_t size, FileText* value) override {
        return Utf8ProfileString(this, section, key, defaultValue, path, size, value);
    }

    OsVersionFacts VersionFacts() override {
        // Linux answers as the newest NT workstation family, whose route
        // tracer output uses "\n" line ends.
        OsVersionFacts f;
        f.versionExOk = true;
        f.ntNumbersOk = true;
        f.platformId = 2;
        f.major = f.ntMajor = 10;
        f.minor = f.ntMinor = 0;
        f.productType = 1;
        f.is64bit = sizeof(void*) == 8;
        return f;
    }

    void SleepMs(uint32_t ms) override { objects_.Sleep(ms); }

    bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) override {
        return linuxnet::ResolveHostIPv4(host, addrs);
    }
    bool Adapters(AdapterDetail detail, std::vector<AdapterInfo>* out, uint32_t* error) override {
        return linuxsys::Adapters(detail, out, error);
    }
    bool NotifyRouteChange(Handle event) override { return routes_.Arm(event); }
    void CancelRouteChange(Handle event) override { routes_.Cancel(event); }

    std::unique_ptr<TimerHost> CreateTimerHost() override { return std::make_unique<ThreadTimerHost>(); }

    // --- probe
    uint64_t NetworkTimeoutUs(uint64_t us) override { return us; }
    uint64_t MonotonicMs() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    }

    // --- route tracer
    // The system's temporary directory is shared by every user; the trace's
    // output file, named by the current second, goes to a directory in it
    // that only this process's user can write (see private_temp.h). When
    // none can be had the answer is 0, as for a missing temporary directory.
    bool TempDirectory(uint32_t bufferSize, std::string* path) override {
        const char* dir = std::getenv("TMPDIR");
        return TempPathAnswer(privateTemp_.Get(dir != nullptr && *dir != '\0' ? dir : "/tmp/"), '/', bufferSize,
                              path);
    }

    uint32_t UnixTime32() override { return static_cast<uint32_t>(std::time(nullptr)); }

    // The tracert beside the host executable is found first.
    bool StartHiddenCommand(const std::string& commandLine) override {
        std::string dir;
        ModuleFileName(nullptr, &dir);
        // The folder of the absolute path, "/" for one at the root; nothing
        // when the path could not be read (npos keeps the empty name whole).
        dir = dir.substr(0, std::max<size_t>(dir.rfind('/'), 1));
        return hiddenCommands_.Start(commandLine, dir);
    }
    void EndHiddenCommands() override { hiddenCommands_.EndAll(); }

    bool FileSize(const std::string& path, uint64_t* size) override {
        struct stat st;
        if (size == nullptr || path.find('\0') != std::string::npos || stat(path.c_str(), &st) != 0) return false;
        *size = static_cast<uint64_t>(st.st_size);
        return true;
    }

    bool RemoveFile(const std::string& path) override {
        return path.find('\0') == std::string::npos && unlink(path.c_str()) == 0;
    }

    // --- reaction (local time, filter device)
    bool LocalTime(int64_t unixTime, std::tm* out) override {
        // localtime_r converts far more than Windows does; keep to the
        // Windows range so that both backends refuse the same times.
        if (out == nullptr || unixTime < 0 || unixTime > kMaxLocalTime) return false;
        const time_t t = static_cast<time_t>(unixTime);
        return localtime_r(&t, out) != nullptr;
    }
    bool OpenDevice(const std::string& path, uint32_t disposition, DeviceHandle* device) override {
        *device = devices_.Open(path, disposition);
        return static_cast<bool>(*device);
    }
    bool DeviceControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputLength,
                       uint32_t* returned) override {
        return devices_.Control(device, code, input, inputLength, returned) != 0;
    }
    bool CloseDevice(DeviceHandle device) override { return devices_.Close(device); }

    // --- users and profiles
    // A token is the process's real uid and gid; nothing here changes this
    // process's own identity. The process found stays the answer while it
    // runs and answers to the name, though another that does may come
    // earlier in /proc by then (see ProcessFinder).
    UserStatus OpenProcessTokenByImage(const std::string& imageName, Handle* token, uint32_t* sessionId) override {
        linuxusers::ProcessIds ids;
        const UserStatus status = processes_.Find(imageName, &ids);
        if (status != UserStatus::kOk) return status;
        const pid_t session = getsid(static_cast<pid_t>(ids.pid));
        if (session >= 0 && sessionId != nullptr) *sessionId = static_cast<uint32_t>(session);
        if (token != nullptr) *token = objects_.CreateToken(ids.uid, ids.gid);
        return status;
    }

    UserStatus TokenUserSid(Handle token, std::string* sidText) override {
        uint32_t uid = 0;
        if (sidText == nullptr || !objects_.TokenIds(token, &uid, nullptr)) return UserStatus::kFailed;
        *sidText = UnixUserSid(uid);
        return UserStatus::kOk;
    }

    // The users with a running process stand for the loaded user hives,
    // behind the two keys every system has. The user interface runs as the
    // interactive user, so that user is among them.
    bool UserKeyNames(std::vector<std::string>* names) override {
        std::vector<uint32_t> uids;
        if (names == nullptr || !linuxusers::RunningUserIds(&uids)) return false;
        *names = {".DEFAULT", "S-1-5-18"};
        for (uint32_t uid : uids) {
            if (names->size() >= kMaxUserKeys) break;
            names->push_back(UnixUserSid(uid));
        }
        return true;
    }

    bool ImpersonateToken(Handle token) override { return objects_.TokenIds(token, nullptr, nullptr); }
    void RevertImpersonation() override {}

    bool ImpersonatedUserName(Handle token, std::string* name) override {
        uint32_t uid = 0;
        std::string n;
        if (name == nullptr || !objects_.TokenIds(token, &uid, nullptr) || !linuxusers::PasswdEntry(uid, &n, nullptr) ||
            n.empty() || n.size() > 255) {
            return false;
        }
        *name = n;
        return true;
    }

    // %USERPROFILE%, %APPDATA% and %HOME% are the user's home directory
    // (programs keep their settings in dot folders there), %USERNAME% the
    // user's name; the rest comes from this process's environment. For
    // this process's own user the home is $HOME when it names a directory
    // by its full path, as the user's own programs take it; for any other
    // user the password database's.
    bool ExpandForUser(Handle token, const std::string& text, std::string* out) override {
        uint32_t uid = 0;
        std::string name, home;
        if (out == nullptr || !objects_.TokenIds(token, &uid, nullptr) || !linuxusers::PasswdEntry(uid, &name, &home)) {
            return false;
        }
        if (uid == static_cast<uint32_t>(getuid())) {
            const char* own = std::getenv("HOME");
            if (own != nullptr && own[0] == '/') home = own;
        }
        return ExpandPercentVariables(
            text, linuxusers::kMaxExpandedBytes,
            [&](const std::string& var, std::string* value) {
                if (var == "USERPROFILE" || var == "APPDATA" || var == "HOME") {
                    *value = home;
                } else if (var == "USERNAME") {
                    *value = name;
                } else {
                    return EnvValue(var, value);
                }
                return true;
            },
            out);
    }

    bool ExpandEnvironment(const std::string& text, std::string* out) override {
        return out != nullptr && ExpandPercentVariables(text, kMaxExpandedEnvBytes, EnvValue, out);
    }

    UserFileRead ReadUserFile(const std::string& ownerSid, const std::string& path,
                              const std::function<bool(std::string_view)>& piece) override {
        return linuxusers::ReadUserFile(ownerSid, path, piece);
    }
    bool ListUserDirectory(const std::string& ownerSid, const std::string& dir, size_t cap,
                           std::vector<DirEntry>* entries) override {
        return entries != nullptr && linuxusers::ListUserDirectory(ownerSid, dir, cap, entries);
    }
    bool UnloadModule(Handle module) override { return module != nullptr && dlclose(module) == 0; }

    // --- utility library: files, system information, adapters
    bool FileAttributes(const std::string& path, FileFacts* facts) override {
        return linuxsys::FileAttributes(path, facts);
    }
    bool FileAccessTime(const std::string& path, CalendarTime* local) override {
        return linuxsys::FileAccessTime(path, local);
    }
    // ELF files carry no version resource; Windows files keep theirs here too.
    bool FileVersionItem(const std::string& path, const std::string& item, std::string* value) override {
        uint64_t size = 0;
        const int fd = value != nullptr ? linuxusers::OpenRegularFile(path, &size) : -1;
        if (fd < 0) return false;
        // A regular file's pread is whole unless the file ends first.
        const ReadAtFn read = [fd, size](uint64_t offset, size_t length, std::string* out) {
            if (offset > size || length > size - offset) return false;
            out->assign(length, '\0');
            return pread(fd, &(*out)[0], length, static_cast<off_t>(offset)) == static_cast<ssize_t>(length);
        };
        const bool found = PeVersionItem(read, item, value);
        close(fd);
        return found;
    }
    SystemFacts SystemInfoFacts() override { return linuxsys::SystemInfoFacts(); }
    bool ModuleFileName(Handle module, std::string* path) override { return linuxsys::ModuleFileName(module, path); }
    bool ProcessIsAdministrator() override { return linuxsys::ProcessIsAdministrator(); }
    bool AccountNameOfSid(const std::string& sidText, std::string* name) override {
        return linuxsys::AccountNameOfSid(sidText, name);
    }
    FirmwareFacts Firmware() override { return linuxsys::Firmware(); }
    bool AdapterCharacteristics(const std::string& adapter, uint32_t* characteristics) override {
        return linuxsys::AdapterCharacteristics(adapter, characteristics);
    }

private:
    EmulatedKernelObjects objects_;
    linuxnet::RouteWatcher routes_;
    linuxdev::DeviceTable devices_;
    linuxtmp::PrivateTempDir privateTemp_;
    linuxcmd::HiddenCommands hiddenCommands_;
    linuxusers::ProcessFinder processes_;  // its own lock: both monitor threads look up the UI process

    // --- registry
    FileRegistry registry_;
};

}  // namespace

Os* NewDefaultOs() { return new LinuxOs(); }

}  // namespace outlinkwatch
