#!/usr/bin/env bash
# Installs the dependencies, builds the optimised configuration, starts the router simulator on
# loopback, logs in to it with kestel-cli and stops the simulator again.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kestel-cli nimbalux-sim -j "${KESTEL_JOBS:-$(nproc)}"
./build/default/src/kestel-cli --version

portfile=$(mktemp)
./build/default/sim/nimbalux-sim --port 0 --user admin:admin >"$portfile" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; rm -f "$portfile"' EXIT
for _ in $(seq 50); do [ -s "$portfile" ] && break; sleep 0.1; done
port=$(head -n1 "$portfile")
KESTEL_PASSWORD=admin ./build/default/src/kestel-cli "127.0.0.1:$port" admin
