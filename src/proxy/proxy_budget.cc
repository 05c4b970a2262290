#include "proxy/proxy_budget.h"

namespace outlinkwatch {

void ProxyTaskBudget::Begin(Os* os) {
    os_ = os;
    shareStartMs_ = os->Clock()->MonotonicMs();
    active_ = true;
    current_ = kProxyReading;
    slots_[kProxyReading] = Slot();
    probedInTask_.clear();
}

void ProxyTaskBudget::BeginBrowser(ProxyBrowser browser, const std::string& setting) {
    current_ = browser;
    Slot& s = slot();
    if (!s.unfinished || s.setting != setting) s = Slot();
    s.setting = setting;
    s.unfinished = false;
    if (os_ != nullptr) shareStartMs_ = os_->Clock()->MonotonicMs();
}

bool ProxyTaskBudget::TimeLeft() {
    if (os_ == nullptr || os_->Clock()->MonotonicMs() - shareStartMs_ < kProxyBrowserShareMs) return true;
    slot().unfinished = true;
    return false;
}

void ProxyTaskBudget::Forget() {
    for (Slot& s : slots_) s = Slot();
}

bool ProxyTaskBudget::Known(uint32_t address, uint16_t port, int* result) const {
    for (const std::map<Endpoint, int>* probed : {&slot().probed, &probedInTask_}) {
        const auto it = probed->find({address, port});
        if (it == probed->end()) continue;
        *result = it->second;
        return true;
    }
    return false;
}

void ProxyTaskBudget::Record(uint32_t address, uint16_t port, int result) {
    slot().probed[{address, port}] = result;
    probedInTask_[{address, port}] = result;
}

bool ProxyTaskBudget::KnownNames(const std::string& host, std::list<std::string>* addresses) const {
    const auto it = slot().names.find(host);
    if (it == slot().names.end()) return false;
    *addresses = it->second;
    return true;
}

void ProxyTaskBudget::RecordNames(const std::string& host, const std::list<std::string>& addresses) {
    slot().names[host] = addresses;
}

bool ProxyTaskBudget::KnownEndpoint(const std::string& host, uint32_t* net) const {
    const auto it = slot().endpoints.find(host);
    if (it == slot().endpoints.end()) return false;
    *net = it->second;
    return true;
}

}  // namespace outlinkwatch
