#include "platform/os.h"

#include <atomic>

namespace outlinkwatch {
namespace {
std::atomic<Os*> g_testOs{nullptr};
}  // namespace

Os* CurrentOs() {
    Os* os = g_testOs.load(std::memory_order_acquire);
    return os != nullptr ? os : Os::Default();
}

Os* SetOsForTesting(Os* os) { return g_testOs.exchange(os, std::memory_order_acq_rel); }

}  // namespace outlinkwatch
