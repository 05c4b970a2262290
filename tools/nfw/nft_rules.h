// How the device stand-in applies the driver's state with nftables: one
// table of its own, "inet outlinkwatch", rebuilt whole on every command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ownfw {

// What the driver holds: the deny list (host-order addresses) and whether
// the network is cut.
struct DeviceState {
    std::vector<uint32_t> denied;
    bool cut = false;
};

// The nft script that replaces the table with one for state: a set of the
// denied addresses, dropped on output, and with a cut every output but
// loopback dropped.
std::string TableScript(const DeviceState& state);
// The nft script that removes the table, present or not.
std::string RemoveScript();

// Runs "nft -f -" with script on its input; waits at most waitMs for it.
// False with the reason (nft's first error line) when it fails.
bool RunNft(const std::string& script, int waitMs, std::string* error);

}  // namespace ownfw
