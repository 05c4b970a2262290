#include "platform/os.h"

#include <atomic>
#include <mutex>

namespace outlinkwatch {
namespace {
std::atomic<Os*> g_testOs{nullptr};
std::atomic<Os*> g_defaultOs{nullptr};
std::mutex g_defaultOsMutex;
}  // namespace

Os* Os::Default() {
    Os* os = g_defaultOs.load(std::memory_order_acquire);
    if (os != nullptr) return os;
    std::lock_guard<std::mutex> lock(g_defaultOsMutex);
    os = g_defaultOs.load(std::memory_order_acquire);
    if (os == nullptr) {
        os = NewDefaultOs();
        g_defaultOs.store(os, std::memory_order_release);
    }
    return os;
}

void ReleaseDefaultOs() {
    std::lock_guard<std::mutex> lock(g_defaultOsMutex);
    delete g_defaultOs.exchange(nullptr, std::memory_order_acq_rel);
}

Os* CurrentOs() {
    Os* os = g_testOs.load(std::memory_order_acquire);
    return os != nullptr ? os : Os::Default();
}

Os* SetOsForTesting(Os* os) { return g_testOs.exchange(os, std::memory_order_acq_rel); }

}  // namespace outlinkwatch
