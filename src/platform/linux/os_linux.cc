// The Linux backend: real services where Linux has a counterpart, stand-ins
// where it has none.
#include <limits.h>
#include <netdb.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/ini_reader.h"
#include "platform/kobjects.h"
#include "platform/linux/net_linux.h"
#include "platform/linux/registry_files.h"
#include "platform/os.h"
#include "platform/thread_timer_host.h"

namespace outlinkwatch {
namespace {

bool ReadFileCapped(const std::string& path, size_t cap, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in || text == nullptr) return false;
    text->assign(cap, '\0');
    in.read(&(*text)[0], static_cast<std::streamsize>(cap));
    text->resize(static_cast<size_t>(in.gcount()));
    return !in.bad();
}

// The canonical (fully qualified) name the resolver gives for a host name.
std::string CanonicalHostName(const char* host) {
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    struct addrinfo* res = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &res) != 0 || res == nullptr) return std::string();
    std::string name = res->ai_canonname != nullptr ? res->ai_canonname : "";
    freeaddrinfo(res);
    return name;
}

class LinuxOs : public Os {
public:
    LinuxOs()
        : routes_([this](Handle h) { return objects_.SetEvent(h); }),
          registry_(std::string(), [this](const std::string& line) { DebugOutput(line.c_str()); }) {}

    std::string ComputerDnsName() override {
        // The fully qualified name: the resolver's canonical name of this host.
        char host[256] = {0};
        if (gethostname(host, sizeof(host) - 1) != 0) return std::string();
        std::string fqdn = CanonicalHostName(host);
        if (fqdn.empty()) fqdn = host;
        if (fqdn.size() > 255) fqdn.resize(255);
        return fqdn;
    }

    bool ComputerNetbiosName(std::string* name) override {
        struct utsname u;
        if (uname(&u) != 0) return false;
        // NetBIOS names are upper case and at most 15 characters.
        std::string n(u.nodename, strnlen(u.nodename, sizeof(u.nodename)));
        const size_t dot = n.find('.');
        if (dot != std::string::npos) n.resize(dot);
        if (n.size() > 15) n.resize(15);
        for (char& c : n) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        *name = n;
        return !n.empty();
    }

    void DebugOutput(const char* text) override {
        // The debugger channel: a file named by the environment, else nowhere.
        const char* path = std::getenv("OUTLINKWATCH_DEBUG_LOG");
        if (path == nullptr || *path == '\0' || text == nullptr) return;
        if (FILE* f = std::fopen(path, "a")) {
            std::fputs(text, f);
            std::fclose(f);
        }
    }

    std::string ExecutablePath() override {
        char path[PATH_MAX] = {0};
        const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
        if (n <= 0) return std::string();
        std::string result(path, static_cast<size_t>(n));
        // The Windows buffer holds 260 bytes with its NUL.
        if (result.size() > 259) return std::string();
        return result;
    }

    char PathSeparator() override { return '/'; }

    bool FileExists(const std::string& path) override {
        struct stat st;
        return stat(path.c_str(), &st) == 0;
    }

    bool ReadFileText(const std::string& path, size_t cap, std::string* text) override {
        return ReadFileCapped(path, cap, text);
    }

    std::string ReadProfileString(const char* section, const char* key, const char* defaultValue,
                                  const std::string& path, uint32_t size) override {
        std::string text;
        ReadFileCapped(path, kMaxIniFileBytes, &text);
        return IniProfileString(text, section, key, defaultValue, size);
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

    Handle CreateEventObject(const char* name, bool manualReset, bool initialState) override {
        return objects_.CreateEvent(name, manualReset, initialState);
    }
    bool SetEventObject(Handle event) override { return objects_.SetEvent(event); }
    bool ResetEventObject(Handle event) override { return objects_.ResetEvent(event); }
    Handle CreateMutexObject(bool initiallyOwned) override { return objects_.CreateMutex(initiallyOwned); }
    bool ReleaseMutexObject(Handle mutex) override { return objects_.ReleaseMutex(mutex); }
    uint32_t WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) override {
        return objects_.WaitAny(handles, count, timeoutMs);
    }
    bool CloseObject(Handle object) override { return objects_.Close(object); }
    Handle StartThread(ThreadFunction fn, void* arg) override { return objects_.StartThread(fn, arg); }
    void SleepMs(uint32_t ms) override { objects_.Sleep(ms); }

    bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) override {
        return linuxnet::ResolveHostIPv4(host, addrs);
    }
    uint32_t GetAdapters(std::vector<AdapterInfo>* out) override { return linuxnet::GetAdapters(out); }
    bool NotifyRouteChange(Handle event) override { return routes_.Arm(event); }
    void CancelRouteChange(Handle event) override { routes_.Cancel(event); }

    std::unique_ptr<TimerHost> CreateTimerHost() override { return std::make_unique<ThreadTimerHost>(); }

    // --- registry
    uint32_t OpenRegistryKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override {
        return registry_.Open(parent, subkey, access, key);
    }
    uint32_t CreateRegistryKey(HKEY parent, const std::string& subkey, uint32_t access, HKEY* key) override {
        return registry_.Create(parent, subkey, access, key);
    }
    uint32_t QueryRegistryValue(HKEY key, const std::string& name, uint32_t* type, uint8_t* data,
                                uint32_t* size) override {
        return registry_.Query(key, name, type, data, size);
    }
    uint32_t SetRegistryValue(HKEY key, const std::string& name, uint32_t type, const uint8_t* data,
                              uint32_t size) override {
        return registry_.Set(key, name, type, data, size);
    }
    uint32_t DeleteRegistryValue(HKEY key, const std::string& name) override { return registry_.DeleteValue(key, name); }
    uint32_t DeleteRegistryKey(HKEY parent, const std::string& subkey, uint32_t viewFlag) override {
        return registry_.DeleteKey(parent, subkey, viewFlag);
    }
    uint32_t RegistryKeyWriteDate(HKEY key, LocalDate* date) override { return registry_.WriteDate(key, date); }
    uint32_t CloseRegistryKey(HKEY key) override { return registry_.Close(key); }

private:
    KernelObjects objects_;
    linuxnet::RouteWatcher routes_;
    // --- registry
    FileRegistry registry_;
};

}  // namespace

Os* NewDefaultOs() { return new LinuxOs(); }

}  // namespace outlinkwatch
