// outlinkwatch-nfw: a stand-in for the agent's network filter driver on
// Linux. It serves the device "NFW" as a Unix stream socket, takes the
// driver's two commands (set the deny list, cut the network) as frames and
// applies them with nftables in a table of its own, or with --dry-run only
// reports them. Each command is one line on stdout; refusals and failures
// go to stderr. The table goes when the stand-in goes, as a driver's rules
// go when it is unloaded.
//
// The device is the plug-in's alone: the socket is made 0600 (owned by the
// plug-in's user when one is named), and a connection from any user other
// than this process's, the plug-in's and root is refused and reported.
#include <errno.h>
#include <pwd.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "nft_rules.h"
#include "nfw/nfw_frame.h"

namespace nfw = outlinkwatch::nfw;

namespace {

constexpr int kIoTimeoutMs = 2000;  // per read or write on a client connection
constexpr int kNftWaitMs = 10000;
constexpr size_t kMaxFrameBytes = nfw::kHeaderBytes + nfw::kMaxDenyListBytes;

void Say(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void Complain(const std::string& line) {
    std::fprintf(stderr, "outlinkwatch-nfw: %s\n", line.c_str());
    std::fflush(stderr);
}

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

class Device {
public:
    explicit Device(bool dryRun) : dryRun_(dryRun) {}

    // Applies one command; true when the driver would report success.
    bool Apply(const nfw::Command& command) {
        ownfw::DeviceState next = state_;
        std::string line;
        if (command.code == nfw::kCutNetwork) {
            next.cut = true;
            line = "network cut";
        } else {
            next.denied = command.denied;
            if (command.denied.empty()) {
                line = "deny list lifted";
            } else {
                line = "deny: ";
                for (size_t i = 0; i < command.denied.size(); ++i) {
                    if (i > 0) line += ", ";
                    line += nfw::DottedAddress(command.denied[i]);
                }
            }
        }
        if (!dryRun_) {
            std::string error;
            if (!ownfw::RunNft(ownfw::TableScript(next), kNftWaitMs, &error)) {
                Complain("not applied (" + line + "): " + error);
                return false;
            }
            applied_ = true;
        }
        state_ = next;
        Say(line);
        return true;
    }

    void RemoveRules() {
        if (dryRun_ || !applied_) return;
        std::string error;
        if (!ownfw::RunNft(ownfw::RemoveScript(), kNftWaitMs, &error)) Complain("rules not removed: " + error);
    }

private:
    bool dryRun_;
    bool applied_ = false;
    ownfw::DeviceState state_;
};

bool WriteAnswer(int fd, uint32_t answer) {
    uint8_t bytes[nfw::kAnswerBytes];
    nfw::PutU32(answer, bytes);
    return send(fd, bytes, sizeof(bytes), MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof(bytes));
}

// Serves one connection: frames one after the other until the client
// closes, stays silent too long or sends something that is not a command.
void Serve(int fd, Device& device) {
    struct timeval tv = {kIoTimeoutMs / 1000, (kIoTimeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    std::vector<uint8_t> pending;
    for (;;) {
        const nfw::FrameResult frame = nfw::ReadFrame(pending.data(), pending.size());
        if (frame.status == nfw::FrameStatus::kMalformed) {
            Complain("refused frame: " + frame.error);
            WriteAnswer(fd, 0);
            return;
        }
        if (frame.status == nfw::FrameStatus::kComplete) {
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(frame.consumed));
            if (!WriteAnswer(fd, device.Apply(frame.command) ? 1 : 0)) return;
            continue;
        }
        uint8_t chunk[kMaxFrameBytes];
        const ssize_t n = recv(fd, chunk, sizeof(chunk), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!pending.empty()) {
                Complain("refused frame: " + std::string(n == 0 ? "connection closed" : "no data in time") +
                         " after " + std::to_string(pending.size()) + " bytes of a frame");
            }
            return;
        }
        pending.insert(pending.end(), chunk, chunk + n);
    }
}

// The users whose connections are served.
struct Allowed {
    uid_t own = geteuid();
    uid_t plugin = geteuid();
    bool Has(uid_t uid) const { return uid == 0 || uid == own || uid == plugin; }
};

// A user name or a numeric uid.
bool ParseUser(const std::string& text, uid_t* uid) {
    if (const struct passwd* pw = getpwnam(text.c_str())) {
        *uid = pw->pw_uid;
        return true;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || n >= static_cast<uid_t>(-1)) return false;
    *uid = static_cast<uid_t>(n);
    return true;
}

// Refuses, with a line on stderr, a client that is not an allowed user.
bool AcceptPeer(int fd, const Allowed& allowed) {
    struct ucred peer;
    socklen_t len = sizeof(peer);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || len != sizeof(peer)) {
        Complain(Errno("refused connection: no peer credentials"));
        return false;
    }
    if (allowed.Has(peer.uid)) return true;
    Complain("refused connection from uid " + std::to_string(peer.uid) + " (pid " + std::to_string(peer.pid) +
             "): not the plug-in's user");
    return false;
}

// mkdir -p (0755, so that the plug-in's user can reach the socket). The
// device directory must not be one where another user could put a socket
// of their own in the device's place: a directory (not a link) of this
// process's user or root that no one else can write.
bool MakeDirectories(const std::string& dir, std::string* error) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/') continue;
        const std::string part = dir.substr(0, pos);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = Errno(("cannot make " + dir).c_str());
            return false;
        }
    }
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = dir + " is not a directory";
        return false;
    }
    if ((st.st_uid != 0 && st.st_uid != geteuid()) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *error = dir + " can be written by other users";
        return false;
    }
    return true;
}

