// Starting the route-trace command on Linux, the way WinExec starts a
// hidden "cmd /C ..." line on Windows.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace outlinkwatch {
namespace linuxcmd {

// Runs the part of commandLine after "cmd /C " (the whole line when it does
// not start so) with /bin/sh -c, and returns without waiting for it.
//
// The command is a grandchild that nobody waits for: the child in between
// forks it and ends at once, and only that child is reaped here (it exits
// right after its fork, so the wait is short), so no zombie is left. The
// command starts with an empty signal mask and default signal actions (the
// host blocks SIGINT and SIGTERM and ignores SIGPIPE in its own threads),
// /dev/null as stdin, stdout and stderr (its own redirection sends its
// output to the file), none of the host's other descriptors, and
// exeDir first on PATH so that the tracert shipped beside the host is found.
// False when it could not be started.
//
// The child in between makes itself the leader of a new process group, so
// the command and everything it starts can be ended together; started is
// called with that group's id (the child's pid, which stays reserved while
// any member of the group lives) once the child exists, and only then.
bool StartHiddenCommand(const std::string& commandLine, const std::string& exeDir,
                        const std::function<void(pid_t group)>& started);

// The process groups of the commands started, to end those left running.
class HiddenCommands {
public:
    bool Start(const std::string& commandLine, const std::string& exeDir);
    // Kills each group started and not ended yet, then forgets them.
    void EndAll();

private:
    std::mutex mu_;
    std::vector<pid_t> groups_;
};

}  // namespace linuxcmd
}  // namespace outlinkwatch
