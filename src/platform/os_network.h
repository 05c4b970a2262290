// The network service of the OS seam: name resolution, the adapters and
// the routing table's change notification. The backend starts its socket
// library itself.
//
// Result convention: true on success and false on failure, the answer in
// out-parameters. The adapter list's failure comes with the platform's
// error code (a Windows value), which the adapter query hands on.
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

// One network adapter, loopback left out, in the platform's order.
struct AdapterInfo {
    std::string name;                   // Windows: the adapter's GUID name; Linux: the interface name
    std::vector<std::string> ipv4;      // dotted texts; "0.0.0.0" alone for an adapter without one, or down
    std::string description = {};
    std::vector<uint8_t> mac = {};           // current hardware address
    std::vector<uint8_t> permanentMac = {};  // burned-in address where the system tells it
    bool up = false;                    // operationally up
    bool wireless = false;
    bool HasIPv4() const { return !ipv4.empty() && ipv4.front() != "0.0.0.0"; }
};

// How much an adapter list tells. The addresses come from the one list
// call; the other facts cost each adapter its own look-ups (an interface
// row, a registry key, the adapter's device), which the monitoring checks,
// running on every route change and each minute, do not need.
enum class AdapterDetail {
    kAddresses,  // name, addresses, description and current address; the rest may be left out
    kAll,        // also whether it is up, wireless, and its permanent address
};

class NetworkService {
public:
    virtual ~NetworkService() = default;

    // gethostbyname: the host's IPv4 addresses in network order, resolver
    // order; a dotted address resolves to itself. False when it does not resolve.
    virtual bool ResolveHostIPv4(const std::string& host, std::vector<uint32_t>* addrs) = 0;
    // GetAdaptersInfo: the adapters in the platform's order (an empty list
    // when there are none), told as detail asks. False, with the platform's
    // error code in *error, when they cannot be listed. The shared code
    // works out the record sizes of the Windows call from the count.
    virtual bool Adapters(AdapterDetail detail, std::vector<AdapterInfo>* out, uint32_t* error) = 0;
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
    bool Adapters(AdapterDetail detail, std::vector<AdapterInfo>* out, uint32_t* error) override {
        return target_->Adapters(detail, out, error);
    }
    bool AdapterCharacteristics(const std::string& adapter, uint32_t* characteristics) override {
        return target_->AdapterCharacteristics(adapter, characteristics);
    }
    bool NotifyRouteChange(Handle event) override { return target_->NotifyRouteChange(event); }
    void CancelRouteChange(Handle event) override { target_->CancelRouteChange(event); }

private:
    NetworkService* target_;
};

}  // namespace outlinkwatch
