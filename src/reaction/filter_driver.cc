// Blocking through the agent's network filter driver. Every command opens
// the device, sends one control call and closes it again; the driver keeps
// what it was told beyond the policy's life.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "config/address_parsing.h"
#include "plugin/policy.h"

namespace {

// Driver control codes (buffered method, any access).
constexpr uint32_t kNfwSetDenyList = 0x804D21DC;
constexpr uint32_t kNfwCutNetwork = 0x804D21BC;

// The deny buffer has room for 50 entries; the deny operations fill at most
// one less, and stop there.
constexpr size_t kDenyBufferBytes = 200;
constexpr uint32_t kDenyEntryLimit = kDenyBufferBytes / 4;

// An entry is the host-order address stored little-endian, whatever the
// byte order of the machine.
void PutEntry(uint8_t* buffer, uint32_t index, uint32_t hostOrder) {
    uint8_t* p = buffer + 4 * index;
    p[0] = static_cast<uint8_t>(hostOrder);
    p[1] = static_cast<uint8_t>(hostOrder >> 8);
    p[2] = static_cast<uint8_t>(hostOrder >> 16);
    p[3] = static_cast<uint8_t>(hostOrder >> 24);
}

}  // namespace

int CPolicy::SendNfwCommand(uint32_t code, const void* buffer, uint32_t length) {
    outlinkwatch::DeviceService* devices = m_pOs->Device();
    outlinkwatch::DeviceHandle device;
    if (!devices->OpenDevice("\\\\.\\NFW", outlinkwatch::kCreateAlways, &device)) return 0;
    uint32_t returned = 0;
    const int result = devices->DeviceControl(device, code, buffer, length, &returned) ? 1 : 0;
    devices->CloseDevice(device);
    return result;
}

int CPolicy::DenyProxyConfig() {
    OW_LOG(this, 2, "CPolicy::DenyProxyConfig", "Start DenyProxyConfig");
    if (m_lstIEProxyIP.empty()) {
        OW_LOG(this, 4, "CPolicy::DenyProxyConfig", "The deny ip address list is empty!");
        return 0;
    }
    uint8_t buffer[kDenyBufferBytes];
    std::memset(buffer, 0, sizeof(buffer));
    uint32_t count = 0;
    for (const uint32_t addr : m_lstIEProxyIP) {
        const uint32_t host = outlinkwatch::HostFromNet(addr);
        if (std::find(m_lstValidProxyIP.begin(), m_lstValidProxyIP.end(), host) != m_lstValidProxyIP.end()) continue;
        PutEntry(buffer, count, host);
        ++count;
        if (count + 1 >= kDenyEntryLimit) {
            OW_LOG(this, 2, "CPolicy::DenyProxyConfig", "Deny ip much max limit.");
            break;
        }
        char line[32] = {0};
        std::snprintf(line, sizeof(line), "index:%d, %u", static_cast<int>(count), static_cast<unsigned>(addr));
        OW_LOG(this, 2, "CPolicy::DenyProxyConfig", "%s", line);
    }
    return SendNfwCommand(kNfwSetDenyList, buffer, 4 * count);
}

int CPolicy::DenyProxySerer() {
    if (m_lstDenyAddr.empty()) return 0;
    uint8_t buffer[kDenyBufferBytes];
    std::memset(buffer, 0, sizeof(buffer));
    uint32_t count = 0;
    std::string addrText;
    for (const std::string& text : m_lstDenyAddr) {
        PutEntry(buffer, count, outlinkwatch::HostFromNet(outlinkwatch::InetAddr(text)));
        ++count;
        if (count + 1 >= kDenyEntryLimit) {
            // The last address is in the buffer, though not in the log text.
            OW_LOG(this, 2, "CPolicy::DenyProxySerer", "Deny ip much max limit.");
            break;
        }
        if (!addrText.empty()) addrText += ",";
        addrText += text;
    }
    OW_LOG(this, 2, "CPolicy::DenyProxySerer", "%s", ("addr: " + addrText).c_str());
    return SendNfwCommand(kNfwSetDenyList, buffer, 4 * count);
}

int CPolicy::EnableProxy() {
    OW_LOG(this, 2, "CPolicy::EnableProxy", "Start EnableProxy");
    uint8_t buffer[kDenyBufferBytes];
    std::memset(buffer, 0, sizeof(buffer));
    return SendNfwCommand(kNfwSetDenyList, buffer, kDenyBufferBytes);
}

int CPolicy::BlockNetwork() {
    char path[260] = {0};
    std::snprintf(path, sizeof(path), "\\\\.\\%s", "nfw");
    outlinkwatch::DeviceService* devices = m_pOs->Device();
    outlinkwatch::DeviceHandle device;
    if (!devices->OpenDevice(path, outlinkwatch::kOpenExisting, &device)) return 0;
    uint32_t returned = 0;
    const int result = devices->DeviceControl(device, kNfwCutNetwork, nullptr, 0, &returned) ? 1 : 0;
    devices->CloseDevice(device);
    return result;
}
