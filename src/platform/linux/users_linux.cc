#include "platform/linux/users_linux.h"
#include "base/text.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

namespace outlinkwatch {
namespace linuxusers {
namespace {

// A name without a final ".exe" (any case).
std::string_view WithoutExe(std::string_view name) {
    if (name.size() >= 4 && EqualsIgnoreAsciiCase(name.substr(name.size() - 4), ".exe")) name.remove_suffix(4);
    return name;
}

std::string_view FileNameOf(std::string_view path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// The first cap bytes of an open file. The buffer grows with what arrives
// (doubling from 4 KiB), so a small file costs a small buffer whatever the cap.
bool ReadCapped(int fd, size_t cap, std::string* text) {
    text->clear();
    bool ok = true;
    while (text->size() < cap) {
        const size_t got = text->size();
        const size_t room = std::min(cap - got, std::max<size_t>(4096, got));
        text->resize(got + room);
        const ssize_t n = read(fd, &(*text)[got], room);
        text->resize(got + static_cast<size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
    }
    return ok;
}

// The scans run on every proxy task, over every process, so they read into
// the caller's buffer, open relative to /proc, and stop as soon as what is
// already read decides the answer (enough(text) says so). *got is the count
// of bytes read, 0 when the file cannot be opened or read (then false).
template <typename Enough>
bool ReadProcFile(int procFd, const char* pidName, const char* file, char* buf, size_t cap, Enough enough, size_t* got) {
    *got = 0;
    // A pid's name and a file's: short enough for the string's own room.
    const int fd = openat(procFd, (std::string(pidName) + "/" + file).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = true;
    while (*got < cap) {
        const ssize_t n = read(fd, buf + *got, cap - *got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        *got += static_cast<size_t>(n);
        if (enough(std::string_view(buf, *got))) break;
    }
    close(fd);
    if (!ok) *got = 0;
    return ok;
}

constexpr auto kToTheEnd = [](std::string_view) { return false; };

// Where the blanks from `at` end, and where the digits from `at` end.
size_t BlanksEnd(std::string_view s, size_t at) { return std::min(s.find_first_not_of(" \t", at), s.size()); }
size_t DigitsEnd(std::string_view s, size_t at) { return std::min(s.find_first_not_of("0123456789", at), s.size()); }

// A decimal number after blanks, up to whatever follows its digits.
bool ParseUnsigned(std::string_view text, uint32_t* value) {
    const size_t start = BlanksEnd(text, 0), end = DigitsEnd(text, start);
    uint64_t v = 0;
    for (size_t i = start; i < end && v <= 0xFFFFFFFFu; ++i) v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    if (end == start || v > 0xFFFFFFFFu) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// Where the first (real) id of the "Uid:" or "Gid:" line of a status text
// starts; npos when there is no such line. Never the first line, which is
// "Name:" (its text is escaped, so a process name cannot forge a line).
size_t StatusIdAt(std::string_view status, std::string_view label) {
    for (size_t at = status.find('\n'); at != std::string_view::npos; at = status.find('\n', at + 1)) {
        if (status.substr(at + 1, label.size()) == label) return at + 1 + label.size();
    }
    return std::string_view::npos;
}

bool StatusId(std::string_view status, std::string_view label, uint32_t* id) {
    const size_t from = StatusIdAt(status, label);
    return from != std::string_view::npos && ParseUnsigned(status.substr(from), id);
}

// Whether more of a status text could change what its ids read as: once
// both lines are there and each first id is followed by something else,
// nothing further can.
bool StatusIdsSettled(std::string_view status) {
    for (std::string_view label : {std::string_view("Uid:"), std::string_view("Gid:")}) {
        const size_t at = StatusIdAt(status, label);
        if (at == std::string_view::npos || DigitsEnd(status, BlanksEnd(status, at)) == status.size()) return false;
    }
    return true;
}

bool IdsFromStatusText(std::string_view status, ProcessIds* ids) {
    return StatusId(status, "Uid:", &ids->uid) && StatusId(status, "Gid:", &ids->gid);
}

bool ReadIds(int procFd, const char* pidName, uint32_t pid, ProcessIds* ids) {
    char status[kMaxStatusBytes];
    size_t n = 0;
    if (!ReadProcFile(procFd, pidName, "status", status, sizeof status, StatusIdsSettled, &n)) return false;
    ids->pid = pid;
    return IdsFromStatusText(std::string_view(status, n), ids);
}

// The names a process goes by, as views into its texts.
struct NameViews {
    std::string_view exeBase, argv0Base, comm;
};

NameViews ViewsOfProcTexts(std::string_view exeTarget, std::string_view cmdline, std::string_view comm) {
    constexpr std::string_view kDeleted = " (deleted)";  // the program file was replaced while it ran
    if (exeTarget.size() > kDeleted.size() && exeTarget.substr(exeTarget.size() - kDeleted.size()) == kDeleted) {
        exeTarget.remove_suffix(kDeleted.size());
    }
    NameViews names;
    names.exeBase = FileNameOf(exeTarget);
    names.argv0Base = FileNameOf(cmdline.substr(0, cmdline.find('\0')));
    names.comm = comm.substr(0, comm.find('\0'));
    if (!names.comm.empty() && names.comm.back() == '\n') names.comm.remove_suffix(1);
    return names;
}

// What is asked for: the image name as given, and without ".exe".
struct WantedName {
    std::string_view image, bare;
};

bool SameName(std::string_view name, const WantedName& wanted) {
    return !name.empty() && EqualsIgnoreAsciiCase(WithoutExe(name), wanted.bare);
}

bool NamesMatch(const WantedName& wanted, const NameViews& names) {
    if (wanted.bare.empty()) return false;
    if (SameName(names.exeBase, wanted) || SameName(names.argv0Base, wanted) || SameName(names.comm, wanted)) {
        return true;
    }
    constexpr size_t kCommBytes = 15;
    if (names.comm.size() != kCommBytes || !names.exeBase.empty() || !names.argv0Base.empty()) return false;
    auto startsWithComm = [&](std::string_view name) {
        return name.size() >= kCommBytes && EqualsIgnoreAsciiCase(name.substr(0, kCommBytes), names.comm);
    };
    return startsWithComm(wanted.image) || startsWithComm(wanted.bare);
}

// Whether the process answers to the name. The names are read cheapest
// first and the reads stop at the first that matches; a process that
// matches none costs all three.
bool ProcessAnswersTo(int procFd, const char* pidName, const WantedName& wanted) {
    char link[PATH_MAX];  // a link's target, which readlinkat does not end with a NUL
    const ssize_t linkBytes = readlinkat(procFd, (std::string(pidName) + "/exe").c_str(), link, sizeof link);
    // No such link means no address space (a kernel thread, or a process
    // on its way out), and then the command line reads empty too.
    const bool noAddressSpace = linkBytes < 0 && errno == ENOENT;
    const std::string_view exeTarget(link, static_cast<size_t>(std::max<ssize_t>(linkBytes, 0)));
    if (SameName(ViewsOfProcTexts(exeTarget, {}, {}).exeBase, wanted)) return true;
    // Only the first argument counts, so the read stops at its end.
    char cmdline[kMaxCmdlineBytes];
    size_t cmdBytes = 0;
    if (!noAddressSpace) {
        ReadProcFile(procFd, pidName, "cmdline", cmdline, sizeof cmdline,
                     [](std::string_view text) { return text.find('\0') != std::string_view::npos; }, &cmdBytes);
    }
    const std::string_view cmd(cmdline, cmdBytes);
    if (SameName(ViewsOfProcTexts({}, cmd, {}).argv0Base, wanted)) return true;
    char comm[kMaxCommBytes];
    size_t commBytes = 0;
    ReadProcFile(procFd, pidName, "comm", comm, sizeof comm, kToTheEnd, &commBytes);
    const std::string_view commText(comm, commBytes);
    return NamesMatch(wanted, ViewsOfProcTexts(exeTarget, cmd, commText));
}

// Calls visit(procFd, pidName, pid) for each process in /proc order, at most
// kMaxProcesses, until it answers false. False when /proc cannot be read.
template <typename Visit>
bool ForEachProcess(Visit visit) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/proc"), closedir);
    if (!dir) return false;
    const int procFd = dirfd(dir.get());
    size_t seen = 0;
    while (struct dirent* e = readdir(dir.get())) {
        if (++seen > kMaxProcesses) break;
        uint32_t pid = 0;
        const char* name = e->d_name;
        if (!ParseUnsigned(std::string_view(name, strnlen(name, sizeof e->d_name)), &pid) || pid == 0) continue;
        if (name[std::strspn(name, "0123456789")] != '\0') continue;
        if (!visit(procFd, name, pid)) break;
    }
    return true;
}

}  // namespace

ProcessNames NamesFromProcTexts(const std::string& exeTarget, const std::string& cmdline, const std::string& comm) {
    const NameViews views = ViewsOfProcTexts(exeTarget, cmdline, comm);
    ProcessNames names;
    names.exeBase = std::string(views.exeBase);
    names.argv0Base = std::string(views.argv0Base);
    names.comm = std::string(views.comm);
    return names;
}

bool IdsFromStatus(const std::string& status, ProcessIds* ids) { return IdsFromStatusText(status, ids); }
bool IdsSettledIn(const std::string& status) { return StatusIdsSettled(status); }

bool ImageNameMatches(const std::string& imageName, const ProcessNames& names) {
    return NamesMatch(WantedName{imageName, WithoutExe(imageName)}, NameViews{names.exeBase, names.argv0Base, names.comm});
}

ProcessFinder::~ProcessFinder() { Forget(); }

void ProcessFinder::Forget() {
    if (dirFd_ >= 0) close(dirFd_);
    dirFd_ = -1;
    pid_ = 0;
}

UserStatus ProcessFinder::Find(const std::string& imageName, ProcessIds* ids) {
    const WantedName wanted{imageName, WithoutExe(imageName)};
    // Whether the process whose /proc directory is open as pidFd answers, with its ids.
    const auto answers = [&wanted, ids](int pidFd, uint32_t pid) {
        return ProcessAnswersTo(pidFd, ".", wanted) && ReadIds(pidFd, ".", pid, ids);
    };
    std::lock_guard<std::mutex> lock(mutex_);
    if (wanted.bare.empty()) {
        // Nothing answers to no name; whether /proc opens still tells the two answers apart.
        const std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
        return proc ? UserStatus::kNoProcess : UserStatus::kSnapshotFailed;
    }
    if (dirFd_ >= 0 && answers(dirFd_, pid_)) return UserStatus::kOk;
    Forget();
    bool found = false;
    const bool listed = ForEachProcess([&](int procFd, const char* pidName, uint32_t pid) {
        if (!ProcessAnswersTo(procFd, pidName, wanted)) return true;
        // Asked again through the directory held open, so that what is
        // remembered is the process that answered (it may have ended meanwhile).
        // A directory that did not open (-1) answers to nothing.
        dirFd_ = openat(procFd, pidName, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        pid_ = pid;
        found = answers(dirFd_, pid);
        if (!found) Forget();
        return false;
    });
    if (!listed) return UserStatus::kSnapshotFailed;
    return found ? UserStatus::kOk : UserStatus::kNoProcess;
}

bool RunningUserIds(std::vector<uint32_t>* uids) {
    uids->clear();
    return ForEachProcess([&](int procFd, const char* pidName, uint32_t) {
        struct stat st;
        if (fstatat(procFd, pidName, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            std::find(uids->begin(), uids->end(), st.st_uid) == uids->end()) {
            uids->push_back(st.st_uid);
        }
        return uids->size() < kMaxUserKeys;
    });
}

bool PasswdEntry(uint32_t uid, std::string* name, std::string* home) {
    // Room for any entry (the size the C library suggests, 1 KiB, is only a start).
    std::vector<char> buf(16384);
    struct passwd pw;
    struct passwd* result = nullptr;
    if (getpwuid_r(static_cast<uid_t>(uid), &pw, buf.data(), buf.size(), &result) != 0 || result == nullptr) {
        return false;
    }
    if (name != nullptr) *name = pw.pw_name != nullptr ? pw.pw_name : "";
    if (home != nullptr) *home = pw.pw_dir != nullptr ? pw.pw_dir : "";
    return true;
}

bool IdOfSid(const std::string& sidText, const char* prefix, uint32_t* id) {
    const size_t n = std::strlen(prefix);
    if (sidText.compare(0, n, prefix) != 0 || sidText.size() == n || sidText.size() > n + 10) return false;
    uint64_t value = 0;
    for (size_t i = n; i < sidText.size(); ++i) {
        if (sidText[i] < '0' || sidText[i] > '9') return false;
        value = value * 10 + static_cast<uint64_t>(sidText[i] - '0');
    }
    if (value > UINT32_MAX) return false;
    *id = static_cast<uint32_t>(value);
    return true;
}

namespace {

// Opens what a user controls and judges the open descriptor: no final link
// is followed, no open waits (a FIFO opens at once and is then refused), and
// it must be a regular file (a directory when asked for one) owned by that
// user or by root. The descriptor, or -1 with the reason in *why.
int OpenUserObject(const std::string& ownerSid, const std::string& path, bool directory, UserFileRead* why) {
    *why = UserFileRead::kFailed;
    if (path.empty() || path.find('\0') != std::string::npos) return -1;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (directory ? O_DIRECTORY : 0));
    if (fd < 0) {
        if (errno == ENOENT) *why = UserFileRead::kMissing;
        if (errno == ELOOP || errno == ENOTDIR || errno == ENXIO || errno == EWOULDBLOCK) *why = UserFileRead::kRefused;
        return -1;
    }
    struct stat st;
    uint32_t uid = 0;
    const bool knownUser = IdOfSid(ownerSid, "S-1-22-1-", &uid);
    const bool statted = fstat(fd, &st) == 0;
    const bool kindOk = statted && (directory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
    const bool ownerOk = statted && (st.st_uid == 0 || (knownUser && st.st_uid == uid));
    if (!kindOk || !ownerOk) {
        close(fd);
        // A descriptor that cannot be judged is a failure, not a refusal.
        if (statted) *why = UserFileRead::kRefused;
        return -1;
    }
    return fd;
}

}  // namespace

UserFileRead ReadUserFile(const std::string& ownerSid, const std::string& path,
                          const std::function<bool(std::string_view)>& piece) {
    UserFileRead why;
    const int fd = OpenUserObject(ownerSid, path, false, &why);
    if (fd < 0) return why;
    // A piece is at most kUserFilePieceBytes; a smaller file (most are)
    // gets a buffer one byte past its size, so one read brings it whole.
    struct stat st;
    const size_t now = fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
    std::vector<char> buf(std::min(kUserFilePieceBytes, std::max<size_t>(4096, now + 1)));
    UserFileRead result = UserFileRead::kRead;
    for (;;) {
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) result = UserFileRead::kFailed;
        if (n <= 0 || !piece(std::string_view(buf.data(), static_cast<size_t>(n)))) break;
    }
    close(fd);
    return result;
}

bool ListUserDirectory(const std::string& ownerSid, const std::string& dir, size_t cap, std::vector<DirEntry>* entries) {
    UserFileRead why;
    const int fd = OpenUserObject(ownerSid, dir, true, &why);
    if (fd < 0) return false;
    std::unique_ptr<DIR, int (*)(DIR*)> d(fdopendir(fd), closedir);
    if (!d) {
        close(fd);
        return false;
    }
    entries->clear();
    while (entries->size() < cap) {
        struct dirent* e = readdir(d.get());
        if (e == nullptr) break;
        DirEntry entry;
        entry.name = e->d_name;
        // Asked of the entry itself (a link to a directory is none), on every
        // file system, including those whose listing leaves the type unknown.
        struct stat st;
        entry.isDirectory = fstatat(dirfd(d.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        entries->push_back(std::move(entry));
    }
    return true;
}

int OpenRegularFile(const std::string& path, uint64_t* size) {
    if (path.empty() || path.find('\0') != std::string::npos) return -1;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return fd;
}

bool ReadWholeFile(const std::string& path, size_t cap, std::string* text) {
    uint64_t size = 0;
    const int fd = OpenRegularFile(path, &size);
    if (fd < 0) return false;
    const bool ok = ReadCapped(fd, cap, text);
    close(fd);
    return ok;
}

}  // namespace linuxusers
}  // namespace outlinkwatch
