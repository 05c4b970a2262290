// Blocking through the agent's network filter driver. Every command opens
// the device, sends one control call and closes it again; the driver keeps
// what it was told beyond the policy's life.
#include <algorithm>
#include <cstdio>

#include "config/address_parsing.h"
#include "plugin/policy.h"
#include "reaction/deny_list.h"

namespace {

// Driver control codes (buffered method, any access).
constexpr uint32_t kNfwSetDenyList = 0x804D21DC;
constexpr uint32_t kNfwCutNetwork = 0x804D21BC;

int SendDenyList(CPolicy* policy, const outlinkwatch::DenyList& deny) {
    // The command points at a whole buffer; what the list leaves is zero.
    uint8_t buffer[outlinkwatch::kDenyBufferBytes] = {0};
    std::copy(deny.bytes.begin(), deny.bytes.end(), buffer);
    return policy->SendNfwCommand(kNfwSetDenyList, buffer, static_cast<uint32_t>(deny.bytes.size()));
}

}  // namespace

int CPolicy::SendNfwCommand(uint32_t code, const void* buffer, uint32_t length) {
    outlinkwatch::DeviceHandle device;
    if (!m_pOs->Device()->OpenDevice("\\\\.\\NFW", outlinkwatch::kCreateAlways, &device)) return 0;
    uint32_t returned = 0;
    const int result = m_pOs->Device()->DeviceControl(device, code, buffer, length, &returned) ? 1 : 0;
    m_pOs->Device()->CloseDevice(device);
    return result;
}

int CPolicy::DenyProxyConfig() {
    OW_LOG(this, 2, "CPolicy::DenyProxyConfig", "Start DenyProxyConfig");
    if (m_proxyCheck.IEProxyIPs().empty()) {
        OW_LOG(this, 4, "CPolicy::DenyProxyConfig", "The deny ip address list is empty!");
        return 0;
    }
    std::list<uint32_t> hosts;
    for (const uint32_t addr : m_proxyCheck.IEProxyIPs()) hosts.push_back(outlinkwatch::HostFromNet(addr));
    const outlinkwatch::DenyList deny = outlinkwatch::DenyListBytes(hosts, m_settings.m_lstValidProxyIP);
    for (size_t i = 0; i < deny.named(); ++i) {
        char line[32] = {0};
        std::snprintf(line, sizeof(line), "index:%d, %u", static_cast<int>(i + 1),
                      static_cast<unsigned>(outlinkwatch::NetFromHost(deny.entries[i])));
        OW_LOG(this, 2, "CPolicy::DenyProxyConfig", "%s", line);
    }
    if (deny.full) OW_LOG(this, 2, "CPolicy::DenyProxyConfig", "Deny ip much max limit.");
    return SendDenyList(this, deny);
}

int CPolicy::DenyProxySerer() {
    if (m_connCheck.DenyAddrs().empty()) return 0;
    std::list<uint32_t> hosts;
    for (const std::string& text : m_connCheck.DenyAddrs()) hosts.push_back(outlinkwatch::HostFromNet(outlinkwatch::InetAddr(text)));
    const outlinkwatch::DenyList deny = outlinkwatch::DenyListBytes(hosts, {});
    if (deny.full) OW_LOG(this, 2, "CPolicy::DenyProxySerer", "Deny ip much max limit.");
    std::string addrText;
    // The address that reached the limit is in the buffer, though not in the log text.
    auto text = m_connCheck.DenyAddrs().begin();
    for (size_t i = 0; i < deny.named(); ++i, ++text) {
        if (!addrText.empty()) addrText += ",";
        addrText += *text;
    }
    OW_LOG(this, 2, "CPolicy::DenyProxySerer", "%s", ("addr: " + addrText).c_str());
    return SendDenyList(this, deny);
}

int CPolicy::EnableProxy() {
    OW_LOG(this, 2, "CPolicy::EnableProxy", "Start EnableProxy");
    uint8_t buffer[outlinkwatch::kDenyBufferBytes] = {0};
    return SendNfwCommand(kNfwSetDenyList, buffer, sizeof(buffer));
}

int CPolicy::BlockNetwork() {
    char path[260] = {0};
    std::snprintf(path, sizeof(path), "\\\\.\\%s", "nfw");
    outlinkwatch::DeviceHandle device;
    if (!m_pOs->Device()->OpenDevice(path, outlinkwatch::kOpenExisting, &device)) return 0;
    uint32_t returned = 0;
    const int result = m_pOs->Device()->DeviceControl(device, kNfwCutNetwork, nullptr, 0, &returned) ? 1 : 0;
    m_pOs->Device()->CloseDevice(device);
    return result;
}
