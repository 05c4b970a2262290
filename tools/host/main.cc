// outlinkwatch: the reference agent host. It loads the policy plug-in the
// way the agent does (by path, through the three plain-named entry points),
// hands it a policy read from a file, runs it until told to stop and takes
// it down again. Only the public boundary headers are used: the host is
// built as if it were the separately shipped agent.
//
// stdout carries the notification JSON lines and nothing else, so the host
// can feed a JSON reader directly; everything meant for a person (status,
// log lines, prompts, warnings) goes to stderr.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "bounded_file.h"
#include "demo/demo_desktop.h"
#include "demo/nfw_child.h"
#include "demo/outside_server.h"
#include "demo/proxy_demo.h"
#include "host_agent.h"
#include "host_platform.h"
#include "lang_file.h"
#include "outlinkwatch/plugin.h"
#include "policy_file.h"

#ifndef OW_HOST_VERSION
#  define OW_HOST_VERSION "0.0.0"
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;    // bad command line, input file or plug-in; nothing was started
constexpr int kExitRefused = 3;  // the plug-in did not start the policy
constexpr int kExitLeaked = 4;   // the policy held on to references after the last Release

constexpr const char* kExitCodesHelp =
    "Exit codes:\n"
    "  0  the policy ran and was taken down cleanly\n"
    "  2  bad option, input file or plug-in; nothing was started\n"
    "  3  the policy refused to start (no object, Initialize not 200 or Exec not 0)\n"
    "  4  the policy still held references after the last Release (wins over 3)\n"
    "\n"
    "stdout carries only the notification JSON lines; everything else goes to stderr.";

// The filter device's stand-in, beside the host.
constexpr const char* kNfwFileName = "outlinkwatch-nfw";
constexpr uint32_t kDefaultLanguage = 1;
// A run longer than this is a typo, not a plan.
constexpr double kMaxDurationSeconds = 100.0 * 24 * 3600;

// An option value and whether it was given at all (an empty value is a value).
struct Given {
    std::string value;
    bool given = false;
};

struct Options {
    Given plugin, policy, duration, log, events, lang, language, commAddress, debugLog, demo;
    bool nfw = false;
};

