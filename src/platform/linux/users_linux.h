// Processes, users and directories on Linux, for the users-and-profiles
// calls of the OS seam. A process's "token" is its real uid and gid; a
// user's key under HKEY_USERS is the Unix-user SID text S-1-22-1-<uid>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "emulation/expand_vars.h"
#include "platform/os.h"

namespace outlinkwatch {
namespace linuxusers {

// Bounds of the /proc scan: processes looked at, and bytes read of each
// one's comm, cmdline and status.
constexpr size_t kMaxProcesses = 32768;
constexpr size_t kMaxCommBytes = 64;
constexpr size_t kMaxCmdlineBytes = 4096;
constexpr size_t kMaxStatusBytes = 8192;
// The longest expansion result, as a 260-byte Windows buffer holds.
constexpr size_t kMaxExpandedBytes = 259;

// The names a process goes by.
struct ProcessNames {
    std::string exeBase;    // file name of /proc/<pid>/exe; empty when unreadable
    std::string argv0Base;  // file name of the first argument ('/' or '\\' ends a folder)
    std::string comm;       // the kernel's name: the program's file name cut to 15 bytes
};

// Whether a process answers to the image name asked for. Case is ignored,
// and so is a final ".exe" on either side (a program run under Wine keeps
// it). The executable's or the first argument's file name must match in
// full; the kernel's name matches in full too, or, when it holds the full
// 15 bytes and nothing else could be read, as the first 15 bytes of the
// name asked for.
bool ImageNameMatches(const std::string& imageName, const ProcessNames& names);

struct ProcessIds {
    uint32_t pid = 0;
    uint32_t uid = 0;  // real user id
    uint32_t gid = 0;  // real group id
};

// What a process's /proc texts say, read apart from the files: its names
// from the target of its exe link, its cmdline and its comm (each empty when
// unreadable), and its real user and group ids from the "Uid:" and "Gid:"
// lines of its status (false when either is missing; pid is left as it is),
// and whether more of that status could still change them (the read stops once not).
ProcessNames NamesFromProcTexts(const std::string& exeTarget, const std::string& cmdline, const std::string& comm);
bool IdsFromStatus(const std::string& status, ProcessIds* ids);
bool IdsSettledIn(const std::string& status);

// Finds a process by image name, remembering the one found: the next look-up
// asks that process first (still there, still answering to the name) and
// scans /proc only when it does not answer, which keeps a task that runs
// every minute from reading every process's names. The process is held by
// its /proc directory, open: once the process is reaped nothing reads
// through it, so a later process given the same pid is never taken for it.
// Safe to call from several threads.
class ProcessFinder {
public:
    ProcessFinder() = default;
    ~ProcessFinder();
    ProcessFinder(const ProcessFinder&) = delete;
    ProcessFinder& operator=(const ProcessFinder&) = delete;

    // The remembered process while it answers to imageName, else the first
    // one in /proc order that does (then remembered).
    UserStatus Find(const std::string& imageName, ProcessIds* ids);

private:
    void Forget();

    std::mutex mutex_;
    int dirFd_ = -1;    // /proc/<pid_> of the process found last, or -1; guarded by mutex_
    uint32_t pid_ = 0;  // guarded by mutex_
};

// The distinct owners of the running processes, in /proc order, as /proc
// shows them: a process's effective user id, or root for a process that
// may not be dumped (a setuid program, or one that changed its ids or asked
// for it). One stat of each /proc entry, no text read.
bool RunningUserIds(std::vector<uint32_t>* uids);

// Name and home directory of a user id from the password database.
bool PasswdEntry(uint32_t uid, std::string* name, std::string* home);

// The id in a SID text of a Unix user (prefix "S-1-22-1-") or group
// ("S-1-22-2-"), in decimal; false for any other text.
bool IdOfSid(const std::string& sidText, const char* prefix, uint32_t* id);

// FileService::ReadUserFile and ListUserDirectory on POSIX calls.
UserFileRead ReadUserFile(const std::string& ownerSid, const std::string& path,
                          const std::function<bool(std::string_view)>& piece);
bool ListUserDirectory(const std::string& ownerSid, const std::string& dir, size_t cap, std::vector<DirEntry>* entries);

// Opens a file for reading and judges the open descriptor, never the name:
// no final link is followed, no open waits (a FIFO opens at once and is
// then refused), and only a regular file is kept. The descriptor and the
// file's size, or -1.
int OpenRegularFile(const std::string& path, uint64_t* size);

// Capped whole-file read of a file OpenRegularFile keeps.
bool ReadWholeFile(const std::string& path, size_t cap, std::string* text);

}  // namespace linuxusers
}  // namespace outlinkwatch
