#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine and runs the reference
# host on its built-in demos: the connection check for 10 s, then the
# browser proxy check for 80 s (one 70 s proxy tick, so the deny list set
# at the start is seen lifted after the demo user switches the proxies off).
# Extra arguments go to the host instead, e.g.
#   ./scripts/run-demo.sh --log /tmp/ow.log (runs the connection demo until Ctrl-C)
#   ./scripts/run-demo.sh --demo proxy --duration 80
#   ./scripts/run-demo.sh --policy tools/host/examples/connection-policy.xml
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
./scripts/build.sh debug >/dev/null
host=build/debug/tools/host/outlinkwatch
if [ $# -gt 0 ]; then exec "$host" "$@"; fi
echo "== connection demo (10 s)" >&2
"$host" --duration 10
echo "== browser proxy demo (80 s)" >&2
exec "$host" --demo proxy --duration 80
