#include "platform/linux/private_temp.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace outlinkwatch {
namespace linuxtmp {
namespace {

// Sets the mode of a directory this process has just made (the umask may
// have taken bits from it), judged on the open directory: not a link put in
// its place, and owned by uid.
bool MakeModePrivate(const std::string& path, uid_t uid) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    const bool ok = fstat(fd, &st) == 0 && st.st_uid == uid && fchmod(fd, 0700) == 0;
    close(fd);
    return ok;
}

}  // namespace

bool IsPrivateDirectory(const std::string& path, uid_t uid) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
           (st.st_mode & 07777) == 0700;
}

std::string PrivateTempDir::Get(const std::string& base) {
    std::string root = base;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (root.empty() || root.find('\0') != std::string::npos) return std::string();
    if (root != "/") root += '/';
    const uid_t uid = geteuid();
    const std::string prefix = root + "outlinkwatch-" + std::to_string(uid);

    if (mkdir(prefix.c_str(), 0700) == 0) MakeModePrivate(prefix, uid);
    if (IsPrivateDirectory(prefix, uid)) return prefix;

    std::lock_guard<std::mutex> lock(mu_);
    if (fallback_.compare(0, prefix.size() + 1, prefix + "-") == 0 && IsPrivateDirectory(fallback_, uid)) {
        return fallback_;
    }
    std::vector<char> pattern(prefix.begin(), prefix.end());
    for (char c : std::string("-XXXXXX")) pattern.push_back(c);
    pattern.push_back('\0');
    if (mkdtemp(pattern.data()) == nullptr) return std::string();
    const std::string made(pattern.data());
    if (!MakeModePrivate(made, uid)) return std::string();
    fallback_ = made;
    return fallback_;
}

}  // namespace linuxtmp
}  // namespace outlinkwatch
