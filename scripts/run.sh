#!/usr/bin/env bash
# Installs the dependencies, builds the optimised configuration, starts the router simulator on
# loopback and the desktop program connected to it (address, login and password filled in, so it
# connects by itself; neighbour discovery off), and stops the simulator when the program ends.
# Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) it logs in with kestel-cli instead.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default >/dev/null
display=${DISPLAY:-}${WAYLAND_DISPLAY:-}
targets=(kestel-cli nimbalux-sim)
[ -n "$display" ] && targets+=(kestel)
cmake --build --preset default --target "${targets[@]}" -j "${KESTEL_JOBS:-$(nproc)}"
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
if [ -z "$display" ]; then
  echo "run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the desktop program" \
    "cannot open its window; logging in with kestel-cli instead." >&2
  KESTEL_PASSWORD=admin ./build/default/src/kestel-cli "127.0.0.1:$port" admin
  exit
fi
# The simulator's demonstration password; the program wipes it from its argument list.
KESTEL_DISCOVERY=0 ./build/default/src/kestel "127.0.0.1:$port" admin admin
