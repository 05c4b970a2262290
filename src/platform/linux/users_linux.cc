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

namespace outlinkwatch {
namespace linuxusers {
namespace {

std::string WithoutExe(const std::string& name) {
    const size_t n = name.size();
    if (n >= 4 && AsciiStrToUpper(name.substr(n - 4)) == ".EXE") return name.substr(0, n - 4);
    return name;
}

std::string FileNameOf(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The first cap bytes of a /proc file (these report a size of 0, so the
// read goes until the end or the cap).
bool ReadCapped(const std::string& path, size_t cap, std::string* text) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // The buffer grows with what arrives (doubling from 4 KiB), so a small
    // file costs a small buffer whatever the cap: the proxy task reads
    // these every 70 s.
    text->clear();
    bool ok = true;
    while (text->size() < cap) {
        const size_t got = text->size();
        const size_t room = std::min(cap - got, std::max<size_t>(4096, got));
        text->resize(got + room);
        const ssize_t n = read(fd, &(*text)[got], room);
        text->resize(got + (n > 0 ? static_cast<size_t>(n) : 0));
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
    }
    close(fd);
    return ok;
}

bool ParseUnsigned(const char* p, const char* end, uint32_t* value) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    uint64_t v = 0;
    const char* start = p;
    while (p < end && *p >= '0' && *p <= '9' && v <= 0xFFFFFFFFu) v = v * 10 + static_cast<uint64_t>(*p++ - '0');
    if (p == start || v > 0xFFFFFFFFu) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// The first (real) id of the "Uid:" or "Gid:" line of a status text.
bool StatusId(const std::string& status, const char* label, uint32_t* id) {
    const std::string key = std::string("\n") + label;  // never the first line, which is "Name:"
    const size_t at = status.find(key);
    if (at == std::string::npos) return false;
    const size_t from = at + key.size();
    return ParseUnsigned(status.data() + from, status.data() + status.size(), id);
}

bool ReadIds(uint32_t pid, ProcessIds* ids) {
    std::string status;
    if (!ReadCapped("/proc/" + std::to_string(pid) + "/status", kMaxStatusBytes, &status)) return false;
    ids->pid = pid;
    return IdsFromStatus(status, ids);
}

ProcessNames NamesOf(uint32_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid);
    char link[PATH_MAX];
    const ssize_t n = readlink((dir + "/exe").c_str(), link, sizeof link - 1);
    std::string cmdline, comm;
    if (!ReadCapped(dir + "/cmdline", kMaxCmdlineBytes, &cmdline)) cmdline.clear();
    if (!ReadCapped(dir + "/comm", kMaxCommBytes, &comm)) comm.clear();
    return NamesFromProcTexts(n > 0 ? std::string(link, static_cast<size_t>(n)) : std::string(), cmdline, comm);
}

// Calls visit for each process id in /proc order, at most kMaxProcesses,
// until it answers false. False when /proc cannot be read.
template <typename Visit>
bool ForEachProcess(Visit visit) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/proc"), closedir);
    if (!dir) return false;
    size_t seen = 0;
    while (struct dirent* e = readdir(dir.get())) {
        if (++seen > kMaxProcesses) break;
        uint32_t pid = 0;
        const char* name = e->d_name;
        if (!ParseUnsigned(name, name + strnlen(name, sizeof e->d_name), &pid) || pid == 0) continue;
        if (name[std::strspn(name, "0123456789")] != '\0') continue;
        if (!visit(pid)) break;
    }
    return true;
}

}  // namespace

ProcessNames NamesFromProcTexts(const std::string& exeTarget, const std::string& cmdline, const std::string& comm) {
    ProcessNames names;
    std::string target = exeTarget;
    const std::string deleted = " (deleted)";  // the program file was replaced while it ran
    if (target.size() > deleted.size() && target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0) {
        target.resize(target.size() - deleted.size());
    }
    names.exeBase = FileNameOf(target);
    names.argv0Base = FileNameOf(std::string(cmdline.c_str()));
    names.comm = std::string(comm.c_str());
    if (!names.comm.empty() && names.comm.back() == '\n') names.comm.pop_back();
    return names;
}

bool IdsFromStatus(const std::string& status, ProcessIds* ids) {
    return StatusId(status, "Uid:", &ids->uid) && StatusId(status, "Gid:", &ids->gid);
}

bool ImageNameMatches(const std::string& imageName, const ProcessNames& names) {
    const std::string wanted = AsciiStrToUpper(WithoutExe(imageName));
    if (wanted.empty()) return false;
    auto same = [&](const std::string& name) { return !name.empty() && AsciiStrToUpper(WithoutExe(name)) == wanted; };
    if (same(names.exeBase) || same(names.argv0Base) || same(names.comm)) return true;
    constexpr size_t kCommBytes = 15;
    if (names.comm.size() != kCommBytes || !names.exeBase.empty() || !names.argv0Base.empty()) return false;
    const std::string comm = AsciiStrToUpper(names.comm);
    return AsciiStrToUpper(imageName).compare(0, kCommBytes, comm) == 0 || wanted.compare(0, kCommBytes, comm) == 0;
}

UserStatus FindProcess(const std::string& imageName, ProcessIds* ids) {
    bool found = false, opened = false;
    const bool listed = ForEachProcess([&](uint32_t pid) {
        if (!ImageNameMatches(imageName, NamesOf(pid))) return true;
        found = true;
        opened = ReadIds(pid, ids);  // the process may have ended meanwhile
        return false;
    });
    if (!listed) return UserStatus::kSnapshotFailed;
    return found && opened ? UserStatus::kOk : UserStatus::kNoProcess;
}

bool RunningUserIds(std::vector<uint32_t>* uids) {
    uids->clear();
    return ForEachProcess([&](uint32_t pid) {
        ProcessIds ids;
        if (ReadIds(pid, &ids) && std::find(uids->begin(), uids->end(), ids.uid) == uids->end()) {
            uids->push_back(ids.uid);
        }
        return uids->size() < kMaxUserKeys;
    });
}

bool PasswdEntry(uint32_t uid, std::string* name, std::string* home) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 && size < 65536 ? static_cast<size_t>(size) : 16384);
    struct passwd pw;
    struct passwd* result = nullptr;
    if (getpwuid_r(static_cast<uid_t>(uid), &pw, buf.data(), buf.size(), &result) != 0 || result == nullptr) {
        return false;
    }
    if (name != nullptr) *name = pw.pw_name != nullptr ? pw.pw_name : "";
    if (home != nullptr) *home = pw.pw_dir != nullptr ? pw.pw_dir : "";
    return true;
}

