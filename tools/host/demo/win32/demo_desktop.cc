// The demo's desktop on Windows (and Wine). The policy finds the
// interactive user through the agent's user-interface process and reads
// that user's Internet Explorer setting under HKEY_USERS. The demo starts a
// stand-in of that process (AGENTUI.exe, beside the host; it only waits) as
// the host's own user, points that user's setting at a loopback proxy of
// its own, which answers, and puts the setting back at the end.
#include "demo/demo_desktop.h"

#include "win32/platform_api.h"
#include <sddl.h>

#include <string>

#include "demo/outside_server.h"
#include "host_agent.h"

namespace owhost {

// A documentation address: whatever proxy the demo's user has switched on
// is not on the list, so the proxy check has a finding to report.
const char* const kDemoAllowedProxy = "192.0.2.8";

namespace {

constexpr const char* kUiImage = "AGENTUI.exe";
constexpr const char* kSettingsKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr const char* kProxyAddress = "127.0.0.2";  // 127.0.0.1 is never taken for a proxy
constexpr DWORD kUiStopWaitMs = 5000;

// A registry value as it was before the demo: absent, or its type and bytes.
struct SavedValue {
    bool present = false;
    DWORD type = 0;
    std::string bytes;
};

SavedValue Save(HKEY key, const char* name) {
    SavedValue saved;
    char buf[4096];
    DWORD size = sizeof buf;
    if (RegQueryValueExA(key, name, nullptr, &saved.type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS) {
        saved.present = true;
        saved.bytes.assign(buf, size);
    }
    return saved;
}

void Restore(HKEY key, const char* name, const SavedValue& saved) {
    if (!saved.present) {
        RegDeleteValueA(key, name);
        return;
    }
    RegSetValueExA(key, name, 0, saved.type, reinterpret_cast<const BYTE*>(saved.bytes.data()),
                   static_cast<DWORD>(saved.bytes.size()));
}

// The text form of the host's user SID, the name of its key under
// HKEY_USERS; empty with a reason on failure.
std::string OwnUserSid(std::string* error) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        *error = "OpenProcessToken: " + SystemError(GetLastError());
        return std::string();
    }
    alignas(TOKEN_USER) char buf[256];
    DWORD size = 0;
    std::string sid;
    if (GetTokenInformation(token, TokenUser, buf, sizeof buf, &size)) {
        char* text = nullptr;
        if (ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buf)->User.Sid, &text)) {
            sid = text;
            LocalFree(text);
        }
    }
    if (sid.empty()) *error = "the user SID of the host's token: " + SystemError(GetLastError());
    CloseHandle(token);
    return sid;
}

}  // namespace

struct DemoDesktop::State {
    OutsideServer proxy;
    HKEY settings = nullptr;
    SavedValue enable, server;
    PROCESS_INFORMATION ui{};
};

DemoDesktop::DemoDesktop(LineSink* status) : status_(status) {}
DemoDesktop::~DemoDesktop() { Stop(); }

void DemoDesktop::Start(const std::string& hostDir) {
    state_.reset(new State);
    State& s = *state_;
    std::string error;

    // The interactive user's stand-in process.
    const std::string image = hostDir + "\\" + kUiImage;
    std::string commandLine = "\"" + image + "\" --parent " + std::to_string(GetCurrentProcessId());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    SetLastError(ERROR_PATH_NOT_FOUND);  // what an unknown host directory amounts to
    if (!hostDir.empty() && CreateProcessA(image.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                           nullptr, nullptr, &startup, &s.ui)) {
        status_->Write(std::string("demo: user-interface process ") + kUiImage + " started (pid " +
                       std::to_string(s.ui.dwProcessId) + "): the interactive user is the host's user");
    } else {
        s.ui = PROCESS_INFORMATION{};
        status_->Write(std::string("demo: cannot start ") + kUiImage + " beside the host (" +
                       SystemError(GetLastError()) + "); the interactive user cannot be found");
    }

    // A proxy that answers, and the user's setting pointing at it.
    if (!s.proxy.Listen(&error, kProxyAddress) || !s.proxy.Start(&error)) {
        status_->Write("demo: no proxy server (" + error + "); the proxy setting is left alone");
        return;
    }
    const std::string sid = OwnUserSid(&error);
    if (sid.empty()) {
        status_->Write("demo: " + error + "; the proxy setting is left alone");
        return;
    }
    const std::string keyPath = sid + kSettingsKey;
    const LONG rc = RegCreateKeyExA(HKEY_USERS, keyPath.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                                    nullptr, &s.settings, nullptr);
    if (rc != ERROR_SUCCESS) {
        s.settings = nullptr;
        status_->Write("demo: cannot open HKEY_USERS\\" + keyPath + " (" + SystemError(static_cast<DWORD>(rc)) +
                       "); the proxy setting is left alone");
        return;
    }
    s.enable = Save(s.settings, "ProxyEnable");
    s.server = Save(s.settings, "ProxyServer");
    const DWORD on = 1;
    const std::string server = std::string(kProxyAddress) + ":" + std::to_string(s.proxy.port());
    RegSetValueExA(s.settings, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
    RegSetValueExA(s.settings, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>(server.size() + 1));
    status_->Write("demo: Internet Explorer proxy of HKEY_USERS\\" + sid + ": " + server +
                   " switched on (allowed: " + kDemoAllowedProxy + "; put back when the host ends)");
}

void DemoDesktop::Stop() {
    if (!state_) return;
    State& s = *state_;
    if (s.ui.hProcess != nullptr) {
        TerminateProcess(s.ui.hProcess, 0);
        WaitForSingleObject(s.ui.hProcess, kUiStopWaitMs);
        CloseHandle(s.ui.hProcess);
        CloseHandle(s.ui.hThread);
    }
    if (s.settings != nullptr) {
        Restore(s.settings, "ProxyEnable", s.enable);
        Restore(s.settings, "ProxyServer", s.server);
        RegCloseKey(s.settings);
    }
    s.proxy.Stop();
    state_.reset();
}

}  // namespace owhost
