// The route trace names its output file after the current second, in the
// temporary directory. /tmp is shared by every user of the machine, so a
// name anyone can predict there is a name anyone can take first: a planted
// directory keeps the trace waiting for output that never comes, a planted
// file forges its result. The trace's temporary directory on Linux is
// therefore one only this process's user can write.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>

namespace outlinkwatch {
namespace linuxtmp {

// True when path is a directory itself (not a link to one), owned by uid,
// with mode exactly 0700.
bool IsPrivateDirectory(const std::string& path, uid_t uid);

// "<base>/outlinkwatch-<euid>", made when missing. When that name is taken
// by anything that is not such a private directory (another user can make
// it first), a fresh directory with an unpredictable name
// ("<base>/outlinkwatch-<euid>-XXXXXX") is made instead and kept for the
// life of this object, so that taking the name cannot stop the traces. The
// directory is checked again at every call. Empty when none can be had.
class PrivateTempDir {
public:
    std::string Get(const std::string& base);

private:
    std::mutex mu_;
    std::string fallback_;
};

}  // namespace linuxtmp
}  // namespace outlinkwatch
