#include "proxy/proxy_budget.h"

namespace outlinkwatch {

void ProxyTaskBudget::Begin(Os* os) {
    os_ = os;
    startMs_ = os->Clock()->MonotonicMs();
    active_ = true;
    probed_.clear();
}

bool ProxyTaskBudget::TimeLeft() const { return os_ == nullptr || os_->Clock()->MonotonicMs() - startMs_ < kProxyTaskTimeMs; }

bool ProxyTaskBudget::Known(uint32_t address, uint16_t port, int* result) const {
    const auto it = probed_.find({address, port});
    if (it == probed_.end()) return false;
    *result = it->second;
    return true;
}

}  // namespace outlinkwatch
