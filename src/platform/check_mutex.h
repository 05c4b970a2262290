// The one way a check mutex is held: waited for once, or in steps for as
// long as the caller wants, and given back on whichever path the scope ends.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/os.h"

namespace outlinkwatch {

class CheckMutexHold {
public:
    // Waits up to waitMs (kInfinite: until it is had). A null mutex is
    // never held.
    CheckMutexHold(Os* os, Handle mutex, uint32_t waitMs);
    // Waits in steps of stepMs; after a step that timed out, keepWaiting
    // says whether to take another.
    CheckMutexHold(Os* os, Handle mutex, uint32_t stepMs, const std::function<bool()>& keepWaiting);
    ~CheckMutexHold() { Release(); }
    CheckMutexHold(const CheckMutexHold&) = delete;
    CheckMutexHold& operator=(const CheckMutexHold&) = delete;

    bool held() const { return held_; }
    // Gives the mutex back before the scope ends; a second call does nothing.
    void Release();

private:
    Os* os_;
    Handle mutex_;
    bool held_ = false;
};

}  // namespace outlinkwatch
