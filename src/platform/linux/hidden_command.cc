#include "platform/linux/hidden_command.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

extern char** environ;

namespace outlinkwatch {
namespace linuxcmd {
namespace {

constexpr std::string_view kCmdPrefix = "cmd /C ", kPathVariable = "PATH=";

// The environment of the command: the host's, with exeDir put first on PATH.
std::vector<std::string> CommandEnvironment(const std::string& exeDir) {
    std::vector<std::string> env;
    std::string path = "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin";
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (std::string_view(*e).compare(0, kPathVariable.size(), kPathVariable) == 0) {
            path = *e + kPathVariable.size();
        } else {
            env.emplace_back(*e);
        }
    }
    if (!exeDir.empty()) path = path.empty() ? exeDir : exeDir + ":" + path;
    env.push_back(std::string(kPathVariable) + path);
    return env;
}

// Only async-signal-safe calls from here on: the parent may have threads.
[[noreturn]] void RunCommand(const char* const* argv, char* const* envp, int devNull) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // SIGKILL and SIGSTOP (and the C library's own) refuse it, and keep their defaults.
    for (int sig = 1; sig != NSIG; ++sig) signal(sig, SIG_DFL);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (dup2(devNull, fd) != fd) _exit(EXIT_FAILURE);
    }
    // close_range where the kernel has it, else a walk of /proc/self/fd.
    closefrom(STDERR_FILENO + 1);
    execve("/bin/sh", const_cast<char* const*>(argv), envp);
    _exit(EXIT_FAILURE);  // the command's own status is read by nobody
}

}  // namespace

bool StartHiddenCommand(const std::string& commandLine, const std::string& exeDir,
                        const std::function<void(pid_t group)>& started) {
    std::string command = commandLine;
    if (command.compare(0, kCmdPrefix.size(), kCmdPrefix) == 0) command.erase(0, kCmdPrefix.size());
    if (command.empty() || command.find('\0') != std::string::npos) return false;

    // Everything that allocates is made before the fork.
    const std::vector<std::string> env = CommandEnvironment(exeDir);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};

    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) return false;
    const pid_t child = fork();
    if (child == 0) {
        if (setpgid(0, 0) != 0) _exit(EXIT_FAILURE);
        const pid_t grandchild = fork();
        if (grandchild == 0) RunCommand(argv, envp.data(), devNull);
        _exit(grandchild > 0 ? EXIT_SUCCESS : EXIT_FAILURE);
    }
    close(devNull);
    if (child < 0) return false;
    started(child);
    int status = 0;
    pid_t r;
    do {
        r = waitpid(child, &status, 0);
    } while (r < 0 && errno == EINTR);
    // With SIGCHLD ignored the system reaps the child itself.
    if (r < 0 && errno == ECHILD) return true;
    return r == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool HiddenCommands::Start(const std::string& commandLine, const std::string& exeDir) {
    return StartHiddenCommand(commandLine, exeDir, [this](pid_t group) {
        std::lock_guard<std::mutex> lock(mu_);
        // A group whose members have all ended is no longer kept.
        const auto gone = [](pid_t g) { return kill(-g, 0) != 0 && errno == ESRCH; };
        groups_.erase(std::remove_if(groups_.begin(), groups_.end(), gone), groups_.end());
        groups_.push_back(group);
    });
}

void HiddenCommands::EndAll() {
    std::lock_guard<std::mutex> lock(mu_);
    for (pid_t g : groups_) kill(-g, SIGKILL);
    groups_.clear();
}

}  // namespace linuxcmd
}  // namespace outlinkwatch
