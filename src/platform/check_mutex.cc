#include "platform/check_mutex.h"

namespace outlinkwatch {

CheckMutexHold::CheckMutexHold(Os* os, Handle mutex, uint32_t waitMs)
    : CheckMutexHold(os, mutex, waitMs, [] { return false; }) {}

CheckMutexHold::CheckMutexHold(Os* os, Handle mutex, uint32_t stepMs, const std::function<bool()>& keepWaiting)
    : os_(os), mutex_(mutex) {
    if (mutex_ == nullptr) return;
    for (;;) {
        const uint32_t got = os_->Kernel()->WaitForObjects(&mutex_, 1, stepMs);
        held_ = got == kWaitObject0;
        if (held_ || got != kWaitTimeout || !keepWaiting()) return;
    }
}

void CheckMutexHold::Release() {
    if (held_) os_->Kernel()->ReleaseMutexObject(mutex_);
    held_ = false;
}

}  // namespace outlinkwatch