// Everything checked and opened before the plug-in is loaded.
struct Inputs {
    double seconds = 0;  // meaningful only with --duration
    owhost::PolicyDocument policy;
    uint32_t language = kDefaultLanguage;
    owhost::LangTable lang;
    std::unique_ptr<owhost::LineSink> logFile, eventsFile;
    std::string pluginPath;
    // The built-in demo's loopback "outside" server (listening, not serving yet).
    std::unique_ptr<owhost::OutsideServer> outside;
    // The proxy demo's loopback proxy (the same kind of server) and its user.
    std::unique_ptr<owhost::OutsideServer> proxy;
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

std::string Field(const char* text) {
    if (text == nullptr) return "(none)";
    return owhost::OneLine(std::string(text, strnlen(text, 1024)), 1024);
}

// ---------------------------------------------------------------- command line

void AddOption(CLI::App& app, const char* name, Given* target, const char* type, const char* help) {
    app.add_option(name, target->value, help)->type_name(type)->each([target](const std::string&) {
        target->given = true;
    });
}

// Returns the exit code when the program should end now, nothing to go on.
std::optional<int> ParseCommandLine(int argc, char** argv, Options* o) {
    CLI::App app{"Runs the OutlinkWatch policy plug-in the way the endpoint agent does.", "outlinkwatch"};
    app.footer(kExitCodesHelp);
    app.set_version_flag("--version", std::string("outlinkwatch ") + OW_HOST_VERSION);
    const std::string pluginHelp =
        std::string("the plug-in library; default: ") + owhost::kPluginFileName + " beside the host";
    AddOption(app, "--plugin", &o->plugin, "PATH", pluginHelp.c_str());
    AddOption(app, "--policy", &o->policy, "FILE", "policy file (XML); default: built-in demo policy");
    AddOption(app, "--demo", &o->demo, "NAME",
              "built-in demo: conn (default; connection mode) or proxy (the browser proxy check)");
    AddOption(app, "--duration", &o->duration, "SECONDS", "stop after SECONDS; default: run until SIGINT or SIGTERM");
    AddOption(app, "--log", &o->log, "FILE", "append the policy's log lines to FILE instead of stderr");
    AddOption(app, "--events", &o->events, "FILE", "append the notifications (JSON lines) to FILE instead of stdout");
    AddOption(app, "--lang", &o->lang, "FILE", "language texts (ini); default: lang/en.ini beside the host");
    AddOption(app, "--language", &o->language, "ID", "language id passed to SetLanguage");
    AddOption(app, "--comm-address", &o->commAddress, "IP", "answer the Communication component with this server IP");
    AddOption(app, "--debug-log", &o->debugLog, "FILE", "file for the plug-in's debugger-output lines");
    app.add_flag("--nfw", o->nfw, "serve the filter device with outlinkwatch-nfw --dry-run (beside the host)");
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
        const std::string what = e.what();
        return Fail(what.substr(0, what.find('\n')));
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- input checks
// Each returns an exit code when the input is bad, nothing when it is fine.

std::optional<int> CheckDuration(const Options& o, Inputs* in) {
    if (!o.duration.given || ParseSeconds(o.duration.value, &in->seconds)) return std::nullopt;
    return Fail("--duration: \"" + o.duration.value + "\" is not a number of seconds (0 to " +
                std::to_string(static_cast<long>(kMaxDurationSeconds)) + ")");
}

std::optional<int> LoadPolicy(const Options& o, Inputs* in) {
    std::string error;
    if (o.demo.given && (o.policy.given || (o.demo.value != "conn" && o.demo.value != "proxy"))) {
        return Fail(o.policy.given ? "--demo and --policy exclude each other"
                                   : "--demo: \"" + o.demo.value + "\" is not a demo (conn, proxy)");
    }
    if (o.policy.given) {
        if (!owhost::LoadPolicyFile(o.policy.value, &in->policy, &error)) return Fail(error);
    } else if (o.demo.value == "proxy") {
        in->proxy = std::make_unique<owhost::OutsideServer>();
        if (!in->proxy->Listen(&error, owhost::kDemoProxyText)) return Fail(error);
        if (!owhost::ParsePolicyText(owhost::DemoProxyPolicyText(), &in->policy, &error)) {
            return Fail("built-in policy: " + error);
        }
    } else {
        in->outside = std::make_unique<owhost::OutsideServer>();
        if (!in->outside->Listen(&error)) return Fail(error);
        const std::string demo = owhost::DemoPolicyText(in->outside->port(), owhost::kDemoAllowedProxy);
        if (!owhost::ParsePolicyText(demo, &in->policy, &error)) {
            return Fail("built-in policy: " + error);
        }
    }
    in->language = in->policy.language.value_or(kDefaultLanguage);
    if (o.language.given && !owhost::ParseUint32(o.language.value, &in->language)) {
        return Fail("--language: \"" + o.language.value + "\" is not a language id (0 to 4294967295)");
    }
    return std::nullopt;
}

std::optional<int> CheckCommAddress(const Options& o) {
    if (!o.commAddress.given || owhost::IsIpAddress(o.commAddress.value)) return std::nullopt;
    return Fail("--comm-address: \"" + o.commAddress.value + "\" is not an IP address");
}

std::optional<int> LoadLanguageTexts(const Options& o, const std::string& hostDir, Inputs* in) {
    std::string error;
    const std::string path = o.lang.given ? o.lang.value : hostDir + "/lang/en.ini";
    if (in->lang.Load(path, &error)) return std::nullopt;
    if (o.lang.given) return Fail(error);
    // The host still works without texts; the policy just gets empty ones.
    std::fprintf(stderr, "outlinkwatch: warning: %s; language texts will be empty\n", owhost::OneLine(error).c_str());
    return std::nullopt;
}

std::optional<int> OpenOutputs(const Options& o, Inputs* in) {
    std::string error;
    if (o.log.given && !(in->logFile = owhost::LineSink::OpenAppend(o.log.value, &error))) {
        return Fail("--log: " + error);
    }
    if (o.events.given && !(in->eventsFile = owhost::LineSink::OpenAppend(o.events.value, &error))) {
        return Fail("--events: " + error);
    }
    if (o.debugLog.given) {
        // The plug-in appends to the file by name; find out now if it can.
        if (!owhost::LineSink::OpenAppend(o.debugLog.value, &error)) return Fail("--debug-log: " + error);
        // Still single-threaded: nothing reads the environment concurrently.
        owhost::SetEnvironment("OUTLINKWATCH_DEBUG_LOG", o.debugLog.value);
    }
    return std::nullopt;
}

// --plugin if given, else the plug-in beside the executable: the two are
// built, installed and copied together.
std::optional<int> ChoosePlugin(const Options& o, const std::string& hostDir, Inputs* in) {
    if (o.plugin.given) {
        in->pluginPath = owhost::PluginPathFromOption(o.plugin.value);
        return std::nullopt;
    }
    if (hostDir.empty()) return Fail("cannot tell where the host lies; name the plug-in with --plugin");
    in->pluginPath = hostDir + "/" + owhost::kPluginFileName;
    return std::nullopt;
}

std::optional<int> CheckInputs(const Options& o, Inputs* in) {
    const std::string hostDir = owhost::ExecutableDirectory();
    if (auto code = CheckDuration(o, in)) return code;
    if (auto code = LoadPolicy(o, in)) return code;
    if (auto code = CheckCommAddress(o)) return code;
    if (auto code = LoadLanguageTexts(o, hostDir, in)) return code;
    if (auto code = OpenOutputs(o, in)) return code;
    return ChoosePlugin(o, hostDir, in);
}

// ---------------------------------------------------------------- the plug-in

struct Plugin {
    owhost::PluginLibrary library;
    PFN_GetInterfaceList getInterfaceList = nullptr;
    PFN_CreateObject createObject = nullptr;
    PFN_QuerySupportedCommand querySupported = nullptr;
};

template <typename Fn>
Fn Resolve(const owhost::PluginLibrary& library, const char* name) {
    return reinterpret_cast<Fn>(library.Find(name));
}

std::optional<int> LoadPlugin(const std::string& path, Plugin* p, ComponentInfo** info) {
    std::string why;
    if (!p->library.Open(path, &why)) return Fail("cannot load plug-in: " + why);
    p->getInterfaceList = Resolve<PFN_GetInterfaceList>(p->library, "GetInterfaceList");
    p->createObject = Resolve<PFN_CreateObject>(p->library, "CreateObject");
    p->querySupported = Resolve<PFN_QuerySupportedCommand>(p->library, "QuerySupportedCommand");
    for (const auto& [found, name] : {std::pair<bool, const char*>{p->getInterfaceList != nullptr, "GetInterfaceList"},
                                      {p->createObject != nullptr, "CreateObject"},
                                      {p->querySupported != nullptr, "QuerySupportedCommand"}}) {
        if (!found) return Fail("plug-in " + path + " does not export " + name);
    }
    if (p->getInterfaceList(info) != 1 || *info == nullptr) {
        return Fail("plug-in " + path + " gave no component record");
    }
    return std::nullopt;
}

void PrintComponent(owhost::LineSink& status, const ComponentInfo& info) {
    status.Write("interface: " + Field(info.pszInterfaceName));
    status.Write("version: " + Field(info.pszInterfaceVersion));
    status.Write("reserved: " + Field(info.pszReserved));
    status.Write("class id: " + Field(info.pszClassId));
    status.Write("description: " + Field(info.pszDescription));
    status.Write("author: " + Field(info.pszAuthor));
    status.Write("build date: " + Field(info.pszBuildDate));
}

// ---------------------------------------------------------------- one run

// Hands the policy its parameters, starts it, waits for the stop and asks
// it to finish; the exit code so far.
int StartWaitAndFinish(IPolicy* object, ICommonControl* control, IUnknown* agent, const Options& o, const Inputs& in,
                       owhost::LineSink& status) {
    object->SetAgent(agent);
    object->SetPolicyParams(in.policy.policyParams);
    object->SetCommParams(in.policy.commParams);
    control->SetLanguage(in.language);
    int exitCode = kExitRefused;
    const int init = control->Initialize(owhost::kPolicyType);
    status.Write("Initialize: " + std::to_string(init));
    if (init == 200) {
        const int exec = object->Exec(0);
        status.Write("Exec: " + std::to_string(exec));
        if (exec == 0) {
            status.Write("running");
            status.Write("stop: " + owhost::WaitForStopRequest(o.duration.given, in.seconds));
            owhost::LetNextStopRequestEndHost();
            exitCode = kExitOk;
        }
    }
    status.Write("done: " + std::to_string(control->done("")));
    return exitCode;
}

// The device stand-in of --nfw and the demo's desktop, if any; stopped even
// when the host leaves early.
owhost::NfwChild* g_nfwChild = nullptr;
owhost::DemoDesktop* g_demoDesktop = nullptr;

// Drops the host's reference. With references left the policy's threads may
// still run code of the library and call the agent, so the host leaves at
// once, without unmapping the one or destroying the other.
void ReleaseOrLeave(IPolicy* object, owhost::LineSink& status) {
    const ULONG left = object->Release();
    if (left == 0) {
        status.Write("released");
        return;
    }
    status.Write("outlinkwatch: the policy still holds " + std::to_string(left) +
                 " references after the last Release");
    if (g_nfwChild != nullptr) g_nfwChild->Stop();
    if (g_demoDesktop != nullptr) g_demoDesktop->Stop();
    std::fflush(nullptr);
    std::_Exit(kExitLeaked);
}

// Creates the policy with the host's agent object, runs it and drops it.
int RunPolicy(const Plugin& plugin, const Options& o, const Inputs& in, owhost::LineSink& status,
              owhost::LineSink& events) {
    std::unique_ptr<owhost::HostCommunication> comm;
    if (o.commAddress.given) comm = std::make_unique<owhost::HostCommunication>(o.commAddress.value);
    const owhost::AgentOutputs outputs{in.logFile ? in.logFile.get() : &status,
                                       in.eventsFile ? in.eventsFile.get() : &events, &status};
    owhost::HostAgent agent(outputs, &in.lang, comm.get());
    IUnknown* agentUnknown = static_cast<IAgent*>(&agent);

    ICommonControl* control = nullptr;
    InterfaceEntry entry{0, 0, agentUnknown, 0};
    IPolicy* object = plugin.createObject("IPolicy", &control, &entry);
    if (object == nullptr) {
        status.Write("outlinkwatch: CreateObject(\"IPolicy\") returned no object");
        return kExitRefused;
    }
    int exitCode = kExitRefused;
    if (control == nullptr) {
        status.Write("outlinkwatch: CreateObject(\"IPolicy\") returned no control interface");
    } else {
        exitCode = StartWaitAndFinish(object, control, agentUnknown, o, in, status);
    }
    ReleaseOrLeave(object, status);
    return exitCode;
}

int Run(const Options& o) {
    Inputs in;
    std::string error;
    if (!owhost::StartPlatform(&error)) return Fail(error);
    if (auto code = CheckInputs(o, &in)) return *code;
    owhost::PrepareForStopRequests();
    owhost::LineSink status(stderr);
    owhost::LineSink events(stdout);
    Plugin plugin;
    ComponentInfo* info = nullptr;
    if (auto code = LoadPlugin(in.pluginPath, &plugin, &info)) return *code;
    // Started before the policy exists: the plug-in finds the device through
    // the environment, which is set while the host has one thread.
    // The built-in demo shows its blocking on the stand-in when it lies
    // beside the host; only an explicit --nfw insists on it.
    // The proxy demo's user is made first, while the host has one thread:
    // the plug-in finds the registry and the home through the environment.
    std::unique_ptr<owhost::ProxyDemo> proxyDemo;
    if (in.proxy) {
        proxyDemo = std::make_unique<owhost::ProxyDemo>(&status);
        std::string error;
        if (!proxyDemo->Prepare(in.proxy->port(), &error)) return Fail(error);
    }
    std::unique_ptr<owhost::NfwChild> nfw;
    const std::string hostDir = owhost::ExecutableDirectory();
    if (o.nfw || in.outside || in.proxy) {
        nfw = std::make_unique<owhost::NfwChild>(&status);
        if (hostDir.empty() || !nfw->Start(hostDir + "/" + kNfwFileName, &error)) {
            if (o.nfw) return Fail(hostDir.empty() ? "--nfw: cannot tell where the host lies" : error);
            // The connection prompt does not wait for the deny list's answer;
            // the prompts after a network cut or a proxy denial do.
            status.Write("demo: no filter device (" + error +
                         "); blocking commands answer 0: prompts after a network cut or a proxy denial are"
                         " skipped, a connection finding is still prompted");
            nfw.reset();
        }
        g_nfwChild = nfw.get();
    }
    std::unique_ptr<owhost::DemoDesktop> desktop;
    if (in.outside) {
        if (!in.outside->Start(&error)) return Fail(error);
        status.Write("demo outside server: 127.0.0.1:" + std::to_string(in.outside->port()));
    }
    if (in.outside || in.proxy) {
        desktop = std::make_unique<owhost::DemoDesktop>(&status);
        desktop->Start(hostDir);
        g_demoDesktop = desktop.get();
    }
    if (in.proxy) {
        std::string error;
        if (!in.proxy->Start(&error) || !proxyDemo->StartSwitchOff(&error)) return Fail(error);
        status.Write("demo proxy: " + std::string(owhost::kDemoProxyText) + ":" + std::to_string(in.proxy->port()));
    }

    PrintComponent(status, *info);
    status.Write("plug-in: " + owhost::OneLine(in.pluginPath, 1024));
    status.Write("policy: " + (o.policy.given ? owhost::OneLine(o.policy.value, 1024)
                                              : std::string(in.proxy ? "built-in proxy demo" : "built-in demo")));
    const int exitCode = RunPolicy(plugin, o, in, status, events);
    plugin.library.Close();
    if (proxyDemo) proxyDemo->Stop();
    if (nfw) nfw->Stop();
    g_nfwChild = nullptr;
    if (desktop) desktop->Stop();
    g_demoDesktop = nullptr;
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const std::optional<int> code = ParseCommandLine(argc, argv, &options)) return *code;
    return Run(options);
}
