// outlinkwatch: the reference agent host. It loads the policy plug-in the
// way the agent does (by path, through the three plain-named entry points),
// hands it a policy read from a file, runs it until told to stop and takes
// it down again. Only the public boundary headers are used: the host is
// built as if it were the separately shipped agent.
#include <dlfcn.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "bounded_file.h"
#include "host_agent.h"
#include "lang_file.h"
#include "outlinkwatch/plugin.h"
#include "policy_file.h"

#ifndef OW_HOST_VERSION
#  define OW_HOST_VERSION "0.0.0"
#endif
#ifndef OW_DEFAULT_PLUGIN
#  define OW_DEFAULT_PLUGIN "libOutlinkWatch.so"
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;    // bad command line or input files; nothing was started
constexpr int kExitRefused = 3;  // the plug-in did not start the policy
constexpr uint32_t kDefaultLanguage = 1;
// A run longer than this is a typo, not a plan.
constexpr double kMaxDurationSeconds = 100.0 * 24 * 3600;

struct Options {
    std::string plugin = OW_DEFAULT_PLUGIN;
    std::string policy;  // empty: the built-in demonstration policy
    std::string duration;
    std::string log;
    std::string events;
    std::string lang;
    std::string language;
    std::string commAddress;
    std::string debugLog;
    bool hasPolicy = false, hasDuration = false, hasLog = false, hasEvents = false, hasLang = false,
         hasLanguage = false, hasComm = false, hasDebugLog = false;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "outlinkwatch: %s\n", owhost::OneLine(message, 2048).c_str());
    return kExitUsage;
}

// Decimal seconds, optionally with a fraction: "5", "0.5".
bool ParseSeconds(const std::string& text, double* seconds) {
    size_t digits = 0, dots = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.' && dots == 0) {
            ++dots;
        } else {
            return false;
        }
    }
    if (digits == 0 || text.size() > 32 || text.front() == '.' || text.back() == '.') return false;
    const double v = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(v) || v > kMaxDurationSeconds) return false;
    *seconds = v;
    return true;
}

std::string DirectoryOfExecutable() {
    char path[PATH_MAX] = {0};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return ".";
    std::string exe(path, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
}

std::string Field(const char* text) {
    if (text == nullptr) return "(none)";
    return owhost::OneLine(std::string(text, strnlen(text, 1024)), 1024);
}

// Returns the exit code when the program should end now, nothing to go on.
std::optional<int> ParseCommandLine(int argc, char** argv, Options* o) {
    CLI::App app{"Runs the OutlinkWatch policy plug-in the way the endpoint agent does.", "outlinkwatch"};
    app.set_version_flag("--version", std::string("outlinkwatch ") + OW_HOST_VERSION);
    app.add_option("--plugin", o->plugin, "the policy plug-in library")
        ->type_name("PATH")
        ->default_str(OW_DEFAULT_PLUGIN);
    CLI::Option* policy = app.add_option("--policy", o->policy, "policy file (XML); default: built-in demo policy")
                                 ->type_name("FILE");
    CLI::Option* duration =
        app.add_option("--duration", o->duration, "stop after SECONDS; default: run until SIGINT or SIGTERM")
            ->type_name("SECONDS");
    CLI::Option* log = app.add_option("--log", o->log, "append the policy's log lines to FILE instead of stderr")->type_name("FILE");
    CLI::Option* events = app.add_option("--events", o->events, "append the notifications (JSON lines) to FILE instead of stdout")
        ->type_name("FILE");
    CLI::Option* lang = app.add_option("--lang", o->lang, "language texts (ini); default: lang/en.ini beside the host")
                             ->type_name("FILE");
    CLI::Option* language = app.add_option("--language", o->language, "language id passed to SetLanguage")->type_name("ID");
    CLI::Option* comm =
        app.add_option("--comm-address", o->commAddress, "answer the Communication component with this server IP")
            ->type_name("IP");
    CLI::Option* debugLog =
        app.add_option("--debug-log", o->debugLog, "file for the plug-in's debugger-output lines")->type_name("FILE");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return kExitOk;
    } catch (const CLI::CallForAllHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return kExitOk;
    } catch (const CLI::CallForVersion& e) {
        std::printf("%s\n", e.what());
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        return Fail(what.substr(0, what.find('\n')));
    }
    o->hasPolicy = policy->count() > 0;
    o->hasDuration = duration->count() > 0;
    o->hasLog = log->count() > 0;
    o->hasEvents = events->count() > 0;
    o->hasLang = lang->count() > 0;
    o->hasLanguage = language->count() > 0;
    o->hasComm = comm->count() > 0;
    o->hasDebugLog = debugLog->count() > 0;
    return std::nullopt;
}

