// The Windows headers as the Win32 backend wants them, in one place: the
// target version is Windows 7, the rarely used parts of windows.h are left
// out, and min/max stay usable as the standard ones. winsock2.h must come
// before windows.h, and iphlpapi.h after both.
#pragma once

#ifndef _WIN32_WINNT
#  define _WIN32_WINNT 0x0601
#endif
#ifndef WINVER
#  define WINVER _WIN32_WINNT
#endif
#ifndef WIN32_LEAN_AND_MEAN
#  define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#  define NOMINMAX
#endif

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <winver.h>
// clang-format on

#include <memory>
#include <string>

#include "platform/os.h"

namespace outlinkwatch {
namespace win32 {

// The hidden-window timer host (timer_host_win32.cc).
std::unique_ptr<TimerHost> NewTimerHost();

// What NotifyRouteChange does about an event's route-change request.
// Issuing a request resets its event, so a request that has completed is
// replaced only once the route thread has consumed (reset) the event it
// set: until then the change it reported is still to be seen.
enum class RouteRequestStep { kIssue, kKeep };
RouteRequestStep NextRouteRequest(bool requestOut, bool completed, bool eventSet);

// The route trace's temporary directory (temp_dir_win32.cc): GetTempPath2A's
// where kernel32 has it, else "<GetTempPathA>OutlinkWatch\\" made and kept
// writable by the system, the administrators and this account alone, or a
// fresh unpredictable "OutlinkWatch-<hex>\\" beside it when that name is
// someone else's. Checked on the open directory at every call; false when
// no such directory can be had or its name does not fit bufferSize bytes.
constexpr char kPrivateTempName[] = "OutlinkWatch";
bool PrivateTempDirectory(uint32_t bufferSize, std::string* path);

// Whether a handle opened on a user's file (or folder, wantDirectory),
// without following a reparse point, may be read: a disk object of the
// kind asked for that is no reparse point (a link or junction opened as
// itself), from GetFileType and the attributes of GetFileInformationByHandle.
bool AcceptUserHandle(DWORD fileType, DWORD attributes, bool wantDirectory);

// How long closing a thread handle waits for the thread to end first.
constexpr DWORD kThreadCloseWaitMs = 5000;

// GetProcAddress hands back a generic function pointer; going through
// void(*)(void) keeps the cast to the real signature free of warnings.
template <typename Fn>
Fn ProcAs(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(proc));
}

// Holds a slim reader/writer lock exclusively for a scope.
class SrwGuard {
public:
    explicit SrwGuard(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
    ~SrwGuard() { ReleaseSRWLockExclusive(lock_); }
    SrwGuard(const SrwGuard&) = delete;
    SrwGuard& operator=(const SrwGuard&) = delete;

private:
    SRWLOCK* lock_;
};

}  // namespace win32
}  // namespace outlinkwatch
