// Failures of the C library that the Linux backend must get through and that
// no real file or process gives on demand: a fork refused, a wait or a read
// interrupted or failing, a lock held by another process. ow_unit_tests is
// linked with --wrap for these calls, so the backend's calls (and only that
// binary's) pass through here. Each call goes through untouched until a test
// arms it, and only on the thread that armed it (and in a child that thread
// forks, which inherits what is left of the plan).
#pragma once

#include <vector>

namespace outlinkwatch {
namespace libcfaults {

enum Call { kFork, kWaitpid, kRead, kWrite, kFlock, kCalls };

// The next `pass` calls of `call` go through; the `fail` after them fail
// with `error`.
void Fail(Call call, int error, int fail = 1, int pass = 0);

// While on, nanosleep sleeps no time and records the pause it was asked
// for, in nanoseconds.
void RecordPauses(bool on);
const std::vector<long long>& Pauses();

// Disarms every call on this thread and forgets the pauses.
void Reset();

}  // namespace libcfaults
}  // namespace outlinkwatch