// A listening socket at path, mode 0600 and owned by the plug-in's user; a
// file left there by a stand-in that is gone is replaced, a live one is not.
int Listen(const std::string& path, uid_t owner, std::string* error) {
    struct sockaddr_un addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        *error = "socket path too long: " + path;
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe >= 0) {
        const bool live = connect(probe, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) == 0;
        close(probe);
        if (live) {
            *error = path + " is served by another process";
            return -1;
        }
    }
    unlink(path.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // The socket is born private: no moment in which another user may connect.
    const mode_t umaskBefore = umask(0177);
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) == 0;
    umask(umaskBefore);
    if (!bound || (owner != geteuid() && lchown(path.c_str(), owner, static_cast<gid_t>(-1)) != 0) ||
        listen(fd, 16) != 0) {
        *error = Errno(("cannot listen on " + path).c_str());
        if (bound) unlink(path.c_str());
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    bool dryRun = false;
    std::string pluginUser;
    const char* envDir = std::getenv(nfw::kDeviceDirVariable);
    std::string dir = envDir != nullptr && *envDir != '\0' ? envDir : nfw::kDefaultDeviceDir;

    CLI::App app{"Serves the filter device NFW on a Unix socket and applies its commands with nftables.",
                 "outlinkwatch-nfw"};
    app.add_flag("--dry-run", dryRun, "only report the commands; change no rules");
    app.add_option("--device-dir", dir, "directory of the device socket (default: $OUTLINKWATCH_DEVICE_DIR, else " +
                                            std::string(nfw::kDefaultDeviceDir) + ")");
    app.add_option("--plugin-user", pluginUser,
                   "the user (name or uid) the plug-in runs as, if not this one: the socket becomes theirs and "
                   "their connections are served (root's and this user's always are)");
    CLI11_PARSE(app, argc, argv);
    Allowed allowed;
    if (!pluginUser.empty() && !ParseUser(pluginUser, &allowed.plugin)) {
        Complain("no such user: " + pluginUser);
        return 1;
    }

    // Stop requests arrive through a descriptor the serving loop polls.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int sigfd = signalfd(-1, &stops, SFD_CLOEXEC);
    if (sigfd < 0) {
        Complain(Errno("signalfd"));
        return 1;
    }
    std::string error;
    if (!MakeDirectories(dir, &error)) {
        Complain(error);
        return 1;
    }
    const std::string path = nfw::DeviceSocketPath(dir, "nfw");
    const int listener = Listen(path, allowed.plugin, &error);
    if (listener < 0) {
        Complain(error);
        return 1;
    }

    Device device(dryRun);
    Say(std::string("listening on ") + path + (dryRun ? " (dry run: no rules are changed)" : ""));
    for (;;) {
        struct pollfd fds[2] = {{listener, POLLIN, 0}, {sigfd, POLLIN, 0}};
        // Woken by a client or a stop request; the bound only keeps the wait finite.
        const int ready = poll(fds, 2, 60000);
        if (ready == 0) continue;
        if (ready < 0) {
            if (errno == EINTR) continue;
            Complain(Errno("poll"));
            break;
        }
        if (fds[1].revents != 0) {
            struct signalfd_siginfo info;
            if (read(sigfd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
                Say(std::string("stopping on ") + (info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM"));
            }
            break;
        }
        if (fds[0].revents != 0) {
            const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            if (AcceptPeer(client, allowed)) Serve(client, device);
            close(client);
        }
    }
    close(listener);
    unlink(path.c_str());
    device.RemoveRules();
    return 0;
}
