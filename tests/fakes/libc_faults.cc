#include "fakes/libc_faults.h"

#include <sys/file.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace outlinkwatch {
namespace libcfaults {
namespace {

struct Plan {
    int pass = 0, fail = 0, error = 0;
};
thread_local Plan plans[kCalls];
thread_local bool recordPauses = false;
thread_local std::vector<long long> pauses;

// True when this call is to fail (errno then set).
bool Failing(Call call) {
    Plan& p = plans[call];
    if (p.pass > 0) return --p.pass, false;
    if (p.fail == 0) return false;
    --p.fail;
    errno = p.error;
    return true;
}

}  // namespace

void Fail(Call call, int error, int fail, int pass) { plans[call] = Plan{pass, fail, error}; }
void RecordPauses(bool on) { recordPauses = on; }
const std::vector<long long>& Pauses() { return pauses; }
void Reset() {
    for (Plan& p : plans) p = Plan{};
    recordPauses = false;
    pauses.clear();
}

}  // namespace libcfaults
}  // namespace outlinkwatch

using outlinkwatch::libcfaults::Failing;

extern "C" {
pid_t __real_fork();
pid_t __real_waitpid(pid_t, int*, int);
ssize_t __real_read(int, void*, size_t);
ssize_t __real_write(int, const void*, size_t);
int __real_flock(int, int);
int __real_nanosleep(const struct timespec*, struct timespec*);

pid_t __wrap_fork() { return Failing(outlinkwatch::libcfaults::kFork) ? -1 : __real_fork(); }
pid_t __wrap_waitpid(pid_t pid, int* status, int options) {
    return Failing(outlinkwatch::libcfaults::kWaitpid) ? -1 : __real_waitpid(pid, status, options);
}
ssize_t __wrap_read(int fd, void* buf, size_t n) {
    return Failing(outlinkwatch::libcfaults::kRead) ? -1 : __real_read(fd, buf, n);
}
ssize_t __wrap_write(int fd, const void* buf, size_t n) {
    return Failing(outlinkwatch::libcfaults::kWrite) ? -1 : __real_write(fd, buf, n);
}
int __wrap_flock(int fd, int op) { return Failing(outlinkwatch::libcfaults::kFlock) ? -1 : __real_flock(fd, op); }
int __wrap_nanosleep(const struct timespec* want, struct timespec* left) {
    if (!outlinkwatch::libcfaults::recordPauses) return __real_nanosleep(want, left);
    outlinkwatch::libcfaults::pauses.push_back(want->tv_sec * 1000000000LL + want->tv_nsec);
    return 0;
}
}
