// The network service of the OS seam: name resolution, the adapters and
// the routing table's change notification. The backend starts its socket
// library itself.
//
// Result convention: true on success and false on failure, the answer in
// out-parameters. The adapter list answers a Windows error code, as the
// adapter query hands it on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_kernel.h"

namespace outlinkwatch {

// The size of one adapter record in the Windows adapter list; buffers for
// the list are sized in whole records.
constexpr uint32_t kAdapterRecordSize = 640;

struct AdapterInfo {
    std::string name;
    std::vector<std::string> ipv4;  // dotted texts, "0.0.0.0" for an adapter without one
};

// One network adapter, loopback left out, in the platform's order.
struct InterfaceFacts {
    std::string name;                   // Windows: the adapter's GUID name; Linux: the interface name
    std::string description;
    std::vector<uint8_t> mac;           // current hardware address
    std::vector<uint8_t> permanentMac;  // burned-in address where the system tells it
    bool up = false;                    // operationally up
    bool hasIPv4 = false;
    bool wireless = false;
};
constexpr size_t kMaxInterfaces = 256;

class NetworkService {
public:
    virtual ~NetworkService() = default;

    // gethostbyname: the host's IPv4 addresses in network order, resolver
    // order; a dotted address resolves to itself. False when it does not resolve.
    virtual bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) = 0;
    // GetAdaptersInfo: the adapters in the platform's order, each with its
    // IPv4 addresses ("0.0.0.0" for an adapter without one, or down); no
    // loopback adapter. kErrorSuccess with the list, kErrorNoData without
    // adapters, or the platform's error code. The shared code works out the
    // record sizes of the Windows call from the count.
    virtual uint32_t GetAdapters(std::vector<AdapterInfo>* out) = 0;
    // The adapters, at most kMaxInterfaces; false when they cannot be listed.
    virtual bool NetworkInterfaces(std::vector<InterfaceFacts>* out) = 0;
    // The characteristics number of an adapter (NCF_VIRTUAL 0x1 ...); false
    // for an adapter the system does not know.
    virtual bool AdapterCharacteristics(const std::string& adapter, uint32_t* characteristics) = 0;
    // NotifyRouteChange with an overlapped event: arms one request that sets
    // the event at the next IPv4 routing-table change. False when no
    // notification can be had (the request is not pending). The event is
    // manual-reset; while a change it reported is still set, the call
    // leaves it so (the caller resets it once it has seen the change).
    virtual bool NotifyRouteChange(Handle event) = 0;
    // Withdraws a pending request of NotifyRouteChange for this event.
    virtual void CancelRouteChange(Handle event) = 0;
};

// Forwards every call to another NetworkService, so a test overrides only what it needs.
class NetworkWrapper : public NetworkService {
public:
    explicit NetworkWrapper(NetworkService* target) : target_(target) {}

    bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) override {
        return target_->ResolveHostIPv4(host, addrs);
    }
    uint32_t GetAdapters(std::vector<AdapterInfo>* out) override { return target_->GetAdapters(out); }
    bool NetworkInterfaces(std::vector<InterfaceFacts>* out) override { return target_->NetworkInterfaces(out); }
    bool AdapterCharacteristics(const std::string& adapter, uint32_t* characteristics) override {
        return target_->AdapterCharacteristics(adapter, characteristics);
    }
    bool NotifyRouteChange(Handle event) override { return target_->NotifyRouteChange(event); }
    void CancelRouteChange(Handle event) override { target_->CancelRouteChange(event); }

private:
    NetworkService* target_;
};

}  // namespace outlinkwatch
