// Blocking through the agent's network filter driver.
#include "plugin/policy.h"

// Not built yet: no device is reached, so every command fails.
int CPolicy::SendNfwCommand(uint32_t, const void*, uint32_t) { return 0; }
int CPolicy::DenyProxyConfig() { return 0; }
int CPolicy::DenyProxySerer() { return 0; }
int CPolicy::EnableProxy() { return 1; }
int CPolicy::BlockNetwork() { return 0; }
