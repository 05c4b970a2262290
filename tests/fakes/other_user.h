// Another local user, as an attacker on the same machine: fn runs in a child
// process as uid and gid 65534 (nobody). Only root can take another
// identity; tests skip without it (CI runs as root).
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#define OW_SKIP_UNLESS_ROOT() \
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user (uid 65534)"

// fn's answer (0 to 254), or -1 when the child could not become that user
// (in group gid, and in extra when given).
inline int AsOtherUser(const std::function<int()>& fn, gid_t gid = 65534, const gid_t* extra = nullptr) {
    const pid_t pid = fork();
    if (pid == 0) _exit((alarm(30), setgroups(extra ? 1 : 0, extra) || setgid(gid) || setuid(65534)) ? 255 : fn());
    int status = 0;
    const bool ok = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) != 255;
    return ok ? WEXITSTATUS(status) : -1;
}
