#include "demo/proxy_demo.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

extern char** environ;

namespace owhost {
namespace {

// The image name the policy looks for; on Linux the first argument's name
// is enough, so any small program can carry it.
constexpr const char* kUiImage = "AGENTUI";
constexpr const char* kUiProgram = "/bin/cat";
constexpr const char* kProfile = ".mozilla/firefox/demo.default-esr";

// Writes a file through a new one and a rename, so a reader sees the old
// text or the new one, never a part.
bool WriteWhole(const std::string& path, const std::string& text, std::string* error) {
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            *error = "proxy demo: cannot write " + temp;
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        *error = "proxy demo: cannot rename " + temp + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

std::string UnixUserSid(uint32_t uid) { return "S-1-22-1-" + std::to_string(uid); }

std::string DemoRegistryText(const std::string& sid, bool on, uint16_t port) {
    const std::string proxy = std::string(kDemoProxyText) + ":" + std::to_string(port);
    return "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\" + sid +
           "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\r\n\"ProxyEnable\"=dword:0000000" +
           (on ? "1" : "0") + "\r\n\"ProxyServer\"=\"http=" + proxy + ";https=" + proxy + "\"\r\n";
}

std::string DemoPrefsText(bool on, uint16_t port) {
    return std::string("// Mozilla User Preferences\n\n") + "user_pref(\"network.proxy.http\", \"" + kDemoProxyText +
           "\");\n" + "user_pref(\"network.proxy.http_port\", " + std::to_string(port) + ");\n" +
           "user_pref(\"network.proxy.type\", " + (on ? "1" : "0") + ");\n";
}

bool ProxyDemo::WriteSettings(bool on, std::string* error) {
    return WriteWhole(dir_ + "/registry/HKEY_USERS.reg", DemoRegistryText(sid_, on, port_), error) &&
           WriteWhole(dir_ + "/home/" + kProfile + "/prefs.js", DemoPrefsText(on, port_), error);
}

bool ProxyDemo::Prepare(uint16_t proxyPort, std::string* error) {
    port_ = proxyPort;
    sid_ = UnixUserSid(static_cast<uint32_t>(::getuid()));
    char pattern[] = "/tmp/outlinkwatch-demo-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        *error = std::string("proxy demo: cannot make a temporary directory: ") + std::strerror(errno);
        return false;
    }
    dir_ = pattern;
    std::error_code ec;
    std::filesystem::create_directories(dir_ + "/registry", ec);
    if (!ec) std::filesystem::create_directories(dir_ + "/home/" + kProfile, ec);
    if (ec) {
        *error = "proxy demo: " + ec.message();
        return false;
    }
    if (!WriteSettings(true, error)) return false;
    ::setenv("OUTLINKWATCH_REGISTRY_DIR", (dir_ + "/registry").c_str(), 1);
    ::setenv("HOME", (dir_ + "/home").c_str(), 1);

    // The stand-in reads its standard input until the host closes the other end.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("proxy demo: pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(kUiImage), nullptr};
    const int rc = posix_spawn(&ui_, kUiProgram, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    uiPipe_ = fds[1];
    if (rc != 0) {
        ui_ = -1;
        *error = std::string("proxy demo: cannot start ") + kUiProgram + ": " + std::strerror(rc);
        return false;
    }
    // Until the program has its arguments in place /proc shows none, and
    // the policy's first look would miss the stand-in: wait, at most 2 s.
    for (int i = 0; i < 200; ++i) {
        std::string arg0;
        std::getline(std::ifstream("/proc/" + std::to_string(ui_) + "/cmdline"), arg0, '\0');
        if (arg0 == kUiImage) break;
        ::usleep(10000);
    }
    status_->Write("demo user: " + sid_ + ", home " + dir_ + "/home, registry " + dir_ + "/registry");
    status_->Write("demo user: Internet Explorer and Firefox use the proxy " + std::string(kDemoProxyText) + ":" +
                   std::to_string(port_) + "; \"" + kUiImage + "\" (pid " + std::to_string(ui_) +
                   ") stands for the agent's user interface");
    return true;
}

bool ProxyDemo::StartSwitchOff(std::string* error) {
    try {
        switcher_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(mu_);
            if (cv_.wait_for(lock, std::chrono::seconds(kSwitchOffSeconds), [this] { return stopping_; })) return;
            std::string why;
            if (WriteSettings(false, &why)) {
                status_->Write("demo user: switched both browser proxies off; the next proxy check (70 s after "
                               "the last) lifts the deny list");
            } else {
                status_->Write(why);
            }
        });
    } catch (const std::system_error& e) {
        *error = std::string("proxy demo: ") + e.what();
        return false;
    }
    return true;
}

void ProxyDemo::Stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
    }
    cv_.notify_all();
    if (switcher_.joinable()) switcher_.join();
    if (uiPipe_ >= 0) ::close(uiPipe_);
    uiPipe_ = -1;
    if (ui_ > 0) {
        ::kill(ui_, SIGTERM);
        int status = 0;
        while (::waitpid(ui_, &status, 0) < 0 && errno == EINTR) {
        }
        ui_ = -1;
    }
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        dir_.clear();
    }
}

}  // namespace owhost