// SIGINT and SIGTERM are blocked in every thread and taken by the main
// thread with sigtimedwait. Blocking happens before the plug-in is loaded,
// so the threads it starts inherit the mask and a stop request can never
// interrupt one of their system calls.
sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Waits for a stop signal or the end of the duration; the reason as text.
std::string WaitForStop(bool bounded, double seconds) {
    const sigset_t set = StopSignals();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int signo = -1;
        if (bounded) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero()) return "duration elapsed";
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            struct timespec ts;
            ts.tv_sec = static_cast<time_t>(ns / 1000000000);
            ts.tv_nsec = static_cast<long>(ns % 1000000000);
            signo = sigtimedwait(&set, nullptr, &ts);
        } else {
            signo = sigwaitinfo(&set, nullptr);
        }
        if (signo == SIGINT) return "SIGINT";
        if (signo == SIGTERM) return "SIGTERM";
        // EAGAIN (time is up) and EINTR both go round and re-check the clock.
    }
}

struct Library {
    void* handle = nullptr;
    ~Library() {
        if (handle != nullptr) ::dlclose(handle);
    }
    void Close() {
        if (handle == nullptr) return;
        if (::dlclose(handle) != 0) {
            const char* why = ::dlerror();
            std::fprintf(stderr, "outlinkwatch: warning: dlclose: %s\n", owhost::OneLine(why ? why : "?").c_str());
        }
        handle = nullptr;
    }
};

template <typename Fn>
Fn Resolve(void* handle, const char* name) {
    ::dlerror();
    return reinterpret_cast<Fn>(::dlsym(handle, name));
}

