// The policy's operations that its parts carry out: each forwards to the
// part that owns the state, handing it what it needs.
#include "plugin/policy.h"

// --- settings

// --- connection check

// --- proxy check

// --- reaction
