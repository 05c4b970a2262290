#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine and runs the reference
# host on its built-in demo policy. Extra arguments go to the host, e.g.
#   ./scripts/run-demo.sh --log /tmp/ow.log (any option replaces the 20 s default: runs until Ctrl-C)
#   ./scripts/run-demo.sh --policy tools/host/examples/connection-policy.xml
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
./scripts/build.sh debug >/dev/null
if [ $# -eq 0 ]; then set -- --duration 20; fi
exec build/debug/tools/host/outlinkwatch "$@"
