// What the host needs of the operating system it runs on. One
// implementation per platform (posix/, win32/), picked by the build; the
// rest of the host is the same everywhere.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace owhost {

class LineSink;

// The plug-in's file name, looked for beside the host.
extern const char* const kPluginFileName;
// Allowed proxy addresses of the built-in demo policy; empty where the demo
// has no proxy setting to judge.
extern const char* const kDemoAllowedProxy;

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
// a one-line reason.
FILE* OpenForAppend(const std::string& path, std::string* error);

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

// ---------------------------------------------------------------- the demo's desktop

// What the built-in demo puts around the policy to stand for the agent's
// desktop, where the platform has something to show: on Windows the
// agent's user-interface process and the Internet Explorer proxy setting
// of its user. Everything it changed is put back by Stop.
class DemoDesktop {
public:
    explicit DemoDesktop(LineSink* status);
    ~DemoDesktop();
    DemoDesktop(const DemoDesktop&) = delete;
    DemoDesktop& operator=(const DemoDesktop&) = delete;

    // Sets it up from the host's directory; what could not be done is said
    // in a status line and left out. Call while the host has one thread.
    void Start(const std::string& hostDir);
    void Stop();

    struct State;

private:
    LineSink* status_;
    std::unique_ptr<State> state_;
};

}  // namespace owhost
