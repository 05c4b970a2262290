// What the host needs of the operating system it runs on. One
// implementation per platform (posix/, win32/), picked by the build, beside
// what is written once over the platform's own names
// (host_platform_common.cc, <platform>/platform_api.h); the rest of the
// host is the same everywhere. The demo's scaffolding lives in demo/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace owhost {

// The plug-in's file name, looked for beside the host.
extern const char* const kPluginFileName;

// Called first: whatever the platform needs before anything else runs
// (the socket library on Windows). False with a one-line reason.
bool StartPlatform(std::string* error);

// The directory the running executable lies in, wherever it was installed
// or copied to; empty if the system does not say.
std::string ExecutableDirectory();

// The path a --plugin value names: a bare file name means the current
// directory, never the loader's search path.
std::string PluginPathFromOption(const std::string& value);

// Sets a variable of the host's environment, inherited by the plug-in and
// by the programs started after it. Only while the host has one thread.
void SetEnvironment(const std::string& name, const std::string& value);

// Whether text is an IPv4 or IPv6 address.
bool IsIpAddress(const std::string& text);

// Opens a file for appending, not inherited by child processes; null with
// a one-line reason. A name that is a link (or other reparse point) is
// refused wherever it lies, so a file planted in a folder others may write
// cannot send the output elsewhere; so is anything but a file or a
// character device (a FIFO would hold the host up) and, on POSIX, a file
// of another user.
FILE* OpenForAppend(const std::string& path, std::string* error);

// What the handle of a file opened for appending tells, and the decision
// on it, the same on every platform: why it may not be written (null: it
// may). A link (on Windows any reparse point) is refused first.
struct AppendTarget {
    bool regular = false, charDevice = false, link = false, otherOwner = false;
};
const char* AppendTargetRefusal(const AppendTarget& target);

// ---------------------------------------------------------------- stop requests

// Makes stop requests (Ctrl-C, a termination request) something the main
// thread waits for instead of the default action. Called before the
// plug-in is loaded, so that its threads are never interrupted by one.
void PrepareForStopRequests();
// Waits for a stop request or, when bounded, the end of seconds; the
// reason as text ("SIGINT", "Ctrl-C", "duration elapsed").
std::string WaitForStopRequest(bool bounded, double seconds);
// From now on a further stop request ends the host at once, as a user who
// presses Ctrl-C twice expects while the policy shuts down.
void LetNextStopRequestEndHost();

// ---------------------------------------------------------------- the plug-in

// A dynamic library loaded by path.
class PluginLibrary {
public:
    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // False with the loader's reason.
    bool Open(const std::string& path, std::string* error);
    // The address of an exported function; null if there is none.
    void* Find(const char* name) const;
    // Unloads it; a failure is a one-line warning on stderr.
    void Close();

private:
    void* handle_ = nullptr;
};

}  // namespace owhost
