#include "emulation/kobjects.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace outlinkwatch {

EmulatedKernelObjects::EmulatedKernelObjects(uint32_t timeScale) : timeScale_(timeScale == 0 ? 1 : timeScale) {}

EmulatedKernelObjects::~EmulatedKernelObjects() {
    std::vector<std::shared_ptr<Object>> threads;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (HandleRec* rec : handles_) {
            if (rec->object->kind == Kind::Thread) threads.push_back(rec->object);
            delete rec;
        }
        handles_.clear();
    }
    for (auto& t : threads) {
        if (t->thread.joinable()) t->thread.detach();
    }
}

std::chrono::microseconds EmulatedKernelObjects::Scaled(uint32_t ms) const {
    return std::max(std::chrono::microseconds(static_cast<int64_t>(ms) * 1000 / timeScale_), std::chrono::microseconds(50));
}

std::shared_ptr<EmulatedKernelObjects::Object> EmulatedKernelObjects::Lookup(Handle h) {
    auto* rec = static_cast<HandleRec*>(h);
    if (rec == nullptr || handles_.count(rec) == 0) return nullptr;
    return rec->object;
}

Handle EmulatedKernelObjects::NewHandle(const std::shared_ptr<Object>& o) {
    auto* rec = new HandleRec{o};
    ++o->refs;
    handles_.insert(rec);
    return rec;
}

bool EmulatedKernelObjects::Ready(const Object& o) const {
    if (o.kind == Kind::Mutex) return o.recursion == 0 || o.owner == std::this_thread::get_id();
    return o.signalled;
}

void EmulatedKernelObjects::Take(Object& o) {
    if (o.kind == Kind::Mutex) {
        o.owner = std::this_thread::get_id();
        ++o.recursion;
    } else if (o.kind == Kind::Event && !o.manualReset) {
        o.signalled = false;
    }
}

Handle EmulatedKernelObjects::CreateEventObject(const char* name, bool manualReset, bool initialState) {
    std::lock_guard<std::mutex> lock(mu_);
    std::shared_ptr<Object> o;
    if (name != nullptr && *name != '\0') {
        auto it = named_.find(name);
        if (it != named_.end()) o = it->second.lock();
        if (o && o->kind != Kind::Event) return nullptr;  // the name belongs to another kind
    }
    if (!o) {
        o = std::make_shared<Object>();
        o->kind = Kind::Event;
        o->manualReset = manualReset;
        o->signalled = initialState;
        if (name != nullptr && *name != '\0') {
            o->name = name;
            named_[o->name] = o;
        }
    }
    return NewHandle(o);
}

bool EmulatedKernelObjects::SetEventObject(Handle h) {
    std::lock_guard<std::mutex> lock(mu_);
    auto o = Lookup(h);
    if (!o || o->kind != Kind::Event) return false;
    o->signalled = true;
    cv_.notify_all();
    return true;
}

bool EmulatedKernelObjects::ResetEventObject(Handle h) {
    std::lock_guard<std::mutex> lock(mu_);
    auto o = Lookup(h);
    if (!o || o->kind != Kind::Event) return false;
    o->signalled = false;
    return true;
}

Handle EmulatedKernelObjects::CreateMutexObject(bool initiallyOwned) {
    std::lock_guard<std::mutex> lock(mu_);
    auto o = std::make_shared<Object>();
    o->kind = Kind::Mutex;
    if (initiallyOwned) Take(*o);
    return NewHandle(o);
}

bool EmulatedKernelObjects::ReleaseMutexObject(Handle h) {
    std::lock_guard<std::mutex> lock(mu_);
    auto o = Lookup(h);
    if (!o || o->kind != Kind::Mutex) return false;
    if (o->recursion == 0 || o->owner != std::this_thread::get_id()) return false;
    if (--o->recursion == 0) {
        o->owner = std::thread::id();
        cv_.notify_all();
    }
    return true;
}

uint32_t EmulatedKernelObjects::WaitForObjects(const Handle* handles, uint32_t count, uint32_t timeoutMs) {
    if (handles == nullptr || count == 0 || count > 64) return kWaitFailed;
    std::unique_lock<std::mutex> lock(mu_);
    std::vector<std::shared_ptr<Object>> objs;
    for (uint32_t i = 0; i < count; ++i) {
        auto o = Lookup(handles[i]);
        if (!o || o->kind == Kind::Token) return kWaitFailed;
        objs.push_back(std::move(o));
    }
    const auto deadline = std::chrono::steady_clock::now() + Scaled(timeoutMs);
    bool timedOut = false;
    for (;;) {
        for (uint32_t i = 0; i < count; ++i) {
            if (Ready(*objs[i])) {
                Take(*objs[i]);
                return kWaitObject0 + i;
            }
        }
        // After a time-out that was one last look: a signal may have come with it.
        if (timeoutMs == 0 || timedOut) return kWaitTimeout;
        if (timeoutMs == kInfinite) {
            cv_.wait(lock);
        } else {
            timedOut = cv_.wait_until(lock, deadline) == std::cv_status::timeout;
        }
    }
}

bool EmulatedKernelObjects::CloseObject(Handle h) {
    std::shared_ptr<Object> o;
    {
        std::unique_lock<std::mutex> lock(mu_);
        auto* rec = static_cast<HandleRec*>(h);
        if (rec == nullptr || handles_.erase(rec) == 0) return false;
        o = rec->object;
        delete rec;
        if (--o->refs == 0 && !o->name.empty()) named_.erase(o->name);
        if (o->kind != Kind::Thread || o->refs != 0) return true;
        // The last handle of a thread: give it a bounded time to finish, so
        // that no thread of ours outlives its owner by accident.
        cv_.wait_for(lock, std::chrono::milliseconds(kThreadJoinWaitMs), [&] { return o->signalled; });
        if (!o->signalled) {
            o->thread.detach();
            return true;
        }
    }
    if (o->thread.joinable()) o->thread.join();
    return true;
}

Handle EmulatedKernelObjects::StartThread(ThreadFunction fn, void* arg) {
    if (fn == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(mu_);
    auto o = std::make_shared<Object>();
    o->kind = Kind::Thread;
    try {
        o->thread = std::thread([this, fn, arg, o] {
            fn(arg);
            std::lock_guard<std::mutex> done(mu_);
            o->signalled = true;
            cv_.notify_all();
        });
    } catch (const std::system_error&) {
        return nullptr;
    }
    return NewHandle(o);
}

void EmulatedKernelObjects::Sleep(uint32_t ms) {
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(Scaled(ms));
}

// --- users and profiles

Handle EmulatedKernelObjects::CreateToken(uint32_t uid, uint32_t gid) {
    std::lock_guard<std::mutex> lock(mu_);
    auto o = std::make_shared<Object>();
    o->kind = Kind::Token;
    o->uid = uid;
    o->gid = gid;
    return NewHandle(o);
}

bool EmulatedKernelObjects::TokenIds(Handle h, uint32_t* uid, uint32_t* gid) {
    std::lock_guard<std::mutex> lock(mu_);
    auto o = Lookup(h);
    if (!o || o->kind != Kind::Token) return false;
    if (uid != nullptr) *uid = o->uid;
    if (gid != nullptr) *gid = o->gid;
    return true;
}

size_t EmulatedKernelObjects::HandleCount(bool tokensOnly) {
    std::lock_guard<std::mutex> lock(mu_);
    size_t n = 0;
    for (HandleRec* rec : handles_) n += !tokensOnly || rec->object->kind == Kind::Token ? 1 : 0;
    return n;
}

}  // namespace outlinkwatch
