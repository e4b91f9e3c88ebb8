#!/usr/bin/env bash
# Runs bench_link between two private network namespaces (scripts/netns.sh): the simulator in
# the router namespace answers TCP on 198.18.0.11, the MAC-layer transport on its veth end and
# discovery as 100 routers; the benchmark runs in the client namespace. Extra arguments go to
# the benchmark. Needs root; skips (exit 77) where namespaces cannot be made.
#   scripts/bench-link.sh [build folder, default build/default] [benchmark arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
shift || true
netns=scripts/netns.sh
$netns check
tag="kb$$"
trap '$netns down $tag' EXIT
$netns up "$tag" 1
out=$(mktemp)
$netns exec "$tag-s1" "$build/sim/nimbalux-sim" --port 0 --host 198.18.0.11 --echo 7 \
  --mac eth0 --announce 198.18.0.11 --announce-count 100 >"$out" &
for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
port=$(head -1 "$out")
rm -f "$out"
mac=$($netns exec "$tag-s1" cat /sys/class/net/eth0/address)
$netns exec "$tag-c" env KESTEL_BENCH_HOST=198.18.0.11 KESTEL_BENCH_PORT="$port" \
  KESTEL_BENCH_MAC="$mac" "$build/bench/bench_link" "$@"
