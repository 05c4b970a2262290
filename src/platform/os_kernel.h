// The kernel-object service of the OS seam: events, mutexes and threads,
// and the Windows codes every service shares.
//
// Result convention: a call that makes an object answers it, or a null
// Handle when it fails; the other calls answer true on success and false on
// failure, except WaitForObjects, which answers a wait code.
#pragma once

#include <cstdint>

namespace outlinkwatch {

// An opaque kernel object (event, mutex or thread). Null means none.
using Handle = void*;

// Wait results and error codes, with their Windows values.
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorBufferOverflow = 111;
constexpr uint32_t kErrorNoData = 232;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorIoPending = 997;
constexpr uint32_t kErrorNotSupported = 50;

using ThreadFunction = uint32_t (*)(void*);

class KernelObjects {
public:
    virtual ~KernelObjects() = default;

    // Named events are process-wide: a second creation under a name opens the first.
    virtual Handle CreateEventObject(const char* name, bool manualReset, bool initialState) = 0;
    virtual bool SetEventObject(Handle event) = 0;
    virtual bool ResetEventObject(Handle event) = 0;
    virtual Handle CreateMutexObject(bool initiallyOwned) = 0;
    virtual bool ReleaseMutexObject(Handle mutex) = 0;
    // Wait-any: kWaitObject0 + index of the first signalled object, kWaitTimeout
    // or kWaitFailed. An auto-reset event is consumed, a mutex acquired.
    virtual uint32_t WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) = 0;
    virtual bool CloseObject(Handle object) = 0;
    virtual Handle StartThread(ThreadFunction fn, void* arg) = 0;
};

// Forwards every call to another KernelObjects, so a test overrides only what it needs.
class KernelWrapper : public KernelObjects {
public:
    explicit KernelWrapper(KernelObjects* target) : target_(target) {}

    Handle CreateEventObject(const char* name, bool manualReset, bool initialState) override {
        return target_->CreateEventObject(name, manualReset, initialState);
    }
    bool SetEventObject(Handle event) override { return target_->SetEventObject(event); }
    bool ResetEventObject(Handle event) override { return target_->ResetEventObject(event); }
    Handle CreateMutexObject(bool initiallyOwned) override { return target_->CreateMutexObject(initiallyOwned); }
    bool ReleaseMutexObject(Handle mutex) override { return target_->ReleaseMutexObject(mutex); }
    uint32_t WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) override {
        return target_->WaitForObjects(handles, count, timeoutMs);
    }
    bool CloseObject(Handle object) override { return target_->CloseObject(object); }
    Handle StartThread(ThreadFunction fn, void* arg) override { return target_->StartThread(fn, arg); }

private:
    KernelObjects* target_;
};

}  // namespace outlinkwatch
