#include "nft_rules.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "nfw/nfw_frame.h"

extern char** environ;

namespace ownfw {

namespace {

constexpr const char* kTable = "inet outlinkwatch";

// A table that exists already makes "delete" safe to run; the pair
// replaces the table atomically within one nft transaction.
std::string ReplaceHeader() { return std::string("table ") + kTable + " {}\ndelete table " + kTable + "\n"; }

std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (line.size() > 300) line.resize(300);
    return line;
}

}  // namespace

std::string TableScript(const DeviceState& state) {
    std::vector<uint32_t> denied = state.denied;
    std::sort(denied.begin(), denied.end());
    denied.erase(std::unique(denied.begin(), denied.end()), denied.end());

    std::string s = ReplaceHeader();
    s += std::string("table ") + kTable + " {\n";
    s += "  set denied {\n    type ipv4_addr\n";
    if (!denied.empty()) {
        s += "    elements = { ";
        for (size_t i = 0; i < denied.size(); ++i) {
            if (i > 0) s += ", ";
            s += outlinkwatch::nfw::DottedAddress(denied[i]);
        }
        s += " }\n";
    }
    s += "  }\n";
    s += "  chain output {\n    type filter hook output priority filter; policy accept;\n";
    s += "    ip daddr @denied drop\n";
    if (state.cut) s += "    oifname \"lo\" accept\n    drop\n";
    s += "  }\n}\n";
    return s;
}

std::string RemoveScript() { return ReplaceHeader(); }

bool RunNft(const std::string& script, int waitMs, std::string* error) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(out, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        close(in[0]);
        close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    // The stand-in keeps its stop signals blocked; nft gets a plain mask.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, stops;
    sigemptyset(&none);
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &stops);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char arg0[] = "nft", arg1[] = "-f", arg2[] = "-";
    char* argv[] = {arg0, arg1, arg2, nullptr};
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "nft", &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(in[0]);
    close(out[1]);
    if (rc != 0) {
        close(in[1]);
        close(out[0]);
        *error = std::string("cannot start nft: ") + std::strerror(rc);
        return false;
    }

    // The script is a few hundred bytes, far below what a pipe holds.
    const ssize_t written = write(in[1], script.data(), script.size());
    close(in[1]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    auto left = [&] {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(0, ms.count()));
    };
    std::string output;
    for (;;) {
        struct pollfd p = {out[0], POLLIN, 0};
        const int n = poll(&p, 1, left());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        char chunk[512];
        const ssize_t got = read(out[0], chunk, sizeof(chunk));
        if (got <= 0) break;
        if (output.size() < 4096) output.append(chunk, static_cast<size_t>(got));
    }
    close(out[0]);

    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && left() > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        *error = "nft did not finish in time";
        return false;
    }
    if (written != static_cast<ssize_t>(script.size())) {
        *error = "could not hand nft its script";
        return false;
    }
    if (done < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = output.empty() ? std::string("nft failed") : "nft: " + FirstLine(output);
        return false;
    }
    return true;
}

}  // namespace ownfw
