// The connection check: probes the configured outside addresses.
#include "plugin/policy.h"

// Not built yet: no address is probed, nothing is reported.
int CPolicy::TCPCheckOutlink() { return 0; }
