// Blocking through the agent's network filter driver. Every command opens
// the device, sends one control call and closes it again; the driver keeps
// what it was told beyond the policy's life.
#include <algorithm>
#include <cstdio>

#include "config/address_parsing.h"
#include "reaction/deny_list.h"
#include "reaction/reactor.h"

namespace {

// Driver control codes (buffered method, any access).
constexpr uint32_t kNfwSetDenyList = 0x804D21DC;
constexpr uint32_t kNfwCutNetwork = 0x804D21BC;

}  // namespace

namespace outlinkwatch {

int Reactor::SendDenyList(const DenyList& deny) {
    // The command points at a whole buffer; what the list leaves is zero.
    uint8_t buffer[kDenyBufferBytes] = {0};
    std::copy(deny.bytes.begin(), deny.bytes.end(), buffer);
    return SendNfwCommand(kNfwSetDenyList, buffer, static_cast<uint32_t>(deny.bytes.size()));
}

int Reactor::SendNfwCommand(uint32_t code, const void* buffer, uint32_t length) {
    DeviceHandle device;
    if (!os_->Device()->OpenDevice("\\\\.\\NFW", kCreateAlways, &device)) return 0;
    uint32_t returned = 0;
    const int result = os_->Device()->DeviceControl(device, code, buffer, length, &returned) ? 1 : 0;
    os_->Device()->CloseDevice(device);
    return result;
}

int Reactor::DenyProxyConfig(const std::list<uint32_t>& ieProxyIP, const std::list<uint32_t>& validProxyIP) {
    OW_LOG(log_, 2, "CPolicy::DenyProxyConfig", "Start DenyProxyConfig");
    if (ieProxyIP.empty()) {
        OW_LOG(log_, 4, "CPolicy::DenyProxyConfig", "The deny ip address list is empty!");
        return 0;
    }
    std::list<uint32_t> hosts;
    for (const uint32_t addr : ieProxyIP) hosts.push_back(HostFromNet(addr));
    const DenyList deny = DenyListBytes(hosts, validProxyIP);
    for (size_t i = 0; i < deny.named(); ++i) {
        char line[32] = {0};
        std::snprintf(line, sizeof(line), "index:%d, %u", static_cast<int>(i + 1),
                      static_cast<unsigned>(NetFromHost(deny.entries[i])));
        OW_LOG(log_, 2, "CPolicy::DenyProxyConfig", "%s", line);
    }
    if (deny.full) OW_LOG(log_, 2, "CPolicy::DenyProxyConfig", "Deny ip much max limit.");
    return SendDenyList(deny);
}

int Reactor::DenyProxySerer(const std::list<std::string>& denyAddr) {
    if (denyAddr.empty()) return 0;
    std::list<uint32_t> hosts;
    for (const std::string& text : denyAddr) hosts.push_back(HostFromNet(InetAddr(text)));
    const DenyList deny = DenyListBytes(hosts, {});
    if (deny.full) OW_LOG(log_, 2, "CPolicy::DenyProxySerer", "Deny ip much max limit.");
    std::string addrText;
    // The address that reached the limit is in the buffer, though not in the log text.
    auto text = denyAddr.begin();
    for (size_t i = 0; i < deny.named(); ++i, ++text) {
        if (!addrText.empty()) addrText += ",";
        addrText += *text;
    }
    OW_LOG(log_, 2, "CPolicy::DenyProxySerer", "%s", ("addr: " + addrText).c_str());
    return SendDenyList(deny);
}

int Reactor::EnableProxy() {
    OW_LOG(log_, 2, "CPolicy::EnableProxy", "Start EnableProxy");
    uint8_t buffer[kDenyBufferBytes] = {0};
    return SendNfwCommand(kNfwSetDenyList, buffer, sizeof(buffer));
}

int Reactor::BlockNetwork() {
    DeviceHandle device;
    if (!os_->Device()->OpenDevice("\\\\.\\nfw", kOpenExisting, &device)) return 0;
    uint32_t returned = 0;
    const int result = os_->Device()->DeviceControl(device, kNfwCutNetwork, nullptr, 0, &returned) ? 1 : 0;
    os_->Device()->CloseDevice(device);
    return result;
}

}  // namespace outlinkwatch
