// AGENTUI.exe: a stand-in for the agent's user-interface process, which
// runs on the interactive user's desktop. The policy looks this process up
// by its image name to learn who the interactive user is; the stand-in
// only has to exist, so it does nothing but wait.
//
//   AGENTUI.exe [--parent PID] [--seconds N]
//
// It ends when the process PID ends (the host that started it), or after N
// seconds (default: one day), whichever comes first.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A decimal number of at most nine digits.
bool ParseNumber(const char* text, DWORD* value) {
    const size_t n = std::strlen(text);
    if (n == 0 || n > 9 || std::strspn(text, "0123456789") != n) return false;
    *value = static_cast<DWORD>(std::strtoul(text, nullptr, 10));
    return true;
}

int Usage() {
    std::fputs("usage: AGENTUI.exe [--parent PID] [--seconds N]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    DWORD parent = 0;
    DWORD seconds = 24 * 3600;
    for (int i = 1; i < argc; i += 2) {
        DWORD* target = std::strcmp(argv[i], "--parent") == 0    ? &parent
                        : std::strcmp(argv[i], "--seconds") == 0 ? &seconds
                                                                 : nullptr;
        if (target == nullptr || i + 1 >= argc || !ParseNumber(argv[i + 1], target)) return Usage();
    }
    const DWORD waitMs = seconds > 4000000 ? 4000000000u : seconds * 1000;
    HANDLE process = parent != 0 ? OpenProcess(SYNCHRONIZE, FALSE, parent) : nullptr;
    if (parent != 0 && process == nullptr) return 0;  // the parent is already gone
    if (process != nullptr) {
        WaitForSingleObject(process, waitMs);
        CloseHandle(process);
    } else {
        Sleep(waitMs);
    }
    return 0;
}
