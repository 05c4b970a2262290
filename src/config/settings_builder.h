// Building the policy's settings from its parameter texts, and extending
// them with the names that resolve later. Pure apart from the resolver, the
// local addresses and the log sink the caller hands in.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>

#include "base/log_sink.h"
#include "base/stop_token.h"
#include "config/address_parsing.h"
#include "config/params_plan.h"
#include "config/policy_settings.h"

namespace outlinkwatch {

// The texts the settings are read from, by parameter name.
struct SettingsTexts {
    PolicyParamTexts plan;
    std::string block;  // "block"
    std::string rank;   // "rank"
};

// The texts of the parameters by their names, as lookup finds them.
SettingsTexts ReadSettingsTexts(const std::function<std::string(const char* name)>& lookup);

struct SettingsRead {
    PolicySettings settings;
    // "checkcyc" as atoi reads it; the monitor's, not the settings'.
    int32_t checkCycle = 0;
    // false: no addresses to check ("Invalid parameters Exit!"); the
    // settings then carry only the mode, "block", "rank" and the lists kept.
    bool usable = false;
};

// The machine's own addresses, asked only when a mode needs them.
using LocalAddressesFn = std::function<std::list<uint32_t>()>;

// A new value for the settings. Every list starts empty except the three
// a reading keeps from the previous value while its input stays empty:
// the route addresses (route mode, no "Route" entry), the connect records
// (connection mode, no "ConnectAddr" entry) and the image addresses (route
// mode). The other resolved lists and the unresolved names never outlive a
// reading. Logs as "CPolicy::GetPolicyParams" and "CPolicy::ParseIPSec".
SettingsRead BuildPolicySettings(const SettingsTexts& texts, const PolicySettings& previous,
                                 const ResolveFn& resolve, const LocalAddressesFn& localAddresses, LogSink* log);

// ParseIPSec with its refusals logged at level 2 as "CPolicy::ParseIPSec".
void ExpandAddrRanges(const std::list<std::string>& in, std::list<std::string>& out, LogSink* log);

// Resolves again the names of group ("Proxy" or "Conn", compared exactly)
// that did not resolve, appending what resolves now and keeping the rest.
// Touches only that group's lists, so each check may retry under its own
// mutex. A stop ends the asking: the names not yet asked stay unresolved.
// 1 when a retry ran, 0 when there was nothing to do.
int RetryUnresolved(PolicySettings& settings, const std::string& group, const ResolveFn& resolve,
                    const StopToken& stop);

// The machine's IPv4 addresses from the adapter query, in host order;
// repeats kept, 0 for an adapter without one; empty when the query fails.
class Os;
void GetLocalIPList(Os* os, std::list<uint32_t>& out);

}  // namespace outlinkwatch