int Run(const Options& o) {
    // --- everything that can be wrong with the input, before anything runs
    double seconds = 0;
    if (o.hasDuration && !ParseSeconds(o.duration, &seconds)) {
        return Fail("--duration: \"" + o.duration + "\" is not a number of seconds (0 to " +
                    std::to_string(static_cast<long>(kMaxDurationSeconds)) + ")");
    }
    owhost::PolicyDocument policy;
    std::string error;
    if (o.hasPolicy) {
        if (!owhost::LoadPolicyFile(o.policy, &policy, &error)) return Fail(error);
    } else if (!owhost::ParsePolicyText(owhost::DemoPolicyText(), &policy, &error)) {
        return Fail("built-in policy: " + error);
    }
    uint32_t language = policy.language.value_or(kDefaultLanguage);
    if (o.hasLanguage && !owhost::ParseUint32(o.language, &language)) {
        return Fail("--language: \"" + o.language + "\" is not a language id (0 to 4294967295)");
    }
    if (o.hasComm) {
        unsigned char buf[sizeof(struct in6_addr)];
        if (inet_pton(AF_INET, o.commAddress.c_str(), buf) != 1 &&
            inet_pton(AF_INET6, o.commAddress.c_str(), buf) != 1) {
            return Fail("--comm-address: \"" + o.commAddress + "\" is not an IP address");
        }
    }
    owhost::LangTable lang;
    const std::string langPath = o.hasLang ? o.lang : DirectoryOfExecutable() + "/lang/en.ini";
    if (!lang.Load(langPath, &error)) {
        if (o.hasLang) return Fail(error);
        // The host still works without texts; the policy just gets empty ones.
        std::fprintf(stderr, "outlinkwatch: warning: %s; language texts will be empty\n",
                     owhost::OneLine(error).c_str());
    }

    owhost::LineSink out(stdout);
    owhost::LineSink err(stderr);
    std::unique_ptr<owhost::LineSink> logFile, eventsFile;
    if (o.hasLog && !(logFile = owhost::LineSink::OpenAppend(o.log, &error))) return Fail("--log: " + error);
    if (o.hasEvents && !(eventsFile = owhost::LineSink::OpenAppend(o.events, &error))) {
        return Fail("--events: " + error);
    }
    if (o.hasDebugLog) {
        // The plug-in appends to the file by name; find out now if it can.
        std::unique_ptr<owhost::LineSink> probe = owhost::LineSink::OpenAppend(o.debugLog, &error);
        if (!probe) return Fail("--debug-log: " + error);
        // Still single-threaded: nothing reads the environment concurrently.
        ::setenv("OUTLINKWATCH_DEBUG_LOG", o.debugLog.c_str(), 1);
    }

    const sigset_t stopSignals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A reader that goes away must not kill the host mid-shutdown.
    ::signal(SIGPIPE, SIG_IGN);

    // A bare file name would make dlopen search the library path instead of
    // loading the file the user named.
    const std::string pluginPath = o.plugin.find('/') == std::string::npos ? "./" + o.plugin : o.plugin;
    Library lib;
    lib.handle = ::dlopen(pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib.handle == nullptr) {
        const char* why = ::dlerror();
        return Fail("cannot load plug-in: " + std::string(why != nullptr ? why : pluginPath));
    }
    const auto getInterfaceList = Resolve<PFN_GetInterfaceList>(lib.handle, "GetInterfaceList");
    const auto createObject = Resolve<PFN_CreateObject>(lib.handle, "CreateObject");
    const auto querySupported = Resolve<PFN_QuerySupportedCommand>(lib.handle, "QuerySupportedCommand");
    for (const auto& [fn, name] : {std::pair<bool, const char*>{getInterfaceList != nullptr, "GetInterfaceList"},
                                   {createObject != nullptr, "CreateObject"},
                                   {querySupported != nullptr, "QuerySupportedCommand"}}) {
        if (!fn) return Fail("plug-in " + pluginPath + " does not export " + name);
    }
    ComponentInfo* info = nullptr;
    if (getInterfaceList(&info) != 1 || info == nullptr) {
        return Fail("plug-in " + pluginPath + " gave no component record");
    }

    // --- start
    out.Write("interface: " + Field(info->pszInterfaceName));
    out.Write("version: " + Field(info->pszInterfaceVersion));
    out.Write("reserved: " + Field(info->pszReserved));
    out.Write("class id: " + Field(info->pszClassId));
    out.Write("description: " + Field(info->pszDescription));
    out.Write("author: " + Field(info->pszAuthor));
    out.Write("build date: " + Field(info->pszBuildDate));
    out.Write("policy: " + (o.hasPolicy ? owhost::OneLine(o.policy, 1024) : std::string("built-in demo")));

    std::unique_ptr<owhost::HostCommunication> comm;
    if (o.hasComm) comm = std::make_unique<owhost::HostCommunication>(o.commAddress);
    owhost::AgentOutputs outputs;
    outputs.log = logFile ? logFile.get() : &err;
    outputs.events = eventsFile ? eventsFile.get() : &out;
    outputs.prompts = &err;
    owhost::HostAgent agent(outputs, &lang, comm.get());
    IUnknown* agentUnknown = static_cast<IAgent*>(&agent);

    ICommonControl* control = nullptr;
    InterfaceEntry entry{0, 0, agentUnknown, 0};
    IPolicy* object = createObject("IPolicy", &control, &entry);
    if (object == nullptr) {
        std::fprintf(stderr, "outlinkwatch: CreateObject(\"IPolicy\") returned no object\n");
        return kExitRefused;
    }
    int exitCode = kExitOk;
    if (control == nullptr) {
        std::fprintf(stderr, "outlinkwatch: CreateObject(\"IPolicy\") returned no control interface\n");
        exitCode = kExitRefused;
    } else {
        object->SetAgent(agentUnknown);
        object->SetPolicyParams(policy.policyParams);
        object->SetCommParams(policy.commParams);
        control->SetLanguage(language);
        const int init = control->Initialize(owhost::kPolicyType);
        out.Write("Initialize: " + std::to_string(init));
        if (init != 200) {
            exitCode = kExitRefused;
        } else {
            const int exec = object->Exec(0);
            out.Write("Exec: " + std::to_string(exec));
            if (exec != 0) {
                exitCode = kExitRefused;
            } else {
                out.Write("running");
                out.Write("stop: " + WaitForStop(o.hasDuration, seconds));
                // A second stop request while the policy shuts down ends the
                // host at once, as a user who presses Ctrl-C twice expects.
                pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
            }
        }
        out.Write("done: " + std::to_string(control->done("")));
    }

    const ULONG left = object->Release();
    if (left != 0) {
        // The policy's threads may still run code of the library and call the
        // agent: leave without unmapping the one or destroying the other.
        std::fprintf(stderr, "outlinkwatch: the policy still holds %lu references after the last Release\n",
                     static_cast<unsigned long>(left));
        std::fflush(nullptr);
        std::_Exit(kExitRefused);
    }
    out.Write("released");
    lib.Close();
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const std::optional<int> code = ParseCommandLine(argc, argv, &options)) return *code;
    return Run(options);
}