bool UidOfSid(const std::string& sidText, uint32_t* uid) {
    static const char kPrefix[] = "S-1-22-1-";
    const size_t prefix = sizeof(kPrefix) - 1;
    if (sidText.size() <= prefix || sidText.size() > prefix + 10 || sidText.compare(0, prefix, kPrefix) != 0) return false;
    uint64_t value = 0;
    for (size_t i = prefix; i < sidText.size(); ++i) {
        if (sidText[i] < '0' || sidText[i] > '9') return false;
        value = value * 10 + static_cast<uint64_t>(sidText[i] - '0');
    }
    if (value > UINT32_MAX) return false;
    *uid = static_cast<uint32_t>(value);
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
    const bool knownUser = UidOfSid(ownerSid, &uid);
    if (fstat(fd, &st) != 0) {
        close(fd);
        return -1;
    }
    const bool kindOk = directory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
    const bool ownerOk = st.st_uid == 0 || (knownUser && st.st_uid == uid);
    if (!kindOk || !ownerOk) {
        close(fd);
        *why = UserFileRead::kRefused;
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
    std::vector<char> buf(kUserFilePieceBytes);
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
        if (e->d_type == DT_DIR) {
            entry.isDirectory = true;
        } else if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            entry.isDirectory = fstatat(dirfd(d.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        entries->push_back(std::move(entry));
    }
    return true;
}

bool ReadWholeFile(const std::string& path, size_t cap, std::string* text) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return ReadCapped(path, cap, text);
}

}  // namespace linuxusers
}  // namespace outlinkwatch
