#!/usr/bin/env bash
# Installs the dependencies, builds the optimised configuration, starts the router simulator on
# loopback, logs in to it with kestel-cli and stops the simulator again.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kestel-cli nimbalux-sim -j "${KESTEL_JOBS:-$(nproc)}"
./build/default/src/kestel-cli --version

work=$(mktemp -d)
./build/default/sim/nimbalux-sim --port 0 --user admin:admin >"$work/port" 2>"$work/log" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
# The simulator prints the port it listens on as its first line, then serves until stopped.
for _ in $(seq 50); do
  [ "$(wc -l <"$work/port")" -ge 1 ] && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.1
done
port=$(head -n1 "$work/port")
if ! [[ $port =~ ^[0-9]+$ ]]; then
  echo "run: the simulator printed no port; it said:" >&2
  cat "$work/log" >&2
  exit 1
fi
KESTEL_PASSWORD=admin ./build/default/src/kestel-cli "127.0.0.1:$port" admin
