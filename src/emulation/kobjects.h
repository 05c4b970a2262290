// Windows kernel objects (named events, mutexes, waitable threads) emulated
// on the standard library, for the backends that have no such objects.
// One lock and one condition variable serve every object: waits are rare
// and short-listed, and a single lock makes wait-any trivially correct.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/os_kernel.h"

namespace outlinkwatch {

class EmulatedKernelObjects : public KernelObjects {
public:
    // timeScale divides every timeout and sleep (1 = real time); the test
    // fake uses it to compress time.
    explicit EmulatedKernelObjects(uint32_t timeScale = 1);
    ~EmulatedKernelObjects() override;
    EmulatedKernelObjects(const EmulatedKernelObjects&) = delete;
    EmulatedKernelObjects& operator=(const EmulatedKernelObjects&) = delete;

    Handle CreateEventObject(const char* name, bool manualReset, bool initialState) override;
    bool SetEventObject(Handle h) override;
    bool ResetEventObject(Handle h) override;
    Handle CreateMutexObject(bool initiallyOwned) override;
    bool ReleaseMutexObject(Handle h) override;
    uint32_t WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) override;
    bool CloseObject(Handle h) override;
    Handle StartThread(ThreadFunction fn, void* arg) override;
    // Sleeps on the same scaled clock as the waits.
    void Sleep(uint32_t ms);

    // How long closing a thread handle waits for the thread to finish before
    // letting it go: threads are closed after they reported their end.
    static constexpr uint32_t kThreadJoinWaitMs = 5000;

    // --- users and profiles
    // An access token standing for a user and group id: closed like the
    // others, but neither waitable nor usable as an event or mutex.
    Handle CreateToken(uint32_t uid, uint32_t gid);
    bool TokenIds(Handle h, uint32_t* uid, uint32_t* gid);
    // Open handles, all or tokens only (for tests that check none is left behind).
    size_t HandleCount(bool tokensOnly);

private:
    enum class Kind { Event, Mutex, Thread, Token };
    struct Object {
        Kind kind = Kind::Event;
        std::string name;
        bool manualReset = false;
        bool signalled = false;
        std::thread::id owner;  // mutex
        uint32_t recursion = 0;
        std::thread thread;
        uint32_t refs = 0;  // open handles
        uint32_t uid = 0, gid = 0;  // token
    };
    struct HandleRec {
        std::shared_ptr<Object> object;
    };

    std::shared_ptr<Object> Lookup(Handle h);  // lock held
    bool Ready(const Object& o) const;          // lock held
    void Take(Object& o);                       // lock held
    Handle NewHandle(const std::shared_ptr<Object>& o);  // lock held
    std::chrono::microseconds Scaled(uint32_t ms) const;

    const uint32_t timeScale_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::set<HandleRec*> handles_;
    std::map<std::string, std::weak_ptr<Object>> named_;
};

}  // namespace outlinkwatch
